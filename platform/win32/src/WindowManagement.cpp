// Creating, placing, showing and destroying windows.

#include <algorithm>

#include "Utf16.h"
#include "WindowModel.h"
#include "win32/LastError.h"
#include "win32/Resources.h"

using namespace Win32Detail;

namespace {

constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 480;

bool IsTopLevel(const WindowObject& window)
{
    return (window.style & WS_CHILD) == 0;
}

// Lock held. Front of its band: topmost windows stay above the others.
void PlaceInZOrder(Model& model, HWND window, bool front)
{
    std::erase(model.zOrder, window);
    WindowObject* object = Find(model, window);
    const bool topmost = (object->exStyle & WS_EX_TOPMOST) != 0;
    auto firstPlain = std::find_if(model.zOrder.begin(), model.zOrder.end(), [&](HWND other) {
        return (Find(model, other)->exStyle & WS_EX_TOPMOST) == 0;
    });
    if (topmost) {
        model.zOrder.insert(front ? model.zOrder.begin() : firstPlain, window);
    } else {
        model.zOrder.insert(front ? firstPlain : model.zOrder.end(), window);
    }
}

LPARAM ClientOriginParam(Model& model, const WindowObject& window)
{
    POINT origin = ClientOrigin(model, window);
    if (!IsTopLevel(window)) {
        if (const WindowObject* parent = Find(model, window.parent)) {
            const POINT parentOrigin = ClientOrigin(model, *parent);
            origin.x -= parentOrigin.x;
            origin.y -= parentOrigin.y;
        }
    }
    return MAKELPARAM(origin.x, origin.y);
}

// The windows under `root`, the root first, parents before their children.
std::vector<HWND> Subtree(Model& model, HWND root)
{
    std::vector<HWND> out{root};
    for (size_t i = 0; i < out.size(); ++i) {
        for (const auto& [key, window] : model.windows) {
            if ((window->style & WS_CHILD) != 0 && window->parent == out[i]) {
                out.push_back(window->handle);
            }
        }
    }
    return out;
}

std::vector<HWND> ChildrenOf(Model& model, HWND parent)
{
    std::vector<HWND> out;
    for (const auto& [key, window] : model.windows) {
        if ((window->style & WS_CHILD) != 0 && window->parent == parent) {
            out.push_back(window->handle);
        }
    }
    return out;
}

void SendDestroyMessages(HWND window)
{
    SystemSend(window, WM_DESTROY, 0, 0);
    std::vector<HWND> children;
    {
        Model& model = TheModel();
        std::lock_guard guard(model.lock);
        children = ChildrenOf(model, window);
    }
    for (HWND child : children) {
        SendDestroyMessages(child);
    }
    SystemSend(window, WM_NCDESTROY, 0, 0);
}

bool DestroyTree(HWND window, bool anyThread)
{
    Model& model = TheModel();
    std::vector<HWND> owned;
    {
        std::lock_guard guard(model.lock);
        WindowObject* object = Find(model, window);
        if (object == nullptr) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return false;
        }
        if (!anyThread && object->thread != GetCurrentThreadId()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
        if (object->destroying) {
            return true;
        }
        for (HWND member : Subtree(model, window)) {
            Find(model, member)->destroying = true;
        }
        for (const auto& [key, other] : model.windows) {
            if (IsTopLevel(*other) && other->owner == window) {
                owned.push_back(other->handle);
            }
        }
    }
    for (HWND other : owned) {
        DestroyTree(other, true);
    }
    {
        std::lock_guard guard(model.lock);
        if (WindowObject* object = Find(model, window)) {
            object->visible = false;
            object->style &= ~WS_VISIBLE;
            if (model.backend != nullptr && IsTopLevel(*object)) {
                model.backend->Shown(*object);
            }
        }
    }
    DestroyInputState(window);
    SendDestroyMessages(window);

    std::lock_guard guard(model.lock);
    for (HWND member : Subtree(model, window)) {
        WindowObject* object = Find(model, member);
        if (object == nullptr) {
            continue;
        }
        // What waits for it goes with it: its posted and input messages and its timers.
        for (auto& [thread, queue] : model.queues) {
            std::erase_if(queue->posted, [&](const MSG& m) { return m.hwnd == member; });
            std::erase_if(queue->input,
                          [&](const QueuedInput& m) { return m.message.hwnd == member; });
            std::erase_if(queue->timers, [&](const Timer& t) { return t.window == member; });
        }
        for (auto it = model.deviceContexts.begin(); it != model.deviceContexts.end();) {
            if ((*it)->window == member) {
                delete *it;
                it = model.deviceContexts.erase(it);
            } else {
                ++it;
            }
        }
        if (model.backend != nullptr && IsTopLevel(*object)) {
            model.backend->Destroyed(*object);
        }
        if (model.clickWindow == member) {
            model.clickWindow = nullptr;
        }
        std::erase(model.zOrder, member);
        model.windows.erase(reinterpret_cast<uintptr_t>(member));
    }
    return true;
}

// Sends WM_MOVE and WM_SIZE when the client area moved or changed size (WM_SIZE first for a
// window being created).
void ReportPlacement(HWND window, bool moved, bool sized, bool creating = false)
{
    Model& model = TheModel();
    LPARAM origin = 0;
    LPARAM size = 0;
    WPARAM kind = SIZE_RESTORED;
    {
        std::lock_guard guard(model.lock);
        WindowObject* object = Find(model, window);
        if (object == nullptr) {
            return;
        }
        origin = ClientOriginParam(model, *object);
        size = MAKELPARAM(ClientWidth(model, *object), ClientHeight(model, *object));
        kind = object->iconic ? SIZE_MINIMIZED : object->zoomed ? SIZE_MAXIMIZED : SIZE_RESTORED;
    }
    if (creating) {
        SystemSend(window, WM_SIZE, kind, size);
        SystemSend(window, WM_MOVE, 0, origin);
        return;
    }
    if (moved) {
        SystemSend(window, WM_MOVE, 0, origin);
    }
    if (sized) {
        SystemSend(window, WM_SIZE, kind, size);
    }
}

// Lock held: the window takes `rect`; what changed in the client area is invalidated.
void PlaceLocked(Model& model, WindowObject& object, const RECT& rect, bool* moved, bool* sized)
{
    const POINT oldOrigin = ClientOrigin(model, object);
    // The surface has the size the client area had.
    const int oldWidth = object.surfaceWidth;
    const int oldHeight = object.surfaceHeight;
    object.rect = rect;
    FollowClientSize(model, object);
    const POINT newOrigin = ClientOrigin(model, object);
    const int width = ClientWidth(model, object);
    const int height = ClientHeight(model, object);
    *moved = oldOrigin.x != newOrigin.x || oldOrigin.y != newOrigin.y;
    *sized = oldWidth != width || oldHeight != height;
    if (*sized && object.visible) {
        const UINT classStyle = object.windowClass->style;
        if (((classStyle & CS_HREDRAW) != 0 && width != oldWidth) ||
            ((classStyle & CS_VREDRAW) != 0 && height != oldHeight)) {
            InvalidateLocked(model, object, nullptr);
        } else {
            const RECT right{oldWidth, 0, width, height};
            const RECT below{0, oldHeight, width, height};
            InvalidateLocked(model, object, &right);
            InvalidateLocked(model, object, &below);
        }
    }
    if (model.backend != nullptr && IsTopLevel(object)) {
        model.backend->Placed(object);
    }
}

bool IsActivatingShow(int command)
{
    return command == SW_SHOWNORMAL || command == SW_SHOW || command == SW_RESTORE ||
           command == SW_SHOWMAXIMIZED || command == SW_SHOWMINIMIZED;
}

}  // namespace

