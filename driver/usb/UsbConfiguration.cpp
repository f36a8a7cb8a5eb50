// Configuration and interface selection: the records of the pipe table come from the requests'
// pipe information and the class descriptors of each endpoint.
#include "usb/UsbConfiguration.h"

#include <usbdlib.h>

#include "common/InStackLock.h"
#include "usb/UsbBus.h"
#include "usb/UsbClassDescriptors.h"
#include "usb/UsbDescriptors.h"
#include "usb/UsbPipeTable.h"
#include "usb/UsbRequestChannel.h"

namespace {

constexpr ULONG kMaxInterfaceNumbers = 257;

ULONG PacketsPerFrame(bool highSpeed, UCHAR interval)
{
    if (!highSpeed || interval < 1 || interval > 4) {
        return 1;
    }
    return 8U >> (interval - 1);
}

PUSBD_INTERFACE_INFORMATION NextInterface(PUSBD_INTERFACE_INFORMATION info)
{
    return reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(reinterpret_cast<PUCHAR>(info) +
                                                         info->Length);
}

// Pipes the information holds room for, whatever NumberOfPipes claims.
ULONG PipesIn(PUSBD_INTERFACE_INFORMATION info)
{
    if (info->Length < USBD_INTERFACE_INFORMATION_HEADER_SIZE) {
        return 0;
    }
    const ULONG room =
        (info->Length - USBD_INTERFACE_INFORMATION_HEADER_SIZE) / sizeof(USBD_PIPE_INFORMATION);
    return info->NumberOfPipes < room ? info->NumberOfPipes : room;
}

// The configuration request for the interfaces at alternate setting 0; null when the
// configuration does not hold as many as it says or the request cannot be built.
PURB BuildConfigurationRequest(PUSB_CONFIGURATION_DESCRIPTOR configuration, ULONG* found)
{
    const ULONG wanted = configuration->bNumInterfaces;
    auto* list = static_cast<PUSBD_INTERFACE_LIST_ENTRY>(ExAllocatePoolWithTag(
        NonPagedPoolNx, sizeof(USBD_INTERFACE_LIST_ENTRY) * (wanted + 1), kTagInfo));
    if (list == nullptr) {
        return nullptr;
    }
    RtlZeroMemory(list, sizeof(USBD_INTERFACE_LIST_ENTRY) * (wanted + 1));
    *found = 0;
    for (ULONG number = 0; number < kMaxInterfaceNumbers && *found < wanted; ++number) {
        PUSB_INTERFACE_DESCRIPTOR d = USBD_ParseConfigurationDescriptorEx(
            configuration, configuration, static_cast<LONG>(number), 0, -1, -1, -1);
        if (d != nullptr) {
            list[(*found)++].InterfaceDescriptor = d;
        }
    }
    PURB urb = *found == wanted ? USBD_CreateConfigurationRequestEx(configuration, list) : nullptr;
    ExFreePoolWithTag(list, kTagInfo);
    return urb;
}

}  // namespace

