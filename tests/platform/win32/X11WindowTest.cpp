// Windows on an X display: pixels, input through XTest, exposure, title, close and resize.

#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include <gdiplus.h>
#include <windows.h>

#include "MessageSequence.h"
#include "Win32Test/HeadlessWindow.h"
#include "Win32Test/Windowing.h"
#include "XvfbServer.h"

// Last: Xlib's macros (None, Status, Bool) would clash with the names above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

using namespace MessageSequence;

XvfbServer* server = nullptr;
Display* tester = nullptr;  // the test's own connection, as another program's
std::vector<SHORT> buttonStateInPress;
std::vector<RECT> paintedRects;
std::vector<std::pair<WPARAM, RECT>> sizingProposals;  // edge, proposed window rectangle
LONG sizingMostWidth = 0;                              // a drag wider than this is held back

LRESULT CALLBACK DrawingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PAINT) {
        RECT update{};
        GetUpdateRect(window, &update, FALSE);
        paintedRects.push_back(update);
        ValidateRect(window, nullptr);
        Gdiplus::GpGraphics* graphics = nullptr;
        if (Gdiplus::GdipCreateFromHWND(window, &graphics) == Gdiplus::Ok) {
            Gdiplus::GdipGraphicsClear(graphics, 0xFF204060);
            Gdiplus::GpSolidFill* red = nullptr;
            Gdiplus::GdipCreateSolidFill(0xFFFF0000, &red);
            Gdiplus::GdipFillRectangleI(graphics, red, 5, 5, 20, 10);
            Gdiplus::GpSolidFill* green = nullptr;
            Gdiplus::GdipCreateSolidFill(0xFF00C000, &green);
            Gdiplus::GdipFillRectangleI(graphics, green, 30, 12, 24, 24);
            Gdiplus::GdipDeleteBrush(red);
            Gdiplus::GdipDeleteBrush(green);
            Gdiplus::GdipDeleteGraphics(graphics);  // reaches the X window
        }
        return 0;
    }
    if (message == WM_LBUTTONDOWN) {
        buttonStateInPress.push_back(GetKeyState(VK_LBUTTON));
    }
    if (message == WM_SIZING) {
        auto* proposed = reinterpret_cast<RECT*>(lParam);
        sizingProposals.emplace_back(wParam, *proposed);
        if (sizingMostWidth != 0 && proposed->right - proposed->left > sizingMostWidth) {
            proposed->right = proposed->left + sizingMostWidth;
        }
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class X11Windows : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        server = new XvfbServer;
        std::string why;
        if (!server->Start(&why)) {
            serverFailure = why;
            return;
        }
        tester = XOpenDisplay(server->Name().c_str());
        ASSERT_NE(tester, nullptr);
        ASSERT_TRUE(Win32Test::UseDisplay(server->Name().c_str()));
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&token, &input, nullptr);
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
        // scripts/setup installs Xvfb: without a server every test here fails, none passes over.
        ASSERT_TRUE(serverFailure.empty()) << "no X server for the test: " << serverFailure;
        paintedRects.clear();
        buttonStateInPress.clear();
        sizingProposals.clear();
        sizingMostWidth = 0;
        WNDCLASSW windowClass{};
        windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
        windowClass.lpfnWndProc = DrawingProcedure;
        windowClass.lpszClassName = u"X11Test";
        WNDCLASSW existing{};
        if (!GetClassInfoW(nullptr, u"X11Test", &existing)) {
            ASSERT_NE(RegisterClassW(&windowClass), 0);
        }
        window = CreateWindowExW(0, u"X11Test", u"x11", WS_POPUP | WS_VISIBLE | WS_THICKFRAME,
                                 kLeft, kTop, kWidth, kHeight, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window, nullptr);
        native = static_cast<Window>(Win32Test::GetNativeWindow(window));
        ASSERT_NE(native, 0u);
        // Mapped, exposed and painted.
        ASSERT_TRUE(PumpUntil([] { return !paintedRects.empty(); }));
        XSync(tester, False);
        Settle();
        Win32Test::StartMessageLog(window);
    }

    void TearDown() override
    {
        if (IsWindow(window)) {
            DestroyWindow(window);
        }
        Settle();
    }

    // Dispatches messages until the condition holds (true) or 5 s pass (false).
    static bool PumpUntil(const std::function<bool()>& done)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < end) {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
            if (done()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    // Lets what the server sends arrive and be handled.
    static void Settle()
    {
        if (tester != nullptr) {
            XSync(tester, False);
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(150);
        PumpUntil([&] { return std::chrono::steady_clock::now() >= end; });
    }

    std::vector<Win32Test::Message> Received(UINT message)
    {
        std::vector<Win32Test::Message> out;
        for (const auto& m : Win32Test::TakeMessages(window)) {
            if (m.message == message) {
                out.push_back(m);
            }
        }
        return out;
    }

    static void Key(KeySym keysym, bool down)
    {
        XTestFakeKeyEvent(tester, XKeysymToKeycode(tester, keysym), down ? True : False,
                          CurrentTime);
        XFlush(tester);
    }

    static constexpr int kLeft = 40;
    static constexpr int kTop = 30;
    static constexpr int kWidth = 64;
    static constexpr int kHeight = 48;
    static inline std::string serverFailure;
    static inline ULONG_PTR token = 0;
    HWND window = nullptr;
    Window native = 0;
};

TEST_F(X11Windows, DrawnPixelsReadBackAsOnTheSurface)
{
    XImage* image = XGetImage(tester, native, 0, 0, kWidth, kHeight, AllPlanes, ZPixmap);
    ASSERT_NE(image, nullptr);
    int differences = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const uint32_t shown = static_cast<uint32_t>(XGetPixel(image, x, y)) & 0xFFFFFF;
            const uint32_t drawn = Win32Test::GetWindowPixel(window, x, y) & 0xFFFFFF;
            differences += shown != drawn ? 1 : 0;
        }
    }
    EXPECT_EQ(differences, 0);
    EXPECT_EQ(XGetPixel(image, 10, 10) & 0xFFFFFF, 0xFF0000u) << "the red rectangle";
    EXPECT_EQ(XGetPixel(image, 42, 24) & 0xFFFFFF, 0x00C000u) << "the green square";
    EXPECT_EQ(XGetPixel(image, 60, 45) & 0xFFFFFF, 0x204060u) << "the background";

    // The screenshot stays in the build folder.
    cairo_surface_t* png = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight);
    auto* rows = cairo_image_surface_get_data(png);
    const int stride = cairo_image_surface_get_stride(png);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            reinterpret_cast<uint32_t*>(rows + y * stride)[x] =
                static_cast<uint32_t>(XGetPixel(image, x, y));
        }
    }
    cairo_surface_mark_dirty(png);
    EXPECT_EQ(cairo_surface_write_to_png(png, ORV_SCREENSHOT_FILE), CAIRO_STATUS_SUCCESS);
    cairo_surface_destroy(png);
    XDestroyImage(image);
}

