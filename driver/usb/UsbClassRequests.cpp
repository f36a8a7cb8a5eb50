// The class-specific and port requests of the device.
#include "usb/UsbClassRequests.h"

#include <usbdlib.h>

#include "usb/UsbClassDescriptors.h"
#include "usb/UsbConfiguration.h"
#include "usb/UsbDescriptors.h"
#include "usb/UsbIsoStreaming.h"
#include "usb/UsbPipeTable.h"
#include "usb/UsbRequestChannel.h"

namespace {

constexpr UCHAR kSetCur = 0x01;
constexpr USHORT kSamplingFrequencyControl = 0x0100;
constexpr ULONG kMaxControlLength = 0xFFFF;

}  // namespace

NTSTATUS UsbClassRequests::SetEndpointSampleRate(UsbPipe* pipe, ULONG rate)
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
    const NTSTATUS status = requests.SubmitUrb(reinterpret_cast<PURB>(urb));
    ExFreePoolWithTag(urb, kTagUrb);
    return status;
}

// The last OUT and the last IN audio pipe, with the streaming settings switched on for the
// request when they are not already and back to 0 after it, whatever the outcome.
NTSTATUS UsbClassRequests::SetAudioPipesRate(ULONG rate)
{
    const bool switched = !configuration.AlternateSettingsActive();
    if (switched) {
        configuration.SelectAlternateSettings(true);
    }
    UsbPipe* out = pipeTable.FindLastAudioPipe(false);
    UsbPipe* in = pipeTable.FindLastAudioPipe(true);
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
    if (switched) {
        configuration.SelectAlternateSettings(false);
    }
    return status;
}

NTSTATUS UsbClassRequests::SetSampleRate(ULONG rate)
{
    if (rateRequestFlag) {
        const NTSTATUS status = SetAudioPipesRate(rate);
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }
    streaming.SetRate(rate);
    return STATUS_SUCCESS;
}

void UsbClassRequests::CheckRateRequests()
{
    rateRequestFlag = 0;
    PUSB_CONFIGURATION_DESCRIPTOR selected = descriptors.SelectedConfigurationDescriptor();
    const UsbConfigRecord& record = configuration.ConfigRecord();
    for (ULONG i = 0; i < kUsbConfigInterfaces; ++i) {
        const UCHAR setting = record.alternateSettings[i];
        if (setting == 0) {
            continue;
        }
        PUSB_INTERFACE_DESCRIPTOR d =
            selected == nullptr
                ? nullptr
                : USBD_ParseConfigurationDescriptorEx(selected, selected, static_cast<LONG>(i),
                                                      setting, -1, -1, -1);
        if (d == nullptr) {
            rateRequestFlag = 1;
            return;
        }
        for (ULONG j = 0; j < d->bNumEndpoints; ++j) {
            EndpointFormat format;
            ParseEndpointClassDescriptors(selected, d, j, &format);
            if (format.hasFormat && format.rateCount > 1) {
                rateRequestFlag = 1;
            }
        }
    }
}

NTSTATUS UsbClassRequests::SendRawClassRequest(ULONG transferFlags, const RawClassRequest& request,
                                               PVOID buffer, ULONG bufferLength)
{
    if (buffer == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    // The length comes with the request from user mode: it never reaches past the buffer.
    if (request.length > bufferLength || request.length > kMaxControlLength) {
        return STATUS_INVALID_PARAMETER;
    }
    requests.LockRequests();
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
        status = requests.SubmitUrb(reinterpret_cast<PURB>(urb));
        ExFreePoolWithTag(urb, kTagUrb);
    }
    requests.UnlockRequests();
    return status;
}

NTSTATUS UsbClassRequests::SendPortRequest(ULONG ioControlCode, PVOID argument, bool throughMutex)
{
    DeviceContext* context = requests.Context();
    if (!TryAcquireRemoveLock(context)) {
        return STATUS_UNSUCCESSFUL;
    }
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK ioStatus = {};
    PDEVICE_OBJECT lower = requests.LowerDevice();
    PIRP irp = IoBuildDeviceIoControlRequest(ioControlCode, lower, nullptr, 0, nullptr, 0, TRUE,
                                             &done, &ioStatus);
    if (irp == nullptr) {
        ReleaseRemoveLock(context);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = argument;
    NTSTATUS status = throughMutex ? requests.CallLowerDriver(irp) : IofCallDriver(lower, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        status = ioStatus.Status;
    }
    ReleaseRemoveLock(context);
    return status;
}

NTSTATUS UsbClassRequests::CyclePort()
{
    return SendPortRequest(IOCTL_INTERNAL_USB_CYCLE_PORT, nullptr, true);
}

NTSTATUS UsbClassRequests::QueryUsbLocation(PUSB_TOPOLOGY_ADDRESS address)
{
    if (address == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    return SendPortRequest(IOCTL_INTERNAL_USB_GET_TOPOLOGY_ADDRESS, address, false);
}
