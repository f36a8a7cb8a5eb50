// Pointer, keys, capture, focus and activation of the headless windowing model.

#include "WindowingFixture.h"

namespace {

using namespace MessageSequence;
using WindowingFixture::Hooks;
using WindowingFixture::Windowing;

const std::set<UINT> kNotInput{WM_SETCURSOR, WM_NCACTIVATE, WM_ACTIVATE,
                               WM_SETFOCUS,  WM_KILLFOCUS,  WM_PAINT};

struct ClickCase
{
    const char* name;
    UINT classStyle;
    DWORD gap;  // ms between clicks
    int step;   // pixels each click lies right of the last
    std::vector<UINT> expected;
};

class Clicks : public Windowing, public ::testing::WithParamInterface<ClickCase>
{
};

TEST_P(Clicks, ThreeClicksMakeTheseMessages)
{
    const ClickCase& c = GetParam();
    Register(u"Clicked", c.classStyle);
    HWND window = Open(u"Clicked", 0, 0, 100, 100);
    Drain();
    Win32Test::StartMessageLog(window);
    for (int i = 0; i < 3; ++i) {
        Win32Test::PressButton(Win32Test::Button::Left, 10 + i * c.step, 10);
        Win32Test::ReleaseButton(Win32Test::Button::Left, 10 + i * c.step, 10);
        Sleep(c.gap);
    }
    Drain();
    std::vector<UINT> seen;
    for (const auto& m : Win32Test::TakeMessages(window)) {
        if (kNotInput.count(m.message) == 0) {
            seen.push_back(m.message);
        }
    }
    EXPECT_EQ(seen, c.expected);
}

const std::vector<UINT> kDouble{WM_LBUTTONDOWN, WM_LBUTTONUP,   WM_LBUTTONDBLCLK,
                                WM_LBUTTONUP,   WM_LBUTTONDOWN, WM_LBUTTONUP};
const std::vector<UINT> kSingles{WM_LBUTTONDOWN, WM_LBUTTONUP,   WM_LBUTTONDOWN,
                                 WM_LBUTTONUP,   WM_LBUTTONDOWN, WM_LBUTTONUP};

INSTANTIATE_TEST_SUITE_P(Windowing, Clicks,
                         ::testing::Values(ClickCase{"Quick", CS_DBLCLKS, 100, 1, kDouble},
                                           ClickCase{"AtTheLimits", CS_DBLCLKS, 500, 4, kDouble},
                                           ClickCase{"WithoutTheClassStyle", 0, 100, 0, kSingles},
                                           ClickCase{"PastTheTime", CS_DBLCLKS, 501, 0, kSingles},
                                           ClickCase{"PastTheDistance", CS_DBLCLKS, 100, 5,
                                                     kSingles}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Windowing, PointsAreClientCoordinatesNegativeWhileCaptured)
{
    Register(u"Plain", 0);
    HWND window = Open(u"Plain", 100, 200, 50, 50);
    Drain();
    Win32Test::StartMessageLog(window);
    Win32Test::MovePointer(90, 195);
    Drain();
    EXPECT_TRUE(Win32Test::TakeMessages(window).empty()) << "outside and not captured";
    SetCapture(window);
    Win32Test::MovePointer(90, 195);
    Win32Test::PressButton(Win32Test::Button::Right, 60, 180);
    Drain();
    EXPECT_TRUE(MatchSequence(
        Win32Test::TakeMessages(window),
        {{WM_MOUSEMOVE, kPosted | kWParam | kLParam, 0, MAKELPARAM(-10, -5)},
         {WM_RBUTTONDOWN, kPosted | kWParam | kLParam, MK_RBUTTON, MAKELPARAM(-40, -20)}},
        kNotInput));
    EXPECT_EQ(static_cast<short>(LOWORD(MAKELPARAM(-10, -5))), -10);
}

TEST_F(Windowing, WheelCarriesItsDeltaAndTheScreenPoint)
{
    Register(u"Plain", 0);
    HWND window = Open(u"Plain", 100, 100, 50, 50);
    Drain();
    Win32Test::StartMessageLog(window);
    Win32Test::PressKey(VK_LSHIFT);
    Win32Test::Wheel(120, 110, 120);
    Win32Test::Wheel(-240, 111, 121);
    Win32Test::HorizontalWheel(-120, 112, 122);
    Drain();
    EXPECT_TRUE(MatchSequence(
        Win32Test::TakeMessages(window),
        {{WM_KEYDOWN, kPosted | kWParam, VK_SHIFT},
         {WM_MOUSEWHEEL, kWParam | kLParam, MAKEWPARAM(MK_SHIFT, 120), MAKELPARAM(110, 120)},
         {WM_MOUSEWHEEL, kWParam | kLParam, MAKEWPARAM(MK_SHIFT, -240), MAKELPARAM(111, 121)},
         {WM_MOUSEHWHEEL, kWParam | kLParam, MAKEWPARAM(MK_SHIFT, -120), MAKELPARAM(112, 122)}},
        kNotInput));
    EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(MAKEWPARAM(0, -240)), -240);
}

TEST_F(Windowing, KeyStateIsThatOfTheMessageBeingHandled)
{
    Register(u"Plain", 0);
    ASSERT_NE(Open(u"Plain", 0, 0, 50, 50), nullptr);
    Drain();
    std::vector<SHORT> inside;
    Hooks()[WM_LBUTTONDOWN] = [&](HWND, WPARAM, LPARAM, LRESULT*) {
        inside.push_back(GetKeyState(VK_LBUTTON));
        return true;
    };
    Hooks()[WM_LBUTTONUP] = [&](HWND, WPARAM, LPARAM, LRESULT*) {
        inside.push_back(GetKeyState(VK_LBUTTON));
        return true;
    };
    // Both events are queued before either is handled.
    Win32Test::PressButton(Win32Test::Button::Left, 5, 5);
    Win32Test::ReleaseButton(Win32Test::Button::Left, 5, 5);
    EXPECT_EQ(GetKeyState(VK_LBUTTON) & 0x8000, 0) << "nothing taken yet";
    EXPECT_NE(GetAsyncKeyState(VK_LBUTTON) & 0x8000, 0x8000) << "released by now";
    Drain();
    ASSERT_EQ(inside.size(), 2u);
    EXPECT_LT(inside[0], 0) << "down while the press is handled";
    EXPECT_GE(inside[1], 0);

    Win32Test::PressKey(VK_CAPITAL);
    Win32Test::ReleaseKey(VK_CAPITAL);
    Drain();
    EXPECT_EQ(GetKeyState(VK_CAPITAL), 1) << "toggled, up";
    Win32Test::PressKey(VK_RCONTROL);
    Drain();
    EXPECT_LT(GetKeyState(VK_CONTROL), 0);
    EXPECT_LT(GetKeyState(VK_RCONTROL), 0);
    EXPECT_GE(GetKeyState(VK_LCONTROL), 0);
}

TEST_F(Windowing, KeyMessagesCarryTheirFlagsAndCharacters)
{
    Register(u"Plain", 0);
    HWND window = Open(u"Plain", 0, 0, 50, 50);
    Drain();
    Win32Test::StartMessageLog(window);
    constexpr LPARAM kRepeat = 1;
    constexpr LPARAM kAlt = 1 << 29;
    constexpr LPARAM kWasDown = 1 << 30;
    constexpr LPARAM kUp = static_cast<LPARAM>(0x80000000u);
    Win32Test::PressKey(VK_LSHIFT);
    Win32Test::PressKey('A');
    Win32Test::PressKey('A');  // held: auto-repeat
    Win32Test::ReleaseKey('A');
    Win32Test::ReleaseKey(VK_LSHIFT);
    Win32Test::PressKey(VK_LMENU);
    Win32Test::PressKey('X');
    Win32Test::ReleaseKey('X');
    Win32Test::ReleaseKey(VK_LMENU);
    Win32Test::PressKey(VK_F10);
    Win32Test::PressKey('Q', u"\xD83D\xDE00");  // a character outside the BMP
    Win32Test::PressKey(0, u"\u00e9");          // a key without a virtual key
    Drain();
    EXPECT_TRUE(MatchSequence(
        Win32Test::TakeMessages(window),
        {{WM_KEYDOWN, kPosted | kWParam | kLParam, VK_SHIFT, kRepeat},
         {WM_KEYDOWN, kPosted | kWParam | kLParam, 'A', kRepeat},
         {WM_CHAR, kPosted | kWParam, 'A'},
         {WM_KEYDOWN, kPosted | kWParam | kLParam, 'A', kRepeat | kWasDown},
         {WM_CHAR, kPosted | kWParam, 'A'},
         {WM_KEYUP, kPosted | kWParam | kLParam, 'A', kRepeat | kWasDown | kUp},
         {WM_KEYUP, kPosted | kWParam | kLParam, VK_SHIFT, kRepeat | kWasDown | kUp},
         {WM_SYSKEYDOWN, kPosted | kWParam | kLParam, VK_MENU, kRepeat | kAlt},
         {WM_SYSKEYDOWN, kPosted | kWParam | kLParam, 'X', kRepeat | kAlt},
         {WM_SYSCHAR, kPosted | kWParam, 'x'},
         {WM_SYSKEYUP, kPosted | kWParam | kLParam, 'X', kRepeat | kAlt | kWasDown | kUp},
         {WM_SYSKEYUP, kPosted | kWParam | kLParam, VK_MENU, kRepeat | kAlt | kWasDown | kUp},
         {WM_SYSKEYDOWN, kPosted | kWParam | kLParam, VK_F10, kRepeat},
         {WM_KEYDOWN, kPosted | kWParam, 'Q'},
         {WM_CHAR, kPosted | kWParam, 0xD83D},
         {WM_CHAR, kPosted | kWParam, 0xDE00},
         {WM_KEYDOWN, kPosted | kWParam | kLParam, 0, kRepeat},
         {WM_CHAR, kPosted | kWParam, 0xE9}},
        kNotInput));
}

TEST_F(Windowing, CaptureFocusAndActivationMessagesInOrder)
{
    Register(u"Plain", 0);
    HWND a = Open(u"Plain", 0, 0, 50, 50);
    HWND b = Open(u"Plain", 100, 0, 50, 50);
    ASSERT_EQ(GetActiveWindow(), b) << "shown last";
    SetFocus(a);
    Drain();
    Win32Test::StartMessageLog(nullptr);
    EXPECT_EQ(SetCapture(a), nullptr);
    EXPECT_EQ(SetCapture(b), a);
    EXPECT_TRUE(ReleaseCapture());
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(SetFocus(b), a);
    EXPECT_TRUE(MatchSequence(
        Win32Test::TakeMessages(nullptr),
        {{WM_CAPTURECHANGED, kSent | kLParam, 0, reinterpret_cast<LPARAM>(b), a},
         {WM_CAPTURECHANGED, kSent | kLParam, 0, 0, b},
         {WM_NCACTIVATE, kSent | kWParam, FALSE, 0, a},
         {WM_ACTIVATE, kSent | kWParam | kLParam, WA_INACTIVE, reinterpret_cast<LPARAM>(b), a},
         {WM_NCACTIVATE, kSent | kWParam, TRUE, 0, b},
         {WM_ACTIVATE, kSent | kWParam | kLParam, WA_ACTIVE, reinterpret_cast<LPARAM>(a), b},
         {WM_KILLFOCUS, kSent | kWParam, reinterpret_cast<WPARAM>(b), 0, a},
         {WM_SETFOCUS, kSent | kWParam, reinterpret_cast<WPARAM>(a), 0, b}}));
    EXPECT_EQ(GetFocus(), b);
    EXPECT_EQ(GetForegroundWindow(), b);

    // A press on the inactive window activates it before the press is delivered.
    Win32Test::PressButton(Win32Test::Button::Left, 10, 10);
    Drain();
    EXPECT_TRUE(MatchSequence(Win32Test::TakeMessages(nullptr),
                              {{WM_NCACTIVATE, kSent | kWParam, FALSE, 0, b},
                               {WM_ACTIVATE, kSent | kWParam, WA_INACTIVE, 0, b},
                               {WM_NCACTIVATE, kSent | kWParam, TRUE, 0, a},
                               {WM_ACTIVATE, kSent | kWParam, WA_CLICKACTIVE, 0, a},
                               {WM_KILLFOCUS, kSent, 0, 0, b},
                               {WM_SETFOCUS, kSent, 0, 0, a},
                               {WM_SETCURSOR, kSent, 0, 0, a},
                               {WM_LBUTTONDOWN, kPosted, 0, 0, a}}));

    Win32Test::LoseActivation();
    EXPECT_TRUE(MatchSequence(Win32Test::TakeMessages(nullptr),
                              {{WM_NCACTIVATE, kSent | kWParam, FALSE, 0, a},
                               {WM_ACTIVATE, kSent | kWParam | kLParam, WA_INACTIVE, 0, a},
                               {WM_ACTIVATEAPP, kSent | kWParam, FALSE, 0, a},
                               {WM_KILLFOCUS, kSent | kWParam, 0, 0, a}}));
    EXPECT_EQ(GetActiveWindow(), nullptr);
    EXPECT_EQ(GetFocus(), nullptr);
}

TEST_F(Windowing, CursorFollowsTheClassOfTheWindowUnderThePointer)
{
    Register(u"Plain", 0);
    HWND window = Open(u"Plain", 0, 0, 50, 50);
    Drain();
    Win32Test::MovePointer(5, 5);
    Drain();
    EXPECT_EQ(Win32Test::GetShownCursor(), LoadCursorW(nullptr, IDC_ARROW));
    const HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
    ASSERT_NE(hand, nullptr);
    EXPECT_EQ(
        SetClassLongW(window, GCL_HCURSOR, static_cast<LONG>(reinterpret_cast<ULONG_PTR>(hand))),
        static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(LoadCursorW(nullptr, IDC_ARROW))));
    Win32Test::MovePointer(6, 6);
    Drain();
    EXPECT_EQ(Win32Test::GetShownCursor(), hand);
    EXPECT_EQ(SetCursor(nullptr), hand);
    EXPECT_EQ(LoadCursorW(nullptr, MAKEINTRESOURCEW(102)), nullptr);
    POINT at{};
    GetCursorPos(&at);
    EXPECT_EQ(at.x * 100 + at.y, 606);
}