TEST_F(X11Windows, PointerInputArrivesAsMouseMessages)
{
    XTestFakeMotionEvent(tester, -1, kLeft + 7, kTop + 9, CurrentTime);
    XFlush(tester);
    ASSERT_TRUE(PumpUntil([&] {
        for (const auto& m : Win32Test::TakeMessages(window)) {
            if (m.message == WM_MOUSEMOVE) {
                EXPECT_EQ(m.lParam, MAKELPARAM(7, 9));
                return true;
            }
        }
        return false;
    }));
    XTestFakeButtonEvent(tester, 1, True, CurrentTime);
    XTestFakeButtonEvent(tester, 1, False, CurrentTime);
    XTestFakeButtonEvent(tester, 4, True, CurrentTime);
    XTestFakeButtonEvent(tester, 4, False, CurrentTime);
    XFlush(tester);
    Settle();
    std::vector<Win32Test::Message> all = Win32Test::TakeMessages(window);
    EXPECT_TRUE(MatchSequence(all,
                              {{WM_LBUTTONDOWN, kPosted | kLParam, 0, MAKELPARAM(7, 9)},
                               {WM_LBUTTONUP, kPosted | kLParam, 0, MAKELPARAM(7, 9)},
                               {WM_MOUSEWHEEL, kPosted | kWParam | kLParam, MAKEWPARAM(0, 120),
                                MAKELPARAM(kLeft + 7, kTop + 9)}},
                              {WM_MOUSEMOVE, WM_SETCURSOR, WM_NCACTIVATE, WM_ACTIVATE, WM_SETFOCUS,
                               WM_KILLFOCUS, WM_ACTIVATEAPP, WM_PAINT}));
    ASSERT_EQ(buttonStateInPress.size(), 1u);
    EXPECT_LT(buttonStateInPress[0], 0) << "GetKeyState reports the button inside the handler";

    // Captured: a move left of the window is a negative client point.
    SetCapture(window);
    Settle();
    Win32Test::TakeMessages(window);
    XTestFakeMotionEvent(tester, -1, kLeft - 10, kTop + 5, CurrentTime);
    XFlush(tester);
    ASSERT_TRUE(PumpUntil([&] {
        for (const auto& m : Win32Test::TakeMessages(window)) {
            if (m.message == WM_MOUSEMOVE) {
                EXPECT_EQ(GET_X_LPARAM(m.lParam), -10);
                EXPECT_EQ(GET_Y_LPARAM(m.lParam), 5);
                return true;
            }
        }
        return false;
    }));
    ReleaseCapture();
}

