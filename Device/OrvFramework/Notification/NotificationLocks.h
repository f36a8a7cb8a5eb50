#pragma once
// The two process-wide locks of the notification system.
//
// NotificationRegistryLock guards the id registry and the notification pool.
// NotificationQueueLock is shared by every notification queue's ring; it also guards what a
// posting thread reads and writes of a distributor: its client pools, their registrations and the
// registrations' coalesce slots.
//
// Order: a holder of the queue lock may take the registry lock, never the reverse. Both are
// re-entrant. Built on first use, so that every global that uses them outlives its use.

#include "System/Mutex.h"

namespace Orv {

Mutex& NotificationRegistryLock();
Mutex& NotificationQueueLock();

}  // namespace Orv
