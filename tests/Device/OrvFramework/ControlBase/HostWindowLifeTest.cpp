// The host window's life: frame timer and idle passes, modal runs, closing, the system close
// command, another instance's command line, size and paint, the placement in the profile.

#include <cstring>

#include "ControlBase/RemoteCommandLine.h"
#include "HostWindowSupport.h"
#include "Notification/NotificationCenter.h"
#include "Renderer/RenderContextInfo.h"

namespace {

using namespace HostWindowTest;
using Names = std::vector<std::string>;

Names Relayouts(const Names& logged)
{
    Names out;
    for (const std::string& entry : logged) {
        if (entry.find("relayout") != std::string::npos) {
            out.push_back(entry);
        }
    }
    return out;
}

void CALLBACK QuitNow(HWND, UINT, UINT_PTR, DWORD)
{
    PostQuitMessage(0);
}

TEST_F(HostWindows, TheFrameTimerTicksThirtyTimesASecondEachTickFollowedByAnIdlePass)
{
    Orv::OSWindow* window = Open(u"p", 100, 80, 200, 150);
    ASSERT_NE(window, nullptr);
    const HWND handle = window->m_hWnd;
    const DWORD start = timeGetTime();
    std::vector<std::string> events;
    winApp->onMessage = [&](const MSG& message) {
        if (message.message == WM_TIMER && message.hwnd == handle) {
            EXPECT_EQ(message.wParam, Orv::OSWindow::kFrameTimerId);
            events.push_back("tick " + std::to_string(timeGetTime() - start));
        }
    };
    app->onIdle = [&] { events.push_back("idle " + std::to_string(timeGetTime() - start)); };
    ASSERT_NE(SetTimer(nullptr, 0, 1000, &QuitNow), 0u);
    winApp->Run();
    winApp->onMessage = nullptr;
    app->onIdle = nullptr;

    int ticks = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        if (events[i].rfind("tick ", 0) != 0) {
            continue;
        }
        const int at = std::stoi(events[i].substr(5));
        if (at >= 1000) {
            continue;
        }
        ++ticks;
        EXPECT_EQ(at, ticks * 33);
        ASSERT_LT(i + 1, events.size());
        EXPECT_EQ(events[i + 1], "idle " + std::to_string(at)) << "after the tick at " << at;
    }
    EXPECT_EQ(ticks, 30);
}

TEST_F(HostWindows, AModalRunIdlesWithItsParentDisabledAndEndsAtTheSystemCloseCommand)
{
    Orv::OSWindow* main = Open(u"main", 100, 80, 300, 200);
    Orv::OSWindow* dialog =
        Open(u"dialog", 150, 120, 100, 60, main->m_hWnd, nullptr, WS_POPUP | WS_CAPTION);
    ASSERT_NE(dialog, nullptr);
    const HWND parent = main->m_hWnd;
    const HWND handle = dialog->m_hWnd;
    int kicks = 0;
    bool parentEnabledInRun = true;
    bool shownInRun = false;
    app->onIdle = [&] {
        ++kicks;
        parentEnabledInRun = parentEnabledInRun && IsWindowEnabled(parent);
        shownInRun = IsWindowVisible(handle) != FALSE;
        EXPECT_TRUE(dialog->IsModal());
    };
    Win32Test::StartMessageLog(nullptr);
    Win32Test::ClickCloseBox(handle);
    const int32_t result = dialog->RunModal();
    app->onIdle = nullptr;

    EXPECT_EQ(result, 0);
    EXPECT_FALSE(IsWindow(handle));
    EXPECT_GT(kicks, 0);
    EXPECT_FALSE(parentEnabledInRun);
    EXPECT_TRUE(shownInRun) << "shown when the run first idles";
    EXPECT_TRUE(IsWindowEnabled(parent));
    EXPECT_EQ(GetActiveWindow(), parent) << "the activation goes back to the parent";
    EXPECT_EQ(app->GetRootWindowCount(), 1);
    Names seen;
    for (const Win32Test::Message& m : Win32Test::TakeMessages(nullptr)) {
        if (m.message == WM_ENABLE && m.window == parent) {
            seen.push_back(m.wParam != 0 ? "parent enabled" : "parent disabled");
        } else if (m.message == WM_ENTERIDLE && m.window == parent) {
            seen.push_back("enter idle");
        } else if (m.message == WM_KICKIDLE && m.window == handle) {
            seen.push_back("kick idle");
        }
    }
    ASSERT_GE(seen.size(), 4u);
    EXPECT_EQ(seen[0], "parent disabled");
    EXPECT_EQ(seen[1], "enter idle");
    EXPECT_EQ(seen[2], "kick idle");
    EXPECT_EQ(seen.back(), "parent enabled");
    Win32Test::StopMessageLogs();
}

