#include "System/GlobalHotKeyManager.h"

namespace Orv {

LGlobalHotKeyManager::LGlobalHotKeyManager(const RCPtr<LNotificationReceiver>& target)
    : targetReceiver(target)
{
}

RCPtr<LGlobalHotKeyManager> LGlobalHotKeyManager::Create(const RCPtr<LNotificationReceiver>& target)
{
    return RCPtr<LGlobalHotKeyManager>(new LGlobalHotKeyManager(target));
}

int32_t LGlobalHotKeyManager::HandleKey(const KeyCode& key)
{
    const NotificationId id = keys.FindNotificationId(key);
    if (id == nullptr || targetReceiver.IsNull()) {
        return 1;
    }
    const RCPtr<LNotification> notification = CreateNotification(id);
    if (notification.IsNull()) {
        return 1;
    }
    targetReceiver->OnNotification(nullptr, notification);
    return 0;
}

}  // namespace Orv
