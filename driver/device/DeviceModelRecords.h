// The records the device model fills or reads for its callers: the clock sources and the mixer.
#pragma once

#include <wdm.h>

#include "audio/SampleFormat.h"

inline constexpr ULONG kMaxClockSources = 12;

struct ClockSourceEntry
{
    ULONG index;
    ULONG channel;
    ULONG group;
    ULONG isCurrent;  // 1 or 0
    CHAR name[32];    // narrow, zero-terminated
};

struct ClockSourceRecord
{
    ULONG count;
    ClockSourceEntry entries[kMaxClockSources];
};
static_assert(sizeof(ClockSourceEntry) == 48);
static_assert(sizeof(ClockSourceRecord) == 580);

// The mixer block: a window of rows and columns of the routing gain matrix, inside a 64 x 64
// array (row r, column c at r * 64 + c; unity 0x100000000).
inline constexpr ULONG kMixerBlockSide = 64;

struct MixerBlock
{
    ULONG firstRow;
    ULONG rowCount;
    ULONG firstColumn;
    ULONG columnCount;
    SampleGain gains[kMixerBlockSide * kMixerBlockSide];
};
static_assert(sizeof(MixerBlock) == 16 + 64 * 64 * 8);

inline constexpr ULONG kMaxPeakValues = 64;
