// The product's skin in a host window on an X display of the test's own (Xvfb, 24-bit): what
// the X server shows is the off-screen rendering of the same skin, pixel for pixel, and real
// input (XTest) reaches the controls.

#include <cairo.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gdiplus.h>
#include <windows.h>

#include "Application/ApplicationNotificationCenter.h"
#include "Application/ControlCreateFunction.h"
#include "Application/FrameworkApp.h"
#include "ControlBase/Control.h"
#include "ControlBase/ControlFactory.h"
#include "ControlBase/InputPayloads.h"
#include "ControlBase/OSWindow.h"
#include "ControlBase/RootWindow.h"
#include "Notification/NotificationCenter.h"
#include "Registry/MachineRegistry.h"
#include "Renderer/Gdi/GDIRenderContextInfo.h"
#include "Renderer/Gdi/GDIRenderer.h"
#include "Win32Test/Windowing.h"
#include "XvfbServer.h"

// Last: Xlib's macros (None, Status, Bool) would clash with the names above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

using Orv::LControl;
using Orv::PointL;
using Orv::RCPtr;

constexpr int kWidth = 1024;
constexpr int kHeight = 768;
constexpr int kLeft = 20;
constexpr int kTop = 10;

std::vector<std::string>* recorded = nullptr;

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

// Every class of the skin: a plain control that records its input, draws and relayouts.
class Recorder : public LControl
{
public:
    Recorder(const RCPtr<LControl>& parent, const Orv::WideString& name) : LControl(parent, name) {}

    std::string Name() const { return GetName().ToNarrow().GetText(); }
    void Log(const std::string& what) const
    {
        if (recorded != nullptr) {
            recorded->push_back(Name() + ":" + what);
        }
    }
    Orv::ORVRESULT OnMouseDown(const RCPtr<Orv::LMouseButtonParam>& b) override
    {
        Log("down " + std::to_string(b->button) + " at " + std::to_string(b->x) + "," +
            std::to_string(b->y) + " mod " + Hex(static_cast<uint32_t>(b->modifiers)));
        return LControl::OnMouseDown(b);
    }
    Orv::ORVRESULT OnMouseWheel(const RCPtr<Orv::LMouseWheelParam>& w) override
    {
        Log("wheel " + std::to_string(w->wheelCode));
        return S_OK;
    }
    void OnKey(const RCPtr<Orv::LKeyParam>& key) override { Log("key " + Hex(key->key.code)); }
    Orv::ORVRESULT OnRelayout(const PointL& size) override
    {
        Log("relayout " + std::to_string(size.x) + "x" + std::to_string(size.y));
        return LControl::OnRelayout(size);
    }
    Orv::ORVRESULT Draw(Orv::LRenderer& renderer, const Orv::RectRegion& dirty,
                        Orv::RCPtrArray<LControl>& overlays, bool overlayPass) override
    {
        Log("draw");
        return LControl::Draw(renderer, dirty, overlays, overlayPass);
    }
};

RCPtr<LControl>& CreateRecorder(RCPtr<LControl>& result, const RCPtr<LControl>& parent,
                                const RCPtr<Orv::LControlDescriptor>& descriptor)
{
    return Orv::ControlCreateFunction<Recorder>(result, parent, descriptor);
}

void CollectClasses(const Orv::LControlDescriptor& descriptor, std::set<std::u16string>& into)
{
    into.insert(descriptor.className.GetText());
    for (uint32_t i = 0; i < descriptor.subControls.GetCount(); ++i) {
        CollectClasses(*descriptor.subControls.GetData()[i], into);
    }
}

const LControl* FindNamed(const LControl& control, const char* name)
{
    if (control.GetName().ToNarrow().GetText() == std::string(name)) {
        return &control;
    }
    for (uint32_t i = 0; i < control.GetChildren().GetCount(); ++i) {
        if (const LControl* found = FindNamed(
                *control.GetChildren().GetAt(i, LControl::ChildControlList::kInsertionOrder),
                name)) {
            return found;
        }
    }
    return nullptr;
}

int Count(const std::vector<std::string>& log, const std::string& entry)
{
    int count = 0;
    for (const std::string& e : log) {
        count += e == entry ? 1 : 0;
    }
    return count;
}

XvfbServer* server = nullptr;
Display* tester = nullptr;