TEST_F(Windowing, DisabledWindowsTakeNoInput)
{
    Register(u"Plain", 0);
    HWND window = Open(u"Plain", 0, 0, 50, 50);
    Drain();
    Win32Test::StartMessageLog(window);
    EXPECT_FALSE(EnableWindow(window, FALSE));
    EXPECT_TRUE(EnableWindow(window, FALSE)) << "was disabled";
    Win32Test::PressButton(Win32Test::Button::Left, 5, 5);
    Win32Test::PressKey('K');
    Drain();
    EXPECT_TRUE(MatchSequence(Win32Test::TakeMessages(window),
                              {{WM_KILLFOCUS, kSent}, {WM_ENABLE, kSent | kWParam, FALSE}}));
    EXPECT_FALSE(IsWindowEnabled(window));
}

TEST_F(Windowing, WindowManagerActs)
{
    Register(u"Framed", CS_HREDRAW | CS_VREDRAW);
    Win32Test::SetFrameMargins(4, 20, 4, 4);
    HWND window = CreateWindowExW(0, u"Framed", u"", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100,
                                  208, 124, nullptr, nullptr, nullptr, nullptr);
    Drain();
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right * 1000 + client.bottom, 200 * 1000 + 100);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    EXPECT_EQ(origin.x * 1000 + origin.y, 104 * 1000 + 120);
    EXPECT_EQ(WindowFromPoint(POINT{101, 101}), window) << "the frame is the window's";

    // The window keeps its sizing proposal within 300 pixels.
    Hooks()[WM_SIZING] = [](HWND, WPARAM edge, LPARAM rect, LRESULT* result) {
        EXPECT_EQ(edge, WMSZ_BOTTOMRIGHT);
        auto* proposed = reinterpret_cast<RECT*>(rect);
        proposed->right = std::min(proposed->right, proposed->left + 300);
        *result = TRUE;
        return true;
    };
    Win32Test::StartMessageLog(window);
    Win32Test::DragFrame(window, 400, 224);
    Drain();
    EXPECT_TRUE(
        MatchSequence(Win32Test::TakeMessages(window),
                      {{WM_SIZING, kSent},
                       {WM_SIZE, kSent | kWParam | kLParam, SIZE_RESTORED, MAKELPARAM(292, 200)},
                       {WM_PAINT, kPosted}}));

    Win32Test::MoveFrame(window, 10, 20);
    Win32Test::Minimise(window);
    EXPECT_TRUE(IsIconic(window));
    GetClientRect(window, &client);
    EXPECT_EQ(client.right + client.bottom, 0) << "a minimised window has no client area";
    Win32Test::Restore(window);
    EXPECT_FALSE(IsIconic(window));
    Drain();
    EXPECT_TRUE(
        MatchSequence(Win32Test::TakeMessages(window),
                      {{WM_MOVE, kSent | kLParam, 0, MAKELPARAM(14, 40)},
                       {WM_SYSCOMMAND, kSent | kWParam, SC_MINIMIZE},
                       {WM_SIZE, kSent | kWParam | kLParam, SIZE_MINIMIZED, 0},
                       {WM_NCACTIVATE, kSent | kWParam, FALSE},
                       {WM_ACTIVATE, kSent | kWParam, MAKEWPARAM(WA_INACTIVE, 1)},
                       {WM_KILLFOCUS, kSent},
                       {WM_SYSCOMMAND, kSent | kWParam, SC_RESTORE},
                       {WM_SIZE, kSent | kWParam | kLParam, SIZE_RESTORED, MAKELPARAM(292, 200)},
                       {WM_NCACTIVATE, kSent | kWParam, TRUE},
                       {WM_ACTIVATE, kSent | kWParam, WA_ACTIVE},
                       {WM_SETFOCUS, kSent},
                       {WM_PAINT, kPosted}}));

    const RECT uncovered{10, 10, 30, 40};
    Win32Test::Uncover(window, uncovered);
    RECT update{};
    ASSERT_TRUE(GetUpdateRect(window, &update, FALSE));
    EXPECT_EQ(update.left + update.top * 100 + update.right * 10000, 10 + 1000 + 300000);
    Drain();

    Win32Test::ChangeDisplay(1024, 768);
    Win32Test::PowerEvent(7, 0);
    EXPECT_TRUE(MatchSequence(Win32Test::TakeMessages(window),
                              {{WM_PAINT, kPosted},
                               {WM_DISPLAYCHANGE, kSent | kLParam, 0, MAKELPARAM(1024, 768)},
                               {WM_POWERBROADCAST, kSent | kWParam, 7}}));
    RECT work{};
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    EXPECT_EQ(work.right * 10000 + work.bottom, 1024 * 10000 + 768);
}

