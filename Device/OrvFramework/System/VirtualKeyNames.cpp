#include "System/VirtualKeyNames.h"

#include <string>

namespace Orv {

namespace {

struct NamedKey
{
    const char16_t* name;
    uint8_t code;
    const char16_t* display;  // null: the key has no display name
};

// In insertion order. Names that share a code come after the one whose display name stays.
constexpr NamedKey kNamedKeys[] = {
    {u"VKEY_BACK", 0x08, nullptr},
    {u"VKEY_TAB", 0x09, nullptr},
    {u"VKEY_CLEAR", 0x0C, u"Clear"},
    {u"VKEY_RETURN", 0x0D, u"Return"},
    {u"VKEY_SHIFT", 0x10, u"Shift"},
    {u"VKEY_CONTROL", 0x11, u"Control"},
    {u"VKEY_MENU", 0x12, u"Menu"},
    {u"VKEY_PAUSE", 0x13, u"Pause"},
    {u"VKEY_CAPITAL", 0x14, u"Capital"},
    {u"VKEY_KANA", 0x15, u"Kana"},
    {u"VKEY_HANGEUL", 0x15, u"Hangeul"},
    {u"VKEY_HANGUL", 0x15, u"Hangul"},
    {u"VKEY_JUNJA", 0x17, u"Junja"},
    {u"VKEY_FINAL", 0x18, u"Final"},
    {u"VKEY_HANJA", 0x19, u"Hanja"},
    {u"VKEY_KANJI", 0x19, u"Kanji"},
    {u"VKEY_ESCAPE", 0x1B, u"Escape"},
    {u"VKEY_CONVERT", 0x1C, u"Convert"},
    {u"VKEY_NONCONVERT", 0x1D, u"Non-convert"},
    {u"VKEY_ACCEPT", 0x1E, u"Accept"},
    {u"VKEY_MODECHANGE", 0x1F, u"Mode Change"},
    {u"VKEY_SPACE", 0x20, u"Space"},
    {u"VKEY_PAGEUP", 0x21, u"Page Up"},    // Windows calls it VK_PRIOR
    {u"VKEY_PAGEDN", 0x22, u"Page Down"},  // Windows calls it VK_NEXT
    {u"VKEY_END", 0x23, u"End"},
    {u"VKEY_HOME", 0x24, u"Home"},
    {u"VKEY_LEFT", 0x25, u"Left Arrow"},
    {u"VKEY_UP", 0x26, u"Up Arrow"},
    {u"VKEY_RIGHT", 0x27, u"Right Arrow"},
    {u"VKEY_DOWN", 0x28, u"Down Arrow"},
    {u"VKEY_SELECT", 0x29, u"Select"},
    {u"VKEY_PRINT", 0x2A, u"Print"},
    {u"VKEY_EXECUTE", 0x2B, u"Execute"},
    {u"VKEY_SNAPSHOT", 0x2C, u"Snapshot"},
    {u"VKEY_INSERT", 0x2D, u"Insert"},
    {u"VKEY_DELETE", 0x2E, u"Del"},
    {u"VKEY_HELP", 0x2F, u"Help"},
    {u"VKEY_LWIN", 0x5B, u"Left Win"},
    {u"VKEY_RWIN", 0x5C, u"Right Win"},
    {u"VKEY_APPS", 0x5D, u"Apps"},
    {u"VKEY_SLEEP", 0x5F, u"Sleep"},
    {u"VKEY_MULTIPLY", 0x6A, u"*"},
    {u"VKEY_ADD", 0x6B, u"+"},
    {u"VKEY_SEPARATOR", 0x6C, u"Separator"},
    {u"VKEY_SUBTRACT", 0x6D, u"-"},
    {u"VKEY_DECIMAL", 0x6E, u"."},
    {u"VKEY_DIVIDE", 0x6F, u"/"},
    {u"VKEY_NUMLOCK", 0x90, u"Numlock"},
    {u"VKEY_SCROLL", 0x91, u"Scroll"},
    {u"VKEY_OEM_NEC_EQUAL", 0x92, u"NEC Equal"},
    {u"VKEY_OEM_FJ_JISHO", 0x92, u"Jisho"},
    {u"VKEY_OEM_FJ_MASSHOU", 0x93, u"Masshou"},
    {u"VKEY_OEM_FJ_TOUROKU", 0x94, u"Touroku"},
    {u"VKEY_OEM_FJ_LOYA", 0x95, u"Loya"},
    {u"VKEY_OEM_FJ_ROYA", 0x96, u"Roya"},
    {u"VKEY_LSHIFT", 0xA0, u"Left Shift"},
    {u"VKEY_RSHIFT", 0xA1, u"Right Shift"},
    {u"VKEY_LCONTROL", 0xA2, u"Left Control"},
    {u"VKEY_RCONTROL", 0xA3, u"Right Control"},
    {u"VKEY_LMENU", 0xA4, u"Left Menu"},
    {u"VKEY_RMENU", 0xA5, u"Right Menu"},
    {u"VKEY_BROWSER_BACK", 0xA6, u"Browser Back"},
    {u"VKEY_BROWSER_FORWARD", 0xA7, u"Browser Forward"},
    {u"VKEY_BROWSER_REFRESH", 0xA8, u"Browser Refresh"},
    {u"VKEY_BROWSER_STOP", 0xA9, u"Browser Stop"},
    {u"VKEY_BROWSER_SEARCH", 0xAA, u"Browser Search"},
    {u"VKEY_BROWSER_FAVORITES", 0xAB, u"Browser Favorites"},
    {u"VKEY_BROWSER_HOME", 0xAC, u"Browser Home"},
    {u"VKEY_VOLUME_MUTE", 0xAD, u"Volume Mute"},
    {u"VKEY_VOLUME_DOWN", 0xAE, u"Volume Down"},
    {u"VKEY_VOLUME_UP", 0xAF, u"Volume Up"},
    {u"VKEY_MEDIA_NEXT_TRACK", 0xB0, u"Media Next Track"},
    {u"VKEY_MEDIA_PREV_TRACK", 0xB1, u"Media Prev Track"},
    {u"VKEY_MEDIA_STOP", 0xB2, u"Media Stop"},
    {u"VKEY_MEDIA_PLAY_PAUSE", 0xB3, u"Media Play Pause"},
    {u"VKEY_LAUNCH_MAIL", 0xB4, u"Launch Mail"},
    {u"VKEY_LAUNCH_MEDIA_SELECT", 0xB5, u"Launch Media Select"},
    {u"VKEY_LAUNCH_APP1", 0xB6, u"Launch App 1"},
    {u"VKEY_LAUNCH_APP2", 0xB7, u"Launch App 2"},
};

// Runs of keys named by a common stem and a number: "VKEY_F" 1-24 is "F1" ... "F24".
struct KeyRange
{
    const char16_t* nameStem;
    const char16_t* displayStem;
    uint8_t firstCode;
    int count;
    int firstNumber;
    bool letters;  // the number is a letter index ("A" = 0) rather than a decimal
};

constexpr KeyRange kKeyRanges[] = {
    {u"VKEY_", u"", 0x30, 10, 0, false},
    {u"VKEY_", u"", 0x41, 26, 0, true},
    {u"VKEY_NUMPAD", u"Numpad ", 0x60, 10, 0, false},
    {u"VKEY_F", u"F", 0x70, 24, 1, false},
};

struct Tables
{
    VirtualKeyNameTable names;
    VirtualKeyDisplayNameTable displays;

