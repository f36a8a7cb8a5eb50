// Looks drawn through the renderer: each step limited to the dirty area and the look's region and
// clipped there, the label in its foreground colour, the overlay, and the colour at a point.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LooksTestSupport.h"

namespace {

using namespace LooksTest;
using Orv::DockedPlacement;
using Orv::LLook;
using Orv::LVisualPart;
using Orv::RectRegion;

using Rect = RectT<LongCoord>;
using PointL = PointT<LongCoord>;

constexpr uint32_t kClientColor = 0xFF000001;
constexpr uint32_t kEdgeColor = 0xFF000002;
constexpr uint32_t kInkColor = 0xFF112233;

DockedPlacement BottomRight()
{
    DockedPlacement placement;
    placement.offsetMask = Orv::kOffsetRightGiven | Orv::kOffsetBottomGiven;
    return placement;
}

RectRegion Region(const std::vector<Rect>& rects)
{
    RectRegion region;
    for (const Rect& rect : rects) {
        region.AddRect(rect.x, rect.y, rect.x + rect.width, rect.y + rect.height);
    }
    return region;
}

Orv::TextProperties WholeBox()
{
    Orv::TextProperties text;
    text.textRightRel = 1;
    text.textBottomRel = 1;
    return text;
}

class LookDrawing : public LooksFixture
{
public:
    LookDrawing() : measurer(new RendererTest::FixedWidthMeasurer()), scope(measurer) {}

    // 100 x 50: a client colour part over all of it, a 16 x 16 edge part at the bottom right,
    // and a label over the whole look in the ink colour.
    RCPtr<LLook> MakeLook(const Orv::TextProperties& text = WholeBox(),
                          const RCPtr<Orv::LVisualPartDescriptor>& ink = ColorPart(u"ink",
                                                                                   kInkColor, 1, 1))
    {
        auto descriptor = LookDescriptor(ColorPart(u"client", kClientColor, 1, 1));
        descriptor->nonClientParts.AddItem(
            Docked(ColorPart(u"edge", kEdgeColor, 16, 16), BottomRight()));
        descriptor->SetTextProperties(text, ink);
        RCPtr<LLook> look = LLook::Create(descriptor, false);
        look->SetSize({100, 50});
        look->SetFont(Orv::GetFont(u"Arial", 9, 0));
        look->SetText(u"x");
        return look;
    }

    std::vector<DrawCall> DrawsOf(const std::string& what, uint32_t color) const
    {
        std::vector<DrawCall> found;
        for (const DrawCall& call : renderer->draws) {
            if (call.what == what && call.color == color) {
                found.push_back(call);
            }
        }
        return found;
    }

