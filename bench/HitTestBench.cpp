// Hit testing the program's control tree (skin 0, base controls, laid out at 1024 x 768): the
// control tree's own hit test at every point of a 16-pixel grid, against a plain walk over the
// same controls' window rectangles that keeps the last (deepest, latest) one containing the
// point. The ratio of the two is the pruning the tree's walk buys.
#include <benchmark/benchmark.h>

#include <climits>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "Application/FrameworkApp.h"
#include "ControlBase/Control.h"
#include "ControlBase/ControlCreateFunction.h"
#include "ControlBase/ControlFactory.h"
#include "ControlBase/DocumentBytes.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/LayoutEngine.h"
#include "gdiplus.h"

namespace {

using Orv::LControl;
using Orv::PointD;
using Orv::PointL;
using Orv::RCPtr;
using Orv::RectD;

// GDI+, the application, its factory with every class of the skin document as a base control,
// and the tree of skin 0, its root made to fill the window's client area.
class ProductTree
{
public:
    ProductTree()
    {
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&token, &input, nullptr);
        application = RCPtr<Orv::LFrameworkApp>(new Orv::LFrameworkApp());
        factory = RCPtr<Orv::LControlFactory>(new Orv::LControlFactory(u"Quorvel"));
        application->SetControlFactory(factory);
        if (factory->LoadSkinsAndStrings(u"::", 0x0409) != 0) {
            return;
        }
        std::vector<uint8_t> bytes;
        if (Orv::ReadDocumentBytes(u"::APP_SKINS", bytes) != Orv::DocumentRead::Done) {
            return;
        }
        const std::string document(bytes.begin(), bytes.end());
        const std::regex classAttribute("Class=\"([^\"]+)\"");
        std::set<std::string> classes;
        for (std::sregex_iterator it(document.begin(), document.end(), classAttribute), end;
             it != end; ++it) {
            classes.insert((*it)[1].str());
        }
        for (const std::string& className : classes) {
            factory->RegisterControlCreateFunction(Orv::WideString(className.c_str()).GetText(),
                                                   &Orv::CreateControlOf<LControl>);
        }
        factory->currentSkinIndex = 0;
        root = factory->CreateControlByName(u"mainControl", nullptr);
        if (!root) {
            return;
        }
        Orv::AxisPositionSpec position;
        Orv::AxisSizeSpec size;
        size.reference = Orv::kSizeToClient;
        size.rel = 1.0f;
        root->SetLayoutPlacement(position, size, position, size);
        Collect(*root);
    }

    ~ProductTree()
    {
        controls.clear();
        root = nullptr;
        application->SetControlFactory(nullptr);
        factory = nullptr;
        application = nullptr;
        Gdiplus::GdiplusShutdown(token);
    }

    ProductTree(const ProductTree&) = delete;
    ProductTree& operator=(const ProductTree&) = delete;

    // The root window's pass for a client size.
    void LayOut(double width, double height)
    {
        RectD resolved;
        Orv::ResolveLayout(root->GetLayout().Get(), nullptr, RectD{0, 0, 1920, 1040},
                           PointD{width, height}, PointD{}, resolved);
        PointD at{resolved.x, resolved.y};
        PointD extent{resolved.width, resolved.height};
        Orv::ApplyLayoutMinSize(*root, at, extent);
        Orv::ApplyLayoutMaxSize(*root, at, extent);
        RectD snapped{at.x, at.y, extent.x, extent.y};
        snapped.SnapToPixels();
        root->SetRect(PointD{snapped.x, snapped.y}, PointD{snapped.width, snapped.height});
    }

    RCPtr<LControl> root;
    std::vector<LControl*> controls;  // every control but the root, in tree order

private:
    void Collect(LControl& control)
    {
        for (uint32_t index = 0; index < control.GetChildren().GetCount(); ++index) {
            LControl* child = control.GetChildren()
                                  .GetAt(index, LControl::ChildControlList::kInsertionOrder)
                                  .Get();
            controls.push_back(child);
            Collect(*child);
        }
    }

    ULONG_PTR token = 0;
    RCPtr<Orv::LFrameworkApp> application;
    RCPtr<Orv::LControlFactory> factory;
};

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
