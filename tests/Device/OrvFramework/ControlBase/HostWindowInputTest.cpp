// The host window's input: wheel, buttons and the capture, keys and characters, as a user makes
// them on the headless windowing model.

#include "HostWindowSupport.h"

namespace {

using namespace HostWindowTest;
using Names = std::vector<std::string>;

// The character keys of a probe's log: words without a virtual key.
Names CharactersOf(const Names& logged)
{
    Names out;
    for (const std::string& entry : logged) {
        const size_t at = entry.find("key ");
        if (at != std::string::npos &&
            (std::stoul(entry.substr(at + 4), nullptr, 16) & 0x00FF0000u) == 0) {
            out.push_back(entry);
        }
    }
    return out;
}

constexpr int kX = 100;
constexpr int kY = 80;

TEST_F(HostWindows, WheelDeltasAddUpToOneEventPerMessageThatCompletesANotch)
{
    struct Step
    {
        bool horizontal;
        int delta;
        const char* event;  // what the probe gets, or "" for nothing
    };
    // Each row from the state the row before left.
    const Step steps[] = {
        {false, 40, ""},
        {false, 40, ""},
        {false, 40, "p:wheel 1 at 10,20"},
        {false, 360, "p:wheel 1 at 10,20"},
        {false, 119, ""},
        {false, -119, ""},  // back to 0: the 360 left nothing behind
        {false, -120, "p:wheel 0 at 10,20"},
        {false, -250, "p:wheel 0 at 10,20"},
        {false, 10, ""},
        {false, 10, ""},  // -10, then 0, then 10: nothing yet
        {false, 110, "p:wheel 1 at 10,20"},
        {true, 120, "p:hwheel 3"},
        {true, -60, ""},
        {true, -60, "p:hwheel 2"},
    };
    Orv::OSWindow* window = Open(u"p", kX, kY, 200, 150);
    ASSERT_NE(window, nullptr);
    Win32Test::MovePointer(kX + 10, kY + 20);
    Drain();
    Take();
    for (size_t i = 0; i < std::size(steps); ++i) {
        const Step& step = steps[i];
        if (step.horizontal) {
            Win32Test::HorizontalWheel(step.delta, kX + 10, kY + 20);
        } else {
            Win32Test::Wheel(step.delta, kX + 10, kY + 20);
        }
        Drain();
        const Names expected = step.event[0] != 0 ? Names{step.event} : Names{};
        EXPECT_EQ(Take(), expected) << "step " << i << " delta " << step.delta;
    }
}

TEST_F(HostWindows, APressWithNoFocusControlFocusesTheWindowFirst)
{
    Orv::OSWindow* window = Open(u"p", kX, kY, 200, 150);
    Orv::OSWindow* other = Open(u"o", 400, 80, 100, 100);
    ASSERT_NE(window, nullptr);
    ASSERT_NE(other, nullptr);
    // The window is active but has neither the keyboard focus nor a focus control.
    SetActiveWindow(window->m_hWnd);
    ::SetFocus(other->m_hWnd);
    Drain();
    window->GetRootWindow()->SetFocusControl(RCPtr<LControl>());
    ASSERT_FALSE(window->GetRootWindow()->GetFocusControl());
    Take();
    Win32Test::PressButton(Win32Test::Button::Left, kX + 5, kY + 6);
    Drain();
    EXPECT_EQ(GetFocus(), window->m_hWnd);
    Names got;
    for (const std::string& entry : Take()) {
        if (entry.rfind("p:", 0) == 0) {
            got.push_back(entry);
        }
    }
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(got.front(), "p:focus") << "the focus comes before the press";
    EXPECT_EQ(got.back(), "p:down 1 at 5,6 mod 0");
    Win32Test::ReleaseButton(Win32Test::Button::Left, kX + 5, kY + 6);
    Drain();
}

TEST_F(HostWindows, TheCaptureGoesWithALastReleaseOutsideAndStaysAfterOneInside)
{
    Orv::OSWindow* window = Open(u"p", kX, kY, 200, 150);
    ASSERT_NE(window, nullptr);
    const HWND handle = window->m_hWnd;

    // Pressed inside, released outside: the capture goes with the release.
    Win32Test::PressButton(Win32Test::Button::Left, kX + 5, kY + 5);
    Drain();
    EXPECT_EQ(GetCapture(), handle);
    Win32Test::MovePointer(kX + 500, kY + 5);
    Win32Test::ReleaseButton(Win32Test::Button::Left, kX + 500, kY + 5);
    Drain();
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(window->GetMouseButtons(), 0);

    // Pressed and released inside: kept until the pointer leaves with no button down.
    Win32Test::MovePointer(kX + 7, kY + 7);
    Win32Test::PressButton(Win32Test::Button::Right, kX + 7, kY + 7);
    Win32Test::ReleaseButton(Win32Test::Button::Right, kX + 7, kY + 7);
    Drain();
    EXPECT_EQ(GetCapture(), handle);
    Win32Test::MovePointer(kX + 20, kY + 30);
    Drain();
    EXPECT_EQ(GetCapture(), handle) << "still over the client area";
    Take();
    Win32Test::MovePointer(kX + 500, kY + 30);
    Drain();
    EXPECT_EQ(GetCapture(), nullptr);
    const Names got = Take();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), "p:leave") << "the last move takes the hover away";

    // Back over the client area of the foreground window: taken again, to hear it leave.
    SetForegroundWindow(handle);
    Win32Test::MovePointer(kX + 8, kY + 8);
    Drain();
    EXPECT_EQ(GetCapture(), handle);
}

