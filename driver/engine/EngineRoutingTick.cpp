// The routing period: once per completed USB period the rings advance by what the device consumed,
// the inputs (device and loopback) go to the stream manager, the meters take their peaks and the
// consumed frames are silenced for the next lap.
#include "EngineRouting.h"

#include "RoutingRing.h"
#include "RoutingStreamSink.h"
#include "audio/DriverResult.h"
#include "common/InStackLock.h"

namespace {

constexpr ULONG kMaxUlong = 0xFFFFFFFFu;
ULONG Modulo(LONGLONG value, ULONG capacity)
{
    const LONGLONG rest = value % capacity;
    return static_cast<ULONG>(rest < 0 ? rest + capacity : rest);
}

ChannelRun RunOf(const ChannelLayout& layout, const ChannelSpan& span)
{
    return ChannelRun{layout.format, layout.channelCount, span.start, span.length};
}

}  // namespace

ULONG EngineRouting::FramesToClear(ULONG framesIn, ULONG framesOut)
{
    if (framesIn == framesOut) {
        return framesOut;
    }
    if (framesIn > framesOut) {
        const ULONG surplus = framesIn - framesOut;
        const ULONG taken = surplus < frameDeficit ? surplus : frameDeficit;
        frameDeficit -= taken;
        return framesOut + taken;
    }
    const ULONG missing = framesOut - framesIn;
    // Saturates: a deficit this large is paid back over whole laps of the ring anyway.
    frameDeficit = frameDeficit > kMaxUlong - missing ? kMaxUlong : frameDeficit + missing;
    return framesIn;
}

void EngineRouting::CollectInputPointers(ULONG* position, PVOID* inputPointers, ULONG frames)
{
    const ULONG capacity = outputRing.Capacity();
    if (inputPointers != nullptr) {
        // Loopback item k + j reads back output buffer j.
        const ULONG deviceItems = DeviceInputItemCount();
        for (ULONG i = deviceItems; i < configuration.inputLayouts.count; ++i) {
            BufferRegion region{};
            const bool present =
                outputRing.ReadRegion(i - deviceItems, *position, true, true, &region) >= 0;
            inputPointers[i] = present ? region.firstPointer : nullptr;
        }
    }
    *position = RingAdvance(*position, frames, capacity);
}

void EngineRouting::MeasureInputPeaks(ULONG frames, PVOID* inputPointers)
{
    if (frames == 0 || inputPointers == nullptr) {
        return;
    }
    InStackLock peaks(&inputPeaksLock);
    ULONG slot = configuration.outputChannels;
    const ChannelLayoutList& inputs = configuration.inputLayouts;
    for (ULONG i = 0; i < inputs.count; ++i) {
        ChannelSpan span{};
        for (ULONG from = 0; NextChannelRun(inputs.items[i], from, &span);
             from = span.start + span.length) {
            if (ULONGLONG{slot} + span.length > inputPeaks.Count()) {
                return;
            }
            MeasurePeak(frames, RunOf(inputs.items[i], span), inputPointers[i],
                        inputPeaks.Data() + slot);
            slot += span.length;
        }
    }
}

void EngineRouting::MeasureSetPeaks(const ChannelBufferSet& set, ULONG position, ULONG frames,
                                    U32Array* peaks, ULONG firstSlot)
{
    if (frames == 0 || set.Capacity() == 0) {
        return;
    }
    ULONG slot = firstSlot;
    const ChannelLayoutList& layouts = set.Layouts();
    for (ULONG b = 0; b < layouts.count; ++b) {
        BufferRegion region{};
        if (set.ReadRegion(b, position, false, true, &region) < 0) {
            continue;
        }
        const ULONG frameBytes = set.BytesPerFrame(b);
        const ULONG firstFrames = region.firstBytes / frameBytes;
        const ULONG early = frames < firstFrames ? frames : firstFrames;
        const ULONG secondFrames = region.secondBytes / frameBytes;
        const ULONG late = frames - early < secondFrames ? frames - early : secondFrames;
        ChannelSpan span{};
        for (ULONG from = 0; NextChannelRun(layouts.items[b], from, &span);
             from = span.start + span.length) {
            if (ULONGLONG{slot} + span.length > peaks->Count()) {
                return;
            }
            const ChannelRun run = RunOf(layouts.items[b], span);
            if (early != 0) {
                MeasurePeak(early, run, region.firstPointer, peaks->Data() + slot);
            }
            if (late != 0) {
                MeasurePeak(late, run, region.secondPointer, peaks->Data() + slot);
            }
            slot += span.length;
        }
    }
}

