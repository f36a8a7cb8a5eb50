// Message order, sending, painting and timers of the headless windowing model.

#include "WindowingFixture.h"

namespace {

using namespace MessageSequence;
using WindowingFixture::Hooks;
using WindowingFixture::Windowing;

TEST_F(Windowing, PostedCloseIsHandledBeforeQuitEvenWhenQuitCameFirst)
{
    Register(u"Plain", 0);
    HWND window = Open(u"Plain", 0, 0, 40, 30);
    ASSERT_NE(window, nullptr);
    Drain();
    Win32Test::StartMessageLog(nullptr);
    PostQuitMessage(7);
    ASSERT_TRUE(PostMessageW(window, WM_CLOSE, 0, 0));
    MSG message;
    int loops = 0;
    while (GetMessageW(&message, nullptr, 0, 0) > 0 && ++loops < 50) {
        DispatchMessageW(&message);
    }
    EXPECT_EQ(message.message, WM_QUIT);
    EXPECT_EQ(message.wParam, 7u);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(MatchSequence(Win32Test::TakeMessages(nullptr),
                              {{WM_CLOSE, kPosted}, {WM_DESTROY, kSent}, {WM_NCDESTROY, kSent}},
                              {WM_NCACTIVATE, WM_ACTIVATE, WM_KILLFOCUS}));
}

TEST_F(Windowing, QueueOrderIsPostedInputQuitPaintTimer)
{
    Register(u"Plain", 0);
    HWND window = Open(u"Plain", 0, 0, 40, 30);
    Drain();
    Win32Test::StartMessageLog(nullptr);
    ASSERT_NE(SetTimer(window, 5, 10, nullptr), 0u);
    Sleep(15);  // the timer is due
    InvalidateRect(window, nullptr, FALSE);
    Win32Test::MovePointer(3, 4);
    PostQuitMessage(0);
    PostMessageW(window, WM_USER, 1, 2);

    std::vector<UINT> order;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        order.push_back(message.message);
        if (message.message == WM_QUIT) {
            continue;
        }
        DispatchMessageW(&message);
        if (message.message == WM_TIMER) {
            break;
        }
    }
    const std::vector<UINT> expected{WM_USER, WM_MOUSEMOVE, WM_QUIT, WM_PAINT, WM_TIMER};
    EXPECT_EQ(order, expected);
    EXPECT_TRUE(MatchSequence(Win32Test::TakeMessages(nullptr),
                              {{WM_USER, kPosted | kWParam | kLParam, 1, 2},
                               {WM_MOUSEMOVE, kPosted | kLParam, 0, MAKELPARAM(3, 4)},
                               {WM_PAINT, kPosted},
                               {WM_TIMER, kPosted | kWParam, 5}},
                              {WM_SETCURSOR}));
}

TEST_F(Windowing, CloseSequenceThroughTheDefaultProcedure)
{
    Register(u"Plain", 0);
    HWND window = Open(u"Plain", 0, 0, 40, 30);
    Drain();
    Win32Test::StartMessageLog(nullptr);
    Win32Test::ClickCloseBox(window);
    PostQuitMessage(0);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    EXPECT_TRUE(MatchSequence(Win32Test::TakeMessages(nullptr),
                              {{WM_SYSCOMMAND, kPosted | kWParam, SC_CLOSE},
                               {WM_CLOSE, kSent},
                               {WM_NCACTIVATE, kSent | kWParam, FALSE},
                               {WM_ACTIVATE, kSent | kWParam, MAKEWPARAM(WA_INACTIVE, 0)},
                               {WM_KILLFOCUS, kSent | kWParam, 0},
                               {WM_DESTROY, kSent},
                               {WM_NCDESTROY, kSent}}));
}

TEST_F(Windowing, SentFromAHandlerRunsBeforeSendReturns)
{
    Register(u"Plain", 0);
    HWND window = Open(u"Plain", 0, 0, 10, 10);
    std::vector<std::string> trace;
    Hooks()[WM_USER] = [&](HWND w, WPARAM, LPARAM, LRESULT* result) {
        trace.push_back("outer in");
        *result = SendMessageW(w, WM_USER + 1, 0, 0) + 1;
        trace.push_back("outer out");
        return true;
    };
    Hooks()[WM_USER + 1] = [&](HWND, WPARAM, LPARAM, LRESULT* result) {
        trace.push_back("inner");
        *result = 41;
        return true;
    };
    Win32Test::StartMessageLog(window);
    EXPECT_EQ(SendMessageW(window, WM_USER, 0, 0), 42);
    EXPECT_EQ(trace, (std::vector<std::string>{"outer in", "inner", "outer out"}));
    EXPECT_TRUE(
        MatchSequence(Win32Test::TakeMessages(window), {{WM_USER, kSent}, {WM_USER + 1, kSent}}));
}

