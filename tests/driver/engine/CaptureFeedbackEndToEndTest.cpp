// Long runs through the whole streaming path of a device with inputs, in virtual time: capture
// read by a client stream of the stream manager arrives bit-exact on both channels while the
// device's clock runs at its rate or 0.5 % off it, and a render stream paced by the device's
// feedback endpoint arrives whole, each second carrying the rate fed back.
// QUORVEL_E2E_SOAK_SECONDS shortens (or lengthens) every run.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../common/SoakRun.h"
#include "EndToEndFixture.h"
#include "InputDeviceModel.h"
#include "RampStream.h"
#include "StreamTestSupport.h"
#include "engine/ClientStream.h"
#include "engine/StreamManagerParts.h"

namespace {

using namespace std::chrono_literals;

int SoakSeconds(int nominal)
{
    return SoakRun::Seconds("QUORVEL_E2E_SOAK_SECONDS", nominal);
}

using SoakRun::CaptureSample;

// The device with inputs on the real engine and stream manager, its USB record the test's.
class InputDeviceTest : public EndToEndTest
{
protected:
    explicit InputDeviceTest(bool feedback) : inputParts(InputDeviceUsbRecord(true, feedback)) {}
    void SetUp() override
    {
        EndToEndTest::SetUp();
        SetDeviceParts(&inputParts);
    }
    UsbTransport* Transport() { return static_cast<UsbStreamingEngine*>(Engine())->Transport(); }

    InputDeviceParts inputParts;
};

// A capture consumer with two buffers of mono 24-bit channels: each full buffer is checked
// against the device's generator and handed back as the next one.
class CaptureConsumer final : public StreamClientSink
{
public:
    static constexpr ULONG kFrames = 480;

    explicit CaptureConsumer(StreamManager* owner) : manager(owner)
    {
        StreamConfiguration configuration{};
        manager->GetConfiguration(&configuration);
        stream = manager->AddClientStream(this);
        EXPECT_NE(stream, nullptr);
        EXPECT_EQ(stream->SetCaptureFormat(&configuration, kFrames, 3, 0, 0), 0);
        EXPECT_EQ(stream->NextCaptureBuffer(buffers[0].pointers, 0), 0);
        EXPECT_EQ(manager->SetClientStreamRunning(stream, true), 0);
    }
    ~CaptureConsumer() { manager->RemoveClientStream(stream); }

    void OnDevicePeriod(ClientStream* full) override
    {
        Check(buffers[current]);
        current ^= 1;
        if (full->NextCaptureBuffer(buffers[current].pointers, 0) != 0) {
            Fail("the next buffer was refused");
        }
    }
    void OnStreamConfigurationChanged(ClientStream*, LONG) override
    {
        Fail("the configuration changed");
    }
    void OnFlags(ClientStream*, ULONG value) override
    {
        if (value != 0) {
            Fail("flags " + std::to_string(value));
        }
    }

    StreamManager* manager;
    ManagedClientStream* stream = nullptr;
    uint64_t received = 0;
    uint64_t first = 0;  // the device's index of the first frame received
    std::string failure;

private:
    struct Buffer
    {
        uint8_t channels[2][kFrames * 3] = {};
        PVOID pointers[2] = {channels[0], channels[1]};
    };

    // The expected value runs along with the frames (CaptureSample of the next index, without a
    // division a frame).
    void Check(const Buffer& buffer)
    {
        for (ULONG f = 0; f < kFrames && failure.empty(); ++f) {
            const int32_t left = StreamTest::Sample24(&buffer.channels[0][f * 3]);
            const int32_t right = StreamTest::Sample24(&buffer.channels[1][f * 3]);
            if (!placed) {
                // The stream starts where the device already was: the first value places it.
                if (left <= 0) {
                    Fail("the first frame carries " + std::to_string(left));
                    return;
                }
                next = static_cast<uint64_t>(left - 1);
                first = next;
                expected = CaptureSample(0, next);
                placed = true;
            }
            if (left != expected || right != -expected) {
                Fail("frame " + std::to_string(received) + " carries " + std::to_string(left) +
                     ", " + std::to_string(right) + " instead of device sample " +
                     std::to_string(next) + " (" + std::to_string(CaptureSample(0, next)) + ")");
                return;
            }
            expected = expected == SoakRun::kCaptureSpan ? 1 : expected + 1;
            ++next;
            ++received;
        }
    }
    void Fail(const std::string& reason)
    {
        if (failure.empty()) {
            failure = reason;
        }
    }

