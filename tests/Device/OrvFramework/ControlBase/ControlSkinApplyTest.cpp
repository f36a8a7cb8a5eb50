// Applying a skin again to a tree built from another: what survives (objects, text, enabled
// state, the window's place), what follows the new skin (looks, fonts, visibility), and what
// happens to children the new skin no longer names.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/RootWindow.h"
#include "RootWindowSupport.h"
#include "SkinApplySupport.h"
#include "Utilities/Graphics/Font.h"

namespace {

using Orv::LControl;
using Orv::RCPtr;
using Orv::RectL;
using Orv::WideString;
using SkinApplyTest::Skin;
using SkinApplyTest::SkinApplyFixture;
using SkinApplyTest::SubControl;

constexpr const char* kLooks = R"(
  <Colorizers><Colorizer Name="c" ColorType="SolidFill" Color="FF102030"/></Colorizers>
  <Parts><Part Name="p" ColorizerName="c" Width="4" Height="4" ResizeType="Stretch"/></Parts>
  <Looks><Look Name="plain"><ClientPart Name="p" OffsetLeft="0" OffsetTop="0" OffsetRight="0"
      OffsetBottom="0"/></Look></Looks>
  <LookLists>
    <LookList Name="one" NumLooks="1"><Look Name="plain" Index="0"/></LookList>
    <LookList Name="three" NumLooks="3"><Look Name="plain" Index="0"/>
      <Look Name="plain" Index="2"/></LookList>
  </LookLists>)";

class ControlSkinApply : public SkinApplyFixture
{
protected:
    // Skin 0 and skin 1 of one document.
    RCPtr<LControl> BuildTwo(const std::string& first, const std::string& second)
    {
        return BuildTop(std::string(kLooks) + "<Skins>" + first + second + "</Skins>");
    }

    Orv::ORVRESULT Switch(int32_t skin, const RCPtr<LControl>& top)
    {
        factory->currentSkinIndex = skin;
        return factory->ApplySkinToControl(top);
    }
};

TEST_F(ControlSkinApply, ApplySkinToControlFailsWithoutControlDescriptorOrSkin)
{
    RCPtr<LControl> top =
        BuildTwo(SkinWithTop("A", SubControl("child", "")), Skin("B", "", SubControl("other", "")));
    ASSERT_TRUE(top);
    struct Case
    {
        const char* what;
        int32_t skin;
        bool withControl;
        Orv::ORVRESULT expected;
    };
    for (const Case& row : {Case{"null control", 0, false, E_FAIL},
                            Case{"skin without the control's name", 1, true, E_FAIL},
                            Case{"skin index past the end", 2, true, E_FAIL},
                            Case{"negative skin index", -1, true, E_FAIL},
                            Case{"the control's own skin", 0, true, S_OK}}) {
        SCOPED_TRACE(row.what);
        factory->currentSkinIndex = row.skin;
        EXPECT_EQ(factory->ApplySkinToControl(row.withControl ? top : RCPtr<LControl>()),
                  row.expected);
    }
    // A failed application left the tree as it was.
    EXPECT_TRUE(top->FindChild(u"child"));
    top = nullptr;
}

TEST_F(ControlSkinApply, ReapplicationKeepsObjectsTextAndEnabledStateAndTakesTheNewSkin)
{
    RCPtr<LControl> top = BuildTwo(
        SkinWithTop("A",
                    SubControl("keep", "", Skin("keep", "LookList=\"one\"", "")) +
                        SubControl("gone", "") + SubControl("shown", "IsVisible=\"False\""),
                    "FontName=\"Tahoma\" FontSize=\"10\""),
        SkinWithTop("B",
                    SubControl("fresh", "") + SubControl("shown", "") +
                        SubControl("keep",
                                   "IsVisible=\"False\" FontInheritsFromParent=\"True\" "
                                   "FontSizeIsRelative=\"True\" FontSize=\"1.5\"",
                                   Skin("keep", "LookList=\"three\"", "")),
                    "FontName=\"Tahoma\" FontSize=\"12\""));
    ASSERT_TRUE(top);
    const RCPtr<LControl> keep = top->FindChild(u"keep");
    const RCPtr<LControl> gone = top->FindChild(u"gone");
    const RCPtr<LControl> shown = top->FindChild(u"shown");
    ASSERT_TRUE(keep && gone && shown);
    keep->SetEnabled(false);
    EXPECT_EQ(keep->SetText(u"typed"), 0);
    EXPECT_FALSE(shown->GetLayout()->isVisible);

    ASSERT_EQ(Switch(1, top), S_OK);
    EXPECT_EQ(top->FindChild(u"keep").Get(), keep.Get());
    EXPECT_EQ(top->FindChild(u"shown").Get(), shown.Get());
    EXPECT_FALSE(top->FindChild(u"gone")) << "dropped with its sub-control";
    EXPECT_FALSE(gone->GetParent());
    EXPECT_FALSE(top->FindChild(u"fresh")) << "a new sub-control gets no control";
    EXPECT_EQ(top->GetChildren().GetCount(), 2u);
    EXPECT_TRUE(keep->IsCreated());
    EXPECT_FALSE(keep->IsEnabled(false)) << "stays disabled";
    EXPECT_EQ(ControlTest::Narrow(keep->GetText()), "typed");
    EXPECT_FALSE(keep->GetLayout()->isVisible) << "takes the new skin's visibility";
    EXPECT_TRUE(shown->GetLayout()->isVisible);
    // The new skin's looks, with the empty slot kept as a null look.
    ASSERT_EQ(keep->GetLooks().GetCount(), 3u);
    EXPECT_FALSE(keep->GetLooks().GetData()[1]);
    ASSERT_TRUE(keep->GetLooks().GetData()[2]);
    // 1.5 of the parent's 12.
    EXPECT_EQ(keep->GetFont()->GetSize(), 18.0f);
    EXPECT_EQ(top->SetFont(u"Tahoma", 10.0f, -1, false), S_OK);
    EXPECT_EQ(keep->GetFont()->GetSize(), 15.0f);

    // And back: the same objects again, the dropped one stays gone.
    ASSERT_EQ(Switch(0, top), S_OK);
    EXPECT_EQ(top->FindChild(u"keep").Get(), keep.Get());
    EXPECT_FALSE(top->FindChild(u"gone"));
    EXPECT_FALSE(keep->IsEnabled(false));
    EXPECT_EQ(ControlTest::Narrow(keep->GetText()), "typed");
    EXPECT_TRUE(keep->GetLayout()->isVisible);
    EXPECT_FALSE(shown->GetLayout()->isVisible);
    top = nullptr;
}

