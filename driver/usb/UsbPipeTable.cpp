// The pipe table: lookups safe against records added or removed between calls (any IRQL up to
// DISPATCH_LEVEL), records in and out, and the numbering of the audio pipes.
#include "usb/UsbPipeTable.h"

#include "common/InStackLock.h"

bool UsbPipeTable::NextPipe(UsbPipe** pipe, ULONG* index)
{
    InStackLock guard(&pipeTableLock);
    ULONG next = 0;
    if (*pipe != nullptr) {
        if (*index < pipeCount && pipes[*index] == *pipe) {
            next = *index + 1;
        } else {
            next = *index;  // gone: the entry that took its place comes next
            for (ULONG i = 0; i < pipeCount; ++i) {
                if (pipes[i] == *pipe) {
                    next = i + 1;
                    break;
                }
            }
        }
    }
    const bool more = next < pipeCount;
    *pipe = more ? pipes[next] : nullptr;
    if (more) {
        *index = next;
    }
    return more;
}

UsbPipe* UsbPipeTable::FindLastAudioPipe(bool in)
{
    InStackLock guard(&pipeTableLock);
    UsbPipe* found = nullptr;
    for (ULONG i = 0; i < pipeCount; ++i) {
        if (pipes[i]->format.hasFormat && (in ? pipes[i]->format.isIn : pipes[i]->format.isOut)) {
            found = pipes[i];
        }
    }
    return found;
}

UsbPipe* UsbPipeTable::FindFeedbackPipe()
{
    UsbPipe* found = nullptr;
    UsbPipe* pipe = nullptr;
    ULONG index = 0;
    while (NextPipe(&pipe, &index)) {
        if (pipe->format.isFeedback) {
            found = pipe;
        }
    }
    return found;
}

UsbPipe* UsbPipeTable::NewPipe()
{
    auto* pipe =
        static_cast<UsbPipe*>(ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(UsbPipe), kTagPipe));
    if (pipe != nullptr) {
        RtlZeroMemory(pipe, sizeof(*pipe));
        InitializePipeOutstanding(pipe);
    }
    return pipe;
}

// PASSIVE_LEVEL: contiguous memory is freed here.
void UsbPipeTable::FreePipe(UsbPipe* pipe)
{
    if (!pipe->format.isFeedback) {
        FreeBuffers(pipe->transferBuffers, HasContiguousBuffers(pipe));
    }
    ExFreePoolWithTag(pipe, kTagPipe);
}

bool UsbPipeTable::Add(UsbPipe* pipe)
{
    InStackLock guard(&pipeTableLock);
    if (pipeCount >= kUsbMaxPipes) {
        return false;
    }
    pipes[pipeCount++] = pipe;
    return true;
}

void UsbPipeTable::RemoveInterface(ULONG interfaceNumber)
{
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
}

void UsbPipeTable::FreeAll()
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

void UsbPipeTable::NumberAudioPipes()
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
