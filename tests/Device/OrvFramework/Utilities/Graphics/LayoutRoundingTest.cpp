// The rounding the layout engine resolves rectangles with, and the pixel snapping that follows it.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Utilities/Graphics/Geometry.h"

namespace {

using Orv::RectD;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kTwo52 = 4503599627370496.0;
constexpr double kTwo63 = 9223372036854775808.0;

TEST(LayoutRounding, RoundHalfAwayTable)
{
    const struct
    {
        const char* name;
        double value;
        double expected;
    } cases[] = {
        {"half up", 10.5, 11},
        {"half down", -10.5, -11},
        {"below half", 2.4999, 2},
        {"small negative is plain zero", -0.3, 0},
        {"negative zero", -0.0, 0},
        {"largest double below one half", 0.49999999999999994, 0},
        {"odd past 2^52 stays", kTwo52 + 1, kTwo52 + 1},
        {"half below 2^52", kTwo52 / 2 + 0.5, kTwo52 / 2 + 1},
        {"largest below 2^63", 9223372036854774784.0, 9223372036854774784.0},
        {"2^63 saturates", kTwo63, kTwo63},
        {"past 2^63", 1e300, kTwo63},
        {"endless", kInf, kTwo63},
        {"-2^63 holds", -kTwo63, -kTwo63},
        {"past -2^63", -1e300, -kTwo63},
        {"endless below", -kInf, -kTwo63},
        {"NaN", kNaN, 0},
        {"negative NaN", -kNaN, 0},
    };
    for (const auto& c : cases) {
        const double rounded = Orv::RoundHalfAway(c.value);
        EXPECT_EQ(rounded, c.expected) << c.name;
        EXPECT_FALSE(std::signbit(rounded) && rounded == 0) << c.name << ": negative zero";
    }
}

TEST(LayoutRounding, RoundEdgesTable)
{
    const struct
    {
        const char* name;
        RectD in;
        RectD expected;
    } cases[] = {
        {"whole stays", {3, 4, 5, 6}, {3, 4, 5, 6}},
        {"x 10.5 width 20.2: right edge 31", {10.5, 0, 20.2, 0}, {11, 0, 20, 0}},
        {"y 10.5 height 20.2", {0, 10.5, 0, 20.2}, {0, 11, 0, 20}},
        {"halves move both edges away from zero", {-2.5, -2.5, 5, 5}, {-3, -3, 6, 6}},
        {"extent from edges, not rounded alone", {0.4, 0.6, 0.4, 0.4}, {0, 1, 1, 0}},
        {"negative extent kept", {10.4, 0, -5.2, 0}, {10, 0, -5, 0}},
        {"NaN members become zero", {kNaN, 1, 2, kNaN}, {0, 1, 0, -1}},
        {"endless edges saturate", {0, -kInf, kInf, 5}, {0, -kTwo63, kTwo63, 0}},
        {"endless both ways: the right edge is NaN, hence 0",
         {-kInf, 0, kInf, 0},
         {-kTwo63, 0, kTwo63, 0}},
    };
    for (const auto& c : cases) {
        RectD r = c.in;
        r.RoundEdges();
        EXPECT_EQ(r, c.expected) << c.name;
        EXPECT_FALSE(std::isnan(r.x) || std::isnan(r.y) || std::isnan(r.width) ||
                     std::isnan(r.height))
            << c.name;
    }
}

// A rectangle resolved by the layout is rounded, then snapped: whole rectangles pass unchanged,
// and the tolerance only forgives the noise of a sum that should have been whole.
TEST(LayoutRounding, SnapToPixelsTable)
{
    const double ulpBelowOne = 1 - 0x1p-53;
    const struct
    {
        const char* name;
        RectD in;
        RectD expected;
    } cases[] = {
        {"x 10.5 width 20.2 floors both edges", {10.5, 0, 20.2, 1}, {10, 0, 20, 1}},
        {"negative width turned around", {30, 0, -20.2, 1}, {9, 0, 21, 1}},
        {"negative height turned around", {0, 5, 1, -5}, {0, 0, 1, 5}},
        {"one ulp below one counts as one", {0, 0, ulpBelowOne, ulpBelowOne}, {0, 0, 1, 1}},
        {"exactly 2^-52 below one counts", {0, 0, 1 - 0x1p-52, 1}, {0, 0, 1, 1}},
        {"more than 2^-52 below one does not", {0, 0, 1 - 0x1.8p-52, 1}, {0, 0, 0, 1}},
        {"the tolerance grows with the edge", {0, 0, 1e6 - 1.2e-10, 1}, {0, 0, 1e6, 1}},
        {"but stays relative", {0, 0, 1e6 - 5e-10, 1}, {0, 0, 999999, 1}},
        {"just below zero is not zero", {-1e-300, 0, 1e-300, 1}, {-1, 0, 1, 1}},
        {"left edge forgiven too", {0.9999999999999999, 0, 2, 1}, {1, 0, 2, 1}},
    };
    for (const auto& c : cases) {
        RectD r = c.in;
        r.SnapToPixels();
        EXPECT_EQ(r, c.expected) << c.name;
    }
}

}  // namespace
