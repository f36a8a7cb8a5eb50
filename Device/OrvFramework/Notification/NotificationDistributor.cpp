#include "Notification/NotificationDistributor.h"

#include "Notification/NotificationLocks.h"

namespace Orv {

RCPtrArray<LNotificationDistributor, 1, 0>& ActiveDistributors()
{
    static RCPtrArray<LNotificationDistributor, 1, 0> active;
    return active;
}

LNotificationDistributor::~LNotificationDistributor() = default;

RCPtr<LNotificationDistributor::LNotificationClientPool> LNotificationDistributor::FindClientPool(
    NotificationId id) const
{
    if (id == nullptr) {
        return nullptr;
    }
    for (uint32_t i = pools.GetCount(); i-- > 0;) {
        if (pools.GetAt(i)->GetId() == id) {
            return pools.GetAt(i);
        }
    }
    return nullptr;
}

ORVRESULT LNotificationDistributor::SendNotification(const RCPtr<LNotification>& notification)
{
    if (!notification) {
        return E_INVALIDARG;
    }
    const RCPtr<LNotificationClientPool> pool = FindClientPool(notification->id);
    if (!pool) {
        return S_FALSE;
    }
    return pool->DispatchNotification(RCPtr<LNotificationDistributor>(this), notification);
}

ORVRESULT LNotificationDistributor::RegisterClient(const RCPtr<LNotificationClient>& client,
                                                   const char16_t* idText,
                                                   NotificationRegistrationFlags flags)
{
    if (!client) {
        return E_INVALIDARG;
    }
    const NotificationId id = InternNotificationId(idText);
    if (id == nullptr) {
        return S_FALSE;
    }
    RCPtr<LNotificationClientPool> pool = FindClientPool(id);
    const bool alreadyRegistered = pool && pool->FindClient(client) >= 0;
    // What can fail (allocations) comes before the counts change.
    if (!pool) {
        pool = RCPtr<LNotificationClientPool>(new LNotificationClientPool(id));
        const ScopedLock lock(&NotificationQueueLock());
        pools.AddItem(pool);
    }
    pool->AddClient(client, flags);
    if (alreadyRegistered) {
        return S_FALSE;
    }
    AddRef();
    AddBackReference();
    if (++registrationCount == 1) {
        AddBackReference();
        ActiveDistributors().AddItem(RCPtr<LNotificationDistributor>(this));
    }
    return S_OK;
}

void LNotificationDistributor::RegistrationRemoved()
{
    if (--registrationCount == 0) {
        RCPtrArray<LNotificationDistributor, 1, 0>& active = ActiveDistributors();
        const int32_t at = active.IndexOf(static_cast<LNotificationDistributor*>(this));
        if (at >= 0) {
            // Uncounted before it is given up, so that this release is never taken for the last
            // ordinary one.
            RemoveBackReference();
            RCPtr<LNotificationDistributor> listed;
            active.RemoveItem(static_cast<uint32_t>(at), listed);
        }
    }
    RemoveBackReference();
    Release();  // may destroy this distributor
}

ORVRESULT LNotificationDistributor::UnregisterClient(const RCPtr<LNotificationClient>& client,
                                                     const char16_t* idText)
{
    if (!client || idText == nullptr || idText[0] == 0) {
        return E_INVALIDARG;
    }
    const RCPtr<LNotificationClientPool> pool = FindClientPool(InternNotificationId(idText));
    if (!pool || pool->RemoveClient(client) != S_OK) {
        return S_FALSE;
    }
    RegistrationRemoved();
    return S_OK;
}

int32_t LNotificationDistributor::UnregisterClientFromAll(const RCPtr<LNotificationClient>& client)
{
    if (!client) {
        return E_INVALIDARG;
    }
    const RCPtr<LNotificationDistributor> self(this);
    int32_t removed = 0;
    for (uint32_t i = pools.GetCount(); i-- > 0;) {
        const RCPtr<LNotificationClientPool> pool = pools.GetAt(i);
        if (pool->RemoveClient(client) == S_OK) {
            ++removed;
            RegistrationRemoved();
        }
    }
    return removed;
}

bool LNotificationDistributor::IsClientRegistered(const RCPtr<LNotificationClient>& client) const
{
    for (uint32_t i = pools.GetCount(); i-- > 0;) {
        if (pools.GetAt(i)->FindClient(client) >= 0) {
            return true;
        }
    }
    return false;
}

ORVRESULT LNotificationDistributor::GetClientFlags(const RCPtr<LNotificationClient>& client,
                                                   const char16_t* idText,
                                                   NotificationRegistrationFlags& flags) const
{
    const RCPtr<LNotificationClientPool> pool = FindClientPool(InternNotificationId(idText));
    if (!pool) {
        return E_FAIL;
    }
    const int32_t at = pool->FindClient(client);
    if (at < 0) {
        return E_FAIL;
    }
    flags = pool->GetRegistration(static_cast<uint32_t>(at))->flags;
    return S_OK;
}

ORVRESULT LNotificationDistributor::DisconnectAllClients()
{
    const RCPtr<LNotificationDistributor> self(this);
    for (uint32_t p = pools.GetCount(); p-- > 0;) {
        const RCPtr<LNotificationClientPool> pool = pools.GetAt(p);
        for (uint32_t i = pool->GetClientCount(); i-- > 0;) {
            // A client's Unregister may take more than its own registration with it.
            if (i >= pool->GetClientCount()) {
                continue;
            }
            const RCPtr<LNotificationClient> client = pool->GetRegistration(i)->client;
            client->Unregister(self, pool->GetId());
        }
    }
    return S_OK;
}

}  // namespace Orv
