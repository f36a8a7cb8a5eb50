#include "System/KeyCode.h"

#include "System/VirtualKeyNames.h"
#include "Utilities/Storage/WideChar.h"

namespace Orv {

namespace {

uint32_t ModifierBits(KeyModifierFlags modifiers)
{
    uint32_t bits = 0;
    if (modifiers & KeyModifier::kCtrl) {
        bits |= KeyCode::kCtrlBit;
    }
    if (modifiers & KeyModifier::kShift) {
        bits |= KeyCode::kShiftBit;
    }
    if (modifiers & KeyModifier::kAlt) {
        bits |= KeyCode::kAltBit;
    }
    if (modifiers & KeyModifier::kCmd) {
        bits |= KeyCode::kCmdBit;
    }
    if (modifiers & KeyModifier::kFifth) {
        bits |= KeyCode::kFifthBit;
    }
    return bits;
}

bool IsCharacterCode(uint32_t code)
{
    return (code & (KeyCode::kVirtualKeyMask | KeyCode::kNoKeyBit)) == 0;
}

}  // namespace

KeyCode::KeyCode(char16_t character, KeyModifierFlags modifiers)
    : code(character | ModifierBits(modifiers)), sideMask(GetSideMask(modifiers))
{
}

KeyCode::KeyCode(uint32_t virtualKey, bool down, bool wasDown, KeyModifierFlags modifiers)
    : code(((virtualKey & 0xFF) << kVirtualKeyShift) | (down ? kKeyDownBit : 0) |
           ModifierBits(modifiers)),
      sideMask(GetSideMask(modifiers)),
      wasDown(wasDown)
{
}

uint32_t KeyCode::GetSideMask(KeyModifierFlags modifiers)
{
    struct Side
    {
        KeyModifierFlags any;
        KeyModifierFlags side;
    };
    static constexpr Side kSides[] = {
        {KeyModifier::kShift, KeyModifier::kLeftShift},
        {KeyModifier::kShift, KeyModifier::kRightShift},
        {KeyModifier::kCtrl, KeyModifier::kLeftCtrl},
        {KeyModifier::kCtrl, KeyModifier::kRightCtrl},
        {KeyModifier::kAlt, KeyModifier::kLeftAlt},
        {KeyModifier::kAlt, KeyModifier::kRightAlt},
        {KeyModifier::kCmd, KeyModifier::kLeftCmd},
        {KeyModifier::kCmd, KeyModifier::kRightCmd},
    };
    uint32_t mask = 0;
    for (uint32_t bit = 0; bit < std::size(kSides); ++bit) {
        if ((modifiers & kSides[bit].any) && (modifiers & kSides[bit].side)) {
            mask |= 1u << bit;
        }
    }
    return mask;
}

bool KeyCode::Matches(const KeyCode& other) const
{
    if (IsCharacterCode(code) && IsCharacterCode(other.code)) {
        return ((code ^ other.code) & ~(kCtrlBit | kShiftBit)) == 0;
    }
    return code == other.code;
}

bool KeyCode::IsKeyDown() const
{
    return (code & kVirtualKeyMask) != 0 && (code & kNoKeyBit) == 0 && (code & kKeyDownBit) != 0;
}

WideString KeyCode::ToString() const
{
    WideString text;
    if (code & kCtrlBit) {
        text += u"Ctrl+";
    }
    if (code & kAltBit) {
        text += u"Alt+";
    }
    if (code & kShiftBit) {
        text += u"Shift+";
    }
    if (code & kCmdBit) {
        text += u"Cmd+";
    }
    if (code & kNoKeyBit) {
        return text;
    }
    const uint32_t virtualKey = (code & kVirtualKeyMask) >> kVirtualKeyShift;
    if (virtualKey != 0) {
        return text + GetVirtualKeyDisplayName(virtualKey);
    }
    const char16_t character = static_cast<char16_t>(code & kCharacterMask);
    if (character >= 1 && character <= 26) {
        // The control characters that Ctrl with a letter types.
        text += u"Ctrl+";
        text.AppendChar(static_cast<char16_t>(character + 64));
    } else if (character >= 33 && character <= 126) {
        text.AppendChar(character);
    }
    return text;
}

KeyCode KeyCode::Parse(const WideString& text)
{
    KeyCode key;
    key.code = kKeyDownBit;
    if (text.IsEmpty()) {
        return key;
    }
    const WideString upper = text.ToUpper();
    KeyModifierFlags modifiers = 0;
    if (upper.Find(u"CTRL") >= 0) {
        modifiers |= KeyModifier::kCtrl;
    }
    if (upper.Find(u"ALT") >= 0) {
        modifiers |= KeyModifier::kAlt;
    }
    if (upper.Find(u"SHIFT") >= 0) {
        modifiers |= KeyModifier::kShift;
    }
    if (upper.Find(u"COMMAND") >= 0) {
        modifiers |= KeyModifier::kCmd;
    }
    const KeyModifierFlags altOnly = modifiers & KeyModifier::kAlt;

    const int32_t vkeyAt = upper.Find(u"VKEY_");
    if (vkeyAt >= 0) {
        const uint32_t virtualKey = LookupVirtualKeyByName(upper.Mid(vkeyAt));
        key.code = kKeyDownBit | (virtualKey << kVirtualKeyShift) | ModifierBits(modifiers);
        return key;
    }
    const int32_t open = upper.Find(u"[");
    if (open >= 0) {
        const int32_t close = upper.Find(u"]");
        if (close < 0) {
            return key;
        }
        // A "]" before the "[" leaves no digits: the character 0.
        const WideString digits =
            close > open ? upper.Mid(open + 1, close - open - 1) : WideString();
        return KeyCode(static_cast<char16_t>(_wtoi(digits.GetText())), altOnly);
    }
    return KeyCode(text.GetText()[text.GetLength() - 1], altOnly);
}

}  // namespace Orv
