// The routing period: the rings advance by what the device consumed, the deficit rule decides
// what is cleared, the start-up interval holds periods back, loopback inputs read the output
// back, and peaks accumulate until read.
#include "RoutingFixture.h"

namespace {

constexpr ULONG kCapacity = 1824;  // configuration 0
constexpr ULONG kFrameBytes = 6;

class RoutingTickTest : public RoutingTest
{
protected:
    void SetUp() override
    {
        RoutingTest::SetUp();
        Routing().SetStreamSink(&sink);
    }
    void TearDown() override
    {
        Routing().SetStreamSink(nullptr);
        RoutingTest::TearDown();
    }

    LONG Tick(ULONG framesIn, ULONG framesOut, LONG flags = 0, PVOID* inputs = nullptr,
              ULONG extra = 0)
    {
        return Routing().RoutingTick(key++, inputs, framesIn, flags, framesOut, extra);
    }

    RecordingSink sink;
    ULONG key = 100;
};

TEST_F(RoutingTickTest, BeforeTheStartUpIntervalPeriodsAnswerOneAndReachNobody)
{
    ConfigureProduct(0, 1, 15);  // 48000: 720 frames of input
    for (int i = 0; i < 14; ++i) {
        ASSERT_EQ(Tick(48, 48), 1) << i;
    }
    EXPECT_TRUE(sink.periods.empty());
    EXPECT_EQ(Tick(48, 48), sink.periodAnswer) << "the fifteenth millisecond";
    ASSERT_EQ(sink.periods.size(), 1u);
    EXPECT_EQ(sink.periods[0].flags & kFirstPeriodFlag, 0) << "a first start is no restart";
}

TEST_F(RoutingTickTest, ARestartMarksItsFirstPeriod)
{
    ConfigureProduct(0, 1, 15);
    for (int i = 0; i < 16; ++i) {
        Tick(48, 48);
    }
    Routing().ResetForStart(true);
    for (int i = 0; i < 15; ++i) {
        Tick(48, 48, 0x8);
    }
    Tick(48, 48, 0x8);
    ASSERT_EQ(sink.periods.size(), 4u);
    EXPECT_EQ(sink.periods[2].flags, 0x8 | kFirstPeriodFlag);
    EXPECT_EQ(sink.periods[3].flags, 0x8) << "only the first";
}

TEST_F(RoutingTickTest, ARestartOfASetThatNeverStartedIsNotMarked)
{
    ConfigureProduct(0, 1, 15);
    Routing().ResetForStart(true);
    for (int i = 0; i < 15; ++i) {
        Tick(48, 48);
    }
    ASSERT_EQ(sink.periods.size(), 1u);
    EXPECT_EQ(sink.periods[0].flags, 0);
}

TEST_F(RoutingTickTest, TheStreamPositionLeadsTheReadIndexByTheLookAheadAndOneMillisecond)
{
    ConfigureProduct(0, 1);
    Tick(48, 48, 0, nullptr, 96);
    // read index 48 + (48 - 48) + 96 + 50 frames per ms at 48000.
    ASSERT_EQ(sink.periods.size(), 1u);
    EXPECT_EQ(sink.periods[0].streamPosition, 48u + 96 + 50);
    // More out than in: the difference is negative and taken modulo the capacity.
    Tick(0, 1800, 0, nullptr, 0);
    EXPECT_EQ(sink.periods[1].streamPosition, (1848 + 48 - 1848 + 50) % kCapacity);
    Tick(0, 100, 0, nullptr, 0);
    // read 124, in 48 - out 1948 = -1900: 124 - 1900 + 50 = -1726 -> 98.
    EXPECT_EQ(sink.periods[2].streamPosition, 98u);
}

struct DeficitStep
{
    ULONG framesIn;
    ULONG framesOut;
    ULONG cleared;  // frames silenced by this period
};

struct DeficitCase
{
    const char* name;
    std::vector<DeficitStep> steps;
};

class RoutingDeficitTest : public RoutingTickTest, public ::testing::WithParamInterface<DeficitCase>
{
};

TEST_P(RoutingDeficitTest, ClearsWhatCameInAndPaysTheDeficitBack)
{
    ConfigureProduct(0, 1);
    const uint8_t* ring = OutputBuffer();
    // Fill the whole ring with a mark so every clearing shows.
    std::vector<int32_t> marks(2 * 1000, 0x111 << 8);
    LONG position = 0;
    ASSERT_EQ(RenderStereo(&position, marks), 0);
    ULONG consumed = 0;
    for (const DeficitStep& step : GetParam().steps) {
        Tick(step.framesIn, step.framesOut);
        for (ULONG i = 0; i < step.cleared; ++i) {
            ASSERT_EQ(Sample24(ring + (consumed + i) * kFrameBytes), 0) << consumed + i;
        }
        consumed += step.cleared;
        ASSERT_EQ(Sample24(ring + consumed * kFrameBytes), 0x111) << "cleared no further";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Deficit, RoutingDeficitTest,
    ::testing::Values(DeficitCase{"Balanced", {{48, 48, 48}, {44, 44, 44}}},
                      DeficitCase{"FewerInCountsADeficit", {{40, 48, 40}, {40, 48, 40}}},
                      DeficitCase{"MoreInPaysItBack", {{40, 48, 40}, {52, 48, 52}, {56, 48, 52}}},
                      DeficitCase{"MoreInWithoutDeficit", {{56, 48, 48}}}),
    [](const ::testing::TestParamInfo<DeficitCase>& info) { return info.param.name; });

TEST_F(RoutingTickTest, WithoutActiveStreamsKeepRunningDecidesTheAnswer)
{
    ConfigureProduct(0, 1);
    sink.active = false;
    EXPECT_EQ(Tick(48, 48), -1);
    Routing().SetKeepRunningSetting(true);
    EXPECT_EQ(Tick(48, 48), 48) << "frames per millisecond";
    Routing().SetStreamSink(nullptr);
    EXPECT_EQ(Tick(48, 48), 48);
    Routing().SetKeepRunningSetting(false);
    EXPECT_EQ(Tick(48, 48), -1);
    EXPECT_TRUE(sink.periods.empty());
}

TEST_F(RoutingTickTest, WithoutMixBusChannelsNothingIsCountedOrStarted)
{
    StreamConfiguration empty = ProductConfiguration(0);
    empty.outputChannels = 0;
    ASSERT_EQ(Routing().ConfigureRouting(&empty, 0), 0);
    Routing().ResetForStart(false);
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(Tick(48, 48), 1);
    }
    EXPECT_TRUE(sink.periods.empty());
}

TEST_F(RoutingTickTest, PeaksAccumulateUntilReadAndReadingClearsThem)
{
    ConfigureProduct(0, 1);
    ULONG peaks[64] = {};
    EXPECT_EQ(Routing().TakePeaks(false, peaks, 64), 2u) << "turns metering on";
    LONG position = 0;
    ASSERT_EQ(RenderStereo(&position, {0x100 << 8, -0x300 << 8, 0x200 << 8, 0}), 0);
    position = 48;
    ASSERT_EQ(RenderStereo(&position, {0x50 << 8, 0x400 << 8}), 0);
    Tick(48, 48);
    Tick(48, 48);

    ULONG input[64] = {};
    ASSERT_EQ(Routing().TakePeaks(true, input, 64), 2u) << "mix bus only: no inputs";
    EXPECT_EQ(input[0], 0x200u << 8);
    EXPECT_EQ(input[1], 0x400u << 8);
    ASSERT_EQ(Routing().TakePeaks(false, peaks, 64), 2u);
    EXPECT_EQ(peaks[0], 0x200u << 8);
    EXPECT_EQ(peaks[1], 0x400u << 8);
    ASSERT_EQ(Routing().TakePeaks(false, peaks, 1), 1u);
    EXPECT_EQ(peaks[0], 0u) << "read clears";
}

TEST_F(RoutingTickTest, ConsumedFramesAreSilencedForTheNextLap)
{
    ConfigureProduct(0, 1);
    const uint8_t* ring = OutputBuffer();
    LONG position = 0;
    ASSERT_EQ(RenderStereo(&position, std::vector<int32_t>(96 * 2, 0x77 << 8)), 0);
    Tick(48, 48);
    EXPECT_EQ(Sample24(ring + 47 * kFrameBytes), 0);
    EXPECT_EQ(Sample24(ring + 48 * kFrameBytes), 0x77);
}

class RoutingInputTest : public RoutingTickTest
{
protected:
    void SetUp() override
    {
        RoutingTickTest::SetUp();
        record = InputConfiguration::Record();
        ASSERT_EQ(Routing().ConfigureRouting(&record, 1), 0);
        Routing().ResetForStart(false);
        ring = OutputBuffer();
    }

