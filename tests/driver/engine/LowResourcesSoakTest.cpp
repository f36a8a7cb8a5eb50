// Streams started, stopped and re-rated for a long run in virtual time while, after start-up,
// 1 % of all pool allocations fail at random (seeded, so a failing run repeats). The run ends
// with no crash, no leak and no device violation; each failed allocation shows either as a
// failure answered to the caller that asked, or as a skip the driver allows (a work item or a
// timer expiry dropped), and the run counts both. Length in virtual seconds from
// QUORVEL_LOWRES_SOAK_SECONDS (default 60; the full run is 600).
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>

#include <gtest/gtest.h>

#include "../common/SoakRun.h"
#include "EndToEndFixture.h"
#include "StreamTestSupport.h"
#include "common/InStackLock.h"
#include "engine/StreamManagerParts.h"
#include "engine/StreamNode.h"

namespace {

using namespace std::chrono_literals;
using namespace Platform::Kernel;

// The engine's deferred requests ("Queu") and their work items ("IoWk") are made once, with the
// engine: a request at DISPATCH_LEVEL must never be lost to a failed allocation, so none of
// these may be asked of the pool while streams come and go.
constexpr ULONG kDeferredRequestTags[] = {MakeTag("Queu"), MakeTag("IoWk")};

constexpr ULONG kRates[] = {44100, 48000, 96000};

// A render pin that copes with being refused: it counts what its calls answered.
class SoakPin : public PinStreamSink
{
public:
    explicit SoakPin(StreamManager* owner) : manager(owner), pointers{samples}
    {
        node = manager->AddPinStream(this);
    }
    ~SoakPin()
    {
        if (node != nullptr) {
            manager->RemovePinStream(node);
        }
    }
    bool Added() const { return node != nullptr; }
    void Submit()
    {
        StreamConfiguration configuration{};
        manager->GetConfiguration(&configuration);
        {
            InStackLock hold(&node->lock);
            node->configurationIndex = static_cast<LONG>(configuration.index);
            node->format = kSampleInt32LE;
            node->interleavedChannels = 2;
            node->interleaved = 1;
            node->startChannel = 0;
        }
        manager->SetNodeBuffers(node, pointers, 64);
        const LONG answer = manager->ServicePinStream(node);
        refused += answer < 0 && answer != kStreamPending ? 1 : 0;
        playing = true;
    }
    void Stop()
    {
        playing = false;
        manager->StopPinStream(node);
    }
    void OnNodePeriod(StreamNode*) override
    {
        manager->SetNodeBuffers(node, pointers, 64);
        manager->ServicePinStream(node);
    }
    void OnNodeConfigurationChanged(StreamNode*, LONG) override {}
    void OnNodeLate(StreamNode*, ULONG) override {}
    // Streaming that stops while the pin still plays: the device could not start (or keep) it.
    void OnNodeStreamingChanged(LONG state) override { refused += state == 0 && playing ? 1 : 0; }

    StreamManager* manager;
    StreamNode* node = nullptr;
    int32_t samples[64 * 2] = {};
    PVOID pointers[1];
    int refused = 0;  // failures the pin's calls and notifications answered
    bool playing = false;
};

class LowResourcesSoak : public EndToEndTest
{
protected:
    // One round: a stream starts, plays, stops and goes, and the device is re-rated. Answers the
    // failures its calls and the stream's notifications were given.
    int StreamRound(int round)
    {
        SoakPin pin(Manager());
        if (!pin.Added()) {
            Run(20ms);
            return 1;
        }
        pin.Submit();
        Run(std::chrono::milliseconds(60 + round % 7 * 20));
        pin.Stop();
        Run(20ms);
        // Re-rated between two streams: nothing holds the rate then.
        const ULONG rateIndex = static_cast<ULONG>(round % 3);
        const int rerate =
            ApplyRateIndex(Manager(), static_cast<LONG>(rateIndex)) != kRates[rateIndex];
        Run(20ms);
        return rerate + pin.refused;
    }
};

TEST_F(LowResourcesSoak, StreamsStartStopAndReRateUnderOnePercentFailedAllocations)
{
    PlugInAndStart(UsbSim::BuildProductDescriptors({.audioClass = 2}));
    ASSERT_EQ(ApplyRateIndex(Manager(), 1), 48000u);
    Run(200ms);
    int baseline = 0;
    for (int round = 0; round < 20; ++round) {
        baseline += StreamRound(round);
    }
    ASSERT_EQ(baseline, 0) << "with memory to spare, nothing is refused: the counts below are the "
                              "failed allocations'";
    SimulateLowResources({.seed = 21, .failuresPerMillion = 10'000, .graceAllocations = 0});

    const auto length = std::chrono::seconds(SoakRun::Seconds("QUORVEL_LOWRES_SOAK_SECONDS", 60));
    const LONGLONG end = InterruptTime100ns() + length.count() * 10'000'000;
    int callerFailures = 0;
    int rounds = 0;
    while (InterruptTime100ns() < end) {
        callerFailures += StreamRound(rounds++);
    }
    ClearAllocationFailures();

    uint64_t deferred = 0;
    for (ULONG tag : kDeferredRequestTags) {
        deferred += LowResourcesFailures(tag);
    }
    const uint64_t failed = LowResourcesFailures();
    for (const auto& [tag, count] : LowResourcesFailuresByTag()) {
        std::printf("  '%s' %llu\n", TagText(tag).c_str(), static_cast<unsigned long long>(count));
    }
    RecordProperty("rounds", rounds);
    RecordProperty("failed_allocations", static_cast<int>(failed));
    RecordProperty("caller_failures", callerFailures);
    EXPECT_EQ(deferred, 0u) << "a deferred request of the engine asked the pool while streaming";
    EXPECT_GT(callerFailures, 0) << "no failure reached the soak's calls";
    std::printf("%d rounds, %llu failed allocations, %d failures answered\n", rounds,
                static_cast<unsigned long long>(failed), callerFailures);
    EXPECT_LE(static_cast<uint64_t>(callerFailures), failed) << "a failure without a cause";

    // The device recovers: with memory back, a stream starts and streaming runs.
    SoakPin pin(Manager());
    ASSERT_TRUE(pin.Added());
    ASSERT_EQ(ApplyRateIndex(Manager(), 1), 48000u);
    pin.Submit();
    Run(200ms);
    EXPECT_TRUE(Engine()->IsStreaming());
    pin.Stop();
    Run(200ms);
    EXPECT_TRUE(UsbDevice().Violations().empty());
}

}  // namespace
