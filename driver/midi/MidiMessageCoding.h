// Turning a writer's MIDI bytes into message nodes (with running status and SysEx segments), and
// message nodes into USB-MIDI event packets. The caller holds the output queue's send lock.
#pragma once

#include <wdm.h>

#include "MidiMessageNode.h"
#include "UsbMidiPacket.h"

class MidiNodePool;

// Kept by the router for each writer.
struct MidiWriterState
{
    UCHAR runningStatus;  // 0 = none
    MidiMessageNode* unfinished;
};

// Who is told that the codec no longer holds a segment into a writer's buffer.
class MidiBufferRelease
{
public:
    virtual void ReleaseBuffer(MidiWriter* writer, const UCHAR* buffer) = 0;

protected:
    ~MidiBufferRelease() = default;
};

struct MidiParseContext
{
    MidiNodePool* pool;
    MidiWriterState* writer;
    ULONG segmentsAdded;  // segments into this write's bytes
    bool outOfMemory;     // a segment could not be had
};

inline constexpr LONG kParseComplete = 0;
inline constexpr LONG kParseNeedsMore = 1;
inline constexpr LONG kParseMalformed = -1;

// Feeds bytes from *position on to the node until it completes (kParseComplete), the bytes end or
// a real-time byte comes (kParseNeedsMore; the real-time byte stays unread), or a byte breaks it
// (kParseMalformed; that byte stays unread). Real-time bytes never break a message in progress.
LONG ParseMidiMessage(MidiMessageNode* node, const UCHAR* bytes, ULONG length, ULONG* position,
                      MidiParseContext* context);

// The node's next packet ({CIN, 3 bytes}, or byte 0 kNoPacket when nothing can go yet); true while
// the node has more to send. Segments fully sent go back to the pool and their buffers to release.
bool EncodeMidiPacket(MidiMessageNode* node, UsbMidiPacket* packet, MidiNodePool* pool,
                      MidiBufferRelease* release);

// SysEx bytes left in the node's segments, counted up to limit.
ULONG SysExBytesLeft(const MidiMessageNode* node, ULONG limit);

// Gives back every segment of the node, releasing its buffer.
void ReleaseSegments(MidiMessageNode* node, MidiNodePool* pool, MidiBufferRelease* release);