    RCPtr<RendererTest::FixedWidthMeasurer> measurer;
    RendererTest::MeasurerScope scope;
};

TEST_F(LookDrawing, EveryStepIsLimitedToTheDirtyAreaAndTheLooksRegion)
{
    struct Row
    {
        const char* name;
        std::vector<Rect> region;  // local
        std::vector<Rect> dirty;   // window
        size_t clientSteps, edgeSteps, textSteps;
    };
    const Row rows[] = {
        {"no region: the dirty area", {}, {{0, 0, 200, 200}}, 1, 1, 1},
        {"a region that misses the edge part", {{0, 0, 20, 50}}, {{0, 0, 200, 200}}, 1, 0, 1},
        {"a region that misses the dirty area", {{80, 30, 20, 20}}, {{0, 0, 40, 40}}, 0, 0, 0},
        {"a region of two rectangles",
         {{0, 0, 10, 10}, {90, 40, 10, 10}},
         {{0, 0, 200, 200}},
         2,
         1,
         2},
        {"two dirty rectangles, one inside the region",
         {{0, 0, 30, 30}},
         {{0, 0, 10, 10}, {60, 30, 40, 20}},
         1,
         0,
         1},
    };
    const Orv::PointT<double> offset{5, 5};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RCPtr<LLook> look = MakeLook();
        look->SetRegion(Region(row.region));
        const RectRegion dirty = Region(row.dirty);
        renderer->draws.clear();
        renderer->pushes = 0;
        renderer->pops = 0;
        renderer->PushClip();
        renderer->Translate(offset);
        EXPECT_EQ(look->DrawClientPart(renderer, dirty), 0);
        EXPECT_EQ(look->DrawNonClientParts(renderer, dirty), 0);
        EXPECT_EQ(look->DrawLabelText(renderer, dirty, {0, 0}), 0);
        renderer->PopClip();
        EXPECT_EQ(renderer->pushes + 1, renderer->pops) << "every step's push is popped";

        EXPECT_EQ(DrawsOf("fill", kClientColor).size(), row.clientSteps);
        EXPECT_EQ(DrawsOf("fill", kEdgeColor).size(), row.edgeSteps);
        EXPECT_EQ(DrawsOf("text", kInkColor).size(), row.textSteps);
        // Nothing reaches a pixel outside the dirty area or (when there is one) the region.
        RectRegion allowed = Region(row.region);
        if (allowed.IsEmpty()) {
            allowed = dirty;
        } else {
            allowed.Offset(5, 5);
            allowed.Intersect(dirty);
        }
        for (const DrawCall& call : renderer->draws) {
            if (call.what == "text") {
                continue;  // a text call has an origin, not an extent: its clip is checked below
            }
            const RectT<double> visible = DrawRecorder::VisibleOnWindow(call);
            RectRegion outside;
            outside.AddRectRounded(visible);
            outside.SubtractRegion(allowed);
            EXPECT_TRUE(outside.IsEmpty()) << call.what << " at " << visible.x << ", " << visible.y
                                           << " " << visible.width << " x " << visible.height;
        }
        for (const DrawCall& call : DrawsOf("text", kInkColor)) {
            RectRegion clip;
            clip.AddRectRounded({call.clip.x + call.offset.x, call.clip.y + call.offset.y,
                                 call.clip.width, call.clip.height});
            clip.SubtractRegion(allowed);
            EXPECT_TRUE(clip.IsEmpty()) << "the label's clip leaves the allowed area";
        }
    }
}

TEST_F(LookDrawing, AStepClipsToTheDirtyPartOfItsFrameAndDrawsThePartAtTheFrame)
{
    RCPtr<LLook> look = MakeLook();
    look->DrawClientPart(renderer, Region({{10, 10, 20, 20}}));
    ASSERT_EQ(renderer->draws.size(), 1u);
    EXPECT_EQ(renderer->draws[0].rect, (Rect{0, 0, 100, 50}));
    EXPECT_EQ(renderer->draws[0].offset, (Orv::PointT<double>{0, 0}));
    EXPECT_EQ(renderer->draws[0].clip, (RectT<double>{10, 10, 20, 20}));

    renderer->draws.clear();
    look->DrawNonClientParts(renderer, Region({{90, 40, 5, 5}}));
    ASSERT_EQ(renderer->draws.size(), 1u);
    EXPECT_EQ(renderer->draws[0].rect, (Rect{0, 0, 16, 16}));
    EXPECT_EQ(renderer->draws[0].offset, (Orv::PointT<double>{84, 34}));
    EXPECT_EQ(renderer->draws[0].clip, (RectT<double>{6, 6, 5, 5}));
    // The state is back as it was.
    EXPECT_EQ(renderer->GetCurrentState()->GetOffset(), (Orv::PointT<double>{0, 0}));
    EXPECT_EQ(renderer->pushes, 2);
    EXPECT_EQ(renderer->pops, 2);
}

