// The engine's streaming control against the simulated device, in virtual time: start and stop
// with the stop guard, rate changes while streaming, restarts, removal, the learned queue-ahead,
// the gathering of input layouts and work items that cannot be queued.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "UsbTestOwner.h"
#include "engine/EngineStreaming.h"
#include "engine/RoutingStandIn.h"

namespace {

using namespace Platform::Kernel;
using namespace std::chrono_literals;

constexpr ULONG kRates[] = {44100, 48000, 96000};
constexpr ULONG kFramesPerMs[] = {45, 49, 97};
const ChannelLayout kLineOutputs[] = {{kSampleInt24LE, 2, 0, 0}};

struct TickRecord
{
    ULONG frameKey;
    std::vector<PVOID> inputs;
    ULONG framesIn;
    LONG flags;
    ULONG framesOut;
    ULONG extraFrames;
};

// The stand-in with a record of what the engine handed it.
class RecordingRouting : public EnginePeriodRouting
{
public:
    void ResetForStart(bool restart) override
    {
        starts.push_back(restart);
        standIn.ResetForStart(restart);
    }
    void ResetRings() override { standIn.ResetRings(); }
    void GetDeviceOutputData(ULONG frameKey, ULONG frames, ULONG bufferIndex, PVOID* data,
                             bool forceCopy, ULONG previousKey, ULONG previousFrames) override
    {
        fills.push_back({frameKey, frames, bufferIndex, *data, previousKey, previousFrames});
        standIn.GetDeviceOutputData(frameKey, frames, bufferIndex, data, forceCopy, previousKey,
                                    previousFrames);
    }
    void CancelPacket(ULONG bufferIndex, PVOID destination) override
    {
        cancels.push_back({bufferIndex, destination});
        standIn.CancelPacket(bufferIndex, destination);
    }
    void SetStreamsWanted(bool wanted) { standIn.SetStreamsWanted(wanted); }
    void NotifyStreamManager(LONG state) override { managerStates.push_back(state); }
    LONG RoutingTick(ULONG frameKey, PVOID* inputs, ULONG framesIn, LONG flags, ULONG framesOut,
                     ULONG extraFrames) override
    {
        if (duringTick) {
            const std::function<void()> hook = std::move(duringTick);
            duringTick = nullptr;
            hook();
        }
        std::vector<PVOID> entries;
        if (inputs != nullptr) {
            entries.assign(inputs, inputs + inputCount);
        }
        ticks.push_back({frameKey, entries, framesIn, flags, framesOut, extraFrames});
        return answer != 0
                   ? answer
                   : standIn.RoutingTick(frameKey, inputs, framesIn, flags, framesOut, extraFrames);
    }

    RoutingStandIn standIn{2, 3, true};
    ULONG inputCount = 1;
    LONG answer = 0;                   // 0: the stand-in's
    std::function<void()> duringTick;  // runs once inside the next tick, before it is recorded
    std::vector<bool> starts;
    std::vector<LONG> managerStates;
    struct Fill
    {
        ULONG frameKey;
        ULONG frames;
        ULONG bufferIndex;
        PVOID data;
        ULONG previousKey;
        ULONG previousFrames;
    };
    std::vector<Fill> fills;
    std::vector<std::pair<ULONG, PVOID>> cancels;
    std::vector<TickRecord> ticks;
};

class RecordingHost : public EngineHost
{
public:
    bool IsExternalClockSelected() override { return externalClock; }
    void StoreTransfersAhead(ULONG value) override { stored.push_back(value); }

