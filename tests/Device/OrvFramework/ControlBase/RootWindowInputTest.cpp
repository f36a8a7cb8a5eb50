// Input dispatch of a root window over a recording host: presses, releases, moves, wheel and
// keys reach the right controls, and the window-wide hover, capture and focus state holds.

#include <gtest/gtest.h>

#include "ControlBase/ModalOperationScope.h"
#include "ControlBase/TextInputControl.h"
#include "RootWindowSupport.h"

namespace {

using namespace RootWindowTest;
using Orv::LRootWindow;
using Names = std::vector<std::string>;

class RootWindowInput : public testing::Test
{
protected:
    void SetUp() override
    {
        app = RCPtr<TestApp>(new TestApp());
        window = MakeWindow(RCPtr<Orv::LRenderer>(), &services);
        root = RCPtr<InputProbe>(new InputProbe(nullptr, u"root", &log));
        a = RCPtr<InputProbe>(new InputProbe(root, u"a", &log));
        b = RCPtr<InputProbe>(new InputProbe(root, u"b", &log));
        root->hitTarget = a;
        window->SetRootControl(root);
        log.clear();
    }

    void TearDown() override
    {
        a = nullptr;
        b = nullptr;
        root = nullptr;
        if (window) {
            window->DropBackReferences();
        }
        window = nullptr;
        app = nullptr;
        EXPECT_EQ(LControl::GetLiveCount(), 0);
    }

