// A control's presses, moves and releases as the root window delivers them: the order of its
// notifications, the drag threshold, clicks, the capture across buttons, and a client that closes
// the window from inside a notification.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "ControlBase/ConditionsParam.h"
#include "ControlBase/MenuDescriptor.h"
#include "PointerTestSupport.h"

namespace {

using namespace PointerTest;

class ControlPointer : public PointerFixture
{
protected:
    void SetUp() override
    {
        PointerFixture::SetUp();
        MakeRoot();
        button = Make(root, u"button", 20, 20, 100, 50);
        recorder = InputRecorder::Attach(button, log);
    }
    void TearDown() override
    {
        button = nullptr;
        PointerFixture::TearDown();
    }

    RCPtr<Solid> button;
};

TEST_F(ControlPointer, APressAndReleaseSendDownUpAndThenTheClick)
{
    Press(1, PointL{40, 30});
    EXPECT_EQ(window->GetCaptureControl().Get(), button.Get());
    Release(1, PointL{40, 30});
    EXPECT_EQ(log, (Names{"NID_MOUSE_DOWN", "NID_MOUSE_UP", "NID_LEFT_CLICK"}));
    EXPECT_EQ(window->GetCaptureControl().Get(), nullptr);
}

TEST_F(ControlPointer, EachButtonClicksWithItsOwnNotification)
{
    const struct
    {
        int32_t button;
        const char* click;
    } rows[] = {{1, "NID_LEFT_CLICK"}, {2, "NID_MIDDLE_CLICK"}, {4, "NID_RIGHT_CLICK"}};
    for (const auto& row : rows) {
        log.clear();
        Press(row.button, PointL{40, 30});
        Release(row.button, PointL{40, 30});
        EXPECT_EQ(log, (Names{"NID_MOUSE_DOWN", "NID_MOUSE_UP", row.click})) << row.button;
    }
}

TEST_F(ControlPointer, AMoveOfTheThresholdIsReportedFirstAtThePressPointAndDrags)
{
    const struct
    {
        int32_t dragMode;
        bool clicks;
    } rows[] = {{0, true}, {2, false}};
    for (const auto& row : rows) {
        log.clear();
        Press(1, PointL{40, 30});
        // A derived control picks its drag mode once the press is under way.
        button->SetDragMode(row.dragMode, 1);
        Move(PointL{41, 30});
        Release(1, PointL{41, 30});
        // Past the threshold the press is a drag: with drag mode 0 its release still clicks.
        Names expected{"NID_MOUSE_DOWN", "NID_MOUSE_MOVE 20,10", "NID_MOUSE_MOVE 21,10",
                       "NID_MOUSE_UP"};
        if (row.clicks) {
            expected.push_back("NID_LEFT_CLICK");
        }
        EXPECT_EQ(log, expected) << row.dragMode;
        EXPECT_EQ(window->GetCaptureControl().Get(), nullptr);
    }
}

TEST_F(ControlPointer, AMoveShortOfTheThresholdIsReportedOnceAndStillClicks)
{
    ASSERT_EQ(button->SetDragThreshold(3), S_OK);
    Press(1, PointL{40, 30});
    Move(PointL{42, 32});
    Release(1, PointL{42, 32});
    EXPECT_EQ(log,
              (Names{"NID_MOUSE_DOWN", "NID_MOUSE_MOVE 22,12", "NID_MOUSE_UP", "NID_LEFT_CLICK"}));
}

TEST_F(ControlPointer, WithThresholdZeroThePressIsADragAtOnce)
{
    ASSERT_EQ(button->SetDragThreshold(0), S_OK);
    Press(1, PointL{40, 30});
    Move(PointL{41, 30});
    Release(1, PointL{41, 30});
    // No move at the press point: the drag began with the press. Drag mode 0 still clicks.
    EXPECT_EQ(log,
              (Names{"NID_MOUSE_DOWN", "NID_MOUSE_MOVE 21,10", "NID_MOUSE_UP", "NID_LEFT_CLICK"}));
}

TEST_F(ControlPointer, AReleaseOutsideGivesNoClickButEndsTheCapture)
{
    ASSERT_EQ(button->SetDragThreshold(1000), S_OK);  // no drag: only the hover decides
    Press(1, PointL{40, 30});
    Move(PointL{300, 200});
    EXPECT_EQ(window->GetHoverControl().Get(), nullptr);
    Release(1, PointL{300, 200});
    EXPECT_EQ(log, (Names{"NID_MOUSE_DOWN", "NID_MOUSE_MOVE 280,180", "NID_MOUSE_UP"}));
    EXPECT_EQ(window->GetCaptureControl().Get(), nullptr);
}

TEST_F(ControlPointer, RightPressedWhileLeftIsHeldKeepsTheCaptureUntilBothAreUp)
{
    Press(1, PointL{40, 30});
    Press(4, PointL{40, 30});
    Release(1, PointL{40, 30});
    EXPECT_EQ(window->GetCaptureControl().Get(), button.Get());
    Release(4, PointL{40, 30});
    EXPECT_EQ(window->GetCaptureControl().Get(), nullptr);
    // The right press came during the capture: it started no press of its own, so no right click.
    EXPECT_EQ(log, (Names{"NID_MOUSE_DOWN", "NID_MOUSE_DOWN", "NID_MOUSE_UP", "NID_LEFT_CLICK",
                          "NID_MOUSE_UP"}));
}

TEST_F(ControlPointer, DisabledOrHiddenControlsTakeNoPress)
{
    struct Row
    {
        const char* name;
        void (*change)(LControl& control, LControl& parent);
    };
    const Row rows[] = {
        {"disabled", [](LControl& control, LControl&) { control.GetLayout()->isEnabled = false; }},
        {"parent disabled",
         [](LControl&, LControl& parent) { parent.GetLayout()->isEnabled = false; }},
    };
    for (const Row& row : rows) {
        row.change(*button, *root);
        const RCPtr<Orv::LMouseButtonParam> press(new Orv::LMouseButtonParam(1, 5, 5, 0, 0, 1, 0));
        EXPECT_EQ(button->OnMouseDown(press), 1) << row.name;
        EXPECT_EQ(button->OnMouseUp(press), 1) << row.name;
        button->GetLayout()->isEnabled = true;
        root->GetLayout()->isEnabled = true;
    }
    button->SetVisible(false);
    EXPECT_EQ(button->OnMouseDown(
                  RCPtr<Orv::LMouseButtonParam>(new Orv::LMouseButtonParam(1, 5, 5, 0, 0, 1, 0))),
              1);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(window->GetCaptureControl().Get(), nullptr);
}

TEST_F(ControlPointer, BadPayloadsAreRefused)
{
    const RCPtr<Orv::LMouseButtonParam> none;
    const RCPtr<Orv::LMouseButtonParam> third(new Orv::LMouseButtonParam(3, 5, 5, 0, 0, 1, 0));
    const RCPtr<Orv::LMouseButtonParam> left(new Orv::LMouseButtonParam(1, 5, 5, 0, 0, 1, 0));
    EXPECT_EQ(button->OnMouseDown(none), E_INVALIDARG);
    EXPECT_EQ(button->OnMouseDown(third), E_INVALIDARG);
    EXPECT_EQ(button->OnMouseUp(none), E_INVALIDARG);
    EXPECT_EQ(button->OnMouseUp(third), E_INVALIDARG);
    EXPECT_EQ(button->OnClick(none), E_INVALIDARG);
    EXPECT_EQ(button->OnClick(third), E_INVALIDARG);
    EXPECT_EQ(button->OnRightClick(left), E_INVALIDARG);
    EXPECT_EQ(button->OnMouseWheel(RCPtr<Orv::LMouseWheelParam>()), -1);
    EXPECT_EQ(button->OnCaptureLost(), 1);
    EXPECT_TRUE(log.empty());
}

TEST_F(ControlPointer, BeginCaptureNeedsTheButtonDown)
{
    EXPECT_EQ(button->BeginCapture(1, 5, 5), 1);
    services.buttons = 1;
    EXPECT_EQ(button->BeginCapture(1, 5, 5), 0);
    EXPECT_EQ(window->GetCaptureControl().Get(), button.Get());
    EXPECT_EQ(button->BeginCapture(1, 5, 5), 1);  // held already
    EXPECT_EQ(button->OnCaptureLost(), S_OK);
    EXPECT_EQ(window->GetCaptureControl().Get(), nullptr);
}

// A click that closes the window: the control goes with its tree while it is telling its
// clients, and it must neither be used after it is gone nor click once closed.
TEST_F(ControlPointer, AClientClosingTheWindowOnTheReleaseStopsTheClick)
{
    recorder->actionOn = "NID_MOUSE_UP";
    recorder->action = [this]() { window->SetRootControl(RCPtr<LControl>()); };
    Press(1, PointL{40, 30});
    // Only the window holds the tree now.
    button = nullptr;
    root = nullptr;
    Release(1, PointL{40, 30});
    EXPECT_EQ(log, (Names{"NID_MOUSE_DOWN", "NID_MOUSE_UP"}));
    EXPECT_EQ(window->GetCaptureControl().Get(), nullptr);
    recorder->UnregisterAll();
    EXPECT_EQ(LControl::GetLiveCount(), 0);
}

TEST_F(ControlPointer, AClientClosingTheWindowOnThePressTakesNoCapture)
{
    recorder->actionOn = "NID_MOUSE_DOWN";
    recorder->action = [this]() { window->SetRootControl(RCPtr<LControl>()); };
    button = nullptr;
    root = nullptr;
    Press(1, PointL{40, 30});
    EXPECT_EQ(window->GetCaptureControl().Get(), nullptr);
    recorder->UnregisterAll();
    EXPECT_EQ(LControl::GetLiveCount(), 0);
}

// Which control the press gives the focus to. The focus itself is the focus code's: this asks
// the root window which control holds it.
TEST_F(ControlPointer, APressFocusesTheControlOrItsNearestFocusableAncestor)
{
    root->SetNotFocusable(false);
    button->SetNotFocusable(false);
    Press(1, PointL{40, 30});
    Release(1, PointL{40, 30});
    EXPECT_EQ(window->GetFocusControl().Get(), button.Get());

    button->SetNotFocusable(true);
    Press(1, PointL{40, 30});
    Release(1, PointL{40, 30});
    EXPECT_EQ(window->GetFocusControl().Get(), root.Get());
}

// Records which menu the right click asks for; the menu opens through ShowContextMenu.
class MenuHolder : public Solid
{
public:
    using Solid::Solid;
    const RCPtr<Orv::LMenuDescriptor>& GetContextMenu() const override
    {
        log->push_back(menu ? "menu asked: held" : "menu asked: none");
        return menu;
    }
    RCPtr<Orv::LMenuDescriptor> menu;
    Names* log = nullptr;
};

TEST_F(ControlPointer, OnlyARightClickAsksForTheContextMenuAfterItsNotification)
{
    RCPtr<MenuHolder> holder = Make<MenuHolder>(root, u"holder", 200, 20, 50, 50);
    holder->log = &log;
    RCPtr<InputRecorder> holderRecorder = InputRecorder::Attach(holder, log);
    for (int32_t buttonIndex : {1, 2}) {
        Press(buttonIndex, PointL{210, 30});
        Release(buttonIndex, PointL{210, 30});
    }
    EXPECT_EQ(std::count(log.begin(), log.end(), std::string("menu asked: none")), 0);
    log.clear();
    Press(4, PointL{210, 30});
    Release(4, PointL{210, 30});
    holder->menu = Orv::LMenuDescriptor::Create();
    Press(4, PointL{210, 30});
    Release(4, PointL{210, 30});
    EXPECT_EQ(log,
              (Names{"NID_MOUSE_DOWN", "NID_MOUSE_UP", "NID_RIGHT_CLICK", "menu asked: none",
                     "NID_MOUSE_DOWN", "NID_MOUSE_UP", "NID_RIGHT_CLICK", "menu asked: held"}));
    holderRecorder->UnregisterAll();
    holder->SetParent(RCPtr<LControl>());
}

// What a real press changes in the condition model: the general notification carries capture and
// left pressed added to hover, and only the narrower notifications of bits that changed follow.
class ConditionRecorder : public Orv::LNotificationClient
{
public:
    explicit ConditionRecorder(Names& log) : log(log) {}
    int OnNotification(const RCPtr<Orv::LNotificationDistributor>&,
                       const RCPtr<Orv::LNotification>& notification) override
    {
        std::string entry = Narrow(notification->id);
        if (const auto change =
                Orv::DynamicRCPtrCast<Orv::LConditionsParam>(notification->parameter)) {
            char bits[32];
            std::snprintf(bits, sizeof bits, " %#x>%#x", change->oldConditions,
                          change->newConditions);
            entry += bits;
        }
        log.push_back(entry);
        return 0;
    }

private:
    Names& log;
};

TEST_F(ControlPointer, APressAddsCaptureAndLeftPressedAndSendsTheirOwnNotificationsAfter)
{
    Move(PointL{40, 30});
    RCPtr<ConditionRecorder> conditions(new ConditionRecorder(log));
    for (const char16_t* id :
         {u"NID_CONDITION_CHANGE", u"NID_HAS_FOCUS_CONDITION_CHANGE",
          u"NID_CONTAINS_FOCUS_CONDITION_CHANGE", u"NID_HOVER_CONDITION_CHANGE",
          u"NID_CAPTURE_CONDITION_CHANGE", u"NID_LEFT_DRAG_CONDITION_CHANGE",
          u"NID_MIDDLE_DRAG_CONDITION_CHANGE", u"NID_RIGHT_DRAG_CONDITION_CHANGE",
          u"NID_ENABLED_CONDITION_CHANGE", u"NID_VISIBLITY_CONDITION_CHANGE"}) {
        conditions->Register(button, id);
    }
    log.clear();
    Press(1, PointL{40, 30});
    // The capture begins after "NID_MOUSE_DOWN". Focus (0x1), hover (0x4,
    // 0x1000), enabled and visible (0xc00) before; capture (0x8) and left pressed (0x10) added.
    EXPECT_EQ(log, (Names{"NID_MOUSE_DOWN", "NID_CONDITION_CHANGE 0x1c05>0x1c1d",
                          "NID_CAPTURE_CONDITION_CHANGE 0x1c05>0x1c1d",
                          "NID_LEFT_DRAG_CONDITION_CHANGE 0x1c05>0x1c1d"}));
    log.clear();
    Release(1, PointL{40, 30});
    EXPECT_NE(std::find(log.begin(), log.end(), "NID_CAPTURE_CONDITION_CHANGE 0x1c1d>0x1c05"),
              log.end());
    conditions->UnregisterAll();
}

}  // namespace
