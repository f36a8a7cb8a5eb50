// The scroll bar on a bar of "dec", a 16 x 200 "channel" holding a 16-pixel "thumb", and "inc",
// built through the factory, under a root window with a virtual clock. The bar's sources (the
// channel's conditions, the thumb's moves, the step buttons) are driven through the notifications
// the bar listens to; the step buttons are plain controls here (no button class in this tree).

#include <gtest/gtest.h>

#include "../ControlBase/ScrollTestSupport.h"
#include "ControlBase/ConditionsParam.h"
#include "ControlBase/SiblingKeyParam.h"
#include "Controls/Button.h"
#include "Notification/Notification.h"
#include "Win32Test/SleepClock.h"

namespace {

using namespace ScrollTest;
using Orv::LControl;
using Orv::LScrollbar;

class Scrollbar : public ControlTest::ControlFixture
{
protected:
    void SetUp() override
    {
        ControlFixture::SetUp();
        RegisterScrollClasses(*factory);
        window = RootWindowTest::MakeWindow(RCPtr<Orv::LRenderer>(), &services);
        root = FocusTest::MakeProbe(nullptr, u"root", 0, 0, 1024, 768, 0);
        ASSERT_EQ(window->SetRootControl(root), S_OK);
        Win32Test::UseVirtualSleepClock();
        application->GetTimeSeconds();
    }

    void TearDown() override
    {
        bar = nullptr;
        channel_ = nullptr;
        root = nullptr;
        window->DropBackReferences();
        window = nullptr;
        Win32Test::ResetSleepClock();
        ControlFixture::TearDown();
    }

    void Build(bool vertical, const char16_t* buttonClass = u"Test.Control")
    {
        const double length = 200;
        RCPtr<LControlDescriptor> described =
            Describe(u"Framework.ScrollBar", u"bar",
                     vertical ? Place{0, 0, 16, length + 32, 1} : Place{0, 0, length + 32, 16, 1});
        described->AddSubControl(Describe(buttonClass, u"dec", Place{0, 0, 16, 16}));
        RCPtr<LControlDescriptor> channel =
            Describe(u"Framework.ScrollChannel", u"channel",
                     vertical ? Place{0, 16, 16, length} : Place{16, 0, length, 16});
        channel->AddSubControl(Describe(buttonClass, u"thumb", Place{0, 0, 16, 16}));
        described->AddSubControl(channel);
        described->AddSubControl(
            Describe(buttonClass, u"inc",
                     vertical ? Place{0, length + 16, 16, 16} : Place{length + 16, 0, 16, 16}));
        const RCPtr<LControl> made = factory->CreateControl(described, root);
        bar = RCPtr<LScrollbar>(dynamic_cast<LScrollbar*>(made.Get()));
        ASSERT_TRUE(bar);
        ASSERT_EQ(bar->IsVertical(), vertical);
        ASSERT_TRUE(bar->GetThumb());
        channel_ = bar->FindChild(u"channel");
    }

    double ThumbAt() const
    {
        const Orv::RectD& rect = bar->GetThumb()->GetRect();
        return bar->IsVertical() ? rect.y : rect.x;
    }
    double ThumbLength() const
    {
        const Orv::RectD& rect = bar->GetThumb()->GetRect();
        return bar->IsVertical() ? rect.height : rect.width;
    }

    static void Send(const RCPtr<LControl>& from, const char16_t* id,
                     const RCPtr<Orv::LRefCountedObject>& parameter)
    {
        from->SendNotification(Orv::CreateNotification(id, parameter));
    }
    static RCPtr<Orv::LConditionsParam> Conditions(uint32_t before, uint32_t after,
                                                   Orv::PointD point)
    {
        RCPtr<Orv::LConditionsParam> conditions(new Orv::LConditionsParam());
        conditions->oldConditions = before;
        conditions->newConditions = after;
        conditions->point = point;
        return conditions;
    }
    int32_t Key(uint32_t word)
    {
        Orv::KeyCode key;
        key.code = word;
        const RCPtr<Orv::LSiblingKeyParam> offer(new Orv::LSiblingKeyParam(key, RCPtr<LControl>()));
        bar->OnNotification(RCPtr<Orv::LNotificationDistributor>(),
                            Orv::CreateNotification(u"NID_SIBLING_KEY", offer));
        return offer->result;
    }

