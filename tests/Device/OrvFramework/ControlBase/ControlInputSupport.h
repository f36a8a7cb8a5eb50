#pragma once
// A tree of controls under a root window on a recording host, and a client that records the
// notifications the controls send ("name:NID_..." with the condition bits when they come with
// them), in order.

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "ControlBase/ConditionsParam.h"
#include "ControlBase/ValueParam.h"
#include "ControlGeometryTestSupport.h"
#include "ControlStateTestPeer.h"
#include "Notification/Notification.h"
#include "Notification/NotificationClient.h"
#include "Notification/NotificationIdTexts.h"
#include "RootWindowSupport.h"

namespace ControlInputTest {

using Orv::ControlStateTestPeer;
using Orv::LControl;
using Orv::PointD;
using Orv::PointL;
using Orv::RCPtr;
using Names = std::vector<std::string>;

inline std::string Hex(uint32_t bits)
{
    std::ostringstream out;
    out << "0x" << std::hex << bits;
    return out.str();
}

// Records each notification as "sender:ID", condition payloads as "sender:ID old->new".
class Recorder : public Orv::LNotificationClient
{
public:
    int OnNotification(const RCPtr<Orv::LNotificationDistributor>& sender,
                       const RCPtr<Orv::LNotification>& notification) override
    {
        std::string name = "?";
        if (auto* control = dynamic_cast<LControl*>(sender.Get())) {
            name = ControlTest::Narrow(control->GetName());
        }
        const std::string id = ControlTest::Narrow(Orv::WideString(notification->id));
        std::string entry = name + ":" + id;
        if (auto* conditions =
                dynamic_cast<Orv::LConditionsParam*>(notification->parameter.Get())) {
            entry += " " + Hex(conditions->oldConditions) + "->" + Hex(conditions->newConditions);
        }
        if (auto* value = dynamic_cast<Orv::LValueParam*>(notification->parameter.Get())) {
            std::ostringstream out;
            out << " " << value->position << "=" << value->value;
            entry += out.str();
        }
        log.push_back(entry);
        if (onNotify) {
            onNotify(id, notification);
        }
        return 1;
    }

    void Listen(const RCPtr<LControl>& control, const std::vector<const char16_t*>& ids)
    {
        for (const char16_t* id : ids) {
            ASSERT_NE(Register(RCPtr<Orv::LNotificationDistributor>(control), id, 0), nullptr);
        }
    }

    Names log;
    std::function<void(const std::string& id, const RCPtr<Orv::LNotification>&)> onNotify;
};

// Every condition notification.
inline std::vector<const char16_t*> ConditionIds()
{
    return {Orv::NID_CONDITION_CHANGE,
            Orv::NID_HAS_FOCUS_CONDITION_CHANGE,
            Orv::NID_CONTAINS_FOCUS_CONDITION_CHANGE,
            Orv::NID_HOVER_CONDITION_CHANGE,
            Orv::NID_CAPTURE_CONDITION_CHANGE,
            Orv::NID_LEFT_DRAG_CONDITION_CHANGE,
            Orv::NID_MIDDLE_DRAG_CONDITION_CHANGE,
            Orv::NID_RIGHT_DRAG_CONDITION_CHANGE,
            Orv::NID_ENABLED_CONDITION_CHANGE,
            Orv::NID_VISIBLITY_CONDITION_CHANGE};
}

// A solid control that logs the hooks the condition model and closing call.
class Probe : public ControlTest::Solid
{
public:
    using Solid::Solid;

    void OnConditionsChanged(const RCPtr<Orv::LConditionsParam>& payload) override
    {
        Log("hook " + Hex(payload->oldConditions) + "->" + Hex(payload->newConditions));
    }
    Orv::ORVRESULT BeginDragGeometry() override
    {
        Log("begin drag");
        return S_OK;
    }
    Orv::ORVRESULT EndDrag() override
    {
        Log("end drag");
        return S_OK;
    }
    Orv::ORVRESULT OnCaptureLost() override
    {
        Log("capture lost");
        return S_OK;
    }
    Orv::ORVRESULT SetFocus(bool first) override
    {
        Log(first ? "focus first" : "focus last");
        return S_OK;
    }
    void OnValueChanged() override { Log("value changed"); }
    Orv::ORVRESULT Close() override
    {
        if (onClose) {
            onClose(*this);
        }
        return LControl::Close();
    }

    Names* log = nullptr;
    std::function<void(Probe&)> onClose;

private:
    void Log(const std::string& entry)
    {
        if (log != nullptr) {
            log->push_back(ControlTest::Narrow(GetName()) + ":" + entry);
        }
    }
};

// root (fills the window) holding panel (10, 10, 200, 200) with a (0, 0, 50, 50) and b
// (60, 0, 50, 50); a holds a1 (5, 5, 10, 10). Every control logs to `log`.
class ControlInputFixture : public ControlTest::ControlFixture
{
protected:
    void SetUp() override
    {
        ControlFixture::SetUp();
        window = Orv::LRootWindow::Create(nullptr, &services);
        root = ControlTest::Make<Probe>(nullptr, u"root", 0, 0, 400, 300);
        panel = ControlTest::Make<Probe>(root, u"panel", 10, 10, 200, 200);
        a = ControlTest::Make<Probe>(panel, u"a", 0, 0, 50, 50);
        b = ControlTest::Make<Probe>(panel, u"b", 60, 0, 50, 50);
        a1 = ControlTest::Make<Probe>(a, u"a1", 5, 5, 10, 10);
        for (Probe* probe : {root.Get(), panel.Get(), a.Get(), b.Get(), a1.Get()}) {
            probe->log = &log;
        }
        ASSERT_EQ(window->SetRootControl(root), 0);
        recorder = RCPtr<Recorder>(new Recorder());
        // Whatever setting the tree up announced is not what a test looks at.
        for (Probe* probe : {root.Get(), panel.Get(), a.Get(), b.Get(), a1.Get()}) {
            probe->UpdateConditions();
        }
        log.clear();
    }

    void TearDown() override
    {
        recorder->onNotify = nullptr;
        recorder->UnregisterAll();
        recorder = nullptr;
        root = panel = a = b = a1 = nullptr;
        if (window) {
            window->DropBackReferences();
            window = nullptr;
        }
        ControlFixture::TearDown();
    }

    static void Set(LControl& control, ControlStateTestPeer::Byte which, bool value)
    {
        ControlStateTestPeer::Set(control, which, value);
    }

    RootWindowTest::RecordingServices services;
    RCPtr<Orv::LRootWindow> window;
    RCPtr<Probe> root, panel, a, b, a1;
    RCPtr<Recorder> recorder;
    Names log;
};

}  // namespace ControlInputTest
