// The device model's stream configurations, rates, buffer sizes and latencies.
#include "DeviceModel.h"
#include "DeviceModelRecords.h"
#include "ProductConfigurations.h"
#include "StreamConfiguration.h"
#include "common/InStackLock.h"
#include "engine/MidiConfiguration.h"
#include "engine/StreamingEngine.h"

namespace {

constexpr LONG kEInvalidArg = static_cast<LONG>(0x80070057);
constexpr LONG kEFail = static_cast<LONG>(0x80004005);
constexpr LONG kRoutingBuffersFailed = -3;
constexpr ULONG kEmptyConfigurationOffset = 0x7FFFFFFF;
constexpr ULONG kUnknownGranularity = 64;

// The configuration with no channels and no endpoints the engine falls back to when it cannot
// set up buffers for the one asked for.
StreamConfiguration EmptyConfiguration(const StreamConfiguration& from)
{
    StreamConfiguration empty = from;
    empty.index = from.index + kEmptyConfigurationOffset;
    empty.deviceOutputChannels = 0;
    empty.outputChannels = 0;
    empty.outputEndpointCount = 0;
    empty.outputLayouts.count = 0;
    empty.deviceInputChannels = 0;
    empty.inputChannels = 0;
    empty.inputEndpointCount = 0;
    empty.inputLayouts.count = 0;
    return empty;
}

}  // namespace

ULONG FindNearestRate(ULONG rate, ULONG* nearest, const StreamConfiguration& configuration)
{
    const ULONG count = configuration.rateCount;
    if (count == 0 || configuration.rates == nullptr) {
        *nearest = 0;
        return 0;
    }
    const ULONG* rates = configuration.rates;
    if (rate >= rates[count - 1]) {
        *nearest = rates[count - 1];
        return count - 1;
    }
    for (ULONG i = 0; i < count; ++i) {
        if (rates[i] == rate) {
            *nearest = rate;
            return i;
        }
        if (rates[i] > rate) {
            const ULONG lower = i > 0 ? i - 1 : 0;
            const ULONG below = rate > rates[lower] ? rate - rates[lower] : rates[lower] - rate;
            const ULONG above = rates[i] - rate;
            const ULONG index = below <= above ? lower : i;
            *nearest = rates[index];
            return index;
        }
    }
    *nearest = rates[count - 1];  // not reached: the last rate is above rate
    return count - 1;
}

LONG DeviceModel::GetConfiguration(ULONG index, StreamConfiguration* record)
{
    if (CopyProductConfiguration(index, record)) {
        return 0;
    }
    CopyProductConfiguration(0, record);
    return kEInvalidArg;
}

LONG DeviceModel::SetStreamConfiguration(const StreamConfiguration* record, LONG rateIndex)
{
    if (record->rateCount > kMaxConfigurationRates) {
        return kEInvalidArg;
    }
    InStackLock lock(&configurationLock);
    if (static_cast<LONG>(record->index) == configurationIndex) {
        return 1;
    }
    const LONG previousBefore = previousConfigurationIndex;
    previousConfigurationIndex = configurationIndex;
    configurationIndex = static_cast<LONG>(record->index);
    StreamConfiguration copy = *record;
    const LONG result = GetEngine()->ConfigureRouting(&copy, rateIndex);
    if (result == kRoutingBuffersFailed) {
        copy = EmptyConfiguration(*record);
        configurationIndex = static_cast<LONG>(copy.index);
        GetEngine()->ConfigureRouting(&copy, -1);
    }
    if (result == kEFail || result == kEInvalidArg) {
        // Refused before anything changed (the device streams): the stream set keeps the
        // configuration in force, and so must the model, or the same change asked again later
        // would be taken as done.
        configurationIndex = previousConfigurationIndex;
        previousConfigurationIndex = previousBefore;
    }
    if (result >= 0 && owner != nullptr) {
        // Still under the lock: the renaming always goes through its work item.
        owner->generalSink->OnConfigurationChanged();
    }
    return result;
}

