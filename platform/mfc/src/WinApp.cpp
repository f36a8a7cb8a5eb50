#include "mfc/WinApp.h"

#include "win32/ModuleFileName.h"

namespace AfxDetail {
void DeleteTemporaryWindows();
void SetCurrentMessage(const MSG& message);
}  // namespace AfxDetail

namespace {

CWinApp* theApp = nullptr;
thread_local POINT lastMovePoint{-1, -1};
thread_local UINT lastMoveMessage = 0;

std::u16string ProgramName()
{
    WCHAR path[1024] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, 1024);
    std::u16string name(path, length);
    const size_t slash = name.find_last_of(u"\\/");
    if (slash != std::u16string::npos) {
        name.erase(0, slash + 1);
    }
    const size_t dot = name.rfind(u'.');
    if (dot != std::u16string::npos && dot != 0) {
        name.erase(dot);
    }
    return name.empty() ? u"Application" : name;
}

}  // namespace

CWinApp::CWinApp(LPCWSTR appName)
    : appName_(appName != nullptr ? std::u16string(appName) : ProgramName())
{
    m_pszAppName = appName_.c_str();
    m_pszProfileName = m_pszAppName;
    theApp = this;
}

CWinApp::~CWinApp()
{
    if (theApp == this) {
        theApp = nullptr;
    }
}

CWinApp* AfxGetApp()
{
    return theApp;
}

int CWinApp::ExitInstance()
{
    const MSG* last = AfxGetCurrentMessage();
    return last->message == WM_QUIT ? static_cast<int>(last->wParam) : 0;
}

BOOL CWinApp::OnIdle(LONG count)
{
    if (count >= 1) {
        AfxDetail::DeleteTemporaryWindows();
    }
    return count < 1 ? TRUE : FALSE;
}

BOOL CWinApp::PreTranslateMessage(MSG*)
{
    return FALSE;
}

BOOL CWinApp::PumpMessage()
{
    MSG message;
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    AfxDetail::SetCurrentMessage(message);
    if (got == 0 || got == -1) {
        return FALSE;
    }
    if (!PreTranslateMessage(&message)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return TRUE;
}

BOOL CWinApp::IsIdleMessage(MSG* message)
{
    return AfxIsIdleMessage(message);
}

int CWinApp::Run()
{
    bool idle = true;
    LONG idleCount = 0;
    MSG peeked;
    for (;;) {
        while (idle && !PeekMessageW(&peeked, nullptr, 0, 0, PM_NOREMOVE)) {
            if (!OnIdle(idleCount++)) {
                idle = false;
            }
        }
        do {
            if (!PumpMessage()) {
                return ExitInstance();
            }
            MSG handled = *AfxGetCurrentMessage();
            if (IsIdleMessage(&handled)) {
                idle = true;
                idleCount = 0;
            }
        } while (PeekMessageW(&peeked, nullptr, 0, 0, PM_NOREMOVE));
    }
}

BOOL AfxIsIdleMessage(const MSG* message)
{
    if (message->message == WM_MOUSEMOVE) {
        const bool same = message->message == lastMoveMessage && message->pt.x == lastMovePoint.x &&
                          message->pt.y == lastMovePoint.y;
        lastMovePoint = message->pt;
        lastMoveMessage = message->message;
        return same ? FALSE : TRUE;
    }
    return message->message != WM_PAINT && message->message != WM_SYSTIMER ? TRUE : FALSE;
}

BOOL AfxPumpMessage()
{
    if (CWinApp* app = AfxGetApp()) {
        return app->PumpMessage();
    }
    MSG message;
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    AfxDetail::SetCurrentMessage(message);
    if (got == 0 || got == -1) {
        return FALSE;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
    return TRUE;
}

void AfxPostQuitMessage(int exitCode)
{
    PostQuitMessage(exitCode);
}
