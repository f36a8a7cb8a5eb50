#include "ks/MidiOutputRecords.h"

#include <dmusicks.h>

#include "ks/MidiPinStream.h"

namespace {

ULONG Bounded(ULONGLONG advance, ULONG remaining)
{
    return advance < remaining ? static_cast<ULONG>(advance) : remaining;
}

MidiRecordWalk ReadRaw(const UCHAR* at, ULONG remaining, MidiOutRecord* record)
{
    if (remaining < sizeof(KSMUSICFORMAT)) {
        return MidiRecordWalk::End;
    }
    KSMUSICFORMAT header;
    RtlCopyMemory(&header, at, sizeof header);
    if (header.ByteCount > remaining - sizeof header) {
        return MidiRecordWalk::Malformed;
    }
    record->dataOffset = sizeof header;
    record->dataBytes = header.ByteCount;
    // The data is padded to four bytes; the last record of a frame may leave its padding out.
    const ULONGLONG padded = (static_cast<ULONGLONG>(header.ByteCount) + 3) & ~3ull;
    record->advance = Bounded(sizeof header + padded, remaining);
    record->delta = static_cast<LONGLONG>(header.TimeDeltaMs) * 10000;
    return MidiRecordWalk::Record;
}

MidiRecordWalk ReadDirectMusic(const UCHAR* at, ULONG remaining, MidiOutRecord* record)
{
    if (remaining < sizeof(DMUS_EVENTHEADER)) {
        return MidiRecordWalk::End;
    }
    DMUS_EVENTHEADER header;
    RtlCopyMemory(&header, at, sizeof header);
    if (header.cbEvent > remaining - sizeof header) {
        return MidiRecordWalk::Malformed;
    }
    record->dataOffset = sizeof header;
    record->dataBytes = header.cbEvent;
    // (cbEvent + 27) & ~7 in 64 bits: near 2^32 it would wrap to a small step in 32.
    const ULONGLONG size = (static_cast<ULONGLONG>(header.cbEvent) + 27) & ~7ull;
    record->advance = Bounded(size, remaining);
    record->delta = header.rtDelta;
    return MidiRecordWalk::Record;
}

}  // namespace

MidiRecordWalk ReadMidiOutRecord(ULONG format, const UCHAR* at, ULONG remaining,
                                 MidiOutRecord* record)
{
    *record = {};
    return format == kMidiDataDirectMusic ? ReadDirectMusic(at, remaining, record)
                                          : ReadRaw(at, remaining, record);
}
