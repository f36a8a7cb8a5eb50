#pragma once
// LNotificationClient: the receiving side. A client registers with distributors for one id at a
// time and is then called for every notification of that id they send.
//
// Lifetime: each registration holds a counted reference to the client, counted as a back
// reference; the client holds only plain pointers to its distributors. So when the last ordinary
// holder lets a client go, Release finds only back references left and DropBackReferences
// unregisters the client everywhere, which destroys it. Destructors do not unregister.
//
// Register only once the client is held by an RCPtr (never from its constructor): registration
// takes and drops counted references to it. UI thread only.

#include <cstdint>

#include "Notification/NotificationReceiver.h"
#include "Utilities/Storage/Array.h"

namespace Orv {

// Bit 0: coalesce (the registration receives only the latest posted notification of its id). The
// other bits are stored and combined but have no effect.
using NotificationRegistrationFlags = int32_t;
inline constexpr NotificationRegistrationFlags kNotificationCoalesce = 1;

class LNotificationClient : public LNotificationReceiver
{
public:
    LNotificationClient() = default;
    ~LNotificationClient() override;

    // Does nothing by default.
    int OnNotification(const RCPtr<LNotificationDistributor>& sender,
                       const RCPtr<LNotification>& notification) override;

    // The interned id, or null for a null source or an empty text. The id comes back even when
    // the distributor refused the registration.
    NotificationId Register(const RCPtr<LNotificationDistributor>& source, const char16_t* idText,
                            NotificationRegistrationFlags flags = 0);

    // 1 when the client holds no registration at all; E_INVALIDARG for a null source or text;
    // else the distributor's answer (0 removed, 1 no such registration). 1 describes the state
    // before the call: removing the client's last registration answers 0, not 1.
    ORVRESULT Unregister(const RCPtr<LNotificationDistributor>& source,
                         const char16_t* idText) override;

    // The number of registrations removed.
    int32_t UnregisterAll();

    // Unregisters everything, then answers whether only the reference being released remains.
    ORVRESULT DropBackReferences() override;

    int32_t GetRegistrationCount() const { return registrationCount; }

private:
    int32_t FindDistributor(const LNotificationDistributor* distributor) const;

    int32_t registrationCount = 0;
    // Every distributor holding at least one registration of this client, in order of first
    // registration. Not counted: the registrations keep them alive.
    Array<LNotificationDistributor*> distributors;
};

}  // namespace Orv
