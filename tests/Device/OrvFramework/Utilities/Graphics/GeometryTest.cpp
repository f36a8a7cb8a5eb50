#include "Utilities/Graphics/Geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using Orv::LongCoord;
using Orv::PointD;
using Orv::PointF;
using Orv::PointL;
using Orv::RectD;
using Orv::RectF;
using Orv::RectL;

constexpr LongCoord kMin = std::numeric_limits<LongCoord>::min();
constexpr LongCoord kMax = std::numeric_limits<LongCoord>::max();

TEST(Geometry, DoublesRoundHalfAwayFromZeroAndSaturate)
{
    const struct
    {
        double value;
        LongCoord expected;
    } cases[] = {
        {2.5, 3},
        {-2.5, -3},
        {0.49999999, 0},
        {-0.49999999, 0},
        {0.49999999999999994, 0},  // the largest double below one half
        {-0.5, -1},
        {0.5, 1},
        {0.0, 0},
        {-0.0, 0},
        {2147483646.6, kMax},
        {2147483647.0, kMax},
        {2147483647.4, kMax},
        {2147483648.0, kMax},
        {1e10, kMax},
        {std::numeric_limits<double>::infinity(), kMax},
        {-2147483648.0, kMin},
        {-2147483647.6, kMin},
        {-2147483648.4, kMin},
        {-1e10, kMin},
        {-std::numeric_limits<double>::infinity(), kMin},
        {std::numeric_limits<double>::quiet_NaN(), kMin},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Orv::RoundToLong(c.value), c.expected) << c.value;
    }
}

TEST(Geometry, PointConversions)
{
    EXPECT_EQ((PointD{2.5, -2.5}.ToLong()), (PointL{3, -3}));
    EXPECT_EQ((PointD{0.49999999, -0.49999999}.ToLong()), (PointL{0, 0}));
    EXPECT_EQ((PointD{-0.5, 0.5}.RoundToIntPoint()), (PointL{-1, 1}));
    EXPECT_EQ((PointF{2147483648.0f, -2147483904.0f}.ToLong()), (PointL{kMax, kMin}));
    EXPECT_EQ((PointF{std::nanf(""), 1.5f}.ToLong()), (PointL{kMin, 2}));

    const PointD exact = PointL{kMin, kMax}.ToDouble();
    EXPECT_EQ(exact.x, -2147483648.0);
    EXPECT_EQ(exact.y, 2147483647.0);
}

TEST(Geometry, RectMembersRoundIndependently)
{
    const RectL rounded = Orv::RoundToIntRect(RectD{0.5, 0.5, 10.5, 10.5});
    EXPECT_EQ(rounded, (RectL{1, 1, 11, 11}));
    EXPECT_EQ(rounded.Right(), 12);
    EXPECT_EQ(Orv::RoundToIntRect(RectD{-1e12, std::nan(""), 3e9, -0.5}),
              (RectL{kMin, kMin, kMax, -1}));

    const RectD back = RectL{kMin, -1, kMax, 0}.ToDouble();
    EXPECT_EQ(back, (RectD{-2147483648.0, -1.0, 2147483647.0, 0.0}));
}

TEST(Geometry, RoundKeepsDoublesAndClearsNegativeZero)
{
    const struct
    {
        double value;
        double expected;
    } cases[] = {
        {2.5, 3.0}, {-2.5, -3.0}, {2.4999, 2.0}, {-0.3, 0.0}, {-0.0, 0.0}, {1e300, 1e300},
    };
    for (const auto& c : cases) {
        PointD point{c.value, c.value};
        point.Round();
        EXPECT_EQ(point.x, c.expected) << c.value;
        EXPECT_FALSE(std::signbit(point.y) && c.expected == 0.0)
            << "negative zero from " << c.value;
    }
}

TEST(Geometry, IntegerPointPlusDoubleOffset)
{
    EXPECT_EQ((PointL{10, 10} + PointD{0.5, -0.5}), (PointL{11, 9}));
    // Past the limits the sum saturates rather than wrapping.
    EXPECT_EQ((PointL{kMax, kMin} + PointD{1.0, -1.0}), (PointL{kMax, kMin}));
}

// Widening to double is offered where it is exact (whole coordinates) and nowhere else: a float
// point used to compile and truncate 2.75 to 2.
template <class V>
concept HasToDouble = requires(const V& value)
{
    value.ToDouble();
};
static_assert(HasToDouble<PointL> && HasToDouble<RectL>);
static_assert(!HasToDouble<PointF> && !HasToDouble<PointD>);
static_assert(!HasToDouble<RectF> && !HasToDouble<RectD>);

