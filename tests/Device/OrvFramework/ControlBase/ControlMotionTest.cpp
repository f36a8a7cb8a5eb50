// The drag engine and kinetic motion under a root window with a recording host, on the virtual
// clock: hover that follows scrolled content, the drop cursors, a scrolling parent that drags its
// source along under the pointer, and a flick that slows down after the release.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "ControlGeometryTestSupport.h"
#include "RootWindowSupport.h"
#include "Win32Test/SleepClock.h"
#include "win32/Sleep.h"

namespace {

using ControlTest::Acceptor;
using ControlTest::ControlFixture;
using ControlTest::Make;
using ControlTest::Solid;
using Orv::LControl;
using Orv::PointD;
using Orv::PointL;
using Orv::RCPtr;
using Orv::RectD;

// The cursors the drag engine asks the application for, each a handle of its own.
const char16_t* const kCursorNames[] = {u"UI_CURSOR_ARROW", u"UI_CURSOR_DROP_MOVE",
                                        u"UI_CURSOR_NO_DROP"};

class CursorApp : public RootWindowTest::TestApp
{
public:
    HCURSOR GetCursor(const Orv::WideString& name) override
    {
        for (uintptr_t index = 0; index < std::size(kCursorNames); ++index) {
            if (name.Equals(kCursorNames[index])) {
                return reinterpret_cast<HCURSOR>(index + 1);
            }
        }
        return nullptr;
    }
};

std::string CursorName(HCURSOR cursor)
{
    const uintptr_t index = reinterpret_cast<uintptr_t>(cursor);
    return index >= 1 && index <= std::size(kCursorNames)
               ? ControlTest::Narrow(Orv::WideString(kCursorNames[index - 1]))
               : "none";
}

// Writes down every drag step it is given.
class Dragged : public Solid
{
public:
    using Solid::Solid;
    void OnDragMoved(const RCPtr<Orv::LPointWithModifiersParam>& point) override
    {
        steps += std::to_string(point->x) + "," + std::to_string(point->y) + ";";
    }
    std::string steps;
};

// A root control of 400 x 300 filling the window of a recording host; the host's pointer is the
// pointer the window reads.
class ControlMotion : public ControlFixture
{
protected:
    void SetUp() override
    {
        ControlFixture::SetUp();
        application->SetControlFactory(nullptr);
        application = RCPtr<Orv::LFrameworkApp>(new CursorApp());
        application->SetControlFactory(factory);
        host.client = PointL{400, 300};
        host.origin = PointL{0, 0};
        host.focused = false;
        window = Orv::LRootWindow::Create(nullptr, &host);
        root = Make(nullptr, u"root", 0, 0, 400, 300);
        ASSERT_EQ(window->SetRootControl(root), 0);
        window->OnClientSizeChanged(host.client);
        ASSERT_EQ(root->GetRect().width, 400);
        Win32Test::UseVirtualSleepClock();
        application->GetTimeSeconds();  // the application's clock moves on to the virtual one
    }

    void TearDown() override
    {
        root = nullptr;
        window->DropBackReferences();
        window = nullptr;
        Win32Test::ResetSleepClock();
        ControlFixture::TearDown();
    }

    // Press at a point of the parent's content, then drag so that the pointer lands at another.
    static void Press(const RCPtr<LControl>& control, int32_t mode, uint32_t flags, PointD at)
    {
        control->SetDragMode(mode, flags);
        control->SetDragInput(at, true);
        // As the pointer input does: the left drag's condition edge begins the drag geometry.
        control->UpdateConditions();
        ASSERT_NE(control->ComputeConditions() & 0x80u, 0u);
    }
    static void DragTo(const RCPtr<LControl>& control, PointD inParent)
    {
        const RectD rect = control->GetRect();
        ASSERT_EQ(control->DragToPoint(PointD{inParent.x - rect.x, inParent.y - rect.y}), 0);
    }

