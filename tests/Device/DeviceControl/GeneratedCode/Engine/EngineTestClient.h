#pragma once
// A panel stand-in for the engine's tests: registered at the "application" center for the
// engine's notifications, it keeps what the idle passes deliver, in order.

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "Application/ApplicationNotificationCenter.h"
#include "Application/FrameworkApp.h"
#include "Notification/Notification.h"
#include "RootModuleEngine.h"

class EngineTestClient : public Orv::LNotificationClient
{
public:
    struct Received
    {
        Orv::NotificationId id;
        Orv::RCPtr<Orv::LRefCountedObject> parameter;
    };

    static Orv::RCPtr<EngineTestClient> Listen()
    {
        Orv::RCPtr<EngineTestClient> client(new EngineTestClient());
        const Orv::RCPtr<Orv::LNotificationDistributor> center(GetApplicationNotificationCenter());
        for (const char16_t* id :
             {u"NID_PARAM_MODULE_STATE_CHANGE", u"NID_DEVICE_CONNECTION_STATE_CHANGE",
              u"NID_REMOTE_DEVICE_LIST_CHANGE"}) {
            client->Register(center, id);
        }
        return client;
    }

    int OnNotification(const Orv::RCPtr<Orv::LNotificationDistributor>&,
                       const Orv::RCPtr<Orv::LNotification>& notification) override
    {
        received.push_back({notification->id, notification->parameter});
        return 1;
    }

    std::vector<Received> Of(const char16_t* idText) const
    {
        std::vector<Received> out;
        for (const Received& r : received) {
            if (r.id == Orv::InternNotificationId(idText)) {
                out.push_back(r);
            }
        }
        return out;
    }

    // The connection states notified so far.
    std::vector<int32_t> States() const
    {
        std::vector<int32_t> out;
        for (const Received& r : Of(u"NID_DEVICE_CONNECTION_STATE_CHANGE")) {
            const auto* holder =
                dynamic_cast<const LRootModuleEngine::StateHolder*>(r.parameter.Get());
            out.push_back(holder != nullptr ? holder->Get() : -1);
        }
        return out;
    }

    std::vector<Received> received;
};

// Idle passes of the application until the condition holds or the wall-clock limit passes.
inline bool IdleUntil(Orv::LFrameworkApp& application, const std::function<bool()>& condition,
                      std::chrono::seconds limit = std::chrono::seconds(20))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        application.OnIdle(false);
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    application.OnIdle(false);
    return condition();
}
