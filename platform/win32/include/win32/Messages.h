#pragma once
// Messages, one queue per thread. GetMessageW takes, in this order: posted messages, input,
// WM_QUIT (once every posted message is taken), WM_PAINT (while a visible window of the thread
// has a non-empty update region), WM_TIMER (one per due timer, however late). A sent message runs
// the window procedure at once, re-entrantly, and only on the window's own thread.

#include "win32/Window.h"

struct MSG
{
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;  // ms, the Win32 clock
    POINT pt;    // screen
};
using LPMSG = MSG*;

// WM_COPYDATA's lParam.
struct COPYDATASTRUCT
{
    ULONG_PTR dwData;
    DWORD cbData;
    void* lpData;
};

using TIMERPROC = void(CALLBACK*)(HWND, UINT, UINT_PTR, DWORD);

inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_MOVE = 0x0003;
inline constexpr UINT WM_SIZE = 0x0005;
inline constexpr UINT WM_ACTIVATE = 0x0006;
inline constexpr UINT WM_SETFOCUS = 0x0007;
inline constexpr UINT WM_KILLFOCUS = 0x0008;
inline constexpr UINT WM_ENABLE = 0x000A;
inline constexpr UINT WM_SETTEXT = 0x000C;
inline constexpr UINT WM_PAINT = 0x000F;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_ERASEBKGND = 0x0014;
inline constexpr UINT WM_SHOWWINDOW = 0x0018;
inline constexpr UINT WM_ACTIVATEAPP = 0x001C;
inline constexpr UINT WM_SETCURSOR = 0x0020;
inline constexpr UINT WM_MOUSEACTIVATE = 0x0021;
inline constexpr UINT WM_COPYDATA = 0x004A;
inline constexpr UINT WM_NCCREATE = 0x0081;
inline constexpr UINT WM_NCDESTROY = 0x0082;
inline constexpr UINT WM_NCACTIVATE = 0x0086;
inline constexpr UINT WM_NCLBUTTONDOWN = 0x00A1;
inline constexpr UINT WM_NCRBUTTONDOWN = 0x00A4;
inline constexpr UINT WM_NCMBUTTONDOWN = 0x00A7;
inline constexpr UINT WM_KEYFIRST = 0x0100;
inline constexpr UINT WM_KEYDOWN = 0x0100;
inline constexpr UINT WM_KEYUP = 0x0101;
inline constexpr UINT WM_CHAR = 0x0102;
inline constexpr UINT WM_SYSKEYDOWN = 0x0104;
inline constexpr UINT WM_SYSKEYUP = 0x0105;
inline constexpr UINT WM_SYSCHAR = 0x0106;
inline constexpr UINT WM_KEYLAST = 0x0109;
inline constexpr UINT WM_SYSCOMMAND = 0x0112;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_SYSTIMER = 0x0118;
inline constexpr UINT WM_ENTERIDLE = 0x0121;
inline constexpr UINT WM_MOUSEFIRST = 0x0200;
inline constexpr UINT WM_MOUSEMOVE = 0x0200;
inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_LBUTTONUP = 0x0202;
inline constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
inline constexpr UINT WM_RBUTTONDOWN = 0x0204;
inline constexpr UINT WM_RBUTTONUP = 0x0205;
inline constexpr UINT WM_RBUTTONDBLCLK = 0x0206;
inline constexpr UINT WM_MBUTTONDOWN = 0x0207;
inline constexpr UINT WM_MBUTTONUP = 0x0208;
inline constexpr UINT WM_MBUTTONDBLCLK = 0x0209;
inline constexpr UINT WM_MOUSEWHEEL = 0x020A;
inline constexpr UINT WM_MOUSEHWHEEL = 0x020E;
inline constexpr UINT WM_MOUSELAST = 0x020E;
inline constexpr UINT WM_SIZING = 0x0214;
inline constexpr UINT WM_CAPTURECHANGED = 0x0215;
inline constexpr UINT WM_POWERBROADCAST = 0x0218;
inline constexpr UINT WM_DISPLAYCHANGE = 0x007E;
inline constexpr UINT WM_RENDERFORMAT = 0x0305;
inline constexpr UINT WM_RENDERALLFORMATS = 0x0306;
inline constexpr UINT WM_DESTROYCLIPBOARD = 0x0307;
inline constexpr UINT WM_USER = 0x0400;
inline constexpr UINT WM_APP = 0x8000;

// WM_SIZE.
inline constexpr WPARAM SIZE_RESTORED = 0;
inline constexpr WPARAM SIZE_MINIMIZED = 1;
inline constexpr WPARAM SIZE_MAXIMIZED = 2;
// WM_ACTIVATE.
inline constexpr WORD WA_INACTIVE = 0;
inline constexpr WORD WA_ACTIVE = 1;
inline constexpr WORD WA_CLICKACTIVE = 2;
// WM_SYSCOMMAND (the low four bits are the system's).
inline constexpr WPARAM SC_SIZE = 0xF000;
inline constexpr WPARAM SC_MOVE = 0xF010;
inline constexpr WPARAM SC_MINIMIZE = 0xF020;
inline constexpr WPARAM SC_MAXIMIZE = 0xF030;
inline constexpr WPARAM SC_CLOSE = 0xF060;
inline constexpr WPARAM SC_RESTORE = 0xF120;
// WM_SIZING edges.
inline constexpr WPARAM WMSZ_RIGHT = 2;
inline constexpr WPARAM WMSZ_BOTTOM = 6;
inline constexpr WPARAM WMSZ_BOTTOMRIGHT = 8;
// WM_SETCURSOR hit test.
inline constexpr WORD HTCLIENT = 1;

