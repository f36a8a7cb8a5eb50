// Pool tags of the MIDI side, built so that their bytes in memory spell the text.
#pragma once

#include "audio/PoolTags.h"

// Router, clients, FIFO SysEx buffers and chunk nodes, output queues, nodes and segments.
inline constexpr ULONG kMidiObjectTag = AudioPoolTag("PcNw");
// The 256-byte data blocks of SysEx buffer chunks.
inline constexpr ULONG kSysExDataTag = AudioPoolTag("BxSw");
// The codec's array of output queue pointers.
inline constexpr ULONG kMidiQueueArrayTag = AudioPoolTag("AdPw");
