#pragma once
// LRootWindow: the platform-neutral root of one window's control tree. The host window turns
// system messages into calls on it; it delivers input to the controls through UITarget, keeps the
// window-wide input state (hover, capture, focus, tool-tip owner, button masks), collects the
// rectangles controls report into its dirty region and paints the tree, and runs a notification
// queue of its own whose notifications reach the clients registered with the window.
//
// UI thread only, except that the window lock lets any thread add to the dirty region.

#include <cstdint>

#include "ControlBase/RectRegion.h"
#include "Notification/NotificationDistributor.h"
#include "Notification/NotificationQueue.h"
#include "ObjectBase/RCPtr.h"
#include "ObjectBase/RefCountedObject.h"
#include "Renderer/Renderer.h"
#include "System/GlobalHotKeyManager.h"
#include "System/Mutex.h"
#include "Utilities/Graphics/Geometry.h"
#include "Utilities/Storage/RCPtrArray.h"
#include "Utilities/Storage/StringT.h"
#include "win32/Window.h"

namespace Orv {

class IWindowOSServices;
class LControl;
class LKeyParam;

class LRootWindow : public LNotificationDistributor, public LNotificationQueue
{
public:
    // The queue delivers to this window; that self link does not keep the window alive.
    static RCPtr<LRootWindow> Create(const RCPtr<LRenderer>& renderer, IWindowOSServices* services);
    ~LRootWindow() override;
    LRootWindow(const LRootWindow&) = delete;
    LRootWindow& operator=(const LRootWindow&) = delete;

    // --- The tree

    // Replaces the root control (null: none). 0.
    ORVRESULT SetRootControl(const RCPtr<LControl>& control);
    // The current skin's sub-control of that name; an empty name installs none.
    ORVRESULT SetRootControlByName(const WideString& name);
    const RCPtr<LControl>& GetRootControl() const { return rootControl; }
    // Disconnects the clients, forgets the host, drops the tree and the queue's target: 0 when
    // then exactly one reference holds the window, else E_FAIL.
    ORVRESULT DropBackReferences() override;

    // --- Geometry and platform queries

    // The client area in screen coordinates (refreshed from the host when there is one).
    RectL GetWindowRect();
    PointL GetWindowSize();
    // The window's client area: width in x, height in y (what control invalidation cuts to).
    virtual PointL GetClientSize() const;
    void SetClientRect(const RectL& rect);
    // 1 when the size had to change, else 0; never below 1 on either axis.
    int32_t ConstrainClientSize(PointL& size);
    void OnClientSizeChanged(const PointL& size);
    PointL GetCursorPosition();
    int32_t GetMouseButtons();
    // 1 Ctrl, 8 Shift, 0x40 Alt.
    int32_t GetModifierKeys();
    // 0: the application's arrow cursor. The previous cursor; 0 without a host.
    HCURSOR SetCursor(HCURSOR cursor);
    // Active: the host opens text input only for a control that accepts text
    // (ITextInputControl); inactive: the host closes it whatever the control.
    void SetTextInputActive(bool active, const RCPtr<LControl>& control, void* data);
    IWindowOSServices* GetOSServices() const { return services; }
    const RCPtr<LRenderer>& GetRenderer() const { return renderer; }

    // --- Input

    // The control under the client point (deep), with the point in its coordinates.
    virtual RCPtr<LControl> HitTest(RCPtr<LControl>& found, const PointL& clientPoint,
                                    PointL& localPoint, bool updateHover);
    // kind: 0 press, 1 release, 2 double-click press.
    void HandleMouseButton(int32_t kind, int32_t button, int32_t modifiers, const PointL& point,
                           int32_t pointerIndex);
    void HandleMouseMove(const PointL& point, int32_t modifiers, int32_t pointerIndex);
    void HandleMouseWheel(const PointL& point, int32_t modifiers, int32_t wheelCode);
    void HandleKey(const RCPtr<LKeyParam>& key);
    ORVRESULT SetHoverControl(const RCPtr<LControl>& control);
    // E_INVALIDARG for null.
    ORVRESULT SetCaptureControl(const RCPtr<LControl>& control);
    ORVRESULT ReleaseCaptureControl();
    void CancelCapture();
    void SetFocusControl(const RCPtr<LControl>& control);
    void OnFocusReleased();
    void OnWindowFocusGained();
    void OnWindowFocusLost();
    void CycleFocusToNextWindow(const RCPtr<LKeyParam>& key);
    const RCPtr<LControl>& GetHoverControl() const { return hoverControl; }
    const RCPtr<LControl>& GetCaptureControl() const { return captureControl; }
    const RCPtr<LControl>& GetFocusControl() const { return focusControl; }
    const RCPtr<LControl>& GetRememberedFocus() const { return rememberedFocus; }
    const RCPtr<LControl>& GetToolTipOwner() const { return toolTipOwner; }
    // A control that left the tree: the window lets go of its hover, capture, focus and tip
    // holders in that subtree (without calling them: the control was closed).
    void ForgetSubtree(const RCPtr<LControl>& control);
    int32_t GetButtonMask(int32_t pointerIndex) const;
    const RCPtr<LGlobalHotKeyManager>& GetHotKeys() const { return hotKeys; }

    // --- Modal and closing

    // E_FAIL without a host; else the request waits for the next ProcessNotifications.
    ORVRESULT EndModal(int32_t result);
    bool ProcessNotifications(bool sendIdle);
    void RequestClose();

    // --- Invalidation and paint

    // Window client coordinates; cut to the client area.
    virtual void InvalidateRect(const RectL& rect);
    void InvalidateAll();
    void SetFullRepaintPending() { fullRepaintPending = 1; }
    bool IsFullRepaintPending() const { return fullRepaintPending != 0; }
    void TakeDirtyRegion(RectRegion& out);
    // The renderer must be between RenderStart and RenderFinish on the window's context.
    void Paint(const RectRegion& region);
    // The host's part of a paint: the dirty region and the system's update rectangle go to the
    // context, the renderer opens it, the tree is drawn, the renderer closes it on every path.
    void PaintContext(const RCPtr<LRenderContextInfo>& context, const RectL& systemUpdate);
    void RenderTree(const RCPtr<LControl>& control, const RectRegion& region, bool overlayPass);

protected:
    explicit LRootWindow(const RCPtr<LRenderer>& renderer = RCPtr<LRenderer>(),
                         IWindowOSServices* services = nullptr);

private:
    bool HasActiveHost();
    void HideToolTip();
    PointL LocalPointOf(const RCPtr<LControl>& control, const PointL& clientPoint);

    RCPtr<LRenderer> renderer;
    IWindowOSServices* services;
    int32_t windowX = 0;
    int32_t windowY = 0;
    int32_t windowWidth = 1024;
    int32_t windowHeight = 768;
    RCPtr<LControl> rootControl;
    RectRegion dirtyRegion;
    Mutex windowLock;
    uint8_t fullRepaintPending = 0;
    uint8_t doubleClickFlags = 0;
    RCPtr<LGlobalHotKeyManager> hotKeys;
    RCPtr<LControl> focusControl;
    RCPtr<LControl> rememberedFocus;
    RCPtr<LControl> hoverControl;
    RCPtr<LControl> toolTipOwner;
    RCPtr<LControl> captureControl;
    uint8_t endModalPending = 0;
    int32_t endModalResult = 0;
    int32_t buttonMasks[10] = {};
    bool rootLinkCounted = false;
};

// The application's cursor of that name ("UI_CURSOR_..."); null without an application.
HCURSOR LoadAppCursor(const WideString& name);

}  // namespace Orv
