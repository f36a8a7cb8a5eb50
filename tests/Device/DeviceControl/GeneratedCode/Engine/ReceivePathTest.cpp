// Values from the library's callback thread through the receive queue and thread to the
// receiver: in order, never after receiving is disabled, and nothing left behind when the channel
// and the library go.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "DeviceCommunicationInterface.h"
#include "EngineTestSupport.h"
#include "ParamIds.h"
#include "ReceivePath.h"
#include "UlvaneInterface.h"

#if defined(__SANITIZE_ADDRESS__)
#define ENGINE_TEST_HAS_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ENGINE_TEST_HAS_LSAN 1
#endif
#endif
#ifdef ENGINE_TEST_HAS_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace {

using Orv::Variant;

constexpr int32_t kBufferSize = ParamIds::kAsioPreferredBufferSize;

size_t ThreadCount()
{
    size_t count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(tasks)) {
            count += entry->d_name[0] != '.' ? 1 : 0;
        }
        closedir(tasks);
    }
    return count;
}

// The count before a test's own threads: a sanitizer runtime starts a helper thread of its own
// with the first thread of the program, so one is made and joined first.
size_t ThreadCountBefore()
{
    std::thread([] {}).join();
    return ThreadCount();
}

class ReceivePathTest : public testing::Test
{
protected:
    ReceivePathTest() : registry(nullptr, nullptr) {}

    // Initialised, receiving into `receiver` and connected to the device "Desk".
    Orv::RCPtr<LDeviceCommunicationInterface> ConnectedChannel()
    {
        auto channel = LDeviceCommunicationInterface::Create();
        EXPECT_EQ(channel->Initialize(), 0);
        channel->SetReceiver(&receiver);
        channel->SetReceiveEnabled(true);
        EXPECT_EQ(channel->ConnectDevice(world.AddDevice("Desk")), 0);
        return channel;
    }

    EngineRegistry registry;
    UlvaneWorld world;
    RecordingReceiver receiver;
};

TEST_F(ReceivePathTest, AThousandCallbacksArriveInOrderWhileTheReceiverIsBusy)
{
    auto channel = ConnectedChannel();
    receiver.Hold();  // the receive thread stops inside its first delivery
    constexpr int32_t kCount = 1000;
    for (int32_t i = 1; i <= kCount; ++i) {
        ASSERT_TRUE(world.PushValue("Desk", kBufferSize, Int32Value(i)));
    }
    world->WaitForCallbacks();  // every callback has returned: the queue holds the rest
    receiver.Release();

    const auto batches = receiver.WaitFor(kCount);
    ASSERT_EQ(batches.size(), static_cast<size_t>(kCount));
    for (int32_t i = 0; i < kCount; ++i) {
        int32_t id = 0;
        const Variant value = OnlyValue(batches[static_cast<size_t>(i)], id);
        ASSERT_EQ(id, kBufferSize) << i;
        ASSERT_EQ(value.GetInt32(), i + 1) << "out of order at " << i;
    }
}

TEST_F(ReceivePathTest, NothingArrivesOnceDisablingHasReturned)
{
    auto channel = ConnectedChannel();
    std::atomic<bool> pushing{true};
    std::thread device([this, &pushing] {
        for (int32_t i = 0; pushing.load(); ++i) {
            world.PushValue("Desk", kBufferSize, Int32Value(i));
        }
    });
    receiver.WaitFor(50);
    channel->SetReceiveEnabled(false);
    const size_t seen = receiver.Batches().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pushing = false;
    device.join();
    world->WaitForCallbacks();
    channel->SetReceiveEnabled(false);  // waits for a drain that may still run
    EXPECT_EQ(receiver.Batches().size(), seen);
}

TEST_F(ReceivePathTest, OddCallbacksAreIgnoredOrPassedOnAsTheyCame)
{
    auto channel = ConnectedChannel();
    UlvaneReceiveCallback(channel.Get(), 0, nullptr);
    UlvaneReceiveCallback(nullptr, 0, &static_cast<const Variant&>(Int32Value(1)));

    Variant scalars[2];
    scalars[0].SetString("not");
    scalars[1].SetDouble(2.5);
    Variant notValues;
    notValues.SetList(scalars, 2);
    ASSERT_TRUE(world.PushList("Desk", notValues));
    // The integer argument changes nothing.
    UlvaneReceiveCallback(channel.Get(), 12345, &notValues);

    const auto batches = receiver.WaitFor(2);
    ASSERT_EQ(batches.size(), 2u);
    EXPECT_TRUE(batches[0] == notValues);
    EXPECT_TRUE(batches[1] == notValues);
}

TEST_F(ReceivePathTest, RequestedValuesComeBackThroughTheReceiveThread)
{
    auto channel = ConnectedChannel();
    const Orv::ParamRange all{0, ParamIds::kParamCount};
    Orv::ParamRanges ranges;
    ranges.SetRanges(&all, 1);
    ASSERT_EQ(channel->RequestParamRanges(ranges), 0);
    Orv::ParamDescriptor latencies;
    latencies.id = ParamIds::kLatencies;
    ASSERT_EQ(channel->RequestParamValue(latencies), 0);

    const auto batches = receiver.WaitFor(2);
    ASSERT_EQ(batches.size(), 2u);
    EXPECT_EQ(batches[0].GetListItemCount(), static_cast<uint32_t>(ParamIds::kParamCount));
    Variant clockValid;
    Orv::ParamDescriptor clock;
    clock.id = ParamIds::kClockValid;
    ASSERT_EQ(batches[0].GetValue(clock, clockValid), 0);
    EXPECT_TRUE(clockValid.GetBool());
    int32_t id = 0;
    const Variant blob = OnlyValue(batches[1], id);
    EXPECT_EQ(id, ParamIds::kLatencies);
    EXPECT_EQ(blob.GetType(), Orv::kVariantBlob);
    EXPECT_EQ(blob.GetSize(), 8u);
}

