#pragma once
// OSWindow: the Win32 window that hosts one root window. It creates the window's renderer and
// render context, starts the 33 ms frame timer (whose messages only wake the message loop so
// that the application's idle pass runs), creates the root window and registers it with the
// application, and turns the window's messages into root-window calls.
//
// Lifetime: made with new by the application. WM_CLOSE, EndModal on a window that is not in a
// modal run, and the end of RunModal destroy the window and delete the object; no handler
// touches the object, its root window or its handle after that. The destructor unregisters the
// root window from the application and cuts the root window's link back to this object, so a
// root window that outlives its host (held across EndModal) never calls into freed memory.
//
// UI thread only.

#include <cstdint>

#include <afxwin.h>

#include "ControlBase/WindowOSServices.h"
#include "ObjectBase/RCPtr.h"
#include "Renderer/Renderer.h"

namespace Orv {

class LRootWindow;
class LRenderContextInfo;

class OSWindow : public CWnd, public IWindowOSServices
{
public:
    OSWindow();
    ~OSWindow() override;

    BOOL OnCmdMsg(UINT id, int code, void* extra, void* handlerInfo) override;
    // The main window writes its placement to the profile first ("WP").
    BOOL DestroyWindow() override;
    // Registers the main window's class once; other windows get a class of style 0x2B.
    BOOL PreCreateWindow(CREATESTRUCTW& create) override;
    void BeginModalState() override;
    void EndModalState() override;

    // Own virtual operations.
    virtual int ReleaseDC(HDC deviceContext);
    virtual HDC GetDC();
    virtual void Show(bool show);
    // Keeps the renderer, makes the window's render context and the root window, and registers
    // the root window with the application. 0.
    virtual ORVRESULT AttachRenderer(const RCPtr<LRenderer>& renderer);
    // The renderer of that type for the client area, then the frame timer, then AttachRenderer.
    // A type the renderer factory does not know throws its exception.
    virtual ORVRESULT CreateRenderer(RendererType type);

    // --- IWindowOSServices
    ORVRESULT SetTitle(const WideString& text) override;
    ORVRESULT InvalidateAll() override;
    ORVRESULT InvalidateRect(const RectL& rect) override;
    ORVRESULT GetClientRect(RectL& rect) override;
    ORVRESULT ScreenToClient(PointL& client, const PointL& screen) override;
    ORVRESULT ClientToScreen(PointL& screen, const PointL& client) override;
    ORVRESULT SetClientRect(const RectL& rect) override;
    bool Show(int32_t showCommand) override;
    ORVRESULT UpdateNow() override;
    ORVRESULT BringToTop() override;
    ORVRESULT SetTopmost(bool topmost) override;
    ORVRESULT EndModal(int32_t result) override;
    int32_t RunModal() override;
    bool IsModal() override;
    bool IsActive() override;
    bool HasFocus() override;
    ORVRESULT SetFocus() override;
    HCURSOR SetCursor(HCURSOR cursor) override;
    ORVRESULT GetCursorPosition(PointL& point) override;
    int32_t GetMouseButtons() override;
    HWND GetNativeHandle() override;
    ORVRESULT SetTextInputActive(bool active, void* controlData) override;

    const RCPtr<LRootWindow>& GetRootWindow() const { return rootWindow; }
    const RCPtr<LRenderer>& GetRenderer() const { return renderer; }
    const RCPtr<LRenderContextInfo>& GetRenderContext() const { return renderContext; }

