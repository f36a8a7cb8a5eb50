#pragma once
// KeyCode: one key of keyboard input (a press, a release or a typed character) or a configured
// key binding, with its modifier keys. A plain value, copied freely.
//
// Layout of `code`:
//   bits 0-15   the UTF-16 character of a character key; 0 for a virtual key
//   bits 16-23  the virtual-key code (1-255) of a virtual key; 0 for a character
//   bit 24 Ctrl, 25 Shift, 26 Alt, 27 Cmd (the logo key), 28 the fifth modifier
//   bit 29      key down: a press, and every parsed virtual-key binding
//   bit 31      no key (the default value)
// `sideMask` tells which physical modifier keys are held (bit 0 left Shift, 1 right Shift, 2 left
// Ctrl, 3 right Ctrl, 4 left Alt, 5 right Alt, 6 left Cmd, 7 right Cmd); `wasDown` is the
// auto-repeat state of a press, always true for a release. Neither takes part in matching.

#include <cstdint>

#include "Utilities/Storage/StringT.h"

namespace Orv {

// Modifier input from the keyboard state. A side flag is only ever set with its any-side flag.
using KeyModifierFlags = int32_t;
namespace KeyModifier {
inline constexpr KeyModifierFlags kCtrl = 0x1;
inline constexpr KeyModifierFlags kLeftCtrl = 0x2;
inline constexpr KeyModifierFlags kRightCtrl = 0x4;
inline constexpr KeyModifierFlags kShift = 0x8;
inline constexpr KeyModifierFlags kLeftShift = 0x10;
inline constexpr KeyModifierFlags kRightShift = 0x20;
inline constexpr KeyModifierFlags kAlt = 0x40;
inline constexpr KeyModifierFlags kLeftAlt = 0x80;
inline constexpr KeyModifierFlags kRightAlt = 0x100;
inline constexpr KeyModifierFlags kCmd = 0x200;
inline constexpr KeyModifierFlags kLeftCmd = 0x400;
inline constexpr KeyModifierFlags kRightCmd = 0x800;
inline constexpr KeyModifierFlags kFifth = 0x1000;
}  // namespace KeyModifier

struct KeyCode
{
    static constexpr uint32_t kCharacterMask = 0x0000FFFF;
    static constexpr uint32_t kVirtualKeyMask = 0x00FF0000;
    static constexpr uint32_t kVirtualKeyShift = 16;
    static constexpr uint32_t kCtrlBit = 0x01000000;
    static constexpr uint32_t kShiftBit = 0x02000000;
    static constexpr uint32_t kAltBit = 0x04000000;
    static constexpr uint32_t kCmdBit = 0x08000000;
    static constexpr uint32_t kFifthBit = 0x10000000;
    static constexpr uint32_t kKeyDownBit = 0x20000000;
    static constexpr uint32_t kNoKeyBit = 0x80000000;

    uint32_t code = kNoKeyBit;
    uint32_t sideMask = 0;
    bool wasDown = false;

    // No key.
    KeyCode() = default;
    // A typed character: modifier bits from the any-side flags; never down, never repeated.
    KeyCode(char16_t character, KeyModifierFlags modifiers);
    // A virtual key (its low 8 bits), pressed (down) or released.
    KeyCode(uint32_t virtualKey, bool down, bool wasDown, KeyModifierFlags modifiers);

    static uint32_t GetSideMask(KeyModifierFlags modifiers);

    // Characters compare without Ctrl and Shift; anything else must agree in every bit of `code`,
    // so a release never matches a parsed virtual-key binding.
    bool Matches(const KeyCode& other) const;
    // A press of a virtual key.
    bool IsKeyDown() const;

    // Text for people: "Ctrl+Alt+Shift+Cmd+" prefixes, then the key's display name or the
    // character. Not meant to be parsed back: a virtual key shows its display name ("Alt+F4", not
    // "VKEY_F4"); a control character 1-26 shows "Ctrl+" and its letter after the prefixes (the
    // character typed as Ctrl+S reads "Ctrl+Ctrl+S"); space, 0 and codes from 127 up add nothing.
    WideString ToString() const;
    // The configuration form: modifier words anywhere ("CTRL", "ALT", "SHIFT", "COMMAND", any
    // case), then a "VKEY_" name to its end, or "[decimal]" for a character, or else the last
    // character of the text (characters keep Alt only).
    static KeyCode Parse(const WideString& text);

    bool operator==(const KeyCode&) const = default;
};

}  // namespace Orv
