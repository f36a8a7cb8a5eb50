// CWnd: creation, message maps with cracked arguments, Default, and a handler deleting its own
// window and object.

#include <afxwin.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Registry/MachineRegistry.h"
#include "WindowingFixture.h"

namespace {

using WindowingFixture::Windowing;

std::vector<std::string> handled;

std::string Text(const char* what, long a = 0, long b = 0, long c = 0)
{
    return std::string(what) + " " + std::to_string(a) + " " + std::to_string(b) + " " +
           std::to_string(c);
}

class TestWnd : public CWnd
{
public:
    int postNcDestroys = 0;
    bool deleteOnClose = false;
    bool* deleted = nullptr;

    ~TestWnd() override
    {
        if (deleted != nullptr) {
            *deleted = true;
        }
    }

    BOOL Open(int x, int y, int width, int height)
    {
        return CreateEx(0, AfxRegisterWndClass(CS_DBLCLKS, LoadCursorW(nullptr, IDC_ARROW)), u"mfc",
                        WS_POPUP | WS_VISIBLE, x, y, width, height, nullptr, nullptr);
    }

    void OnLButtonDown(UINT flags, CPoint point)
    {
        handled.push_back(Text("ldown", static_cast<long>(flags), point.x, point.y));
    }
    void OnKeyDown(UINT key, UINT repeat, UINT flags)
    {
        handled.push_back(Text("keydown", static_cast<long>(key), static_cast<long>(repeat),
                               static_cast<long>(flags)));
    }
    void OnSize(UINT type, int cx, int cy)
    {
        handled.push_back(Text("size", static_cast<long>(type), cx, cy));
    }
    void OnMove(int x, int y) { handled.push_back(Text("move", x, y)); }
    BOOL OnMouseWheel(UINT flags, short delta, CPoint point)
    {
        handled.push_back(Text("wheel", static_cast<long>(flags), delta, point.x));
        return TRUE;
    }
    void OnCaptureChanged(CWnd* other)
    {
        handled.push_back(Text("capturechanged", other == nullptr ? 0 : other->m_hWnd != nullptr));
        capturedBy = other;
    }
    void OnSetFocus(CWnd* old)
    {
        handled.push_back(Text("setfocus", old != nullptr));
        CWnd::OnSetFocus(old);
    }
    void OnSizing(UINT edge, RECT* proposed)
    {
        handled.push_back(Text("sizing", static_cast<long>(edge), proposed->right));
        proposed->right = proposed->left + 50;
    }
    LRESULT OnUser(WPARAM wParam, LPARAM lParam)
    {
        handled.push_back(Text("user", static_cast<long>(wParam), static_cast<long>(lParam)));
        return 99;
    }
    void OnClose()
    {
        handled.push_back("close");
        if (deleteOnClose) {
            DestroyWindow();
            Default();
            delete this;
            return;
        }
        Default();
    }
    void PostNcDestroy() override { ++postNcDestroys; }

    CWnd* capturedBy = nullptr;

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestWnd, CWnd)
ON_WM_LBUTTONDOWN()
ON_WM_KEYDOWN()
ON_WM_SIZE()
ON_WM_MOVE()
ON_WM_MOUSEWHEEL()
ON_WM_CAPTURECHANGED()
ON_WM_SETFOCUS()
ON_WM_SIZING()
ON_WM_CLOSE()
ON_MESSAGE(WM_USER + 5, OnUser)
END_MESSAGE_MAP()

class Mfc : public Windowing
{
protected:
    void SetUp() override
    {
        Windowing::SetUp();
        handled.clear();
    }
};

TEST_F(Mfc, MessagesReachTheMapWithCrackedArguments)
{
    TestWnd window;
    ASSERT_TRUE(window.Open(100, 50, 80, 60));
    ASSERT_NE(window.m_hWnd, nullptr);
    EXPECT_EQ(CWnd::FromHandlePermanent(window.m_hWnd), &window);
    EXPECT_EQ(handled,
              (std::vector<std::string>{"size 0 80 60", "move 100 50 0", "setfocus 0 0 0"}))
        << "created, shown and focused through the map";
    handled.clear();
    Drain();

    TestWnd other;
    ASSERT_TRUE(other.Open(300, 300, 10, 10));
    handled.clear();
    window.SetCapture();  // the press lands above the client area
    Win32Test::PressButton(Win32Test::Button::Left, 95, 45);
    Win32Test::PressKey(VK_LSHIFT);
    Win32Test::Wheel(-120, 101, 51);
    Drain();
    ::SetCapture(other.m_hWnd);
    window.SendMessage(WM_SIZE, SIZE_MAXIMIZED, MAKELPARAM(640, 480));
    EXPECT_EQ(window.SendMessage(WM_USER + 5, 7, 8), 99);
    RECT proposed{0, 0, 200, 100};
    window.SendMessage(WM_SIZING, WMSZ_RIGHT, reinterpret_cast<LPARAM>(&proposed));
    EXPECT_EQ(proposed.right, 50);
    EXPECT_EQ(handled,
              (std::vector<std::string>{
                  "setfocus 1 0 0", "ldown " + std::to_string(MK_LBUTTON) + " -5 -5",
                  "keydown 16 1 0", "wheel " + std::to_string(MK_LBUTTON | MK_SHIFT) + " -120 101",
                  "capturechanged 1 0 0", "size 2 640 480", "user 7 8 0", "sizing 2 200 0"}));
    EXPECT_EQ(window.capturedBy, &other) << "the other window's own object";
}

TEST_F(Mfc, DefaultPassesToTheWindowsOwnProcedure)
{
    TestWnd window;
    ASSERT_TRUE(window.Open(0, 0, 10, 10));
    HWND handle = window.m_hWnd;
    window.SendMessage(WM_CLOSE);
    EXPECT_FALSE(IsWindow(handle)) << "Default closed it";
    EXPECT_EQ(window.m_hWnd, nullptr) << "detached at WM_NCDESTROY";
    EXPECT_EQ(window.postNcDestroys, 1);
    EXPECT_EQ(CWnd::FromHandlePermanent(handle), nullptr);
    EXPECT_EQ(window.Default(), 0) << "nothing to pass on";
    EXPECT_FALSE(window.DestroyWindow());
}

TEST_F(Mfc, AHandlerDeletingItsWindowAndObjectRunsClean)
{
    bool deleted = false;
    auto* window = new TestWnd;
    window->deleteOnClose = true;
    window->deleted = &deleted;
    ASSERT_TRUE(window->Open(0, 0, 10, 10));
    HWND handle = window->m_hWnd;
    Drain();
    handled.clear();
    window->SetTimer(1, 10, nullptr);
    ::PostMessageW(handle, WM_CLOSE, 0, 0);
    ::PostMessageW(handle, WM_USER + 5, 1, 1);
    Win32Test::ClickCloseBox(handle);
    Sleep(20);
    Drain();
    EXPECT_TRUE(deleted);
    EXPECT_FALSE(IsWindow(handle));
    EXPECT_EQ(handled, (std::vector<std::string>{"close"})) << "nothing after the close";
    MSG message;
    EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) << "the timer died too";
}