class HostWindowX11 : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        server = new XvfbServer;
        std::string why;
        if (!server->Start(&why, "1280x1024x24")) {
            serverFailure = why;
            return;
        }
        tester = XOpenDisplay(server->Name().c_str());
        if (tester == nullptr || !Win32Test::UseDisplay(server->Name().c_str())) {
            serverFailure = "the display did not open";
        }
    }

    static void TearDownTestSuite()
    {
        if (tester != nullptr) {
            XCloseDisplay(tester);
            tester = nullptr;
        }
        delete server;  // stops the server by its pid
        server = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(serverFailure.empty()) << "no X server for the test: " << serverFailure;
        recorded = &log;
        Platform::Registry::MachineRegistry::Instance().Open({});
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&gdiplusToken, &input, nullptr), Gdiplus::Ok);
        winApp = std::make_unique<CWinApp>(u"Quorvel");
        app = RCPtr<Orv::LFrameworkApp>(new Orv::LFrameworkApp());
        factory = RCPtr<Orv::LControlFactory>(new Orv::LControlFactory(u"Quorvel"));
        app->SetControlFactory(factory);
        ASSERT_EQ(factory->LoadSkinsAndStrings(u"::", 0x0409), 0);
        std::set<std::u16string> classes;
        for (uint32_t i = 0; i < factory->GetSkins().GetCount(); ++i) {
            CollectClasses(*factory->GetSkins().GetData()[i], classes);
        }
        for (const std::u16string& name : classes) {
            factory->RegisterControlCreateFunction(name.c_str(), &CreateRecorder);
        }
        factory->currentSkinIndex = 0;

        host = new Orv::OSWindow();
        ASSERT_TRUE(host->CreateEx(0, nullptr, u"Quorvel", WS_POPUP | WS_VISIBLE, kLeft, kTop,
                                   kWidth, kHeight, nullptr, nullptr));
        handle = host->m_hWnd;
        ASSERT_EQ(host->CreateRenderer(Orv::kRendererGdiPlus), S_OK);
        const RCPtr<Orv::LRootWindow> root = host->GetRootWindow();
        ASSERT_EQ(root->SetRootControlByName(u"mainControl"), S_OK);
        ASSERT_TRUE(root->GetRootControl());
        root->OnClientSizeChanged(PointL{kWidth, kHeight});
        native = static_cast<Window>(Win32Test::GetNativeWindow(handle));
        ASSERT_NE(native, 0u);
        SetActiveWindow(handle);
        SetForegroundWindow(handle);
        ::SetFocus(handle);
        XSync(tester, False);
        Settle();
    }

    void TearDown() override
    {
        if (CWnd::FromHandlePermanent(handle) == host) {
            delete host;
        }
        host = nullptr;
        Settle();
        app->SetControlFactory(nullptr);
        factory = nullptr;
        app = nullptr;
        winApp.reset();
        Gdiplus::GdiplusShutdown(gdiplusToken);
        recorded = nullptr;
        EXPECT_EQ(LControl::GetLiveCount(), 0);
    }

    // Dispatches messages, with the application's idle pass after each batch, until the
    // condition holds (true) or 5 s pass (false).
    bool PumpUntil(const std::function<bool()>& done)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < end) {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
            if (app) {
                app->OnIdle(false);
            }
            if (done()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    void Settle()
    {
        if (tester != nullptr) {
            XSync(tester, False);
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
        PumpUntil([&] { return std::chrono::steady_clock::now() >= end; });
    }

    // The same skin, laid out for the same client size, painted into a kept off-screen picture.
    std::vector<uint32_t> OffscreenRendering()
    {
        const RCPtr<Orv::LGDIRenderer> renderer(new Orv::LGDIRenderer());
        RCPtr<Orv::LRenderContextInfo> context;
        EXPECT_EQ(renderer->InitRenderContextInfo({0, 0, kWidth, kHeight}, handle, 1, context),
                  S_OK);
        RCPtr<Orv::LRootWindow> window =
            Orv::LRootWindow::Create(RCPtr<Orv::LRenderer>(renderer.Get()), nullptr);
        recorded = nullptr;
        EXPECT_EQ(window->SetRootControlByName(u"mainControl"), S_OK);
        window->OnClientSizeChanged(PointL{kWidth, kHeight});
        window->InvalidateRect(Orv::RectL{0, 0, kWidth, kHeight});
        window->PaintContext(context, Orv::RectL{});
        recorded = &log;
        std::vector<uint32_t> pixels(static_cast<size_t>(kWidth) * kHeight);
        auto* gdi = static_cast<Orv::LGDIRenderContextInfo*>(context.Get());
        Gdiplus::GpBitmap* bitmap = gdi->GetFrontSurface()->GetBitmap();
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                Gdiplus::ARGB colour = 0;
                Gdiplus::GdipBitmapGetPixel(bitmap, x, y, &colour);
                pixels[static_cast<size_t>(y) * kWidth + x] = colour & 0xFFFFFF;
            }
        }
        window->DropBackReferences();
        return pixels;
    }

    std::vector<uint32_t> Shown(int x, int y, int width, int height)
    {
        std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
        XImage* image = XGetImage(tester, native, x, y, static_cast<unsigned>(width),
                                  static_cast<unsigned>(height), AllPlanes, ZPixmap);
        EXPECT_NE(image, nullptr);
        if (image == nullptr) {
            return pixels;
        }
        for (int row = 0; row < height; ++row) {
            for (int column = 0; column < width; ++column) {
                pixels[static_cast<size_t>(row) * width + column] =
                    static_cast<uint32_t>(XGetPixel(image, column, row)) & 0xFFFFFF;
            }
        }
        XDestroyImage(image);
        return pixels;
    }

    static void WritePng(const std::vector<uint32_t>& pixels, const char* path)
    {
        cairo_surface_t* png = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight);
        cairo_surface_flush(png);
        unsigned char* rows = cairo_image_surface_get_data(png);
        const int stride = cairo_image_surface_get_stride(png);
        for (int y = 0; y < kHeight; ++y) {
            std::memcpy(rows + static_cast<ptrdiff_t>(y) * stride,
                        &pixels[static_cast<size_t>(y) * kWidth], static_cast<size_t>(kWidth) * 4);
        }
        cairo_surface_mark_dirty(png);
        EXPECT_EQ(cairo_surface_write_to_png(png, path), CAIRO_STATUS_SUCCESS);
        cairo_surface_destroy(png);
    }

    // The centre of a control, in screen pixels.
    POINT CentreOf(const char* name)
    {
        const LControl* control = FindNamed(*host->GetRootWindow()->GetRootControl(), name);
        EXPECT_NE(control, nullptr) << name;
        if (control == nullptr) {
            return POINT{0, 0};
        }
        const Orv::PointD at = const_cast<LControl*>(control)->GetPositionInRoot();
        return POINT{kLeft + static_cast<LONG>(at.x + control->GetRect().width / 2),
                     kTop + static_cast<LONG>(at.y + control->GetRect().height / 2)};
    }

    static void Key(KeySym keysym, bool down)
    {
        XTestFakeKeyEvent(tester, XKeysymToKeycode(tester, keysym), down ? True : False,
                          CurrentTime);
        XFlush(tester);
    }

    static inline std::string serverFailure;
    ULONG_PTR gdiplusToken = 0;
    std::unique_ptr<CWinApp> winApp;
    RCPtr<Orv::LFrameworkApp> app;
    RCPtr<Orv::LControlFactory> factory;
    Orv::OSWindow* host = nullptr;
    HWND handle = nullptr;
    Window native = 0;
    std::vector<std::string> log;
};

