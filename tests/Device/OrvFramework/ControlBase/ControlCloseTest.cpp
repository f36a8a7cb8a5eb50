// Closing controls at once and from the next idle pass, and the focus and conditions that follow
// a control shown or hidden.

#include <gtest/gtest.h>

#include "ControlInputSupport.h"

namespace {

using namespace ControlInputTest;
using Peer = Orv::ControlStateTestPeer;

class ControlClose : public ControlInputFixture
{
protected:
    void Idle() { window->ProcessQueue(true); }

    // What the controls were asked to do, without the condition hooks.
    Names Calls() const
    {
        Names calls;
        for (const std::string& entry : log) {
            if (entry.find(":hook ") == std::string::npos) {
                calls.push_back(entry);
            }
        }
        return calls;
    }
};

TEST_F(ControlClose, OnlyAParentClosesAChildLater)
{
    const RCPtr<LControl> others[] = {nullptr, a1, root, panel,
                                      RCPtr<LControl>(new LControl(nullptr, u"stray"))};
    for (const RCPtr<LControl>& other : others) {
        log.clear();
        EXPECT_EQ(panel->CloseChildLater(other), E_INVALIDARG);
        EXPECT_TRUE(Calls().empty());
        EXPECT_EQ(panel->GetIdleRequestCount(), 0);
    }
    EXPECT_TRUE(a1->IsVisible(true));
    Idle();
    EXPECT_EQ(a->FindChild(u"a1").Get(), a1.Get());
}

TEST_F(ControlClose, AChildClosedLaterHidesAtOnceAndGoesAtTheNextIdlePass)
{
    recorder->Listen(b, {Orv::NID_VISIBLITY_CONDITION_CHANGE});
    Set(*b, Peer::kCapture, true);
    b->UpdateConditions();
    ASSERT_EQ(panel->CloseChildLater(b), 0);
    EXPECT_EQ(Calls(), (Names{"b:capture lost"}));
    EXPECT_EQ(recorder->log, (Names{"b:NID_VISIBLITY_CONDITION_CHANGE 0xc08->0x408"}));
    EXPECT_FALSE(b->IsVisible(false));
    EXPECT_EQ(b->GetParent().Get(), panel.Get()) << "still a child until the idle pass";
    // A second child and a repeat share the one request.
    log.clear();
    ASSERT_EQ(panel->CloseChildLater(a), 0);
    ASSERT_EQ(panel->CloseChildLater(b), 0);
    EXPECT_EQ(panel->GetIdleRequestCount(), 1);
    EXPECT_EQ(Calls(), (Names{"b:capture lost"})) << "a holds no capture to end";

    Idle();
    EXPECT_EQ(b->GetParent().Get(), nullptr);
    EXPECT_EQ(a->GetParent().Get(), nullptr);
    EXPECT_EQ(panel->GetChildren().GetCount(), 0u);
    EXPECT_EQ(panel->GetIdleRequestCount(), 0);
    // Unregistered: idle passes no longer reach it.
    const int ticks = panel->ticks;
    Idle();
    EXPECT_EQ(panel->ticks, ticks);
}

TEST_F(ControlClose, JoiningAParentClosesItsPendingChildrenFirst)
{
    ASSERT_EQ(panel->CloseChildLater(a), 0);
    const RCPtr<LControl> late(new LControl(nullptr, u"late"));
    ASSERT_EQ(late->SetParent(panel), 0);
    EXPECT_EQ(a->GetParent().Get(), nullptr);
    EXPECT_EQ(panel->GetIdleRequestCount(), 0);
    EXPECT_EQ(panel->FindChild(u"late").Get(), late.Get());
}

TEST_F(ControlClose, AChildClosedLaterFromInsideAClosePassJoinsThatPass)
{
    a->onClose = [this](Probe&) { panel->CloseChildLater(b); };
    ASSERT_EQ(panel->CloseChildLater(a), 0);
    Idle();
    EXPECT_EQ(panel->GetChildren().GetCount(), 0u);
    EXPECT_EQ(panel->GetIdleRequestCount(), 0);
}

TEST_F(ControlClose, AChildMovedElsewhereBeforeThePassIsLeftToItsNewParent)
{
    ASSERT_EQ(panel->CloseChildLater(b), 0);
    ASSERT_EQ(b->SetParent(root), 0);
    Idle();
    EXPECT_EQ(b->GetParent().Get(), root.Get());
    EXPECT_EQ(panel->GetIdleRequestCount(), 0);
}

TEST_F(ControlClose, CloseHidesEndsTheCaptureAndLeavesTheTree)
{
    recorder->Listen(a1, {Orv::NID_VISIBLITY_CONDITION_CHANGE});
    a->SetClipToParent(false);
    EXPECT_EQ(panel->GetNonClippingDescendantCount(), 1);
    // The window's capture, as the pointer input gives it.
    ASSERT_EQ(window->SetCaptureControl(a), 0);
    ASSERT_EQ(a->Close(), 0);
    EXPECT_EQ(Calls(), (Names{"a:capture lost"}));
    EXPECT_FALSE(a->IsVisible(false));
    EXPECT_TRUE(a->GetLayout()->clipToParent);
    EXPECT_EQ(panel->GetNonClippingDescendantCount(), 0);
    EXPECT_EQ(a->GetParent().Get(), nullptr);
    EXPECT_EQ(panel->FindChild(u"a").Get(), nullptr);
    EXPECT_EQ(recorder->log, (Names{"a1:NID_VISIBLITY_CONDITION_CHANGE 0xc00->0x400"}));
    // A top-level control without the capture lets its window go.
    log.clear();
    ASSERT_EQ(root->Close(), 0);
    EXPECT_TRUE(Calls().empty());
    EXPECT_EQ(root->GetRootWindowRef().Get(), nullptr);
}

TEST_F(ControlClose, CloseDuringAFlickReleasesEveryIdleRequest)
{
    ASSERT_EQ(a->StartKineticMotion(1, 500, 0, 100, nullptr), 0);
    Peer::SetFlick(*a, 1, true);
    ASSERT_EQ(a->RequestIdle(), 0);
    ASSERT_EQ(a->CloseChildLater(a1), 0);
    EXPECT_EQ(a->GetIdleRequestCount(), 3);
    ASSERT_EQ(a->Close(), 0);
    EXPECT_FALSE(a->IsKineticMotionActive(1));
    EXPECT_EQ(a->GetIdleRequestCount(), 0);
    EXPECT_EQ(a1->GetParent().Get(), nullptr) << "its pending child closed with it";
    Idle();
    EXPECT_EQ(a->ticks, 0);
    // Back in a tree, a new request registers.
    ASSERT_EQ(a->SetParent(panel), 0);
    ASSERT_EQ(a->RequestIdle(), 0);
    EXPECT_EQ(a->GetIdleRequestCount(), 1);
    Idle();
    EXPECT_EQ(a->ticks, 1);
    a->ReleaseIdle();
}

TEST_F(ControlClose, AFocusedControlHiddenHandsTheFocusToItsParent)
{
    Set(*a, Peer::kHasFocus, true);
    a->SetVisible(false);
    EXPECT_EQ(Calls(), (Names{"panel:focus first"}));
    log.clear();
    Set(*a, Peer::kHasFocus, false);
    Set(*a, Peer::kContainsFocus, true);
    a->SetVisible(true);
    a->SetVisible(false);
    EXPECT_EQ(Calls(), (Names{"panel:focus first"}));
    log.clear();
    Set(*a, Peer::kContainsFocus, false);
    b->SetVisible(false);
    EXPECT_TRUE(Calls().empty());
}

TEST_F(ControlClose, AFocusableControlShownInsideTheFocusedParentTakesTheFocus)
{
    b->SetNotFocusable(false);
    b->SetVisible(false);
    // The parent without the focus: nothing.
    b->SetVisible(true);
    EXPECT_TRUE(Calls().empty());
    b->SetVisible(false);
    Set(*panel, Peer::kHasFocus, true);
    b->SetVisible(true);
    EXPECT_EQ(Calls(), (Names{"b:focus first"}));
    // A control the focus cannot land on stays without it.
    log.clear();
    b->SetNotFocusable(true);
    b->SetVisible(false);
    b->SetVisible(true);
    EXPECT_TRUE(Calls().empty());
}

}  // namespace

