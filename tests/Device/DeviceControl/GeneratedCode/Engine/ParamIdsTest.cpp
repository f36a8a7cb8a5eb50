// The defaults the modules show before the device has spoken, and the names of the ids.
#include <gtest/gtest.h>

#include <string>

#include "ParamIds.h"
#include "Utilities/Storage/ParamLists.h"

namespace {

TEST(ParamIds, ElevenParametersInIdOrder)
{
    const ParamIds::ParamDefinition* definitions = ParamIds::GetParamDefinitions();
    for (int32_t i = 0; i < ParamIds::kParamCount; ++i) {
        EXPECT_EQ(definitions[i].id, i);
        EXPECT_EQ(std::string(definitions[i].name).rfind("DEVICE__", 0), 0u) << i;
    }
    EXPECT_STREQ(definitions[ParamIds::kClockSourcesAvailable].name,
                 "DEVICE__DRIVER_STANDARDS_PROPS__CLOCK_SOURCES_AVAILABLE");
}

TEST(ParamIds, ListDefaultsHaveTheirShapes)
{
    const Orv::Variant clocks = ParamIds::GetDefaultValue(ParamIds::kClockSourcesAvailable);
    ASSERT_EQ(clocks.GetListItemCount(), 1u);
    Orv::Variant entry;
    ASSERT_EQ(clocks.GetListItem(0, entry), 0);
    ASSERT_EQ(entry.GetListItemCount(), 2u);
    Orv::Variant code;
    ASSERT_EQ(entry.GetListItem(1, code), 0);
    EXPECT_EQ(code.GetType(), Orv::kVariantInt32);
    EXPECT_EQ(code.GetUInt32(), 0x73706466u);

    const Orv::Variant sizes = ParamIds::GetDefaultValue(ParamIds::kAsioBufferSizes);
    ASSERT_EQ(sizes.GetListItemCount(), 3u);
    const int32_t expected[] = {64, 4096, 32};
    for (uint32_t i = 0; i < 3; ++i) {
        Orv::Variant item;
        sizes.GetListItem(i, item);
        EXPECT_EQ(item.GetType(), Orv::kVariantInt32);
        EXPECT_EQ(item.GetInt32(), expected[i]);
    }

    const Orv::Variant rates = ParamIds::GetDefaultValue(ParamIds::kSampleRatesAvailable);
    Orv::Variant items[3];
    ASSERT_EQ(rates.GetListItemCount(), 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        rates.GetListItem(i, items[i]);
    }
    EXPECT_EQ(items[0].GetType(), Orv::kVariantInt32);
    EXPECT_EQ(items[1].GetType(), Orv::kVariantBool);
    EXPECT_EQ(items[2].GetType(), Orv::kVariantDouble);
    EXPECT_EQ(items[2].GetDouble(), 44100.0);
}

TEST(ParamIds, ScalarDefaultsAndTheDeviceSetValues)
{
    struct Case
    {
        int32_t id;
        int32_t type;
        double value;
    };
    const Case cases[] = {
        {ParamIds::kDriverVersion, Orv::kVariantEmpty, 0},
        {ParamIds::kFirmwareVersion, Orv::kVariantEmpty, 0},
        {ParamIds::kAsioPreferredBufferSize, Orv::kVariantInt32, 256},
        {ParamIds::kSampleRate, Orv::kVariantDouble, 44100.0},
        {ParamIds::kClockSource, Orv::kVariantInt32, 0},
        {ParamIds::kClockValid, Orv::kVariantBool, 1},
        {ParamIds::kStreamingStatus, Orv::kVariantBool, 0},
        {ParamIds::kAc3Status, Orv::kVariantBool, 0},
        {ParamIds::kParamCount, Orv::kVariantEmpty, 0},
        {ParamIds::kDeviceName, Orv::kVariantEmpty, 0},
    };
    for (const Case& c : cases) {
        const Orv::Variant value = ParamIds::GetDefaultValue(c.id);
        EXPECT_EQ(value.GetType(), c.type) << c.id;
        EXPECT_EQ(value.GetDouble(), c.value) << c.id;
    }
}

}  // namespace