namespace Win32Detail {

void RunCreationHooks(HWND window);

bool DestroyAnyThread(HWND window)
{
    return DestroyTree(window, true);
}

}  // namespace Win32Detail

HWND WINAPI CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style,
                            int x, int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID parameter)
{
    ChooseBackend();
    Model& model = TheModel();
    HWND handle = nullptr;
    {
        std::lock_guard guard(model.lock);
        auto windowClass = LookUpClass(model, className);
        if (windowClass == nullptr) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        const bool child = (style & WS_CHILD) != 0;
        if ((child || parent != nullptr) && parent != DesktopHandle() &&
            Find(model, parent) == nullptr) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        if (child && (parent == nullptr || parent == DesktopHandle())) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        if (x == CW_USEDEFAULT) {
            x = model.workArea.left;
            y = model.workArea.top;
        }
        if (width == CW_USEDEFAULT) {
            width = kDefaultWidth;
            height = kDefaultHeight;
        }
        auto object = std::make_unique<WindowObject>();
        handle = reinterpret_cast<HWND>(model.nextHandle);
        model.nextHandle += 4;
        object->handle = handle;
        object->thread = GetCurrentThreadId();
        object->windowClass = windowClass;
        object->procedure = windowClass->procedure;
        object->style = style & ~(WS_VISIBLE | WS_MINIMIZE | WS_MAXIMIZE);
        object->exStyle = exStyle;
        object->parent = child ? parent : nullptr;
        object->owner = !child && parent != nullptr && parent != DesktopHandle()
                            ? TopLevelOf(model, parent)
                            : nullptr;
        object->id = child ? reinterpret_cast<LONG_PTR>(menu) : 0;
        object->instance = instance;
        object->rect = RECT{x, y, x + std::max(width, 0), y + std::max(height, 0)};
        object->normalRect = object->rect;
        object->title = std::u16string(Win32Internal::TerminatedView(windowName));
        WindowObject& created = *object;
        model.windows.emplace(reinterpret_cast<uintptr_t>(handle), std::move(object));
        QueueOf(model, created.thread);
        FollowClientSize(model, created);
        if (!child) {
            PlaceInZOrder(model, handle, true);
            if (model.backend != nullptr) {
                model.backend->Created(created);
            }
        }
    }
    RunCreationHooks(handle);
    CREATESTRUCTW create{
        parameter,  instance,  menu,   parent, height, width, y, x, static_cast<LONG>(style),
        windowName, className, exStyle};
    if (SystemSend(handle, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create)) == 0 ||
        SystemSend(handle, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
        DestroyTree(handle, true);
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!IsWindow(handle)) {
        return nullptr;
    }
    ReportPlacement(handle, true, true, true);
    if ((style & WS_VISIBLE) != 0) {
        ShowWindow(handle, (style & WS_MINIMIZE) != 0   ? SW_SHOWMINIMIZED
                           : (style & WS_MAXIMIZE) != 0 ? SW_SHOWMAXIMIZED
                                                        : SW_SHOW);
    }
    return IsWindow(handle) ? handle : nullptr;
}

