#include "Utilities/Graphics/Color.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

namespace {

using Orv::ColorT;

constexpr float kScale = ColorT::kByteScale;

TEST(Color, ScaleIsTheFloatNearestOneOver255)
{
    EXPECT_EQ(std::bit_cast<uint32_t>(kScale), 0x3B808081u);
    EXPECT_EQ(ColorT::FromPackedARGB(0xFFFFFFFFu), (ColorT{1.0f, 1.0f, 1.0f, 1.0f}));
    EXPECT_EQ(ColorT::FromPackedARGB(0x00000000u), (ColorT{}));
}

TEST(Color, UnpacksChannelsFromTheirBytes)
{
    const ColorT c = ColorT::FromPackedARGB(0x80402010u);
    EXPECT_EQ(c.alpha, 128.0f * kScale);
    EXPECT_EQ(c.red, 64.0f * kScale);
    EXPECT_EQ(c.green, 32.0f * kScale);
    EXPECT_EQ(c.blue, 16.0f * kScale);
}

TEST(Color, EveryByteRoundTrips)
{
    for (uint32_t byte = 0; byte < 256; ++byte) {
        const uint32_t word = (byte << 24) | ((255 - byte) << 16) | (byte << 8) | (byte ^ 0x5Au);
        EXPECT_EQ(ColorT::FromPackedARGB(word).ToPackedARGB(), word) << byte;
    }
}

TEST(Color, ParseHexColorTable)
{
    const ColorT start{0.25f, 0.5f, 0.75f, 0.125f};
    const struct
    {
        const char* name;
        const char* text;
        ColorT expected;
    } cases[] = {
        {"prefixed eight digits", "0xFF0000FF", {0.0f, 0.0f, 1.0f, 1.0f}},
        {"bare eight digits", "FF0000FF", {0.0f, 0.0f, 1.0f, 1.0f}},
        {"upper-case prefix", "0X80FF8000", {1.0f, 128 * kScale, 0.0f, 128 * kScale}},
        {"two digits set alpha only", "80", {0.25f, 0.5f, 0.75f, 128 * kScale}},
        {"six digits keep alpha", "0x102030", {16 * kScale, 32 * kScale, 48 * kScale, 0.125f}},
        {"five digits change nothing", "12345", start},
        {"empty text changes nothing", "", start},
        {"prefix alone changes nothing", "0x", start},
        {"nine digits change nothing", "123456789", start},
        {"seven digits change nothing", "1234567", start},
        {"not hexadecimal reads as zero", "zz", {0.25f, 0.5f, 0.75f, 0.0f}},
        {"reading stops at a non-digit", "12zz34", {0.0f, 0.0f, 18 * kScale, 0.125f}},
        {"null", nullptr, start},
    };
    for (const auto& c : cases) {
        ColorT color = start;
        color.ParseHexColor(c.text);
        EXPECT_EQ(color, c.expected) << c.name;
    }
    ColorT color;
    color.ParseHexColor("0xFF0000FF");
    EXPECT_EQ(color.ToPackedARGB(), 0xFF0000FFu);
}

TEST(Color, PackingRoundsAndClampsEachChannel)
{
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct
    {
        float channel;
        uint32_t byte;
    } cases[] = {
        {0.5f, 128},  {0.499f, 127}, {1.2f, 255}, {-0.3f, 0},  {1.0f, 255},   {0.0f, 0},
        {-0.0f, 0},   {1e30f, 255},  {-1e30f, 0}, {inf, 255},  {-inf, 0},     {nan, 0},
        {3e38f, 255}, {-3e38f, 0},   {0.001f, 0}, {0.002f, 1}, {0.998f, 254}, {0.999f, 255},
    };
    for (const auto& c : cases) {
        // The same channel in each position: the byte must land in the right place.
        EXPECT_EQ(ColorT(c.channel, 0, 0, 0).ToPackedARGB(), c.byte << 16) << c.channel;
        EXPECT_EQ(ColorT(0, c.channel, 0, 0).ToPackedARGB(), c.byte << 8) << c.channel;
        EXPECT_EQ(ColorT(0, 0, c.channel, 0).ToPackedARGB(), c.byte) << c.channel;
        EXPECT_EQ(ColorT(0, 0, 0, c.channel).ToPackedARGB(), c.byte << 24) << c.channel;
    }
}

}  // namespace
