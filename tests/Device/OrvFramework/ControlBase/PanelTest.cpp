// Panels keep Tab inside themselves, hand Ctrl+Tab and unhandled keys up, and hear the keys
// their siblings get.
//
//   R (root panel, records the Tab keys handed to it)
//   |- A (tab 1)
//   |- P (panel, tab 2): P1, P2, P3 (tabs 1-3); P binds F6 as a local hot key
//   `- B (tab 3)

#include <gtest/gtest.h>

#include "Application/ApplicationNotificationCenter.h"
#include "Controls/ScrollViewClasses.h"
#include "ScrollTestSupport.h"
#include "System/GlobalHotKeyManager.h"

namespace {

using namespace ScrollTest;
using FocusTest::KeyFromWindow;
using FocusTest::Names;
using Orv::KeyCode;
using Orv::LControl;

constexpr uint32_t kTab = 0x09;
constexpr uint32_t kF6 = 0x75;
constexpr uint32_t kF9 = 0x78;

Names* panelLog = nullptr;

// Records the control each Tab handed to it came from, and the test ids it is handed.
class RecorderPanel : public TablePanel
{
public:
    using TablePanel::TablePanel;
    void MoveFocus(const RCPtr<Orv::LKeyParam>& key) override
    {
        const uint32_t count = key->visited.GetCount();
        if (panelLog != nullptr) {
            panelLog->push_back(
                GetName().ToNarrow().GetText() + std::string("<-") +
                (count == 0
                     ? std::string("none")
                     : std::string(
                           key->visited.GetData()[count - 1]->GetName().ToNarrow().GetText())));
        }
        TablePanel::MoveFocus(key);
    }
    int OnNotification(const RCPtr<Orv::LNotificationDistributor>& sender,
                       const RCPtr<Orv::LNotification>& notification) override
    {
        const std::u16string id = notification && notification->id ? notification->id : u"";
        if (panelLog != nullptr && id.rfind(u"NID_T_", 0) == 0) {
            panelLog->push_back(GetName().ToNarrow().GetText() + std::string(":") +
                                ControlTest::Narrow(Orv::WideString(id.c_str())));
        }
        return TablePanel::OnNotification(sender, notification);
    }
};

// A derived search that answers every next child in tab order, focusable or not, as a class
// with its own idea of the order might. It gives up after many calls so that a loop shows as a
// count rather than a hang.
class EveryChildPanel : public RecorderPanel
{
public:
    using RecorderPanel::RecorderPanel;
    RCPtr<LControl> FindNextFocusable(const RCPtr<LControl>& from, bool) override
    {
        if (++searches > 1000 || !from) {
            return RCPtr<LControl>();
        }
        const uint32_t count = GetChildren().GetCount();
        const int32_t at = IndexOfChild(from, ChildControlList::kTabOrder);
        return GetChildren().GetAt(static_cast<uint32_t>(at + 1) % count,
                                   ChildControlList::kTabOrder);
    }
    int searches = 0;
};

class Panel : public ControlTest::ControlFixture
{
protected:
    void SetUp() override
    {
        ControlFixture::SetUp();
        RegisterScrollClasses(*factory);
        factory->RegisterControlCreateFunction(u"Test.Recorder",
                                               &Orv::ControlCreateFunction<RecorderPanel>);
        factory->RegisterControlCreateFunction(u"Test.EveryChild",
                                               &Orv::ControlCreateFunction<EveryChildPanel>);
        FocusTest::TablesByName()[u"P"] = FocusTest::Table({{u"LHK.1.NID_T_P", u"VKEY_F6"}});
        panelLog = &log;
        window = RootWindowTest::MakeWindow(RCPtr<Orv::LRenderer>(), &services);
        RCPtr<LControlDescriptor> described =
            Describe(u"Test.Recorder", u"R", Place{0, 0, 1024, 768, 0});
        described->AddSubControl(Describe(u"Test.Control", u"A", Place{10, 10, 50, 20, 1}));
        RCPtr<LControlDescriptor> inner =
            Describe(u"Test.Recorder", u"P", Place{10, 40, 300, 200, 2});
        for (const char16_t* name : {u"P1", u"P2", u"P3"}) {
            inner->AddSubControl(
                Describe(u"Test.Control", name,
                         Place{10, 10.0 + 30 * (name[1] - u'1'), 50, 20, name[1] - u'0'}));
        }
        described->AddSubControl(inner);
        described->AddSubControl(Describe(u"Test.Control", u"B", Place{10, 300, 50, 20, 3}));
        root = factory->CreateControl(described, RCPtr<LControl>());
        ASSERT_TRUE(root);
        ASSERT_EQ(window->SetRootControl(root), S_OK);
        p = root->FindChild(u"P");
        ASSERT_TRUE(p);
        applicationClient = RCPtr<FocusTest::RecordingClient>(new FocusTest::RecordingClient());
        applicationClient->Register(GetApplicationNotificationCenter(), u"NID_T_APP");
        application->GetHotKeyManager()->GetHotKeys().AddHotKey(KeyCode(kF9, true, false, 0),
                                                                u"NID_T_APP");
    }