TEST_F(X11Windows, KeysArriveAsKeyMessagesAndCharacters)
{
    XTestFakeMotionEvent(tester, -1, kLeft + 5, kTop + 5, CurrentTime);
    SetFocus(window);
    Settle();
    Win32Test::TakeMessages(window);
    Key(XK_Shift_L, true);
    Key(XK_a, true);
    Key(XK_a, false);
    Key(XK_Shift_L, false);
    Settle();
    constexpr LPARAM kWasDown = 1 << 30;
    EXPECT_TRUE(MatchSequence(Win32Test::TakeMessages(window),
                              {{WM_KEYDOWN, kPosted | kWParam, VK_SHIFT},
                               {WM_KEYDOWN, kPosted | kWParam, 'A'},
                               {WM_CHAR, kPosted | kWParam, 'A'},
                               {WM_KEYUP, kPosted | kWParam, 'A'},
                               {WM_KEYUP, kPosted | kWParam, VK_SHIFT}},
                              {WM_MOUSEMOVE, WM_SETCURSOR, WM_PAINT}));
    // Held: the server repeats the press (detectable auto-repeat, no release between).
    Key(XK_c, true);
    std::vector<Win32Test::Message> keys;
    ASSERT_TRUE(PumpUntil([&] {
        for (const auto& m : Win32Test::TakeMessages(window)) {
            if (m.message == WM_KEYDOWN || m.message == WM_KEYUP) {
                keys.push_back(m);
            }
        }
        return keys.size() >= 3;
    }));
    Key(XK_c, false);
    for (size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(keys[i].message, WM_KEYDOWN) << i;
        EXPECT_EQ(keys[i].wParam, static_cast<WPARAM>('C'));
        EXPECT_EQ(keys[i].lParam & kWasDown, i == 0 ? 0 : kWasDown) << i;
    }
    Key(XK_c, false);
    Settle();
}