BOOL WINAPI DestroyWindow(HWND window)
{
    return DestroyTree(window, false) ? TRUE : FALSE;
}

BOOL WINAPI IsWindow(HWND window)
{
    if (window == DesktopHandle()) {
        return TRUE;
    }
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    return Find(model, window) != nullptr ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND window)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    const WindowObject* object = Find(model, window);
    while (object != nullptr) {
        if (!object->visible) {
            return FALSE;
        }
        if (IsTopLevel(*object)) {
            return TRUE;
        }
        object = Find(model, object->parent);
    }
    return FALSE;
}

BOOL WINAPI IsWindowEnabled(HWND window)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    const WindowObject* object = Find(model, window);
    return object != nullptr && (object->style & WS_DISABLED) == 0 ? TRUE : FALSE;
}

BOOL WINAPI IsIconic(HWND window)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    const WindowObject* object = Find(model, window);
    return object != nullptr && object->iconic ? TRUE : FALSE;
}

BOOL WINAPI IsZoomed(HWND window)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    const WindowObject* object = Find(model, window);
    return object != nullptr && object->zoomed ? TRUE : FALSE;
}

BOOL WINAPI IsChild(HWND parent, HWND window)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    const WindowObject* object = Find(model, window);
    while (object != nullptr && !IsTopLevel(*object)) {
        if (object->parent == parent) {
            return TRUE;
        }
        object = Find(model, object->parent);
    }
    return FALSE;
}

