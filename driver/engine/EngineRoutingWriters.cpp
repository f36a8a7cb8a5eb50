// The stream set's writers: render streams into the mix bus and the output ring, the monitored
// device inputs into the output ring, and the bounce copies those writes bring up to date.
#include "EngineRouting.h"

#include "RoutingRing.h"

#include "audio/DriverResult.h"
#include "common/InStackLock.h"

namespace {

// Bits first .. first + count - 1 of a row mask, cut at rows (at most 32).
ULONG RowMask(ULONG first, ULONG count, ULONG rows)
{
    const ULONGLONG end = ULONGLONG{first} + count < rows ? ULONGLONG{first} + count : rows;
    if (first >= end) {
        return 0;
    }
    return static_cast<ULONG>(((ULONGLONG{1} << end) - 1) & ~((ULONGLONG{1} << first) - 1));
}

// Whether [aStart, aEnd) and [bStart, bEnd) share a byte.
bool Overlaps(ULONGLONG aStart, ULONGLONG aEnd, ULONGLONG bStart, ULONGLONG bEnd)
{
    return aStart < bEnd && bStart < aEnd;
}

}  // namespace

// Rows beyond the matrix carry no gain: they count as silent and never as unit rows.
bool EngineRouting::RowsSilent(ULONG firstRow, ULONG count) const
{
    const ULONG mask = RowMask(firstRow, count, matrix.Rows());
    return (matrix.SilentRows() & mask) == mask;
}

bool EngineRouting::RowsUnit(ULONG firstRow, ULONG count) const
{
    if (ULONGLONG{firstRow} + count > matrix.Rows()) {
        return false;
    }
    const ULONG mask = RowMask(firstRow, count, matrix.Rows());
    return (matrix.IdentityRows() & mask) == mask;
}

LONG EngineRouting::MixIntoOutput(ULONG frames, const ChannelLayoutList& sources,
                                  PVOID const* buffers, ULONG channels, ULONG startChannel)
{
    const ULONG writeIndex = outputRing.WriteIndex();
    if (matrixOn && RowsSilent(startChannel, channels)) {
        return outputRing.CommitWrite(writeIndex, frames);
    }
    if (!matrixOn || RowsUnit(startChannel, channels)) {
        return outputRing.WriteChannels(frames, true, startChannel, sources, buffers, 0, channels,
                                        0);
    }
    // Only the rows the matrix has: a stream wider than the mixer adds nothing beyond them.
    const ULONG rows = matrix.Rows() - startChannel;
    return outputRing.MixChannels(frames, sources, buffers, channels < rows ? channels : rows,
                                  matrix.RowTable() + startChannel);
}

LONG EngineRouting::CheckRenderArguments(const LONG* position, PVOID const* buffers, ULONG format)
{
    if (position == nullptr) {
        return E_INVALIDARG;
    }
    if (*position < 0) {
        return kRenderPending;
    }
    if (buffers == nullptr || !IsKnownSampleFormat(format)) {
        return E_INVALIDARG;
    }
    return 1;
}

LONG EngineRouting::RenderIntoDevice(ULONG configurationIndex, LONG* position, PVOID const* buffers,
                                     ULONG frames, ULONG format, ULONG interleavedChannels,
                                     ULONG startChannel)
{
    const LONG checked = CheckRenderArguments(position, buffers, format);
    if (checked != 1) {
        return checked;
    }
    InStackLock routing(&routingLock);
    return RenderHeld(configurationIndex, position, buffers, frames, format, interleavedChannels,
                      startChannel);
}

LONG EngineRouting::RenderHeld(ULONG configurationIndex, LONG* position, PVOID const* buffers,
                               ULONG frames, ULONG format, ULONG interleavedChannels,
                               ULONG startChannel)
{
    if (configurationIndex != configuration.index) {
        return kRenderPending;
    }
    if (!RingConfigured()) {
        return 0;
    }
    const ULONG capacity = outputRing.Capacity();
    // A position from a larger ring of an earlier configuration is taken modulo this one's.
    const ULONG start = static_cast<ULONG>(*position) % capacity;
    const ULONG free = outputRing.FreeFrames(start);
    if (outputRing.CommitWrite(start, 0) < 0) {
        return E_INVALIDARG;
    }

    // Signed: frames may exceed the free space.
    const LONGLONG margin = configuration.ringBlockSize;
    LONG result = 0;
    if (LONGLONG{free} < margin) {
        result = kRenderTooLate;
    } else if (LONGLONG{free} - LONGLONG{frames} < margin) {
        result = kRenderNoRoom;
    } else {
        ChannelLayout layouts[ChannelBufferSet::kMaxBuffers];
        ULONG channels = 0;
        if (interleavedChannels > 0) {
            layouts[0] = ChannelLayout{format, interleavedChannels, 0, 0};
            channels = interleavedChannels;
        } else {
            channels = configuration.outputChannels < ChannelBufferSet::kMaxBuffers
                           ? configuration.outputChannels
                           : ChannelBufferSet::kMaxBuffers;
            for (ULONG k = 0; k < channels; ++k) {
                layouts[k] = ChannelLayout{format, 1, 0, 0};
            }
        }
        const ChannelLayoutList sources{interleavedChannels > 0 ? 1 : channels, layouts};
        if (mixBus.CommitWrite(start, 0) >= 0) {
            mixBus.WriteChannels(frames, true, startChannel, sources, buffers, 0, channels, 0);
        }
        result = MixIntoOutput(frames, sources, buffers, channels, startChannel);
        RefreshBounceCopies(start, frames);
    }
    *position = static_cast<LONG>(RingAdvance(start, frames, capacity));
    return result;
}