NTSTATUS UsbConfiguration::SelectConfiguration()
{
    PUSB_CONFIGURATION_DESCRIPTOR configuration = descriptors.SelectedConfigurationDescriptor();
    if (configuration == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    ULONG found = 0;
    PURB urb = BuildConfigurationRequest(configuration, &found);
    if (urb == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    NTSTATUS status = requests.SubmitUrb(urb);
    if (NT_SUCCESS(status)) {
        configurationHandle = urb->UrbSelectConfiguration.ConfigurationHandle;
        FreeAllPipes();
        status = AddConfigurationPipes(urb, found);
    }
    ExFreePool(urb);
    return status;
}

// A record per endpoint of each interface of the request, under the pipe-table lock.
NTSTATUS UsbConfiguration::AddConfigurationPipes(PURB urb, ULONG interfaces)
{
    PUSB_CONFIGURATION_DESCRIPTOR configuration = descriptors.SelectedConfigurationDescriptor();
    NTSTATUS status = STATUS_SUCCESS;
    InStackLock guard(pipeTable.Lock());
    PUSBD_INTERFACE_INFORMATION info = &urb->UrbSelectConfiguration.Interface;
    for (ULONG i = 0; i < interfaces; ++i, info = NextInterface(info)) {
        PUSB_INTERFACE_DESCRIPTOR d = USBD_ParseConfigurationDescriptorEx(
            configuration, configuration, info->InterfaceNumber, 0, -1, -1, -1);
        const ULONG count = d != nullptr ? PipesIn(info) : 0;
        const PUSBD_PIPE_INFORMATION pipeInfo = info->Pipes;
        for (ULONG j = 0; j < count && pipeTable.CountLocked() < kUsbMaxPipes; ++j) {
            UsbPipe* pipe = UsbPipeTable::NewPipe();
            if (pipe == nullptr) {
                status = STATUS_INSUFFICIENT_RESOURCES;
                break;
            }
            pipe->pipeInformation = pipeInfo[j];
            pipe->interfaceNumber = info->InterfaceNumber;
            pipe->alternateSetting = 0;
            pipe->firstChannel = 0;
            ParseEndpointClassDescriptors(configuration, d, j, &pipe->format);
            pipeTable.AddLocked(pipe);
        }
    }
    return status;
}

PURB UsbConfiguration::BuildSelectInterfaceUrb(ULONG interfaceNumber, UCHAR alternateSetting,
                                               ULONG endpoints)
{
    const ULONG size = URB_SELECT_INTERFACE_HEADER_SIZE + USBD_INTERFACE_INFORMATION_HEADER_SIZE +
                       sizeof(USBD_PIPE_INFORMATION) * endpoints;
    auto* urb = static_cast<PURB>(ExAllocatePoolWithTag(NonPagedPoolNx, size, kTagUrb));
    if (urb == nullptr) {
        return nullptr;
    }
    RtlZeroMemory(urb, size);
    urb->UrbHeader.Length = static_cast<USHORT>(size);
    urb->UrbHeader.Function = URB_FUNCTION_SELECT_INTERFACE;
    urb->UrbSelectInterface.ConfigurationHandle = configurationHandle;
    PUSBD_INTERFACE_INFORMATION info = &urb->UrbSelectInterface.Interface;
    info->Length = static_cast<USHORT>(USBD_INTERFACE_INFORMATION_HEADER_SIZE +
                                       sizeof(USBD_PIPE_INFORMATION) * endpoints);
    info->InterfaceNumber = static_cast<UCHAR>(interfaceNumber);
    info->AlternateSetting = alternateSetting;
    info->NumberOfPipes = endpoints;
    for (ULONG j = 0; j < endpoints; ++j) {
        info->Pipes[j].MaximumTransferSize = USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE;
    }
    return urb;
}

NTSTATUS UsbConfiguration::SelectInterface(ULONG interfaceNumber, UCHAR alternateSetting)
{
    PUSB_CONFIGURATION_DESCRIPTOR configuration = descriptors.SelectedConfigurationDescriptor();
    PUSB_INTERFACE_DESCRIPTOR d = configuration == nullptr ? nullptr
                                                           : USBD_ParseConfigurationDescriptorEx(
                                                                 configuration, configuration,
                                                                 static_cast<LONG>(interfaceNumber),
                                                                 alternateSetting, -1, -1, -1);
    if (d == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    PURB urb = BuildSelectInterfaceUrb(interfaceNumber, alternateSetting, d->bNumEndpoints);
    if (urb == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    NTSTATUS status = requests.SubmitUrb(urb);
    // The interface's records leave the table whatever the result; their buffers are parked.
    pipeTable.RemoveInterface(interfaceNumber);
    if (NT_SUCCESS(status) && alternateSetting != 0) {
        status = AddStreamingPipes(d, &urb->UrbSelectInterface.Interface, interfaceNumber,
                                   alternateSetting);
    }
    ExFreePoolWithTag(urb, kTagUrb);
    return status;
}

// A record for each endpoint of a streaming setting that carries audio or feedback; an audio
// pipe gets its packets per frame and its transfer buffers.
NTSTATUS UsbConfiguration::AddStreamingPipes(PUSB_INTERFACE_DESCRIPTOR d,
                                             PUSBD_INTERFACE_INFORMATION info,
                                             ULONG interfaceNumber, UCHAR alternateSetting)
{
    PUSB_CONFIGURATION_DESCRIPTOR configuration = descriptors.SelectedConfigurationDescriptor();
    const PUSBD_PIPE_INFORMATION pipeInfo = info->Pipes;
    const ULONG count = PipesIn(info);
    NTSTATUS status = STATUS_SUCCESS;
    for (ULONG j = 0; j < count && !pipeTable.Full(); ++j) {
        EndpointFormat format;
        ParseEndpointClassDescriptors(configuration, d, j, &format);
        if (!format.hasFormat && !format.isFeedback) {
            continue;
        }
        UsbPipe* pipe = UsbPipeTable::NewPipe();
        if (pipe == nullptr) {
            status = STATUS_INSUFFICIENT_RESOURCES;
            break;
        }
        pipe->pipeInformation = pipeInfo[j];
        pipe->interfaceNumber = interfaceNumber;
        pipe->alternateSetting = alternateSetting;
        pipe->format = format;
        if (format.hasFormat) {
            pipe->packetsPerFrame = PacketsPerFrame(bus.HighSpeed(), pipeInfo[j].Interval);
            status = pipeTable.AllocateTransferBuffers(pipe, bus.BufferFrames());
            if (!NT_SUCCESS(status)) {
                UsbPipeTable::FreePipe(pipe);
                break;
            }
        }
        // Configuration requests are serialised by the engine: the bound checked above holds.
        if (!pipeTable.Add(pipe)) {
            UsbPipeTable::FreePipe(pipe);
            break;
        }
    }
    return status;
}

NTSTATUS UsbConfiguration::SelectAlternateSettings(bool enable)
{
    NTSTATUS status = STATUS_SUCCESS;
    for (ULONG i = 0; i < kUsbConfigInterfaces; ++i) {
        const UCHAR streamingSetting = configRecord.alternateSettings[i];
        if (streamingSetting == 0) {
            continue;
        }
        status = SelectInterface(i, enable ? streamingSetting : 0);
        if (!NT_SUCCESS(status)) {
            break;
        }
    }
    pipeTable.NumberAudioPipes();
    alternateSettingsActive = enable ? 1 : 0;
    return status;
}

void UsbConfiguration::Unconfigure()
{
    auto* urb = static_cast<PURB>(
        ExAllocatePoolWithTag(NonPagedPoolNx, URB_SELECT_CONFIGURATION_HEADER_SIZE, kTagUrb));
    if (urb != nullptr) {
        RtlZeroMemory(urb, URB_SELECT_CONFIGURATION_HEADER_SIZE);
        urb->UrbHeader.Length = URB_SELECT_CONFIGURATION_HEADER_SIZE;
        urb->UrbHeader.Function = URB_FUNCTION_SELECT_CONFIGURATION;
        urb->UrbSelectConfiguration.ConfigurationDescriptor = nullptr;
        requests.SubmitUrb(urb);
        ExFreePoolWithTag(urb, kTagUrb);
    }
    configurationHandle = nullptr;
}

void UsbConfiguration::FreeAllPipes()
{
    pipeTable.FreeAll();
    alternateSettingsActive = 0;
}
