// The modal loop and CWinApp::Run's idle protocol.

#include <afxwin.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "WindowingFixture.h"

namespace {

using WindowingFixture::Windowing;

std::vector<std::string> events;

class LoopWnd : public CWnd
{
public:
    BOOL Open()
    {
        return CreateEx(0, AfxRegisterWndClass(0), u"loop", WS_POPUP | WS_VISIBLE, 0, 0, 20, 20,
                        nullptr, nullptr);
    }
    LRESULT OnKickIdle(WPARAM, LPARAM count)
    {
        events.push_back("kick" + std::to_string(count));
        EXPECT_TRUE((m_nFlags & WF_MODALLOOP) != 0);
        return count < 2 ? 1 : 0;
    }
    void OnTimer(UINT_PTR id)
    {
        events.push_back("timer" + std::to_string(id));
        KillTimer(id);
        if (id == 1) {
            EndModalLoop(5);
        } else if (id == 2) {
            PostQuitMessage(9);
        }
    }
    void OnPaint()
    {
        events.push_back("paint");
        ValidateRect(m_hWnd, nullptr);
    }
    LRESULT OnUser(WPARAM, LPARAM)
    {
        events.push_back("user");
        return 0;
    }
    LRESULT OnSysTimer(WPARAM, LPARAM)
    {
        events.push_back("systimer");
        return 0;
    }
    void OnMouseMove(UINT, CPoint) { events.push_back("move"); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(LoopWnd, CWnd)
ON_MESSAGE(WM_KICKIDLE, OnKickIdle)
ON_WM_TIMER()
ON_WM_PAINT()
ON_MESSAGE(WM_USER, OnUser)
ON_MESSAGE(WM_SYSTIMER, OnSysTimer)
ON_WM_MOUSEMOVE()
END_MESSAGE_MAP()

class MfcLoop : public Windowing
{
protected:
    void SetUp() override
    {
        Windowing::SetUp();
        events.clear();
    }
};

TEST_F(MfcLoop, ModalLoopKicksIdleThenRunsUntilEndModalLoop)
{
    LoopWnd window;
    ASSERT_TRUE(window.Open());
    window.SetTimer(1, 100, nullptr);
    EXPECT_EQ(window.RunModalLoop(), 5);
    EXPECT_EQ(events, (std::vector<std::string>{"paint", "kick0", "kick1", "kick2", "timer1"}));
    EXPECT_EQ(window.m_nFlags & (WF_MODALLOOP | WF_CONTINUEMODAL), 0);
    EXPECT_FALSE(window.ContinueModal());
    EXPECT_EQ(Win32Test::VirtualSleepClock(), 100u) << "waited for the timer on the virtual clock";
}

TEST_F(MfcLoop, QuitDuringTheModalLoopEndsItAndIsPostedAgain)
{
    LoopWnd window;
    ASSERT_TRUE(window.Open());
    window.SetTimer(2, 10, nullptr);
    EXPECT_EQ(window.RunModalLoop(MLF_NOKICKIDLE), -1);
    MSG message;
    ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, WM_QUIT);
    EXPECT_EQ(message.wParam, 0u) << "AfxPostQuitMessage(0)";
}

// Each idle phase ends by calling the next step of the script.
class ScriptedApp : public CWinApp
{
public:
    ScriptedApp() : CWinApp(u"Scripted") {}
    std::vector<std::function<void()>> script;
    size_t next = 0;

    BOOL OnIdle(LONG count) override
    {
        events.push_back("idle" + std::to_string(count));
        if (count < 2) {
            return TRUE;
        }
        if (next < script.size()) {
            script[next++]();
        }
        return FALSE;
    }
};

TEST_F(MfcLoop, RunRestartsTheIdleCountAfterAMessageButNotAfterPaintSysTimerOrAStillPointer)
{
    ScriptedApp app;
    LoopWnd window;
    ASSERT_TRUE(window.Open());
    app.m_pMainWnd = &window;
    Drain();
    events.clear();
    HWND handle = window.m_hWnd;
    // A timer after each stimulus wakes the loop; it restarts the count itself.
    auto thenTimer = [&] { ::SetTimer(handle, 3, 10, nullptr); };
    app.script = {
        [&] { ::PostMessageW(handle, WM_USER, 0, 0); },
        [&] {
            InvalidateRect(handle, nullptr, FALSE);
            thenTimer();
        },
        [&] {
            ::PostMessageW(handle, WM_SYSTIMER, 0, 0);
            thenTimer();
        },
        [&] { Win32Test::MovePointer(5, 5); },
        [&] {
            Win32Test::MovePointer(5, 5);
            thenTimer();
        },
        [&] { PostQuitMessage(3); },
    };
    EXPECT_EQ(app.Run(), 3) << "ExitInstance gives the quit code";
    const std::vector<std::string> idle{"idle0", "idle1", "idle2"};
    std::vector<std::string> expected;
    auto add = [&](std::initializer_list<std::string> items) {
        expected.insert(expected.end(), items.begin(), items.end());
    };
    add({"idle0", "idle1", "idle2"});
    add({"user", "idle0", "idle1", "idle2"});
    add({"paint", "timer3", "idle0", "idle1", "idle2"});
    add({"systimer", "timer3", "idle0", "idle1", "idle2"});
    add({"move", "idle0", "idle1", "idle2"});
    add({"move", "timer3", "idle0", "idle1", "idle2"});
    EXPECT_EQ(events, expected);
}

}  // namespace
