// Keys on a small tree under a root window: the control's own local hot keys, its siblings' in
// their order, the root window's and the application's hot keys; clients that close controls
// while a key travels; context menus from string tables and menu entries bound to hot keys.
//
//   root
//   `- P: A (tab 1), B (tab 2, no hot keys), C (tab 3), D (tab 4); A, C and D hold local hot keys

#include <gtest/gtest.h>

#include "Application/ApplicationNotificationCenter.h"
#include "ControlBase/MenuDescriptor.h"
#include "ControlFocusTestSupport.h"
#include "System/GlobalHotKeyManager.h"

namespace {

using namespace FocusTest;
using Orv::KeyCode;

constexpr uint32_t kF5 = 0x74;
constexpr uint32_t kF6 = 0x75;
constexpr uint32_t kF7 = 0x76;
constexpr uint32_t kF8 = 0x77;
constexpr uint32_t kF9 = 0x78;

RCPtr<Orv::LNotificationDistributor> NoSender()
{
    return RCPtr<Orv::LNotificationDistributor>();
}

KeyCode Key(uint32_t virtualKey)
{
    return KeyCode(virtualKey, true, false, 0);
}

class ControlKeys : public ControlTest::ControlFixture
{
protected:
    void SetUp() override
    {
        ControlFixture::SetUp();
        // F6 is bound by all three; F7 by A alone. Nobody binds F5.
        TablesByName()[u"A"] =
            Table({{u"LHK.1.NID_T_A_ALL", u"VKEY_F6"}, {u"LHK.2.NID_T_A_OWN", u"VKEY_F7"}});
        TablesByName()[u"C"] = Table({{u"LHK.1.NID_T_C_ALL", u"VKEY_F6"}});
        TablesByName()[u"D"] = Table({{u"LHK.1.NID_T_D_ALL", u"VKEY_F6"}});
        window = RootWindowTest::MakeWindow(RCPtr<Orv::LRenderer>(), &services);
        root = MakeProbe(nullptr, u"root", 0, 0, 1024, 768, 0);
        p = MakeProbe(root, u"P", 0, 0, 400, 300, 1);
        a = MakeProbe(p, u"A", 10, 10, 50, 20, 1);
        b = MakeProbe(p, u"B", 10, 40, 50, 20, 2);
        c = MakeProbe(p, u"C", 10, 70, 50, 20, 3);
        d = MakeProbe(p, u"D", 10, 100, 50, 20, 4);
        ASSERT_EQ(window->SetRootControl(root), S_OK);
        for (Probe* probe : {root.Get(), p.Get(), a.Get(), b.Get(), c.Get(), d.Get()}) {
            probe->log = &log;
        }
        windowClient = RCPtr<RecordingClient>(new RecordingClient());
        applicationClient = RCPtr<RecordingClient>(new RecordingClient());
        center = GetApplicationNotificationCenter();
        ASSERT_TRUE(center);
        ASSERT_TRUE(application->GetHotKeyManager());
        for (const char16_t* id : {u"NID_T_WINDOW", u"NID_T_BOTH"}) {
            windowClient->Register(window, id);
        }
        for (const char16_t* id : {u"NID_T_APP", u"NID_T_BOTH"}) {
            applicationClient->Register(center, id);
        }
        window->GetHotKeys()->GetHotKeys().AddHotKey(Key(kF8), u"NID_T_WINDOW");
        window->GetHotKeys()->GetHotKeys().AddHotKey(Key(kF5), u"NID_T_BOTH");
        application->GetHotKeyManager()->GetHotKeys().AddHotKey(Key(kF9), u"NID_T_APP");
        application->GetHotKeyManager()->GetHotKeys().AddHotKey(Key(kF5), u"NID_T_BOTH");
    }

    void TearDown() override
    {
        windowClient->UnregisterAll();
        applicationClient->UnregisterAll();
        windowClient = nullptr;
        applicationClient = nullptr;
        center = nullptr;
        for (RCPtr<Probe>* probe : {&root, &p, &a, &b, &c, &d}) {
            *probe = nullptr;
        }
        window->DropBackReferences();
        window = nullptr;
        TablesByName().clear();
        ControlFixture::TearDown();
    }

