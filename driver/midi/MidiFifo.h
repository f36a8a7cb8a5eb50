// The ring of timestamped MIDI messages between the USB-MIDI input (USB read completions at
// DISPATCH_LEVEL) and one reader client, which drains it when it can. Short messages live in the
// entry; System Exclusive data go into a SysExBuffer attached to the entry, and the fragments of
// one SysEx are chained onto the same entry until 0xF7.
//
// Everything that touches the indices and entries runs under the FIFO's in-stack queued spin lock;
// all operations are callable up to DISPATCH_LEVEL.
#pragma once

#include <wdm.h>

class SysExBuffer;

inline constexpr ULONG kMidiFifoEntries = 256;
// The unread bytes one SysEx entry may hold. A device that sends a SysEx without end while nobody
// reads would otherwise grow non-paged pool without limit.
inline constexpr ULONG kMaxUnreadSysExBytes = 64 * 1024;

struct MidiFifoEntry
{
    LONGLONG time;  // 100 ns
    UCHAR byteCount;
    UCHAR bytes[3];  // a short message
    SysExBuffer* sysEx;
    ULONG flags;  // kEntryDroppingSysEx; cleared with the entry
};

struct MidiFifo
{
    MidiFifoEntry entries[kMidiFifoEntries];
    ULONG readIndex;   // oldest entry
    ULONG writeIndex;  // next entry to write
    KSPIN_LOCK lock;
    ULONG sysExDrops;  // SysEx fragments dropped, whole or in part (cap reached, no memory, stray)
};

// The entry's SysEx went past kMaxUnreadSysExBytes: its further fragments are dropped up to its
// end byte.
inline constexpr ULONG kEntryDroppingSysEx = 1;

// A zero-filled FIFO is empty and ready; this makes one so.
void FifoInitialize(MidiFifo* fifo);

// Entries held afterwards, or E_INVALIDARG for no bytes. complete is false for the fragments of a
// SysEx. A full ring drops its oldest entry.
LONG FifoWrite(MidiFifo* fifo, LONGLONG time, const UCHAR* bytes, ULONG count, bool complete);

// Bytes copied; E_FAIL when empty; E_INVALIDARG when the oldest entry is a short message that does
// not fit capacity (it stays) or the destination is missing. whole is 1 for a short message, 0 for
// a piece of a SysEx.
LONG FifoRead(MidiFifo* fifo, LONGLONG* time, UCHAR* buffer, ULONG capacity, ULONG* whole);

bool FifoIsEmpty(MidiFifo* fifo);
// Something can be read now: an entry that is not a drained SysEx.
bool FifoHasData(MidiFifo* fifo);
// Empties the ring, releasing every SysEx buffer.
void FifoFlush(MidiFifo* fifo);
ULONG FifoCount(MidiFifo* fifo);

// Stores a message's bytes in an entry: a short message (shortMessage and at most 3 bytes) on an
// entry without a SysEx buffer inline, anything else in the entry's SysEx buffer, created on first
// use. 0; E_INVALIDARG for no bytes; E_OUTOFMEMORY when the buffer or a chunk could not be had
// (what was stored stays).
LONG AppendMidiBytes(MidiFifoEntry* entry, const UCHAR* data, ULONG length, bool shortMessage);
