#include "Application/FrameworkApp.h"

#include <atomic>

#include <windows.h>

#include "Notification/NotificationCenterManager.h"

namespace Orv {

namespace {

std::atomic<LFrameworkApp*> theApplication{nullptr};

}  // namespace

LFrameworkApp::LFrameworkApp() : lastMilliseconds(timeGetTime())
{
    GetNotificationCenterManager();
    theApplication.store(this, std::memory_order_release);
}

LFrameworkApp::~LFrameworkApp()
{
    if (dropControlServices != nullptr) {
        dropControlServices(controlServices);
    }
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
    return manager ? manager->ProcessAllQueues(sendIdle) : false;
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