TEST_F(LookDrawing, TheLabelIsDrawnLineByLineInTheInkColourInsideItsTextBox)
{
    Orv::TextProperties text = WholeBox();
    text.textLeftAbs = 7;
    text.textTopAbs = 2;
    RCPtr<LLook> look = MakeLook(text);
    look->SetText(u"ab\ncd");
    EXPECT_EQ(look->DrawLabelText(renderer, Region({{0, 0, 100, 50}}), {0.5, -0.5}), 0);
    const std::vector<DrawCall> lines = DrawsOf("text", kInkColor);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "ab");
    EXPECT_EQ(lines[1].text, "cd");
    // Line rectangles (0, 0) and (0, 20) less the origin (0.5, -0.5), rounded half away from 0.
    EXPECT_EQ((PointL{lines[0].rect.x, lines[0].rect.y}), (PointL{-1, 1}));
    EXPECT_EQ((PointL{lines[1].rect.x, lines[1].rect.y}), (PointL{-1, 21}));
    // Drawn at the text box, clipped to it.
    EXPECT_EQ(lines[0].offset, (Orv::PointT<double>{7, 2}));
    EXPECT_EQ(lines[0].clip, (RectT<double>{0, 0, 93, 48}));
    EXPECT_EQ(renderer->pushes, renderer->pops);
}

TEST_F(LookDrawing, ALookWithoutTextPropertiesDrawsNoLabelAndSaysSo)
{
    auto descriptor = LookDescriptor(ColorPart(u"client", kClientColor, 1, 1));
    RCPtr<LLook> look = LLook::Create(descriptor, false);
    look->SetSize({100, 50});
    EXPECT_EQ(look->DrawLabelText(renderer, Region({{0, 0, 100, 50}}), {0, 0}), 1);
    EXPECT_TRUE(renderer->draws.empty());
    EXPECT_EQ(renderer->pushes, 0);
}