HWND WINAPI GetDesktopWindow()
{
    return DesktopHandle();
}

HWND WINAPI GetAncestor(HWND window, UINT flags)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    const WindowObject* object = Find(model, window);
    if (object == nullptr) {
        return nullptr;
    }
    switch (flags) {
        case GA_PARENT:
            return IsTopLevel(*object) ? DesktopHandle() : object->parent;
        case GA_ROOT:
            return TopLevelOf(model, window);
        case GA_ROOTOWNER: {
            HWND root = TopLevelOf(model, window);
            while (const WindowObject* top = Find(model, root)) {
                if (top->owner == nullptr) {
                    break;
                }
                root = top->owner;
            }
            return root;
        }
        default:
            return nullptr;
    }
}

HWND WINAPI GetParent(HWND window)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    const WindowObject* object = Find(model, window);
    if (object == nullptr) {
        return nullptr;
    }
    return IsTopLevel(*object) ? object->owner : object->parent;
}

DWORD WINAPI GetWindowThreadProcessId(HWND window, DWORD* processId)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    const WindowObject* object = Find(model, window);
    if (object == nullptr) {
        return 0;
    }
    if (processId != nullptr) {
        *processId = 1;
    }
    return object->thread;
}

LONG_PTR WINAPI GetWindowLongPtrW(HWND window, int index)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    const WindowObject* object = Find(model, window);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    switch (index) {
        case GWLP_WNDPROC:
            return reinterpret_cast<LONG_PTR>(object->procedure);
        case GWLP_HINSTANCE:
            return reinterpret_cast<LONG_PTR>(object->instance);
        case GWLP_ID:
            return object->id;
        case GWL_STYLE:
            return static_cast<LONG_PTR>(object->style | (object->visible ? WS_VISIBLE : 0) |
                                         (object->iconic ? WS_MINIMIZE : 0) |
                                         (object->zoomed ? WS_MAXIMIZE : 0));
        case GWL_EXSTYLE:
            return static_cast<LONG_PTR>(object->exStyle);
        case GWLP_USERDATA:
            return object->userData;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
    }
}

LONG_PTR WINAPI SetWindowLongPtrW(HWND window, int index, LONG_PTR value)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    WindowObject* object = Find(model, window);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    LONG_PTR previous = 0;
    switch (index) {
        case GWLP_WNDPROC:
            previous = reinterpret_cast<LONG_PTR>(object->procedure);
            object->procedure = reinterpret_cast<WNDPROC>(value);
            return previous;
        case GWLP_ID:
            previous = object->id;
            object->id = value;
            return previous;
        case GWL_STYLE:
            // Visibility and the minimised and maximised states change only by ShowWindow.
            previous = static_cast<LONG_PTR>(object->style);
            object->style = static_cast<DWORD>(value) & ~(WS_VISIBLE | WS_MINIMIZE | WS_MAXIMIZE);
            return previous;
        case GWL_EXSTYLE:
            previous = static_cast<LONG_PTR>(object->exStyle);
            object->exStyle = static_cast<DWORD>(value);
            return previous;
        case GWLP_USERDATA:
            previous = object->userData;
            object->userData = value;
            return previous;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
    }
}

LRESULT WINAPI CallWindowProcW(WNDPROC procedure, HWND window, UINT message, WPARAM wParam,
                               LPARAM lParam)
{
    return procedure != nullptr ? procedure(window, message, wParam, lParam) : 0;
}

BOOL WINAPI SetWindowTextW(HWND window, LPCWSTR text)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    WindowObject* object = Find(model, window);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    object->title = std::u16string(Win32Internal::TerminatedView(text));
    if (model.backend != nullptr && IsTopLevel(*object)) {
        model.backend->Titled(*object);
    }
    return TRUE;
}

