// I/O work items. The item itself comes from the pool (tag "IoWk"), so a work item the driver
// never frees shows up as a leak, and failure injection reaches IoAllocateWorkItem's callers.
#include "DispatcherState.h"
#include "KernelInternal.h"

using namespace Platform::Kernel;
using namespace Platform::Kernel::Internal;

namespace {

constexpr ULONG kWorkItemTag = MakeTag("IoWk");

}  // namespace

PIO_WORKITEM IoAllocateWorkItem(PDEVICE_OBJECT deviceObject)
{
    RequireIrqlAtMost(DISPATCH_LEVEL, "IoAllocateWorkItem");
    if (deviceObject == nullptr) {
        Violation(kDriverVerifierDetectedViolation, "IoAllocateWorkItem without a device object");
    }
    auto* item = static_cast<PIO_WORKITEM>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(_IO_WORKITEM), kWorkItemTag));
    if (item == nullptr) {
        return nullptr;
    }
    *item = _IO_WORKITEM{deviceObject, nullptr, nullptr, false};
    return item;
}

void IoQueueWorkItem(PIO_WORKITEM ioWorkItem, PIO_WORKITEM_ROUTINE workerRoutine,
                     WORK_QUEUE_TYPE queueType, PVOID context)
{
    RequireIrqlAtMost(DISPATCH_LEVEL, "IoQueueWorkItem");
    if (queueType != CriticalWorkQueue && queueType != DelayedWorkQueue) {
        Violation(kDriverVerifierDetectedViolation, "IoQueueWorkItem to an unknown queue",
                  reinterpret_cast<ULONG_PTR>(ioWorkItem), static_cast<ULONG_PTR>(queueType));
    }
    Dispatcher& d = TheDispatcher();
    std::unique_lock lock(d.mutex);
    if (ioWorkItem->queued) {
        lock.unlock();
        Violation(kDriverVerifierDetectedViolation, "IoQueueWorkItem of an item already queued",
                  reinterpret_cast<ULONG_PTR>(ioWorkItem));
    }
    ioWorkItem->routine = workerRoutine;
    ioWorkItem->context = context;
    ioWorkItem->queued = true;
    d.workQueues[queueType].push_back(ioWorkItem);
    d.liveObjects.Add(ioWorkItem);
    d.changed.notify_all();
}

void IoFreeWorkItem(PIO_WORKITEM ioWorkItem)
{
    RequireIrqlAtMost(DISPATCH_LEVEL, "IoFreeWorkItem");
    {
        Dispatcher& d = TheDispatcher();
        std::unique_lock lock(d.mutex);
        if (ioWorkItem->queued) {
            lock.unlock();
            Violation(kDriverVerifierDetectedViolation, "IoFreeWorkItem of an item still queued",
                      reinterpret_cast<ULONG_PTR>(ioWorkItem));
        }
    }
    ExFreePoolWithTag(ioWorkItem, kWorkItemTag);
}
