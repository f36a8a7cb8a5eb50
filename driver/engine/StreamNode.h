// One render stream of a wave pin as the stream manager keeps it. The pin fills in the block's
// format under the node lock; the manager owns everything else.
#pragma once

#include <wdm.h>

#include "audio/PoolTags.h"

class PinStreamSink;

// Marks a live node or client stream; anything else handed back to the manager is refused.
inline constexpr ULONG kStreamObjectMagic = 0xABCD1234;
// Pool tag of the stream manager, its nodes and the client streams kept in its list.
inline constexpr ULONG kStreamObjectTag = AudioPoolTag("PcNw");

struct StreamNode
{
    LONG configurationIndex;    // the configuration the block's format is for; -1 none
    UCHAR running;              // takes part in periods
    PVOID const* buffers;       // the pin's current block
    ULONG frames;               // frames of the current block
    ULONG format;               // SampleFormatCode of the block
    ULONG interleavedChannels;  // channels per frame of an interleaved block
    UCHAR interleaved;          // clear: one buffer per mix-bus channel
    ULONG startChannel;         // first mix-bus channel the block goes to
    LONG position;              // frame index in the stream set's rings; -1 not placed
    ULONG magic;                // kStreamObjectMagic while the node exists
    KSPIN_LOCK lock;            // pending, waiting and the fields the pin fills in
    LONG volatile busy;         // a transfer or a running-state change is in progress
    PinStreamSink* sink;        // the pin
    LONG pending;               // frames handed to the stream set and not yet consumed
    StreamNode* next;           // the manager's list
    UCHAR waiting;              // the block is queued until the device consumed the last one
    UCHAR discontinuity;        // a discontinuous period passed while the node ran
};
