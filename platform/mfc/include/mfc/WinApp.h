#pragma once
// The application object: one per process, reached through AfxGetApp. Run pumps messages and
// idles; the profile lives in the registry under the user's key.

#include <string>

#include <windows.h>

#include "mfc/Wnd.h"

class CWinApp : public CCmdTarget
{
public:
    explicit CWinApp(LPCWSTR appName = nullptr);
    ~CWinApp() override;
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    CWnd* m_pMainWnd = nullptr;
    LPCWSTR m_pszAppName;
    LPCWSTR m_pszRegistryKey = nullptr;
    LPCWSTR m_pszProfileName;

    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance();
    // Idle work while the queue is empty; more is wanted while it answers TRUE.
    virtual BOOL OnIdle(LONG count);
    // While the queue is empty OnIdle(0, 1, ...) until it answers FALSE; a message that is not
    // WM_PAINT, WM_SYSTIMER or a pointer move to the same point starts the count again. At
    // WM_QUIT: ExitInstance's result.
    virtual int Run();
    virtual BOOL PreTranslateMessage(MSG* message);
    virtual BOOL PumpMessage();
    virtual BOOL IsIdleMessage(MSG* message);

    // The profile: HKEY_CURRENT_USER\Software\<key>\<profile name>\<section>.
    void SetRegistryKey(LPCWSTR key);
    BOOL WriteProfileBinary(LPCWSTR section, LPCWSTR entry, const BYTE* data, UINT bytes);
    // *data: a new[] block the caller deletes[]; FALSE (and null) when there is no such entry.
    BOOL GetProfileBinary(LPCWSTR section, LPCWSTR entry, BYTE** data, UINT* bytes);

private:
    std::u16string appName_;
    std::u16string registryKey_;
};

CWinApp* AfxGetApp();
