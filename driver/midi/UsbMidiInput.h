// The input path of a completed USB-MIDI IN transfer: consecutive 4-byte event packets, each
// delivered to the router with its cable as the port. Everything in the transfer is data from
// the device: the cable and the CIN are four bits each and every table they index has sixteen
// rows; bytes past the last whole packet are ignored (a device cannot send part of a packet).
#pragma once

#include <wdm.h>

class MidiRouter;

// The 2 ms by which MIDI input is stamped earlier than it arrived (100 ns).
inline constexpr LONGLONG kMidiInputOffset = 20000;

// At DISPATCH_LEVEL, for each whole packet: the router's DeliverMidiInput(generation, arrival time
// less kMidiInputOffset, cable, {CIN, bytes 1-3}). 0, or the first negative answer (no client open,
// an old generation); the engine stops its tick then. Every packet is offered either way.
LONG DeliverUsbMidiTransfer(MidiRouter* router, ULONG generation, LONGLONG arrivalTime,
                            const UCHAR* data, ULONG length);
