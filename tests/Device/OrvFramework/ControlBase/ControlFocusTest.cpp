// Keyboard focus on a small tree under a root window: Tab and Ctrl+Tab, a holder that refuses to
// let go, enabling and focusability changes, and the search for the next focusable child.
//
//   root
//   |- P (tab 1): A (tab 1), B (not focusable: -1), D (tab 4), C (tab 3)   (insertion order)
//   |- Q (tab 2): E (tab 1), F (tab 2)
//   `- S (tab 3): H

#include <gtest/gtest.h>

#include <climits>

#include "ControlFocusTestSupport.h"

namespace {

using namespace FocusTest;
using Orv::KeyModifier::kCtrl;
using Orv::KeyModifier::kShift;

class ControlFocus : public ControlTest::ControlFixture
{
protected:
    void SetUp() override
    {
        ControlFixture::SetUp();
        window = RootWindowTest::MakeWindow(RCPtr<Orv::LRenderer>(), &services);
        root = MakeProbe(nullptr, u"root", 0, 0, 1024, 768, 0);
        p = MakeProbe(root, u"P", 0, 0, 400, 300, 1);
        a = MakeProbe(p, u"A", 10, 10, 50, 20, 1);
        b = MakeProbe(p, u"B", 10, 40, 50, 20, -1);
        d = MakeProbe(p, u"D", 10, 100, 50, 20, 4);
        c = MakeProbe(p, u"C", 10, 70, 50, 20, 3);
        q = MakeProbe(root, u"Q", 0, 400, 400, 300, 2);
        e = MakeProbe(q, u"E", 10, 10, 50, 20, 1);
        f = MakeProbe(q, u"F", 10, 40, 50, 20, 2);
        s = MakeProbe(root, u"S", 500, 0, 200, 200, 3);
        h = MakeProbe(s, u"H", 10, 10, 50, 20, 0);
        ASSERT_EQ(window->SetRootControl(root), S_OK);
    }

    void TearDown() override
    {
        for (RCPtr<Probe>* probe : {&root, &p, &a, &b, &c, &d, &q, &e, &f, &s, &h}) {
            *probe = nullptr;
        }
        window->DropBackReferences();
        window = nullptr;
        TablesByName().clear();
        ControlFixture::TearDown();
    }

    std::string Holder() const
    {
        const RCPtr<LControl>& focus = window->GetFocusControl();
        return focus ? ControlTest::Narrow(focus->GetName()) : std::string("none");
    }

    // Exactly one control has the focus, the window's; its ancestors and no other control
    // contain it.
    void ExpectConsistentFocus()
    {
        const RCPtr<LControl>& focus = window->GetFocusControl();
        ASSERT_TRUE(focus);
        for (Probe* probe : {root.Get(), p.Get(), a.Get(), b.Get(), c.Get(), d.Get(), q.Get(),
                             e.Get(), f.Get(), s.Get(), h.Get()}) {
            bool above = false;
            for (LControl* at = focus->GetParent().Get(); at != nullptr;
                 at = at->GetParent().Get()) {
                above = above || at == probe;
            }
            EXPECT_EQ(probe->HasFocus(), probe == focus.Get())
                << ControlTest::Narrow(probe->GetName());
            EXPECT_EQ(probe->ContainsFocus(), above) << ControlTest::Narrow(probe->GetName());
        }
    }

    Probe* ByName(const std::string& name) const
    {
        for (Probe* probe : {root.Get(), p.Get(), a.Get(), b.Get(), c.Get(), d.Get(), q.Get(),
                             e.Get(), f.Get(), s.Get(), h.Get()}) {
            if (ControlTest::Narrow(probe->GetName()) == name) {
                return probe;
            }
        }
        return nullptr;
    }

