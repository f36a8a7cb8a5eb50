// Kernel streaming's pin objects behind KSPIN: the queue of frames, the stream pointers that walk
// it, processing and the reference clock. Not part of any public header.
//
// Lifetime: a pin lives from its Create to its Close, which first takes it down to STOP and
// completes every frame still queued. A frame lives from its submission until it completes; a
// clone lives until the minidriver deletes it (or the pin closes).
#pragma once

#include <ks.h>

#include "KsInternal.h"

namespace Platform::Ks::Internal {

// One submitted frame. Its header is the kernel copy in the request's system buffer; its data is
// the client's buffer, locked and mapped for the frame's lifetime.
struct FrameImpl
{
    FrameImpl* next;
    struct _IRP* irp;
    PKSSTREAM_HEADER header;
    PMDL mdl;
    PUCHAR data;      // system address of the frame's bytes
    ULONG bytes;      // render: DataUsed; capture: FrameExtent
    LONG clones;      // clones that refer to it
    NTSTATUS status;  // what it completes with
};

struct StreamPointerImpl
{
    KSSTREAM_POINTER pointer;  // first: the public pointer is the object's address
    PinImpl* pin;
    FrameImpl* frame;  // null: past the last frame
    ULONG offset;      // bytes of the frame already passed
    bool locked;
    bool clone;
    StreamPointerImpl* nextClone;
};

// The clock a client assigned: the performance counter in 100 ns units.
class PinClock final : public IKsReferenceClock
{
public:
    ULONG AddRef() override;
    ULONG Release() override;
    LONGLONG GetTime() override;
    LONGLONG GetPhysicalTime() override;
    LONGLONG GetCorrelatedTime(LONGLONG* systemTime) override;

    volatile LONG references = 0;
};

struct PinImpl
{
    KsObject object;
    KSPIN pin;
    _KSIOBJECT_BAG bag;
    FilterImpl* filter;
    FileObject* file;      // the handle's file object, told when the pin goes before it
    KSPIN_LOCK queueLock;  // the frames, the edges and the clones
    FrameImpl* head;       // oldest frame not completed
    FrameImpl* tail;
    StreamPointerImpl leading;
    StreamPointerImpl trailing;
    StreamPointerImpl* clones;  // oldest first
    KSPIN_LOCK processLock;
    bool processing;
    bool processAgain;
    KDPC processDpc;
    bool hasClock;
    PinClock* clock;  // kept apart so that the pin stays a plain structure
};

PinImpl* PinOf(PKSPIN pin);

// Frames (PinQueue.cpp). Queueing takes the request (its system buffer holds the header) and the
// locked data; the request completes when the frame does.
// Zeroed, from the pool; null when out of pool. Freed when the frame completes.
FrameImpl* AllocateFrame();
void QueueFrame(PinImpl* pin, FrameImpl* frame);
// Completes every frame: clones still held are dropped, the edges go past the end.
void FlushFrames(PinImpl* pin, NTSTATUS status);
void InitializePinQueue(PinImpl* pin);
void StopPinProcessing(PinImpl* pin);
bool PinProcesses(const PinImpl* pin);

}  // namespace Platform::Ks::Internal
