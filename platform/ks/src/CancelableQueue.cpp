// Queues of pending IRPs that their requester may cancel at any time.
//
// As kernel streaming's own: acquiring an IRP clears its cancel routine until it is released or
// removed, so while a caller holds it IoCancelIrp only marks it cancelled, and removal from the
// queue skips it. Releasing puts the routine back and cancels at once an IRP cancelled meanwhile;
// an IRP cancelled before it was queued is cancelled by its routine as soon as it is queued.
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

bool Linked(struct _IRP* irp)
{
    return EntryOf(irp)->Flink != EntryOf(irp);
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

// Calls the routine taken off a cancelled IRP as IoCancelIrp would: with the cancel spin lock
// held, which the routine releases. Not under the queue's lock (the routine takes it).
void RunCancelRoutine(struct _IRP* irp, PDRIVER_CANCEL routine)
{
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    irp->CancelIrql = irql;
    routine(IoGetCurrentIrpStackLocation(irp)->DeviceObject, irp);
}

PKSPIN_LOCK QueueLockOf(struct _IRP* irp)
{
    return static_cast<PKSPIN_LOCK>(irp->Tail.Overlay.DriverContext[kQueueLockSlot]);
}

bool Acquired(struct _IRP* irp)
{
    return Platform::Kernel::IrpAcquiredFromCancelableQueue(irp) && Linked(irp);
}

[[noreturn]] void StopNotAcquired(struct _IRP* irp, const char* service)
{
    Platform::Kernel::VerifierStop(
        Platform::Kernel::kRuleAcquiredNeverReleased,
        std::string(service) +
            " of an IRP that was not acquired from its cancelable queue (KsAcquireOnly): a "
            "canceller may own it",
        reinterpret_cast<ULONG_PTR>(irp));
}

}  // namespace

void KsAddIrpToCancelableQueue(PLIST_ENTRY queueHead, PKSPIN_LOCK spinLock, struct _IRP* irp,
                               KSLIST_ENTRY_LOCATION listLocation, PDRIVER_CANCEL driverCancel)
{
    Platform::Kernel::RequireCallerIrql(DISPATCH_LEVEL, "KsAddIrpToCancelableQueue");
    // Relinked, the entry would leave its first queue pointing at the second.
    if (Platform::Kernel::IrpInCancelableQueue(irp)) {
        Platform::Kernel::VerifierStop(
            Platform::Kernel::kRuleQueuedTwice,
            "KsAddIrpToCancelableQueue of an IRP still linked in a cancelable queue",
            reinterpret_cast<ULONG_PTR>(irp));
    }
    irp->Tail.Overlay.DriverContext[kQueueLockSlot] = spinLock;
    PDRIVER_CANCEL routine = driverCancel != nullptr ? driverCancel : KsCancelRoutine;
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
    IoSetCancelRoutine(irp, routine);
    // Cancelled before the routine was in place: nobody else will run it.
    const bool cancelledAlready = __atomic_load_n(&irp->Cancel, __ATOMIC_SEQ_CST) &&
                                  IoSetCancelRoutine(irp, nullptr) != nullptr;
    KeReleaseSpinLock(spinLock, irql);
    if (cancelledAlready) {
        RunCancelRoutine(irp, routine);
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
        // Both an IRP being cancelled and one another caller acquired have no routine.
        if (IoSetCancelRoutine(irp, nullptr) == nullptr) {
            if (single) {
                break;
            }
            continue;
        }
        if (remove) {
            Unlink(irp);
        } else {
            Platform::Kernel::NoteIrpAcquiredFromCancelableQueue(irp, true);
        }
        found = irp;
        break;
    }
    KeReleaseSpinLock(spinLock, irql);
    return found;
}

void KsReleaseIrpOnCancelableQueue(struct _IRP* irp, PDRIVER_CANCEL driverCancel)
{
    Platform::Kernel::RequireCallerIrql(DISPATCH_LEVEL, "KsReleaseIrpOnCancelableQueue");
    PKSPIN_LOCK spinLock = QueueLockOf(irp);
    PDRIVER_CANCEL routine = driverCancel != nullptr ? driverCancel : KsCancelRoutine;
    KIRQL irql;
    KeAcquireSpinLock(spinLock, &irql);
    if (!Acquired(irp)) {
        KeReleaseSpinLock(spinLock, irql);
        StopNotAcquired(irp, "KsReleaseIrpOnCancelableQueue");
    }
    Platform::Kernel::NoteIrpAcquiredFromCancelableQueue(irp, false);
    IoSetCancelRoutine(irp, routine);
    // Cancelled while acquired: IoCancelIrp found no routine to call, so it runs now.
    const bool cancelled = __atomic_load_n(&irp->Cancel, __ATOMIC_SEQ_CST) &&
                           IoSetCancelRoutine(irp, nullptr) != nullptr;
    KeReleaseSpinLock(spinLock, irql);
    if (cancelled) {
        RunCancelRoutine(irp, routine);
    }
}

void KsRemoveSpecificIrpFromCancelableQueue(struct _IRP* irp)
{
    Platform::Kernel::RequireCallerIrql(DISPATCH_LEVEL, "KsRemoveSpecificIrpFromCancelableQueue");
    PKSPIN_LOCK spinLock = QueueLockOf(irp);
    KIRQL irql;
    KeAcquireSpinLock(spinLock, &irql);
    const bool acquired = Acquired(irp);
    if (acquired) {
        Unlink(irp);
    }
    KeReleaseSpinLock(spinLock, irql);
    if (!acquired) {
        StopNotAcquired(irp, "KsRemoveSpecificIrpFromCancelableQueue");
    }
}

void KsCancelRoutine(PDEVICE_OBJECT deviceObject, struct _IRP* irp)
{
    UNREFERENCED_PARAMETER(deviceObject);
    PKSPIN_LOCK spinLock = QueueLockOf(irp);
    KeAcquireSpinLockAtDpcLevel(spinLock);
    Unlink(irp);
    KeReleaseSpinLockFromDpcLevel(spinLock);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    Complete(irp, STATUS_CANCELLED);
}

// Every IRP is marked cancelled and its routine run, the driver's own included (it may hold
// resources for the IRP); an acquired IRP is cancelled when it is released.
void KsCancelIo(PLIST_ENTRY queueHead, PKSPIN_LOCK spinLock)
{
    Platform::Kernel::RequireCallerIrql(DISPATCH_LEVEL, "KsCancelIo");
    for (;;) {
        struct _IRP* cancelled = nullptr;
        PDRIVER_CANCEL routine = nullptr;
        KIRQL irql;
        KeAcquireSpinLock(spinLock, &irql);
        for (PLIST_ENTRY entry = queueHead->Flink; entry != queueHead; entry = entry->Flink) {
            struct _IRP* irp = IrpOf(entry);
            __atomic_store_n(&irp->Cancel, TRUE, __ATOMIC_SEQ_CST);
            routine = IoSetCancelRoutine(irp, nullptr);
            if (routine != nullptr) {
                cancelled = irp;
                break;
            }
        }
        KeReleaseSpinLock(spinLock, irql);
        if (cancelled == nullptr) {
            return;
        }
        RunCancelRoutine(cancelled, routine);
    }
}
