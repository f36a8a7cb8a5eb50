// The child list: who joins and who is refused, the orders it keeps, the count of overlay
// descendants, and the texts of its two index faults.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "ControlTestSupport.h"

namespace {

using ControlTest::ControlFixture;
using ControlTest::Narrow;
using Orv::LControl;
using Orv::LControlDescriptor;
using Orv::LLayoutDescriptor;
using Orv::RCPtr;
using Orv::WideString;
using ChildList = LControl::ChildControlList;

struct Placement
{
    int32_t tabStop = 0;
    bool clipToParent = true;
    int32_t zOrder = 0;
    bool xDocked = false;
    bool yDocked = false;
};

// A control under the parent whose layout is the placement (applied as a skin would).
RCPtr<LControl> MakeChild(const RCPtr<LControl>& parent, const char16_t* name,
                          const Placement& placement = {})
{
    RCPtr<LControlDescriptor> descriptor(new LControlDescriptor(u"Test.Class", name, nullptr));
    RCPtr<LLayoutDescriptor> layout(new LLayoutDescriptor());
    layout->tabStop = placement.tabStop;
    layout->clipToParent = placement.clipToParent;
    layout->zOrder = placement.zOrder;
    layout->xIsDocked = placement.xDocked;
    layout->yIsDocked = placement.yDocked;
    descriptor->SetLayout(layout);
    RCPtr<LControl> child(new LControl(parent, name));
    child->ApplyDescriptor(descriptor);
    return child;
}

std::vector<std::string> NamesInOrder(const LControl& parent, int32_t order)
{
    std::vector<std::string> names;
    for (uint32_t index = 0; index < parent.GetChildren().GetCount(); ++index) {
        names.push_back(Narrow(parent.GetChildren().GetAt(index, order)->GetName()));
    }
    return names;
}

class ChildControlListTest : public ControlFixture
{
};

TEST_F(ChildControlListTest, ASecondChildOfTheSameNameIsRefusedAndStaysWithoutParent)
{
    RCPtr<LControl> parent(new LControl(nullptr, u"parent"));
    RCPtr<LControl> first = MakeChild(parent, u"child");
    const int32_t changes = parent->GetChildren().GetChangeCount();

    RCPtr<LControl> second(new LControl(parent, u"child"));
    EXPECT_FALSE(second->GetParent());
    EXPECT_EQ(parent->GetChildren().GetCount(), 1u);
    EXPECT_EQ(parent->GetChildren().Add(second), E_FAIL);
    EXPECT_EQ(parent->GetChildren().GetCount(), 1u);
    EXPECT_EQ(parent->GetChildren().GetChangeCount(), changes);
    EXPECT_FALSE(second->GetParent());
    EXPECT_EQ(parent->GetChildren().Add(RCPtr<LControl>()), E_INVALIDARG);
    // Names are compared exactly: another case is another name.
    RCPtr<LControl> other(new LControl(parent, u"Child"));
    EXPECT_EQ(other->GetParent().Get(), parent.Get());
    EXPECT_EQ(parent->FindChild(u"child").Get(), first.Get());
    EXPECT_EQ(parent->FindChild(u"Child").Get(), other.Get());
    EXPECT_FALSE(parent->FindChild(u"CHILD"));
}

TEST_F(ChildControlListTest, InsertionAndRemovalMoveTheChangeCounter)
{
    RCPtr<LControl> parent(new LControl(nullptr, u"parent"));
    EXPECT_EQ(parent->GetChildren().GetChangeCount(), 1);
    RCPtr<LControl> child(new LControl(parent, u"child"));
    EXPECT_EQ(parent->GetChildren().GetChangeCount(), 2);
    RCPtr<LControl> stranger(new LControl(nullptr, u"stranger"));
    EXPECT_EQ(parent->GetChildren().Remove(stranger), -1);
    EXPECT_EQ(parent->GetChildren().GetChangeCount(), 2);
    EXPECT_EQ(parent->GetChildren().Remove(child), 0);
    EXPECT_EQ(parent->GetChildren().GetChangeCount(), 3);
    EXPECT_FALSE(child->GetParent());
}

TEST_F(ChildControlListTest, TabOrderIsTabStopThenInsertion)
{
    RCPtr<LControl> parent(new LControl(nullptr, u"parent"));
    MakeChild(parent, u"first", {.tabStop = 2});
    MakeChild(parent, u"second", {.tabStop = 1});
    MakeChild(parent, u"third", {.tabStop = 1});
    EXPECT_EQ(NamesInOrder(*parent, ChildList::kTabOrder),
              (std::vector<std::string>{"second", "third", "first"}));
    EXPECT_EQ(NamesInOrder(*parent, ChildList::kInsertionOrder),
              (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_EQ(parent->IndexOfChild(parent->FindChild(u"first"), ChildList::kTabOrder), 2);
    EXPECT_EQ(parent->IndexOfChild(parent->FindChild(u"first"), ChildList::kInsertionOrder), 0);

    // A later insertion is sorted in on the next ordered access.
    MakeChild(parent, u"fourth", {.tabStop = 0});
    EXPECT_EQ(NamesInOrder(*parent, ChildList::kTabOrder),
              (std::vector<std::string>{"fourth", "second", "third", "first"}));
}

TEST_F(ChildControlListTest, PaintOrderPutsOverlayChildrenLastThenDockingThenZOrder)
{
    RCPtr<LControl> parent(new LControl(nullptr, u"parent"));
    MakeChild(parent, u"overlay", {.clipToParent = false, .zOrder = -100});
    MakeChild(parent, u"dockedBoth", {.zOrder = -50, .xDocked = true, .yDocked = true});
    MakeChild(parent, u"highZ", {.zOrder = 9});
    MakeChild(parent, u"dockedX", {.zOrder = -60, .xDocked = true});
    MakeChild(parent, u"lowZ", {.zOrder = 1});
    MakeChild(parent, u"tieWithLowZ", {.zOrder = 1});
    EXPECT_EQ(NamesInOrder(*parent, ChildList::kPaintOrder),
              (std::vector<std::string>{"lowZ", "tieWithLowZ", "highZ", "dockedX", "dockedBoth",
                                        "overlay"}));
}

TEST_F(ChildControlListTest, OverlayDescendantsAreCountedUpTheTreeAndUncountedWhenTheyLeave)
{
    RCPtr<LControl> top(new LControl(nullptr, u"top"));
    RCPtr<LControl> middle = MakeChild(top, u"middle");
    RCPtr<LControl> overlay = MakeChild(middle, u"overlay", {.clipToParent = false});
    MakeChild(overlay, u"overlayInside", {.clipToParent = false});
    EXPECT_EQ(overlay->GetNonClippingDescendantCount(), 1);
    EXPECT_EQ(middle->GetNonClippingDescendantCount(), 2);
    EXPECT_EQ(top->GetNonClippingDescendantCount(), 2);

    EXPECT_EQ(overlay->SetParent(RCPtr<LControl>()), 0);
    EXPECT_EQ(middle->GetNonClippingDescendantCount(), 0);
    EXPECT_EQ(top->GetNonClippingDescendantCount(), 0);

    // Joining again carries the subtree's count along.
    EXPECT_EQ(overlay->SetParent(top), 0);
    EXPECT_EQ(top->GetNonClippingDescendantCount(), 2);
    EXPECT_EQ(overlay->SetParent(top), 1);
}

struct GetAtCase
{
    const char* name;
    int32_t children;
    uint32_t index;
    int32_t order;
    bool readOnly;
    int line;
};

class ChildControlListGetAt : public ControlFixture, public testing::WithParamInterface<GetAtCase>
{
};

TEST_P(ChildControlListGetAt, FaultTextsAndTheIndexIsTestedFirst)
{
    const GetAtCase& row = GetParam();
    RCPtr<LControl> parent(new LControl(nullptr, u"parent"));
    for (int32_t index = 0; index < row.children; ++index) {
        MakeChild(parent, WideString::Format(u"child%d", index).GetText());
    }
    const std::string expected =
        "Runtime Error : Orv::LControl::ChildControlList::GetAt : ControlBase\\Control : Line " +
        std::to_string(row.line);
    try {
        if (row.readOnly) {
            const ChildList& list = parent->GetChildren();
            list.GetAt(row.index, row.order);
        } else {
            parent->GetChildren().GetAt(row.index, row.order);
        }
        FAIL() << "no fault";
    } catch (const std::runtime_error& fault) {
        EXPECT_EQ(std::string(fault.what()), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ChildControlListGetAt,
    testing::Values(GetAtCase{"IndexAtCount", 2, 2, 0, false, 3327},
                    GetAtCase{"IndexOnEmptyList", 0, 0, 0, false, 3327},
                    GetAtCase{"UnknownOrder", 1, 0, 3, false, 3347},
                    GetAtCase{"NegativeOrder", 1, 0, -1, false, 3347},
                    GetAtCase{"UnknownOrderOnEmptyListFaultsOnTheIndex", 0, 0, 3, false, 3327},
                    GetAtCase{"ReadOnlyIndexAtCount", 1, 1, 1, true, 3355},
                    GetAtCase{"ReadOnlyUnknownOrder", 1, 0, 3, true, 3375},
                    GetAtCase{"ReadOnlyUnknownOrderOnEmptyList", 0, 0, 3, true, 3355}),
    [](const testing::TestParamInfo<GetAtCase>& info) { return std::string(info.param.name); });

TEST_F(ChildControlListTest, AControlCannotBecomeItsOwnAncestor)
{
    RCPtr<LControl> top(new LControl(nullptr, u"top"));
    RCPtr<LControl> child = MakeChild(top, u"child");
    RCPtr<LControl> grandchild = MakeChild(child, u"grandchild");
    EXPECT_EQ(top->SetParent(grandchild), E_INVALIDARG);
    EXPECT_EQ(child->SetParent(child), E_INVALIDARG);
    EXPECT_FALSE(top->GetParent());
    EXPECT_EQ(child->GetParent().Get(), top.Get());
}

TEST_F(ChildControlListTest, ATreeGoesWithItsLastHolderWhateverItsShape)
{
    {
        RCPtr<LControl> top(new LControl(nullptr, u"top"));
        RCPtr<LControl> child = MakeChild(top, u"child");
        MakeChild(child, u"grandchild");
        MakeChild(top, u"second");
        child->GetContextMenuUpdater();
        EXPECT_EQ(LControl::GetLiveCount(), 4);
        EXPECT_EQ(child->GetTopLevelControl().Get(), top.Get());
    }
    EXPECT_EQ(LControl::GetLiveCount(), 0);

    // A child held elsewhere does not keep its parent: the parent goes and lets the child go
    // free with its own subtree.
    RCPtr<LControl> kept;
    {
        RCPtr<LControl> top(new LControl(nullptr, u"top"));
        kept = MakeChild(top, u"kept");
        MakeChild(kept, u"inner");
        MakeChild(top, u"sibling");
    }
    EXPECT_EQ(LControl::GetLiveCount(), 2);
    EXPECT_FALSE(kept->GetParent());
    EXPECT_TRUE(kept->FindChild(u"inner"));
    kept = nullptr;
}

}  // namespace
