// The application's list of root windows, kept with the control tree's library since it holds
// them, and the idle pass that runs their queues.

#include <vector>

#include "Application/FrameworkApp.h"
#include "ControlBase/RootWindow.h"
#include "ControlBase/WindowOSServices.h"
#include "Renderer/MeasurementRendererSource.h"
#include "Utilities/Storage/RCPtrArray.h"
#include "win32/SystemParameters.h"

namespace Orv {

struct LFrameworkApp::RootWindowList
{
    RCPtrArray<LRootWindow> windows;

    static void Drop(RootWindowList* list)
    {
        SetMeasurementRendererProvider(MeasurementRendererProvider());
        delete list;
    }

    // Last to first over a counted copy: a window's queue may remove windows from the list.
    static bool Process(RootWindowList* list, bool sendIdle)
    {
        std::vector<RCPtr<LRootWindow>> copy;
        for (uint32_t index = 0; index < list->windows.GetCount(); ++index) {
            copy.push_back(list->windows.GetData()[index]);
        }
        bool more = false;
        for (auto at = copy.rbegin(); at != copy.rend(); ++at) {
            if (*at && (*at)->ProcessNotifications(sendIdle)) {
                more = true;
            }
        }
        return more;
    }
};

LFrameworkApp::RootWindowList& LFrameworkApp::Windows()
{
    if (rootWindows == nullptr) {
        rootWindows = new RootWindowList();
        dropRootWindows = &RootWindowList::Drop;
        processRootWindows = &RootWindowList::Process;
        SetMeasurementRendererProvider([this] { return GetMeasurementRenderer(); });
    }
    return *rootWindows;
}

int32_t LFrameworkApp::IndexOfRootWindow(const LRootWindow* window) const
{
    if (rootWindows == nullptr || window == nullptr) {
        return -1;
    }
    const RCPtrArray<LRootWindow>& windows = rootWindows->windows;
    for (uint32_t index = 0; index < windows.GetCount(); ++index) {
        if (windows.GetData()[index].Get() == window) {
            return static_cast<int32_t>(index);
        }
    }
    return -1;
}

int32_t LFrameworkApp::AddRootWindow(const RCPtr<LRootWindow>& window)
{
    if (!window) {
        return -1;
    }
    const int32_t found = IndexOfRootWindow(window.Get());
    if (found >= 0) {
        return found;
    }
    RCPtrArray<LRootWindow>& windows = Windows().windows;
    windows.InsertItem(windows.GetCount(), window);
    return static_cast<int32_t>(windows.GetCount()) - 1;
}

ORVRESULT LFrameworkApp::RemoveRootWindow(const RCPtr<LRootWindow>& window)
{
    const int32_t found = IndexOfRootWindow(window.Get());
    if (found < 0) {
        return E_FAIL;
    }
    RCPtr<LRootWindow> removed;
    rootWindows->windows.RemoveItem(static_cast<uint32_t>(found), removed);
    return S_OK;
}

int32_t LFrameworkApp::GetRootWindowCount() const
{
    return rootWindows == nullptr ? 0 : static_cast<int32_t>(rootWindows->windows.GetCount());
}

RCPtr<LRootWindow> LFrameworkApp::GetRootWindow(int32_t index) const
{
    if (index < 0 || index >= GetRootWindowCount()) {
        return RCPtr<LRootWindow>();
    }
    return rootWindows->windows.GetData()[index];
}

RCPtr<LRootWindow> LFrameworkApp::GetActiveRootWindow() const
{
    for (int32_t index = GetRootWindowCount() - 1; index >= 0; --index) {
        const RCPtr<LRootWindow> window = GetRootWindow(index);
        IWindowOSServices* services = window ? window->GetOSServices() : nullptr;
        if (services && services->IsActive()) {
            return window;
        }
    }
    return RCPtr<LRootWindow>();
}

RCPtr<LMeasurementRenderer> LFrameworkApp::GetMeasurementRenderer() const
{
    const RCPtr<LRootWindow> first = GetRootWindow(0);
    return first ? RCPtr<LMeasurementRenderer>(first->GetRenderer().Get())
                 : RCPtr<LMeasurementRenderer>();
}

RectL LFrameworkApp::GetWorkArea() const
{
    RECT area{0, 0, 0, 0};
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) {
        return RectL{0, 0, 0, 0};
    }
    return RectL{static_cast<int32_t>(area.left), static_cast<int32_t>(area.top),
                 static_cast<int32_t>(area.right - area.left),
                 static_cast<int32_t>(area.bottom - area.top)};
}

PointL LFrameworkApp::GetCursorPos()
{
    if (const RCPtr<LRootWindow> active = GetActiveRootWindow()) {
        IWindowOSServices* services = active->GetOSServices();
        PointL client{0, 0};
        PointL screen{0, 0};
        if (services->GetCursorPosition(client) >= 0 &&
            services->ClientToScreen(screen, client) >= 0) {
            return screen;
        }
    }
    return GetSystemCursorPos();
}

int32_t LFrameworkApp::GetMouseButtons()
{
    if (const RCPtr<LRootWindow> active = GetActiveRootWindow()) {
        return active->GetOSServices()->GetMouseButtons();
    }
    return GetSystemMouseButtons();
}

}  // namespace Orv
