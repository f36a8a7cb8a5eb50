#include "audio/ChannelLayout.h"

#include <bit>

namespace {

constexpr uint32_t kMaskableChannels = 32;

// The next run of one list from *cursor on, across items.
bool NextRunInList(const ChannelLayoutList& list, ChannelCursor* cursor, ChannelSpan* span)
{
    while (cursor->item < list.count) {
        if (NextChannelRun(list.items[cursor->item], cursor->channel, span)) {
            cursor->channel = span->start;
            return true;
        }
        ++cursor->item;
        cursor->channel = 0;
    }
    return false;
}

}  // namespace

bool NextChannelRun(const ChannelLayout& layout, uint32_t from, ChannelSpan* span)
{
    // Found with bit scans, not channel by channel: a transfer asks once per run, each time from
    // further along the same layout. Bit c of the 64-bit mask is channel c; channels 32 and up are
    // never excluded, so the complement always has a set bit to find.
    const uint64_t excluded = layout.excludedMask;
    uint32_t start = kMaskableChannels;
    if (from < kMaskableChannels) {
        start = from + static_cast<uint32_t>(std::countr_zero(~excluded >> from));
    }
    if (start >= layout.channelCount || start >= kMaskableChannels) {
        span->start = layout.channelCount;
        span->length = 0;
        return false;
    }
    const uint64_t excludedFromStart = excluded >> start;
    uint32_t end = layout.channelCount;
    if (excludedFromStart != 0) {
        const uint32_t nextExcluded =
            start + static_cast<uint32_t>(std::countr_zero(excludedFromStart));
        end = nextExcluded < end ? nextExcluded : end;
    }
    span->start = start;
    span->length = end - start;
    return true;
}

bool PairChannelRuns(const ChannelLayoutList& sourceList, const ChannelLayoutList& destinationList,
                     ChannelCursor* source, ChannelCursor* destination, uint32_t* length)
{
    ChannelSpan sourceSpan{};
    ChannelSpan destinationSpan{};
    if (!NextRunInList(sourceList, source, &sourceSpan) ||
        !NextRunInList(destinationList, destination, &destinationSpan)) {
        return false;
    }
    *length =
        sourceSpan.length < destinationSpan.length ? sourceSpan.length : destinationSpan.length;
    return true;
}

bool SameLayouts(const ChannelLayoutList& a, const ChannelLayoutList& b)
{
    if (a.count != b.count) {
        return false;
    }
    for (uint32_t i = 0; i < a.count; ++i) {
        const ChannelLayout& x = a.items[i];
        const ChannelLayout& y = b.items[i];
        if (x.format != y.format || x.channelCount != y.channelCount ||
            x.excludedCount != y.excludedCount || x.excludedMask != y.excludedMask) {
            return false;
        }
    }
    return true;
}

uint32_t TotalChannels(const ChannelLayoutList& list)
{
    uint32_t total = 0;
    for (uint32_t i = 0; i < list.count; ++i) {
        total += list.items[i].channelCount;
    }
    return total;
}

bool LocateChannel(const ChannelLayoutList& list, uint32_t channel, ChannelCursor* cursor)
{
    for (uint32_t i = 0; i < list.count; ++i) {
        if (channel < list.items[i].channelCount) {
            *cursor = {i, channel};
            return true;
        }
        channel -= list.items[i].channelCount;
    }
    return false;
}