    StreamConfiguration record{};
    const uint8_t* ring = nullptr;
};

TEST_F(RoutingInputTest, TheMatrixHasMonitorRowsForTheDeviceInputsOnly)
{
    ULONG rows = 0;
    ULONG columns = 0;
    Routing().GetMatrixSize(&rows, &columns);
    EXPECT_EQ(rows, 4u) << "2 mix-bus channels + 2 device inputs; the loopback has no row";
    EXPECT_EQ(columns, 2u);
    SampleGain gains[2] = {};
    const SampleGain unity[] = {kUnityGain, 0};
    ASSERT_EQ(Routing().ReadMatrixRow(0, 0, 2, gains), STATUS_SUCCESS);
    EXPECT_EQ(gains[0], kUnityGain);
    EXPECT_EQ(gains[1], 0);
    ASSERT_EQ(Routing().ReadMatrixRow(1, 0, 2, gains), STATUS_SUCCESS);
    EXPECT_EQ(gains[1], kUnityGain);
    ASSERT_EQ(Routing().ReadMatrixRow(2, 0, 2, gains), STATUS_SUCCESS);
    EXPECT_EQ(gains[0], 0) << "no input is monitored";
    EXPECT_EQ(Routing().ReadMatrixRow(4, 0, 1, gains), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(Routing().ReadMatrixRow(0, 1, 2, gains), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(Routing().ReadMatrixRow(0, 0xFFFFFFFFu, 2, gains), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(Routing().WriteMatrixRow(0, 0xFFFFFFFFu, 2, unity), STATUS_UNSUCCESSFUL);
}

TEST_F(RoutingInputTest, LoopbackInputsCarryTheOutputTheDeviceConsumed)
{
    LONG position = 0;
    std::vector<int32_t> samples;
    for (int i = 0; i < 49; ++i) {
        samples.push_back((i + 1) << 8);
        samples.push_back(-(i + 1) << 8);
    }
    ASSERT_EQ(RenderStereo(&position, samples, 0, 7), 0);

    std::vector<uint8_t> deviceInput(49 * kFrameBytes, 0);
    PVOID inputs[2] = {deviceInput.data(), nullptr};
    std::vector<int32_t> seen;
    sink.onPeriod = [&](PVOID* pointers, ULONG frames, ULONG) {
        EXPECT_EQ(pointers[0], deviceInput.data()) << "device inputs pass through";
        ASSERT_NE(pointers[1], nullptr);
        const auto* loop = static_cast<const uint8_t*>(pointers[1]);
        for (ULONG i = 0; i < frames; ++i) {
            seen.push_back(Sample24(loop + i * kFrameBytes));
        }
    };
    Tick(49, 49, 0, inputs);
    ASSERT_EQ(seen.size(), 49u);
    for (int i = 0; i < 49; ++i) {
        ASSERT_EQ(seen[i], i + 1) << i;
    }
    EXPECT_EQ(inputs[1], ring) << "read back from the first frame consumed";
    Tick(49, 49, 0, inputs);
    EXPECT_EQ(inputs[1], ring + 49 * kFrameBytes) << "the next period follows on";
}

TEST_F(RoutingInputTest, MonitoredInputsAreAddedToTheOutput)
{
    const SampleGain half[2] = {kUnityGain / 2, 0};
    ASSERT_EQ(Routing().WriteMatrixRow(2, 0, 2, half), STATUS_SUCCESS);  // input 1 -> output 1
    Routing().MarkMixerUsed();
    std::vector<int32_t> input(2 * 49, 0x400 << 8);
    std::vector<uint8_t> bytes = Packed24(input);
    PVOID inputs[2] = {bytes.data(), nullptr};
    ULONG periodPosition = 0;
    sink.onPeriod = [&](PVOID*, ULONG, ULONG streamPosition) { periodPosition = streamPosition; };
    Tick(49, 49, 0, inputs);
    // Monitoring starts at the first period's stream position: 49 + 49 frames per ms.
    EXPECT_EQ(periodPosition, 98u);
    EXPECT_EQ(Sample24(ring + 98 * kFrameBytes), 0x200);
    EXPECT_EQ(Sample24(ring + 98 * kFrameBytes + 3), 0);
    EXPECT_EQ(Sample24(ring + 146 * kFrameBytes), 0x200);
    EXPECT_EQ(Sample24(ring + 147 * kFrameBytes), 0);
}

struct MonitorRoomCase
{
    const char* name;
    ULONG extraFrames;  // look-ahead: places the monitor position
    ULONG frames;       // per period
    bool firstWritten;  // the input shows at the first period's stream position
    bool secondWritten;
};

class RoutingMonitorRoomTest : public RoutingInputTest,
                               public ::testing::WithParamInterface<MonitorRoomCase>
{
};

// The ring holds 1680 frames (3 x 512 + 3 x 48). The monitor position starts at the first
// period's stream position, frames + extra + 49, so the free space from it is 1630 - extra.
TEST_P(RoutingMonitorRoomTest, MonitoringWithoutRoomIsDroppedOrDelayed)
{
    const MonitorRoomCase& c = GetParam();
    const SampleGain unity[2] = {kUnityGain, 0};
    ASSERT_EQ(Routing().WriteMatrixRow(2, 0, 2, unity), STATUS_SUCCESS);
    Routing().MarkMixerUsed();
    std::vector<uint8_t> bytes = Packed24(std::vector<int32_t>(2 * c.frames, 0x321 << 8));
    PVOID inputs[2] = {bytes.data(), nullptr};
    std::vector<ULONG> positions;
    sink.onPeriod = [&](PVOID*, ULONG, ULONG streamPosition) {
        positions.push_back(streamPosition);
    };
    Tick(c.frames, c.frames, 0, inputs, c.extraFrames);
    Tick(c.frames, c.frames, 0, inputs, c.extraFrames);
    ASSERT_EQ(positions.size(), 2u);
    EXPECT_EQ(Sample24(ring + positions[0] * kFrameBytes), c.firstWritten ? 0x321 : 0);
    EXPECT_EQ(Sample24(ring + positions[1] * kFrameBytes), c.secondWritten ? 0x321 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    MonitorRoom, RoutingMonitorRoomTest,
    ::testing::Values(
        // free 1530: each period's input at its own position.
        MonitorRoomCase{"Room", 100, 49, true, true},
        // free 330 < 512: dropped, the position moves on, and again.
        MonitorRoomCase{"TooLate", 1300, 49, false, false},
        // free 530, 530 - 49 < 512: held back; the next period writes it at the same place.
        MonitorRoomCase{"Delayed", 1100, 49, true, false},
        // 600 frames with 530 free: signed, held back the same way; unsigned arithmetic would
        // have let the position run on past a refused write.
        MonitorRoomCase{"MoreFramesThanFree", 1100, 600, true, false}),
    [](const ::testing::TestParamInfo<MonitorRoomCase>& info) { return info.param.name; });

TEST_F(RoutingInputTest, InputPeaksFollowTheMixBusSlots)
{
    ULONG peaks[64] = {};
    EXPECT_EQ(Routing().TakePeaks(true, peaks, 64), 6u) << "2 mix-bus + 4 input channels";
    std::vector<int32_t> input;
    for (int i = 0; i < 49; ++i) {
        input.push_back(i << 8);
        input.push_back(2 * i << 8);
    }
    std::vector<uint8_t> bytes = Packed24(input);
    PVOID inputs[2] = {bytes.data(), nullptr};
    Tick(49, 49, 0, inputs);
    ASSERT_EQ(Routing().TakePeaks(true, peaks, 64), 6u);
    EXPECT_EQ(peaks[2], 48u << 8);
    EXPECT_EQ(peaks[3], 96u << 8);
    EXPECT_EQ(peaks[4], 0u) << "silent loopback";
}

}  // namespace
