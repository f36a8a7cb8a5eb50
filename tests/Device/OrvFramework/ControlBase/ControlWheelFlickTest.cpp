// The wheel's walk outwards from the control under the pointer, through overlays, and the flick
// a fast content drag leaves behind, on the virtual clock.

#include <gtest/gtest.h>

#include "PointerTestSupport.h"
#include "win32/Sleep.h"

namespace {

using namespace PointerTest;

class ControlWheel : public PointerFixture
{
protected:
    void TearDown() override
    {
        controls.clear();
        PointerFixture::TearDown();
    }

    RCPtr<WheelProbe> Add(const RCPtr<LControl>& parent, const char16_t* name, RectD box,
                          void (*adjust)(Orv::LayoutValues&) = nullptr)
    {
        RCPtr<WheelProbe> control =
            Make<WheelProbe>(parent, name, box.x, box.y, box.width, box.height, adjust);
        control->log = &log;
        controls.push_back(control);
        return control;
    }

    // Each probe's exclusion mark is as before the walk.
    void ExpectNoMarkLeft()
    {
        for (const RCPtr<WheelProbe>& control : controls) {
            EXPECT_FALSE(control->IsExcludedFromHitTest())
                << ControlTest::Narrow(control->GetName());
        }
    }

    std::vector<RCPtr<WheelProbe>> controls;
};

TEST_F(ControlWheel, AWheelTheChildLeavesReachesItsParent)
{
    MakeRoot<WheelProbe>();
    RCPtr<WheelProbe> view = Add(root, u"view", RectD{10, 10, 200, 200});
    RCPtr<WheelProbe> list = Add(view, u"list", RectD{10, 10, 100, 100});
    view->answer = S_OK;
    window->HandleMouseWheel(PointL{50, 50}, 0, 0);
    EXPECT_EQ(log, (Names{"list", "view"}));

    log.clear();
    view->answer = 1;
    const RCPtr<Orv::LMouseWheelParam> horizontal(new Orv::LMouseWheelParam(50, 50, 0, 3));
    EXPECT_EQ(list->OnMouseHWheel(horizontal), 1);
    EXPECT_EQ(log, (Names{"list", "view"}));  // the root is a plain base control here
}

// A list inside a pop-up drawn above the tree: past the pop-up the wheel goes to what lies
// beneath it at the pointer, each control asked once, and no mark stays behind.
TEST_F(ControlWheel, InsideAnOverlayTheWheelGoesBeneathItAndAsksEachControlOnce)
{
    MakeRoot();
    RCPtr<WheelProbe> beneath = Add(root, u"beneath", RectD{0, 0, 300, 300});
    RCPtr<WheelProbe> popup =
        Add(root, u"popup", RectD{50, 50, 100, 100}, [](Orv::LayoutValues& values) {
            values.clipToParent = false;
            values.zOrder = 5;
        });
    RCPtr<WheelProbe> frame = Add(popup, u"frame", RectD{0, 0, 100, 100});
    RCPtr<WheelProbe> list = Add(frame, u"list", RectD{10, 10, 50, 50});
    struct Row
    {
        const char* name;
        bool beneathTakes;
        Orv::ORVRESULT result;
        Names asked;
    };
    const Row rows[] = {
        {"beneath takes it", true, S_OK, {"list", "frame", "popup", "beneath"}},
        {"nobody takes it", false, 1, {"list", "frame", "popup", "beneath"}},
    };
    for (const Row& row : rows) {
        log.clear();
        beneath->answer = row.beneathTakes ? S_OK : 1;
        const RCPtr<Orv::LMouseWheelParam> wheel(new Orv::LMouseWheelParam(70, 70, 0, 1));
        EXPECT_EQ(list->OnMouseWheel(wheel), row.result) << row.name;
        EXPECT_EQ(log, row.asked) << row.name;
        ExpectNoMarkLeft();
    }
}

TEST_F(ControlWheel, AMarkSetBeforeTheWalkIsKept)
{
    MakeRoot();
    RCPtr<WheelProbe> beneath = Add(root, u"beneath", RectD{0, 0, 300, 300});
    RCPtr<WheelProbe> popup =
        Add(root, u"popup", RectD{50, 50, 100, 100}, [](Orv::LayoutValues& values) {
            values.clipToParent = false;
            values.zOrder = 5;
        });
    popup->SetExcludedFromHitTest(true);  // being dragged
    const RCPtr<Orv::LMouseWheelParam> wheel(new Orv::LMouseWheelParam(70, 70, 0, 1));
    EXPECT_EQ(popup->OnMouseWheel(wheel), 1);
    EXPECT_EQ(log, (Names{"popup", "beneath"}));
    EXPECT_TRUE(popup->IsExcludedFromHitTest());
    EXPECT_FALSE(beneath->IsExcludedFromHitTest());
    popup->SetExcludedFromHitTest(false);
}

// Scrolls its content within 0..5000 on both axes.
class Scroller : public Solid
{
public:
    using Solid::Solid;
    void GetScrollRange(RectD& range, const RCPtr<LControl>&) override
    {
        range = RectD{0, 0, 5000, 5000};
    }
};

class ControlFlick : public PointerFixture
{
protected:
    void SetUp() override
    {
        PointerFixture::SetUp();
        MakeRoot();
        list = Make<Scroller>(root, u"list", 100, 100, 200, 200);
        application->GetTimeSeconds();
    }
    void TearDown() override
    {
        if (list) {
            list->StopKineticMotion(0);
            list->StopKineticMotion(1);
        }
        list = nullptr;
        PointerFixture::TearDown();
    }