int WINAPI GetWindowTextW(HWND window, LPWSTR text, int capacity)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    const WindowObject* object = Find(model, window);
    if (object == nullptr || text == nullptr || capacity <= 0) {
        return 0;
    }
    const size_t count = std::min(object->title.size(), static_cast<size_t>(capacity - 1));
    std::copy_n(object->title.begin(), count, text);
    text[count] = 0;
    return static_cast<int>(count);
}

int WINAPI GetWindowTextLengthW(HWND window)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    const WindowObject* object = Find(model, window);
    return object != nullptr ? static_cast<int>(object->title.size()) : 0;
}

BOOL WINAPI ShowWindow(HWND window, int command)
{
    Model& model = TheModel();
    bool wasVisible = false;
    bool topLevel = false;
    bool moved = false;
    bool sized = false;
    bool deactivate = false;
    {
        std::lock_guard guard(model.lock);
        WindowObject* object = Find(model, window);
        if (object == nullptr) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        wasVisible = object->visible;
        topLevel = IsTopLevel(*object);
        if (command == SW_HIDE) {
            if (!wasVisible) {
                return FALSE;
            }
            deactivate = model.active == window;
        } else {
            const bool minimise = command == SW_MINIMIZE || command == SW_SHOWMINIMIZED ||
                                  command == SW_SHOWMINNOACTIVE;
            const bool maximise = command == SW_SHOWMAXIMIZED;
            const bool restore = command == SW_RESTORE || command == SW_SHOWNORMAL;
            if (minimise && !object->iconic) {
                const POINT oldOrigin = ClientOrigin(model, *object);
                object->iconic = true;
                FollowClientSize(model, *object);
                sized = true;
                moved = oldOrigin.x != ClientOrigin(model, *object).x;
                deactivate = command == SW_MINIMIZE && model.active == window;
            } else if (maximise && !object->zoomed && topLevel) {
                object->iconic = false;
                object->zoomed = true;
                PlaceLocked(model, *object, model.workArea, &moved, &sized);
                sized = true;
            } else if (restore && (object->iconic || object->zoomed)) {
                object->iconic = false;
                object->zoomed = false;
                PlaceLocked(model, *object, object->normalRect, &moved, &sized);
                sized = true;
            }
        }
    }
    if (command == SW_HIDE) {
        SystemSend(window, WM_SHOWWINDOW, FALSE, 0);
        {
            std::lock_guard guard(model.lock);
            if (WindowObject* object = Find(model, window)) {
                object->visible = false;
                if (model.backend != nullptr && topLevel) {
                    model.backend->Shown(*object);
                }
            }
        }
        if (deactivate) {
            DeactivateAll();
        }
        return wasVisible ? TRUE : FALSE;
    }
    if (!wasVisible) {
        SystemSend(window, WM_SHOWWINDOW, TRUE, 0);
        std::lock_guard guard(model.lock);
        if (WindowObject* object = Find(model, window)) {
            object->visible = true;
            InvalidateLocked(model, *object, nullptr);
            if (model.backend != nullptr && topLevel) {
                model.backend->Shown(*object);
            }
        }
    }
    ReportPlacement(window, moved, sized);
    if (deactivate) {
        DeactivateAll();
    } else if (topLevel && IsActivatingShow(command) && IsWindow(window)) {
        Activate(window, WA_ACTIVE);
    }
    return wasVisible ? TRUE : FALSE;
}

BOOL WINAPI EnableWindow(HWND window, BOOL enable)
{
    Model& model = TheModel();
    bool wasDisabled = false;
    bool loseFocus = false;
    {
        std::lock_guard guard(model.lock);
        WindowObject* object = Find(model, window);
        if (object == nullptr) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        wasDisabled = (object->style & WS_DISABLED) != 0;
        if (wasDisabled == !enable) {
            return wasDisabled ? TRUE : FALSE;
        }
        object->style = enable ? (object->style & ~WS_DISABLED) : (object->style | WS_DISABLED);
        loseFocus = !enable && model.focus != nullptr &&
                    (model.focus == window || TopLevelOf(model, model.focus) == window);
    }
    if (loseFocus) {
        SetFocus(nullptr);
    }
    SystemSend(window, WM_ENABLE, enable ? TRUE : FALSE, 0);
    return wasDisabled ? TRUE : FALSE;
}

