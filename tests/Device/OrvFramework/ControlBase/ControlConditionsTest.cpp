// A control's conditions: the bits, what each change announces and in which order, the drag and
// cursor and hover consequences, the cascade to the children, and clients that change or close
// the control from inside a condition notification.

#include <gtest/gtest.h>

#include "ControlInputSupport.h"

namespace {

using namespace ControlInputTest;
using Peer = Orv::ControlStateTestPeer;

constexpr uint32_t kEnabledVisible = 0xC00;

class ControlConditions : public ControlInputFixture
{
protected:
    void Listen(const std::vector<RCPtr<Probe>>& controls)
    {
        for (const RCPtr<Probe>& control : controls) {
            recorder->Listen(control, ConditionIds());
        }
    }
};

TEST_F(ControlConditions, EachStateByteHasItsBit)
{
    EXPECT_EQ(a->ComputeConditions(), kEnabledVisible);
    struct Row
    {
        Peer::Byte byte;
        uint32_t bits;
    };
    const Row rows[] = {
        {Peer::kHasFocus, 0x1},      {Peer::kContainsFocus, 0x2}, {Peer::kHover, 0x1004},
        {Peer::kCapture, 0x8},       {Peer::kLeftPressed, 0x10},  {Peer::kMiddlePressed, 0x20},
        {Peer::kRightPressed, 0x40}, {Peer::kLeftDrag, 0x80},     {Peer::kMiddleDrag, 0x100},
        {Peer::kRightDrag, 0x200},
    };
    for (const Row& row : rows) {
        Set(*a, row.byte, true);
        EXPECT_EQ(a->ComputeConditions(), kEnabledVisible | row.bits) << row.byte;
        Set(*a, row.byte, false);
    }
    a->SetForcedHover(true);
    EXPECT_EQ(a->ComputeConditions(), kEnabledVisible | 0x1000);
    a->SetForcedHover(false);
    // Enabled and visible come from the control and its ancestors.
    panel->GetLayout()->isEnabled = false;
    EXPECT_EQ(a1->ComputeConditions(), 0x800u);
    panel->GetLayout()->isEnabled = true;
    panel->GetLayout()->isVisible = false;
    EXPECT_EQ(a1->ComputeConditions(), 0x400u);
    panel->GetLayout()->isVisible = true;
}

TEST_F(ControlConditions, APressAnnouncesTheCaptureAndTheLeftButtonAfterTheWholeChange)
{
    Listen({a});
    Set(*a, Peer::kCapture, true);
    Set(*a, Peer::kLeftPressed, true);
    a->SetDragInput(PointD{12, 14}, false);
    a->UpdateConditions();
    EXPECT_EQ(log, (Names{"a:hook 0xc00->0xc18"}));
    EXPECT_EQ(recorder->log, (Names{"a:NID_CONDITION_CHANGE 0xc00->0xc18",
                                    "a:NID_CAPTURE_CONDITION_CHANGE 0xc00->0xc18",
                                    "a:NID_LEFT_DRAG_CONDITION_CHANGE 0xc00->0xc18"}));
    EXPECT_EQ(a->GetConditionsParam()->point.x, 12);
    EXPECT_EQ(a->GetConditionsParam()->point.y, 14);
    // Nothing changed: nothing sent.
    recorder->log.clear();
    a->UpdateConditions();
    EXPECT_TRUE(recorder->log.empty());
}

TEST_F(ControlConditions, EachNarrowNotificationFollowsItsBitsOnly)
{
    Listen({a});
    struct Row
    {
        Peer::Byte byte;
        const char* narrow;
    };
    const Row rows[] = {
        {Peer::kHasFocus, "NID_HAS_FOCUS_CONDITION_CHANGE"},
        {Peer::kContainsFocus, "NID_CONTAINS_FOCUS_CONDITION_CHANGE"},
        {Peer::kHover, "NID_HOVER_CONDITION_CHANGE"},
        {Peer::kCapture, "NID_CAPTURE_CONDITION_CHANGE"},
        {Peer::kLeftPressed, "NID_LEFT_DRAG_CONDITION_CHANGE"},
        {Peer::kLeftDrag, "NID_LEFT_DRAG_CONDITION_CHANGE"},
        {Peer::kMiddlePressed, "NID_MIDDLE_DRAG_CONDITION_CHANGE"},
        {Peer::kMiddleDrag, "NID_MIDDLE_DRAG_CONDITION_CHANGE"},
        {Peer::kRightPressed, "NID_RIGHT_DRAG_CONDITION_CHANGE"},
        {Peer::kRightDrag, "NID_RIGHT_DRAG_CONDITION_CHANGE"},
    };
    for (const Row& row : rows) {
        for (bool value : {true, false}) {
            recorder->log.clear();
            Set(*a, row.byte, value);
            a->UpdateConditions();
            ASSERT_EQ(recorder->log.size(), 2u) << row.narrow << " " << value;
            EXPECT_EQ(recorder->log[0].substr(0, 24), "a:NID_CONDITION_CHANGE 0");
            EXPECT_EQ(recorder->log[1].substr(0, recorder->log[1].find(' ')),
                      std::string("a:") + row.narrow);
        }
    }
    // Pressed turning into dragged changes two bits of one button: one notification.
    Set(*a, Peer::kLeftPressed, true);
    a->UpdateConditions();
    recorder->log.clear();
    Set(*a, Peer::kLeftPressed, false);
    Set(*a, Peer::kLeftDrag, true);
    a->UpdateConditions();
    EXPECT_EQ(recorder->log, (Names{"a:NID_CONDITION_CHANGE 0xc10->0xc80",
                                    "a:NID_LEFT_DRAG_CONDITION_CHANGE 0xc10->0xc80"}));
}

TEST_F(ControlConditions, SeveralBitsAtOnceAreAnnouncedInTheFixedOrder)
{
    Listen({a});
    for (Peer::Byte byte : {Peer::kRightPressed, Peer::kCapture, Peer::kHover, Peer::kHasFocus,
                            Peer::kContainsFocus, Peer::kMiddleDrag, Peer::kLeftDrag}) {
        Set(*a, byte, true);
    }
    a->GetLayout()->isEnabled = false;
    a->UpdateConditions();
    const std::string change = " 0xc00->0x19cf";
    EXPECT_EQ(
        recorder->log,
        (Names{"a:NID_CONDITION_CHANGE" + change, "a:NID_HAS_FOCUS_CONDITION_CHANGE" + change,
               "a:NID_CONTAINS_FOCUS_CONDITION_CHANGE" + change,
               "a:NID_HOVER_CONDITION_CHANGE" + change, "a:NID_CAPTURE_CONDITION_CHANGE" + change,
               "a:NID_LEFT_DRAG_CONDITION_CHANGE" + change,
               "a:NID_MIDDLE_DRAG_CONDITION_CHANGE" + change,
               "a:NID_RIGHT_DRAG_CONDITION_CHANGE" + change,
               "a:NID_ENABLED_CONDITION_CHANGE" + change}));
}

TEST_F(ControlConditions, DisablingAPanelAnnouncesItFromEachDescendantWhoseBitChanges)
{
    b->GetLayout()->isEnabled = false;
    b->UpdateConditions();
    Listen({panel, a, a1, b});
    // As SetEnabled stores it.
    panel->GetLayout()->isEnabled = false;
    panel->UpdateConditions();
    // b was disabled already: its bit stays. The children follow from the last.
    EXPECT_EQ(recorder->log, (Names{"panel:NID_CONDITION_CHANGE 0xc00->0x800",
                                    "panel:NID_ENABLED_CONDITION_CHANGE 0xc00->0x800",
                                    "a:NID_CONDITION_CHANGE 0xc00->0x800",
                                    "a:NID_ENABLED_CONDITION_CHANGE 0xc00->0x800",
                                    "a1:NID_CONDITION_CHANGE 0xc00->0x800",
                                    "a1:NID_ENABLED_CONDITION_CHANGE 0xc00->0x800"}));
    recorder->log.clear();
    panel->GetLayout()->isEnabled = true;
    panel->UpdateConditions();
    EXPECT_EQ(recorder->log.size(), 6u);
}

TEST_F(ControlConditions, HidingAPanelAnnouncesItsVisibilityDownTheTree)
{
    Listen({panel, a, a1, b});
    EXPECT_FALSE(panel->SetVisible(false));
    EXPECT_EQ(recorder->log, (Names{"panel:NID_CONDITION_CHANGE 0xc00->0x400",
                                    "panel:NID_VISIBLITY_CONDITION_CHANGE 0xc00->0x400",
                                    "b:NID_CONDITION_CHANGE 0xc00->0x400",
                                    "b:NID_VISIBLITY_CONDITION_CHANGE 0xc00->0x400",
                                    "a:NID_CONDITION_CHANGE 0xc00->0x400",
                                    "a:NID_VISIBLITY_CONDITION_CHANGE 0xc00->0x400",
                                    "a1:NID_CONDITION_CHANGE 0xc00->0x400",
                                    "a1:NID_VISIBLITY_CONDITION_CHANGE 0xc00->0x400"}));
    recorder->log.clear();
    EXPECT_FALSE(panel->SetVisible(false));
    EXPECT_TRUE(recorder->log.empty());
}

TEST_F(ControlConditions, ForcedHoverRaisesOnlyItsOwnBit)
{
    Listen({a});
    a->SetForcedHover(true);
    EXPECT_EQ(recorder->log, (Names{"a:NID_CONDITION_CHANGE 0xc00->0x1c00",
                                    "a:NID_HOVER_CONDITION_CHANGE 0xc00->0x1c00"}));
    recorder->log.clear();
    a->SetForcedHover(true);
    // The pointer arriving changes bit 2 only: no hover notification.
    Set(*a, Peer::kHover, true);
    a->UpdateConditions();
    EXPECT_EQ(recorder->log, (Names{"a:NID_CONDITION_CHANGE 0x1c00->0x1c04"}));
    recorder->log.clear();
    a->SetForcedHover(false);
    EXPECT_EQ(recorder->log, (Names{}));
}

TEST_F(ControlConditions, TheLeftDragEdgesBeginAndEndTheDragGeometryWhenTheControlDrags)
{
    for (int32_t mode : {0, 1}) {
        a->SetDragMode(mode, 0);
        log.clear();
        Set(*a, Peer::kLeftDrag, true);
        a->UpdateConditions();
        Set(*a, Peer::kLeftDrag, false);
        a->UpdateConditions();
        if (mode == 0) {
            EXPECT_EQ(log, (Names{"a:hook 0xc00->0xc80", "a:hook 0xc80->0xc00"}));
        } else {
            // The geometry after every notification of the start, the end before the hook.
            EXPECT_EQ(log, (Names{"a:hook 0xc00->0xc80", "a:begin drag", "a:end drag",
                                  "a:hook 0xc80->0xc00"}));
        }
    }
}

TEST_F(ControlConditions, TheCursorShowsWhileHoveredAndTheOneItReplacedComesBack)
{
    HCURSOR const original = reinterpret_cast<HCURSOR>(0x100);
    HCURSOR const hand = reinterpret_cast<HCURSOR>(0x200);
    HCURSOR const beam = reinterpret_cast<HCURSOR>(0x300);
    services.cursor = original;
    a->SetCursor(hand);
    EXPECT_EQ(services.cursor, original) << "not hovered yet";

    Set(*a, Peer::kHover, true);
    a->UpdateConditions();
    EXPECT_EQ(services.cursor, hand);
    a->SetCursor(beam);  // hovered: shown at once
    EXPECT_EQ(services.cursor, beam);
    Set(*a, Peer::kHover, false);
    a->UpdateConditions();
    EXPECT_EQ(services.cursor, original);

    // Under capture the cursor stays until both the capture and the hover have ended.
    Set(*a, Peer::kHover, true);
    a->UpdateConditions();
    Set(*a, Peer::kCapture, true);
    a->UpdateConditions();
    Set(*a, Peer::kHover, false);
    a->UpdateConditions();
    EXPECT_EQ(services.cursor, beam);
    Set(*a, Peer::kCapture, false);
    a->UpdateConditions();
    EXPECT_EQ(services.cursor, original);

    // A control without a cursor leaves it alone.
    services.cursor = hand;
    Set(*b, Peer::kHover, true);
    b->UpdateConditions();
    Set(*b, Peer::kHover, false);
    b->UpdateConditions();
    EXPECT_EQ(services.cursor, hand);
}

TEST_F(ControlConditions, ACursorSetWhileHoveredKeepsTheOneItReplaced)
{
    HCURSOR const original = reinterpret_cast<HCURSOR>(0x100);
    HCURSOR const hand = reinterpret_cast<HCURSOR>(0x200);
    services.cursor = original;
    Set(*a, Peer::kHover, true);
    a->UpdateConditions();
    a->SetCursor(hand);
    EXPECT_EQ(services.cursor, hand);
    Set(*a, Peer::kHover, false);
    a->UpdateConditions();
    EXPECT_EQ(services.cursor, original);

    // Taking the cursor away while hovered shows the application's default; with no cursor of
    // its own the control then restores nothing.
    Set(*a, Peer::kHover, true);
    a->UpdateConditions();
    a->SetCursor(nullptr);
    EXPECT_EQ(services.cursor, Orv::LoadAppCursor(u"UI_CURSOR_ARROW"));
    services.cursor = hand;
    Set(*a, Peer::kHover, false);
    a->UpdateConditions();
    EXPECT_EQ(services.cursor, hand);
}

TEST_F(ControlConditions, HidingTheHoveredControlMovesTheHoverToTheControlUnderThePointer)
{
    // The pointer over a, beside a1 (window 10, 10 is the panel's origin).
    services.pointer = PointL{40, 40};
    RCPtr<LControl> found;
    PointL local;
    window->HitTest(found, services.pointer, local, true);
    ASSERT_EQ(window->GetHoverControl().Get(), a.Get());
    // Without the hover byte a hidden control leaves the window's hover alone.
    b->SetVisible(false);
    EXPECT_EQ(window->GetHoverControl().Get(), a.Get());
    Set(*a, Peer::kHover, true);
    a->UpdateConditions();
    a->SetVisible(false);
    EXPECT_EQ(window->GetHoverControl().Get(), panel.Get());
}

TEST_F(ControlConditions, ACaptureEndingAwayFromTheControlMovesTheHover)
{
    services.pointer = PointL{80, 20};  // over b
    Set(*a, Peer::kCapture, true);
    a->UpdateConditions();
    EXPECT_EQ(window->GetHoverControl().Get(), nullptr);
    Set(*a, Peer::kCapture, false);
    a->UpdateConditions();
    EXPECT_EQ(window->GetHoverControl().Get(), b.Get());
}

TEST_F(ControlConditions, AClientChangingTheStateInsideANotificationLosesAndDoublesNothing)
{
    Listen({a});
    bool once = false;
    recorder->onNotify = [this, &once](const std::string& id, const RCPtr<Orv::LNotification>&) {
        if (id == "NID_CONDITION_CHANGE" && !once) {
            once = true;
            // As a capture taken by the client would.
            Set(*a, Peer::kCapture, true);
            a->UpdateConditions();
        }
    };
    Set(*a, Peer::kHover, true);
    a->UpdateConditions();
    // The inner pass announces the capture; the outer one still owes the hover. The payload
    // holds the latest change throughout.
    EXPECT_EQ(recorder->log, (Names{"a:NID_CONDITION_CHANGE 0xc00->0x1c04",
                                    "a:NID_CONDITION_CHANGE 0x1c04->0x1c0c",
                                    "a:NID_CAPTURE_CONDITION_CHANGE 0x1c04->0x1c0c",
                                    "a:NID_HOVER_CONDITION_CHANGE 0x1c04->0x1c0c"}));
    EXPECT_EQ(log, (Names{"a:hook 0xc00->0x1c04", "a:hook 0x1c04->0x1c0c"}));
}

TEST_F(ControlConditions, AClientEndingTheDragInsideTheStartKeepsTheGeometryOut)
{
    Listen({a});
    a->SetDragMode(1, 0);
    recorder->onNotify = [this](const std::string& id, const RCPtr<Orv::LNotification>&) {
        if (id == "NID_LEFT_DRAG_CONDITION_CHANGE" && a->ComputeConditions() & 0x80) {
            Set(*a, Peer::kLeftDrag, false);
            a->UpdateConditions();
        }
    };
    Set(*a, Peer::kLeftDrag, true);
    a->UpdateConditions();
    EXPECT_EQ(log, (Names{"a:hook 0xc00->0xc80", "a:end drag", "a:hook 0xc80->0xc00"}));
}

TEST_F(ControlConditions, AClientMayCloseAndReleaseTheControlInsideAConditionNotification)
{
    Listen({a});
    const int32_t before = LControl::GetLiveCount();
    recorder->onNotify = [this](const std::string& id, const RCPtr<Orv::LNotification>&) {
        if (id == "NID_CONDITION_CHANGE" && a) {
            a->Close();
            a = nullptr;
        }
    };
    Probe* raw = a.Get();
    Set(*raw, Peer::kCapture, true);
    Set(*raw, Peer::kHover, true);
    raw->UpdateConditions();
    EXPECT_EQ(panel->FindChild(u"a").Get(), nullptr);
    EXPECT_EQ(a1->GetParent().Get(), nullptr);
    EXPECT_EQ(LControl::GetLiveCount(), before - 1) << "a went once the pass let go of it";
    // Closing hid it (an inner pass); the outer pass still sent what it owed before it let go.
    EXPECT_EQ(recorder->log, (Names{"a:NID_CONDITION_CHANGE 0xc00->0x1c0c",
                                    "a:NID_CONDITION_CHANGE 0x1c0c->0x140c",
                                    "a:NID_VISIBLITY_CONDITION_CHANGE 0x1c0c->0x140c",
                                    "a:NID_HOVER_CONDITION_CHANGE 0x1c0c->0x140c",
                                    "a:NID_CAPTURE_CONDITION_CHANGE 0x1c0c->0x140c"}));
}

}  // namespace
