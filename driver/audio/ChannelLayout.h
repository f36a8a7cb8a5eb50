#pragma once
// The description of a set of interleaved buffers, one ChannelLayout per buffer, and the walk over
// the channels of such a set that take part in a transfer.

#include <cstdint>

#include "audio/SampleFormat.h"

struct ChannelLayout
{
    SampleFormatCode format;  // of every sample of the buffer
    uint32_t channelCount;    // channels per frame
    uint32_t excludedCount;   // channels that take no part (bits set in excludedMask)
    uint32_t excludedMask;    // bit c: channel c takes no part; only channels 0..31 can be left out
};

// Item i describes buffer i of a parallel array of buffer pointers. Channels are numbered across
// the list, item after item, excluded channels included.
struct ChannelLayoutList
{
    uint32_t count;
    const ChannelLayout* items;
};

// A run of channels of one layout that take part, as NextChannelRun finds it.
struct ChannelSpan
{
    uint32_t start;   // first channel of the run
    uint32_t length;  // consecutive channels from start
};

// The first run of channels that take part at or after channel from. Returns false when there is
// none (always when from >= 32); span->start is then channelCount and span->length 0. With a zero
// mask the whole layout is one run, however many channels it has.
bool NextChannelRun(const ChannelLayout& layout, uint32_t from, ChannelSpan* span);

// A cursor into a layout list: the item and the channel within it.
struct ChannelCursor
{
    uint32_t item;
    uint32_t channel;
};

// Moves each cursor to its next run (to the next item, channel 0, when an item has no further
// run) and returns the length both runs share, the smaller of the two. Returns false, with the
// cursors at the end of their walk, when either list is exhausted.
bool PairChannelRuns(const ChannelLayoutList& sourceList, const ChannelLayoutList& destinationList,
                     ChannelCursor* source, ChannelCursor* destination, uint32_t* length);

// The cursor of channel `channel` of the list, counted across items (excluded channels
// included). Returns false when the list has fewer channels.
bool LocateChannel(const ChannelLayoutList& list, uint32_t channel, ChannelCursor* cursor);

// Two lists describe the same buffers: same count and every item equal in all four fields.
bool SameLayouts(const ChannelLayoutList& a, const ChannelLayoutList& b);

// Sum of the items' channelCount.
uint32_t TotalChannels(const ChannelLayoutList& list);

// Bytes of one frame of a layout's buffer.
constexpr uint32_t BytesPerFrame(const ChannelLayout& layout)
{
    return BytesPerSample(layout.format) * layout.channelCount;
}
