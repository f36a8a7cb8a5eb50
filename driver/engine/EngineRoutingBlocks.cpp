// A period's render blocks, placed in one hold of the routing lock. Streams started together sit
// at the same place in the rings: a run of such blocks sets the rings' write index once, adds each
// stream's samples in turn, then commits and refreshes the bounce copies once, where placing them
// one by one would do all of that per stream. What lands in the rings and every answer are those
// of placing the blocks one after another.
#include "EngineRouting.h"

#include "RoutingRing.h"

#include "common/InStackLock.h"

namespace {

// Whether a ring takes channels from startChannel of an interleaved stream as one run, the way
// its channel writer pairs them: one buffer, every channel taking part, the stream inside its
// frame.
bool TakesAsOneRun(const ChannelBufferSet& ring, ULONG startChannel, ULONG channels)
{
    const ChannelLayoutList& layouts = ring.Layouts();
    if (layouts.count != 1 || startChannel >= 32) {
        return false;
    }
    const ChannelLayout& to = layouts.items[0];
    return to.excludedCount == 0 && to.excludedMask == 0 &&
           ULONGLONG{startChannel} + channels <= to.channelCount;
}

ChannelRun RingRun(const ChannelBufferSet& ring, ULONG startChannel, ULONG channels)
{
    const ChannelLayout& to = ring.Layouts().items[0];
    return ChannelRun{to.format, to.channelCount, startChannel, channels};
}

}  // namespace

void EngineRouting::RenderBlocks(RenderRequest* requests, ULONG count)
{
    for (ULONG i = 0; i < count; ++i) {
        requests[i].result =
            CheckRenderArguments(&requests[i].position, requests[i].buffers, requests[i].format);
    }
    InStackLock routing(&routingLock);
    for (ULONG i = 0; i < count;) {
        ULONG start = 0;
        if (IsSharedSpanBlock(requests[i], &start)) {
            ULONG run = 1;
            while (i + run < count && IsInSharedSpan(requests[i + run], requests[i], start)) {
                ++run;
            }
            RenderSharedSpan(requests + i, run, start);
            i += run;
            continue;
        }
        RenderRequest& r = requests[i++];
        if (r.result == 1) {
            r.result = RenderHeld(r.configurationIndex, &r.position, r.buffers, r.frames, r.format,
                                  r.interleavedChannels, r.startChannel);
        }
    }
}

// The block is one that RenderHeld would write channel for channel, as one run into both rings,
// with room for it: its start in the rings.
bool EngineRouting::IsSharedSpanBlock(const RenderRequest& r, ULONG* start) const
{
    if (r.result != 1 || r.configurationIndex != configuration.index || !RingConfigured() ||
        !IsOneRunBlock(r)) {
        return false;
    }
    const ULONG capacity = outputRing.Capacity();
    if (mixBus.Capacity() != capacity) {
        return false;
    }
    const ULONG from = static_cast<ULONG>(r.position) % capacity;
    const ULONG free = outputRing.FreeFrames(from);
    // Room past one ring block (else the answer is -1 or -2, written by RenderHeld), and room in
    // the mix bus for the writer's own check.
    if (LONGLONG{free} - LONGLONG{r.frames} < LONGLONG{configuration.ringBlockSize} ||
        r.frames > mixBus.FreeFrames(from)) {
        return false;
    }
    *start = from;
    return true;
}

// Interleaved, added channel for channel (the mixer unused or unit on its rows) as one run into
// both rings.
bool EngineRouting::IsOneRunBlock(const RenderRequest& r) const
{
    const ULONG channels = r.interleavedChannels;
    if (channels == 0) {
        return false;
    }
    if (matrixOn && (RowsSilent(r.startChannel, channels) || !RowsUnit(r.startChannel, channels))) {
        return false;
    }
    return TakesAsOneRun(mixBus, r.startChannel, channels) &&
           TakesAsOneRun(outputRing, r.startChannel, channels);
}

// A block after `first` (a shared-span block at start) with its place and length: the same room.
bool EngineRouting::IsInSharedSpan(const RenderRequest& r, const RenderRequest& first,
                                   ULONG start) const
{
    return r.result == 1 && r.configurationIndex == first.configurationIndex &&
           r.frames == first.frames &&
           static_cast<ULONG>(r.position) % outputRing.Capacity() == start && IsOneRunBlock(r);
}

void EngineRouting::RenderSharedSpan(RenderRequest* requests, ULONG count, ULONG start)
{
    const ULONG frames = requests[0].frames;
    const ULONG capacity = outputRing.Capacity();
    outputRing.CommitWrite(start, 0);
    mixBus.CommitWrite(start, 0);
    for (ULONG i = 0; i < count; ++i) {
        RenderRequest& r = requests[i];
        const ULONG channels = r.interleavedChannels;
        const ChannelRun source{r.format, channels, 0, channels};
        LONG result = 0;
        if (r.buffers[0] != nullptr) {
            mixBus.WriteRun(frames, true, source, r.buffers[0], 0,
                            RingRun(mixBus, r.startChannel, channels), 0);
            result = outputRing.WriteRun(frames, true, source, r.buffers[0], 0,
                                         RingRun(outputRing, r.startChannel, channels), 0);
        }
        r.result = result;
        r.position = static_cast<LONG>(RingAdvance(start, frames, capacity));
    }
    mixBus.CommitWrite(start, frames);
    outputRing.CommitWrite(start, frames);
    RefreshBounceCopies(start, frames);
}