// A receiver that takes its store lock, as the root module does; the root's store operation calls
// the channel with that lock held.
class StoreLockedReceiver : public DeviceCommunicationReceiver
{
public:
    void OnParamValuesReceived(const Orv::ParamValues&) override
    {
        const std::lock_guard<std::recursive_mutex> guard(storeLock);
        ++received;
    }
    Orv::ORVRESULT ReceiveOther(int32_t, const Orv::Variant*, void*) override { return E_FAIL; }

    std::recursive_mutex storeLock;
    std::atomic<int> received{0};
};

TEST_F(ReceivePathTest, StatusInjectionAndStoreCallsDoNotDeadlock)
{
    auto channel = LDeviceCommunicationInterface::Create();
    ASSERT_EQ(channel->Initialize(), 0);
    StoreLockedReceiver store;
    channel->SetReceiver(&store);
    channel->SetReceiveEnabled(true);
    ASSERT_EQ(channel->ConnectDevice(world.AddDevice("Desk")), 0);

    constexpr int kRounds = 2000;
    std::thread injector([&channel] {
        for (int i = 0; i < kRounds; ++i) {
            channel->InjectStatusValue(i);
        }
    });
    Orv::ParamDescriptor name;
    name.id = ParamIds::kDeviceName;
    for (int i = 0; i < kRounds; ++i) {
        const std::lock_guard<std::recursive_mutex> guard(store.storeLock);
        channel->RequestParamValue(name);
    }
    injector.join();
    world->WaitForCallbacks();
    channel->SetReceiveEnabled(false);
    EXPECT_GE(store.received.load(), kRounds);
}

TEST_F(ReceivePathTest, ReleasingTheChannelWhileValuesStreamInStopsEverything)
{
    const size_t threadsBefore = ThreadCountBefore();
    {
        auto channel = ConnectedChannel();
        std::atomic<bool> pushing{true};
        std::thread device([this, &pushing] {
            for (int32_t i = 0; pushing.load(); ++i) {
                world.PushValue("Desk", kBufferSize, Int32Value(i));
            }
        });
        receiver.WaitFor(20);
        channel = Orv::RCPtr<LDeviceCommunicationInterface>();
        const size_t seen = receiver.Batches().size();
        pushing = false;
        device.join();
        world->WaitForCallbacks();
        EXPECT_EQ(receiver.Batches().size(), seen);
        EXPECT_EQ(world->GetOpenConnectionCount(), 0);
    }
    EXPECT_EQ(ThreadCount(), threadsBefore);
}

// The library's own promise, which lets a receiver go right after disconnecting: once
// QELT_DisconnectDevice has returned, no callback of that connection runs or starts.
struct SlowInbox
{
    std::atomic<int> calls{0};
    std::atomic<bool> inside{false};

    static void Receive(void* context, int32_t, const Variant*)
    {
        auto* inbox = static_cast<SlowInbox*>(context);
        inbox->inside = true;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        ++inbox->calls;
        inbox->inside = false;
    }
};

TEST(UlvaneCallbacks, NoneRunsOrStartsOnceDisconnectHasReturned)
{
    EngineRegistry registry(nullptr, nullptr);
    UlvaneWorld world;
    ASSERT_TRUE(world.IsReady());
    const Variant id = world.AddDevice("Desk");
    Orv::UlvaneInterface binding;
    SlowInbox inbox;
    ASSERT_EQ(binding.ConnectDevice(&id, &SlowInbox::Receive, &inbox), 0);
    std::atomic<bool> pushing{true};
    std::thread device([&world, &pushing] {
        for (int32_t i = 0; pushing.load(); ++i) {
            world.PushValue("Desk", kBufferSize, Int32Value(i));
        }
    });
    while (inbox.calls.load() < 20) {
        std::this_thread::yield();
    }
    ASSERT_EQ(binding.DisconnectDevice(&id), 0);
    EXPECT_FALSE(inbox.inside.load());
    const int calls = inbox.calls.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pushing = false;
    device.join();
    world->WaitForCallbacks();
    EXPECT_EQ(inbox.calls.load(), calls);
    EXPECT_FALSE(binding.IsDeviceConnected(&id));
}

TEST(ReceivePathCycles, LoadConnectReceiveUnloadLeavesNothingBehind)
{
    EngineRegistry registry(nullptr, nullptr);
    const std::string libraryFile = std::string(PROGRAM_DIR) + "/libUlvane.so";
    ASSERT_EQ(dlopen(libraryFile.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
    const size_t threadsBefore = ThreadCountBefore();
    for (int cycle = 0; cycle < 100; ++cycle) {
        RecordingReceiver receiver;
        {
            UlvaneWorld world;
            ASSERT_TRUE(world.IsReady());
            auto channel = LDeviceCommunicationInterface::Create();
            ASSERT_EQ(channel->Initialize(), 0);
            channel->SetReceiver(&receiver);
            channel->SetReceiveEnabled(true);
            ASSERT_EQ(channel->ConnectDevice(world.AddDevice("Desk")), 0);
            ASSERT_TRUE(world.PushValue("Desk", kBufferSize, Int32Value(cycle)));
            ASSERT_EQ(receiver.WaitFor(1).size(), 1u) << cycle;
        }
        void* stillLoaded = dlopen(libraryFile.c_str(), RTLD_NOW | RTLD_NOLOAD);
        ASSERT_EQ(stillLoaded, nullptr) << "cycle " << cycle;
        ASSERT_EQ(ThreadCount(), threadsBefore) << "cycle " << cycle;
    }
#ifdef ENGINE_TEST_HAS_LSAN
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

}  // namespace
