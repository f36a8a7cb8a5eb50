#pragma once
// Windows: classes, creation and destruction, placement and the device contexts that drawing uses.
// A window is a pixel surface of its client size (empty at 0 x 0); the screen has 96 pixels per
// logical inch. Windows belong to the thread that created them; their messages go through that
// thread's queue (win32/Messages.h).

#include "win32/Types.h"

struct HWND__;
using HWND = HWND__*;
struct HDC__;
using HDC = HDC__*;
struct HCURSOR__;
using HCURSOR = HCURSOR__*;
using HICON = HCURSOR;
struct HBRUSH__;
using HBRUSH = HBRUSH__*;
struct HMENU__;
using HMENU = HMENU__*;
using ATOM = WORD;

using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;
using WNDPROC = LRESULT(CALLBACK*)(HWND, UINT, WPARAM, LPARAM);

struct RECT
{
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
using LPRECT = RECT*;

struct POINT
{
    LONG x;
    LONG y;
};
using LPPOINT = POINT*;

inline constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
inline constexpr DWORD ERROR_CLASS_ALREADY_EXISTS = 1410;
inline constexpr DWORD ERROR_CLASS_DOES_NOT_EXIST = 1411;
inline constexpr DWORD ERROR_CANNOT_FIND_WND_CLASS = 1407;
inline constexpr DWORD ERROR_INVALID_THREAD_ID = 1444;
inline constexpr DWORD ERROR_NOT_SUPPORTED = 50;

#define LOGPIXELSX 88
#define LOGPIXELSY 90
#define HORZRES 8
#define VERTRES 10

// Class styles.
inline constexpr UINT CS_VREDRAW = 0x0001;
inline constexpr UINT CS_HREDRAW = 0x0002;
inline constexpr UINT CS_DBLCLKS = 0x0008;
inline constexpr UINT CS_OWNDC = 0x0020;

// Window styles.
inline constexpr DWORD WS_OVERLAPPED = 0x00000000;
inline constexpr DWORD WS_POPUP = 0x80000000;
inline constexpr DWORD WS_CHILD = 0x40000000;
inline constexpr DWORD WS_MINIMIZE = 0x20000000;
inline constexpr DWORD WS_VISIBLE = 0x10000000;
inline constexpr DWORD WS_DISABLED = 0x08000000;
inline constexpr DWORD WS_CLIPSIBLINGS = 0x04000000;
inline constexpr DWORD WS_CLIPCHILDREN = 0x02000000;
inline constexpr DWORD WS_MAXIMIZE = 0x01000000;
inline constexpr DWORD WS_CAPTION = 0x00C00000;
inline constexpr DWORD WS_BORDER = 0x00800000;
inline constexpr DWORD WS_SYSMENU = 0x00080000;
inline constexpr DWORD WS_THICKFRAME = 0x00040000;
inline constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
inline constexpr DWORD WS_MAXIMIZEBOX = 0x00010000;
inline constexpr DWORD WS_OVERLAPPEDWINDOW =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
inline constexpr DWORD WS_EX_TOPMOST = 0x00000008;
inline constexpr DWORD WS_EX_TOOLWINDOW = 0x00000080;

inline constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000);

struct WNDCLASSW
{
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCWSTR lpszMenuName;
    LPCWSTR lpszClassName;
};

struct CREATESTRUCTW
{
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCWSTR lpszName;
    LPCWSTR lpszClass;
    DWORD dwExStyle;
};

// 44 bytes, as stored in profiles.
struct WINDOWPLACEMENT
{
    UINT length;
    UINT flags;
    UINT showCmd;
    POINT ptMinPosition;
    POINT ptMaxPosition;
    RECT rcNormalPosition;
};
static_assert(sizeof(WINDOWPLACEMENT) == 44, "stored as 44 bytes");

// ShowWindow commands.
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_NORMAL = 1;
inline constexpr int SW_SHOWMINIMIZED = 2;
inline constexpr int SW_SHOWMAXIMIZED = 3;
inline constexpr int SW_MAXIMIZE = 3;
inline constexpr int SW_SHOWNOACTIVATE = 4;
inline constexpr int SW_SHOW = 5;
inline constexpr int SW_MINIMIZE = 6;
inline constexpr int SW_SHOWMINNOACTIVE = 7;
inline constexpr int SW_SHOWNA = 8;
inline constexpr int SW_RESTORE = 9;

// SetWindowPos.
#define HWND_TOP (reinterpret_cast<HWND>(static_cast<LONG_PTR>(0)))
#define HWND_BOTTOM (reinterpret_cast<HWND>(static_cast<LONG_PTR>(1)))
#define HWND_TOPMOST (reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1)))
#define HWND_NOTOPMOST (reinterpret_cast<HWND>(static_cast<LONG_PTR>(-2)))
inline constexpr UINT SWP_NOSIZE = 0x0001;
inline constexpr UINT SWP_NOMOVE = 0x0002;
inline constexpr UINT SWP_NOZORDER = 0x0004;
inline constexpr UINT SWP_NOACTIVATE = 0x0010;
inline constexpr UINT SWP_SHOWWINDOW = 0x0040;
inline constexpr UINT SWP_HIDEWINDOW = 0x0080;

