#include "Notification/NotificationReceiver.h"

#include "Notification/NotificationDistributor.h"

namespace Orv {

ORVRESULT DeliverNotification(const RCPtr<LNotificationReceiver>& receiver, const char16_t* idText,
                              const RCPtr<LRefCountedObject>& parameter)
{
    if (!receiver) {
        return E_INVALIDARG;
    }
    const RCPtr<LNotification> notification = CreateNotification(idText, parameter);
    if (!notification) {
        return E_INVALIDARG;
    }
    receiver->OnNotification(nullptr, notification);
    return S_OK;
}

}  // namespace Orv
