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

}  // namespace