    Buffer buffers[2];
    int current = 0;
    bool placed = false;
    uint64_t next = 0;     // the device's index of the next frame
    int32_t expected = 0;  // its left sample, CaptureSample(0, next)
};

// A run: the device's speed, the rate (and its index in the configuration), the device's clock
// against it, and the nominal length.
struct SoakCase
{
    const char* name;
    int audioClass;  // 1: full speed; 2: high speed
    ULONG rateIndex;
    ULONG rate;
    int ppm;
    int nominalSeconds;
};

void PrintTo(const SoakCase& row, std::ostream* out)
{
    *out << row.name;
}

class CaptureEndToEnd : public InputDeviceTest, public ::testing::WithParamInterface<SoakCase>
{
protected:
    CaptureEndToEnd() : InputDeviceTest(false) {}
};

TEST_P(CaptureEndToEnd, BothChannelsArriveBitExact)
{
    const SoakCase& row = GetParam();
    PlugInAndStart(
        UsbSim::BuildProductDescriptors({.audioClass = row.audioClass, .inChannels = 2}));
    UsbDevice().SetClockOffsetPpm(row.ppm);
    UsbDevice().SetInFrameGenerator(&SoakRun::CaptureFrames);
    ASSERT_EQ(ApplyRateIndex(Manager(), static_cast<LONG>(row.rateIndex)), row.rate);
    CaptureConsumer consumer(Manager());
    Run(100ms);
    ASSERT_TRUE(Engine()->IsStreaming());
    ASSERT_EQ(UsbDevice().SampleRate(), row.rate);
    const int seconds = SoakSeconds(row.nominalSeconds);
    uint64_t before = consumer.received;
    for (int second = 1; second <= seconds; ++second) {
        Run(1000ms);
        // The device's OUT packets (the silence of the outputs) are not this run's to check.
        UsbDevice().ClearOutPackets();
        ASSERT_TRUE(consumer.failure.empty()) << consumer.failure << " after " << second << " s";
        // Each second brings the device clock's frames, to within a buffer.
        const double clock = row.rate * (1.0 + row.ppm / 1e6);
        ASSERT_NEAR(static_cast<double>(consumer.received - before), clock,
                    CaptureConsumer::kFrames + 1.0)
            << "second " << second;
        before = consumer.received;
    }
    // All the device produced from the stream's start came through but what is still in flight
    // or in the buffer being filled.
    const uint64_t produced = UsbDevice().InSamplesProduced(0x82);
    EXPECT_LE(consumer.first + consumer.received, produced);
    EXPECT_GE(consumer.first + consumer.received + CaptureConsumer::kFrames +
                  20ull * (row.rate / 1000 + 2),
              produced);
    EXPECT_LT(consumer.first, 200ull * row.rate / 1000) << "the stream started late";
    const double clock = row.rate * (1.0 + row.ppm / 1e6);
    EXPECT_NEAR(static_cast<double>(Transport()->EffectiveRate()), clock, row.rate / 1000.0);
    EXPECT_TRUE(UsbDevice().Violations().empty());
}

INSTANTIATE_TEST_SUITE_P(Rates, CaptureEndToEnd,
                         ::testing::Values(SoakCase{"FullSpeed48000", 1, 1, 48000, 0, 600},
                                           SoakCase{"FullSpeed48000Fast", 1, 1, 48000, 5000, 600},
                                           SoakCase{"FullSpeed48000Slow", 1, 1, 48000, -5000, 600},
                                           SoakCase{"FullSpeed44100", 1, 0, 44100, 0, 60},
                                           SoakCase{"FullSpeed44100Fast", 1, 0, 44100, 5000, 60},
                                           SoakCase{"FullSpeed44100Slow", 1, 0, 44100, -5000, 60},
                                           SoakCase{"HighSpeed96000", 2, 2, 96000, 0, 60},
                                           SoakCase{"HighSpeed96000Fast", 2, 2, 96000, 5000, 60},
                                           SoakCase{"HighSpeed96000Slow", 2, 2, 96000, -5000, 60}),
                         [](const auto& info) { return std::string(info.param.name); });

class FeedbackEndToEnd : public InputDeviceTest, public ::testing::WithParamInterface<SoakCase>
{
protected:
    FeedbackEndToEnd() : InputDeviceTest(true) {}
};

// The asynchronous output variant: the device's clock sets the pace through its feedback
// endpoint; a render stream through the stream manager keeps up with it sample for sample.
TEST_P(FeedbackEndToEnd, PlaybackFollowsTheFedBackRateLosingNothing)
{
    const SoakCase& row = GetParam();
    PlugInAndStart(UsbSim::BuildProductDescriptors(
        {.audioClass = row.audioClass, .inChannels = 2, .feedback = true}));
    UsbDevice().SetClockOffsetPpm(row.ppm);
    ASSERT_EQ(ApplyRateIndex(Manager(), static_cast<LONG>(row.rateIndex)), row.rate);
    RampPin pin(Manager());
    pin.Submit();
    Run(100ms);
    ASSERT_TRUE(Engine()->IsStreaming());
    RampReceiver receiver(UsbDevice());
    std::map<uint32_t, uint64_t> perSecond;  // frames received, by second of bus frames
    const int seconds = SoakSeconds(row.nominalSeconds);
    for (int second = 1; second <= seconds; ++second) {
        Run(1000ms);
        for (const UsbSim::OutPacketRecord& packet : UsbDevice().OutPackets()) {
            if (packet.endpoint == 0x01) {
                perSecond[packet.frame / 1000] += packet.bytes.size() / 6;
            }
        }
        ASSERT_TRUE(receiver.Take()) << receiver.failure << " after " << second << " s";
        ASSERT_TRUE(Transport()->FeedbackValid()) << "second " << second;
    }
    // All but the first second's frames at the device's clock (a slow clock takes fewer than the
    // nominal rate: 0.5 % of ten minutes is more than a second's worth).
    const double clock = row.rate * (1.0 + row.ppm / 1e6);
    EXPECT_GT(static_cast<double>(receiver.received), (seconds - 1) * clock);
    EXPECT_EQ(pin.lates, 0);
    EXPECT_EQ(pin.refusals, 0);
    EXPECT_TRUE(UsbDevice().Violations().empty());
    const ULONG fedBack = Transport()->EffectiveRate();
    EXPECT_NEAR(static_cast<double>(fedBack), clock, 1.0);
    // Every whole second of the bus after the start carries the rate fed back, within one.
    ASSERT_GT(perSecond.size(), 3u);
    const auto last = std::prev(perSecond.end());
    for (auto it = std::next(perSecond.begin(), 2); it != last; ++it) {
        ASSERT_NEAR(static_cast<double>(it->second), static_cast<double>(fedBack), 1.0)
            << "bus second " << it->first;
    }
    pin.Stop();
    Run(200ms);
}

INSTANTIATE_TEST_SUITE_P(Clocks, FeedbackEndToEnd,
                         ::testing::Values(SoakCase{"FullSpeed48000Fast", 1, 1, 48000, 2000, 600},
                                           SoakCase{"FullSpeed48000Slow", 1, 1, 48000, -5000, 60},
                                           SoakCase{"HighSpeed44100Fast", 2, 0, 44100, 5000, 60}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
