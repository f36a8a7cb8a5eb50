#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "RecordingRenderer.h"
#include "Renderer/Renderer.h"
#include "Win32Test/HeadlessWindow.h"

namespace {

using Orv::ConstRCPtr;
using Orv::LStencil;
using Orv::PointD;
using Orv::RCPtr;
using Orv::RectD;
using Orv::RenderState;
using RendererTest::RecordingRenderer;
using RendererTest::TestContext;

// The message without its " : Line n" tail (lines move with the source).
std::string WithoutLine(const std::string& text)
{
    const auto at = text.rfind(" : Line ");
    return at == std::string::npos ? text : text.substr(0, at);
}

template <class Exception, class Call>
std::string ThrownText(Call call)
{
    try {
        call();
    } catch (const Exception& e) {
        return WithoutLine(e.what());
    }
    return "nothing thrown";
}

void ExpectSameState(const RenderState& a, const RenderState& b, const char* where)
{
    EXPECT_EQ(a.offsetX, b.offsetX) << where;
    EXPECT_EQ(a.offsetY, b.offsetY) << where;
    EXPECT_EQ(a.GetClipRect(), b.GetClipRect()) << where;
    EXPECT_EQ(a.alpha, b.alpha) << where;
    EXPECT_EQ(a.stencilActive, b.stencilActive) << where;
    EXPECT_EQ(a.stencil, b.stencil) << where;
}

// A clip that covers no pixel, with no negative extent a back end could turn around and no
// member it would refuse.
void ExpectEmptyClip(const RenderState& state, const char* where)
{
    const RectD clip = state.GetClipRect();
    EXPECT_TRUE(std::isfinite(clip.x) && std::isfinite(clip.y)) << where;
    EXPECT_GE(clip.width, 0.0) << where;
    EXPECT_GE(clip.height, 0.0) << where;
    EXPECT_TRUE(clip.width == 0.0 || clip.height == 0.0)
        << where << ": " << clip.x << ", " << clip.y << ", " << clip.width << ", " << clip.height;
}

class RendererStateTest : public ::testing::Test
{
protected:
    void SetUp() override { renderer->RenderStart(context); }
    RenderState& State() { return *renderer->GetCurrentState(); }

