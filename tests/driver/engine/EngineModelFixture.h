// The product's device model on the real streaming engine, loaded in a driver whose devices are
// simulated USB devices: the engine's stream set is listened to by a small stream listener that,
// while it is active, writes a counting pattern (sample frame n carries n + 1 on channel 0 and
// n + 1 + 0x1000 on channel 1, 24-bit) into the device through the stream set every period.
#pragma once

#include <KernelTestApi.h>
#include <KsHostApi.h>
#include <UsbDescriptorSet.h>
#include <UsbTestApi.h>

#include <memory>
#include <vector>

#include "LoadedDriverFixture.h"
#include "device/DeviceParts.h"
#include "device/ProductDeviceModel.h"
#include "engine/EngineRouting.h"
#include "engine/RoutingStandIn.h"
#include "engine/RoutingStreamSink.h"
#include "engine/UsbStreamingEngine.h"

inline constexpr LONG kPatternPeriod = RoutingStandIn::kPatternPeriod;
inline constexpr ULONG kPatternChannels = 2;
inline constexpr ULONG kPatternSampleBytes = 3;

class CountingStreamListener final : public RoutingStreamSink
{
public:
    explicit CountingStreamListener(EngineRouting* streamSet) : routing(streamSet) {}

    void OnConfigurationApplied(const StreamConfiguration* configuration) override;
    LONG OnPeriod(ULONG configurationIndex, PVOID* inputPointers, ULONG frames,
                  ULONG streamPosition, LONG flags) override;
    void OnRateChanged(ULONG configurationIndex, ULONG rate) override;
    bool IsActive() override { return active; }
    void OnStreamingChanged(LONG state) override;

    EngineRouting* routing;
    volatile bool active = false;
    LONG position = -1;  // where the next period's frames go; -1 places them at the stream position
    ULONGLONG produced = 0;
    ULONG periods = 0;
    ULONG refusedWrites = 0;  // RenderIntoDevice answers other than 0
    std::vector<ULONG> appliedConfigurations;
    std::vector<ULONG> rateChanges;
    std::vector<LONG> streamingStates;
    RoutingStandIn pattern{kPatternChannels, kPatternSampleBytes, true};
    std::vector<UCHAR> block;  // the period's frames before they are written
};

// Builds the product's device model on UsbStreamingEngine; the stream manager is the counting
// listener, registered with the engine's stream set; the MIDI router is the driver's own.
class EngineModelParts final : public DeviceParts
{
public:
    DeviceModel* CreateDeviceModel(DeviceLink deviceLink, PCWSTR registryPath) override;
    void DestroyDeviceModel(DeviceModel* model) override;
    StreamManager* CreateStreamManager(StreamingEngine* engine, DeviceStreamSink* sink) override;
    void DestroyStreamManager(StreamManager* manager) override;
    MidiRouter* CreateMidiRouter(StreamingEngine* engine) override;
    void DestroyMidiRouter(MidiRouter* router) override;
    LONG FindConfigurationRate(StreamManager* manager, ULONG rate) override;
    ULONG ApplyRateIndex(StreamManager* manager, LONG rateIndex) override;

    UsbStreamingEngineFactory engines;
    ProductDeviceModel* lastModel = nullptr;
    CountingStreamListener* lastListener = nullptr;
};

class EngineModelFixture : public LoadedDriverFixture
{
protected:
    void SetUp() override;

    // Plugs in the product (class 2 unless given) on a bus of its own and, when asked, starts it.
    Platform::Ks::Device* PlugIn(bool start);
    Platform::Ks::Device* PlugIn(UsbSim::UsbDescriptorSet descriptors, bool start);

    UsbStreamingEngine* Engine()
    {
        return parts_.lastModel != nullptr
                   ? static_cast<UsbStreamingEngine*>(parts_.lastModel->GetEngine())
                   : nullptr;
    }
    CountingStreamListener* Listener() { return parts_.lastListener; }
    UsbSim::SimulatedUsbDevice& UsbDevice() { return usbDevices_.LastDevice(); }
    UsbSim::SimulatedUsbBus& Bus() { return usbDevices_.LastBus(); }

    // Through the stream set as the stream manager would: the rate index of configuration 0,
    // then the listener active and the transport running (the queued start included).
    void StartStreaming(ULONG rateIndex);
    // Channel 0 of every sample frame the device received, from the first pattern sample on;
    // the packets are forgotten so a long run keeps little.
    std::vector<int32_t> TakeReceived();

    EngineModelParts parts_;
    bool sawPattern_ = false;
};
