// The stream manager served by device periods on one thread while streams start, stop, come and
// go on another: the lists and the running count stay whole, and nothing is left behind.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "KernelTestFixture.h"
#include "RoutingTestEngine.h"
#include "StreamTestSupport.h"
#include "common/InStackLock.h"
#include "engine/StreamManager.h"
#include "engine/StreamManagerParts.h"

namespace {

class CountingPin : public PinStreamSink
{
public:
    void OnNodePeriod(StreamNode*) override { periods.fetch_add(1); }
    void OnNodeConfigurationChanged(StreamNode*, LONG) override {}
    void OnNodeLate(StreamNode*, ULONG) override {}
    void OnNodeStreamingChanged(LONG) override {}
    std::atomic<int> periods{0};
};

class StreamManagerThreadsTest : public Platform::Kernel::Testing::KernelTest
{
protected:
    void TearDown() override
    {
        engine.routing.ReleaseRouting();
        KernelTest::TearDown();
    }
    RoutingTestEngine engine;
};

TEST_F(StreamManagerThreadsTest, PeriodsRunWhileStreamsComeAndGo)
{
    const StreamConfiguration configuration = StreamTest::StereoInputConfiguration();
    ASSERT_EQ(engine.routing.ConfigureRouting(&configuration, 1), 0);
    engine.routing.ResetForStart(false);
    StreamManager* manager = CreateStreamManager(&engine, nullptr);
    ASSERT_NE(manager, nullptr);

    std::atomic<bool> done{false};
    std::atomic<int> ticks{0};
    std::thread periods([&] {
        int32_t input[48 * 2] = {};
        ULONG key = 0;
        while (!done.load()) {
            PVOID inputs[1] = {input};
            engine.routing.RoutingTick(key++, inputs, 48, 0, 48, 0);
            ticks.fetch_add(1);
        }
    });

    CountingPin pin;
    StreamTest::RecordingClient client;
    int32_t block[64 * 2] = {};
    PVOID blockPointers[1] = {block};
    int32_t left[64] = {};
    int32_t right[64] = {};
    PVOID captureBuffers[2] = {left, right};
    for (int round = 0; round < 300; ++round) {
        StreamNode* node = manager->AddPinStream(&pin);
        {
            InStackLock hold(&node->lock);
            node->configurationIndex = 0;
            node->format = kSampleInt32LE;
            node->interleavedChannels = 2;
            node->interleaved = 1;
        }
        ASSERT_EQ(manager->SetNodeBuffers(node, blockPointers, 64), 0);
        manager->ServicePinStream(node);

        ManagedClientStream* stream = manager->AddClientStream(&client);
        ASSERT_EQ(stream->SetCaptureFormat(&configuration, 64, 4, 0, 0), 0);
        ASSERT_EQ(manager->SetClientStreamRunning(stream, true), 0);
        stream->NextCaptureBuffer(captureBuffers, 0);
        // One period may have begun before the streams ran, the next only places the client
        // stream, and a 64-frame buffer needs two more 48-frame periods to fill.
        const int target = ticks.load() + 6;
        while (ticks.load() < target) {
            std::this_thread::yield();
        }
        if (round % 2 == 0) {
            manager->RemoveClientStream(stream);
        } else {
            manager->DiscardClientStream(stream);
        }
        manager->RemovePinStream(node);
        ASSERT_FALSE(manager->IsAnyStreamRunning()) << "round " << round;
    }
    done = true;
    periods.join();

    EXPECT_GT(pin.periods.load(), 0) << "blocks were served by the periods";
    EXPECT_GT(client.periods, 0);
    EXPECT_EQ(engine.runControls.back(), 0u) << "the last stop stops the engine";
    DestroyStreamManager(manager);
}

// Two services of one stopped node at once start it once: the stop that follows brings the
// running count back to 0.
TEST_F(StreamManagerThreadsTest, ConcurrentServicesOfAStoppedNodeCountItOnce)
{
    const StreamConfiguration configuration = StreamTest::StereoInputConfiguration();
    ASSERT_EQ(engine.routing.ConfigureRouting(&configuration, 1), 0);
    StreamManager* manager = CreateStreamManager(&engine, nullptr);
    ASSERT_NE(manager, nullptr);
    CountingPin pin;
    int32_t block[64 * 2] = {};
    PVOID blockPointers[1] = {block};
    for (int round = 0; round < 500; ++round) {
        StreamNode* node = manager->AddPinStream(&pin);
        ASSERT_EQ(manager->SetNodeBuffers(node, blockPointers, 64), 0);
        std::atomic<int> ready{0};
        auto serve = [&] {
            ready.fetch_add(1);
            while (ready.load() < 2) {
                std::this_thread::yield();
            }
            manager->ServicePinStream(node);
        };
        std::thread first(serve);
        std::thread second(serve);
        first.join();
        second.join();
        ASSERT_EQ(manager->StopPinStream(node), 0);
        ASSERT_FALSE(manager->IsAnyStreamRunning()) << "round " << round;
        manager->RemovePinStream(node);
    }
    DestroyStreamManager(manager);
}

}  // namespace