template <class V>
concept HasToLong = requires(const V& value)
{
    value.ToLong();
};
static_assert(HasToLong<PointF> && HasToLong<PointD> && HasToLong<RectF> && HasToLong<RectD>);
static_assert(!HasToLong<PointL> && !HasToLong<RectL>);

TEST(Geometry, RectConversionsFollowTheIntegerRule)
{
    EXPECT_EQ((RectF{2.5f, -2.5f, 2147483648.0f, std::nanf("")}.ToLong()),
              (RectL{3, -3, kMax, kMin}));
    EXPECT_EQ((RectD{0.49999999, -0.5, 1e10, -1e10}.ToLong()), (RectL{0, -1, kMax, kMin}));
    EXPECT_EQ((RectL{kMin, -1, kMax, 16777217}.ToFloat()),
              (RectF{-2147483648.0f, -1.0f, 2147483648.0f, 16777216.0f}));
}

TEST(Geometry, IntersectTable)
{
    const double nan = std::nan("");
    const struct
    {
        const char* name;
        RectD a;
        RectD b;
        RectD expected;
        bool area;
    } cases[] = {
        {"overlap", {0, 0, 10, 10}, {5, 2, 10, 4}, {5, 2, 5, 4}, true},
        {"contained", {0, 0, 10, 10}, {2, 3, 4, 5}, {2, 3, 4, 5}, true},
        {"touching edges", {0, 0, 10, 10}, {10, 0, 5, 5}, {10, 0, 0, 5}, false},
        {"disjoint keeps negative extent",
         {0, 0, 10, 10},
         {15, 20, 5, 5},
         {15, 20, -5, -10},
         false},
        {"sliver below epsilon",
         {0, 0, 1, 1},
         {1 - 1e-17, 0, 1, 1},
         {1 - 1e-17, 0, 1e-17, 1},
         false},
    };
    for (const auto& c : cases) {
        RectD out{};
        EXPECT_EQ(RectD::Intersect(out, c.a, c.b), c.area) << c.name;
        EXPECT_DOUBLE_EQ(out.x, c.expected.x) << c.name;
        EXPECT_DOUBLE_EQ(out.y, c.expected.y) << c.name;
        EXPECT_NEAR(out.width, c.expected.width, 1e-15) << c.name;
        EXPECT_DOUBLE_EQ(out.height, c.expected.height) << c.name;
    }
    RectD out{};
    EXPECT_FALSE(RectD::Intersect(out, RectD{nan, 0, 10, 10}, RectD{0, 0, 10, 10}));
    EXPECT_FALSE(RectD::Intersect(out, RectD{0, 0, nan, 10}, RectD{0, 0, 10, 10}));

    // The float threshold is 2^-23, not the double one.
    RectF floatOut{};
    EXPECT_FALSE(RectF::Intersect(floatOut, RectF{0, 0, 1, 1}, RectF{0, 0, 1e-8f, 1}));
    EXPECT_TRUE(RectF::Intersect(floatOut, RectF{0, 0, 1, 1}, RectF{0, 0, 1e-6f, 1}));

    // The result may overwrite an argument.
    RectD a{0, 0, 10, 10};
    EXPECT_TRUE(RectD::Intersect(a, a, RectD{4, 4, 10, 10}));
    EXPECT_EQ(a, (RectD{4, 4, 6, 6}));
}

TEST(Geometry, SnapToPixelsTable)
{
    const struct
    {
        const char* name;
        RectD in;
        RectD expected;
    } cases[] = {
        {"whole stays", {1, 2, 3, 4}, {1, 2, 3, 4}},
        {"edges floored, extent from edges", {10.4, 20.6, 5.5, 5.3}, {10, 20, 5, 5}},
        {"negative extent flips", {10.5, 10.5, -4.0, -2.0}, {6, 8, 4, 2}},
        {"hair below a whole edge counts as it", {0, 0, 9.999999999999998, 1}, {0, 0, 10, 1}},
        {"a real fraction below does not", {0, 0, 9.9999, 1}, {0, 0, 9, 1}},
        {"negative coordinates floor down", {-1.5, -0.25, 1.0, 0.5}, {-2, -1, 1, 1}},
    };
    for (const auto& c : cases) {
        RectD r = c.in;
        r.SnapToPixels();
        EXPECT_EQ(r, c.expected) << c.name;
    }
}

}  // namespace