TEST_F(HostWindows, APressAndAMoveCarryTheirModifiers)
{
    Orv::OSWindow* window = Open(u"p", kX, kY, 200, 150);
    ASSERT_NE(window, nullptr);
    Win32Test::MovePointer(kX + 3, kY + 4);
    Drain();
    struct Case
    {
        std::vector<int> keys;
        const char* modifiers;
    };
    const Case cases[] = {{{}, "0"},
                          {{VK_CONTROL}, "1"},
                          {{VK_SHIFT}, "8"},
                          {{VK_MENU}, "40"},
                          {{VK_CONTROL, VK_SHIFT, VK_MENU}, "49"}};
    for (const Case& c : cases) {
        for (int key : c.keys) {
            Win32Test::PressKey(key);
        }
        // Apart in time: no double-click.
        Sleep(1000);
        Win32Test::PressButton(Win32Test::Button::Left, kX + 3, kY + 4);
        Win32Test::ReleaseButton(Win32Test::Button::Left, kX + 3, kY + 4);
        for (int key : c.keys) {
            Win32Test::ReleaseKey(key);
        }
        Drain();
        Names downs;
        for (const std::string& entry : Take()) {
            if (entry.rfind("p:down", 0) == 0) {
                downs.push_back(entry);
            }
        }
        EXPECT_EQ(downs, Names{std::string("p:down 1 at 3,4 mod ") + c.modifiers});
    }
}

