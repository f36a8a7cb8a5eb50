// Interning of id texts and the recycling of notifications.
#include "Notification/NotificationId.h"

#include "Notification/NotificationLocks.h"
#include "NotificationFixtures.h"

namespace OrvTest {
namespace {

using Orv::CreateNotification;
using Orv::InternNotificationId;

TEST(NotificationId, SameTextFromTwoBuffersIsOnePointer)
{
    const char16_t first[] = u"NID_IDLE";
    const char16_t second[] = u"NID_IDLE";
    const Orv::NotificationId id = InternNotificationId(first);
    ASSERT_NE(id, nullptr);
    EXPECT_NE(id, first);  // the registry holds its own copy of the text
    EXPECT_EQ(InternNotificationId(second), id);
    EXPECT_EQ(InternNotificationId(id), id);
    EXPECT_EQ(Narrow(id), "NID_IDLE");
}

TEST(NotificationId, TextsAreCaseSensitive)
{
    EXPECT_NE(InternNotificationId(u"nid_idle"), InternNotificationId(u"NID_IDLE"));
}

TEST(NotificationId, NullAndEmptyAreNoId)
{
    EXPECT_EQ(InternNotificationId(nullptr), nullptr);
    EXPECT_EQ(InternNotificationId(u""), nullptr);
}

TEST(NotificationId, RegistryOnlyGrowsAndKeepsTheText)
{
    const Orv::NotificationId id = InternNotificationId(u"NID_TEST_REGISTRY_GROWTH");
    uint32_t count = 0;
    {
        const Orv::ScopedLock lock(&Orv::NotificationRegistryLock());
        count = Orv::GetNotificationIdRegistry().GetCount();
    }
    // Many later ids move the registry's elements around; the early id stays valid and equal.
    for (int i = 0; i < 200; ++i) {
        const std::u16string text = u"NID_TEST_GROWTH_" + std::u16string(1, u'A' + i % 26) +
                                    std::u16string(1, u'a' + i / 26);
        InternNotificationId(text.c_str());
    }
    EXPECT_EQ(InternNotificationId(u"NID_TEST_REGISTRY_GROWTH"), id);
    EXPECT_EQ(Narrow(id), "NID_TEST_REGISTRY_GROWTH");
    const Orv::ScopedLock lock(&Orv::NotificationRegistryLock());
    EXPECT_EQ(Orv::GetNotificationIdRegistry().GetCount(), count + 200);
}

class NotificationPooling : public NotificationTest
{
protected:
    static uint32_t PoolCount()
    {
        const Orv::ScopedLock lock(&Orv::NotificationRegistryLock());
        return Orv::NotificationPool().GetCount();
    }
};

TEST_F(NotificationPooling, NoNotificationForNoId)
{
    for (const bool pooling : {false, true}) {
        Orv::EnableNotificationPooling(pooling);
        EXPECT_FALSE(CreateNotification(u""));
        EXPECT_FALSE(CreateNotification(nullptr, IntParam(1)));
        EXPECT_EQ(PoolCount(), 0u);
    }
}

TEST_F(NotificationPooling, ReleasedNotificationIsReusedWithoutItsParameter)
{
    Orv::EnableNotificationPooling(true);
    LiveParameter::live = 0;
    RCPtr<LNotification> notification =
        CreateNotification(u"NID_VALUE_CHANGE", RCPtr<Orv::LRefCountedObject>(new LiveParameter()));
    const LNotification* raw = notification.Get();
    EXPECT_EQ(LiveParameter::live, 1);
    notification = nullptr;
    // In the pool, held by it alone, the parameter released at once.
    EXPECT_EQ(LiveParameter::live, 0);
    ASSERT_EQ(PoolCount(), 1u);
    EXPECT_EQ(raw->GetRefCount(), 1);
    EXPECT_FALSE(raw->parameter);

    const RCPtr<LNotification> reused = CreateNotification(u"NID_LEFT_CLICK", IntParam(5));
    EXPECT_EQ(reused.Get(), raw);
    EXPECT_EQ(PoolCount(), 0u);
    EXPECT_EQ(reused->GetRefCount(), 1);
    EXPECT_EQ(reused->id, InternNotificationId(u"NID_LEFT_CLICK"));
    EXPECT_EQ(IntParameter(reused), 5);
    EXPECT_FALSE(reused->IsPosted());
}

TEST_F(NotificationPooling, WithoutPoolingTheLastReleaseDestroys)
{
    LiveParameter::live = 0;
    LiveNotification::live = 0;
    {
        RCPtr<LNotification> notification(new LiveNotification());
        notification->parameter = RCPtr<Orv::LRefCountedObject>(new LiveParameter());
    }
    EXPECT_EQ(LiveNotification::live, 0);
    EXPECT_EQ(LiveParameter::live, 0);
    EXPECT_EQ(PoolCount(), 0u);
}

TEST_F(NotificationPooling, SwitchingOffDestroysThePool)
{
    Orv::EnableNotificationPooling(true);
    LiveNotification::live = 0;
    {
        RCPtr<LNotification> first(new LiveNotification());
        RCPtr<LNotification> second(new LiveNotification());
    }
    EXPECT_EQ(PoolCount(), 2u);
    EXPECT_EQ(LiveNotification::live, 2);
    Orv::EnableNotificationPooling(false);
    EXPECT_EQ(PoolCount(), 0u);
    EXPECT_EQ(LiveNotification::live, 0);
    Orv::EnableNotificationPooling(true);
    EXPECT_EQ(PoolCount(), 0u);
    const RCPtr<LNotification> fresh = CreateNotification(u"NID_IDLE");
    EXPECT_EQ(LiveNotification::live, 0);  // newly allocated, not one of the destroyed
}

TEST_F(NotificationPooling, PostedNotificationKeepsItsParameterAndIsNotPooled)
{
    Orv::EnableNotificationPooling(true);
    RCPtr<LNotification> notification = CreateNotification(u"NID_VALUE_CHANGE", IntParam(3));
    RCPtr<LNotification> queueHold = notification;
    notification->SetPosted(true);
    notification = nullptr;  // the count was 2: not the last reference
    EXPECT_EQ(PoolCount(), 0u);
    EXPECT_EQ(IntParameter(queueHold), 3);
    queueHold->SetPosted(false);
    queueHold = nullptr;
    EXPECT_EQ(PoolCount(), 1u);
}

}  // namespace
}  // namespace OrvTest
