// IRPs: allocation with their stack locations behind them, sending, completion and cancellation.
#include <wdm.h>

#include <KernelTestApi.h>

#include "KernelInternal.h"
#include "Verifier.h"

using namespace Platform::Kernel;

namespace {

constexpr ULONG kIrpTag = 0x20707249;  // "Irp "
constexpr SHORT kIrpType = 6;
constexpr ULONG kIrpAllocated = 0x1;         // from IoAllocateIrp: its owner frees it
constexpr ULONG kIrpBuiltSynchronous = 0x2;  // from IoBuildDeviceIoControlRequest
constexpr ULONG kIrpCompleted = 0x4;         // completed all the way (guards a second completion)

KSPIN_LOCK cancelSpinLock = 0;

PIO_STACK_LOCATION StackBase(PIRP irp)
{
    return reinterpret_cast<PIO_STACK_LOCATION>(irp + 1);
}

size_t IrpBytes(CCHAR stackSize)
{
    return sizeof(IRP) + sizeof(IO_STACK_LOCATION) * static_cast<size_t>(stackSize);
}

void Initialize(PIRP irp, CCHAR stackSize, ULONG flags)
{
    RtlZeroMemory(irp, IrpBytes(stackSize));
    irp->Type = kIrpType;
    irp->Size = static_cast<USHORT>(IrpBytes(stackSize));
    irp->StackCount = stackSize;
    irp->CurrentLocation = static_cast<CHAR>(stackSize + 1);
    irp->Flags = flags;
    irp->Tail.Overlay.CurrentStackLocation = StackBase(irp) + stackSize;
    irp->Tail.Overlay.ListEntry.Flink = &irp->Tail.Overlay.ListEntry;
    irp->Tail.Overlay.ListEntry.Blink = &irp->Tail.Overlay.ListEntry;
}

void CheckIrp(PIRP irp, const char* service)
{
    if (irp == nullptr || irp->Type != kIrpType) {
        Internal::Violation(kDriverVerifierDetectedViolation,
                            std::string(service) + " called with something that is not an IRP",
                            reinterpret_cast<ULONG_PTR>(irp));
    }
}

// The location below the current one, for the driver to fill before it sends the IRP on; an IRP
// with none left would have it written over the IRP's own header.
PIO_STACK_LOCATION NextLocation(PIRP irp, const char* service)
{
    CheckIrp(irp, service);
    if (irp->CurrentLocation <= 1) {
        Internal::Violation(BUG_CHECK_NO_MORE_IRP_STACK_LOCATIONS,
                            std::string(service) +
                                ": the IRP has no stack location below the "
                                "current one",
                            reinterpret_cast<ULONG_PTR>(irp));
    }
    return IoGetNextIrpStackLocation(irp);
}

}  // namespace

PIRP IoAllocateIrp(CCHAR stackSize, BOOLEAN chargeQuota)
{
    UNREFERENCED_PARAMETER(chargeQuota);
    Internal::RequireIrqlAtMost(DISPATCH_LEVEL, "IoAllocateIrp");
    if (stackSize < 1) {
        Internal::Violation(kDriverVerifierDetectedViolation, "IoAllocateIrp with no stack");
    }
    auto* irp =
        static_cast<PIRP>(ExAllocatePoolWithTag(NonPagedPoolNx, IrpBytes(stackSize), kIrpTag));
    if (irp != nullptr) {
        Initialize(irp, stackSize, kIrpAllocated);
    }
    return irp;
}

namespace Platform::Kernel::Internal {

const void* CancelSpinLockAddress()
{
    return &cancelSpinLock;
}

}  // namespace Platform::Kernel::Internal

void IoFreeIrp(PIRP irp)
{
    Internal::RequireIrqlAtMost(DISPATCH_LEVEL, "IoFreeIrp");
    CheckIrp(irp, "IoFreeIrp");
    Internal::CheckNotInFlight(irp, "IoFreeIrp");
    irp->Type = 0;
    ExFreePoolWithTag(irp, kIrpTag);
}

void IoReuseIrp(PIRP irp, NTSTATUS status)
{
    Internal::RequireIrqlAtMost(DISPATCH_LEVEL, "IoReuseIrp");
    CheckIrp(irp, "IoReuseIrp");
    // An IRP the I/O manager built belongs to it (and to the thread that asked): it frees it.
    if ((irp->Flags & kIrpAllocated) == 0) {
        Internal::Violation(kDriverVerifierDetectedViolation,
                            "IoReuseIrp of an IRP that IoAllocateIrp did not allocate",
                            reinterpret_cast<ULONG_PTR>(irp));
    }
    Internal::CheckNotInFlight(irp, "IoReuseIrp");
    const ULONG keep = irp->Flags & (kIrpAllocated | kIrpBuiltSynchronous);
    Initialize(irp, irp->StackCount, keep);
    irp->IoStatus.Status = status;
}

