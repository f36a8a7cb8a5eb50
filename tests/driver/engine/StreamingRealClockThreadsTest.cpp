// The engine, the USB transport and the simulated device on the wall clock: the layer's timer
// and worker threads carry the USB frames, completions and work items while a second thread
// starts, stops and re-rates streams. Built for ThreadSanitizer, which watches the flags the
// engine and the transport share across those threads. The run's length comes from
// QUORVEL_THREADS_STREAMING_SECONDS (default 10).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "../common/SoakRun.h"
#include "EndToEndFixture.h"
#include "StreamTestSupport.h"
#include "common/InStackLock.h"
#include "engine/StreamManagerParts.h"
#include "engine/StreamNode.h"

namespace {

using namespace std::chrono_literals;
using Platform::Kernel::SetTimeMode;
using Platform::Kernel::TimeMode;

class StreamingRealClock : public EndToEndTest
{
};

// A render pin that hands over silent blocks. Kernel streaming serialises a pin's processing;
// here the control thread and the completions both submit, so a submission already under way
// makes the other one step back.
class SilentPin : public PinStreamSink
{
public:
    explicit SilentPin(StreamManager* owner) : manager(owner), pointers{samples}
    {
        node = manager->AddPinStream(this);
        StreamConfiguration configuration{};
        manager->GetConfiguration(&configuration);
        InStackLock hold(&node->lock);
        node->configurationIndex = static_cast<LONG>(configuration.index);
        node->format = kSampleInt32LE;
        node->interleavedChannels = 2;
        node->interleaved = 1;
        node->startChannel = 0;
    }
    ~SilentPin() { manager->RemovePinStream(node); }
    void Submit()
    {
        if (busy.exchange(true)) {
            return;
        }
        manager->SetNodeBuffers(node, pointers, 64);
        manager->ServicePinStream(node);
        busy = false;
    }
    void Stop() { manager->StopPinStream(node); }

    void OnNodePeriod(StreamNode*) override { Submit(); }
    void OnNodeConfigurationChanged(StreamNode*, LONG) override {}
    void OnNodeLate(StreamNode*, ULONG) override {}
    void OnNodeStreamingChanged(LONG) override {}

private:
    StreamManager* manager;
    StreamNode* node = nullptr;
    int32_t samples[64 * 2] = {};  // silence, never written
    PVOID pointers[1];
    std::atomic<bool> busy{false};
};

// One round of the control thread: a stream starts, plays a while, the rate changes under it,
// and it stops and goes.
void StreamRound(StreamManager* manager, int round)
{
    SilentPin pin(manager);
    pin.Submit();
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + round % 5 * 15));
    ApplyRateIndex(manager, round % 2 == 0 ? 0 : 1);  // 44100 and 48000 in turn
    std::this_thread::sleep_for(10ms);
    pin.Stop();
}

TEST_F(StreamingRealClock, StreamsStartStopAndReRateFromASecondThread)
{
    PlugInAndStart(UsbSim::BuildProductDescriptors({.audioClass = 1}));
    StreamManager* manager = Manager();
    StreamingEngine* engine = Engine();
    SetTimeMode(TimeMode::Real);

    const auto length =
        std::chrono::seconds(SoakRun::Seconds("QUORVEL_THREADS_STREAMING_SECONDS", 10));
    std::atomic<bool> done{false};
    std::atomic<int> rounds{0};
    std::thread control([&] {
        while (!done.load()) {
            StreamRound(manager, rounds.load());
            rounds.fetch_add(1);
        }
    });
    int streamingSeen = 0;
    const auto end = std::chrono::steady_clock::now() + length;
    while (std::chrono::steady_clock::now() < end) {
        streamingSeen += engine->IsStreaming() ? 1 : 0;  // the flag, read from a third thread
        std::this_thread::sleep_for(5ms);
    }
    done = true;
    control.join();
    SetTimeMode(TimeMode::Virtual);
    Run(500ms);

    EXPECT_GT(rounds.load(), 10) << "the control thread kept going";
    EXPECT_GT(streamingSeen, 0) << "streaming ran at some point";
    EXPECT_FALSE(Platform::Kernel::TakeSystemThreadBugCheck().has_value());
}

}  // namespace
