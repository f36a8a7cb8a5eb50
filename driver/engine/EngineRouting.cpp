// The stream set's configuration and control: the listener, ConfigureRouting, rate changes,
// transport and keep-running, ring resets and release.
#include "EngineRouting.h"

#include "RoutingRing.h"
#include "RoutingStreamSink.h"
#include "StreamingEngine.h"
#include "audio/DriverResult.h"
#include "audio/PoolTags.h"
#include "common/InStackLock.h"

namespace {

constexpr ULONGLONG kMaxUlong = 0xFFFFFFFFu;
constexpr LONGLONG kMaxLong = 0x7FFFFFFF;
constexpr ULONG kRingGranularity = 0x1000;  // bytes: the ring is read by the device in pages
constexpr ULONG kMaxOutputLayouts = ChannelBufferSet::kMaxBuffers;

}  // namespace

EngineRouting::EngineRouting(StreamingEngine* owner)
    : engine(owner), mixBusAllocator(NonPagedPool, kMixBusTag)
{
    KeInitializeSpinLock(&routingLock);
    KeInitializeSpinLock(&tickLock);
    KeInitializeSpinLock(&inputPeaksLock);
    KeInitializeSpinLock(&outputPeaksLock);
    KeInitializeSpinLock(&transportLock);
    configuration.index = static_cast<ULONG>(-1);
    outputRing.InitBufferSet(&ringAllocator, kRingGranularity);
    mixBus.InitBufferSet(&mixBusAllocator, 1);
}

EngineRouting::~EngineRouting()
{
    ReleaseRouting();
}

// ---- The listener ---------------------------------------------------------------------------

void EngineRouting::SetStreamSink(RoutingStreamSink* sink)
{
    // The tick lock first: a period in progress finishes with the listener it started with.
    InStackLock tick(&tickLock);
    InStackLock routing(&routingLock);
    streamSink = sink;
}

RoutingStreamSink* EngineRouting::CurrentSink()
{
    InStackLock routing(&routingLock);
    return streamSink;
}

void EngineRouting::NotifyStreamingChanged(LONG state)
{
    RoutingStreamSink* sink = CurrentSink();
    if (sink != nullptr) {
        sink->OnStreamingChanged(state);
    }
}

bool EngineRouting::HasActiveStreams()
{
    RoutingStreamSink* sink = CurrentSink();
    return sink != nullptr && sink->IsActive();
}

// ---- Configuration --------------------------------------------------------------------------

ULONG EngineRouting::DeviceInputItemCount() const
{
    // Input items that lie wholly within the device's input channels come from the device; the
    // rest are read back from the output ring.
    const ChannelLayoutList& inputs = configuration.inputLayouts;
    ULONGLONG channels = 0;
    ULONG count = 0;
    while (count < inputs.count && inputs.items != nullptr) {
        channels += inputs.items[count].channelCount;
        if (channels > configuration.deviceInputChannels) {
            break;
        }
        ++count;
    }
    return count;
}

ULONG EngineRouting::CurrentFramesPerMs() const
{
    if (rateIndex < configuration.rateCount && configuration.framesPerMs != nullptr) {
        return configuration.framesPerMs[rateIndex];
    }
    return 0;
}

LONG EngineRouting::ConfigureRings(ULONG capacity, ULONG guard)
{
    const ULONG mixBusChannels = configuration.outputChannels;
    const ChannelLayoutList& outputs = configuration.outputLayouts;
    if (mixBusChannels == 0) {
        mixBus.ReleaseBufferSet();
        outputRing.ReleaseBufferSet();
        return 0;
    }
    const ChannelLayout mixBusLayout{kSampleInt32LE, mixBusChannels, 0, 0};
    LONG result = kRoutingRingsFailed;
    if (mixBus.ConfigureBufferSet(capacity, 1, &mixBusLayout, guard) >= 0) {
        if (outputs.count > kMaxOutputLayouts || (outputs.count != 0 && outputs.items == nullptr)) {
            result = E_INVALIDARG;
        } else if (outputRing.ConfigureBufferSet(capacity, outputs.count, outputs.items, guard) >=
                   0) {
            result = 0;
        }
    }
    if (result < 0) {
        // One ring without the other would let writers fill a bus the device never reads.
        mixBus.ReleaseBufferSet();
        outputRing.ReleaseBufferSet();
    }
    return result;
}

