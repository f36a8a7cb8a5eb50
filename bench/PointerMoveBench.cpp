// Pointer moves over the program's control tree (skin 0, base controls, a 1024 x 768 window)
// through the root window, against the bare hit test of the tree at the same points: the moves
// that stay over one control (no hover change) and the moves that go from one control to
// another each time (every move changes the hover). A move is a hit test plus the hover
// bookkeeping and the control's move handling; the ratio to the bare hit test is what that costs.
#include <benchmark/benchmark.h>

#include <climits>
#include <map>
#include <vector>

#include "ControlBase/Control.h"
#include "ControlBase/RootWindow.h"
#include "ControlBase/WindowOSServices.h"
#include "ProductTree.h"

namespace {

using Orv::LControl;
using Orv::PointL;
using Orv::RCPtr;
using Orv::RectL;

using BenchSupport::ProductTree;

constexpr int32_t kGridStep = 16;

// An active host of 1024 x 768 that answers without side effects.
class QuietServices : public Orv::IWindowOSServices
{
public:
    Orv::ORVRESULT SetTitle(const Orv::WideString&) override { return S_OK; }
    Orv::ORVRESULT InvalidateAll() override { return S_OK; }
    Orv::ORVRESULT InvalidateRect(const RectL&) override { return S_OK; }
    Orv::ORVRESULT GetClientRect(RectL& rect) override
    {
        rect = RectL{0, 0, 1024, 768};
        return S_OK;
    }
    Orv::ORVRESULT ScreenToClient(PointL& out, const PointL& screen) override
    {
        out = screen;
        return S_OK;
    }
    Orv::ORVRESULT ClientToScreen(PointL& out, const PointL& point) override
    {
        out = point;
        return S_OK;
    }
    Orv::ORVRESULT SetClientRect(const RectL&) override { return S_OK; }
    bool Show(int32_t) override { return true; }
    Orv::ORVRESULT UpdateNow() override { return S_OK; }
    Orv::ORVRESULT BringToTop() override { return S_OK; }
    Orv::ORVRESULT SetTopmost(bool) override { return S_OK; }
    Orv::ORVRESULT EndModal(int32_t) override { return S_OK; }
    int32_t RunModal() override { return 0; }
    bool IsModal() override { return false; }
    bool IsActive() override { return true; }
    bool HasFocus() override { return false; }
    Orv::ORVRESULT SetFocus() override { return S_OK; }
    HCURSOR SetCursor(HCURSOR cursor) override { return cursor; }
    Orv::ORVRESULT GetCursorPosition(PointL& point) override
    {
        point = PointL{0, 0};
        return S_OK;
    }
    int32_t GetMouseButtons() override { return 0; }
    HWND GetNativeHandle() override { return nullptr; }
    Orv::ORVRESULT SetTextInputActive(bool, void*) override { return S_OK; }
};

// The tree under a window, and two point sequences over it: every grid point over the control
// that covers the most of them, and those points alternating with the points of the control
// that covers the second most.
class PointerScene
{
public:
    PointerScene()
    {
        if (!tree.root) {
            return;
        }
        window = Orv::LRootWindow::Create(RCPtr<Orv::LRenderer>(), &services);
        window->SetRootControl(tree.root);
        std::map<LControl*, std::vector<PointL>> byControl;
        for (int32_t y = 0; y < 768; y += kGridStep) {
            for (int32_t x = 0; x < 1024; x += kGridStep) {
                RCPtr<LControl> found;
                PointL local;
                window->HitTest(found, PointL{x, y}, local, false);
                if (found) {
                    byControl[found.Get()].push_back(PointL{x, y});
                }
            }
        }
        const std::vector<PointL>* first = nullptr;
        const std::vector<PointL>* second = nullptr;
        for (const auto& entry : byControl) {
            if (!first || entry.second.size() > first->size()) {
                second = first;
                first = &entry.second;
            } else if (!second || entry.second.size() > second->size()) {
                second = &entry.second;
            }
        }
        if (!first || !second) {
            return;
        }
        still = *first;
        for (size_t index = 0; index < still.size(); ++index) {
            alternating.push_back(still[index]);
            alternating.push_back((*second)[index % second->size()]);
        }
    }

    ~PointerScene()
    {
        if (window) {
            window->DropBackReferences();
        }
    }

    PointerScene(const PointerScene&) = delete;
    PointerScene& operator=(const PointerScene&) = delete;

    bool Ready() const { return !alternating.empty(); }

    // The bare hit test of the tree, as the window calls it (the root fills the window at 0, 0).
    int64_t HitTestAll(const std::vector<PointL>& points)
    {
        int64_t hits = 0;
        for (const PointL& point : points) {
            RCPtr<LControl> found;
            PointL local;
            int32_t layer = INT_MIN;
            tree.root->HitTest(found, point, true, local, layer);
            hits += found ? 1 : 0;
        }
        return hits;
    }

    // Moves through the window; the number of moves that changed the hover control.
    int64_t MoveAll(const std::vector<PointL>& points)
    {
        int64_t changes = 0;
        for (const PointL& point : points) {
            const LControl* before = window->GetHoverControl().Get();
            window->HandleMouseMove(point, 0, 0);
            changes += window->GetHoverControl().Get() != before ? 1 : 0;
        }
        return changes;
    }

    ProductTree tree;
    QuietServices services;
    RCPtr<Orv::LRootWindow> window;
    std::vector<PointL> still;
    std::vector<PointL> alternating;
};

void Report(benchmark::State& state, const std::vector<PointL>& points)
{
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(points.size()));
    state.counters["points"] = static_cast<double>(points.size());
}

// The bare hit test over one set of points.
void BareHitTest(benchmark::State& state, std::vector<PointL> PointerScene::*points)
{
    PointerScene scene;
    if (!scene.Ready()) {
        state.SkipWithError("the program's tree does not build");
        return;
    }
    int64_t hits = 0;
    for (auto _ : state) {
        hits += scene.HitTestAll(scene.*points);
    }
    benchmark::DoNotOptimize(hits);
    Report(state, scene.*points);
}

// Moves through the window over one set of points; every move should change the hover, or none.
void Moves(benchmark::State& state, std::vector<PointL> PointerScene::*points, bool changeHover)
{
    PointerScene scene;
    if (!scene.Ready()) {
        state.SkipWithError("the program's tree does not build");
        return;
    }
    scene.MoveAll(scene.*points);  // the hover settles where the run starts
    int64_t changes = 0;
    int64_t moves = 0;
    for (auto _ : state) {
        changes += scene.MoveAll(scene.*points);
        moves += static_cast<int64_t>((scene.*points).size());
    }
    if (changes != (changeHover ? moves : 0)) {
        state.SkipWithError(changeHover ? "a move kept the hover" : "a move changed the hover");
    }
    Report(state, scene.*points);
}

void BareHitTestStill(benchmark::State& state)
{
    BareHitTest(state, &PointerScene::still);
}
BENCHMARK(BareHitTestStill)->Unit(benchmark::kMicrosecond);

void MovesWithoutHoverChange(benchmark::State& state)
{
    Moves(state, &PointerScene::still, false);
}
BENCHMARK(MovesWithoutHoverChange)->Unit(benchmark::kMicrosecond);

void BareHitTestAlternating(benchmark::State& state)
{
    BareHitTest(state, &PointerScene::alternating);
}
BENCHMARK(BareHitTestAlternating)->Unit(benchmark::kMicrosecond);

void MovesChangingHover(benchmark::State& state)
{
    Moves(state, &PointerScene::alternating, true);
}
BENCHMARK(MovesChangingHover)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