    void TearDown() override
    {
        applicationClient->UnregisterAll();
        applicationClient = nullptr;
        p = nullptr;
        root = nullptr;
        window->DropBackReferences();
        window = nullptr;
        panelLog = nullptr;
        FocusTest::TablesByName().clear();
        ControlFixture::TearDown();
    }

    RCPtr<LControl> Child(const char16_t* name)
    {
        RCPtr<LControl> found = root->FindChild(name);
        return found ? found : p->FindChild(name);
    }

    void Press(uint32_t virtualKey, Orv::KeyModifierFlags modifiers)
    {
        window->HandleKey(KeyFromWindow(virtualKey, modifiers));
    }

    RootWindowTest::RecordingServices services;
    RCPtr<Orv::LRootWindow> window;
    RCPtr<LControl> root;
    RCPtr<LControl> p;
    RCPtr<FocusTest::RecordingClient> applicationClient;
    Names log;
};

TEST_F(Panel, TabLeavesANestedPanelOnlyAtItsEnds)
{
    struct Row
    {
        const char16_t* from;
        Orv::KeyModifierFlags modifiers;
        const char16_t* to;
    };
    const Row rows[] = {
        {u"P1", 0, u"P2"},
        {u"P3", 0, u"B"},
        {u"P1", Orv::KeyModifier::kShift, u"A"},
        {u"P2", Orv::KeyModifier::kShift, u"P1"},
        {u"A", 0, u"P1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(ControlTest::Narrow(Orv::WideString(row.from)));
        ASSERT_GE(Child(row.from)->SetFocus(true), 0);
        ASSERT_TRUE(Child(row.from)->HasFocus());
        Press(kTab, row.modifiers);
        EXPECT_TRUE(Child(row.to)->HasFocus());
    }
}

TEST_F(Panel, CtrlTabIsHandedToTheParentAtOnce)
{
    ASSERT_GE(Child(u"P1")->SetFocus(true), 0);
    log.clear();
    Press(kTab, Orv::KeyModifier::kCtrl);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], "P<-P1");
    EXPECT_EQ(log[1], "R<-P");
    EXPECT_FALSE(Child(u"P2")->HasFocus());
}

TEST_F(Panel, APanelWithEveryChildDisabledPassesTabUp)
{
    for (const char16_t* name : {u"P1", u"P2", u"P3"}) {
        Child(name)->SetEnabled(false);
    }
    log.clear();
    const RCPtr<Orv::LKeyParam> key = KeyFromWindow(kTab, 0);
    key->visited.AddItem(Child(u"P1"));
    p->MoveFocus(key);
    EXPECT_EQ(log, (Names{"P<-P1", "R<-P"}));
    for (const char16_t* name : {u"P1", u"P2", u"P3"}) {
        EXPECT_FALSE(Child(name)->HasFocus());
    }
    EXPECT_TRUE(Child(u"B")->HasFocus());
}

