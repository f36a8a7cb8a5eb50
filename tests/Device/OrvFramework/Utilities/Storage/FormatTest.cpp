// Formatting: printf-style text independent of the locale, rounding half away from zero.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "Utilities/Storage/StringT.h"

namespace {

using Orv::WideString;

std::u16string Text(const WideString& s)
{
    return std::u16string(s.GetText(), static_cast<std::size_t>(s.GetLength()));
}

TEST(Format, Integers)
{
    EXPECT_EQ(Text(WideString::Format(u"%d|%5d|%-5d|%05d|%+d", 42, -42, 7, -7, 3)),
              u"42|  -42|7    |-0007|+3");
    EXPECT_EQ(Text(WideString::Format(u"%u %X %x %#x %o", -1, 0xBEEFu, 255u, 255u, 8u)),
              u"4294967295 BEEF ff 0xff 10");
    EXPECT_EQ(Text(WideString::Format(u"%I64d %I64X %I32u %lld %hd", -5000000000LL,
                                      0x123456789ABCull, 7u, 1LL << 40, 70000)),
              u"-5000000000 123456789ABC 7 1099511627776 4464");
    EXPECT_EQ(Text(WideString::Format(u"%.3d|%.0d|%*d|%-*d|", 5, 0, 4, 1, 3, 2)),
              u"005||   1|2  |");
    EXPECT_EQ(Text(WideString::Format(u"%d", -2147483647 - 1)), u"-2147483648");
}

TEST(Format, TextsAndCharacters)
{
    EXPECT_EQ(Text(WideString::Format(u"[%s] [%S] [%hs] [%5s] [%-3s] [%.2s]", u"wide", "narrow",
                                      "\xC3\xA9", u"ab", u"c", u"xyz")),
              u"[wide] [narrow] [\u00E9] [   ab] [c  ] [xy]");
    EXPECT_EQ(Text(WideString::Format(u"%c%C%%", u'\u20AC', 'x')), u"\u20ACx%");
    EXPECT_EQ(Text(WideString::Format(u"%s", static_cast<const char16_t*>(nullptr))), u"(null)");
    // h is narrow and l or w wide whatever the format's width.
    EXPECT_EQ(Text(WideString::Format(u"%hs|%ls|%ws|%hc|%lc", "n", u"w", u"v", 'c', u'd')),
              u"n|w|v|c|d");
    EXPECT_EQ(std::string(Orv::NarrowString::Format("%hs|%ls|%ws|%S|%C|%hc", "n", u"w", u"\u00E9",
                                                    u"x", u'y', 'z')
                              .GetText()),
              "n|w|\xC3\xA9|x|y|z");
    EXPECT_EQ(std::string(Orv::NarrowString::Format("%s/%S/%d", "a", u"\u00E9", 5).GetText()),
              "a/\xC3\xA9/5");
}

TEST(Format, FloatingPointRoundsHalfAwayFromZero)
{
    struct Row
    {
        const char16_t* format;
        double value;
        const char16_t* expected;
    };
    const Row rows[] = {
        {u"%.0f", 0.5, u"1"},
        {u"%.0f", 1.5, u"2"},
        {u"%.0f", 2.5, u"3"},
        {u"%.0f", -2.5, u"-3"},
        {u"%0.0f", 3.5, u"4"},
        {u"%.2f", 0.125, u"0.13"},
        {u"%.1f", 0.25, u"0.3"},
        {u"%.2f", 1.005, u"1.00"},
        {u"%f", 1.0 / 3, u"0.333333"},
        {u"%lf", 1.5, u"1.500000"},
        {u"%8.3f", -1.0, u"  -1.000"},
        {u"%08.2f", 3.14159, u"00003.14"},
        {u"%.3f", 999.9995, u"1000.000"},
        {u"%.0f", 9.5, u"10"},
        {u"%e", 12345.678, u"1.234568e+04"},
        {u"%.0e", 2.5, u"3e+00"},
        {u"%E", 0.0, u"0.000000E+00"},
        {u"%g", 0.0001, u"0.0001"},
        {u"%g", 1e-5, u"1e-05"},
        {u"%g", 123456789.0, u"1.23457e+08"},
        {u"%g", 2.5, u"2.5"},
        {u"%.1g", 0.25, u"0.3"},
        {u"%g", 100000.0, u"100000"},
        {u"%G", 1e20, u"1E+20"},
        {u"%+.1f", 0.05, u"+0.1"},
        {u"%.2f", 1e300, nullptr},
    };
    for (const Row& row : rows) {
        const WideString text = WideString::Format(row.format, row.value);
        if (row.expected != nullptr) {
            EXPECT_EQ(Text(text), row.expected) << Text(row.format).size() << " " << row.value;
        } else {
            EXPECT_EQ(text.GetLength(), 301 + 3);
        }
    }
    EXPECT_EQ(Text(WideString::Format(u"%f %F", HUGE_VAL, -HUGE_VAL)), u"inf -INF");
}

TEST(Format, GrowsBeyondItsUsualBuffer)
{
    const std::u16string big(20000, u'x');
    const WideString text = WideString::Format(u"<%s>", big.c_str());
    EXPECT_EQ(text.GetLength(), 20002);
    EXPECT_EQ(text.GetText()[20001], u'>');
}

TEST(FormatFixedPoint, PlacesTheDecimalPoint)
{
    struct Row
    {
        int value;
        int decimals;
        const char16_t* expected;
    };
    const Row rows[] = {
        {123, 2, u"1.23"}, {5, 2, u".05"},       {42, 0, u"42"},
        {42, -1, u"42"},   {-5, 2, u"-0.05"},    {-123, 2, u"-1.23"},
        {-7, 0, u"-7"},    {0, 3, u".000"},      {-2147483647 - 1, 3, u"-2147483.648"},
        {256, 3, u".256"}, {-256, 3, u"-0.256"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Text(Orv::FormatFixedPoint(row.value, row.decimals)), row.expected) << row.value;
    }
    EXPECT_EQ(Text(Orv::FormatFixedPoint(4294967295u, 4)), u"429496.7295");
}

TEST(FormatDouble, PrecisionOrSixDecimals)
{
    EXPECT_EQ(Text(Orv::FormatDouble(1.5, 2)), u"1.50");
    EXPECT_EQ(Text(Orv::FormatDouble(1.5, -1)), u"1.500000");
    EXPECT_EQ(Text(Orv::FormatDouble(2.5, 0)), u"3");
    EXPECT_EQ(Text(Orv::FormatDouble(-0.125, 2)), u"-0.13");
    EXPECT_EQ(Text(Orv::FormatDouble(44100.0, 0)), u"44100");
}

}  // namespace