TEST_F(ControlSkinApply, ADroppedChildLetsGoOfFocusHoverCaptureAndIdle)
{
    RCPtr<LControl> top =
        BuildTwo(SkinWithTop("A", SubControl("stay", "") +
                                      SubControl("gone", "TabStop=\"1\"",
                                                 Skin("gone", "", SubControl("inner", "")))),
                 SkinWithTop("B", SubControl("stay", "")));
    ASSERT_TRUE(top);
    RCPtr<Orv::LRootWindow> window = Orv::LRootWindow::Create(nullptr, nullptr);
    ASSERT_EQ(top->SetRootWindow(window), 0);
    const RCPtr<LControl> gone = top->FindChild(u"gone");
    const RCPtr<LControl> inner = gone->FindChild(u"inner");
    ASSERT_TRUE(gone && inner);
    window->SetFocusControl(gone);
    ASSERT_EQ(window->SetCaptureControl(inner), S_OK);
    window->SetHoverControl(inner);
    ASSERT_EQ(window->GetHoverControl().Get(), inner.Get());
    ASSERT_EQ(gone->RequestIdle(), S_OK);

    ASSERT_EQ(Switch(1, top), S_OK);
    EXPECT_FALSE(gone->GetParent());
    EXPECT_FALSE(window->GetHoverControl());
    EXPECT_FALSE(window->GetCaptureControl());
    EXPECT_NE(window->GetFocusControl().Get(), gone.Get());
    EXPECT_FALSE(window->GetRememberedFocus());
    EXPECT_EQ(gone->GetIdleRequestCount(), 0);
    EXPECT_FALSE(gone->GetLayout()->isVisible);
    top->SetRootWindow(nullptr);
    window = nullptr;
    top = nullptr;
}

// Records the window rectangle the re-application proposes and answers as told.
class HookedTop : public LControl
{
public:
    HookedTop(const RCPtr<LControl>& parent, const WideString& name) : LControl(parent, name) {}
    int32_t ApplicationHook(RectL& proposed) override
    {
        seen.push_back(proposed);
        proposed.x += 10;
        proposed.width -= 24;
        return answer;
    }
    int32_t answer = 0;
    std::vector<RectL> seen;
};

class ApplicationHookAnswer : public ControlSkinApply, public testing::WithParamInterface<int32_t>
{
};

TEST_P(ApplicationHookAnswer, OneMovesTheClientAreaZeroKeepsIt)
{
    factory->RegisterControlCreateFunction(u"Test.Hooked", &Orv::ControlCreateFunction<HookedTop>);
    RCPtr<LControl> top = BuildTwo(
        Skin("A", "",
             SubControl("top", "", Skin("top", "", SubControl("child", "")), "Test.Hooked")),
        Skin("B", "",
             SubControl("top", "", Skin("top", "", SubControl("child", "")), "Test.Hooked")));
    ASSERT_TRUE(top);
    RootWindowTest::RecordingServices host;
    RCPtr<Orv::LRootWindow> window = Orv::LRootWindow::Create(nullptr, &host);
    ASSERT_EQ(top->SetRootWindow(window), 0);
    // As the window places its root: filling the client area.
    Orv::AxisPositionSpec position;
    position.reference = Orv::kPositionToClient;
    Orv::AxisSizeSpec size;
    size.reference = Orv::kSizeToClient;
    size.rel = 1.0f;
    top->SetLayoutPlacement(position, size, position, size);
    ASSERT_EQ(top->GetRect().width, 1024);
    auto* hooked = dynamic_cast<HookedTop*>(top.Get());
    hooked->answer = GetParam();
    host.calls.clear();

    ASSERT_EQ(Switch(1, top), S_OK);
    ASSERT_EQ(hooked->seen.size(), 1u);
    // The window's place (its screen origin) with the control's size.
    EXPECT_EQ(hooked->seen[0].x, host.origin.x);
    EXPECT_EQ(hooked->seen[0].y, host.origin.y);
    EXPECT_EQ(hooked->seen[0].width, 1024);
    EXPECT_EQ(hooked->seen[0].height, 768);
    const bool moved =
        std::find(host.calls.begin(), host.calls.end(), "SetClientRect") != host.calls.end();
    EXPECT_EQ(moved, GetParam() == 1);
    // Either way the root fills the client area again.
    EXPECT_EQ(top->GetRect().x, 0);
    EXPECT_EQ(top->GetRect().width, 1024);
    EXPECT_EQ(top->GetRect().height, 768);
    top->SetRootWindow(nullptr);
    window = nullptr;
    top = nullptr;
}

INSTANTIATE_TEST_SUITE_P(Answers, ApplicationHookAnswer, testing::Values(0, 1));

}  // namespace
