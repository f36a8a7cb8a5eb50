// Visual parts: what they show of their image, how they fill a rectangle, the colour they report
// at a point of it, the descriptor's cache, and the skin faults that must not end the program.

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "ControlBase/Control.h"
#include "LooksTestSupport.h"
#include "ObjectBase/Exception.h"

namespace {

using namespace LooksTest;
using Orv::LColorizer;
using Orv::LVisualPart;
using Orv::LVisualPartDescriptor;
using Orv::PackedColor;

using PointF = PointT<float>;
using PointL = PointT<LongCoord>;

template <class Call>
std::string ThrownText(Call call)
{
    try {
        call();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "nothing thrown";
}

class VisualPart : public LooksFixture
{
};

TEST_F(VisualPart, AnImagePartShowsTheWholeImageOrTheRectangleItNames)
{
    const Orv::WideString file = WriteCoordinatePng("sheet.png", 8, 6);
    struct Row
    {
        const char* name;
        int32_t x, y, width, height;
        int32_t partWidth, partHeight;
        PointL probe;
        PackedColor expected;
    };
    const Row rows[] = {
        {"no size: the whole image", 0, 0, 0, 0, 8, 6, {5, 4}, Coordinate(5, 4)},
        {"a rectangle: its origin", 2, 1, 3, 4, 3, 4, {0, 0}, Coordinate(2, 1)},
        {"a rectangle: its far corner", 2, 1, 3, 4, 3, 4, {2, 3}, Coordinate(4, 4)},
        {"a rectangle: just outside it", 2, 1, 3, 4, 3, 4, {3, 0}, Orv::kTransparentColor},
        {"negative size: the whole image", 2, 1, -1, 4, 8, 6, {0, 0}, Coordinate(0, 0)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto descriptor = PartDescriptor(u"p", file, row.x, row.y, row.width, row.height);
        ConstRCPtr<LVisualPart> part = descriptor->GetVisualPart();
        ASSERT_TRUE(part);
        EXPECT_EQ(part->GetWidth(), row.partWidth);
        EXPECT_EQ(part->GetHeight(), row.partHeight);
        EXPECT_EQ(part->GetColorAtPoint(row.probe), row.expected);
    }
}

TEST_F(VisualPart, TheDescriptorSharesItsPartWhileHeldAndBuildsANewOneAfterward)
{
    const Orv::WideString file = WritePng("white.png", 2, 2, std::vector<uint32_t>(4, 0xFFFFFFFF));
    auto descriptor =
        PartDescriptor(u"p", file, 0, 0, 0, 0, LVisualPart::kStretch, Solid(0xFFFF0000));
    auto look = LookDescriptor(descriptor);
    const int32_t descriptorReferences = descriptor->GetRefCount();

    RCPtr<Orv::LLook> first = Orv::LLook::Create(look, false);
    RCPtr<Orv::LLook> second = Orv::LLook::Create(look, false);
    ASSERT_TRUE(first->GetClientPart());
    EXPECT_EQ(first->GetClientPart().Get(), second->GetClientPart().Get());
    EXPECT_EQ(descriptor->GetCachedVisualPart(), first->GetClientPart().Get());
    EXPECT_EQ(LVisualPart::GetLiveCount(), 1);
    // Tinted once: the cached image stays white, the part's copy is red.
    EXPECT_EQ(first->GetClientPart()->GetColorAtPoint(PointL{1, 1}), 0xFFFF0000u);

    first = nullptr;
    EXPECT_NE(descriptor->GetCachedVisualPart(), nullptr) << "the second look still holds it";
    second = nullptr;
    EXPECT_EQ(descriptor->GetCachedVisualPart(), nullptr);
    EXPECT_EQ(LVisualPart::GetLiveCount(), 0);
    EXPECT_EQ(descriptor->GetRefCount(), descriptorReferences) << "the part let its owner go";

    RCPtr<Orv::LLook> again = Orv::LLook::Create(look, false);
    ASSERT_TRUE(again->GetClientPart());
    EXPECT_EQ(descriptor->GetCachedVisualPart(), again->GetClientPart().Get());
    EXPECT_EQ(LVisualPart::GetLiveCount(), 1);
    EXPECT_EQ(again->GetClientPart()->GetColorAtPoint(PointL{0, 0}), 0xFFFF0000u)
        << "colourised again";
    EXPECT_EQ(Orv::GetBitmap(file)->GetPixelColor(0, 0).ToPackedARGB(), 0xFFFFFFFFu);
}

TEST_F(VisualPart, ARequestWhoseResultNobodyKeepsLeavesNothingCached)
{
    auto descriptor = ColorPart(u"c", 0xFF00FF00, 4, 4);
    EXPECT_TRUE(descriptor->GetVisualPart());
    EXPECT_EQ(descriptor->GetCachedVisualPart(), nullptr);
    EXPECT_EQ(LVisualPart::GetLiveCount(), 0);
}

TEST_F(VisualPart, AColourPartWithAlphaModifierZeroDrawsNothingAndReportsAlphaZero)
{
    auto descriptor = ColorPart(u"c", 0xFF336699, 10, 10, LVisualPart::kStretch, 0.0f);
    ConstRCPtr<LVisualPart> part = descriptor->GetVisualPart();
    EXPECT_EQ(part->Draw(renderer, PointF{20, 20}), 0);
    EXPECT_TRUE(renderer->draws.empty());
    EXPECT_EQ(part->GetColorAtPoint(PointL{3, 3}), 0x00336699u);
}

TEST_F(VisualPart, AColourPartFillsItsRectangleByItsResizeType)
{
    struct Row
    {
        const char* name;
        int32_t resizeType;
        PointF drawSize;
        RectT<LongCoord> expected;
    };
    const Row rows[] = {
        {"center 10 x 10 in 25 x 25", LVisualPart::kCenter, {25, 25}, {7, 7, 10, 10}},
        {"center rounds the size first", LVisualPart::kCenter, {24.5f, 25.4f}, {7, 7, 10, 10}},
        {"center in a smaller rectangle", LVisualPart::kCenter, {5, 5}, {-2, -2, 10, 10}},
        {"stretch fills it", LVisualPart::kStretch, {25, 25}, {0, 0, 25, 25}},
        {"tile fills it", LVisualPart::kTile, {25, 13}, {0, 0, 25, 13}},
        {"an unbounded size saturates",
         LVisualPart::kCenter,
         {1e30f, -1e30f},
         {std::numeric_limits<int32_t>::max() / 2 - 5,
          static_cast<int32_t>((int64_t{std::numeric_limits<int32_t>::min()} - 10) / 2), 10, 10}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        renderer->draws.clear();
        auto descriptor = ColorPart(u"c", 0x80102030, 10, 10, row.resizeType);
        descriptor->GetVisualPart()->Draw(renderer, row.drawSize);
        ASSERT_EQ(renderer->draws.size(), 1u);
        EXPECT_EQ(renderer->draws[0].what, "fill");
        EXPECT_EQ(renderer->draws[0].rect, row.expected);
        EXPECT_EQ(renderer->draws[0].color, 0x80102030u);
    }
}

TEST_F(VisualPart, AnImagePartDrawsItsBitmapIntoTheRoundedRectangle)
{
    const Orv::WideString file = WriteCoordinatePng("sheet.png", 8, 6);
    auto descriptor = PartDescriptor(u"p", file, 0, 0, 0, 0, LVisualPart::kTile);
    ConstRCPtr<LVisualPart> part = descriptor->GetVisualPart();
    part->Draw(renderer, PointF{30.5f, 12.4f});
    ASSERT_EQ(renderer->draws.size(), 1u);
    EXPECT_EQ(renderer->draws[0].what, "bitmap");
    EXPECT_EQ(renderer->draws[0].bitmap, part->GetBitmap().Get());
    EXPECT_EQ(renderer->draws[0].rect, (RectT<LongCoord>{0, 0, 31, 12}));
}

// The colour at a point of a part drawn into another size: the point is mapped back to the part.
TEST_F(VisualPart, TheColourAtAPointOfTheDrawnRectangleComesFromThePartPixelItShows)
{
    const Orv::WideString tile = WriteCoordinatePng("tile.png", 10, 10);
    // Only columns 21 and 24 are opaque: a block of 2 columns tells which columns were read.
    std::vector<uint32_t> sparse(100 * 10, 0x00000000);
    for (int y = 0; y < 10; ++y) {
        sparse[static_cast<size_t>(y * 100 + 21)] = Coordinate(21, y);
        sparse[static_cast<size_t>(y * 100 + 24)] = Coordinate(24, y);
    }
    const Orv::WideString wide = WritePng("wide.png", 100, 10, sparse);
    std::vector<uint32_t> rows(10 * 20, 0x00000000);
    rows[static_cast<size_t>(7 * 10 + 4)] = Coordinate(4, 7);
    const Orv::WideString tall = WritePng("tall.png", 10, 20, rows);

    struct Row
    {
        const char* name;
        const Orv::WideString* file;
        int32_t resizeType;
        PointF point;
        PointF drawSize;
        PackedColor expected;
    };
    const Row table[] = {
        {"tile: (23.4, 5) in 30 x 10 reads (3, 5)",
         &tile,
         LVisualPart::kTile,
         {23.4f, 5},
         {30, 10},
         Coordinate(3, 5)},
        {"tile: 9.6 rounds into the next tile",
         &tile,
         LVisualPart::kTile,
         {9.6f, 0},
         {30, 10},
         Coordinate(0, 0)},
        {"tile: the last pixel",
         &tile,
         LVisualPart::kTile,
         {29.4f, 9.4f},
         {30, 10},
         Coordinate(9, 9)},
        {"tile: right of the rectangle",
         &tile,
         LVisualPart::kTile,
         {30, 5},
         {30, 10},
         Orv::kTransparentColor},
        {"tile: left of the rectangle",
         &tile,
         LVisualPart::kTile,
         {-0.1f, 5},
         {30, 10},
         Orv::kTransparentColor},
        {"center: the part sits in the middle",
         &tile,
         LVisualPart::kCenter,
         {10.6f, 8},
         {30, 20},
         Coordinate(1, 3)},
        {"center: beside the part",
         &tile,
         LVisualPart::kCenter,
         {3, 8},
         {30, 20},
         Orv::kTransparentColor},
        {"stretch up: truncated scale",
         &tile,
         LVisualPart::kStretch,
         {5.9f, 3},
         {20, 20},
         Coordinate(2, 1)},
        {"stretch 100 x 10 into 50 x 10: block 20-21 finds 21",
         &wide,
         LVisualPart::kStretch,
         {10, 3},
         {50, 10},
         Coordinate(21, 3)},
        {"stretch: block 22-23 reads only 2 columns",
         &wide,
         LVisualPart::kStretch,
         {11, 3},
         {50, 10},
         0x00000000},
        {"stretch: block 24-25 finds 24",
         &wide,
         LVisualPart::kStretch,
         {12, 3},
         {50, 10},
         Coordinate(24, 3)},
        {"stretch 10 x 20 into 10 x 10: a block of 2 rows",
         &tall,
         LVisualPart::kStretch,
         {4, 3},
         {10, 10},
         Coordinate(4, 7)},
        {"the part's own size: the point rounds",
         &tile,
         LVisualPart::kStretch,
         {2.5f, 3.4f},
         {10, 10},
         Coordinate(3, 3)},
        {"a NaN point is outside",
         &tile,
         LVisualPart::kTile,
         {std::numeric_limits<float>::quiet_NaN(), 3},
         {30, 10},
         Orv::kTransparentColor},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.name);
        auto descriptor = PartDescriptor(u"p", *row.file, 0, 0, 0, 0, row.resizeType);
        ConstRCPtr<LVisualPart> part = descriptor->GetVisualPart();
        EXPECT_EQ(part->GetColorAtPoint(row.point, row.drawSize), row.expected);
    }
}

TEST_F(VisualPart, AShrunkPartScansNoMoreThanItsOwnPixelsForATinyDrawSize)
{
    std::vector<uint32_t> pixels(8 * 6, 0x00000000);
    pixels[static_cast<size_t>(5 * 8 + 7)] = Coordinate(7, 5);
    const Orv::WideString file = WritePng("corner.png", 8, 6, pixels);
    auto descriptor = PartDescriptor(u"p", file, 0, 0, 0, 0);
    ConstRCPtr<LVisualPart> part = descriptor->GetVisualPart();
    // One drawn pixel covers a block of 8e6 x 6e6 part pixels; only the part's 48 exist.
    EXPECT_EQ(part->GetColorAtPoint(PointF{0, 0}, PointF{1e-6f, 1e-6f}), Coordinate(7, 5));
}

TEST_F(VisualPart, ATilePartWithoutWidthOrHeightIsTransparent)
{
    for (const auto& size : {PointL{0, 5}, PointL{5, 0}, PointL{-3, 5}}) {
        auto descriptor = ColorPart(u"c", 0xFF00FF00, size.x, size.y, LVisualPart::kTile);
        ConstRCPtr<LVisualPart> part = descriptor->GetVisualPart();
        EXPECT_EQ(part->GetColorAtPoint(PointF{3, 3}, PointF{30, 10}), Orv::kTransparentColor)
            << size.x << " x " << size.y;
    }
}

TEST_F(VisualPart, APartWhoseImageDoesNotLoadKeepsItsSizeDrawsNothingAndIsTransparent)
{
    const Orv::WideString missing = Wide((folder / "missing.png").string());
    const Orv::WideString present = WriteCoordinatePng("mask.png", 4, 4);
    struct Row
    {
        const char* name;
        RCPtr<LVisualPartDescriptor> descriptor;
        std::string said;
    };
    const Row rows[] = {
        {"image file missing", PartDescriptor(u"noImage", missing, 0, 0, 12, 7), "missing.png"},
        {"image missing, mask present",
         PartDescriptor(u"noImage", missing, 0, 0, 12, 7, LVisualPart::kStretch, Solid(0xFF0000FF),
                        1.0f, Orv::ImageReference{present, 0, 0, 12, 7}),
         "missing.png"},
        {"mask file missing",
         PartDescriptor(u"noMask", Orv::WideString(), 0, 0, 12, 7, LVisualPart::kStretch,
                        Solid(0xFF0000FF), 1.0f, Orv::ImageReference{missing, 0, 0, 12, 7}),
         "missing.png"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        renderer->draws.clear();
        ConstRCPtr<LVisualPart> part = row.descriptor->GetVisualPart();
        ASSERT_TRUE(part);
        EXPECT_TRUE(part->IsMissingImage());
        EXPECT_EQ(part->GetWidth(), 12);
        EXPECT_EQ(part->GetHeight(), 7);
        EXPECT_EQ(part->Draw(renderer, PointF{30, 30}), 0);
        EXPECT_TRUE(renderer->draws.empty());
        EXPECT_EQ(part->GetColorAtPoint(PointL{1, 1}), Orv::kTransparentColor);
        EXPECT_EQ(part->GetColorAtPoint(PointF{3, 3}, PointF{30, 30}), Orv::kTransparentColor);
        const auto said = Win32Test::TakeDebugOutput();
        EXPECT_EQ(CountDebugLines(said, row.said), 1);
        // Cached like any part: asking again says nothing more.
        EXPECT_EQ(row.descriptor->GetVisualPart().Get(), part.Get());
        EXPECT_TRUE(Win32Test::TakeDebugOutput().empty());
    }
}

TEST_F(VisualPart, LoadPartImageGivesNullForAnImageThatDoesNotLoad)
{
    EXPECT_FALSE(Orv::LoadPartImage({Wide((folder / "none.png").string()), 1, 1, 2, 2}));
    const Orv::WideString file = WriteCoordinatePng("sheet.png", 8, 6);
    RCPtr<Orv::LBitmap> view = Orv::LoadPartImage({file, 3, 2, 4, 1});
    ASSERT_TRUE(view);
    EXPECT_EQ(view->GetWidth(), 4);
    EXPECT_EQ(view->GetPixelColor(1, 0).ToPackedARGB(), Coordinate(4, 2));
}

TEST_F(VisualPart, AnImagePartIsTintedByASolidColorizerInACopy)
{
    const Orv::WideString file = WritePng("two.png", 2, 1, {0xFFFFFFFF, 0x00000000});
    auto descriptor =
        PartDescriptor(u"p", file, 0, 0, 0, 0, LVisualPart::kStretch, Solid(0xFF204060));
    ConstRCPtr<LVisualPart> part = descriptor->GetVisualPart();
    EXPECT_EQ(part->GetColorAtPoint(PointL{0, 0}), 0xFF204060u);
    EXPECT_EQ(part->GetColorAtPoint(PointL{1, 0}) >> 24, 0u) << "alpha is kept";
    EXPECT_EQ(Orv::GetBitmap(file)->GetPixelColor(0, 0).ToPackedARGB(), 0xFFFFFFFFu);
    EXPECT_TRUE(Win32Test::TakeDebugOutput().empty());
}

// What cannot be colourised is shown as it is, said once, instead of throwing while a skin from
// a folder is built, painted or hit-tested.
TEST_F(VisualPart, ColourisingThatCannotBeDoneKeepsTheUntintedImageOrTheStartColour)
{
    const Orv::WideString image = WriteCoordinatePng("image.png", 4, 4);
    std::vector<uint32_t> shape(16, 0x00000000);
    shape[5] = 0xFFFFFFFF;
    const Orv::WideString mask = WritePng("mask.png", 4, 4, shape);
    const Orv::ImageReference maskReference{mask, 0, 0, 4, 4};
    struct Row
    {
        const char* name;
        RCPtr<LVisualPartDescriptor> descriptor;
        PointL probe;
        PackedColor expected;
        int said;
    };
    const Row rows[] = {
        {"image and linear gradient: untinted",
         PartDescriptor(u"p", image, 0, 0, 4, 4, LVisualPart::kStretch,
                        Gradient(LColorizer::kLinearGradient, 0xFFFF0000, 0xFF0000FF)),
         {2, 3},
         Coordinate(2, 3),
         1},
        {"colour part with a linear gradient: its start colour",
         PartDescriptor(u"p", Orv::WideString(), 0, 0, 4, 4, LVisualPart::kStretch,
                        Gradient(LColorizer::kLinearGradient, 0xFFFF0000, 0xFF0000FF)),
         {1, 1},
         0xFFFF0000,
         1},
        {"colour part with a radial gradient: its start colour",
         PartDescriptor(u"p", Orv::WideString(), 0, 0, 4, 4, LVisualPart::kStretch,
                        Gradient(LColorizer::kRadialGradient, 0xFF00FF00, 0xFF0000FF)),
         {1, 1},
         0xFF00FF00,
         1},
        {"mask and gradient: the mask's shape in the start colour",
         PartDescriptor(u"p", Orv::WideString(), 0, 0, 4, 4, LVisualPart::kStretch,
                        Gradient(LColorizer::kLinearGradient, 0xFFFF0000, 0xFF0000FF), 1.0f,
                        maskReference),
         {1, 1},
         0xFFFF0000,
         1},
        {"image and mask: the image untinted",
         PartDescriptor(u"p", image, 0, 0, 4, 4, LVisualPart::kStretch, Solid(0xFF00FF00), 1.0f,
                        maskReference),
         {3, 0},
         Coordinate(3, 0),
         1},
        {"one-colour gradient without size: a fill",
         PartDescriptor(u"p", Orv::WideString(), 0, 0, 0, 0, LVisualPart::kStretch,
                        Gradient(LColorizer::kLinearGradient, 0xFF123456, 0xFF123456)),
         {0, 0},
         Orv::kTransparentColor,
         0},
        {"image rectangle outside its image: untinted",
         PartDescriptor(u"p", image, 10, 10, 4, 4, LVisualPart::kStretch, Solid(0xFF00FF00)),
         {1, 1},
         0x00000000,
         1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ConstRCPtr<LVisualPart> part;
        ASSERT_NO_THROW(part = row.descriptor->GetVisualPart());
        PackedColor color = 0;
        ASSERT_NO_THROW(color = part->GetColorAtPoint(row.probe));
        EXPECT_EQ(color, row.expected);
        ASSERT_NO_THROW(part->Draw(renderer, PointF{8, 8}));
        ASSERT_NO_THROW(part->GetColorAtPoint(PointF{3, 3}, PointF{8, 8}));
        EXPECT_EQ(CountDebugLines(Win32Test::TakeDebugOutput(), "Visual part \"p\""), row.said);
    }
}

TEST_F(VisualPart, AGradientColourPartDrawsAFillOfItsStartColour)
{
    auto descriptor =
        PartDescriptor(u"g", Orv::WideString(), 0, 0, 6, 6, LVisualPart::kStretch,
                       Gradient(LColorizer::kLinearGradient, 0xFF0A0B0C, 0xFFFFFFFF), 0.5f);
    descriptor->GetVisualPart()->Draw(renderer, PointF{6, 6});
    ASSERT_EQ(renderer->draws.size(), 1u);
    EXPECT_EQ(renderer->draws[0].what, "fill");
    EXPECT_EQ(renderer->draws[0].color, 0x800A0B0Cu);
}

// Called directly, a part built without bitmap and colorizer, or with an unknown resize type,
// still fails with the texts logs have always carried.
TEST_F(VisualPart, DirectCallsOnPartsNoSkinMakesKeepTheirTexts)
{
    RCPtr<LVisualPart> empty(new LVisualPart(u"e", RCPtr<Orv::LBitmap>(), LVisualPart::kStretch,
                                             ConstRCPtr<LColorizer>(), 4, 4, 1.0f,
                                             RCPtr<Orv::LBitmap>()));
    EXPECT_EQ(ThrownText([&] {
                  empty->Draw(renderer, PointF{4, 4});
              }),
              "Runtime Error : Orv::LVisualPart::Draw : ControlBase\\VisualPart : Line 218");
    EXPECT_EQ(ThrownText([&] {
                  empty->GetColorAtPoint(PointL{1, 1});
              }),
              "Runtime Error : Orv::LVisualPart::GetColorAtPoint : ControlBase\\VisualPart : "
              "Line 91");
    RCPtr<LVisualPart> odd(new LVisualPart(u"o", RCPtr<Orv::LBitmap>(), 7, Solid(0xFF000000), 4, 4,
                                           1.0f, RCPtr<Orv::LBitmap>()));
    EXPECT_EQ(ThrownText([&] {
                  odd->GetColorAtPoint(PointF{1, 1}, PointF{8, 8});
              }),
              "Runtime Error : Orv::LVisualPart::GetColorAtPoint : ControlBase\\VisualPart : "
              "Line 165");
}

TEST_F(VisualPart, TheCreatorsGiveNullWithoutTheirBitmapOrColorizer)
{
    EXPECT_FALSE(Orv::LControl::CreateLookVisualPart(u"x", RCPtr<Orv::LBitmap>(),
                                                     LVisualPart::kStretch, Solid(0xFF000000), 1.0f,
                                                     RCPtr<Orv::LBitmap>()));
    EXPECT_FALSE(Orv::CreateColorizerVisualPart(
        u"x", ConstRCPtr<LColorizer>(), 4, 4, LVisualPart::kStretch, 1.0f, RCPtr<Orv::LBitmap>()));
    const Orv::WideString file = WriteCoordinatePng("sheet.png", 8, 6);
    ConstRCPtr<LVisualPart> part =
        Orv::LControl::CreateLookVisualPart(u"x", Orv::GetBitmap(file), LVisualPart::kTile,
                                            ConstRCPtr<LColorizer>(), 1.0f, RCPtr<Orv::LBitmap>());
    ASSERT_TRUE(part);
    EXPECT_EQ(part->GetWidth(), 8) << "sized by its bitmap";
    EXPECT_EQ(part->GetHeight(), 6);
    EXPECT_FALSE(part->GetOwner());
}

TEST_F(VisualPart, TheVisualPartOfADockedPartIsItsDescriptorsCachedPart)
{
    auto descriptor = ColorPart(u"c", 0xFF000000, 3, 3);
    Orv::DockedPlacement placement;
    auto docked = Docked(descriptor, placement);
    ConstRCPtr<LVisualPart> part = Orv::GetVisualPart(*docked);
    EXPECT_EQ(part.Get(), descriptor->GetCachedVisualPart());
    EXPECT_EQ(part->GetOwner().Get(), descriptor.Get());
    EXPECT_FALSE(Orv::GetVisualPart(*Docked(RCPtr<LVisualPartDescriptor>(), placement)));
}

}  // namespace