    bool externalClock = false;
    std::vector<ULONG> stored;
};

StreamConfiguration OutputConfiguration(ULONG index = 0)
{
    StreamConfiguration record{};
    record.index = index;
    record.deviceOutputChannels = 2;
    record.outputLayouts = {1, kLineOutputs};
    record.rateCount = 3;
    record.rates = kRates;
    record.framesPerMs = kFramesPerMs;
    return record;
}

class EngineTest : public UsbTransportTest
{
protected:
    void SetUp() override
    {
        UsbTransportTest::SetUp();
        Plug(UsbSim::ProductUac1());
        engine.emplace(&context, &*transport, &routing, &host);
    }
    void TearDown() override
    {
        engine->StopEngine();
        RunPending();
        engine.reset();
        UsbTransportTest::TearDown();
    }
    // Initialised on configuration 0 at 48000 and streaming, its start passed the stop guard.
    void StartStreaming()
    {
        const StreamConfiguration record = OutputConfiguration();
        engine->ApplyStreamConfiguration(&record, 1);
        ASSERT_EQ(engine->InitializeEngine(ProductRecord()), STATUS_SUCCESS);
        ASSERT_EQ(engine->RunControl(1), kChangeDone);
        RunPending();
        ASSERT_TRUE(engine->IsStreaming());
        AdvanceTime(150ms);
    }
    size_t RateRequests(uint32_t rate) const
    {
        size_t count = 0;
        for (const UsbSim::ClassRequestRecord& request : device->ClassRequests()) {
            if (request.setup.bmRequestType == 0x22 && request.setup.bRequest == 0x01 &&
                request.data.size() == 3 &&
                static_cast<uint32_t>(request.data[0] | request.data[1] << 8 |
                                      request.data[2] << 16) == rate) {
                ++count;
            }
        }
        return count;
    }