LONG EngineRouting::ConfigureMatrixAndPeaks()
{
    const ULONG mixBusChannels = configuration.outputChannels;
    const ULONG deviceItems = DeviceInputItemCount();
    ULONGLONG rows = mixBusChannels;
    for (ULONG i = 0; i < deviceItems; ++i) {
        rows += UsableChannels(configuration.inputLayouts.items[i]);
    }
    const ULONG columns = UsableChannels(outputRing.Layouts());
    LONG result = 0;
    if (rows > GainMatrix::kMaxRows ||
        matrix.ConfigureMatrix(static_cast<ULONG>(rows), columns) < 0) {
        matrix.ReleaseMatrix();
        result = E_OUTOFMEMORY;
    } else if (matrix.Rows() != 0) {
        matrix.FillBlock(0, mixBusChannels, matrix.Columns(), 1, kUnityGain);
        matrix.FillBlock(mixBusChannels, matrix.Rows() - mixBusChannels, matrix.Columns(), 0, 0);
    }
    ULONGLONG inputSlots = ULONGLONG{mixBusChannels} + configuration.inputChannels;
    bool peaksAllocated = inputSlots <= kMaxUlong;
    {
        InStackLock peaks(&inputPeaksLock);
        peaksAllocated = peaksAllocated && inputPeaks.Resize(static_cast<ULONG>(inputSlots));
        if (!peaksAllocated) {
            inputPeaks.Release();
        }
    }
    {
        InStackLock peaks(&outputPeaksLock);
        peaksAllocated = outputPeaks.Resize(columns) && peaksAllocated;
    }
    if (!peaksAllocated) {
        result = E_OUTOFMEMORY;
    }
    return result;
}

LONG EngineRouting::ConfigureRouting(const StreamConfiguration* record, LONG newRateIndex)
{
    if (record == nullptr) {
        return E_INVALIDARG;
    }
    if (engine == nullptr || engine->IsStreaming()) {
        return E_FAIL;
    }
    const ULONG guard = engine->GetBufferReserve();
    ULONG callbackDelay = 0;
    if (!NT_SUCCESS(engine->GetCallbackDelay(&callbackDelay))) {
        callbackDelay = 0;
    }

    RoutingStreamSink* sink = nullptr;
    ULONG oldRate = 0;
    ULONG newRate = 0;
    ULONG index = 0;
    LONG result = 0;
    {
        InStackLock routing(&routingLock);
        // The rings may move: no copy handed out may point into the old ones.
        ClearPacketRecords();
        matrix.ReleaseMatrix();
        oldRate = rate;
        configuration = *record;
        const ULONG rateCount = configuration.rates != nullptr ? configuration.rateCount : 0;
        ULONG chosen = 0;
        if (newRateIndex >= 0) {
            chosen = static_cast<ULONG>(newRateIndex);
        } else {
            for (ULONG i = 0; i < rateCount; ++i) {
                if (configuration.rates[i] == rate) {
                    chosen = i;
                    break;
                }
            }
        }
        rateIndex = chosen < rateCount ? chosen : 0;

        LONGLONG capacity = 3 * LONGLONG{configuration.ringBlockSize};
        if (rateCount != 0) {
            capacity += LONGLONG{callbackDelay} * configuration.rates[rateCount - 1] / 1000;
        }
        LONG ringResult = kRoutingRingsFailed;
        if (capacity <= kMaxLong) {
            ringResult = ConfigureRings(static_cast<ULONG>(capacity), guard);
        } else {
            mixBus.ReleaseBufferSet();
            outputRing.ReleaseBufferSet();
        }
        result = ConfigureMatrixAndPeaks();
        if (result == 0) {
            result = ringResult;
        }
        newRate = rateCount != 0 ? configuration.rates[rateIndex] : 0;
        rate = newRate;
        index = configuration.index;
        sink = streamSink;
    }
    // Old ring memory given back under the lock was parked; only configuration and release touch
    // the parked list, and the device model serialises those.
    if (KeGetCurrentIrql() == PASSIVE_LEVEL) {
        ringAllocator.ReleaseParkedBlocks();
    }

    if (sink != nullptr) {
        sink->OnConfigurationApplied(record);
    }
    ResetRings();
    engine->ApplyStreamConfiguration(record);
    if (newRate != oldRate && sink != nullptr) {
        sink->OnRateChanged(index, newRate);
    }
    return result;
}

ULONG EngineRouting::ChangeRate(LONG* configurationIndex, ULONG newRateIndex)
{
    ULONG index = 0;
    bool change = false;
    {
        InStackLock routing(&routingLock);
        index = configuration.index;
        if (configurationIndex == nullptr || static_cast<ULONG>(*configurationIndex) != index) {
            if (configurationIndex != nullptr) {
                *configurationIndex = static_cast<LONG>(index);
            }
            return rate;
        }
        change = engine != nullptr && configuration.rates != nullptr &&
                 newRateIndex < configuration.rateCount && newRateIndex != rateIndex;
        if (!change) {
            return rate;
        }
    }

    RoutingStreamSink* activeSink = CurrentSink();
    {
        InStackLock transport(&transportLock);
        if (keepRunningSetting) {
            keepRunning = 0;
            if (activeSink == nullptr || !activeSink->IsActive()) {
                engine->RunControl(0);
            }
        }
    }
    const bool rateSet = NT_SUCCESS(engine->SetRate(static_cast<LONG>(index), newRateIndex));
    ULONG newRate = 0;
    RoutingStreamSink* sink = nullptr;
    {
        InStackLock routing(&routingLock);
        // The configuration cannot change meanwhile: it is refused while the engine streams and
        // the device model serialises its own calls; check anyway rather than index a new list.
        if (rateSet && configuration.index == index && newRateIndex < configuration.rateCount) {
            rateIndex = newRateIndex;
            rate = configuration.rates[newRateIndex];
        }
        newRate = rate;
        sink = streamSink;
    }
    {
        InStackLock transport(&transportLock);
        if (keepRunningSetting) {
            keepRunning = 1;
            engine->RunControl(1);
        }
    }
    if (rateSet && sink != nullptr) {
        sink->OnRateChanged(index, newRate);
    }
    return newRate;
}