TEST_F(Windowing, SendingToAnotherThreadsWindowIsRefused)
{
    Register(u"Plain", 0);
    HWND window = Open(u"Plain", 0, 0, 10, 10);
    int handled = 0;
    Hooks()[WM_USER] = [&](HWND, WPARAM, LPARAM, LRESULT*) {
        ++handled;
        return false;
    };
    LRESULT result = -1;
    DWORD error = 0;
    std::thread other([&] {
        result = SendMessageW(window, WM_USER, 0, 0);
        error = GetLastError();
    });
    other.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(error, ERROR_NOT_SUPPORTED);
    EXPECT_EQ(handled, 0);
    EXPECT_EQ(SendMessageW(reinterpret_cast<HWND>(0x1234), WM_USER, 0, 0), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(Windowing, A33msTimerFiresThirtyTimesASecondAndCoalescesWhenLate)
{
    Register(u"Plain", 0);
    HWND window = Open(u"Plain", 0, 0, 10, 10);
    Drain();
    ASSERT_EQ(SetTimer(window, 1, 33, nullptr), 1u);
    std::vector<uint64_t> fired;
    MSG message;
    while (Win32Test::VirtualSleepClock() < 1000 && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && Win32Test::VirtualSleepClock() <= 1000) {
            fired.push_back(Win32Test::VirtualSleepClock());
        }
        DispatchMessageW(&message);
    }
    ASSERT_EQ(fired.size(), 30u);
    EXPECT_EQ(fired.front(), 33u);
    EXPECT_EQ(fired.back(), 990u);

    // Late by six periods: one message, and the next a whole period after it.
    const uint64_t late = Win32Test::VirtualSleepClock() + 200;
    Sleep(static_cast<DWORD>(late - Win32Test::VirtualSleepClock()));
    int timers = 0;
    while (PeekMessageW(&message, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE)) {
        ++timers;
    }
    EXPECT_EQ(timers, 1);
    ASSERT_GT(GetMessageW(&message, nullptr, 0, 0), 0);
    EXPECT_EQ(message.message, WM_TIMER);
    EXPECT_EQ(Win32Test::VirtualSleepClock(), late + 33);

    EXPECT_TRUE(KillTimer(window, 1));
    EXPECT_FALSE(KillTimer(window, 1));
    Sleep(100);
    EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) << "killed";
}

TEST_F(Windowing, TimersFireInDueOrderAndThreadTimersCallTheirProcedure)
{
    Register(u"Plain", 0);
    HWND window = Open(u"Plain", 0, 0, 10, 10);
    Drain();
    static std::vector<UINT_PTR> called;
    called.clear();
    SetTimer(window, 7, 70, nullptr);
    SetTimer(window, 3, 30, nullptr);
    const UINT_PTR threadTimer =
        SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR id, DWORD) { called.push_back(id); });
    ASSERT_NE(threadTimer, 0u);
    std::vector<std::pair<UINT_PTR, uint64_t>> order;
    MSG message;
    while (order.size() < 4 && GetMessageW(&message, nullptr, 0, 0) > 0) {
        order.emplace_back(message.wParam, Win32Test::VirtualSleepClock());
        DispatchMessageW(&message);
    }
    const std::vector<std::pair<UINT_PTR, uint64_t>> expected{
        {3, 30}, {threadTimer, 50}, {3, 60}, {7, 70}};
    EXPECT_EQ(order, expected);
    EXPECT_EQ(called, (std::vector<UINT_PTR>{threadTimer}));
}

