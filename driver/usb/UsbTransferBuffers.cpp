// The transfer buffers of the audio pipes and the cache that keeps them while their interface is
// at alternate setting 0, so switching the streaming interfaces does not reallocate them. OUT
// pipes hand their buffers to the device: physically contiguous memory below 4 GB. One rule
// (HasContiguousBuffers) for allocating, parking and freeing them.
#include "common/InStackLock.h"
#include "usb/UsbPipeTable.h"

void UsbPipeTable::ParkBuffersLocked(UsbPipe* pipe, UsbPipe** toFree, ULONG* toFreeCount)
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

// True when the cache gave the pipe its buffers back. Entries of the interface that belong to
// another alternate setting are dropped and freed: none of them fit any more.
bool UsbPipeTable::TakeCachedBuffers(UsbPipe* pipe)
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
    return reused;
}

NTSTATUS UsbPipeTable::AllocateTransferBuffers(UsbPipe* pipe, ULONG bufferFrames)
{
    if (TakeCachedBuffers(pipe)) {
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

void UsbPipeTable::FreeBuffers(PVOID* buffers, bool contiguous)
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
