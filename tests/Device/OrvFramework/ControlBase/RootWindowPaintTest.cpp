// The root window's dirty region and paint pass on a renderer that records what it draws.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <stdexcept>

#include "../Renderer/RecordingRenderer.h"
#include "ControlBase/LayoutDescriptor.h"
#include "Renderer/RenderContextInfo.h"
#include "RootWindowSupport.h"

namespace {

using namespace RootWindowTest;
using Orv::LRootWindow;
using Orv::RectD;
using Names = std::vector<std::string>;

// Records each control drawn; throws when asked to.
class PaintProbe : public LControl
{
public:
    PaintProbe(const RCPtr<LControl>& parent, const char16_t* name, Names* drawn)
        : LControl(parent, name), drawn(drawn)
    {
    }

    // Placed after construction: the tree takes counted references to it.
    static RCPtr<PaintProbe> Make(const RCPtr<LControl>& parent, const char16_t* name, Names* drawn,
                                  const RectD& rect)
    {
        RCPtr<PaintProbe> control(new PaintProbe(parent, name, drawn));
        control->AddLook(RCPtr<Orv::LLook>());
        control->SelectLook(0);
        control->SetRect({rect.x, rect.y}, {rect.width, rect.height});
        return control;
    }

    void DrawContentHook(Orv::LRenderer&) override
    {
        drawn->push_back(ControlTest::Narrow(GetName()));
        if (fails) {
            throw std::runtime_error("drawing failed");
        }
    }