TEST_F(X11Windows, UncoveringPaintsThatRectangle)
{
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    Window cover =
        XCreateWindow(tester, DefaultRootWindow(tester), kLeft + 10, kTop + 8, 20, 15, 0,
                      CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect, &attributes);
    XMapRaised(tester, cover);
    XSync(tester, False);
    Settle();
    paintedRects.clear();
    XUnmapWindow(tester, cover);
    XDestroyWindow(tester, cover);
    XSync(tester, False);
    ASSERT_TRUE(PumpUntil([] { return !paintedRects.empty(); }));
    Settle();
    ASSERT_EQ(paintedRects.size(), 1u);
    EXPECT_EQ(paintedRects[0].left, 10);
    EXPECT_EQ(paintedRects[0].top, 8);
    EXPECT_EQ(paintedRects[0].right, 30);
    EXPECT_EQ(paintedRects[0].bottom, 23);
}

TEST_F(X11Windows, TitleIsTheUtf8NetWmName)
{
    ASSERT_TRUE(SetWindowTextW(window, u"Quorvel \u00e9\u2713"));
    XSync(tester, False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    ASSERT_EQ(XGetWindowProperty(tester, native, XInternAtom(tester, "_NET_WM_NAME", False), 0, 64,
                                 False, XInternAtom(tester, "UTF8_STRING", False), &type, &format,
                                 &count, &after, &data),
              Success);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), count), "Quorvel \xc3\xa9\xe2\x9c\x93");
    XFree(data);
    XTextProperty name{};
    ASSERT_TRUE(XGetWMName(tester, native, &name));
    XFree(name.value);
}

TEST_F(X11Windows, WindowIsTheClientAreaUntilAWindowManagerReportsItsFrame)
{
    RECT rect{};
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.left * 1000 + rect.top, kLeft * 1000 + kTop);
    EXPECT_EQ(rect.right - rect.left, kWidth);
    const long extents[4] = {3, 4, 20, 5};  // left, right, top, bottom
    XChangeProperty(tester, native, XInternAtom(tester, "_NET_FRAME_EXTENTS", False), XA_CARDINAL,
                    32, PropModeReplace, reinterpret_cast<const unsigned char*>(extents), 4);
    XSync(tester, False);
    ASSERT_TRUE(PumpUntil([&] {
        GetWindowRect(window, &rect);
        return rect.left != kLeft;
    }));
    EXPECT_EQ(rect.left, kLeft - 3);
    EXPECT_EQ(rect.top, kTop - 20);
    EXPECT_EQ(rect.right, kLeft + kWidth + 4);
    EXPECT_EQ(rect.bottom, kTop + kHeight + 5);
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right * 1000 + client.bottom, kWidth * 1000 + kHeight);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    EXPECT_EQ(origin.x * 1000 + origin.y, kLeft * 1000 + kTop) << "the client area stays";
}

TEST_F(X11Windows, DeleteWindowIsTheCloseCommandAndResizeIsOnePaint)
{
    XResizeWindow(tester, native, 100, 70);
    XSync(tester, False);
    Settle();
    std::vector<Win32Test::Message> resized = Win32Test::TakeMessages(window);
    EXPECT_TRUE(
        MatchSequence(resized,
                      {{WM_SIZING, kSent | kWParam, WMSZ_BOTTOMRIGHT},
                       {WM_SIZE, kSent | kWParam | kLParam, SIZE_RESTORED, MAKELPARAM(100, 70)},
                       {WM_PAINT, kPosted}},
                      {WM_MOVE, WM_SETCURSOR, WM_MOUSEMOVE}));
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right * 1000 + client.bottom, 100 * 1000 + 70);

    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = native;
    close.xclient.message_type = XInternAtom(tester, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = static_cast<long>(XInternAtom(tester, "WM_DELETE_WINDOW", False));
    close.xclient.data.l[1] = CurrentTime;
    XSendEvent(tester, native, False, NoEventMask, &close);
    XFlush(tester);
    HWND handle = window;
    ASSERT_TRUE(PumpUntil([&] { return !IsWindow(handle); }))
        << "WM_SYSCOMMAND SC_CLOSE closes through the default procedure";
}

