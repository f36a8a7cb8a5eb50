// Drawing a control tree on a renderer that records what it is asked to do, and the repaint
// requests that travel up the tree to a top-level control and its root window.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../Renderer/RecordingRenderer.h"
#include "ControlBase/Control.h"
#include "ControlBase/DockedPart.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/Look.h"
#include "ControlBase/LookDescriptor.h"
#include "ControlBase/RectRegion.h"
#include "ControlBase/RootWindow.h"
#include "ControlTestSupport.h"

namespace {

using Orv::LControl;
using Orv::PointD;
using Orv::RCPtr;
using Orv::RectD;

struct HookCall
{
    std::string control;
    float alpha;
    Orv::PointT<double> offset;
};

struct InvalidateCall
{
    RectD window;
    bool clip;
    RectD clipRect;
};

// Records its drawing hooks (with the alpha and origin they ran at) and every repaint request
// that reaches it, before doing what a control does with it.
class ProbeControl : public LControl
{
public:
    ProbeControl(const RCPtr<LControl>& parent, const char16_t* name,
                 std::vector<HookCall>* hooks = nullptr)
        : LControl(parent, name), hooks(hooks)
    {
    }

    void DrawContentHook(Orv::LRenderer& renderer) override
    {
        if (hooks != nullptr) {
            const Orv::RenderState* state = renderer.GetCurrentState();
            hooks->push_back({ControlTest::Narrow(GetName()), state->alpha, state->GetOffset()});
        }
    }

    Orv::ORVRESULT Invalidate(const RectD& windowRect, bool clip, const RectD& clipRect) override
    {
        invalidations.push_back({windowRect, clip, clipRect});
        return LControl::Invalidate(windowRect, clip, clipRect);
    }

    std::vector<HookCall>* hooks;
    std::vector<InvalidateCall> invalidations;
};

class RecordingRootWindow : public Orv::LRootWindow
{
public:
    void InvalidateRect(const Orv::RectT<Orv::LongCoord>& rect) override { rects.push_back(rect); }
    Orv::PointT<Orv::LongCoord> GetClientSize() const override { return {300, 200}; }

    std::vector<Orv::RectT<Orv::LongCoord>> rects;
};

// Records the alpha of every fill, so a look's weight shows.
class FillRecordingRenderer : public RendererTest::RecordingRenderer
{
public:
    void FillRect(const Orv::RectT<Orv::LongCoord>& rect, const Orv::ColorT& color, bool) override
    {
        fills.push_back({rect, color, GetCurrentState()->alpha});
    }

    struct Fill
    {
        Orv::RectT<Orv::LongCoord> rect;
        Orv::ColorT color;
        float alpha;
    };
    std::vector<Fill> fills;
};

// A look whose client part is the whole control, filled with one colour.
RCPtr<Orv::LLook> ColourLook(const Orv::ColorT& color)
{
    const RCPtr<Orv::LColorizer> colorizer(
        new Orv::LColorizer(u"c", Orv::LColorizer::kSolid, color, color, 0, 0, 0, 0));
    const RCPtr<Orv::LVisualPartDescriptor> part(new Orv::LVisualPartDescriptor(
        u"p", Orv::ImageReference{}, Orv::LVisualPartDescriptor::kStretch, colorizer, 4, 4, 1.0f,
        Orv::ImageReference{}));
    Orv::DockedPlacement placement;
    placement.offsetMask = Orv::kAllOffsetsGiven;
    const RCPtr<Orv::LLookDescriptor> descriptor(new Orv::LLookDescriptor(u"look"));
    descriptor->SetClientPart(RCPtr<Orv::LDockedPart>(new Orv::LDockedPart(part, placement)));
    return Orv::LLook::Create(descriptor, false);
}

RCPtr<ProbeControl> Probe(const RCPtr<LControl>& parent, const char16_t* name, const RectD& rect,
                          std::vector<HookCall>* hooks = nullptr, bool withLook = true)
{
    RCPtr<ProbeControl> control(new ProbeControl(parent, name, hooks));
    if (withLook) {
        // A look slot without look: the control shows its children through its whole box.
        control->AddLook(RCPtr<Orv::LLook>());
        control->SelectLook(0);
    }
    control->SetRect({rect.x, rect.y}, {rect.width, rect.height});
    return control;
}

class ControlDrawTest : public ControlTest::ControlFixture
{
protected:
    void SetUp() override
    {
        ControlFixture::SetUp();
        context = RCPtr<Orv::LRenderContextInfo>(new RendererTest::TestContext());
        renderer = RCPtr<FillRecordingRenderer>(new FillRecordingRenderer());
        renderer->RenderStart(context);
        everything.AddRect(0, 0, 1000, 1000);
    }