    RootWindowTest::RecordingServices services;
    RCPtr<Orv::LRootWindow> window;
    RCPtr<Probe> root, p, a, b, c, d, q, e, f, s, h;
};

TEST_F(ControlFocus, TheWindowGivesItsTreeTheFocusAtTheFirstFocusableControl)
{
    EXPECT_EQ(Holder(), "A");
    ExpectConsistentFocus();
}

struct TabRow
{
    const char* name;
    const char* from;
    Orv::KeyModifierFlags modifiers;
    const char* expected;
};

TEST_F(ControlFocus, TabWalksInsideTheContainerAndCtrlTabMovesToTheNextContainer)
{
    const TabRow rows[] = {
        {"tab skips a control that is not focusable", "A", 0, "C"},
        {"tab follows the tab order, not the insertion order", "C", 0, "D"},
        {"tab from the last wraps to the first", "D", 0, "A"},
        {"shift+tab from the first wraps to the last", "A", kShift, "D"},
        {"shift+tab steps back", "D", kShift, "C"},
        {"tab wraps in the other container too", "F", 0, "E"},
        {"ctrl+tab reaches the next container's first control", "C", kCtrl, "E"},
        {"ctrl+tab moves on to the container after", "E", kCtrl, "H"},
        {"ctrl+tab from the last container wraps through the window", "H", kCtrl, "A"},
        {"ctrl+shift+tab reaches the previous container's last control", "E", kCtrl | kShift, "D"},
    };
    for (const TabRow& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_GE(ByName(row.from)->SetFocus(true), 0);
        ASSERT_EQ(Holder(), row.from);
        window->HandleKey(KeyFromWindow(9, row.modifiers));
        EXPECT_EQ(Holder(), row.expected);
        ExpectConsistentFocus();
    }
}

TEST_F(ControlFocus, AControlThatWantsTabKeepsTheFocusOnTab)
{
    RCPtr<Orv::LControlDescriptor> descriptor(new Orv::LControlDescriptor(u"Test", u"T", nullptr));
    RCPtr<Orv::LLayoutDescriptor> layout(new Orv::LLayoutDescriptor());
    layout->xPosition.abs = 100;
    layout->xSize.abs = 20;
    layout->ySize.abs = 20;
    layout->tabStop = 2;
    descriptor->SetLayout(layout);
    descriptor->createParams = Table({{u"WANTS_TAB", u" TRUE "}});
    RCPtr<LControl> typed;
    Orv::ControlCreateFunction<Probe>(typed, q, descriptor);
    ASSERT_TRUE(typed && typed->WantsTab());
    ASSERT_GE(typed->SetFocus(true), 0);
    window->HandleKey(KeyFromWindow(9, 0));
    EXPECT_EQ(Holder(), "T");
    typed = nullptr;
}

TEST_F(ControlFocus, AHolderThatRefusesToLetGoKeepsTheFocus)
{
    ASSERT_GE(c->SetFocus(true), 0);
    c->canRelease = false;
    EXPECT_EQ(e->SetFocus(true), E_FAIL);
    EXPECT_EQ(q->SetFocus(true), E_FAIL);
    window->HandleKey(KeyFromWindow(9, 0));
    EXPECT_EQ(Holder(), "C");
    ExpectConsistentFocus();
    c->canRelease = true;
    EXPECT_GE(e->SetFocus(true), 0);
    EXPECT_EQ(Holder(), "E");
    ExpectConsistentFocus();
}

TEST_F(ControlFocus, SettingTheFocusOnAContainerKeepsItWhereItIsInside)
{
    ASSERT_GE(d->SetFocus(true), 0);
    EXPECT_GE(p->SetFocus(true), 0);
    EXPECT_EQ(Holder(), "D");
    EXPECT_GE(q->SetFocus(false), 0);
    EXPECT_EQ(Holder(), "F") << "a container gives its last focusable control the focus";
    EXPECT_GE(root->SetFocus(true), 0);
    EXPECT_EQ(Holder(), "F");
    ExpectConsistentFocus();
}

TEST_F(ControlFocus, DisablingTheFocusedControlHandsTheFocusToItsParent)
{
    ASSERT_GE(h->SetFocus(true), 0);
    h->SetEnabled(false);
    EXPECT_EQ(Holder(), "S") << "a container without focusable children takes it itself";
    ExpectConsistentFocus();
    h->SetEnabled(true);
    EXPECT_EQ(Holder(), "H") << "enabled again under a parent with the focus, it takes it back";
    ExpectConsistentFocus();

    ASSERT_GE(e->SetFocus(true), 0);
    e->SetEnabled(false);
    EXPECT_EQ(Holder(), "F") << "the parent passes it on to a focusable sibling";
    ExpectConsistentFocus();
    q->SetEnabled(false);
    EXPECT_FALSE(f->IsEnabled(true));
    EXPECT_EQ(Holder(), "A") << "a disabled container's branch gives the focus back to the top";
    ExpectConsistentFocus();
}

TEST_F(ControlFocus, MarkingTheFocusedControlNotFocusableMovesTheFocusOn)
{
    ASSERT_GE(c->SetFocus(true), 0);
    c->SetNotFocusable(true);
    EXPECT_EQ(Holder(), "A");
    ExpectConsistentFocus();
}

struct TabStopRow
{
    const char* name;
    int32_t tabStop;
    std::vector<bool> flags;
    std::vector<int32_t> expected;
};

TEST_F(ControlFocus, SetNotFocusableMakesTheTabStopSignAgree)
{
    const TabStopRow rows[] = {
        {"0 becomes -1, then 1", 0, {true, false}, {-1, 1}},
        {"a positive stop is negated and back", 5, {true, true, false}, {-5, -5, 5}},
        {"the lowest stop saturates", INT32_MIN, {false, true}, {INT32_MAX, -INT32_MAX}},
        {"an agreeing stop stays", 3, {false}, {3}},
    };
    for (const TabStopRow& row : rows) {
        SCOPED_TRACE(row.name);
        RCPtr<Probe> control = MakeProbe(s, u"Z", 100, 100, 10, 10, row.tabStop);
        ASSERT_EQ(control->GetLayout()->tabStop, row.tabStop);
        for (size_t step = 0; step < row.flags.size(); ++step) {
            const int32_t changesBefore = s->GetChildren().GetChangeCount();
            const bool flagBefore = control->IsNotFocusable();
            const int32_t stopBefore = control->GetLayout()->tabStop;
            control->SetNotFocusable(row.flags[step]);
            EXPECT_EQ(control->IsNotFocusable(), row.flags[step]);
            EXPECT_EQ(control->GetLayout()->tabStop, row.expected[step]);
            const bool changed = flagBefore != row.flags[step] || stopBefore != row.expected[step];
            EXPECT_EQ(s->GetChildren().GetChangeCount() > changesBefore, changed)
                << "the tab order is sorted again after a change, and only then";
        }
        control->SetParent(RCPtr<LControl>());
    }
}

TEST_F(ControlFocus, FindNextFocusableSkipsHiddenAndDisabledChildrenAndWraps)
{
    // P's tab order: B (-1), A, C, D.
    EXPECT_FALSE(p->FindNextFocusable(e, false)) << "not a child";
    EXPECT_EQ(p->FindNextFocusable(d, false).Get(), b.Get()) << "focusability is the caller's";
    EXPECT_EQ(p->FindNextFocusable(b, true).Get(), d.Get());
    EXPECT_EQ(p->FindNextFocusable(b, false).Get(), a.Get());
    c->SetEnabled(false);
    EXPECT_EQ(p->FindNextFocusable(a, false).Get(), d.Get());
    EXPECT_EQ(p->FindNextFocusable(d, true).Get(), a.Get());
    EXPECT_EQ(s->FindNextFocusable(h, false).Get(), h.Get()) << "a lone child finds itself";
    h->SetEnabled(false);
    EXPECT_FALSE(s->FindNextFocusable(h, false));
    EXPECT_FALSE(s->CanTakeFocus());
    EXPECT_TRUE(s->IsFocusTarget());
}

TEST_F(ControlFocus, AHiddenFirstChildDoesNotTrapTheSearchForAFocusableChild)
{
    // The first child in tab order has no size (hidden); the rest can be stepped to but none
    // takes the focus: the search must end.
    RCPtr<Probe> box = MakeProbe(root, u"Box", 700, 300, 100, 100, 9);
    RCPtr<Probe> hidden = MakeProbe(box, u"Hidden", 0, 0, 0, 0, 0);
    RCPtr<Probe> one = MakeProbe(box, u"One", 0, 10, 10, 10, 1);
    RCPtr<Probe> two = MakeProbe(box, u"Two", 0, 30, 10, 10, 2);
    one->SetNotFocusable(true);
    two->SetNotFocusable(true);
    EXPECT_FALSE(box->GetFocusableChild(true));
    EXPECT_FALSE(box->CanTakeFocus());
    EXPECT_TRUE(box->IsFocusTarget());
    box->SetParent(RCPtr<LControl>());
}

TEST_F(ControlFocus, ATopLevelControlThatCanNeitherTakeNorPassTheFocusAnswersAtOnce)
{
    RCPtr<Probe> lone = MakeProbe(nullptr, u"Lone", 0, 0, 100, 100, 0);
    RCPtr<Probe> inner = MakeProbe(lone, u"Inner", 10, 10, 20, 20, 0);
    lone->SetRect(Orv::PointD{0, 0}, Orv::PointD{100, 100});
    ASSERT_GE(inner->SetFocus(true), 0);
    ASSERT_TRUE(lone->ContainsFocus());
    // Not focusable now, so neither it nor its child may hold the focus; the child keeps it
    // until something else takes it. Asking the top again must not recurse.
    lone->SetNotFocusable(true);
    EXPECT_EQ(lone->SetFocus(true), 1);
    EXPECT_TRUE(inner->HasFocus());
    inner = nullptr;
    lone = nullptr;
}

TEST_F(ControlFocus, ReleasingTheFocusClearsTheWholePathAndTheWindowRemembersTheHolder)
{
    ASSERT_GE(e->SetFocus(true), 0);
    EXPECT_EQ(root->ReleaseFocus(), 1);
    EXPECT_FALSE(window->GetFocusControl());
    EXPECT_EQ(window->GetRememberedFocus().Get(), e.Get());
    for (Probe* probe : {root.Get(), q.Get(), e.Get()}) {
        EXPECT_FALSE(probe->HasFocus() || probe->ContainsFocus());
    }
    EXPECT_EQ(root->ReleaseFocus(), 0) << "nothing left to release";
}

}  // namespace
