// Worker threads post to the "application" center while the UI thread changes registrations and
// drains: every notification arrives once, in posting order per sender.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "Notification/NotificationCenterManager.h"
#include "Notification/NotificationIdTexts.h"
#include "NotificationFixtures.h"

namespace OrvTest {
namespace {

using Orv::NID_PARAM_MODULE_STATE_CHANGE;

constexpr int kSenders = 2;
constexpr int kPostsPerSender = 10000;

// Parameter: sender * kPostsPerSender + sequence number.
class LSequenceClient : public LNotificationClient
{
public:
    int OnNotification(const RCPtr<LNotificationDistributor>&,
                       const RCPtr<LNotification>& notification) override
    {
        received.push_back(IntParameter(notification));
        return 0;
    }
    std::vector<int> received;
};

TEST_F(NotificationTest, PostsFromWorkersArriveOnceAndInOrderPerSender)
{
    Orv::EnableNotificationPooling(true);
    const auto center =
        Orv::GetNotificationCenterManager()->GetCenter(Orv::WideString(u"application"));
    const RCPtr<LSequenceClient> everything(new LSequenceClient());
    const RCPtr<LSequenceClient> latest(new LSequenceClient());
    everything->Register(center, NID_PARAM_MODULE_STATE_CHANGE);
    latest->Register(center, NID_PARAM_MODULE_STATE_CHANGE, Orv::kNotificationCoalesce);

    std::atomic<int> running{kSenders};
    std::vector<std::thread> senders;
    for (int s = 0; s < kSenders; ++s) {
        senders.emplace_back([&, s] {
            for (int i = 0; i < kPostsPerSender; ++i) {
                // Paced like a device engine: the backlog stays around one ring's worth, as it
                // does when the UI thread drains at idle time (a far larger backlog only makes
                // each post pay for growing the ring).
                while (center->GetQueuedCount() > 200) {
                    std::this_thread::yield();
                }
                const int value = s * kPostsPerSender + i;
                const Orv::ORVRESULT result =
                    (i % 2 == 0) ? center->PostNamedNotification(NID_PARAM_MODULE_STATE_CHANGE,
                                                                 IntParam(value))
                                 : center->PostNotification(Orv::CreateNotification(
                                       NID_PARAM_MODULE_STATE_CHANGE, IntParam(value)));
                ASSERT_EQ(result, S_OK);
            }
            running.fetch_sub(1);
        });
    }

    // The UI thread: registrations come and go on the posted id and on new ids (new pools), some
    // of them coalescing, between drains.
    CallLog transientLog;
    int round = 0;
    while (running.load() > 0 || center->GetQueuedCount() > 0) {
        const auto transient = MakeClient("T", transientLog);
        const std::u16string ownId = u"NID_THREADS_" + std::u16string(1, u'A' + round % 20);
        transient->Register(center, NID_PARAM_MODULE_STATE_CHANGE,
                            round % 3 == 0 ? Orv::kNotificationCoalesce : 0);
        transient->Register(center, ownId.c_str());
        Orv::GetNotificationCenterManager()->ProcessAllQueues(round % 2 == 0);
        transient->Unregister(center, NID_PARAM_MODULE_STATE_CHANGE);
        ++round;
    }
    for (auto& sender : senders) {
        sender.join();
    }

    Orv::GetNotificationCenterManager()->ProcessAllQueues(true);

    ASSERT_EQ(everything->received.size(), static_cast<size_t>(kSenders * kPostsPerSender));
    std::vector<int> next(kSenders, 0);
    for (const int value : everything->received) {
        const int sender = value / kPostsPerSender;
        ASSERT_GE(sender, 0);
        ASSERT_LT(sender, kSenders);
        ASSERT_EQ(value % kPostsPerSender, next[sender]) << "sender " << sender;
        ++next[sender];
    }
    // The coalescing client heard a subsequence of the same stream, ending with its last post.
    ASSERT_FALSE(latest->received.empty());
    EXPECT_LE(latest->received.size(), everything->received.size());
    EXPECT_EQ(latest->received.back(), everything->received.back());
    std::vector<int> last(kSenders, -1);
    for (const int value : latest->received) {
        const int sender = value / kPostsPerSender;
        EXPECT_GT(value, last[sender]);
        last[sender] = value;
    }
    everything->UnregisterAll();
    latest->UnregisterAll();
}

}  // namespace
}  // namespace OrvTest
