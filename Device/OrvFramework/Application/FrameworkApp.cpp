#include "Application/FrameworkApp.h"

#include <atomic>

#include <windows.h>

#include "Application/ApplicationNotificationCenter.h"
#include "Notification/NotificationCenterManager.h"
#include "System/GlobalHotKeyManager.h"
#include "System/ResourceModule.h"

namespace Orv {

namespace {

std::atomic<LFrameworkApp*> theApplication{nullptr};

}  // namespace

LFrameworkApp::LFrameworkApp() : lastMilliseconds(timeGetTime())
{
    GetNotificationCenterManager();
    theApplication.store(this, std::memory_order_release);
    if (const RCPtr<LNotificationCenter> center = GetApplicationNotificationCenter()) {
        hotKeyManager = LGlobalHotKeyManager::Create(center->GetPostingReceiver());
    }
}

LFrameworkApp::~LFrameworkApp()
{
    if (dropRootWindows != nullptr) {
        dropRootWindows(rootWindows);
    }
    if (dropControlServices != nullptr) {
        dropControlServices(controlServices);
    }
    // Its target is a receiver of a center the manager below takes down.
    hotKeyManager = nullptr;
    LFrameworkApp* self = this;
    theApplication.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
    ReleaseNotificationCenterManager();
}

ORVRESULT LFrameworkApp::RunApplicationStartup()
{
    return S_OK;
}

bool LFrameworkApp::OnIdle(bool sendIdle)
{
    const auto& manager = GetNotificationCenterManager();
    bool more = manager ? manager->ProcessAllQueues(sendIdle) : false;
    if (processRootWindows != nullptr && processRootWindows(rootWindows, sendIdle)) {
        more = true;
    }
    return more;
}

ORVRESULT LFrameworkApp::OnRemoteCommandLine(const WideString&)
{
    return S_OK;
}

LRESULT LFrameworkApp::OnPowerBroadcast(WPARAM, LPARAM)
{
    return 1;
}

const char16_t* LFrameworkApp::GetMainWindowClassName()
{
    return u"_ControlPanel{6242F6B0-04E7-497F-AE8D-287E12D19420}";
}

ORVRESULT LFrameworkApp::SetStatusText(const WideString&, bool)
{
    return E_FAIL;
}

ORVRESULT LFrameworkApp::ResetStatusText(bool)
{
    return E_FAIL;
}

ORVRESULT LFrameworkApp::GetKeyState(int32_t virtualKey, bool& down, bool& toggled)
{
    const auto state = static_cast<uint16_t>(::GetKeyState(virtualKey));
    down = (state & 0x8000) != 0;
    toggled = (state & 1) != 0;
    return S_OK;
}

HCURSOR LFrameworkApp::GetCursor(const WideString& name)
{
    struct Named
    {
        const char16_t* name;
        LPCWSTR system;
    };
    static const Named kSystem[] = {
        {u"UI_CURSOR_ARROW", IDC_ARROW},
        {u"UI_CURSOR_IBEAM", IDC_IBEAM},
        {u"UI_CURSOR_WAIT", IDC_WAIT},
        {u"UI_CURSOR_CROSS", IDC_CROSS},
        {u"UI_CURSOR_UP_ARROW", IDC_UPARROW},
        {u"UI_CURSOR_SIZE_ALL", IDC_SIZEALL},
        {u"UI_CURSOR_SIZE_NWSE", IDC_SIZENWSE},
        {u"UI_CURSOR_SIZE_NESW", IDC_SIZENESW},
        {u"UI_CURSOR_SIZE_WE", IDC_SIZEWE},
        {u"UI_CURSOR_SIZE_NS", IDC_SIZENS},
        {u"UI_CURSOR_NO_DROP", IDC_NO},
        {u"UI_CURSOR_HAND", IDC_HAND},
        {u"UI_CURSOR_APP_STARTING", IDC_APPSTARTING},
        {u"UI_CURSOR_HELP", IDC_HELP},
    };
    static const char16_t* const kNone[] = {u"UI_CURSOR_SPLIT_V",  u"UI_CURSOR_SPLIT_H",
                                            u"UI_CURSOR_ROTATE",   u"UI_CURSOR_MAG",
                                            u"UI_CURSOR_MAG_PLUS", u"UI_CURSOR_MAG_MINUS"};
    for (const Named& entry : kSystem) {
        if (name == WideString(entry.name)) {
            return LoadCursorW(nullptr, entry.system);
        }
    }
    for (const char16_t* entry : kNone) {
        if (name == WideString(entry)) {
            return nullptr;
        }
    }
    if (name == WideString(u"UI_CURSOR_DROP_MOVE")) {
        return LoadCursorW(GetResourceModule(), MAKEINTRESOURCEW(102));
    }
    if (name == WideString(u"UI_CURSOR_DROP_COPY")) {
        return LoadCursorW(GetResourceModule(), MAKEINTRESOURCEW(103));
    }
    return LoadCursorW(nullptr, IDC_ARROW);
}

PointL LFrameworkApp::GetSystemCursorPos()
{
    POINT point{0, 0};
    ::GetCursorPos(&point);
    return PointL{static_cast<int32_t>(point.x), static_cast<int32_t>(point.y)};
}

int32_t LFrameworkApp::GetSystemMouseButtons()
{
    int32_t mask = 0;
    const int keys[] = {VK_LBUTTON, VK_MBUTTON, VK_RBUTTON};
    const int32_t bits[] = {1, 2, 4};
    for (int index = 0; index < 3; ++index) {
        if ((static_cast<uint16_t>(::GetKeyState(keys[index])) & 0x8000) != 0) {
            mask |= bits[index];
        }
    }
    return mask;
}

uint32_t LFrameworkApp::GetTimeMilliseconds() const
{
    return timeGetTime();
}

double LFrameworkApp::GetTimeSeconds()
{
    const uint32_t now = timeGetTime();
    seconds += static_cast<uint32_t>(now - lastMilliseconds) / 1000.0;
    lastMilliseconds = now;
    return seconds;
}

LFrameworkApp* GetFrameworkApp()
{
    return theApplication.load(std::memory_order_acquire);
}

}  // namespace Orv
