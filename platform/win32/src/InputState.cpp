// Capture, focus, activation, key state and the pointer; input as the back ends deliver it.

#include <algorithm>
#include <cstdlib>

#include "WindowModel.h"
#include "win32/LastError.h"

using namespace Win32Detail;

namespace {

constexpr UINT kDoubleClickTime = 500;    // ms
constexpr LONG kDoubleClickDistance = 4;  // pixels, either way

bool InSubtree(Model& model, HWND root, HWND window)
{
    for (WindowObject* object = Find(model, window); object != nullptr;
         object = (object->style & WS_CHILD) != 0 ? Find(model, object->parent) : nullptr) {
        if (object->handle == root) {
            return true;
        }
    }
    return false;
}

int GenericKey(int key)
{
    switch (key) {
        case VK_LSHIFT:
        case VK_RSHIFT:
            return VK_SHIFT;
        case VK_LCONTROL:
        case VK_RCONTROL:
            return VK_CONTROL;
        case VK_LMENU:
        case VK_RMENU:
            return VK_MENU;
        default:
            return key;
    }
}

bool IsExtendedKey(int key)
{
    switch (key) {
        case VK_RCONTROL:
        case VK_RMENU:
        case VK_INSERT:
        case VK_DELETE:
        case VK_HOME:
        case VK_END:
        case VK_PRIOR:
        case VK_NEXT:
        case VK_LEFT:
        case VK_RIGHT:
        case VK_UP:
        case VK_DOWN:
        case VK_DIVIDE:
        case VK_LWIN:
        case VK_RWIN:
        case VK_APPS:
        case VK_NUMLOCK:
        case VK_SNAPSHOT:
            return true;
        default:
            return false;
    }
}

void SetKey(std::array<BYTE, 256>& keys, int key, bool down)
{
    const bool wasDown = (keys[key] & 0x80) != 0;
    BYTE state = keys[key];
    if (down && !wasDown) {
        state ^= 0x01;  // toggled at each press
    }
    keys[key] = static_cast<BYTE>(down ? (state | 0x80) : (state & ~0x80));
}

WPARAM MouseKeyFlags(const std::array<BYTE, 256>& keys)
{
    WPARAM flags = 0;
    flags |= (keys[VK_LBUTTON] & 0x80) != 0 ? MK_LBUTTON : 0;
    flags |= (keys[VK_RBUTTON] & 0x80) != 0 ? MK_RBUTTON : 0;
    flags |= (keys[VK_MBUTTON] & 0x80) != 0 ? MK_MBUTTON : 0;
    flags |= (keys[VK_SHIFT] & 0x80) != 0 ? MK_SHIFT : 0;
    flags |= (keys[VK_CONTROL] & 0x80) != 0 ? MK_CONTROL : 0;
    return flags;
}

// The client point as two signed 16-bit halves: negative left of or above the client area.
LPARAM ClientPointParam(Model& model, const WindowObject& window, POINT screen)
{
    const POINT origin = ClientOrigin(model, window);
    return MAKELPARAM(screen.x - origin.x, screen.y - origin.y);
}

bool Accepts(const WindowObject* window)
{
    return window != nullptr && (window->style & WS_DISABLED) == 0;
}

// Lock held.
void Enqueue(Model& model, WindowObject& target, UINT message, WPARAM wParam, LPARAM lParam,
             POINT screen, std::u16string characters = {})
{
    ThreadQueue& queue = QueueOf(model, target.thread);
    const MSG msg{target.handle, message, wParam, lParam, static_cast<DWORD>(Now()), screen};
    // Moves coalesce: only the latest waiting move of a window is kept.
    if (message == WM_MOUSEMOVE && !queue.input.empty() &&
        queue.input.back().message.message == WM_MOUSEMOVE &&
        queue.input.back().message.hwnd == target.handle) {
        queue.input.back() = QueuedInput{msg, model.keys, {}};
    } else {
        queue.input.push_back(QueuedInput{msg, model.keys, std::move(characters)});
    }
    WakeThread(model, target.thread);
}

WindowObject* MouseTarget(Model& model, POINT screen)
{
    if (model.capture != nullptr) {
        return Find(model, model.capture);
    }
    WindowObject* under = Find(model, WindowAtLocked(model, screen));
    return Accepts(under) ? under : nullptr;
}

}  // namespace

