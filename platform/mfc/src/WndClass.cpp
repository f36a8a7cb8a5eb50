#include <cstdio>
#include <set>
#include <string>

#include "mfc/Exceptions.h"
#include "mfc/Wnd.h"

LPCWSTR AfxRegisterWndClass(UINT classStyle, HCURSOR cursor, HBRUSH background, HICON icon)
{
    char name[128];
    std::snprintf(name, sizeof name, "Afx:%p:%x:%p:%p:%p",
                  static_cast<void*>(GetProgramModuleHandle()), classStyle,
                  static_cast<void*>(cursor), static_cast<void*>(background),
                  static_cast<void*>(icon));
    // Names live as long as the program: callers keep the pointer.
    static thread_local std::set<std::u16string> names;
    const std::u16string& stored =
        *names.insert(std::u16string(name, name + std::char_traits<char>::length(name))).first;
    WNDCLASSW windowClass{};
    if (GetClassInfoW(GetProgramModuleHandle(), stored.c_str(), &windowClass)) {
        return stored.c_str();
    }
    windowClass.style = classStyle;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetProgramModuleHandle();
    windowClass.hCursor = cursor;
    windowClass.hbrBackground = background;
    windowClass.hIcon = icon;
    windowClass.lpszClassName = stored.c_str();
    if (RegisterClassW(&windowClass) == 0) {
        AfxThrowResourceException();
    }
    return stored.c_str();
}
