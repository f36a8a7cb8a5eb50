// The context menu's pop-up (the stand-in): made hidden from the skin's "contextMenu", filled
// with a copy of the menu, shown to the owner before it opens, placed at the pointer inside the
// window; and opening documents with the shell.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ControlBase/MenuDescriptor.h"
#include "ControlBase/OpenWithShell.h"
#include "ControlBase/PopupMenu.h"
#include "ControlBase/RootWindow.h"
#include "RootWindowSupport.h"
#include "SkinApplySupport.h"
#include "Win32Test/ShellRecorder.h"

namespace {

using Orv::LControl;
using Orv::LPopupMenu;
using Orv::RCPtr;
using Orv::WideString;
using SkinApplyTest::Skin;
using SkinApplyTest::SkinApplyFixture;
using SkinApplyTest::SubControl;

// Records what the pop-up looked like when its owner was asked.
class MenuOwner : public LControl
{
public:
    MenuOwner(const RCPtr<LControl>& parent, const WideString& name) : LControl(parent, name) {}
    void OnContextMenuOpening(const RCPtr<LControl>& menu) override
    {
        auto* popup = dynamic_cast<LPopupMenu*>(menu.Get());
        opened.push_back(popup);
        hiddenWhenAsked = !menu->GetLayout()->isVisible;
        filledWhenAsked = popup != nullptr && popup->GetMenuDescriptor();
    }
    std::vector<LPopupMenu*> opened;
    bool hiddenWhenAsked = false;
    bool filledWhenAsked = false;
};

RCPtr<Orv::LMenuDescriptor> TwoEntries()
{
    RCPtr<Orv::LMenuDescriptor> menu = Orv::LMenuDescriptor::Create();
    menu->AddItem(0, u"Cut", u"NID_EDIT_CUT_REQ", 1, 0);
    menu->AddItem(1, u"Copy", u"NID_EDIT_COPY_REQ", 1, 0);
    return menu;
}

class ContextMenu : public SkinApplyFixture
{
protected:
    void SetUp() override
    {
        SkinApplyFixture::SetUp();
        factory->RegisterControlCreateFunction(u"Framework.PopupMenu",
                                               &Orv::ControlCreateFunction<LPopupMenu>);
        factory->RegisterControlCreateFunction(u"Test.Owner",
                                               &Orv::ControlCreateFunction<MenuOwner>);
    }

    void TearDown() override
    {
        if (top) {
            top->SetRootWindow(nullptr);
        }
        window = nullptr;
        top = nullptr;
        SkinApplyFixture::TearDown();
    }

    void Build(bool withMenu)
    {
        const std::string menu = withMenu
                                     ? SubControl("contextMenu", "XSizeAbs=\"60\" YSizeAbs=\"40\"",
                                                  "", "Framework.PopupMenu")
                                     : "";
        top = BuildTop("<Skins>" +
                       Skin("A", "",
                            SubControl("top", "XSizeAbs=\"1024\" YSizeAbs=\"768\"",
                                       Skin("top", "",
                                            SubControl("owner",
                                                       "XPositionAbs=\"100\" YPositionAbs=\"50\" "
                                                       "XSizeAbs=\"200\" YSizeAbs=\"100\"",
                                                       "", "Test.Owner"))) +
                                menu) +
                       "</Skins>");
        ASSERT_TRUE(top);
        window = Orv::LRootWindow::Create(nullptr, &host);
        ASSERT_EQ(top->SetRootWindow(window), 0);
        top->UpdateLayout();
        ASSERT_EQ(top->GetRect().width, 1024);
        owner = dynamic_cast<MenuOwner*>(top->FindChild(u"owner").Get());
        ASSERT_NE(owner, nullptr);
    }

