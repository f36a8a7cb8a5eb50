// The device, string and configuration descriptors, read once when the device starts.
#include "usb/UsbDescriptors.h"

#include "usb/UsbRequestChannel.h"

namespace {

constexpr ULONG kDescriptorAttempts = 11;
constexpr USHORT kUsEnglish = 0x0409;
constexpr ULONG kEmptyStringBytes = 4;

}  // namespace

NTSTATUS UsbDescriptors::GetDescriptor(UCHAR type, UCHAR index, USHORT language, ULONG length,
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
        status = requests.SubmitUrb(reinterpret_cast<PURB>(urb));
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

NTSTATUS UsbDescriptors::ReadString(UCHAR index, ULONG extra, PUCHAR* buffer, WCHAR** text)
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

NTSTATUS UsbDescriptors::ReadDescriptors()
{
    if (deviceDescriptor != nullptr) {
        return STATUS_SUCCESS;
    }
    PUCHAR device = nullptr;
    const NTSTATUS status =
        GetDescriptor(USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, sizeof(USB_DEVICE_DESCRIPTOR), &device);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    deviceDescriptor = reinterpret_cast<PUSB_DEVICE_DESCRIPTOR>(device);
    FreeStrings();
    ReadString(deviceDescriptor->iManufacturer, 2, &manufacturerBuffer, &manufacturerString);
    ReadString(deviceDescriptor->iProduct, 4, &productBuffer, &productString);
    return ReadConfigurations();
}

// Each configuration whole (wTotalLength bytes), at most the first four; the status of the last
// request.
NTSTATUS UsbDescriptors::ReadConfigurations()
{
    NTSTATUS status = STATUS_SUCCESS;
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

void UsbDescriptors::ChooseConfiguration(UCHAR configurationNumber)
{
    const ULONG available = deviceDescriptor->bNumConfigurations;
    if (configurationNumber != 0 && configurationNumber <= available) {
        selectedConfiguration = configurationNumber - 1U;
    } else {
        selectedConfiguration = available != 0 ? available - 1 : 0;
    }
}

void UsbDescriptors::FreeStrings()
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

void UsbDescriptors::FreeConfigurations()
{
    for (PUSB_CONFIGURATION_DESCRIPTOR& configuration : configurationDescriptors) {
        if (configuration != nullptr) {
            ExFreePoolWithTag(configuration, kTagQusb);
            configuration = nullptr;
        }
    }
}

void UsbDescriptors::FreeDeviceDescriptor()
{
    if (deviceDescriptor != nullptr) {
        ExFreePoolWithTag(deviceDescriptor, kTagQusb);
        deviceDescriptor = nullptr;
    }
}
