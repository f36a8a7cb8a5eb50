// The run-time library's wide helpers, for UTF-16 and without the process locale.
#include <gtest/gtest.h>

#include <cmath>

#include "Utilities/Storage/WideChar.h"

namespace {

TEST(WideChar, CaseMappingOfSingleCodeUnits)
{
    struct Row
    {
        char16_t lower;
        char16_t upper;
    };
    // Pairs that map both ways, across the tables' kinds of rows (runs, alternating pairs).
    const Row pairs[] = {{u'a', u'A'},           {u'z', u'Z'},           {u'\u00E9', u'\u00C9'},
                         {u'\u0101', u'\u0100'}, {u'\u017E', u'\u017D'}, {u'\u03C3', u'\u03A3'},
                         {u'\u0444', u'\u0424'}, {u'\u0561', u'\u0531'}, {u'\uFF41', u'\uFF21'}};
    for (const Row& row : pairs) {
        EXPECT_EQ(Orv::towupper(row.lower), row.upper) << static_cast<int>(row.lower);
        EXPECT_EQ(Orv::towlower(row.upper), row.lower) << static_cast<int>(row.upper);
    }
    // Unchanged: digits, no simple mapping (sharp s), surrogates, unassigned, CJK.
    for (char16_t c : {u'1', u'\u00DF', u'\xD83D', u'\xDE00', u'\u4E2D', u'\uFFFF', u'\0'}) {
        EXPECT_EQ(Orv::towupper(c), c) << static_cast<int>(c);
        EXPECT_EQ(Orv::towlower(c), c) << static_cast<int>(c);
    }
    EXPECT_EQ(Orv::towupper(u'\u00FF'), u'\u0178') << "a mapping far away";
    EXPECT_EQ(Orv::towlower(u'\u0130'), u'\u0130') << "dotted capital I has no one-unit mapping";
    EXPECT_EQ(Orv::towupper(u'\u0100'), u'\u0100') << "upper case stays";
}

TEST(WideChar, CaseBlindCompareFoldsToLowerCase)
{
    EXPECT_EQ(Orv::_wcsicmp(u"Hello", u"hELLO"), 0);
    EXPECT_EQ(Orv::_wcsicmp(u"\u00C4rger", u"\u00E4RGER"), 0);
    EXPECT_LT(Orv::_wcsicmp(u"abc", u"ABD"), 0);
    EXPECT_GT(Orv::_wcsicmp(u"abcd", u"ABC"), 0);
    EXPECT_LT(Orv::_wcsicmp(u"", u"a"), 0);
    // Letters fold to lower case (from 0x61), so '_' (0x5F) sorts before every letter; a fold to
    // upper case would put it after them.
    EXPECT_GT(Orv::_wcsicmp(u"A", u"_"), 0);
}

TEST(WideChar, NumberParsesReadTheLeadingNumber)
{
    struct IntRow
    {
        const char16_t* text;
        int value;
    };
    const IntRow ints[] = {{u"12", 12},
                           {u" \t\n-7x", -7},
                           {u"+3", 3},
                           {u"", 0},
                           {u"-", 0},
                           {u"2147483647", 2147483647},
                           {u"2147483648", 2147483647},
                           {u"-2147483649", -2147483647 - 1},
                           {u"00012", 12},
                           {u"1 2", 1}};
    for (const IntRow& row : ints) {
        EXPECT_EQ(Orv::_wtoi(row.text), row.value);
    }
    EXPECT_EQ(Orv::_wtoi(nullptr), 0);

    struct DoubleRow
    {
        const char16_t* text;
        double value;
    };
    const DoubleRow doubles[] = {{u"1.5", 1.5},
                                 {u"  -2.25e2z", -225.0},
                                 {u".5", 0.5},
                                 {u"5.", 5.0},
                                 {u"1e", 1.0},
                                 {u"1e+", 1.0},
                                 {u".", 0.0},
                                 {u"abc", 0.0},
                                 {u"0.1", 0.1},
                                 {u"-INF", -HUGE_VAL},
                                 {u"infinity", HUGE_VAL},
                                 {u"1e400", HUGE_VAL},
                                 {u"-1e400", -HUGE_VAL},
                                 {u"1e-400", 0.0},
                                 {u"123456789012345678901234567890", 1.2345678901234568e29}};
    for (const DoubleRow& row : doubles) {
        EXPECT_EQ(Orv::_wtof(row.text), row.value);
    }
    EXPECT_TRUE(std::isnan(Orv::_wtof(u"NaN")));
    EXPECT_EQ(Orv::_wtof(nullptr), 0.0);
}

}  // namespace
