// CWnd: handle maps, creation through the thread's creation hook, message routing.

#include "mfc/Wnd.h"

#include <map>
#include <memory>

#include "mfc/WinApp.h"

namespace {

// Per thread, as windows are.
thread_local std::map<HWND, CWnd*> permanent;
thread_local std::map<HWND, std::unique_ptr<CWnd>> temporary;
thread_local CWnd* creating = nullptr;
thread_local HHOOK creationHook = nullptr;
thread_local MSG current{};

}  // namespace

namespace AfxDetail {

void DeleteTemporaryWindows()
{
    for (auto& [handle, window] : temporary) {
        window->m_hWnd = nullptr;  // not ours to destroy
    }
    temporary.clear();
}

void SetCurrentMessage(const MSG& message)
{
    current = message;
}

}  // namespace AfxDetail

LRESULT CALLBACK AfxCreationHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND && creating != nullptr) {
        CWnd* window = creating;
        creating = nullptr;
        const auto handle = reinterpret_cast<HWND>(wParam);
        window->Attach(handle);
        // Subclassed: the class's procedure becomes the one Default passes messages to.
        window->m_pfnSuper = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(handle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AfxWndProc)));
    }
    return CallNextHookEx(creationHook, code, wParam, lParam);
}

LRESULT CALLBACK AfxWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWnd* object = CWnd::FromHandlePermanent(window);
    if (object == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    const MSG saved = current;
    current = MSG{window, message, wParam, lParam, 0, POINT{0, 0}};
    const LRESULT result = object->WindowProc(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        // The handler may have deleted the object already; only a still attached one is told.
        if (CWnd* still = CWnd::FromHandlePermanent(window); still == object) {
            object->Detach();
            object->PostNcDestroy();
        }
    }
    current = saved;
    return result;
}

const MSG* AfxGetCurrentMessage()
{
    return &current;
}

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

CWnd::CWnd() = default;

CWnd::~CWnd()
{
    if (m_hWnd != nullptr && permanent.count(m_hWnd) != 0 && permanent[m_hWnd] == this) {
        HWND handle = Detach();
        ::DestroyWindow(handle);
    }
}

CWnd* CWnd::FromHandle(HWND window)
{
    if (window == nullptr) {
        return nullptr;
    }
    if (CWnd* found = FromHandlePermanent(window)) {
        return found;
    }
    auto& slot = temporary[window];
    if (!slot) {
        slot = std::make_unique<CWnd>();
        slot->m_hWnd = window;
    }
    return slot.get();
}

CWnd* CWnd::FromHandlePermanent(HWND window)
{
    auto it = permanent.find(window);
    return it != permanent.end() ? it->second : nullptr;
}

BOOL CWnd::Attach(HWND window)
{
    if (window == nullptr || m_hWnd != nullptr || permanent.count(window) != 0) {
        return FALSE;
    }
    m_hWnd = window;
    permanent[window] = this;
    return TRUE;
}

HWND CWnd::Detach()
{
    HWND window = m_hWnd;
    if (window != nullptr) {
        auto it = permanent.find(window);
        if (it != permanent.end() && it->second == this) {
            permanent.erase(it);
        }
    }
    m_hWnd = nullptr;
    return window;
}

BOOL CWnd::CreateEx(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y,
                    int width, int height, HWND parent, HMENU menu, LPVOID parameter)
{
    CREATESTRUCTW create{
        parameter, GetProgramModuleHandle(), menu,       parent,    height, width, y,
        x,         static_cast<LONG>(style), windowName, className, exStyle};
    if (!PreCreateWindow(create)) {
        PostNcDestroy();
        return FALSE;
    }
    if (creationHook == nullptr) {
        creationHook = SetWindowsHookExW(WH_CBT, &AfxCreationHook, nullptr, GetCurrentThreadId());
    }
    creating = this;
    HWND window =
        CreateWindowExW(create.dwExStyle, create.lpszClass, create.lpszName,
                        static_cast<DWORD>(create.style), create.x, create.y, create.cx, create.cy,
                        create.hwndParent, create.hMenu, create.hInstance, create.lpCreateParams);
    creating = nullptr;
    return window != nullptr ? TRUE : FALSE;
}

BOOL CWnd::CreateEx(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style,
                    const RECT& rect, CWnd* parent, UINT id, LPVOID parameter)
{
    return CreateEx(exStyle, className, windowName, style, rect.left, rect.top,
                    rect.right - rect.left, rect.bottom - rect.top,
                    parent != nullptr ? parent->m_hWnd : nullptr,
                    reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), parameter);
}

BOOL CWnd::PreCreateWindow(CREATESTRUCTW& create)
{
    if (create.lpszClass == nullptr) {
        create.lpszClass = AfxRegisterWndClass(CS_DBLCLKS, LoadCursorW(nullptr, IDC_ARROW));
    }
    return TRUE;
}

BOOL CWnd::DestroyWindow()
{
    if (m_hWnd == nullptr) {
        return FALSE;
    }
    return ::DestroyWindow(m_hWnd);
}

void CWnd::PostNcDestroy() {}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result)) {
        result = DefWindowProc(message, wParam, lParam);
    }
    return result;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    for (const AFX_MSGMAP* map = GetMessageMap(); map != nullptr;
         map = map->pfnGetBaseMap != nullptr ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry->nMessage != 0; ++entry) {
            if (entry->nMessage == message) {
                // The handler may delete this object: nothing of it is touched afterwards.
                const LRESULT answer = entry->invoke(this, entry->pfn, wParam, lParam);
                if (result != nullptr) {
                    *result = answer;
                }
                return TRUE;
            }
        }
    }
    return FALSE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_hWnd == nullptr || !IsWindow(m_hWnd)) {
        return 0;
    }
    if (m_pfnSuper != nullptr) {
        return CallWindowProcW(m_pfnSuper, m_hWnd, message, wParam, lParam);
    }
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default()
{
    if (m_hWnd == nullptr || current.hwnd != m_hWnd) {
        return 0;
    }
    return DefWindowProc(current.message, current.wParam, current.lParam);
}

BOOL CWnd::OnCmdMsg(UINT id, int code, void* extra, void* handlerInfo)
{
    return CCmdTarget::OnCmdMsg(id, code, extra, handlerInfo);
}

void CWnd::BeginModalState() {}

void CWnd::EndModalState() {}

CWnd* CWnd::SetFocus()
{
    return FromHandle(::SetFocus(m_hWnd));
}

CWnd* CWnd::GetFocus()
{
    return FromHandle(::GetFocus());
}

CWnd* CWnd::GetParent() const
{
    return FromHandle(::GetParent(m_hWnd));
}

CWnd* CWnd::SetCapture()
{
    return FromHandle(::SetCapture(m_hWnd));
}

void CWnd::OnSetFocus(CWnd*)
{
    Default();
}

void CWnd::OnKillFocus(CWnd*)
{
    Default();
}
