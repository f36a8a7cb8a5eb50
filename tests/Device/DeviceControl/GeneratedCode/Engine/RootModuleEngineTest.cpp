// A headless panel core: the application starts the engine, which finds the stand-in's device,
// connects, publishes, forwards the panel's writes, retries failed connects, scans, stops its
// thread when idle and goes away cleanly. The engine's cycles run on the virtual sleep clock.
#include <gtest/gtest.h>

#include <atomic>

#include "Application/Application.h"
#include "EngineTestClient.h"
#include "EngineTestSupport.h"
#include "ParamIds.h"
#include "Win32Test/SleepClock.h"

namespace {

using Orv::ParamDescriptor;
using Orv::Variant;

class RootModuleEngineTest : public testing::Test
{
protected:
    RootModuleEngineTest() : registry(nullptr, nullptr) {}

    void SetUp() override
    {
        ASSERT_TRUE(world.IsReady());
        // Every engine sleep counts on the virtual clock; a short real pause keeps a spinning
        // pass from starving the test.
        Win32Test::UseVirtualSleepClock([this](DWORD milliseconds, uint64_t) {
            if (milliseconds == LRootModuleEngine::kCycleMilliseconds) {
                ++cycleSleeps;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        });
    }

    void TearDown() override
    {
        client = nullptr;
        application = nullptr;
        Win32Test::ResetSleepClock();
    }

    LRootModuleEngine& Start()
    {
        application = Orv::RCPtr<LApplication>(new LApplication());
        client = EngineTestClient::Listen();
        EXPECT_EQ(application->RunApplicationStartup(), 0);
        EXPECT_TRUE(GetRootModuleEngine());
        return *application->GetRootModuleEngine();
    }

    bool IdleUntil(const std::function<bool()>& condition)
    {
        return ::IdleUntil(*application, condition);
    }

    EngineRegistry registry;
    UlvaneWorld world;
    std::atomic<uint64_t> cycleSleeps{0};
    Orv::RCPtr<LApplication> application;
    Orv::RCPtr<EngineTestClient> client;
};

TEST_F(RootModuleEngineTest, StartUpPublishesElevenValuesThenTheConnection)
{
    world.AddDevice("Desk");
    LRootModuleEngine& engine = Start();
    // The connection is made on the engine's thread: under load it may come a few idles later.
    ASSERT_TRUE(IdleUntil([&] { return client->received.size() >= 2; }));
    EXPECT_EQ(client->received[0].id, Orv::InternNotificationId(u"NID_PARAM_MODULE_STATE_CHANGE"));
    const auto* all =
        dynamic_cast<const LRootModuleEngine::ValueList*>(client->received[0].parameter.Get());
    ASSERT_NE(all, nullptr);
    ASSERT_EQ(all->GetListItemCount(), 11u);
    for (uint32_t i = 0; i < 11; ++i) {
        Variant value;
        Variant subIndex;
        int32_t id = -1;
        ASSERT_EQ(all->GetParamValueItem(i, value, id, subIndex), 0);
        EXPECT_EQ(id, static_cast<int32_t>(i));
    }
    EXPECT_EQ(client->States(), (std::vector<int32_t>{3}));
    EXPECT_EQ(engine.GetConnectionState(), LRootModuleEngine::kConnected);
    EXPECT_EQ(engine.GetRootFirstParamID(), 0);
}

TEST_F(RootModuleEngineTest, WritesReachTheDeviceAndDeviceChangesReachThePanel)
{
    world.AddDevice("Desk");
    LRootModuleEngine& engine = Start();
    Variant deviceSize;
    ASSERT_TRUE(world.GetDeviceValue("Desk", ParamIds::kAsioPreferredBufferSize, deviceSize));
    const Variant size = Int32Value(deviceSize.GetInt32() == 128 ? 1024 : 128);
    EXPECT_GE(engine.SetParamValue(ParamDescriptor{ParamIds::kAsioPreferredBufferSize, {}}, size),
              0);
    Variant onDevice;
    ASSERT_TRUE(world.GetDeviceValue("Desk", ParamIds::kAsioPreferredBufferSize, onDevice));
    EXPECT_TRUE(onDevice == size);

    Variant rate;
    rate.SetDouble(96000.0);
    ASSERT_TRUE(world.PushValue("Desk", ParamIds::kSampleRate, rate));
    const auto sawRate = [this, &rate] {
        for (const auto& r : client->Of(u"NID_PARAM_MODULE_STATE_CHANGE")) {
            const auto* one =
                dynamic_cast<const LRootModuleEngine::ValueChange*>(r.parameter.Get());
            if (one != nullptr && one->first.id == ParamIds::kSampleRate && one->second == rate) {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(IdleUntil(sawRate));
    Variant read;
    EXPECT_EQ(engine.GetParamValue(ParamDescriptor{ParamIds::kSampleRate, {}}, read), 0);
    EXPECT_TRUE(read == rate);
}

TEST_F(RootModuleEngineTest, ChangeRequestsCountOnlyWhileConnected)
{
    world->SetConnectFails(true);
    world.AddDevice("Desk");
    LRootModuleEngine& engine = Start();
    EXPECT_EQ(engine.GetConnectionState(), LRootModuleEngine::kDisconnected);
    const auto request = [] {
        Orv::RCPtr<Orv::LRefCountedObject> change(new LRootModuleEngine::ValueChange(
            ParamDescriptor{ParamIds::kClockSource, {}}, Int32Value(1)));
        GetApplicationNotificationCenter()->PostNotification(
            Orv::CreateNotification(u"NID_PARAM_MODULE_CHANGE_REQ", change));
    };
    request();
    application->OnIdle(false);
    EXPECT_EQ(world->GetCallCount(UlvaneTest::Export::SetParamValue), 0u);
    EXPECT_EQ(engine.SetParamValue(ParamDescriptor{2, {}}, Int32Value(64)), E_FAIL);
    EXPECT_EQ(world->GetCallCount(UlvaneTest::Export::SetParamValue), 0u);

    world->SetConnectFails(false);
    Orv::Array<Orv::Variant> ids;
    ASSERT_TRUE(engine.ConnectDevice(world.AddDevice("Desk"), false) >= 0);
    request();
    application->OnIdle(false);
    EXPECT_EQ(world->GetCallCount(UlvaneTest::Export::SetParamValue), 1u);
}

TEST_F(RootModuleEngineTest, AFailedConnectIsRetriedByTheEngineThread)
{
    LRootModuleEngine& engine = Start();
    world->SetConnectFails(true);
    const Variant id = world.AddDevice("Desk");
    EXPECT_LT(engine.ConnectDevice(id, true), 0);
    EXPECT_EQ(engine.GetConnectionState(), LRootModuleEngine::kConnecting);
    EXPECT_TRUE(engine.IsEngineThreadRunning());
    world->SetConnectFails(false);
    EXPECT_TRUE(
        IdleUntil([&] { return engine.GetConnectionState() == LRootModuleEngine::kConnected; }));
    EXPECT_TRUE(IdleUntil([&] { return client->States() == std::vector<int32_t>{1, 3}; }));
}

TEST_F(RootModuleEngineTest, TheThreadStopsWhenTheConnectedDeviceGoes)
{
    world.AddDevice("Desk");
    LRootModuleEngine& engine = Start();
    EXPECT_TRUE(engine.IsEngineThreadRunning());
    ASSERT_TRUE(world->RemoveDevice("Desk"));
    EXPECT_TRUE(IdleUntil([&] { return !engine.IsEngineThreadRunning(); }));
}

TEST_F(RootModuleEngineTest, ScanningReportsListChangesAndPollsBetweenScans)
{
    LRootModuleEngine& engine = Start();
    world.AddDevice("Far", true);
    EXPECT_EQ(engine.EnableRemoteDeviceScan(true), 0);
    EXPECT_EQ(engine.EnableRemoteDeviceScan(true), 0);
    EXPECT_TRUE(IdleUntil([&] { return cycleSleeps.load() >= 3; }));
    Orv::Array<Orv::Variant> list;
    EXPECT_EQ(engine.GetRemoteDeviceList(list), 0);
    EXPECT_EQ(list.GetCount(), 1u);
    const auto counts = client->Of(u"NID_REMOTE_DEVICE_LIST_CHANGE");
    ASSERT_EQ(counts.size(), 1u);
    const auto* count =
        dynamic_cast<const LRootModuleEngine::DeviceCountHolder*>(counts[0].parameter.Get());
    ASSERT_NE(count, nullptr);
    EXPECT_EQ(count->Get(), 1u);

    world.AddDevice("Further", true);
    EXPECT_TRUE(
        IdleUntil([&] { return client->Of(u"NID_REMOTE_DEVICE_LIST_CHANGE").size() == 2; }));
    EXPECT_EQ(engine.EnableRemoteDeviceScan(false), 0);
    EXPECT_TRUE(IdleUntil([&] { return !engine.IsEngineThreadRunning(); }));
    // Every one-shot scan follows eight waiting polls of seven library calls each.
    const uint64_t scans = cycleSleeps.load();
    const uint64_t calls = world->GetCallCount(UlvaneTest::Export::FindRemoteDevices);
    EXPECT_GE(calls, scans * (8 * 7 + 1));
    EXPECT_EQ(engine.GetRemoteDeviceList(list), 0);
    EXPECT_EQ(list.GetCount(), 2u);
}

TEST_F(RootModuleEngineTest, ReleasingTheApplicationStopsTheThreadAndDisconnects)
{
    world.AddDevice("Desk");
    LRootModuleEngine& engine = Start();
    EXPECT_GE(engine.EnableRemoteDeviceScan(true), 0);
    EXPECT_TRUE(engine.IsEngineThreadRunning());
    client = nullptr;
    application = nullptr;
    EXPECT_FALSE(GetRootModuleEngine());
    EXPECT_EQ(world->GetOpenConnectionCount(), 0);
}

}  // namespace
