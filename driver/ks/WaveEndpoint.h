// One audio endpoint of the device as endpoint naming describes it; the wave filter keeps a copy.
#pragma once

#include <wdm.h>

inline constexpr ULONG kEndpointNameCharacters = 32;

// Endpoint kinds.
inline constexpr ULONG kEndpointLine = 0;
inline constexpr ULONG kEndpointDigital = 1;
inline constexpr ULONG kEndpointLineAndDigital = 3;  // multichannel endpoints only

struct WaveEndpoint
{
    ULONG systemVersion;                  // as QueryOsVersion reports it
    WCHAR name[kEndpointNameCharacters];  // NUL-terminated
    ULONG firstChannel;                   // first device channel of the endpoint
    ULONG channelCount;                   // 0: no filter is built
    ULONG kind;                           // kEndpoint*; any other value builds the capture topology
    UCHAR mainOutput;
    UCHAR capture;  // 1: input endpoint
    UCHAR digital;
    const GUID* pinName;
    ULONG lowestRate;      // Hz
    ULONG highestRate;     // Hz
    UCHAR interfaceState;  // the device interface is enabled when not 0
};