    RootWindowTest::RecordingServices host;
    RCPtr<Orv::LRootWindow> window;
    RCPtr<Solid> root;
};

// Content scrolled under a resting pointer takes the hover with it; a scroll elsewhere leaves the
// hover alone.
TEST_F(ControlMotion, HoverFollowsContentScrolledUnderTheRestingPointer)
{
    RCPtr<Solid> list = Make(root, u"list", 10, 10, 100, 100);
    RCPtr<Solid> first = Make(list, u"first", 0, 0, 100, 20);
    RCPtr<Solid> second = Make(list, u"second", 0, 20, 100, 20);
    host.pointer = PointL{50, 15};
    RCPtr<LControl> found;
    PointL local;
    window->HitTest(found, host.pointer, local, true);
    ASSERT_EQ(window->GetHoverControl().Get(), first.Get());

    list->SetScrollOffset(PointD{0, 20});
    EXPECT_EQ(window->GetHoverControl().Get(), second.Get());

    // The pointer outside the list: no hit test, the hover stays where it was put.
    host.pointer = PointL{300, 200};
    window->SetHoverControl(first);
    list->SetScrollOffset(PointD{0, 0});
    EXPECT_EQ(window->GetHoverControl().Get(), first.Get());
}

// A drag and drop shows the drop cursor over a target, the no-drop cursor elsewhere, and the
// application's default cursor once it ends.
TEST_F(ControlMotion, DropCursorsFollowTheTargetAndTheDefaultComesBack)
{
    RCPtr<Acceptor> target = Make<Acceptor>(root, u"target", 0, 0, 200, 200);
    RCPtr<Solid> dragged = Make(root, u"dragged", 300, 10, 20, 20);
    Press(dragged, 1, 3, PointD{305, 15});
    struct Row
    {
        PointD pointer;
        const char* cursor;
    };
    const Row rows[] = {
        {{50, 50}, "UI_CURSOR_DROP_MOVE"},
        {{350, 250}, "UI_CURSOR_NO_DROP"},
        {{150, 150}, "UI_CURSOR_DROP_MOVE"},
    };
    for (const Row& row : rows) {
        DragTo(dragged, row.pointer);
        EXPECT_EQ(CursorName(host.cursor), row.cursor) << row.pointer.x;
    }
    // Moving over the same target asks for no cursor again.
    host.cursor = nullptr;
    DragTo(dragged, PointD{160, 160});
    EXPECT_EQ(CursorName(host.cursor), "none");
    ASSERT_EQ(dragged->EndDrag(), 0);
    EXPECT_EQ(CursorName(host.cursor), "UI_CURSOR_ARROW");
}

// A parent scrolled by auto-scroll drags the control that started it along: each idle step hands
// the source the host's pointer in its own coordinates, so it stays under the pointer.
TEST_F(ControlMotion, AutoScrollStepsDragTheSourceAlongUnderThePointer)
{
    RCPtr<Dragged> splitter = Make<Dragged>(root, u"splitter", 100, 0, 10, 100);
    Press(splitter, 3, 1, PointD{105, 50});
    DragTo(splitter, PointD{385, 50});  // 15 px deep in the right band: 240 px/s
    ASSERT_TRUE(root->IsKineticMotionActive(0));
    EXPECT_EQ(splitter->GetWindowOrigin().x, 380);
    host.pointer = PointL{385, 50};
    splitter->steps.clear();
    for (int step = 1; step <= 2; ++step) {
        Sleep(100);  // 24 px
        window->ProcessQueue(true);
        EXPECT_EQ(root->GetScrollOffset().x, 24 * step);
        EXPECT_EQ(splitter->GetLayout()->xPosition.abs, 380 + 24 * step);
        EXPECT_EQ(splitter->GetWindowOrigin().x, 380);  // still under the pointer
        EXPECT_TRUE(root->IsKineticMotionActive(0));
    }
    // Each step hands over the pointer as it lies once the content moved: 24 px right of the
    // press point's 5.
    EXPECT_EQ(splitter->steps, "29,50;29,50;");
    splitter->EndDrag();
    EXPECT_FALSE(root->IsKineticMotionActive(0));
    EXPECT_EQ(root->GetIdleRequestCount(), 0);
}

// A flick keeps its speed for a second after the release (at 0 ms), then loses 1000 px/s each
// second until it stops; a motion that is no flick keeps its speed.
TEST_F(ControlMotion, AFlickSlowsDownASecondAfterTheReleaseAndStops)
{
    RCPtr<Solid> flicked = Make(root, u"flicked", 0, 0, 100, 100);
    RCPtr<Solid> steady = Make(root, u"steady", 100, 0, 100, 100);
    ASSERT_EQ(flicked->StartFlick(0, 2000, 0, 1e6), 0);
    ASSERT_EQ(flicked->StartFlick(1, -2000, -1e6, 0), 0);
    ASSERT_EQ(steady->StartKineticMotion(0, 2000, 0, 1e6, nullptr), 0);
    EXPECT_EQ(flicked->StartFlick(2, 1, 0, 1), E_INVALIDARG);
    struct Row
    {
        int at;  // ms since the release
        double flickOffset;
        bool flickMoving;
        double steadyOffset;
    };
    const Row rows[] = {
        {500, 1000, true, 1000},   {1000, 2000, true, 2000},  // a second at 2000 px/s
        {1500, 3000, true, 3000},                             // then 1500 px/s
        {2000, 3750, true, 4000},  {2500, 4250, true, 5000},
        {3000, 4500, false, 6000}, {3500, 4500, false, 7000},
    };
    for (const Row& row : rows) {
        Sleep(500);
        window->ProcessQueue(true);
        EXPECT_EQ(flicked->GetScrollOffset().x, row.flickOffset) << row.at;
        EXPECT_EQ(flicked->GetScrollOffset().y, -row.flickOffset) << row.at;
        EXPECT_EQ(flicked->IsKineticMotionActive(0), row.flickMoving) << row.at;
        EXPECT_EQ(flicked->IsKineticMotionActive(1), row.flickMoving) << row.at;
        EXPECT_EQ(steady->GetScrollOffset().x, row.steadyOffset) << row.at;
    }
    EXPECT_EQ(flicked->GetIdleRequestCount(), 0);
    steady->StopKineticMotion(0);
}

}  // namespace
