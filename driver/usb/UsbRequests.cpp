// Synchronous requests to the device: URBs with their time-out, the request mutex with the
// high-speed pacing behind the sync pipe, the sampling frequency, raw class requests and the port
// requests.
#include "UsbTransport.h"

namespace {

constexpr LONGLONG kSubmitTimeout100ns = 5LL * 10000000;  // 5 s
constexpr LONGLONG kSyncWait100ns = 15LL * 10000;         // 15 ms
constexpr UCHAR kSetCur = 0x01;
constexpr USHORT kSamplingFrequencyControl = 0x0100;
constexpr ULONG kMaxControlLength = 0xFFFF;

}  // namespace

LONGLONG UsbTransport::Now100ns()
{
    LARGE_INTEGER frequency;
    const LARGE_INTEGER counter = KeQueryPerformanceCounter(&frequency);
    // Whole seconds and the rest apart, so the product cannot overflow.
    const LONGLONG seconds = counter.QuadPart / frequency.QuadPart;
    const LONGLONG rest = counter.QuadPart % frequency.QuadPart;
    return seconds * 10000000 + rest * 10000000 / frequency.QuadPart;
}

void UsbTransport::MarkSyncCompletion()
{
    lastSyncCompletionTime = Now100ns();
    KeSetEvent(&syncCompletionEvent, 8, FALSE);
}

NTSTATUS UsbTransport::CallLowerDriver(PIRP irp)
{
    KeWaitForSingleObject(&requestMutex, Executive, KernelMode, FALSE, nullptr);
    if (highSpeed && streaming && KeGetCurrentIrql() == PASSIVE_LEVEL) {
        // Start control transfers right after an isochronous completion, not just before one.
        const LONGLONG elapsed = (Now100ns() - lastSyncCompletionTime) / 100;  // 10 us units
        const LONG frames = static_cast<LONG>(framesPerTransfer);
        const LONGLONG limit = static_cast<LONGLONG>((frames > 1 ? frames - 1 : frames) - 3) * 100;
        if (elapsed > limit) {
            KeClearEvent(&syncCompletionEvent);
            LARGE_INTEGER timeout;
            timeout.QuadPart = -kSyncWait100ns;
            KeWaitForSingleObject(&syncCompletionEvent, Executive, KernelMode, FALSE, &timeout);
        }
    }
    const NTSTATUS status = IofCallDriver(LowerDevice(), irp);
    KeReleaseMutex(&requestMutex, FALSE);
    return status;
}

NTSTATUS UsbTransport::BeginRequest(PIRP* irp)
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

NTSTATUS UsbTransport::FinishRequest(PIRP irp, LONGLONG timeout100ns)
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

NTSTATUS UsbTransport::SubmitUrb(PURB urb)
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

