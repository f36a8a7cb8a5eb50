#include "ControlBase/RectRegion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "RegionTestSupport.h"
#include "Utilities/Storage/Array.h"

namespace {

using Orv::RectRegion;
using RegionTest::Box;
using RegionTest::CompareArea;

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

class RectRegionTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        EXPECT_EQ(Orv::RectNodePool::GetProcessPool().GetLiveCount(), liveAtStart)
            << "a region leaked nodes";
    }
    int32_t liveAtStart = Orv::RectNodePool::GetProcessPool().GetLiveCount();
};

struct Step
{
    enum Kind
    {
        kAdd,
        kSubtract,
    } kind;
    Box box;
};

TEST_F(RectRegionTest, UnionAndSubtractionTable)
{
    const struct
    {
        const char* name;
        std::vector<Step> steps;
        std::vector<Box> area;
        int maxCount;
    } cases[] = {
        {"empty add ignored (left == right)", {{Step::kAdd, {5, 5, 5, 9}}}, {}, 0},
        {"empty add ignored (top == bottom)", {{Step::kAdd, {5, 5, 9, 5}}}, {}, 0},
        {"inverted add ignored", {{Step::kAdd, {9, 9, 5, 5}}}, {}, 0},
        {"one rectangle", {{Step::kAdd, {1, 2, 3, 4}}}, {{1, 2, 3, 4}}, 1},
        {"cover removes covered nodes",
         {{Step::kAdd, {2, 2, 4, 4}}, {Step::kAdd, {6, 6, 8, 8}}, {Step::kAdd, {0, 0, 10, 10}}},
         {{0, 0, 10, 10}},
         1},
        {"partial overlap: at most four pieces plus the new one",
         {{Step::kAdd, {0, 0, 30, 30}}, {Step::kAdd, {10, 10, 20, 20}}},
         {{0, 0, 30, 30}},
         5},
        {"corner overlap",
         {{Step::kAdd, {0, 0, 10, 10}}, {Step::kAdd, {5, 5, 15, 15}}},
         {{0, 0, 10, 10}, {5, 5, 15, 15}},
         4},
        {"subtract only touching removes nothing",
         {{Step::kAdd, {0, 0, 10, 10}}, {Step::kSubtract, {10, 0, 20, 10}}},
         {{0, 0, 10, 10}},
         1},
        {"subtract a hole",
         {{Step::kAdd, {0, 0, 30, 30}}, {Step::kSubtract, {10, 10, 20, 20}}},
         {{0, 0, 30, 10}, {0, 20, 30, 30}, {0, 10, 10, 20}, {20, 10, 30, 20}},
         4},
        {"subtract across several nodes",
         {{Step::kAdd, {0, 0, 10, 10}},
          {Step::kAdd, {20, 0, 30, 10}},
          {Step::kSubtract, {5, 5, 25, 40}}},
         {{0, 0, 10, 5}, {0, 5, 5, 10}, {20, 0, 30, 5}, {25, 5, 30, 10}},
         4},
        {"subtract everything",
         {{Step::kAdd, {3, 3, 9, 9}}, {Step::kSubtract, {0, 0, 40, 40}}},
         {},
         0},
        // Dirty rectangles as a root window collects them: repeated, nested, side by side.
        {"same dirty rectangle twice",
         {{Step::kAdd, {4, 4, 12, 12}}, {Step::kAdd, {4, 4, 12, 12}}},
         {{4, 4, 12, 12}},
         1},
        {"dirty rectangle inside an earlier one",
         {{Step::kAdd, {0, 0, 20, 20}}, {Step::kAdd, {5, 5, 6, 6}}},
         {{0, 0, 20, 20}},
         5},
        {"dirty rectangles side by side",
         {{Step::kAdd, {0, 0, 10, 10}}, {Step::kAdd, {10, 0, 20, 10}}},
         {{0, 0, 20, 10}},
         2},
    };
    for (const auto& c : cases) {
        RectRegion region;
        for (const Step& step : c.steps) {
            const Box& b = step.box;
            if (step.kind == Step::kAdd) {
                region.AddRect(b.left, b.top, b.right, b.bottom);
            } else {
                region.SubtractRect(b.left, b.top, b.right, b.bottom);
            }
        }
        EXPECT_EQ(CompareArea(region, c.area), "") << c.name;
        EXPECT_LE(region.GetCount(), c.maxCount) << c.name;
        EXPECT_FALSE(RegionTest::HasEmptyNode(region)) << c.name;
    }
}

