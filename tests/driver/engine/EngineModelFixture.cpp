#include "EngineModelFixture.h"

#include <new>

#include "audio/SampleFormat.h"
#include "device/DeviceLifecycle.h"
#include "device/PoolTag.h"
#include "midi/MidiRouter.h"

namespace {

constexpr ULONG kTagTestParts = PoolTag("TsPt");

}  // namespace

// ---- The listener ------------------------------------------------------------------------------

void CountingStreamListener::OnConfigurationApplied(const StreamConfiguration* configuration)
{
    appliedConfigurations.push_back(configuration->index);
    position = -1;
}

LONG CountingStreamListener::OnPeriod(ULONG configurationIndex, PVOID*, ULONG frames,
                                      ULONG streamPosition, LONG flags)
{
    ++periods;
    if (!active) {
        return -1;
    }
    if (position < 0 || (flags & kFirstPeriodFlag) != 0) {
        position = static_cast<LONG>(streamPosition);
    }
    // The streaming control's stand-in routing makes the same pattern for its own tests.
    block.resize(static_cast<size_t>(frames) * kPatternChannels * kPatternSampleBytes);
    PVOID data = block.data();
    pattern.GetDeviceOutputData(0, frames, 0, &data, false, 0, 0);
    produced += frames;
    PVOID buffers[] = {block.data()};
    if (routing->RenderIntoDevice(configurationIndex, &position, buffers, frames, kSampleInt24LE,
                                  kPatternChannels, 0) != 0) {
        ++refusedWrites;
    }
    return static_cast<LONG>(frames);
}

void CountingStreamListener::OnRateChanged(ULONG, ULONG rate)
{
    rateChanges.push_back(rate);
}

void CountingStreamListener::OnStreamingChanged(LONG state)
{
    streamingStates.push_back(state);
    if (state == 2) {
        // The rings were reset: the next frames go where the stream set says.
        position = -1;
    }
}

// ---- The parts ---------------------------------------------------------------------------------

DeviceModel* EngineModelParts::CreateDeviceModel(DeviceLink deviceLink, PCWSTR registryPath)
{
    lastModel = CreateProductDeviceModel(deviceLink, registryPath, &engines);
    return lastModel;
}

void EngineModelParts::DestroyDeviceModel(DeviceModel* model)
{
    auto* product = static_cast<ProductDeviceModel*>(model);
    if (product == lastModel) {
        lastModel = nullptr;
    }
    DestroyProductDeviceModel(product);
}

StreamManager* EngineModelParts::CreateStreamManager(StreamingEngine* engine, DeviceStreamSink*)
{
    void* memory =
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(CountingStreamListener), kTagTestParts);
    if (memory == nullptr) {
        return nullptr;
    }
    lastListener = new (memory) CountingStreamListener(engine->Routing());
    engine->Routing()->SetStreamSink(lastListener);
    // The driver only passes the manager back to these parts.
    return reinterpret_cast<StreamManager*>(lastListener);
}

void EngineModelParts::DestroyStreamManager(StreamManager* manager)
{
    auto* listener = reinterpret_cast<CountingStreamListener*>(manager);
    listener->routing->SetStreamSink(nullptr);
    if (listener == lastListener) {
        lastListener = nullptr;
    }
    listener->~CountingStreamListener();
    ExFreePoolWithTag(listener, kTagTestParts);
}

MidiRouter* EngineModelParts::CreateMidiRouter(StreamingEngine* engine)
{
    UsbMidiCodec* codec = static_cast<UsbStreamingEngine*>(engine)->MidiCodec();
    return codec != nullptr ? MidiRouter::Create(codec) : nullptr;
}

void EngineModelParts::DestroyMidiRouter(MidiRouter* router)
{
    router->Destroy();
}

LONG EngineModelParts::FindConfigurationRate(StreamManager*, ULONG rate)
{
    if (lastModel == nullptr) {
        return -1;
    }
    StreamConfiguration configuration{};
    lastModel->GetEngine()->GetEngineConfiguration(&configuration);
    for (ULONG i = 0; i < configuration.rateCount; ++i) {
        if (configuration.rates[i] == rate) {
            return static_cast<LONG>(i);
        }
    }
    return -1;
}

ULONG EngineModelParts::ApplyRateIndex(StreamManager*, LONG rateIndex)
{
    StreamingEngine* engine = lastModel->GetEngine();
    LONG configurationIndex = -1;
    ULONG current = 0;
    ULONG rate = 0;
    engine->GetRoutingState(&configurationIndex, &current, &rate);
    return engine->ChangeRate(&configurationIndex, static_cast<ULONG>(rateIndex));
}

// ---- The fixture -------------------------------------------------------------------------------

void EngineModelFixture::SetUp()
{
    LoadDriver(parts_, DriverKey::Installed);
}

Platform::Ks::Device* EngineModelFixture::PlugIn(bool start)
{
    return PlugIn(UsbSim::ProductUac2(), start);
}

Platform::Ks::Device* EngineModelFixture::PlugIn(UsbSim::UsbDescriptorSet descriptors, bool start)
{
    return PlugInDevice(std::move(descriptors), start);
}

void EngineModelFixture::StartStreaming(ULONG rateIndex)
{
    UsbStreamingEngine* engine = Engine();
    ASSERT_NE(engine, nullptr);
    LONG configurationIndex = 0;
    const ULONG rate = engine->ChangeRate(&configurationIndex, rateIndex);
    StreamConfiguration configuration{};
    engine->GetEngineConfiguration(&configuration);
    ASSERT_LT(rateIndex, configuration.rateCount);
    ASSERT_EQ(rate, configuration.rates[rateIndex]);
    Listener()->active = true;
    EXPECT_GE(engine->Routing()->SetTransportMode(1), 0);
    Platform::Kernel::RunPending();
    ASSERT_TRUE(engine->IsStreaming());
}

std::vector<int32_t> EngineModelFixture::TakeReceived()
{
    // Decoded straight from the packets: a long run receives tens of millions of sample frames.
    constexpr size_t kFrameBytes = kPatternChannels * kPatternSampleBytes;
    const auto sample = [](const uint8_t* bytes) {
        const int32_t value = bytes[0] | bytes[1] << 8 | bytes[2] << 16;
        return (value ^ 0x800000) - 0x800000;
    };
    std::vector<int32_t> values;
    for (const UsbSim::OutPacketRecord& packet : UsbDevice().OutPackets()) {
        if (packet.endpoint != 0x01) {
            continue;
        }
        for (size_t at = 0; at + kFrameBytes <= packet.bytes.size(); at += kFrameBytes) {
            const int32_t left = sample(&packet.bytes[at]);
            const int32_t right = sample(&packet.bytes[at + kPatternSampleBytes]);
            if (left == 0 && !sawPattern_) {
                continue;
            }
            sawPattern_ = true;
            values.push_back(left);
            if (right != (left == 0 ? 0 : left + 0x1000)) {
                ADD_FAILURE() << "channel 1 carries " << right << " beside " << left;
            }
        }
    }
    UsbDevice().ClearOutPackets();
    return values;
}
