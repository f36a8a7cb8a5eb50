// Small arithmetic the stream set's files share: positions moving round a ring, and the channels
// of a layout that take part.
#pragma once

#include <wdm.h>

#include "audio/ChannelLayout.h"

// position + frames, modulo capacity (not 0), without overflow.
inline ULONG RingAdvance(ULONG position, ULONG frames, ULONG capacity)
{
    return static_cast<ULONG>((ULONGLONG{position} + frames) % capacity);
}

inline ULONG UsableChannels(const ChannelLayout& layout)
{
    return layout.excludedCount < layout.channelCount ? layout.channelCount - layout.excludedCount
                                                      : 0;
}

inline ULONG UsableChannels(const ChannelLayoutList& list)
{
    ULONG channels = 0;
    for (ULONG i = 0; i < list.count; ++i) {
        channels += UsableChannels(list.items[i]);
    }
    return channels;
}
