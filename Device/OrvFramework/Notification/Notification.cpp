#include "Notification/Notification.h"

#include <vector>

#include "Notification/NotificationLocks.h"

namespace Orv {

namespace {

std::atomic<bool> notificationPoolingEnabled{false};

// At exit the pool goes before anything can return to it: its destruction switches pooling off,
// so releasing its members destroys them instead of re-pooling them into a dying array.
class NotificationPoolArray : public RCPtrArray<LNotification, 1, 0>
{
public:
    ~NotificationPoolArray() override
    {
        notificationPoolingEnabled.store(false, std::memory_order_release);
        SetCount(0);
    }
};

}  // namespace

RCPtrArray<LNotification, 1, 0>& NotificationPool()
{
    static NotificationPoolArray pool;
    return pool;
}

LNotification::~LNotification() = default;

int32_t LNotification::Release() const
{
    if (!returningToPool.load(std::memory_order_acquire) && GetRefCount() == 1) {
        returningToPool.store(true, std::memory_order_release);
        ReturnNotificationToPool(const_cast<LNotification*>(this));
        returningToPool.store(false, std::memory_order_release);
    }
    return LRefCountedObject::Release();
}

void ReturnNotificationToPool(LNotification* notification)
{
    if (!notification->IsPosted() && notification->parameter) {
        // A pooled notification never keeps its parameter alive.
        RCPtr<LRefCountedObject> dropped = std::move(notification->parameter);
    }
    if (notificationPoolingEnabled.load(std::memory_order_acquire)) {
        const ScopedLock lock(&NotificationRegistryLock());
        NotificationPool().AddItem(RCPtr<LNotification>(notification));
    }
}

RCPtr<LNotification> CreateNotification(const char16_t* idText,
                                        const RCPtr<LRefCountedObject>& parameter)
{
    const NotificationId id = InternNotificationId(idText);
    if (id == nullptr) {
        return nullptr;
    }
    RCPtr<LNotification> notification;
    if (notificationPoolingEnabled.load(std::memory_order_acquire)) {
        const ScopedLock lock(&NotificationRegistryLock());
        RCPtrArray<LNotification, 1, 0>& pool = NotificationPool();
        if (pool.GetCount() > 0) {
            pool.RemoveLastItem(notification);
        }
    }
    if (!notification) {
        notification = RCPtr<LNotification>(new LNotification());
    }
    notification->id = id;
    notification->parameter = parameter;
    return notification;
}

void EnableNotificationPooling(bool enable)
{
    notificationPoolingEnabled.store(enable, std::memory_order_release);
    if (enable) {
        return;
    }
    // The flag is already off, so each pooled notification is destroyed by its release instead of
    // returning. They are released outside the lock: their parameters are long gone, but their
    // destructors are the classes' own.
    std::vector<RCPtr<LNotification>> emptied;
    {
        const ScopedLock lock(&NotificationRegistryLock());
        RCPtrArray<LNotification, 1, 0>& pool = NotificationPool();
        emptied.reserve(pool.GetCount());
        while (pool.GetCount() > 0) {
            RCPtr<LNotification> taken;
            pool.RemoveLastItem(taken);
            emptied.push_back(std::move(taken));
        }
    }
}

bool IsNotificationPoolingEnabled()
{
    return notificationPoolingEnabled.load(std::memory_order_acquire);
}

}  // namespace Orv