    RootWindowTest::RecordingServices services;
    RCPtr<Orv::LRootWindow> window;
    RCPtr<FocusTest::Probe> root;
    RCPtr<LScrollbar> bar;
    RCPtr<LControl> channel_;
};

TEST_F(Scrollbar, ThumbLengthAndPlace)
{
    struct Row
    {
        double fraction, position, length, at;
    };
    const Row rows[] = {
        {0.1, 0.5, 20, 90},
        {0.01, 0.0, 16, 0},
        {0.01, 1.0, 16, 184},
        // As long as the track: nowhere to go, it stays at the start.
        {1.0, 0.7, 200, 0},
        {2.0, 0.7, 400, 0},
    };
    for (const bool vertical : {true, false}) {
        Build(vertical);
        EXPECT_EQ(bar->GetMinimumThumbLength(), 16);
        for (const Row& row : rows) {
            SCOPED_TRACE(testing::Message()
                         << vertical << " " << row.fraction << " " << row.position);
            bar->visibleFraction = row.fraction;
            bar->UpdateThumbSize();
            bar->SetValue(row.position);
            EXPECT_EQ(ThumbLength(), row.length);
            EXPECT_EQ(ThumbAt(), row.at);
        }
        bar->Close();
        bar = nullptr;
    }
}

TEST_F(Scrollbar, StepButtonsStopAtTheEnds)
{
    Build(true);
    bar->SetValue(0.99);
    Send(bar->FindChild(u"inc"), u"NID_BUTTON_AUTOREPEAT", nullptr);
    EXPECT_EQ(bar->GetValuePosition(), 1.0);
    bar->SetValue(0.01);
    Send(bar->FindChild(u"dec"), u"NID_BUTTON_AUTOREPEAT", nullptr);
    EXPECT_EQ(bar->GetValuePosition(), 0.0);
}

// With the library's buttons, as the skin builds the bar: the step buttons repeat while held and
// the thumb keeps its pressed look off the pointer; a held "inc" steps at once, then repeats.
TEST_F(Scrollbar, HeldStepButtonsRepeatOnTheButtonsOwnTiming)
{
    factory->RegisterControlCreateFunction(u"Framework.Button",
                                           &Orv::ControlCreateFunction<Orv::LButton>);
    Build(true, u"Framework.Button");
    const auto* dec = dynamic_cast<Orv::LButton*>(bar->FindChild(u"dec").Get());
    const auto* inc = dynamic_cast<Orv::LButton*>(bar->FindChild(u"inc").Get());
    const auto* thumb = dynamic_cast<Orv::LButton*>(bar->GetThumb().Get());
    ASSERT_TRUE(dec && inc && thumb);
    EXPECT_TRUE(dec->autoRepeat && inc->autoRepeat);
    EXPECT_FALSE(dec->repeating || inc->repeating);
    EXPECT_TRUE(thumb->pressedLookOutside);
    EXPECT_FALSE(dec->pressedLookOutside || thumb->autoRepeat);

    // The fixture's buttons have no looks, so no pointer finds them: the press begins as the
    // button's own press would, with its capture.
    const RCPtr<LControl> incControl = bar->FindChild(u"inc");
    window->SetHoverControl(incControl);  // the repeat pauses while the pointer is off it
    services.buttons = 1;
    ASSERT_EQ(incControl->BeginCapture(1, 8, 8), S_OK);
    EXPECT_DOUBLE_EQ(bar->GetValuePosition(), 0.02) << "one step on the press";
    for (int tick = 0; tick < 30; ++tick) {
        Sleep(33);
        window->ProcessQueue(true);  // its idle pass
    }
    EXPECT_GT(bar->GetValuePosition(), 0.04) << "repeats while held";
    services.buttons = 0;
    incControl->OnCaptureLost();
    const double released = bar->GetValuePosition();
    for (int tick = 0; tick < 10; ++tick) {
        Sleep(33);
        window->ProcessQueue(true);  // its idle pass
    }
    EXPECT_EQ(bar->GetValuePosition(), released) << "no step after the release";
}

TEST_F(Scrollbar, KeysByOrientation)
{
    struct Row
    {
        uint32_t word;
        bool vertical;
        double expected;  // from 0.5; -1: not handled
    };
    const Row rows[] = {
        {0x20260000u, true, 0.48}, {0x20280000u, true, 0.52},  {0x20250000u, true, -1},
        {0x20270000u, true, -1},   {0x20210000u, true, 0.3},   {0x20220000u, true, 0.7},
        {0x20240000u, true, 0.0},  {0x20230000u, true, 1.0},   {0x20260000u, false, -1},
        {0x20280000u, false, -1},  {0x20250000u, false, 0.48}, {0x20270000u, false, 0.52},
        {0x20210000u, false, -1},  {0x20240000u, false, 0.0},  {0x20230000u, false, 1.0},
        {0x22280000u, true, -1},   {0x00280000u, true, -1},
    };
    for (const bool vertical : {true, false}) {
        Build(vertical);
        for (const Row& row : rows) {
            if (row.vertical != vertical) {
                continue;
            }
            SCOPED_TRACE(testing::Message() << std::hex << row.word << " " << vertical);
            bar->SetValue(0.5);
            const int32_t result = Key(row.word);
            EXPECT_EQ(result, row.expected < 0 ? -1 : 0);
            EXPECT_DOUBLE_EQ(bar->GetValuePosition(), row.expected < 0 ? 0.5 : row.expected);
        }
        bar->Close();
        bar = nullptr;
    }
}

TEST_F(Scrollbar, ANewRangeKeepsTheValue)
{
    Build(true);
    bar->SetValue(0.5);
    EXPECT_EQ(bar->ValueFromPosition(bar->GetValuePosition()), 50);
    EXPECT_EQ(bar->SetValueRange(0, 200, 0), S_OK);
    EXPECT_DOUBLE_EQ(bar->GetValuePosition(), 0.25);
    EXPECT_DOUBLE_EQ(bar->ValueFromPosition(bar->GetValuePosition()), 50);
    EXPECT_EQ(bar->SetValueRange(0, 10, 1), E_INVALIDARG);
    EXPECT_EQ(bar->SetValueRange(1, 10, 2), E_INVALIDARG);
    EXPECT_DOUBLE_EQ(bar->ValueFromPosition(1.0), 200);
    EXPECT_EQ(bar->SetKeyMask(0x1FF), E_INVALIDARG);
}

TEST_F(Scrollbar, AValueSetDuringADragWaitsForItsEnd)
{
    Build(true);
    bar->SetValue(0.0);
    const RCPtr<LControl> thumb = bar->GetThumb();
    Send(thumb, u"NID_LEFT_DRAG_CONDITION_CHANGE",
         Conditions(Orv::kConditionLeftPressed, Orv::kConditionLeftDrag, Orv::PointD{5, 5}));
    ASSERT_TRUE(bar->IsDragging());
    // 90 pixels down of 180: half way.
    Send(thumb, u"NID_MOUSE_MOVE",
         RCPtr<Orv::LRefCountedObject>(new Orv::LPointWithModifiersParam(5, 95, 0, 0)));
    EXPECT_EQ(ThumbAt(), 90);
    EXPECT_DOUBLE_EQ(bar->GetValuePosition(), 0.5);
    EXPECT_DOUBLE_EQ(bar->SetValue(0.9), 0.5);
    EXPECT_EQ(ThumbAt(), 90);
    Send(thumb, u"NID_LEFT_DRAG_CONDITION_CHANGE",
         Conditions(Orv::kConditionLeftDrag, 0, Orv::PointD{5, 95}));
    EXPECT_DOUBLE_EQ(bar->GetValuePosition(), 0.9);
    EXPECT_EQ(ThumbAt(), 162);
    // A drag without such a value keeps where it was dragged.
    Send(thumb, u"NID_LEFT_DRAG_CONDITION_CHANGE",
         Conditions(0, Orv::kConditionLeftDrag, Orv::PointD{5, 167}));
    Send(thumb, u"NID_MOUSE_MOVE",
         RCPtr<Orv::LRefCountedObject>(new Orv::LPointWithModifiersParam(5, -103, 0, 0)));
    Send(thumb, u"NID_LEFT_DRAG_CONDITION_CHANGE",
         Conditions(Orv::kConditionLeftDrag, 0, Orv::PointD{5, 59}));
    EXPECT_EQ(ThumbAt(), 54);
    EXPECT_DOUBLE_EQ(bar->GetValuePosition(), 0.3);
}

TEST_F(Scrollbar, DraggingAThumbAsLongAsTheTrackKeepsThePosition)
{
    Build(true);
    // Twice the track: the thumb cannot travel at all.
    bar->visibleFraction = 2.0;
    bar->UpdateThumbSize();
    bar->SetValue(0.4);
    const RCPtr<LControl> thumb = bar->GetThumb();
    Send(thumb, u"NID_LEFT_DRAG_CONDITION_CHANGE",
         Conditions(Orv::kConditionLeftPressed, Orv::kConditionLeftDrag, Orv::PointD{5, 5}));
    Send(thumb, u"NID_MOUSE_MOVE",
         RCPtr<Orv::LRefCountedObject>(new Orv::LPointWithModifiersParam(5, 40, 0, 0)));
    Send(thumb, u"NID_LEFT_DRAG_CONDITION_CHANGE",
         Conditions(Orv::kConditionLeftDrag, 0, Orv::PointD{5, 40}));
    EXPECT_DOUBLE_EQ(bar->GetValuePosition(), 0.4);
    EXPECT_EQ(ThumbAt(), 0);
}

TEST_F(Scrollbar, PagingRepeatsUntilTheThumbReachesThePointer)
{
    Build(true);
    bar->SetValue(0.0);
    // The pointer rests on the channel 150 pixels down its track (window y 166).
    services.pointer = Orv::PointL{8, 166};
    channel_->SetForcedHover(true);
    Send(channel_, u"NID_LEFT_DRAG_CONDITION_CHANGE",
         Conditions(Orv::kConditionCapture, Orv::kConditionCapture | Orv::kConditionLeftPressed,
                    Orv::PointD{8, 166}));
    ASSERT_EQ(bar->GetPageZone(), 2);
    EXPECT_DOUBLE_EQ(bar->GetValuePosition(), 0.2);
    EXPECT_EQ(bar->GetPageHighlight().y, 56);
    EXPECT_EQ(bar->GetPageHighlight().height, 144);
    EXPECT_EQ(bar->GetPageHighlight().width, 16);
    const double expected[] = {0.2, 0.2, 0.2, 0.4, 0.4, 0.6, 0.6, 0.8, 0.8, 0.8, 0.8, 0.8};
    for (size_t step = 0; step < std::size(expected); ++step) {
        SCOPED_TRACE(step + 1);
        Sleep(100);
        bar->OnTick();
        EXPECT_NEAR(bar->GetValuePosition(), expected[step], 1e-12);
        if (bar->GetValuePosition() < 0.8) {
            // The highlight is exactly the zone still to page: thumb end to track end.
            EXPECT_EQ(bar->GetPageHighlight().y, ThumbAt() + ThumbLength());
            EXPECT_EQ(bar->GetPageHighlight().y + bar->GetPageHighlight().height, 200);
        } else {
            EXPECT_EQ(bar->GetPageHighlight().height, 0);
        }
    }
    EXPECT_EQ(bar->GetIdleRequestCount(), 1);
    Send(channel_, u"NID_LEFT_DRAG_CONDITION_CHANGE",
         Conditions(Orv::kConditionCapture, 0, Orv::PointD{8, 166}));
    EXPECT_EQ(bar->GetPageZone(), 0);
    EXPECT_EQ(bar->GetIdleRequestCount(), 0);
    EXPECT_EQ(bar->GetPageHighlight().height, 0);
}

TEST_F(Scrollbar, ABarWithoutParentInitialises)
{
    const RCPtr<LControl> made = factory->CreateControl(
        Describe(u"Framework.ScrollBar", u"alone", Place{0, 0, 16, 100}), RCPtr<LControl>());
    ASSERT_TRUE(made);
    EXPECT_TRUE(made->IsCreated());
}

}  // namespace
