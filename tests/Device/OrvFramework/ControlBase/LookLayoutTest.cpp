// Looks laid out for a control's size: the client rectangle, the docked non-client parts, the
// text box, and what a new or unchanged size does.

#include <gtest/gtest.h>

#include <limits>

#include "LooksTestSupport.h"

namespace {

using namespace LooksTest;
using Orv::DockedPlacement;
using Orv::LLook;
using Orv::LVisualPart;

using Rect = RectT<LongCoord>;

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

DockedPlacement Offsets(int32_t mask, int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    DockedPlacement placement;
    placement.offsetMask = mask;
    placement.offsetLeft = left;
    placement.offsetTop = top;
    placement.offsetRight = right;
    placement.offsetBottom = bottom;
    return placement;
}

constexpr int32_t L = Orv::kOffsetLeftGiven;
constexpr int32_t T = Orv::kOffsetTopGiven;
constexpr int32_t R = Orv::kOffsetRightGiven;
constexpr int32_t B = Orv::kOffsetBottomGiven;

class LookLayout : public LooksFixture
{
};

TEST_F(LookLayout, NonClientPartsDockToTheEdgesTheirOffsetsName)
{
    struct Row
    {
        const char* name;
        DockedPlacement placement;
        int32_t partWidth, partHeight;
        Rect expected;
    };
    DockedPlacement wide = Offsets(L, 5, 0, 0, 0);
    wide.hasWidth = true;
    wide.width = 30;
    const Row rows[] = {
        {"left, top and right, 12 high", Offsets(L | T | R, 10, 0, -10, 0), 5, 12, {10, 0, 80, 12}},
        {"left and right only: centred vertically",
         Offsets(L | R, 10, 0, -10, 0),
         5,
         12,
         {10, 19, 80, 12}},
        {"right and bottom only", Offsets(R | B, 0, 0, 0, 0), 16, 16, {84, 34, 16, 16}},
        {"no offsets: centred", Offsets(0, 0, 0, 0, 0), 16, 16, {42, 17, 16, 16}},
        {"all four: the whole control less the offsets",
         Offsets(L | T | R | B, 1, 2, -3, -4),
         16,
         16,
         {1, 2, 96, 44}},
        {"the docked width wins over the part's", wide, 16, 16, {5, 17, 30, 16}},
        {"a right offset far outside saturates",
         Offsets(R, 0, 0, kMax, 0),
         16,
         16,
         {kMax, 17, 16, 16}},
        {"edges too far apart saturate the width",
         Offsets(L | R, kMin, 0, kMax, 0),
         16,
         16,
         {kMin, 17, kMax, 16}},
        {"a bottom offset far below",
         Offsets(B, 0, 0, 0, kMin),
         16,
         16,
         {42, static_cast<int32_t>(int64_t{50} + kMin - 16), 16, 16}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto part = ColorPart(u"edge", 0xFF000000, row.partWidth, row.partHeight);
        auto descriptor = LookDescriptor(ColorPart(u"client", 0xFF000000, 1, 1));
        descriptor->nonClientParts.AddItem(Docked(part, row.placement));
        RCPtr<LLook> look = LLook::Create(descriptor, false);
        look->SetSize({100, 50});
        ASSERT_EQ(look->GetNonClientPartCount(), 1);
        EXPECT_EQ(look->GetNonClientPartRect(0), row.expected);
        EXPECT_EQ(look->GetNonClientPart(0).Get(), part->GetCachedVisualPart());
    }
}

TEST_F(LookLayout, TheClientRectangleIsTheControlLessTheClientOffsetsWithinTheControl)
{
    struct Row
    {
        const char* name;
        DockedPlacement offsets;
        Rect expected;
    };
    const Row rows[] = {
        {"all offsets 0 cover the control", ClientOffsets(0, 0, 0, 0), {0, 0, 100, 50}},
        {"right -21 in 100 wide", ClientOffsets(0, 0, -21, 0), {0, 0, 79, 50}},
        {"left 120 in 100 wide", ClientOffsets(120, 0, 0, 0), {100, 0, 0, 50}},
        {"top 60 in 50 high", ClientOffsets(0, 60, 0, 0), {0, 50, 100, 0}},
        {"a right offset outwards stops at the edge", ClientOffsets(10, 5, 5, 0), {10, 5, 90, 45}},
        {"negative left stops at 0", ClientOffsets(-7, 0, 0, 0), {0, 0, 100, 50}},
        {"extreme offsets saturate into the control",
         ClientOffsets(kMin, kMax, kMax, kMin),
         {0, 50, 100, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RCPtr<LLook> look = LLook::Create(
            LookDescriptor(ColorPart(u"client", 0xFF000000, 1, 1), row.offsets), false);
        look->SetSize({100, 50});
        EXPECT_EQ(look->GetClientRect(), row.expected);
    }
}

TEST_F(LookLayout, ALookWithoutClientPartTakesTheWholeControlAsClient)
{
    RCPtr<LLook> look = LLook::Create(LookDescriptor(RCPtr<Orv::LVisualPartDescriptor>()), false);
    look->SetSize({64, 32});
    EXPECT_EQ(look->GetClientRect(), (Rect{0, 0, 64, 32}));
    EXPECT_FALSE(look->GetClientPart());
}

TEST_F(LookLayout, TheTextBoxFollowsTheTextPropertiesAndSaturates)
{
    struct Row
    {
        const char* name;
        Orv::TextProperties text;
        PointT<LongCoord> position;
        int32_t boxWidth, boxHeight;
    };
    Orv::TextProperties inset;
    inset.textLeftAbs = 7;
    inset.textRightRel = 1;
    inset.textRightAbs = -16;
    inset.textTopAbs = 2;
    inset.textBottomRel = 1;
    inset.textBottomAbs = -3;
    Orv::TextProperties half;
    half.textLeftRel = 0.125f;
    half.textRightRel = 0.75f;
    half.textBottomRel = 0.5f;
    Orv::TextProperties huge;
    huge.textLeftAbs = kMin;
    huge.textRightRel = 1e30f;
    huge.textTopRel = -1e30f;
    huge.textBottomAbs = kMax;
    const Row rows[] = {
        {"from x 7, 77 wide", inset, {7, 2}, 77, 45},
        {"relative edges, the size rounded", half, {12, 0}, 63, 25},
        {"values far outside saturate", huge, {kMin, kMin}, kMax, kMax},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto descriptor = LookDescriptor(ColorPart(u"client", 0xFF000000, 1, 1));
        descriptor->SetTextProperties(row.text, ColorPart(u"ink", 0xFF000000, 1, 1));
        RCPtr<LLook> look = LLook::Create(descriptor, false);
        look->SetSize({100, 50});
        ASSERT_TRUE(look->GetTextBlock());
        EXPECT_EQ(look->GetTextPosition(), row.position);
        EXPECT_EQ(look->GetTextBlock()->GetBoxWidth(), row.boxWidth);
        EXPECT_EQ(look->GetTextBlock()->GetBoxHeight(), row.boxHeight);
    }
}

TEST_F(LookLayout, SetSizeWithTheCurrentSizeChangesNothing)
{
    auto part = ColorPart(u"edge", 0xFF000000, 16, 16);
    auto descriptor = LookDescriptor(ColorPart(u"client", 0xFF000000, 1, 1));
    descriptor->nonClientParts.AddItem(Docked(part, Offsets(R | B, 0, 0, 0, 0)));
    RCPtr<LLook> look = LLook::Create(descriptor, false);
    EXPECT_TRUE(look->SetSize({100, 50}));
    ASSERT_EQ(look->GetNonClientPartRect(0), (Rect{84, 34, 16, 16}));
    // Were the look laid out again, the changed offsets would move the part.
    descriptor->nonClientParts.GetData()[0]->placement.offsetRight = -50;
    descriptor->clientPart->placement.offsetLeft = 30;
    EXPECT_TRUE(look->SetSize({100, 50}));
    EXPECT_EQ(look->GetNonClientPartRect(0), (Rect{84, 34, 16, 16}));
    EXPECT_EQ(look->GetClientRect(), (Rect{0, 0, 100, 50}));
    EXPECT_TRUE(look->SetSize({100, 51}));
    EXPECT_EQ(look->GetNonClientPartRect(0), (Rect{34, 35, 16, 16}));
    EXPECT_EQ(look->GetClientRect(), (Rect{30, 0, 70, 51}));
}

TEST_F(LookLayout, ANewLookStaysUnplacedUntilTheFirstNonZeroSize)
{
    auto part = ColorPart(u"edge", 0xFF000000, 16, 16);
    auto descriptor = LookDescriptor(ColorPart(u"client", 0xFF000000, 1, 1));
    descriptor->nonClientParts.AddItem(Docked(part, Offsets(0, 0, 0, 0, 0)));
    RCPtr<LLook> look = LLook::Create(descriptor, false);
    EXPECT_EQ(look->GetSize(), (PointT<LongCoord>{0, 0}));
    ASSERT_EQ(look->GetNonClientPartCount(), 1);
    EXPECT_EQ(look->GetNonClientPartRect(0), (Rect{}));
    EXPECT_FALSE(look->GetNonClientPart(0));
    EXPECT_TRUE(look->SetSize({0, 0}));
    EXPECT_FALSE(look->GetNonClientPart(0));

    look->SetSize({100, 50});
    EXPECT_EQ(look->GetNonClientPartRect(0), (Rect{42, 17, 16, 16}));
    EXPECT_TRUE(look->GetNonClientPart(0));

    // A laid-out look that takes a new definition is laid out again at once, at its size.
    auto other =
        LookDescriptor(ColorPart(u"client2", 0xFF000000, 1, 1), ClientOffsets(0, 0, -20, 0));
    other->nonClientParts.AddItem(Docked(part, Offsets(L | T, 3, 4, 0, 0)));
    other->nonClientParts.AddItem(Docked(part, Offsets(R | B, 0, 0, 0, 0)));
    EXPECT_EQ(look->SetDescriptor(other, false), 0);
    ASSERT_EQ(look->GetNonClientPartCount(), 2);
    EXPECT_EQ(look->GetNonClientPartRect(0), (Rect{3, 4, 16, 16}));
    EXPECT_EQ(look->GetNonClientPartRect(1), (Rect{84, 34, 16, 16}));
    EXPECT_EQ(look->GetClientRect(), (Rect{0, 0, 80, 50}));
}

TEST_F(LookLayout, TheTextBlockTakesWrapAndAlignmentAndForgetsItsLinesWhenTheyChange)
{
    RCPtr<RendererTest::FixedWidthMeasurer> measurer(new RendererTest::FixedWidthMeasurer());
    RendererTest::MeasurerScope scope(measurer);
    Orv::TextProperties text;
    text.textRightRel = 1;
    text.textBottomRel = 1;
    text.textHAlign = 0.5f;
    text.textVAlign = 1;
    auto descriptor = LookDescriptor(ColorPart(u"client", 0xFF000000, 1, 1));
    descriptor->SetTextProperties(text, ColorPart(u"ink", 0xFF000000, 1, 1));
    RCPtr<LLook> look = LLook::Create(descriptor, true);
    look->SetSize({100, 50});
    const RCPtr<Orv::LFontText>& block = look->GetTextBlock();
    ASSERT_TRUE(block);
    EXPECT_TRUE(block->GetWrap());
    EXPECT_EQ(block->GetHorizontalAlignment(), 0.5f);
    EXPECT_EQ(block->GetVerticalAlignment(), 1.0f);
    EXPECT_TRUE(look->SetFont(Orv::GetFont(u"Arial", 9, 0)));
    EXPECT_TRUE(look->SetText(u"ab"));
    EXPECT_FALSE(look->SetText(u"ab"));
    EXPECT_EQ(block->GetLineCount(), 1);
    // Centred in 100 and at the bottom of 50: (100 - 20) / 2 and 50 - 20.
    EXPECT_EQ(block->GetLineRect(0), (RectT<float>{40, 30, 20, 20}));

    look->SetSize({60, 50});
    EXPECT_TRUE(block->GetLines().GetCount() == 0) << "a new box width empties the lines";
    EXPECT_EQ(block->GetLineRect(0), (RectT<float>{20, 30, 20, 20}));
    EXPECT_EQ(look->SetDescriptor(descriptor, false), 0);
    EXPECT_EQ(look->GetTextBlock().Get(), block.Get()) << "the block is kept";
    EXPECT_FALSE(block->GetWrap());
    EXPECT_TRUE(block->GetLines().GetCount() == 0) << "the wrap flag changed";
    EXPECT_EQ(look->GetSize(), (PointT<LongCoord>{60, 50}));
}

TEST_F(LookLayout, ALookWithoutTextPropertiesHasNoTextBlockAndTakesAnyText)
{
    RCPtr<LLook> look =
        LLook::Create(LookDescriptor(ColorPart(u"client", 0xFF000000, 1, 1)), false);
    EXPECT_FALSE(look->GetTextBlock());
    EXPECT_TRUE(look->SetText(u"x"));
    EXPECT_TRUE(look->SetText(u"x"));
    EXPECT_TRUE(look->SetFont(Orv::GetFont(u"Arial", 9, 0)));
    EXPECT_FALSE(look->GetStencil());
}

}  // namespace
