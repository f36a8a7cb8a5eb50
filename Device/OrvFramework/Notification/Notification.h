#pragma once
// LNotification: one event. An interned id, an optional parameter object, and the flag that marks
// it as waiting in a queue. The distributor that delivers it is passed beside it to receivers.
//
// Notifications are recycled: with pooling on, the release of the last reference hands the object
// to a process-wide pool (its parameter dropped at once), and CreateNotification takes from there
// before it allocates. `id` and `parameter` are written only while the notification is not posted.

#include <atomic>

#include "Notification/NotificationId.h"
#include "ObjectBase/RCPtr.h"
#include "Utilities/Storage/RCPtrArray.h"

namespace Orv {

class LNotification : public virtual LRefCountedObject
{
public:
    LNotification() = default;
    ~LNotification() override;

    // With the caller holding the last reference, returns the object to the pool first.
    int32_t Release() const override;

    bool IsPosted() const { return posted.load(std::memory_order_acquire); }
    void SetPosted(bool value) { posted.store(value, std::memory_order_release); }

    NotificationId id = nullptr;
    RCPtr<LRefCountedObject> parameter;

private:
    // Set by PostNotification, cleared after the queued delivery or when a queue is cleared.
    std::atomic<bool> posted{false};
    // True only while Release hands the object to the pool.
    mutable std::atomic<bool> returningToPool{false};
};

// A notification of that id carrying the parameter (which it shares, or copies when the parameter
// is unshareable); null for a null or empty id text, and then nothing is allocated or taken.
RCPtr<LNotification> CreateNotification(const char16_t* idText,
                                        const RCPtr<LRefCountedObject>& parameter = nullptr);

// Used by LNotification::Release only: drops the parameter of a notification that is not posted
// and, with pooling on, appends the notification to the pool.
void ReturnNotificationToPool(LNotification* notification);

// Off when the program loads. Switching it off empties the pool, destroying what it held. Call it
// only while no other thread creates or releases notifications.
void EnableNotificationPooling(bool enable);
bool IsNotificationPoolingEnabled();

// Notifications waiting for reuse (last in, first out), each with a null parameter and a count of
// one. Read it under NotificationRegistryLock().
RCPtrArray<LNotification, 1, 0>& NotificationPool();

}  // namespace Orv
