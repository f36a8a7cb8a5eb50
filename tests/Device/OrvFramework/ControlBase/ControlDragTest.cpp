// The drag engine on small trees: moving within the parent with auto-scroll, resizing by an
// edge, drag and drop through overlays to an accepting ancestor, and scrolling own content.
// The press point and move times are set as the pointer input sets them.

#include <gtest/gtest.h>

#include <string>

#include "ControlGeometryTestSupport.h"

namespace {

using ControlTest::Acceptor;
using ControlTest::ControlFixture;
using ControlTest::Make;
using ControlTest::Solid;
using Orv::LayoutValues;
using Orv::LControl;
using Orv::PointD;
using Orv::RCPtr;
using Orv::RectD;

// Scrolls its own content within 0..25 on both axes.
class Scroller : public Solid
{
public:
    using Solid::Solid;
    void GetScrollRange(RectD& range, const RCPtr<LControl>&) override
    {
        range = RectD{0, 0, 25, 25};
    }
};

class ControlDrag : public ControlFixture
{
protected:
    void TearDown() override
    {
        root = nullptr;
        ControlFixture::TearDown();
    }

    // Press at a point of the parent's content, then drag so that the pointer lands at another.
    static void Press(const RCPtr<LControl>& control, int32_t mode, uint32_t flags, PointD at)
    {
        control->SetDragMode(mode, flags);
        control->SetDragInput(at, true);
        ASSERT_EQ(control->BeginDragGeometry(), 0);
    }
    static void DragTo(const RCPtr<LControl>& control, PointD inParent)
    {
        const RectD rect = control->GetRect();
        ASSERT_EQ(control->DragToPoint(PointD{inParent.x - rect.x, inParent.y - rect.y}), 0);
    }

