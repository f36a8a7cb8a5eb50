// The per-axis records a control's layout is read and changed through, and their read-back
// equality.

#include <gtest/gtest.h>

#include <limits>

#include "ControlBase/LayoutDescriptor.h"

namespace {

using namespace Orv;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST(LayoutAxisPlacement, PositionEqualityTable)
{
    const AxisPositionSpec base{0.5f, kPositionToNamed, u"left", 0.25f, 7, true};
    const AxisPositionSpec client{0.5f, kPositionToClient, u"left", 0.25f, 7, true};
    const struct
    {
        const char* name;
        AxisPositionSpec a;
        AxisPositionSpec b;
        bool equal;
    } cases[] = {
        {"same", base, base, true},
        {"named reference, other name",
         base,
         {0.5f, kPositionToNamed, u"Left", 0.25f, 7, true},
         false},
        {"client reference, other name",
         client,
         {0.5f, kPositionToClient, u"", 0.25f, 7, true},
         true},
        {"parent reference, other name",
         {0, kPositionToParent, u"a", 0, 0, false},
         {0, kPositionToParent, u"b", 0, 0, false},
         true},
        {"other code", base, client, false},
        {"anchor", base, {0.5000001f, kPositionToNamed, u"left", 0.25f, 7, true}, false},
        {"rel", base, {0.5f, kPositionToNamed, u"left", 0.2500001f, 7, true}, false},
        {"abs by a hair",
         base,
         {0.5f, kPositionToNamed, u"left", 0.25f, 7.000000000000001, true},
         false},
        {"docked", base, {0.5f, kPositionToNamed, u"left", 0.25f, 7, false}, false},
        {"NaN never matches", {kNaN, 1, u"", 0, 0, false}, {kNaN, 1, u"", 0, 0, false}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.a == c.b, c.equal) << c.name;
        EXPECT_EQ(c.b == c.a, c.equal) << c.name << " (swapped)";
    }
}

TEST(LayoutAxisPlacement, SizeAndLimitEqualityTables)
{
    const struct
    {
        const char* name;
        AxisSizeSpec a;
        AxisSizeSpec b;
        bool equal;
    } sizes[] = {
        {"named, other name", {kSizeToNamed, u"a", 1, 2}, {kSizeToNamed, u"b", 1, 2}, false},
        {"named, same name", {kSizeToNamed, u"a", 1, 2}, {kSizeToNamed, u"a", 1, 2}, true},
        {"Self ignores the name", {kSizeToSelf, u"a", 0, 16}, {kSizeToSelf, u"", 0, 16}, true},
        {"parent ignores the name",
         {kSizeToParent, u"a", 1, -10},
         {kSizeToParent, u"b", 1, -10},
         true},
        {"client ignores the name", {kSizeToClient, u"a", 1, 0}, {kSizeToClient, u"", 1, 0}, true},
        {"other code", {kSizeToSelf, u"", 0, 16}, {kSizeToClient, u"", 0, 16}, false},
        {"rel", {kSizeToSelf, u"", 0, 16}, {kSizeToSelf, u"", 1e-30f, 16}, false},
        {"abs", {kSizeToSelf, u"", 0, 16}, {kSizeToSelf, u"", 0, 17}, false},
    };
    for (const auto& c : sizes) {
        EXPECT_EQ(c.a == c.b, c.equal) << c.name;
        EXPECT_EQ(c.b == c.a, c.equal) << c.name << " (swapped)";
    }

    const struct
    {
        const char* name;
        AxisSizeLimitSpec a;
        AxisSizeLimitSpec b;
        bool equal;
    } limits[] = {
        {"Self ignores the name", {0, u"x", 0, 5}, {0, u"", 0, 5}, true},
        {"named compares it", {1, u"Children", 0, 5}, {1, u"children", 0, 5}, false},
        {"named, same name", {1, u"Children", 0.5f, 5}, {1, u"Children", 0.5f, 5}, true},
        {"any non-zero flag is named", {2, u"a", 0, 0}, {1, u"a", 0, 0}, true},
        {"flag", {0, u"", 0, 0}, {1, u"", 0, 0}, false},
        {"rel", {0, u"", 0, 0}, {0, u"", 0.5f, 0}, false},
        {"abs", {0, u"", 0, 0}, {0, u"", 0, -1}, false},
        {"negative zero equals zero", {0, u"", -0.0f, -0.0}, {0, u"", 0, 0}, true},
    };
    for (const auto& c : limits) {
        EXPECT_EQ(c.a == c.b, c.equal) << c.name;
        EXPECT_EQ(c.b == c.a, c.equal) << c.name << " (swapped)";
    }
}

// A layout whose two axes differ in every field, so that a read of the wrong axis shows.
RCPtr<LLayoutDescriptor> DistinctAxes()
{
    RCPtr<LLayoutDescriptor> layout(new LLayoutDescriptor());
    layout->xPosition = {0.25f, kPositionToNamed, u"left", 0.5f, 3};
    layout->yPosition = {1, kPositionToParent, u"unread", 0.75f, -2};
    layout->xIsDocked = true;
    layout->xSize = {kSizeToParent, u"", 1, -10};
    layout->ySize = {kSizeToNamed, u"height", 0.125f, 12};
    layout->xMinSize = {true, u"Children", 0.1f, 5};
    layout->yMinSize = {false, u"", 0, 20};
    layout->xMaxSize = {false, u"", 0, 300};
    layout->yMaxSize = {true, u"child", 1, -4};
    return layout;
}

void ExpectFields(const AxisPositionSpec& p, const AxisPositionSpec& expected, const char* where)
{
    EXPECT_EQ(p.anchor, expected.anchor) << where;
    EXPECT_EQ(p.reference, expected.reference) << where;
    EXPECT_EQ(p.referenceName, expected.referenceName) << where;
    EXPECT_EQ(p.rel, expected.rel) << where;
    EXPECT_EQ(p.abs, expected.abs) << where;
    EXPECT_EQ(p.docked, expected.docked) << where;
}

void ExpectFields(const AxisSizeSpec& s, const AxisSizeSpec& expected, const char* where)
{
    EXPECT_EQ(s.reference, expected.reference) << where;
    EXPECT_EQ(s.referenceName, expected.referenceName) << where;
    EXPECT_EQ(s.rel, expected.rel) << where;
    EXPECT_EQ(s.abs, expected.abs) << where;
}

void ExpectFields(const AxisSizeLimitSpec& l, const AxisSizeLimitSpec& expected, const char* where)
{
    EXPECT_EQ(l.named, expected.named) << where;
    EXPECT_EQ(l.referenceName, expected.referenceName) << where;
    EXPECT_EQ(l.rel, expected.rel) << where;
    EXPECT_EQ(l.abs, expected.abs) << where;
}

TEST(LayoutAxisPlacement, GetAxisPlacementReadsEachAxis)
{
    const RCPtr<LLayoutDescriptor> layout = DistinctAxes();
    AxisPositionSpec position;
    AxisSizeSpec size;
    ASSERT_EQ(layout->GetAxisPlacement(0, position, size), S_OK);
    ExpectFields(position, {0.25f, kPositionToNamed, u"left", 0.5f, 3, true}, "x position");
    ExpectFields(size, {kSizeToParent, u"", 1, -10}, "x size");
    ASSERT_EQ(layout->GetAxisPlacement(1, position, size), S_OK);
    // The stored name comes back as stored, even where the reference does not read it.
    ExpectFields(position, {1, kPositionToParent, u"unread", 0.75f, -2, false}, "y position");
    ExpectFields(size, {kSizeToNamed, u"height", 0.125f, 12}, "y size");

    AxisSizeLimitSpec minimum;
    AxisSizeLimitSpec maximum;
    ASSERT_EQ(layout->GetAxisSizeLimits(0, minimum, maximum), S_OK);
    ExpectFields(minimum, {1, u"Children", 0.1f, 5}, "x minimum");
    ExpectFields(maximum, {0, u"", 0, 300}, "x maximum");
    ASSERT_EQ(layout->GetAxisSizeLimits(1, minimum, maximum), S_OK);
    ExpectFields(minimum, {0, u"", 0, 20}, "y minimum");
    ExpectFields(maximum, {1, u"child", 1, -4}, "y maximum");
}

TEST(LayoutAxisPlacement, OnlyAxesZeroAndOneExist)
{
    const RCPtr<LLayoutDescriptor> layout = DistinctAxes();
    const LayoutValues before = *layout;
    const AxisPositionSpec untouchedPosition{9, 9, u"untouched", 9, 9, true};
    const AxisSizeSpec untouchedSize{9, u"untouched", 9, 9};
    const AxisSizeLimitSpec untouchedLimit{9, u"untouched", 9, 9};
    for (int axis : {-1, 2, 3, 1 << 30}) {
        AxisPositionSpec position = untouchedPosition;
        AxisSizeSpec size = untouchedSize;
        EXPECT_EQ(layout->GetAxisPlacement(axis, position, size), E_INVALIDARG) << axis;
        ExpectFields(position, untouchedPosition, "position output left alone");
        ExpectFields(size, untouchedSize, "size output left alone");

        AxisSizeLimitSpec minimum = untouchedLimit;
        AxisSizeLimitSpec maximum = untouchedLimit;
        EXPECT_EQ(layout->GetAxisSizeLimits(axis, minimum, maximum), E_INVALIDARG) << axis;
        ExpectFields(minimum, untouchedLimit, "minimum output left alone");
        ExpectFields(maximum, untouchedLimit, "maximum output left alone");

        EXPECT_EQ(layout->SetAxisPlacement(axis, untouchedPosition, untouchedSize), E_INVALIDARG);
        EXPECT_EQ(layout->SetAxisSizeLimits(axis, untouchedLimit, untouchedLimit), E_INVALIDARG);
        EXPECT_TRUE(static_cast<const LayoutValues&>(*layout) == before)
            << "axis " << axis << " stored something";
    }
}

TEST(LayoutAxisPlacement, StoredAxisReadsBackAndLeavesTheOtherAlone)
{
    for (int axis : {0, 1}) {
        const RCPtr<LLayoutDescriptor> layout = DistinctAxes();
        AxisPositionSpec otherPosition;
        AxisSizeSpec otherSize;
        AxisSizeLimitSpec otherMinimum;
        AxisSizeLimitSpec otherMaximum;
        layout->GetAxisPlacement(1 - axis, otherPosition, otherSize);
        layout->GetAxisSizeLimits(1 - axis, otherMinimum, otherMaximum);

        const AxisPositionSpec position{0.5f, kPositionToNamed, u"sibling", -0.5f, 1e9, true};
        const AxisSizeSpec size{kSizeToNamed, u"other", 2, -7};
        const AxisSizeLimitSpec minimum{2, u"Children", 0.5f, 3};
        const AxisSizeLimitSpec maximum{0, u"", 0, 640};
        ASSERT_EQ(layout->SetAxisPlacement(axis, position, size), S_OK);
        ASSERT_EQ(layout->SetAxisSizeLimits(axis, minimum, maximum), S_OK);

        AxisPositionSpec readPosition;
        AxisSizeSpec readSize;
        AxisSizeLimitSpec readMinimum;
        AxisSizeLimitSpec readMaximum;
        layout->GetAxisPlacement(axis, readPosition, readSize);
        layout->GetAxisSizeLimits(axis, readMinimum, readMaximum);
        ExpectFields(readPosition, position, "position");
        ExpectFields(readSize, size, "size");
        // The layout holds "named" as a flag: 2 reads back as 1, which the read-back accepts.
        ExpectFields(readMinimum, {1, u"Children", 0.5f, 3}, "minimum");
        EXPECT_TRUE(readMinimum == minimum);
        ExpectFields(readMaximum, maximum, "maximum");
        EXPECT_EQ((axis == 0 ? layout->xIsDocked : layout->yIsDocked), true);

        layout->GetAxisPlacement(1 - axis, readPosition, readSize);
        layout->GetAxisSizeLimits(1 - axis, readMinimum, readMaximum);
        ExpectFields(readPosition, otherPosition, "other position");
        ExpectFields(readSize, otherSize, "other size");
        ExpectFields(readMinimum, otherMinimum, "other minimum");
        ExpectFields(readMaximum, otherMaximum, "other maximum");
    }
}

TEST(LayoutAxisPlacement, RenameReferenceTouchesPositionsAndSizesOnly)
{
    RCPtr<LLayoutDescriptor> layout(new LLayoutDescriptor());
    layout->xPosition = {0, kPositionToNamed, u"old", 0, 0};
    layout->yPosition = {0, kPositionToNamed, u"oldish", 0, 0};
    layout->xSize = {kSizeToNamed, u"Old", 0, 0};
    layout->ySize = {kSizeToNamed, u"old", 1, 0};
    layout->xMinSize = {true, u"old", 0, 0};
    layout->yMinSize = {true, u"old", 0, 0};
    layout->xMaxSize = {true, u"old", 0, 0};
    layout->yMaxSize = {true, u"old", 0, 0};

    layout->RenameReference(u"old", u"new");
    EXPECT_EQ(layout->xPosition.toControlName, u"new");
    EXPECT_EQ(layout->yPosition.toControlName, u"oldish") << "whole names only";
    EXPECT_EQ(layout->xSize.toControlName, u"Old") << "names compare case-sensitively";
    EXPECT_EQ(layout->ySize.toControlName, u"new");
    for (const LayoutLimit* limit :
         {&layout->xMinSize, &layout->yMinSize, &layout->xMaxSize, &layout->yMaxSize}) {
        EXPECT_EQ(limit->toControlName, u"old") << "limits name children, not siblings";
    }
    EXPECT_EQ(layout->xPosition.toControl, kPositionToNamed) << "codes stay";
    EXPECT_EQ(layout->ySize.rel, 1.0f);

    layout->RenameReference(u"new", u"new");
    EXPECT_EQ(layout->xPosition.toControlName, u"new");
}

}  // namespace
