// The check of the low-latency client's ramp at the device: a ramp in order is whole; silence
// where a late half should have been, or a skip ahead to where the ramp stands by then, is a gap
// whose frames are lost, not a break; a late first half starts inside the ramp; anything else (a
// frame repeated, going back, a channel not negated, a wrong channel count) is a break.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "DeviceTap.h"
#include "LowLatencyClient.h"

namespace {

// Stereo frames: each value is a ramp index (its frame carries that ramp frame), or -1: silence.
UsbSim::OutSampleArray Frames(const std::vector<int64_t>& indexes, uint32_t channels = 2)
{
    UsbSim::OutSampleArray array;
    array.channels = channels;
    for (const int64_t index : indexes) {
        array.frames.push_back(0);
        const int32_t value = index < 0 ? 0 : Host::LowLatencyRamp(static_cast<uint64_t>(index));
        for (uint32_t c = 0; c < channels; ++c) {
            array.samples.push_back(c % 2 == 0 ? value : -value);
        }
    }
    return array;
}

// Ramp indexes first .. last - 1 (a run long enough to cross the check's blocks).
std::vector<int64_t> RampRun(int64_t first, int64_t last)
{
    std::vector<int64_t> indexes;
    for (int64_t i = first; i < last; ++i) {
        indexes.push_back(i);
    }
    return indexes;
}

std::vector<int64_t> Joined(std::vector<std::vector<int64_t>> parts)
{
    std::vector<int64_t> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

struct RampCase
{
    const char* name;
    std::vector<int64_t> indexes;
    bool broken;
    uint64_t rampFrames;
    uint64_t gaps;
    uint64_t lost;
};

class RampCheckCases : public ::testing::TestWithParam<RampCase>
{
};

TEST_P(RampCheckCases, TellsGapsFromBreaks)
{
    const RampCase& c = GetParam();
    Host::RampCheck check(2);
    // Split in two deliveries: a gap or a break across the tap's reads counts the same.
    const size_t half = c.indexes.size() / 2;
    check.Take(Frames({c.indexes.begin(), c.indexes.begin() + static_cast<long>(half)}));
    check.Take(Frames({c.indexes.begin() + static_cast<long>(half), c.indexes.end()}));
    EXPECT_EQ(check.Broken(), c.broken) << check.Failure();
    if (!c.broken) {
        EXPECT_EQ(check.RampFrames(), c.rampFrames);
        EXPECT_EQ(check.Gaps(), c.gaps);
        EXPECT_EQ(check.LostFrames(), c.lost);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RampCheckCases,
    ::testing::Values(RampCase{"Whole", {-1, -1, 0, 1, 2, 3, 4, 5}, false, 6, 0, 0},
                      RampCase{"StoppedIntoSilence", {0, 1, 2, 3, -1, -1}, false, 4, 0, 0},
                      RampCase{"LateHalfLost", {0, 1, 2, -1, -1, 5, 6, 7}, false, 8, 1, 2},
                      RampCase{"DelayedNotLost", {0, 1, 2, -1, -1, 3, 4, 5}, false, 6, 1, 0},
                      RampCase{"LateFirstHalf", {-1, 7, 8, 9, 10, 11}, false, 12, 1, 7},
                      RampCase{"Repeated", {0, 1, 2, 2, 3, 4}, true, 0, 0, 0},
                      RampCase{"SkippedWithoutSilence", {0, 1, 2, 5, 6, 7}, false, 8, 1, 2},
                      RampCase{"Backwards", {0, 1, 2, 3, 1, 2}, true, 0, 0, 0},
                      RampCase{"WrongAfterGap", {0, 1, -1, 9, 8, 9}, true, 0, 0, 0},
                      RampCase{"LongWhole", Joined({{-1, -1}, RampRun(0, 301)}), false, 301, 0, 0},
                      RampCase{"LongSkipInsideABlock", Joined({RampRun(0, 150), RampRun(160, 300)}),
                               false, 300, 1, 10},
                      RampCase{"LongSilenceInsideABlock",
                               Joined({RampRun(0, 70), {-1, -1, -1}, RampRun(73, 200)}), false, 200,
                               1, 3},
                      RampCase{"LongRepeatInsideABlock",
                               Joined({RampRun(0, 100), RampRun(99, 200)}), true, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RampCheck, AChannelNotNegatedOrAWrongChannelCountBreaks)
{
    Host::RampCheck check(2);
    UsbSim::OutSampleArray frames = Frames({0, 1, 2});
    frames.samples[3] = -frames.samples[3];
    check.Take(frames);
    EXPECT_TRUE(check.Broken());
    Host::RampCheck narrow(2);
    narrow.Take(Frames({0, 1}, 4));
    EXPECT_TRUE(narrow.Broken());
    EXPECT_NE(narrow.Failure().find("4 channels"), std::string::npos) << narrow.Failure();
}

TEST(RampCheck, NamesTheFirstWrongSampleOfALongDelivery)
{
    Host::RampCheck check(2);
    UsbSim::OutSampleArray frames = Frames(RampRun(0, 300));
    frames.samples[2 * 200 + 1] += 1;
    frames.samples[2 * 250] += 1;
    check.Take(frames);
    ASSERT_TRUE(check.Broken());
    EXPECT_EQ(check.Failure().rfind("frame 200 channel 2:", 0), 0u) << check.Failure();
    EXPECT_EQ(check.RampFrames(), 200u);
}

TEST(RampCheck, RunsOnAcrossTheRampsWrap)
{
    // The ramp's values run out after kLowLatencyRampSpan frames and start again at 1.
    Host::RampCheck check(2);
    const int64_t total = static_cast<int64_t>(Host::kLowLatencyRampSpan) + 500;
    constexpr int64_t kChunk = int64_t{1} << 20;
    for (int64_t first = 0; first < total; first += kChunk) {
        check.Take(Frames(RampRun(first, std::min(first + kChunk, total))));
    }
    EXPECT_FALSE(check.Broken()) << check.Failure();
    EXPECT_EQ(check.RampFrames(), static_cast<uint64_t>(total));
    EXPECT_EQ(check.Peaks(),
              (std::vector<int32_t>{static_cast<int32_t>(Host::kLowLatencyRampSpan),
                                    static_cast<int32_t>(Host::kLowLatencyRampSpan)}));
}

}  // namespace
