#include "EndpointList.h"

#include "EndpointNames.h"
#include "PinNameCategories.h"

namespace {

constexpr ULONG kLineTag = ChannelKindTag("line");
constexpr ULONG kSpdifTag = ChannelKindTag("spdf");
constexpr ULONG kSpdifOpticalTag = ChannelKindTag("spdo");
constexpr ULONG kLowestRateWithoutList = 44100;

bool IsDigital(ULONG tag)
{
    return tag == kSpdifTag || tag == kSpdifOpticalTag;
}

ULONG ChannelKindAt(const ULONG* kinds, ULONG channel)
{
    return kinds != nullptr ? kinds[channel] : 0;
}

// One direction of the configuration, read the same way for outputs and inputs.
struct Direction
{
    bool capture;
    ULONG channels;
    const ULONG* kinds;
    ULONG endpointCount;
    const ULONG* endpointChannels;
    const PCWSTR* endpointNames;
    const GUID* const* endpointGuids;
    bool mainOutputPossible;  // at most 2 channels in the configuration and on the device
    bool wideLineNames;       // more than 10 device channels
};

Direction OutputsOf(const EndpointSources& sources)
{
    const StreamConfiguration& c = *sources.configuration;
    return {false,
            c.outputChannels,
            c.outputChannelKinds,
            c.outputEndpointCount,
            c.outputEndpointChannels,
            c.outputEndpointNames,
            c.outputEndpointNameGuids,
            c.outputChannels <= 2 && sources.deviceOutputs <= 2,
            sources.deviceOutputs > 10};
}

Direction InputsOf(const EndpointSources& sources)
{
    const StreamConfiguration& c = *sources.configuration;
    return {true,
            c.inputChannels,
            c.inputChannelKinds,
            c.inputEndpointCount,
            c.inputEndpointChannels,
            c.inputEndpointNames,
            c.inputEndpointNameGuids,
            false,
            sources.deviceInputs > 10};
}

WaveEndpoint BlankEndpoint(const EndpointSources& sources, bool capture)
{
    WaveEndpoint endpoint{};
    endpoint.systemVersion = sources.systemVersion;
    endpoint.kind = kEndpointKindUndecided;
    endpoint.capture = capture ? 1 : 0;
    endpoint.lowestRate = kLowestRateWithoutList;
    endpoint.highestRate = kLowestRateWithoutList;
    if (sources.rateCount > 0 && sources.rates != nullptr) {
        endpoint.lowestRate = sources.rates[0];
        endpoint.highestRate = sources.rates[sources.rateCount - 1];
    }
    endpoint.interfaceState = 1;
    return endpoint;
}

// Pairs (or described endpoints) along the channels. The last endpoint takes only the channels
// that exist, so an odd channel count never offers a channel the device lacks.
void ListChannelEndpoints(const EndpointSources& sources, const Direction& d,
                          WaveEndpointSink* sink)
{
    const bool described = d.endpointCount > 0 && d.endpointChannels != nullptr;
    ULONG linePairs = 0;
    ULONG e = 0;
    for (ULONG c = 0; c < d.channels && (!described || e < d.endpointCount); ++e) {
        WaveEndpoint endpoint = BlankEndpoint(sources, d.capture);
        const ULONG tag = ChannelKindAt(d.kinds, c);
        const ULONG remaining = d.channels - c;
        endpoint.firstChannel = c;
        if (tag == kLineTag) {
            endpoint.kind = kEndpointLine;
        } else if (IsDigital(tag)) {
            endpoint.kind = kEndpointDigital;
        }
        endpoint.digital = (!d.capture && IsDigital(tag)) ? 1 : 0;
        if (described) {
            const ULONG wanted = d.endpointChannels[e];
            endpoint.channelCount = wanted < remaining ? wanted : remaining;
            NameDescribedEndpoint(&endpoint, sources.productName,
                                  d.endpointNames != nullptr ? d.endpointNames[e] : nullptr);
            endpoint.pinName = d.endpointGuids != nullptr ? d.endpointGuids[e] : nullptr;
            endpoint.mainOutput = (e == 0 && d.mainOutputPossible) ? 1 : 0;
        } else {
            endpoint.channelCount = remaining < 2 ? remaining : 2;
            NamePairEndpoint(&endpoint, sources.productName, d.capture, c + 1,
                             c + endpoint.channelCount);
            if (tag == kLineTag) {
                endpoint.pinName = LinePairPinName(linePairs, d.wideLineNames);
                endpoint.mainOutput = (linePairs == 0 && d.mainOutputPossible) ? 1 : 0;
                ++linePairs;
            } else if (IsDigital(tag)) {
                endpoint.pinName = SpdifPinName();
            }
        }
        sink->AttachEndpoint(endpoint);
        if (endpoint.channelCount == 0) {
            continue;  // a described endpoint without channels takes none
        }
        c += endpoint.channelCount;
    }
}

// The kind of an endpoint over all channels; the first channel's kind does not count.
void MixChannelKinds(const Direction& d, WaveEndpoint* endpoint)
{
    ULONG kind = kEndpointKindUndecided;
    for (ULONG c = 1; c < d.channels; ++c) {
        const ULONG tag = ChannelKindAt(d.kinds, c);
        if (tag == kLineTag) {
            kind = (kind == kEndpointDigital || kind == kEndpointLineAndDigital)
                       ? kEndpointLineAndDigital
                       : kEndpointLine;
        } else if (IsDigital(tag)) {
            kind = (kind == kEndpointLine || kind == kEndpointLineAndDigital)
                       ? kEndpointLineAndDigital
                       : kEndpointDigital;
            endpoint->digital = d.capture ? 0 : 1;
        }
    }
    endpoint->kind = kind;
}

void ListMultichannelEndpoint(const EndpointSources& sources, const Direction& d,
                              WaveEndpointSink* sink)
{
    if (d.channels <= 2) {
        return;
    }
    WaveEndpoint endpoint = BlankEndpoint(sources, d.capture);
    NameMultichannelEndpoint(&endpoint, sources.productName, d.capture);
    endpoint.firstChannel = 0;
    endpoint.channelCount = d.channels;
    endpoint.mainOutput = d.capture ? 0 : 1;
    endpoint.pinName = MultichannelPinName();
    MixChannelKinds(d, &endpoint);
    sink->AttachEndpoint(endpoint);
}

}  // namespace