BOOL WINAPI SetWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height,
                         UINT flags)
{
    Model& model = TheModel();
    bool moved = false;
    bool sized = false;
    {
        std::lock_guard guard(model.lock);
        WindowObject* object = Find(model, window);
        if (object == nullptr) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if ((flags & SWP_NOZORDER) == 0 && IsTopLevel(*object)) {
            if (insertAfter == HWND_TOPMOST) {
                object->exStyle |= WS_EX_TOPMOST;
                PlaceInZOrder(model, window, true);
            } else if (insertAfter == HWND_NOTOPMOST) {
                object->exStyle &= ~WS_EX_TOPMOST;
                PlaceInZOrder(model, window, true);
            } else if (insertAfter == HWND_TOP) {
                PlaceInZOrder(model, window, true);
            } else if (insertAfter == HWND_BOTTOM) {
                PlaceInZOrder(model, window, false);
            }
            if (model.backend != nullptr) {
                model.backend->Placed(*object);
            }
        }
        if ((flags & (SWP_NOMOVE | SWP_NOSIZE)) != (SWP_NOMOVE | SWP_NOSIZE)) {
            const RECT current = object->iconic ? object->normalRect : object->rect;
            RECT wanted = current;
            if ((flags & SWP_NOMOVE) == 0) {
                wanted = RECT{x, y, x + (current.right - current.left),
                              y + (current.bottom - current.top)};
            }
            if ((flags & SWP_NOSIZE) == 0) {
                wanted.right = wanted.left + std::max(width, 0);
                wanted.bottom = wanted.top + std::max(height, 0);
            }
            if (object->iconic) {
                object->normalRect = wanted;
            } else {
                PlaceLocked(model, *object, wanted, &moved, &sized);
                if (!object->zoomed) {
                    object->normalRect = wanted;
                }
            }
        }
    }
    ReportPlacement(window, moved, sized);
    if ((flags & SWP_SHOWWINDOW) != 0) {
        ShowWindow(window, (flags & SWP_NOACTIVATE) != 0 ? SW_SHOWNA : SW_SHOW);
    } else if ((flags & SWP_HIDEWINDOW) != 0) {
        ShowWindow(window, SW_HIDE);
    }
    return TRUE;
}

BOOL WINAPI MoveWindow(HWND window, int x, int y, int width, int height, BOOL)
{
    return SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL WINAPI BringWindowToTop(HWND window)
{
    if (!SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE)) {
        return FALSE;
    }
    Model& model = TheModel();
    HWND top = nullptr;
    {
        std::lock_guard guard(model.lock);
        top = TopLevelOf(model, window);
        const WindowObject* object = Find(model, top);
        if (object == nullptr || !object->visible || model.active == top) {
            return TRUE;
        }
    }
    Activate(top, WA_ACTIVE);
    return TRUE;
}

BOOL WINAPI GetWindowRect(HWND window, RECT* rect)
{
    if (rect == nullptr) {
        return FALSE;
    }
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    if (window == DesktopHandle()) {
        *rect = model.screen;
        return TRUE;
    }
    const WindowObject* object = Find(model, window);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    *rect = WindowRectOnScreen(model, *object);
    return TRUE;
}

BOOL GetClientRect(HWND window, RECT* rect)
{
    if (rect == nullptr) {
        return FALSE;
    }
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    if (window == DesktopHandle()) {
        *rect = RECT{0, 0, model.screen.right - model.screen.left,
                     model.screen.bottom - model.screen.top};
        return TRUE;
    }
    const WindowObject* object = Find(model, window);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    *rect = RECT{0, 0, ClientWidth(model, *object), ClientHeight(model, *object)};
    return TRUE;
}

