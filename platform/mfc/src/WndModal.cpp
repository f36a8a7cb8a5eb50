// The modal loop of a window.

#include "mfc/Wnd.h"

BOOL CWnd::ContinueModal()
{
    return (m_nFlags & WF_CONTINUEMODAL) != 0 ? TRUE : FALSE;
}

void CWnd::EndModalLoop(int result)
{
    m_nModalResult = result;
    if ((m_nFlags & WF_CONTINUEMODAL) != 0) {
        m_nFlags &= ~WF_CONTINUEMODAL;
        // Wakes the loop, which may be waiting for a message.
        ::PostMessageW(m_hWnd, WM_NULL, 0, 0);
    }
}

int CWnd::RunModalLoop(DWORD flags)
{
    bool idle = true;
    LONG idleCount = 0;
    bool showOnIdle = (flags & MLF_SHOWONIDLE) != 0 && (GetStyle() & WS_VISIBLE) == 0;
    HWND parent = ::GetParent(m_hWnd);
    HWND self = m_hWnd;
    m_nFlags |= WF_MODALLOOP | WF_CONTINUEMODAL;
    MSG peeked;
    for (;;) {
        while (idle && !PeekMessageW(&peeked, nullptr, 0, 0, PM_NOREMOVE)) {
            if (showOnIdle) {
                ShowWindow(SW_SHOWNORMAL);
                UpdateWindow();
                showOnIdle = false;
            }
            if ((flags & MLF_NOIDLEMSG) == 0 && parent != nullptr && idleCount == 0) {
                ::SendMessageW(parent, WM_ENTERIDLE, MSGF_DIALOGBOX,
                               reinterpret_cast<LPARAM>(self));
            }
            if ((flags & MLF_NOKICKIDLE) != 0 ||
                !::SendMessageW(self, WM_KICKIDLE, MSGF_DIALOGBOX, idleCount++)) {
                idle = false;
            }
        }
        do {
            if (!AfxPumpMessage()) {
                AfxPostQuitMessage(0);
                return -1;
            }
            const MSG handled = *AfxGetCurrentMessage();
            if (showOnIdle &&
                (handled.message == WM_SYSTIMER || handled.message == WM_SYSKEYDOWN)) {
                ShowWindow(SW_SHOWNORMAL);
                UpdateWindow();
                showOnIdle = false;
            }
            if (!ContinueModal()) {
                m_nFlags &= ~(WF_MODALLOOP | WF_CONTINUEMODAL);
                return m_nModalResult;
            }
            if (AfxIsIdleMessage(&handled)) {
                idle = true;
                idleCount = 0;
            }
        } while (PeekMessageW(&peeked, nullptr, 0, 0, PM_NOREMOVE));
    }
}
