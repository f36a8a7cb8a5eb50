#pragma once
// Host windows on the headless windowing model and the virtual clock: an application that
// records what the windows hand it, a control that records the input it gets, and a fixture that
// opens host windows and takes away what a test left.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <windows.h>

#include "Application/ApplicationNotificationCenter.h"
#include "Application/FrameworkApp.h"
#include "ControlBase/Control.h"
#include "ControlBase/InputPayloads.h"
#include "ControlBase/OSWindow.h"
#include "ControlBase/RootWindow.h"
#include "Registry/MachineRegistry.h"
#include "Win32Test/SleepClock.h"
#include "Win32Test/Windowing.h"
#include "gdiplus.h"

namespace HostWindowTest {

using Orv::LControl;
using Orv::PointL;
using Orv::RCPtr;
using Orv::RectL;

inline std::string Hex(uint32_t value)
{
    std::ostringstream out;
    out << std::hex << value;
    return out.str();
}

// Every idle pass and every command line handed over, with the clock when it ran.
class RecordingApp : public Orv::LFrameworkApp
{
public:
    bool OnIdle(bool sendIdle) override
    {
        idlePasses.push_back(timeGetTime());
        if (onIdle) {
            onIdle();
        }
        return Orv::LFrameworkApp::OnIdle(sendIdle) || moreIdle;
    }
    Orv::ORVRESULT OnRemoteCommandLine(const Orv::WideString& text) override
    {
        commandLines.push_back(text.ToNarrow().GetText());
        return S_OK;
    }
    int OnNotification(const RCPtr<Orv::LNotificationDistributor>&,
                       const RCPtr<Orv::LNotification>& notification) override
    {
        notifications.push_back(Orv::WideString(notification->id).ToNarrow().GetText());
        return 0;
    }

    LRESULT OnPowerBroadcast(WPARAM, LPARAM) override { return powerAnswer; }

    std::vector<DWORD> idlePasses;
    LRESULT powerAnswer = 1;
    std::vector<std::string> commandLines;
    std::vector<std::string> notifications;
    std::function<void()> onIdle;
    bool moreIdle = false;
};

// Records its input as "name:call ..."; hit-tests to itself everywhere.
class Probe : public LControl
{
public:
    Probe(const RCPtr<LControl>& parent, const char16_t* name, std::vector<std::string>* log)
        : LControl(parent, name), log(log)
    {
    }

    RCPtr<LControl>& HitTest(RCPtr<LControl>& result, const PointL& point, bool, PointL& local,
                             int32_t&) override
    {
        // The whole client area, nothing outside it.
        const RCPtr<Orv::LRootWindow> root = GetRootWindowRef();
        const PointL size = root ? root->GetWindowSize() : PointL{0, 0};
        const bool inside = point.x >= 0 && point.y >= 0 && point.x < size.x && point.y < size.y;
        result = inside ? RCPtr<LControl>(this) : RCPtr<LControl>();
        local = point;
        return result;
    }
    Orv::ORVRESULT OnMouseEnter() override { return Log("enter"); }
    Orv::ORVRESULT OnMouseLeave() override { return Log("leave"); }
    Orv::ORVRESULT OnMouseMove(const RCPtr<Orv::LPointWithModifiersParam>& p) override
    {
        return Log("move " + std::to_string(p->x) + "," + std::to_string(p->y));
    }
    Orv::ORVRESULT OnMouseDown(const RCPtr<Orv::LMouseButtonParam>& b) override
    {
        return Log("down " + std::to_string(b->button) + " at " + std::to_string(b->x) + "," +
                   std::to_string(b->y) + " mod " + Hex(static_cast<uint32_t>(b->modifiers)) +
                   (b->doubleClick != 0 ? " double" : ""));
    }
    Orv::ORVRESULT OnMouseUp(const RCPtr<Orv::LMouseButtonParam>& b) override
    {
        return Log("up " + std::to_string(b->button));
    }
    Orv::ORVRESULT OnMouseWheel(const RCPtr<Orv::LMouseWheelParam>& w) override
    {
        Log("wheel " + std::to_string(w->wheelCode) + " at " + std::to_string(w->x) + "," +
            std::to_string(w->y));
        return S_OK;
    }
    Orv::ORVRESULT OnMouseHWheel(const RCPtr<Orv::LMouseWheelParam>& w) override
    {
        Log("hwheel " + std::to_string(w->wheelCode));
        return S_OK;
    }
    Orv::ORVRESULT OnCaptureLost() override { return Log("capture lost"); }
    void OnKey(const RCPtr<Orv::LKeyParam>& key) override
    {
        Log("key " + Hex(key->key.code) + " side " + Hex(key->key.sideMask) +
            (key->key.wasDown ? " repeat" : ""));
    }
    Orv::ORVRESULT SetFocus(bool) override
    {
        if (const RCPtr<Orv::LRootWindow> root = GetRootWindowRef()) {
            root->SetFocusControl(RCPtr<LControl>(this));
        }
        return Log("focus");
    }
    Orv::ORVRESULT OnRelayout(const PointL& size) override
    {
        Log("relayout " + std::to_string(size.x) + "x" + std::to_string(size.y));
        return LControl::OnRelayout(size);
    }
    Orv::ORVRESULT Draw(Orv::LRenderer&, const Orv::RectRegion&, Orv::RCPtrArray<LControl>&,
                        bool) override
    {
        ++draws;
        return S_OK;
    }

