#pragma once
// Pointer input driven through a root window over a recording host: a client that writes down
// the input notifications a control sends, a control that answers the wheel as told and records
// its hooks, and a fixture holding the window, its services and the virtual clock.

#include <functional>
#include <string>
#include <vector>

#include "ControlGeometryTestSupport.h"
#include "Notification/Notification.h"
#include "Notification/NotificationClient.h"
#include "RootWindowSupport.h"
#include "Win32Test/SleepClock.h"

namespace PointerTest {

using ControlTest::Make;
using ControlTest::Solid;
using Orv::LControl;
using Orv::PointD;
using Orv::PointL;
using Orv::RCPtr;
using Orv::RectD;
using Names = std::vector<std::string>;

inline std::string Narrow(const char16_t* text)
{
    std::string out;
    for (; text != nullptr && *text != 0; ++text) {
        out += static_cast<char>(*text);
    }
    return out;
}

// Writes "<id>" for each input notification, with " x,y" for a move; runs the action (when set)
// on the id it names, after writing it down.
class InputRecorder : public Orv::LNotificationClient
{
public:
    explicit InputRecorder(Names& log) : log(log) {}

    static RCPtr<InputRecorder> Attach(const RCPtr<LControl>& control, Names& log)
    {
        RCPtr<InputRecorder> recorder(new InputRecorder(log));
        for (const char16_t* id : {u"NID_MOUSE_DOWN", u"NID_MOUSE_MOVE", u"NID_MOUSE_UP",
                                   u"NID_LEFT_CLICK", u"NID_MIDDLE_CLICK", u"NID_RIGHT_CLICK"}) {
            recorder->Register(control, id);
        }
        return recorder;
    }

    int OnNotification(const RCPtr<Orv::LNotificationDistributor>&,
                       const RCPtr<Orv::LNotification>& notification) override
    {
        std::string entry = Narrow(notification->id);
        if (const auto point =
                Orv::DynamicRCPtrCast<Orv::LPointWithModifiersParam>(notification->parameter)) {
            if (entry == "NID_MOUSE_MOVE") {
                entry += " " + std::to_string(point->x) + "," + std::to_string(point->y);
            }
        }
        log.push_back(entry);
        if (action && Narrow(notification->id) == actionOn) {
            action();
        }
        return 0;
    }

    std::string actionOn;
    std::function<void()> action;

private:
    Names& log;
};

// Answers the wheel with a set result and writes down that it was asked.
class WheelProbe : public Solid
{
public:
    using Solid::Solid;
    Orv::ORVRESULT OnWheel(const RCPtr<Orv::LMouseWheelParam>&) override
    {
        if (log != nullptr) {
            log->push_back(ControlTest::Narrow(GetName()));
        }
        return answer;
    }
    Orv::ORVRESULT OnHWheel(const RCPtr<Orv::LMouseWheelParam>& wheel) override
    {
        return OnWheel(wheel);
    }
    Orv::ORVRESULT answer = 1;
    Names* log = nullptr;
};

class PointerFixture : public ControlTest::ControlFixture
{
protected:
    void SetUp() override
    {
        ControlFixture::SetUp();
        Win32Test::UseVirtualSleepClock();
        window = RootWindowTest::MakeWindow(RCPtr<Orv::LRenderer>(), &services);
    }

    void TearDown() override
    {
        recorder = nullptr;
        root = nullptr;
        if (window) {
            window->DropBackReferences();
            window = nullptr;
        }
        Win32Test::ResetSleepClock();
        ControlFixture::TearDown();
    }

    // A root control of the window's size, under the window.
    template <class T = Solid>
    void MakeRoot()
    {
        root = Make<T>(nullptr, u"root", 0, 0, 400, 300);
        ASSERT_EQ(window->SetRootControl(root), S_OK);
    }

    // The host's button state follows each press and release, as the platform's would.
    void Press(int32_t button, PointL at)
    {
        services.buttons |= button;
        services.pointer = at;
        window->HandleMouseButton(0, button, 0, at, 0);
    }
    void Release(int32_t button, PointL at)
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

    RootWindowTest::RecordingServices services;
    RCPtr<Orv::LRootWindow> window;
    RCPtr<LControl> root;
    RCPtr<InputRecorder> recorder;
    Names log;
};

}  // namespace PointerTest
