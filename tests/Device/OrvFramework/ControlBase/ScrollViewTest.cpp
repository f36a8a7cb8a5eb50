// The scroll view on a 200 x 200 view with 16-pixel bars docked at its right and bottom edges (no
// corner: the bars' own sizes count): which bars show, the scroll range, the extent, the bars and
// the offset kept in step both ways, the wheel, and line mode.

#include <gtest/gtest.h>

#include <climits>

#include "ControlBase/InputPayloads.h"
#include "ScrollTestSupport.h"

namespace {

using namespace ScrollTest;
using Orv::PointD;
using Orv::RectD;

constexpr double kUnbounded = 4503599627370496.0;  // 2^52

class ScrollView : public ControlTest::ControlFixture
{
protected:
    void SetUp() override
    {
        ControlFixture::SetUp();
        RegisterScrollClasses(*factory);
        window = RootWindowTest::MakeWindow(RCPtr<Orv::LRenderer>(), &services);
        root = FocusTest::MakeProbe(nullptr, u"root", 0, 0, 1024, 768, 0);
        ASSERT_EQ(window->SetRootControl(root), S_OK);
    }

    void TearDown() override
    {
        view = nullptr;
        root = nullptr;
        window->DropBackReferences();
        window = nullptr;
        ControlFixture::TearDown();
    }

    void Build(const RCPtr<Orv::LStringTable>& parameters = nullptr)
    {
        RCPtr<LControlDescriptor> described =
            Describe(u"Test.CountingView", u"view", Place{0, 0, 200, 200, 1});
        if (parameters) {
            described->SetCreateParams(parameters);
        }
        described->AddSubControl(
            Describe(u"Framework.ScrollBar", u"vBar", Place{184, 0, 16, 200, -1, true, true}));
        described->AddSubControl(
            Describe(u"Framework.ScrollBar", u"hBar", Place{0, 184, 200, 16, -1, true, true}));
        const RCPtr<Orv::LControl> made = factory->CreateControl(described, root);
        view = RCPtr<CountingView>(dynamic_cast<CountingView*>(made.Get()));
        ASSERT_TRUE(view);
        ASSERT_TRUE(view->GetBar(true));
        ASSERT_TRUE(view->GetBar(false));
    }

    RectD Range()
    {
        RectD range;
        view->GetScrollRange(range, RCPtr<Orv::LControl>());
        return range;
    }

    RootWindowTest::RecordingServices services;
    RCPtr<Orv::LRootWindow> window;
    RCPtr<FocusTest::Probe> root;
    RCPtr<CountingView> view;
};

TEST_F(ScrollView, WhichBarsShowForAnExtent)
{
    struct Row
    {
        double width, height;
        bool vertical, horizontal;
        double rangeX, rangeY;
    };
    const Row rows[] = {
        {100, 100, false, false, 0, 0},
        // Wider only: the horizontal bar alone.
        {201, 100, false, true, 1, 0},
        // The horizontal bar's 16 pixels make 190 too tall: the vertical bar follows.
        {201, 190, true, true, 17, 6},
        {100, 1000, true, false, 0, 800},
        {0, 0, false, false, kUnbounded, kUnbounded},
    };
    Build();
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.width << " x " << row.height);
        view->SetClientExtent(row.width, row.height);
        EXPECT_EQ(view->IsBarShown(true), row.vertical);
        EXPECT_EQ(view->IsBarShown(false), row.horizontal);
        EXPECT_EQ(Range().width, row.rangeX);
        EXPECT_EQ(Range().height, row.rangeY);
    }
}

TEST_F(ScrollView, ShowingABarCallsItsHookAndTheViewportHook)
{
    Build();
    view->shownChanges.clear();
    view->viewportChanges = 0;
    view->SetClientExtent(201, 190);
    EXPECT_EQ(view->shownChanges, (std::vector<bool>{true, false}));
    EXPECT_GE(view->viewportChanges, 1);
    RectD viewport;
    view->GetClientBounds(viewport);
    EXPECT_EQ(viewport.width, 184);
    EXPECT_EQ(viewport.height, 184);
}

TEST_F(ScrollView, TheSameExtentSendsNothing)
{
    Build();
    RCPtr<FocusTest::RecordingClient> client(new FocusTest::RecordingClient());
    client->Register(view, u"NID_CLIENT_EXTENT_CHANGE");
    EXPECT_EQ(view->SetClientExtent(300, 400), S_OK);
    EXPECT_EQ(view->SetClientExtent(300 + 1e-15, 400), 1);
    EXPECT_EQ(view->SetClientExtent(300, 400.5), S_OK);
    EXPECT_EQ(client->received,
              (FocusTest::Names{"NID_CLIENT_EXTENT_CHANGE", "NID_CLIENT_EXTENT_CHANGE"}));
    client->UnregisterAll();
}

