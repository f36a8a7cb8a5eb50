// The product's skin in a host window on an X display of the benchmark's own (Xvfb, found with
// -displayfd, stopped by its pid), each against its physical limit in the same run:
// - a full repaint presented to the X window, against XPutImage of the same bytes alone;
// - input to paint: an XTest move onto a control that repaints on hover, until the X server
//   shows its new pixels, against the 33 ms frame and the full repaint;
// - the CPU a shown, unchanging window spends per second (the frame timer's ticks and their idle
//   passes) as a share of one core.
#include <benchmark/benchmark.h>

#include <time.h>

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <afxwin.h>
#include <gdiplus.h>
#include <windows.h>

#include "Application/ControlCreateFunction.h"
#include "Application/FrameworkApp.h"
#include "ControlBase/Control.h"
#include "ControlBase/ControlFactory.h"
#include "ControlBase/OSWindow.h"
#include "ControlBase/RootWindow.h"
#include "Registry/MachineRegistry.h"
#include "Win32Test/Windowing.h"
#include "XvfbServer.h"

// Last: Xlib's macros would clash with the names above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace {

using Orv::LControl;
using Orv::RCPtr;

constexpr int kWidth = 1024;
constexpr int kHeight = 768;
constexpr int kLeft = 0;
constexpr int kTop = 0;
constexpr uint32_t kHoverColour = 0xFF00FF;

// A skin control; the support button shows a flat colour while the pointer is over it, and only
// it repaints on hover, so the latency is that of one control's paint.
class HoverControl : public LControl
{
public:
    HoverControl(const RCPtr<LControl>& parent, const Orv::WideString& name)
        : LControl(parent, name)
    {
    }
    Orv::ORVRESULT OnMouseEnter() override
    {
        hovered = true;
        if (IsProbe()) {
            InvalidateRect(Orv::RectD{0, 0, GetRect().width, GetRect().height}, true);
        }
        return LControl::OnMouseEnter();
    }
    Orv::ORVRESULT OnMouseLeave() override
    {
        hovered = false;
        if (IsProbe()) {
            InvalidateRect(Orv::RectD{0, 0, GetRect().width, GetRect().height}, true);
        }
        return LControl::OnMouseLeave();
    }
    Orv::ORVRESULT Draw(Orv::LRenderer& renderer, const Orv::RectRegion& dirty,
                        Orv::RCPtrArray<LControl>& overlays, bool overlayPass) override
    {
        const Orv::ORVRESULT result = LControl::Draw(renderer, dirty, overlays, overlayPass);
        if (hovered && IsProbe()) {
            // Whether the origin is left at the parent's content or at the window after the
            // base drawing, one of the two rectangles is this control's; the clip keeps the
            // other inside the parent.
            const Orv::PointD at = GetPositionInRoot();
            const Orv::RectD& rect = GetRect();
            for (const Orv::PointD& corner : {at, Orv::PointD{rect.x, rect.y}}) {
                renderer.FillRect(Orv::RectT<Orv::LongCoord>{static_cast<int32_t>(corner.x),
                                                             static_cast<int32_t>(corner.y),
                                                             static_cast<int32_t>(rect.width),
                                                             static_cast<int32_t>(rect.height)},
                                  Orv::ColorT(1.0f, 0.0f, 1.0f, 1.0f), false);
            }
        }
        return result;
    }
    bool IsProbe() const { return GetName() == Orv::WideString(u"buttonSupport"); }
    bool hovered = false;
};

RCPtr<LControl>& CreateHover(RCPtr<LControl>& result, const RCPtr<LControl>& parent,
                             const RCPtr<Orv::LControlDescriptor>& descriptor)
{
    return Orv::ControlCreateFunction<HoverControl>(result, parent, descriptor);
}

void CollectClasses(const Orv::LControlDescriptor& descriptor, std::set<std::u16string>& into)
{
    into.insert(descriptor.className.GetText());
    for (uint32_t i = 0; i < descriptor.subControls.GetCount(); ++i) {
        CollectClasses(*descriptor.subControls.GetData()[i], into);
    }
}

// Counts the frame timer's ticks and runs the framework's idle pass as the MFC host does.
class BenchApp : public CWinApp
{
public:
    BenchApp() : CWinApp(u"Quorvel") {}
    BOOL OnIdle(LONG count) override
    {
        if (count == 0) {
            ++idlePasses;
            Orv::GetFrameworkApp()->OnIdle(true);
        }
        return CWinApp::OnIdle(count);
    }
    BOOL PreTranslateMessage(MSG* message) override
    {
        ticks += message->message == WM_TIMER && message->lParam == 0 ? 1 : 0;
        return FALSE;
    }
    int ticks = 0;
    int idlePasses = 0;
};

