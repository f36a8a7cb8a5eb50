// Update regions: what a window must paint again.

#include "WindowModel.h"
#include "win32/LastError.h"

using namespace Win32Detail;

namespace Win32Detail {

void InvalidateLocked(Model& model, WindowObject& window, const RECT* rect)
{
    // A hidden window has nothing to paint: showing it invalidates it whole.
    if (!IsShownOnScreen(model, window)) {
        return;
    }
    const RECT client{0, 0, window.surfaceWidth, window.surfaceHeight};
    window.update.Add(rect != nullptr ? Intersect(*rect, client) : client);
    if (!window.update.Empty()) {
        WakeThread(model, window.thread);
    }
}

}  // namespace Win32Detail

BOOL WINAPI InvalidateRect(HWND window, const RECT* rect, BOOL)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    WindowObject* object = Find(model, window);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    InvalidateLocked(model, *object, rect);
    return TRUE;
}

BOOL WINAPI ValidateRect(HWND window, const RECT* rect)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    WindowObject* object = Find(model, window);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (rect == nullptr) {
        object->update.Clear();
    } else {
        object->update.Subtract(*rect);
    }
    return TRUE;
}

BOOL WINAPI GetUpdateRect(HWND window, RECT* rect, BOOL)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    WindowObject* object = Find(model, window);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (rect != nullptr) {
        *rect = object->update.Bounds();
    }
    return object->update.Empty() ? FALSE : TRUE;
}

BOOL WINAPI RedrawWindow(HWND window, const RECT* rect, void*, UINT flags)
{
    std::vector<HWND> painted;
    {
        Model& model = TheModel();
        std::lock_guard guard(model.lock);
        WindowObject* object = Find(model, window);
        if (object == nullptr) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if ((flags & RDW_INVALIDATE) != 0) {
            InvalidateLocked(model, *object, rect);
        } else if ((flags & RDW_VALIDATE) != 0) {
            if (rect == nullptr) {
                object->update.Clear();
            } else {
                object->update.Subtract(*rect);
            }
        }
        painted.push_back(window);
        if ((flags & RDW_ALLCHILDREN) != 0) {
            for (size_t i = 0; i < painted.size(); ++i) {
                for (const auto& [key, other] : model.windows) {
                    if ((other->style & WS_CHILD) != 0 && other->parent == painted[i]) {
                        painted.push_back(other->handle);
                    }
                }
            }
        }
    }
    if ((flags & RDW_UPDATENOW) != 0) {
        for (HWND each : painted) {
            UpdateWindow(each);
        }
    }
    return TRUE;
}

BOOL WINAPI UpdateWindow(HWND window)
{
    if (!IsWindow(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (GetUpdateRect(window, nullptr, FALSE)) {
        SystemSend(window, WM_PAINT, 0, 0);
    }
    return TRUE;
}