    RootWindowTest::RecordingServices host;
    RCPtr<Orv::LRootWindow> window;
    RCPtr<LControl> top;
    MenuOwner* owner = nullptr;
};

TEST_F(ContextMenu, OpensHiddenFilledAndAskedAtThePointerInsideTheWindow)
{
    Build(true);
    struct Case
    {
        Orv::PointL pointer;
        Orv::PointL expected;
    };
    const RCPtr<Orv::LMenuDescriptor> menu = TwoEntries();
    for (const Case& row : {Case{{150, 80}, {150, 80}}, Case{{1000, 750}, {1024 - 60, 768 - 40}},
                            Case{{-5, 3}, {0, 3}}}) {
        SCOPED_TRACE(std::to_string(row.pointer.x) + "," + std::to_string(row.pointer.y));
        host.pointer = row.pointer;
        owner->opened.clear();
        ASSERT_EQ(owner->ShowContextMenu(menu), S_OK);
        ASSERT_EQ(owner->opened.size(), 1u);
        LPopupMenu* popup = owner->opened[0];
        EXPECT_EQ(owner->FindChild(u"contextMenu").Get(), popup);
        EXPECT_TRUE(owner->hiddenWhenAsked);
        EXPECT_TRUE(owner->filledWhenAsked);
        // A copy: the owner's menu is not the one shown.
        EXPECT_NE(popup->GetMenuDescriptor().Get(), menu.Get());
        EXPECT_EQ(popup->GetMenuDescriptor()->GetItems().GetCount(), 2u);
        EXPECT_TRUE(popup->GetLayout()->isVisible);
        EXPECT_TRUE(popup->HasFocus());
        const Orv::PointD at = popup->GetWindowOrigin();
        EXPECT_EQ(at.x, row.expected.x);
        EXPECT_EQ(at.y, row.expected.y);
    }
    // Only the latest menu stays.
    EXPECT_EQ(owner->GetChildren().GetCount(), 1u);
}

TEST_F(ContextMenu, WithoutAContextMenuControlNothingOpens)
{
    Build(false);
    ASSERT_EQ(owner->ShowContextMenu(TwoEntries()), S_OK);
    EXPECT_TRUE(owner->opened.empty());
    EXPECT_EQ(owner->GetChildren().GetCount(), 0u);
}

TEST_F(ContextMenu, SetMenuDescriptorRefusesNullAndEscapeClosesTheMenu)
{
    Build(true);
    ASSERT_EQ(owner->ShowContextMenu(TwoEntries()), S_OK);
    LPopupMenu* popup = owner->opened.at(0);
    EXPECT_EQ(popup->SetMenuDescriptor(nullptr), E_INVALIDARG);
    EXPECT_TRUE(popup->GetMenuDescriptor());
    const RCPtr<Orv::LKeyParam> escape(new Orv::LKeyParam(
        Orv::KeyCode(static_cast<uint32_t>(VK_ESCAPE), true, false, Orv::KeyModifierFlags{0}), 1));
    EXPECT_EQ(popup->OnKeyHook(escape), 1);
    EXPECT_FALSE(popup->GetLayout()->isVisible);
}

TEST_F(ContextMenu, ARightClickOpensTheControlsMenuAndANewMenuReplacesIt)
{
    Build(true);
    host.pointer = Orv::PointL{120, 60};
    ASSERT_EQ(owner->SetContextMenu(TwoEntries()), S_OK);
    const RCPtr<Orv::LMouseButtonParam> click(new Orv::LMouseButtonParam(4, 20, 10, 0, 0, 0, 0));
    ASSERT_EQ(owner->OnRightClick(click), S_OK);
    ASSERT_EQ(owner->opened.size(), 1u);
    EXPECT_EQ(owner->opened[0]->GetMenuDescriptor()->GetItems().GetCount(), 2u);

    RCPtr<Orv::LMenuDescriptor> single = Orv::LMenuDescriptor::Create();
    single->AddItem(0, u"Paste", u"NID_EDIT_PASTE_REQ", 1, 0);
    ASSERT_EQ(owner->SetContextMenu(single), S_OK);
    EXPECT_EQ(owner->GetContextMenu().Get(), single.Get());
    ASSERT_EQ(owner->OnRightClick(click), S_OK);
    ASSERT_EQ(owner->opened.size(), 2u);
    EXPECT_EQ(owner->opened[1]->GetMenuDescriptor()->GetItems().GetCount(), 1u);
    EXPECT_EQ(owner->GetChildren().GetCount(), 1u);
    ASSERT_EQ(owner->SetContextMenu(nullptr), S_OK);
}

TEST_F(ContextMenu, ANewMenuUnbindsTheOldMenusHotKeysAndBindsItsOwn)
{
    Build(true);
    window->GetHotKeys()->GetHotKeys().AddHotKey(
        Orv::KeyCode(0x77u, true, false, Orv::KeyModifierFlags{0}), u"NID_T_CUT");
    window->GetHotKeys()->GetHotKeys().AddHotKey(
        Orv::KeyCode(0x78u, true, false, Orv::KeyModifierFlags{0}), u"NID_T_PASTE");
    RCPtr<Orv::LMenuDescriptor> cut = Orv::LMenuDescriptor::Create();
    cut->AddItem(0, u"Cut", u"NID_T_CUT", 1, 0);
    RCPtr<Orv::LMenuDescriptor> paste = Orv::LMenuDescriptor::Create();
    paste->AddItem(0, u"Paste", u"NID_T_PASTE", 1, 0);
    const auto& handler = owner->GetNotificationHandler();
    ASSERT_TRUE(handler);
    const RCPtr<Orv::LNotificationDistributor> direct;
    ASSERT_EQ(owner->SetContextMenu(cut), S_OK);
    EXPECT_TRUE(handler->HasHandler(direct, u"NID_T_CUT"));
    ASSERT_EQ(owner->SetContextMenu(paste), S_OK);
    EXPECT_FALSE(handler->HasHandler(direct, u"NID_T_CUT"));
    EXPECT_TRUE(handler->HasHandler(direct, u"NID_T_PASTE"));
    ASSERT_EQ(owner->SetContextMenu(nullptr), S_OK);
    EXPECT_FALSE(handler->HasHandler(direct, u"NID_T_PASTE"));
}

TEST_F(ContextMenu, AContextMenuOfAnotherClassIsClosedNotLeftUnderTheControl)
{
    factory = Orv::RCPtr<Orv::LControlFactory>(new Orv::LControlFactory(u"Quorvel"));
    application->SetControlFactory(factory);
    RegisterBase(u"Test.Base");
    RegisterBase(u"Framework.PopupMenu");  // a plain control under the pop-up's name
    factory->RegisterControlCreateFunction(u"Test.Owner", &Orv::ControlCreateFunction<MenuOwner>);
    Build(true);
    ASSERT_EQ(owner->ShowContextMenu(TwoEntries()), S_OK);
    EXPECT_TRUE(owner->opened.empty());
    EXPECT_EQ(owner->GetChildren().GetCount(), 0u);
}

class ShellOpen : public testing::Test
{
protected:
    void SetUp() override { Win32Test::SetShellRecorder(&recorder); }
    void TearDown() override { Win32Test::SetShellRecorder(nullptr); }
    Win32Test::ShellRecorder recorder;
};

TEST_F(ShellOpen, HandsTheTextOverAsOneFileAndReadsTheAnswer)
{
    const WideString link(u"https://example.invalid/a b?c=\"d\"");
    EXPECT_EQ(Orv::OpenWithShell(link), S_OK);
    ASSERT_EQ(recorder.calls.size(), 1u);
    EXPECT_TRUE(recorder.calls[0].verb == u"open");
    EXPECT_TRUE(recorder.calls[0].file == std::u16string(link.GetText()));
    EXPECT_TRUE(recorder.calls[0].parameters.empty());
    EXPECT_TRUE(recorder.calls[0].directory.empty());
    EXPECT_EQ(recorder.calls[0].showCommand, SW_SHOWNORMAL);
    recorder.answer = SE_ERR_NOASSOC;
    EXPECT_EQ(Orv::OpenWithShell(link), E_FAIL);
    recorder.answer = 32;
    EXPECT_EQ(Orv::OpenWithShell(link), E_FAIL);
}

TEST_F(ShellOpen, ATextTheOpenerWouldReadAsAnOptionIsRefused)
{
    EXPECT_EQ(Orv::OpenWithShell(u"--manual"), E_FAIL);
    EXPECT_EQ(Orv::OpenWithShell(u""), E_FAIL);
    EXPECT_TRUE(recorder.calls.empty());
}

TEST(ShellExecute, AFailedSpawnAnswersNoAssociation)
{
    // Without a recorder: the opener is not on this PATH, so nothing starts.
    const char* saved = std::getenv("PATH");
    const std::string kept = saved != nullptr ? saved : "";
    setenv("PATH", "/nonexistent-orv", 1);
    const HINSTANCE answer =
        ShellExecuteW(nullptr, u"open", u"/tmp/none.txt", nullptr, nullptr, SW_SHOWNORMAL);
    setenv("PATH", kept.c_str(), 1);
    EXPECT_EQ(reinterpret_cast<intptr_t>(answer), SE_ERR_NOASSOC);
    EXPECT_EQ(reinterpret_cast<intptr_t>(
                  ShellExecuteW(nullptr, u"open", u"-x", nullptr, nullptr, SW_SHOWNORMAL)),
              SE_ERR_NOASSOC);
}

}  // namespace
