// Streams through the stream manager to the simulated device and back, in virtual time, on the
// product's own device model, USB streaming engine and stream set.
#include <chrono>
#include <cstdint>
#include <ostream>
#include <vector>

#include <gtest/gtest.h>

#include "EndToEndFixture.h"
#include "RampStream.h"
#include "StreamTestSupport.h"
#include "audio/DriverResult.h"
#include "common/InStackLock.h"
#include "engine/EngineRouting.h"
#include "engine/StreamManagerParts.h"

namespace {

using namespace std::chrono_literals;

constexpr int kSoakSeconds = 600;  // ten minutes

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
