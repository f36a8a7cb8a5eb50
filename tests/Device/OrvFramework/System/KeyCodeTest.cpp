// Key codes: layout, matching, display text, configuration text and the name tables.
#include "System/KeyCode.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "System/VirtualKeyNames.h"

namespace {

using namespace Orv;
using namespace Orv::KeyModifier;

std::string Narrow(const WideString& text)
{
    return text.ToNarrow().GetText();
}

struct ParseCase
{
    const char* name;
    const char16_t* text;
    uint32_t code;
};

void PrintTo(const ParseCase& c, std::ostream* out)
{
    *out << c.name;
}

class KeyParseTest : public testing::TestWithParam<ParseCase>
{
};

TEST_P(KeyParseTest, GivesItsCode)
{
    const KeyCode key = KeyCode::Parse(GetParam().text);
    EXPECT_EQ(key.code, GetParam().code) << std::hex << key.code;
    EXPECT_EQ(key.sideMask, 0u);
    EXPECT_FALSE(key.wasDown);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, KeyParseTest,
    testing::Values(ParseCase{"AltF4Key", u"Alt+VKEY_F4", 0x24730000},
                    ParseCase{"CtrlShiftSKey", u"Ctrl+Shift+VKEY_S", 0x23530000},
                    ParseCase{"AltCharacter", u"Alt+x", 0x04000078},
                    ParseCase{"CtrlDroppedForCharacter", u"Ctrl+S", 0x00000053},
                    ParseCase{"DecimalCharacter", u"[9]", 0x00000009},
                    ParseCase{"LowerCaseWords", u"ctrl alt vkey_home", 0x25240000},
                    ParseCase{"CommandModifier", u"Command+VKEY_A", 0x28410000},
                    ParseCase{"ShiftKeyNameSetsShift", u"VKEY_SHIFT", 0x22100000},
                    ParseCase{"LeftShiftNameSetsShift", u"VKEY_LSHIFT", 0x22A00000},
                    ParseCase{"ControlNameIsNotCtrl", u"VKEY_CONTROL", 0x20110000},
                    ParseCase{"AltF4TextIsTheCharacter", u"Alt+F4", 0x04000034},
                    ParseCase{"UnknownNameHasNoKey", u"Ctrl+VKEY_NOPE", 0x21000000},
                    ParseCase{"OpenBracketOnly", u"Alt+[12", 0x20000000},
                    ParseCase{"BracketedKeepsAltOnly", u"Ctrl+Alt+[65]", 0x04000041},
                    ParseCase{"BracketsReversed", u"]5[", 0x00000000},
                    ParseCase{"BracketLowSixteenBits", u"[65601]", 0x00000041},
                    ParseCase{"LastCharacterNotUpperCased", u"shift+q", 0x00000071},
                    ParseCase{"Empty", u"", 0x20000000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KeyCodeTest, DefaultIsNoKey)
{
    const KeyCode key;
    EXPECT_EQ(key.code, 0x80000000u);
    EXPECT_EQ(key.sideMask, 0u);
    EXPECT_FALSE(key.wasDown);
    EXPECT_FALSE(key.IsKeyDown());
    EXPECT_EQ(Narrow(key.ToString()), "");
    KeyCode noKeyWithModifiers;
    noKeyWithModifiers.code |= KeyCode::kCtrlBit | KeyCode::kAltBit | 0x41;
    EXPECT_EQ(Narrow(noKeyWithModifiers.ToString()), "Ctrl+Alt+");  // prefixes only
}

TEST(KeyCodeTest, ConstructorsLayOutTheirBits)
{
    const KeyCode press(0x173, true, true, kAlt | kLeftAlt | kShift | kRightShift | kFifth);
    EXPECT_EQ(press.code, 0x36730000u);  // only the low 8 bits of the key
    EXPECT_EQ(press.sideMask, 0x12u);
    EXPECT_TRUE(press.wasDown);
    EXPECT_TRUE(press.IsKeyDown());

    const KeyCode release(0x73, false, true, 0);
    EXPECT_EQ(release.code, 0x00730000u);
    EXPECT_FALSE(release.IsKeyDown());

    const KeyCode character(u'x', kCtrl | kShift | kAlt | kCmd | kLeftCmd);
    EXPECT_EQ(character.code, 0x0F000078u);
    EXPECT_EQ(character.sideMask, 0x40u);
    EXPECT_FALSE(character.wasDown);
    EXPECT_FALSE(character.IsKeyDown());
}

TEST(KeyCodeTest, SideMaskNeedsTheAnySideFlagToo)
{
    const struct
    {
        KeyModifierFlags flags;
        uint32_t mask;
    } cases[] = {
        {kShift | kLeftShift, 0x01},
        {kShift | kRightShift, 0x02},
        {kCtrl | kLeftCtrl, 0x04},
        {kCtrl | kRightCtrl, 0x08},
        {kAlt | kLeftAlt, 0x10},
        {kAlt | kRightAlt, 0x20},
        {kCmd | kLeftCmd, 0x40},
        {kCmd | kRightCmd, 0x80},
        {kLeftShift | kRightCtrl, 0},
        {0x1FFF, 0xFF},
        {kFifth, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(KeyCode::GetSideMask(c.flags), c.mask) << std::hex << c.flags;
    }
}

TEST(KeyCodeTest, MatchingIgnoresCtrlAndShiftOfCharactersOnly)
{
    const KeyCode x(u'x', 0);
    EXPECT_TRUE(KeyCode(u'x', kCtrl | kShift).Matches(x));
    EXPECT_FALSE(KeyCode(u'X', 0).Matches(x));
    EXPECT_FALSE(KeyCode(u'x', kAlt).Matches(x));
    EXPECT_FALSE(KeyCode(u'x', kCmd).Matches(x));

    const KeyCode f4 = KeyCode::Parse(u"VKEY_F4");
    EXPECT_TRUE(KeyCode(0x73, true, true, 0).Matches(f4));
    EXPECT_FALSE(KeyCode(0x73, false, true, 0).Matches(f4));  // a release
    EXPECT_FALSE(KeyCode(0x73, true, false, kShift).Matches(f4));
    // Side and repeat never take part.
    EXPECT_TRUE(KeyCode(0x73, true, true, kShift | kLeftShift)
                    .Matches(KeyCode(0x73, true, false, kShift | kRightShift)));
    // No key is compared whole, even against a character.
    EXPECT_FALSE(KeyCode().Matches(KeyCode(u'\0', 0)));
    EXPECT_TRUE(KeyCode().Matches(KeyCode()));
}

TEST(KeyCodeTest, DisplayTexts)
{
    const struct
    {
        KeyCode key;
        const char* text;
    } cases[] = {
        {KeyCode::Parse(u"Alt+VKEY_F4"), "Alt+F4"},
        {KeyCode::Parse(u"Ctrl+Shift+Alt+Command+VKEY_PAGEDN"), "Ctrl+Alt+Shift+Cmd+Page Down"},
        {KeyCode(u'\x13', kCtrl), "Ctrl+Ctrl+S"},
        {KeyCode(u'\x01', 0), "Ctrl+A"},
        {KeyCode(u'\x1A', 0), "Ctrl+Z"},
        {KeyCode(u'!', kShift), "Shift+!"},
        {KeyCode(u'~', 0), "~"},
        {KeyCode(u' ', 0), ""},
        {KeyCode(u'\x7F', 0), ""},
        {KeyCode(u'\0', 0), ""},
        {KeyCode(u'\u00E9', 0), ""},
        {KeyCode::Parse(u"Ctrl+VKEY_BACK"), "Ctrl+"},
        {KeyCode::Parse(u"VKEY_HANGUL"), "Kana"},
        {KeyCode::Parse(u"VKEY_KANJI"), "Hanja"},
        {KeyCode::Parse(u"VKEY_OEM_FJ_JISHO"), "NEC Equal"},
        {KeyCode::Parse(u"VKEY_NUMPAD7"), "Numpad 7"},
        {KeyCode::Parse(u"VKEY_F24"), "F24"},
        {KeyCode::Parse(u"VKEY_DELETE"), "Del"},
        {KeyCode::Parse(u"VKEY_LAUNCH_APP2"), "Launch App 2"},
        {KeyCode(0x07, true, false, kCtrl), "Ctrl+"},  // a code without a name
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Narrow(c.key.ToString()), c.text) << std::hex << c.key.code;
    }
}

TEST(VirtualKeyNamesTest, TablesHoldEveryNameAndTheFirstDisplayName)
{
    BuildVirtualKeyNameTable();
    const auto& names = GetVirtualKeyNameTable();
    EXPECT_EQ(names.size(), 149u);
    // 147 insertions, four of them for codes already named.
    EXPECT_EQ(GetVirtualKeyDisplayNameTable().size(), 143u);

    const struct
    {
        const char16_t* name;
        uint8_t code;
        const char* display;
    } cases[] = {
        {u"VKEY_0", 0x30, "0"},
        {u"VKEY_9", 0x39, "9"},
        {u"VKEY_A", 0x41, "A"},
        {u"VKEY_Z", 0x5A, "Z"},
        {u"VKEY_NUMPAD0", 0x60, "Numpad 0"},
        {u"VKEY_F1", 0x70, "F1"},
        {u"VKEY_BACK", 0x08, ""},
        {u"VKEY_TAB", 0x09, ""},
        {u"VKEY_HANGEUL", 0x15, "Kana"},
        {u"VKEY_PAGEUP", 0x21, "Page Up"},
        {u"VKEY_NONCONVERT", 0x1D, "Non-convert"},
        {u"VKEY_MULTIPLY", 0x6A, "*"},
        {u"VKEY_OEM_FJ_ROYA", 0x96, "Roya"},
        {u"VKEY_MEDIA_PLAY_PAUSE", 0xB3, "Media Play Pause"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LookupVirtualKeyByName(c.name), c.code) << Narrow(c.name);
        EXPECT_EQ(Narrow(GetVirtualKeyDisplayName(c.code)), c.display) << Narrow(c.name);
    }
    EXPECT_EQ(LookupVirtualKeyByName(u"vkey_a"), 0);  // names compare exactly
    EXPECT_EQ(LookupVirtualKeyByName(u"VKEY_F25"), 0);
    EXPECT_EQ(LookupVirtualKeyByName(u""), 0);
    EXPECT_EQ(Narrow(GetVirtualKeyDisplayName(0x16)), "");
    EXPECT_EQ(Narrow(GetVirtualKeyDisplayName(0x141)), "");  // beyond a virtual key
    for (const auto& [name, code] : names) {
        EXPECT_EQ(Narrow(name).rfind("VKEY_", 0), 0u);
        EXPECT_NE(code, 0);
    }
}

}  // namespace
