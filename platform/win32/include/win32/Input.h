#pragma once
// The state of input: capture, keyboard focus, activation, key state, the pointer and cursors.

#include "win32/Window.h"

// Virtual keys.
inline constexpr int VK_LBUTTON = 0x01;
inline constexpr int VK_RBUTTON = 0x02;
inline constexpr int VK_CANCEL = 0x03;
inline constexpr int VK_MBUTTON = 0x04;
inline constexpr int VK_BACK = 0x08;
inline constexpr int VK_TAB = 0x09;
inline constexpr int VK_CLEAR = 0x0C;
inline constexpr int VK_RETURN = 0x0D;
inline constexpr int VK_SHIFT = 0x10;
inline constexpr int VK_CONTROL = 0x11;
inline constexpr int VK_MENU = 0x12;
inline constexpr int VK_PAUSE = 0x13;
inline constexpr int VK_CAPITAL = 0x14;
inline constexpr int VK_ESCAPE = 0x1B;
inline constexpr int VK_SPACE = 0x20;
inline constexpr int VK_PRIOR = 0x21;
inline constexpr int VK_NEXT = 0x22;
inline constexpr int VK_END = 0x23;
inline constexpr int VK_HOME = 0x24;
inline constexpr int VK_LEFT = 0x25;
inline constexpr int VK_UP = 0x26;
inline constexpr int VK_RIGHT = 0x27;
inline constexpr int VK_DOWN = 0x28;
inline constexpr int VK_SNAPSHOT = 0x2C;
inline constexpr int VK_INSERT = 0x2D;
inline constexpr int VK_DELETE = 0x2E;
inline constexpr int VK_LWIN = 0x5B;
inline constexpr int VK_RWIN = 0x5C;
inline constexpr int VK_APPS = 0x5D;
inline constexpr int VK_NUMPAD0 = 0x60;
inline constexpr int VK_MULTIPLY = 0x6A;
inline constexpr int VK_ADD = 0x6B;
inline constexpr int VK_SEPARATOR = 0x6C;
inline constexpr int VK_SUBTRACT = 0x6D;
inline constexpr int VK_DECIMAL = 0x6E;
inline constexpr int VK_DIVIDE = 0x6F;
inline constexpr int VK_F1 = 0x70;
inline constexpr int VK_F10 = 0x79;
inline constexpr int VK_F24 = 0x87;
inline constexpr int VK_NUMLOCK = 0x90;
inline constexpr int VK_SCROLL = 0x91;
inline constexpr int VK_LSHIFT = 0xA0;
inline constexpr int VK_RSHIFT = 0xA1;
inline constexpr int VK_LCONTROL = 0xA2;
inline constexpr int VK_RCONTROL = 0xA3;
inline constexpr int VK_LMENU = 0xA4;
inline constexpr int VK_RMENU = 0xA5;
inline constexpr int VK_OEM_1 = 0xBA;
inline constexpr int VK_OEM_PLUS = 0xBB;
inline constexpr int VK_OEM_COMMA = 0xBC;
inline constexpr int VK_OEM_MINUS = 0xBD;
inline constexpr int VK_OEM_PERIOD = 0xBE;
inline constexpr int VK_OEM_2 = 0xBF;
inline constexpr int VK_OEM_3 = 0xC0;
inline constexpr int VK_OEM_4 = 0xDB;
inline constexpr int VK_OEM_5 = 0xDC;
inline constexpr int VK_OEM_6 = 0xDD;
inline constexpr int VK_OEM_7 = 0xDE;

// Mouse message key flags (wParam).
inline constexpr WPARAM MK_LBUTTON = 0x0001;
inline constexpr WPARAM MK_RBUTTON = 0x0002;
inline constexpr WPARAM MK_SHIFT = 0x0004;
inline constexpr WPARAM MK_CONTROL = 0x0008;
inline constexpr WPARAM MK_MBUTTON = 0x0010;

// Returns the window that held the capture. The loser gets WM_CAPTURECHANGED with the new one.
HWND WINAPI SetCapture(HWND window);
BOOL WINAPI ReleaseCapture();
HWND WINAPI GetCapture();
// WM_KILLFOCUS to the old focus, then WM_SETFOCUS to the new one; activates the new one's
// top-level window first. Returns the previous focus.
HWND WINAPI SetFocus(HWND window);
HWND WINAPI GetFocus();
HWND WINAPI GetActiveWindow();
HWND WINAPI SetActiveWindow(HWND window);
HWND WINAPI GetForegroundWindow();
BOOL WINAPI SetForegroundWindow(HWND window);

// As of the message the thread took last: bit 15 down, bit 0 toggled.
SHORT WINAPI GetKeyState(int virtualKey);
// As of now.
SHORT WINAPI GetAsyncKeyState(int virtualKey);
BOOL WINAPI GetCursorPos(POINT* point);
BOOL WINAPI SetCursorPos(int x, int y);
UINT WINAPI GetDoubleClickTime();

// The system cursors (instance null); other instances: null, ERROR_RESOURCE_NAME_NOT_FOUND.
HCURSOR WINAPI LoadCursorW(HINSTANCE instance, LPCWSTR name);
// Returns the previous cursor.
HCURSOR WINAPI SetCursor(HCURSOR cursor);
HCURSOR WINAPI GetCursor();

#define IDC_ARROW (reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(32512)))
#define IDC_IBEAM (reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(32513)))
#define IDC_WAIT (reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(32514)))
#define IDC_CROSS (reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(32515)))
#define IDC_UPARROW (reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(32516)))
#define IDC_SIZENWSE (reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(32642)))
#define IDC_SIZENESW (reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(32643)))
#define IDC_SIZEWE (reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(32644)))
#define IDC_SIZENS (reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(32645)))
#define IDC_SIZEALL (reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(32646)))
#define IDC_NO (reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(32648)))
#define IDC_HAND (reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(32649)))
#define IDC_APPSTARTING (reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(32650)))
#define IDC_HELP (reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(32651)))

#define LoadCursor LoadCursorW
