#pragma once
// LNotificationReceiver: what a notification can be delivered to. Clients registered with
// distributors and the posting receivers of queues are receivers.

#include "Notification/Notification.h"
#include "ObjectBase/RCPtr.h"

namespace Orv {

class LNotificationDistributor;

class LNotificationReceiver : public virtual LRefCountedObject
{
public:
    // `sender` is the distributor that delivers, null for direct delivery. No caller reads the
    // result.
    virtual int OnNotification(const RCPtr<LNotificationDistributor>& sender,
                               const RCPtr<LNotification>& notification) = 0;

    // Asked by a distributor that disconnects its clients, once per registration.
    virtual ORVRESULT Unregister(const RCPtr<LNotificationDistributor>& source,
                                 const char16_t* idText) = 0;
};

// Direct delivery: creates the notification and hands it to the receiver's OnNotification with a
// null sender; no distributor, registration or queue is involved. E_INVALIDARG for a null receiver
// or an empty id text, else 0.
ORVRESULT DeliverNotification(const RCPtr<LNotificationReceiver>& receiver, const char16_t* idText,
                              const RCPtr<LRefCountedObject>& parameter = nullptr);

}  // namespace Orv