TEST_F(Mfc, FromHandleOfAForeignWindowIsATemporaryObject)
{
    Register(u"Plain", 0);
    HWND plain = Open(u"Plain", 0, 0, 5, 5);
    EXPECT_EQ(CWnd::FromHandlePermanent(plain), nullptr);
    CWnd* temporary = CWnd::FromHandle(plain);
    ASSERT_NE(temporary, nullptr);
    EXPECT_EQ(temporary->m_hWnd, plain);
    EXPECT_EQ(CWnd::FromHandle(plain), temporary) << "the same until the next idle time";
    EXPECT_EQ(CWnd::FromHandle(nullptr), nullptr);
}

TEST_F(Mfc, RegisteredClassesAreSharedByTheirParameters)
{
    LPCWSTR first = AfxRegisterWndClass(0x2B, LoadCursorW(nullptr, IDC_ARROW));
    LPCWSTR again = AfxRegisterWndClass(0x2B, LoadCursorW(nullptr, IDC_ARROW));
    LPCWSTR other = AfxRegisterWndClass(0x08, LoadCursorW(nullptr, IDC_ARROW));
    EXPECT_EQ(std::u16string(first), std::u16string(again));
    EXPECT_NE(std::u16string(first), std::u16string(other));
    WNDCLASSW info{};
    ASSERT_TRUE(GetClassInfoW(nullptr, first, &info));
    EXPECT_EQ(info.style, 0x2Bu);
    EXPECT_EQ(info.hCursor, LoadCursorW(nullptr, IDC_ARROW));
}

TEST_F(Mfc, ProfileBinariesLiveUnderTheUsersKey)
{
    Platform::Registry::MachineRegistry::Instance().Open({});
    CWinApp app(u"Panel");
    BYTE* data = nullptr;
    UINT bytes = 0;
    const BYTE placement[44] = {44, 0, 0, 0, 1, 2, 3};
    EXPECT_FALSE(app.WriteProfileBinary(u"Section", u"WP", placement, sizeof placement))
        << "no registry key yet";
    app.SetRegistryKey(u"Vendor");
    ASSERT_TRUE(app.WriteProfileBinary(u"Section", u"WP", placement, sizeof placement));
    ASSERT_TRUE(app.GetProfileBinary(u"Section", u"WP", &data, &bytes));
    ASSERT_EQ(bytes, 44u);
    EXPECT_EQ(std::vector<BYTE>(data, data + bytes),
              std::vector<BYTE>(placement, placement + sizeof placement));
    delete[] data;
    Platform::Registry::Value stored;
    EXPECT_EQ(Platform::Registry::MachineRegistry::Instance().GetValue(
                  Platform::Registry::Hive::CurrentUser, u"Software\\Vendor\\Panel\\Section", u"WP",
                  Platform::Registry::View::Native, &stored),
              Platform::Registry::Result::Ok);
    EXPECT_FALSE(app.GetProfileBinary(u"Section", u"Missing", &data, &bytes));
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(AfxGetApp(), &app);
}

TEST_F(Mfc, CreateExForAMissingClassFailsAndAttachesNothing)
{
    TestWnd window;
    EXPECT_FALSE(window.CreateEx(0, u"NoSuchClass", u"", WS_POPUP, 0, 0, 5, 5, nullptr, nullptr));
    EXPECT_EQ(window.m_hWnd, nullptr);
    // The next window created on the thread is not taken for this object.
    Register(u"Plain", 0);
    HWND plain = Open(u"Plain", 0, 0, 5, 5);
    EXPECT_EQ(CWnd::FromHandlePermanent(plain), nullptr);
}

}  // namespace