TEST_F(Windowing, RedrawWindowPaintsBeforeItReturns)
{
    Register(u"Plain", 0);
    HWND window = Open(u"Plain", 0, 0, 50, 40);
    Drain();
    RECT seen{};
    Hooks()[WM_PAINT] = [&](HWND w, WPARAM, LPARAM, LRESULT*) {
        GetUpdateRect(w, &seen, FALSE);
        return false;  // the default validates
    };
    Win32Test::StartMessageLog(window);
    const RECT part{5, 6, 15, 16};
    ASSERT_TRUE(RedrawWindow(window, &part, nullptr, RDW_INVALIDATE | RDW_UPDATENOW));
    EXPECT_TRUE(MatchSequence(Win32Test::TakeMessages(window), {{WM_PAINT, kSent}}));
    EXPECT_EQ(seen.left * 1000 + seen.top * 100 + seen.right * 10 + seen.bottom,
              5 * 1000 + 6 * 100 + 15 * 10 + 16);
    RECT after{};
    EXPECT_FALSE(GetUpdateRect(window, &after, FALSE));

    // Without RDW_UPDATENOW the paint waits for the queue.
    RedrawWindow(window, &part, nullptr, RDW_INVALIDATE);
    EXPECT_TRUE(Win32Test::TakeMessages(window).empty());
    Drain();
    EXPECT_TRUE(MatchSequence(Win32Test::TakeMessages(window), {{WM_PAINT, kPosted}}));
}

TEST_F(Windowing, UpdateRegionAddsAndSubtracts)
{
    Register(u"Plain", 0);
    HWND window = Open(u"Plain", 0, 0, 100, 100);
    ValidateRect(window, nullptr);
    const RECT a{10, 10, 20, 20};
    const RECT b{50, 60, 70, 80};
    InvalidateRect(window, &a, FALSE);
    InvalidateRect(window, &b, FALSE);
    RECT bounds{};
    ASSERT_TRUE(GetUpdateRect(window, &bounds, FALSE));
    EXPECT_EQ(bounds.left + bounds.top * 1000 + bounds.right * 1000000,
              10 + 10 * 1000 + 70 * 1000000);
    EXPECT_EQ(bounds.bottom, 80);
    ValidateRect(window, &a);
    ASSERT_TRUE(GetUpdateRect(window, &bounds, FALSE));
    EXPECT_EQ(bounds.left, 50) << "what is left of the region is b";
    const RECT outside{200, 200, 300, 300};
    ValidateRect(window, &b);
    InvalidateRect(window, &outside, FALSE);
    EXPECT_FALSE(GetUpdateRect(window, &bounds, FALSE)) << "clipped to the client area";
}

struct ResizeCase
{
    const char* name;
    UINT classStyle;
    int width;
    int height;
    int paints;
    RECT painted;  // the update rectangle in the one paint
};

class ResizePaints : public Windowing, public ::testing::WithParamInterface<ResizeCase>
{
};

TEST_P(ResizePaints, GiveOnePaintOfWhatChanged)
{
    const ResizeCase& c = GetParam();
    Register(u"Sized", c.classStyle);
    HWND window = Open(u"Sized", 10, 10, 60, 40);
    Drain();
    std::vector<RECT> painted;
    Hooks()[WM_PAINT] = [&](HWND w, WPARAM, LPARAM, LRESULT*) {
        RECT r{};
        GetUpdateRect(w, &r, FALSE);
        painted.push_back(r);
        return false;
    };
    SetWindowPos(window, nullptr, 0, 0, c.width, c.height, SWP_NOMOVE | SWP_NOZORDER);
    Drain();
    ASSERT_EQ(static_cast<int>(painted.size()), c.paints);
    if (c.paints == 1) {
        EXPECT_EQ(painted[0].left, c.painted.left);
        EXPECT_EQ(painted[0].top, c.painted.top);
        EXPECT_EQ(painted[0].right, c.painted.right);
        EXPECT_EQ(painted[0].bottom, c.painted.bottom);
    }
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, c.width);
    EXPECT_EQ(Win32Test::GetWindowPixel(window, c.width - 1, c.height - 1), 0xFF000000u)
        << "the surface follows the client size";
}