// The atoms of a window's _NET_WM_STATE as the server holds them.
std::vector<Atom> NetWmState(Window native)
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::vector<Atom> out;
    if (XGetWindowProperty(tester, native, XInternAtom(tester, "_NET_WM_STATE", False), 0, 64,
                           False, XA_ATOM, &type, &format, &count, &after, &data) == Success &&
        data != nullptr) {
        const auto* atoms = reinterpret_cast<const Atom*>(data);
        out.assign(atoms, atoms + count);
    }
    if (data != nullptr) {
        XFree(data);
    }
    return out;
}

bool HasState(Window native, const char* name)
{
    const std::vector<Atom> state = NetWmState(native);
    return std::find(state.begin(), state.end(), XInternAtom(tester, name, False)) != state.end();
}

// The test's connection poses as an EWMH window manager: it names a check window on the root and
// hears the root's substructure (without redirecting it, so windows still map by themselves).
class FakeWindowManager
{
public:
    FakeWindowManager()
    {
        const Window root = DefaultRootWindow(tester);
        check_ = XCreateSimpleWindow(tester, root, 0, 0, 1, 1, 0, 0, 0);
        const Atom property = XInternAtom(tester, "_NET_SUPPORTING_WM_CHECK", False);
        XChangeProperty(tester, check_, property, XA_WINDOW, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&check_), 1);
        XChangeProperty(tester, root, property, XA_WINDOW, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&check_), 1);
        XSelectInput(tester, root, SubstructureNotifyMask);
        XSync(tester, True);
    }

    ~FakeWindowManager()
    {
        const Window root = DefaultRootWindow(tester);
        XSelectInput(tester, root, NoEventMask);
        XDeleteProperty(tester, root, XInternAtom(tester, "_NET_SUPPORTING_WM_CHECK", False));
        XDestroyWindow(tester, check_);
        XSync(tester, True);
    }

    // The _NET_WM_STATE requests the root received, as (action, first property) per window.
    std::vector<std::pair<long, Atom>> StateRequests(Window about)
    {
        XSync(tester, False);
        std::vector<std::pair<long, Atom>> out;
        const Atom netWmState = XInternAtom(tester, "_NET_WM_STATE", False);
        while (XPending(tester) > 0) {
            XEvent event;
            XNextEvent(tester, &event);
            if (event.type == ClientMessage && event.xclient.message_type == netWmState &&
                event.xclient.window == about) {
                out.emplace_back(event.xclient.data.l[0],
                                 static_cast<Atom>(event.xclient.data.l[1]));
            }
        }
        return out;
    }

private:
    Window check_ = 0;
};

TEST_F(X11Windows, TopmostIsKeptAboveThroughTheWindowManagerAndOnTheWindow)
{
    const Atom above = XInternAtom(tester, "_NET_WM_STATE_ABOVE", False);
    struct Case
    {
        HWND insertAfter;
        bool kept;
    };
    const Case cases[] = {{HWND_TOPMOST, true},
                          {HWND_TOPMOST, true},  // again: nothing more to ask
                          {HWND_NOTOPMOST, false},
                          {HWND_TOPMOST, true},
                          {HWND_NOTOPMOST, false}};
    for (const bool manager : {false, true}) {
        std::unique_ptr<FakeWindowManager> wm;
        if (manager) {
            wm = std::make_unique<FakeWindowManager>();
        }
        bool keptBefore = false;
        for (size_t i = 0; i < std::size(cases); ++i) {
            const Case& c = cases[i];
            SCOPED_TRACE(::testing::Message() << (manager ? "manager, " : "no manager, ") << i);
            ASSERT_TRUE(SetWindowPos(window, c.insertAfter, 0, 0, 0, 0,
                                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE));
            XSync(tester, False);
            EXPECT_EQ(HasState(native, "_NET_WM_STATE_ABOVE"), c.kept);
            EXPECT_EQ((GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0, c.kept);
            if (wm) {
                std::vector<std::pair<long, Atom>> expected;
                if (c.kept != keptBefore) {
                    expected.emplace_back(c.kept ? 1 : 0, above);
                }
                EXPECT_EQ(wm->StateRequests(native), expected);
            }
            keptBefore = c.kept;
        }
    }
    // Other states on the window stay as they were.
    const Atom sticky = XInternAtom(tester, "_NET_WM_STATE_STICKY", False);
    XChangeProperty(tester, native, XInternAtom(tester, "_NET_WM_STATE", False), XA_ATOM, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&sticky), 1);
    XSync(tester, False);
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    XSync(tester, False);
    EXPECT_EQ(NetWmState(native), (std::vector<Atom>{sticky, above}));
    SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    XSync(tester, False);
    EXPECT_EQ(NetWmState(native), (std::vector<Atom>{sticky}));
}

