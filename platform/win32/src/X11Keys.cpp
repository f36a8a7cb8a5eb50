#include "X11Keys.h"

#include <X11/keysym.h>

#include "win32/Input.h"

namespace Win32Detail {

namespace {

struct KeyRow
{
    unsigned long keysym;
    int virtualKey;
};

// Keys whose virtual key is not their character (letters and digits are).
constexpr KeyRow kKeys[] = {
    // Editing and control.
    {XK_BackSpace, VK_BACK},
    {XK_Tab, VK_TAB},
    {XK_ISO_Left_Tab, VK_TAB},
    {XK_Clear, VK_CLEAR},
    {XK_Return, VK_RETURN},
    {XK_Pause, VK_PAUSE},
    {XK_Escape, VK_ESCAPE},
    {XK_space, VK_SPACE},
    {XK_Print, VK_SNAPSHOT},
    {XK_Insert, VK_INSERT},
    {XK_Delete, VK_DELETE},
    {XK_Caps_Lock, VK_CAPITAL},
    {XK_Num_Lock, VK_NUMLOCK},
    {XK_Scroll_Lock, VK_SCROLL},
    {XK_Menu, VK_APPS},
    // Navigation.
    {XK_Prior, VK_PRIOR},
    {XK_Next, VK_NEXT},
    {XK_End, VK_END},
    {XK_Home, VK_HOME},
    {XK_Left, VK_LEFT},
    {XK_Up, VK_UP},
    {XK_Right, VK_RIGHT},
    {XK_Down, VK_DOWN},
    // Modifiers, by side.
    {XK_Shift_L, VK_LSHIFT},
    {XK_Shift_R, VK_RSHIFT},
    {XK_Control_L, VK_LCONTROL},
    {XK_Control_R, VK_RCONTROL},
    {XK_Alt_L, VK_LMENU},
    {XK_Alt_R, VK_RMENU},
    {XK_ISO_Level3_Shift, VK_RMENU},
    {XK_Meta_L, VK_LMENU},
    {XK_Meta_R, VK_RMENU},
    {XK_Super_L, VK_LWIN},
    {XK_Super_R, VK_RWIN},
    // Keypad.
    {XK_KP_0, VK_NUMPAD0},
    {XK_KP_1, VK_NUMPAD0 + 1},
    {XK_KP_2, VK_NUMPAD0 + 2},
    {XK_KP_3, VK_NUMPAD0 + 3},
    {XK_KP_4, VK_NUMPAD0 + 4},
    {XK_KP_5, VK_NUMPAD0 + 5},
    {XK_KP_6, VK_NUMPAD0 + 6},
    {XK_KP_7, VK_NUMPAD0 + 7},
    {XK_KP_8, VK_NUMPAD0 + 8},
    {XK_KP_9, VK_NUMPAD0 + 9},
    {XK_KP_Multiply, VK_MULTIPLY},
    {XK_KP_Add, VK_ADD},
    {XK_KP_Separator, VK_SEPARATOR},
    {XK_KP_Subtract, VK_SUBTRACT},
    {XK_KP_Decimal, VK_DECIMAL},
    {XK_KP_Divide, VK_DIVIDE},
    {XK_KP_Enter, VK_RETURN},
    {XK_KP_Home, VK_HOME},
    {XK_KP_End, VK_END},
    {XK_KP_Prior, VK_PRIOR},
    {XK_KP_Next, VK_NEXT},
    {XK_KP_Left, VK_LEFT},
    {XK_KP_Up, VK_UP},
    {XK_KP_Right, VK_RIGHT},
    {XK_KP_Down, VK_DOWN},
    {XK_KP_Insert, VK_INSERT},
    {XK_KP_Delete, VK_DELETE},
    {XK_KP_Begin, VK_CLEAR},
    // The punctuation of a US keyboard.
    {XK_semicolon, VK_OEM_1},
    {XK_equal, VK_OEM_PLUS},
    {XK_comma, VK_OEM_COMMA},
    {XK_minus, VK_OEM_MINUS},
    {XK_period, VK_OEM_PERIOD},
    {XK_slash, VK_OEM_2},
    {XK_grave, VK_OEM_3},
    {XK_bracketleft, VK_OEM_4},
    {XK_backslash, VK_OEM_5},
    {XK_bracketright, VK_OEM_6},
    {XK_apostrophe, VK_OEM_7},
};

}  // namespace

int VirtualKeyFromKeysym(unsigned long keysym)
{
    if (keysym >= XK_a && keysym <= XK_z) {
        return static_cast<int>(keysym - XK_a) + 'A';
    }
    if (keysym >= XK_A && keysym <= XK_Z) {
        return static_cast<int>(keysym - XK_A) + 'A';
    }
    if (keysym >= XK_0 && keysym <= XK_9) {
        return static_cast<int>(keysym - XK_0) + '0';
    }
    if (keysym >= XK_F1 && keysym <= XK_F24) {
        return static_cast<int>(keysym - XK_F1) + VK_F1;
    }
    for (const KeyRow& row : kKeys) {
        if (row.keysym == keysym) {
            return row.virtualKey;
        }
    }
    return 0;
}

}  // namespace Win32Detail
