// The program's control tree (skin 0, base controls) laid out as the root window lays out its
// root control. A full layout moves every control (the client area alternates between
// 1024 x 768 and 1000 x 750, one size per iteration); the re-layouts run at an unchanged size:
// the root window's pass (which stops at the root's unchanged rectangle) and every control's
// UpdateLayout in turn (what a storm of text or limit changes costs when nothing moves).
#include <benchmark/benchmark.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "Application/ControlCreateFunction.h"
#include "Application/FrameworkApp.h"
#include "ControlBase/Control.h"
#include "ControlBase/ControlFactory.h"
#include "ControlBase/DocumentBytes.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/LayoutEngine.h"
#include "ControlBase/RectRegion.h"
#include "PaintTarget.h"
#include "ProductTree.h"
#include "Renderer/Gdi/GDIRenderContextInfo.h"
#include "Renderer/Gdi/GDIRenderer.h"
#include "Win32Test/HeadlessWindow.h"
#include "gdiplus.h"

namespace {

using Orv::LControl;
using Orv::PointD;
using Orv::RCPtr;
using Orv::RectD;

using BenchSupport::PaintTarget;
using BenchSupport::ProductTree;

void FullLayout(benchmark::State& state)
{
    ProductTree tree;
    if (!tree.root) {
        state.SkipWithError("the program's tree does not build");
        return;
    }
    tree.LayOut(1024, 768);
    bool small = true;
    for (auto _ : state) {
        tree.LayOut(small ? 1000 : 1024, small ? 750 : 768);
        small = !small;
    }
    state.counters["controls"] = static_cast<double>(tree.controls.size() + 1);
}
BENCHMARK(FullLayout)->Unit(benchmark::kMicrosecond);

void RelayoutAtAnUnchangedSize(benchmark::State& state)
{
    ProductTree tree;
    if (!tree.root) {
        state.SkipWithError("the program's tree does not build");
        return;
    }
    tree.LayOut(1024, 768);
    for (auto _ : state) {
        tree.LayOut(1024, 768);
    }
}
BENCHMARK(RelayoutAtAnUnchangedSize)->Unit(benchmark::kMicrosecond);

void UpdateLayoutOfEveryControlUnchanged(benchmark::State& state)
{
    ProductTree tree;
    if (!tree.root) {
        state.SkipWithError("the program's tree does not build");
        return;
    }
    tree.LayOut(1024, 768);
    for (auto _ : state) {
        for (LControl* control : tree.controls) {
            benchmark::DoNotOptimize(control->UpdateLayout());
        }
    }
    state.counters["controls"] = static_cast<double>(tree.controls.size());
}
BENCHMARK(UpdateLayoutOfEveryControlUnchanged)->Unit(benchmark::kMicrosecond);

// The first show or a skin switch: the whole window, the tree, its overlay controls, Present.
void FullPaint(benchmark::State& state)
{
    ProductTree tree;
    if (!tree.root) {
        state.SkipWithError("the program's tree does not build");
        return;
    }
    tree.LayOut(PaintTarget::kWidth, PaintTarget::kHeight);
    PaintTarget target;
    Orv::RCPtrArray<LControl> overlays;
    for (auto _ : state) {
        target.DirtyWhole();
        target.renderer->RenderStart(target.context);
        overlays.SetCount(0);
        tree.root->Draw(*target.renderer, target.context->GetDirtyRegion(), overlays, false);
        // The program's overlay controls (lists, tool tip) are hidden or empty: none is drawn.
        target.renderer->RenderFinish(target.context);
    }
    state.counters["overlays"] = static_cast<double>(overlays.GetCount());
}
BENCHMARK(FullPaint)->Unit(benchmark::kMicrosecond);

// What every pixel costs: three opaque fills of the whole surface, then Present.
void ThreeSourceFills(benchmark::State& state)
{
    PaintTarget target;
    for (auto _ : state) {
        target.DirtyWhole();
        target.renderer->RenderStart(target.context);
        for (int fill = 0; fill < 3; ++fill) {
            target.renderer->FillRect({0, 0, PaintTarget::kWidth, PaintTarget::kHeight},
                                      Orv::ColorT(0.1f * fill, 0.2f, 0.3f, 1.0f), false);
        }
        target.renderer->RenderFinish(target.context);
    }
}
BENCHMARK(ThreeSourceFills)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
