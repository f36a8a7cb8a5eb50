// A control's value: clamping, the announcement of changes, the linear and logarithmic mappings
// and the ranges that are refused.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ControlInputSupport.h"

namespace {

using namespace ControlInputTest;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

class ControlValue : public ControlInputFixture
{
protected:
    void SetUp() override
    {
        ControlInputFixture::SetUp();
        recorder->Listen(a, {Orv::NID_VALUE_CHANGE});
    }
};

TEST_F(ControlValue, ChangesAreClampedAnnouncedWithTheMappedValueAndRepeatsAreSilent)
{
    ASSERT_EQ(a->SetValueRange(0, 10, 0), 0);
    struct Row
    {
        double set;
        double stored;
        Names sent;  // hook and notification, in order
    };
    const Row rows[] = {
        {0.25, 0.25, {"a:value changed", "a:NID_VALUE_CHANGE 0.25=2.5"}},
        {0.25, 0.25, {}},
        {-0.2, 0, {"a:value changed", "a:NID_VALUE_CHANGE 0=0"}},
        {0, 0, {}},
        {1.7, 1, {"a:value changed", "a:NID_VALUE_CHANGE 1=10"}},
        {kInfinity, 1, {}},
        {kNaN, 1, {}},  // no position at all: kept, and nothing announced
        {kNaN, 1, {}},
        {-kInfinity, 0, {"a:value changed", "a:NID_VALUE_CHANGE 0=0"}},
    };
    for (const Row& row : rows) {
        log.clear();
        recorder->log.clear();
        EXPECT_EQ(a->SetValue(row.set), row.stored) << row.set;
        EXPECT_EQ(a->GetValuePosition(), row.stored) << row.set;
        Names sent = log;
        sent.insert(sent.end(), recorder->log.begin(), recorder->log.end());
        EXPECT_EQ(sent, row.sent) << row.set;
    }
}

TEST_F(ControlValue, LogarithmicRangeMapsBothWays)
{
    ASSERT_EQ(a->SetValueRange(20, 20000, 1), 0);
    EXPECT_NEAR(a->ValueFromPosition(0.5), 632.455532033676, 1e-9);
    EXPECT_NEAR(a->PositionFromValue(632.455532), 0.5, 1e-9);
    EXPECT_DOUBLE_EQ(a->ValueFromPosition(0), 20);
    EXPECT_DOUBLE_EQ(a->ValueFromPosition(1), 20000);
    EXPECT_NEAR(a->PositionFromValue(200), 1.0 / 3.0, 1e-12);
    // Outside the range: clamped first.
    EXPECT_EQ(a->PositionFromValue(5), 0);
    EXPECT_EQ(a->PositionFromValue(1e9), 1);
    // Falling ranges map the same way.
    ASSERT_EQ(a->SetValueRange(20000, 20, 1), 0);
    EXPECT_NEAR(a->ValueFromPosition(0.5), 632.455532033676, 1e-9);
    EXPECT_NEAR(a->PositionFromValue(2000), 1.0 / 3.0, 1e-12);
}

TEST_F(ControlValue, LinearPositionsAreClampedAndAnEmptyRangeGivesZero)
{
    struct Row
    {
        double low, high, value, position;
    };
    const Row rows[] = {
        {0, 10, 50, 1},  {0, 10, -3, 0}, {0, 10, 2.5, 0.25}, {10, 0, 2.5, 0.75},
        {-5, 5, 0, 0.5}, {3, 3, 3, 0},   {3, 3, 100, 0},     {0, 0, 0, 0},
    };
    for (const Row& row : rows) {
        ASSERT_EQ(a->SetValueRange(row.low, row.high, 0), 0);
        EXPECT_DOUBLE_EQ(a->PositionFromValue(row.value), row.position)
            << row.low << ".." << row.high << " " << row.value;
    }
}

TEST_F(ControlValue, RefusedRangesChangeNothing)
{
    ASSERT_EQ(a->SetValueRange(1, 5, 1), 0);
    ASSERT_EQ(a->SetValue(0.5), 0.5);
    recorder->log.clear();
    struct Row
    {
        double low, high;
        int32_t scale;
        Orv::ORVRESULT result;
    };
    const Row rows[] = {
        {0, 10, 1, E_INVALIDARG},         {-5, 5, 1, E_INVALIDARG},
        {10, 0, 1, E_INVALIDARG},         {1, 10, 2, E_INVALIDARG},
        {1, 10, -1, E_INVALIDARG},        {0, kInfinity, 0, E_INVALIDARG},
        {-kInfinity, 0, 0, E_INVALIDARG}, {kNaN, 1, 0, E_INVALIDARG},
        {1, kNaN, 1, E_INVALIDARG},       {1, kInfinity, 1, E_INVALIDARG},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(a->SetValueRange(row.low, row.high, row.scale), row.result)
            << row.low << ".." << row.high << " scale " << row.scale;
        // Still 1..5 logarithmic.
        EXPECT_DOUBLE_EQ(a->ValueFromPosition(0.5), std::sqrt(5.0));
    }
    // Accepted ranges keep the position and announce nothing.
    EXPECT_EQ(a->SetValueRange(-5, 5, 0), 0);
    EXPECT_EQ(a->SetValueRange(5, -5, 0), 0);
    EXPECT_EQ(a->GetValuePosition(), 0.5);
    EXPECT_EQ(a->ValueFromPosition(0.5), 0);
    EXPECT_TRUE(recorder->log.empty());
}

TEST_F(ControlValue, AClientMayCloseAndReleaseTheControlInsideItsValueNotification)
{
    int32_t before = LControl::GetLiveCount();
    recorder->onNotify = [this](const std::string&, const RCPtr<Orv::LNotification>&) {
        a->Close();
        a = nullptr;
    };
    Probe* raw = a.Get();
    EXPECT_EQ(raw->SetValue(0.75), 0.75);
    EXPECT_EQ(recorder->log.size(), 1u);
    EXPECT_EQ(panel->FindChild(u"a").Get(), nullptr);
    EXPECT_EQ(a1->GetParent().Get(), nullptr);
    EXPECT_EQ(LControl::GetLiveCount(), before - 1) << "a went once the call let go of it";
}

}  // namespace
