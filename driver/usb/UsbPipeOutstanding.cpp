// The count of a pipe's transfers in flight, and its all-done event. The last retirement drops
// the count and signals the event under the pipe's lock, and a stop reads the count under the same
// lock: a stop that saw the count at 0 between the two could free the pipe while the event was
// still being set in it.
#include "UsbPipe.h"

void InitializePipeOutstanding(UsbPipe* pipe)
{
    KeInitializeEvent(&pipe->allDoneEvent, NotificationEvent, FALSE);
    KeInitializeSpinLock(&pipe->outstandingLock);
}

void ReleasePipeOutstanding(UsbPipe* pipe)
{
    KIRQL old;
    KeAcquireSpinLock(&pipe->outstandingLock, &old);
    if (InterlockedDecrement(&pipe->outstanding) == 0) {
        KeSetEvent(&pipe->allDoneEvent, IO_NO_INCREMENT, FALSE);
    }
    KeReleaseSpinLock(&pipe->outstandingLock, old);
}

bool PipeDrained(UsbPipe* pipe)
{
    KIRQL old;
    KeAcquireSpinLock(&pipe->outstandingLock, &old);
    const bool drained = ReadAcquire(&pipe->outstanding) == 0;
    KeReleaseSpinLock(&pipe->outstandingLock, old);
    return drained;
}