    int draws = 0;

private:
    Orv::ORVRESULT Log(const std::string& call)
    {
        if (log != nullptr) {
            log->push_back(GetName().ToNarrow().GetText() + std::string(":") + call);
        }
        return S_OK;
    }
    std::vector<std::string>* log;
};

// The MFC host's loop as the application runs it: its first idle call of a phase is the
// framework's idle pass; every message it takes is logged first.
class HostApp : public CWinApp
{
public:
    HostApp() : CWinApp(u"Quorvel") {}
    BOOL OnIdle(LONG count) override
    {
        if (count == 0) {
            if (Orv::LFrameworkApp* app = Orv::GetFrameworkApp()) {
                app->OnIdle(true);
            }
        }
        return CWinApp::OnIdle(count);
    }
    BOOL PreTranslateMessage(MSG* message) override
    {
        if (onMessage) {
            onMessage(*message);
        }
        return FALSE;
    }
    std::function<void(const MSG&)> onMessage;
};

class HostWindows : public testing::Test
{
protected:
    void SetUp() override
    {
        Win32Test::ResetWindowing();
        Win32Test::UseHeadless();
        Win32Test::UseVirtualSleepClock();
        Win32Test::SetScreen(RECT{0, 0, 1280, 1024}, RECT{0, 0, 1280, 984});
        Platform::Registry::MachineRegistry::Instance().Open({});
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&gdiplusToken, &input, nullptr), Gdiplus::Ok);
        winApp = std::make_unique<HostApp>();
        winApp->SetRegistryKey(u"Corvane");
        app = RCPtr<RecordingApp>(new RecordingApp());
    }

    void TearDown() override
    {
        // The last opened first: a child goes before its parent takes its window.
        for (auto at = opened.rbegin(); at != opened.rend(); ++at) {
            if (CWnd::FromHandlePermanent(at->first) == at->second) {
                delete at->second;
            }
        }
        opened.clear();
        probes.clear();
        if (app) {
            app->UnregisterAll();
            EXPECT_EQ(app->GetRootWindowCount(), 0) << "a host left its root window listed";
        }
        app = nullptr;
        winApp.reset();
        Gdiplus::GdiplusShutdown(gdiplusToken);
        EXPECT_EQ(LControl::GetLiveCount(), 0);
        Win32Test::ResetWindowing();
        Win32Test::ResetSleepClock();
    }

    // A host window with the GDI+ renderer and a probe as its root control, active and focused.
    Orv::OSWindow* Open(const char16_t* name, int x, int y, int width, int height,
                        HWND parent = nullptr, const char16_t* className = nullptr,
                        DWORD style = WS_POPUP | WS_VISIBLE)
    {
        auto* window = new Orv::OSWindow();
        if (!window->CreateEx(0, className, u"host", style, x, y, width, height, parent, nullptr)) {
            ADD_FAILURE() << "CreateEx";
            delete window;
            return nullptr;
        }
        opened.emplace_back(window->m_hWnd, window);
        EXPECT_EQ(window->CreateRenderer(Orv::kRendererGdiPlus), S_OK);
        const RCPtr<Probe> probe(new Probe(nullptr, name, &log));
        probes.push_back(probe);
        window->GetRootWindow()->SetRootControl(RCPtr<LControl>(probe.Get()));
        SetActiveWindow(window->m_hWnd);
        ::SetFocus(window->m_hWnd);
        Drain();
        log.clear();
        return window;
    }

    // Dispatches what the queue holds now, through the application's pump.
    static void Drain()
    {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam));
                return;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

    static bool Alive(HWND handle, Orv::OSWindow* window)
    {
        return IsWindow(handle) && CWnd::FromHandlePermanent(handle) == window;
    }

    std::vector<std::string> Take()
    {
        std::vector<std::string> taken;
        taken.swap(log);
        return taken;
    }

    ULONG_PTR gdiplusToken = 0;
    std::unique_ptr<HostApp> winApp;
    RCPtr<RecordingApp> app;
    std::vector<std::pair<HWND, Orv::OSWindow*>> opened;
    std::vector<RCPtr<Probe>> probes;
    std::vector<std::string> log;
};

}  // namespace HostWindowTest
