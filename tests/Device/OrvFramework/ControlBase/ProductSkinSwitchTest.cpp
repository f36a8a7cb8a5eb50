// The program's own tree in a 1024 x 768 window, switched from skin 0 to 1 and back with
// ApplySkinToControl: the same control objects, texts and enabled states throughout, each skin's
// rectangles as a tree built from that skin has them, and nothing left alive afterwards.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/RootWindow.h"
#include "ControlTestSupport.h"

namespace {

using ControlTest::ControlFixture;
using ControlTest::Narrow;
using Orv::LControl;
using Orv::RCPtr;

struct Seen
{
    const LControl* control;
    std::string text;
    bool enabled;
    Orv::RectD rect;
};

// Path -> what the control showed, for the whole tree.
void Collect(const LControl& control, const std::string& path, std::map<std::string, Seen>& out)
{
    out[path] =
        Seen{&control, Narrow(control.GetText()), control.IsEnabled(false), control.GetRect()};
    const LControl::ChildControlList& children = control.GetChildren();
    for (uint32_t index = 0; index < children.GetCount(); ++index) {
        const RCPtr<LControl>& child =
            children.GetAt(index, LControl::ChildControlList::kInsertionOrder);
        Collect(*child, path + "/" + Narrow(child->GetName()), out);
    }
}

class ProductSkinSwitch : public ControlFixture
{
protected:
    void SetUp() override
    {
        ControlFixture::SetUp();
        LoadProductSkinAsBaseControls();
    }

    // The tree of that skin in a window of its own, laid out; the window in `window`.
    RCPtr<LControl> BuildInWindow(int32_t skin, RCPtr<Orv::LRootWindow>& window)
    {
        factory->currentSkinIndex = skin;
        RCPtr<LControl> root = factory->CreateControlByName(u"mainControl", nullptr);
        window = Orv::LRootWindow::Create(nullptr, nullptr);  // client area 1024 x 768
        if (root) {
            root->SetRootWindow(window);
            // As the window places its root: filling the client area.
            Orv::AxisPositionSpec position;
            position.reference = Orv::kPositionToClient;
            Orv::AxisSizeSpec size;
            size.reference = Orv::kSizeToClient;
            size.rel = 1.0f;
            root->SetLayoutPlacement(position, size, position, size);
        }
        return root;
    }

    static void Release(RCPtr<LControl>& root, RCPtr<Orv::LRootWindow>& window)
    {
        root->SetRootWindow(nullptr);
        window = nullptr;
        root = nullptr;
    }
};

TEST_F(ProductSkinSwitch, SwitchingZeroOneZeroKeepsEveryControlAndGivesEachSkinsRectangles)
{
    // Each skin's own rectangles, from trees built from it.
    std::map<std::string, Seen> built[2];
    for (int32_t skin = 0; skin < 2; ++skin) {
        RCPtr<Orv::LRootWindow> window;
        RCPtr<LControl> root = BuildInWindow(skin, window);
        ASSERT_TRUE(root);
        Collect(*root, "mainControl", built[skin]);
        Release(root, window);
        ASSERT_EQ(LControl::GetLiveCount(), 0);
    }

    RCPtr<Orv::LRootWindow> window;
    RCPtr<LControl> root = BuildInWindow(0, window);
    ASSERT_TRUE(root);
    // State a user could have changed: a text and a disabled control survive the switches.
    RCPtr<LControl> view = root->FindChild(u"viewDevice");
    ASSERT_TRUE(view);
    RCPtr<LControl> label = view->FindChild(u"labelProductName");
    ASSERT_TRUE(label);
    label->SetText(u"Typed while skin 0 showed");
    RCPtr<LControl> support = view->FindChild(u"buttonSupport");
    ASSERT_TRUE(support);
    support->SetEnabled(false);
    std::map<std::string, Seen> before;
    Collect(*root, "mainControl", before);
    const int32_t live = LControl::GetLiveCount();

    for (int32_t skin : {1, 0}) {
        SCOPED_TRACE("skin " + std::to_string(skin));
        factory->currentSkinIndex = skin;
        ASSERT_EQ(factory->ApplySkinToControl(root), S_OK);
        std::map<std::string, Seen> after;
        Collect(*root, "mainControl", after);
        EXPECT_EQ(LControl::GetLiveCount(), live);
        ASSERT_EQ(after.size(), before.size());
        for (const auto& [path, was] : before) {
            SCOPED_TRACE(path);
            const auto found = after.find(path);
            ASSERT_NE(found, after.end());
            EXPECT_EQ(found->second.control, was.control);
            EXPECT_EQ(found->second.text, was.text);
            EXPECT_EQ(found->second.enabled, was.enabled);
            const auto expected = built[skin].find(path);
            ASSERT_NE(expected, built[skin].end());
            EXPECT_EQ(found->second.rect.x, expected->second.rect.x);
            EXPECT_EQ(found->second.rect.y, expected->second.rect.y);
            EXPECT_EQ(found->second.rect.width, expected->second.rect.width);
            EXPECT_EQ(found->second.rect.height, expected->second.rect.height);
        }
    }
    EXPECT_FALSE(support->IsEnabled(false));
    view = nullptr;
    label = nullptr;
    support = nullptr;
    Release(root, window);
    EXPECT_EQ(LControl::GetLiveCount(), 0);
}

}  // namespace