namespace {

// Counts the idle passes that reach it.
class Ticker : public Orv::LControl
{
public:
    using LControl::LControl;
    void OnTick() override { ++ticks; }
    int ticks = 0;
};

// A subtree that leaves its window takes its idle requests along: the old window stops calling
// it, the next tree's window calls it, and its last release still finds the registration.
TEST_F(ControlClose, IdleRequestsFollowASubtreeFromWindowToWindow)
{
    const RCPtr<Ticker> ticker = ControlTest::Make<Ticker>(a, u"ticker", 0, 0, 5, 5);
    ASSERT_EQ(ticker->RequestIdle(), 0);
    Idle();
    EXPECT_EQ(ticker->ticks, 1);

    ASSERT_EQ(a->SetParent(RCPtr<LControl>()), 0);
    Idle();
    EXPECT_EQ(ticker->ticks, 1) << "a window it left still called it";
    EXPECT_EQ(ticker->GetIdleRequestCount(), 1);

    ASSERT_EQ(a->SetParent(b), 0);
    Idle();
    EXPECT_EQ(ticker->ticks, 2) << "the window it joined does not call it";

    // A request made outside any window registers when the control joins one.
    const RCPtr<Ticker> late = ControlTest::Make<Ticker>(nullptr, u"late", 0, 0, 5, 5);
    ASSERT_EQ(late->RequestIdle(), 0);
    ASSERT_EQ(late->SetParent(panel), 0);
    Idle();
    EXPECT_EQ(late->ticks, 1);
    EXPECT_EQ(ticker->ticks, 3);

    EXPECT_EQ(ticker->ReleaseIdle(), 0);
    EXPECT_EQ(late->ReleaseIdle(), 0);
    Idle();
    EXPECT_EQ(ticker->ticks, 3);
    EXPECT_EQ(late->ticks, 1);
    late->SetParent(RCPtr<LControl>());
    ticker->SetParent(RCPtr<LControl>());
    a->SetParent(panel);
}

}  // namespace
