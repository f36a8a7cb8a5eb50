#include "ProductConfigurations.h"

#include <iterator>

#include "audio/SampleFormat.h"

namespace {

const ULONG kOutputKinds[] = {ChannelKindTag("line"), ChannelKindTag("line")};
const PCWSTR kOutputNames[] = {u"Out 1", u"Out 2"};
// Kept constant rather than rebuilt at each query: the tables are shared by every device and
// rewriting them while another device reads them would be a race for no change.
const ChannelLayout kOutputLayouts[] = {{kSampleInt24LE, 2, 0, 0}};

const ULONG kRatesAll[] = {44100, 48000, 96000};
const ULONG kFramesPerMsAll[] = {46, 50, 99};
const ULONG kMinimumBufferAll[] = {16, 16, 16};

constexpr StreamConfiguration ProductConfiguration(ULONG index, ULONG rateCount)
{
    return StreamConfiguration{
        .index = index,
        .deviceOutputChannels = 2,
        .outputChannels = 2,
        .outputChannelKinds = kOutputKinds,
        .outputChannelNames = kOutputNames,
        .outputEndpointCount = 0,
        .outputEndpointChannels = nullptr,
        .outputEndpointNames = nullptr,
        .outputEndpointNameGuids = nullptr,
        .outputLayouts = {static_cast<uint32_t>(std::size(kOutputLayouts)), kOutputLayouts},
        .reservedCount = 2,
        .deviceInputChannels = 0,
        .inputChannels = 0,
        .inputChannelKinds = nullptr,
        .inputChannelNames = nullptr,
        .inputEndpointCount = 0,
        .inputEndpointChannels = nullptr,
        .inputEndpointNames = nullptr,
        .inputEndpointNameGuids = nullptr,
        .inputLayouts = {0, nullptr},
        .rateCount = rateCount,
        .rates = kRatesAll,
        .framesPerMs = kFramesPerMsAll,
        .minimumBufferSize = kMinimumBufferAll,
        .maximumBufferSize = 2048,
        .ringBlockSize = 512,
    };
}

// The two differ only in the index and the rate list (configuration 1 stops at 48000).
const StreamConfiguration kConfigurations[kProductConfigurationCount] = {
    ProductConfiguration(0, 3),
    ProductConfiguration(1, 2),
};

const ULONG kGranularity[kProductConfigurationCount][kMaxConfigurationRates] = {
    {16, 16, 16},
    {16, 16, 16},
};

const LatencyRow kLatencyTable[] = {
    {44100, 44, 44},
    {48000, 48, 48},
    {96000, 96, 96},
};

const ULONG kSupportedRates[] = {kLatencyTable[0].rate, kLatencyTable[1].rate,
                                 kLatencyTable[2].rate};

}  // namespace

bool CopyProductConfiguration(ULONG index, StreamConfiguration* record)
{
    RtlZeroMemory(record, sizeof *record);
    if (index >= kProductConfigurationCount) {
        return false;
    }
    *record = kConfigurations[index];
    return true;
}

ULONG ProductBufferGranularity(ULONG configurationIndex, ULONG rateIndex)
{
    return kGranularity[configurationIndex][rateIndex];
}

const LatencyRow* ProductLatencyTable(ULONG* count)
{
    *count = static_cast<ULONG>(std::size(kLatencyTable));
    return kLatencyTable;
}

const ULONG* ProductSupportedRates(ULONG* count)
{
    *count = static_cast<ULONG>(std::size(kSupportedRates));
    return kSupportedRates;
}
