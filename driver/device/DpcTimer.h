// A 1 ms timer whose owner's callback runs in the DPC at DISPATCH_LEVEL (it must not block).
// Acts only while the device is started; holds the device's remove lock while armed.
#pragma once

#include <wdm.h>

#include "DeviceContext.h"
#include "PeriodicTimer.h"

struct DpcTimer
{
    DeviceLink ownerLink;  // the context's device field
    KTIMER timer;
    KDPC dpc;         // DpcTimerDpc, context = this
    UCHAR running;    // armed and holding the remove lock; changed under lock, read atomically
    KSPIN_LOCK lock;  // an arming or a stop decides and acts on running as one step
    TimerCallback callback;
    PVOID argument;
};

// IRQL <= DISPATCH_LEVEL for all three.
void ConstructDpcTimer(DpcTimer* timer, DeviceLink ownerLink, TimerCallback callback,
                       PVOID argument);
// Arms the timer: due in 1 ms, then every 1 ms. The first arming takes the remove lock; false
// when it cannot be taken (the timer stays unarmed).
bool ArmDpcTimer(DpcTimer* timer);
// When running: disarms, drops a DPC still queued, releases the remove lock. Returns whether the
// timer was still queued (false when it was not running).
bool StopDpcTimer(DpcTimer* timer);
