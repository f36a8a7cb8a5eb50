// The record of the device's MIDI ports. The codec and the router keep a copy as their MIDI port
// table, whose index serves as the table's generation; the port ids pair inputs and outputs into
// MIDI filters.
#pragma once

#include <wdm.h>

struct MidiConfiguration
{
    ULONG index;
    ULONG inputPortCount;
    const PCWSTR* inputPortNames;
    const ULONG* inputPortIds;
    ULONG outputPortCount;
    const PCWSTR* outputPortNames;
    const ULONG* outputPortIds;
    const ULONG* outputByteRates;  // bytes per second per output port, 0 = unlimited
};