TEST_F(ScrollView, AutoExtentYFollowsChildrenNotDockedOnY)
{
    Build(FocusTest::Table({{u"AUTO_CLIENT_EXTENT_Y", u" TRUE "}}));
    RCPtr<Orv::LControl> child =
        factory->CreateControl(Describe(u"Test.Control", u"low", Place{0, 500, 20, 20}), view);
    ASSERT_TRUE(child);
    view->UpdateAutoExtent();
    EXPECT_EQ(view->GetClientExtent().y, 520);
    EXPECT_EQ(view->GetClientExtent().x, 0);  // bit 0 not set
    RCPtr<Orv::LControl> docked = factory->CreateControl(
        Describe(u"Test.Control", u"docked", Place{0, 900, 20, 20, 0, false, true}), view);
    ASSERT_TRUE(docked);
    view->UpdateAutoExtent();
    EXPECT_EQ(view->GetClientExtent().y, 520);
    EXPECT_TRUE(view->IsBarShown(true));
}

TEST_F(ScrollView, TheBarAndTheOffsetFollowEachOther)
{
    Build();
    view->SetClientExtent(100, 1000);
    const RCPtr<Orv::LScrollbar> bar = view->GetBar(true);
    view->valueChanges = 0;
    bar->SetValue(0.5);
    EXPECT_EQ(view->GetScrollOffset().y, 400);
    EXPECT_EQ(view->valueChanges, 1);
    view->SetScrollOffset(PointD{0, 200});
    EXPECT_DOUBLE_EQ(bar->GetValuePosition(), 0.25);
    // The bar's answer to that move did not come back to the view.
    EXPECT_EQ(view->valueChanges, 1);
    EXPECT_EQ(view->GetScrollOffset().y, 200);
}

TEST_F(ScrollView, AWheelStepIsATenthOfAPage)
{
    Build();
    view->SetClientExtent(100, 1000);
    const RCPtr<Orv::LScrollbar> bar = view->GetBar(true);
    EXPECT_DOUBLE_EQ(bar->pageStep, 0.25);
    EXPECT_DOUBLE_EQ(bar->lineStep, 0.025);
    EXPECT_EQ(view->OnWheel(RCPtr<Orv::LMouseWheelParam>(new Orv::LMouseWheelParam(0, 0, 0, 0))),
              S_OK);
    EXPECT_DOUBLE_EQ(bar->GetValuePosition(), 0.025);
    EXPECT_EQ(view->GetScrollOffset().y, 20);
    view->OnWheel(
        RCPtr<Orv::LMouseWheelParam>(new Orv::LMouseWheelParam(0, 0, Orv::KeyModifier::kShift, 0)));
    EXPECT_DOUBLE_EQ(bar->GetValuePosition(), 0.275);
    view->OnWheel(RCPtr<Orv::LMouseWheelParam>(new Orv::LMouseWheelParam(0, 0, 0, 1)));
    EXPECT_DOUBLE_EQ(bar->GetValuePosition(), 0.25);
    EXPECT_EQ(view->GetScrollOffset().y, 200);
}

TEST_F(ScrollView, AWheelWithoutAShownBarBubblesOn)
{
    Build();
    view->SetClientExtent(50, 50);
    EXPECT_EQ(view->OnWheel(RCPtr<Orv::LMouseWheelParam>(new Orv::LMouseWheelParam(0, 0, 0, 0))),
              1);
}

TEST_F(ScrollView, LineModeCountsRows)
{
    Build();
    view->SetLineMode(1, 1, 20);
    view->SetClientExtent(100, 1000);
    const RCPtr<Orv::LScrollbar> bar = view->GetBar(true);
    // 50 rows, 10 fit: 40 positions.
    EXPECT_DOUBLE_EQ(bar->lineStep, 1.0 / 40);
    EXPECT_DOUBLE_EQ(bar->pageStep, 0.25);
    EXPECT_DOUBLE_EQ(bar->visibleFraction, 0.2);
    EXPECT_DOUBLE_EQ(bar->ValueFromPosition(1.0), 40);
    bar->SetValue(0.5);
    EXPECT_EQ(view->GetScrollOffset().y, 400);
}

TEST_F(ScrollView, ALineStepBelowOneScrollsInPixels)
{
    Build();
    for (const int32_t step : {0, -5}) {
        SCOPED_TRACE(step);
        view->SetLineMode(1, 1, step);
        view->SetClientExtent(100, 1000 + step);
        const RCPtr<Orv::LScrollbar> bar = view->GetBar(true);
        EXPECT_DOUBLE_EQ(bar->ValueFromPosition(1.0), 800 + step);
        bar->SetValue(0.5);
        EXPECT_EQ(view->GetScrollOffset().y, Orv::RoundHalfAwayFromZero((800 + step) * 0.5));
    }
}

TEST_F(ScrollView, AHugeLineCountSaturates)
{
    Build();
    view->SetLineMode(1, 1, 1);
    view->SetClientExtent(100, 1e12);
    const RCPtr<Orv::LScrollbar> bar = view->GetBar(true);
    // 200 rows fit; the count stops at the largest int32.
    EXPECT_DOUBLE_EQ(bar->ValueFromPosition(1.0), static_cast<double>(INT32_MAX) - 200);
    EXPECT_GT(bar->lineStep, 0);
    EXPECT_LT(bar->lineStep, 1e-9);
}

}  // namespace
