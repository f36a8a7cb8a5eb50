// Start and stop of the USB layer: the bus interface, the device, string and configuration
// descriptors, and the choice of the configuration.
#include "UsbTransport.h"

namespace {

constexpr ULONG kDescriptorAttempts = 11;
constexpr USHORT kUsEnglish = 0x0409;
constexpr ULONG kEmptyStringBytes = 4;

}  // namespace

UsbTransport::UsbTransport(DeviceContext* context) : deviceContext(context)
{
    KeInitializeMutex(&requestMutex, 0);
    KeInitializeEvent(&syncCompletionEvent, NotificationEvent, FALSE);
    KeInitializeSpinLock(&pipeTableLock);
    KeInitializeSpinLock(&slotLock);
    KeInitializeSpinLock(&cancelLock);
    KeInitializeSpinLock(&resubmitLock);
}

NTSTATUS UsbTransport::SignalRequestDone(PDEVICE_OBJECT, PIRP, PVOID context)
{
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

PUSB_CONFIGURATION_DESCRIPTOR UsbTransport::SelectedConfigurationDescriptor() const
{
    return selectedConfiguration < kUsbMaxConfigurations
               ? configurationDescriptors[selectedConfiguration]
               : nullptr;
}

NTSTATUS UsbTransport::InitializeUsb(const UsbConfigRecord& record)
{
    if (NT_SUCCESS(QueryBusInterface())) {
        highSpeed = busInterface.IsDeviceHighSpeed(busInterface.BusContext) ? 1 : 0;
        packetsPerTransfer = highSpeed ? 32 : 4;
        bufferFrames = 4;
    }
    NTSTATUS status = ReadDescriptors();
    if (!NT_SUCCESS(status)) {
        return status;
    }
    const ULONG available = deviceDescriptor->bNumConfigurations;
    if (record.configurationNumber != 0 && record.configurationNumber <= available) {
        selectedConfiguration = record.configurationNumber - 1U;
    } else {
        selectedConfiguration = available != 0 ? available - 1 : 0;
    }
    status = SelectConfiguration();
    if (!NT_SUCCESS(status)) {
        return status;
    }
    feedback = record.feedback != 0 ? 1 : 0;
    noFeedbackRestart = record.noFeedbackRestart != 0 ? 1 : 0;
    configRecord = record;
    if (!highSpeed) {
        CheckRateRequests();
    }
    SelectAlternateSettings(false);
    return status;
}

NTSTATUS UsbTransport::QueryBusInterface()
{
    PIRP irp = nullptr;
    NTSTATUS status = BeginRequest(&irp);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_PNP;
    next->MinorFunction = IRP_MN_QUERY_INTERFACE;
    next->Parameters.QueryInterface.InterfaceType = &USB_BUS_INTERFACE_USBDI_GUID;
    next->Parameters.QueryInterface.Size = sizeof(USB_BUS_INTERFACE_USBDI_V1);
    next->Parameters.QueryInterface.Version = USB_BUSIF_USBDI_VERSION_1;
    next->Parameters.QueryInterface.Interface = reinterpret_cast<PINTERFACE>(&busInterface);
    next->Parameters.QueryInterface.InterfaceSpecificData = nullptr;
    status = FinishRequest(irp, 0);
    // Only a whole version 1 interface is used.
    if (NT_SUCCESS(status) && (busInterface.Version < USB_BUSIF_USBDI_VERSION_1 ||
                               busInterface.IsDeviceHighSpeed == nullptr)) {
        if (busInterface.InterfaceDereference != nullptr) {
            busInterface.InterfaceDereference(busInterface.BusContext);
        }
        status = STATUS_NOT_SUPPORTED;
    }
    if (!NT_SUCCESS(status)) {
        RtlZeroMemory(&busInterface, sizeof(busInterface));
    }
    return status;
}

NTSTATUS UsbTransport::GetDescriptor(UCHAR type, UCHAR index, USHORT language, ULONG length,
                                     PUCHAR* buffer, ULONG* transferred)
{
    *buffer = nullptr;
    auto* urb = static_cast<_URB_CONTROL_DESCRIPTOR_REQUEST*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(_URB_CONTROL_DESCRIPTOR_REQUEST), kTagUrb));
    if (urb == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    auto* data = static_cast<PUCHAR>(
        ExAllocatePoolWithTag(NonPagedPoolNx, length != 0 ? length : 1, kTagQusb));
    if (data == nullptr) {
        ExFreePoolWithTag(urb, kTagUrb);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    NTSTATUS status = STATUS_DEVICE_DATA_ERROR;
    for (ULONG attempt = 0; attempt < kDescriptorAttempts; ++attempt) {
        RtlZeroMemory(urb, sizeof(*urb));
        RtlZeroMemory(data, length);
        urb->Hdr.Length = sizeof(*urb);
        urb->Hdr.Function = URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE;
        urb->TransferBufferLength = length;
        urb->TransferBuffer = data;
        urb->Index = index;
        urb->DescriptorType = type;
        urb->LanguageId = language;
        status = SubmitUrb(reinterpret_cast<PURB>(urb));
        if (NT_SUCCESS(status)) {
            const bool whole =
                urb->TransferBufferLength == length && length >= 2 && data[1] == type;
            if (whole || type == USB_STRING_DESCRIPTOR_TYPE) {
                break;
            }
            status = STATUS_DEVICE_DATA_ERROR;
        }
    }
    const ULONG received = urb->TransferBufferLength < length ? urb->TransferBufferLength : length;
    ExFreePoolWithTag(urb, kTagUrb);
    if (!NT_SUCCESS(status)) {
        ExFreePoolWithTag(data, kTagQusb);
        return status;
    }
    *buffer = data;
    if (transferred != nullptr) {
        *transferred = received;
    }
    return status;
}

NTSTATUS UsbTransport::ReadString(UCHAR index, ULONG extra, PUCHAR* buffer, WCHAR** text)
{
    PUCHAR head = nullptr;
    ULONG received = 0;
    NTSTATUS status = index != 0 ? GetDescriptor(USB_STRING_DESCRIPTOR_TYPE, index, kUsEnglish, 4,
                                                 &head, &received)
                                 : STATUS_NOT_FOUND;
    ULONG length = 0;
    if (NT_SUCCESS(status)) {
        // A reply without its two-byte header has no length to go by.
        length = received >= 2 && head[1] == USB_STRING_DESCRIPTOR_TYPE ? head[0] : 0;
        ExFreePoolWithTag(head, kTagQusb);
        status = length >= 2 ? STATUS_SUCCESS : STATUS_DEVICE_DATA_ERROR;
    }
    PUCHAR whole = nullptr;
    if (NT_SUCCESS(status)) {
        status = GetDescriptor(USB_STRING_DESCRIPTOR_TYPE, index, kUsEnglish, length + extra,
                               &whole, &received);
    }
    if (NT_SUCCESS(status)) {
        // The text ends after its last whole character, inside what arrived and what bLength
        // says; the extra bytes asked for leave room for the terminator.
        const ULONG bytes = received < length ? received : length;
        const ULONG characters = bytes >= 2 ? (bytes - 2) / 2 : 0;
        *buffer = whole;
        *text = reinterpret_cast<WCHAR*>(whole + 2);
        (*text)[characters] = 0;
        return STATUS_SUCCESS;
    }
    *buffer = static_cast<PUCHAR>(ExAllocatePoolWithTag(PagedPool, kEmptyStringBytes, kTagPipe));
    if (*buffer == nullptr) {
        *text = nullptr;
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(*buffer, kEmptyStringBytes);
    *text = reinterpret_cast<WCHAR*>(*buffer);
    return STATUS_SUCCESS;
}

NTSTATUS UsbTransport::ReadDescriptors()
{
    if (deviceDescriptor != nullptr) {
        return STATUS_SUCCESS;
    }
    PUCHAR device = nullptr;
    NTSTATUS status =
        GetDescriptor(USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, sizeof(USB_DEVICE_DESCRIPTOR), &device);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    deviceDescriptor = reinterpret_cast<PUSB_DEVICE_DESCRIPTOR>(device);
    FreeStrings();
    ReadString(deviceDescriptor->iManufacturer, 2, &manufacturerBuffer, &manufacturerString);
    ReadString(deviceDescriptor->iProduct, 4, &productBuffer, &productString);

    const ULONG count = deviceDescriptor->bNumConfigurations < kUsbMaxConfigurations
                            ? deviceDescriptor->bNumConfigurations
                            : kUsbMaxConfigurations;
    for (ULONG i = 0; i < count; ++i) {
        PUCHAR head = nullptr;
        status = GetDescriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, static_cast<UCHAR>(i), 0,
                               sizeof(USB_CONFIGURATION_DESCRIPTOR), &head);
        if (!NT_SUCCESS(status)) {
            break;
        }
        const ULONG total = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(head)->wTotalLength;
        ExFreePoolWithTag(head, kTagQusb);
        if (total < sizeof(USB_CONFIGURATION_DESCRIPTOR)) {
            status = STATUS_DEVICE_DATA_ERROR;
            break;
        }
        PUCHAR whole = nullptr;
        status = GetDescriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, static_cast<UCHAR>(i), 0, total,
                               &whole);
        if (!NT_SUCCESS(status)) {
            break;
        }
        auto* configuration = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(whole);
        if (configuration->wTotalLength > total) {
            // It grew between the two reads: the bytes we hold are not all of it.
            ExFreePoolWithTag(whole, kTagQusb);
            break;
        }
        configurationDescriptors[i] = configuration;
    }
    return status;
}