void ListWaveEndpoints(const EndpointSources& sources, WaveEndpointSink* sink)
{
    if (sources.configuration == nullptr) {
        return;
    }
    const Direction outputs = OutputsOf(sources);
    ListChannelEndpoints(sources, outputs, sink);
    ListMultichannelEndpoint(sources, outputs, sink);
    const Direction inputs = InputsOf(sources);
    ListChannelEndpoints(sources, inputs, sink);
    ListMultichannelEndpoint(sources, inputs, sink);
}

namespace {

LONG FindPort(const ULONG* ids, ULONG count, LONG id)
{
    for (ULONG i = 0; i < count; ++i) {
        if (static_cast<LONG>(ids[i]) == id) {
            return static_cast<LONG>(i);
        }
    }
    return -1;
}

}  // namespace

void ListMidiFilters(const MidiConfiguration& configuration, MidiFilterSink* sink)
{
    const ULONG inputs = configuration.inputPortIds != nullptr ? configuration.inputPortCount : 0;
    const ULONG outputs =
        configuration.outputPortIds != nullptr ? configuration.outputPortCount : 0;
    for (ULONG o = 0; o < outputs; ++o) {
        const LONG id = static_cast<LONG>(configuration.outputPortIds[o]);
        if (id < 0) {
            continue;
        }
        const LONG input = FindPort(configuration.inputPortIds, inputs, id);
        const ULONG kind = input >= 0 ? kMidiFilterPair : kMidiFilterOutputOnly;
        sink->AddMidiFilter({kind, input, static_cast<LONG>(o)});
    }
    for (ULONG i = 0; i < inputs; ++i) {
        const LONG id = static_cast<LONG>(configuration.inputPortIds[i]);
        if (id < 0 || FindPort(configuration.outputPortIds, outputs, id) >= 0) {
            continue;
        }
        sink->AddMidiFilter({kMidiFilterInputOnly, static_cast<LONG>(i), -1});
    }
}