    // The hot keys' notifications wait in the queues: drain them.
    void Drain()
    {
        window->ProcessNotifications(false);
        application->OnIdle(false);
    }

    Names Offers() const
    {
        Names offers;
        for (const std::string& entry : log) {
            if (entry.find("NID_SIBLING_KEY") != std::string::npos) {
                offers.push_back(entry.substr(0, entry.find(':')));
            }
        }
        return offers;
    }

    RootWindowTest::RecordingServices services;
    RCPtr<Orv::LRootWindow> window;
    RCPtr<Orv::LNotificationCenter> center;
    RCPtr<RecordingClient> windowClient;
    RCPtr<RecordingClient> applicationClient;
    RCPtr<Probe> root, p, a, b, c, d;
    Names log;
};

TEST_F(ControlKeys, AKeyFromCIsOfferedToItselfThenToAThenToD)
{
    ASSERT_GE(c->SetFocus(true), 0);
    log.clear();
    window->HandleKey(KeyFromWindow(kF9, 0));
    EXPECT_EQ(Offers(), (Names{"C", "A", "D"}));
    Drain();
    EXPECT_EQ(applicationClient->received, (Names{"NID_T_APP"}));
}

TEST_F(ControlKeys, AKeyWithAnEmptyPathIsOfferedFromTheLastInTabOrder)
{
    const RCPtr<Orv::LKeyParam> key = KeyFromWindow(kF9, 0);
    EXPECT_EQ(p->HandleHotKeys(key), 1);
    EXPECT_EQ(Offers(), (Names{"D", "C", "A"}));
}

TEST_F(ControlKeys, OrderOfOffersAsTheKeyComesFromEachChild)
{
    struct Row
    {
        Probe* from;
        Names expected;
    };
    const Row rows[] = {
        {a.Get(), {"D", "C"}},
        {b.Get(), {"A", "D", "C"}},
        {d.Get(), {"C", "A"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(ControlTest::Narrow(row.from->GetName()));
        log.clear();
        const RCPtr<Orv::LKeyParam> key = KeyFromWindow(kF9, 0);
        key->visited.AddItem(RCPtr<LControl>(row.from));
        EXPECT_EQ(p->HandleHotKeys(key), 1);
        EXPECT_EQ(Offers(), row.expected);
    }
}

TEST_F(ControlKeys, ALocalHotKeyConsumesTheKeyWhereItIsFound)
{
    ASSERT_GE(c->SetFocus(true), 0);
    log.clear();
    window->HandleKey(KeyFromWindow(kF6, 0));
    EXPECT_EQ(log, (Names{"C:NID_SIBLING_KEY", "C:NID_T_C_ALL"})) << "its own hot key first";

    log.clear();
    window->HandleKey(KeyFromWindow(kF7, 0));
    EXPECT_EQ(log, (Names{"C:NID_SIBLING_KEY", "A:NID_SIBLING_KEY", "A:NID_T_A_OWN"}))
        << "a sibling's hot key, D never asked";
    Drain();
    EXPECT_TRUE(windowClient->received.empty());
    EXPECT_TRUE(applicationClient->received.empty());
}

TEST_F(ControlKeys, AHiddenOrDisabledHolderIgnoresItsHotKeys)
{
    ASSERT_GE(c->SetFocus(true), 0);
    a->SetEnabled(false);
    log.clear();
    window->HandleKey(KeyFromWindow(kF7, 0));
    EXPECT_EQ(Offers(), (Names{"C", "A", "D"}));
    Names raised;
    for (const std::string& entry : log) {
        if (entry.find("NID_T_") != std::string::npos) {
            raised.push_back(entry);
        }
    }
    EXPECT_TRUE(raised.empty());
}

TEST_F(ControlKeys, AKeyNoControlTakesGoesToTheWindowsHotKeysThenTheApplications)
{
    struct Row
    {
        const char* name;
        uint32_t key;
        Names window;
        Names application;
    };
    const Row rows[] = {
        {"bound by the window", kF8, {"NID_T_WINDOW"}, {}},
        {"bound by the application", kF9, {}, {"NID_T_APP"}},
        {"bound by both: the window's wins", kF5, {"NID_T_BOTH"}, {}},
        {"bound by nobody", 0x79, {}, {}},
    };
    ASSERT_GE(b->SetFocus(true), 0);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        windowClient->received.clear();
        applicationClient->received.clear();
        window->HandleKey(KeyFromWindow(row.key, 0));
        EXPECT_TRUE(windowClient->received.empty()) << "hot keys act at the next drain";
        Drain();
        EXPECT_EQ(windowClient->received, row.window);
        EXPECT_EQ(applicationClient->received, row.application);
    }
}

TEST_F(ControlKeys, ATopLevelControlOffersItsKeysToTheHotKeysDirectly)
{
    ASSERT_GE(root->ReleaseFocus(), 0);
    window->SetFocusControl(root);
    window->HandleKey(KeyFromWindow(kF8, 0));
    Drain();
    EXPECT_EQ(windowClient->received, (Names{"NID_T_WINDOW"}));
}

TEST_F(ControlKeys, AControlClosedInsideItsKeyHookHandlesTheKeyNoFurther)
{
    ASSERT_GE(b->SetFocus(true), 0);
    b->keyHook = [](Probe& self) {
        self.SetParent(RCPtr<LControl>());
        return Orv::ORVRESULT(1);
    };
    log.clear();
    // Bound by the application: a closed control, top-level now, would still reach it.
    window->HandleKey(KeyFromWindow(kF9, 0));
    Drain();
    EXPECT_TRUE(windowClient->received.empty());
    EXPECT_TRUE(applicationClient->received.empty());
    EXPECT_EQ(Offers(), (Names{"B"})) << "its own hot keys only; the panel never asked";
}

TEST_F(ControlKeys, AParentClosedWhileItOffersAKeyStopsOfferingAndStaysAliveToTheEnd)
{
    ASSERT_GE(c->SetFocus(true), 0);
    // A's client closes the panel: only its parent's child list holds it then.
    a->onNotification = [](Probe& self, const std::u16string& id) {
        if (id == u"NID_SIBLING_KEY") {
            self.GetParent()->SetParent(RCPtr<LControl>());
        }
    };
    p = nullptr;
    log.clear();
    window->HandleKey(KeyFromWindow(kF8, 0));
    EXPECT_EQ(Offers(), (Names{"C", "A"})) << "D is not asked once the panel is closed";
    Drain();
    EXPECT_TRUE(windowClient->received.empty());
    EXPECT_FALSE(root->FindChild(u"P"));
}

// --- Context menus from the string table

std::string Describe(const Orv::RCPtrArray<Orv::LMenuDescriptor>& menus)
{
    std::string text;
    for (uint32_t menu = 0; menu < menus.GetCount(); ++menu) {
        text += menu > 0 ? "|" : "";
        const auto& items = menus.GetData()[menu]->GetItems();
        for (uint32_t item = 0; item < items.GetCount(); ++item) {
            text += (item > 0 ? "," : "") + ControlTest::Narrow(items.GetData()[item]->key);
        }
    }
    return text;
}

TEST_F(ControlKeys, BuildMenuFromStringsMakesOneMenuOrOnePerGroup)
{
    struct Row
    {
        const char* name;
        RCPtr<Orv::LStringTable> table;
        std::string expected;
    };
    const Row rows[] = {
        {"one menu", Table({{u"CONTEXT_MENU.0.CUT", u"Cut"}, {u"CONTEXT_MENU.1.COPY", u"Copy"}}),
         "CUT,COPY"},
        {"the single menu wins over groups",
         Table({{u"CONTEXT_MENU.0.CUT", u"Cut"}, {u"CONTEXT_MENU_X.0.PASTE", u"Paste"}}), "CUT"},
        {"a group takes only its own entries",
         Table({{u"CONTEXT_MENU_A.0.X", u"x"},
                {u"CONTEXT_MENU_AB.0.Y", u"y"},
                {u"CONTEXT_MENU_AB.1.Z", u"z"}}),
         "X|Y,Z"},
        {"an id that ends at the dot adds no entry",
         Table({{u"CONTEXT_MENU_A.", u"nothing"}, {u"CONTEXT_MENU_A.0.X", u"x"}}), "X"},
        {"a group without entries adds no menu",
         Table({{u"CONTEXT_MENU_A", u"a"}, {u"CONTEXT_MENU_B.0.Y", u"y"}}), "Y"},
        {"an empty single menu falls back to the groups",
         Table({{u"CONTEXT_MENU.", u"nothing"}, {u"CONTEXT_MENU_B.0.Y", u"y"}}), "Y"},
        {"no context-menu entries", Table({{u"LABEL", u"text"}, {u"CONTEXT", u"x"}}), ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TablesByName()[u"M"] = row.table;
        RCPtr<Probe> control = MakeProbe(p, u"M", 0, 0, 10, 10, 5);
        Orv::RCPtrArray<Orv::LMenuDescriptor> menus;
        EXPECT_EQ(control->BuildMenuFromStrings(menus), S_OK);
        EXPECT_EQ(Describe(menus), row.expected);
        control->SetParent(RCPtr<LControl>());
    }
}

TEST_F(ControlKeys, MenuEntriesBoundToHotKeysArePassedOnWhereTheHotKeyWouldSendThem)
{
    RCPtr<Orv::LMenuDescriptor> menu = Orv::LMenuDescriptor::Create();
    menu->AddItem(0, u"Other", u"NID_T_OTHER", 1, 0);
    RCPtr<Orv::LMenuItemDescriptor> sub = Orv::LMenuItemDescriptor::Create(u"More", u"", 1, 0);
    sub->AddItem(0, u"Window", u"NID_T_WINDOW", 1, 0);
    sub->AddItem(1, u"Application", u"NID_T_APP", 1, 0);
    menu->InsertItem(1, sub);
    const auto& handler = c->GetNotificationHandler();
    ASSERT_TRUE(handler);

    c->BindMenuHotKeys(menu, true);
    EXPECT_TRUE(handler->HasHandler(NoSender(), u"NID_T_WINDOW"));
    EXPECT_TRUE(handler->HasHandler(NoSender(), u"NID_T_APP"));
    EXPECT_FALSE(handler->HasHandler(NoSender(), u"NID_T_OTHER")) << "no hot key binds it";
    for (const char16_t* id : {u"NID_T_WINDOW", u"NID_T_APP", u"NID_T_OTHER"}) {
        Orv::DeliverNotification(RCPtr<Orv::LNotificationReceiver>(c.Get()), id);
    }
    Drain();
    EXPECT_EQ(windowClient->received, (Names{"NID_T_WINDOW"}));
    EXPECT_EQ(applicationClient->received, (Names{"NID_T_APP"}));

    c->BindMenuHotKeys(menu, false);
    EXPECT_FALSE(handler->HasHandler(NoSender(), u"NID_T_WINDOW"));
    EXPECT_FALSE(handler->HasHandler(NoSender(), u"NID_T_APP"));
    EXPECT_TRUE(handler->HasHandler(NoSender(), u"NID_SIBLING_KEY")) << "its own bindings stay";
    windowClient->received.clear();
    applicationClient->received.clear();
    Orv::DeliverNotification(RCPtr<Orv::LNotificationReceiver>(c.Get()), u"NID_T_WINDOW");
    Drain();
    EXPECT_TRUE(windowClient->received.empty());
    menu->Clear();
}

TEST_F(ControlKeys, WithoutAMeasuredLabelAControlCountsAsClippedWhenItHasAName)
{
    EXPECT_TRUE(a->IsTextClipped());
    RCPtr<Probe> nameless = MakeProbe(p, u"", 0, 0, 10, 10, 5);
    EXPECT_FALSE(nameless->IsTextClipped());
    nameless->SetParent(RCPtr<LControl>());
}

}  // namespace