    RecordingServices services;
    RCPtr<TestApp> app;
    RCPtr<LRootWindow> window;
    RCPtr<InputProbe> root;
    RCPtr<InputProbe> a;
    RCPtr<InputProbe> b;
    Names log;
};

TEST_F(RootWindowInput, APressAwayFromTheLastPointDeliversTheMoveFirst)
{
    services.pointer = PointL{5, 5};
    window->HandleMouseButton(0, 1, 0, PointL{20, 30}, 0);
    EXPECT_EQ(log, (Names{"a:enter", "a:move 20,30", "a:down 1"}));

    log.clear();
    services.pointer = PointL{20, 30};
    window->HandleMouseButton(0, 1, 0, PointL{20, 30}, 0);
    EXPECT_EQ(log, (Names{"a:down 1"}));
}

TEST_F(RootWindowInput, AReleaseWithoutCaptureReachesNoControl)
{
    window->HandleMouseButton(1, 1, 0, PointL{0, 0}, 0);
    EXPECT_TRUE(log.empty());

    window->SetCaptureControl(b);
    window->HandleMouseButton(1, 1, 0, PointL{0, 0}, 0);
    EXPECT_EQ(log, (Names{"b:up 1"}));
}

TEST_F(RootWindowInput, TheReleaseOfADoubleClickCarriesItAndTheNextPressClearsIt)
{
    window->SetCaptureControl(a);
    window->HandleMouseButton(2, 1, 0, PointL{0, 0}, 0);
    EXPECT_EQ(a->lastDoubleClick, 1);
    window->HandleMouseButton(1, 1, 0, PointL{0, 0}, 0);
    EXPECT_EQ(a->lastDoubleClick, 1);
    window->HandleMouseButton(0, 1, 0, PointL{0, 0}, 0);
    EXPECT_EQ(a->lastDoubleClick, 0);
    window->HandleMouseButton(1, 1, 0, PointL{0, 0}, 0);
    EXPECT_EQ(a->lastDoubleClick, 0);
}

TEST_F(RootWindowInput, OnlyPointersZeroToNineHaveAButtonMaskButEveryPointerIsDelivered)
{
    struct Case
    {
        int32_t pointer;
        bool masked;
    };
    for (const Case& c :
         {Case{0, true}, Case{9, true}, Case{10, false}, Case{-1, false}, Case{INT32_MIN, false}}) {
        window->HandleMouseButton(0, 4, 0, PointL{0, 0}, c.pointer);
        EXPECT_EQ(a->lastPointerIndex, c.pointer);
        if (c.masked) {
            EXPECT_EQ(window->GetButtonMask(c.pointer), 4) << c.pointer;
        }
    }
    for (int32_t pointer = 1; pointer < 9; ++pointer) {
        EXPECT_EQ(window->GetButtonMask(pointer), 0) << "a wrong index wrote elsewhere";
    }
    window->HandleMouseButton(1, 4, 0, PointL{0, 0}, 9);
    EXPECT_EQ(window->GetButtonMask(9), 0);
}

TEST_F(RootWindowInput, HoverStaysOnTheCaptureControlWithoutATipForIt)
{
    a->tip = Orv::WideString(u"A tip");
    b->tip = Orv::WideString(u"B tip");
    window->SetCaptureControl(b);
    window->HandleMouseMove(PointL{1, 1}, 0, 0);
    EXPECT_EQ(window->GetHoverControl().Get(), nullptr) << "only the capture control hovers";
    EXPECT_EQ(log, (Names{"b:move 1,1"}));

    root->hitTarget = b;
    log.clear();
    window->HandleMouseMove(PointL{2, 2}, 0, 0);
    EXPECT_EQ(window->GetHoverControl().Get(), b.Get());
    EXPECT_EQ(window->GetToolTipOwner().Get(), nullptr);
    EXPECT_EQ(log, (Names{"b:enter", "b:move 2,2"}));

    window->ReleaseCaptureControl();
    root->hitTarget = a;
    log.clear();
    window->HandleMouseMove(PointL{3, 3}, 0, 0);
    EXPECT_EQ(window->GetToolTipOwner().Get(), a.Get());
    EXPECT_EQ(log, (Names{"a:tip on", "b:leave", "a:enter", "a:move 3,3"}));
}

TEST_F(RootWindowInput, AnUnhandledVerticalWheelGoesToTheFocusControl)
{
    window->SetFocusControl(b);
    a->wheelAnswer = 1;
    window->HandleMouseWheel(PointL{0, 0}, 0, 1);
    EXPECT_EQ(log, (Names{"a:enter", "a:wheel", "b:wheel"}));

    log.clear();
    a->wheelAnswer = S_OK;
    window->HandleMouseWheel(PointL{0, 0}, 0, 0);
    EXPECT_EQ(log, (Names{"a:wheel"}));
}

TEST_F(RootWindowInput, PointerInputWhileInactiveIsIgnoredButKeysArrive)
{
    window->SetFocusControl(b);
    services.active = false;
    window->HandleMouseButton(0, 1, 0, PointL{5, 5}, 0);
    window->HandleMouseMove(PointL{5, 5}, 0, 0);
    window->HandleMouseWheel(PointL{5, 5}, 0, 0);
    EXPECT_TRUE(log.empty());
    window->HandleKey(RCPtr<Orv::LKeyParam>(new Orv::LKeyParam(Orv::KeyCode(), 1)));
    EXPECT_EQ(log, (Names{"b:key"}));
}

TEST_F(RootWindowInput, ReplacingTheRootControlLeavesNoFocusHoverCaptureOrHotKey)
{
    window->HandleMouseMove(PointL{1, 1}, 0, 0);
    window->SetCaptureControl(b);
    window->SetFocusControl(a);
    window->OnFocusReleased();
    window->SetFocusControl(b);
    window->GetHotKeys()->GetHotKeys().AddHotKey(Orv::KeyCode(0x41, true, false, 0), u"NID_X");
    ASSERT_FALSE(window->GetHotKeys()->GetHotKeys().IsEmpty());
    EXPECT_EQ(window->SetRootControl(RCPtr<LControl>()), S_OK);
    EXPECT_EQ(window->GetFocusControl().Get(), nullptr);
    EXPECT_EQ(window->GetRememberedFocus().Get(), nullptr);
    EXPECT_EQ(window->GetHoverControl().Get(), nullptr);
    EXPECT_EQ(window->GetCaptureControl().Get(), nullptr);
    EXPECT_TRUE(window->GetHotKeys()->GetHotKeys().IsEmpty());
    EXPECT_EQ(window->GetRootControl().Get(), nullptr);
}

TEST_F(RootWindowInput, AControlReplacingTheRootControlInsideItsPressRunsClean)
{
    static LRootWindow* target = nullptr;
    target = window.Get();
    a->onDown = [](InputProbe&) { target->SetRootControl(RCPtr<LControl>()); };
    // Only the window holds the tree now: the press must keep the pressed control alive itself.
    root = nullptr;
    a = nullptr;
    b = nullptr;
    services.pointer = PointL{0, 0};
    window->HandleMouseButton(0, 1, 0, PointL{0, 0}, 0);
    EXPECT_EQ(window->GetRootControl().Get(), nullptr);
    EXPECT_EQ(log, (Names{"a:enter", "a:down 1"}));
}

TEST_F(RootWindowInput, ShiftTabPastTheEndOfThreeWindowsGoesToThePrevious)
{
    RecordingServices second;
    RecordingServices third;
    second.active = false;
    third.active = false;
    const RCPtr<LRootWindow> w2 = MakeWindow(RCPtr<Orv::LRenderer>(), &second);
    const RCPtr<LRootWindow> w3 = MakeWindow(RCPtr<Orv::LRenderer>(), &third);
    EXPECT_EQ(app->AddRootWindow(window), 0);
    EXPECT_EQ(app->AddRootWindow(w2), 1);
    EXPECT_EQ(app->AddRootWindow(w3), 2);
    EXPECT_EQ(app->AddRootWindow(w2), 1) << "listed once";

    const RCPtr<Orv::LKeyParam> shiftTab(
        new Orv::LKeyParam(Orv::KeyCode(0x09, true, false, Orv::KeyCode::kShiftBit >> 24), 0));
    shiftTab->key.code |= Orv::KeyCode::kShiftBit;
    window->CycleFocusToNextWindow(shiftTab);
    EXPECT_EQ(third.Count("SetFocus"), 1) << "from the first to the last";
    EXPECT_EQ(second.Count("SetFocus"), 0);

    const RCPtr<Orv::LKeyParam> tab(new Orv::LKeyParam(Orv::KeyCode(0x09, true, false, 0), 0));
    tab->key.code &= ~Orv::KeyCode::kShiftBit;
    window->CycleFocusToNextWindow(tab);
    EXPECT_EQ(second.Count("SetFocus"), 1);

    // Not listed, or the found window without a host: nothing, and nothing followed.
    EXPECT_EQ(app->RemoveRootWindow(window), S_OK);
    EXPECT_EQ(app->RemoveRootWindow(window), E_FAIL);
    window->CycleFocusToNextWindow(tab);
    w3->DropBackReferences();
    app->AddRootWindow(window);
    window->CycleFocusToNextWindow(shiftTab);
    EXPECT_EQ(second.Count("SetFocus") + third.Count("SetFocus"), 2);
    app->RemoveRootWindow(w2);
    app->RemoveRootWindow(w3);
    app->RemoveRootWindow(window);
    w2->DropBackReferences();
}

// A text entry, read-only or not.
class TextEntry : public InputProbe, public Orv::ITextInputControl
{
public:
    TextEntry(const RCPtr<LControl>& parent, bool editable)
        : InputProbe(parent, u"entry", nullptr), editable(editable)
    {
    }
    bool AcceptsTextInput() const override { return editable; }

