// One run of the engine's 1 ms MIDI output tick: the output ports visited once each, round-robin
// from the port after the last served one, each sending the packets due within the look-ahead
// while its byte rate allows and the OUT pipe has room for more transfers. Runs at DISPATCH_LEVEL.
#pragma once

#include <wdm.h>

#include "UsbMidiPacket.h"

class UsbMidiCodec;
class MidiRouter;

// The look-ahead: messages due up to 2 ms from now go out in this tick (100 ns).
inline constexpr LONGLONG kMidiOutputLookAhead = 20000;
// The OUT transfers the tick keeps in flight at most.
inline constexpr ULONG kMaxPendingMidiOutTransfers = 8;
// A port with a byte rate sends while its backlog is at most this many bytes.
inline constexpr LONG kMidiPortBacklogLimit = 12;

// A port's byte rate as bytes per millisecond (whole and remainder in 1/10000000 byte) and what
// it has sent beyond that rate so far.
struct MidiPortThrottle
{
    ULONG wholePerMs;
    ULONG remainderPerMs;
    LONG backlog;           // bytes
    LONG backlogRemainder;  // 1/10000000 byte
};

// bytesPerSecond 0 = unlimited.
void SetMidiPortThrottle(MidiPortThrottle* throttle, ULONG bytesPerSecond);

// The USB side of the tick (the transport's USB-MIDI OUT pipe).
class MidiOutSink
{
public:
    // 0 collected, 1 a transfer went out, or a failure code.
    virtual LONG PutMidiOutPacket(const UsbMidiPacket* packet, ULONG port) = 0;
    // The OUT transfers in flight.
    virtual ULONG PendingOutTransfers() = 0;
    // The transfer being filled goes out.
    virtual void FlushMidiOut() = 0;
    // Whether the next packet can be collected. The tick takes a packet from its queue only
    // when it can: a packet taken and refused would be lost.
    virtual bool CanTakeMidiOutPacket() { return true; }

protected:
    ~MidiOutSink() = default;
};

struct MidiOutputPorts
{
    MidiPortThrottle* throttles;  // one per port; null = no port has a byte rate
    ULONG portCount;              // the MIDI configuration's output ports
    ULONG lastServed;
};

// 0; -1 when the last port served found no client open (the engine then stops the tick);
// E_INVALIDARG for a port the codec has no queue for.
LONG RunMidiOutputTick(MidiOutputPorts* ports, UsbMidiCodec* codec, MidiRouter* router,
                       LONGLONG now, MidiOutSink* sink);
