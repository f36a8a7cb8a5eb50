// A control's geometry under its root window: which control a point hits, scrolling and the
// conversions between controls, idle requests, and kinetic motion on the virtual clock.

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "ControlBase/DockedPart.h"
#include "ControlBase/Look.h"
#include "ControlBase/LookDescriptor.h"
#include "ControlGeometryTestSupport.h"
#include "Win32Test/SleepClock.h"
#include "Win32Test/Windowing.h"
#include "win32/Sleep.h"

namespace {

using ControlTest::ControlFixture;
using ControlTest::Make;
using ControlTest::Solid;
using Orv::LayoutValues;
using Orv::LControl;
using Orv::PointD;
using Orv::PointL;
using Orv::RCPtr;
using Orv::RectD;

class ControlGeometry : public ControlFixture
{
protected:
    void TearDown() override
    {
        tree = nullptr;
        a = b = c = d = nullptr;
        if (window) {
            window->DropBackReferences();
            window = nullptr;
        }
        Win32Test::ResetSleepClock();
        ControlFixture::TearDown();
    }

    // root 200 x 200; a (10, 10, 50, 50) holding b (5, 5, 10, 10); d (40, 40, 40, 40) over a;
    // c an overlay of Z_Order 5 at (150, 150, 100, 100), reaching past the root.
    void MakeTree()
    {
        tree = Make(nullptr, u"root", 0, 0, 200, 200);
        a = Make(tree, u"a", 10, 10, 50, 50);
        b = Make(a, u"b", 5, 5, 10, 10);
        d = Make(tree, u"d", 40, 40, 40, 40);
        c = Make(tree, u"c", 150, 150, 100, 100, [](LayoutValues& values) {
            values.clipToParent = false;
            values.zOrder = 5;
        });
    }

    void AttachWindow()
    {
        // Without OS services; the tree keeps its own size.
        window = Orv::LRootWindow::Create(nullptr, nullptr);
        ASSERT_EQ(tree->SetRootWindow(window), 0);
    }

    std::string Hit(int32_t x, int32_t y)
    {
        RCPtr<LControl> found;
        PointL local;
        int32_t layer = INT_MIN;
        tree->HitTest(found, PointL{x, y}, true, local, layer);
        if (!found) {
            return "none";
        }
        return Narrow(found->GetName()) + " (" + std::to_string(local.x) + ", " +
               std::to_string(local.y) + ") " + (layer == INT_MIN ? "-" : std::to_string(layer));
    }

    static std::string Narrow(const Orv::WideString& text) { return ControlTest::Narrow(text); }