TEST_F(HostWindowX11, TheShownSkinIsTheOffscreenRenderingPixelForPixel)
{
    const std::vector<uint32_t> shown = Shown(0, 0, kWidth, kHeight);
    WritePng(shown, ORV_SCREENSHOT_FILE);
    const std::vector<uint32_t> expected = OffscreenRendering();
    int differences = 0;
    for (size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] != expected[i] && ++differences <= 5) {
            ADD_FAILURE() << "pixel " << i % kWidth << "," << i / kWidth << ": shown "
                          << Hex(shown[i]) << ", off-screen " << Hex(expected[i]);
        }
    }
    EXPECT_EQ(differences, 0);
    // Not a blank window: the skin has several colours.
    std::set<uint32_t> colours(shown.begin(), shown.end());
    EXPECT_GT(colours.size(), 10u);
}

TEST_F(HostWindowX11, PointerWheelAndKeysFromXTestReachTheControls)
{
    const RCPtr<Orv::LRootWindow> root = host->GetRootWindow();
    const POINT button = CentreOf("buttonSupport");
    XTestFakeMotionEvent(tester, -1, button.x, button.y, CurrentTime);
    XFlush(tester);
    ASSERT_TRUE(PumpUntil([&] {
        return root->GetHoverControl() &&
               root->GetHoverControl()->GetName() == Orv::WideString(u"buttonSupport");
    }));

    // A click with Ctrl held, at the control's local point.
    log.clear();
    Key(XK_Control_L, true);
    XTestFakeButtonEvent(tester, 1, True, CurrentTime);
    XTestFakeButtonEvent(tester, 1, False, CurrentTime);
    Key(XK_Control_L, false);
    XFlush(tester);
    const LControl* target = FindNamed(*root->GetRootControl(), "buttonSupport");
    const Orv::PointD origin = const_cast<LControl*>(target)->GetPositionInRoot();
    const std::string click =
        "buttonSupport:down 1 at " + std::to_string(button.x - kLeft - static_cast<int>(origin.x)) +
        "," + std::to_string(button.y - kTop - static_cast<int>(origin.y)) + " mod 1";
    ASSERT_TRUE(PumpUntil([&] { return Count(log, click) == 1; })) << ::testing::PrintToString(log);

    // A wheel notch up over it.
    log.clear();
    XTestFakeButtonEvent(tester, 4, True, CurrentTime);
    XTestFakeButtonEvent(tester, 4, False, CurrentTime);
    XFlush(tester);
    ASSERT_TRUE(PumpUntil([&] { return Count(log, "buttonSupport:wheel 1") == 1; }))
        << ::testing::PrintToString(log);

    // Shift+A to the focus control: the key word with Shift, then the character 'A'.
    root->SetFocusControl(RCPtr<LControl>(const_cast<LControl*>(target)));
    log.clear();
    Key(XK_Shift_L, true);
    Key(XK_a, true);
    Key(XK_a, false);
    Key(XK_Shift_L, false);
    ASSERT_TRUE(PumpUntil([&] { return Count(log, "buttonSupport:key 2000041") == 1; }))
        << ::testing::PrintToString(log);
    EXPECT_EQ(Count(log, "buttonSupport:key 22410000"), 1) << ::testing::PrintToString(log);
}

