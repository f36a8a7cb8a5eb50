// The USB-MIDI OUT transfer being filled: event packets appended at the byte count until fewer
// than 4 bytes of the endpoint's packet size remain. An endpoint whose packet size is below 4
// cannot carry a single event packet and is not used.
#pragma once

#include <wdm.h>

#include "UsbMidiPacket.h"

struct MidiOutTransfer
{
    UCHAR* buffer;   // capacity bytes
    ULONG capacity;  // the endpoint's maximum packet size
    ULONG byteCount;
};

inline bool IsUsableMidiPacketSize(ULONG maximumPacketSize)
{
    return maximumPacketSize >= kUsbMidiPacketSize;
}

// Appends {(port << 4) | CIN, bytes 1-3}. Answers true when the transfer is full (fewer than 4
// bytes left) and must go out now. The caller checked IsUsableMidiPacketSize and that the
// transfer is not full; port is below 16.
bool AppendMidiOutPacket(MidiOutTransfer* transfer, const UsbMidiPacket* packet, ULONG port);
