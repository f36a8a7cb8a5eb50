// The root window's lifetime, tree, geometry and modal requests.

#include "ControlBase/RootWindow.h"

#include <algorithm>

#include <windows.h>

#include "Application/FrameworkApp.h"
#include "ControlBase/Control.h"
#include "ControlBase/ControlFactory.h"
#include "ControlBase/InputPayloads.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/LayoutEngine.h"
#include "ControlBase/TextInputControl.h"
#include "ControlBase/WindowOSServices.h"
#include "Renderer/Renderer.h"
#include "System/GlobalHotKeyManager.h"

namespace Orv {

LRootWindow::LRootWindow(const RCPtr<LRenderer>& renderer, IWindowOSServices* services)
    : renderer(renderer), services(services)
{
    hotKeys = LGlobalHotKeyManager::Create(GetPostingReceiver());
}

RCPtr<LRootWindow> LRootWindow::Create(const RCPtr<LRenderer>& renderer,
                                       IWindowOSServices* services)
{
    RCPtr<LRootWindow> window(new LRootWindow(renderer, services));
    // The queue counts its hold on its own window as a back reference.
    window->SetTargetDistributor(window);
    return window;
}

LRootWindow::~LRootWindow()
{
    captureControl = nullptr;
    toolTipOwner = nullptr;
    hoverControl = nullptr;
    rememberedFocus = nullptr;
    focusControl = nullptr;
    hotKeys = nullptr;
    rootControl = nullptr;
    dirtyRegion.Clear();
}

ORVRESULT LRootWindow::DropBackReferences()
{
    const RCPtr<LRootWindow> self(this);
    DisconnectAllClients();
    services = nullptr;
    SetRootControlByName(WideString());
    Detach();
    // The local holder is one reference more than the caller's.
    return GetBackReferenceCount() == 0 && GetRefCount() == 2 ? S_OK : E_FAIL;
}

ORVRESULT LRootWindow::SetRootControl(const RCPtr<LControl>& control)
{
    const RCPtr<LRootWindow> self(this);
    focusControl = nullptr;
    rememberedFocus = nullptr;
    hoverControl = nullptr;
    captureControl = nullptr;
    toolTipOwner = nullptr;
    if (const RCPtr<LControl> old = rootControl) {
        if (rootLinkCounted) {
            rootLinkCounted = false;
            RemoveBackReference();
        }
        old->Close();
        // A closed tree must not hold the window: the pair would keep each other alive.
        if (old->GetRootWindowRef().Get() == this) {
            old->SetRootWindow(RCPtr<LRootWindow>());
        }
        if (hotKeys) {
            hotKeys->GetHotKeys().RemoveAll();
        }
    }
    if (!control) {
        rootControl = nullptr;
        return S_OK;
    }
    rootControl = control;
    if (hotKeys && control->GetStringTable()) {
        hotKeys->GetHotKeys().LoadFromStringTable(control->GetStringTable(), WideString(u"GHK"));
    }
    if (!control->GetRootWindowRef()) {
        control->SetRootWindow(self);
    }
    if (const RCPtr<LLayoutDescriptor>& layout = control->GetLayout()) {
        // The root control fills the client area; its docked flags stay.
        AxisPositionSpec xPosition;
        xPosition.reference = kPositionToClient;
        xPosition.docked = layout->xIsDocked;
        AxisPositionSpec yPosition = xPosition;
        yPosition.docked = layout->yIsDocked;
        AxisSizeSpec fill;
        fill.reference = kSizeToClient;
        fill.rel = 1.0f;
        control->SetLayoutPlacement(xPosition, fill, yPosition, fill);
    }
    if (!focusControl && services) {
        if (services->HasFocus()) {
            control->SetFocus(true);
        } else {
            services->SetFocus();
        }
    }
    if (control->GetRootWindowRef().Get() == this) {
        AddBackReference();
        rootLinkCounted = true;
    }
    InvalidateRect(RectL{0, 0, windowWidth, windowHeight});
    return S_OK;
}

ORVRESULT LRootWindow::SetRootControlByName(const WideString& name)
{
    if (name.IsEmpty()) {
        return SetRootControl(RCPtr<LControl>());
    }
    RCPtr<LControl> control;
    if (LFrameworkApp* app = GetFrameworkApp()) {
        if (const RCPtr<LControlFactory>& factory = app->GetControlFactory()) {
            control = factory->CreateControlByName(name, RCPtr<LRootWindow>(this));
        }
    }
    return SetRootControl(control);
}

RectL LRootWindow::GetWindowRect()
{
    if (services) {
        RectL client{0, 0, windowWidth, windowHeight};
        if (services->GetClientRect(client) >= 0) {
            windowWidth = client.width;
            windowHeight = client.height;
        }
        PointL screen{windowX, windowY};
        if (services->ClientToScreen(screen, PointL{0, 0}) >= 0) {
            windowX = screen.x;
            windowY = screen.y;
        }
    }
    return RectL{windowX, windowY, windowWidth, windowHeight};
}

PointL LRootWindow::GetWindowSize()
{
    const RectL rect = GetWindowRect();
    return PointL{rect.width, rect.height};
}

PointL LRootWindow::GetClientSize() const
{
    return const_cast<LRootWindow*>(this)->GetWindowSize();
}

void LRootWindow::SetClientRect(const RectL& rect)
{
    if (!services) {
        return;
    }
    const RectL current = GetWindowRect();
    if (current.x == rect.x && current.y == rect.y && current.width == rect.width &&
        current.height == rect.height) {
        return;
    }
    services->SetClientRect(rect);
    if (const RCPtr<LControl> root = rootControl) {
        const RectD& box = root->GetRect();
        root->InvalidateRect(RectD{0, 0, box.width, box.height}, true);
    }
}

int32_t LRootWindow::ConstrainClientSize(PointL& size)
{
    const PointL proposed = size;
    PointL result = proposed;
    const RCPtr<LControl> root = rootControl;
    LFrameworkApp* app = GetFrameworkApp();
    if (root && root->GetLayout() && app) {
        PointL clientOrigin{0, 0};
        if (services) {
            services->ClientToScreen(clientOrigin, PointL{0, 0});
        }
        const RectL work = app->GetWorkArea();
        const RectD screen{-static_cast<double>(clientOrigin.x),
                           -static_cast<double>(clientOrigin.y), static_cast<double>(work.width),
                           static_cast<double>(work.height)};
        const PointL pointerScreen = app->GetCursorPos();
        PointL pointer = pointerScreen;
        if (services) {
            services->ScreenToClient(pointer, pointerScreen);
        }
        RectD placed;
        ResolveLayout(root->GetLayout().Get(), nullptr, screen,
                      PointD{static_cast<double>(proposed.x), static_cast<double>(proposed.y)},
                      PointD{static_cast<double>(pointer.x), static_cast<double>(pointer.y)},
                      placed);
        placed.SnapToPixels();
        PointD position{placed.x, placed.y};
        PointD extent{placed.width, placed.height};
        ApplyLayoutMinSize(*root, position, extent);
        ApplyLayoutMaxSize(*root, position, extent);
        placed = RectD{position.x, position.y, extent.x, extent.y};
        placed.SnapToPixels();
        result = PointL{static_cast<int32_t>(RoundHalfAway(placed.width)),
                        static_cast<int32_t>(RoundHalfAway(placed.height))};
    }
    result.x = std::max(result.x, 1);
    result.y = std::max(result.y, 1);
    size = result;
    return result.x != proposed.x || result.y != proposed.y ? 1 : 0;
}

void LRootWindow::OnClientSizeChanged(const PointL& size)
{
    if (const RCPtr<LControl> root = rootControl) {
        root->OnRelayout(size);
    }
}

PointL LRootWindow::GetCursorPosition()
{
    PointL point{0, 0};
    if (!services) {
        return point;
    }
    if (services->IsActive()) {
        services->GetCursorPosition(point);
        return point;
    }
    if (LFrameworkApp* app = GetFrameworkApp()) {
        services->ScreenToClient(point, app->GetCursorPos());
    }
    return point;
}

int32_t LRootWindow::GetMouseButtons()
{
    if (!services) {
        return 0;
    }
    if (services->IsActive()) {
        return services->GetMouseButtons();
    }
    LFrameworkApp* app = GetFrameworkApp();
    return app ? app->GetMouseButtons() : 0;
}

int32_t LRootWindow::GetModifierKeys()
{
    LFrameworkApp* app = GetFrameworkApp();
    if (!app) {
        return 0;
    }
    int32_t mask = 0;
    const int32_t keys[] = {VK_CONTROL, VK_SHIFT, VK_MENU};
    const int32_t bits[] = {1, 8, 0x40};
    for (int index = 0; index < 3; ++index) {
        bool down = false;
        bool toggled = false;
        if (app->GetKeyState(keys[index], down, toggled) >= 0 && down) {
            mask |= bits[index];
        }
    }
    return mask;
}

HCURSOR LRootWindow::SetCursor(HCURSOR cursor)
{
    if (!services) {
        return nullptr;
    }
    return services->SetCursor(cursor ? cursor : LoadAppCursor(u"UI_CURSOR_ARROW"));
}

void LRootWindow::SetTextInputActive(bool active, const RCPtr<LControl>& control, void* data)
{
    if (!services) {
        return;
    }
    if (!active) {
        services->SetTextInputActive(false, data);
        return;
    }
    // A control that takes no typed text must not open the host's text input.
    const auto* textInput = dynamic_cast<const ITextInputControl*>(control.Get());
    if (textInput && textInput->AcceptsTextInput()) {
        services->SetTextInputActive(true, data);
    }
}

void LRootWindow::CycleFocusToNextWindow(const RCPtr<LKeyParam>& key)
{
    if (!services || !services->IsActive() || services->IsModal() || !key) {
        return;
    }
    const RCPtr<LRootWindow> self(this);
    LFrameworkApp* app = GetFrameworkApp();
    const bool backwards = (key->key.code & KeyCode::kShiftBit) != 0;
    const int32_t count = app ? app->GetRootWindowCount() : 0;
    if (count <= 1) {
        if (const RCPtr<LControl> root = rootControl) {
            root->ReleaseFocus();
            root->SetFocus(!backwards);
        }
        return;
    }
    const int32_t at = app->IndexOfRootWindow(this);
    if (at < 0) {
        return;
    }
    int32_t next = at + (backwards ? -1 : 1);
    if (next < 0) {
        next = count - 1;
    } else if (next >= count) {
        next = 0;
    }
    const RCPtr<LRootWindow> found = app->GetRootWindow(next);
    IWindowOSServices* foundServices = found ? found->GetOSServices() : nullptr;
    if (foundServices && !foundServices->IsActive()) {
        foundServices->SetFocus();
    }
}

HCURSOR LoadAppCursor(const WideString& name)
{
    LFrameworkApp* app = GetFrameworkApp();
    return app ? app->GetCursor(name) : nullptr;
}

ORVRESULT LRootWindow::EndModal(int32_t result)
{
    if (!services) {
        return E_FAIL;
    }
    endModalResult = result;
    endModalPending = 1;
    return S_OK;
}

bool LRootWindow::ProcessNotifications(bool sendIdle)
{
    // The host may go, and drop the window, inside EndModal.
    const RCPtr<LRootWindow> self(this);
    const bool more = ProcessQueue(sendIdle);
    if (endModalPending && services) {
        endModalPending = 0;
        services->EndModal(endModalResult);
    }
    return more;
}

void LRootWindow::RequestClose()
{
    if (services) {
        endModalResult = 0;
        endModalPending = 1;
    }
}

}  // namespace Orv
