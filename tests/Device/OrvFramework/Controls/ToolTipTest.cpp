// The tool tip on the idle pump: the show delay, the follow-on tip shown at once, the shown
// time, placement beside the pointer inside the window, and its width limit.

#include <gtest/gtest.h>

#include <string>

#include "ControlBase/ControlDescriptor.h"
#include "ControlLibraryRig.h"

namespace {

using namespace ControlLibraryTest;
using Orv::LToolTip;

class ToolTip : public ControlLibraryRig
{
protected:
    void SetUp() override
    {
        ControlLibraryRig::SetUp();
        Open(u"controls");
    }

    void Reopen(PointL client)
    {
        CloseWindow();
        Open(u"controls", client);
    }

    // As a control shows its tip: the skin's "toolTip" as its child, the text, then Arm.
    RCPtr<LToolTip> ArmTip(const RCPtr<LControl>& owner, const char16_t* text = u"Tip")
    {
        const RCPtr<Orv::LControlDescriptor>& descriptor =
            factory->FindSubControlDescriptor(u"toolTip");
        EXPECT_TRUE(descriptor);
        RCPtr<LToolTip> tip =
            Orv::DynamicRCPtrCast<LToolTip>(factory->CreateControl(descriptor, owner));
        EXPECT_TRUE(tip);
        if (!tip) {
            return tip;
        }
        EXPECT_FALSE(tip->IsVisible(false)) << "hidden when created";
        EXPECT_TRUE(tip->IsNotFocusable());
        tip->SetText(text);
        EXPECT_EQ(tip->Arm(), 0);
        return tip;
    }

    static bool Shown(const RCPtr<LToolTip>& tip)
    {
        return tip->GetState() == LToolTip::kShown && tip->IsVisible(false);
    }

