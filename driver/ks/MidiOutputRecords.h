// The records of a MIDI output frame, read from what the client wrote: raw MIDI (KSMUSICFORMAT,
// data padded to four bytes) or DirectMusic events (DMUS_EVENTHEADER, records padded to eight
// bytes). Every record is bounded by the frame: a record whose data would run past it is
// malformed, and nothing past the frame is read. Pure; any IRQL.
#pragma once

#include <wdm.h>

struct MidiOutRecord
{
    ULONG dataOffset;  // bytes from the record's start to its data
    ULONG dataBytes;
    ULONG advance;   // bytes from the record's start to the next record (at most what remains)
    LONGLONG delta;  // 100 ns: raw MIDI after the previous record (the first: after the frame's
                     // time); DirectMusic after the frame's time
};

enum class MidiRecordWalk
{
    Record,
    End,        // fewer bytes remain than a header: the frame's padding
    Malformed,  // the record's data would run past the frame
};

// format: kMidiDataRaw or kMidiDataDirectMusic. at: remaining bytes of the frame.
MidiRecordWalk ReadMidiOutRecord(ULONG format, const UCHAR* at, ULONG remaining,
                                 MidiOutRecord* record);
