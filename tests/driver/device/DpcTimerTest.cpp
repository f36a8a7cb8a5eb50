// The DPC timer: 1 ms ticks at DISPATCH_LEVEL while the device is started, none after a stop.
#include "device/DpcTimer.h"

#include <gtest/gtest.h>

#include <vector>

#include "DeviceFixture.h"

namespace {

using namespace Platform::Kernel;
using namespace std::chrono_literals;

struct Ticks
{
    int count = 0;
    std::vector<KIRQL> irqls;
    DpcTimer* stopFromCallbackAt = nullptr;
    int stopAfter = 0;
};

void OnTick(PVOID argument)
{
    auto* ticks = static_cast<Ticks*>(argument);
    ++ticks->count;
    ticks->irqls.push_back(KeGetCurrentIrql());
    if (ticks->stopFromCallbackAt != nullptr && ticks->count == ticks->stopAfter) {
        StopDpcTimer(ticks->stopFromCallbackAt);
    }
}

class DpcTimerTest : public DeviceFixture
{
protected:
    void SetUp() override
    {
        DeviceFixture::SetUp();
        ConstructDpcTimer(&timer_, Link(), OnTick, &ticks_);
    }

    DpcTimer timer_;
    Ticks ticks_;
};

TEST_F(DpcTimerTest, FiresExactly1000TimesIn1000MsAtDispatchLevelAndNeverAfterStop)
{
    ASSERT_TRUE(ArmDpcTimer(&timer_));
    EXPECT_EQ(Holders(), 1u);
    AdvanceTime(1000ms);
    EXPECT_EQ(ticks_.count, 1000);
    for (KIRQL irql : ticks_.irqls) {
        ASSERT_EQ(irql, DISPATCH_LEVEL);
    }
    EXPECT_EQ(Holders(), 1u);  // each tick gave its own reference back

    EXPECT_TRUE(StopDpcTimer(&timer_));
    EXPECT_EQ(Holders(), 0u);
    AdvanceTime(100ms);
    EXPECT_EQ(ticks_.count, 1000);
    EXPECT_FALSE(StopDpcTimer(&timer_));  // not running: nothing queued, nothing released
}

TEST_F(DpcTimerTest, ArmingAgainKeepsOneReference)
{
    ASSERT_TRUE(ArmDpcTimer(&timer_));
    ASSERT_TRUE(ArmDpcTimer(&timer_));
    EXPECT_EQ(Holders(), 1u);
    AdvanceTime(5ms);
    EXPECT_EQ(ticks_.count, 5);
    StopDpcTimer(&timer_);
}

TEST_F(DpcTimerTest, AStopFromItsOwnCallbackEndsTheTicks)
{
    ticks_.stopFromCallbackAt = &timer_;
    ticks_.stopAfter = 3;
    ASSERT_TRUE(ArmDpcTimer(&timer_));
    AdvanceTime(10ms);
    EXPECT_EQ(ticks_.count, 3);
    EXPECT_EQ(Holders(), 0u);
}

void StopOtherTimer(PKDPC, PVOID context, PVOID, PVOID)
{
    StopDpcTimer(static_cast<DpcTimer*>(context));
}

TEST_F(DpcTimerTest, ADpcAlreadyQueuedWhenTheTimerStopsDoesNotCallTheOwner)
{
    ASSERT_TRUE(ArmDpcTimer(&timer_));
    // A DPC queued ahead of the timer's, at the tick's instant, stops it.
    KDPC stopper;
    KeInitializeDpc(&stopper, StopOtherTimer, &timer_);
    AdvanceTime(999us);
    KeInsertQueueDpc(&stopper, nullptr, nullptr);
    KeInsertQueueDpc(&timer_.dpc, nullptr, nullptr);
    RunPending();
    EXPECT_EQ(ticks_.count, 0);
    AdvanceTime(5ms);
    EXPECT_EQ(ticks_.count, 0);
    EXPECT_EQ(Holders(), 0u);
}

TEST_F(DpcTimerTest, NoTicksReachTheOwnerWhileTheDeviceIsNotStarted)
{
    ASSERT_TRUE(ArmDpcTimer(&timer_));
    SetPnpState(&context_, kPnpStopPending);
    AdvanceTime(10ms);
    EXPECT_EQ(ticks_.count, 0);
    SetPnpState(&context_, kPnpStarted);
    AdvanceTime(2ms);
    EXPECT_EQ(ticks_.count, 2);
    StopDpcTimer(&timer_);
}

TEST_F(DpcTimerTest, ArmingFailsOnceRemovalBegan)
{
    ASSERT_TRUE(TryAcquireRemoveLock(&context_));
    IoReleaseRemoveLockAndWait(&context_.removeLock, nullptr);
    EXPECT_FALSE(ArmDpcTimer(&timer_));
    EXPECT_FALSE(StopDpcTimer(&timer_));
    AdvanceTime(5ms);
    EXPECT_EQ(ticks_.count, 0);
    EXPECT_EQ(ArmedTimerCount(), 0u);
}

}  // namespace