BOOL WINAPI ScreenToClient(HWND window, POINT* point)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    const WindowObject* object = Find(model, window);
    if (object == nullptr || point == nullptr) {
        return window == DesktopHandle() && point != nullptr ? TRUE : FALSE;
    }
    const POINT origin = ClientOrigin(model, *object);
    point->x -= origin.x;
    point->y -= origin.y;
    return TRUE;
}

BOOL WINAPI ClientToScreen(HWND window, POINT* point)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    const WindowObject* object = Find(model, window);
    if (object == nullptr || point == nullptr) {
        return window == DesktopHandle() && point != nullptr ? TRUE : FALSE;
    }
    const POINT origin = ClientOrigin(model, *object);
    point->x += origin.x;
    point->y += origin.y;
    return TRUE;
}

namespace Win32Detail {

HWND WindowAtLocked(Model& model, POINT point)
{
    auto contains = [&](const WindowObject& w) {
        const RECT r = WindowRectOnScreen(model, w);
        return point.x >= r.left && point.x < r.right && point.y >= r.top && point.y < r.bottom;
    };
    for (HWND top : model.zOrder) {
        const WindowObject* object = Find(model, top);
        if (object == nullptr || !object->visible || object->iconic || !contains(*object)) {
            continue;
        }
        HWND found = top;
        for (bool deeper = true; deeper;) {
            deeper = false;
            // Later children lie above earlier ones.
            const auto children = ChildrenOf(model, found);
            for (auto it = children.rbegin(); it != children.rend(); ++it) {
                const WindowObject* child = Find(model, *it);
                if (child->visible && (child->style & WS_DISABLED) == 0 && contains(*child)) {
                    found = *it;
                    deeper = true;
                    break;
                }
            }
        }
        return found;
    }
    return nullptr;
}

}  // namespace Win32Detail

HWND WINAPI WindowFromPoint(POINT point)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    return WindowAtLocked(model, point);
}

BOOL WINAPI GetWindowPlacement(HWND window, WINDOWPLACEMENT* placement)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    const WindowObject* object = Find(model, window);
    if (object == nullptr || placement == nullptr) {
        SetLastError(object == nullptr ? ERROR_INVALID_WINDOW_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Top-level windows are placed in work-area coordinates.
    const LONG dx = IsTopLevel(*object) ? model.workArea.left : 0;
    const LONG dy = IsTopLevel(*object) ? model.workArea.top : 0;
    const RECT& normal = object->normalRect;
    *placement = WINDOWPLACEMENT{
        .length = sizeof(WINDOWPLACEMENT),
        .flags = 0,
        .showCmd = static_cast<UINT>(object->iconic   ? SW_SHOWMINIMIZED
                                     : object->zoomed ? SW_SHOWMAXIMIZED
                                                      : SW_SHOWNORMAL),
        .ptMinPosition = {-1, -1},
        .ptMaxPosition = {-1, -1},
        .rcNormalPosition = {normal.left - dx, normal.top - dy, normal.right - dx,
                             normal.bottom - dy},
    };
    return TRUE;
}

BOOL WINAPI SetWindowPlacement(HWND window, const WINDOWPLACEMENT* placement)
{
    if (placement == nullptr || placement->length != sizeof(WINDOWPLACEMENT)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Model& model = TheModel();
    RECT wanted{};
    bool restored = false;
    {
        std::lock_guard guard(model.lock);
        WindowObject* object = Find(model, window);
        if (object == nullptr) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        const LONG dx = IsTopLevel(*object) ? model.workArea.left : 0;
        const LONG dy = IsTopLevel(*object) ? model.workArea.top : 0;
        const RECT& r = placement->rcNormalPosition;
        wanted = RECT{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
        object->normalRect = wanted;
        restored = !object->iconic && !object->zoomed;
    }
    if (restored) {
        SetWindowPos(window, nullptr, wanted.left, wanted.top, wanted.right - wanted.left,
                     wanted.bottom - wanted.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ShowWindow(window, static_cast<int>(placement->showCmd));
    return TRUE;
}