void EngineRouting::GetRoutingState(LONG* configurationIndex, ULONG* currentRateIndex,
                                    ULONG* currentRate)
{
    InStackLock routing(&routingLock);
    if (configurationIndex != nullptr) {
        *configurationIndex = static_cast<LONG>(configuration.index);
    }
    if (currentRateIndex != nullptr) {
        *currentRateIndex = rateIndex;
    }
    if (currentRate != nullptr) {
        *currentRate = rate;
    }
}

void EngineRouting::GetConfiguration(StreamConfiguration* record)
{
    InStackLock routing(&routingLock);
    *record = configuration;
}

// ---- Transport and keep-running ---------------------------------------------------------------

LONG EngineRouting::SetTransportMode(ULONG mode)
{
    if (engine == nullptr || mode > 2) {
        return E_FAIL;
    }
    if (mode == 0) {
        InStackLock transport(&transportLock);
        if (!keepRunning) {
            engine->RunControl(0);
        }
        return 0;
    }
    // A start that could not be done nor queued (at PASSIVE_LEVEL: the transport could not
    // have its transfers) is the caller's to report.
    return engine->RunControl(mode) < 0 ? E_FAIL : 0;
}

void EngineRouting::ApplyKeepRunningLocked(bool on, RoutingStreamSink* sink)
{
    keepRunning = on ? 1 : 0;
    if (engine == nullptr) {
        return;
    }
    if (on) {
        engine->RunControl(1);
    } else if (sink == nullptr || !sink->IsActive()) {
        engine->RunControl(0);
    }
}

LONG EngineRouting::ApplyKeepRunning(bool on)
{
    // The listener is read first: the routing lock is never taken inside the transport lock.
    RoutingStreamSink* sink = CurrentSink();
    InStackLock transport(&transportLock);
    ApplyKeepRunningLocked(on, sink);
    return 0;
}

bool EngineRouting::GetKeepRunningSetting()
{
    InStackLock transport(&transportLock);
    return keepRunningSetting != 0;
}

LONG EngineRouting::SetKeepRunningSetting(bool on)
{
    RoutingStreamSink* sink = CurrentSink();
    InStackLock transport(&transportLock);
    if ((keepRunningSetting != 0) != on) {
        keepRunningSetting = on ? 1 : 0;
        ApplyKeepRunningLocked(on, sink);
    }
    return 0;
}

bool EngineRouting::IsKeepRunning()
{
    InStackLock transport(&transportLock);
    return keepRunning != 0;
}

// ---- Rings and start ----------------------------------------------------------------------------

void EngineRouting::ClearPacketRecords()
{
    for (PacketRecord& record : packetRecords) {
        record = PacketRecord{};
    }
    packetRead = 0;
    packetWrite = 0;
}

void EngineRouting::ResetRings()
{
    InStackLock routing(&routingLock);
    RewindRing(&outputRing);
    RewindRing(&mixBus);
    devicePosition = 0;
    // Streaming stopped or restarts: the USB layer's copies are gone with its transfers, and
    // writers must not refresh buffers it may have freed.
    ClearPacketRecords();
}

void EngineRouting::ReleaseRouting()
{
    {
        InStackLock tick(&tickLock);
        InStackLock routing(&routingLock);
        streamSink = nullptr;
        rate = 0;
        engine = nullptr;
        ClearPacketRecords();
        {
            InStackLock peaks(&inputPeaksLock);
            inputPeaks.Release();
        }
        {
            InStackLock peaks(&outputPeaksLock);
            outputPeaks.Release();
        }
        matrix.ReleaseMatrix();
        outputRing.ReleaseBufferSet();
        mixBus.ReleaseBufferSet();
    }
    if (KeGetCurrentIrql() == PASSIVE_LEVEL) {
        ringAllocator.ReleaseParkedBlocks();
    }
}

void EngineRouting::ResetForStart(bool restart)
{
    InStackLock tick(&tickLock);
    InStackLock routing(&routingLock);
    if (restart && started) {
        firstPeriodPending = 1;
    }
    lastKey = -1;
    lastFrames = 0;
    outputMissed = 0;
    framesInTotal = 0;
    framesOutTotal = 0;
    ClearPacketRecords();
    consumedPosition = 0;
    inputPosition = -1;
    monitorPosition = -1;
    frameDeficit = 0;
    started = 0;
}

void EngineRouting::SetStartupInterval(ULONG milliseconds)
{
    InStackLock routing(&routingLock);
    startupInterval = milliseconds;
}
