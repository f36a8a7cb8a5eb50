#pragma once
// CWnd: an object attached to a window handle. Messages reach it through its message map; what
// the map does not handle goes to the window's previous procedure (Default).
//
// Lifetime: the object outlives its window unless PostNcDestroy deletes it. A handler may destroy
// the window and delete the object: nothing touches either after the handler returns.

#include <windows.h>

#include "mfc/MessageMap.h"

// m_nFlags.
inline constexpr int WF_MODALLOOP = 0x0008;
inline constexpr int WF_CONTINUEMODAL = 0x0010;
// RunModalLoop.
inline constexpr DWORD MLF_NOIDLEMSG = 0x0001;
inline constexpr DWORD MLF_NOKICKIDLE = 0x0002;
inline constexpr DWORD MLF_SHOWONIDLE = 0x0004;
inline constexpr WPARAM MSGF_DIALOGBOX = 0;

class CWnd : public CCmdTarget
{
public:
    CWnd();
    // Destroys a window still attached.
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;
    int m_nFlags = 0;
    int m_nModalResult = 0;

    operator HWND() const { return m_hWnd; }
    HWND GetSafeHwnd() const { return m_hWnd; }

    // The object attached to the window; for a window without one, a temporary object that
    // lives until the next idle time.
    static CWnd* FromHandle(HWND window);
    // Null for a window without an attached object.
    static CWnd* FromHandlePermanent(HWND window);
    BOOL Attach(HWND window);
    HWND Detach();

    virtual BOOL CreateEx(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                          int y, int width, int height, HWND parent, HMENU menu,
                          LPVOID parameter = nullptr);
    BOOL CreateEx(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style,
                  const RECT& rect, CWnd* parent, UINT id, LPVOID parameter = nullptr);
    virtual BOOL PreCreateWindow(CREATESTRUCTW& create);
    virtual BOOL DestroyWindow();
    virtual void PostNcDestroy();

    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The message being handled, to the previous procedure; 0 once the window is gone.
    LRESULT Default();

    BOOL OnCmdMsg(UINT id, int code, void* extra, void* handlerInfo) override;

    virtual void BeginModalState();
    virtual void EndModalState();
    virtual BOOL ContinueModal();
    virtual void EndModalLoop(int result);
    // Pumps messages, idling with WM_KICKIDLE, until EndModalLoop; -1 at WM_QUIT (re-posted).
    int RunModalLoop(DWORD flags = 0);

    CWnd* SetFocus();
    static CWnd* GetFocus();
    CWnd* GetParent() const;
    CWnd* SetCapture();
    BOOL ShowWindow(int command) { return ::ShowWindow(m_hWnd, command); }
    void UpdateWindow() { ::UpdateWindow(m_hWnd); }
    BOOL EnableWindow(BOOL enable = TRUE) { return ::EnableWindow(m_hWnd, enable); }
    BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_STYLE)); }
    void GetClientRect(RECT* rect) const { ::GetClientRect(m_hWnd, rect); }
    void GetWindowRect(RECT* rect) const { ::GetWindowRect(m_hWnd, rect); }
    void SetWindowText(LPCWSTR text) { ::SetWindowTextW(m_hWnd, text); }
    BOOL GetWindowPlacement(WINDOWPLACEMENT* p) const { return ::GetWindowPlacement(m_hWnd, p); }
    BOOL SetWindowPlacement(const WINDOWPLACEMENT* p) { return ::SetWindowPlacement(m_hWnd, p); }
    UINT_PTR SetTimer(UINT_PTR id, UINT elapse, TIMERPROC procedure)
    {
        return ::SetTimer(m_hWnd, id, elapse, procedure);
    }
    BOOL KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
    {
        return ::SendMessageW(m_hWnd, message, wParam, lParam);
    }
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
    {
        return ::PostMessageW(m_hWnd, message, wParam, lParam);
    }
    void Invalidate(BOOL erase = TRUE) { ::InvalidateRect(m_hWnd, nullptr, erase); }

    // The default handlers pass the message on.
    void OnSetFocus(CWnd* oldWindow);
    void OnKillFocus(CWnd* newWindow);

    DECLARE_MESSAGE_MAP()

private:
    friend LRESULT CALLBACK AfxWndProc(HWND, UINT, WPARAM, LPARAM);
    friend LRESULT CALLBACK AfxCreationHook(int, WPARAM, LPARAM);
    WNDPROC m_pfnSuper = nullptr;
};

LRESULT CALLBACK AfxWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The message the thread is handling (or last took from its queue).
const MSG* AfxGetCurrentMessage();
// Takes and dispatches one message; FALSE at WM_QUIT.
BOOL AfxPumpMessage();
void AfxPostQuitMessage(int exitCode);
// Whether a message ends an idle phase: not WM_PAINT, WM_SYSTIMER, nor a move to the same point.
BOOL AfxIsIdleMessage(const MSG* message);
// A class of that style, cursor, background and icon (registered once), by its name; throws
// CResourceException* when it cannot be registered.
LPCWSTR AfxRegisterWndClass(UINT classStyle, HCURSOR cursor = nullptr, HBRUSH background = nullptr,
                            HICON icon = nullptr);
