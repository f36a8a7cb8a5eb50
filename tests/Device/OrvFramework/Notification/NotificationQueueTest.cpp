// Posting, draining, coalescing and detaching of queues.
#include "Notification/NotificationQueue.h"

#include "Notification/NotificationIdTexts.h"
#include "NotificationFixtures.h"

namespace OrvTest {
namespace {

using Orv::CreateNotification;
using Orv::LNotificationQueue;
using Orv::NID_IDLE;
using Orv::NID_SET_STATUS_TEXT;
using Orv::NID_VALUE_CHANGE;

class Queue : public NotificationTest
{
protected:
    void SetUp() override
    {
        queue = RCPtr<LNotificationQueue>(new LNotificationQueue());
        ASSERT_EQ(queue->SetTargetDistributor(distributor), S_OK);
        client->Register(distributor, NID_VALUE_CHANGE);
    }
    void TearDown() override
    {
        client->UnregisterAll();
        if (coalescing) {
            coalescing->UnregisterAll();
        }
        queue->Detach();
        NotificationTest::TearDown();
    }

    Orv::ORVRESULT Post(int value, const char16_t* id = NID_VALUE_CHANGE)
    {
        return queue->PostNotification(CreateNotification(id, IntParam(value)));
    }

    CallLog log;
    RCPtr<LNotificationDistributor> distributor = MakeDistributor();
    RCPtr<LNotificationQueue> queue;
    RCPtr<LRecordingClient> client = MakeClient("A", log);
    RCPtr<LRecordingClient> coalescing;
};

TEST_F(Queue, DrainDeliversEverythingInPostingOrderAcrossGrowth)
{
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(Post(i), S_OK);
    }
    EXPECT_TRUE(log.empty());
    EXPECT_FALSE(queue->ProcessQueue(false));
    ASSERT_EQ(log.size(), 300u);
    for (int i = 0; i < 300; ++i) {
        EXPECT_EQ(log[i], "A:NID_VALUE_CHANGE:" + std::to_string(i));
    }
}

TEST_F(Queue, HandlerPostDuringDrainWaitsForTheNextDrain)
{
    client->action = [this](const auto&, const auto& n) {
        if (IntParameter(n) == 1) {
            Post(2);
        }
    };
    Post(1);
    EXPECT_TRUE(queue->ProcessQueue(false));
    EXPECT_EQ(log, CallLog{"A:NID_VALUE_CHANGE:1"});
    EXPECT_FALSE(queue->ProcessQueue(false));
    EXPECT_EQ(log, (CallLog{"A:NID_VALUE_CHANGE:1", "A:NID_VALUE_CHANGE:2"}));
}

TEST_F(Queue, PostingTheSameObjectTwiceIsRefused)
{
    const RCPtr<LNotification> notification = CreateNotification(NID_VALUE_CHANGE, IntParam(4));
    EXPECT_EQ(queue->PostNotification(notification), S_OK);
    EXPECT_TRUE(notification->IsPosted());
    EXPECT_EQ(queue->PostNotification(notification), E_INVALIDARG);
    EXPECT_EQ(queue->PostNotification(nullptr), E_INVALIDARG);
    // Refused also from a handler while it is being delivered.
    Orv::ORVRESULT fromHandler = S_OK;
    client->action = [&](const auto&, const auto& n) { fromHandler = queue->PostNotification(n); };
    queue->ProcessQueue(false);
    EXPECT_EQ(fromHandler, E_INVALIDARG);
    EXPECT_EQ(log, CallLog{"A:NID_VALUE_CHANGE:4"});
    EXPECT_FALSE(notification->IsPosted());
}

TEST_F(Queue, CoalescingClientHearsOnlyTheLastPost)
{
    coalescing = MakeClient("Latest", log);
    coalescing->Register(distributor, NID_VALUE_CHANGE, Orv::kNotificationCoalesce);
    for (int i = 1; i <= 3; ++i) {
        Post(i);
    }
    queue->ProcessQueue(false);
    EXPECT_EQ(log, (CallLog{"A:NID_VALUE_CHANGE:1", "A:NID_VALUE_CHANGE:2",
                            "Latest:NID_VALUE_CHANGE:3", "A:NID_VALUE_CHANGE:3"}));
    // A send never reaches a coalescing registration.
    log.clear();
    distributor->SendNotification(CreateNotification(NID_VALUE_CHANGE, IntParam(9)));
    EXPECT_EQ(log, CallLog{"A:NID_VALUE_CHANGE:9"});
}

TEST_F(Queue, CoalescingSlotIsEmptiedByTheDelivery)
{
    coalescing = MakeClient("Latest", log);
    coalescing->Register(distributor, NID_SET_STATUS_TEXT, Orv::kNotificationCoalesce);
    LiveParameter::live = 0;
    queue->PostNotification(CreateNotification(NID_SET_STATUS_TEXT,
                                               RCPtr<Orv::LRefCountedObject>(new LiveParameter())));
    queue->ProcessQueue(false);
    EXPECT_EQ(log, CallLog{"Latest:NID_SET_STATUS_TEXT"});
    EXPECT_EQ(LiveParameter::live, 0);  // nothing kept the delivered notification
}

TEST_F(Queue, IdleOnlyWhenAsked)
{
    client->Register(distributor, NID_IDLE);
    EXPECT_FALSE(queue->ProcessQueue(false));
    EXPECT_TRUE(log.empty());
    EXPECT_FALSE(queue->ProcessQueue(true));
    EXPECT_EQ(log, CallLog{"A:NID_IDLE"});
}

TEST_F(Queue, DrainInsideADrainDeliversNothingButStillSendsIdle)
{
    client->Register(distributor, NID_IDLE);
    client->action = [this](const auto&, const auto& n) {
        if (n->id == Orv::InternNotificationId(NID_VALUE_CHANGE)) {
            log.push_back(queue->ProcessQueue(true) ? "inner:pending" : "inner:empty");
        }
    };
    Post(1);
    Post(2);
    queue->ProcessQueue(false);
    EXPECT_EQ(log, (CallLog{"A:NID_VALUE_CHANGE:1", "A:NID_IDLE", "inner:pending",
                            "A:NID_VALUE_CHANGE:2", "A:NID_IDLE", "inner:empty"}));
}

TEST_F(Queue, ClearQueueDropsEverythingAndClearsThePostedFlag)
{
    const RCPtr<LNotification> kept = CreateNotification(NID_VALUE_CHANGE);
    queue->PostNotification(kept);
    Post(2);
    EXPECT_FALSE(queue->ClearQueue());
    EXPECT_FALSE(kept->IsPosted());
    EXPECT_EQ(queue->GetQueuedCount(), 0);
    queue->ProcessQueue(false);
    EXPECT_TRUE(log.empty());
}

TEST_F(Queue, HandlerThatDetachesEndsTheDrain)
{
    client->action = [this](const auto&, const auto&) { queue->Detach(); };
    Post(1);
    Post(2);
    EXPECT_FALSE(queue->ProcessQueue(true));
    EXPECT_EQ(log, CallLog{"A:NID_VALUE_CHANGE:1"});
}

TEST_F(Queue, AfterDetachPostsFailAndTheReceiverDropsSilently)
{
    const auto receiver = queue->GetPostingReceiver();
    ASSERT_TRUE(receiver);
    const int32_t before = queue->GetBackReferenceCount();
    queue->Detach();
    EXPECT_EQ(queue->GetBackReferenceCount(), before - 1);
    EXPECT_EQ(Post(1), E_FAIL);
    EXPECT_FALSE(queue->GetPostingReceiver());
    EXPECT_EQ(receiver->OnNotification(distributor, CreateNotification(NID_VALUE_CHANGE)), 0);
    EXPECT_EQ(queue->GetQueuedCount(), 0);
    EXPECT_EQ(queue->SetTargetDistributor(distributor), E_FAIL);
    queue->Detach();  // a second time changes nothing
    EXPECT_EQ(queue->GetBackReferenceCount(), before - 1);
    EXPECT_EQ(queue->GetRefCount(), 1);
}

TEST_F(Queue, PostingReceiverPostsACopySharingTheParameter)
{
    const auto receiver = queue->GetPostingReceiver();
    const RCPtr<LNotification> original = CreateNotification(NID_VALUE_CHANGE, IntParam(8));
    receiver->OnNotification(nullptr, original);
    EXPECT_FALSE(original->IsPosted());
    EXPECT_EQ(queue->GetQueuedCount(), 1);
    queue->ProcessQueue(false);
    EXPECT_EQ(log, CallLog{"A:NID_VALUE_CHANGE:8"});
    EXPECT_EQ(receiver->Unregister(distributor, NID_VALUE_CHANGE), E_FAIL);
}

TEST_F(Queue, TargetIsSetOnce)
{
    EXPECT_EQ(queue->SetTargetDistributor(MakeDistributor()), E_FAIL);
    EXPECT_EQ(queue->GetTargetDistributor(), distributor);
    EXPECT_EQ(queue->SetTargetDistributor(nullptr), S_OK);
    EXPECT_EQ(queue->GetTargetDistributor(), distributor);
}

TEST_F(NotificationTest, QueueWithoutTargetRefusesPostsAndSendsNoIdle)
{
    const RCPtr<LNotificationQueue> queue(new LNotificationQueue());
    EXPECT_EQ(queue->PostNotification(CreateNotification(NID_VALUE_CHANGE)), E_FAIL);
    EXPECT_EQ(queue->PostNamedNotification(u""), E_INVALIDARG);
    EXPECT_FALSE(queue->ProcessQueue(true));
    queue->Detach();
}

TEST_F(NotificationTest, PostNamedNotificationQueuesANewNotification)
{
    CallLog log;
    const auto distributor = MakeDistributor();
    const auto client = MakeClient("A", log);
    client->Register(distributor, NID_VALUE_CHANGE);
    const RCPtr<LNotificationQueue> queue(new LNotificationQueue());
    queue->SetTargetDistributor(distributor);
    EXPECT_EQ(queue->PostNamedNotification(NID_VALUE_CHANGE, IntParam(6)), S_OK);
    queue->ProcessQueue(false);
    EXPECT_EQ(log, CallLog{"A:NID_VALUE_CHANGE:6"});
    client->UnregisterAll();
    queue->Detach();
}

// A pair whose queue sends through its own distributor (as a window or the status bar) goes away
// when its last ordinary holder lets it go, once it detaches.
class LSelfTargetedQueue : public LNotificationDistributor, public LNotificationQueue
{
public:
    explicit LSelfTargetedQueue(bool& destroyed) : destroyed(destroyed) {}
    ~LSelfTargetedQueue() override { destroyed = true; }
    Orv::ORVRESULT DropBackReferences() override
    {
        DisconnectAllClients();
        Detach();
        return LRefCountedObject::DropBackReferences();
    }
    bool& destroyed;
};

TEST_F(NotificationTest, SelfTargetIsABackReference)
{
    bool destroyed = false;
    {
        RCPtr<LSelfTargetedQueue> pair(new LSelfTargetedQueue(destroyed));
        pair->SetTargetDistributor(RCPtr<LNotificationDistributor>(pair));
        EXPECT_EQ(pair->GetRefCount(), 3);
        EXPECT_EQ(pair->GetBackReferenceCount(), 2);
    }
    EXPECT_TRUE(destroyed);
}

}  // namespace
}  // namespace OrvTest
