// The push button under a root window on the fixture skin: create parameters, toggles and radio
// groups, the look table, Enter's simulated click, auto-repeat on the idle pump, owner-drawn
// buttons and the clipped-label tool tip.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ControlBase/ValueParam.h"
#include "ControlLibraryRig.h"
#include "Notification/NotificationReceiver.h"
#include "RecordingRenderer.h"

namespace {

using namespace ControlLibraryTest;
using Orv::LButton;

constexpr uint32_t kReturn = 0x0D;

class Button : public ControlLibraryRig
{
protected:
    void SetUp() override
    {
        ControlLibraryRig::SetUp();
        Open(u"controls");
    }

    static int32_t Look(const RCPtr<LButton>& button) { return button->FirstVisibleLookIndex(); }

    static std::vector<double> Values(const std::vector<RCPtr<LButton>>& buttons)
    {
        std::vector<double> values;
        for (const RCPtr<LButton>& button : buttons) {
            values.push_back(button->GetValuePosition());
        }
        return values;
    }
};

// The two flags from the skin: lower-cased, compared whole, never trimmed.
TEST_F(Button, CreateParamsAreLowerCasedAndNotTrimmed)
{
    struct Row
    {
        const char* path;
        bool autoValueSet;
        bool radio;
    };
    const Row rows[] = {
        {"push", false, false},       {"toggle", true, false},    // "TRUE"
        {"group/r1", true, true},     {"group/r2", true, true},   // "true", "True"
        {"group/plain", true, false}, {"group/r3", true, false},  // " true" is not true
    };
    for (const Row& row : rows) {
        const RCPtr<LButton> button = Find<LButton>(row.path);
        ASSERT_TRUE(button) << row.path;
        EXPECT_EQ(button->IsAutoValueSet(), row.autoValueSet) << row.path;
        EXPECT_EQ(button->IsRadio(), row.radio) << row.path;
    }
}

// Clicks through the window: a toggle flips on every click, a plain button keeps its value, a
// radio button stays set and clears its radio siblings only.
TEST_F(Button, ClicksToggleAndSetRadioGroups)
{
    const RCPtr<LButton> push = Find<LButton>("push");
    const RCPtr<LButton> toggle = Find<LButton>("toggle");
    const std::vector<RCPtr<LButton>> group = {Find<LButton>("group/r1"), Find<LButton>("group/r2"),
                                               Find<LButton>("group/plain"),
                                               Find<LButton>("group/r3")};
    const RCPtr<LButton> o1 = Find<LButton>("other/o1");
    recorder->Listen(RCPtr<LControl>(push), {u"NID_LEFT_CLICK"});
    recorder->Listen(RCPtr<LControl>(toggle), {u"NID_LEFT_CLICK"});

    Click(CentreOf(RCPtr<LControl>(push)));
    EXPECT_EQ(push->GetValuePosition(), 0.0);
    for (const double expected : {1.0, 0.0, 1.0}) {
        Click(CentreOf(RCPtr<LControl>(toggle)));
        EXPECT_EQ(toggle->GetValuePosition(), expected);
    }
    EXPECT_EQ(recorder->log, (Names{"0 push:NID_LEFT_CLICK", "0 toggle:NID_LEFT_CLICK",
                                    "0 toggle:NID_LEFT_CLICK", "0 toggle:NID_LEFT_CLICK"}));

    o1->SetChecked(true);
    group[2]->SetChecked(true);  // not a radio: untouched by the group
    group[3]->SetChecked(true);  // " true": no radio either
    struct Row
    {
        int clicked;
        std::vector<double> values;
    };
    const Row rows[] = {
        {0, {1, 0, 1, 1}},
        {0, {1, 0, 1, 1}},  // clicked when set: stays set
        {1, {0, 1, 1, 1}},
    };
    for (const Row& row : rows) {
        Click(CentreOf(RCPtr<LControl>(group[static_cast<size_t>(row.clicked)])));
        EXPECT_EQ(Values(group), row.values) << row.clicked;
    }
    EXPECT_EQ(o1->GetValuePosition(), 1.0) << "another parent's radio is untouched";
    // By program: SetValue and SetChecked clear the siblings too.
    group[0]->SetValue(1.0);
    EXPECT_EQ(Values(group), (std::vector<double>{1, 0, 1, 1}));
    EXPECT_TRUE(group[1]->SetChecked(true));
    EXPECT_EQ(Values(group), (std::vector<double>{0, 1, 1, 1}));
    EXPECT_FALSE(group[1]->SetChecked(false));
}

// A radio sibling's value client that closes other siblings while the group is walked: the walk
// goes on over the copy it took (a walk of the live list runs past its end) and leaves the
// closed ones alone.
TEST_F(Button, RadioWalkSurvivesAClientThatClosesSiblings)
{
    const RCPtr<LButton> r1 = Find<LButton>("group/r1");
    const RCPtr<LButton> r2 = Find<LButton>("group/r2");
    const RCPtr<LButton> plain = Find<LButton>("group/plain");
    const RCPtr<LButton> r3 = Find<LButton>("group/r3");
    // r1 and r3 both set, as radio buttons, without a walk between.
    r1->SetValue(1.0);
    r3->SetValue(1.0);
    r3->SetRadio(true);

    class Closer : public Orv::LNotificationClient
    {
    public:
        int OnNotification(const RCPtr<Orv::LNotificationDistributor>&,
                           const RCPtr<Orv::LNotification>&) override
        {
            for (const RCPtr<LButton>& victim : victims) {
                victim->Close();
            }
            victims.clear();
            return 0;
        }
        std::vector<RCPtr<LButton>> victims;
    };
    RCPtr<Closer> closer(new Closer());
    closer->victims = {plain, r1};
    ASSERT_NE(closer->Register(RCPtr<Orv::LNotificationDistributor>(r3), u"NID_VALUE_CHANGE", 0),
              nullptr);
    r2->SetValue(1.0);  // walked from the last: r3 first
    EXPECT_EQ(r3->GetValuePosition(), 0.0);
    EXPECT_EQ(r2->GetValuePosition(), 1.0);
    EXPECT_FALSE(r1->GetParent());
    EXPECT_EQ(r1->GetValuePosition(), 1.0) << "a button that left the group is no longer in it";
    EXPECT_EQ(Find("group")->GetChildren().GetCount(), 2u);
    closer->UnregisterAll();
}

// The look table over the states the pointer and focus give, unchecked and checked.
TEST_F(Button, LooksFollowHoverPressFocusAndEnabling)
{
    const RCPtr<LButton> toggle = Find<LButton>("toggle");
    const PointL inside = CentreOf(RCPtr<LControl>(toggle));
    const RCPtr<LButton> push = Find<LButton>("push");
    for (const bool checked : {false, true}) {
        toggle->SetChecked(checked);
        push->LControl::SetFocus(true);  // the focus elsewhere
        const int32_t offset = checked ? 7 : 0;
        struct Step
        {
            const char* what;
            void (*act)(Button&, const RCPtr<LButton>&, PointL inside);
            int32_t look;
        };
        const Step steps[] = {
            {"outside",
             [](Button& t, const RCPtr<LButton>&, PointL in) {
                 t.Move({in.x, 250});
             },
             0},
            {"hover", [](Button& t, const RCPtr<LButton>&, PointL in) { t.Move(in); }, 1},
            // The press takes the focus: pressed and focused.
            {"pressed", [](Button& t, const RCPtr<LButton>&, PointL in) { t.Press(in); }, 5},
            {"pressed, dragged outside",
             [](Button& t, const RCPtr<LButton>&, PointL in) {
                 t.Move({in.x, 250});
             },
             4},
            {"pressed outside, keeping the pressed look",
             [](Button&, const RCPtr<LButton>& b, PointL) {
                 b->pressedLookOutside = true;
                 b->UpdateLook();
             },
             5},
            {"released outside",
             [](Button& t, const RCPtr<LButton>& b, PointL in) {
                 b->pressedLookOutside = false;
                 t.Release({in.x, 250});
             },
             3},
            {"focused hover", [](Button& t, const RCPtr<LButton>&, PointL in) { t.Move(in); }, 4},
            {"disabled", [](Button&, const RCPtr<LButton>& b, PointL) { b->SetEnabled(false); }, 6},
            // Disabling gave the focus up.
            {"enabled again",
             [](Button& t, const RCPtr<LButton>& b, PointL in) {
                 b->SetEnabled(true);
                 t.Move({in.x, 250});
             },
             0},
        };
        for (const Step& step : steps) {
            step.act(*this, toggle, inside);
            EXPECT_EQ(Look(toggle), step.look + offset) << step.what << (checked ? " checked" : "");
        }
        toggle->SetChecked(checked);  // the release clicked it
    }
    // A disabled ancestor disables the look too.
    const RCPtr<LButton> r1 = Find<LButton>("group/r1");
    Find("group")->SetEnabled(false);
    r1->UpdateLook();
    EXPECT_EQ(Look(r1), 6);
}

// Enter on the focused button: the pressed look 2 (9 checked) for 0.15 s, then one click; a
// second Enter while the first runs delivers the first at once.
TEST_F(Button, EnterShowsThePressThenClicksOnce)
{
    const RCPtr<LButton> push = Find<LButton>("push");
    const RCPtr<LButton> toggle = Find<LButton>("toggle");
    recorder->Listen(RCPtr<LControl>(push), {u"NID_LEFT_CLICK"});
    recorder->Listen(RCPtr<LControl>(toggle), {u"NID_LEFT_CLICK"});
    Move(PointL{390, 290});

    push->LControl::SetFocus(true);
    Key(kReturn);
    EXPECT_EQ(Look(push), 2);
    EXPECT_TRUE(push->IsSimulatedClickActive());
    for (int step = 0; step < 4; ++step) {  // 132 ms
        Pump();
        EXPECT_EQ(Look(push), 2) << step;
    }
    EXPECT_TRUE(recorder->log.empty());
    Pump();  // the first tick at least 150 ms after the press
    EXPECT_EQ(recorder->log, (Names{"165 push:NID_LEFT_CLICK"}));
    EXPECT_EQ(Look(push), 3) << "back to normal, focused";
    PumpFor(500);
    EXPECT_EQ(recorder->log.size(), 1u);
    EXPECT_EQ(push->GetIdleRequestCount(), 0);
    Key(kReturn, false);
    EXPECT_EQ(recorder->log.size(), 1u) << "a key release is no press";

    // Checked: look 9. Two quick Enters: the first click lands at the second press.
    recorder->log.clear();
    toggle->SetChecked(true);
    toggle->LControl::SetFocus(true);
    Key(kReturn);
    EXPECT_EQ(Look(toggle), 9);
    Pump(50);
    Key(kReturn);
    EXPECT_EQ(recorder->TimesOf("toggle:NID_LEFT_CLICK"), (std::vector<uint64_t>{Clock()}));
    EXPECT_EQ(Look(toggle), 2) << "unchecked by the first click, pressed again";
    PumpFor(150);
    EXPECT_EQ(recorder->log.size(), 2u);
    EXPECT_EQ(toggle->GetValuePosition(), 1.0);
    EXPECT_EQ(toggle->GetIdleRequestCount(), 0);

    // "NID_SIMULATE_CLICK" presses an enabled button only.
    recorder->log.clear();
    toggle->SetEnabled(false);
    Orv::DeliverNotification(RCPtr<Orv::LNotificationReceiver>(toggle.Get()), u"NID_SIMULATE_CLICK",
                             RCPtr<Orv::LRefCountedObject>());
    PumpFor(300);
    EXPECT_TRUE(recorder->log.empty());
    toggle->SetEnabled(true);
    Orv::DeliverNotification(RCPtr<Orv::LNotificationReceiver>(toggle.Get()), u"NID_SIMULATE_CLICK",
                             RCPtr<Orv::LRefCountedObject>());
    PumpFor(198);
    EXPECT_EQ(recorder->log.size(), 1u);
}

// A held auto-repeat button: at 0, 0.3, 0.4, 0.5 s ...; outside the countdown pauses, back
// inside it resumes with the time left; the release stops it.
TEST_F(Button, AutoRepeatRhythmPausesOutside)
{
    const RCPtr<LButton> repeat = Find<LButton>("repeat");
    repeat->autoRepeat = true;
    recorder->Listen(RCPtr<LControl>(repeat), {u"NID_BUTTON_AUTOREPEAT", u"NID_LEFT_CLICK"});
    const PointL inside = CentreOf(RCPtr<LControl>(repeat));
    Move(inside);
    Press(inside);
    EXPECT_TRUE(repeat->repeating);
    PumpFor(500, 10);
    EXPECT_EQ(recorder->TimesOf("repeat:NID_BUTTON_AUTOREPEAT"),
              (std::vector<uint64_t>{0, 300, 400, 500}));
    // 50 ms into the next interval, out for 1 s, back: 50 ms left.
    PumpFor(50, 10);
    Move(PointL{inside.x, 250});
    PumpFor(1000, 10);
    EXPECT_EQ(recorder->TimesOf("repeat:NID_BUTTON_AUTOREPEAT").size(), 4u);
    Move(inside);
    PumpFor(150, 10);
    EXPECT_EQ(recorder->TimesOf("repeat:NID_BUTTON_AUTOREPEAT"),
              (std::vector<uint64_t>{0, 300, 400, 500, 1600, 1700}));
    Release(inside);
    EXPECT_FALSE(repeat->repeating);
    EXPECT_EQ(repeat->GetIdleRequestCount(), 0);
    PumpFor(500, 10);
    EXPECT_EQ(recorder->TimesOf("repeat:NID_BUTTON_AUTOREPEAT").size(), 6u);
    EXPECT_EQ(recorder->TimesOf("repeat:NID_LEFT_CLICK"), (std::vector<uint64_t>{1700}));
}

// An owner-drawn button keeps the look its owner chose, and pointer hits pass through it.
TEST_F(Button, ExternalLookKeepsTheOwnersLookAndLetsHitsThrough)
{
    const RCPtr<LButton> push = Find<LButton>("push");
    push->externalLook = true;
    push->SelectLook(11);
    const PointL inside = CentreOf(RCPtr<LControl>(push));
    Move(inside);
    EXPECT_NE(window->GetHoverControl().Get(), push.Get());
    Press(inside);
    Release(inside);
    push->SetChecked(true);
    push->SetEnabled(false);
    EXPECT_EQ(Look(push), 11);
    EXPECT_EQ(push->ContainsPoint(PointL{5, 5}), 0);
    push->externalLook = false;
    EXPECT_NE(push->ContainsPoint(PointL{5, 5}), 0);
}

// The tool tip of a button: its own text while the label is clipped, else its "TOOLTIP" string.
TEST_F(Button, ToolTipIsTheLabelOnlyWhileClipped)
{
    const RCPtr<LButton> labelled = Find<LButton>("labelled");
    labelled->SetText(u"Hi");
    EXPECT_EQ(Narrow(labelled->GetToolTipText()), "Labelled button");
    labelled->SetText(u"A label far too long for sixty pixels");
    EXPECT_EQ(Narrow(labelled->GetToolTipText()), "A label far too long for sixty pixels");
    labelled->SetText(u"Hi");
    EXPECT_EQ(Narrow(labelled->GetToolTipText()), "Labelled button");
}

// Until its creation has completed a button handles no notification: "NID_SIMULATE_CLICK" to a
// button made by hand does nothing until it is marked created.
TEST_F(Button, SimulateClickNotificationWaitsForTheCreatedMark)
{
    RCPtr<LButton> bare(new LButton(root, u"bare"));
    ASSERT_EQ(bare->Initialize(), 0);
    Orv::DeliverNotification(RCPtr<Orv::LNotificationReceiver>(bare.Get()), u"NID_SIMULATE_CLICK");
    EXPECT_FALSE(bare->IsSimulatedClickActive());
    bare->SetCreated();
    Orv::DeliverNotification(RCPtr<Orv::LNotificationReceiver>(bare.Get()), u"NID_SIMULATE_CLICK");
    EXPECT_TRUE(bare->IsSimulatedClickActive());
    PumpFor(200);
    EXPECT_FALSE(bare->IsSimulatedClickActive());
    bare->Close();
}

// A simulated click repaints the whole button through the window (on the recording renderer).
TEST_F(Button, SimulatedClickRepaintsTheButton)
{
    CloseWindow();
    Open(u"controls", PointL{400, 300},
         RCPtr<Orv::LRenderer>(new RendererTest::RecordingRenderer()));
    const RCPtr<LButton> push = Find<LButton>("push");
    Orv::RectRegion drained;
    window->TakeDirtyRegion(drained);
    push->SimulateClick();
    Orv::RectRegion dirty;
    window->TakeDirtyRegion(dirty);
    const Orv::PointD origin = push->GetWindowOrigin();
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    ASSERT_TRUE(dirty.GetBounds(left, top, right, bottom));
    EXPECT_LE(left, origin.x);
    EXPECT_LE(top, origin.y);
    EXPECT_GE(right, origin.x + 80);
    EXPECT_GE(bottom, origin.y + 24);
    PumpFor(200);
}

}  // namespace
