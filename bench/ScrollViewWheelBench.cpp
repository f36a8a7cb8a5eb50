// A wheel step with its paint on a panel in a 1024 x 768 window: 10,000 rows of which 20 show,
// against the same step on a panel of those 20 rows alone (the same extent, so the same step).
// The aim: the large panel within three times the small one, so that what is out of view costs
// little. Figures come from the release preset (build/release/bench/); the dev preset's
// sanitizers make them meaningless.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "Application/ControlCreateFunction.h"
#include "Application/FrameworkApp.h"
#include "ControlBase/ControlDescriptor.h"
#include "ControlBase/ControlFactory.h"
#include "ControlBase/InputPayloads.h"
#include "ControlBase/LayoutDescriptor.h"
#include "Controls/Panel.h"
#include "ControlBase/RootWindow.h"
#include "Controls/Scrollbar.h"
#include "PaintTarget.h"
#include "gdiplus.h"

namespace {

using BenchSupport::PaintTarget;
using Orv::RCPtr;

constexpr double kRowHeight = 20;

RCPtr<Orv::LControlDescriptor> Describe(const char16_t* className, const Orv::WideString& name,
                                        double x, double y, double width, double height,
                                        bool docked)
{
    RCPtr<Orv::LControlDescriptor> descriptor(
        new Orv::LControlDescriptor(className, name, nullptr));
    RCPtr<Orv::LLayoutDescriptor> layout(new Orv::LLayoutDescriptor());
    layout->xPosition.abs = x;
    layout->yPosition.abs = y;
    layout->xSize.abs = width;
    layout->ySize.abs = height;
    layout->xIsDocked = docked;
    layout->yIsDocked = docked;
    descriptor->SetLayout(layout);
    return descriptor;
}

Orv::WideString RowName(int row)
{
    std::u16string name = u"row";
    for (const char digit : std::to_string(row)) {
        name.push_back(static_cast<char16_t>(digit));
    }
    return Orv::WideString(name.c_str());
}

class RowsInAPanel
{
public:
    explicit RowsInAPanel(int rows)
    {
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&token, &input, nullptr);
        application = RCPtr<Orv::LFrameworkApp>(new Orv::LFrameworkApp());
        factory = RCPtr<Orv::LControlFactory>(new Orv::LControlFactory(u"Quorvel"));
        application->SetControlFactory(factory);
        factory->RegisterControlCreateFunction(u"Framework.Panel",
                                               &Orv::ControlCreateFunction<Orv::LPanel>);
        factory->RegisterControlCreateFunction(u"Framework.ScrollBar",
                                               &Orv::ControlCreateFunction<Orv::LScrollbar>);
        factory->RegisterControlCreateFunction(u"Bench.Row",
                                               &Orv::ControlCreateFunction<Orv::LControl>);
        target = std::make_unique<PaintTarget>();
        window = Orv::LRootWindow::Create(RCPtr<Orv::LRenderer>(target->renderer.Get()), nullptr);
        root = factory->CreateControl(
            Describe(u"Bench.Row", u"root", 0, 0, PaintTarget::kWidth, PaintTarget::kHeight, false),
            RCPtr<Orv::LControl>());
        window->SetRootControl(root);
        window->OnClientSizeChanged(Orv::PointL{PaintTarget::kWidth, PaintTarget::kHeight});
        RCPtr<Orv::LControlDescriptor> described =
            Describe(u"Framework.Panel", u"panel", 10, 10, 416, 400, false);
        described->AddSubControl(Describe(u"Framework.ScrollBar", u"vBar", 400, 0, 16, 400, true));
        for (int row = 0; row < rows; ++row) {
            described->AddSubControl(
                Describe(u"Bench.Row", RowName(row), 0, row * kRowHeight, 400, kRowHeight, false));
        }
        panel = RCPtr<Orv::LPanel>(
            dynamic_cast<Orv::LPanel*>(factory->CreateControl(described, root).Get()));
        panel->SetClientExtent(400, 10000 * kRowHeight);
        Paint();
    }
    ~RowsInAPanel()
    {
        panel = nullptr;
        root = nullptr;
        window->DropBackReferences();
        window = nullptr;
        target.reset();
        application->SetControlFactory(nullptr);
        factory = nullptr;
        application = nullptr;
        Gdiplus::GdiplusShutdown(token);
    }
    RowsInAPanel(const RowsInAPanel&) = delete;
    RowsInAPanel& operator=(const RowsInAPanel&) = delete;

    bool Built() const { return panel && panel->IsBarShown(true); }

    // Down one step, then back up, so that the same rows stay in view.
    void Step(bool down)
    {
        panel->OnWheel(
            RCPtr<Orv::LMouseWheelParam>(new Orv::LMouseWheelParam(0, 0, 0, down ? 0 : 1)));
        Paint();
    }

private:
    void Paint()
    {
        window->InvalidateRect(Orv::RectL{0, 0, PaintTarget::kWidth, PaintTarget::kHeight});
        window->PaintContext(target->context, Orv::RectL{});
    }

    ULONG_PTR token = 0;
    RCPtr<Orv::LFrameworkApp> application;
    RCPtr<Orv::LControlFactory> factory;
    std::unique_ptr<PaintTarget> target;
    RCPtr<Orv::LRootWindow> window;
    RCPtr<Orv::LControl> root;
    RCPtr<Orv::LPanel> panel;
};

void WheelStep(benchmark::State& state)
{
    RowsInAPanel rows(static_cast<int>(state.range(0)));
    if (!rows.Built()) {
        state.SkipWithError("the panel was not built");
        return;
    }
    bool down = true;
    for (auto _ : state) {
        rows.Step(down);
        down = !down;
    }
}
BENCHMARK(WheelStep)->Arg(20)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
