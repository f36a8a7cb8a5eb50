#include <usbdlib.h>

namespace {

constexpr ULONG kUsbdTag = 0x44425355;  // "USBD"

const UCHAR* ConfigurationEnd(PUSB_CONFIGURATION_DESCRIPTOR configuration)
{
    return reinterpret_cast<const UCHAR*>(configuration) + configuration->wTotalLength;
}

bool Inside(PUSB_CONFIGURATION_DESCRIPTOR configuration, const void* p, size_t length)
{
    const UCHAR* begin = reinterpret_cast<const UCHAR*>(configuration);
    const UCHAR* at = static_cast<const UCHAR*>(p);
    return at >= begin && at <= ConfigurationEnd(configuration) &&
           length <= static_cast<size_t>(ConfigurationEnd(configuration) - at);
}

}  // namespace

PUSB_INTERFACE_DESCRIPTOR USBD_ParseConfigurationDescriptorEx(
    PUSB_CONFIGURATION_DESCRIPTOR configurationDescriptor, PVOID startPosition,
    LONG interfaceNumber, LONG alternateSetting, LONG interfaceClass, LONG interfaceSubClass,
    LONG interfaceProtocol)
{
    if (configurationDescriptor == nullptr || startPosition == nullptr) {
        return nullptr;
    }
    const UCHAR* at = static_cast<const UCHAR*>(startPosition);
    const UCHAR* end = ConfigurationEnd(configurationDescriptor);
    if (!Inside(configurationDescriptor, at, 0)) {
        return nullptr;
    }
    while (end - at >= 2) {
        const UCHAR length = at[0];
        if (length < 2 || length > end - at) {
            return nullptr;
        }
        if (at[1] == USB_INTERFACE_DESCRIPTOR_TYPE && length >= sizeof(USB_INTERFACE_DESCRIPTOR)) {
            auto* d = reinterpret_cast<PUSB_INTERFACE_DESCRIPTOR>(const_cast<UCHAR*>(at));
            if ((interfaceNumber == -1 || d->bInterfaceNumber == interfaceNumber) &&
                (alternateSetting == -1 || d->bAlternateSetting == alternateSetting) &&
                (interfaceClass == -1 || d->bInterfaceClass == interfaceClass) &&
                (interfaceSubClass == -1 || d->bInterfaceSubClass == interfaceSubClass) &&
                (interfaceProtocol == -1 || d->bInterfaceProtocol == interfaceProtocol)) {
                return d;
            }
        }
        at += length;
    }
    return nullptr;
}

PURB USBD_CreateConfigurationRequestEx(PUSB_CONFIGURATION_DESCRIPTOR configurationDescriptor,
                                       PUSBD_INTERFACE_LIST_ENTRY interfaceList)
{
    if (configurationDescriptor == nullptr || interfaceList == nullptr) {
        return nullptr;
    }
    size_t size = URB_SELECT_CONFIGURATION_HEADER_SIZE;
    for (PUSBD_INTERFACE_LIST_ENTRY entry = interfaceList; entry->InterfaceDescriptor; ++entry) {
        if (!Inside(configurationDescriptor, entry->InterfaceDescriptor,
                    sizeof(USB_INTERFACE_DESCRIPTOR))) {
            return nullptr;
        }
        size += USBD_INTERFACE_INFORMATION_HEADER_SIZE +
                sizeof(USBD_PIPE_INFORMATION) * entry->InterfaceDescriptor->bNumEndpoints;
    }
    // The declared interface information is there even for an empty list.
    if (size < sizeof(_URB_SELECT_CONFIGURATION)) {
        size = sizeof(_URB_SELECT_CONFIGURATION);
    }
    if (size > 0xFFFF) {
        return nullptr;
    }
    auto* urb = static_cast<PURB>(ExAllocatePoolWithTag(NonPagedPoolNx, size, kUsbdTag));
    if (urb == nullptr) {
        return nullptr;
    }
    RtlZeroMemory(urb, size);
    urb->UrbHeader.Length = static_cast<USHORT>(size);
    urb->UrbHeader.Function = URB_FUNCTION_SELECT_CONFIGURATION;
    urb->UrbSelectConfiguration.ConfigurationDescriptor = configurationDescriptor;
    UCHAR* next = reinterpret_cast<UCHAR*>(&urb->UrbSelectConfiguration.Interface);
    for (PUSBD_INTERFACE_LIST_ENTRY entry = interfaceList; entry->InterfaceDescriptor; ++entry) {
        auto* info = reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(next);
        const ULONG pipes = entry->InterfaceDescriptor->bNumEndpoints;
        info->Length = static_cast<USHORT>(USBD_INTERFACE_INFORMATION_HEADER_SIZE +
                                           sizeof(USBD_PIPE_INFORMATION) * pipes);
        info->InterfaceNumber = entry->InterfaceDescriptor->bInterfaceNumber;
        info->AlternateSetting = entry->InterfaceDescriptor->bAlternateSetting;
        info->NumberOfPipes = pipes;
        PUSBD_PIPE_INFORMATION pipesOf = info->Pipes;
        for (ULONG p = 0; p < pipes; ++p) {
            pipesOf[p].MaximumTransferSize = USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE;
        }
        entry->Interface = info;
        next += info->Length;
    }
    return urb;
}