    void TearDown() override
    {
        renderer->RenderFinish(context);
        renderer = nullptr;
        context = nullptr;
        ControlFixture::TearDown();
    }

    std::vector<std::string> NamesOf(const Orv::RCPtrArray<LControl>& list) const
    {
        std::vector<std::string> names;
        for (uint32_t index = 0; index < list.GetCount(); ++index) {
            names.push_back(ControlTest::Narrow(list.GetData()[index]->GetName()));
        }
        return names;
    }

    std::vector<std::string> HookNames() const
    {
        std::vector<std::string> names;
        for (const HookCall& call : hooks) {
            names.push_back(call.control);
        }
        return names;
    }

    RCPtr<Orv::LRenderContextInfo> context;
    RCPtr<FillRecordingRenderer> renderer;
    Orv::RectRegion everything;
    std::vector<HookCall> hooks;
};

using Names = std::vector<std::string>;

TEST_F(ControlDrawTest, AControlWithoutAreaDrawsNothingButGivesItsOverlayControls)
{
    for (const RectD& box : {RectD{0, 0, 0, 50}, RectD{0, 0, 50, 0}}) {
        hooks.clear();
        const RCPtr<ProbeControl> top = Probe(nullptr, u"top", box, &hooks);
        Probe(top, u"content", {0, 0, 10, 10}, &hooks);
        const RCPtr<ProbeControl> overlay = Probe(top, u"overlay", {0, 0, 10, 10}, &hooks);
        overlay->SetClipToParent(false);
        const RCPtr<ProbeControl> hidden = Probe(top, u"hidden", {0, 0, 10, 10}, &hooks);
        hidden->SetClipToParent(false);
        hidden->SetVisible(false);

        Orv::RCPtrArray<LControl> overlays;
        EXPECT_EQ(top->Draw(*renderer, everything, overlays, false), S_OK);
        EXPECT_TRUE(hooks.empty());
        EXPECT_EQ(NamesOf(overlays), Names{"overlay"});
    }
}

TEST_F(ControlDrawTest, TwoWeightedLooksBlendAndTheChildrenAreDrawnOncePerLook)
{
    const RCPtr<ProbeControl> top(new ProbeControl(nullptr, u"top", &hooks));
    top->AddLook(ColourLook({1, 0, 0, 1}));
    top->AddLook(ColourLook({0, 0, 1, 1}));
    top->SetRect({0, 0}, {100, 80});
    EXPECT_EQ(top->SetLookWeight(0, 0.3f, false), S_OK);
    EXPECT_EQ(top->SetLookWeight(1, 0.7f, false), S_OK);
    Probe(top, u"child", {10, 10, 20, 20}, &hooks);

    Orv::RCPtrArray<LControl> overlays;
    EXPECT_EQ(top->Draw(*renderer, everything, overlays, false), S_OK);

    ASSERT_EQ(renderer->fills.size(), 2u);
    EXPECT_FLOAT_EQ(renderer->fills[0].alpha, 0.3f);
    EXPECT_EQ(renderer->fills[0].color.red, 1.0f);
    EXPECT_FLOAT_EQ(renderer->fills[1].alpha, 0.7f);
    EXPECT_EQ(renderer->fills[1].color.blue, 1.0f);
    // The control's own hook runs once, unweighted; its child once per look, weighted.
    ASSERT_EQ(HookNames(), (Names{"top", "child", "child"}));
    EXPECT_FLOAT_EQ(hooks[0].alpha, 1.0f);
    EXPECT_FLOAT_EQ(hooks[1].alpha, 0.3f);
    EXPECT_FLOAT_EQ(hooks[2].alpha, 0.7f);
    EXPECT_EQ(hooks[1].offset, (PointD{10, 10}));
    EXPECT_TRUE(overlays.GetCount() == 0);
    // Every state pushed was popped again.
    EXPECT_FLOAT_EQ(renderer->GetCurrentState()->alpha, 1.0f);
    EXPECT_EQ(renderer->GetCurrentState()->GetOffset(), (PointD{0, 0}));
}

TEST_F(ControlDrawTest, ANonClippingChildIsLeftToTheOverlayPass)
{
    const RCPtr<ProbeControl> top = Probe(nullptr, u"top", {0, 0, 200, 200}, &hooks);
    const RCPtr<ProbeControl> panel = Probe(top, u"panel", {20, 30, 50, 50}, &hooks);
    Probe(panel, u"content", {0, 0, 10, 10}, &hooks);
    const RCPtr<ProbeControl> overlay = Probe(panel, u"overlay", {40, 40, 100, 100}, &hooks);
    EXPECT_FALSE(overlay->SetClipToParent(false));
    EXPECT_EQ(top->GetNonClippingDescendantCount(), 1);

    Orv::RCPtrArray<LControl> overlays;
    EXPECT_EQ(top->Draw(*renderer, everything, overlays, false), S_OK);
    EXPECT_EQ(HookNames(), (Names{"top", "panel", "content"}));
    ASSERT_EQ(NamesOf(overlays), Names{"overlay"});

    // In the overlay pass it draws beyond its parent's box: the clip is the caller's.
    hooks.clear();
    EXPECT_EQ(overlay->Draw(*renderer, everything, overlays, false), E_INVALIDARG);
    EXPECT_EQ(overlay->Draw(*renderer, everything, overlays, true), S_OK);
    ASSERT_EQ(HookNames(), Names{"overlay"});
    EXPECT_EQ(hooks[0].offset, (PointD{40, 40}));

    EXPECT_TRUE(overlay->SetClipToParent(true));
    EXPECT_EQ(top->GetNonClippingDescendantCount(), 0);
}

TEST_F(ControlDrawTest, TheOverlayPassRefusesAClippingControl)
{
    const RCPtr<ProbeControl> top = Probe(nullptr, u"top", {0, 0, 200, 200}, &hooks);
    Orv::RCPtrArray<LControl> overlays;
    EXPECT_EQ(top->Draw(*renderer, everything, overlays, true), E_INVALIDARG);
    EXPECT_TRUE(hooks.empty());
    EXPECT_TRUE(renderer->calls.empty());
}

TEST_F(ControlDrawTest, ADirtyRegionThatMissesTheControlDrawsNothing)
{
    const RCPtr<ProbeControl> top = Probe(nullptr, u"top", {0, 0, 200, 200}, &hooks);
    const RCPtr<ProbeControl> left = Probe(top, u"left", {0, 0, 50, 50}, &hooks);
    Probe(top, u"right", {100, 0, 50, 50}, &hooks);
    Orv::RectRegion dirty;
    dirty.AddRect(110, 10, 120, 20);
    dirty.AddRect(130, 10, 140, 20);
    Orv::RCPtrArray<LControl> overlays;
    EXPECT_EQ(top->Draw(*renderer, dirty, overlays, false), S_OK);
    // One hook per dirty rectangle, each inside its rectangle.
    EXPECT_EQ(HookNames(), (Names{"top", "top", "right", "right"}));
}

TEST_F(ControlDrawTest, ContentChildrenAreClippedToTheClientPartAndScrolled)
{
    // A client part 5 pixels in from each edge: content children start at its corner.
    const RCPtr<ProbeControl> top(new ProbeControl(nullptr, u"top", &hooks));
    const RCPtr<Orv::LLook> look = ColourLook({1, 1, 1, 1});
    look->GetDescriptor()->clientPart->placement = {Orv::kAllOffsetsGiven, 5, 5, 5, 5};
    look->SetDescriptor(look->GetDescriptor(), false);
    top->AddLook(look);
    top->SelectLook(0);
    top->SetRect({0, 0}, {100, 100});
    Probe(top, u"content", {0, 0, 10, 10}, &hooks);
    // Outside the client part: not drawn at all.
    Probe(top, u"outside", {200, 0, 10, 10}, &hooks);
    Orv::RCPtrArray<LControl> overlays;
    EXPECT_EQ(top->Draw(*renderer, everything, overlays, false), S_OK);
    ASSERT_EQ(HookNames(), (Names{"top", "content"}));
    EXPECT_EQ(hooks[1].offset, (PointD{5, 5}));
}

TEST_F(ControlDrawTest, AnOutOfRangeWeightLeavesItsLookButTheExclusiveFlagStillApplies)
{
    const RCPtr<ProbeControl> top = Probe(nullptr, u"top", {0, 0, 50, 50}, &hooks, false);
    top->AddLook(ColourLook({1, 0, 0, 1}));
    top->AddLook(ColourLook({0, 1, 0, 1}));
    top->SetLookWeight(0, 0.4f, false);
    top->SetLookWeight(1, 0.6f, false);
    top->invalidations.clear();

    EXPECT_EQ(top->SetLookWeight(0, 1.5f, true), S_OK);
    EXPECT_EQ(top->GetLookWeights().GetAt(0), 0.4f);
    EXPECT_EQ(top->GetLookWeights().GetAt(1), 0.0f);
    ASSERT_EQ(top->invalidations.size(), 1u);
    EXPECT_EQ(top->invalidations[0].window, (RectD{0, 0, 50, 50}));

    // Nothing changes the second time: no repaint.
    EXPECT_EQ(top->SetLookWeight(0, 1.5f, true), S_OK);
    EXPECT_EQ(top->invalidations.size(), 1u);
    EXPECT_EQ(top->SetLookWeight(2, 1.0f, true), E_INVALIDARG);
}

TEST_F(ControlDrawTest, TransparencyAndColoursFollowTheWeightedLooks)
{
    const RCPtr<ProbeControl> bare = Probe(nullptr, u"bare", {0, 0, 20, 20}, nullptr, false);
    EXPECT_TRUE(bare->IsTransparentAt(1, 1));
    EXPECT_EQ(bare->GetLookColorAt({1, 1}, 5), 0x00FFFFFFu);
    EXPECT_EQ(bare->GetLook(-1).Get(), nullptr);
    EXPECT_EQ(bare->GetClientRect(-1), (RectD{0, 0, 20, 20}));

    const RCPtr<ProbeControl> top = Probe(nullptr, u"top", {0, 0, 20, 20}, nullptr, false);
    top->AddLook(ColourLook({1, 0, 0, 1}));
    top->AddLook(ColourLook({0, 0, 1, 1}));
    top->AddLook(ColourLook({0, 1, 0, 0}));
    top->SetRect({0, 0}, {21, 20});
    // No look with weight: the first look that exists is the current one, yet nothing shows.
    EXPECT_EQ(top->FirstVisibleLookIndex(), -1);
    EXPECT_TRUE(top->IsTransparentAt(1, 1));
    EXPECT_EQ(top->GetLookColorAt({1, 1}, 5), 0xFFFF0000u);

    top->SelectLook(1);
    EXPECT_EQ(top->FirstVisibleLookIndex(), 1);
    EXPECT_FALSE(top->IsTransparentAt(1, 1));
    EXPECT_EQ(top->GetLookColorAt({1, 1}, 5), 0xFF0000FFu);
    EXPECT_EQ(top->GetLookColorAt({1, 1}, -1), 0xFF0000FFu);
    EXPECT_EQ(top->GetLookColorAt({1, 1}, 0), 0xFFFF0000u);

    top->SelectLook(2);
    EXPECT_TRUE(top->IsTransparentAt(1, 1));
}

TEST_F(ControlDrawTest, AClippedChildRepaintsOnlyInsideItsParentAndAnOverlayChildWhole)
{
    const RCPtr<ProbeControl> top = Probe(nullptr, u"top", {0, 0, 200, 200});
    const RCPtr<ProbeControl> panel = Probe(top, u"panel", {10, 10, 50, 50});
    const RCPtr<ProbeControl> child = Probe(panel, u"child", {30, 30, 40, 40});
    top->invalidations.clear();

    EXPECT_EQ(child->InvalidateRect({0, 0, 40, 40}, true), S_OK);
    ASSERT_EQ(top->invalidations.size(), 1u);
    EXPECT_EQ(top->invalidations[0].window, (RectD{40, 40, 40, 40}));
    EXPECT_TRUE(top->invalidations[0].clip);
    // In the top control's coordinates: the panel's box ends at 60.
    EXPECT_EQ(top->invalidations[0].clipRect, (RectD{40, 40, 20, 20}));

    // Wholly outside its parent: nothing to repaint.
    EXPECT_EQ(child->InvalidateRect({25, 25, 10, 10}, true), 1);
    EXPECT_EQ(top->invalidations.size(), 1u);

    top->invalidations.clear();
    child->SetClipToParent(false);
    top->invalidations.clear();
    EXPECT_EQ(child->InvalidateRect({0, 0, 40, 40}, true), S_OK);
    ASSERT_EQ(top->invalidations.size(), 1u);
    EXPECT_EQ(top->invalidations[0].window, (RectD{40, 40, 40, 40}));
    EXPECT_FALSE(top->invalidations[0].clip);

    // An invisible control asks for nothing.
    child->SetVisible(false);
    top->invalidations.clear();
    EXPECT_EQ(child->InvalidateRect({0, 0, 40, 40}, true), 1);
    EXPECT_TRUE(top->invalidations.empty());
}

TEST_F(ControlDrawTest, TheTopHandsWholePixelsToItsRootWindowCutToTheClientArea)
{
    const RCPtr<RecordingRootWindow> window(new RecordingRootWindow());
    {
        const RCPtr<ProbeControl> top = Probe(nullptr, u"top", {0, 0, 400, 400});
        // Without a root window the request ends at the top, answered 0.
        EXPECT_EQ(top->InvalidateRect({0, 0, 10, 10}, true), S_OK);
        top->SetRootWindow(window);
        const RCPtr<ProbeControl> child = Probe(top, u"child", {280.4, 10.5, 40, 20.2});
        window->rects.clear();
        EXPECT_EQ(child->InvalidateRect({0, 0, 40, 20.2}, true), S_OK);
        ASSERT_EQ(window->rects.size(), 1u);
        // Cut at the client width (300) and rounded outwards by edge.
        EXPECT_EQ(window->rects[0], (Orv::RectT<Orv::LongCoord>{280, 11, 20, 20}));
        child->SetClipToParent(false);
        window->rects.clear();
        EXPECT_EQ(child->InvalidateRect({0, 0, 40, 20.2}, true), S_OK);
        ASSERT_EQ(window->rects.size(), 1u);
        EXPECT_EQ(window->rects[0], (Orv::RectT<Orv::LongCoord>{280, 11, 40, 20}));
        top->SetRootWindow(nullptr);
    }
}

TEST_F(ControlDrawTest, HidingAndShowingRepaintTheControlAndItsOverlays)
{
    const RCPtr<ProbeControl> top = Probe(nullptr, u"top", {0, 0, 200, 200});
    const RCPtr<ProbeControl> panel = Probe(top, u"panel", {10, 10, 50, 50});
    const RCPtr<ProbeControl> overlay = Probe(panel, u"overlay", {100, 100, 30, 30});
    overlay->SetClipToParent(false);
    top->invalidations.clear();

    EXPECT_FALSE(panel->SetVisible(false));
    // The panel's box, then its overlay child's, each before the flag went.
    ASSERT_EQ(top->invalidations.size(), 2u);
    EXPECT_EQ(top->invalidations[0].window, (RectD{10, 10, 50, 50}));
    EXPECT_EQ(top->invalidations[1].window, (RectD{110, 110, 30, 30}));
    EXPECT_FALSE(overlay->IsVisible(true));
    EXPECT_TRUE(overlay->IsVisible(false));
    Orv::RCPtrArray<LControl> overlays;
    EXPECT_EQ(top->CollectOverlayControls(overlays, true, true), 0);
    EXPECT_EQ(top->CollectOverlayControls(overlays, false, true), 1);

    top->invalidations.clear();
    EXPECT_TRUE(panel->SetVisible(true));
    EXPECT_EQ(top->invalidations.size(), 2u);
    top->invalidations.clear();
    EXPECT_TRUE(panel->SetVisible(true));
    EXPECT_TRUE(top->invalidations.empty());
}

TEST_F(ControlDrawTest, LeavingAParentRepaintsTheAreaLeft)
{
    const RCPtr<ProbeControl> top = Probe(nullptr, u"top", {0, 0, 200, 200});
    const RCPtr<ProbeControl> child = Probe(top, u"child", {10, 20, 30, 40});
    top->invalidations.clear();
    EXPECT_EQ(child->SetParent(nullptr), S_OK);
    ASSERT_EQ(top->invalidations.size(), 1u);
    EXPECT_EQ(top->invalidations[0].window, (RectD{10, 20, 30, 40}));
}

TEST_F(ControlDrawTest, ALookRegionBecomesTheBoxLessAnother)
{
    const RCPtr<ProbeControl> top = Probe(nullptr, u"top", {0, 0, 20, 10}, nullptr, false);
    top->AddLook(ColourLook({1, 0, 0, 1}));
    top->AddLook(ColourLook({0, 0, 1, 1}));
    top->AddLook(RCPtr<Orv::LLook>());
    EXPECT_EQ(top->SetLookRegionToComplement(0, 2), E_INVALIDARG);
    EXPECT_EQ(top->SetLookRegionToComplement(3, 1), E_INVALIDARG);
    EXPECT_EQ(top->SetLookRegionToComplement(-1, 1), E_INVALIDARG);

    top->GetLooks().GetData()[1]->GetRegion().AddRect(0, 0, 5, 10);
    top->invalidations.clear();
    EXPECT_EQ(top->SetLookRegionToComplement(0, 1), S_OK);
    EXPECT_EQ(top->invalidations.size(), 1u);
    const Orv::RectRegion& region = top->GetLooks().GetData()[0]->GetRegion();
    int32_t left = 0, topEdge = 0, right = 0, bottom = 0;
    ASSERT_TRUE(region.GetBounds(left, topEdge, right, bottom));
    EXPECT_EQ(region.GetCount(), 1);
    EXPECT_EQ(left, 5);
    EXPECT_EQ(right, 20);
    EXPECT_EQ(bottom, 10);

    // Against itself: the region is read before it is replaced.
    EXPECT_EQ(top->SetLookRegionToComplement(1, 1), S_OK);
    EXPECT_EQ(top->GetLooks().GetData()[1]->GetRegion().GetCount(), 1);
    top->SelectLook(0);
    top->ClearLookRegion(-1);
    EXPECT_TRUE(top->GetLooks().GetData()[0]->GetRegion().IsEmpty());
    top->ClearLookRegions();
    EXPECT_TRUE(top->GetLooks().GetData()[1]->GetRegion().IsEmpty());
}

}  // namespace
