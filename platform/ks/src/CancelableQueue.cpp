// Queues of pending IRPs that their requester may cancel at any time.
#include <KernelTestApi.h>

#include "KsInternal.h"

namespace {

// The queue's lock travels with the IRP, for the cancel routine.
constexpr int kQueueLockSlot = 3;

PLIST_ENTRY EntryOf(struct _IRP* irp)
{
    return &irp->Tail.Overlay.ListEntry;
}

struct _IRP* IrpOf(PLIST_ENTRY entry)
{
    return CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
}

// Under the queue's lock.
void Unlink(struct _IRP* irp)
{
    PLIST_ENTRY entry = EntryOf(irp);
    entry->Blink->Flink = entry->Flink;
    entry->Flink->Blink = entry->Blink;
    entry->Flink = entry;
    entry->Blink = entry;
    Platform::Kernel::NoteIrpInCancelableQueue(irp, false);
}

void Complete(struct _IRP* irp, NTSTATUS status)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

}  // namespace

void KsAddIrpToCancelableQueue(PLIST_ENTRY queueHead, PKSPIN_LOCK spinLock, struct _IRP* irp,
                               KSLIST_ENTRY_LOCATION listLocation, PDRIVER_CANCEL driverCancel)
{
    Platform::Kernel::RequireCallerIrql(DISPATCH_LEVEL, "KsAddIrpToCancelableQueue");
    irp->Tail.Overlay.DriverContext[kQueueLockSlot] = spinLock;
    KIRQL irql;
    KeAcquireSpinLock(spinLock, &irql);
    PLIST_ENTRY entry = EntryOf(irp);
    if (listLocation == KsListEntryHead) {
        entry->Flink = queueHead->Flink;
        entry->Blink = queueHead;
    } else {
        entry->Flink = queueHead;
        entry->Blink = queueHead->Blink;
    }
    entry->Flink->Blink = entry;
    entry->Blink->Flink = entry;
    Platform::Kernel::NoteIrpInCancelableQueue(irp, true);
    IoSetCancelRoutine(irp, driverCancel != nullptr ? driverCancel : KsCancelRoutine);
    // Cancelled before the routine was in place: nobody else will complete it.
    const bool cancelledAlready = __atomic_load_n(&irp->Cancel, __ATOMIC_SEQ_CST) &&
                                  IoSetCancelRoutine(irp, nullptr) != nullptr;
    if (cancelledAlready) {
        Unlink(irp);
    }
    KeReleaseSpinLock(spinLock, irql);
    if (cancelledAlready) {
        Complete(irp, STATUS_CANCELLED);
    }
}

struct _IRP* KsRemoveIrpFromCancelableQueue(PLIST_ENTRY queueHead, PKSPIN_LOCK spinLock,
                                            KSLIST_ENTRY_LOCATION listLocation,
                                            KSIRP_REMOVAL_OPERATION removalOperation)
{
    const bool remove = removalOperation == KsAcquireAndRemove ||
                        removalOperation == KsAcquireAndRemoveOnlySingleItem;
    const bool single = removalOperation == KsAcquireOnlySingleItem ||
                        removalOperation == KsAcquireAndRemoveOnlySingleItem;
    Platform::Kernel::RequireCallerIrql(DISPATCH_LEVEL, "KsRemoveIrpFromCancelableQueue");
    struct _IRP* found = nullptr;
    KIRQL irql;
    KeAcquireSpinLock(spinLock, &irql);
    for (PLIST_ENTRY entry = listLocation == KsListEntryHead ? queueHead->Flink : queueHead->Blink;
         entry != queueHead;
         entry = listLocation == KsListEntryHead ? entry->Flink : entry->Blink) {
        struct _IRP* irp = IrpOf(entry);
        if (__atomic_load_n(&irp->CancelRoutine, __ATOMIC_ACQUIRE) == nullptr) {
            if (single) {
                break;
            }
            continue;  // its cancellation has begun
        }
        if (remove) {
            if (IoSetCancelRoutine(irp, nullptr) == nullptr) {
                continue;
            }
            Unlink(irp);
        }
        found = irp;
        break;
    }
    KeReleaseSpinLock(spinLock, irql);
    return found;
}

void KsRemoveSpecificIrpFromCancelableQueue(struct _IRP* irp)
{
    Platform::Kernel::RequireCallerIrql(DISPATCH_LEVEL, "KsRemoveSpecificIrpFromCancelableQueue");
    auto* spinLock = static_cast<PKSPIN_LOCK>(irp->Tail.Overlay.DriverContext[kQueueLockSlot]);
    KIRQL irql;
    KeAcquireSpinLock(spinLock, &irql);
    if (IoSetCancelRoutine(irp, nullptr) != nullptr) {
        Unlink(irp);
    }
    KeReleaseSpinLock(spinLock, irql);
}

void KsCancelRoutine(PDEVICE_OBJECT deviceObject, struct _IRP* irp)
{
    UNREFERENCED_PARAMETER(deviceObject);
    auto* spinLock = static_cast<PKSPIN_LOCK>(irp->Tail.Overlay.DriverContext[kQueueLockSlot]);
    KeAcquireSpinLockAtDpcLevel(spinLock);
    Unlink(irp);
    KeReleaseSpinLockFromDpcLevel(spinLock);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    Complete(irp, STATUS_CANCELLED);
}

void KsCancelIo(PLIST_ENTRY queueHead, PKSPIN_LOCK spinLock)
{
    for (;;) {
        struct _IRP* irp = KsRemoveIrpFromCancelableQueue(queueHead, spinLock, KsListEntryHead,
                                                          KsAcquireAndRemove);
        if (irp == nullptr) {
            return;
        }
        Complete(irp, STATUS_CANCELLED);
    }
}
