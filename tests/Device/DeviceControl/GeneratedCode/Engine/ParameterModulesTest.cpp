// The module tree: first ids from the root's, the exact texts of the logic errors, dispatch by id
// and the own-id checks of the leaf modules.
#include <gtest/gtest.h>

#include <string>

#include "Device.h"
#include "ParamIds.h"
#include "RootModule.h"

namespace {

using Orv::ParamDescriptor;
using Orv::Variant;

template <class Call>
std::string ThrownText(Call call)
{
    try {
        call();
    } catch (const std::logic_error& error) {
        return error.what();
    }
    return "(nothing thrown)";
}

class ParameterModulesTest : public testing::Test
{
protected:
    // An offline root without cache or library: only the tree is used.
    Orv::RCPtr<LRootModule> root = LRootModule::Create(true);
    Orv::RCPtr<IDevice> device = root->GetDevice();
};

TEST_F(ParameterModulesTest, ChildrenTakeTheirFirstIdsFromTheRoots)
{
    for (const int32_t first : {0, 5, -20}) {
        root->SetFirstParamID(nullptr, first, 0);
        EXPECT_EQ(device->GetFirstParamID(), first);
        EXPECT_EQ(device->GetVersions()->GetFirstParamID(), first);
        EXPECT_EQ(device->GetDriverStandardProperties()->GetFirstParamID(), first + 2);
        EXPECT_EQ(device->GetAudioStatus()->GetFirstParamID(), first + 9);
        EXPECT_EQ(device->GetAudioStatus()->GetParent(), device.Get());
        EXPECT_EQ(device->GetParent(), root.Get());
    }
}

TEST_F(ParameterModulesTest, AWrongFirstIdThrowsTheModulesOwnText)
{
    root->SetFirstParamID(nullptr, 0, 0);
    const std::string prefix = "Logic Error : Invalid FirstParamID : ";
    const std::string source = "..\\..\\DeviceControl\\GeneratedCode\\Engine\\Src\\";
    EXPECT_EQ(ThrownText([&] { device->SetFirstParamID(root.Get(), 1, 0); }),
              prefix + "LDevice::SetFirstParamID : " + source + "Device : Line 72");
    root->SetFirstParamID(nullptr, 0, 0);
    EXPECT_EQ(ThrownText([&] { device->GetVersions()->SetFirstParamID(device.Get(), 2, 0); }),
              prefix + "LVersions::SetFirstParamID : " + source + "Versions : Line 72");
    EXPECT_EQ(ThrownText([&] {
                  device->GetDriverStandardProperties()->SetFirstParamID(device.Get(), 0, 0);
              }),
              prefix + "LDriverStandardProperties::SetFirstParamID : " + source +
                  "DriverStandardProperties : Line 72");
    EXPECT_EQ(ThrownText([&] { device->GetAudioStatus()->SetFirstParamID(device.Get(), 2, 0); }),
              prefix + "LAudioStatus::SetFirstParamID : " + source + "AudioStatus : Line 72");
}

TEST_F(ParameterModulesTest, IdsGoToTheModuleThatOwnsThem)
{
    root->SetFirstParamID(nullptr, 100, 0);
    for (int32_t k = 0; k < 11; ++k) {
        const auto module = root->GetModuleForParamID(100 + k);
        ASSERT_TRUE(module) << k;
        const LParameterizedModule* expected =
            k < 2 ? static_cast<LParameterizedModule*>(device->GetVersions().Get())
            : k < 9
                ? static_cast<LParameterizedModule*>(device->GetDriverStandardProperties().Get())
                : static_cast<LParameterizedModule*>(device->GetAudioStatus().Get());
        EXPECT_EQ(module.Get(), expected) << k;
        EXPECT_TRUE(module->OwnsParamID(100 + k));
    }
    for (const int32_t id : {99, 111, 1000, -1}) {
        EXPECT_FALSE(device->GetModuleForParamID(id)) << id;
        EXPECT_FALSE(root->GetModuleForParamID(id)) << id;
    }
}

TEST_F(ParameterModulesTest, DefaultsOfOwnIdsAndTheTextsForOthers)
{
    root->SetFirstParamID(nullptr, 0, 0);
    const auto properties = device->GetDriverStandardProperties();
    for (int32_t id = 2; id <= 8; ++id) {
        Variant value;
        properties->GetParamValueDefault(value, id);
        EXPECT_TRUE(value == ParamIds::GetDefaultValue(id)) << id;
    }
    Variant status;
    device->GetAudioStatus()->GetParamValueDefault(status, 10);
    EXPECT_EQ(status.GetType(), Orv::kVariantBool);
    EXPECT_FALSE(status.GetBool());

    const std::string source = "..\\..\\DeviceControl\\GeneratedCode\\Engine\\Src\\";
    Variant ignored;
    EXPECT_EQ(
        ThrownText([&] { device->GetAudioStatus()->GetParamValueDefault(ignored, 3); }),
        "Logic Error : LAudioStatus::GetParamValueDefault : " + source + "AudioStatus : Line 224");
    EXPECT_EQ(ThrownText([&] { device->GetVersions()->GetParamValueDefault(ignored, 2); }),
              "Logic Error : LVersions::GetParamValueDefault : " + source + "Versions : Line 224");
    EXPECT_EQ(ThrownText([&] { properties->GetParamValueDefault(ignored, 9); }),
              "Logic Error : LDriverStandardProperties::GetParamValueDefault : " + source +
                  "DriverStandardProperties : Line 320");
    EXPECT_EQ(ThrownText([&] {
                  device->GetVersions()->GetParamValueLocal(ignored, ParamDescriptor{5, {}});
              }),
              "Logic Error : LVersions::GetParamValueLocal : " + source + "Versions : Line 96");
    EXPECT_EQ(ThrownText([&] {
                  properties->GetParamValueLocal(ignored, ParamDescriptor{1, {}});
              }),
              "Logic Error : LDriverStandardProperties::GetParamValueLocal : " + source +
                  "DriverStandardProperties : Line 121");
}

TEST_F(ParameterModulesTest, TheBaseRefusesValuesForAModuleWithoutIds)
{
    root->SetFirstParamID(nullptr, 0, 0);
    Variant value;
    value.SetInt32(1);
    const std::string source =
        "device\\devicecontrol\\generatedcode\\engine\\inc\\RootModuleInterface";
    EXPECT_EQ(ThrownText([&] {
                  device->SetParamValueLocal(ParamDescriptor{2, {}}, value, true);
              }),
              "Logic Error : LParameterizedModule::SetParamValueLocal : " + source + " : Line 102");
    EXPECT_EQ(ThrownText([&] {
                  device->GetParamValueLocal(value, ParamDescriptor{2, {}});
              }),
              "Logic Error : LParameterizedModule::GetParamValueLocal : " + source + " : Line 116");
}

TEST_F(ParameterModulesTest, LeafModulesAnswerMinusOneForIdsOfOthers)
{
    root->SetFirstParamID(nullptr, 0, 0);
    const auto status = device->GetAudioStatus();
    Variant value;
    value.SetBool(true);
    EXPECT_EQ(status->SetParamValueLocal(ParamDescriptor{4, {}}, value, true), -1);
    EXPECT_EQ(status->SetParamValueLocal(ParamDescriptor{-300, {}}, value, false), -1);
    EXPECT_EQ(status->SetParamValueLocal(ParamDescriptor{-2, {}}, value, false), -1);
    // From the device, a pseudo-module id is not sent back; nothing maps it here.
    EXPECT_EQ(status->SetParamValueLocal(ParamDescriptor{-200, {}}, value, true), 1);
}

}  // namespace