    bool editable;
};

// The host opens text input only for a control that takes text, and closes it for any.
TEST_F(RootWindowInput, TextInputOpensOnlyForAControlThatTakesText)
{
    const RCPtr<LControl> editable(new TextEntry(root, true));
    const RCPtr<LControl> readOnly(new TextEntry(root, false));
    int data = 0;
    struct Row
    {
        const char* name;
        bool active;
        RCPtr<LControl> control;
        bool opens;   // the host hears (true, data)
        bool closes;  // the host hears (false, data)
    };
    const Row rows[] = {
        {"an editable entry", true, editable, true, false},
        {"a read-only entry", true, readOnly, false, false},
        {"a control without text", true, a, false, false},
        {"no control", true, RCPtr<LControl>(), false, false},
        {"closing for an entry", false, editable, false, true},
        {"closing for any control", false, a, false, true},
        {"closing without control", false, RCPtr<LControl>(), false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        services.textInput.clear();
        window->SetTextInputActive(row.active, row.control, &data);
        if (row.opens || row.closes) {
            ASSERT_EQ(services.textInput.size(), 1u);
            EXPECT_EQ(services.textInput[0].first, row.opens);
            EXPECT_EQ(services.textInput[0].second, &data);
        } else {
            EXPECT_TRUE(services.textInput.empty());
        }
    }
}

TEST_F(RootWindowInput, ConstrainClientSizeNeverGivesASizeBelowOne)
{
    struct Case
    {
        PointL proposed;
        PointL expected;
        int32_t changed;
    };
    window->SetRootControl(RCPtr<LControl>());
    for (const Case& c : {Case{{0, 0}, {1, 1}, 1}, Case{{-5, 7}, {1, 7}, 1},
                          Case{{300, 200}, {300, 200}, 0}, Case{{INT32_MIN, 1}, {1, 1}, 1}}) {
        PointL size = c.proposed;
        EXPECT_EQ(window->ConstrainClientSize(size), c.changed);
        EXPECT_EQ(size.x, c.expected.x);
        EXPECT_EQ(size.y, c.expected.y);
    }
}

TEST_F(RootWindowInput, EndModalWaitsForTheQueueAndKeepsTheWindowAliveAcrossIt)
{
    EXPECT_EQ(window->EndModal(3), S_OK);
    EXPECT_EQ(services.Count("EndModal"), 0);
    window->ProcessNotifications(false);
    EXPECT_EQ(services.endModalResults, (std::vector<int32_t>{3}));
    window->ProcessNotifications(false);
    EXPECT_EQ(services.Count("EndModal"), 1) << "applied once";

    const RCPtr<LRootWindow> hostless = MakeWindow(RCPtr<Orv::LRenderer>(), nullptr);
    EXPECT_EQ(hostless->EndModal(1), E_FAIL);
    hostless->RequestClose();
    EXPECT_FALSE(hostless->ProcessNotifications(false));
    EXPECT_EQ(hostless->DropBackReferences(), S_OK);
}

TEST_F(RootWindowInput, AModalOperationScopeWithoutAWindowFollowsNothing)
{
    {
        Orv::CModalOperationScope scope(Orv::WideString(u"Loading Skin..."));
    }
    app->AddRootWindow(window);
    HCURSOR before = services.cursor;
    {
        Orv::CModalOperationScope scope(Orv::WideString(u"Loading Skin..."));
        EXPECT_NE(services.cursor, before);
    }
    EXPECT_EQ(app->RemoveRootWindow(window), S_OK);
}

TEST_F(RootWindowInput, TheIdlePassRunsEveryWindowLastToFirstOverACopy)
{
    RecordingServices second;
    const RCPtr<LRootWindow> w2 = MakeWindow(RCPtr<Orv::LRenderer>(), &second);
    app->AddRootWindow(window);
    app->AddRootWindow(w2);
    window->EndModal(1);
    w2->EndModal(2);
    app->OnIdle(false);
    EXPECT_EQ(services.endModalResults, (std::vector<int32_t>{1}));
    EXPECT_EQ(second.endModalResults, (std::vector<int32_t>{2}));
    app->RemoveRootWindow(window);
    app->RemoveRootWindow(w2);
    EXPECT_EQ(app->GetActiveRootWindow().Get(), nullptr);
    w2->DropBackReferences();
}

}  // namespace