// The window's messages of the kinds named, in the order received.
std::vector<Win32Test::Message> OnlyOf(const std::vector<Win32Test::Message>& all,
                                       std::initializer_list<UINT> kinds)
{
    std::vector<Win32Test::Message> out;
    for (const auto& m : all) {
        if (std::find(kinds.begin(), kinds.end(), m.message) != kinds.end()) {
            out.push_back(m);
        }
    }
    return out;
}

TEST_F(X11Windows, AFrameDragIsSizingThenSizeAndTheProgramsResizeIsNot)
{
    struct Case
    {
        const char* what;
        int x, y, width, height;  // the client area the window manager gives
        WPARAM edge;
    };
    // Each from the window as the fixture makes it.
    const Case cases[] = {
        {"right", kLeft, kTop, kWidth + 20, kHeight, WMSZ_RIGHT},
        {"bottom", kLeft, kTop, kWidth, kHeight + 12, WMSZ_BOTTOM},
        {"bottom right", kLeft, kTop, kWidth + 6, kHeight + 7, WMSZ_BOTTOMRIGHT},
        {"left", kLeft - 10, kTop, kWidth + 10, kHeight, WMSZ_LEFT},
        {"top", kLeft, kTop - 5, kWidth, kHeight + 5, WMSZ_TOP},
        {"top left", kLeft - 4, kTop - 3, kWidth + 4, kHeight + 3, WMSZ_TOPLEFT},
        {"top right", kLeft, kTop - 6, kWidth + 8, kHeight + 6, WMSZ_TOPRIGHT},
        {"bottom left", kLeft - 4, kTop, kWidth + 4, kHeight + 9, WMSZ_BOTTOMLEFT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sizingProposals.clear();
        XMoveResizeWindow(tester, native, c.x, c.y, static_cast<unsigned>(c.width),
                          static_cast<unsigned>(c.height));
        XSync(tester, False);
        ASSERT_TRUE(PumpUntil([&] {
            RECT client{};
            GetClientRect(window, &client);
            return client.right == c.width && client.bottom == c.height;
        }));
        EXPECT_TRUE(MatchSequence(
            OnlyOf(Win32Test::TakeMessages(window), {WM_SIZING, WM_SIZE}),
            {{WM_SIZING, kSent | kWParam, c.edge},
             {WM_SIZE, kSent | kWParam | kLParam, SIZE_RESTORED, MAKELPARAM(c.width, c.height)}}));
        ASSERT_EQ(sizingProposals.size(), 1u);
        const RECT& proposed = sizingProposals[0].second;
        EXPECT_EQ(proposed.left * 1000 + proposed.top, c.x * 1000 + c.y);
        EXPECT_EQ(proposed.right * 1000 + proposed.bottom, (c.x + c.width) * 1000 + c.y + c.height);
        // The program puts it back: WM_SIZE without WM_SIZING.
        ASSERT_TRUE(MoveWindow(window, kLeft, kTop, kWidth, kHeight, TRUE));
        Settle();
        EXPECT_TRUE(MatchSequence(OnlyOf(Win32Test::TakeMessages(window), {WM_SIZING, WM_SIZE}),
                                  {{WM_SIZE, kSent | kLParam, 0, MAKELPARAM(kWidth, kHeight)}}));
        EXPECT_EQ(sizingProposals.size(), 1u);
    }

    // The window holds the drag back: the X window takes the size it allows.
    sizingProposals.clear();
    sizingMostWidth = kWidth + 10;
    XResizeWindow(tester, native, kWidth + 40, kHeight);
    XSync(tester, False);
    Settle();
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, kWidth + 10);
    Window root = 0;
    int x = 0;
    int y = 0;
    unsigned width = 0;
    unsigned height = 0;
    unsigned border = 0;
    unsigned depth = 0;
    ASSERT_TRUE(XGetGeometry(tester, native, &root, &x, &y, &width, &height, &border, &depth));
    EXPECT_EQ(width, static_cast<unsigned>(kWidth + 10));
    EXPECT_EQ(sizingProposals.size(), 1u) << "its own answer is not taken for another drag";
}

