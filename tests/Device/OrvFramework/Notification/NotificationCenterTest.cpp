// Named centers, their manager and the idle-time drain of every center.
#include "Notification/NotificationCenterManager.h"

#include "Notification/NotificationIdTexts.h"
#include "NotificationFixtures.h"

namespace OrvTest {
namespace {

using Orv::CreateNotification;
using Orv::LNotificationCenter;
using Orv::NID_IDLE;
using Orv::NID_VALUE_CHANGE;
using Orv::WideString;

TEST_F(NotificationTest, GetCenterFindsByExactName)
{
    const auto& manager = Orv::GetNotificationCenterManager();
    ASSERT_TRUE(manager);
    EXPECT_EQ(Orv::GetNotificationCenterManager(), manager);
    const auto application = manager->GetCenter(WideString(u"application"));
    ASSERT_TRUE(application);
    EXPECT_EQ(manager->GetCenter(WideString(u"application")), application);
    EXPECT_EQ(manager->FindCenter(WideString(u"application")), application);
    const auto other = manager->GetCenter(WideString(u"Application"));
    EXPECT_TRUE(other);
    EXPECT_NE(other, application);
    EXPECT_FALSE(manager->GetCenter(WideString()));
    EXPECT_FALSE(manager->FindCenter(WideString(u"nowhere")));
    EXPECT_EQ(manager->GetCenterCount(), 2u);
    EXPECT_EQ(application->GetName(), WideString(u"application"));
}

TEST_F(NotificationTest, CenterSendsItsQueueThroughItself)
{
    const auto center = Orv::CreateNotificationCenter(WideString(u"solo"));
    EXPECT_EQ(center->GetTargetDistributor(), center);
    // The posting receiver's and the self-target's references are back references.
    EXPECT_EQ(center->GetBackReferenceCount(), 2);
    EXPECT_EQ(center->GetRefCount(), 3);
}

TEST_F(NotificationTest, ProcessAllQueuesDrainsTheNewestCenterFirst)
{
    CallLog log;
    const auto& manager = Orv::GetNotificationCenterManager();
    const auto first = manager->GetCenter(WideString(u"first"));
    const auto second = manager->GetCenter(WideString(u"second"));
    const auto a = MakeClient("A", log);
    const auto b = MakeClient("B", log);
    a->Register(first, NID_VALUE_CHANGE);
    a->Register(first, NID_IDLE);
    b->Register(second, NID_VALUE_CHANGE);
    first->PostNotification(CreateNotification(NID_VALUE_CHANGE, IntParam(1)));
    second->PostNotification(CreateNotification(NID_VALUE_CHANGE, IntParam(2)));
    // B's post reaches a center not drained yet in this pass; A's reaches one already drained.
    b->action = [&](const auto&, const auto& n) {
        if (IntParameter(n) == 2) {
            first->PostNotification(CreateNotification(NID_VALUE_CHANGE, IntParam(3)));
        }
    };
    a->action = [&](const auto&, const auto& n) {
        if (IntParameter(n) == 1) {
            second->PostNotification(CreateNotification(NID_VALUE_CHANGE, IntParam(4)));
        }
    };
    EXPECT_TRUE(manager->ProcessAllQueues(true));
    EXPECT_EQ(log, (CallLog{"B:NID_VALUE_CHANGE:2", "A:NID_VALUE_CHANGE:1", "A:NID_VALUE_CHANGE:3",
                            "A:NID_IDLE"}));
    log.clear();
    EXPECT_FALSE(manager->ProcessAllQueues(false));
    EXPECT_EQ(log, CallLog{"B:NID_VALUE_CHANGE:4"});
    a->UnregisterAll();
    b->UnregisterAll();
}

TEST_F(NotificationTest, ReleasingTheManagerTearsEveryCenterDown)
{
    CallLog log;
    const auto client = MakeClient("A", log);
    {
        const auto center =
            Orv::GetNotificationCenterManager()->GetCenter(WideString(u"application"));
        client->Register(center, NID_VALUE_CHANGE);
        center->PostNotification(CreateNotification(NID_VALUE_CHANGE));
    }
    EXPECT_EQ(client->GetRegistrationCount(), 1);
    Orv::ReleaseNotificationCenterManager();
    // The center disconnected its client and dropped what was queued, undelivered.
    EXPECT_EQ(client->GetRegistrationCount(), 0);
    EXPECT_EQ(client->GetBackReferenceCount(), 0);
    EXPECT_EQ(client->GetRefCount(), 1);
    EXPECT_TRUE(log.empty());
}

TEST_F(NotificationTest, CenterHeldOnlyByBackReferencesIsDestroyed)
{
    CallLog log;
    const auto client = MakeClient("A", log);
    Orv::RCPtr<LNotificationCenter> center = Orv::CreateNotificationCenter(WideString(u"c"));
    client->Register(center, NID_VALUE_CHANGE);
    center->PostNotification(CreateNotification(NID_VALUE_CHANGE));
    center = nullptr;
    // The center disconnected its client and detached its queue on the way out.
    EXPECT_EQ(client->GetRegistrationCount(), 0);
    EXPECT_EQ(client->GetRefCount(), 1);
}

TEST_F(NotificationTest, DetachingAHeldCenterKeepsItsClients)
{
    // Detach gives up the receiver's and the self-target's references; the center is still held
    // here, so that must not be taken for its teardown (which would disconnect its clients).
    CallLog log;
    const auto client = MakeClient("A", log);
    const auto center = Orv::CreateNotificationCenter(WideString(u"held"));
    client->Register(center, NID_VALUE_CHANGE);
    center->Detach();
    EXPECT_EQ(client->GetRegistrationCount(), 1);
    EXPECT_EQ(center->GetBackReferenceCount(), 2);  // the registration and the active list
    EXPECT_EQ(center->PostNotification(CreateNotification(NID_VALUE_CHANGE)), E_FAIL);
    center->SendNotification(CreateNotification(NID_VALUE_CHANGE));
    EXPECT_EQ(log, CallLog{"A:NID_VALUE_CHANGE"});
    client->UnregisterAll();
    EXPECT_EQ(center->GetRefCount(), 1);
}

}  // namespace
}  // namespace OrvTest
