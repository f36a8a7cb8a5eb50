// The device channel's operations: the library it binds, the answers it gives without one, the
// writes it refuses, and the remote-device poll on the virtual sleep clock.
#include <gtest/gtest.h>

#include <string>

#include "DeviceCommunicationInterface.h"
#include "EngineTestSupport.h"
#include "ParamIds.h"
#include "Win32Test/SleepClock.h"

namespace {

using Orv::ParamDescriptor;
using Orv::Variant;

ParamDescriptor Descriptor(int32_t id)
{
    ParamDescriptor descriptor;
    descriptor.id = id;
    return descriptor;
}

class DeviceCommunicationTest : public testing::Test
{
protected:
    ~DeviceCommunicationTest() override { Win32Test::ResetSleepClock(); }

    // A channel whose binding comes from a registry naming the given folder and file.
    Orv::RCPtr<LDeviceCommunicationInterface> Channel(const char* folder = nullptr,
                                                      const char* file = nullptr)
    {
        registry.reset();  // its folder has the same name as the next one
        registry = std::make_unique<EngineRegistry>(folder, file);
        EXPECT_EQ(registry->LoadError(), "");
        auto channel = LDeviceCommunicationInterface::Create();
        channel->SetReceiver(&receiver);
        channel->SetReceiveEnabled(true);
        return channel;
    }

