#pragma once
// The headless rig of the control library's tests: the fixture skin and strings read into a
// factory that knows the library's classes, a root window on recording OS services listed with the
// application, synthetic input through the window, an idle pump on the virtual clock, and a
// recorder of the notifications controls send, stamped with the clock. A test that wants to see
// what is drawn opens its window over the renderer tests' RecordingRenderer.h (on the include
// path), or over GDI+ in pixel mode (PixelRig.h).

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Application/ControlCreateFunction.h"
#include "ControlBase/InputPayloads.h"
#include "ControlBase/RootWindow.h"
#include "ControlTestSupport.h"
#include "Controls/Button.h"
#include "Controls/ToolTip.h"
#include "Notification/Notification.h"
#include "Notification/NotificationClient.h"
#include "RootWindowSupport.h"
#include "Win32Test/SleepClock.h"
#include "win32/Sleep.h"

namespace ControlLibraryTest {

using Orv::LControl;
using Orv::PointL;
using Orv::RCPtr;
using Names = std::vector<std::string>;

inline std::string Narrow(const Orv::WideString& text)
{
    return ControlTest::Narrow(text);
}

inline std::string ReadFixture(const std::string& name)
{
    std::ifstream file(std::string(ORV_CONTROLS_FIXTURES) + "/" + name, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

// Writes "<ms> <sender>:<ID>" for each notification it is registered for, in order.
class NotificationRecorder : public Orv::LNotificationClient
{
public:
    void Listen(const RCPtr<LControl>& control, const std::vector<const char16_t*>& ids)
    {
        for (const char16_t* id : ids) {
            ASSERT_NE(Register(RCPtr<Orv::LNotificationDistributor>(control), id, 0), nullptr);
        }
    }

    int OnNotification(const RCPtr<Orv::LNotificationDistributor>& sender,
                       const RCPtr<Orv::LNotification>& notification) override
    {
        std::string from = "?";
        if (auto* control = dynamic_cast<LControl*>(sender.Get())) {
            from = Narrow(control->GetName());
        }
        log.push_back(std::to_string(Win32Test::VirtualSleepClock()) + " " + from + ":" +
                      Narrow(Orv::WideString(notification->id)));
        return 0;
    }

    // The entries of that id, as their times.
    std::vector<uint64_t> TimesOf(const std::string& entry) const
    {
        std::vector<uint64_t> times;
        for (const std::string& line : log) {
            const size_t space = line.find(' ');
            if (line.substr(space + 1) == entry) {
                times.push_back(std::stoull(line.substr(0, space)));
            }
        }
        return times;
    }

    Names log;
};

class ControlLibraryRig : public ControlTest::ControlFixture
{
protected:
    void SetUp() override
    {
        ControlFixture::SetUp();
        Win32Test::UseVirtualSleepClock();
        application->GetTimeSeconds();  // the application's clock moves on to the virtual one
        Orv::LToolTip::ForgetLastHide();
        factory->RegisterControlCreateFunction(u"Test.Panel",
                                               &Orv::ControlCreateFunction<LControl>);
        factory->RegisterControlCreateFunction(u"Framework.Button",
                                               &Orv::ControlCreateFunction<Orv::LButton>);
        factory->RegisterControlCreateFunction(u"Framework.ToolTip",
                                               &Orv::ControlCreateFunction<Orv::LToolTip>);
        const std::string skin = ReadFixture("controllib-skin.xml");
        ASSERT_FALSE(skin.empty());
        ASSERT_EQ(factory->ParseXml(skin.data(), skin.size()), 0)
            << Narrow(factory->GetLastErrorText());
        const std::string strings = std::string(ORV_CONTROLS_FIXTURES) + "/controllib-strings.xml";
        ASSERT_EQ(factory->LoadStringTables(Orv::WideString(strings.c_str()),
                                            Orv::WideString((strings + "-none").c_str()), 0x0009),
                  0);
        recorder = RCPtr<NotificationRecorder>(new NotificationRecorder());
    }

    void TearDown() override
    {
        if (recorder) {
            recorder->UnregisterAll();
            recorder = nullptr;
        }
        CloseWindow();
        Win32Test::ResetSleepClock();
        ControlFixture::TearDown();
    }

    // The tree and its window go.
    void CloseWindow()
    {
        root = nullptr;
        if (window) {
            application->RemoveRootWindow(window);
            window->DropBackReferences();
            window = nullptr;
        }
    }

    // The top-level control of that name in a window of that client size, over a renderer when
    // one is given.
    void Open(const char16_t* name, PointL client = PointL{400, 300},
              const RCPtr<Orv::LRenderer>& renderer = RCPtr<Orv::LRenderer>())
    {
        services.client = client;
        services.origin = PointL{0, 0};
        window = Orv::LRootWindow::Create(renderer, &services);
        application->AddRootWindow(window);
        ASSERT_EQ(window->SetRootControlByName(Orv::WideString(name)), S_OK);
        window->OnClientSizeChanged(client);
        root = window->GetRootControl();
        ASSERT_TRUE(root);
    }

    // The descendant at that path of names ("group/r1").
    template <class T = LControl>
    RCPtr<T> Find(const std::string& path) const
    {
        RCPtr<LControl> at = root;
        std::istringstream parts(path);
        std::string part;
        while (at && std::getline(parts, part, '/')) {
            at = at->FindChild(Orv::WideString(part.c_str()));
        }
        return Orv::DynamicRCPtrCast<T>(at);
    }

    // Where a control's centre lies in the window.
    static PointL CentreOf(const RCPtr<LControl>& control)
    {
        const Orv::PointD origin = control->GetWindowOrigin();
        return PointL{static_cast<int32_t>(origin.x + control->GetRect().width / 2),
                      static_cast<int32_t>(origin.y + control->GetRect().height / 2)};
    }

public:
    // --- Synthetic input; the host's pointer and buttons follow, as the platform's would.
    void Press(PointL at, int32_t button = 1)
    {
        services.buttons |= button;
        services.pointer = at;
        window->HandleMouseButton(0, button, 0, at, 0);
    }
    void DoubleClickPress(PointL at, int32_t button = 1)
    {
        services.buttons |= button;
        services.pointer = at;
        window->HandleMouseButton(2, button, 0, at, 0);
    }
    void Release(PointL at, int32_t button = 1)
    {
        services.buttons &= ~button;
        services.pointer = at;
        window->HandleMouseButton(1, button, 0, at, 0);
    }
    void Move(PointL at)
    {
        services.pointer = at;
        window->HandleMouseMove(at, 0, 0);
    }
    void Click(PointL at, int32_t button = 1)
    {
        Press(at, button);
        Release(at, button);
    }
    void Wheel(PointL at, int32_t wheelCode)
    {
        services.pointer = at;
        window->HandleMouseWheel(at, 0, wheelCode);
    }
    void Key(uint32_t virtualKey, bool down = true, Orv::KeyModifierFlags modifiers = 0)
    {
        window->HandleKey(RCPtr<Orv::LKeyParam>(
            new Orv::LKeyParam(Orv::KeyCode(virtualKey, down, false, modifiers), 1)));
    }

    // --- The idle pump: the virtual clock moves on, then one idle pass of the application.
    void Pump(uint32_t milliseconds = 33)
    {
        Sleep(milliseconds);
        application->OnIdle(true);
    }
    // Pumps in steps until the clock has moved on by that much.
    void PumpFor(uint32_t milliseconds, uint32_t step = 33)
    {
        for (uint32_t done = 0; done < milliseconds;) {
            const uint32_t next = std::min(step, milliseconds - done);
            Pump(next);
            done += next;
        }
    }
    static uint64_t Clock() { return Win32Test::VirtualSleepClock(); }

protected:
    RootWindowTest::RecordingServices services;
    RCPtr<Orv::LRootWindow> window;
    RCPtr<LControl> root;
    RCPtr<NotificationRecorder> recorder;
};

}  // namespace ControlLibraryTest
