#pragma once
// LNotificationQueue: deferred delivery. Any thread posts; the UI thread drains at idle time,
// sending each queued notification through the target distributor, then (when asked) the queue's
// own "NID_IDLE".
//
// Lifetime: the queue's posting receiver holds the queue, and a queue whose target is its own
// object (a notification center, a window) holds itself through the target; both references are
// back references, which Detach gives up. Every ring shares NotificationQueueLock(), which also
// guards the target and the coalescing update of a post.

#include "Notification/NotificationDistributor.h"
#include "Utilities/Storage/RCPtrQueue.h"

namespace Orv {

class LNotificationQueue : public virtual LRefCountedObject
{
public:
    // Posts a new notification of the same id and parameter to its queue for each notification
    // delivered to it; after Detach it drops them.
    class LPostingReceiver : public LNotificationReceiver
    {
    public:
        explicit LPostingReceiver(LNotificationQueue* owningQueue) : owningQueue(owningQueue) {}

        int OnNotification(const RCPtr<LNotificationDistributor>& sender,
                           const RCPtr<LNotification>& notification) override;
        // E_FAIL: a posting receiver is never registered with a distributor.
        ORVRESULT Unregister(const RCPtr<LNotificationDistributor>& source,
                             const char16_t* idText) override;

    private:
        friend class LNotificationQueue;
        RCPtr<LNotificationQueue> owningQueue;
    };

    LNotificationQueue();
    ~LNotificationQueue() override;

    // 0 queued; E_INVALIDARG for a null or already posted notification; E_FAIL without a target.
    // Any thread.
    ORVRESULT PostNotification(const RCPtr<LNotification>& notification);
    // Creates the notification and posts it; E_INVALIDARG for an empty id text.
    ORVRESULT PostNamedNotification(const char16_t* idText,
                                    const RCPtr<LRefCountedObject>& parameter = nullptr);
    // Delivers the notifications queued at entry (not those posted meanwhile), unless a drain of
    // this queue is already running further up the stack; then sends "NID_IDLE" when asked. True
    // when notifications are still queued. UI thread.
    bool ProcessQueue(bool sendIdle);
    // Drops every queued notification; true when some were posted meanwhile.
    bool ClearQueue();
    // 0; E_FAIL when a target is already set or the queue is detached. A null target: 0, nothing.
    ORVRESULT SetTargetDistributor(const RCPtr<LNotificationDistributor>& target);
    // Empties the queue and lets the target and the posting receiver go; posts then fail.
    void Detach();
    RCPtr<LPostingReceiver> GetPostingReceiver() const { return postingReceiver; }
    RCPtr<LNotificationDistributor> GetTargetDistributor() const;
    int32_t GetQueuedCount() const { return ring.GetCount(); }
    bool IsProcessing() const { return processing; }

private:
    // Sends through the target, holding it for the call; false without a target.
    bool SendToTarget(const RCPtr<LNotification>& notification);

    bool processing = false;
    RCPtrQueue<LNotification, 256> ring;
    RCPtr<LNotificationDistributor> targetDistributor;
    RCPtr<LPostingReceiver> postingReceiver;
    RCPtr<LNotification> idleNotification;
    // Whether the target is this very object, held as a back reference.
    bool targetIsSelf = false;
};

}  // namespace Orv
