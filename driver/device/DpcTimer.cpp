#include "DpcTimer.h"

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
    KeInitializeTimer(&timer->timer);
    KeInitializeDpc(&timer->dpc, DpcTimerDpc, timer);
}

bool ArmDpcTimer(DpcTimer* timer)
{
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
    if (!IsRunning(timer)) {
        return false;
    }
    WriteUCharRelease(&timer->running, 0);
    const bool wasQueued = KeCancelTimer(&timer->timer) != FALSE;
    KeRemoveQueueDpc(&timer->dpc);
    ReleaseRemoveLock(ContextFromLink(timer->ownerLink));
    return wasQueued;
}