    bool fails = false;

private:
    Names* drawn;
};

std::vector<RectL> RegionRects(const Orv::RectRegion& region)
{
    Orv::Array<RectL> rects;
    region.Enumerate(rects);
    std::vector<RectL> out;
    for (uint32_t index = 0; index < rects.GetCount(); ++index) {
        out.push_back(rects.GetAt(index));
    }
    return out;
}

// The controls in the order of their first drawing (a control draws once per dirty rectangle).
Names FirstSeen(const Names& drawn)
{
    Names out;
    for (const std::string& name : drawn) {
        if (std::find(out.begin(), out.end(), name) == out.end()) {
            out.push_back(name);
        }
    }
    return out;
}

bool Same(const RectL& a, const RectL& b)
{
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

class RootWindowPaint : public testing::Test
{
protected:
    void SetUp() override
    {
        app = RCPtr<TestApp>(new TestApp());
        services.client = PointL{200, 100};
        renderer = RCPtr<RendererTest::RecordingRenderer>(new RendererTest::RecordingRenderer());
        context = RCPtr<Orv::LRenderContextInfo>(new RendererTest::TestContext());
        context->SetViewport(RectL{0, 0, 200, 100});
        window = MakeWindow(renderer, &services);
    }

    void TearDown() override
    {
        window->DropBackReferences();
        window = nullptr;
        renderer = nullptr;
        context = nullptr;
        app = nullptr;
        EXPECT_EQ(LControl::GetLiveCount(), 0);
    }

    // A 200 x 100 root with two children side by side.
    RCPtr<PaintProbe> BuildTree()
    {
        const RCPtr<PaintProbe> root = PaintProbe::Make(nullptr, u"root", &drawn, {0, 0, 200, 100});
        PaintProbe::Make(root, u"left", &drawn, {0, 0, 100, 100});
        PaintProbe::Make(root, u"right", &drawn, {100, 0, 100, 100});
        window->SetRootControl(root);
        return root;
    }

    RecordingServices services;
    RCPtr<TestApp> app;
    RCPtr<RendererTest::RecordingRenderer> renderer;
    RCPtr<Orv::LRenderContextInfo> context;
    RCPtr<LRootWindow> window;
    Names drawn;
};

TEST_F(RootWindowPaint, InvalidateRectCutsToTheClientAreaIn64Bits)
{
    struct Case
    {
        RectL given;
        bool adds;
        RectL added;
    };
    const Case cases[] = {
        {{-10, -10, 20, 20}, true, {0, 0, 10, 10}},
        {{250, 10, 20, 20}, false, {}},
        {{10, 200, 20, 20}, false, {}},
        {{0, 0, 0, 5}, false, {}},
        // x + width passes INT32_MAX: clipped, not wrapped below x.
        {{10, 5, INT32_MAX, 10}, true, {10, 5, 190, 10}},
        {{INT32_MIN, 0, INT32_MAX, 10}, false, {}},
    };
    for (const Case& c : cases) {
        services.invalidated.clear();
        window->InvalidateRect(c.given);
        Orv::RectRegion taken;
        window->TakeDirtyRegion(taken);
        const std::vector<RectL> rects = RegionRects(taken);
        if (!c.adds) {
            EXPECT_TRUE(rects.empty()) << c.given.x;
            EXPECT_TRUE(services.invalidated.empty()) << "the OS is asked nothing";
            continue;
        }
        ASSERT_EQ(rects.size(), 1u) << c.given.x;
        EXPECT_TRUE(Same(rects[0], c.added)) << rects[0].x << "," << rects[0].width;
        ASSERT_EQ(services.invalidated.size(), 1u);
        EXPECT_TRUE(Same(services.invalidated[0], c.added));
    }
}

TEST_F(RootWindowPaint, APendingFullRepaintAddsTheWholeWindowWithoutAskingTheOS)
{
    window->SetFullRepaintPending();
    Orv::RectRegion taken;
    window->TakeDirtyRegion(taken);
    const std::vector<RectL> rects = RegionRects(taken);
    ASSERT_EQ(rects.size(), 1u);
    EXPECT_TRUE(Same(rects[0], RectL{0, 0, 200, 100}));
    EXPECT_EQ(services.Count("InvalidateRect"), 0);
    EXPECT_FALSE(window->IsFullRepaintPending());
}

TEST_F(RootWindowPaint, OverlaysDrawInStableAscendingZOrder)
{
    const RCPtr<PaintProbe> root = BuildTree();
    const char16_t* names[] = {u"first5", u"second5", u"only2"};
    const int32_t orders[] = {5, 5, 2};
    for (int index = 0; index < 3; ++index) {
        const RCPtr<PaintProbe> overlay =
            PaintProbe::Make(root, names[index], &drawn, {10.0 * index, 10, 20, 20});
        overlay->SetClipToParent(false);
        ASSERT_TRUE(overlay->GetLayout());
        overlay->GetLayout()->zOrder = orders[index];
    }
    window->PaintContext(context, RectL{});
    EXPECT_EQ(FirstSeen(drawn), (Names{"root", "left", "right", "only2", "first5", "second5"}));
    EXPECT_EQ(renderer->GetContextDepth(), 0u);
}

TEST_F(RootWindowPaint, APaintWhileTheContextHoldsSavedStatesDrawsNothingAndInvalidatesAll)
{
    BuildTree();
    Orv::RectRegion whole;
    whole.AddRect(0, 0, 200, 100);
    renderer->RenderStart(context);
    renderer->PushClip();
    window->Paint(whole);
    EXPECT_TRUE(drawn.empty());
    EXPECT_EQ(services.Count("InvalidateAll"), 1);
    renderer->PopClip();
    renderer->RenderFinish(context);
}

TEST_F(RootWindowPaint, APaintThatThrowsLeavesNoClipAndNoOpenContext)
{
    const RCPtr<PaintProbe> root = BuildTree();
    root->fails = true;
    EXPECT_THROW(window->PaintContext(context, RectL{}), std::runtime_error);
    EXPECT_EQ(renderer->GetContextDepth(), 0u) << "the renderer was closed";
    EXPECT_TRUE(context->GetSavedStates().empty()) << "the clip was popped";

    // The next paint draws, instead of being deferred for ever.
    root->fails = false;
    drawn.clear();
    window->InvalidateRect(RectL{0, 0, 200, 100});
    window->PaintContext(context, RectL{});
    EXPECT_EQ(drawn, (Names{"root", "left", "right"}));
}

TEST_F(RootWindowPaint, AfterAResizeOnePaintRedrawsAllAndTheNextDrawsNoControl)
{
    BuildTree();
    window->PaintContext(context, RectL{});
    drawn.clear();
    window->SetFullRepaintPending();
    window->PaintContext(context, RectL{});
    EXPECT_EQ(drawn, (Names{"root", "left", "right"}));
    drawn.clear();
    window->PaintContext(context, RectL{});
    EXPECT_TRUE(drawn.empty());
    // A system request alone (an uncovered area) draws no control either.
    window->PaintContext(context, RectL{0, 0, 50, 50});
    EXPECT_TRUE(drawn.empty());
}

TEST_F(RootWindowPaint, InvalidatingOneChildRepaintsOnlyTheControlsMeetingIt)
{
    BuildTree();
    window->PaintContext(context, RectL{});
    drawn.clear();
    window->InvalidateRect(RectL{110, 10, 20, 20});
    window->PaintContext(context, RectL{});
    EXPECT_EQ(drawn, (Names{"root", "right"}));
}

TEST_F(RootWindowPaint, PaintWithoutHostOrTreeDoesNothing)
{
    const RCPtr<LRootWindow> hostless = MakeWindow(renderer, nullptr);
    hostless->InvalidateRect(RectL{0, 0, 10, 10});
    hostless->InvalidateAll();
    Orv::RectRegion whole;
    whole.AddRect(0, 0, 10, 10);
    renderer->RenderStart(context);
    renderer->PushClip();
    hostless->Paint(whole);
    renderer->PopClip();
    renderer->RenderFinish(context);
    EXPECT_TRUE(drawn.empty());
    EXPECT_EQ(hostless->DropBackReferences(), S_OK);
}

}  // namespace
