// A class request to the audio control interface as the control filter's property carries it.
#pragma once

#include <ks.h>
#include <wdm.h>

#include <cstddef>

inline constexpr ULONG kRawDeviceRequestTag = 0x1000;
// The property's data buffer is at least this long; a longer transfer is refused.
inline constexpr ULONG kRawDeviceBufferLength = 128;

struct RawDeviceRequest
{
    KSPROPERTY property;
    ULONG tag;  // kRawDeviceRequestTag
    UCHAR request;
    UCHAR unused1;
    USHORT value;
    USHORT index;
    USHORT unused2;
    ULONG length;  // bytes to move
    UCHAR unused3[56];
};
static_assert(sizeof(RawDeviceRequest) == 96);
static_assert(offsetof(RawDeviceRequest, tag) == 24);
static_assert(offsetof(RawDeviceRequest, request) == 28);
static_assert(offsetof(RawDeviceRequest, value) == 30);
static_assert(offsetof(RawDeviceRequest, index) == 32);
static_assert(offsetof(RawDeviceRequest, length) == 36);
