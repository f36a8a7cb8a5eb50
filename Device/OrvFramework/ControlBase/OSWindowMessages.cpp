// The host window's messages: what each one asks of the root window.

#include <windows.h>

#include "Application/ApplicationNotificationCenter.h"
#include "Application/FrameworkApp.h"
#include "ControlBase/Control.h"
#include "ControlBase/InputPayloads.h"
#include "ControlBase/OSWindow.h"
#include "ControlBase/RemoteCommandLine.h"
#include "ControlBase/RootWindow.h"
#include "Notification/Notification.h"
#include "Notification/NotificationIdTexts.h"
#include "Renderer/RenderContextInfo.h"
#include "System/KeyCode.h"

namespace Orv {

namespace {

// The key flags as a key message's handler gets them (the high word of lParam).
constexpr UINT kContextCode = 0x2000;    // Alt was down
constexpr UINT kPreviousState = 0x4000;  // the key was down before

bool IsDown(int virtualKey)
{
    return (static_cast<uint16_t>(::GetKeyState(virtualKey)) & 0x8000) != 0;
}

bool AnyButtonDown()
{
    return IsDown(VK_LBUTTON) || IsDown(VK_MBUTTON) || IsDown(VK_RBUTTON);
}

bool Contains(const RECT& rect, LONG x, LONG y)
{
    return x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
}

}  // namespace

// clang-format off
BEGIN_MESSAGE_MAP(OSWindow, CWnd)
    ON_WM_PAINT()
    ON_WM_KEYDOWN()
    ON_WM_KEYUP()
    ON_WM_SYSKEYDOWN()
    ON_WM_SYSKEYUP()
    ON_WM_CHAR()
    ON_WM_LBUTTONDOWN()
    ON_WM_LBUTTONUP()
    ON_WM_LBUTTONDBLCLK()
    ON_WM_MBUTTONDOWN()
    ON_WM_MBUTTONUP()
    ON_WM_MBUTTONDBLCLK()
    ON_WM_RBUTTONDOWN()
    ON_WM_RBUTTONUP()
    ON_WM_RBUTTONDBLCLK()
    AFX_POINTER(WM_NCLBUTTONDOWN, OnNcButtonDown)
    AFX_POINTER(WM_NCMBUTTONDOWN, OnNcButtonDown)
    AFX_POINTER(WM_NCRBUTTONDOWN, OnNcButtonDown)
    ON_WM_SIZING()
    ON_WM_SIZE()
    ON_WM_MOVE()
    ON_WM_CLOSE()
    ON_WM_MOUSEMOVE()
    ON_WM_MOUSEWHEEL()
    ON_WM_MOUSEHWHEEL()
    ON_WM_CAPTURECHANGED()
    ON_MESSAGE(WM_KICKIDLE, OnKickIdle)
    ON_WM_SETFOCUS()
    ON_WM_KILLFOCUS()
    ON_WM_SYSCOMMAND()
    ON_WM_COPYDATA()
    ON_WM_DESTROYCLIPBOARD()
    ON_WM_RENDERFORMAT()
    ON_WM_RENDERALLFORMATS()
    ON_MESSAGE(WM_DISPLAYCHANGE, OnDisplayChange)
    ON_WM_POWERBROADCAST()
END_MESSAGE_MAP()
// clang-format on

int32_t OSWindow::PointerModifiers(UINT keys)
{
    int32_t modifiers = 0;
    if ((keys & MK_CONTROL) != 0) {
        modifiers |= KeyModifier::kCtrl;
    }
    if ((keys & MK_SHIFT) != 0) {
        modifiers |= KeyModifier::kShift;
    }
    if (IsDown(VK_MENU)) {
        modifiers |= KeyModifier::kAlt;
    }
    return modifiers;
}

int32_t OSWindow::KeyModifiers(UINT flags)
{
    int32_t modifiers = 0;
    const bool leftShift = IsDown(VK_LSHIFT);
    const bool rightShift = IsDown(VK_RSHIFT);
    if (IsDown(VK_SHIFT) || leftShift || rightShift) {
        modifiers |= KeyModifier::kShift | (leftShift ? KeyModifier::kLeftShift : 0) |
                     (rightShift ? KeyModifier::kRightShift : 0);
    }
    const bool leftCtrl = IsDown(VK_LCONTROL);
    const bool rightCtrl = IsDown(VK_RCONTROL);
    if (IsDown(VK_CONTROL) || leftCtrl || rightCtrl) {
        modifiers |= KeyModifier::kCtrl | (leftCtrl ? KeyModifier::kLeftCtrl : 0) |
                     (rightCtrl ? KeyModifier::kRightCtrl : 0);
    }
    if (IsDown(VK_LWIN)) {
        modifiers |= KeyModifier::kCmd | KeyModifier::kLeftCmd;
    }
    if (IsDown(VK_RWIN)) {
        modifiers |= KeyModifier::kCmd | KeyModifier::kRightCmd;
    }
    if ((flags & kContextCode) != 0) {
        modifiers |= KeyModifier::kAlt | (IsDown(VK_LMENU) ? KeyModifier::kLeftAlt : 0) |
                     (IsDown(VK_RMENU) ? KeyModifier::kRightAlt : 0);
    }
    return modifiers;
}

// --- Paint

void OSWindow::OnPaint()
{
    const RCPtr<LRootWindow> root = rootWindow;
    if (!root) {
        // Validates: an update region left behind would bring WM_PAINT back for ever.
        Default();
        return;
    }
    RECT update{0, 0, 0, 0};
    GetUpdateRect(m_hWnd, &update, FALSE);
    ValidateRect(m_hWnd, nullptr);
    RECT client{0, 0, 0, 0};
    ::GetClientRect(m_hWnd, &client);
    if (client.right <= client.left || client.bottom <= client.top || !renderContext) {
        // Minimised: nothing to draw on. The restore repaints the whole window.
        return;
    }
    const RCPtr<LRenderContextInfo> context = renderContext;
    root->PaintContext(context, RectL{update.left, update.top, update.right - update.left,
                                      update.bottom - update.top});
}

// --- Keys and characters

void OSWindow::Key(UINT virtualKey, UINT flags, bool down, bool system)
{
    const RCPtr<LRootWindow> root = rootWindow;
    if (!root) {
        return;
    }
    const int32_t modifiers = KeyModifiers(flags);
    KeyCode key;
    if (virtualKey != 0) {
        const bool repeat = down ? (flags & kPreviousState) != 0 : true;
        key = KeyCode(static_cast<uint32_t>(virtualKey), down, repeat, modifiers);
    } else if (system) {
        // No key, only the modifiers held.
        key = KeyCode(uint32_t{0}, false, false, modifiers);
    } else if ((modifiers & KeyModifier::kCtrl) != 0 && (modifiers & KeyModifier::kAlt) != 0) {
        key = KeyCode(char16_t{0}, modifiers);
    } else {
        return;
    }
    root->HandleKey(RCPtr<LKeyParam>(new LKeyParam(key, 1)));
    // Not passed on: the system's own handling of system keys (Alt+F4 closing, Alt+Space, F10)
    // must not take place; Alt+F4 reaches the application as a key only.
}

void OSWindow::OnKeyDown(UINT virtualKey, UINT, UINT flags)
{
    Key(virtualKey, flags, true, false);
}

void OSWindow::OnKeyUp(UINT virtualKey, UINT, UINT flags)
{
    Key(virtualKey, flags, false, false);
}

void OSWindow::OnSysKeyDown(UINT virtualKey, UINT, UINT flags)
{
    Key(virtualKey, flags, true, true);
}

void OSWindow::OnSysKeyUp(UINT virtualKey, UINT, UINT flags)
{
    Key(virtualKey, flags, false, true);
}

void OSWindow::OnChar(UINT character, UINT, UINT flags)
{
    DeletionWatch watch(this);
    if (!IsDown(VK_LWIN) && !IsDown(VK_RWIN)) {
        if (const RCPtr<LRootWindow> root = rootWindow) {
            int32_t modifiers = 0;
            if (IsDown(VK_SHIFT)) {
                modifiers |= KeyModifier::kShift;
            }
            if (IsDown(VK_CONTROL)) {
                modifiers |= KeyModifier::kCtrl;
            }
            // The context code: lParam's bit 29 is bit 13 of the handler's flags.
            if ((flags & kContextCode) != 0) {
                modifiers |= KeyModifier::kAlt;
            }
            root->HandleKey(RCPtr<LKeyParam>(
                new LKeyParam(KeyCode(static_cast<char16_t>(character), modifiers), 1)));
        }
    }
    if (!watch.deleted) {
        Default();
    }
}

// --- Pointer buttons

void OSWindow::ButtonPress(int32_t button, bool doubleClick, UINT keys, CPoint point)
{
    DeletionWatch watch(this);
    lastPointX = point.x;
    lastPointY = point.y;
    if (rootWindow && !rootWindow->GetFocusControl()) {
        CWnd::SetFocus();
        if (watch.deleted) {
            return;
        }
    }
    buttonFlags |= button;
    if (const RCPtr<LRootWindow> root = rootWindow) {
        if (pressCount++ == 0 && captureHeld == 0) {
            CWnd::SetCapture();
            captureHeld = 1;
        }
        root->HandleMouseButton(doubleClick ? 2 : 0, button, PointerModifiers(keys),
                                PointL{lastPointX, lastPointY}, 0);
    }
    if (!watch.deleted) {
        Default();
    }
}

void OSWindow::ButtonRelease(int32_t button, UINT keys, CPoint point)
{
    DeletionWatch watch(this);
    buttonFlags &= ~button;
    lastPointX = point.x;
    lastPointY = point.y;
    if (const RCPtr<LRootWindow> root = rootWindow) {
        POINT screen{point.x, point.y};
        ::ClientToScreen(m_hWnd, &screen);
        const PointL at{lastPointX, lastPointY};
        if (WindowFromPoint(screen) != m_hWnd && !AnyButtonDown() && pressCount != 0) {
            pressCount = 0;
            captureHeld = 0;
            root->HandleMouseButton(1, button, PointerModifiers(keys), at, 0);
            if (watch.deleted) {
                return;
            }
            ReleaseCapture();
        } else {
            root->HandleMouseButton(1, button, PointerModifiers(keys), at, 0);
        }
    }
    if (!watch.deleted) {
        Default();
    }
}

void OSWindow::OnLButtonDown(UINT keys, CPoint point)
{
    ButtonPress(1, false, keys, point);
}

void OSWindow::OnLButtonUp(UINT keys, CPoint point)
{
    ButtonRelease(1, keys, point);
}

void OSWindow::OnLButtonDblClk(UINT keys, CPoint point)
{
    ButtonPress(1, true, keys, point);
}

void OSWindow::OnMButtonDown(UINT keys, CPoint point)
{
    ButtonPress(2, false, keys, point);
}

void OSWindow::OnMButtonUp(UINT keys, CPoint point)
{
    ButtonRelease(2, keys, point);
}

void OSWindow::OnMButtonDblClk(UINT keys, CPoint point)
{
    ButtonPress(2, true, keys, point);
}

void OSWindow::OnRButtonDown(UINT keys, CPoint point)
{
    ButtonPress(4, false, keys, point);
}

void OSWindow::OnRButtonUp(UINT keys, CPoint point)
{
    ButtonRelease(4, keys, point);
}

void OSWindow::OnRButtonDblClk(UINT keys, CPoint point)
{
    ButtonPress(4, true, keys, point);
}

void OSWindow::OnNcButtonDown(UINT, CPoint)
{
    DeletionWatch watch(this);
    if (const RCPtr<LRootWindow> root = rootWindow) {
        root->OnWindowFocusGained();
    }
    if (!watch.deleted) {
        Default();
    }
}

// --- Pointer movement, wheel and capture

void OSWindow::OnMouseMove(UINT keys, CPoint point)
{
    DeletionWatch watch(this);
    if (const RCPtr<LRootWindow> root = rootWindow) {
        POINT screen{point.x, point.y};
        ::ClientToScreen(m_hWnd, &screen);
        RECT client{0, 0, 0, 0};
        ::GetClientRect(m_hWnd, &client);
        const bool inClient = Contains(client, point.x, point.y);
        if (captureHeld != 0) {
            RECT frame{0, 0, 0, 0};
            ::GetWindowRect(m_hWnd, &frame);
            const bool overNonClient = !inClient && Contains(frame, screen.x, screen.y);
            if (!AnyButtonDown() && (WindowFromPoint(screen) != m_hWnd || overNonClient)) {
                captureHeld = 0;
                ReleaseCapture();
                if (watch.deleted) {
                    return;
                }
            }
        } else if (GetForegroundWindow() == m_hWnd && inClient) {
            // Held while the pointer is over the client area, so the window hears it leave.
            CWnd::SetCapture();
            captureHeld = 1;
        }
        lastPointX = point.x;
        lastPointY = point.y;
        root->HandleMouseMove(PointL{lastPointX, lastPointY}, PointerModifiers(keys), 0);
    }
    if (!watch.deleted) {
        Default();
    }
}

void OSWindow::Wheel(int axis, short delta, CPoint screenPoint, UINT keys)
{
    const RCPtr<LRootWindow> root = rootWindow;
    if (!root) {
        return;
    }
    int32_t& accumulated = wheelAccumulators[axis];
    accumulated += delta;
    int32_t code = 0;
    if (accumulated >= WHEEL_DELTA) {
        accumulated %= WHEEL_DELTA;
        code = axis == 0 ? 1 : 3;
    } else if (accumulated <= -WHEEL_DELTA) {
        accumulated = -(-accumulated % WHEEL_DELTA);
        code = axis == 0 ? 0 : 2;
    } else {
        return;
    }
    POINT point{screenPoint.x, screenPoint.y};
    ::ScreenToClient(m_hWnd, &point);
    lastPointX = point.x;
    lastPointY = point.y;
    // One event per message, however many notches it carried.
    root->HandleMouseWheel(PointL{lastPointX, lastPointY}, PointerModifiers(keys), code);
}

BOOL OSWindow::OnMouseWheel(UINT keys, short delta, CPoint point)
{
    DeletionWatch watch(this);
    Wheel(0, delta, point, keys);
    return watch.deleted ? TRUE : static_cast<BOOL>(Default());
}

void OSWindow::OnMouseHWheel(UINT keys, short delta, CPoint point)
{
    Wheel(1, delta, point, keys);
}

void OSWindow::OnCaptureChanged(CWnd* window)
{
    if (window != nullptr && window->m_hWnd == m_hWnd) {
        return;
    }
    pressCount = 0;
    captureHeld = 0;
    if (const RCPtr<LRootWindow> root = rootWindow) {
        root->CancelCapture();
    }
}

// --- Focus and idle

LRESULT OSWindow::OnKickIdle(WPARAM, LPARAM idleCount)
{
    LFrameworkApp* app = GetFrameworkApp();
    if (app == nullptr) {
        return 0;
    }
    // The idle pass may close this window: nothing of it is touched afterwards.
    const bool more = app->OnIdle(idleCount == 0);
    return more && idleCount < 2 ? 1 : 0;
}

void OSWindow::OnSetFocus(CWnd* oldWindow)
{
    DeletionWatch watch(this);
    if (const RCPtr<LRootWindow> root = rootWindow) {
        root->OnWindowFocusGained();
    }
    if (!watch.deleted) {
        CWnd::OnSetFocus(oldWindow);
    }
}

void OSWindow::OnKillFocus(CWnd*)
{
    DeletionWatch watch(this);
    if (captureHeld != 0) {
        captureHeld = 0;
        ReleaseCapture();
        if (watch.deleted) {
            return;
        }
    }
    if (const RCPtr<LRootWindow> root = rootWindow) {
        root->OnWindowFocusLost();
    }
    if (!watch.deleted) {
        Default();
    }
}

// --- Frame: size, move, sizing, close, system command

void OSWindow::ConstrainSizing(RECT* proposed)
{
    const RCPtr<LRootWindow> root = rootWindow;
    if (!root || proposed == nullptr) {
        return;
    }
    RECT frame{0, 0, 0, 0};
    RECT client{0, 0, 0, 0};
    ::GetWindowRect(m_hWnd, &frame);
    ::GetClientRect(m_hWnd, &client);
    const LONG marginX = (frame.right - frame.left) - (client.right - client.left);
    const LONG marginY = (frame.bottom - frame.top) - (client.bottom - client.top);
    PointL size{proposed->right - proposed->left - marginX,
                proposed->bottom - proposed->top - marginY};
    if (root->ConstrainClientSize(size) == 1) {
        proposed->right = proposed->left + size.x + marginX;
        proposed->bottom = proposed->top + size.y + marginY;
    }
}

void OSWindow::OnSizing(UINT, RECT* proposed)
{
    DeletionWatch watch(this);
    ConstrainSizing(proposed);
    if (!watch.deleted) {
        Default();
    }
}

void OSWindow::OnSize(UINT type, int width, int height)
{
    DeletionWatch watch(this);
    if (const RCPtr<LRootWindow> root = rootWindow) {
        if (type == SIZE_RESTORED || type == SIZE_MAXIMIZED) {
            root->OnClientSizeChanged(PointL{width, height});
            root->SetFullRepaintPending();
        }
        if (!watch.deleted && renderContext) {
            renderContext->SetViewport(RectL{0, 0, width, height});
        }
    }
    if (!watch.deleted) {
        Default();
    }
}

void OSWindow::OnMove(int, int)
{
    if (const RCPtr<LRootWindow> root = rootWindow) {
        if (wasOutsideWorkArea != 0) {
            root->SetFullRepaintPending();
            wasOutsideWorkArea = 0;
        }
        if (LFrameworkApp* app = GetFrameworkApp()) {
            const RectL work = app->GetWorkArea();
            RECT frame{0, 0, 0, 0};
            ::GetWindowRect(m_hWnd, &frame);
            if (frame.left < work.x || frame.top < work.y ||
                int64_t{frame.right} > int64_t{work.x} + work.width ||
                int64_t{frame.bottom} > int64_t{work.y} + work.height) {
                wasOutsideWorkArea = 1;
            }
        }
    }
    Default();
}

void OSWindow::OnClose()
{
    DestroyWindow();
    Default();
    delete this;
}

void OSWindow::OnSysCommand(UINT command, LPARAM)
{
    if ((command & 0xFFF0) != SC_CLOSE) {
        Default();
        return;
    }
    const RCPtr<LRootWindow> root = rootWindow;
    if (!root) {
        return;
    }
    if (IsMainWindow()) {
        // The application decides; the window stays until it does.
        if (const RCPtr<LNotificationCenter> center = GetApplicationNotificationCenter()) {
            center->PostNotification(CreateNotification(NID_APP_EXIT_REQ));
        }
        return;
    }
    root->RequestClose();
}

// --- Other processes and the system

BOOL OSWindow::OnCopyData(CWnd*, COPYDATASTRUCT* data)
{
    DeletionWatch watch(this);
    if (data != nullptr && data->dwData == kRemoteCommandLine && data->lpData != nullptr) {
        const WideString text = DecodeRemoteCommandLine(data->lpData, data->cbData);
        if (LFrameworkApp* app = GetFrameworkApp(); app != nullptr && IsWindowEnabled()) {
            app->OnRemoteCommandLine(text);
        }
    }
    return watch.deleted ? TRUE : static_cast<BOOL>(Default());
}

void OSWindow::OnDestroyClipboard() {}

void OSWindow::OnRenderFormat(UINT) {}

void OSWindow::OnRenderAllFormats() {}

LRESULT OSWindow::OnDisplayChange(WPARAM, LPARAM)
{
    if (const RCPtr<LRootWindow> root = rootWindow) {
        const RectL window = root->GetWindowRect();
        root->InvalidateRect(RectL{0, 0, window.width, window.height});
    }
    return 1;
}

UINT OSWindow::OnPowerBroadcast(UINT event, LPARAM data)
{
    UINT result = 1;
    LFrameworkApp* app = GetFrameworkApp();
    if (app != nullptr && IsMainWindow()) {
        result = static_cast<UINT>(app->OnPowerBroadcast(event, data));
    }
    if (const RCPtr<LRootWindow> root = rootWindow) {
        const RectL window = root->GetWindowRect();
        root->InvalidateRect(RectL{0, 0, window.width, window.height});
    }
    return result;
}

}  // namespace Orv
