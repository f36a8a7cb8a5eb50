// The stream set's configuration: ring capacity, matrix and peak sizes, rate choice, the
// listener's and the engine's notifications, the failures, and the control operations.
#include <memory>

#include "KernelTestApi.h"
#include "RoutingFixture.h"

namespace {

using namespace Platform::Kernel;

// The ring's capacity as writers see it: a block too big for the ring is refused but still moves
// the position, modulo the capacity.
bool HasCapacity(EngineRouting& routing, ULONG configurationIndex, ULONG capacity)
{
    uint8_t unused[8] = {};
    PVOID buffers[] = {unused};
    LONG atEnd = 0;
    LONG beforeEnd = 0;
    const LONG a = routing.RenderIntoDevice(configurationIndex, &atEnd, buffers, capacity,
                                            kSampleInt24LE, 2, 0);
    const LONG b = routing.RenderIntoDevice(configurationIndex, &beforeEnd, buffers, capacity - 1,
                                            kSampleInt24LE, 2, 0);
    return a == kRenderNoRoom && b == kRenderNoRoom && atEnd == 0 &&
           beforeEnd == static_cast<LONG>(capacity - 1);
}

struct CapacityCase
{
    const char* name;
    ULONG configurationIndex;
    bool delayLoaded;
    ULONG callbackDelay;
    ULONG capacity;
};

class RoutingCapacityTest : public RoutingTest, public ::testing::WithParamInterface<CapacityCase>
{
};

TEST_P(RoutingCapacityTest, ThreeBlocksPlusTheTransfersQueuedAheadAtTheHighestRate)
{
    const CapacityCase& c = GetParam();
    engine.callbackDelayLoaded = c.delayLoaded;
    engine.callbackDelay = c.callbackDelay;
    const StreamConfiguration record = ProductConfiguration(c.configurationIndex);
    ASSERT_EQ(Routing().ConfigureRouting(&record, 0), 0);
    EXPECT_TRUE(HasCapacity(Routing(), c.configurationIndex, c.capacity));
}

INSTANTIATE_TEST_SUITE_P(
    Capacity, RoutingCapacityTest,
    ::testing::Values(CapacityCase{"UpTo96k", 0, true, 3, 3 * 512 + 3 * 96},  // 1824
                      CapacityCase{"UpTo48k", 1, true, 3, 3 * 512 + 3 * 48},
                      CapacityCase{"EightAhead", 0, true, 8, 3 * 512 + 8 * 96},
                      CapacityCase{"DelayNotLoaded", 0, false, 3, 3 * 512}),
    [](const ::testing::TestParamInfo<CapacityCase>& info) { return info.param.name; });

TEST_F(RoutingTest, ConfiguringNotifiesTheListenerThenTheEngine)
{
    RecordingSink sink;
    Routing().SetStreamSink(&sink);
    const StreamConfiguration record = ProductConfiguration(0);
    ASSERT_EQ(Routing().ConfigureRouting(&record, 1), 0);
    EXPECT_EQ(sink.configurationsApplied, std::vector<ULONG>{0});
    EXPECT_EQ(engine.applied, std::vector<ULONG>{0});
    EXPECT_EQ(sink.rateChanges, (std::vector<RecordingSink::RateChange>{{0, 48000}}));

    // The same rate again: no rate change is reported.
    const StreamConfiguration other = ProductConfiguration(1);
    ASSERT_EQ(Routing().ConfigureRouting(&other, -1), 0);
    EXPECT_EQ(sink.configurationsApplied, (std::vector<ULONG>{0, 1}));
    EXPECT_EQ(sink.rateChanges.size(), 1u);
    Routing().SetStreamSink(nullptr);
}

struct RateChoiceCase
{
    const char* name;
    LONG firstIndex;     // configuration 0 (44100, 48000, 96000)
    LONG secondIndex;    // then configuration 1 (44100, 48000)
    ULONG expectedRate;  // after the second
};

class RoutingRateChoiceTest : public RoutingTest,
                              public ::testing::WithParamInterface<RateChoiceCase>
{
};

TEST_P(RoutingRateChoiceTest, TheRateIndexIsChosenFromTheNewList)
{
    const RateChoiceCase& c = GetParam();
    const StreamConfiguration first = ProductConfiguration(0);
    const StreamConfiguration second = ProductConfiguration(1);
    ASSERT_EQ(Routing().ConfigureRouting(&first, c.firstIndex), 0);
    ASSERT_EQ(Routing().ConfigureRouting(&second, c.secondIndex), 0);
    LONG index = -1;
    ULONG rateIndex = 0;
    ULONG rate = 0;
    Routing().GetRoutingState(&index, &rateIndex, &rate);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(rate, c.expectedRate);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, RoutingRateChoiceTest,
    ::testing::Values(RateChoiceCase{"KeepsTheCurrentRate", 1, -1, 48000},
                      RateChoiceCase{"CurrentRateAbsentGivesTheFirst", 2, -1, 44100},
                      RateChoiceCase{"GivenIndex", 0, 1, 48000},
                      RateChoiceCase{"IndexBeyondTheListGivesTheFirst", 0, 7, 44100}),
    [](const ::testing::TestParamInfo<RateChoiceCase>& info) { return info.param.name; });

TEST_F(RoutingTest, NothingChangesWhileTheEngineStreams)
{
    ConfigureProduct(0, 1);
    engine.streaming = true;
    const StreamConfiguration other = ProductConfiguration(1);
    EXPECT_EQ(Routing().ConfigureRouting(&other, 0), E_FAIL);
    StreamConfiguration current{};
    Routing().GetConfiguration(&current);
    EXPECT_EQ(current.index, 0u);
    EXPECT_EQ(engine.applied.size(), 1u);
}

TEST_F(RoutingTest, TooManyOutputLayoutsAreRefused)
{
    StreamConfiguration record = ProductConfiguration(0);
    std::vector<ChannelLayout> layouts(33, ChannelLayout{kSampleInt24LE, 1, 0, 0});
    record.outputLayouts = {33, layouts.data()};
    EXPECT_EQ(Routing().ConfigureRouting(&record, 0), E_INVALIDARG);
    LONG position = 0;
    EXPECT_EQ(RenderStereo(&position, {1, 2}), 0) << "the rings are empty";
}

TEST_F(RoutingTest, MoreThanThirtyTwoMatrixRowsAreOutOfMemory)
{
    static const ChannelLayout inputs[] = {{kSampleInt24LE, 31, 0, 0}};
    StreamConfiguration record = ProductConfiguration(0);
    record.deviceInputChannels = 31;
    record.inputChannels = 31;
    record.inputLayouts = {1, inputs};
    EXPECT_EQ(Routing().ConfigureRouting(&record, 0), E_OUTOFMEMORY);
    ULONG rows = 9;
    ULONG columns = 9;
    Routing().GetMatrixSize(&rows, &columns);
    EXPECT_EQ(rows, 0u);
    EXPECT_EQ(columns, 0u);
    ULONG peaks[64];
    EXPECT_EQ(Routing().TakePeaks(true, peaks, 64), 33u) << "the peak arrays are still there";
}

TEST_F(RoutingTest, ExcludedChannelsHaveNoRowColumnOrPeak)
{
    // Output channel 1 of 3 takes no part.
    static const ChannelLayout outputs[] = {{kSampleInt24LE, 3, 1, 0x2}};
    StreamConfiguration record = ProductConfiguration(0);
    record.outputChannels = 3;
    record.outputLayouts = {1, outputs};
    ASSERT_EQ(Routing().ConfigureRouting(&record, 0), 0);
    ULONG rows = 0;
    ULONG columns = 0;
    Routing().GetMatrixSize(&rows, &columns);
    EXPECT_EQ(rows, 3u);
    EXPECT_EQ(columns, 2u);
    ULONG peaks[64];
    EXPECT_EQ(Routing().TakePeaks(false, peaks, 64), 2u);
    SampleGain gains[2] = {};
    ASSERT_EQ(Routing().ReadMatrixRow(2, 0, 2, gains), STATUS_SUCCESS);
    EXPECT_EQ(gains[0], 0) << "mix-bus channel 2 has no output channel 2";
    EXPECT_EQ(gains[1], 0);
}

// Every allocation of a configuration fails in turn: the answer is success, -3 or
// E_OUTOFMEMORY, the set stays usable, and nothing leaks.
TEST_F(RoutingTest, EveryAllocationFailureLeavesAUsableSetAndNoLeak)
{
    const StreamConfiguration record = InputConfiguration::Record();
    bool sawRings = false;
    bool sawMemory = false;
    for (uint64_t n = 1; n < 100; ++n) {
        auto fresh = std::make_unique<RoutingTestEngine>();
        RecordingSink sink;
        fresh->routing.SetStreamSink(&sink);
        FailAllocationNumber(n);
        const LONG result = fresh->routing.ConfigureRouting(&record, 0);
        ClearAllocationFailures();
        ASSERT_TRUE(result == 0 || result == kRoutingRingsFailed || result == E_OUTOFMEMORY)
            << n << ": " << result;
        EXPECT_EQ(sink.configurationsApplied.size(), 1u) << "applied whatever the outcome";
        sawRings = sawRings || result == kRoutingRingsFailed;
        sawMemory = sawMemory || result == E_OUTOFMEMORY;

        // Writers, periods and the device keep working on whatever was configured.
        fresh->routing.ResetForStart(false);
        std::vector<uint8_t> bytes(48 * 6);
        PVOID buffers[] = {bytes.data()};
        LONG position = 0;
        EXPECT_GE(fresh->routing.RenderIntoDevice(7, &position, buffers, 48, kSampleInt24LE, 2, 0),
                  0);
        PVOID inputs[2] = {bytes.data(), nullptr};
        fresh->routing.RoutingTick(1, inputs, 48, 0, 48, 0);
        ULONG peaks[64];
        fresh->routing.TakePeaks(true, peaks, 64);
        fresh->routing.SetStreamSink(nullptr);
        fresh.reset();
        EXPECT_TRUE(OutstandingPool().empty()) << n;
        if (result == 0) {
            break;
        }
    }
    EXPECT_TRUE(sawRings);
    EXPECT_TRUE(sawMemory);
}

TEST_F(RoutingTest, ChangeRateSetsTheRateOfTheCurrentConfigurationOnly)
{
    RecordingSink sink;
    Routing().SetStreamSink(&sink);
    ConfigureProduct(0, 1);
    sink.rateChanges.clear();

    LONG index = 1;
    EXPECT_EQ(Routing().ChangeRate(&index, 2), 48000u);
    EXPECT_EQ(index, 0) << "not the current configuration: overwritten, nothing else";
    EXPECT_TRUE(engine.rateRequests.empty());

    EXPECT_EQ(Routing().ChangeRate(&index, 1), 48000u) << "already in force";
    EXPECT_EQ(Routing().ChangeRate(&index, 3), 48000u) << "beyond the list";
    EXPECT_TRUE(engine.rateRequests.empty());

    EXPECT_EQ(Routing().ChangeRate(&index, 2), 96000u);
    EXPECT_EQ(engine.rateRequests, (std::vector<RoutingTestEngine::RateRequest>{{0, 2}}));
    EXPECT_EQ(sink.rateChanges, (std::vector<RecordingSink::RateChange>{{0, 96000}}));
    EXPECT_TRUE(engine.runControls.empty()) << "keep-running is off";

    engine.setRateStatus = STATUS_UNSUCCESSFUL;
    EXPECT_EQ(Routing().ChangeRate(&index, 0), 96000u) << "the engine refused";
    EXPECT_EQ(sink.rateChanges.size(), 1u);
    Routing().SetStreamSink(nullptr);
}

TEST_F(RoutingTest, ChangeRateWithKeepRunningStopsAroundTheChange)
{
    RecordingSink sink;
    sink.active = false;
    Routing().SetStreamSink(&sink);
    ConfigureProduct(0, 1);
    ASSERT_EQ(Routing().SetKeepRunningSetting(true), 0);
    EXPECT_EQ(engine.runControls, std::vector<ULONG>{1});
    LONG index = 0;
    EXPECT_EQ(Routing().ChangeRate(&index, 0), 44100u);
    EXPECT_EQ(engine.runControls, (std::vector<ULONG>{1, 0, 1}));
    EXPECT_TRUE(Routing().IsKeepRunning());

    sink.active = true;  // the streams keep the engine running: no stop
    EXPECT_EQ(Routing().ChangeRate(&index, 1), 48000u);
    EXPECT_EQ(engine.runControls, (std::vector<ULONG>{1, 0, 1, 1}));
    Routing().SetStreamSink(nullptr);
}

TEST_F(RoutingTest, TransportModeZeroIsHeldBackByKeepRunning)
{
    ConfigureProduct(0, 1);
    EXPECT_EQ(Routing().SetTransportMode(1), 0);
    EXPECT_EQ(Routing().SetTransportMode(2), 0);
    EXPECT_EQ(Routing().SetTransportMode(0), 0);
    EXPECT_EQ(Routing().SetTransportMode(3), E_FAIL);
    EXPECT_EQ(engine.runControls, (std::vector<ULONG>{1, 2, 0}));
    ASSERT_EQ(Routing().ApplyKeepRunning(true), 0);
    engine.runControls.clear();
    EXPECT_EQ(Routing().SetTransportMode(0), 0);
    EXPECT_TRUE(engine.runControls.empty());
}

TEST_F(RoutingTest, KeepRunningOffStopsUnlessStreamsRun)
{
    RecordingSink sink;
    Routing().SetStreamSink(&sink);
    ConfigureProduct(0, 1);
    EXPECT_FALSE(Routing().GetKeepRunningSetting());
    Routing().SetKeepRunningSetting(true);
    Routing().SetKeepRunningSetting(true);  // no change, nothing applied
    Routing().SetKeepRunningSetting(false);
    EXPECT_EQ(engine.runControls, std::vector<ULONG>{1}) << "streams are active: no stop";
    sink.active = false;
    Routing().SetKeepRunningSetting(true);
    Routing().SetKeepRunningSetting(false);
    EXPECT_EQ(engine.runControls, (std::vector<ULONG>{1, 1, 0}));
    EXPECT_FALSE(Routing().IsKeepRunning());
    Routing().SetStreamSink(nullptr);
}

TEST_F(RoutingTest, TheListenerHearsTheEngineAndAnswersForTheStreams)
{
    EXPECT_FALSE(Routing().HasActiveStreams());
    Routing().NotifyStreamingChanged(2);  // nobody listens: nothing happens
    RecordingSink sink;
    Routing().SetStreamSink(&sink);
    EXPECT_TRUE(Routing().HasActiveStreams());
    Routing().NotifyStreamingChanged(2);
    Routing().NotifyStreamingChanged(0);
    EXPECT_EQ(sink.streamingStates, (std::vector<LONG>{2, 0}));
    Routing().SetStreamSink(nullptr);
}

TEST_F(RoutingTest, AfterReleaseEverythingIsRefusedQuietly)
{
    ConfigureProduct(0, 1);
    Routing().ReleaseRouting();
    EXPECT_EQ(Routing().Engine(), nullptr);
    const StreamConfiguration record = ProductConfiguration(0);
    EXPECT_EQ(Routing().ConfigureRouting(&record, 0), E_FAIL);
    EXPECT_EQ(Routing().SetTransportMode(1), E_FAIL);
    LONG index = 0;
    EXPECT_EQ(Routing().ChangeRate(&index, 2), 0u);
    PVOID data = nullptr;
    Routing().GetDeviceOutputData(1, 48, 0, &data, false, 0, 0);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(Routing().RoutingTick(1, nullptr, 48, 0, 48, 0), 1);
}

}  // namespace