    RCPtr<Solid> tree, a, b, c, d;
    RCPtr<Orv::LRootWindow> window;
};

// --- Hit testing

TEST_F(ControlGeometry, HitTestFindsTheDeepestControlAndOverlaysWinByLayer)
{
    MakeTree();
    struct Row
    {
        int32_t x, y;
        const char* expected;
    };
    const Row rows[] = {
        {1, 1, "root (1, 1) -"},    {12, 12, "a (2, 2) -"},
        {16, 16, "b (1, 1) -"},     {45, 45, "d (5, 5) -"},  // d is later in paint order than a
        {190, 190, "c (40, 40) 5"},  // the overlay wins over the root below it
        {220, 230, "c (70, 80) 5"},  // past the root: only the overlay is there
        {260, 10, "none"},          {-1, 5, "none"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Hit(row.x, row.y), row.expected) << row.x << ", " << row.y;
    }
}

TEST_F(ControlGeometry, HitTestSkipsExcludedInvisibleAndScrolledAwayControls)
{
    MakeTree();
    d->SetExcludedFromHitTest(true);
    EXPECT_EQ(Hit(45, 45), "a (35, 35) -");
    d->SetExcludedFromHitTest(false);
    d->SetVisible(false);
    EXPECT_EQ(Hit(45, 45), "a (35, 35) -");
    // The content moves by the offset: a now lies at (0, 10) of the root's box.
    tree->SetScrollOffset(PointD{10, 0});
    EXPECT_EQ(Hit(1, 12), "a (1, 2) -");
    EXPECT_EQ(Hit(55, 12), "root (55, 12) -");
}

TEST_F(ControlGeometry, ContainsPointUsesTheRoundedBoxInLocalCoordinates)
{
    tree = Make(nullptr, u"root", 0, 0, 200, 200);
    a = Make(tree, u"a", 10.5, 10, 20.2, 5);  // rounded: x 11, width 20
    struct Row
    {
        int32_t x, y, expected;
    };
    const Row rows[] = {{0, 0, 1}, {19, 4, 1}, {20, 0, 0}, {0, 5, 0}, {-1, 0, 0}, {0, -1, 0}};
    for (const Row& row : rows) {
        EXPECT_EQ(a->ContainsPoint(PointL{row.x, row.y}), row.expected) << row.x << ", " << row.y;
    }
}

TEST_F(ControlGeometry, ZLayerIsTheHighestNonClippingOrderUpTheTree)
{
    MakeTree();
    RCPtr<Solid> inner = Make(c, u"inner", 0, 0, 10, 10);
    RCPtr<Solid> higher = Make(c, u"higher", 0, 0, 10, 10, [](LayoutValues& values) {
        values.clipToParent = false;
        values.zOrder = 9;
    });
    RCPtr<Solid> lower = Make(c, u"lower", 0, 0, 10, 10, [](LayoutValues& values) {
        values.clipToParent = false;
        values.zOrder = 2;
    });
    EXPECT_EQ(b->GetZLayer(), INT_MIN);
    EXPECT_EQ(c->GetZLayer(), 5);
    EXPECT_EQ(inner->GetZLayer(), 5);
    EXPECT_EQ(higher->GetZLayer(), 9);
    EXPECT_EQ(lower->GetZLayer(), 5);
    // The higher overlay wins where it overlaps its siblings.
    EXPECT_EQ(Hit(152, 152), "higher (2, 2) 9");
}

// A look whose client area is its 100 x 100 box less `inset` on every side.
RCPtr<Orv::LLook> InsetLook(int32_t inset)
{
    Orv::DockedPlacement placement;
    placement.offsetMask = Orv::kAllOffsetsGiven;
    placement.offsetLeft = inset;
    placement.offsetTop = inset;
    placement.offsetRight = -inset;
    placement.offsetBottom = -inset;
    const RCPtr<Orv::LLookDescriptor> descriptor(new Orv::LLookDescriptor(u"look"));
    descriptor->SetClientPart(RCPtr<Orv::LDockedPart>(new Orv::LDockedPart(nullptr, placement)));
    RCPtr<Orv::LLook> look = Orv::LLook::Create(descriptor, false);
    look->SetSize(Orv::PointT<Orv::LongCoord>{100, 100});
    return look;
}

TEST_F(ControlGeometry, HitTestSearchesChildrenThroughTheShownLooksClientArea)
{
    // Slot 0 has no look (the box), slot 1 a client area from 30 to 70, slot 2 from 10 to 90.
    // A child clipped to its parent must also lie in the parent's current look's client area.
    tree = Make(nullptr, u"root", 0, 0, 200, 200);
    RCPtr<Solid> panel = Make(tree, u"panel", 0, 0, 100, 100);
    panel->AddLook(RCPtr<Orv::LLook>());
    panel->AddLook(InsetLook(30));
    panel->AddLook(InsetLook(10));
    Make(panel, u"kid", 0, 0, 100, 100);
    struct Row
    {
        int32_t shown;  // -1: no look has weight
        int32_t x, y;
        const char* expected;
    };
    const Row rows[] = {
        {1, 12, 12, "panel (12, 12) -"},
        {1, 35, 35, "kid (5, 5) -"},
        {2, 5, 5, "panel (5, 5) -"},
        {2, 12, 12, "kid (2, 2) -"},
        {2, 60, 60, "kid (50, 50) -"},  // outside slot 1's area, inside the shown one's
        // Searched through the box; eligible only where its point, placed by the first existing
        // look's area, lies in that area.
        {0, 12, 12, "kid (12, 12) -"},
        {0, 45, 45, "panel (45, 45) -"},
        // Nothing shown: the first existing look lays the children out.
        {-1, 12, 12, "panel (12, 12) -"},
        {-1, 35, 35, "kid (5, 5) -"},
    };
    for (const Row& row : rows) {
        if (row.shown >= 0) {
            ASSERT_EQ(panel->SelectLook(static_cast<uint32_t>(row.shown)), S_OK);
        } else {
            for (uint32_t index = 0; index < 3; ++index) {
                ASSERT_EQ(panel->SetLookWeight(index, 0.0f, false), S_OK);
            }
        }
        EXPECT_EQ(Hit(row.x, row.y), row.expected) << row.shown << ": " << row.x << ", " << row.y;
    }
}

// --- Scrolling and conversions

TEST_F(ControlGeometry, ScrollOffsetRoundsHalfAwayFromZeroAndTellsOnlyOnChange)
{
    MakeTree();
    struct Row
    {
        PointD asked;
        PointD stored;
    };
    const Row rows[] = {
        {{10.5, -0.5}, {11, -1}},
        {{10.6, -1.4}, {11, -1}},  // the same offset once rounded: no change
        {{-2.5, 3.49}, {-3, 3}},
    };
    for (const Row& row : rows) {
        const PointD result = tree->SetScrollOffset(row.asked);
        EXPECT_EQ(result.x, row.stored.x);
        EXPECT_EQ(result.y, row.stored.y);
        EXPECT_EQ(tree->GetScrollOffset().x, row.stored.x);
        EXPECT_EQ(tree->GetScrollOffset().y, row.stored.y);
    }
    EXPECT_EQ(tree->scrolls, "0,0->11,-1;11,-1->-3,3;");
}

TEST_F(ControlGeometry, ScrollingMovesDockedChildrenOnlyAndIsAnnounced)
{
    MakeTree();
    RCPtr<Solid> docked =
        Make(tree, u"docked", 5, 7, 10, 10, [](LayoutValues& values) { values.xIsDocked = true; });
    const double dockedX = docked->GetRect().x;
    const RectD before = a->GetRect();

    class Listener : public Orv::LNotificationClient
    {
    public:
        int OnNotification(const RCPtr<Orv::LNotificationDistributor>&,
                           const RCPtr<Orv::LNotification>&) override
        {
            ++count;
            return 1;
        }
        int count = 0;
    };
    RCPtr<Listener> listener(new Listener());
    ASSERT_NE(listener->Register(RCPtr<Orv::LNotificationDistributor>(tree),
                                 u"NID_SCROLL_OFFSET_CHANGE", 0),
              nullptr);
    tree->SetScrollOffset(PointD{20, 0});
    EXPECT_EQ(listener->count, 1);
    EXPECT_EQ(docked->GetRect().x, dockedX + 20);  // stays in view
    EXPECT_EQ(a->GetRect().x, before.x);           // content keeps its rectangle
    EXPECT_EQ(a->GetPositionInParent().x, before.x - 20);
    listener->UnregisterAll();
}

TEST_F(ControlGeometry, PositionsAndConversionsCountScrollOffsets)
{
    MakeTree();
    tree->SetScrollOffset(PointD{3, 4});
    a->SetScrollOffset(PointD{1, 2});
    struct Row
    {
        RCPtr<Solid> control;
        PointD inParent;
        PointD origin;
    };
    const Row rows[] = {
        {tree, {0, 0}, {0, 0}},
        {a, {7, 6}, {7, 6}},
        {b, {4, 3}, {11, 9}},
    };
    for (const Row& row : rows) {
        const PointD inParent = row.control->GetPositionInParent();
        const PointD origin = row.control->GetWindowOrigin();
        EXPECT_EQ(inParent.x, row.inParent.x) << Narrow(row.control->GetName());
        EXPECT_EQ(inParent.y, row.inParent.y) << Narrow(row.control->GetName());
        EXPECT_EQ(origin.x, row.origin.x) << Narrow(row.control->GetName());
        EXPECT_EQ(origin.y, row.origin.y) << Narrow(row.control->GetName());
    }
    PointD point{1, 1};  // b's local point, in d's coordinates: (12, 10) - (37, 36)
    d->ConvertPointFrom(RCPtr<LControl>(b), point);
    EXPECT_EQ(point.x, -25);
    EXPECT_EQ(point.y, -26);
    PointD huge{1e300, -1e300};  // clamped, not overflowing
    b->ConvertPointFrom(RCPtr<LControl>(d), huge);
    EXPECT_EQ(huge.x, 4503599627370496.0 - 11);  // the window point is clamped
    EXPECT_EQ(huge.y, -4503599627370496.0 - 9);
}

TEST_F(ControlGeometry, MaxSizeIsTheSelfMaximumOnly)
{
    tree = Make(nullptr, u"root", 0, 0, 200, 200);
    a = Make(tree, u"a", 0, 0, 10, 10, [](LayoutValues& values) {
        values.xMaxSize.abs = 120;
        values.yMaxSize.toControl = true;
        values.yMaxSize.abs = 80;
    });
    PointD size{-1, -1};
    a->GetMaxSize(size);
    EXPECT_EQ(size.x, 120);
    EXPECT_EQ(size.y, 0);
}

// --- Idle requests

TEST_F(ControlGeometry, AnIdleRequestBeforeTheWindowRegistersWhenTheHandlerIsAttached)
{
    MakeTree();
    ASSERT_EQ(b->RequestIdle(), 0);
    EXPECT_EQ(b->GetIdleRequestCount(), 1);
    // Joining a window attaches the tree's idle handlers.
    AttachWindow();
    window->ProcessQueue(true);
    EXPECT_EQ(b->ticks, 1);
    // Attaching again registers nothing twice.
    EXPECT_EQ(tree->AttachIdleHandler(), 0);
    window->ProcessQueue(true);
    EXPECT_EQ(b->ticks, 2);
    EXPECT_EQ(a->ticks, 0);  // controls without requests cost nothing
    ASSERT_EQ(b->ReleaseIdle(), 0);
    window->ProcessQueue(true);
    EXPECT_EQ(b->ticks, 2);
}

TEST_F(ControlGeometry, IdleRequestsAreCountedAndTheCountStopsAtZero)
{
    MakeTree();
    AttachWindow();
    b->RequestIdle();
    b->RequestIdle();
    b->ReleaseIdle();
    window->ProcessQueue(true);
    EXPECT_EQ(b->ticks, 1);  // one request still holds it
    // A close lets every request go while a motion still runs; the motion's stop comes later.
    ASSERT_EQ(b->StartKineticMotion(0, 0, 0, 0, nullptr), 0);
    EXPECT_EQ(b->GetIdleRequestCount(), 2);
    b->ReleaseIdle();
    b->ReleaseIdle();
    EXPECT_EQ(b->StopKineticMotion(0), 0);
    EXPECT_EQ(b->GetIdleRequestCount(), 0);
    window->ProcessQueue(true);
    EXPECT_EQ(b->ticks, 1);
    // The next request registers again.
    b->RequestIdle();
    window->ProcessQueue(true);
    EXPECT_EQ(b->ticks, 2);
    b->ReleaseIdle();
}

// The window dropped its clients while a request stood: the last release finds no registration to
// remove and says so, and a new request registers again.
TEST_F(ControlGeometry, ReleasingARegistrationTheWindowDroppedAnswersEFail)
{
    MakeTree();
    AttachWindow();
    ASSERT_EQ(b->RequestIdle(), 0);
    window->ProcessQueue(true);
    EXPECT_EQ(b->ticks, 1);
    ASSERT_EQ(window->DisconnectAllClients(), 0);
    window->ProcessQueue(true);
    EXPECT_EQ(b->ticks, 1);
    EXPECT_EQ(b->ReleaseIdle(), E_FAIL);
    EXPECT_EQ(b->GetIdleRequestCount(), 0);

    ASSERT_EQ(b->RequestIdle(), 0);
    window->ProcessQueue(true);
    EXPECT_EQ(b->ticks, 2);
    EXPECT_EQ(b->ReleaseIdle(), 0);
    window->ProcessQueue(true);
    EXPECT_EQ(b->ticks, 2);
}

// --- Kinetic motion

TEST_F(ControlGeometry, KineticStepsMeasureFromThePreviousStepOnly)
{
    MakeTree();
    AttachWindow();
    Win32Test::UseVirtualSleepClock();
    application->GetTimeSeconds();
    ASSERT_EQ(a->StartKineticMotion(0, 15, 0, 100, nullptr), 0);
    EXPECT_TRUE(a->IsKineticMotionActive(0));
    struct Row
    {
        DWORD sleep;
        double offset;
    };
    // 0.3 px rounds to nothing and is not carried over; 0.6 px rounds to 1.
    const Row rows[] = {{20, 0}, {20, 0}, {40, 1}, {40, 2}, {1000, 17}};
    for (const Row& row : rows) {
        Sleep(row.sleep);
        window->ProcessQueue(true);
        EXPECT_EQ(a->GetScrollOffset().x, row.offset) << row.sleep;
        EXPECT_EQ(a->GetScrollOffset().y, 0);
    }
    EXPECT_EQ(a->StopKineticMotion(0), 0);
    EXPECT_EQ(a->StopKineticMotion(0), 1);
    EXPECT_EQ(a->GetIdleRequestCount(), 0);
}

TEST_F(ControlGeometry, KineticMotionStaysWithinItsRange)
{
    MakeTree();
    AttachWindow();
    Win32Test::UseVirtualSleepClock();
    application->GetTimeSeconds();
    a->StartKineticMotion(1, -100, -5, 30, nullptr);
    a->StartKineticMotion(0, 1000, 0, 30, nullptr);
    Sleep(1000);
    window->ProcessQueue(true);
    EXPECT_EQ(a->GetScrollOffset().x, 30);
    EXPECT_EQ(a->GetScrollOffset().y, -5);
    EXPECT_EQ(a->GetIdleRequestCount(), 2);
    EXPECT_EQ(a->StartKineticMotion(2, 1, 0, 1, nullptr), E_INVALIDARG);
    a->StopKineticMotion(0);
    a->StopKineticMotion(1);
}

}  // namespace