    // The frame timer's id and period.
    static constexpr UINT_PTR kFrameTimerId = 1;
    static constexpr UINT kFramePeriodMs = 33;
    // WM_COPYDATA's code for a second instance's command line.
    static constexpr ULONG_PTR kRemoteCommandLine = 0x465;

protected:
    // Message handlers, in the order of the message map.
    void OnPaint();
    void OnKeyDown(UINT virtualKey, UINT repeat, UINT flags);
    void OnKeyUp(UINT virtualKey, UINT repeat, UINT flags);
    void OnSysKeyDown(UINT virtualKey, UINT repeat, UINT flags);
    void OnSysKeyUp(UINT virtualKey, UINT repeat, UINT flags);
    void OnChar(UINT character, UINT repeat, UINT flags);
    void OnLButtonDown(UINT keys, CPoint point);
    void OnLButtonUp(UINT keys, CPoint point);
    void OnLButtonDblClk(UINT keys, CPoint point);
    void OnMButtonDown(UINT keys, CPoint point);
    void OnMButtonUp(UINT keys, CPoint point);
    void OnMButtonDblClk(UINT keys, CPoint point);
    void OnRButtonDown(UINT keys, CPoint point);
    void OnRButtonUp(UINT keys, CPoint point);
    void OnRButtonDblClk(UINT keys, CPoint point);
    void OnNcButtonDown(UINT hitTest, CPoint point);
    void OnSizing(UINT edge, RECT* proposed);
    void OnSize(UINT type, int width, int height);
    void OnMove(int x, int y);
    void OnClose();
    void OnMouseMove(UINT keys, CPoint point);
    BOOL OnMouseWheel(UINT keys, short delta, CPoint point);
    void OnMouseHWheel(UINT keys, short delta, CPoint point);
    void OnCaptureChanged(CWnd* window);
    LRESULT OnKickIdle(WPARAM wParam, LPARAM idleCount);
    void OnSetFocus(CWnd* oldWindow);
    void OnKillFocus(CWnd* newWindow);
    void OnSysCommand(UINT command, LPARAM lParam);
    BOOL OnCopyData(CWnd* sender, COPYDATASTRUCT* data);
    void OnDestroyClipboard();
    void OnRenderFormat(UINT format);
    void OnRenderAllFormats();
    LRESULT OnDisplayChange(WPARAM wParam, LPARAM lParam);
    UINT OnPowerBroadcast(UINT event, LPARAM data);

    // The proposed window rectangle of a frame drag, held to what the root window allows.
    void ConstrainSizing(RECT* proposed);

    DECLARE_MESSAGE_MAP()

private:
    // The state of one RunModal on its caller's stack: the destructor marks it, so a loop whose
    // window was destroyed and deleted under it ends without touching the object.
    struct ModalRun
    {
        bool deleted = false;
        int32_t result = -1;
    };
    // A handler that calls out (into the root window, the application) and then goes on with
    // the message keeps one on its stack: it tells whether the call deleted this window.
    struct DeletionWatch
    {
        explicit DeletionWatch(OSWindow* window);
        ~DeletionWatch();
        DeletionWatch(const DeletionWatch&) = delete;
        DeletionWatch& operator=(const DeletionWatch&) = delete;
        OSWindow* window;
        DeletionWatch* outer;
        bool deleted = false;
    };

    bool IsMainWindow() const;
    // 1 Ctrl, 8 Shift, 0x40 Alt, as pointer payloads carry them.
    static int32_t PointerModifiers(UINT keys);
    // The full modifier flags of a key message; Alt only with the context code.
    static int32_t KeyModifiers(UINT flags);
    void ButtonPress(int32_t button, bool doubleClick, UINT keys, CPoint point);
    void ButtonRelease(int32_t button, UINT keys, CPoint point);
    void Wheel(int axis, short delta, CPoint screenPoint, UINT keys);
    void Key(UINT virtualKey, UINT flags, bool down, bool system);
    // Destroys the window, then deletes the object: nothing of it may be touched after.
    void DestroyAndDelete();

    RCPtr<LRootWindow> rootWindow;
    RCPtr<LRenderer> renderer;
    RCPtr<LRenderContextInfo> renderContext;
    int32_t lastPointX = 0;
    int32_t lastPointY = 0;
    int32_t buttonFlags = 0;                // 1 left, 2 middle, 4 right
    int32_t pressCount = 0;                 // presses since the window took the capture
    int32_t wheelAccumulators[2] = {0, 0};  // vertical, horizontal; wheel delta units
    uint8_t captureHeld = 0;
    uint8_t modal = 0;
    uint8_t wasOutsideWorkArea = 0;
    ModalRun* modalRun = nullptr;
    DeletionWatch* watches = nullptr;  // innermost first
};

}  // namespace Orv
