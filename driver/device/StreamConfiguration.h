// The record of one configuration of the device's streams, copied by value everywhere (the device
// model, the engine, the engine's stream set and the stream manager each keep a copy). The arrays
// it points at are static data of the driver or of the configuration's owner, never owned by a
// copy.
#pragma once

#include <wdm.h>

#include "audio/ChannelLayout.h"

struct StreamConfiguration
{
    ULONG index;
    ULONG deviceOutputChannels;       // 0 in the empty configuration
    ULONG outputChannels;             // offered to clients: the width of the engine's mix bus
    const ULONG* outputChannelKinds;  // four-letter tags per output channel: 'line', 'spdf', 'spdo'
    const PCWSTR* outputChannelNames;
    ULONG outputEndpointCount;  // 0: endpoints are formed from the channel kinds
    const ULONG* outputEndpointChannels;
    const PCWSTR* outputEndpointNames;
    const GUID* const* outputEndpointNameGuids;
    ChannelLayoutList outputLayouts;
    ULONG reservedCount;
    ULONG deviceInputChannels;  // leading input layouts within this count are physical inputs
    ULONG inputChannels;        // offered to clients
    const ULONG* inputChannelKinds;
    const PCWSTR* inputChannelNames;
    ULONG inputEndpointCount;
    const ULONG* inputEndpointChannels;
    const PCWSTR* inputEndpointNames;
    const GUID* const* inputEndpointNameGuids;
    ChannelLayoutList inputLayouts;
    ULONG rateCount;                 // entries of the three per-rate arrays
    const ULONG* rates;              // Hz, ascending
    const ULONG* framesPerMs;        // most frames one 1 ms USB frame carries, per rate
    const ULONG* minimumBufferSize;  // frames, per rate
    ULONG maximumBufferSize;         // frames
    ULONG ringBlockSize;             // frames per block of the engine's channel ring
};

// Four-letter channel-kind tags, first letter in the high byte.
constexpr ULONG ChannelKindTag(const char (&text)[5])
{
    return static_cast<ULONG>(static_cast<UCHAR>(text[0])) << 24 |
           static_cast<ULONG>(static_cast<UCHAR>(text[1])) << 16 |
           static_cast<ULONG>(static_cast<UCHAR>(text[2])) << 8 |
           static_cast<ULONG>(static_cast<UCHAR>(text[3]));
}
