// The engine with no client library beside the program: the defaults are published, nothing is
// connected, and every device operation says so.
#include <gtest/gtest.h>

#include "Application/Application.h"
#include "EngineTestClient.h"
#include "EngineTestSupport.h"
#include "ParamIds.h"

namespace {

TEST(EngineWithoutLibrary, ServesTheDefaultsAndRefusesTheDevice)
{
    EngineRegistry registry(nullptr, nullptr);
    Orv::RCPtr<LApplication> application(new LApplication());
    auto client = EngineTestClient::Listen();
    ASSERT_EQ(application->RunApplicationStartup(), 0);
    const auto engine = GetRootModuleEngine();
    ASSERT_TRUE(engine);
    application->OnIdle(false);
    ASSERT_EQ(client->received.size(), 1u);
    const auto* all =
        dynamic_cast<const LRootModuleEngine::ValueList*>(client->received[0].parameter.Get());
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(all->GetListItemCount(), 11u);
    EXPECT_EQ(engine->GetConnectionState(), LRootModuleEngine::kDisconnected);
    Orv::Variant rate;
    EXPECT_EQ(engine->GetParamValue(Orv::ParamDescriptor{ParamIds::kSampleRate, {}}, rate), 0);
    EXPECT_EQ(rate.GetDouble(), 44100.0);
    EXPECT_EQ(engine->SetParamValue(Orv::ParamDescriptor{2, {}}, Int32Value(64)), E_FAIL);
    const Orv::ORVRESULT firstScan = engine->EnableRemoteDeviceScan(true);
    EXPECT_LT(firstScan, 0);
    EXPECT_EQ(engine->EnableRemoteDeviceScan(true), firstScan);
    EXPECT_FALSE(engine->IsEngineThreadRunning());
    Orv::Array<Orv::Variant> list;
    EXPECT_LT(engine->GetRemoteDeviceList(list), 0);
    client = nullptr;
}

}  // namespace
