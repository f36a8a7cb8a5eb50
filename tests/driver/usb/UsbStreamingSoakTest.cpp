// Long runs of isochronous streaming in virtual time: capture arriving bit-exact on both channels
// while the device's clock runs at its rate or 0.5 % off it, and playback paced by an explicit
// feedback endpoint, whose samples all arrive once and whose count per second follows the rate fed
// back. QUORVEL_SOAK_SECONDS shortens (or lengthens) every run. The ten-minute runs go through the
// engine and the stream manager as well (driver_engine_capture_feedback_tests): here every run
// lasts a minute unless the variable asks for more.
#include <cstdlib>
#include <map>

#include "../common/SoakRun.h"
#include "UsbStreamingOwner.h"

namespace {

int SoakSeconds(int nominal)
{
    return SoakRun::Seconds("QUORVEL_SOAK_SECONDS", nominal);
}

using SoakRun::CaptureSample;

struct CaptureRow
{
    const char* name;
    int audioClass;
    ULONG rate;
    int ppm;
    int nominalSeconds;
};

void PrintTo(const CaptureRow& row, std::ostream* out)
{
    *out << row.name;
}

// What a soak does not look at goes as it runs: ten minutes of every fill's record and every OUT
// packet are hundreds of megabytes.
class SoakTest : public UsbStreamingTest
{
protected:
    void ForgetCheckedRecords()
    {
        fills.clear();
        filledSamples.clear();
        device->ClearOutPackets();
    }
};

class CaptureSoak : public SoakTest, public ::testing::WithParamInterface<CaptureRow>
{
};

TEST_P(CaptureSoak, BothChannelsArriveBitExact)
{
    const CaptureRow& row = GetParam();
    Start(UsbSim::BuildProductDescriptors({.audioClass = row.audioClass, .inChannels = 2}),
          StreamingRecord(true));
    device->SetClockOffsetPpm(row.ppm);
    device->SetInFrameGenerator(&SoakRun::CaptureFrames);
    keepInData = true;
    ASSERT_EQ(StartStreaming(row.rate), STATUS_SUCCESS);
    const int seconds = SoakSeconds(row.nominalSeconds);
    bool placed = false;
    uint64_t next = 0;     // index of the next sample the device produced
    int32_t expected = 0;  // CaptureSample(0, next), run along without a division a sample
    uint64_t received = 0;
    for (int second = 0; second < seconds; ++second) {
        Run(1000);
        for (const PeriodRecord& period : periods) {
            ASSERT_EQ(period.errorFlags, 0) << "second " << second;
            ASSERT_EQ(period.secondChannel.size(), period.firstChannel.size());
            for (size_t i = 0; i < period.firstChannel.size(); ++i) {
                if (!placed) {
                    // The priming cycle's frames are not handed on: the stream starts after it.
                    ASSERT_GT(period.firstChannel[i], 0);
                    next = static_cast<uint64_t>(period.firstChannel[i] - 1);
                    expected = CaptureSample(0, next);
                    placed = true;
                }
                if (period.firstChannel[i] != expected || period.secondChannel[i] != -expected) {
                    ASSERT_EQ(period.firstChannel[i], CaptureSample(0, next))
                        << "sample " << received << ", second " << second;
                    ASSERT_EQ(period.secondChannel[i], CaptureSample(1, next))
                        << "sample " << received << ", second " << second;
                }
                expected = expected == SoakRun::kCaptureSpan ? 1 : expected + 1;
                ++next;
                ++received;
            }
        }
        periods.clear();
        ForgetCheckedRecords();
    }
    EXPECT_EQ(restarts, 0);
    // Everything the device produced came through but what is still in flight.
    const uint64_t produced = device->InSamplesProduced(0x82);
    EXPECT_GE(received + 20ull * (row.rate / 1000 + 2), produced);
    // The effective rate follows the device's clock.
    const int64_t clock = static_cast<int64_t>(row.rate) * (1000000 + row.ppm) / 1000000;
    EXPECT_NEAR(static_cast<double>(transport->EffectiveRate()), static_cast<double>(clock),
                row.rate / 1000.0);
    StopStreaming();
}

INSTANTIATE_TEST_SUITE_P(Rates, CaptureSoak,
                         ::testing::Values(CaptureRow{"FullSpeed48000", 1, 48000, 0, 60},
                                           CaptureRow{"FullSpeed48000Fast", 1, 48000, 5000, 60},
                                           CaptureRow{"FullSpeed48000Slow", 1, 48000, -5000, 60},
                                           CaptureRow{"FullSpeed44100", 1, 44100, 0, 60},
                                           CaptureRow{"FullSpeed44100Fast", 1, 44100, 5000, 60},
                                           CaptureRow{"FullSpeed44100Slow", 1, 44100, -5000, 60},
                                           CaptureRow{"HighSpeed96000", 2, 96000, 0, 60},
                                           CaptureRow{"HighSpeed96000Fast", 2, 96000, 5000, 60},
                                           CaptureRow{"HighSpeed96000Slow", 2, 96000, -5000, 60}),
                         [](const auto& info) { return std::string(info.param.name); });

struct FeedbackRow
{
    const char* name;
    int audioClass;
    ULONG rate;
    int ppm;
    int nominalSeconds;
};

void PrintTo(const FeedbackRow& row, std::ostream* out)
{
    *out << row.name;
}

class FeedbackSoak : public SoakTest, public ::testing::WithParamInterface<FeedbackRow>
{
};

// The asynchronous output variant: the device's clock sets the pace through its feedback endpoint.
TEST_P(FeedbackSoak, PlaybackFollowsTheFedBackRateLosingNothing)
{
    const FeedbackRow& row = GetParam();
    Start(UsbSim::BuildProductDescriptors({.audioClass = row.audioClass, .feedback = true}),
          StreamingRecord(false, true));
    device->SetClockOffsetPpm(row.ppm);
    ASSERT_EQ(StartStreaming(row.rate), STATUS_SUCCESS);
    const int seconds = SoakSeconds(row.nominalSeconds);
    int32_t expected = 1;
    uint64_t received = 0;
    std::map<uint32_t, uint64_t> perSecond;  // samples received, by second of bus frames
    for (int second = 0; second < seconds; ++second) {
        Run(1000);
        for (const UsbSim::OutPacketRecord& packet : device->OutPackets()) {
            perSecond[packet.frame / 1000] += packet.bytes.size() / 6;
        }
        for (int32_t value : TakeReceived()) {
            ASSERT_EQ(value, expected) << "at sample " << received << ", second " << second;
            expected = expected % kPatternPeriod + 1;
            ++received;
        }
        ASSERT_TRUE(transport->FeedbackValid()) << "second " << second;
        periods.clear();
        ForgetCheckedRecords();
    }
    EXPECT_EQ(restarts, 0);
    EXPECT_TRUE(device->Violations().empty());
    // Every whole second of the bus carries the rate fed back, to within one sample.
    const ULONG fedBack = transport->EffectiveRate();
    const int64_t clock = static_cast<int64_t>(row.rate) * (1000000 + row.ppm) / 1000000;
    EXPECT_NEAR(static_cast<double>(fedBack), static_cast<double>(clock), 1.0);
    ASSERT_GT(perSecond.size(), 3u);
    auto last = std::prev(perSecond.end());
    for (auto it = std::next(perSecond.begin(), 2); it != last; ++it) {
        ASSERT_NEAR(static_cast<double>(it->second), static_cast<double>(fedBack), 1.0)
            << "bus second " << it->first;
    }
    StopStreaming();
}

INSTANTIATE_TEST_SUITE_P(Clocks, FeedbackSoak,
                         ::testing::Values(FeedbackRow{"FullSpeed48000Fast", 1, 48000, 2000, 60},
                                           FeedbackRow{"FullSpeed48000Slow", 1, 48000, -5000, 60},
                                           FeedbackRow{"HighSpeed44100Fast", 2, 44100, 5000, 60}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