// One display, one window of the product's skin, for the whole run.
struct Rig
{
    Rig()
    {
        std::string why;
        if (!server.Start(&why, "1280x1024x24")) {
            failure = why;
            return;
        }
        tester = XOpenDisplay(server.Name().c_str());
        if (tester == nullptr || !Win32Test::UseDisplay(server.Name().c_str())) {
            failure = "the display did not open";
            return;
        }
        Platform::Registry::MachineRegistry::Instance().Open({});
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&token, &input, nullptr);
        winApp = std::make_unique<BenchApp>();
        app = RCPtr<Orv::LFrameworkApp>(new Orv::LFrameworkApp());
        factory = RCPtr<Orv::LControlFactory>(new Orv::LControlFactory(u"Quorvel"));
        app->SetControlFactory(factory);
        if (factory->LoadSkinsAndStrings(u"::", 0x0409) < 0) {
            failure = "the skins do not load";
            return;
        }
        std::set<std::u16string> classes;
        for (uint32_t i = 0; i < factory->GetSkins().GetCount(); ++i) {
            CollectClasses(*factory->GetSkins().GetData()[i], classes);
        }
        for (const std::u16string& name : classes) {
            factory->RegisterControlCreateFunction(name.c_str(), &CreateHover);
        }
        host = new Orv::OSWindow();
        if (!host->CreateEx(0, nullptr, u"Quorvel", WS_POPUP | WS_VISIBLE, kLeft, kTop, kWidth,
                            kHeight, nullptr, nullptr)) {
            failure = "no window";
            return;
        }
        host->CreateRenderer(Orv::kRendererGdiPlus);
        root = host->GetRootWindow();
        root->SetRootControlByName(u"mainControl");
        root->OnClientSizeChanged(Orv::PointL{kWidth, kHeight});
        native = static_cast<Window>(Win32Test::GetNativeWindow(host->m_hWnd));
        SetActiveWindow(host->m_hWnd);
        SetForegroundWindow(host->m_hWnd);
        Settle();
    }

    ~Rig()
    {
        if (host != nullptr && CWnd::FromHandlePermanent(host->m_hWnd) == host) {
            delete host;
        }
        root = nullptr;
        if (app) {
            app->SetControlFactory(nullptr);
        }
        factory = nullptr;
        app = nullptr;
        winApp.reset();
        if (token != 0) {
            Gdiplus::GdiplusShutdown(token);
        }
        if (tester != nullptr) {
            XCloseDisplay(tester);
        }
    }

    void Pump()
    {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        app->OnIdle(false);
    }

    void Settle()
    {
        XSync(tester, False);
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
        while (std::chrono::steady_clock::now() < end) {
            Pump();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    // The whole tree drawn and presented; the X server has it when this returns.
    void FullRepaint()
    {
        root->InvalidateRect(Orv::RectL{0, 0, kWidth, kHeight});
        UpdateWindow(host->m_hWnd);
        XSync(tester, False);
    }

    uint32_t PixelAt(int x, int y)
    {
        XImage* image = XGetImage(tester, native, x, y, 1, 1, AllPlanes, ZPixmap);
        if (image == nullptr) {
            return 0;
        }
        const auto pixel = static_cast<uint32_t>(XGetPixel(image, 0, 0)) & 0xFFFFFF;
        XDestroyImage(image);
        return pixel;
    }

    XvfbServer server;
    std::string failure;
    Display* tester = nullptr;
    ULONG_PTR token = 0;
    std::unique_ptr<BenchApp> winApp;
    RCPtr<Orv::LFrameworkApp> app;
    RCPtr<Orv::LControlFactory> factory;
    Orv::OSWindow* host = nullptr;
    RCPtr<Orv::LRootWindow> root;
    Window native = 0;
};

// Made by the first benchmark, taken down by main before the program's exit: the windowing
// layer's per-thread state is gone by the time static objects are destroyed.
std::unique_ptr<Rig> theRig;

Rig& TheRig()
{
    if (!theRig) {
        theRig = std::make_unique<Rig>();
    }
    return *theRig;
}

double secondsPerFullRepaint = 0.0;

template <typename Work>
double SecondsPerRun(int runs, Work&& work)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < runs; ++i) {
        work();
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / runs;
}

