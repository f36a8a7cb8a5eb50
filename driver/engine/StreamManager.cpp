#include "engine/StreamManager.h"

#include <new>

#include "audio/DriverResult.h"
#include "common/InStackLock.h"
#include "device/DeviceNotifySink.h"
#include "engine/EngineRouting.h"
#include "engine/StreamManagerParts.h"
#include "engine/StreamingEngine.h"

StreamManager::StreamManager(EngineRouting* streamSet) : routing(streamSet)
{
    KeInitializeSpinLock(&listLock);
    KeInitializeSpinLock(&runningLock);
    KeInitializeSpinLock(&configurationLock);
    configuration.index = static_cast<ULONG>(-1);
    routing->SetStreamSink(this);
    StreamConfiguration current{};
    routing->GetConfiguration(&current);
    InStackLock hold(&configurationLock);
    configuration = current;
}

StreamManager::~StreamManager()
{
    routing->SetStreamSink(nullptr);
    // The owners remove their streams before the device context goes; whatever is left must not
    // leak.
    while (pinNodes != nullptr) {
        StreamNode* node = pinNodes;
        pinNodes = node->next;
        FreeNode(node);
    }
    while (clientStreams != nullptr) {
        ClientStream* stream = clientStreams;
        clientStreams = stream->listNext;
        FreeClientStream(stream);
    }
}

void StreamManager::GetConfiguration(StreamConfiguration* record)
{
    InStackLock hold(&configurationLock);
    *record = configuration;
}

LONG StreamManager::ConfigurationIndex()
{
    InStackLock hold(&configurationLock);
    return static_cast<LONG>(configuration.index);
}

LONG StreamManager::RequestTransport(ULONG mode)
{
    return routing->SetTransportMode(mode);
}

bool StreamManager::IsAnyStreamRunning()
{
    InStackLock hold(&runningLock);
    return runningCount != 0;
}

LONG StreamManager::RunningCount()
{
    InStackLock hold(&runningLock);
    return runningCount;
}

ULONG StreamManager::ApplyRateIndex(StreamConfiguration* record, ULONG rateIndex)
{
    LONG index = static_cast<LONG>(record->index);
    ULONG rate = 0;
    if (IsAnyStreamRunning()) {
        ULONG currentRateIndex = 0;
        routing->GetRoutingState(&index, &currentRateIndex, &rate);
    } else {
        rate = routing->ChangeRate(&index, rateIndex);
    }
    record->index = static_cast<ULONG>(index);
    return rate;
}

LONG StreamManager::WriteOutput(LONG* position, PVOID const* buffers, ULONG frames, ULONG format,
                                ULONG interleavedChannels, ULONG startChannel)
{
    return routing->RenderIntoDevice(static_cast<ULONG>(ConfigurationIndex()), position, buffers,
                                     frames, format, interleavedChannels, startChannel);
}

void StreamManager::OnConfigurationApplied(const StreamConfiguration* applied)
{
    {
        InStackLock hold(&configurationLock);
        configuration = *applied;
    }
    const LONG index = static_cast<LONG>(applied->index);
    InStackLock list(&listLock);
    for (StreamNode* node = pinNodes; node != nullptr; node = node->next) {
        bool changed = false;
        {
            InStackLock hold(&node->lock);
            if (node->running != 0 && node->configurationIndex != index) {
                node->position = -1;
                node->pending = 0;
                changed = true;
            }
        }
        if (changed && node->sink != nullptr) {
            node->sink->OnNodeConfigurationChanged(node, index);
        }
    }
    for (ClientStream* stream = clientStreams; stream != nullptr; stream = stream->listNext) {
        bool changed = false;
        {
            InStackLock hold(&runningLock);
            if (stream->running != 0 && stream->configurationIndex != index) {
                stream->outputPosition = -1;
                changed = true;
            }
        }
        if (changed && stream->owner != nullptr) {
            stream->owner->OnStreamConfigurationChanged(stream, index);
        }
    }
}

LONG StreamManager::OnPeriod(ULONG configurationIndex, PVOID* inputPointers, ULONG frames,
                             ULONG streamPosition, LONG flags)
{
    const LONG index = static_cast<LONG>(configurationIndex);
    if (!IsAnyStreamRunning() || index != ConfigurationIndex()) {
        return -1;
    }
    LONG currentIndex = 0;
    ULONG rateIndex = 0;
    ULONG rate = 0;
    routing->GetRoutingState(&currentIndex, &rateIndex, &rate);
    LONG result = rate > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<LONG>(rate);
    ServicePinsForPeriod(index, frames, streamPosition, flags, &result);
    ServiceClientsForPeriod(index, inputPointers, {frames, streamPosition}, flags, &result);
    return result;
}

void StreamManager::OnRateChanged(ULONG configurationIndex, ULONG rate)
{
    if (deviceSink != nullptr) {
        deviceSink->OnStreamRateApplied(configurationIndex, rate);
    }
}

void StreamManager::OnStreamingChanged(LONG state)
{
    if (deviceSink != nullptr) {
        deviceSink->OnStreamsReconfigured(state);
    }
    if (state != 2) {
        UnplaceRunningNodes();
    }
    InStackLock list(&listLock);
    for (StreamNode* node = pinNodes; node != nullptr; node = node->next) {
        if (node->sink != nullptr) {
            node->sink->OnNodeStreamingChanged(state);
        }
    }
}

// ---- The device context's parts --------------------------------------------------------------

StreamManager* CreateStreamManager(StreamingEngine* engine, DeviceStreamSink* sink)
{
    EngineRouting* routing = engine != nullptr ? engine->Routing() : nullptr;
    if (routing == nullptr) {
        return nullptr;
    }
    void* memory = ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(StreamManager), kStreamObjectTag);
    if (memory == nullptr) {
        return nullptr;
    }
    auto* manager = new (memory) StreamManager(routing);
    manager->SetDeviceSink(sink);
    return manager;
}

void DestroyStreamManager(StreamManager* manager)
{
    if (manager == nullptr) {
        return;
    }
    manager->~StreamManager();
    ExFreePoolWithTag(manager, kStreamObjectTag);
}

LONG FindConfigurationRate(StreamManager* manager, ULONG rate)
{
    if (manager == nullptr) {
        return -1;
    }
    StreamConfiguration record{};
    manager->GetConfiguration(&record);
    for (ULONG i = 0; record.rates != nullptr && i < record.rateCount; ++i) {
        if (record.rates[i] == rate) {
            return static_cast<LONG>(i);
        }
    }
    return -1;
}

ULONG ApplyRateIndex(StreamManager* manager, LONG rateIndex)
{
    if (manager == nullptr) {
        return 0;
    }
    StreamConfiguration record{};
    manager->GetConfiguration(&record);
    // A negative index names no rate: the stream set then only reports the rate in force.
    return manager->ApplyRateIndex(&record, static_cast<ULONG>(rateIndex));
}
