#pragma once
// LGlobalHotKeyManager: a hot-key table whose matching keys become notifications for one target
// receiver. The application has one (its target posts to the "application" center), and so does
// every root window (its target posts to the window's queue), so a hot key acts at the next idle
// drain, never during the key event itself.

#include "Notification/NotificationDistributor.h"
#include "Notification/NotificationReceiver.h"
#include "ObjectBase/RCPtr.h"
#include "System/HotKeyTable.h"

namespace Orv {

class LGlobalHotKeyManager : public virtual LRefCountedObject
{
public:
    explicit LGlobalHotKeyManager(const RCPtr<LNotificationReceiver>& target);
    static RCPtr<LGlobalHotKeyManager> Create(const RCPtr<LNotificationReceiver>& target);

    HotKeyTable& GetHotKeys() { return keys; }
    const HotKeyTable& GetHotKeys() const { return keys; }
    // Where the notifications of matched keys go (menu entries bound to a hot key go there too).
    const RCPtr<LNotificationReceiver>& GetTarget() const { return targetReceiver; }

    // 0 when the key is bound and its notification was handed to the target (consumed); 1 when
    // nothing was delivered: no binding, no target, or no notification could be made.
    int32_t HandleKey(const KeyCode& key);

private:
    HotKeyTable keys;
    RCPtr<LNotificationReceiver> targetReceiver;
};

}  // namespace Orv