// The label's colour comes from a colour part; any other foreground draws no text and throws
// nothing while painting.
TEST_F(LookDrawing, TheTextForegroundPartDecidesTheLabelsColourOrThatThereIsNone)
{
    const Orv::WideString image = WriteCoordinatePng("ink.png", 2, 2);
    struct Row
    {
        const char* name;
        RCPtr<Orv::LVisualPartDescriptor> ink;
        bool drawn;
        uint32_t color;
        int said;  // lines naming the part on the debug channel, over two paints
    };
    const Row rows[] = {
        {"a solid colour part", ColorPart(u"ink", 0xFF445566, 1, 1), true, 0xFF445566, 0},
        {"its alpha modifier applies",
         ColorPart(u"ink", 0xFF445566, 1, 1, LVisualPart::kStretch, 0.5f), true, 0x80445566, 0},
        {"a gradient: its start colour",
         PartDescriptor(u"ink", Orv::WideString(), 0, 0, 1, 1, LVisualPart::kStretch,
                        Gradient(Orv::LColorizer::kLinearGradient, 0xFF0000FF, 0xFFFF0000)),
         true, 0xFF0000FF, 1},
        {"an image part: no text, said once", PartDescriptor(u"ink", image, 0, 0, 0, 0), false, 0,
         1},
        {"an image that does not load: no text",
         PartDescriptor(u"ink", Wide((folder / "none.png").string()), 0, 0, 1, 1), false, 0, 1},
        {"no foreground part: no text", RCPtr<Orv::LVisualPartDescriptor>(), false, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Win32Test::TakeDebugOutput();
        RCPtr<LLook> look = MakeLook(WholeBox(), row.ink);
        renderer->draws.clear();
        for (int paint = 0; paint < 2; ++paint) {
            ASSERT_NO_THROW(look->DrawLabelText(renderer, Region({{0, 0, 100, 50}}), {0, 0}));
        }
        size_t texts = 0;
        for (const DrawCall& call : renderer->draws) {
            if (call.what == "text") {
                ++texts;
                EXPECT_EQ(call.color, row.color);
            }
        }
        EXPECT_EQ(texts, row.drawn ? 2u : 0u);
        EXPECT_EQ(CountDebugLines(Win32Test::TakeDebugOutput(), "Visual part \"ink\""), row.said);
        EXPECT_EQ(renderer->pushes, renderer->pops);
    }
}

TEST_F(LookDrawing, TheOverlayIsDrawnOverOrInsteadOfTheClientPart)
{
    const Orv::WideString file = WriteCoordinatePng("overlay.png", 4, 4);
    RCPtr<LLook> look = MakeLook();
    EXPECT_TRUE(look->SetOverlayBitmap(RCPtr<Orv::LBitmap>(), LVisualPart::kStretch, false))
        << "nothing to remove: nothing changed";
    EXPECT_FALSE(look->SetOverlayBitmap(Orv::GetBitmap(file), LVisualPart::kCenter, false));
    ASSERT_TRUE(look->GetOverlay());
    EXPECT_EQ(look->GetOverlay()->GetResizeType(), LVisualPart::kCenter);
    EXPECT_TRUE(look->GetOverlay()->GetName().IsEmpty());

    look->DrawClientPart(renderer, Region({{0, 0, 100, 50}}));
    ASSERT_EQ(renderer->draws.size(), 2u);
    EXPECT_EQ(renderer->draws[0].what, "fill");
    EXPECT_EQ(renderer->draws[1].what, "bitmap");
    EXPECT_EQ(renderer->draws[1].rect, (Rect{0, 0, 100, 50}));

    EXPECT_FALSE(look->SetOverlayBitmap(Orv::GetBitmap(file), LVisualPart::kStretch, true));
    renderer->draws.clear();
    look->DrawClientPart(renderer, Region({{0, 0, 100, 50}}));
    ASSERT_EQ(renderer->draws.size(), 1u);
    EXPECT_EQ(renderer->draws[0].what, "bitmap");

    EXPECT_FALSE(look->SetOverlayBitmap(RCPtr<Orv::LBitmap>(), LVisualPart::kStretch, false));
    EXPECT_FALSE(look->GetOverlay());
    EXPECT_TRUE(look->SetOverlayBitmap(RCPtr<Orv::LBitmap>(), LVisualPart::kStretch, false));
}

TEST_F(LookDrawing, TheColourAtAPointIsTheFirstNonTransparentOfEdgesOverlayAndClient)
{
    std::vector<uint32_t> half(16 * 16, 0x00000000);
    for (int y = 0; y < 16; ++y) {
        for (int x = 8; x < 16; ++x) {
            half[static_cast<size_t>(y * 16 + x)] = Coordinate(x, y);
        }
    }
    const Orv::WideString edge = WritePng("edge.png", 16, 16, half);
    const Orv::WideString green = WritePng("green.png", 1, 1, {0xFF00FF00});
    auto descriptor = LookDescriptor(ColorPart(u"client", kClientColor, 1, 1));
    descriptor->nonClientParts.AddItem(
        Docked(PartDescriptor(u"edge", edge, 0, 0, 0, 0), BottomRight()));
    RCPtr<LLook> look = LLook::Create(descriptor, false);
    look->SetSize({100, 50});

    EXPECT_EQ(look->GetColorAtPoint({10, 10}), kClientColor);
    EXPECT_EQ(look->GetColorAtPoint({93, 40}), Coordinate(9, 6)) << "the edge part is on top";
    EXPECT_EQ(look->GetColorAtPoint({86, 40}), kClientColor) << "through its transparent half";
    EXPECT_EQ(look->GetColorAtPoint({-1, 5}), Orv::kTransparentColor);
    EXPECT_EQ(look->GetColorAtPoint({100, 5}), Orv::kTransparentColor);

    look->SetOverlayBitmap(Orv::GetBitmap(green), LVisualPart::kStretch, false);
    EXPECT_EQ(look->GetColorAtPoint({10, 10}), 0xFF00FF00u) << "the overlay is over the client";
    EXPECT_EQ(look->GetColorAtPoint({93, 40}), Coordinate(9, 6));
}

TEST_F(LookDrawing, ALookWithoutClientPartDrawsNothingForItAndIsTransparentThere)
{
    RCPtr<LLook> look = LLook::Create(LookDescriptor(RCPtr<Orv::LVisualPartDescriptor>()), false);
    look->SetSize({40, 40});
    EXPECT_EQ(look->DrawClientPart(renderer, Region({{0, 0, 40, 40}})), 0);
    EXPECT_TRUE(renderer->draws.empty());
    EXPECT_EQ(look->GetColorAtPoint({5, 5}), Orv::kTransparentColor);
    // An overlay still shows over the (whole-control) client rectangle.
    const Orv::WideString file = WritePng("dot.png", 1, 1, {0xFF0000FF});
    look->SetOverlayBitmap(Orv::GetBitmap(file), LVisualPart::kStretch, false);
    look->DrawClientPart(renderer, Region({{0, 0, 40, 40}}));
    ASSERT_EQ(renderer->draws.size(), 1u);
    EXPECT_EQ(renderer->draws[0].rect, (Rect{0, 0, 40, 40}));
    EXPECT_EQ(look->GetColorAtPoint({5, 5}), 0xFF0000FFu);
}

TEST_F(LookDrawing, APartWhoseImageDoesNotLoadIsDrawnAsNothingAndHitAsNothing)
{
    auto descriptor =
        LookDescriptor(PartDescriptor(u"gone", Wide((folder / "gone.png").string()), 0, 0, 8, 8));
    descriptor->nonClientParts.AddItem(Docked(
        PartDescriptor(u"gone", Wide((folder / "gone.png").string()), 0, 0, 8, 8), BottomRight()));
    RCPtr<LLook> look = LLook::Create(descriptor, false);
    look->SetSize({40, 40});
    EXPECT_EQ(look->GetNonClientPartRect(0), (Rect{32, 32, 8, 8})) << "laid out at its size";
    ASSERT_NO_THROW(look->DrawClientPart(renderer, Region({{0, 0, 40, 40}})));
    ASSERT_NO_THROW(look->DrawNonClientParts(renderer, Region({{0, 0, 40, 40}})));
    EXPECT_TRUE(renderer->draws.empty());
    EXPECT_EQ(look->GetColorAtPoint({35, 35}), Orv::kTransparentColor);
    EXPECT_EQ(look->GetColorAtPoint({5, 5}), Orv::kTransparentColor);
}

TEST_F(LookDrawing, LooksAndTheirPartsAreAllReleasedWithTheLooks)
{
    const Orv::WideString file = WriteCoordinatePng("sheet.png", 8, 6);
    auto shared = PartDescriptor(u"shared", file, 0, 0, 0, 0);
    auto descriptor = LookDescriptor(shared);
    descriptor->nonClientParts.AddItem(Docked(shared, BottomRight()));
    descriptor->SetTextProperties(WholeBox(), ColorPart(u"ink", kInkColor, 1, 1));
    {
        std::vector<RCPtr<LLook>> looks;
        for (int i = 0; i < 3; ++i) {
            looks.push_back(LLook::Create(descriptor, i % 2 == 0));
            looks.back()->SetSize({20 + i, 20});
            looks.back()->SetOverlayBitmap(Orv::GetBitmap(file), LVisualPart::kTile, false);
        }
        EXPECT_EQ(LLook::GetLiveCount(), 3);
        // The shared image part and the ink part, plus one overlay per look.
        EXPECT_EQ(LVisualPart::GetLiveCount(), 2 + 3);
    }
    EXPECT_EQ(LLook::GetLiveCount(), 0);
    EXPECT_EQ(LVisualPart::GetLiveCount(), 0);
    EXPECT_EQ(shared->GetCachedVisualPart(), nullptr);
}

}  // namespace