LONG DeviceModel::SetMidiConfiguration(const MidiConfiguration* record)
{
    InStackLock lock(&configurationLock);
    midiConfigurationIndex = static_cast<LONG>(record->index);
    return GetEngine()->ConfigureMidiPorts(record);
}

ULONG DeviceModel::GetCurrentRate()
{
    return GetEngine()->ReadCurrentRate();
}

ULONG DeviceModel::GetCurrentRateIndex(LONG* configuration)
{
    ULONG rateIndex = 0;
    ULONG rate = 0;
    GetEngine()->GetRoutingState(configuration, &rateIndex, &rate);
    return rateIndex;
}

bool DeviceModel::CanUseRate(ULONG rate)
{
    if (GetEngine()->HasActiveStreams() || IsExternalClockSelected()) {
        return rate == GetCurrentRate();
    }
    StreamConfiguration current;
    GetEngine()->GetEngineConfiguration(&current);
    for (ULONG i = 0; i < current.rateCount && current.rates != nullptr; ++i) {
        if (current.rates[i] == rate) {
            return true;
        }
    }
    return false;
}

ULONG DeviceModel::GetNearestRateIndex(ULONG rate, LONG* configuration)
{
    StreamConfiguration current;
    GetEngine()->GetEngineConfiguration(&current);
    *configuration = static_cast<LONG>(current.index);
    if (current.rateCount == 0 || rate <= current.rates[0]) {
        return 0;
    }
    ULONG nearest = 0;
    return FindNearestRate(rate, &nearest, current);
}

ULONG DeviceModel::GetBufferGranularity(ULONG rateIndex)
{
    LONG index = -1;
    ULONG current = 0;
    ULONG rate = 0;
    GetEngine()->GetRoutingState(&index, &current, &rate);
    // A rate index past the table's three entries is as unknown as the configuration -1.
    if (static_cast<ULONG>(index) >= kProductConfigurationCount ||
        rateIndex >= kMaxConfigurationRates) {
        return kUnknownGranularity;
    }
    return ProductBufferGranularity(static_cast<ULONG>(index), rateIndex);
}

NTSTATUS DeviceModel::GetLatencies(ULONG rate, ULONG bufferSize, ULONG* first, ULONG* second)
{
    ULONG transfersAhead = 0;
    const NTSTATUS status = GetEngine()->GetCallbackDelay(&transfersAhead);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    const ULONGLONG queued = transfersAhead > 0 ? transfersAhead - 1 : 0;
    ULONGLONG perMs = rate / 1000 + 2;
    StreamConfiguration current;
    GetEngine()->GetEngineConfiguration(&current);
    if (current.rateCount > 0) {
        LONG index = -1;
        const ULONG rateIndex = GetNearestRateIndex(rate, &index);
        if (static_cast<ULONG>(index) == current.index && rateIndex < current.rateCount) {
            perMs = current.framesPerMs[rateIndex];
        }
    }
    const ULONGLONG half = perMs + perMs / 2;
    const ULONGLONG ahead = queued * perMs + half;
    ULONGLONG firstFrames = static_cast<ULONGLONG>(bufferSize) + ahead;
    ULONGLONG secondFrames = static_cast<ULONGLONG>(bufferSize) + half;
    ULONG rows = 0;
    const LatencyRow* table = ProductLatencyTable(&rows);
    for (ULONG i = rows; i-- > 0;) {
        if (table[i].rate == rate) {
            firstFrames += table[i].first;
            secondFrames += table[i].second;
            break;
        }
    }
    // A caller's buffer size near the top of the range must not wrap to a small latency.
    constexpr ULONGLONG kMax = 0xFFFFFFFFull;
    *first = static_cast<ULONG>(firstFrames > kMax ? kMax : firstFrames);
    *second = static_cast<ULONG>(secondFrames > kMax ? kMax : secondFrames);
    return STATUS_SUCCESS;
}
