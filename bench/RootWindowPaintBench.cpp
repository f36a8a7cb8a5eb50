// The program's tree (skin 0, base controls) as the root control of a 1024 x 768 window, painted
// through the root window as the host paints it: the whole window, against one 20 x 20 dirty
// rectangle over a label. The ratio of the two is what partial repaint buys (at most a tenth is
// the aim); the whole window is the full paint of ControlTreeBench through the root window.
// Figures come from the release preset (cmake --preset release; build/release/bench/): the dev
// preset's sanitizers make them meaningless.
#include <benchmark/benchmark.h>

#include "ControlBase/Control.h"
#include "ControlBase/RootWindow.h"
#include "PaintTarget.h"
#include "ProductTree.h"

namespace {

using BenchSupport::PaintTarget;
using BenchSupport::ProductTree;

// The tree installed in a root window without host; the window lets it go at the end.
class WindowedTree
{
public:
    WindowedTree()
        : window(
              Orv::LRootWindow::Create(Orv::RCPtr<Orv::LRenderer>(target.renderer.Get()), nullptr))
    {
        if (tree.root) {
            window->SetRootControl(tree.root);
            window->OnClientSizeChanged(Orv::PointL{PaintTarget::kWidth, PaintTarget::kHeight});
            Paint(Orv::RectL{0, 0, PaintTarget::kWidth, PaintTarget::kHeight});
        }
    }
    ~WindowedTree() { window->DropBackReferences(); }
    WindowedTree(const WindowedTree&) = delete;
    WindowedTree& operator=(const WindowedTree&) = delete;

    bool Built() const { return tree.root && tree.root->GetRect().width == PaintTarget::kWidth; }

    void Paint(const Orv::RectL& dirty)
    {
        window->InvalidateRect(dirty);
        window->PaintContext(target.context, Orv::RectL{});
    }

private:
    ProductTree tree;
    PaintTarget target;
    Orv::RCPtr<Orv::LRootWindow> window;
};

void WholeWindowThroughTheRootWindow(benchmark::State& state)
{
    WindowedTree windowed;
    if (!windowed.Built()) {
        state.SkipWithError("the program's tree does not build");
        return;
    }
    for (auto _ : state) {
        windowed.Paint(Orv::RectL{0, 0, PaintTarget::kWidth, PaintTarget::kHeight});
    }
}
BENCHMARK(WholeWindowThroughTheRootWindow)->Unit(benchmark::kMicrosecond);

// Over the version label's text ("N/A" at 18, 137), within the view and the driver panel.
void One20x20DirtyRectangle(benchmark::State& state)
{
    WindowedTree windowed;
    if (!windowed.Built()) {
        state.SkipWithError("the program's tree does not build");
        return;
    }
    for (auto _ : state) {
        windowed.Paint(Orv::RectL{16, 134, 20, 20});
    }
}
BENCHMARK(One20x20DirtyRectangle)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