namespace Win32Detail {

void Activate(HWND window, WORD how)
{
    Model& model = TheModel();
    HWND previous = nullptr;
    BOOL iconic = FALSE;
    {
        std::lock_guard guard(model.lock);
        WindowObject* object = Find(model, window);
        if (object == nullptr || model.active == window) {
            return;
        }
        previous = model.active;
        model.active = window;
        iconic = object->iconic ? TRUE : FALSE;
        if (model.backend != nullptr) {
            model.backend->Activated(*object);
        }
    }
    if (previous != nullptr && IsWindow(previous)) {
        SystemSend(previous, WM_NCACTIVATE, FALSE, 0);
        SystemSend(previous, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, IsIconic(previous)),
                   reinterpret_cast<LPARAM>(window));
    }
    SystemSend(window, WM_NCACTIVATE, TRUE, 0);
    SystemSend(window, WM_ACTIVATE, MAKEWPARAM(how, iconic), reinterpret_cast<LPARAM>(previous));
    // The focus lies in the active window or nowhere.
    HWND focus = nullptr;
    {
        std::lock_guard guard(model.lock);
        focus = model.focus;
        if (focus != nullptr && InSubtree(model, window, focus)) {
            focus = nullptr;
        }
    }
    if (focus != nullptr) {
        SetFocus(nullptr);
    }
}

void DeactivateAll(bool toOtherProgram)
{
    Model& model = TheModel();
    HWND previous = nullptr;
    {
        std::lock_guard guard(model.lock);
        previous = model.active;
        model.active = nullptr;
    }
    if (previous != nullptr) {
        SystemSend(previous, WM_NCACTIVATE, FALSE, 0);
        SystemSend(previous, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, IsIconic(previous)), 0);
        if (toOtherProgram) {
            SystemSend(previous, WM_ACTIVATEAPP, FALSE, 0);
        }
    }
    SetFocus(nullptr);
}

void DestroyInputState(HWND window)
{
    Model& model = TheModel();
    bool capture = false;
    bool active = false;
    bool focus = false;
    HWND owner = nullptr;
    {
        std::lock_guard guard(model.lock);
        capture = model.capture != nullptr && InSubtree(model, window, model.capture);
        active = model.active == window;
        focus = model.focus != nullptr && InSubtree(model, window, model.focus);
        if (WindowObject* object = Find(model, window)) {
            owner = object->owner;
        }
        if (model.clickWindow != nullptr && InSubtree(model, window, model.clickWindow)) {
            model.clickWindow = nullptr;
        }
    }
    if (capture) {
        ReleaseCapture();
    }
    if (active) {
        DeactivateAll();
        if (owner != nullptr && IsWindowVisible(owner)) {
            Activate(owner, WA_ACTIVE);
        }
    } else if (focus) {
        SetFocus(nullptr);
    }
}

void InputMouseMove(POINT screen)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    model.cursorPosition = screen;
    if (WindowObject* target = MouseTarget(model, screen)) {
        Enqueue(model, *target, WM_MOUSEMOVE, MouseKeyFlags(model.keys),
                ClientPointParam(model, *target, screen), screen);
    }
}