TEST_F(Windowing, PlacementRoundTripsIn44Bytes)
{
    Register(u"Plain", 0);
    Win32Test::SetScreen(RECT{0, 0, 800, 600}, RECT{0, 30, 800, 600});
    HWND window = Open(u"Plain", 50, 80, 200, 100);
    WINDOWPLACEMENT placement{};
    ASSERT_TRUE(GetWindowPlacement(window, &placement));
    EXPECT_EQ(placement.length, 44u);
    EXPECT_EQ(placement.showCmd, static_cast<UINT>(SW_SHOWNORMAL));
    EXPECT_EQ(placement.rcNormalPosition.top, 50) << "work-area coordinates";
    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(GetWindowPlacement(window, &placement));
    EXPECT_EQ(placement.showCmd, static_cast<UINT>(SW_SHOWMINIMIZED));
    EXPECT_EQ(placement.rcNormalPosition.left, 50);

    WINDOWPLACEMENT moved = placement;
    moved.showCmd = SW_SHOWNORMAL;
    moved.rcNormalPosition = RECT{10, 10, 110, 60};
    ASSERT_TRUE(SetWindowPlacement(window, &moved));
    RECT rect{};
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.left * 1000 + rect.top, 10 * 1000 + 40);
    EXPECT_EQ(rect.right - rect.left, 100);
    EXPECT_FALSE(IsIconic(window));
    moved.length = 40;
    EXPECT_FALSE(SetWindowPlacement(window, &moved));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(Windowing, ZOrderTopmostAndWindowFromPoint)
{
    Register(u"Plain", 0);
    HWND below = Open(u"Plain", 0, 0, 100, 100);
    HWND above = Open(u"Plain", 50, 50, 100, 100);
    EXPECT_EQ(WindowFromPoint(POINT{60, 60}), above);
    BringWindowToTop(below);
    EXPECT_EQ(WindowFromPoint(POINT{60, 60}), below);
    EXPECT_EQ(GetActiveWindow(), below);
    SetWindowPos(above, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    BringWindowToTop(below);
    EXPECT_EQ(WindowFromPoint(POINT{60, 60}), above) << "topmost stays above";
    SetWindowPos(above, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    BringWindowToTop(below);
    EXPECT_EQ(WindowFromPoint(POINT{60, 60}), below);
    HWND child = CreateWindowExW(0, u"Plain", u"", WS_CHILD | WS_VISIBLE, 10, 10, 20, 20, below,
                                 nullptr, nullptr, nullptr);
    EXPECT_EQ(WindowFromPoint(POINT{15, 15}), child);
    ShowWindow(child, SW_HIDE);
    EXPECT_EQ(WindowFromPoint(POINT{15, 15}), below);
    EXPECT_EQ(WindowFromPoint(POINT{500, 500}), nullptr);
}

}  // namespace
