// Which endpoints the device offers for a stream configuration, and their names: wave endpoints
// from the configuration's channels (or the endpoints it describes), MIDI filters from the MIDI
// port pairs. Pure: it only reads what it is given and hands each endpoint to a sink, so the
// caller decides what an endpoint becomes.
#pragma once

#include <wdm.h>

#include "StreamConfiguration.h"
#include "ks/WaveEndpoint.h"
#include "midi/MidiConfiguration.h"

inline constexpr ULONG kEndpointKindUndecided = 0xFFFFFFFF;

// What endpoint naming reads from the device model and the stream manager.
struct EndpointSources
{
    const StreamConfiguration* configuration;
    ULONG deviceOutputs;  // GetDeviceChannelCounts
    ULONG deviceInputs;
    ULONG rateCount;  // GetSupportedRates
    const ULONG* rates;
    PCWSTR productName;  // GetProductNameWide
    ULONG systemVersion;
};

class WaveEndpointSink
{
public:
    virtual void AttachEndpoint(const WaveEndpoint& endpoint) = 0;

protected:
    ~WaveEndpointSink() = default;
};

// Output endpoints first (pairs or described ones, then the multichannel one), then inputs.
void ListWaveEndpoints(const EndpointSources& sources, WaveEndpointSink* sink);

enum MidiFilterKind : ULONG
{
    kMidiFilterInputOnly = 0,
    kMidiFilterOutputOnly = 1,
    kMidiFilterPair = 2,
};

struct MidiFilterPlan
{
    ULONG kind;        // MidiFilterKind
    LONG inputIndex;   // -1: none
    LONG outputIndex;  // -1: none
};

class MidiFilterSink
{
public:
    virtual void AddMidiFilter(const MidiFilterPlan& plan) = 0;

protected:
    ~MidiFilterSink() = default;
};

// One MIDI filter per output port (paired with the input of the same id when there is one), then
// one per input that no output took. Negative ids are no ports.
void ListMidiFilters(const MidiConfiguration& configuration, MidiFilterSink* sink);