    RCPtr<Solid> root;
};

TEST_F(ControlDrag, MovingWithinTheParentFollowsThePointerLessTheScrollWhenDocked)
{
    struct Row
    {
        const char* name;
        bool docked;
        double scrollDuringDrag;
        double pointerX;  // content coordinates
        double expectedAbs;
    };
    const Row rows[] = {
        {"content", false, 0, 145, 140},
        {"docked, parent scrolled 10", true, 10, 155, 140},
        {"past the visible area: held at its edge", false, 0, 900, 395},
    };
    for (const Row& row : rows) {
        root = Make(nullptr, u"root", 0, 0, 400, 300);
        RCPtr<Solid> splitter = Make(root, u"splitter", 100, 0, 10, 100);
        if (row.docked) {
            RCPtr<Orv::LLayoutDescriptor> layout = splitter->GetLayout();
            Orv::AxisPositionSpec position;
            Orv::AxisSizeSpec size;
            layout->GetAxisPlacement(0, position, size);
            position.docked = true;
            splitter->SetAxisLayout(0, position, size);
        }
        Press(splitter, 3, 1, PointD{105, 50});
        root->SetScrollOffset(PointD{row.scrollDuringDrag, 0});
        DragTo(splitter, PointD{row.pointerX, 50});
        EXPECT_EQ(splitter->GetLayout()->xPosition.abs, row.expectedAbs) << row.name;
        EXPECT_EQ(splitter->GetLayout()->yPosition.abs, 0) << row.name;  // flag 1: x only
        splitter->EndDrag();
        root = nullptr;
    }
}

TEST_F(ControlDrag, NearTheEdgeTheParentScrollsUntilTheDragEnds)
{
    root = Make(nullptr, u"root", 0, 0, 400, 300);
    RCPtr<Solid> splitter = Make(root, u"splitter", 100, 0, 10, 100);
    Press(splitter, 3, 1, PointD{105, 50});
    DragTo(splitter, PointD{200, 50});
    EXPECT_FALSE(root->IsKineticMotionActive(0));
    DragTo(splitter, PointD{385, 50});  // 15 px into the 30 px band of the right edge
    EXPECT_TRUE(root->IsKineticMotionActive(0));
    EXPECT_FALSE(root->IsKineticMotionActive(1));
    EXPECT_EQ(root->GetIdleRequestCount(), 1);
    DragTo(splitter, PointD{200, 50});
    EXPECT_FALSE(root->IsKineticMotionActive(0));
    DragTo(splitter, PointD{20, 50});  // the left band
    EXPECT_TRUE(root->IsKineticMotionActive(0));
    splitter->EndDrag();
    EXPECT_FALSE(root->IsKineticMotionActive(0));
    EXPECT_EQ(root->GetIdleRequestCount(), 0);
}

TEST_F(ControlDrag, ResizingByAnEdgeKeepsOnePixel)
{
    struct Row
    {
        const char* name;
        uint32_t flags;
        double pressX;
        double pointerX;
        double expectedX;
        double expectedWidth;
    };
    const Row rows[] = {
        {"right edge 500 px left", 0x4, 300, -200, 200, 1},
        {"right edge 30 px right", 0x4, 300, 330, 200, 130},
        {"left edge 500 px right", 0x8, 200, 700, 299, 1},
        {"left edge 50 px left", 0x8, 200, 150, 150, 150},
    };
    for (const Row& row : rows) {
        root = Make(nullptr, u"root", 0, 0, 400, 300);
        RCPtr<Solid> box = Make(root, u"box", 200, 10, 100, 40);
        Press(box, 4, row.flags, PointD{row.pressX, 20});
        DragTo(box, PointD{row.pointerX, 20});
        EXPECT_EQ(box->GetRect().x, row.expectedX) << row.name;
        EXPECT_EQ(box->GetRect().width, row.expectedWidth) << row.name;
        EXPECT_EQ(box->GetRect().height, 40) << row.name;
        box->EndDrag();
        root = nullptr;
    }
}

// Mode 2 keeps the control inside the parent's visible area and never scrolls it; modes 3 and 5
// scroll it from a band 30 px wide inside the edge the pointer is near; 4 and 5 move an edge.
TEST_F(ControlDrag, OnlyModesThreeAndFiveScrollTheParentNearAnEdge)
{
    struct Row
    {
        const char* name;
        int32_t mode;
        uint32_t flags;
        double pressX;
        double pointerX;
        double expectedX;
        double expectedWidth;
        bool scrolls;
    };
    const Row rows[] = {
        {"mode 2 in the right band", 2, 0x1, 250, 385, 335, 100, false},
        {"mode 2 past the right edge: held", 2, 0x1, 250, 900, 350, 100, false},
        {"mode 3 in the right band", 3, 0x1, 250, 385, 335, 100, true},
        {"mode 4, right edge in the band", 4, 0x4, 300, 385, 200, 185, false},
        {"mode 5, right edge in the band", 5, 0x4, 300, 385, 200, 185, true},
        {"mode 5, right edge away from it", 5, 0x4, 300, 250, 200, 50, false},
        {"mode 5, left edge in the left band", 5, 0x8, 200, 15, 15, 285, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        root = Make(nullptr, u"root", 0, 0, 400, 300);
        RCPtr<Solid> box = Make(root, u"box", 200, 10, 100, 40);
        Press(box, row.mode, row.flags, PointD{row.pressX, 20});
        DragTo(box, PointD{row.pointerX, 20});
        EXPECT_EQ(box->GetRect().x, row.expectedX);
        EXPECT_EQ(box->GetRect().width, row.expectedWidth);
        EXPECT_EQ(box->GetRect().y, 10);
        EXPECT_EQ(box->GetRect().height, 40);
        EXPECT_EQ(root->IsKineticMotionActive(0), row.scrolls);
        EXPECT_FALSE(root->IsKineticMotionActive(1));
        box->EndDrag();
        EXPECT_FALSE(root->IsKineticMotionActive(0));
        root = nullptr;
    }
}

// An edge that may not pass the opposite edge less one pixel stops short of the visible area's
// edge; the band narrows by that distance, so that the pointer must be as deep inside it as it
// would be inside a full band at the range's end.
TEST_F(ControlDrag, TheAutoScrollBandNarrowsWhereTheEdgeStopsShortOfTheVisibleArea)
{
    struct Row
    {
        const char* name;
        double boxX;
        uint32_t flags;
        double pressX;
        double pointerX;
        double expectedX;
        double expectedWidth;
        bool scrolls;
    };
    // A 40 px box whose dragged edge can come within 21 px of the area's edge: a band of 9 px.
    const Row rows[] = {
        {"left edge, 5 px into the narrowed right band", 340, 0x8, 340, 375, 375, 5, true},
        {"left edge, 5 px short of it", 340, 0x8, 340, 365, 365, 15, false},
        {"right edge, 5 px into the narrowed left band", 20, 0x4, 60, 25, 20, 5, true},
        {"right edge, 5 px short of it", 20, 0x4, 60, 35, 20, 15, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        root = Make(nullptr, u"root", 0, 0, 400, 300);
        RCPtr<Solid> box = Make(root, u"box", row.boxX, 10, 40, 40);
        Press(box, 5, row.flags, PointD{row.pressX, 20});
        DragTo(box, PointD{row.pointerX, 20});
        EXPECT_EQ(box->GetRect().x, row.expectedX);
        EXPECT_EQ(box->GetRect().width, row.expectedWidth);
        EXPECT_EQ(root->IsKineticMotionActive(0), row.scrolls);
        box->EndDrag();
        root = nullptr;
    }
}

// After a derived class moved the control itself during a drag, RebaseDrag takes the press
// point, the origin and the parent's scroll again: the next step starts from there.
TEST_F(ControlDrag, ARebasedDragContinuesFromTheControlsNewPlace)
{
    root = Make(nullptr, u"root", 0, 0, 400, 300);
    RCPtr<Solid> splitter = Make(root, u"splitter", 100, 0, 10, 100);
    RCPtr<Orv::LLayoutDescriptor> layout = splitter->GetLayout();
    Orv::AxisPositionSpec position;
    Orv::AxisSizeSpec size;
    layout->GetAxisPlacement(0, position, size);
    position.docked = true;
    splitter->SetAxisLayout(0, position, size);

    Press(splitter, 2, 1, PointD{105, 50});
    root->SetScrollOffset(PointD{10, 0});
    DragTo(splitter, PointD{155, 50});
    EXPECT_EQ(layout->xPosition.abs, 140);  // 50 moved, less the 10 scrolled since the press

    // The derived class puts it elsewhere and rebases.
    layout->GetAxisPlacement(0, position, size);
    position.abs = 200;
    splitter->SetAxisLayout(0, position, size);
    ASSERT_EQ(splitter->RebaseDrag(), 0);
    DragTo(splitter, PointD{165, 50});
    EXPECT_EQ(layout->xPosition.abs, 210);  // 10 past the rebased press, no scroll since
    splitter->EndDrag();
}

TEST_F(ControlDrag, DragAndDropFindsTheAcceptingAncestorBeneathAPopUp)
{
    root = Make(nullptr, u"root", 0, 0, 400, 300);
    RCPtr<Acceptor> target = Make<Acceptor>(root, u"target", 0, 0, 200, 200);
    RCPtr<Solid> inner = Make(target, u"inner", 10, 10, 100, 100);
    RCPtr<Solid> dragged = Make(root, u"dragged", 300, 10, 20, 20);
    RCPtr<Solid> popup = Make(root, u"popup", 20, 20, 60, 60, [](LayoutValues& values) {
        values.clipToParent = false;
        values.zOrder = 5;
    });
    Press(dragged, 1, 3, PointD{305, 15});
    EXPECT_FALSE(dragged->GetLayout()->clipToParent);  // drawn above its siblings
    EXPECT_TRUE(dragged->GetLayout()->xIsDocked);
    EXPECT_TRUE(dragged->GetLayout()->yIsDocked);

    DragTo(dragged, PointD{50, 50});  // over the pop-up, above inner
    EXPECT_EQ(dragged->GetDropTarget().Get(), target.Get());
    EXPECT_EQ(dragged->GetRect().x, 45);
    EXPECT_EQ(dragged->GetRect().y, 45);
    DragTo(dragged, PointD{60, 60});
    EXPECT_EQ(target->log, "enter dragged;over dragged;over dragged;");

    DragTo(dragged, PointD{350, 250});  // over nothing that accepts
    EXPECT_EQ(dragged->GetDropTarget().Get(), nullptr);
    EXPECT_EQ(target->log, "enter dragged;over dragged;over dragged;leave dragged;");
    target->log.clear();
    DragTo(dragged, PointD{150, 150});

    root->SetScrollOffset(PointD{5, 0});
    const RectD before = dragged->GetRect();
    ASSERT_EQ(dragged->EndDrag(), 0);
    EXPECT_EQ(target->log, "enter dragged;over dragged;drop dragged;leave dragged;");
    EXPECT_EQ(dragged->GetDropTarget().Get(), nullptr);
    EXPECT_TRUE(dragged->GetLayout()->clipToParent);
    EXPECT_FALSE(dragged->GetLayout()->xIsDocked);
    EXPECT_FALSE(dragged->GetLayout()->yIsDocked);
    EXPECT_EQ(dragged->GetRect().x, before.x);  // undocked with its content position
    EXPECT_EQ(dragged->GetLayout()->xPosition.abs, before.x);
    (void)inner;
    (void)popup;
}

TEST_F(ControlDrag, AnOverlayDraggedStaysOneAfterTheDrop)
{
    root = Make(nullptr, u"root", 0, 0, 400, 300);
    RCPtr<Solid> dragged = Make(root, u"dragged", 300, 10, 20, 20,
                                [](LayoutValues& values) { values.clipToParent = false; });
    Press(dragged, 1, 3, PointD{305, 15});
    DragTo(dragged, PointD{250, 100});
    dragged->EndDrag();
    EXPECT_FALSE(dragged->GetLayout()->clipToParent);
}

TEST_F(ControlDrag, ContentDragScrollsWithinTheControlsOwnRange)
{
    root = Make(nullptr, u"root", 0, 0, 400, 300);
    RCPtr<Scroller> list = Make<Scroller>(root, u"list", 10, 10, 100, 100);
    list->RecordMoveTime(0);
    Press(list, 6, 1, PointD{60, 60});
    struct Row
    {
        int32_t time;
        PointD pointer;
        double expectedX;
    };
    const Row rows[] = {
        {100, {50, 40}, 10},  // content follows the pointer: 10 left scrolls 10 right
        {100, {40, 40}, 10},  // no time passed: no step
        {200, {45, 40}, 5},  {300, {0, 0}, 25},  // held by the control's own range
        {400, {500, 0}, 0},
    };
    for (const Row& row : rows) {
        list->RecordMoveTime(row.time);
        DragTo(list, row.pointer);
        EXPECT_EQ(list->GetScrollOffset().x, row.expectedX) << row.time;
        EXPECT_EQ(list->GetScrollOffset().y, 0) << row.time;  // flag 1: x only
    }
    list->EndDrag();
}

}  // namespace
