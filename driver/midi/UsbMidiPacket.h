// The 4-byte USB-MIDI event packet. On the wire byte 0 holds the cable number (bits 7-4) and the
// Code Index Number (bits 3-0); inside the driver byte 0 holds the CIN alone and the port travels
// beside the packet. Bytes beyond the CIN's count are 0. A byte 0 of 255 means "no packet".
#pragma once

#include <wdm.h>

struct UsbMidiPacket
{
    UCHAR bytes[4];
};

inline constexpr UCHAR kNoPacket = 255;
inline constexpr ULONG kUsbMidiPacketSize = 4;
inline constexpr ULONG kUsbMidiCables = 16;
