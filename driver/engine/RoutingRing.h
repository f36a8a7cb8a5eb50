// Small arithmetic the stream set and the client streams share: positions moving round a ring,
// rewinding a ring, and the channels of a layout that take part.
#pragma once

#include <wdm.h>

#include "audio/ChannelBufferSet.h"
#include "audio/ChannelLayout.h"

// position + frames, modulo capacity (not 0), without overflow.
inline ULONG RingAdvance(ULONG position, ULONG frames, ULONG capacity)
{
    return static_cast<ULONG>((ULONGLONG{position} + frames) % capacity);
}

// Both indexes back to 0 and every frame silent.
inline void RewindRing(ChannelBufferSet* ring)
{
    const ULONG capacity = ring->Capacity();
    if (capacity == 0) {
        return;
    }
    ring->CommitWrite(0, 0);
    ring->AdvanceRead((capacity - ring->ReadIndex()) % capacity, true);
    ring->SilenceFrames(0, capacity);
}

inline ULONG UsableChannels(const ChannelLayout& layout)
{
    return layout.excludedCount < layout.channelCount ? layout.channelCount - layout.excludedCount
                                                      : 0;
}

inline ULONG UsableChannels(const ChannelLayoutList& list)
{
    ULONG channels = 0;
    for (ULONG i = 0; list.items != nullptr && i < list.count; ++i) {
        channels += UsableChannels(list.items[i]);
    }
    return channels;
}