TEST_F(HostWindows, ARunEndsWithoutItsWindowWhenQuitOrClosedFromOutside)
{
    struct Case
    {
        const char* what;
        std::function<void(HWND)> before;
        bool quitAgain;
    };
    const Case cases[] = {
        {"WM_QUIT", [](HWND) { PostQuitMessage(5); }, true},
        {"WM_CLOSE from outside", [](HWND window) { PostMessageW(window, WM_CLOSE, 0, 0); }, false},
    };
    Orv::OSWindow* main = Open(u"main", 100, 80, 300, 200);
    ASSERT_NE(main, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Orv::OSWindow* dialog =
            Open(u"dialog", 150, 120, 100, 60, main->m_hWnd, nullptr, WS_POPUP | WS_VISIBLE);
        ASSERT_NE(dialog, nullptr);
        const HWND handle = dialog->m_hWnd;
        const RCPtr<Orv::LRootWindow> root = dialog->GetRootWindow();
        c.before(handle);
        EXPECT_EQ(dialog->RunModal(), -1);
        EXPECT_FALSE(IsWindow(handle));
        EXPECT_EQ(CWnd::FromHandlePermanent(handle), nullptr);
        EXPECT_TRUE(IsWindowEnabled(main->m_hWnd)) << "the parent is enabled again";
        EXPECT_EQ(root->GetOSServices(), nullptr) << "the root window forgot its host";
        EXPECT_EQ(app->GetRootWindowCount(), 1);
        MSG message{};
        const bool quitWaits = PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) &&
                               message.message == WM_QUIT;
        EXPECT_EQ(quitWaits, c.quitAgain);
    }
}

TEST_F(HostWindows, CloseAndEndModalOnAModelessWindowDeleteItCleanly)
{
    struct Case
    {
        const char* what;
        std::function<void(Orv::OSWindow*)> close;
    };
    const Case cases[] = {
        {"WM_CLOSE from outside",
         [](Orv::OSWindow* window) { SendMessageW(window->m_hWnd, WM_CLOSE, 0, 0); }},
        {"EndModal from the root window's queue",
         [this](Orv::OSWindow* window) {
             EXPECT_EQ(window->GetRootWindow()->EndModal(3), S_OK);
             app->OnIdle(false);
         }},
    };
    Orv::OSWindow* main = Open(u"main", 100, 80, 300, 200);
    ASSERT_NE(main, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Orv::OSWindow* other = Open(u"other", 500, 80, 100, 60);
        ASSERT_NE(other, nullptr);
        const HWND handle = other->m_hWnd;
        const RCPtr<Orv::LRootWindow> root = other->GetRootWindow();
        ASSERT_EQ(app->GetRootWindowCount(), 2);
        c.close(other);
        EXPECT_FALSE(IsWindow(handle));
        EXPECT_EQ(CWnd::FromHandlePermanent(handle), nullptr);
        EXPECT_EQ(root->GetOSServices(), nullptr);
        EXPECT_EQ(app->GetRootWindowCount(), 1);
        EXPECT_EQ(app->GetRootWindow(0), main->GetRootWindow());
    }
}

TEST_F(HostWindows, TheCloseCommandAsksTheApplicationOnTheMainWindowAndClosesOthers)
{
    Orv::OSWindow* main = Open(u"main", 100, 80, 300, 200);
    Orv::OSWindow* other = Open(u"other", 500, 80, 100, 60);
    ASSERT_NE(other, nullptr);
    const RCPtr<Orv::LNotificationCenter> center = GetApplicationNotificationCenter();
    ASSERT_TRUE(center);
    app->Register(RCPtr<Orv::LNotificationDistributor>(center.Get()), u"NID_APP_EXIT_REQ");
    Win32Test::ClickCloseBox(main->m_hWnd);
    Drain();
    EXPECT_TRUE(IsWindow(main->m_hWnd)) << "the window stays until the application decides";
    EXPECT_TRUE(app->notifications.empty()) << "posted, not sent";
    center->ProcessQueue(false);
    EXPECT_EQ(app->notifications, Names{"NID_APP_EXIT_REQ"});

    const HWND otherHandle = other->m_hWnd;
    Win32Test::ClickCloseBox(otherHandle);
    Drain();
    EXPECT_TRUE(IsWindow(otherHandle)) << "closed by the next idle pass";
    app->OnIdle(false);
    EXPECT_FALSE(IsWindow(otherHandle));
    EXPECT_EQ(app->notifications.size(), 1u);
}

