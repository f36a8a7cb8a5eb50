// Lookups in the pipe table, safe against records added or removed between calls. Any IRQL up to
// DISPATCH_LEVEL.
#include "InStackLock.h"
#include "UsbTransport.h"

bool UsbTransport::NextPipe(UsbPipe** pipe, ULONG* index)
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

UsbPipe* UsbTransport::FindLastAudioPipe(bool in)
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