void IoSkipCurrentIrpStackLocation(PIRP irp)
{
    irp->CurrentLocation++;
    irp->Tail.Overlay.CurrentStackLocation++;
}

void IoCopyCurrentIrpStackLocationToNext(PIRP irp)
{
    PIO_STACK_LOCATION next = NextLocation(irp, "IoCopyCurrentIrpStackLocationToNext");
    *next = *IoGetCurrentIrpStackLocation(irp);
    next->CompletionRoutine = nullptr;
    next->Context = nullptr;
    next->Control = 0;
}

void IoSetCompletionRoutine(PIRP irp, PIO_COMPLETION_ROUTINE routine, PVOID context,
                            BOOLEAN invokeOnSuccess, BOOLEAN invokeOnError, BOOLEAN invokeOnCancel)
{
    PIO_STACK_LOCATION next = NextLocation(irp, "IoSetCompletionRoutine");
    // Asking to be called with no routine to call would call address zero at completion.
    if (routine == nullptr && (invokeOnSuccess || invokeOnError || invokeOnCancel)) {
        Internal::Violation(kDriverVerifierDetectedViolation,
                            "IoSetCompletionRoutine asks to be invoked but gives no routine",
                            reinterpret_cast<ULONG_PTR>(irp));
    }
    next->CompletionRoutine = routine;
    next->Context = context;
    next->Control = 0;
    if (invokeOnSuccess) {
        next->Control |= SL_INVOKE_ON_SUCCESS;
    }
    if (invokeOnError) {
        next->Control |= SL_INVOKE_ON_ERROR;
    }
    if (invokeOnCancel) {
        next->Control |= SL_INVOKE_ON_CANCEL;
    }
}

NTSTATUS IoSetCompletionRoutineEx(PDEVICE_OBJECT deviceObject, PIRP irp,
                                  PIO_COMPLETION_ROUTINE routine, PVOID context,
                                  BOOLEAN invokeOnSuccess, BOOLEAN invokeOnError,
                                  BOOLEAN invokeOnCancel)
{
    UNREFERENCED_PARAMETER(deviceObject);
    Internal::RequireIrqlAtMost(DISPATCH_LEVEL, "IoSetCompletionRoutineEx");
    IoSetCompletionRoutine(irp, routine, context, invokeOnSuccess, invokeOnError, invokeOnCancel);
    return STATUS_SUCCESS;
}