TEST_F(HostWindows, AnotherInstancesCommandLineIsReadWithinItsBytes)
{
    Orv::OSWindow* main = Open(u"main", 100, 80, 300, 200);
    ASSERT_NE(main, nullptr);
    struct Case
    {
        const char* what;
        ULONG_PTR code;
        std::string bytes;  // sent in a buffer of exactly this size
        bool nullData;
        bool enabled;
        Names expected;
    };
    const Case cases[] = {
        {"text", 0x465, "-renderer_gdi", false, true, {"-renderer_gdi"}},
        {"no terminating zero: only cbData bytes", 0x465, "abc", false, true, {"abc"}},
        {"up to the first zero", 0x465, std::string("ab\0cd", 5), false, true, {"ab"}},
        {"malformed UTF-8 replaced",
         0x465,
         "a\xff\xc3(b\xe2\x82",
         false,
         true,
         {"a\xef\xbf\xbd\xef\xbf\xbd(b\xef\xbf\xbd"}},
        {"UTF-8 kept", 0x465, "\xc3\xa9t\xc3\xa9", false, true, {"\xc3\xa9t\xc3\xa9"}},
        {"empty", 0x465, "", false, true, {""}},
        {"null data", 0x465, "abc", true, true, {}},
        {"another code", 0x466, "abc", false, true, {}},
        {"a disabled window", 0x465, "abc", false, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        app->commandLines.clear();
        main->EnableWindow(c.enabled ? TRUE : FALSE);
        std::unique_ptr<char[]> buffer(new char[c.bytes.size() + (c.bytes.empty() ? 1 : 0)]);
        std::memcpy(buffer.get(), c.bytes.data(), c.bytes.size());
        COPYDATASTRUCT data{c.code, static_cast<DWORD>(c.bytes.size()),
                            c.nullData ? nullptr : buffer.get()};
        Win32Test::StartMessageLog(main->m_hWnd);
        SendMessageW(main->m_hWnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
        EXPECT_EQ(app->commandLines, c.expected);
        main->EnableWindow(TRUE);
    }
    EXPECT_EQ(Orv::DecodeRemoteCommandLine(nullptr, 10).GetLength(), 0);
}

TEST_F(HostWindows, AResizeRelayoutsAndPaintsOnceAndAMinimisedWindowPaintsNothing)
{
    Orv::OSWindow* window = Open(u"p", 100, 80, 200, 150);
    ASSERT_NE(window, nullptr);
    Probe& probe = *probes.back();
    const HWND handle = window->m_hWnd;
    Drain();
    probe.draws = 0;
    Take();

    Win32Test::DragFrame(handle, 300, 200);
    Drain();
    EXPECT_EQ(Relayouts(Take()), Names{"p:relayout 300x200"});
    EXPECT_EQ(probe.draws, 1) << "exactly one paint draws the tree";
    const Orv::RectL viewport = window->GetRenderContext()->GetViewport();
    EXPECT_EQ(viewport.width * 1000 + viewport.height, 300 * 1000 + 200);

    probe.draws = 0;
    Win32Test::Minimise(handle);
    Drain();
    EXPECT_TRUE(IsIconic(handle));
    EXPECT_EQ(Relayouts(Take()), Names{}) << "no relayout for a minimised window";
    EXPECT_EQ(window->GetRenderContext()->GetViewport().width, 0);
    window->GetRootWindow()->InvalidateRect(Orv::RectL{0, 0, 50, 50});
    window->InvalidateAll();
    Drain();
    EXPECT_EQ(probe.draws, 0);

    Win32Test::Restore(handle);
    Drain();
    EXPECT_EQ(Relayouts(Take()), Names{"p:relayout 300x200"});
    EXPECT_EQ(probe.draws, 1) << "restored, the whole tree is drawn";
    EXPECT_EQ(window->GetRenderContext()->GetViewport().width, 300);
}

TEST_F(HostWindows, TheMainWindowsPlacementGoesToTheProfileAndComesBackTheSame)
{
    Win32Test::SetFrameMargins(4, 24, 4, 4);
    Orv::OSWindow* main =
        Open(u"main", 100, 80, 300, 200, nullptr, Orv::LFrameworkApp::GetMainWindowClassName(),
             WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    Orv::OSWindow* other = Open(u"other", 500, 80, 100, 60);
    ASSERT_NE(other, nullptr);
    WNDCLASSW mainClass{};
    ASSERT_TRUE(GetClassInfoW(nullptr, Orv::LFrameworkApp::GetMainWindowClassName(), &mainClass));
    EXPECT_EQ(mainClass.style, 0x2Bu);
    EXPECT_EQ(mainClass.hCursor, LoadCursorW(nullptr, IDC_ARROW));
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(main->m_hWnd, GWL_STYLE));
    EXPECT_EQ(style & (WS_CLIPSIBLINGS | WS_CLIPCHILDREN), WS_CLIPSIBLINGS | WS_CLIPCHILDREN);

    BYTE* data = nullptr;
    UINT bytes = 0;
    SendMessageW(other->m_hWnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(winApp->GetProfileBinary(Orv::LFrameworkApp::GetMainWindowClassName(), u"WP",
                                          &data, &bytes))
        << "only the main window keeps its placement";

    ASSERT_TRUE(MoveWindow(main->m_hWnd, 150, 90, 420, 330, TRUE));
    RECT before{};
    GetWindowRect(main->m_hWnd, &before);
    SendMessageW(main->m_hWnd, WM_CLOSE, 0, 0);
    ASSERT_TRUE(winApp->GetProfileBinary(Orv::LFrameworkApp::GetMainWindowClassName(), u"WP", &data,
                                         &bytes));
    ASSERT_EQ(bytes, 44u);
    WINDOWPLACEMENT placement{};
    std::memcpy(&placement, data, sizeof placement);
    delete[] data;
    EXPECT_EQ(placement.length, 44u);

    Orv::OSWindow* again =
        Open(u"again", 10, 10, 50, 50, nullptr, Orv::LFrameworkApp::GetMainWindowClassName(),
             WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    ASSERT_NE(again, nullptr);
    ASSERT_TRUE(SetWindowPlacement(again->m_hWnd, &placement));
    RECT after{};
    GetWindowRect(again->m_hWnd, &after);
    EXPECT_EQ(after.left, before.left);
    EXPECT_EQ(after.top, before.top);
    EXPECT_EQ(after.right, before.right);
    EXPECT_EQ(after.bottom, before.bottom);
}

TEST_F(HostWindows, SetClientRectPlacesTheClientAreaOfAFramedAndOfAChildWindow)
{
    Win32Test::SetFrameMargins(4, 24, 4, 4);
    Orv::OSWindow* framed =
        Open(u"framed", 100, 80, 300, 200, nullptr, nullptr, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    Orv::OSWindow* child =
        Open(u"child", 10, 20, 60, 40, framed->m_hWnd, nullptr, WS_CHILD | WS_VISIBLE);
    ASSERT_NE(child, nullptr);
    for (Orv::OSWindow* window : {framed, child}) {
        const Orv::RectL wanted{window == framed ? 200 : 400, 150, 240, 120};
        EXPECT_EQ(window->SetClientRect(wanted), S_OK);
        Orv::PointL origin{};
        window->ClientToScreen(origin, Orv::PointL{0, 0});
        Orv::RectL client{};
        window->GetClientRect(client);
        EXPECT_EQ(origin.x, wanted.x);
        EXPECT_EQ(origin.y, wanted.y);
        EXPECT_EQ(client.width, wanted.width);
        EXPECT_EQ(client.height, wanted.height);
    }
}

}  // namespace

namespace {

using namespace HostWindowTest;

TEST_F(HostWindows, DisplayChangesAndPowerEventsRepaintTheWholeTreeOnce)
{
    Orv::OSWindow* main = Open(u"main", 100, 80, 300, 200);
    Orv::OSWindow* other = Open(u"other", 500, 80, 100, 60);
    ASSERT_NE(other, nullptr);
    Probe& mainProbe = *probes[0];
    Probe& otherProbe = *probes[1];
    struct Case
    {
        const char* what;
        std::function<void()> event;
    };
    const Case cases[] = {
        {"display change", [] { Win32Test::ChangeDisplay(1600, 1200); }},
        {"power event", [] { Win32Test::PowerEvent(0x12 /* PBT_APMRESUMEAUTOMATIC */, 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Drain();
        mainProbe.draws = 0;
        otherProbe.draws = 0;
        c.event();
        Drain();
        EXPECT_EQ(mainProbe.draws, 1);
        EXPECT_EQ(otherProbe.draws, 1);
    }
    // The main window answers power events through the application, the others with 1.
    app->powerAnswer = 7;
    EXPECT_EQ(SendMessageW(main->m_hWnd, WM_POWERBROADCAST, 0x12, 0), 7);
    EXPECT_EQ(SendMessageW(other->m_hWnd, WM_POWERBROADCAST, 0x12, 0), 1);
}

}  // namespace

namespace {

using namespace HostWindowTest;

TEST_F(HostWindows, TheWindowServicesAnswerFromTheWindowSystem)
{
    Orv::OSWindow* main = Open(u"main", 100, 80, 300, 200);
    Orv::OSWindow* other = Open(u"other", 500, 80, 100, 60);
    ASSERT_NE(other, nullptr);
    // Activation and focus.
    SetActiveWindow(other->m_hWnd);
    ::SetFocus(other->m_hWnd);
    Drain();
    EXPECT_FALSE(main->IsActive());
    EXPECT_TRUE(other->IsActive());
    EXPECT_TRUE(other->HasFocus());
    EXPECT_EQ(main->SetFocus(), S_OK);
    EXPECT_TRUE(main->HasFocus());
    EXPECT_TRUE(main->IsActive());

    // One cursor for the process: each window answers the one set last, by any window.
    const HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
    const HCURSOR cross = LoadCursorW(nullptr, IDC_CROSS);
    const HCURSOR first = main->SetCursor(hand);
    EXPECT_EQ(other->SetCursor(cross), hand);
    EXPECT_EQ(main->SetCursor(cross), cross) << "unchanged: the class is not touched";
    EXPECT_EQ(Win32Test::GetShownCursor(), cross);
    EXPECT_EQ(reinterpret_cast<HCURSOR>(GetClassLongPtrW(other->m_hWnd, GCL_HCURSOR)), cross);
    main->SetCursor(first);

    // Buttons and pointer: from the messages while the capture is held, from the system else.
    Win32Test::MovePointer(110, 90);
    Win32Test::PressButton(Win32Test::Button::Middle, 110, 90);
    Drain();
    ASSERT_EQ(GetCapture(), main->m_hWnd);
    EXPECT_EQ(main->GetMouseButtons(), 2);
    Orv::PointL pointer{};
    Win32Test::MovePointer(130, 95);  // not yet taken from the queue
    main->GetCursorPosition(pointer);
    EXPECT_EQ(pointer.x * 1000 + pointer.y, 10 * 1000 + 10) << "the last message's point";
    // Another window takes the capture: the buttons and the pointer come from the system again.
    SetCapture(other->m_hWnd);
    Win32Test::ReleaseButton(Win32Test::Button::Middle, 130, 95);
    Drain();
    ReleaseCapture();
    EXPECT_EQ(main->GetMouseButtons(), 0);
    main->GetCursorPosition(pointer);
    EXPECT_EQ(pointer.x * 1000 + pointer.y, 30 * 1000 + 15) << "asked of the system";

    // Without a window handle.
    Orv::OSWindow unattached;
    Orv::RectL rect{1, 2, 3, 4};
    EXPECT_EQ(unattached.GetClientRect(rect), E_FAIL);
    EXPECT_EQ(rect.width, 3) << "not written";
    EXPECT_EQ(unattached.BringToTop(), E_FAIL);
    EXPECT_EQ(unattached.SetTopmost(true), E_FAIL);
    EXPECT_EQ(unattached.SetFocus(), E_FAIL);
    EXPECT_FALSE(unattached.IsActive());
    EXPECT_EQ(unattached.GetNativeHandle(), nullptr);
}

}  // namespace
