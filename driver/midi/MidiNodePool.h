// The free lists of message nodes and SysEx segments shared by the codec's output queues. Taken
// from the free list first, else allocated (non-paged pool, "PcNw"); given back after use; freed
// only when the pool is destroyed. Each list has its own spin lock; callable up to DISPATCH_LEVEL.
#pragma once

#include <wdm.h>

#include "MidiMessageNode.h"

class MidiNodePool
{
public:
    void Initialize();
    void Destroy();

    // A node set to idle with the time, writer and owner; null when the pool has no room.
    MidiMessageNode* TakeNode(LONGLONG time, MidiWriter* writer, UsbMidiCodec* owner);
    void ReturnNode(MidiMessageNode* node);
    SysExSegment* TakeSegment(const UCHAR* data, ULONG position, ULONG end);
    void ReturnSegment(SysExSegment* segment);

private:
    MidiMessageNode* freeNodes;
    SysExSegment* freeSegments;
    KSPIN_LOCK nodeLock;
    KSPIN_LOCK segmentLock;
};
