// Hit testing the program's control tree (skin 0, base controls, laid out at 1024 x 768): the
// control tree's own hit test at every point of a 16-pixel grid, against a plain walk over the
// same controls' window rectangles that keeps the last (deepest, latest) one containing the
// point. The ratio of the two is the pruning the tree's walk buys.
// Figures come from the release preset (cmake --preset release; build/release/bench/): the dev
// preset's sanitizers make them meaningless.
#include <benchmark/benchmark.h>

#include <climits>
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
#include "ProductTree.h"
#include "gdiplus.h"

namespace {

using Orv::LControl;
using Orv::PointD;
using Orv::PointL;
using Orv::RCPtr;
using Orv::RectD;

using BenchSupport::ProductTree;

constexpr int32_t kGridStep = 16;

void TreeHitTest(benchmark::State& state)
{
    ProductTree tree;
    if (!tree.root) {
        state.SkipWithError("the program's tree does not build");
        return;
    }
    tree.LayOut(1024, 768);
    int64_t hits = 0;
    for (auto _ : state) {
        for (int32_t y = 0; y < 768; y += kGridStep) {
            for (int32_t x = 0; x < 1024; x += kGridStep) {
                RCPtr<LControl> found;
                PointL local;
                int32_t layer = INT_MIN;
                tree.root->HitTest(found, PointL{x, y}, true, local, layer);
                hits += found ? 1 : 0;
            }
        }
    }
    benchmark::DoNotOptimize(hits);
    state.counters["points"] = (1024 / kGridStep) * (768 / kGridStep);
    state.counters["controls"] = static_cast<double>(tree.controls.size() + 1);
}
BENCHMARK(TreeHitTest)->Unit(benchmark::kMicrosecond);

void PlainRectangleWalk(benchmark::State& state)
{
    ProductTree tree;
    if (!tree.root) {
        state.SkipWithError("the program's tree does not build");
        return;
    }
    tree.LayOut(1024, 768);
    // The walk reads each control's window rectangle as the hit test would find it.
    std::vector<RectD> rectangles;
    for (LControl* control : tree.controls) {
        const PointD origin = control->GetWindowOrigin();
        const RectD& rect = control->GetRect();
        rectangles.push_back(RectD{origin.x, origin.y, rect.width, rect.height});
    }
    int64_t hits = 0;
    for (auto _ : state) {
        for (int32_t y = 0; y < 768; y += kGridStep) {
            for (int32_t x = 0; x < 1024; x += kGridStep) {
                const LControl* found = nullptr;
                for (size_t index = 0; index < tree.controls.size(); ++index) {
                    const RectD& area = rectangles[index];
                    const LControl* control = tree.controls[index];
                    if (control->IsVisible(true) && x >= area.x && x < area.x + area.width &&
                        y >= area.y && y < area.y + area.height) {
                        found = control;
                    }
                }
                hits += found ? 1 : 0;
            }
        }
    }
    benchmark::DoNotOptimize(hits);
    state.counters["points"] = (1024 / kGridStep) * (768 / kGridStep);
}
BENCHMARK(PlainRectangleWalk)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
