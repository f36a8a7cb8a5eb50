// The value readers of skin attributes: each parser over a table of texts, the limits where C's
// conversions would be undefined, and the attribute map's order and first-wins rule.

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string>

#include "ControlBase/SkinAttributes.h"

namespace {

using Orv::WideString;

struct IntCase
{
    const char* name;
    const char16_t* text;
    int32_t number;   // the number reader (hexadecimal allowed)
    int32_t integer;  // the integer reader (decimal only)
};

const IntCase kIntCases[] = {
    {"Decimal", u"12", 12, 12},
    {"HexLowerCase", u"0x10", 16, 0},
    {"HexFifthDigitIgnored", u"0x12345", 0x1234, 0},
    {"HexMixedCaseDigits", u"0xaBcD", 0xABCD, 0},
    {"HexStopsAtOtherCharacter", u"0x1g", 1, 0},
    {"HexAlone", u"0x", 0, 0},
    {"UpperCaseXIsNotHex", u"0X10", 0, 0},
    {"LeadingSpaceAndSign", u"  -42", -42, -42},
    {"PlusSign", u"+7", 7, 7},
    {"StopsAtFraction", u"12.7", 12, 12},
    {"NoDigits", u"abc", 0, 0},
    {"Empty", u"", 0, 0},
    {"SignAlone", u"-", 0, 0},
    {"LargestInt32", u"2147483647", INT32_MAX, INT32_MAX},
    {"SmallestInt32", u"-2147483648", INT32_MIN, INT32_MIN},
    {"PastInt32Saturates", u"2147483648", INT32_MAX, INT32_MAX},
    {"FarPastInt32Saturates", u"99999999999999999999999", INT32_MAX, INT32_MAX},
    {"FarBelowInt32Saturates", u"-99999999999999999999999", INT32_MIN, INT32_MIN},
};

void PrintTo(const IntCase& row, std::ostream* out)
{
    *out << row.name;
}

class IntParsers : public testing::TestWithParam<IntCase>
{
};

TEST_P(IntParsers, ReadAsCDoesWithinRangeAndSaturateOutside)
{
    const IntCase& row = GetParam();
    EXPECT_EQ(Orv::ParseNumber(row.text), row.number);
    EXPECT_EQ(Orv::ParseInteger(row.text), row.integer);
}

INSTANTIATE_TEST_SUITE_P(Texts, IntParsers, testing::ValuesIn(kIntCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SkinAttributeParsers, BoolIsTrueOnlyForTrue)
{
    EXPECT_TRUE(Orv::ParseBool(u"True"));
    for (const char16_t* text : {u"true", u"TRUE", u"1", u"False", u"", u"True "}) {
        EXPECT_FALSE(Orv::ParseBool(text)) << WideString(text).ToNarrow().GetText();
    }
}

TEST(SkinAttributeParsers, FloatReadsLikeStrtodInTheCLocale)
{
    EXPECT_FLOAT_EQ(Orv::ParseFloat(u"0.5"), 0.5f);
    EXPECT_FLOAT_EQ(Orv::ParseFloat(u" -1.25e1xyz"), -12.5f);
    EXPECT_FLOAT_EQ(Orv::ParseFloat(u"3"), 3.0f);
    EXPECT_EQ(Orv::ParseFloat(u"abc"), 0.0f);
    EXPECT_EQ(Orv::ParseFloat(u"1e300"), std::numeric_limits<float>::infinity());
    EXPECT_EQ(Orv::ParseFloat(u"-1e300"), -std::numeric_limits<float>::infinity());
}

TEST(SkinAttributeParsers, FloatIgnoresTheProcessLocale)
{
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string kept = previous != nullptr ? previous : "C";
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr &&
        std::setlocale(LC_NUMERIC, "fr_FR.UTF-8") == nullptr) {
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    }
    const float value = Orv::ParseFloat(u"0.75");
    std::setlocale(LC_NUMERIC, kept.c_str());
    EXPECT_FLOAT_EQ(value, 0.75f);
}

TEST(SkinAttributeParsers, ReadersLeaveTheOutputWhenTheAttributeIsAbsent)
{
    Orv::XmlAttributes attributes;
    attributes.Add(u"Width", u"0x20");
    attributes.Add(u"Color", u"FF102030");
    int32_t number = -5;
    float real = -5;
    bool flag = true;
    WideString text = u"kept";
    EXPECT_FALSE(Orv::ReadIntAttribute(attributes, u"Height", number));
    EXPECT_FALSE(Orv::ReadFloatAttribute(attributes, u"Height", real));
    EXPECT_FALSE(Orv::ReadBoolAttribute(attributes, u"Height", flag));
    EXPECT_FALSE(Orv::ReadStringAttribute(attributes, u"width", text));
    EXPECT_EQ(number, -5);
    EXPECT_EQ(real, -5);
    EXPECT_TRUE(flag);
    EXPECT_EQ(text, u"kept");

    EXPECT_TRUE(Orv::ReadIntAttribute(attributes, u"Width", number));
    EXPECT_EQ(number, 32);
    Orv::ColorT color;
    EXPECT_TRUE(Orv::ReadColorAttribute(attributes, u"Color", color));
    EXPECT_EQ(color.ToPackedARGB(), 0xFF102030u);
}

TEST(SkinAttributeParsers, AttributeMapIsOrderedAndKeepsTheFirstOfEqualNames)
{
    // U+FF5E sorts after U+1F600 in UTF-8 but before it in UTF-16 (a surrogate, 0xD83D).
    const char* pairs[] = {
        "b", "1",    "A", "2", "a", "3", "b", "4", "\xEF\xBD\x9E", "5", "\xF0\x9F\x98\x80",
        "6", nullptr};
    const Orv::XmlAttributes attributes(pairs);
    ASSERT_EQ(attributes.Count(), 5u);
    EXPECT_EQ(attributes.At(0).name, "A");
    EXPECT_EQ(attributes.At(1).name, "a");
    EXPECT_EQ(attributes.At(2).name, "b");
    EXPECT_EQ(attributes.At(3).name, "\xF0\x9F\x98\x80");
    EXPECT_EQ(attributes.At(4).name, "\xEF\xBD\x9E");
    EXPECT_EQ(*attributes.Find(u"\U0001F600"), u"6");
    EXPECT_EQ(*attributes.Find(u"\uFF5E"), u"5");
    EXPECT_EQ(*attributes.Find(u"b"), u"1");
    EXPECT_EQ(attributes.Find(u"c"), nullptr);
    EXPECT_EQ(attributes.Find(u"B"), nullptr);

    Orv::XmlAttributes added;
    added.Add(u"z", u"1");
    added.Add(u"m", u"2");
    added.Add(u"z", u"3");
    ASSERT_EQ(added.Count(), 2u);
    EXPECT_EQ(added.At(0).name, "m");
    EXPECT_EQ(*added.Find(u"z"), u"1");
}

}  // namespace
