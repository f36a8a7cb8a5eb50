// Synchronous requests to the lower device: URBs with their time-out, and the request mutex with
// the high-speed pacing behind the sync pipe.
#include "usb/UsbRequestChannel.h"

#include "usb/UsbBus.h"
#include "usb/UsbIsoStreaming.h"

namespace {

constexpr LONGLONG kSubmitTimeout100ns = 5LL * 10000000;  // 5 s
constexpr LONGLONG kSyncWait100ns = 15LL * 10000;         // 15 ms

}  // namespace

UsbRequestChannel::UsbRequestChannel(DeviceContext* context, const UsbBus& bus,
                                     const UsbIsoStreaming& streaming)
    : deviceContext(context), bus(bus), streaming(streaming)
{
    KeInitializeMutex(&requestMutex, 0);
    KeInitializeEvent(&syncCompletionEvent, NotificationEvent, FALSE);
}

NTSTATUS UsbRequestChannel::SignalRequestDone(PDEVICE_OBJECT, PIRP, PVOID context)
{
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

LONGLONG UsbRequestChannel::Now100ns()
{
    LARGE_INTEGER frequency;
    const LARGE_INTEGER counter = KeQueryPerformanceCounter(&frequency);
    // Whole seconds and the rest apart, so the product cannot overflow.
    const LONGLONG seconds = counter.QuadPart / frequency.QuadPart;
    const LONGLONG rest = counter.QuadPart % frequency.QuadPart;
    return seconds * 10000000 + rest * 10000000 / frequency.QuadPart;
}

void UsbRequestChannel::LockRequests()
{
    KeWaitForSingleObject(&requestMutex, Executive, KernelMode, FALSE, nullptr);
}

void UsbRequestChannel::UnlockRequests()
{
    KeReleaseMutex(&requestMutex, FALSE);
}

NTSTATUS UsbRequestChannel::CallLowerDriver(PIRP irp)
{
    LockRequests();
    if (bus.HighSpeed() && streaming.IsStreaming() && KeGetCurrentIrql() == PASSIVE_LEVEL) {
        // Start control transfers right after an isochronous completion, not just before one.
        const LONGLONG elapsed = (Now100ns() - lastSyncCompletionTime) / 100;  // 10 us units
        const LONG frames = static_cast<LONG>(streaming.FramesPerTransfer());
        const LONGLONG limit = static_cast<LONGLONG>((frames > 1 ? frames - 1 : frames) - 3) * 100;
        if (elapsed > limit) {
            KeClearEvent(&syncCompletionEvent);
            LARGE_INTEGER timeout;
            timeout.QuadPart = -kSyncWait100ns;
            KeWaitForSingleObject(&syncCompletionEvent, Executive, KernelMode, FALSE, &timeout);
        }
    }
    const NTSTATUS status = IofCallDriver(LowerDevice(), irp);
    UnlockRequests();
    return status;
}

NTSTATUS UsbRequestChannel::BeginRequest(PIRP* irp)
{
    *irp = nullptr;
    if (!TryAcquireRemoveLock(deviceContext)) {
        return STATUS_UNSUCCESSFUL;
    }
    *irp = IoAllocateIrp(static_cast<CCHAR>(LowerDevice()->StackSize + 1), FALSE);
    if (*irp == nullptr) {
        ReleaseRemoveLock(deviceContext);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    return STATUS_SUCCESS;
}

NTSTATUS UsbRequestChannel::FinishRequest(PIRP irp, LONGLONG timeout100ns)
{
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoSetCompletionRoutineEx(LowerDevice(), irp, &SignalRequestDone, &done, TRUE, TRUE, TRUE);
    NTSTATUS status = CallLowerDriver(irp);
    if (status == STATUS_PENDING) {
        LARGE_INTEGER timeout;
        timeout.QuadPart = -timeout100ns;
        status = KeWaitForSingleObject(&done, Executive, KernelMode, FALSE,
                                       timeout100ns != 0 ? &timeout : nullptr);
        if (status == STATUS_TIMEOUT) {
            IoCancelIrp(irp);
            KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        }
    }
    status = status == STATUS_TIMEOUT ? STATUS_IO_TIMEOUT : irp->IoStatus.Status;
    IoFreeIrp(irp);
    ReleaseRemoveLock(deviceContext);
    return status;
}

NTSTATUS UsbRequestChannel::SubmitUrb(PURB urb)
{
    PIRP irp = nullptr;
    const NTSTATUS status = BeginRequest(&irp);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Others.Argument1 = urb;
    return FinishRequest(irp, kSubmitTimeout100ns);
}