NTSTATUS IofCallDriver(PDEVICE_OBJECT deviceObject, PIRP irp)
{
    CheckIrp(irp, "IofCallDriver");
    Internal::RequireIrqlAtMost(DISPATCH_LEVEL, "IofCallDriver");
    if (deviceObject == nullptr || deviceObject->DriverObject == nullptr) {
        Internal::Violation(kDriverVerifierDetectedViolation, "IofCallDriver without a device");
    }
    irp->CurrentLocation--;
    if (irp->CurrentLocation <= 0) {
        Internal::Violation(BUG_CHECK_NO_MORE_IRP_STACK_LOCATIONS,
                            "IofCallDriver: the IRP has no stack location left",
                            reinterpret_cast<ULONG_PTR>(irp));
    }
    irp->Tail.Overlay.CurrentStackLocation--;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    stack->DeviceObject = deviceObject;
    PDRIVER_DISPATCH dispatch =
        deviceObject->DriverObject
            ->MajorFunction[stack->MajorFunction <= IRP_MJ_MAXIMUM_FUNCTION ? stack->MajorFunction
                                                                            : 0];
    if (stack->MajorFunction > IRP_MJ_MAXIMUM_FUNCTION || dispatch == nullptr) {
        irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
        irp->IoStatus.Information = 0;
        IofCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    const size_t heldLocks = Internal::HeldLockDepth();
    Internal::DispatchFrame frame(irp, stack);
    const NTSTATUS status = dispatch(deviceObject, irp);
    Internal::CheckNoLockTakenSince(heldLocks, "the dispatch routine",
                                    reinterpret_cast<void*>(dispatch));
    frame.CheckReturned(status, reinterpret_cast<void*>(dispatch));
    return status;
}

void IofCompleteRequest(PIRP irp, CCHAR priorityBoost)
{
    UNREFERENCED_PARAMETER(priorityBoost);
    CheckIrp(irp, "IofCompleteRequest");
    Internal::RequireIrqlAtMost(DISPATCH_LEVEL, "IofCompleteRequest");
    Internal::CheckCompletable(
        irp, irp->CurrentLocation > irp->StackCount || (irp->Flags & kIrpCompleted) != 0);
    if (irp->CurrentLocation > irp->StackCount || (irp->Flags & kIrpCompleted) != 0) {
        Internal::Violation(BUG_CHECK_MULTIPLE_IRP_COMPLETE_REQUESTS,
                            "an IRP completed that no driver holds",
                            reinterpret_cast<ULONG_PTR>(irp));
    }
    if (irp->IoStatus.Status == STATUS_PENDING) {
        Internal::Violation(kDriverVerifierDetectedViolation,
                            "an IRP completed with STATUS_PENDING",
                            reinterpret_cast<ULONG_PTR>(irp));
    }
    // A canceller on another processor may be exchanging the routine at this moment.
    IoSetCancelRoutine(irp, nullptr);
    while (irp->CurrentLocation <= irp->StackCount) {
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
        Internal::CompletionPassing(irp, stack);
        irp->PendingReturned = (stack->Control & SL_PENDING_RETURNED) != 0;
        irp->CurrentLocation++;
        irp->Tail.Overlay.CurrentStackLocation++;
        const NTSTATUS status = irp->IoStatus.Status;
        const bool invoke =
            stack->CompletionRoutine != nullptr &&
            ((NT_SUCCESS(status) && (stack->Control & SL_INVOKE_ON_SUCCESS)) ||
             (!NT_SUCCESS(status) && (stack->Control & SL_INVOKE_ON_ERROR)) ||
             (ReadUCharAcquire(&irp->Cancel) && (stack->Control & SL_INVOKE_ON_CANCEL)));
        PDEVICE_OBJECT upper = irp->CurrentLocation <= irp->StackCount
                                   ? IoGetCurrentIrpStackLocation(irp)->DeviceObject
                                   : nullptr;
        PIO_COMPLETION_ROUTINE routine = stack->CompletionRoutine;
        PVOID context = stack->Context;
        stack->CompletionRoutine = nullptr;
        stack->Control = 0;
        if (invoke) {
            if (routine(upper, irp, context) == STATUS_MORE_PROCESSING_REQUIRED) {
                return;
            }
        } else if (irp->PendingReturned && irp->CurrentLocation <= irp->StackCount) {
            IoMarkIrpPending(irp);
        }
    }
    irp->Flags |= kIrpCompleted;
    if ((irp->Flags & kIrpBuiltSynchronous) != 0) {
        if (irp->UserIosb != nullptr) {
            *irp->UserIosb = irp->IoStatus;
        }
        PKEVENT event = irp->UserEvent;
        IoFreeIrp(irp);
        if (event != nullptr) {
            KeSetEvent(event, IO_NO_INCREMENT, FALSE);
        }
        return;
    }
    Internal::Violation(kDriverVerifierDetectedViolation,
                        "an IRP from IoAllocateIrp completed with no routine keeping it",
                        reinterpret_cast<ULONG_PTR>(irp));
}

void IoAcquireCancelSpinLock(PKIRQL irql)
{
    KeAcquireSpinLock(&cancelSpinLock, irql);
}

void IoReleaseCancelSpinLock(KIRQL irql)
{
    KeReleaseSpinLock(&cancelSpinLock, irql);
}

PDRIVER_CANCEL IoSetCancelRoutine(PIRP irp, PDRIVER_CANCEL cancelRoutine)
{
    return reinterpret_cast<PDRIVER_CANCEL>(
        InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&irp->CancelRoutine),
                                   reinterpret_cast<PVOID>(cancelRoutine)));
}

BOOLEAN IoCancelIrp(PIRP irp)
{
    CheckIrp(irp, "IoCancelIrp");
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    WriteUCharRelease(&irp->Cancel, TRUE);  // read without the lock by whoever holds the IRP
    PDRIVER_CANCEL routine = IoSetCancelRoutine(irp, nullptr);
    if (routine == nullptr) {
        IoReleaseCancelSpinLock(irql);
        return FALSE;
    }
    irp->CancelIrql = irql;
    routine(IoGetCurrentIrpStackLocation(irp)->DeviceObject, irp);
    return TRUE;
}

PIRP IoBuildDeviceIoControlRequest(ULONG ioControlCode, PDEVICE_OBJECT deviceObject,
                                   PVOID inputBuffer, ULONG inputBufferLength, PVOID outputBuffer,
                                   ULONG outputBufferLength, BOOLEAN internalDeviceIoControl,
                                   PKEVENT event, PIO_STATUS_BLOCK ioStatusBlock)
{
    Internal::RequirePassive("IoBuildDeviceIoControlRequest");
    if (deviceObject == nullptr || (ioControlCode & 3) != METHOD_NEITHER) {
        return nullptr;
    }
    PIRP irp = IoAllocateIrp(deviceObject->StackSize, FALSE);
    if (irp == nullptr) {
        return nullptr;
    }
    irp->Flags = kIrpBuiltSynchronous;
    irp->UserIosb = ioStatusBlock;
    irp->UserEvent = event;
    irp->UserBuffer = outputBuffer;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction =
        internalDeviceIoControl ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = ioControlCode;
    next->Parameters.DeviceIoControl.InputBufferLength = inputBufferLength;
    next->Parameters.DeviceIoControl.OutputBufferLength = outputBufferLength;
    next->Parameters.DeviceIoControl.Type3InputBuffer = inputBuffer;
    return irp;
}
