#pragma once
// LNotificationDistributor: the sending side. Clients register here for ids; a send delivers a
// notification synchronously, on the calling thread, to every registration of its id, the most
// recent registration first.
//
// Lifetime: each registration adds one counted reference and one back reference to the
// distributor; while it has registrations it is also listed in ActiveDistributors() (one more of
// each). A distributor torn down through DropBackReferences (centers, windows, controls)
// disconnects all its clients.
//
// Registrations change on the UI thread only. A thread that posts to a queue whose target is this
// distributor reads its pools and writes their coalesce slots under NotificationQueueLock(), so
// every change of the pools, the registrations and their slots happens under that lock too.
//
// During a dispatch the pool, the client being called and the sender are held, so a client may
// unregister anyone, register others, release itself or tear the sender down from inside its call.

#include <cstdint>
#include <vector>

#include "Notification/NotificationClient.h"
#include "Utilities/Storage/RCPtrArray.h"

namespace Orv {

class LNotificationDistributor : public virtual LRefCountedObject
{
public:
    // One registration: a counted reference to its client, its coalesce slot and its flags.
    class LNotificationRegisteredClientInfo : public LRefCountedObject
    {
    public:
        LNotificationRegisteredClientInfo(const RCPtr<LNotificationClient>& client,
                                          NotificationRegistrationFlags flags)
            : client(client), flags(flags)
        {
        }

        RCPtr<LNotificationClient> client;
        // The latest posted notification of the id, for a coalescing registration; normally null.
        RCPtr<LNotification> pendingNotification;
        NotificationRegistrationFlags flags;
    };

    // All registrations of one id at one distributor, in order of registration.
    class LNotificationClientPool : public LRefCountedObject
    {
    public:
        explicit LNotificationClientPool(NotificationId id) : id(id) {}

        // 0; E_INVALIDARG for a null client. A client already here gets the new flags.
        ORVRESULT AddClient(const RCPtr<LNotificationClient>& client,
                            NotificationRegistrationFlags flags);
        // 0 removed, 1 not here.
        ORVRESULT RemoveClient(const RCPtr<LNotificationClient>& client);
        // The index of the client's registration, searching from the last; -1 when none.
        int32_t FindClient(const RCPtr<LNotificationClient>& client) const;
        // 1 when the pool has no registrations, else 0.
        ORVRESULT DispatchNotification(const RCPtr<LNotificationDistributor>& sender,
                                       const RCPtr<LNotification>& notification);
        // Delivers to the registration at `index` only, under the same coalescing rule: the
        // client's result, 0 when the rule skipped it; E_INVALIDARG for a null notification or an
        // index out of range.
        int32_t DispatchToClient(const RCPtr<LNotificationDistributor>& sender, int32_t index,
                                 const RCPtr<LNotification>& notification);

        // For the posting side (NotificationQueueLock() held): fills the coalesce slot of every
        // coalescing registration with the notification; what the slots held is moved to
        // `replaced`, to be released once the lock is given up.
        void StoreForCoalescing(const RCPtr<LNotification>& notification,
                                std::vector<RCPtr<LNotification>>& replaced);

        NotificationId GetId() const { return id; }
        NotificationRegistrationFlags GetCombinedFlags() const { return combinedFlags; }
        uint32_t GetClientCount() const { return clients.GetCount(); }
        RCPtr<LNotificationRegisteredClientInfo> GetRegistration(uint32_t index) const;

    private:
        // Each running dispatch of this pool keeps its own position here, innermost first, so that
        // nested dispatches and removals during them never skip a client or call one twice.
        struct DispatchCursor
        {
            int32_t index;
            DispatchCursor* outer;
        };
        class ActiveDispatch;

        int32_t DeliverAt(const RCPtr<LNotificationDistributor>& sender, DispatchCursor& cursor,
                          const RCPtr<LNotification>& notification);

        NotificationRegistrationFlags combinedFlags = 0;
        NotificationId id;
        RCPtrArray<LNotificationRegisteredClientInfo, 1, 0> clients;
        DispatchCursor* dispatches = nullptr;
    };

    LNotificationDistributor() = default;
    ~LNotificationDistributor() override;

    // E_INVALIDARG for a null notification; 1 when nobody is registered for its id; else 0.
    ORVRESULT SendNotification(const RCPtr<LNotification>& notification);

    // 0 for a new registration; 1 when the client was already registered for the id (its flags are
    // then replaced) or the id text is empty; E_INVALIDARG for a null client.
    ORVRESULT RegisterClient(const RCPtr<LNotificationClient>& client, const char16_t* idText,
                             NotificationRegistrationFlags flags);
    // 0 removed; 1 no such registration; E_INVALIDARG for a null client or an empty id text.
    ORVRESULT UnregisterClient(const RCPtr<LNotificationClient>& client, const char16_t* idText);
    // The number of registrations removed; E_INVALIDARG for a null client.
    int32_t UnregisterClientFromAll(const RCPtr<LNotificationClient>& client);
    bool IsClientRegistered(const RCPtr<LNotificationClient>& client) const;
    // 0 and the registration's flags; E_FAIL when the id, its pool or the registration is missing.
    ORVRESULT GetClientFlags(const RCPtr<LNotificationClient>& client, const char16_t* idText,
                             NotificationRegistrationFlags& flags) const;
    // Asks every registered client to unregister (receiver slot Unregister). 0.
    ORVRESULT DisconnectAllClients();
    // The pool of an interned id, or null. Pools are never removed.
    RCPtr<LNotificationClientPool> FindClientPool(NotificationId id) const;

    int32_t GetRegistrationCount() const { return registrationCount; }

private:
    // Gives up what one removed registration held of this distributor; may destroy it.
    void RegistrationRemoved();

    RCPtrArray<LNotificationClientPool, 1, 0> pools;
    int32_t registrationCount = 0;
};

// Every distributor with registrations, counted: a keep-alive list that nothing iterates.
RCPtrArray<LNotificationDistributor, 1, 0>& ActiveDistributors();

}  // namespace Orv