TEST_F(RectRegionTest, SubtractCollectsRemovedPieces)
{
    RectRegion region;
    region.AddRect(0, 0, 10, 10);
    region.AddRect(20, 0, 30, 10);
    RectRegion removed;
    region.SubtractRect(5, 0, 25, 10, &removed);
    EXPECT_EQ(CompareArea(region, {{0, 0, 5, 10}, {25, 0, 30, 10}}), "");
    EXPECT_EQ(CompareArea(removed, {{5, 0, 10, 10}, {20, 0, 25, 10}}), "");
}

TEST_F(RectRegionTest, IntersectKeepsTheCommonArea)
{
    RectRegion a;
    a.AddRect(0, 0, 20, 20);
    a.AddRect(30, 30, 40, 40);
    RectRegion b;
    b.AddRect(10, 10, 35, 35);
    a.Intersect(b);
    EXPECT_EQ(CompareArea(a, {{10, 10, 20, 20}, {30, 30, 35, 35}}), "");
    EXPECT_EQ(CompareArea(b, {{10, 10, 35, 35}}), "") << "the other region is unchanged";

    a.Intersect(a);
    EXPECT_EQ(CompareArea(a, {{10, 10, 20, 20}, {30, 30, 35, 35}}), "") << "with itself";
    a.SubtractRegion(a);
    EXPECT_TRUE(a.IsEmpty()) << "minus itself";
}

TEST_F(RectRegionTest, AppendKeepsBothSetsReversed)
{
    RectRegion a;
    a.AddRect(0, 0, 10, 10);
    RectRegion b;
    b.AddRect(5, 5, 15, 15);
    b.AddRect(30, 30, 31, 31);  // b's list: {30..}, then {5..}
    a.Append(b);
    ASSERT_EQ(a.GetCount(), 3);
    EXPECT_EQ(a.GetFirst()->left, 5) << "the other's last node ends up first";
    EXPECT_EQ(RegionTest::CoverageOf(a)[7][7], 2) << "overlaps remain";

    const RectRegion copy(a);
    EXPECT_EQ(copy.GetCount(), 3);
    EXPECT_NE(copy.GetFirst(), a.GetFirst()) << "copies own their nodes";
}

TEST_F(RectRegionTest, BoundsAndEnumerate)
{
    RectRegion region;
    int32_t l = 1, t = 1, r = 1, b = 1;
    EXPECT_FALSE(region.GetBounds(l, t, r, b));
    EXPECT_EQ(l | t | r | b, 0);

    region.AddRect(5, 6, 7, 8);
    region.AddRect(-3, 10, 1, 12);
    EXPECT_TRUE(region.GetBounds(l, t, r, b));
    EXPECT_EQ((std::vector<int32_t>{l, t, r, b}), (std::vector<int32_t>{-3, 6, 7, 12}));

    Orv::Array<Orv::RectL> rects;
    rects.AddItem({99, 99, 99, 99});
    region.Enumerate(rects);
    ASSERT_EQ(rects.GetCount(), 2u);
    EXPECT_EQ(rects.GetAt(0), (Orv::RectL{-3, 10, 4, 2}));
    EXPECT_EQ(rects.GetAt(1), (Orv::RectL{5, 6, 2, 2}));
}

TEST_F(RectRegionTest, AddRectRoundedTable)
{
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    const struct
    {
        const char* name;
        Orv::RectD rect;
        bool added;
        Box box;
    } cases[] = {
        {"halves round up", {0.5, 1.4, 2.5, 2.6}, true, {1, 1, 4, 4}},
        {"negative truncates toward zero", {-0.7, -1.7, 3.0, 3.0}, true, {0, -1, 3, 2}},
        {"NaN x adds nothing", {nan, 0, 5, 5}, false, {}},
        {"NaN width adds nothing", {0, 0, nan, 5}, false, {}},
        {"huge extent saturates", {10, 10, 1e300, inf}, true, {10, 10, kMax, kMax}},
        {"far negative origin saturates",
         {-1e300, -inf, 1, 1},
         true,
         {kMin, kMin, kMin + 1, kMin + 1}},
    };
    for (const auto& c : cases) {
        RectRegion region;
        region.AddRectRounded(c.rect);
        ASSERT_EQ(region.GetCount(), c.added ? 1 : 0) << c.name;
        if (c.added) {
            const Orv::RectNode* n = region.GetFirst();
            EXPECT_EQ((std::vector<int32_t>{n->left, n->top, n->right, n->bottom}),
                      (std::vector<int32_t>{c.box.left, c.box.top, c.box.right, c.box.bottom}))
                << c.name;
        }
    }
}

