#include "PeriodicTimer.h"

#include <new>

#include "PoolTag.h"

namespace {

struct TimerWorkPacket
{
    PIO_WORKITEM workItem;
    PeriodicTimer* timer;
};

bool IsRunning(const PeriodicTimer* timer)
{
    return __atomic_load_n(&timer->running, __ATOMIC_ACQUIRE) != 0;
}

// PASSIVE_LEVEL, on a system worker thread.
void PeriodicTimerWork(PDEVICE_OBJECT, PVOID context)
{
    auto* packet = static_cast<TimerWorkPacket*>(context);
    PeriodicTimer* timer = packet->timer;
    DeviceContext* device = ContextFromLink(timer->ownerLink);
    if (IsRunning(timer) && GetPnpState(device) == kPnpStarted) {
        timer->callback(timer->argument);
    }
    InterlockedExchange(&timer->workPending, 0);
    ReleaseRemoveLock(device);
    IoFreeWorkItem(packet->workItem);
    ExFreePoolWithTag(packet, kTagTimerWork);
}

// DISPATCH_LEVEL.
void PeriodicTimerDpc(PKDPC, PVOID deferredContext, PVOID, PVOID)
{
    auto* timer = static_cast<PeriodicTimer*>(deferredContext);
    DeviceContext* device = ContextFromLink(timer->ownerLink);
    if (GetPnpState(device) != kPnpStarted) {
        return;
    }
    if (InterlockedCompareExchange(&timer->workPending, 1, 0) != 0) {
        return;  // the previous expiry's work item has not finished: skip this one
    }
    if (!TryAcquireRemoveLock(device)) {
        InterlockedExchange(&timer->workPending, 0);
        return;
    }
    auto* packet = static_cast<TimerWorkPacket*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(TimerWorkPacket), kTagTimerWork));
    if (packet == nullptr) {
        InterlockedExchange(&timer->workPending, 0);
        ReleaseRemoveLock(device);
        return;
    }
    packet->workItem = IoAllocateWorkItem(FunctionalDeviceObject(device));
    if (packet->workItem == nullptr) {
        ExFreePoolWithTag(packet, kTagTimerWork);
        InterlockedExchange(&timer->workPending, 0);
        ReleaseRemoveLock(device);
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
    KeInitializeDpc(&timer->dpc, PeriodicTimerDpc, timer);
    KeInitializeTimer(&timer->timer);
}

void PeriodicTimer::SetTimerCallback(TimerCallback newCallback, PVOID newArgument)
{
    callback = newCallback;
    argument = newArgument;
}

bool PeriodicTimer::StartTimer(ULONG periodMs)
{
    if (periodMs != 0) {
        period = periodMs;
    }
    if (!IsRunning(this)) {
        if (!TryAcquireRemoveLock(ContextFromLink(ownerLink))) {
            return false;
        }
        __atomic_store_n(&running, 1, __ATOMIC_RELEASE);
    }
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(period) * 10000;
    return KeSetTimerEx(&timer, due, static_cast<LONG>(period), &dpc) != FALSE;
}

void PeriodicTimer::StopTimer()
{
    if (!IsRunning(this)) {
        return;
    }
    __atomic_store_n(&running, 0, __ATOMIC_RELEASE);
    KeCancelTimer(&timer);
    ReleaseRemoveLock(ContextFromLink(ownerLink));
}
