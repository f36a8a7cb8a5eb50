#pragma once
// The two receiver operations of a class whose levels (most derived first) each own a handler
// table. A table that is absent (not made yet, or already dropped) is skipped.
//
//   int OnNotification(sender, n) override
//   { return NotificationForwarder(IsCreated(), sender, n, myHandler, baseHandler); }
//   ORVRESULT Unregister(source, idText) override
//   { return UnregisterForwarder(*this, source, idText, myHandler, baseHandler); }

#include "Notification/NotificationHandler.h"

namespace Orv {

// Nothing until the owner is created; then the notification is offered to each level in turn,
// stopping at the first non-zero result, which is returned (0 when no level took it). Having a
// callback for the notification does not stop it: a callback that returns 0 lets the base
// levels see it too, so a callback that consumes a notification returns 1.
template <class... Owners>
int NotificationForwarder(bool ownerCreated, const RCPtr<LNotificationDistributor>& sender,
                          const RCPtr<LNotification>& notification,
                          const RCPtr<LNotificationHandler<Owners>>&... levels)
{
    static_assert(sizeof...(Owners) >= 1 && sizeof...(Owners) <= 4,
                  "a class chain forwards over one to four handler tables");
    if (!ownerCreated) {
        return 0;
    }
    int result = 0;
    (void)((levels && (result = levels->HandleNotification(sender, notification)) != 0) || ...);
    return result;
}

// Removes the binding of (source, id) from every level, without stopping, then drops the client's
// registration; the client's answer is returned.
template <class... Owners>
ORVRESULT UnregisterForwarder(LNotificationClient& client,
                              const RCPtr<LNotificationDistributor>& source, const char16_t* idText,
                              const RCPtr<LNotificationHandler<Owners>>&... levels)
{
    static_assert(sizeof...(Owners) >= 1 && sizeof...(Owners) <= 4,
                  "a class chain forwards over one to four handler tables");
    ((levels ? (void)levels->RemoveHandler(source, idText) : (void)0), ...);
    return client.LNotificationClient::Unregister(source, idText);
}

}  // namespace Orv