    UlvaneWorld world;
    RecordingReceiver receiver;
    std::unique_ptr<EngineRegistry> registry;
    Orv::Array<GUID> noFilter;
};

TEST_F(DeviceCommunicationTest, WithoutBindingPseudoIdsAreAnsweredHere)
{
    auto channel = Channel();
    Variant value;
    ASSERT_EQ(channel->GetParamValue(Descriptor(ParamIds::kCommunicationState), value), 0);
    EXPECT_EQ(value.GetType(), Orv::kVariantBool);
    EXPECT_TRUE(value.GetBool());
    ASSERT_EQ(channel->GetParamValue(Descriptor(ParamIds::kManufacturer), value), 0);
    EXPECT_STREQ(value.GetString(), "Corvane");
    ASSERT_EQ(channel->GetParamValue(Descriptor(ParamIds::kProduct), value), 0);
    EXPECT_STREQ(value.GetString(), "Quorvel");
    EXPECT_EQ(channel->GetParamValue(Descriptor(ParamIds::kDeviceName), value), -1);
    EXPECT_EQ(channel->GetParamValue(Descriptor(ParamIds::kSampleRate), value), E_FAIL);

    Orv::Array<Variant> ids;
    ids.AddItem(value);
    EXPECT_EQ(channel->FindDevices(noFilter, ids), -1);
    EXPECT_EQ(ids.GetCount(), 0u);
    EXPECT_EQ(channel->ConnectDevice(value), -1);
    EXPECT_FALSE(channel->IsDeviceConnected());
    EXPECT_EQ(channel->GetConnectionStatus(value), -1);
    EXPECT_EQ(channel->SetParamValue(Descriptor(ParamIds::kDeviceName), value), -1);
    EXPECT_EQ(channel->SetParamValue(Descriptor(ParamIds::kSampleRate), value), E_FAIL);
    EXPECT_EQ(channel->WaitForRemoteDeviceChange(noFilter, ids, 1500), -1);
    EXPECT_EQ(world->GetCallCount(UlvaneTest::Export::FindDevices), 0u);
}

TEST_F(DeviceCommunicationTest, WritesNeedAReceiverAndSomeAreRefused)
{
    auto channel = Channel();
    ASSERT_EQ(channel->Initialize(), 0);
    const Variant id = world.AddDevice("Desk");
    ASSERT_EQ(channel->ConnectDevice(id), 0);

    channel->SetReceiver(nullptr);
    for (const int32_t refused :
         {ParamIds::kAsioPreferredBufferSize, ParamIds::kDeviceName, ParamIds::kStatusInjection}) {
        EXPECT_EQ(channel->SetParamValue(Descriptor(refused), Int32Value(512)), E_FAIL) << refused;
    }
    EXPECT_FALSE(channel->InjectStatusValue(5));
    channel->SetReceiver(&receiver);

    for (int32_t readOnly = -242; readOnly <= -240; ++readOnly) {
        EXPECT_EQ(channel->SetParamValue(Descriptor(readOnly), Int32Value(1)), E_FAIL) << readOnly;
    }
    EXPECT_EQ(world->GetCallCount(UlvaneTest::Export::SetParamValue), 0u);

    ASSERT_EQ(
        channel->SetParamValue(Descriptor(ParamIds::kAsioPreferredBufferSize), Int32Value(512)), 0);
    Variant held;
    ASSERT_TRUE(world.GetDeviceValue("Desk", ParamIds::kAsioPreferredBufferSize, held));
    EXPECT_EQ(held.GetInt32(), 512);
    // The library's refusal comes back unchanged.
    EXPECT_EQ(
        channel->SetParamValue(Descriptor(ParamIds::kAsioPreferredBufferSize), Int32Value(100)),
        -7);
}

TEST_F(DeviceCommunicationTest, StatusInjectionGoesStraightToTheReceiver)
{
    auto channel = Channel();
    Variant status;
    status.SetInt64(-123456789012LL);
    ASSERT_EQ(channel->SetParamValue(Descriptor(ParamIds::kStatusInjection), status), 0);
    const auto batches = receiver.Batches();  // on this thread, before SetParamValue returned
    ASSERT_EQ(batches.size(), 1u);
    int32_t id = 0;
    const Variant pair = OnlyValue(batches[0], id);
    EXPECT_EQ(id, ParamIds::kStatusInjection);
    ASSERT_EQ(pair.GetListItemCount(), 2u);
    Variant item;
    pair.GetListItem(0, item);
    EXPECT_EQ(item.GetType(), Orv::kVariantInt64);
    EXPECT_EQ(item.GetInt64(), -123456789012LL);
    pair.GetListItem(1, item);
    EXPECT_EQ(item.GetType(), Orv::kVariantBool);
    EXPECT_TRUE(item.GetBool());
}

TEST_F(DeviceCommunicationTest, RegistryNamesTheLibraryElseTheProgramFolderServes)
{
    // The library without QELT_GetDeviceInfo tells which of the two was loaded.
    struct Case
    {
        const char* name;
        const char* folder;
        const char* file;
        bool partialLoaded;
    };
    const Case cases[] = {
        {"registry names the partial build", PARTIAL_ULVANE_DIR, "Ulvane.dll", true},
        {"no key", nullptr, nullptr, false},
        {"empty folder", "", "Ulvane.dll", false},
        {"no file", PARTIAL_ULVANE_DIR, nullptr, false},
        {"empty file", PARTIAL_ULVANE_DIR, "", false},
    };
    for (const Case& c : cases) {
        auto channel = Channel(c.folder, c.file);
        ASSERT_EQ(channel->Initialize(), 0) << c.name;
        EXPECT_EQ(channel->Initialize(), 1) << c.name;
        uint8_t record[256] = {};
        const Variant unknown;
        EXPECT_EQ(channel->GetDeviceInfo(unknown, record) == -1, c.partialLoaded) << c.name;
    }
}

TEST_F(DeviceCommunicationTest, AMissingLibraryStillInitialisesAndFindsNothing)
{
    auto channel = Channel("/no/such/folder", "Ulvane.dll");
    ASSERT_EQ(channel->Initialize(), 0);
    Orv::Array<Variant> ids;
    EXPECT_EQ(channel->FindDevices(noFilter, ids), E_FAIL);
    EXPECT_FALSE(channel->IsDeviceConnected());
    uint8_t record[256] = {};
    EXPECT_EQ(channel->GetDeviceInfo(Variant(), record), -1);
    Variant value;
    // A binding exists, so the pseudo ids are not answered here either.
    EXPECT_EQ(channel->GetParamValue(Descriptor(ParamIds::kCommunicationState), value), -1);
    EXPECT_EQ(channel->GetParamValue(Descriptor(ParamIds::kProduct), value), -1);
    EXPECT_EQ(channel->ConnectDevice(value), -1);
    EXPECT_EQ(channel->FindRemoteDevices(noFilter, ids), -1);
}

TEST_F(DeviceCommunicationTest, ConnectUsesTheStoredIdUntilTheEnd)
{
    auto channel = Channel();
    ASSERT_EQ(channel->Initialize(), 0);
    Variant stored;
    stored.SetString("stale");
    EXPECT_EQ(channel->GetConnectionStatus(stored), -3);
    EXPECT_TRUE(stored.IsEmpty());

    world.AddDevice("Remote", true);
    const Variant id = world.AddDevice("Desk");
    Orv::Array<Variant> ids;
    ASSERT_EQ(channel->FindDevices(noFilter, ids), 0);
    ASSERT_EQ(ids.GetCount(), 1u);
    EXPECT_TRUE(ids.GetAt(0) == id);

    ASSERT_EQ(channel->ConnectDevice(ids.GetAt(0)), 0);
    EXPECT_TRUE(channel->IsDeviceConnected());
    ASSERT_EQ(channel->GetConnectionStatus(stored), 0);
    EXPECT_TRUE(stored == id);

    Variant name;
    ASSERT_EQ(channel->GetDeviceName(name), 0);
    EXPECT_STREQ(name.GetString(), "Desk");
    Variant renamed;
    renamed.SetString("Desk B");
    ASSERT_EQ(channel->SetDeviceName(renamed), 0);
    ASSERT_EQ(channel->GetParamValue(Descriptor(ParamIds::kDeviceName), name), 0);
    EXPECT_STREQ(name.GetString(), "Desk B");
    uint8_t record[256] = {};
    ASSERT_EQ(channel->GetDeviceInfo(id, record), 0);
    EXPECT_EQ(record[252], 1);

    world->RemoveDevice("Desk");
    EXPECT_FALSE(channel->IsDeviceConnected());
    ASSERT_EQ(channel->GetDeviceInfo(id, record), 0);
    EXPECT_EQ(record[252], 0);

    EXPECT_EQ(channel->DisconnectDevice(), 0);
    EXPECT_EQ(channel->GetConnectionStatus(stored), -3);
    EXPECT_TRUE(stored == id);
    EXPECT_EQ(world->GetOpenConnectionCount(), 0);
}

TEST_F(DeviceCommunicationTest, LibraryFailuresAndScanResultsComeThrough)
{
    auto channel = Channel();
    ASSERT_EQ(channel->Initialize(), 0);
    const Variant id = world.AddDevice("Desk");
    world->SetConnectFails(true);
    EXPECT_EQ(channel->ConnectDevice(id), -9);
    world->SetConnectFails(false);

    world.AddDevice("Far", true);
    world->SetRemoteScanResult(1);
    Orv::Array<Variant> ids;
    EXPECT_EQ(channel->FindRemoteDevices(noFilter, ids), 1);
    EXPECT_EQ(ids.GetCount(), 1u);

    world->SetDriverInterfaceMissing(true);
    EXPECT_EQ(channel->FindDevices(noFilter, ids), E_FAIL);
    EXPECT_EQ(ids.GetCount(), 0u);
    EXPECT_EQ(channel->FindRemoteDevices(noFilter, ids), -6);
    EXPECT_EQ(channel->WaitForRemoteDeviceChange(noFilter, ids, 1500), E_FAIL);
}

TEST_F(DeviceCommunicationTest, RemoteWaitPollsSevenTimesOverItsTimeout)
{
    auto channel = Channel();
    ASSERT_EQ(channel->Initialize(), 0);
    world.AddDevice("Far", true);
    Orv::Array<Variant> known;
    ASSERT_EQ(channel->FindRemoteDevices(noFilter, known), 0);
    ASSERT_EQ(known.GetCount(), 1u);
    const uint64_t before = world->GetCallCount(UlvaneTest::Export::FindRemoteDevices);

    Win32Test::UseVirtualSleepClock();
    EXPECT_EQ(channel->WaitForRemoteDeviceChange(noFilter, known, 1500), 1);
    EXPECT_EQ(world->GetCallCount(UlvaneTest::Export::FindRemoteDevices) - before, 7u);
    EXPECT_EQ(Win32Test::VirtualSleepClock(), 1500u);
    EXPECT_EQ(known.GetCount(), 1u);

    Win32Test::UseVirtualSleepClock();
    EXPECT_EQ(channel->WaitForRemoteDeviceChange(noFilter, known, 0), 1);
    EXPECT_EQ(world->GetCallCount(UlvaneTest::Export::FindRemoteDevices) - before, 8u);
    EXPECT_EQ(Win32Test::VirtualSleepClock(), 0u);
}

TEST_F(DeviceCommunicationTest, ADeviceAddedDuringTheWaitEndsItEarly)
{
    auto channel = Channel();
    ASSERT_EQ(channel->Initialize(), 0);
    Orv::Array<Variant> known;
    Win32Test::UseVirtualSleepClock([this](DWORD, uint64_t clock) {
        if (clock == 750) {
            world.AddDevice("Late", true);
        }
    });
    EXPECT_EQ(channel->WaitForRemoteDeviceChange(noFilter, known, 1500), 0);
    EXPECT_EQ(world->GetCallCount(UlvaneTest::Export::FindRemoteDevices), 4u);
    EXPECT_EQ(Win32Test::VirtualSleepClock(), 750u);
    ASSERT_EQ(known.GetCount(), 1u);
    Variant late;
    late.SetString("QRV:Late");
    EXPECT_TRUE(known.GetAt(0) == late);

    // A caller whose list is already out of date returns after the first poll.
    known.RemoveAll();
    Win32Test::UseVirtualSleepClock();
    EXPECT_EQ(channel->WaitForRemoteDeviceChange(noFilter, known, 1500), 0);
    EXPECT_EQ(Win32Test::VirtualSleepClock(), 0u);
    EXPECT_EQ(known.GetCount(), 1u);
}

}  // namespace
