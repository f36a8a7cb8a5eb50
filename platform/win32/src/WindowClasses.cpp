// Window classes and cursors.

#include <algorithm>

#include "WindowModel.h"
#include "win32/LastError.h"
#include "win32/Resources.h"

using namespace Win32Detail;

namespace {

std::u16string Fold(std::u16string_view name)
{
    std::u16string folded(name);
    for (char16_t& c : folded) {
        if (c >= u'a' && c <= u'z') {
            c = static_cast<char16_t>(c - u'a' + u'A');
        }
    }
    return folded;
}

// A class name, or the atom that RegisterClassW gave as MAKEINTATOM.
std::shared_ptr<WindowClass> FindClass(Model& model, LPCWSTR name)
{
    if (name == nullptr) {
        return nullptr;
    }
    if (IS_INTRESOURCE(name)) {
        const auto atom = static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(name));
        for (const auto& c : model.classes) {
            if (c->atom == atom) {
                return c;
            }
        }
        return nullptr;
    }
    const std::u16string folded = Fold(name);
    for (const auto& c : model.classes) {
        if (c->folded == folded) {
            return c;
        }
    }
    return nullptr;
}

// The system cursors, one handle each: the handle is the IDC_ number itself.
constexpr ULONG_PTR kSystemCursors[] = {32512, 32513, 32514, 32515, 32516, 32642, 32643,
                                        32644, 32645, 32646, 32648, 32649, 32650, 32651};

}  // namespace

namespace Win32Detail {

std::shared_ptr<WindowClass> LookUpClass(Model& model, LPCWSTR name)
{
    return FindClass(model, name);
}

}  // namespace Win32Detail

ATOM WINAPI RegisterClassW(const WNDCLASSW* windowClass)
{
    if (windowClass == nullptr || windowClass->lpszClassName == nullptr ||
        IS_INTRESOURCE(windowClass->lpszClassName) || windowClass->lpszClassName[0] == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    if (FindClass(model, windowClass->lpszClassName) != nullptr) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    auto created = std::make_shared<WindowClass>(WindowClass{
        .name = windowClass->lpszClassName,
        .folded = Fold(windowClass->lpszClassName),
        .style = windowClass->style,
        .procedure = windowClass->lpfnWndProc,
        .instance = windowClass->hInstance,
        .cursor = windowClass->hCursor,
        .icon = windowClass->hIcon,
        .background = windowClass->hbrBackground,
        .atom = model.nextAtom++,
    });
    model.classes.push_back(created);
    return created->atom;
}

BOOL WINAPI GetClassInfoW(HINSTANCE, LPCWSTR className, WNDCLASSW* windowClass)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    const auto found = FindClass(model, className);
    if (found == nullptr || windowClass == nullptr) {
        SetLastError(found == nullptr ? ERROR_CLASS_DOES_NOT_EXIST : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *windowClass =
        WNDCLASSW{found->style,  found->procedure,  0,       0,        found->instance, found->icon,
                  found->cursor, found->background, nullptr, className};
    return TRUE;
}

BOOL WINAPI UnregisterClassW(LPCWSTR className, HINSTANCE)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    const auto found = FindClass(model, className);
    if (found == nullptr) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    for (const auto& [handle, window] : model.windows) {
        if (window->windowClass == found) {
            SetLastError(ERROR_ACCESS_DENIED);  // a window of the class still exists
            return FALSE;
        }
    }
    std::erase(model.classes, found);
    return TRUE;
}

DWORD WINAPI SetClassLongW(HWND window, int index, LONG value)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    WindowObject* object = Find(model, window);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (index != GCL_HCURSOR) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // Cursors are small numbers (see LoadCursorW), so they pass through a LONG unharmed.
    const HCURSOR previous = object->windowClass->cursor;
    object->windowClass->cursor =
        reinterpret_cast<HCURSOR>(static_cast<ULONG_PTR>(static_cast<DWORD>(value)));
    return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(previous));
}

ULONG_PTR WINAPI GetClassLongPtrW(HWND window, int index)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    WindowObject* object = Find(model, window);
    if (object == nullptr || index != GCL_HCURSOR) {
        SetLastError(object == nullptr ? ERROR_INVALID_WINDOW_HANDLE : ERROR_INVALID_PARAMETER);
        return 0;
    }
    return reinterpret_cast<ULONG_PTR>(object->windowClass->cursor);
}

int WINAPI GetClassNameW(HWND window, LPWSTR name, int capacity)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    WindowObject* object = Find(model, window);
    if (object == nullptr || name == nullptr || capacity <= 0) {
        SetLastError(object == nullptr ? ERROR_INVALID_WINDOW_HANDLE : ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::u16string& text = object->windowClass->name;
    const size_t count = std::min(text.size(), static_cast<size_t>(capacity - 1));
    std::copy_n(text.begin(), count, name);
    name[count] = 0;
    return static_cast<int>(count);
}

HCURSOR WINAPI LoadCursorW(HINSTANCE instance, LPCWSTR name)
{
    if (instance == nullptr && IS_INTRESOURCE(name)) {
        const ULONG_PTR id = reinterpret_cast<ULONG_PTR>(name);
        if (std::find(std::begin(kSystemCursors), std::end(kSystemCursors), id) !=
            std::end(kSystemCursors)) {
            return reinterpret_cast<HCURSOR>(id);
        }
    }
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}

HCURSOR WINAPI SetCursor(HCURSOR cursor)
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    const HCURSOR previous = model.cursor;
    model.cursor = cursor;
    if (model.backend != nullptr && previous != cursor) {
        model.backend->CursorChanged(cursor);
    }
    return previous;
}

HCURSOR WINAPI GetCursor()
{
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    return model.cursor;
}
