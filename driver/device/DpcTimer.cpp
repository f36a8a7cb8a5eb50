#include "DpcTimer.h"

#include "common/InStackLock.h"

namespace {

bool IsRunning(const DpcTimer* timer)
{
    return ReadUCharAcquire(&timer->running) != 0;
}

// DISPATCH_LEVEL. The running check keeps a DPC that was already on its way when the timer
// stopped from calling the owner.
void DpcTimerDpc(PKDPC, PVOID deferredContext, PVOID, PVOID)
{
    auto* timer = static_cast<DpcTimer*>(deferredContext);
    DeviceContext* device = ContextFromLink(timer->ownerLink);
    if (GetPnpState(device) != kPnpStarted || !IsRunning(timer) || !TryAcquireRemoveLock(device)) {
        return;
    }
    timer->callback(timer->argument);
    ReleaseRemoveLock(device);
}

}  // namespace

void ConstructDpcTimer(DpcTimer* timer, DeviceLink ownerLink, TimerCallback callback,
                       PVOID argument)
{
    timer->ownerLink = ownerLink;
    timer->running = 0;
    timer->callback = callback;
    timer->argument = argument;
    KeInitializeSpinLock(&timer->lock);
    KeInitializeTimer(&timer->timer);
    KeInitializeDpc(&timer->dpc, DpcTimerDpc, timer);
}

// Two armings, two stops, or an arming and a stop may meet on two processors: each looks at
// running and acts on it under the timer's lock, so the remove lock is taken once per arming that
// found the timer stopped and given back once by the stop that finds it running.
bool ArmDpcTimer(DpcTimer* timer)
{
    InStackLock hold(&timer->lock);
    if (!IsRunning(timer)) {
        if (!TryAcquireRemoveLock(ContextFromLink(timer->ownerLink))) {
            return false;
        }
        WriteUCharRelease(&timer->running, 1);
    }
    LARGE_INTEGER due;
    due.QuadPart = -10000;  // 1 ms
    KeSetTimerEx(&timer->timer, due, 1, &timer->dpc);
    return true;
}

bool StopDpcTimer(DpcTimer* timer)
{
    bool wasQueued = false;
    {
        InStackLock hold(&timer->lock);
        if (!IsRunning(timer)) {
            return false;
        }
        WriteUCharRelease(&timer->running, 0);
        wasQueued = KeCancelTimer(&timer->timer) != FALSE;
        KeRemoveQueueDpc(&timer->dpc);
    }
    ReleaseRemoveLock(ContextFromLink(timer->ownerLink));
    return wasQueued;
}
