#pragma once
// Tests and hosts: the windowing model without a display. Injects pointer, wheel and keys as a
// user would make them, plays the window manager, sets the screen, and reads what windows
// received and show.

#include <string>
#include <vector>

#include "win32/Input.h"
#include "win32/Messages.h"

namespace Win32Test {

// Headless from now on (the first window otherwise opens $DISPLAY unless QUORVEL_HEADLESS is set).
void UseHeadless();
// Shows windows on the named X display; false when it cannot be opened.
bool UseDisplay(const char* name);
// True while windows go to an X display.
bool UsesDisplay();
// Destroys every window and class and forgets the input state, queues, timers and screen.
void ResetWindowing();

enum class Button
{
    Left = 0,
    Right = 1,
    Middle = 2,
};

// Screen coordinates.
void MovePointer(int x, int y);
void PressButton(Button button, int x, int y);
void ReleaseButton(Button button, int x, int y);
void Wheel(int delta, int x, int y);
void HorizontalWheel(int delta, int x, int y);
// Sided modifiers (VK_LSHIFT ...) as such; the characters a key-down makes for TranslateMessage
// default to what a US keyboard gives for letters, digits, space, return, tab, backspace and
// escape under the current Shift, Ctrl and Caps Lock.
void PressKey(int virtualKey);
void PressKey(int virtualKey, const std::u16string& characters);
void ReleaseKey(int virtualKey);

// The window manager's acts.
void ClickCloseBox(HWND window);  // posts WM_SYSCOMMAND SC_CLOSE
// WM_SIZING with the proposed window rectangle (bottom-right edge), then the size the window
// left in it.
void DragFrame(HWND window, int width, int height);
void MoveFrame(HWND window, int x, int y);
void Minimise(HWND window);  // WM_SYSCOMMAND SC_MINIMIZE
void Restore(HWND window);   // WM_SYSCOMMAND SC_RESTORE
// Another window moved away from this client rectangle.
void Uncover(HWND window, const RECT& client);
// The screen becomes width x height (work area too); WM_DISPLAYCHANGE to every top-level window.
void ChangeDisplay(int width, int height);
void PowerEvent(WPARAM event, LPARAM data);
// Another program becomes active.
void LoseActivation();

void SetScreen(const RECT& screen, const RECT& workArea);
// Frame widths around the client area of windows with a caption or a sizing frame.
void SetFrameMargins(LONG left, LONG top, LONG right, LONG bottom);

struct Message
{
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool sent;  // false: taken from the queue and dispatched
};

// Starts recording what reaches the window's procedure (dropping what was recorded); a null
// window records every window's messages in one log.
void StartMessageLog(HWND window);
// What was recorded since, oldest first; the log goes on empty.
std::vector<Message> TakeMessages(HWND window);
void StopMessageLogs();
// The cursor last set.
HCURSOR GetShownCursor();
std::u16string GetTitle(HWND window);
// The X window that shows a top-level window; 0 without a display.
uintptr_t GetNativeWindow(HWND window);

}  // namespace Win32Test
