// Streams through the stream manager to the simulated device and back, in virtual time, on the
// product's own device model, USB streaming engine and stream set.
#include <chrono>
#include <cstdint>
#include <ostream>
#include <vector>

#include <gtest/gtest.h>

#include "EndToEndFixture.h"
#include "StreamTestSupport.h"
#include "audio/DriverResult.h"
#include "engine/EngineRouting.h"
#include "engine/StreamManagerParts.h"
#include "usb/InStackLock.h"

namespace {

using namespace std::chrono_literals;

constexpr ULONG kBlockFrames = 64;
constexpr int kSoakSeconds = 600;  // ten minutes

// The n-th frame of the test signal: never 0, so the first frame of it stands out of the
// silence before it; the right channel carries the negated value.
int32_t Ramp(uint64_t n)
{
    return static_cast<int32_t>(n % 0x7FFFFE) + 1;
}

// A wave render pin in miniature: 64-frame blocks of interleaved stereo in 32-bit containers,
// the next one handed over as soon as the stream manager took the last.
class RampPin : public PinStreamSink
{
public:
    explicit RampPin(StreamManager* owner) : manager(owner), pointers{samples}
    {
        node = manager->AddPinStream(this);
        TakeConfiguration();
    }
    ~RampPin() { manager->RemovePinStream(node); }

    // As the pin's format step: the configuration in force, the block's layout.
    void TakeConfiguration()
    {
        StreamConfiguration configuration{};
        manager->GetConfiguration(&configuration);
        InStackLock hold(&node->lock);
        node->configurationIndex = static_cast<LONG>(configuration.index);
        node->format = kSampleInt32LE;
        node->interleavedChannels = 2;
        node->interleaved = 1;
        node->startChannel = 0;
    }
    // Blocks go until one is queued; each block placed at once is done.
    void Submit()
    {
        for (int i = 0; i < 8; ++i) {
            for (ULONG f = 0; f < kBlockFrames; ++f) {
                const int32_t value = Ramp(produced + f);
                samples[f * 2] = value * 256;
                samples[f * 2 + 1] = -value * 256;
            }
            manager->SetNodeBuffers(node, pointers, kBlockFrames);
            const LONG answer = manager->ServicePinStream(node);
            if (answer == kStreamPending) {
                produced += kBlockFrames;
                return;
            }
            if (answer < 0) {
                ++refusals;
                return;
            }
            produced += kBlockFrames;
        }
    }
    void Stop() { manager->StopPinStream(node); }

    void OnNodePeriod(StreamNode*) override { Submit(); }
    void OnNodeConfigurationChanged(StreamNode*, LONG) override { TakeConfiguration(); }
    void OnNodeLate(StreamNode*, ULONG) override { ++lates; }
    void OnNodeStreamingChanged(LONG) override {}

    StreamManager* manager;
    StreamNode* node = nullptr;
    int32_t samples[kBlockFrames * 2] = {};
    PVOID pointers[1];
    uint64_t produced = 0;
    int lates = 0;
    int refusals = 0;
};

// Reads what the device received and checks it against the ramp: silence, then the ramp from
// its first frame on, frame after frame.
class RampReceiver
{
public:
    bool TakeFrame(int32_t left, int32_t right)
    {
        ++frames;
        if (received == 0 && left == 0 && right == 0) {
            return true;
        }
        const int32_t expected = Ramp(received);
        if (left != expected || right != -expected) {
            failure = "frame " + std::to_string(received) + " of the ramp carries " +
                      std::to_string(left) + ", " + std::to_string(right) + " instead of " +
                      std::to_string(expected);
            return false;
        }
        ++received;
        return true;
    }
    explicit RampReceiver(UsbSim::SimulatedUsbDevice& usbDevice) : device(usbDevice) {}

    // False at the first frame that breaks the ramp (with the reason in failure). Reads the
    // packets' bytes directly (two 3-byte samples a frame): a ten-minute run reads millions.
    bool Take()
    {
        bool intact = true;
        for (const UsbSim::OutPacketRecord& packet : device.OutPackets()) {
            if (packet.endpoint != 0x01) {
                continue;
            }
            const uint32_t packetFrames = static_cast<uint32_t>(packet.bytes.size() / 6);
            fewestPerPacket = packetFrames < fewestPerPacket ? packetFrames : fewestPerPacket;
            mostPerPacket = packetFrames > mostPerPacket ? packetFrames : mostPerPacket;
            for (size_t offset = 0; intact && offset + 6 <= packet.bytes.size(); offset += 6) {
                intact = TakeFrame(StreamTest::Sample24(&packet.bytes[offset]),
                                   StreamTest::Sample24(&packet.bytes[offset + 3]));
            }
        }
        device.ClearOutPackets();
        return intact;
    }