// The key words as the probe logs them: virtual key << 16, down 0x20000000, Shift 0x02000000,
// Ctrl 0x01000000, Alt 0x04000000; side bits 1 left Shift, 4 left Ctrl, 0x10 left Alt.
TEST_F(HostWindows, KeysBecomeKeyWordsWithModifiersAndAHeldKeyRepeats)
{
    Orv::OSWindow* window = Open(u"p", kX, kY, 200, 150);
    ASSERT_NE(window, nullptr);
    struct Case
    {
        const char* what;
        std::vector<std::pair<int, bool>> strokes;  // key, down
        Names expected;
    };
    const Case cases[] = {
        {"a held key repeats from its second down",
         {{'A', true}, {'A', true}, {'A', true}, {'A', false}},
         {"p:key 20410000 side 0", "p:key 20410000 side 0 repeat", "p:key 20410000 side 0 repeat",
          "p:key 410000 side 0 repeat"}},
        {"Shift+A, left Shift",
         {{VK_LSHIFT, true}, {'A', true}, {'A', false}, {VK_LSHIFT, false}},
         {"p:key 22100000 side 1", "p:key 22410000 side 1", "p:key 2410000 side 1 repeat",
          "p:key 100000 side 0 repeat"}},
        {"Ctrl+Left",
         {{VK_CONTROL, true}, {VK_LEFT, true}, {VK_LEFT, false}, {VK_CONTROL, false}},
         {"p:key 21110000 side 0", "p:key 21250000 side 0", "p:key 1250000 side 0 repeat",
          "p:key 110000 side 0 repeat"}},
        {"Alt+F4 is a key, and nothing closes",
         {{VK_LMENU, true}, {0x73 /* VK_F4 */, true}, {0x73 /* VK_F4 */, false}, {VK_LMENU, false}},
         {"p:key 24120000 side 10", "p:key 24730000 side 10", "p:key 4730000 side 10 repeat",
          "p:key 4120000 side 0 repeat"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Win32Test::StartMessageLog(window->m_hWnd);
        for (const auto& [key, down] : c.strokes) {
            if (down) {
                Win32Test::PressKey(key, u"");
            } else {
                Win32Test::ReleaseKey(key);
            }
        }
        Drain();
        EXPECT_EQ(Take(), c.expected);
        for (const Win32Test::Message& m : Win32Test::TakeMessages(window->m_hWnd)) {
            EXPECT_NE(m.message, WM_CLOSE);
            EXPECT_FALSE(m.message == WM_SYSCOMMAND && (m.wParam & 0xFFF0) == SC_CLOSE);
        }
        ASSERT_TRUE(IsWindow(window->m_hWnd));
    }
}

TEST_F(HostWindows, CharactersCarryAltFromTheContextCode)
{
    Orv::OSWindow* window = Open(u"p", kX, kY, 200, 150);
    ASSERT_NE(window, nullptr);
    // AltGr: Ctrl and Alt held, a character typed (WM_CHAR with lParam's bit 29).
    Win32Test::PressKey(VK_CONTROL);
    Win32Test::PressKey(VK_MENU);
    Win32Test::PressKey('E', u"\u20ac");
    Win32Test::ReleaseKey('E');
    Win32Test::ReleaseKey(VK_MENU);
    Win32Test::ReleaseKey(VK_CONTROL);
    Drain();
    const Names characters = CharactersOf(Take());
    // The character word: U+20AC with Ctrl and Alt; never down, never repeated.
    EXPECT_EQ(characters, Names{"p:key 50020ac side 0"});

    // Shift+a typed: the character with Shift, no Alt.
    Win32Test::PressKey(VK_SHIFT);
    Win32Test::PressKey('A');
    Win32Test::ReleaseKey('A');
    Win32Test::ReleaseKey(VK_SHIFT);
    Drain();
    EXPECT_EQ(CharactersOf(Take()), Names{"p:key 2000041 side 0"});
}

TEST_F(HostWindows, KeysWithoutAVirtualKeyCarryOnlyTheirModifiers)
{
    Orv::OSWindow* window = Open(u"p", kX, kY, 200, 150);
    ASSERT_NE(window, nullptr);
    const HWND handle = window->m_hWnd;
    struct Case
    {
        UINT message;
        std::vector<int> held;
        Names expected;
    };
    const Case cases[] = {
        {WM_KEYDOWN, {}, {}},
        {WM_KEYDOWN, {VK_CONTROL}, {}},
        {WM_KEYDOWN, {VK_CONTROL, VK_MENU}, {"p:key 5000000 side 0"}},
        {WM_SYSKEYDOWN, {}, {"p:key 0 side 0"}},
        {WM_SYSKEYDOWN, {VK_MENU}, {"p:key 4000000 side 0"}},
        {WM_SYSKEYUP, {VK_SHIFT, VK_MENU}, {"p:key 6000000 side 0"}},
    };
    for (const Case& c : cases) {
        for (int key : c.held) {
            Win32Test::PressKey(key);
        }
        Drain();
        Take();
        const bool alt = std::find(c.held.begin(), c.held.end(), VK_MENU) != c.held.end();
        SendMessageW(handle, c.message, 0, static_cast<LPARAM>(1u | (alt ? 1u << 29 : 0u)));
        EXPECT_EQ(Take(), c.expected) << std::hex << c.message;
        for (int key : c.held) {
            Win32Test::ReleaseKey(key);
        }
        Drain();
        Take();
    }
}

}  // namespace

namespace {

using namespace HostWindowTest;

TEST_F(HostWindows, AFrameClickRefocusesTheTreeAndLosingTheFocusDropsTheCapture)
{
    Orv::OSWindow* window = Open(u"p", 100, 80, 200, 150);
    Orv::OSWindow* other = Open(u"o", 400, 80, 100, 100);
    ASSERT_NE(other, nullptr);
    SetActiveWindow(window->m_hWnd);
    ::SetFocus(window->m_hWnd);
    for (const UINT message : {WM_NCLBUTTONDOWN, WM_NCMBUTTONDOWN, WM_NCRBUTTONDOWN}) {
        window->GetRootWindow()->SetFocusControl(RCPtr<LControl>());
        Take();
        SendMessageW(window->m_hWnd, message, 2 /* HTCAPTION */, MAKELPARAM(150, 70));
        EXPECT_EQ(Take(), (std::vector<std::string>{"p:focus"})) << std::hex << message;
        EXPECT_TRUE(window->GetRootWindow()->GetFocusControl());
    }

    Win32Test::PressButton(Win32Test::Button::Left, 110, 90);
    Drain();
    ASSERT_EQ(GetCapture(), window->m_hWnd);
    ::SetFocus(other->m_hWnd);
    Drain();
    EXPECT_EQ(GetCapture(), nullptr) << "a window without the focus holds no capture";
    Win32Test::ReleaseButton(Win32Test::Button::Left, 110, 90);
    Drain();
}

}  // namespace