    RecordingRouting routing;
    RecordingHost host;
    std::optional<EngineStreaming> engine;
};

// The first start sets the rate and queues the start behind it; a stop that comes within 100 ms
// of a start is not done, a later one is.
TEST_F(EngineTest, RunControlStartsStopsAndGuardsAStopRightAfterAStart)
{
    const StreamConfiguration record = OutputConfiguration();
    engine->ApplyStreamConfiguration(&record, 1);
    EXPECT_EQ(engine->RunControl(1), kChangeImpossible) << "not initialised";
    ASSERT_EQ(engine->InitializeEngine(ProductRecord()), STATUS_SUCCESS);

    EXPECT_EQ(engine->RunControl(1), kChangeDone);
    EXPECT_FALSE(engine->IsStreaming()) << "the start waits behind the rate";
    EXPECT_EQ(device->SampleRate(), 48000u);
    RunPending();
    ASSERT_TRUE(engine->IsStreaming());
    EXPECT_TRUE(transport->IsStreaming());
    EXPECT_EQ(engine->RunControl(1), kChangeNothingToDo);

    AdvanceTime(50ms);
    EXPECT_EQ(engine->RunControl(0), kChangeTooSoon);
    EXPECT_TRUE(transport->IsStreaming());
    AdvanceTime(60ms);
    EXPECT_EQ(engine->RunControl(0), kChangeDone);
    EXPECT_FALSE(engine->IsStreaming());
    EXPECT_FALSE(transport->IsStreaming());
    EXPECT_EQ(engine->RunControl(0), kChangeNothingToDo);

    // The rate is applied now: a start goes at once, and a stop right after it is refused.
    EXPECT_EQ(engine->RunControl(1), kChangeDone);
    EXPECT_TRUE(engine->IsStreaming());
    EXPECT_EQ(engine->RunControl(0), kChangeTooSoon);
    EXPECT_TRUE(engine->IsStreaming());
    EXPECT_EQ(RateRequests(48000), 1u);
    EXPECT_FALSE(routing.ticks.empty()) << "periods reach the routing";
    // The look-ahead is the frames of one millisecond at 48000 for every transfer queued ahead.
    ASSERT_GT(transport->QueueAhead(), 0);
    EXPECT_EQ(routing.ticks.back().extraFrames, 49u * static_cast<ULONG>(transport->QueueAhead()));
}

// Every fill names the slot before it (the routing chains its positions on it), and every packet
// that comes back names the buffer the fill was given.
TEST_F(EngineTest, FillsNameThePreviousSlotAndCancelsTheirBuffer)
{
    engine->SetTransfersAhead(2, true);
    StartStreaming();
    AdvanceTime(200ms);
    const size_t transfers = transport->Transfers();
    ASSERT_GT(routing.fills.size(), transfers + 10);
    for (size_t i = transfers; i < routing.fills.size(); ++i) {
        const RecordingRouting::Fill& fill = routing.fills[i];
        const RecordingRouting::Fill& before = routing.fills[i - 1];
        EXPECT_EQ(fill.previousKey, before.frameKey) << "fill " << i;
        EXPECT_EQ(fill.previousFrames, before.frames) << "fill " << i;
        EXPECT_NE(fill.data, nullptr);
    }
    ASSERT_FALSE(routing.cancels.empty());
    for (const auto& [bufferIndex, destination] : routing.cancels) {
        EXPECT_EQ(bufferIndex, 0u);
        EXPECT_TRUE(std::any_of(routing.fills.begin(), routing.fills.end(),
                                [target = destination](const RecordingRouting::Fill& fill) {
                                    return fill.data == target;
                                }));
    }
}

// Asked at DISPATCH_LEVEL, a start is carried out by a work item.
TEST_F(EngineTest, RunControlAtDispatchLevelIsQueued)
{
    StartStreaming();
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    const LONG answer = engine->RunControl(0);
    KeLowerIrql(old);
    EXPECT_EQ(answer, kChangeQueued);
    EXPECT_TRUE(engine->IsStreaming());
    RunPending();
    EXPECT_FALSE(engine->IsStreaming());
    EXPECT_TRUE(RemoveLockHolders(&context.removeLock).empty());
}

// A request queued from raised IRQL is carried out only when no later one came meanwhile: a start
// done at once at PASSIVE_LEVEL is not undone by the stop queued before it, and either way the
// last request is what holds.
TEST_F(EngineTest, AQueuedRunControlGivesWayToALaterRequest)
{
    StartStreaming();
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    EXPECT_EQ(engine->RunControl(0), kChangeQueued);
    KeLowerIrql(old);
    EXPECT_EQ(engine->RunControl(1), kChangeNothingToDo);
    RunPending();
    EXPECT_TRUE(engine->IsStreaming()) << "the later start holds";
    EXPECT_TRUE(transport->IsStreaming());

    // A queued start followed by a queued stop: the stop holds.
    AdvanceTime(150ms);
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    EXPECT_EQ(engine->RunControl(1), kChangeQueued);
    EXPECT_EQ(engine->RunControl(0), kChangeQueued);
    KeLowerIrql(old);
    RunPending();
    EXPECT_FALSE(engine->IsStreaming());
    EXPECT_FALSE(transport->IsStreaming());
    EXPECT_TRUE(RemoveLockHolders(&context.removeLock).empty());
}

// The device gets the new rate while no transfer runs, and streaming resumes at it, the first
// period marked as a break in the data.
TEST_F(EngineTest, RateChangeWhileStreamingStopsSetsTheRateAndResumes)
{
    StartStreaming();
    AdvanceTime(20ms);
    EXPECT_EQ(engine->SetRate(0, 2), STATUS_SUCCESS);
    EXPECT_EQ(device->SampleRate(), 96000u);
    EXPECT_EQ(RateRequests(96000), 1u);
    EXPECT_TRUE(engine->IsStreaming());
    EXPECT_TRUE(transport->IsStreaming());
    EXPECT_EQ(transport->CurrentRate(), 96000u);
    EXPECT_TRUE(device->Violations().empty()) << device->Violations().front();
    routing.ticks.clear();
    AdvanceTime(20ms);
    ASSERT_FALSE(routing.ticks.empty());
    EXPECT_TRUE(routing.ticks.front().flags & kDiscontinuityFlag);
    EXPECT_FALSE(routing.ticks.back().flags & kDiscontinuityFlag);
    EXPECT_EQ(routing.ticks.back().extraFrames, 97u);

    EXPECT_EQ(engine->SetRate(1, 0), STATUS_UNSUCCESSFUL) << "not the configuration in force";
    EXPECT_EQ(engine->SetRate(0, 2), STATUS_SUCCESS);
    EXPECT_EQ(RateRequests(96000), 1u) << "an unchanged rate is not sent again";
}

// A rate the device refused is not the rate in force: the stream set keeps its index on the
// failure, so the next start must run at the old rate rather than send the refused one again.
// The streams ran and still do: streaming resumes at the old rate (it stayed stopped, with no
// periods for streams that believe they run).
TEST_F(EngineTest, ARefusedRateLeavesTheOldRateInForce)
{
    StartStreaming();
    device->StallRequests(0x22, 0x01, 1);
    EXPECT_FALSE(NT_SUCCESS(engine->SetRate(0, 2)));
    EXPECT_EQ(engine->RateIndex(), 1u);
    EXPECT_TRUE(engine->IsStreaming()) << "resumed at the old rate";
    EXPECT_TRUE(transport->IsStreaming());
    EXPECT_EQ(transport->CurrentRate(), 48000u);
    const size_t ticksBefore = routing.ticks.size();
    AdvanceTime(150ms);  // past the guard after a start
    EXPECT_GT(routing.ticks.size(), ticksBefore) << "periods come";

    ASSERT_EQ(engine->RunControl(0), kChangeDone);
    engine->RunControl(1);
    RunPending();
    EXPECT_TRUE(engine->IsStreaming());
    EXPECT_EQ(device->SampleRate(), 48000u);
    EXPECT_EQ(RateRequests(96000), 1u) << "only the refused request";
}

TEST_F(EngineTest, AnExternalClockKeepsTheRate)
{
    StartStreaming();
    host.externalClock = true;
    EXPECT_EQ(engine->SetRate(0, 0), STATUS_SUCCESS);
    EXPECT_EQ(device->SampleRate(), 48000u);
    EXPECT_EQ(RateRequests(44100), 0u);
}

TEST_F(EngineTest, ANegativeCreditStopsStreaming)
{
    StartStreaming();
    routing.SetStreamsWanted(false);
    AdvanceTime(10ms);
    EXPECT_FALSE(engine->IsStreaming());
    EXPECT_FALSE(transport->IsStreaming());
    EXPECT_EQ(routing.managerStates.back(), 0);
}

// Surprise removal: every transfer completes, the restart the transport asks for finds no
// device, the removal's wait returns and nothing stays in pool.
TEST_F(EngineTest, SurpriseRemovalWhileStreamingLeavesNothing)
{
    StartStreaming();
    AdvanceTime(20ms);
    bus->Detach();
    RunPending();
    SetPnpState(&context, kPnpSurpriseRemoved);
    AdvanceTime(20ms);
    EXPECT_FALSE(transport->IsStreaming());
    EXPECT_EQ(bus->PendingRequests(), 0u);
    engine->StopEngine();
    RunPending();
    EXPECT_EQ(PendingWorkItemCount(), 0u);
    ASSERT_EQ(IoAcquireRemoveLock(&context.removeLock, nullptr), STATUS_SUCCESS);
    IoReleaseRemoveLockAndWait(&context.removeLock, nullptr);
    EXPECT_TRUE(RemoveLockHolders(&context.removeLock).empty());
    engine.reset();
    transport->ReleaseUsb();
    for (const auto& block : OutstandingPool()) {
        ADD_FAILURE() << "left in pool: " << block.Describe();
    }
    engine.emplace(&context, &*transport, &routing, &host);
}

// A stop that keeps streaming marked (power down) resumes at the next initialisation, the first
// period marked as a break.
TEST_F(EngineTest, InitializationResumesStreamingAStopKept)
{
    StartStreaming();
    engine->StopEngine();
    EXPECT_FALSE(transport->IsStreaming());
    EXPECT_TRUE(engine->IsStreaming()) << "kept for the next start";
    EXPECT_EQ(routing.managerStates.back(), 1);
    EXPECT_TRUE(host.stored.empty()) << "a kept stop writes nothing";
    routing.ticks.clear();
    ASSERT_EQ(engine->InitializeEngine(ProductRecord()), STATUS_SUCCESS);
    RunPending();
    EXPECT_TRUE(transport->IsStreaming());
    AdvanceTime(20ms);
    ASSERT_FALSE(routing.ticks.empty());
    EXPECT_TRUE(routing.ticks.front().flags & kDiscontinuityFlag);
    EXPECT_EQ(RateRequests(48000), 2u) << "a re-initialised device is given its rate again";
}

// The queue-ahead the transport learned over its first window is what a stop stores.
TEST_F(EngineTest, TheLearnedQueueAheadIsStored)
{
    engine->SetTransfersAhead(6, true);
    StartStreaming();
    EXPECT_EQ(transport->QueueAhead(), 6);
    for (int second = 0; second < 320; ++second) {
        AdvanceTime(1s);
    }
    ASSERT_EQ(engine->RunControl(0), kChangeDone);
    ASSERT_EQ(host.stored.size(), 1u);
    EXPECT_EQ(host.stored[0], static_cast<ULONG>(transport->QueueAhead()));
    EXPECT_LT(host.stored[0], 6u);
    ULONG value = 0;
    EXPECT_EQ(engine->GetCallbackDelay(&value), STATUS_SUCCESS);
    EXPECT_EQ(value, host.stored[0]);
}

TEST_F(EngineTest, TransfersAheadIsClampedAndNotReadyBeforeItIsLoaded)
{
    ULONG value = 7;
    EXPECT_EQ(engine->GetCallbackDelay(&value), STATUS_DEVICE_NOT_READY);
    EXPECT_EQ(value, 0u);
    const struct
    {
        ULONG given;
        ULONG kept;
    } cases[] = {{0, 0}, {3, 3}, {8, 8}, {9, 8}, {0x7FFFFFFF, 8}, {0xFFFFFFFF, 8}};
    for (const auto& c : cases) {
        engine->SetTransfersAhead(c.given, true);
        EXPECT_EQ(engine->GetCallbackDelay(&value), STATUS_SUCCESS);
        EXPECT_EQ(value, c.kept) << c.given;
    }
}

// When its work item cannot be queued, a rate change at DISPATCH_LEVEL says it failed; once
// queued it is carried out.
TEST_F(EngineTest, SetRateAtDispatchLevelReportsAWorkItemItCouldNotQueue)
{
    StartStreaming();
    const size_t transferHolders = RemoveLockHolders(&context.removeLock).size();
    const ULONG tags[] = {MakeTag("Queu"), MakeTag("IoWk")};
    for (ULONG tag : tags) {
        FailAllocationsWithTag(tag);
        KIRQL old;
        KeRaiseIrql(DISPATCH_LEVEL, &old);
        const NTSTATUS status = engine->SetRate(0, 0);
        KeLowerIrql(old);
        ClearAllocationFailures();
        EXPECT_FALSE(NT_SUCCESS(status)) << TagText(tag);
        EXPECT_EQ(RemoveLockHolders(&context.removeLock).size(), transferHolders);
    }
    RunPending();
    EXPECT_EQ(device->SampleRate(), 48000u);

    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    const NTSTATUS status = engine->SetRate(0, 0);
    KeLowerIrql(old);
    EXPECT_EQ(status, STATUS_SUCCESS);
    EXPECT_EQ(device->SampleRate(), 48000u) << "not before the work item";
    RunPending();
    EXPECT_EQ(device->SampleRate(), 44100u);
    EXPECT_TRUE(engine->IsStreaming());
}

// A request at DISPATCH_LEVEL needs no allocation once the engine is up: with the pool refusing
// every work item and packet, each kind is still queued and carried out, and a second request
// of a kind already queued is left to the queued one.
TEST_F(EngineTest, RequestsAtDispatchLevelNeedNoAllocation)
{
    struct Case
    {
        const char* name;
        bool streamingBefore;
        std::function<LONG(EngineStreaming&)> request;
        LONG answer;
        bool streamingAfter;
    };
    const Case cases[] = {
        {"run-control start", false, [](EngineStreaming& e) { return e.RunControl(1); },
         kChangeQueued, true},
        {"run-control stop", true, [](EngineStreaming& e) { return e.RunControl(0); },
         kChangeQueued, false},
        {"stop", true, [](EngineStreaming& e) { return e.ChangeStreaming(kStreamingStop); },
         kChangeQueued, false},
        {"restart", true, [](EngineStreaming& e) { return e.ChangeStreaming(kStreamingRestart); },
         kChangeQueued, true},
    };
    StartStreaming();
    for (const Case& c : cases) {
        if (c.streamingBefore != engine->IsStreaming()) {
            ASSERT_EQ(engine->RunControl(c.streamingBefore ? 1 : 0), kChangeDone) << c.name;
        }
        AdvanceTime(150ms);  // past the stop guard
        const size_t ticksBefore = routing.ticks.size();
        FailAllocationsWithTag(MakeTag("Queu"));
        FailAllocationsWithTag(MakeTag("IoWk"));
        KIRQL old;
        KeRaiseIrql(DISPATCH_LEVEL, &old);
        const LONG answer = c.request(*engine);
        const LONG again = c.request(*engine);
        KeLowerIrql(old);
        EXPECT_EQ(answer, c.answer) << c.name;
        EXPECT_TRUE(again == kChangeQueued || again == kChangeAlreadyPending)
            << c.name << ": " << again;
        RunPending();
        ClearAllocationFailures();
        EXPECT_EQ(engine->IsStreaming(), c.streamingAfter) << c.name;
        EXPECT_EQ(transport->IsStreaming(), c.streamingAfter) << c.name;
        if (c.streamingAfter) {
            AdvanceTime(20ms);
            EXPECT_GT(routing.ticks.size(), ticksBefore) << c.name << ": periods come";
        }
        EXPECT_EQ(RemoveLockHolders(&context.removeLock).empty(), !c.streamingAfter) << c.name;
    }
}

// A start whose transfers could not be had is tried again: one failed allocation, wherever it
// falls in the start, does not leave a start asked from DISPATCH_LEVEL (where nobody can be
// told) silent for good. At PASSIVE_LEVEL the caller is told; a failure that lasts ends the
// tries, leaving nothing behind.
TEST_F(EngineTest, AStartWhoseTransfersCouldNotBeHadIsTriedAgain)
{
    StartStreaming();
    ASSERT_EQ(engine->RunControl(0), kChangeDone);
    uint64_t n = 1;
    for (; n < 200; ++n) {
        const std::string label = "allocation " + std::to_string(n);
        const uint64_t before = AllocationCount();
        FailAllocationNumber(n);
        KIRQL old;
        KeRaiseIrql(DISPATCH_LEVEL, &old);
        EXPECT_EQ(engine->RunControl(1), kChangeQueued) << label;
        KeLowerIrql(old);
        RunPending();
        const bool hit = AllocationCount() - before >= n;
        ClearAllocationFailures();
        // A failed start is tried again from a timer, 10 ms on.
        AdvanceTime(20ms);
        RunPending();
        EXPECT_TRUE(engine->IsStreaming()) << label;
        EXPECT_TRUE(transport->IsStreaming()) << label;
        const size_t ticksBefore = routing.ticks.size();
        AdvanceTime(150ms);
        EXPECT_GT(routing.ticks.size(), ticksBefore) << label << ": periods come";
        ASSERT_EQ(engine->RunControl(0), kChangeDone) << label;
        if (!hit || HasFailure()) {
            break;
        }
    }
    EXPECT_GT(n, 3u) << "a start allocates its transfers";

    // At PASSIVE_LEVEL the caller learns the start failed; a failure that lasts is not tried
    // for ever.
    FailAllocationsWithTag(MakeTag("Urb "));
    EXPECT_EQ(engine->RunControl(1), kChangeImpossible);
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    EXPECT_EQ(engine->RunControl(1), kChangeQueued);
    KeLowerIrql(old);
    RunPending();
    AdvanceTime(1s);
    RunPending();
    ClearAllocationFailures();
    EXPECT_FALSE(engine->IsStreaming());
    EXPECT_FALSE(transport->IsStreaming());
    EXPECT_TRUE(RemoveLockHolders(&context.removeLock).empty());
}

// A start refused by the bus (its transfers refused at once) is tried again from a timer, whether
// it was the resume after a rate change (the device took it or refused it) or the resume of a kept
// stop at initialisation; between
// the tries no work item is held waiting.
TEST_F(EngineTest, AResumeTheBusRefusesIsTriedAgainFromATimer)
{
    struct Case
    {
        const char* name;
        std::function<void()> resume;
    };
    const Case cases[] = {
        {"rate change", [this] { EXPECT_EQ(engine->SetRate(0, 2), STATUS_SUCCESS); }},
        {"refused rate change",
         [this] {
             device->StallRequests(0x22, 0x01, 1);
             EXPECT_FALSE(NT_SUCCESS(engine->SetRate(0, 2)));
         }},
        {"initialisation",
         [this] {
             engine->StopEngine();
             ASSERT_EQ(engine->InitializeEngine(ProductRecord()), STATUS_SUCCESS);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartStreaming();
        bus->RefuseIsoTransfers(3);
        c.resume();
        RunPending();
        EXPECT_FALSE(transport->IsStreaming()) << "the bus refused the first start";
        EXPECT_EQ(PendingWorkItemCount(), 0u) << "nothing waits in a work item";
        AdvanceTime(100ms);
        RunPending();
        EXPECT_TRUE(engine->IsStreaming());
        ASSERT_TRUE(transport->IsStreaming()) << "tried again";
        const size_t ticksBefore = routing.ticks.size();
        AdvanceTime(150ms);
        EXPECT_GT(routing.ticks.size(), ticksBefore) << "periods come";
        ASSERT_EQ(engine->RunControl(0), kChangeDone);
        engine->StopEngine();
        RunPending();
        EXPECT_TRUE(RemoveLockHolders(&context.removeLock).empty());
    }
}

// With a single device input layout the buffer is handed on alone, but in an array with room for
// every input layout: the routing fills the loopback entries after it. A configuration of only
// loopback inputs the same, the device's part of it empty.
TEST_F(EngineTest, APeriodHasAnEntryForEveryInputLayout)
{
    struct Case
    {
        const char* name;
        ULONG deviceInputChannels;
        ULONG layouts;
    };
    const Case cases[] = {{"one device layout and two loopback", 2, 3},
                          {"loopback only", 0, 2},
                          {"one device layout", 2, 1}};
    ULONG configurationIndex = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChannelLayout items[3] = {};
        for (ChannelLayout& item : items) {
            item.channelCount = 2;
        }
        StreamConfiguration record = OutputConfiguration(configurationIndex++);
        record.deviceInputChannels = c.deviceInputChannels;
        record.inputLayouts = {c.layouts, items};
        engine->ApplyStreamConfiguration(&record, 1);
        routing.ticks.clear();
        routing.inputCount = c.layouts;
        int data = 0;
        engine->OnUsbPeriod(10, 48, 0, &data, 0, 48, 1);
        ASSERT_EQ(routing.ticks.size(), 1u);
        std::vector<PVOID> expected(c.layouts, nullptr);
        expected[0] = &data;
        EXPECT_EQ(routing.ticks[0].inputs, expected);
    }
}

// Without its gather arrays the engine hands a frame on as one device layout, but the routing
// still fills an entry for every layout of the configuration: more layouts than a period's array
// holds get no array at all rather than one too short.
TEST_F(EngineTest, AConfigurationWiderThanThePeriodArrayGetsNoInputsWithoutGatherArrays)
{
    constexpr ULONG kLayouts = kMaxPeriodInputs + 2;
    std::vector<ChannelLayout> items(kLayouts);
    for (ChannelLayout& item : items) {
        item.channelCount = 1;
    }
    StreamConfiguration record = OutputConfiguration();
    record.deviceInputChannels = 3;
    record.inputLayouts = {kLayouts, items.data()};
    FailAllocationsWithTag(MakeTag("XiMw"));
    engine->ApplyStreamConfiguration(&record, 1);
    ClearAllocationFailures();
    routing.inputCount = kLayouts;
    int data = 0;
    engine->OnUsbPeriod(10, 48, 0, &data, 0, 48, 1);
    ASSERT_EQ(routing.ticks.size(), 1u);
    EXPECT_TRUE(routing.ticks[0].inputs.empty());
}

// Input spread over two layouts is handed on once per frame with both buffers, however the
// completions of the frames interleave.
// A configuration change that meets a period (its stop was only queued) waits for the period to
// finish before it replaces the gather arrays the period hands on.
TEST_F(EngineTest, AConfigurationChangeWaitsForThePeriodInFlight)
{
    ChannelLayout items[2] = {};
    items[0].channelCount = 2;
    items[1].channelCount = 2;
    StreamConfiguration gathered = OutputConfiguration();
    gathered.deviceInputChannels = 4;
    gathered.inputLayouts = {2, items};
    engine->ApplyStreamConfiguration(&gathered, 1);
    StreamConfiguration next = OutputConfiguration();
    next.index = 1;
    routing.inputCount = 2;
    std::atomic<bool> applied{false};
    bool appliedDuringTick = true;
    std::thread changer;
    routing.duringTick = [&] {
        changer = std::thread([&] {
            engine->ApplyStreamConfiguration(&next, 1);
            applied = true;
        });
        const auto until = std::chrono::steady_clock::now() + 200ms;
        while (!applied && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(1ms);
        }
        appliedDuringTick = applied;
    };
    int buffers[2] = {};
    engine->OnUsbPeriod(10, 48, 0, &buffers[0], 0, 48, 1);
    engine->OnUsbPeriod(10, 48, 1, &buffers[1], 0, 48, 1);
    changer.join();
    EXPECT_FALSE(appliedDuringTick);
    EXPECT_TRUE(applied);
    ASSERT_EQ(routing.ticks.size(), 1u);
    EXPECT_EQ(routing.ticks[0].inputs, (std::vector<PVOID>{&buffers[0], &buffers[1]}));
    EXPECT_EQ(engine->ConfigurationIndex(), 1);
}

TEST_F(EngineTest, InputOfTwoLayoutsIsGatheredPerFrame)
{
    static const ChannelLayout layouts[] = {{}, {}, {}};
    StreamConfiguration record = OutputConfiguration();
    ChannelLayout items[3] = {layouts[0], layouts[1], layouts[2]};
    items[0].channelCount = 2;
    items[1].channelCount = 2;
    items[2].channelCount = 4;  // beyond the device's inputs
    record.deviceInputChannels = 4;
    record.inputLayouts = {3, items};
    engine->ApplyStreamConfiguration(&record, 1);
    routing.inputCount = 3;
    int buffers[8] = {};
    engine->OnUsbPeriod(10, 48, 0, &buffers[0], 1, 48, 2);
    engine->OnUsbPeriod(11, 48, 1, &buffers[1], 0, 48, 2);
    EXPECT_TRUE(routing.ticks.empty());
    engine->OnUsbPeriod(10, 48, 2, &buffers[2], 0, 48, 2);  // not a USB layout: ignored
    EXPECT_TRUE(routing.ticks.empty());
    engine->OnUsbPeriod(10, 48, 1, &buffers[3], 4, 48, 2);
    ASSERT_EQ(routing.ticks.size(), 1u);
    EXPECT_EQ(routing.ticks[0].frameKey, 10u);
    EXPECT_EQ(routing.ticks[0].inputs, (std::vector<PVOID>{&buffers[0], &buffers[3], nullptr}));
    EXPECT_EQ(routing.ticks[0].flags, 5);
    EXPECT_EQ(routing.ticks[0].extraFrames, 98u);
    engine->OnUsbPeriod(11, 48, 0, &buffers[4], 0, 48, 1);
    ASSERT_EQ(routing.ticks.size(), 2u);
    EXPECT_EQ(routing.ticks[1].inputs, (std::vector<PVOID>{&buffers[4], &buffers[1], nullptr}));
    EXPECT_EQ(routing.ticks[1].flags, 0);

    // Four frames each missing a layout fill the slots; a fifth takes the oldest one's place,
    // empty.
    for (ULONG frame = 20; frame < 25; ++frame) {
        engine->OnUsbPeriod(frame, 48, 0, &buffers[5], 0, 48, 1);
    }
    engine->OnUsbPeriod(20, 48, 1, &buffers[6], 0, 48, 1);
    EXPECT_EQ(routing.ticks.size(), 2u) << "frame 20 lost its slot to frame 24";
    engine->OnUsbPeriod(24, 48, 1, &buffers[7], 0, 48, 1);
    ASSERT_EQ(routing.ticks.size(), 3u);
    EXPECT_EQ(routing.ticks[2].frameKey, 24u);
}

TEST_F(EngineTest, CreditCountsFramesUntilTheRoutingAnswers)
{
    const StreamConfiguration record = OutputConfiguration();
    engine->ApplyStreamConfiguration(&record, 1);
    routing.answer = 500;
    engine->OnUsbPeriod(1, 48, 0, nullptr, 0, 48, 1);
    EXPECT_EQ(engine->Credit(), 500);
    EXPECT_EQ(routing.ticks[0].inputs, std::vector<PVOID>{nullptr});
}

// Completions on other processors keep arriving while a complete frame is handed to the routing:
// they never take over the slot whose buffers the routing is reading.
TEST_F(EngineTest, AFrameBeingHandedOnKeepsItsSlot)
{
    StreamConfiguration record = OutputConfiguration();
    ChannelLayout items[2] = {};
    items[0].channelCount = 2;
    items[1].channelCount = 2;
    record.deviceInputChannels = 4;
    record.inputLayouts = {2, items};
    engine->ApplyStreamConfiguration(&record, 1);
    routing.inputCount = 2;
    int buffers[4] = {};
    routing.duringTick = [&] {
        for (ULONG frame = 31; frame < 36; ++frame) {
            engine->OnUsbPeriod(frame, 48, 0, &buffers[2], 0, 48, 1);
        }
    };
    engine->OnUsbPeriod(30, 48, 0, &buffers[0], 0, 48, 1);
    engine->OnUsbPeriod(30, 48, 1, &buffers[1], 0, 48, 1);
    ASSERT_EQ(routing.ticks.size(), 1u);
    EXPECT_EQ(routing.ticks[0].frameKey, 30u);
    EXPECT_EQ(routing.ticks[0].inputs, (std::vector<PVOID>{&buffers[0], &buffers[1]}));
}

}  // namespace
