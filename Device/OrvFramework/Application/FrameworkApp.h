#pragma once
// LFrameworkApp: the framework's application object, one per process, reached through
// GetFrameworkApp. It owns the notification center manager for its lifetime and drives the idle
// processing of the UI thread. The windowing, skin and start-up services of the application join
// this class as their subsystems arrive; the rendering services live in a file of their own.
//
// UI thread only, except GetTimeMilliseconds.

#include <cstdint>

#include "Notification/NotificationClient.h"
#include "ObjectBase/RCPtr.h"
#include "Utilities/Graphics/Geometry.h"
#include "Utilities/Storage/StringT.h"
#include "win32/Window.h"

namespace Orv {

class LControlFactory;
class LFont;
class LGlobalHotKeyManager;
class LMeasurementRenderer;
class LRootWindow;

class LFrameworkApp : public LNotificationClient
{
public:
    // Becomes the process's application object; the notification center manager is created.
    LFrameworkApp();
    // The manager and every center go with the application object.
    ~LFrameworkApp() override;
    LFrameworkApp(const LFrameworkApp&) = delete;
    LFrameworkApp& operator=(const LFrameworkApp&) = delete;

    // The application's own start-up, after the host has set up the platform: 0, or E_FAIL when
    // a step failed.
    virtual ORVRESULT RunApplicationStartup();
    // One idle pass: every center's queue is drained (sendIdle: then "NID_IDLE" is sent); true
    // while any queue still holds notifications.
    virtual bool OnIdle(bool sendIdle);
    // The system's millisecond timer: 32 bits, wrapping; compare intervals as signed differences.
    virtual uint32_t GetTimeMilliseconds() const;
    // An application clock in seconds, advanced at each call by the milliseconds elapsed since the
    // previous call (so the timer's wrap does no harm).
    virtual double GetTimeSeconds();

    // The application's hot keys: a matched key posts its notification to the "application"
    // center. Null only when the center could not be had.
    const RCPtr<LGlobalHotKeyManager>& GetHotKeyManager() const { return hotKeyManager; }

    // The factory every control is built through; null until the start-up makes one. These
    // four come with the control tree's library (OrvApplicationSkin), so that a program without
    // controls links without it.
    const RCPtr<LControlFactory>& GetControlFactory() const;
    void SetControlFactory(const RCPtr<LControlFactory>& factory);
    // The base font of a control that takes no font from a parent: the one set, else the
    // current skin's font over "Arial" 9 (plain), which is also the answer without a factory.
    ConstRCPtr<LFont> GetDefaultFont() const;
    void SetDefaultFont(const ConstRCPtr<LFont>& font);

    // --- Root windows (the first is the main window). These come with the control tree's
    // library (OrvControl), like the factory.

    // Appends the window unless it is listed already: its index.
    int32_t AddRootWindow(const RCPtr<LRootWindow>& window);
    // 0, or E_FAIL when it is not listed.
    ORVRESULT RemoveRootWindow(const RCPtr<LRootWindow>& window);
    // Its index, or -1.
    int32_t IndexOfRootWindow(const LRootWindow* window) const;
    int32_t GetRootWindowCount() const;
    // Null past the end.
    RCPtr<LRootWindow> GetRootWindow(int32_t index) const;
    // The last listed window whose host reports itself active, or null.
    RCPtr<LRootWindow> GetActiveRootWindow() const;
    // The first root window's renderer; null while there is none.
    RCPtr<LMeasurementRenderer> GetMeasurementRenderer() const;
    // The desktop work area {x, y, width, height} in screen coordinates.
    RectL GetWorkArea() const;
    // Through the active root window when there is one, else the system's.
    PointL GetCursorPos();
    int32_t GetMouseButtons();
    // The command line a second instance handed over: 0; the text is ignored.
    virtual ORVRESULT OnRemoteCommandLine(const WideString& text);
    // The main window's answer to WM_POWERBROADCAST: 1.
    virtual LRESULT OnPowerBroadcast(WPARAM wParam, LPARAM lParam);
    // "_ControlPanel" and the interface GUID: the main window's class and its profile section.
    static const char16_t* GetMainWindowClassName();
    // The status bar's text: E_FAIL, since the framework has no status bar.
    virtual ORVRESULT SetStatusText(const WideString& text, bool immediate);
    virtual ORVRESULT ResetStatusText(bool immediate);

    // --- Platform answers; tests and the host put their own in.

    // 0; down is bit 15 of the key state, toggled bit 0.
    virtual ORVRESULT GetKeyState(int32_t virtualKey, bool& down, bool& toggled);
    // The cursor of a "UI_CURSOR_..." name; null for the names without a cursor.
    virtual HCURSOR GetCursor(const WideString& name);
    // The pointer in screen coordinates and the buttons down, asked of the system.
    virtual PointL GetSystemCursorPos();
    virtual int32_t GetSystemMouseButtons();

private:
    struct RootWindowList;
    RootWindowList& Windows();
    RootWindowList* rootWindows = nullptr;
    void (*dropRootWindows)(RootWindowList*) = nullptr;
    bool (*processRootWindows)(RootWindowList*, bool) = nullptr;
    uint32_t lastMilliseconds;
    // The factory and the default font, made by the first setter and dropped with the
    // application through the function that made them.
    struct ControlServices;
    ControlServices& Services();
    static void DropControlServices(ControlServices* services);
    ControlServices* controlServices = nullptr;
    void (*dropControlServices)(ControlServices*) = nullptr;
    double seconds = 0.0;
    RCPtr<LGlobalHotKeyManager> hotKeyManager;
};

// The process's application object; null outside its lifetime.
LFrameworkApp* GetFrameworkApp();

}  // namespace Orv
