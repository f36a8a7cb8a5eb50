#include "Notification/NotificationDistributor.h"
#include "Notification/NotificationLocks.h"

namespace Orv {

using Pool = LNotificationDistributor::LNotificationClientPool;
using Registration = LNotificationDistributor::LNotificationRegisteredClientInfo;

// Links a cursor into the pool's list of running dispatches for the length of one dispatch, also
// when a client throws. The list points at a local only while the local lives: the destructor
// unlinks it (GCC's dangling-pointer analysis does not follow the destructor).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpragmas"
#pragma GCC diagnostic ignored "-Wdangling-pointer"
#endif
class Pool::ActiveDispatch
{
public:
    ActiveDispatch(Pool& pool, int32_t start) : pool(pool), cursor{start, pool.dispatches}
    {
        pool.dispatches = &cursor;
    }
    ~ActiveDispatch() { pool.dispatches = cursor.outer; }
    ActiveDispatch(const ActiveDispatch&) = delete;
    ActiveDispatch& operator=(const ActiveDispatch&) = delete;

    Pool& pool;
    DispatchCursor cursor;
};
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

ORVRESULT Pool::AddClient(const RCPtr<LNotificationClient>& client,
                          NotificationRegistrationFlags flags)
{
    if (!client) {
        return E_INVALIDARG;
    }
    const int32_t existing = FindClient(client);
    if (existing < 0) {
        const RCPtr<Registration> added(new Registration(client, flags));
        const ScopedLock lock(&NotificationQueueLock());
        clients.AddItem(added);
        combinedFlags |= flags;
        return S_OK;
    }
    const RCPtr<Registration>& registration = clients.GetAt(static_cast<uint32_t>(existing));
    if (registration->flags == flags) {
        return S_OK;
    }
    const ScopedLock lock(&NotificationQueueLock());
    registration->flags = flags;
    NotificationRegistrationFlags combined = 0;
    for (uint32_t i = clients.GetCount(); i-- > 0;) {
        combined |= clients.GetAt(i)->flags;
    }
    combinedFlags = combined;
    return S_OK;
}

ORVRESULT Pool::RemoveClient(const RCPtr<LNotificationClient>& client)
{
    const int32_t at = FindClient(client);
    if (at < 0) {
        return S_FALSE;
    }
    // The registration, with its reference to the client and anything left in its coalesce slot,
    // is let go after the lock: releasing a client can run any code.
    RCPtr<Registration> removed;
    {
        const ScopedLock lock(&NotificationQueueLock());
        clients.RemoveItem(static_cast<uint32_t>(at), removed);
    }
    for (DispatchCursor* cursor = dispatches; cursor != nullptr; cursor = cursor->outer) {
        if (static_cast<uint32_t>(at) < static_cast<uint32_t>(cursor->index)) {
            --cursor->index;
        }
    }
    return S_OK;
}

int32_t Pool::FindClient(const RCPtr<LNotificationClient>& client) const
{
    if (!client) {
        return -1;
    }
    for (uint32_t i = clients.GetCount(); i-- > 0;) {
        if (clients.GetAt(i)->client == client) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

RCPtr<Registration> Pool::GetRegistration(uint32_t index) const
{
    return index < clients.GetCount() ? clients.GetAt(index) : nullptr;
}

int32_t Pool::DeliverAt(const RCPtr<LNotificationDistributor>& sender, DispatchCursor& cursor,
                        const RCPtr<LNotification>& notification)
{
    if (cursor.index < 0 || static_cast<uint32_t>(cursor.index) >= clients.GetCount()) {
        return 0;
    }
    // Only the client is held for the call: the registration may go meanwhile, and this thread
    // is the only one that removes registrations.
    Registration& registration = *clients.GetAt(static_cast<uint32_t>(cursor.index));
    const RCPtr<LNotificationClient> client = registration.client;
    if ((registration.flags & kNotificationCoalesce) != 0) {
        // Only the very notification that the latest post left in the slot reaches a coalescing
        // registration; the slot is emptied before the call.
        RCPtr<LNotification> pending;
        {
            const ScopedLock lock(&NotificationQueueLock());
            if (registration.pendingNotification != notification) {
                return 0;
            }
            pending = std::move(registration.pendingNotification);
        }
    }
    return client->OnNotification(sender, notification);
}

ORVRESULT Pool::DispatchNotification(const RCPtr<LNotificationDistributor>& sender,
                                     const RCPtr<LNotification>& notification)
{
    if (clients.GetCount() == 0) {
        return S_FALSE;
    }
    const RCPtr<Pool> self(this);
    ActiveDispatch dispatch(*this, static_cast<int32_t>(clients.GetCount()) - 1);
    DispatchCursor& cursor = dispatch.cursor;
    for (; cursor.index >= 0; --cursor.index) {
        // Removals during a call move the cursor with the registration it stands on.
        DeliverAt(sender, cursor, notification);
    }
    return S_OK;
}

int32_t Pool::DispatchToClient(const RCPtr<LNotificationDistributor>& sender, int32_t index,
                               const RCPtr<LNotification>& notification)
{
    if (!notification || index < 0 || static_cast<uint32_t>(index) >= clients.GetCount()) {
        return E_INVALIDARG;
    }
    const RCPtr<Pool> self(this);
    ActiveDispatch dispatch(*this, index);
    return DeliverAt(sender, dispatch.cursor, notification);
}

void Pool::StoreForCoalescing(const RCPtr<LNotification>& notification,
                              std::vector<RCPtr<LNotification>>& replaced)
{
    if ((combinedFlags & kNotificationCoalesce) == 0) {
        return;
    }
    for (uint32_t i = clients.GetCount(); i-- > 0;) {
        Registration& registration = *clients.GetAt(i);
        if ((registration.flags & kNotificationCoalesce) == 0) {
            continue;
        }
        if (registration.pendingNotification) {
            replaced.push_back(std::move(registration.pendingNotification));
        }
        registration.pendingNotification = notification;
    }
}

}  // namespace Orv
