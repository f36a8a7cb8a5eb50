#include "Notification/NotificationLocks.h"

namespace Orv {

Mutex& NotificationRegistryLock()
{
    static Mutex lock;
    return lock;
}

Mutex& NotificationQueueLock()
{
    static Mutex lock;
    return lock;
}

}  // namespace Orv