INSTANTIATE_TEST_SUITE_P(
    Windowing, ResizePaints,
    ::testing::Values(
        ResizeCase{"RedrawStylesGrow", CS_HREDRAW | CS_VREDRAW, 80, 50, 1, {0, 0, 80, 50}},
        ResizeCase{"RedrawStylesShrink", CS_HREDRAW | CS_VREDRAW, 30, 20, 1, {0, 0, 30, 20}},
        ResizeCase{
            "HorizontalOnlyTakesHeightChangeAsExposure", CS_HREDRAW, 60, 50, 1, {0, 40, 60, 50}},
        ResizeCase{"PlainGrowPaintsTheNewStrips", 0, 80, 50, 1, {0, 0, 80, 50}},
        ResizeCase{"PlainGrowRightOnly", 0, 80, 40, 1, {60, 0, 80, 40}},
        ResizeCase{"PlainShrinkPaintsNothing", 0, 30, 20, 0, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Windowing, AHandlerDestroyingItsWindowDropsWhatWaitsForIt)
{
    Register(u"Plain", 0);
    HWND window = Open(u"Plain", 0, 0, 10, 10);
    Drain();
    int after = 0;
    Hooks()[WM_USER] = [&](HWND w, WPARAM, LPARAM, LRESULT*) {
        DestroyWindow(w);
        return true;
    };
    Hooks()[WM_USER + 1] = [&](HWND, WPARAM, LPARAM, LRESULT*) {
        ++after;
        return true;
    };
    SetTimer(window, 1, 10, nullptr);
    PostMessageW(window, WM_USER, 0, 0);
    PostMessageW(window, WM_USER + 1, 0, 0);
    Win32Test::MovePointer(2, 2);
    Sleep(50);
    Drain();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(after, 0);
    MSG message;
    EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) << "no timer, no input left";
    EXPECT_FALSE(PostMessageW(window, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(Windowing, OwnedWindowsAreDestroyedFirstAndChildrenAfterTheirParent)
{
    Register(u"Plain", 0);
    HWND owner = Open(u"Plain", 0, 0, 10, 10);
    HWND owned =
        CreateWindowExW(0, u"Plain", u"", WS_POPUP, 0, 0, 5, 5, owner, nullptr, nullptr, nullptr);
    HWND child = CreateWindowExW(0, u"Plain", u"", WS_CHILD | WS_VISIBLE, 1, 1, 3, 3, owner,
                                 nullptr, nullptr, nullptr);
    ASSERT_NE(owned, nullptr);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(GetAncestor(owned, GA_ROOTOWNER), owner);
    EXPECT_EQ(GetAncestor(child, GA_PARENT), owner);
    EXPECT_EQ(GetAncestor(owner, GA_PARENT), GetDesktopWindow());
    EXPECT_EQ(GetAncestor(child, GA_ROOT), owner);
    Win32Test::StartMessageLog(nullptr);
    ASSERT_TRUE(DestroyWindow(owner));
    EXPECT_TRUE(MatchSequence(Win32Test::TakeMessages(nullptr),
                              {{WM_DESTROY, kSent, 0, 0, owned},
                               {WM_NCDESTROY, kSent, 0, 0, owned},
                               {WM_DESTROY, kSent, 0, 0, owner},
                               {WM_DESTROY, kSent, 0, 0, child},
                               {WM_NCDESTROY, kSent, 0, 0, child},
                               {WM_NCDESTROY, kSent, 0, 0, owner}},
                              {WM_NCACTIVATE, WM_ACTIVATE, WM_KILLFOCUS}));
    EXPECT_FALSE(IsWindow(owned));
    EXPECT_FALSE(IsWindow(child));
}

TEST_F(Windowing, CreationSequenceAndARefusedCreate)
{
    Register(u"Plain", 0);
    Win32Test::StartMessageLog(nullptr);
    HWND window = CreateWindowExW(0, u"Plain", u"title", WS_POPUP | WS_VISIBLE, 5, 6, 20, 10,
                                  nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(
        MatchSequence(Win32Test::TakeMessages(nullptr),
                      {{WM_NCCREATE, kSent},
                       {WM_CREATE, kSent},
                       {WM_SIZE, kSent | kWParam | kLParam, SIZE_RESTORED, MAKELPARAM(20, 10)},
                       {WM_MOVE, kSent | kLParam, 0, MAKELPARAM(5, 6)},
                       {WM_SHOWWINDOW, kSent | kWParam, TRUE},
                       {WM_NCACTIVATE, kSent | kWParam, TRUE},
                       {WM_ACTIVATE, kSent | kWParam, WA_ACTIVE},
                       {WM_SETFOCUS, kSent}}));
    EXPECT_EQ(Win32Test::GetTitle(window), u"title");
    EXPECT_EQ(GetActiveWindow(), window);
    EXPECT_EQ(GetFocus(), window);

    Hooks()[WM_CREATE] = [](HWND, WPARAM, LPARAM, LRESULT* result) {
        *result = -1;
        return true;
    };
    EXPECT_EQ(
        CreateWindowExW(0, u"Plain", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
        nullptr);
    EXPECT_EQ(CreateWindowExW(0, u"Missing", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                              nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
}

}  // namespace
