// Pool tags of the driver: four characters, stored in memory in reading order.
#pragma once

#include <wdm.h>

constexpr ULONG PoolTag(const char (&text)[5])
{
    return static_cast<ULONG>(static_cast<UCHAR>(text[0])) |
           static_cast<ULONG>(static_cast<UCHAR>(text[1])) << 8 |
           static_cast<ULONG>(static_cast<UCHAR>(text[2])) << 16 |
           static_cast<ULONG>(static_cast<UCHAR>(text[3])) << 24;
}

inline constexpr ULONG kTagDeviceObjects = PoolTag("PcNw");  // context, device model, timers
inline constexpr ULONG kTagTimerWork = PoolTag("PTwk");      // periodic timer work packets
inline constexpr ULONG kTagRemoveLock = PoolTag("EDVQ");     // the device's remove lock
inline constexpr ULONG kTagDeviceData = PoolTag("QvDe");     // hardware ID, power packets