TEST_F(HostWindowX11, AnUncoveredAreaIsPresentedFromTheKeptSurfaceWithoutDrawing)
{
    const std::vector<uint32_t> before = Shown(100, 60, 200, 150);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    const Window cover =
        XCreateWindow(tester, DefaultRootWindow(tester), kLeft + 100, kTop + 60, 200, 150, 0,
                      CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect, &attributes);
    XMapRaised(tester, cover);
    XSync(tester, False);
    Settle();
    log.clear();
    XUnmapWindow(tester, cover);
    XDestroyWindow(tester, cover);
    XSync(tester, False);
    Settle();
    EXPECT_EQ(Count(log, "mainControl:draw"), 0) << "no control is drawn for an uncovered area";
    EXPECT_EQ(Shown(100, 60, 200, 150), before);
}

TEST_F(HostWindowX11, TheWindowManagersCloseAsksTheApplication)
{
    const RCPtr<Orv::LNotificationCenter> center = GetApplicationNotificationCenter();
    ASSERT_TRUE(center);
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = native;
    close.xclient.message_type = XInternAtom(tester, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = static_cast<long>(XInternAtom(tester, "WM_DELETE_WINDOW", False));
    close.xclient.data.l[1] = CurrentTime;
    XSendEvent(tester, native, False, NoEventMask, &close);
    XFlush(tester);
    // Without the application's idle pass, so that the queued request stays to be seen.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (center->GetQueuedCount() == 0 && std::chrono::steady_clock::now() < end) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(center->GetQueuedCount(), 1);
    EXPECT_TRUE(IsWindow(handle)) << "the window stays until the application decides";
    center->ClearQueue();
}

TEST_F(HostWindowX11, AnXResizeRelayoutsAndRepaintsOnce)
{
    log.clear();
    XResizeWindow(tester, native, 900, 700);
    XSync(tester, False);
    ASSERT_TRUE(PumpUntil([&] { return Count(log, "mainControl:draw") > 0; }));
    Settle();
    EXPECT_EQ(Count(log, "mainControl:relayout 900x700"), 1) << ::testing::PrintToString(log);
    EXPECT_EQ(Count(log, "mainControl:draw"), 1) << ::testing::PrintToString(log);
}

}  // namespace