LONG EngineRouting::MonitorInputs(ULONG* position, PVOID* inputPointers, ULONG frames)
{
    InStackLock routing(&routingLock);
    if (!RingConfigured() || inputPointers == nullptr) {
        return 0;
    }
    const ULONG capacity = outputRing.Capacity();
    const ULONG start = *position % capacity;
    const ULONG free = outputRing.FreeFrames(start);
    if (outputRing.CommitWrite(start, 0) < 0) {
        return E_INVALIDARG;
    }
    const LONGLONG margin = configuration.ringBlockSize;
    if (LONGLONG{free} < margin) {
        *position = RingAdvance(start, frames, capacity);
        return kRenderTooLate;
    }
    if (LONGLONG{free} - LONGLONG{frames} < margin) {
        return kRenderNoRoom;  // tried again at the same place next period
    }
    const ULONG mixBusChannels = configuration.outputChannels;
    const ChannelLayoutList deviceInputs{DeviceInputItemCount(), configuration.inputLayouts.items};
    const ULONG monitorRows = matrix.Rows() > mixBusChannels ? matrix.Rows() - mixBusChannels : 0;
    LONG result = 0;
    if (!RowsSilent(mixBusChannels, monitorRows)) {
        const ULONG channels = UsableChannels(deviceInputs);
        result = outputRing.MixChannels(frames, deviceInputs, inputPointers,
                                        channels < monitorRows ? channels : monitorRows,
                                        matrix.RowTable() + mixBusChannels);
    } else {
        result = outputRing.CommitWrite(start, frames);
    }
    RefreshBounceCopies(start, frames);
    *position = RingAdvance(start, frames, capacity);
    return result < 0 ? result : 0;
}

void EngineRouting::RefreshBounceCopies(ULONG position, ULONG frames)
{
    const ULONG capacity = outputRing.Capacity();
    if (capacity == 0 || frames == 0) {
        return;
    }
    const ULONGLONG written = frames < capacity ? frames : capacity;
    for (ULONG b = outputRing.BufferCount(); b-- > 0;) {
        const ULONGLONG frameBytes = outputRing.BytesPerFrame(b);
        const ULONGLONG ringBytes = ULONGLONG{capacity} * frameBytes;
        // The bytes just written, as one or two ranges of the buffer.
        const ULONGLONG start = ULONGLONG{position % capacity} * frameBytes;
        const ULONGLONG end = start + written * frameBytes;
        const ULONGLONG firstEnd = end < ringBytes ? end : ringBytes;
        const ULONGLONG wrappedEnd = end > ringBytes ? end - ringBytes : 0;
        const UCHAR* base = outputRing.Buffer(b);
        for (ULONG i = packetRead; i != packetWrite; i = (i + 1) % kPacketRecordCount) {
            PacketRecord& record = packetRecords[i];
            if (record.bufferIndex != b || record.destination == nullptr) {
                continue;
            }
            const ULONGLONG recordStart = static_cast<ULONGLONG>(record.source - base);
            const ULONGLONG recordEnd = recordStart + record.firstBytes;
            const bool touched = Overlaps(recordStart, recordEnd, start, firstEnd) ||
                                 Overlaps(recordStart, recordEnd, 0, wrappedEnd) ||
                                 Overlaps(0, record.secondBytes, start, firstEnd) ||
                                 Overlaps(0, record.secondBytes, 0, wrappedEnd);
            if (!touched) {
                continue;
            }
            record.refreshed = 1;
            RtlCopyMemory(record.destination, record.source, record.firstBytes);
            RtlCopyMemory(record.destination + record.firstBytes, record.secondSource,
                          record.secondBytes);
        }
    }
}