    UsbSim::SimulatedUsbDevice& device;
    uint64_t frames = 0;    // every frame the device received
    uint64_t received = 0;  // frames of the ramp
    uint32_t fewestPerPacket = 0xFFFFFFFF;
    uint32_t mostPerPacket = 0;
    std::string failure;
};

struct RateCase
{
    const char* name;
    int audioClass;  // 1: full speed, a packet per 1 ms frame; 2: high speed, per microframe
    ULONG rateIndex;
    ULONG rate;
    friend void PrintTo(const RateCase& rateCase, std::ostream* out) { *out << rateCase.rate; }
};

class RenderStreamTest : public EndToEndTest, public ::testing::WithParamInterface<RateCase>
{
};

// Ten minutes of a render stream reach the device sample for sample: nothing missing, nothing
// twice, and the frames in flight stay what they were at the start.
TEST_P(RenderStreamTest, ArrivesSampleForSampleForTenMinutes)
{
    PlugInAndStart(UsbSim::BuildProductDescriptors({.audioClass = GetParam().audioClass}));
    ASSERT_EQ(ApplyRateIndex(Manager(), static_cast<LONG>(GetParam().rateIndex)), GetParam().rate);
    RampPin pin(Manager());
    pin.Submit();
    Run(100ms);
    ASSERT_TRUE(Engine()->IsStreaming());
    ASSERT_EQ(UsbDevice().SampleRate(), GetParam().rate);

    RampReceiver receiver(UsbDevice());
    ASSERT_TRUE(receiver.Take()) << receiver.failure;
    ASSERT_GT(receiver.received, 0u) << "the stream reached the device";
    const int64_t inFlight = static_cast<int64_t>(pin.produced - receiver.received);
    uint64_t framesBefore = receiver.frames;
    for (int second = 1; second <= kSoakSeconds; ++second) {
        Run(1000ms);
        ASSERT_TRUE(receiver.Take()) << receiver.failure << " after " << second << " s";
        ASSERT_EQ(receiver.frames - framesBefore, GetParam().rate) << "second " << second;
        framesBefore = receiver.frames;
        const int64_t nowInFlight = static_cast<int64_t>(pin.produced - receiver.received);
        ASSERT_LE(std::abs(nowInFlight - inFlight), int64_t{2 * kBlockFrames})
            << "drift after " << second << " s";
    }
    // The device's packets carry the rate's frame counts: 44 and 45 at 44100 at full speed.
    const ULONG packetsPerSecond = GetParam().audioClass == 1 ? 1000 : 8000;
    EXPECT_EQ(receiver.fewestPerPacket, GetParam().rate / packetsPerSecond);
    EXPECT_EQ(receiver.mostPerPacket, (GetParam().rate + packetsPerSecond - 1) / packetsPerSecond);
    EXPECT_EQ(pin.lates, 0);
    EXPECT_EQ(pin.refusals, 0);
    EXPECT_TRUE(UsbDevice().Violations().empty());
    pin.Stop();
    Run(200ms);
}

INSTANTIATE_TEST_SUITE_P(Rates, RenderStreamTest,
                         ::testing::Values(RateCase{"at44100FullSpeed", 1, 0, 44100},
                                           RateCase{"at48000FullSpeed", 1, 1, 48000},
                                           RateCase{"at48000HighSpeed", 2, 1, 48000},
                                           RateCase{"at96000HighSpeed", 2, 2, 96000}),
                         [](const ::testing::TestParamInfo<RateCase>& info) {
                             return info.param.name;
                         });

}  // namespace

