// A periodic timer whose owner's callback runs at PASSIVE_LEVEL: the timer's DPC only queues a
// work item. Acts only while the device is started, and holds the device's remove lock while
// armed (and one more reference per queued expiry), so that Remove waits for it.
//
// At most one expiry is in flight: an expiry that finds the previous work item still queued or
// running is skipped, so a callback slower than the period cannot pile up work items.
#pragma once

#include <wdm.h>

#include "DeviceContext.h"

using TimerCallback = void (*)(PVOID argument);

class PeriodicTimer
{
public:
    virtual void SetTimerCallback(TimerCallback callback, PVOID argument);  // slot 0
    // A non-zero period (ms) replaces the stored one. Returns what KeSetTimerEx returns; false
    // also when the remove lock cannot be taken (the timer then stays unarmed).
    virtual bool StartTimer(ULONG periodMs);  // slot 1
    // At PASSIVE_LEVEL also waits until no expiry's DPC or work item is queued or running (except
    // when called from the timer's own callback), so the owner may free the timer and the
    // callback's argument as soon as it returns.
    virtual void StopTimer();  // slot 2

    KTIMER timer;
    KDPC dpc;              // PeriodicTimerDpc, context = this
    DeviceLink ownerLink;  // the context's device field
    UCHAR running;         // armed and holding the remove lock; changed under lock
    KSPIN_LOCK lock;       // guards running, and workPending with workIdle, so each moves as one
    ULONG period;          // ms
    TimerCallback callback;
    PVOID argument;
    volatile LONG workPending;  // 1 from queuing an expiry's work item until it finished
    KEVENT workIdle;            // notification: signalled while workPending is 0
    PVOID callbackThread;       // the thread running the callback, else null; atomic access
};

// Builds the timer in place (IRQL <= DISPATCH_LEVEL); the owner stops it before it goes away.
void ConstructPeriodicTimer(PeriodicTimer* timer, DeviceLink ownerLink, ULONG periodMs,
                            TimerCallback callback, PVOID argument);
