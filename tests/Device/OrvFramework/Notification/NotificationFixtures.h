#pragma once
// Clients that record what reaches them, and a fixture that leaves the process-wide notification
// state (pooling, the manager) as it found it.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Notification/Notification.h"
#include "Notification/NotificationCenterManager.h"
#include "Notification/NotificationDistributor.h"
#include "ObjectBase/Holder.h"

namespace OrvTest {

using Orv::LNotification;
using Orv::LNotificationClient;
using Orv::LNotificationDistributor;
using Orv::RCPtr;

// One line per delivery: "<client>:<id text>" (and ":<int parameter>" when it carries one).
using CallLog = std::vector<std::string>;

inline std::string Narrow(const char16_t* text)
{
    std::string out;
    for (; text != nullptr && *text != 0; ++text) {
        out += static_cast<char>(*text);
    }
    return out;
}

inline int IntParameter(const RCPtr<LNotification>& notification)
{
    const auto holder = Orv::DynamicRCPtrCast<Orv::LHolder<int>>(notification->parameter);
    return holder ? holder->Get() : -1;
}

inline RCPtr<Orv::LRefCountedObject> IntParam(int value)
{
    return RCPtr<Orv::LRefCountedObject>(new Orv::LHolder<int>(value));
}

// Instances alive, for parameters and notifications whose destruction a test watches.
class LiveParameter : public virtual Orv::LRefCountedObject
{
public:
    LiveParameter() { ++live; }
    ~LiveParameter() override { --live; }
    static inline int live = 0;
};

class LiveNotification : public LNotification
{
public:
    LiveNotification()
    {
        ++live;
        id = Orv::InternNotificationId(u"NID_LIVE");
    }
    ~LiveNotification() override { --live; }
    static inline int live = 0;
};

class LRecordingClient : public LNotificationClient
{
public:
    using Action =
        std::function<void(const RCPtr<LNotificationDistributor>&, const RCPtr<LNotification>&)>;

    LRecordingClient(std::string name, CallLog& log, bool* destroyed = nullptr)
        : name(std::move(name)), log(log), destroyed(destroyed)
    {
    }
    ~LRecordingClient() override
    {
        if (destroyed != nullptr) {
            *destroyed = true;
        }
    }

    int OnNotification(const RCPtr<LNotificationDistributor>& sender,
                       const RCPtr<LNotification>& notification) override
    {
        std::string line = name + ":" + Narrow(notification->id);
        const int value = IntParameter(notification);
        if (value >= 0) {
            line += ":" + std::to_string(value);
        }
        log.push_back(line);
        lastSender = sender.Get();
        if (action) {
            // Moved out first: the action may drop this client's last reference.
            const Action run = action;
            run(sender, notification);
        }
        return 0;
    }

    std::string name;
    CallLog& log;
    bool* destroyed;
    Action action;
    const LNotificationDistributor* lastSender = nullptr;
};

inline RCPtr<LRecordingClient> MakeClient(const std::string& name, CallLog& log,
                                          bool* destroyed = nullptr)
{
    return RCPtr<LRecordingClient>(new LRecordingClient(name, log, destroyed));
}

inline RCPtr<LNotificationDistributor> MakeDistributor()
{
    return RCPtr<LNotificationDistributor>(new LNotificationDistributor());
}

// Every test starts and ends with pooling off and no center manager.
class NotificationTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        Orv::ReleaseNotificationCenterManager();
        Orv::EnableNotificationPooling(false);
        EXPECT_EQ(Orv::ActiveDistributors().GetCount(), 0u) << "a distributor was left registered";
    }
};

}  // namespace OrvTest
