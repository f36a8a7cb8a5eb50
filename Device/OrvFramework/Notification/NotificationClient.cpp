#include "Notification/NotificationClient.h"

#include "Notification/NotificationDistributor.h"

namespace Orv {

LNotificationClient::~LNotificationClient() = default;

int32_t LNotificationClient::FindDistributor(const LNotificationDistributor* distributor) const
{
    for (uint32_t i = distributors.GetCount(); i-- > 0;) {
        if (distributors.GetAt(i) == distributor) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

int LNotificationClient::OnNotification(const RCPtr<LNotificationDistributor>&,
                                        const RCPtr<LNotification>&)
{
    return 0;
}

NotificationId LNotificationClient::Register(const RCPtr<LNotificationDistributor>& source,
                                             const char16_t* idText,
                                             NotificationRegistrationFlags flags)
{
    if (!source) {
        return nullptr;
    }
    const NotificationId id = InternNotificationId(idText);
    if (id == nullptr) {
        return nullptr;
    }
    const RCPtr<LNotificationClient> self(this);
    const ORVRESULT result = source->RegisterClient(self, id, flags);
    if (result == S_OK) {
        AddBackReference();
        ++registrationCount;
    }
    if (result >= 0 && FindDistributor(source.Get()) < 0) {
        distributors.AddItem(source.Get());
    }
    return id;
}

ORVRESULT LNotificationClient::Unregister(const RCPtr<LNotificationDistributor>& source,
                                          const char16_t* idText)
{
    if (registrationCount == 0) {
        return S_FALSE;
    }
    if (!source || idText == nullptr) {
        return E_INVALIDARG;
    }
    const RCPtr<LNotificationClient> self(this);
    // The back reference is uncounted before the registration gives its reference up, so that its
    // release is never taken for the last ordinary one (which would unregister everything under
    // this call); it is counted again when nothing was removed.
    RemoveBackReference();
    const ORVRESULT result = source->UnregisterClient(self, idText);
    if (result != S_OK) {
        AddBackReference();
        return result;
    }
    --registrationCount;
    if (!source->IsClientRegistered(self)) {
        const int32_t at = FindDistributor(source.Get());
        if (at >= 0) {
            distributors.RemoveItems(static_cast<uint32_t>(at), 1);
        }
    }
    return result;
}

int32_t LNotificationClient::UnregisterAll()
{
    if (registrationCount < 1) {
        return 0;
    }
    for (int32_t i = 0; i < registrationCount; ++i) {
        RemoveBackReference();
    }
    const RCPtr<LNotificationClient> self(this);
    int32_t total = 0;
    while (distributors.GetCount() > 0) {
        const uint32_t last = distributors.GetCount() - 1;
        const RCPtr<LNotificationDistributor> distributor(distributors.GetAt(last));
        distributors.RemoveItems(last, 1);
        total += distributor->UnregisterClientFromAll(self);
    }
    registrationCount = 0;
    return total;
}

ORVRESULT LNotificationClient::DropBackReferences()
{
    UnregisterAll();
    return LRefCountedObject::DropBackReferences();
}

}  // namespace Orv