TEST_F(Panel, EachCandidateIsTriedOnceEvenWhenTheSearchAnswersUnfocusableControls)
{
    RCPtr<LControlDescriptor> described =
        Describe(u"Test.EveryChild", u"E", Place{400, 40, 300, 200, 4});
    for (const char16_t* name : {u"E1", u"E2", u"E3", u"E4"}) {
        described->AddSubControl(
            Describe(u"Test.Control", name,
                     Place{10, 10.0 + 30 * (name[1] - u'1'), 50, 20, name[1] - u'0'}));
    }
    const RCPtr<LControl> made = factory->CreateControl(described, root);
    auto* looping = dynamic_cast<EveryChildPanel*>(made.Get());
    ASSERT_NE(looping, nullptr);
    // The anchor is hidden, the rest disabled: each step moves the anchor on.
    made->FindChild(u"E1")->SetVisible(false);
    for (const char16_t* name : {u"E2", u"E3", u"E4"}) {
        made->FindChild(name)->SetEnabled(false);
    }
    log.clear();
    const RCPtr<Orv::LKeyParam> key = KeyFromWindow(kTab, 0);
    key->visited.AddItem(made->FindChild(u"E1"));
    made->MoveFocus(key);
    EXPECT_LE(looping->searches, 5);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[1], "R<-E");
}

TEST_F(Panel, APanelHotKeyWorksWhileASiblingHasTheFocus)
{
    ASSERT_GE(Child(u"A")->SetFocus(true), 0);
    log.clear();
    Press(kF6, 0);
    EXPECT_EQ(log, (Names{"P:NID_T_P"}));
    window->ProcessNotifications(false);
    application->OnIdle(false);
    EXPECT_TRUE(applicationClient->received.empty());
}

TEST_F(Panel, AnUnboundKeyEndsAtTheApplicationHotKeys)
{
    for (const char16_t* from : {u"A", u"P2"}) {
        SCOPED_TRACE(ControlTest::Narrow(Orv::WideString(from)));
        applicationClient->received.clear();
        ASSERT_GE(Child(from)->SetFocus(true), 0);
        Press(kF9, 0);
        window->ProcessNotifications(false);
        application->OnIdle(false);
        EXPECT_EQ(applicationClient->received, (Names{"NID_T_APP"}));
    }
}

TEST_F(Panel, ARootPanelAnswersTheBaseSearchWithItsWrap)
{
    EXPECT_EQ(root->FindNextFocusable(Child(u"B"), false), Child(u"A"));
    EXPECT_EQ(root->FindNextFocusable(Child(u"A"), true), Child(u"B"));
    EXPECT_EQ(p->FindNextFocusable(Child(u"P3"), false), RCPtr<LControl>());
    EXPECT_EQ(p->FindNextFocusable(Child(u"P1"), true), RCPtr<LControl>());
    EXPECT_EQ(p->FindNextFocusable(Child(u"P1"), false), Child(u"P2"));
}

TEST_F(Panel, ThePanelClassesAndTheScrollBarAreRegistered)
{
    RCPtr<Orv::LControlFactory> own(new Orv::LControlFactory(u"Quorvel"));
    ASSERT_EQ(Orv::RegisterScrollViewClasses(*own), S_OK);
    for (const char16_t* className :
         {u"Framework.Panel", u"Framework.ScrollChannel", u"Framework.ComboSlider.DropDownPanel"}) {
        SCOPED_TRACE(ControlTest::Narrow(Orv::WideString(className)));
        const RCPtr<LControl> made =
            own->CreateControl(Describe(className, u"made", Place{0, 0, 50, 50, 5}), root);
        EXPECT_NE(dynamic_cast<Orv::LPanel*>(made.Get()), nullptr);
        made->Close();
    }
    const RCPtr<LControl> made =
        own->CreateControl(Describe(u"Framework.ScrollBar", u"bar", Place{0, 0, 16, 50}), root);
    EXPECT_NE(dynamic_cast<Orv::LScrollbar*>(made.Get()), nullptr);
    made->Close();
}

}  // namespace
