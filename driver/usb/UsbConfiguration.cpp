// Configuration and interface selection, the pipe table, the streaming interfaces' alternate
// settings and the transfer buffers with the cache that keeps them across those switches.
#include "InStackLock.h"
#include "UsbTransport.h"

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

// OUT pipes hand their buffers to the device: physically contiguous memory. One rule for
// allocating, parking and freeing them.
bool HasContiguousBuffers(const UsbPipe* pipe)
{
    return pipe->format.isIn == 0;
}

UsbPipe* NewPipe()
{
    auto* pipe =
        static_cast<UsbPipe*>(ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(UsbPipe), kTagPipe));
    if (pipe != nullptr) {
        RtlZeroMemory(pipe, sizeof(*pipe));
        KeInitializeEvent(&pipe->allDoneEvent, NotificationEvent, FALSE);
    }
    return pipe;
}

}  // namespace

NTSTATUS UsbTransport::SelectConfiguration()
{
    PUSB_CONFIGURATION_DESCRIPTOR configuration = SelectedConfigurationDescriptor();
    if (configuration == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    const ULONG wanted = configuration->bNumInterfaces;
    auto* list = static_cast<PUSBD_INTERFACE_LIST_ENTRY>(ExAllocatePoolWithTag(
        NonPagedPoolNx, sizeof(USBD_INTERFACE_LIST_ENTRY) * (wanted + 1), kTagInfo));
    if (list == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(list, sizeof(USBD_INTERFACE_LIST_ENTRY) * (wanted + 1));
    ULONG found = 0;
    for (ULONG number = 0; number < kMaxInterfaceNumbers && found < wanted; ++number) {
        PUSB_INTERFACE_DESCRIPTOR d = USBD_ParseConfigurationDescriptorEx(
            configuration, configuration, static_cast<LONG>(number), 0, -1, -1, -1);
        if (d != nullptr) {
            list[found++].InterfaceDescriptor = d;
        }
    }
    PURB urb = found == wanted ? USBD_CreateConfigurationRequestEx(configuration, list) : nullptr;
    ExFreePoolWithTag(list, kTagInfo);
    if (urb == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    NTSTATUS status = SubmitUrb(urb);
    if (NT_SUCCESS(status)) {
        configurationHandle = urb->UrbSelectConfiguration.ConfigurationHandle;
        FreeAllPipes();
        InStackLock guard(&pipeTableLock);
        PUSBD_INTERFACE_INFORMATION info = &urb->UrbSelectConfiguration.Interface;
        for (ULONG i = 0; i < found; ++i, info = NextInterface(info)) {
            PUSB_INTERFACE_DESCRIPTOR d = USBD_ParseConfigurationDescriptorEx(
                configuration, configuration, info->InterfaceNumber, 0, -1, -1, -1);
            const ULONG count = d != nullptr ? PipesIn(info) : 0;
            const PUSBD_PIPE_INFORMATION pipeInfo = info->Pipes;
            for (ULONG j = 0; j < count && pipeCount < kUsbMaxPipes; ++j) {
                UsbPipe* pipe = NewPipe();
                if (pipe == nullptr) {
                    status = STATUS_INSUFFICIENT_RESOURCES;
                    break;
                }
                pipe->pipeInformation = pipeInfo[j];
                pipe->interfaceNumber = info->InterfaceNumber;
                pipe->alternateSetting = 0;
                pipe->firstChannel = 0;
                ParseClassDescriptors(configuration, d, j, &pipe->format);
                pipes[pipeCount++] = pipe;
            }
        }
    }
    ExFreePool(urb);
    return status;
}

void UsbTransport::ParkBuffersLocked(UsbPipe* pipe, UsbPipe** toFree, ULONG* toFreeCount)
{
    const bool hasBuffers = pipe->transferBuffers[0] != nullptr;
    if (!pipe->format.isFeedback && hasBuffers && bufferCacheCount < kUsbMaxPipes) {
        BufferCacheEntry& entry = bufferCache[bufferCacheCount++];
        entry.interfaceNumber = pipe->interfaceNumber;
        entry.alternateSetting = pipe->alternateSetting;
        entry.endpointAddress = pipe->pipeInformation.EndpointAddress;
        entry.contiguous = HasContiguousBuffers(pipe) ? 1 : 0;
        entry.bytesPerFrame = pipe->bytesPerFrame;
        for (ULONG s = 0; s < kUsbTransferSlots; ++s) {
            entry.buffers[s] = pipe->transferBuffers[s];
            pipe->transferBuffers[s] = nullptr;
        }
    }
    toFree[(*toFreeCount)++] = pipe;
}

NTSTATUS UsbTransport::SelectInterface(ULONG interfaceNumber, UCHAR alternateSetting)
{
    PUSB_CONFIGURATION_DESCRIPTOR configuration = SelectedConfigurationDescriptor();
    PUSB_INTERFACE_DESCRIPTOR d = configuration == nullptr ? nullptr
                                                           : USBD_ParseConfigurationDescriptorEx(
                                                                 configuration, configuration,
                                                                 static_cast<LONG>(interfaceNumber),
                                                                 alternateSetting, -1, -1, -1);
    if (d == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    const ULONG endpoints = d->bNumEndpoints;
    const ULONG size = URB_SELECT_INTERFACE_HEADER_SIZE + USBD_INTERFACE_INFORMATION_HEADER_SIZE +
                       sizeof(USBD_PIPE_INFORMATION) * endpoints;
    auto* urb = static_cast<PURB>(ExAllocatePoolWithTag(NonPagedPoolNx, size, kTagUrb));
    if (urb == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
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
    const PUSBD_PIPE_INFORMATION pipeInfo = info->Pipes;
    for (ULONG j = 0; j < endpoints; ++j) {
        pipeInfo[j].MaximumTransferSize = USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE;
    }
    NTSTATUS status = SubmitUrb(urb);

    // The interface's records leave the table whatever the result; their buffers are parked.
    UsbPipe* removed[kUsbMaxPipes];
    ULONG removedCount = 0;
    {
        InStackLock guard(&pipeTableLock);
        ULONG kept = 0;
        for (ULONG i = 0; i < pipeCount; ++i) {
            if (pipes[i]->interfaceNumber == interfaceNumber) {
                ParkBuffersLocked(pipes[i], removed, &removedCount);
            } else {
                pipes[kept++] = pipes[i];
            }
        }
        for (ULONG i = kept; i < pipeCount; ++i) {
            pipes[i] = nullptr;
        }
        pipeCount = kept;
    }
    for (ULONG i = 0; i < removedCount; ++i) {
        FreePipe(removed[i]);
    }

    if (NT_SUCCESS(status) && alternateSetting != 0) {
        const ULONG count = PipesIn(info);
        for (ULONG j = 0; j < count && pipeCount < kUsbMaxPipes; ++j) {
            EndpointFormat format;
            ParseClassDescriptors(configuration, d, j, &format);
            if (!format.hasFormat && !format.isFeedback) {
                continue;
            }
            UsbPipe* pipe = NewPipe();
            if (pipe == nullptr) {
                status = STATUS_INSUFFICIENT_RESOURCES;
                break;
            }
            pipe->pipeInformation = pipeInfo[j];
            pipe->interfaceNumber = interfaceNumber;
            pipe->alternateSetting = alternateSetting;
            pipe->format = format;
            if (format.hasFormat) {
                pipe->packetsPerFrame = PacketsPerFrame(highSpeed != 0, pipeInfo[j].Interval);
                status = AllocateTransferBuffers(pipe);
                if (!NT_SUCCESS(status)) {
                    FreePipe(pipe);
                    break;
                }
            }
            // Configuration requests are serialised by the engine: the bound checked above holds.
            InStackLock guard(&pipeTableLock);
            pipes[pipeCount++] = pipe;
        }
    }
    ExFreePoolWithTag(urb, kTagUrb);
    return status;
}

NTSTATUS UsbTransport::SelectAlternateSettings(bool enable)
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
    {
        InStackLock guard(&pipeTableLock);
        outAudioPipes = inAudioPipes = 0;
        LONG outChannels = 0;
        LONG inChannels = 0;
        for (ULONG i = 0; i < pipeCount; ++i) {
            UsbPipe* pipe = pipes[i];
            if (!pipe->format.hasFormat) {
                continue;
            }
            LONG& channels = pipe->format.isIn ? inChannels : outChannels;
            ++(pipe->format.isIn ? inAudioPipes : outAudioPipes);
            pipe->firstChannel = channels;
            channels += static_cast<LONG>(pipe->format.channels);
        }
    }
    alternateSettingsActive = enable ? 1 : 0;
    return status;
}

NTSTATUS UsbTransport::AllocateTransferBuffers(UsbPipe* pipe)
{
    BufferCacheEntry dropped[kUsbMaxPipes];
    ULONG droppedCount = 0;
    bool reused = false;
    {
        InStackLock guard(&pipeTableLock);
        for (ULONG k = 0; k < bufferCacheCount; ++k) {
            BufferCacheEntry& entry = bufferCache[k];
            if (entry.interfaceNumber != pipe->interfaceNumber) {
                continue;
            }
            if (entry.alternateSetting != pipe->alternateSetting) {
                // The interface streams on another setting now: none of its buffers fit.
                ULONG kept = 0;
                for (ULONG m = 0; m < bufferCacheCount; ++m) {
                    if (bufferCache[m].interfaceNumber == pipe->interfaceNumber) {
                        dropped[droppedCount++] = bufferCache[m];
                    } else {
                        bufferCache[kept++] = bufferCache[m];
                    }
                }
                bufferCacheCount = kept;
                break;
            }
            if (entry.endpointAddress == pipe->pipeInformation.EndpointAddress) {
                pipe->bytesPerFrame = entry.bytesPerFrame;
                for (ULONG s = 0; s < kUsbTransferSlots; ++s) {
                    pipe->transferBuffers[s] = entry.buffers[s];
                }
                bufferCache[k] = bufferCache[--bufferCacheCount];
                reused = true;
                break;
            }
        }
    }
    for (ULONG k = 0; k < droppedCount; ++k) {
        FreeBuffers(dropped[k].buffers, dropped[k].contiguous != 0);
    }
    if (reused) {
        return STATUS_SUCCESS;
    }
    pipe->bytesPerFrame = pipe->packetsPerFrame * pipe->pipeInformation.MaximumPacketSize;
    if (pipe->bytesPerFrame == 0) {
        return STATUS_DEVICE_DATA_ERROR;  // an endpoint that can carry nothing
    }
    const SIZE_T bytes = static_cast<SIZE_T>(pipe->bytesPerFrame) * bufferFrames;
    PHYSICAL_ADDRESS highest;
    highest.QuadPart = 0xFFFFFFFF;
    for (ULONG s = 0; s < kUsbTransferSlots; ++s) {
        pipe->transferBuffers[s] = HasContiguousBuffers(pipe)
                                       ? MmAllocateContiguousMemory(bytes, highest)
                                       : ExAllocatePoolWithTag(NonPagedPoolNx, bytes, kTagData);
        if (pipe->transferBuffers[s] == nullptr) {
            return STATUS_INSUFFICIENT_RESOURCES;
        }
    }
    return STATUS_SUCCESS;
}

void UsbTransport::FreeBuffers(PVOID* buffers, bool contiguous)
{
    for (ULONG s = 0; s < kUsbTransferSlots; ++s) {
        if (buffers[s] == nullptr) {
            continue;
        }
        if (contiguous) {
            MmFreeContiguousMemory(buffers[s]);
        } else {
            ExFreePoolWithTag(buffers[s], kTagData);
        }
        buffers[s] = nullptr;
    }
}

// PASSIVE_LEVEL: contiguous memory is freed here.
void UsbTransport::FreePipe(UsbPipe* pipe)
{
    if (!pipe->format.isFeedback) {
        FreeBuffers(pipe->transferBuffers, HasContiguousBuffers(pipe));
    }
    ExFreePoolWithTag(pipe, kTagPipe);
}

void UsbTransport::FreeAllPipes()
{
    UsbPipe* removed[kUsbMaxPipes];
    BufferCacheEntry cached[kUsbMaxPipes];
    ULONG removedCount = 0;
    ULONG cachedCount = 0;
    {
        // Taken out under the lock, freed after it: contiguous memory is freed at PASSIVE_LEVEL.
        InStackLock guard(&pipeTableLock);
        for (ULONG i = 0; i < pipeCount; ++i) {
            removed[removedCount++] = pipes[i];
            pipes[i] = nullptr;
        }
        pipeCount = 0;
        alternateSettingsActive = 0;
        for (ULONG k = 0; k < bufferCacheCount; ++k) {
            cached[cachedCount++] = bufferCache[k];
        }
        bufferCacheCount = 0;
    }
    for (ULONG i = 0; i < removedCount; ++i) {
        FreePipe(removed[i]);
    }
    for (ULONG k = 0; k < cachedCount; ++k) {
        FreeBuffers(cached[k].buffers, cached[k].contiguous != 0);
    }
}

void UsbTransport::CheckRateRequests()
{
    rateRequestFlag = 0;
    PUSB_CONFIGURATION_DESCRIPTOR configuration = SelectedConfigurationDescriptor();
    for (ULONG i = 0; i < kUsbConfigInterfaces; ++i) {
        const UCHAR setting = configRecord.alternateSettings[i];
        if (setting == 0) {
            continue;
        }
        PUSB_INTERFACE_DESCRIPTOR d =
            configuration == nullptr
                ? nullptr
                : USBD_ParseConfigurationDescriptorEx(configuration, configuration,
                                                      static_cast<LONG>(i), setting, -1, -1, -1);
        if (d == nullptr) {
            rateRequestFlag = 1;
            return;
        }
        for (ULONG j = 0; j < d->bNumEndpoints; ++j) {
            EndpointFormat format;
            ParseClassDescriptors(configuration, d, j, &format);
            if (format.hasFormat && format.rateCount > 1) {
                rateRequestFlag = 1;
            }
        }
    }
}
