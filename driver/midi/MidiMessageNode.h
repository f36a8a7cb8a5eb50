// One MIDI message on its way out: built from a writer's bytes, queued by time, encoded into event
// packets by the engine tick. System Exclusive data stay in the writers' buffers: the node holds
// segments that point into them, and at most two bytes of its own.
#pragma once

#include <wdm.h>

class UsbMidiCodec;
struct MidiWriter;

struct SysExSegment
{
    const UCHAR* data;  // the writer's buffer
    ULONG position;     // next byte to send
    ULONG end;
    SysExSegment* next;
};

// Node states besides a complete message's CIN (2 to 15).
inline constexpr UCHAR kNodeIdle = 255;
inline constexpr UCHAR kNodeFirstData = 0x91;   // waiting for the first data byte
inline constexpr UCHAR kNodeSecondData = 0x92;  // waiting for the second
inline constexpr UCHAR kNodeDiscarding = 0x90;  // swallowing the data bytes of an undefined status
inline constexpr UCHAR kNodeSysExOpen = 0x94;   // low two bits: SysEx bytes held in the node
inline constexpr UCHAR kNodeSysExClosed = 0x84;
inline constexpr UCHAR kNodeSysExOpenBit = 0x10;

struct MidiMessageNode
{
    LONGLONG time;  // 100 ns
    UCHAR state;
    UCHAR status;   // while SysEx: first held byte
    UCHAR data[2];  // while SysEx: second held byte in data[0]
    SysExSegment* sysEx;
    UsbMidiCodec* owner;
    MidiWriter* writerKey;
    MidiMessageNode* newer;
    MidiMessageNode* older;
};

inline bool IsSysExNode(const MidiMessageNode* node)
{
    return (node->state & 0xEC) == kNodeSysExClosed;
}

inline bool IsSysExOpen(const MidiMessageNode* node)
{
    return IsSysExNode(node) && (node->state & kNodeSysExOpenBit) != 0;
}

inline ULONG HeldSysExBytes(const MidiMessageNode* node)
{
    return node->state & 3;
}

inline bool IsCompleteNode(const MidiMessageNode* node)
{
    return node->state >= 2 && node->state <= 15;
}

// Sendable: a complete message, or a SysEx (which holds its port until it ends).
inline bool IsSendableNode(const MidiMessageNode* node)
{
    return IsCompleteNode(node) || IsSysExNode(node);
}
