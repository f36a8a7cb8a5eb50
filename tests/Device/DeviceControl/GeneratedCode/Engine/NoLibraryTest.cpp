// A program folder without "Ulvane.dll" and a registry that names no other place: the binding and
// the channel are made all the same and find nothing.
#include <gtest/gtest.h>

#include "DeviceCommunicationInterface.h"
#include "EngineTestSupport.h"
#include "UlvaneInterface.h"

namespace {

TEST(NoLibrary, TheDefaultBindingLoadsNothingAndAnswersMissing)
{
    Orv::UlvaneInterface binding;
    EXPECT_FALSE(binding.IsLoaded());
    Orv::Variant ids;
    EXPECT_EQ(binding.FindDevices(nullptr, 0, &ids), -1);
    EXPECT_FALSE(binding.IsDeviceConnected(&ids));
}

TEST(NoLibrary, TheChannelInitialisesAndFindsNoDevice)
{
    EngineRegistry registry(nullptr, nullptr);
    auto channel = LDeviceCommunicationInterface::Create();
    ASSERT_EQ(channel->Initialize(), 0);
    Orv::Array<GUID> filter;
    Orv::Array<Orv::Variant> ids;
    EXPECT_EQ(channel->FindDevices(filter, ids), E_FAIL);
    EXPECT_FALSE(channel->IsDeviceConnected());
    Orv::Variant stored;
    EXPECT_EQ(channel->GetConnectionStatus(stored), -3);
}

}  // namespace
