// The program's own skin as a root window's tree of base controls, driven through the window's
// key input: Tab walks the focusable controls of a container in tab order and wraps inside it,
// Shift+Tab walks back, and the window's release takes the tree.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ControlFocusTestSupport.h"

namespace {

using namespace FocusTest;
using ChildList = LControl::ChildControlList;

// Every class the program's skins name, built as a base control.
const char16_t* const kSkinClasses[] = {
    u"ControlPanel.MainControl",
    u"ControlPanel.Panel.BufferSize",
    u"ControlPanel.Panel.DriverStandardProperties",
    u"ControlPanel.Panel.SampleRate",
    u"ControlPanel.View.Device",
    u"Framework.Button",
    u"Framework.ComboBox",
    u"Framework.Label",
    u"Framework.ListBox",
    u"Framework.ListBoxItem",
    u"Framework.MenuItem",
    u"Framework.PopupMenu",
    u"Framework.ScrollBar",
    u"Framework.ScrollChannel",
    u"Framework.Slider",
    u"Framework.ToolTip",
};

// What the skin makes reachable by Tab inside a container: its shown children with a tab stop,
// in tab order.
bool IsTabStop(const LControl& control)
{
    return control.GetLayout() && control.GetLayout()->tabStop >= 0 && !control.IsNotFocusable() &&
           control.IsVisible(true);
}

std::vector<LControl*> TabStops(LControl& container)
{
    std::vector<LControl*> stops;
    for (uint32_t index = 0; index < container.GetChildren().GetCount(); ++index) {
        const RCPtr<LControl>& child = container.GetChildren().GetAt(index, ChildList::kTabOrder);
        if (IsTabStop(*child)) {
            stops.push_back(child.Get());
        }
    }
    return stops;
}

bool HasTabStopInside(const LControl& control)
{
    for (uint32_t index = 0; index < control.GetChildren().GetCount(); ++index) {
        const LControl& child = *control.GetChildren().GetAt(index, ChildList::kInsertionOrder);
        if (IsTabStop(child) || HasTabStopInside(child)) {
            return true;
        }
    }
    return false;
}

// The container with the most tab stops that hold no tab stops of their own: Tab that enters a
// nested container stays in there, so only such a container's stops are all walked by Tab.
void FindBusiestContainer(LControl& at, LControl*& best, size_t& bestCount)
{
    const std::vector<LControl*> stops = TabStops(at);
    bool flat = true;
    for (const LControl* stop : stops) {
        flat = flat && !HasTabStopInside(*stop);
    }
    const size_t count = flat ? stops.size() : 0;
    if (count > bestCount) {
        best = &at;
        bestCount = count;
    }
    for (uint32_t index = 0; index < at.GetChildren().GetCount(); ++index) {
        FindBusiestContainer(*at.GetChildren().GetAt(index, ChildList::kInsertionOrder), best,
                             bestCount);
    }
}

// The child of the container on the way to the control; null when it lies outside.
LControl* BranchOf(LControl& container, LControl* control)
{
    for (LControl* at = control; at != nullptr; at = at->GetParent().Get()) {
        if (at->GetParent().Get() == &container) {
            return at;
        }
    }
    return nullptr;
}

class ProductSkinFocus : public ControlTest::ControlFixture
{
protected:
    void SetUp() override
    {
        ControlFixture::SetUp();
        ASSERT_EQ(factory->LoadSkinsAndStrings(u"::", 0x0409), 0);
        for (const char16_t* className : kSkinClasses) {
            RegisterBase(className);
        }
    }

    RootWindowTest::RecordingServices services;
};

TEST_F(ProductSkinFocus, TabWalksTheFocusableControlsInTabOrderAndWrapsInsideTheirContainer)
{
    for (int32_t skin = 0; skin < 2; ++skin) {
        SCOPED_TRACE("skin " + std::to_string(skin));
        factory->currentSkinIndex = skin;
        RCPtr<Orv::LRootWindow> window =
            RootWindowTest::MakeWindow(RCPtr<Orv::LRenderer>(), &services);
        ASSERT_EQ(window->SetRootControlByName(Orv::WideString(u"mainControl")), S_OK);
        RCPtr<LControl> root = window->GetRootControl();
        ASSERT_TRUE(root);
        ASSERT_TRUE(window->GetFocusControl()) << "the window gives its tree the focus";

        LControl* container = nullptr;
        size_t count = 0;
        FindBusiestContainer(*root, container, count);
        ASSERT_NE(container, nullptr);
        const std::vector<LControl*> stops = TabStops(*container);
        ASSERT_GE(stops.size(), 2u) << "the skin has a container with several tab stops";
        ASSERT_GE(container->SetFocus(true), 0);
        EXPECT_EQ(BranchOf(*container, window->GetFocusControl().Get()), stops.front());

        for (const Orv::KeyModifierFlags modifiers : {0, Orv::KeyModifier::kShift}) {
            const bool backwards = modifiers != 0;
            // Twice round, so that each pass ends where it began: on the first tab stop.
            const size_t presses = 2 * stops.size();
            size_t at = 0;
            for (size_t press = 0; press < presses; ++press) {
                window->HandleKey(KeyFromWindow(9, modifiers));
                at = backwards ? (at + stops.size() - 1) % stops.size() : (at + 1) % stops.size();
                LControl* holder = window->GetFocusControl().Get();
                ASSERT_NE(holder, nullptr);
                EXPECT_EQ(BranchOf(*container, holder), stops[at])
                    << (backwards ? "shift+tab " : "tab ") << press << " reached "
                    << ControlTest::Narrow(holder->GetName());
                EXPECT_TRUE(holder->HasFocus());
                EXPECT_TRUE(container->ContainsFocus());
            }
        }

        container = nullptr;
        root = nullptr;
        EXPECT_EQ(window->DropBackReferences(), S_OK);
        window = nullptr;
        EXPECT_EQ(LControl::GetLiveCount(), 0) << "the window's release takes the tree";
    }
}

TEST_F(ProductSkinFocus, ALabelIsClippedOnceItsTextNeedsMoreWidthThanItsLookGives)
{
    factory->currentSkinIndex = 0;
    RCPtr<Orv::LRootWindow> window = RootWindowTest::MakeWindow(RCPtr<Orv::LRenderer>(), &services);
    ASSERT_EQ(window->SetRootControlByName(Orv::WideString(u"mainControl")), S_OK);
    RCPtr<LControl> view = window->GetRootControl()->FindChild(u"viewDevice");
    ASSERT_TRUE(view);
    RCPtr<LControl> label = view->FindChild(u"labelVersionNumber");
    ASSERT_TRUE(label);
    ASSERT_TRUE(label->GetLook(-1) && label->GetLook(-1)->GetTextBlock());
    EXPECT_EQ(ControlTest::Narrow(label->GetText()), "N/A");
    EXPECT_FALSE(label->IsTextClipped());
    // The same box, a text far wider than any label of the skin.
    EXPECT_TRUE(label->ChangeText(Orv::WideString(std::u16string(200, u'W').c_str()), false));
    EXPECT_TRUE(label->IsTextClipped());
    label = nullptr;
    view = nullptr;
    EXPECT_EQ(window->DropBackReferences(), S_OK);
    window = nullptr;
}

}  // namespace