TEST_F(RectRegionTest, OffsetSaturates)
{
    RectRegion region;
    region.AddRect(10, 10, 20, 20);
    region.Offset(5, -5);
    EXPECT_EQ(CompareArea(region, {{15, 5, 25, 15}}), "");
    region.Offset(kMax, kMin);
    region.Offset(1, -20);
    const Orv::RectNode* n = region.GetFirst();
    EXPECT_EQ((std::vector<int32_t>{n->left, n->top, n->right, n->bottom}),
              (std::vector<int32_t>{kMax, kMin, kMax, kMin}));
}

TEST_F(RectRegionTest, IntersectsRectAndAreaTable)
{
    RectRegion region;
    region.AddRect(0, 0, 10, 10);
    EXPECT_TRUE(region.IntersectsRect(9, 9, 20, 20));
    EXPECT_FALSE(region.IntersectsRect(10, 0, 20, 10)) << "touching is not overlapping";
    EXPECT_FALSE(RectRegion().IntersectsRect(0, 0, 5, 5));

    const double nan = std::nan("");
    const struct
    {
        const char* name;
        Orv::RectD rect;
        Orv::PointD offset;
        bool expected;
    } cases[] = {
        {"inside", {2, 2, 3, 3}, {0, 0}, true},
        {"moved out by the offset", {2, 2, 3, 3}, {20, 0}, false},
        {"entirely at negative x has no width", {-20, 0, 5, 5}, {0, 0}, false},
        {"reaching in from the negative side", {-20, 0, 25, 5}, {0, 0}, true},
        {"zero height", {1, 1, 5, 0}, {0, 0}, false},
        {"NaN width", {1, 1, nan, 5}, {0, 0}, false},
        {"NaN offset", {1, 1, 5, 5}, {nan, 0}, false},
        {"rounds to the region's edge", {9.6, 0, 5, 5}, {0, 0}, false},
        {"rounds into the region", {9.4, 0, 5, 5}, {0, 0}, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(region.IntersectsArea(c.rect, c.offset), c.expected) << c.name;
    }
}

TEST_F(RectRegionTest, NormalizeTable)
{
    const struct
    {
        const char* name;
        std::vector<Box> added;
        std::vector<Box> expectedNodes;  // in list order
    } cases[] = {
        {"side by side join", {{0, 0, 10, 10}, {10, 0, 20, 10}}, {{0, 0, 20, 10}}},
        {"stacked join", {{0, 0, 10, 10}, {0, 10, 10, 20}}, {{0, 0, 10, 20}}},
        {"apart stay apart, ordered by band then left",
         {{20, 0, 30, 5}, {0, 0, 10, 5}, {0, 10, 5, 20}},
         {{0, 0, 10, 5}, {20, 0, 30, 5}, {0, 10, 5, 20}}},
        {"hole pieces become a ring of four",
         {{0, 0, 30, 30}},
         {{0, 0, 30, 10}, {0, 10, 10, 20}, {20, 10, 30, 20}, {0, 20, 30, 30}}},
    };
    for (const auto& c : cases) {
        RectRegion region;
        for (const Box& b : c.added) {
            region.AddRect(b.left, b.top, b.right, b.bottom);
        }
        if (c.added.size() == 1) {
            region.SubtractRect(10, 10, 20, 20);
        }
        const std::string before = CompareArea(region, c.expectedNodes);
        region.Normalize();
        EXPECT_EQ(CompareArea(region, c.expectedNodes), before) << c.name << ": area changed";
        std::vector<std::vector<int32_t>> nodes;
        for (const Orv::RectNode* n = region.GetFirst(); n != nullptr; n = n->next) {
            nodes.push_back({n->left, n->top, n->right, n->bottom});
        }
        std::vector<std::vector<int32_t>> expected;
        for (const Box& b : c.expectedNodes) {
            expected.push_back({b.left, b.top, b.right, b.bottom});
        }
        EXPECT_EQ(nodes, expected) << c.name;
    }
}

TEST_F(RectRegionTest, NormalizeKeepsTheAreaOfAScatteredRegion)
{
    RectRegion region;
    // A staircase of overlapping adds and a few holes.
    for (int i = 0; i < 8; ++i) {
        region.AddRect(i * 4, i * 3, i * 4 + 10, i * 3 + 9);
    }
    region.SubtractRect(6, 6, 14, 9);
    region.SubtractRect(20, 0, 22, 40);
    const RegionTest::Coverage before = RegionTest::CoverageOf(region);
    const int32_t countBefore = region.GetCount();
    region.Normalize();
    EXPECT_EQ(RegionTest::CoverageOf(region), before);
    EXPECT_LE(region.GetCount(), countBefore);
}

}  // namespace