void InputMouseButton(int button, bool down, POINT screen)
{
    static constexpr int kKeys[] = {VK_LBUTTON, VK_RBUTTON, VK_MBUTTON};
    static constexpr UINT kDown[] = {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN};
    if (button < 0 || button > 2) {
        return;
    }
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    model.cursorPosition = screen;
    SetKey(model.keys, kKeys[button], down);
    WindowObject* target = MouseTarget(model, screen);
    if (target == nullptr) {
        return;
    }
    UINT message = down ? kDown[button] : kDown[button] + 1;
    if (down) {
        const auto now = static_cast<DWORD>(Now());
        const bool again = (target->windowClass->style & CS_DBLCLKS) != 0 &&
                           model.clickWindow == target->handle &&
                           model.clickButton == static_cast<UINT>(button) &&
                           !model.clickWasDouble && now - model.clickTime <= kDoubleClickTime &&
                           std::abs(screen.x - model.clickPoint.x) <= kDoubleClickDistance &&
                           std::abs(screen.y - model.clickPoint.y) <= kDoubleClickDistance;
        if (again) {
            message = kDown[button] + 2;
        }
        model.clickWasDouble = again;
        model.clickWindow = target->handle;
        model.clickButton = static_cast<UINT>(button);
        model.clickTime = now;
        model.clickPoint = screen;
    }
    Enqueue(model, *target, message, MouseKeyFlags(model.keys),
            ClientPointParam(model, *target, screen), screen);
}

void InputWheel(int delta, bool horizontal, POINT screen)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    model.cursorPosition = screen;
    WindowObject* target = MouseTarget(model, screen);
    if (target == nullptr) {
        target = Find(model, model.focus);
    }
    if (!Accepts(target)) {
        return;
    }
    Enqueue(model, *target, horizontal ? WM_MOUSEHWHEEL : WM_MOUSEWHEEL,
            MAKEWPARAM(MouseKeyFlags(model.keys), delta), MAKELPARAM(screen.x, screen.y), screen);
}

void InputKey(int virtualKey, bool down, WORD scanCode, const std::u16string& characters)
{
    // A key without a virtual key (0) still reaches the window, as Windows delivers it.
    if (virtualKey < 0 || virtualKey > 0xFE) {
        return;
    }
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    const int generic = GenericKey(virtualKey);
    const bool wasDown = virtualKey != 0 && (model.keys[virtualKey] & 0x80) != 0;
    if (virtualKey != 0) {
        SetKey(model.keys, virtualKey, down);
    }
    if (generic != virtualKey) {
        const int other = virtualKey == VK_LSHIFT     ? VK_RSHIFT
                          : virtualKey == VK_RSHIFT   ? VK_LSHIFT
                          : virtualKey == VK_LCONTROL ? VK_RCONTROL
                          : virtualKey == VK_RCONTROL ? VK_LCONTROL
                          : virtualKey == VK_LMENU    ? VK_RMENU
                                                      : VK_LMENU;
        SetKey(model.keys, generic, down || (model.keys[other] & 0x80) != 0);
    }
    const bool alt = (model.keys[VK_MENU] & 0x80) != 0 || generic == VK_MENU;
    const bool ctrl = (model.keys[VK_CONTROL] & 0x80) != 0;
    const bool system = (alt && !ctrl) || generic == VK_F10;
    WindowObject* target = Find(model, model.focus != nullptr ? model.focus : model.active);
    if (!Accepts(target)) {
        return;
    }
    const UINT message =
        system ? (down ? WM_SYSKEYDOWN : WM_SYSKEYUP) : (down ? WM_KEYDOWN : WM_KEYUP);
    const auto flags =
        static_cast<DWORD>(1u | (static_cast<DWORD>(scanCode & 0xFF) << 16) |
                           (IsExtendedKey(virtualKey) ? 1u << 24 : 0u) | (alt ? 1u << 29 : 0u) |
                           (wasDown ? 1u << 30 : 0u) | (down ? 0u : 1u << 31));
    Enqueue(model, *target, message, static_cast<WPARAM>(generic), static_cast<LPARAM>(flags),
            model.cursorPosition, down ? characters : std::u16string());
}

void ReplaceKeyState(const std::array<BYTE, 256>& keys)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    model.keys = keys;
    for (auto& [thread, queue] : model.queues) {
        queue->keys = keys;
    }
}

}  // namespace Win32Detail