    void Insert(const std::u16string& name, uint8_t code, const char16_t* display)
    {
        names.emplace(WideString(name.c_str()), code);
        if (display != nullptr) {
            displays.emplace(code, WideString(display));
        }
    }

    Tables()
    {
        for (const KeyRange& range : kKeyRanges) {
            for (int i = 0; i < range.count; ++i) {
                const std::u16string suffix =
                    range.letters ? std::u16string(1, static_cast<char16_t>(u'A' + i))
                                  : Decimal(range.firstNumber + i);
                const std::u16string display = range.displayStem + suffix;
                Insert(range.nameStem + suffix, static_cast<uint8_t>(range.firstCode + i),
                       display.c_str());
            }
        }
        for (const NamedKey& key : kNamedKeys) {
            Insert(key.name, key.code, key.display);
        }
    }

    static std::u16string Decimal(int number)
    {
        const std::string digits = std::to_string(number);
        return std::u16string(digits.begin(), digits.end());
    }
};

const Tables& GetTables()
{
    static const Tables tables;
    return tables;
}

}  // namespace

void BuildVirtualKeyNameTable()
{
    GetTables();
}

const VirtualKeyNameTable& GetVirtualKeyNameTable()
{
    return GetTables().names;
}

const VirtualKeyDisplayNameTable& GetVirtualKeyDisplayNameTable()
{
    return GetTables().displays;
}

uint8_t LookupVirtualKeyByName(const WideString& name)
{
    const auto& names = GetTables().names;
    const auto it = names.find(name);
    return it == names.end() ? 0 : it->second;
}

WideString GetVirtualKeyDisplayName(uint32_t virtualKey)
{
    const auto& displays = GetTables().displays;
    const auto it = virtualKey > 0xFF ? displays.end() : displays.find(uint8_t(virtualKey));
    return it == displays.end() ? WideString() : it->second;
}

}  // namespace Orv