// GetAncestor.
inline constexpr UINT GA_PARENT = 1;
inline constexpr UINT GA_ROOT = 2;
inline constexpr UINT GA_ROOTOWNER = 3;

// Get/SetWindowLongPtrW and Get/SetClassLongW.
inline constexpr int GWLP_WNDPROC = -4;
inline constexpr int GWLP_HINSTANCE = -6;
inline constexpr int GWLP_ID = -12;
inline constexpr int GWL_STYLE = -16;
inline constexpr int GWL_EXSTYLE = -20;
inline constexpr int GWLP_USERDATA = -21;
inline constexpr int GCL_HCURSOR = -12;

ATOM WINAPI RegisterClassW(const WNDCLASSW* windowClass);
// Classes of the program, whatever instance is given; FALSE with ERROR_CLASS_DOES_NOT_EXIST.
BOOL WINAPI GetClassInfoW(HINSTANCE instance, LPCWSTR className, WNDCLASSW* windowClass);
BOOL WINAPI UnregisterClassW(LPCWSTR className, HINSTANCE instance);
// GCL_HCURSOR only: the class's previous cursor; 0 for anything else.
DWORD WINAPI SetClassLongW(HWND window, int index, LONG value);
ULONG_PTR WINAPI GetClassLongPtrW(HWND window, int index);
int WINAPI GetClassNameW(HWND window, LPWSTR name, int capacity);

// Sends WM_NCCREATE, WM_CREATE (either refusing destroys the window and gives null), WM_SIZE and
// WM_MOVE; with WS_VISIBLE it is shown as by ShowWindow(SW_SHOW). A WS_CHILD window's parent is
// hWndParent; for any other window it is the owner.
HWND WINAPI CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style,
                            int x, int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID parameter);
// Owned windows first, then WM_DESTROY (the window, then its children), WM_NCDESTROY (children
// first). Its queued messages and timers go with it. Only its own thread may destroy it.
BOOL WINAPI DestroyWindow(HWND window);
BOOL WINAPI IsWindow(HWND window);
BOOL WINAPI IsWindowVisible(HWND window);
BOOL WINAPI IsWindowEnabled(HWND window);
BOOL WINAPI IsIconic(HWND window);
BOOL WINAPI IsZoomed(HWND window);
BOOL WINAPI IsChild(HWND parent, HWND window);
HWND WINAPI GetDesktopWindow();
HWND WINAPI GetAncestor(HWND window, UINT flags);
HWND WINAPI GetParent(HWND window);
// The thread that created the window (and the process id, always 1 here, when asked).
DWORD WINAPI GetWindowThreadProcessId(HWND window, DWORD* processId);

LONG_PTR WINAPI GetWindowLongPtrW(HWND window, int index);
LONG_PTR WINAPI SetWindowLongPtrW(HWND window, int index, LONG_PTR value);
LRESULT WINAPI CallWindowProcW(WNDPROC procedure, HWND window, UINT message, WPARAM wParam,
                               LPARAM lParam);

BOOL WINAPI SetWindowTextW(HWND window, LPCWSTR text);
int WINAPI GetWindowTextW(HWND window, LPWSTR text, int capacity);
int WINAPI GetWindowTextLengthW(HWND window);

// Returns whether the window was visible before.
BOOL WINAPI ShowWindow(HWND window, int command);
// Returns whether the window was disabled before.
BOOL WINAPI EnableWindow(HWND window, BOOL enable);
BOOL WINAPI SetWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height,
                         UINT flags);
BOOL WINAPI MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
BOOL WINAPI BringWindowToTop(HWND window);
// Screen coordinates.
BOOL WINAPI GetWindowRect(HWND window, RECT* rect);
BOOL GetClientRect(HWND window, RECT* rect);
BOOL WINAPI ScreenToClient(HWND window, POINT* point);
BOOL WINAPI ClientToScreen(HWND window, POINT* point);
// The deepest visible, enabled window under a screen point; null over no window.
HWND WINAPI WindowFromPoint(POINT point);
BOOL WINAPI GetWindowPlacement(HWND window, WINDOWPLACEMENT* placement);
// FALSE with ERROR_INVALID_PARAMETER unless length is 44.
BOOL WINAPI SetWindowPlacement(HWND window, const WINDOWPLACEMENT* placement);

// A device context of the window's client area (of the screen for a null window); null for a
// window that does not exist. Every GetDC is matched by one ReleaseDC.
HDC GetDC(HWND window);
// 1 when the context was the window's and is now released, 0 otherwise.
int ReleaseDC(HWND window, HDC deviceContext);
// LOGPIXELSX and LOGPIXELSY: 96; HORZRES and VERTRES: the client size; 0 for anything else.
int GetDeviceCaps(HDC deviceContext, int index);

#define RegisterClass RegisterClassW
#define GetClassInfo GetClassInfoW
#define CreateWindowEx CreateWindowExW
#define SetWindowText SetWindowTextW
#define GetWindowText GetWindowTextW
#define SetClassLong SetClassLongW
#define GetWindowLongPtr GetWindowLongPtrW
#define SetWindowLongPtr SetWindowLongPtrW
#define CallWindowProc CallWindowProcW
