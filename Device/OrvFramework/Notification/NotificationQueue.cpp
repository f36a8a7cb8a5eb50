#include "Notification/NotificationQueue.h"

#include <vector>

#include "Notification/NotificationIdTexts.h"
#include "Notification/NotificationLocks.h"

namespace Orv {

namespace {

constexpr uint32_t kInitialSlots = 256;

bool IsSameObject(const LRefCountedObject* a, const LRefCountedObject* b)
{
    return a == b;
}

}  // namespace

LNotificationQueue::LNotificationQueue()
    : ring(&NotificationQueueLock(), kInitialSlots), idleNotification(CreateNotification(NID_IDLE))
{
    // Last, once nothing else can fail: from here the receiver holds this queue.
    postingReceiver = RCPtr<LPostingReceiver>(new LPostingReceiver(this));
    AddBackReference();
}

LNotificationQueue::~LNotificationQueue()
{
    ClearQueue();
}

RCPtr<LNotificationDistributor> LNotificationQueue::GetTargetDistributor() const
{
    const ScopedLock lock(&NotificationQueueLock());
    return targetDistributor;
}

ORVRESULT LNotificationQueue::PostNotification(const RCPtr<LNotification>& notification)
{
    if (!notification) {
        return E_INVALIDARG;
    }
    // Notifications pushed out of coalesce slots are released after the lock is given up.
    std::vector<RCPtr<LNotification>> replaced;
    {
        const ScopedLock lock(&NotificationQueueLock());
        if (notification->IsPosted()) {
            return E_INVALIDARG;
        }
        if (!targetDistributor) {
            return E_FAIL;
        }
        const RCPtr<LNotificationDistributor::LNotificationClientPool> pool =
            targetDistributor->FindClientPool(notification->id);
        if (pool) {
            pool->StoreForCoalescing(notification, replaced);
        }
        notification->SetPosted(true);
        ring.Enqueue(notification);
    }
    return S_OK;
}

ORVRESULT LNotificationQueue::PostNamedNotification(const char16_t* idText,
                                                    const RCPtr<LRefCountedObject>& parameter)
{
    const RCPtr<LNotification> notification = CreateNotification(idText, parameter);
    if (!notification) {
        return E_INVALIDARG;
    }
    return PostNotification(notification);
}

bool LNotificationQueue::SendToTarget(const RCPtr<LNotification>& notification)
{
    // The target changes on this (the UI) thread only; it is held for the call, which may detach.
    const RCPtr<LNotificationDistributor> target = targetDistributor;
    if (!target) {
        return false;
    }
    target->SendNotification(notification);
    return true;
}

bool LNotificationQueue::ProcessQueue(bool sendIdle)
{
    // A handler may let the queue's owner go.
    const RCPtr<LNotificationQueue> self(this);
    if (!processing) {
        struct ProcessingScope
        {
            bool& flag;
            explicit ProcessingScope(bool& f) : flag(f) { flag = true; }
            ~ProcessingScope() { flag = false; }
        } scope(processing);
        // Only what is queued now: a handler that keeps posting cannot hold the drain forever.
        for (int32_t count = ring.GetCount(); count > 0; --count) {
            RCPtr<LNotification> notification;
            {
                // One hold of the lock for the test and the dequeue (the ring takes it again).
                const ScopedLock lock(&NotificationQueueLock());
                if (ring.GetCount() == 0) {
                    break;  // cleared or detached by a handler
                }
                notification = ring.Dequeue();
            }
            struct PostedScope
            {
                LNotification& notification;
                ~PostedScope() { notification.SetPosted(false); }
            } posted{*notification};
            SendToTarget(notification);
        }
    }
    if (sendIdle) {
        SendToTarget(idleNotification);
    }
    return ring.GetCount() > 0;
}

bool LNotificationQueue::ClearQueue()
{
    for (int32_t count = ring.GetCount(); count > 0 && ring.GetCount() > 0; --count) {
        const RCPtr<LNotification> notification = ring.Dequeue();
        notification->SetPosted(false);
    }
    return ring.GetCount() > 0;
}

ORVRESULT LNotificationQueue::SetTargetDistributor(const RCPtr<LNotificationDistributor>& target)
{
    if (!target) {
        return S_OK;
    }
    if (targetDistributor || !postingReceiver) {
        return E_FAIL;
    }
    {
        const ScopedLock lock(&NotificationQueueLock());
        targetDistributor = target;
    }
    // A queue that sends through its own object holds itself: a back reference, or the pair would
    // keep itself alive.
    if (IsSameObject(target.Get(), this)) {
        targetIsSelf = true;
        AddBackReference();
    }
    return S_OK;
}

void LNotificationQueue::Detach()
{
    ClearQueue();
    // Each reference to this queue is uncounted as a back reference before it is given up, so that
    // its release is never taken for the last ordinary one. The releases happen at the end of the
    // scope, in reverse order: the receiver's hold, the receiver, the target.
    RCPtr<LNotificationDistributor> target;
    {
        const ScopedLock lock(&NotificationQueueLock());
        target = std::move(targetDistributor);
    }
    if (targetIsSelf) {
        targetIsSelf = false;
        RemoveBackReference();
    }
    const RCPtr<LPostingReceiver> receiver = std::move(postingReceiver);
    RCPtr<LNotificationQueue> receiverHold;
    if (receiver) {
        receiverHold = std::move(receiver->owningQueue);
        RemoveBackReference();
    }
}

int LNotificationQueue::LPostingReceiver::OnNotification(const RCPtr<LNotificationDistributor>&,
                                                         const RCPtr<LNotification>& notification)
{
    if (!owningQueue || !notification) {
        return 0;
    }
    // The delivered notification is never queued itself: a new one shares its parameter.
    owningQueue->PostNotification(CreateNotification(notification->id, notification->parameter));
    return 0;
}

ORVRESULT LNotificationQueue::LPostingReceiver::Unregister(const RCPtr<LNotificationDistributor>&,
                                                           const char16_t*)
{
    return E_FAIL;
}

}  // namespace Orv
