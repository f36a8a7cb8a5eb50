#include "PeriodicTimer.h"

#include <new>

#include "PoolTag.h"
#include "common/InStackLock.h"

namespace {

struct TimerWorkPacket
{
    PIO_WORKITEM workItem;
    PeriodicTimer* timer;
};

bool IsRunning(const PeriodicTimer* timer)
{
    return ReadUCharAcquire(&timer->running) != 0;
}

// The expiry in flight is over. workPending and workIdle change together under the timer's lock:
// apart, an expiry ending (pending 0, then the event set) and the next DPC starting one (pending
// 1, then the event cleared) could interleave so that the event stood set over a queued work item,
// and a StopTimer would return and let the owner free the timer under it. The lock's release is
// the last touch; StopTimer takes the lock once after its wait, so it returns only after that.
void EndExpiry(PeriodicTimer* timer)
{
    InStackLock hold(&timer->lock);
    InterlockedExchange(&timer->workPending, 0);
    KeSetEvent(&timer->workIdle, 0, FALSE);
}

// PASSIVE_LEVEL, on a system worker thread.
void PeriodicTimerWork(PDEVICE_OBJECT, PVOID context)
{
    auto* packet = static_cast<TimerWorkPacket*>(context);
    PeriodicTimer* timer = packet->timer;
    DeviceContext* device = ContextFromLink(timer->ownerLink);
    if (IsRunning(timer) && GetPnpState(device) == kPnpStarted) {
        WritePointerRelease(&timer->callbackThread, KeGetCurrentThread());
        timer->callback(timer->argument);
        WritePointerRelease(&timer->callbackThread, nullptr);
    }
    ReleaseRemoveLock(device);
    IoFreeWorkItem(packet->workItem);
    ExFreePoolWithTag(packet, kTagTimerWork);
    EndExpiry(timer);
}

// DISPATCH_LEVEL.
void PeriodicTimerDpc(PKDPC, PVOID deferredContext, PVOID, PVOID)
{
    auto* timer = static_cast<PeriodicTimer*>(deferredContext);
    DeviceContext* device = ContextFromLink(timer->ownerLink);
    if (GetPnpState(device) != kPnpStarted) {
        return;
    }
    {
        InStackLock hold(&timer->lock);
        if (InterlockedCompareExchange(&timer->workPending, 1, 0) != 0) {
            return;  // the previous expiry's work item has not finished: skip this one
        }
        KeClearEvent(&timer->workIdle);
    }
    if (!TryAcquireRemoveLock(device)) {
        EndExpiry(timer);
        return;
    }
    auto* packet = static_cast<TimerWorkPacket*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(TimerWorkPacket), kTagTimerWork));
    if (packet == nullptr) {
        ReleaseRemoveLock(device);
        EndExpiry(timer);
        return;
    }
    packet->workItem = IoAllocateWorkItem(FunctionalDeviceObject(device));
    if (packet->workItem == nullptr) {
        ExFreePoolWithTag(packet, kTagTimerWork);
        ReleaseRemoveLock(device);
        EndExpiry(timer);
        return;
    }
    packet->timer = timer;
    IoQueueWorkItem(packet->workItem, PeriodicTimerWork, DelayedWorkQueue, packet);
}

}  // namespace

void ConstructPeriodicTimer(PeriodicTimer* timer, DeviceLink ownerLink, ULONG periodMs,
                            TimerCallback callback, PVOID argument)
{
    new (timer) PeriodicTimer();
    timer->ownerLink = ownerLink;
    timer->period = periodMs;
    timer->callback = callback;
    timer->argument = argument;
    timer->running = 0;
    timer->workPending = 0;
    timer->callbackThread = nullptr;
    KeInitializeSpinLock(&timer->lock);
    KeInitializeEvent(&timer->workIdle, NotificationEvent, TRUE);
    KeInitializeDpc(&timer->dpc, PeriodicTimerDpc, timer);
    KeInitializeTimer(&timer->timer);
}

void PeriodicTimer::SetTimerCallback(TimerCallback newCallback, PVOID newArgument)
{
    callback = newCallback;
    argument = newArgument;
}

// Starts and stops may meet on two processors (a capture pin starts from its periods and stops from
// a state change): each decides on running and acts on it under the timer's lock, so the remove
// lock is taken once per start that found the timer stopped and given back once.
bool PeriodicTimer::StartTimer(ULONG periodMs)
{
    InStackLock hold(&lock);
    if (periodMs != 0) {
        period = periodMs;
    }
    if (!IsRunning(this)) {
        if (!TryAcquireRemoveLock(ContextFromLink(ownerLink))) {
            return false;
        }
        WriteUCharRelease(&running, 1);
    }
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(period) * 10000;
    return KeSetTimerEx(&timer, due, static_cast<LONG>(period), &dpc) != FALSE;
}

void PeriodicTimer::StopTimer()
{
    bool stopped = false;
    {
        InStackLock hold(&lock);
        if (IsRunning(this)) {
            WriteUCharRelease(&running, 0);
            KeCancelTimer(&timer);
            KeRemoveQueueDpc(&dpc);
            stopped = true;
        }
    }
    if (stopped) {
        ReleaseRemoveLock(ContextFromLink(ownerLink));
    }
    if (KeGetCurrentIrql() != PASSIVE_LEVEL ||
        ReadPointerAcquire(&callbackThread) == KeGetCurrentThread()) {
        return;  // cannot wait here; the expiry in flight no longer calls the owner
    }
    // A DPC already running may still be about to queue its work item.
    KeFlushQueuedDpcs();
    KeWaitForSingleObject(&workIdle, Executive, KernelMode, FALSE, nullptr);
    // The expiry that set the event may still be releasing the lock it set it under.
    InStackLock barrier(&lock);
}