void FullRepaintAgainstPutImage(benchmark::State& state)
{
    Rig& rig = TheRig();
    if (!rig.failure.empty()) {
        state.SkipWithError(rig.failure.c_str());
        return;
    }
    // The limit: the same bytes put into the same window by a client that only sends them.
    std::vector<uint32_t> bytes(static_cast<size_t>(kWidth) * kHeight, 0x2B2E36);
    Visual* visual = DefaultVisual(rig.tester, DefaultScreen(rig.tester));
    XImage* image = XCreateImage(rig.tester, visual, 24, ZPixmap, 0,
                                 reinterpret_cast<char*>(bytes.data()), kWidth, kHeight, 32, 0);
    GC gc = XCreateGC(rig.tester, rig.native, 0, nullptr);
    const double putImage = SecondsPerRun(20, [&] {
        XPutImage(rig.tester, rig.native, gc, image, 0, 0, 0, 0, kWidth, kHeight);
        XSync(rig.tester, False);
    });
    XFreeGC(rig.tester, gc);
    image->data = nullptr;  // ours
    XDestroyImage(image);

    const auto start = std::chrono::steady_clock::now();
    int64_t repaints = 0;
    for (auto _ : state) {
        rig.FullRepaint();
        ++repaints;
    }
    secondsPerFullRepaint =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
        static_cast<double>(repaints);
    state.counters["putimage_ms"] = putImage * 1000.0;
    state.counters["repaint_ms"] = secondsPerFullRepaint * 1000.0;
    state.counters["ratio_to_putimage"] = secondsPerFullRepaint / putImage;
}
BENCHMARK(FullRepaintAgainstPutImage)->Unit(benchmark::kMillisecond)->Iterations(30);

void InputToPaintLatency(benchmark::State& state)
{
    Rig& rig = TheRig();
    if (!rig.failure.empty()) {
        state.SkipWithError(rig.failure.c_str());
        return;
    }
    const RCPtr<LControl> button = rig.root->GetRootControl()
                                       ? rig.root->GetRootControl()->FindChild(u"viewDevice")
                                       : RCPtr<LControl>();
    const RCPtr<LControl> target = button ? button->FindChild(u"buttonSupport") : button;
    if (!target) {
        state.SkipWithError("no buttonSupport in the skin");
        return;
    }
    const Orv::PointD at = target->GetPositionInRoot();
    const int x = kLeft + static_cast<int>(at.x + target->GetRect().width / 2);
    const int y = kTop + static_cast<int>(at.y + target->GetRect().height / 2);
    double total = 0.0;
    int64_t moves = 0;
    for (auto _ : state) {
        // Off the control, settled, then the timed move onto it.
        state.PauseTiming();
        XTestFakeMotionEvent(rig.tester, -1, kLeft + 900, kTop + 700, CurrentTime);
        XFlush(rig.tester);
        for (int i = 0; i < 2000 && rig.PixelAt(x, y) == kHoverColour; ++i) {
            rig.Pump();
        }
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        XTestFakeMotionEvent(rig.tester, -1, x, y, CurrentTime);
        XFlush(rig.tester);
        bool shown = false;
        for (int i = 0; i < 100000 && !shown; ++i) {
            rig.Pump();
            shown = rig.PixelAt(x, y) == kHoverColour;
        }
        if (!shown) {
            state.SkipWithError("the hover never showed");
            return;
        }
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++moves;
    }
    const double latency = total / static_cast<double>(moves);
    state.counters["latency_ms"] = latency * 1000.0;
    state.counters["share_of_33ms_frame"] = latency / 0.033;
    if (secondsPerFullRepaint > 0.0) {
        state.counters["ratio_to_full_repaint"] = latency / secondsPerFullRepaint;
    }
}
BENCHMARK(InputToPaintLatency)->Unit(benchmark::kMillisecond)->Iterations(20);

double ProcessCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void CALLBACK EndSecond(HWND, UINT, UINT_PTR, DWORD)
{
    PostQuitMessage(0);
}

void IdleWindowCpuPerSecond(benchmark::State& state)
{
    Rig& rig = TheRig();
    if (!rig.failure.empty()) {
        state.SkipWithError(rig.failure.c_str());
        return;
    }
    rig.Settle();
    double cpu = 0.0;
    double wall = 0.0;
    int ticks = 0;
    int idles = 0;
    for (auto _ : state) {
        rig.winApp->ticks = 0;
        rig.winApp->idlePasses = 0;
        const UINT_PTR second = SetTimer(nullptr, 0, 1000, &EndSecond);
        const double cpuStart = ProcessCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        rig.winApp->Run();
        KillTimer(nullptr, second);  // a thread timer repeats
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpu += ProcessCpuSeconds() - cpuStart;
        ticks += rig.winApp->ticks;
        idles += rig.winApp->idlePasses;
    }
    state.counters["cpu_share_of_one_core"] = cpu / wall;
    state.counters["ticks_per_second"] = ticks / wall;
    state.counters["idle_passes_per_second"] = idles / wall;
}
BENCHMARK(IdleWindowCpuPerSecond)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    theRig.reset();  // the window, then the server, stopped by its pid
    benchmark::Shutdown();
    return 0;
}