HWND WINAPI SetCapture(HWND window)
{
    Model& model = TheModel();
    HWND previous = nullptr;
    {
        std::lock_guard guard(model.lock);
        WindowObject* object = Find(model, window);
        if (object == nullptr) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        previous = model.capture;
        model.capture = window;
        if (model.backend != nullptr) {
            const WindowObject* top = Find(model, TopLevelOf(model, window));
            model.backend->CaptureChanged(window, top != nullptr ? top->native : 0);
        }
    }
    if (previous != nullptr && previous != window) {
        SystemSend(previous, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(window));
    }
    return previous;
}

BOOL WINAPI ReleaseCapture()
{
    Model& model = TheModel();
    HWND previous = nullptr;
    {
        std::lock_guard guard(model.lock);
        previous = model.capture;
        model.capture = nullptr;
        if (model.backend != nullptr && previous != nullptr) {
            model.backend->CaptureChanged(nullptr, 0);
        }
    }
    if (previous != nullptr) {
        SystemSend(previous, WM_CAPTURECHANGED, 0, 0);
    }
    return TRUE;
}

HWND WINAPI GetCapture()
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    return model.capture;
}

HWND WINAPI SetFocus(HWND window)
{
    Model& model = TheModel();
    HWND top = nullptr;
    HWND before = nullptr;  // activation may move the focus already: the caller is told this one
    {
        std::lock_guard guard(model.lock);
        before = model.focus;
        if (window != nullptr && Find(model, window) == nullptr) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        if (window != nullptr) {
            top = TopLevelOf(model, window);
            if (model.active == top) {
                top = nullptr;
            }
        }
    }
    if (top != nullptr) {
        Activate(top, WA_ACTIVE);
    }
    HWND previous = nullptr;
    {
        std::lock_guard guard(model.lock);
        previous = model.focus;
        if (previous == window || (window != nullptr && Find(model, window) == nullptr)) {
            return before;
        }
        model.focus = window;
    }
    if (previous != nullptr && IsWindow(previous)) {
        SystemSend(previous, WM_KILLFOCUS, reinterpret_cast<WPARAM>(window), 0);
    }
    if (window != nullptr && GetFocus() == window) {
        SystemSend(window, WM_SETFOCUS, reinterpret_cast<WPARAM>(previous), 0);
    }
    return before;
}

HWND WINAPI GetFocus()
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    return model.focus;
}

HWND WINAPI GetActiveWindow()
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    return model.active;
}

HWND WINAPI SetActiveWindow(HWND window)
{
    const HWND previous = GetActiveWindow();
    if (!IsWindow(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    Activate(window, WA_ACTIVE);
    return previous;
}

HWND WINAPI GetForegroundWindow()
{
    return GetActiveWindow();
}

BOOL WINAPI SetForegroundWindow(HWND window)
{
    if (!IsWindow(window)) {
        return FALSE;
    }
    Activate(GetAncestor(window, GA_ROOT), WA_ACTIVE);
    return TRUE;
}

SHORT WINAPI GetKeyState(int virtualKey)
{
    if (virtualKey < 0 || virtualKey > 0xFF) {
        return 0;
    }
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    const BYTE state = QueueOf(model, GetCurrentThreadId()).keys[virtualKey];
    return static_cast<SHORT>(((state & 0x80) != 0 ? 0x8000 : 0) | (state & 0x01));
}

SHORT WINAPI GetAsyncKeyState(int virtualKey)
{
    if (virtualKey < 0 || virtualKey > 0xFF) {
        return 0;
    }
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    return static_cast<SHORT>((model.keys[virtualKey] & 0x80) != 0 ? 0x8000 : 0);
}

BOOL WINAPI GetCursorPos(POINT* point)
{
    if (point == nullptr) {
        return FALSE;
    }
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    *point = model.cursorPosition;
    return TRUE;
}

BOOL WINAPI SetCursorPos(int x, int y)
{
    Model& model = TheModel();
    {
        std::lock_guard guard(model.lock);
        if (model.backend != nullptr) {
            // The display reports the move back as pointer motion.
            model.backend->WarpPointer(POINT{x, y});
            return TRUE;
        }
    }
    InputMouseMove(POINT{x, y});
    return TRUE;
}

UINT WINAPI GetDoubleClickTime()
{
    return kDoubleClickTime;
}