void EngineRouting::GetStreamLead(ULONG* lead, ULONG* capacity)
{
    InStackLock routing(&routingLock);
    *lead = streamLead;
    *capacity = outputRing.Capacity();
}

LONG EngineRouting::RoutingTick(ULONG /*frameKey*/, PVOID* inputPointers, ULONG framesIn,
                                LONG flags, ULONG framesOut, ULONG extraFrames)
{
    InStackLock tick(&tickLock);
    RoutingStreamSink* sink = nullptr;
    ULONG index = 0;
    ULONG position = 0;
    ULONG currentRate = 0;
    ULONG clear = 0;
    bool monitoring = false;
    {
        InStackLock routing(&routingLock);
        if (!RingConfigured()) {
            return 1;
        }
        const ULONG capacity = outputRing.Capacity();
        const ULONG consumedFrom = outputRing.ReadIndex();
        outputRing.AdvanceRead(framesOut, true);
        mixBus.AdvanceRead(framesOut, true);
        framesOutTotal += framesOut;
        framesInTotal += framesIn;
        // The totals' difference is signed: more frames may have gone out than came in.
        const LONGLONG ahead = LONGLONG{outputRing.ReadIndex()} +
                               static_cast<LONG>(framesInTotal - framesOutTotal) +
                               LONGLONG{extraFrames} + CurrentFramesPerMs();
        streamPosition = Modulo(ahead, capacity);
        streamLead = Modulo(LONGLONG{streamPosition} - outputRing.ReadIndex(), capacity);
        clear = FramesToClear(framesIn, framesOut);

        if (!started && ULONGLONG{framesInTotal} >= ULONGLONG{startupInterval} * rate / 1000) {
            started = 1;
            if (firstPeriodPending) {
                firstPeriodPending = 0;
                flags |= kFirstPeriodFlag;
            }
        }
        if (started && outputMissed) {
            outputMissed = 0;
            flags |= kFirstPeriodFlag;
        }
        if (started) {
            if (inputPosition < 0) {
                inputPosition = static_cast<LONG>(consumedFrom);
            }
            ULONG collected = static_cast<ULONG>(inputPosition);
            CollectInputPointers(&collected, inputPointers, framesIn);
            inputPosition = static_cast<LONG>(collected);
            if (meteringOn) {
                MeasureInputPeaks(framesIn, inputPointers);
            }
            if (monitorPosition < 0) {
                monitorPosition = static_cast<LONG>(streamPosition);
            }
            monitoring = matrixOn != 0;
        }
        sink = streamSink;
        index = configuration.index;
        position = streamPosition;
        currentRate = rate;
    }

    LONG result = 1;
    if (started) {
        if (monitoring) {
            ULONG monitored = static_cast<ULONG>(monitorPosition);
            MonitorInputs(&monitored, inputPointers, framesIn);
            monitorPosition = static_cast<LONG>(monitored);
        }
        if (sink != nullptr && sink->IsActive()) {
            result = sink->OnPeriod(index, inputPointers, framesIn, position, flags);
        } else {
            result = IsKeepRunning() ? static_cast<LONG>(currentRate / 1000) : -1;
        }
    }

    InStackLock routing(&routingLock);
    const ULONG capacity = outputRing.Capacity();
    if (capacity == 0) {
        return result;
    }
    // At most one lap: the frames before the read index are all there is to clear.
    if (clear >= capacity) {
        clear = capacity - 1;
    }
    if (meteringOn) {
        {
            InStackLock peaks(&inputPeaksLock);
            MeasureSetPeaks(mixBus, consumedPosition, clear, &inputPeaks, 0);
        }
        InStackLock peaks(&outputPeaksLock);
        MeasureSetPeaks(outputRing, consumedPosition, clear, &outputPeaks, 0);
    }
    outputRing.SilenceFrames(consumedPosition, clear);
    mixBus.SilenceFrames(consumedPosition, clear);
    consumedPosition = RingAdvance(consumedPosition, clear, capacity);
    return result;
}