    // A content drag of the pointer leftwards by `pixels` over `milliseconds`, released `wait`
    // milliseconds after the last move.
    void Throw(int32_t pixels, DWORD milliseconds, DWORD wait)
    {
        Press(1, PointL{200, 150});
        list->SetDragMode(6, 1);
        Move(PointL{199, 150});  // crosses the threshold: the drag begins
        Sleep(milliseconds);
        Move(PointL{199 - pixels, 150});
        Sleep(wait);
        Release(1, PointL{199 - pixels, 150});
    }

    RCPtr<Scroller> list;
};

TEST_F(ControlFlick, AReleaseSoonAfterAFastDragThrowsTheContent)
{
    struct Row
    {
        const char* name;
        int32_t pixels;
        DWORD wait;
        bool flick;
    };
    const Row rows[] = {
        {"1000 px/s, 99 ms", 1000, 99, true},
        {"999 px/s, 99 ms", 999, 99, false},
        {"1000 px/s, 100 ms", 1000, 100, false},
    };
    for (const Row& row : rows) {
        list->StopKineticMotion(0);
        list->SetScrollOffset(PointD{0, 0});
        Throw(row.pixels, 1000, row.wait);
        EXPECT_EQ(list->IsKineticMotionActive(0), row.flick) << row.name;
        EXPECT_FALSE(list->IsKineticMotionActive(1)) << row.name;  // flag 1: x only
        EXPECT_EQ(list->GetScrollOffset().x, row.pixels) << row.name;
        EXPECT_EQ(window->GetCaptureControl().Get(), nullptr) << row.name;
    }
}

TEST_F(ControlFlick, AFlickKeepsItsSpeedForASecondThenSlowsAndStops)
{
    Throw(1000, 1000, 99);
    ASSERT_TRUE(list->IsKineticMotionActive(0));
    // The first second after the release: full speed.
    const double start = list->GetScrollOffset().x;
    Sleep(500);
    window->ProcessQueue(true);
    EXPECT_EQ(list->GetScrollOffset().x, start + 500);
    Sleep(500);
    window->ProcessQueue(true);
    EXPECT_EQ(list->GetScrollOffset().x, start + 1000);
    // Then 1000 px/s less each second: at most 500 px over the next second, then it stops.
    Sleep(500);
    window->ProcessQueue(true);
    const double slowed = list->GetScrollOffset().x - (start + 1000);
    EXPECT_EQ(slowed, 500);  // this step still ran at the old speed; the speed halves after it
    Sleep(500);
    window->ProcessQueue(true);
    EXPECT_LT(list->GetScrollOffset().x - (start + 1500), 500);
    for (int step = 0; step < 10 && list->IsKineticMotionActive(0); ++step) {
        Sleep(100);
        window->ProcessQueue(true);
    }
    EXPECT_FALSE(list->IsKineticMotionActive(0));
    EXPECT_EQ(list->GetIdleRequestCount(), 0);
    const double stopped = list->GetScrollOffset().x;
    Sleep(1000);
    window->ProcessQueue(true);
    EXPECT_EQ(list->GetScrollOffset().x, stopped);
}

TEST_F(ControlFlick, APressStopsTheFlickAndWaitsForTheThreshold)
{
    Throw(1000, 1000, 10);
    ASSERT_TRUE(list->IsKineticMotionActive(0));
    Press(1, PointL{150, 150});
    EXPECT_FALSE(list->IsKineticMotionActive(0));
    EXPECT_EQ(list->GetIdleRequestCount(), 0);
    list->SetDragMode(6, 1);
    const double held = list->GetScrollOffset().x;
    Sleep(50);
    window->ProcessQueue(true);
    EXPECT_EQ(list->GetScrollOffset().x, held);
    Release(1, PointL{150, 150});
    EXPECT_FALSE(list->IsKineticMotionActive(0));
}

}  // namespace