    RCPtr<RecordingRenderer> renderer{new RecordingRenderer()};
    RCPtr<Orv::LRenderContextInfo> context{new TestContext()};
};

TEST_F(RendererStateTest, FreshStateIsUnboundedAndOpaque)
{
    EXPECT_EQ(State().GetClipRect(), (RectD{-5000000136282112.0, -5000000136282112.0,
                                            10000000272564224.0, 10000000272564224.0}));
    EXPECT_EQ(State().alpha, 1.0f);
    EXPECT_EQ(State().GetOffset(), (PointD{0, 0}));
    EXPECT_FALSE(State().stencilActive);
    EXPECT_TRUE(State().stencil.IsNull());
}

TEST_F(RendererStateTest, OriginShiftNeedsASavedState)
{
    const RenderState before = State();
    renderer->PushClip(PointD{5, 5});
    renderer->PopClip();
    ExpectSameState(State(), before, "no saved state");
    EXPECT_TRUE(context->GetSavedStates().empty());

    renderer->PushClip();
    renderer->PushClip(PointD{2.5, -3.5});
    EXPECT_EQ(State().GetOffset(), (PointD{3, -4})) << "rounded half away from zero";
    EXPECT_EQ(State().clipX, before.clipX - 3);
    EXPECT_EQ(State().clipY, before.clipY + 4);
    renderer->PopClip();
    renderer->PopClip();
    ExpectSameState(State(), before, "after both pops");
}

// An origin shift to no place must neither move the origin beyond what PopClip can undo nor let
// the drawing meant for there show at the old origin.
TEST_F(RendererStateTest, OriginShiftToNoPlaceShowsNothing)
{
    renderer->Translate({100, 100});
    renderer->SetClipRect({0, 0, 170, 320});
    const RenderState before = State();
    renderer->PushClip();
    for (const PointD shift : {PointD{std::nan(""), 0}, PointD{0, -1e17},
                               PointD{std::numeric_limits<double>::infinity(), 5}}) {
        renderer->PushClip(shift);
        EXPECT_EQ(State().GetOffset(), (PointD{100, 100})) << shift.x << ", " << shift.y;
        ExpectEmptyClip(State(), "shifted to no place");
        renderer->PopClip();
        ExpectSameState(State(), before, "after the pop");
    }
    renderer->PopClip();
}

TEST_F(RendererStateTest, RelativeClipIntersectsSnapsAndMovesTheOrigin)
{
    renderer->Translate({100, 200});
    renderer->SetClipRect({0, 0, 50, 60});
    State().alpha = 0.5f;
    const RenderState before = State();

    renderer->PushClip(RectD{10.4, 20.6, 30, 30}, RectD{5, 5, 100, 100}, nullptr, true);
    EXPECT_EQ(State().GetOffset(), (PointD{110, 221}));
    // clip ∩ frame ∩ old clip = (10.4, 20.6) .. (40.4, 50.6) ∩ (0, 0) .. (50, 60), floored to
    // (10, 20) .. (40, 50), then moved by the shift (10, 21).
    EXPECT_EQ(State().GetClipRect(), (RectD{0, -1, 30, 30}));
    EXPECT_EQ(State().alpha, 0.5f);

    State().alpha = 0.25f;
    renderer->PopClip();
    ExpectSameState(State(), before, "restored");
}

// Where nothing of the frame lies inside the clip, nothing may be drawn: an extent left
// negative by the intersection must not be turned around into the gap between the rectangles.
TEST_F(RendererStateTest, RelativeClipThatMeetsNothingIsEmpty)
{
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    const struct
    {
        const char* name;
        RectD frame;
        RectD clip;
        PointD offset;  // after the push
    } cases[] = {
        {"frame below and right of the clip", {200, 340, 40, 40}, {200, 340, 40, 40}, {300, 440}},
        {"frame above and left of the clip", {-50, -50, 20, 20}, {-50, -50, 20, 20}, {50, 50}},
        {"disjoint on x only", {180, 10, 30, 30}, {180, 10, 30, 30}, {280, 110}},
        {"disjoint on y only", {10, 330, 30, 30}, {10, 330, 30, 30}, {110, 430}},
        {"touching the clip's right edge", {170, 0, 10, 10}, {170, 0, 10, 10}, {270, 100}},
        {"clip outside its frame", {0, 0, 20, 20}, {30, 30, 10, 10}, {100, 100}},
        {"frame at no place", {nan, 0, 10, 10}, {0, 0, 10, 10}, {100, 100}},
        {"frame endlessly far", {inf, -inf, 10, 10}, {0, 0, 10, 10}, {100, 100}},
        {"frame too far to come back from", {1e17, 0, 10, 10}, {1e17, 0, 10, 10}, {100, 100}},
    };
    renderer->Translate({100, 100});
    renderer->SetClipRect({0, 0, 170, 320});
    const RenderState before = State();
    for (const auto& c : cases) {
        renderer->PushClip(c.frame, c.clip, nullptr, true);
        EXPECT_EQ(State().GetOffset(), c.offset) << c.name;
        ExpectEmptyClip(State(), c.name);

        // Nothing nested inside shows either.
        renderer->PushClip(RectD{-1000, -1000, 2000, 2000}, RectD{-1000, -1000, 2000, 2000},
                           nullptr, true);
        ExpectEmptyClip(State(), c.name);
        renderer->PopClip();

        renderer->PopClip();
        ExpectSameState(State(), before, c.name);
    }
    // A clip rectangle given in window pixels is the caller's: only snapped, and one at no
    // place is empty rather than left to the back end to refuse (which kept the old clip).
    renderer->PushClip(RectD{0, 0, 10, 10}, RectD{nan, 0, 10, 10}, nullptr, false);
    ExpectEmptyClip(State(), "clip at no place");
    renderer->PopClip();
}

TEST_F(RendererStateTest, AbsoluteFrameIsInWindowPixelsAndDoesNotIntersect)
{
    renderer->Translate({100, 100});
    renderer->SetClipRect({0, 0, 10, 10});
    renderer->PushClip(RectD{130.5, 90, 5, 5}, RectD{1.5, 2.5, 500, 500}, nullptr, false);
    EXPECT_EQ(State().GetOffset(), (PointD{131, 90}));
    EXPECT_EQ(State().GetClipRect(), (RectD{1, 2, 500, 500})) << "snapped only";
}

TEST_F(RendererStateTest, SecondStencilIsAFreshOneOfItsSize)
{
    const ConstRCPtr<LStencil> first(new LStencil(8, 9));
    const ConstRCPtr<LStencil> second(new LStencil(3, 4));
    const RectD frame{0, 0, 10, 10};
    renderer->PushClip(frame, frame, first, true);
    EXPECT_EQ(State().stencil, first);
    EXPECT_TRUE(State().stencilActive);
    renderer->PushClip(frame, frame, second, true);
    ASSERT_FALSE(State().stencil.IsNull());
    EXPECT_NE(State().stencil, second);
    EXPECT_EQ(State().stencil->width, 3);
    EXPECT_EQ(State().stencil->height, 4);
    EXPECT_EQ(State().stencil->rect, (Orv::RectL{0, 0, 3, 4}));
    renderer->PopClip();
    EXPECT_EQ(State().stencil, first);
    renderer->PopClip();
    EXPECT_TRUE(State().stencil.IsNull());
    EXPECT_FALSE(State().stencilActive);
}

TEST_F(RendererStateTest, StateOperationsGoThroughTheVirtualSlots)
{
    renderer->PushClip(RectD{1, 1, 5, 5}, RectD{0, 0, 5, 5},
                       ConstRCPtr<LStencil>(new LStencil(1, 1)), true);
    EXPECT_EQ(renderer->calls,
              (std::vector<std::string>{"SetClipRect", "Translate", "SetStencil"}));
    renderer->calls.clear();
    renderer->PopClip();
    EXPECT_EQ(renderer->calls,
              (std::vector<std::string>{"Translate", "SetClipRect", "SetStencil"}));
    renderer->calls.clear();
    renderer->PushClip();
    renderer->PushClip(PointD{1, 1});
    EXPECT_EQ(renderer->calls, (std::vector<std::string>{"Translate"}));
}

TEST_F(RendererStateTest, AutoClipFlavoursAndUnwinding)
{
    const RenderState before = State();
    {
        Orv::CAutoClip saveOnly(renderer);
        Orv::PushClipParams shift;
        shift.flavor = 2;
        shift.originShift = {4, 4};
        Orv::CAutoClip shifted(renderer, shift);
        EXPECT_EQ(State().GetOffset(), (PointD{4, 4}));
        Orv::CAutoClip clipped(renderer,
                               Orv::PushClipParams::Clip({1, 1, 2, 2}, {0, 0, 9, 9}, nullptr));
        EXPECT_EQ(State().GetOffset(), (PointD{5, 5}));
        EXPECT_EQ(context->GetSavedStates().size(), 3u);
    }
    ExpectSameState(State(), before, "after the guards");

    try {
        Orv::CAutoClip guard(renderer, RectD{3, 3, 4, 4}, RectD{0, 0, 4, 4}, nullptr);
        throw std::runtime_error("drawing failed");
    } catch (const std::runtime_error&) {
    }
    ExpectSameState(State(), before, "after an exception");
    EXPECT_TRUE(context->GetSavedStates().empty());

    Orv::PushClipParams bad;
    bad.flavor = 3;
    EXPECT_EQ(ThrownText<std::runtime_error>([&] { Orv::CAutoClip guard(renderer, bad); }),
              "Runtime Error : Unknown PushClip flavor : Orv::CAutoClip::CAutoClip : "
              "Renderer\\Renderer");
    EXPECT_TRUE(context->GetSavedStates().empty()) << "nothing pushed, nothing popped";
}

TEST(RendererContextStack, StartAndFinishErrors)
{
    RCPtr<RecordingRenderer> renderer(new RecordingRenderer());
    RCPtr<Orv::LRenderContextInfo> a(new TestContext());
    RCPtr<Orv::LRenderContextInfo> b(new TestContext());

    EXPECT_EQ(ThrownText<std::runtime_error>([&] { renderer->RenderStart(nullptr); }),
              "Runtime Error : Render context is NULL : Orv::LRenderer::RenderStart : "
              "Renderer\\Renderer");
    renderer->RenderStart(a);
    EXPECT_EQ(a->GetRefCount(), 2) << "the stack holds a reference";
    renderer->RenderStart(b);
    EXPECT_EQ(renderer->GetCurrentContext(), b.Get());
    EXPECT_EQ(ThrownText<std::runtime_error>([&] { renderer->RenderStart(a); }),
              "Runtime Error : Render context reentered. : Orv::LRenderer::RenderStart : "
              "Renderer\\Renderer");
    EXPECT_EQ(ThrownText<std::runtime_error>([&] { renderer->RenderFinish(a); }),
              "Runtime Error : RenderFinish context does not match RenderStart context : "
              "Orv::LRenderer::RenderFinish : Renderer\\Renderer");
    EXPECT_EQ(renderer->GetContextDepth(), 2u) << "a refused finish leaves the stack";
    renderer->RenderFinish(b);
    renderer->RenderFinish(a);
    EXPECT_EQ(a->GetRefCount(), 1);
    EXPECT_THROW(renderer->RenderFinish(a), std::runtime_error) << "empty stack";

    // Contexts left on the stack are released with the renderer.
    renderer->RenderStart(a);
    renderer = nullptr;
    EXPECT_EQ(a->GetRefCount(), 1);
}

TEST(RendererContextStack, WithoutAContextStateOperationsDoNothing)
{
    RCPtr<RecordingRenderer> renderer(new RecordingRenderer());
    EXPECT_EQ(renderer->GetCurrentState(), nullptr);
    renderer->PushClip();
    renderer->PushClip(PointD{1, 1});
    renderer->PushClip(RectD{1, 1, 1, 1}, RectD{1, 1, 1, 1}, nullptr, true);
    renderer->PopClip();
    renderer->SetClipRect({0, 0, 1, 1});
    renderer->Translate({1, 1});
    EXPECT_EQ(renderer->SetViewport({0, 0, 5, 5}), S_OK);
    EXPECT_EQ(renderer->SetStencil(nullptr), S_OK);
}

TEST(RendererContextStack, SetViewportChangesTheCurrentContext)
{
    RCPtr<RecordingRenderer> renderer(new RecordingRenderer());
    RCPtr<Orv::LRenderContextInfo> context(new TestContext());
    renderer->RenderStart(context);
    renderer->SetViewport({1, 2, 300, 400});
    EXPECT_EQ(context->GetViewport(), (Orv::RectL{1, 2, 300, 400}));
    renderer->RenderFinish(context);
}

TEST(RenderContext, GivesItsWindowsDeviceContextBack)
{
    HWND window = Win32Test::CreateHeadlessWindow(20, 10);
    {
        RCPtr<Orv::LRenderContextInfo> context(new TestContext(window));
        EXPECT_EQ(Win32Test::GetOpenDeviceContextCount(window), 1);
        ASSERT_NE(context->GetDeviceContext(), nullptr);
        EXPECT_EQ(GetDeviceCaps(context->GetDeviceContext(), LOGPIXELSX), 96);
        context->GetDirtyRegion().AddRect(0, 0, 5, 5);
    }
    EXPECT_EQ(Win32Test::GetOpenDeviceContextCount(window), 0);
    RCPtr<Orv::LRenderContextInfo> windowless(new TestContext(nullptr));
    EXPECT_EQ(windowless->GetDeviceContext(), nullptr);
    Win32Test::DestroyHeadlessWindow(window);
}

}  // namespace