namespace {

using CountingClient = StreamTest::RecordingClient;

class StreamControlTest : public EndToEndTest
{
protected:
    ManagedClientStream* AddStream(CountingClient* client, ULONG frames)
    {
        StreamConfiguration configuration{};
        Manager()->GetConfiguration(&configuration);
        ManagedClientStream* stream = Manager()->AddClientStream(client);
        EXPECT_EQ(stream->SetCaptureFormat(&configuration, frames, 4, 0, 0), 0);
        // The product has no inputs: the buffer only counts frames.
        EXPECT_EQ(stream->NextCaptureBuffer(noBuffers, 0), 0);
        return stream;
    }
    PVOID noBuffers[1] = {};
    ULONG MinimumBuffer()
    {
        StreamConfiguration configuration{};
        Manager()->GetConfiguration(&configuration);
        LONG index = 0;
        ULONG rateIndex = 0;
        ULONG rate = 0;
        Engine()->GetRoutingState(&index, &rateIndex, &rate);
        return configuration.minimumBufferSize[rateIndex];
    }
};

// The first running stream starts the device streaming, a second one keeps it, the last one
// stopping ends it; a stream below the rate's minimum buffer is refused and starts nothing.
TEST_F(StreamControlTest, RunningStreamsStartAndStopTheDevice)
{
    PlugInAndStart(UsbSim::ProductUac2());
    CountingClient client;
    ClientStream* small = AddStream(&client, MinimumBuffer() - 1);
    EXPECT_EQ(Manager()->SetClientStreamRunning(small, true), E_FAIL);
    Run(200ms);
    EXPECT_FALSE(Engine()->IsStreaming());

    ClientStream* first = AddStream(&client, MinimumBuffer());
    ClientStream* second = AddStream(&client, MinimumBuffer());
    ASSERT_EQ(Manager()->SetClientStreamRunning(first, true), 0);
    Run(200ms);
    EXPECT_TRUE(Engine()->IsStreaming());
    EXPECT_GT(client.periods, 0) << "the stream is served every period";
    ASSERT_EQ(Manager()->SetClientStreamRunning(second, true), 0);
    ASSERT_EQ(Manager()->SetClientStreamRunning(first, false), 0);
    Run(200ms);
    EXPECT_TRUE(Engine()->IsStreaming()) << "one stream still runs";
    ASSERT_EQ(Manager()->SetClientStreamRunning(second, false), 0);
    Run(200ms);
    EXPECT_FALSE(Engine()->IsStreaming());
    Manager()->RemoveClientStream(small);
    Manager()->RemoveClientStream(first);
    Manager()->DiscardClientStream(second);
}

TEST_F(StreamControlTest, KeepRunningKeepsTheDeviceStreamingWithoutStreams)
{
    PlugInAndStart(UsbSim::ProductUac2());
    ASSERT_GE(Engine()->SetKeepRunning(true), 0);
    Run(200ms);
    ASSERT_TRUE(Engine()->IsStreaming());
    CountingClient client;
    ClientStream* stream = AddStream(&client, MinimumBuffer());
    ASSERT_EQ(Manager()->SetClientStreamRunning(stream, true), 0);
    Run(200ms);
    ASSERT_EQ(Manager()->SetClientStreamRunning(stream, false), 0);
    Run(500ms);
    EXPECT_TRUE(Engine()->IsStreaming()) << "kept running";
    ASSERT_GE(Engine()->SetKeepRunning(false), 0);
    Run(200ms);
    EXPECT_FALSE(Engine()->IsStreaming());
    Manager()->RemoveClientStream(stream);
}

// While the device streams (kept running), a rate index applied through the stream manager
// stops it, sets the new rate on the device and resumes; a stream then plays at the new rate's
// frame counts, and the context heard of the rate.
TEST_F(StreamControlTest, RateIndexAppliedWhileStreamingResumesAtTheNewRate)
{
    PlugInAndStart(UsbSim::ProductUac2());
    ASSERT_GE(Engine()->SetKeepRunning(true), 0);
    Run(200ms);
    ASSERT_TRUE(Engine()->IsStreaming());
    const ULONG before = UsbDevice().SampleRate();
    ASSERT_NE(before, 96000u);

    EXPECT_EQ(ApplyRateIndex(Manager(), 2), 96000u);
    Run(200ms);
    EXPECT_TRUE(Engine()->IsStreaming());
    EXPECT_EQ(UsbDevice().SampleRate(), 96000u);
    ASSERT_FALSE(Renamed().empty());
    EXPECT_EQ(Renamed().back(), 96000u);

    RampPin pin(Manager());
    pin.Submit();
    Run(100ms);
    RampReceiver receiver(UsbDevice());
    ASSERT_TRUE(receiver.Take()) << receiver.failure;
    for (int second = 0; second < 2; ++second) {
        const uint64_t framesBefore = receiver.frames;
        Run(1000ms);
        ASSERT_TRUE(receiver.Take()) << receiver.failure;
        EXPECT_EQ(receiver.frames - framesBefore, 96000u);
    }
    EXPECT_GT(receiver.received, 96000u);

    // With a stream running the rate in force stays.
    EXPECT_EQ(ApplyRateIndex(Manager(), 0), 96000u);
    Run(100ms);
    EXPECT_EQ(UsbDevice().SampleRate(), 96000u);
    pin.Stop();
    ASSERT_GE(Engine()->SetKeepRunning(false), 0);
    Run(200ms);
}

// Two render streams placed together reach the device as their sum.
TEST_F(StreamControlTest, TwoRenderStreamsArriveSummed)
{
    PlugInAndStart(UsbSim::ProductUac2());
    RampPin first(Manager());
    RampPin second(Manager());
    first.Submit();
    second.Submit();
    Run(100ms);
    uint64_t checked = 0;
    bool started = false;
    for (int step = 0; step < 10; ++step) {
        Run(100ms);
        for (const UsbSim::SampleFrame& frame : UsbDevice().OutSamples(0x01)) {
            if (!started && frame.samples[0] == 0) {
                continue;
            }
            started = true;
            const int32_t expected = 2 * Ramp(checked);
            ASSERT_EQ(frame.samples[0], expected) << checked;
            ASSERT_EQ(frame.samples[1], -expected) << checked;
            ++checked;
        }
        UsbDevice().ClearOutPackets();
    }
    EXPECT_GT(checked, 40000u);
    first.Stop();
    second.Stop();
    Run(200ms);
}

}  // namespace