void UsbTransport::FreeStrings()
{
    if (manufacturerBuffer != nullptr) {
        ExFreePool(manufacturerBuffer);
    }
    if (productBuffer != nullptr) {
        ExFreePool(productBuffer);
    }
    manufacturerBuffer = productBuffer = nullptr;
    manufacturerString = productString = nullptr;
}

void UsbTransport::ReleaseUsb()
{
    // Transfers still in flight hold buffers and pipes that go now.
    midiPipes.StopMidiPipes();
    if (syncPipe != nullptr) {
        StopIsoStreaming();
    }
    FreeStrings();
    for (PUSB_CONFIGURATION_DESCRIPTOR& configuration : configurationDescriptors) {
        if (configuration != nullptr) {
            ExFreePoolWithTag(configuration, kTagQusb);
            configuration = nullptr;
        }
    }
    FreeAllPipes();
    if (deviceDescriptor != nullptr) {
        ExFreePoolWithTag(deviceDescriptor, kTagQusb);
        deviceDescriptor = nullptr;
    }
    auto* urb = static_cast<PURB>(
        ExAllocatePoolWithTag(NonPagedPoolNx, URB_SELECT_CONFIGURATION_HEADER_SIZE, kTagUrb));
    if (urb != nullptr) {
        RtlZeroMemory(urb, URB_SELECT_CONFIGURATION_HEADER_SIZE);
        urb->UrbHeader.Length = URB_SELECT_CONFIGURATION_HEADER_SIZE;
        urb->UrbHeader.Function = URB_FUNCTION_SELECT_CONFIGURATION;
        urb->UrbSelectConfiguration.ConfigurationDescriptor = nullptr;
        SubmitUrb(urb);
        ExFreePoolWithTag(urb, kTagUrb);
    }
    configurationHandle = nullptr;
    FreeAllPipes();
    // The reference the interface query took goes back with the device.
    if (busInterface.InterfaceDereference != nullptr) {
        busInterface.InterfaceDereference(busInterface.BusContext);
    }
    RtlZeroMemory(&busInterface, sizeof(busInterface));
}