    static PointL WhereIs(const RCPtr<LToolTip>& tip)
    {
        const Orv::PointD origin = tip->GetWindowOrigin();
        return PointL{static_cast<int32_t>(origin.x), static_cast<int32_t>(origin.y)};
    }
};

// The clock starts at 0 and no tip was ever hidden: the first tip waits its 500 ms all the same
// (a hide time of 0 must not read as a hide just now).
TEST_F(ToolTip, FirstTipWaitsForTheDelayOnAClockAtZero)
{
    services.pointer = PointL{50, 40};
    const RCPtr<LToolTip> tip = ArmTip(root);
    EXPECT_EQ(tip->GetState(), LToolTip::kWaiting);
    EXPECT_FALSE(tip->IsVisible(false));
    PumpFor(495, 5);
    EXPECT_FALSE(tip->IsVisible(false)) << Clock();
    PumpFor(10, 5);
    EXPECT_TRUE(Shown(tip)) << Clock();
    EXPECT_EQ(WhereIs(tip).x, 50);
    EXPECT_EQ(WhereIs(tip).y, 60) << "20 pixels below the pointer";
    EXPECT_FALSE(tip->IsTransparentAt(0, 0));
}

// A tip armed soon after a visible one was hidden shows at once; later it waits again.
TEST_F(ToolTip, FollowOnTipShowsAtOnceOnlyRightAfterAHide)
{
    struct Row
    {
        uint32_t gap;
        bool atOnce;
    };
    for (const Row row : {Row{30, true}, Row{60, false}, Row{0, true}, Row{49, true}}) {
        const RCPtr<LToolTip> first = ArmTip(Find("push"));
        PumpFor(600);
        ASSERT_TRUE(Shown(first));
        ASSERT_EQ(first->Hide(), 0);
        EXPECT_EQ(first->GetState(), LToolTip::kIdle);
        EXPECT_EQ(LToolTip::GetLastHideTime(), Clock());
        EXPECT_TRUE(LToolTip::WasAnyHidden());
        Sleep(row.gap);
        const RCPtr<LToolTip> next = ArmTip(Find("toggle"));
        EXPECT_EQ(Shown(next), row.atOnce) << row.gap;
        if (!row.atOnce) {
            PumpFor(490);
            EXPECT_FALSE(next->IsVisible(false)) << row.gap;
            PumpFor(33);
            EXPECT_TRUE(Shown(next)) << row.gap;
        }
        next->Hide();
        PumpFor(1000);  // far from either hide
    }
}

// A tip hidden during its delay was never seen: it leaves the last hide time alone.
TEST_F(ToolTip, ATipNeverShownLeavesNoHideTime)
{
    const RCPtr<LToolTip> waiting = ArmTip(root);
    PumpFor(200);
    waiting->Hide();
    EXPECT_FALSE(LToolTip::WasAnyHidden());
    const RCPtr<LToolTip> shown = ArmTip(root);
    PumpFor(600);
    shown->Hide();
    const uint32_t hiddenAt = LToolTip::GetLastHideTime();
    PumpFor(100);
    const RCPtr<LToolTip> again = ArmTip(root);
    PumpFor(10);
    again->Hide();
    EXPECT_EQ(LToolTip::GetLastHideTime(), hiddenAt);
}

// Shown for 5000 ms, then hidden and closed by its parent at the next idle pass.
TEST_F(ToolTip, HiddenFiveSecondsAfterItShowedAndClosedByItsParent)
{
    const RCPtr<LControl> push = Find("push");
    const RCPtr<LToolTip> tip = ArmTip(push);
    PumpFor(510, 5);
    ASSERT_TRUE(Shown(tip));
    const uint32_t shownAt = tip->GetStateTime();
    while (Clock() - shownAt < 5000) {
        Pump(5);
    }
    EXPECT_TRUE(Shown(tip)) << "still shown at exactly 5000 ms";
    Pump(5);
    EXPECT_EQ(tip->GetState(), LToolTip::kIdle);
    EXPECT_FALSE(tip->IsVisible(false));
    EXPECT_EQ(tip->GetIdleRequestCount(), 0);
    Pump();
    EXPECT_FALSE(push->FindChild(u"toolTip")) << "closed by its parent";
    EXPECT_FALSE(tip->GetParent());
}

// Beside the pointer, moved back to end at the right and bottom edges, never negative; the
// parent's own place in the window counted.
TEST_F(ToolTip, PlacedBelowThePointerInsideTheWindow)
{
    struct Row
    {
        PointL client;
        const char* owner;
        PointL pointer;
        PointL expected;
    };
    const Row rows[] = {
        {{400, 300}, "", {10, 10}, {10, 30}},
        {{400, 300}, "group", {10, 10}, {10, 30}},  // group lies at (10, 50)
        {{400, 300}, "group/r2", {100, 200}, {100, 220}},
        {{400, 300}, "", {390, 100}, {280, 120}},  // right edge: 400 - 120
        {{400, 300}, "", {100, 290}, {100, 280}},  // bottom edge: 300 - 20
        {{400, 300}, "", {399, 299}, {280, 280}},
        {{100, 15}, "", {50, 5}, {8, 0}},  // 92 wide in 100 (the limit); 20 high in 15: at 0
    };
    for (const Row& row : rows) {
        Reopen(row.client);
        services.pointer = row.pointer;
        const RCPtr<LControl> owner = row.owner[0] == 0 ? root : Find(row.owner);
        ASSERT_TRUE(owner) << row.owner;
        const RCPtr<LToolTip> tip = ArmTip(owner);
        PumpFor(510, 5);
        ASSERT_TRUE(Shown(tip));
        EXPECT_EQ(WhereIs(tip).x, row.expected.x) << row.owner << " " << row.pointer.x;
        EXPECT_EQ(WhereIs(tip).y, row.expected.y) << row.owner << " " << row.pointer.y;
        tip->Hide();
    }
}

// The width is limited to the window's less 8 pixels, and to 1 pixel at least (a limit of 0
// would mean none).
TEST_F(ToolTip, WidthAtMostTheWindowLessEight)
{
    struct Row
    {
        int32_t windowWidth;
        double width;
    };
    for (const Row row : {Row{400, 120}, Row{100, 92}, Row{9, 1}, Row{8, 1}, Row{3, 1}}) {
        Reopen(PointL{row.windowWidth, 300});
        const RCPtr<LToolTip> tip = ArmTip(root);
        EXPECT_EQ(tip->GetRect().width, row.width) << row.windowWidth;
        tip->Hide();
    }
}

// A tip without parent hides without closing anything.
TEST_F(ToolTip, HideWithoutParentClosesNothing)
{
    const RCPtr<Orv::LControlDescriptor>& descriptor =
        factory->FindSubControlDescriptor(u"toolTip");
    RCPtr<LToolTip> tip =
        Orv::DynamicRCPtrCast<LToolTip>(factory->CreateControl(descriptor, RCPtr<LControl>()));
    ASSERT_TRUE(tip);
    EXPECT_EQ(tip->Arm(), 0);
    EXPECT_EQ(tip->Hide(), 0);
    EXPECT_EQ(tip->GetState(), LToolTip::kIdle);
    tip->DropBackReferences();
}

}  // namespace

namespace {

// As a person meets it: the pointer rests on a control with a "TOOLTIP" text, the root window
// asks it for its tip, the tip shows 500 ms later with that text, and a key hides it.
TEST_F(ToolTip, AHoveredControlsTipShowsAfterTheDelayAndAKeyHidesIt)
{
    const RCPtr<LControl> labelled = Find("labelled");
    ASSERT_TRUE(labelled);
    ASSERT_EQ(Narrow(labelled->GetToolTipText()), "Labelled button");
    Move(CentreOf(labelled));
    const RCPtr<LToolTip> tip = Orv::DynamicRCPtrCast<LToolTip>(labelled->FindChild(u"toolTip"));
    ASSERT_TRUE(tip) << "the hovered control made its skin's tip";
    EXPECT_EQ(Narrow(tip->GetText()), "Labelled button");
    PumpFor(495, 5);
    EXPECT_FALSE(tip->IsVisible(false)) << Clock();
    PumpFor(10, 5);
    EXPECT_TRUE(Shown(tip)) << Clock();

    Key('A');
    EXPECT_FALSE(tip->IsVisible(false));
    Pump();
    EXPECT_FALSE(labelled->FindChild(u"toolTip")) << "closed by its owner at the next idle pass";

    // Moving off and back arms a new tip; it follows on at once only right after a hide.
    Move(PointL{5, 300});
    PumpFor(200, 10);
    Move(CentreOf(labelled));
    const RCPtr<LToolTip> again = Orv::DynamicRCPtrCast<LToolTip>(labelled->FindChild(u"toolTip"));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->GetState(), LToolTip::kWaiting);
}

}  // namespace
