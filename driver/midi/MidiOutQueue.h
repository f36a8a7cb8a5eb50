// The queue of one MIDI output port: the messages its writers sent, ordered by time (equal times
// keep arrival order), real-time messages on a list of their own that goes first. The engine tick
// takes one packet at a time. Lists are doubly linked; each has its own in-stack queued spin lock,
// taken inside the send lock where both are needed. The send lock orders writes, the normal-list
// part of NextMidiOutPacket and the flushes. Everything runs at up to DISPATCH_LEVEL.
#pragma once

#include <wdm.h>

#include "MidiMessageNode.h"
#include "UsbMidiPacket.h"

class UsbMidiCodec;
class MidiNodePool;

struct MidiMessageList
{
    MidiMessageNode* oldest;
    MidiMessageNode* newest;
    KSPIN_LOCK lock;
};

struct MidiOutQueue
{
    MidiMessageList normal;
    MidiMessageList realTime;
    UsbMidiCodec* owner;
    MidiMessageNode* currentSysEx;  // being sent; it holds the port until it ends
    LONGLONG nextDue;               // 100 ns; INT64_MAX when nothing is due
    KSPIN_LOCK sendLock;
    MidiNodePool* pool;
};

inline constexpr LONGLONG kNothingDue = 0x7FFFFFFFFFFFFFFFLL;

void InitializeMidiOutQueue(MidiOutQueue* queue, UsbMidiCodec* owner, MidiNodePool* pool);
// Frees every queued message, releasing its buffers.
void DestroyMidiOutQueue(MidiOutQueue* queue);

// 1 when the codec keeps references into bytes (the writer gets the buffer back through its
// owner's buffer done), 0 when it does not, E_INVALIDARG for a writer the router does not know,
// E_OUTOFMEMORY when a node, a segment or the buffer's reference record could not be had: that
// write's SysEx bytes are dropped and nothing of them is queued.
LONG WriteMidiOut(MidiOutQueue* queue, LONGLONG time, const UCHAR* bytes, ULONG length,
                  MidiWriter* writer);

// The next packet due by now (byte 0 kNoPacket for none) and the wait until more is due (100 ns;
// 0 = more now; kNothingDue = nothing queued).
LONG NextMidiOutPacket(MidiOutQueue* queue, LONGLONG now, UsbMidiPacket* packet, LONGLONG* wait);

// Removes the writer's SysEx and unfinished messages, releasing their buffers.
void FlushWriterMessagesOfQueue(MidiOutQueue* queue, MidiWriter* writer);
// Removes every SysEx message, releasing its buffers.
void DropSysExMessagesOfQueue(MidiOutQueue* queue);
