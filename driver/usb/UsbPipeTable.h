// The table of open pipes, packed at the front, with the numbering of the audio pipes, and the
// cache that keeps the transfer buffers of the streaming interfaces' pipes while those interfaces
// are at alternate setting 0.
//
// Levels: NextPipe, the Find* lookups and the counts at any IRQL up to DISPATCH_LEVEL; what frees
// pipes or buffers at PASSIVE_LEVEL (contiguous memory is freed there). The pipe-table lock guards
// the table and the cache and is never held across a request or a PASSIVE-only free.
#pragma once

#include <wdm.h>

#include "usb/UsbPipe.h"

class UsbPipeTable
{
public:
    UsbPipeTable() { KeInitializeSpinLock(&pipeTableLock); }
    UsbPipeTable(const UsbPipeTable&) = delete;
    UsbPipeTable& operator=(const UsbPipeTable&) = delete;

    // Callers loop while it answers true, starting from a null pipe; the cursor stays valid while
    // records are added or removed.
    bool NextPipe(UsbPipe** pipe, ULONG* index);
    UsbPipe* FindLastAudioPipe(bool in);
    // The last pipe whose endpoint is a feedback endpoint, or null.
    UsbPipe* FindFeedbackPipe();

    // A zero-filled record ("Pipe") with its event initialised, or null.
    static UsbPipe* NewPipe();
    // Frees the record and, unless it is a feedback pipe, its buffers. PASSIVE_LEVEL.
    static void FreePipe(UsbPipe* pipe);
    // Appends the record; false (and nothing appended) when the table is full.
    bool Add(UsbPipe* pipe);
    bool Full() const { return pipeCount >= kUsbMaxPipes; }
    // Takes every record of the interface out of the table, parks its buffers and frees it.
    void RemoveInterface(ULONG interfaceNumber);
    // Empties the table and the cache, freeing every record and buffer.
    void FreeAll();
    // Counts the audio pipes of each direction in table order and gives each its first channel
    // among the audio pipes of its direction.
    void NumberAudioPipes();
    // The pipe's 15 buffers of bytes per frame x buffer frames: the cached ones of its interface,
    // setting and endpoint when there are, else new ones.
    NTSTATUS AllocateTransferBuffers(UsbPipe* pipe, ULONG bufferFrames);

    // For a caller that holds the lock across its own walk of the table.
    PKSPIN_LOCK Lock() { return &pipeTableLock; }
    ULONG CountLocked() const { return pipeCount; }
    UsbPipe* AtLocked(ULONG index) const { return pipes[index]; }
    void AddLocked(UsbPipe* pipe) { pipes[pipeCount++] = pipe; }

    ULONG PipeCount() const { return pipeCount; }
    ULONG OutAudioPipes() const { return outAudioPipes; }
    ULONG InAudioPipes() const { return inAudioPipes; }
    ULONG BufferCacheCount() const { return bufferCacheCount; }

private:
    void ParkBuffersLocked(UsbPipe* pipe, UsbPipe** toFree, ULONG* toFreeCount);
    bool TakeCachedBuffers(UsbPipe* pipe);
    static bool HasContiguousBuffers(const UsbPipe* pipe) { return pipe->format.isIn == 0; }
    static void FreeBuffers(PVOID* buffers, bool contiguous);

    UsbPipe* pipes[kUsbMaxPipes] = {};
    ULONG pipeCount = 0;
    ULONG outAudioPipes = 0;
    ULONG inAudioPipes = 0;
    BufferCacheEntry bufferCache[kUsbMaxPipes] = {};
    ULONG bufferCacheCount = 0;
    KSPIN_LOCK pipeTableLock = 0;
};
