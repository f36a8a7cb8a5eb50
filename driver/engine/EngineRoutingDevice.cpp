// The device side of the stream set: output data for every outgoing USB transfer, as a pointer
// into the ring or as a bounce copy the writers keep up to date, and the removal of a copy's
// record when the USB layer is done with it.
#include "EngineRouting.h"

#include "RoutingRing.h"
#include "common/InStackLock.h"

namespace {

constexpr ULONGLONG kPageBytes = 4096;

ULONG NextRecord(ULONG index)
{
    return (index + 1) % kPacketRecordCount;
}

}  // namespace

bool EngineRouting::DevicePosition(ULONG frameKey, ULONG frames, ULONG previousKey,
                                   ULONG previousFrames, ULONG* position)
{
    const ULONG capacity = outputRing.Capacity();
    bool newer = false;
    if (lastFrames == 0) {
        lastKey = static_cast<LONG>(previousKey);  // the first request since the start
        newer = true;
    } else {
        newer = static_cast<LONG>(frameKey - static_cast<ULONG>(lastKey)) > 0;
    }
    if (newer) {
        if (previousKey == static_cast<ULONG>(lastKey)) {
            devicePosition = RingAdvance(devicePosition, lastFrames, capacity);
        } else {
            outputMissed = 1;
            chainKey = previousKey;
            chainFrames = previousFrames;
            chainBase = RingAdvance(devicePosition, previousFrames, capacity);
            devicePosition = RingAdvance(chainBase, frames, capacity);
        }
        lastFrames = frames;
        lastKey = static_cast<LONG>(frameKey);
        *position = devicePosition;
        return true;
    }
    if (frameKey == static_cast<ULONG>(lastKey)) {
        if (frames > lastFrames) {
            lastFrames = frames;
        }
        *position = devicePosition;
        return true;
    }
    if (frameKey == chainKey) {
        *position = chainBase;
        return true;
    }
    outputMissed = 1;
    return false;
}

void EngineRouting::CopyToDevice(ULONG bufferIndex, const BufferRegion& region, ULONG bytes,
                                 PUCHAR destination)
{
    // In two pieces, the second from the ring's start: the guard mirror need not cover it all.
    const ULONG first = bytes < region.firstBytes ? bytes : region.firstBytes;
    const UCHAR* ringStart = outputRing.Buffer(bufferIndex);
    RtlCopyMemory(destination, region.firstPointer, first);
    RtlCopyMemory(destination + first, ringStart, bytes - first);
    if (NextRecord(packetWrite) == packetRead) {
        return;  // full: this copy is not kept up to date
    }
    packetRecords[packetWrite] = PacketRecord{
        .bufferIndex = bufferIndex,
        .source = region.firstPointer,
        .firstBytes = first,
        .secondSource = ringStart,
        .secondBytes = bytes - first,
        .destination = destination,
        .refreshed = 0,
    };
    packetWrite = NextRecord(packetWrite);
}

void EngineRouting::GetDeviceOutputData(ULONG frameKey, ULONG frames, ULONG bufferIndex,
                                        PVOID* data, bool forceCopy, ULONG previousKey,
                                        ULONG previousFrames)
{
    if (data == nullptr) {
        return;
    }
    InStackLock routing(&routingLock);
    const ULONG capacity = outputRing.Capacity();
    ULONG position = 0;
    if (frames == 0) {
        frames = 1;
    }
    // More than one lap of the ring cannot be served.
    if (capacity == 0 || frames >= capacity ||
        !DevicePosition(frameKey, frames, previousKey, previousFrames, &position)) {
        *data = nullptr;
        return;
    }
    if (bufferIndex >= outputRing.BufferCount()) {
        bufferIndex = 0;
    }
    BufferRegion region{};
    if (outputRing.ReadRegion(bufferIndex, position, true, true, &region) < 0) {
        *data = nullptr;
        return;
    }
    const ULONG frameBytes = outputRing.BytesPerFrame(bufferIndex);
    const ULONG bytes = frames * frameBytes;  // below capacity x frameBytes, which fits
    const ULONGLONG offset = ULONGLONG{position} * frameBytes;
    const bool crossesPage = offset / kPageBytes != (offset + bytes - 1) / kPageBytes;
    const bool recordsFull = NextRecord(packetWrite) == packetRead;
    // A pointer into the ring is read contiguously: past the ring's end only the guard backs it.
    const bool fitsInPlace =
        ULONGLONG{position} + frames <= ULONGLONG{capacity} + outputRing.Guard();
    auto* destination = static_cast<PUCHAR>(*data);
    if (destination != nullptr && (((forceCopy || crossesPage) && !recordsFull) || !fitsInPlace)) {
        CopyToDevice(bufferIndex, region, bytes, destination);
        return;
    }
    *data = fitsInPlace ? region.firstPointer : nullptr;
}

void EngineRouting::CancelPacket(ULONG bufferIndex, PVOID destination)
{
    InStackLock routing(&routingLock);
    if (bufferIndex >= outputRing.BufferCount()) {
        bufferIndex = 0;  // as GetDeviceOutputData took it
    }
    ULONG found = packetRead;
    while (found != packetWrite && !(packetRecords[found].bufferIndex == bufferIndex &&
                                     packetRecords[found].destination == destination)) {
        found = NextRecord(found);
    }
    if (found == packetWrite || destination == nullptr) {
        return;
    }
    if (found == packetRead) {
        packetRecords[found] = PacketRecord{};
        packetRead = NextRecord(packetRead);
    } else if (found > packetRead) {
        // The records before it move one place up and the read index follows.
        for (ULONG i = found; i > packetRead; --i) {
            packetRecords[i] = packetRecords[i - 1];
        }
        packetRecords[packetRead] = PacketRecord{};
        packetRead = NextRecord(packetRead);
    } else {
        // The ring has wrapped: the records after it move one place down.
        ULONG i = found;
        for (; NextRecord(i) != packetWrite; i = NextRecord(i)) {
            packetRecords[i] = packetRecords[NextRecord(i)];
        }
        packetRecords[i] = PacketRecord{};
        packetWrite = (packetWrite + kPacketRecordCount - 1) % kPacketRecordCount;
    }
}