NTSTATUS UsbTransport::SetEndpointSampleRate(UsbPipe* pipe, ULONG rate)
{
    auto* urb = static_cast<_URB_CONTROL_VENDOR_OR_CLASS_REQUEST*>(ExAllocatePoolWithTag(
        NonPagedPoolNx, sizeof(_URB_CONTROL_VENDOR_OR_CLASS_REQUEST), kTagUrb));
    if (urb == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    UCHAR data[3] = {static_cast<UCHAR>(rate), static_cast<UCHAR>(rate >> 8),
                     static_cast<UCHAR>(rate >> 16)};
    RtlZeroMemory(urb, sizeof(*urb));
    urb->Hdr.Length = sizeof(*urb);
    urb->Hdr.Function = URB_FUNCTION_CLASS_ENDPOINT;
    urb->TransferFlags = USBD_TRANSFER_DIRECTION_OUT;
    urb->TransferBufferLength = sizeof(data);
    urb->TransferBuffer = data;
    urb->Request = kSetCur;
    urb->Value = kSamplingFrequencyControl;
    urb->Index = pipe->pipeInformation.EndpointAddress;
    const NTSTATUS status = SubmitUrb(reinterpret_cast<PURB>(urb));
    ExFreePoolWithTag(urb, kTagUrb);
    return status;
}

NTSTATUS UsbTransport::SetSampleRate(ULONG rate)
{
    if (rateRequestFlag) {
        const bool switched = !alternateSettingsActive;
        if (switched) {
            SelectAlternateSettings(true);
        }
        UsbPipe* out = FindLastOutAudioPipe();
        UsbPipe* in = FindLastInAudioPipe();
        NTSTATUS status = STATUS_SUCCESS;
        if (out == nullptr && in == nullptr) {
            status = STATUS_UNSUCCESSFUL;
        }
        if (NT_SUCCESS(status) && out != nullptr && out->format.rateCount != 1) {
            status = SetEndpointSampleRate(out, rate);
        }
        if (NT_SUCCESS(status) && in != nullptr && in->format.rateCount != 1) {
            status = SetEndpointSampleRate(in, rate);
        }
        // Whatever the outcome, interfaces switched on for the request go back to 0.
        if (switched) {
            SelectAlternateSettings(false);
        }
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }
    currentRate = rate;
    effectiveRate = rate;
    return STATUS_SUCCESS;
}

NTSTATUS UsbTransport::SendRawClassRequest(ULONG transferFlags, const RawClassRequest& request,
                                           PVOID buffer, ULONG bufferLength)
{
    if (buffer == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    // The length comes with the request from user mode: it never reaches past the buffer.
    if (request.length > bufferLength || request.length > kMaxControlLength) {
        return STATUS_INVALID_PARAMETER;
    }
    KeWaitForSingleObject(&requestMutex, Executive, KernelMode, FALSE, nullptr);
    NTSTATUS status = STATUS_INSUFFICIENT_RESOURCES;
    auto* urb = static_cast<_URB_CONTROL_VENDOR_OR_CLASS_REQUEST*>(ExAllocatePoolWithTag(
        NonPagedPoolNx, sizeof(_URB_CONTROL_VENDOR_OR_CLASS_REQUEST), kTagUrb));
    if (urb != nullptr) {
        RtlZeroMemory(urb, sizeof(*urb));
        urb->Hdr.Length = sizeof(*urb);
        urb->Hdr.Function = URB_FUNCTION_CLASS_INTERFACE;
        urb->TransferFlags = transferFlags;
        urb->TransferBufferLength = request.length;
        urb->TransferBuffer = buffer;
        urb->Request = request.request;
        urb->Value = request.value;
        urb->Index = request.index;
        status = SubmitUrb(reinterpret_cast<PURB>(urb));
        ExFreePoolWithTag(urb, kTagUrb);
    }
    KeReleaseMutex(&requestMutex, FALSE);
    return status;
}

NTSTATUS UsbTransport::SendPortRequest(ULONG ioControlCode, PVOID argument, bool throughMutex)
{
    if (!TryAcquireRemoveLock(deviceContext)) {
        return STATUS_UNSUCCESSFUL;
    }
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK ioStatus = {};
    PIRP irp = IoBuildDeviceIoControlRequest(ioControlCode, LowerDevice(), nullptr, 0, nullptr, 0,
                                             TRUE, &done, &ioStatus);
    if (irp == nullptr) {
        ReleaseRemoveLock(deviceContext);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = argument;
    NTSTATUS status = throughMutex ? CallLowerDriver(irp) : IofCallDriver(LowerDevice(), irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        status = ioStatus.Status;
    }
    ReleaseRemoveLock(deviceContext);
    return status;
}

NTSTATUS UsbTransport::CyclePort()
{
    return SendPortRequest(IOCTL_INTERNAL_USB_CYCLE_PORT, nullptr, true);
}

NTSTATUS UsbTransport::QueryUsbLocation(PUSB_TOPOLOGY_ADDRESS address)
{
    if (address == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    return SendPortRequest(IOCTL_INTERNAL_USB_GET_TOPOLOGY_ADDRESS, address, false);
}
