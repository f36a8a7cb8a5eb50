// Isochronous streaming against the simulated device, in virtual time: frame sizes and their
// high-speed spread, a long run without gap or duplicate, the capture stream that paces the
// playback, the lateness of the first completions, learning the queue-ahead, restarts, feedback,
// removal and allocation failures.
#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "UsbStreamingOwner.h"

namespace {

using namespace Platform::Kernel;

// Samples per frame the device received on endpoint 1, by frame, and the packet sizes of one
// frame in samples.
std::map<uint32_t, std::vector<uint32_t>> OutPacketsByFrame(const UsbSim::SimulatedUsbDevice& d,
                                                            uint32_t frameBytes)
{
    std::map<uint32_t, std::vector<uint32_t>> frames;
    for (const UsbSim::OutPacketRecord& packet : d.OutPackets()) {
        if (packet.endpoint == 0x01) {
            frames[packet.frame].push_back(static_cast<uint32_t>(packet.bytes.size() / frameBytes));
        }
    }
    return frames;
}

uint32_t Sum(const std::vector<uint32_t>& sizes)
{
    uint32_t sum = 0;
    for (uint32_t s : sizes) {
        sum += s;
    }
    return sum;
}

struct FrameSizeRow
{
    const char* name;
    int audioClass;
    ULONG rate;
    std::vector<uint32_t> packetSpread;  // of a 44-sample frame at high speed
};

class FrameSizes : public UsbStreamingTest, public ::testing::WithParamInterface<FrameSizeRow>
{
};

TEST_P(FrameSizes, PlaybackFramesCarryTheRate)
{
    const FrameSizeRow& row = GetParam();
    Start(row.audioClass == 2 ? UsbSim::ProductUac2() : UsbSim::ProductUac1());
    ASSERT_EQ(StartStreaming(row.rate), STATUS_SUCCESS);
    EXPECT_EQ(transport->Transfers(), 10u) << "queue-ahead 3 + 7 transfers of one frame";
    Run(200);
    const auto frames = OutPacketsByFrame(*device, 6);
    ASSERT_GT(frames.size(), 150u);
    std::vector<uint32_t> sums;
    for (const auto& [frame, sizes] : frames) {
        EXPECT_EQ(sizes.size(), row.audioClass == 2 ? 8u : 1u) << "frame " << frame;
        sums.push_back(Sum(sizes));
        if (!row.packetSpread.empty() && Sum(sizes) == 44) {
            EXPECT_EQ(sizes, row.packetSpread);
        }
    }
    // Every run of ten frames carries the rate's share: 441 at 44100, 480 at 48000 ...
    for (size_t i = 0; i + 10 <= sums.size(); ++i) {
        uint32_t ten = 0;
        for (size_t k = i; k < i + 10; ++k) {
            ten += sums[k];
            EXPECT_TRUE(sums[k] == row.rate / 1000 || sums[k] == row.rate / 1000 + 1);
        }
        ASSERT_EQ(ten, row.rate / 100) << "frames from " << i;
    }
    StopStreaming();
    EXPECT_FALSE(transport->AlternateSettingsActive());
}

INSTANTIATE_TEST_SUITE_P(
    Rates, FrameSizes,
    ::testing::Values(FrameSizeRow{"FullSpeed44100", 1, 44100, {}},
                      FrameSizeRow{"FullSpeed48000", 1, 48000, {}},
                      FrameSizeRow{"HighSpeed44100", 2, 44100, {6, 6, 5, 6, 5, 6, 5, 5}},
                      FrameSizeRow{"HighSpeed96000", 2, 96000, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UsbStreamingTest, HighSpeed96000SpreadsTwelveSamplesOverEveryMicroframe)
{
    Start(UsbSim::ProductUac2());
    ASSERT_EQ(StartStreaming(96000), STATUS_SUCCESS);
    Run(50);
    for (const auto& [frame, sizes] : OutPacketsByFrame(*device, 6)) {
        EXPECT_EQ(sizes, std::vector<uint32_t>(8, 12)) << "frame " << frame;
    }
    StopStreaming();
}

// Ten minutes of playback: every sample the owner produced arrives, in order, once. The
// queue-ahead given at the start (6) is lowered to what the completions need only after the
// first learning window of 300000 frames.
TEST_F(UsbStreamingTest, TenMinutesArriveWithoutGapOrDuplicate)
{
    Start(UsbSim::ProductUac1());
    transport->SetQueueAhead(6);
    ASSERT_EQ(StartStreaming(44100), STATUS_SUCCESS);
    EXPECT_EQ(transport->Transfers(), 13u);
    int32_t expected = 1;
    uint64_t received = 0;
    for (int second = 0; second < 600; second += 10) {
        Run(10000);
        for (int32_t value : TakeReceived()) {
            ASSERT_EQ(value, expected) << "at sample " << received;
            expected = expected % kPatternPeriod + 1;
            ++received;
        }
        if (second == 200) {
            EXPECT_EQ(transport->QueueAhead(), 6) << "nothing lowered inside the first window";
        }
    }
    EXPECT_EQ(restarts, 0);
    EXPECT_EQ(transport->QueueAhead(), 1) << "lowered to the largest delay seen";
    // What is still in flight has been produced, not yet received.
    EXPECT_LE(produced - received, 13u * 45u);
    // Only the lead of the start and the priming cycle carried silence instead.
    EXPECT_GE(received, 600ull * 44100 - 3 * 13 * 45);
    EXPECT_EQ(transport->TotalSamples(), returnedSamples);
    StopStreaming();
}

// With a capture interface the capture pipe paces everything: each playback frame repeats the
// size of a capture frame one ring of transfers earlier, and the effective rate follows a
// device clock that runs 0.5 % fast or slow.
TEST_F(UsbStreamingTest, PlaybackMirrorsTheCaptureFramesOfADriftingClock)
{
    for (int ppm : {5000, -5000}) {
        SCOPED_TRACE(ppm);
        Start(UsbSim::BuildProductDescriptors({.audioClass = 1, .inChannels = 2}),
              StreamingRecord(true));
        device->SetClockOffsetPpm(ppm);
        periods.clear();
        ASSERT_EQ(StartStreaming(48000), STATUS_SUCCESS);
        Run(3000);
        const ULONG expectedRate = static_cast<ULONG>(48000 + 48 * ppm / 1000);
        EXPECT_NEAR(transport->EffectiveRate(), expectedRate, 3);
        EXPECT_EQ(transport->Fraction(), transport->EffectiveRate() % 1000);
        std::map<ULONG, ULONG> inSizes;
        for (const PeriodRecord& p : periods) {
            ASSERT_TRUE(p.hasData);
            EXPECT_EQ(p.errorFlags, 0);
            inSizes[p.startFrame] = p.samples;
        }
        // One lag for the whole run: a ring of transfers, one frame more when the playback
        // transfer of a frame completes before the capture transfer of that frame.
        const auto out = OutPacketsByFrame(*device, 6);
        size_t compared = 0;
        for (ULONG lag : {transport->Transfers(), transport->Transfers() + 1}) {
            size_t matching = 0;
            size_t candidates = 0;
            for (const auto& [frame, sizes] : out) {
                auto it = inSizes.find(frame - lag);
                if (it != inSizes.end()) {
                    ++candidates;
                    matching += Sum(sizes) == it->second ? 1 : 0;
                }
            }
            if (matching == candidates) {
                compared = candidates;
            }
        }
        EXPECT_GT(compared, 2900u);
        // The capture stream's position is the device's, less the priming cycle.
        EXPECT_NEAR(static_cast<double>(transport->TotalSamples() + transport->Transfers() * 48),
                    static_cast<double>(device->InSamplesProduced(0x82)), 60);
        StopStreaming();
        Unplug();
    }
}

TEST_F(UsbStreamingTest, CapturePacketsAreCompactedIntoConsecutiveFrames)
{
    Start(UsbSim::BuildProductDescriptors({.audioClass = 2, .inChannels = 2}),
          StreamingRecord(true));
    device->SetInGenerator([](uint32_t channel, uint64_t index) {
        return static_cast<int32_t>(channel * 0x1000 + index % 0x100000 + 1);
    });
    keepInData = true;
    ASSERT_EQ(StartStreaming(44100), STATUS_SUCCESS);
    Run(400);
    std::vector<int32_t> all;
    for (const PeriodRecord& p : periods) {
        EXPECT_EQ(p.errorFlags, 0);
        all.insert(all.end(), p.firstChannel.begin(), p.firstChannel.end());
    }
    ASSERT_GT(all.size(), 15000u);
    for (size_t i = 1; i < all.size(); ++i) {
        ASSERT_EQ(all[i], all[i - 1] + 1) << "sample " << i;
    }
    StopStreaming();
}

struct CaptureFaultRow
{
    const char* name;
    size_t bytesRemoved;  // 0: the packet is lost
};

class CaptureFaults : public UsbStreamingTest, public ::testing::WithParamInterface<CaptureFaultRow>
{
};

// A lost packet or a frame three samples short of 48 becomes 48 samples of silence, and the
// period that carries it reports the capture error.
TEST_P(CaptureFaults, BadFrameBecomesSilenceOfTheRate)
{
    Start(UsbSim::BuildProductDescriptors({.audioClass = 1, .inChannels = 2}),
          StreamingRecord(true));
    device->SetInGenerator([](uint32_t, uint64_t) { return 0x10000; });
    keepInData = true;
    ASSERT_EQ(StartStreaming(48000), STATUS_SUCCESS);
    Run(100);
    const size_t before = periods.size();
    if (GetParam().bytesRemoved == 0) {
        device->DropPackets(0x82, 1);
    } else {
        device->ShortenPackets(0x82, 1, GetParam().bytesRemoved);
    }
    Run(50);
    int flagged = 0;
    for (size_t i = before; i < periods.size(); ++i) {
        const PeriodRecord& p = periods[i];
        EXPECT_EQ(p.samples, 48u);
        const bool silent = p.firstChannel[0] == 0;
        EXPECT_EQ(silent, (p.errorFlags & kIsoInError) != 0);
        for (int32_t v : p.firstChannel) {
            EXPECT_EQ(v, silent ? 0 : 0x10000);
        }
        flagged += silent ? 1 : 0;
    }
    EXPECT_EQ(flagged, 1);
    EXPECT_EQ(restarts, 0);
    StopStreaming();
}

INSTANTIATE_TEST_SUITE_P(Faults, CaptureFaults,
                         ::testing::Values(CaptureFaultRow{"LostPacket", 0},
                                           CaptureFaultRow{"ThreeSamplesShort", 18}),
                         [](const auto& info) { return std::string(info.param.name); });

// The first priming completion three frames late moves the whole schedule by 3 - 1 + 10 frames;
// completions on time move nothing.
TEST_F(UsbStreamingTest, LatePrimingShiftsTheSchedule)
{
    for (uint32_t delay : {0u, 2u}) {
        SCOPED_TRACE(delay);
        Start(UsbSim::ProductUac1());
        bus->DelayIsoCompletions(delay, 10);
        const ULONG start = bus->CurrentFrame() + 8;
        ASSERT_EQ(StartStreaming(48000), STATUS_SUCCESS);
        Run(11);
        EXPECT_EQ(transport->Lateness(), delay == 0 ? 0 : 12);
        EXPECT_EQ(transport->Slot(0).startFrame, start + 10 + (delay == 0 ? 0 : 12));
        Run(1000);
        EXPECT_EQ(restarts, 0);
        EXPECT_EQ(OutPacketsByFrame(*device, 6).begin()->first, start);
        StopStreaming();
        Unplug();
    }
}

// A completion so late that its slot's next transfer would start less than two frames ahead of
// the bus moves the schedule on instead of asking for a restart: the frames in between are lost
// and told, and streaming goes on. Held back, for less and for more than the ring of transfers
// covers: the playback pipe's transfer (the sync pipe on the product, the other pipe beside
// capture on the device with inputs), or on that device the capture pipe's as well.
struct LateSlotRow
{
    const char* name;
    bool capture;
    ULONG heldFrames;
    int heldTransfers;
};

void PrintTo(const LateSlotRow& row, std::ostream* out)
{
    *out << row.name;
}

class LateSlot : public UsbStreamingTest, public ::testing::WithParamInterface<LateSlotRow>
{
};

TEST_P(LateSlot, MovesTheScheduleOnWithoutARestart)
{
    const LateSlotRow& row = GetParam();
    if (row.capture) {
        Start(UsbSim::BuildProductDescriptors({.audioClass = 1, .inChannels = 2}),
              StreamingRecord(true));
    } else {
        Start(UsbSim::ProductUac1());
    }
    ASSERT_EQ(StartStreaming(48000), STATUS_SUCCESS);
    Run(100);
    ASSERT_EQ(transport->LostFrames(), 0u);
    bus->DelayIsoCompletions(row.heldFrames, row.heldTransfers);
    Run(60);
    const auto held = bus->TakeHeldCompletions();
    ASSERT_EQ(held.size(), static_cast<size_t>(row.heldTransfers));
    EXPECT_EQ(held[0].endpointAddress, 0x01) << "the playback pipe's transfer was held";
    if (row.heldTransfers == 2) {
        EXPECT_EQ(held[1].endpointAddress, 0x82) << "and the sync pipe's, capture";
    }
    EXPECT_EQ(restarts, 0);
    EXPECT_TRUE(transport->IsStreaming());
    EXPECT_GT(transport->LostFrames(), 0u);
    EXPECT_LE(transport->LostFrames(), row.heldFrames);
    if (!row.capture) {
        // From the end of the ring queued behind the held transfer to two frames past its
        // completion.
        const ULONG ringEnd = held[0].firstFrame + transport->Transfers();
        EXPECT_EQ(transport->LostFrames(), held[0].completedFrame + 2 - ringEnd);
    }
    EXPECT_EQ(lostReported, transport->LostFrames());
    const size_t before = periods.size();
    const ULONG lost = transport->LostFrames();
    Run(1000);
    EXPECT_EQ(restarts, 0);
    EXPECT_EQ(transport->LostFrames(), lost) << "undisturbed, nothing more is lost";
    EXPECT_EQ(periods.size() - before, 1000u);
    EXPECT_TRUE(device->Violations().empty());
    StopStreaming();
    EXPECT_TRUE(RemoveLockHolders(&context.removeLock).empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, LateSlot,
                         ::testing::Values(LateSlotRow{"PlaybackHeldNine", false, 9, 1},
                                           LateSlotRow{"PlaybackHeldThirty", false, 30, 1},
                                           LateSlotRow{"CapturePlaybackHeldNine", true, 9, 1},
                                           LateSlotRow{"CapturePlaybackHeldThirty", true, 30, 1},
                                           LateSlotRow{"CaptureBothHeldNine", true, 9, 2},
                                           LateSlotRow{"CaptureBothHeldThirty", true, 30, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

// After the first 5000 frames a completion later than the queue-ahead raises it at once.
TEST_F(UsbStreamingTest, LateCompletionsRaiseTheQueueAheadAfterTheWarmUp)
{
    Start(UsbSim::ProductUac1());
    ASSERT_EQ(StartStreaming(48000), STATUS_SUCCESS);
    bus->DelayIsoCompletions(4, 10);
    Run(100);
    EXPECT_EQ(transport->QueueAhead(), 3) << "nothing is learned in the first 5000 frames";
    Run(5000);
    bus->DelayIsoCompletions(4, 10);
    Run(100);
    EXPECT_EQ(transport->QueueAhead(), 5);
    EXPECT_EQ(restarts, 0);
    StopStreaming();
}

TEST_F(UsbStreamingTest, QueueAheadIsHeldToZeroToEight)
{
    Start(UsbSim::ProductUac1());
    for (const auto& [given, held, transfers] :
         {std::tuple{-5, 0, 7u}, {0, 0, 7u}, {8, 8, 15u}, {1000, 8, 15u}}) {
        transport->SetQueueAhead(given);
        EXPECT_EQ(transport->QueueAhead(), held);
        ASSERT_EQ(StartStreaming(48000), STATUS_SUCCESS);
        EXPECT_EQ(transport->Transfers(), transfers);
        Run(20);
        StopStreaming();
    }
}

// A rate whose frames the endpoint cannot carry is refused; a device clock that asks for more
// than a packet holds is held to the packet.
TEST_F(UsbStreamingTest, FramesNeverOutgrowTheirPackets)
{
    Start(UsbSim::BuildProductDescriptors({.audioClass = 1, .rates = {48000}}));
    EXPECT_EQ(StartStreaming(96000), STATUS_INVALID_PARAMETER);
    EXPECT_FALSE(transport->AlternateSettingsActive());
    Unplug();

    Start(UsbSim::BuildProductDescriptors({.audioClass = 1, .feedback = true, .rates = {48000}}),
          StreamingRecord(false, true));
    device->SetClockOffsetPpm(40000);  // 49920 Hz: 50 samples in some frames, the packet holds 49
    ASSERT_EQ(StartStreaming(48000), STATUS_SUCCESS);
    Run(500);
    EXPECT_TRUE(transport->FeedbackValid());
    for (const auto& [frame, sizes] : OutPacketsByFrame(*device, 6)) {
        EXPECT_LE(Sum(sizes), 49u) << frame;
    }
    StopStreaming();
}

struct FeedbackRow
{
    const char* name;
    int audioClass;
    int ppm;
    ULONG rate;
};

class FeedbackValues : public UsbStreamingTest, public ::testing::WithParamInterface<FeedbackRow>
{
};

TEST_P(FeedbackValues, AcceptedFeedbackSetsTheRate)
{
    const FeedbackRow& row = GetParam();
    Start(UsbSim::BuildProductDescriptors({.audioClass = row.audioClass, .feedback = true}),
          StreamingRecord(false, true));
    device->SetClockOffsetPpm(row.ppm);
    ASSERT_EQ(StartStreaming(row.rate), STATUS_SUCCESS);
    Run(200);
    EXPECT_TRUE(transport->FeedbackValid());
    EXPECT_EQ(restarts, 0);
    const double expected = row.rate * (1 + row.ppm / 1e6);
    EXPECT_NEAR(transport->EffectiveRate(), expected, 2);
    EXPECT_EQ(transport->Fraction(), transport->EffectiveRate() % 1000);
    StopStreaming();
}

INSTANTIATE_TEST_SUITE_P(Formats, FeedbackValues,
                         ::testing::Values(FeedbackRow{"FullSpeedFast", 1, 2000, 48000},
                                           FeedbackRow{"FullSpeedSlow", 1, -200, 48000},
                                           FeedbackRow{"HighSpeedFast", 2, 3000, 44100},
                                           FeedbackRow{"HighSpeedSlow", 2, -30000, 96000}),
                         [](const auto& info) { return std::string(info.param.name); });

// Feedback outside 96 to 105 % is refused and counted; each start that sees only refused values
// asks for a restart, twelve times, and never a thirteenth.
TEST_F(UsbStreamingTest, RefusedFeedbackRestartsTwelveTimesAtMost)
{
    Start(UsbSim::BuildProductDescriptors({.audioClass = 1, .feedback = true}),
          StreamingRecord(false, true));
    device->SetClockOffsetPpm(70000);  // 51.36 samples per frame at 48000: above 105 %
    for (int start = 0; start < 15; ++start) {
        ASSERT_EQ(StartStreaming(48000), STATUS_SUCCESS);
        Run(30);
        EXPECT_FALSE(transport->FeedbackValid());
        EXPECT_GT(transport->FeedbackErrors(), 0u);
        EXPECT_EQ(restarts, start < 12 ? start + 1 : 12);
        StopStreaming();
    }
    EXPECT_EQ(transport->RestartAttempts(), 13u);
}

// Once streaming runs, a transfer of a pipe other than the sync pipe (playback paced by the
// capture pipe, or the feedback pipe) goes out again as it completes: nothing is asked of the
// pool, so a pool that has nothing left for transfers stops nothing.
TEST_F(UsbStreamingTest, SteadyStreamingAsksNothingOfThePool)
{
    struct Row
    {
        const char* name;
        UsbSim::UsbDescriptorSet descriptors;
        UsbConfigRecord record;
    };
    const Row rows[] = {
        {"CapturePaced", UsbSim::BuildProductDescriptors({.audioClass = 1, .inChannels = 2}),
         StreamingRecord(true)},
        {"Feedback", UsbSim::BuildProductDescriptors({.audioClass = 2, .feedback = true}),
         StreamingRecord(false, true)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Start(row.descriptors, row.record);
        ASSERT_EQ(StartStreaming(48000), STATUS_SUCCESS);
        Run(100);  // past the priming cycle: every pipe has joined
        const bool feedback = row.record.feedback != 0;
        if (!feedback) {
            TakeReceived();
        }
        const uint64_t allocations = AllocationCount();
        FailAllocationsWithTag(kTagTrOb);
        FailAllocationsWithTag(kTagUrb);
        Run(200);
        EXPECT_EQ(AllocationCount(), allocations);
        ClearAllocationFailures();
        EXPECT_EQ(restarts, 0);
        if (feedback) {
            const ULONG errors = transport->FeedbackErrors();
            Run(100);  // still fed: nothing counted as an error or lost
            EXPECT_TRUE(transport->FeedbackValid());
            EXPECT_EQ(transport->FeedbackErrors(), errors);
        } else {
            // The playback pipe, paced by the capture pipe, carried on without a gap.
            const std::vector<int32_t> received = TakeReceived();
            EXPECT_GE(received.size(), 199u * 48u);
            for (size_t i = 1; i < received.size(); ++i) {
                ASSERT_EQ(received[i], received[i - 1] % kPatternPeriod + 1) << "sample " << i;
            }
        }
        StopStreaming();
        EXPECT_TRUE(RemoveLockHolders(&context.removeLock).empty());
        Unplug();
    }
}

TEST_F(UsbStreamingTest, SurpriseRemovalRetiresEveryTransfer)
{
    Start(UsbSim::BuildProductDescriptors({.audioClass = 2, .inChannels = 2, .feedback = true}),
          StreamingRecord(true, true));
    ASSERT_EQ(StartStreaming(48000), STATUS_SUCCESS);
    Run(100);
    bus->Detach();
    EXPECT_FALSE(transport->IsStreaming());
    EXPECT_EQ(restarts, 0) << "nothing to restart on";
    EXPECT_TRUE(RemoveLockHolders(&context.removeLock).empty());
    EXPECT_EQ(bus->PendingRequests(), 0u);
    StopStreaming();
}

// A stop that comes while a completion is sending its transfer again: the completion looked before
// the stop cleared streaming, and reaches the IRP while the stop's cancel pass runs. Reuse clears
// the IRP's cancel flag, so the transfer went out uncancelled after the pass and the stop waited
// for its frames; with the bus's clock stopped (a switch to virtual time in a threaded test) it
// waited 5 s and left the ring's transfers behind. Nothing may go out once the stop began. In real
// time: the stop's wait must not see virtual time race ahead of the completion it waits for.
TEST_F(UsbStreamingTest, AStopDuringAResubmissionSendsNothingMore)
{
    Start(UsbSim::ProductUac2());
    ASSERT_EQ(StartStreaming(48000), STATUS_SUCCESS);
    Run(50);
    std::thread stopper;
    size_t sentBeforeStop = 0;
    std::atomic<bool> passBegan{false};
    std::atomic<bool> hookRan{false};
    duringNextFill = [&] {
        // On the bus's frame DPC, which completes every transfer: none completes meanwhile.
        sentBeforeStop = bus->UrbCount(URB_FUNCTION_ISOCH_TRANSFER);
        const size_t queued = bus->PendingRequests();
        stopper = std::thread([this] { StopStreaming(); });
        // The stop's cancel pass has begun once the bus gives back its first transfer; the pass
        // then waits for this completion, which leaves it to finish before it reaches its IRP.
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!passBegan && std::chrono::steady_clock::now() < limit) {
            passBegan = bus->PendingRequests() < queued;
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        hookRan = true;
    };
    Platform::Kernel::SetTimeMode(Platform::Kernel::TimeMode::Real);
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!hookRan && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(hookRan) << "no transfer was sent again";
    stopper.join();
    Platform::Kernel::SetTimeMode(Platform::Kernel::TimeMode::Virtual);
    EXPECT_TRUE(passBegan);
    EXPECT_EQ(bus->UrbCount(URB_FUNCTION_ISOCH_TRANSFER), sentBeforeStop)
        << "a transfer went out after the stop";
    EXPECT_EQ(bus->PendingRequests(), 0u);
    EXPECT_FALSE(transport->IsStreaming());
}

// A removal waits for every transfer's reference; transfers that cannot be sent again retire, so
// the removal returns while streaming runs.
TEST_F(UsbStreamingTest, RemovalReturnsWhileStreaming)
{
    Start(UsbSim::BuildProductDescriptors({.audioClass = 1, .inChannels = 2}),
          StreamingRecord(true));
    ASSERT_EQ(StartStreaming(48000), STATUS_SUCCESS);
    Run(100);
    ASSERT_EQ(IoAcquireRemoveLock(&context.removeLock, nullptr), STATUS_SUCCESS);
    IoReleaseRemoveLockAndWait(&context.removeLock, nullptr);
    EXPECT_FALSE(transport->IsStreaming());
    EXPECT_EQ(bus->PendingRequests(), 0u);
    StopStreaming();
}

TEST_F(UsbStreamingTest, EveryAllocationFailingInTurnLeavesNothingBehind)
{
    Start(UsbSim::BuildProductDescriptors({.audioClass = 1, .inChannels = 2}),
          StreamingRecord(true));
    ASSERT_EQ(transport->SetSampleRate(48000), STATUS_SUCCESS);
    bool succeeded = false;
    for (uint64_t n = 1; n < 200 && !succeeded; ++n) {
        FailAllocationNumber(n);
        const NTSTATUS status = StartStreaming(48000);
        ClearAllocationFailures();
        succeeded = NT_SUCCESS(status);
        if (!succeeded) {
            EXPECT_FALSE(transport->AlternateSettingsActive());
            EXPECT_TRUE(RemoveLockHolders(&context.removeLock).empty());
            continue;
        }
        Run(50);
        StopStreaming();
    }
    EXPECT_TRUE(succeeded);
}

}  // namespace