// PeekMessageW.
inline constexpr UINT PM_NOREMOVE = 0x0000;
inline constexpr UINT PM_REMOVE = 0x0001;

// RedrawWindow.
inline constexpr UINT RDW_INVALIDATE = 0x0001;
inline constexpr UINT RDW_ERASE = 0x0004;
inline constexpr UINT RDW_VALIDATE = 0x0008;
inline constexpr UINT RDW_UPDATENOW = 0x0100;
inline constexpr UINT RDW_ALLCHILDREN = 0x0080;

using DWORD_PTR_ = ULONG_PTR;

// Wheel notch.
inline constexpr int WHEEL_DELTA = 120;

#define LOWORD(l) (static_cast<WORD>(static_cast<DWORD_PTR_>(l) & 0xFFFF))
#define HIWORD(l) (static_cast<WORD>((static_cast<DWORD_PTR_>(l) >> 16) & 0xFFFF))
#define GET_X_LPARAM(lp) (static_cast<int>(static_cast<short>(LOWORD(lp))))
#define GET_Y_LPARAM(lp) (static_cast<int>(static_cast<short>(HIWORD(lp))))
#define GET_WHEEL_DELTA_WPARAM(wParam) (static_cast<short>(HIWORD(wParam)))
#define MAKELONG(low, high)                                           \
    (static_cast<LONG>((static_cast<DWORD>(static_cast<WORD>(low))) | \
                       (static_cast<DWORD>(static_cast<WORD>(high)) << 16)))
#define MAKELPARAM(low, high) (static_cast<LPARAM>(static_cast<DWORD>(MAKELONG(low, high))))
#define MAKEWPARAM(low, high) (static_cast<WPARAM>(static_cast<DWORD>(MAKELONG(low, high))))
DWORD WINAPI GetCurrentThreadId();

// FALSE with ERROR_INVALID_WINDOW_HANDLE for a window that does not exist; a null window posts
// to the calling thread.
BOOL WINAPI PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// FALSE with ERROR_INVALID_THREAD_ID for a thread that has no queue.
BOOL WINAPI PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
// 0 with ERROR_INVALID_WINDOW_HANDLE for no window, with ERROR_NOT_SUPPORTED for another
// thread's window.
LRESULT WINAPI SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Waits until a message comes: on the virtual clock, a wait with a timer running moves the clock
// to the timer's due time. 0 for WM_QUIT, -1 for a bad argument, else nonzero.
BOOL WINAPI GetMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax);
BOOL WINAPI PeekMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT remove);
// For WM_KEYDOWN and WM_SYSKEYDOWN taken from the queue, posts the characters that key made
// (WM_CHAR or WM_SYSCHAR, one per UTF-16 unit) ahead of every other message.
BOOL WINAPI TranslateMessage(const MSG* message);
LRESULT WINAPI DispatchMessageW(const MSG* message);
// WM_CLOSE destroys the window; WM_SYSCOMMAND SC_CLOSE sends WM_CLOSE, SC_MINIMIZE/SC_RESTORE/
// SC_MAXIMIZE show the window so; WM_PAINT validates the update region; WM_SETCURSOR sets the
// class cursor; WM_ACTIVATE gives the focus to an activated window; anything else 0.
LRESULT WINAPI DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void WINAPI PostQuitMessage(int exitCode);
// The time and the screen point of the last message taken from the queue.
LONG WINAPI GetMessageTime();
DWORD WINAPI GetMessagePos();
// Whether the calling thread's queue holds anything GetMessageW would take.
DWORD WINAPI GetQueueStatus(UINT flags);
inline constexpr UINT QS_ALLINPUT = 0x04FF;

// Per window and id; 0 on failure. With a null window, a thread timer whose id is returned. Due
// every `elapse` ms (at least 10) of the Win32 clock.
UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC procedure);
BOOL WINAPI KillTimer(HWND window, UINT_PTR id);

// The update region, in client coordinates.
BOOL WINAPI InvalidateRect(HWND window, const RECT* rect, BOOL erase);
BOOL WINAPI ValidateRect(HWND window, const RECT* rect);
// The bounding rectangle of the update region (empty when there is none); whether it is non-empty.
BOOL WINAPI GetUpdateRect(HWND window, RECT* rect, BOOL erase);
// RDW_UPDATENOW sends WM_PAINT before returning when the region is not empty.
BOOL WINAPI RedrawWindow(HWND window, const RECT* rect, void* region, UINT flags);
// Sends WM_PAINT when the update region is not empty.
BOOL WINAPI UpdateWindow(HWND window);

#define PostMessage PostMessageW
#define PostThreadMessage PostThreadMessageW
#define SendMessage SendMessageW
#define GetMessage GetMessageW
#define PeekMessage PeekMessageW
#define DispatchMessage DispatchMessageW
#define DefWindowProc DefWindowProcW