namespace {

// --- A top-level control's layout

class TopLevelLayout : public ControlGeometry
{
protected:
    void SetUp() override
    {
        ControlGeometry::SetUp();
        Win32Test::SetScreen(RECT{0, 0, 1920, 1080}, RECT{0, 40, 1600, 940});
    }
    void TearDown() override
    {
        if (window) {
            application->RemoveRootWindow(window);
        }
        ControlGeometry::TearDown();
    }

    // Half the window's client width, half the screen's (work area) height.
    static RCPtr<Solid> MakeTopLevel()
    {
        RCPtr<Orv::LControlDescriptor> descriptor(
            new Orv::LControlDescriptor(u"Test", u"top", nullptr));
        RCPtr<Orv::LLayoutDescriptor> layout(new Orv::LLayoutDescriptor());
        layout->xSize = Orv::LayoutSize{Orv::kSizeToClient, Orv::WideString(), 0.5f, 0};
        layout->ySize = Orv::LayoutSize{Orv::kSizeToParent, Orv::WideString(), 0.5f, 0};
        descriptor->SetLayout(layout);
        RCPtr<LControl> control;
        Orv::ControlCreateFunction<Solid>(control, nullptr, descriptor);
        return RCPtr<Solid>(static_cast<Solid*>(control.Get()));
    }
};

TEST_F(TopLevelLayout, WithoutAnyRootWindowThereIsNothingToMeasureAgainst)
{
    tree = MakeTopLevel();
    tree->SetRect(PointD{1, 2}, PointD{3, 4});
    EXPECT_EQ(tree->UpdateLayout(), E_FAIL);
    EXPECT_EQ(tree->GetRect(), (RectD{1, 2, 3, 4}));
}

TEST_F(TopLevelLayout, MeasuresAgainstTheWorkAreaAndTheWindowsClientArea)
{
    window = Orv::LRootWindow::Create(nullptr, nullptr);  // client area 1024 x 768
    ASSERT_GE(application->AddRootWindow(window), 0);
    // While it is being created the control measures against the first root window.
    tree = MakeTopLevel();
    EXPECT_EQ(tree->GetRect(), (RectD{0, 0, 512, 450}));
    // Created, it needs a window of its own.
    tree->SetRect(PointD{0, 0}, PointD{1, 1});
    EXPECT_EQ(tree->UpdateLayout(), E_FAIL);
    ASSERT_EQ(tree->SetRootWindow(window), 0);
    EXPECT_EQ(tree->UpdateLayout(), 0);
    EXPECT_EQ(tree->GetRect(), (RectD{0, 0, 512, 450}));
    EXPECT_EQ(tree->UpdateLayout(), 1);
}

}  // namespace
