// The host window's life: renderer and root window, placement, class, the platform services the
// root window asks for, and the modal run.

#include "ControlBase/OSWindow.h"

#include <windows.h>

#include "Application/FrameworkApp.h"
#include "ControlBase/RootWindow.h"
#include "Renderer/RenderContextInfo.h"

namespace Orv {

namespace {

constexpr UINT kClassStyle = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS | CS_OWNDC;  // 0x2B
static_assert(kClassStyle == 0x2B);

// One cursor for the whole process: windows share the pointer.
HCURSOR cachedCursor = nullptr;

bool IsClassName(LPCWSTR className, const char16_t* wanted)
{
    // A class given as an atom is not a name.
    if (reinterpret_cast<ULONG_PTR>(className) < 0x10000) {
        return false;
    }
    return WideString(className) == WideString(wanted);
}

}  // namespace

OSWindow::OSWindow() = default;

OSWindow::DeletionWatch::DeletionWatch(OSWindow* window) : window(window), outer(window->watches)
{
    window->watches = this;
}

OSWindow::DeletionWatch::~DeletionWatch()
{
    if (!deleted) {
        window->watches = outer;
    }
}

OSWindow::~OSWindow()
{
    if (modalRun != nullptr) {
        modalRun->deleted = true;
    }
    for (DeletionWatch* watch = watches; watch != nullptr; watch = watch->outer) {
        watch->deleted = true;
    }
    if (rootWindow) {
        if (LFrameworkApp* app = GetFrameworkApp()) {
            app->RemoveRootWindow(rootWindow);
        }
        // Whoever still holds the root window must not reach this object through it.
        rootWindow->DropBackReferences();
    }
    renderContext = nullptr;
    renderer = nullptr;
    rootWindow = nullptr;
}

BOOL OSWindow::OnCmdMsg(UINT id, int code, void* extra, void* handlerInfo)
{
    return CCmdTarget::OnCmdMsg(id, code, extra, handlerInfo);
}

bool OSWindow::IsMainWindow() const
{
    LFrameworkApp* app = GetFrameworkApp();
    return app != nullptr && rootWindow && app->GetRootWindow(0) == rootWindow;
}

ORVRESULT OSWindow::CreateRenderer(RendererType type)
{
    RectL client{0, 0, 0, 0};
    GetClientRect(client);
    const RCPtr<LRenderer> created = LRenderer::Create(type, client, m_hWnd);
    SetTimer(kFrameTimerId, kFramePeriodMs, nullptr);
    return AttachRenderer(created);
}

ORVRESULT OSWindow::AttachRenderer(const RCPtr<LRenderer>& attached)
{
    renderer = attached;
    RectL client{0, 0, 0, 0};
    GetClientRect(client);
    RCPtr<LRenderContextInfo> context;
    if (renderer) {
        renderer->InitRenderContextInfo(client, m_hWnd, 0, context);
    }
    renderContext = context;
    rootWindow = LRootWindow::Create(renderer, this);
    if (LFrameworkApp* app = GetFrameworkApp()) {
        app->AddRootWindow(rootWindow);
    }
    return S_OK;
}

BOOL OSWindow::DestroyWindow()
{
    // This MFC subset has no frame windows: a host window never has a parent frame.
    if (m_hWnd != nullptr && IsMainWindow()) {
        WINDOWPLACEMENT placement{};
        placement.length = sizeof placement;
        if (CWinApp* app = AfxGetApp(); app != nullptr && GetWindowPlacement(&placement)) {
            app->WriteProfileBinary(LFrameworkApp::GetMainWindowClassName(), u"WP",
                                    reinterpret_cast<const BYTE*>(&placement), sizeof placement);
        }
    }
    return CWnd::DestroyWindow();
}

BOOL OSWindow::PreCreateWindow(CREATESTRUCTW& create)
{
    if (!CWnd::PreCreateWindow(create)) {
        return FALSE;
    }
    create.style |= static_cast<LONG>(WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
    const char16_t* mainClass = LFrameworkApp::GetMainWindowClassName();
    if (IsClassName(create.lpszClass, mainClass)) {
        WNDCLASSW windowClass{};
        if (!GetClassInfoW(GetProgramModuleHandle(), mainClass, &windowClass)) {
            windowClass = WNDCLASSW{};
            windowClass.style = kClassStyle;
            windowClass.lpfnWndProc = ::DefWindowProcW;
            windowClass.hInstance = GetProgramModuleHandle();
            windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
            windowClass.lpszClassName = mainClass;
            if (RegisterClassW(&windowClass) == 0) {
                AfxThrowResourceException();
            }
        }
        create.lpszClass = mainClass;
    } else {
        create.lpszClass = AfxRegisterWndClass(kClassStyle, LoadCursorW(nullptr, IDC_ARROW));
    }
    return TRUE;
}

void OSWindow::BeginModalState()
{
    EnableWindow(FALSE);
}

void OSWindow::EndModalState()
{
    EnableWindow(TRUE);
}

int OSWindow::ReleaseDC(HDC deviceContext)
{
    return ::ReleaseDC(m_hWnd, deviceContext);
}

HDC OSWindow::GetDC()
{
    return ::GetDC(m_hWnd);
}

void OSWindow::Show(bool show)
{
    ShowWindow(show ? SW_SHOW : SW_HIDE);
}

// --- IWindowOSServices

ORVRESULT OSWindow::SetTitle(const WideString& text)
{
    if (m_hWnd == nullptr) {
        return E_FAIL;
    }
    SetWindowText(text.GetText());
    return S_OK;
}

ORVRESULT OSWindow::InvalidateAll()
{
    if (m_hWnd == nullptr) {
        return E_FAIL;
    }
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
    return S_OK;
}

ORVRESULT OSWindow::InvalidateRect(const RectL& rect)
{
    if (m_hWnd == nullptr) {
        return E_FAIL;
    }
    const RECT area{rect.x, rect.y, static_cast<LONG>(int64_t{rect.x} + rect.width),
                    static_cast<LONG>(int64_t{rect.y} + rect.height)};
    ::InvalidateRect(m_hWnd, &area, FALSE);
    return S_OK;
}

ORVRESULT OSWindow::GetClientRect(RectL& rect)
{
    RECT client{0, 0, 0, 0};
    if (m_hWnd == nullptr || !::GetClientRect(m_hWnd, &client)) {
        return E_FAIL;
    }
    if (client.right >= client.left && client.bottom >= client.top) {
        rect =
            RectL{client.left, client.top, client.right - client.left, client.bottom - client.top};
    }
    return S_OK;
}

ORVRESULT OSWindow::ScreenToClient(PointL& client, const PointL& screen)
{
    POINT point{screen.x, screen.y};
    if (m_hWnd == nullptr || !::ScreenToClient(m_hWnd, &point)) {
        return E_FAIL;
    }
    client = PointL{point.x, point.y};
    return S_OK;
}

ORVRESULT OSWindow::ClientToScreen(PointL& screen, const PointL& client)
{
    POINT point{client.x, client.y};
    if (m_hWnd == nullptr || !::ClientToScreen(m_hWnd, &point)) {
        return E_FAIL;
    }
    screen = PointL{point.x, point.y};
    return S_OK;
}

ORVRESULT OSWindow::SetClientRect(const RectL& rect)
{
    if (m_hWnd == nullptr) {
        return E_FAIL;
    }
    RECT window{};
    RECT client{};
    POINT origin{0, 0};
    ::GetWindowRect(m_hWnd, &window);
    ::GetClientRect(m_hWnd, &client);
    ::ClientToScreen(m_hWnd, &origin);
    const LONG dx = rect.x - origin.x;
    const LONG dy = rect.y - origin.y;
    const LONG dw = rect.width - (client.right - client.left);
    const LONG dh = rect.height - (client.bottom - client.top);
    if ((GetStyle() & WS_CHILD) != 0) {
        // A child's client area moves with its parent: the parent moves by the offset and grows
        // by the size change, and the child, where it was inside, grows by the same amount.
        const HWND parent = GetAncestor(m_hWnd, GA_PARENT);
        RECT outer{};
        if (parent == nullptr || !::GetWindowRect(parent, &outer)) {
            return E_FAIL;
        }
        ::SetWindowPos(parent, nullptr, outer.left + dx, outer.top + dy,
                       outer.right - outer.left + dw, outer.bottom - outer.top + dh, SWP_NOZORDER);
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, window.right - window.left + dw,
                       window.bottom - window.top + dh, SWP_NOZORDER | SWP_NOMOVE);
        return S_OK;
    }
    ::SetWindowPos(
        m_hWnd, nullptr, rect.x + (window.left - origin.x), rect.y + (window.top - origin.y),
        rect.width + ((window.right - window.left) - (client.right - client.left)),
        rect.height + ((window.bottom - window.top) - (client.bottom - client.top)), SWP_NOZORDER);
    return S_OK;
}

bool OSWindow::Show(int32_t showCommand)
{
    return ::ShowWindow(m_hWnd, showCommand) != 0;
}

ORVRESULT OSWindow::UpdateNow()
{
    return RedrawWindow(m_hWnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ERASE | RDW_INVALIDATE)
               ? S_OK
               : E_FAIL;
}

ORVRESULT OSWindow::BringToTop()
{
    if (m_hWnd == nullptr) {
        return E_FAIL;
    }
    BringWindowToTop(m_hWnd);
    return S_OK;
}

ORVRESULT OSWindow::SetTopmost(bool topmost)
{
    if (m_hWnd == nullptr) {
        return E_FAIL;
    }
    ::SetWindowPos(m_hWnd, topmost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                   SWP_NOSIZE | SWP_NOMOVE);
    return S_OK;
}

ORVRESULT OSWindow::EndModal(int32_t result)
{
    if (modal != 0) {
        EndModalLoop(result);
        modal = 0;
        if (modalRun != nullptr) {
            modalRun->result = result;
        }
        return S_OK;
    }
    DestroyAndDelete();
    return S_OK;
}

bool OSWindow::IsModal()
{
    return modal != 0;
}

bool OSWindow::IsActive()
{
    const HWND active = GetActiveWindow();
    if (m_hWnd == nullptr || active == nullptr) {
        return false;
    }
    return active == m_hWnd || (IsMainWindow() && active == ::GetParent(m_hWnd));
}

bool OSWindow::HasFocus()
{
    return m_hWnd != nullptr && ::GetFocus() == m_hWnd;
}

ORVRESULT OSWindow::SetFocus()
{
    if (m_hWnd == nullptr) {
        return E_FAIL;
    }
    CWnd::SetFocus();
    return S_OK;
}

HCURSOR OSWindow::SetCursor(HCURSOR cursor)
{
    const HCURSOR previous = cachedCursor;
    if (cursor != cachedCursor) {
        if (m_hWnd != nullptr) {
            // Cursors are small handles: they pass through the class's LONG.
            SetClassLongW(m_hWnd, GCL_HCURSOR,
                          static_cast<LONG>(reinterpret_cast<ULONG_PTR>(cursor)));
        }
        ::SetCursor(cursor);
        cachedCursor = cursor;
    }
    return previous;
}

ORVRESULT OSWindow::GetCursorPosition(PointL& point)
{
    if (captureHeld == 0) {
        POINT screen{0, 0};
        if (::GetCursorPos(&screen) && m_hWnd != nullptr && ::ScreenToClient(m_hWnd, &screen)) {
            lastPointX = screen.x;
            lastPointY = screen.y;
        }
    }
    point = PointL{lastPointX, lastPointY};
    return S_OK;
}

int32_t OSWindow::GetMouseButtons()
{
    if (captureHeld != 0) {
        return buttonFlags;
    }
    int32_t buttons = 0;
    const struct
    {
        int key;
        int32_t bit;
    } kButtons[] = {{VK_LBUTTON, 1}, {VK_MBUTTON, 2}, {VK_RBUTTON, 4}};
    for (const auto& entry : kButtons) {
        if ((static_cast<uint16_t>(::GetKeyState(entry.key)) & 0x8000) != 0) {
            buttons |= entry.bit;
        }
    }
    buttonFlags = buttons;
    return buttons;
}

HWND OSWindow::GetNativeHandle()
{
    return m_hWnd;
}

ORVRESULT OSWindow::SetTextInputActive(bool, void*)
{
    // Text arrives as WM_CHAR here; there is no input method to switch.
    return S_OK;
}

void OSWindow::DestroyAndDelete()
{
    DestroyWindow();
    delete this;
}

// --- The modal run

int32_t OSWindow::RunModal()
{
    ModalRun run;
    modalRun = &run;
    modal = 1;
    const HWND self = m_hWnd;
    HWND parent = ::GetParent(self);
    bool parentDisabled = false;
    if (parent != nullptr && parent != GetDesktopWindow() && ::IsWindowEnabled(parent)) {
        ::EnableWindow(parent, FALSE);
        parentDisabled = true;
    }
    EnableWindow(TRUE);
    m_nFlags |= WF_MODALLOOP | WF_CONTINUEMODAL;

    bool idle = true;
    LONG idleCount = 0;
    bool showOnIdle = (GetStyle() & WS_VISIBLE) == 0;
    bool quit = false;
    MSG peeked;
    // `run.deleted` is checked after every call that may run a handler: a handler may have
    // destroyed and deleted this window.
    while (!run.deleted && !quit && ContinueModal()) {
        while (idle && !PeekMessageW(&peeked, nullptr, 0, 0, PM_NOREMOVE)) {
            if (showOnIdle) {
                ShowWindow(SW_SHOWNORMAL);
                UpdateWindow();
                showOnIdle = false;
            }
            if (parent != nullptr && idleCount == 0) {
                ::SendMessageW(parent, WM_ENTERIDLE, MSGF_DIALOGBOX,
                               reinterpret_cast<LPARAM>(self));
            }
            const LRESULT more = ::SendMessageW(self, WM_KICKIDLE, MSGF_DIALOGBOX, idleCount++);
            if (run.deleted) {
                break;
            }
            if (more == 0) {
                idle = false;
            }
        }
        if (run.deleted) {
            break;
        }
        do {
            if (!AfxPumpMessage()) {
                AfxPostQuitMessage(0);
                quit = true;
                break;
            }
            if (run.deleted) {
                break;
            }
            const MSG handled = *AfxGetCurrentMessage();
            if (showOnIdle &&
                (handled.message == WM_SYSTIMER || handled.message == WM_SYSKEYDOWN)) {
                ShowWindow(SW_SHOWNORMAL);
                UpdateWindow();
                showOnIdle = false;
            }
            if (!ContinueModal()) {
                break;
            }
            if (AfxIsIdleMessage(&handled)) {
                idle = true;
                idleCount = 0;
            }
        } while (PeekMessageW(&peeked, nullptr, 0, 0, PM_NOREMOVE));
    }

    // The parent is enabled again however the run ended: left disabled, the application could
    // never be used again.
    if (parentDisabled && ::IsWindow(parent)) {
        ::EnableWindow(parent, TRUE);
    }
    if (run.deleted) {
        return quit ? -1 : run.result;
    }
    modalRun = nullptr;
    modal = 0;
    m_nFlags &= ~(WF_MODALLOOP | WF_CONTINUEMODAL);
    if (parent != nullptr && parent != GetDesktopWindow() && GetActiveWindow() == self) {
        SetActiveWindow(parent);
    }
    const int32_t result = quit ? -1 : m_nModalResult;
    DestroyAndDelete();
    return result;
}

}  // namespace Orv