TEST_F(X11Windows, TheWindowManagersMinimiseAndRestoreAreTheSystemCommands)
{
    const Atom wmState = XInternAtom(tester, "WM_STATE", False);
    const Atom netWmState = XInternAtom(tester, "_NET_WM_STATE", False);
    const Atom hidden = XInternAtom(tester, "_NET_WM_STATE_HIDDEN", False);
    auto setWmState = [&](long state) {
        const long value[2] = {state, 0};
        XChangeProperty(tester, native, wmState, wmState, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(value), 2);
    };
    auto setHidden = [&](bool on) {
        XChangeProperty(tester, native, netWmState, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&hidden), on ? 1 : 0);
    };
    // What a window manager does to the client window, without one running.
    struct Case
    {
        const char* what;
        std::function<void()> minimise;
        std::function<void()> restore;
    };
    const Case cases[] = {
        {"WM_STATE",
         [&] {
             setWmState(IconicState);
             XUnmapWindow(tester, native);
         },
         [&] {
             setWmState(NormalState);
             XMapWindow(tester, native);
         }},
        {"_NET_WM_STATE_HIDDEN",
         [&] {
             setHidden(true);
             XUnmapWindow(tester, native);
         },
         [&] {
             setHidden(false);
             XMapWindow(tester, native);
         }},
        {"iconified, then mapped again",
         [&] {
             setWmState(IconicState);
             XUnmapWindow(tester, native);
         },
         [&] { XMapWindow(tester, native); }},
        {"hidden only", [&] { setHidden(true); }, [&] { setHidden(false); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Win32Test::TakeMessages(window);
        c.minimise();
        XSync(tester, False);
        ASSERT_TRUE(PumpUntil([&] { return IsIconic(window) != FALSE; }));
        Settle();
        EXPECT_TRUE(MatchSequence(
            OnlyOf(Win32Test::TakeMessages(window), {WM_SYSCOMMAND, WM_SIZE}),
            {{WM_SYSCOMMAND, kSent | kWParam, SC_MINIMIZE},
             {WM_SIZE, kSent | kWParam | kLParam, SIZE_MINIMIZED, MAKELPARAM(0, 0)}}));
        c.restore();
        XSync(tester, False);
        ASSERT_TRUE(PumpUntil([&] { return IsIconic(window) == FALSE; }));
        Settle();
        EXPECT_TRUE(MatchSequence(
            OnlyOf(Win32Test::TakeMessages(window), {WM_SYSCOMMAND, WM_SIZE}),
            {{WM_SYSCOMMAND, kSent | kWParam, SC_RESTORE},
             {WM_SIZE, kSent | kWParam | kLParam, SIZE_RESTORED, MAKELPARAM(kWidth, kHeight)}}));
        // Back to a window no window manager has touched.
        XDeleteProperty(tester, native, wmState);
        XDeleteProperty(tester, native, netWmState);
        XSync(tester, False);
        Settle();
        EXPECT_FALSE(IsIconic(window));
    }
    // The program's own minimise is not undone by its own state written on the window.
    ShowWindow(window, SW_MINIMIZE);
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    Settle();
    EXPECT_TRUE(IsIconic(window));
    ShowWindow(window, SW_RESTORE);
    SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

LRESULT CALLBACK PlainProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST_F(X11Windows, EventsForAnotherThreadsWindowAreHandledOnThatThread)
{
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = PlainProcedure;
    windowClass.lpszClassName = u"X11Owned";
    WNDCLASSW existing{};
    if (!GetClassInfoW(nullptr, u"X11Owned", &existing)) {
        ASSERT_NE(RegisterClassW(&windowClass), 0);
    }
    std::mutex lock;
    std::condition_variable changed;
    int stage = 0;  // 1: made; 2: may wait for messages
    HWND other = nullptr;
    DWORD otherThread = 0;
    std::thread owner([&] {
        HWND made = CreateWindowExW(0, u"X11Owned", u"owned", WS_POPUP | WS_VISIBLE | WS_THICKFRAME,
                                    300, 200, 50, 40, nullptr, nullptr, nullptr, nullptr);
        {
            std::unique_lock guard(lock);
            other = made;
            otherThread = GetCurrentThreadId();
            stage = 1;
            changed.notify_all();
            changed.wait(guard, [&] { return stage == 2; });
        }
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        DestroyWindow(made);
    });
    {
        std::unique_lock guard(lock);
        changed.wait(guard, [&] { return stage == 1; });
    }
    // However the test ends, the owner's loop ends and its thread is joined.
    struct Ending
    {
        std::function<void()> run;
        ~Ending() { run(); }
    } ending{[&] {
        {
            std::lock_guard guard(lock);
            stage = 2;
            changed.notify_all();
        }
        PostThreadMessageW(otherThread, WM_QUIT, 0, 0);
        owner.join();
    }};
    ASSERT_NE(other, nullptr);
    const auto otherNative = static_cast<Window>(Win32Test::GetNativeWindow(other));
    Win32Test::StartMessageLog(other);
    // Read here, on a thread that does not own the window, while its owner does not wait.
    XResizeWindow(tester, otherNative, 90, 60);
    const long iconic[2] = {IconicState, 0};
    const Atom wmState = XInternAtom(tester, "WM_STATE", False);
    XSync(tester, False);
    Settle();
    EXPECT_TRUE(OnlyOf(Win32Test::TakeMessages(other), {WM_SIZING, WM_SIZE}).empty())
        << "nothing handled off its thread";
    {
        std::lock_guard guard(lock);
        stage = 2;
        changed.notify_all();
    }
    std::vector<Win32Test::Message> received;
    ASSERT_TRUE(PumpUntil([&] {
        for (const auto& m : Win32Test::TakeMessages(other)) {
            received.push_back(m);
        }
        return !OnlyOf(received, {WM_SIZE}).empty();
    }));
    EXPECT_TRUE(
        MatchSequence(OnlyOf(received, {WM_SIZING, WM_SIZE}),
                      {{WM_SIZING, kSent | kWParam, WMSZ_BOTTOMRIGHT},
                       {WM_SIZE, kSent | kWParam | kLParam, SIZE_RESTORED, MAKELPARAM(90, 60)}}));
    RECT client{};
    GetClientRect(other, &client);
    EXPECT_EQ(client.right * 1000 + client.bottom, 90 * 1000 + 60);

    // While its owner waits in GetMessageW, this thread reading the events as well.
    received.clear();
    XChangeProperty(tester, otherNative, wmState, wmState, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(iconic), 2);
    XSync(tester, False);
    ASSERT_TRUE(PumpUntil([&] {
        for (const auto& m : Win32Test::TakeMessages(other)) {
            received.push_back(m);
        }
        return IsIconic(other) != FALSE;
    }));
    EXPECT_TRUE(
        MatchSequence(OnlyOf(received, {WM_SYSCOMMAND, WM_SIZE}),
                      {{WM_SYSCOMMAND, kSent | kWParam, SC_MINIMIZE},
                       {WM_SIZE, kSent | kWParam | kLParam, SIZE_MINIMIZED, MAKELPARAM(0, 0)}}));
}

}  // namespace
