// Both driver timers on the wall clock: their callbacks run on the layer's threads at the right
// levels, and after the timers stop and Remove has waited, nothing calls the owner any more.
// No timing is asserted.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "DeviceFixture.h"
#include "device/DpcTimer.h"
#include "device/PeriodicTimer.h"

namespace {

using namespace Platform::Kernel;

struct Counter
{
    std::atomic<int> calls{0};
    std::atomic<bool> wrongLevel{false};
    KIRQL expected;
    KEVENT enough;
};

void Count(PVOID argument)
{
    auto* counter = static_cast<Counter*>(argument);
    if (KeGetCurrentIrql() != counter->expected) {
        counter->wrongLevel = true;
    }
    if (++counter->calls == 5) {
        KeSetEvent(&counter->enough, 0, FALSE);
    }
}

class TimersRealTime : public DeviceFixture
{
};

TEST_F(TimersRealTime, BothTimersFireOnTheWallClockAndStopForRemove)
{
    SetTimeMode(TimeMode::Real);
    Counter ticks, periods;
    ticks.expected = DISPATCH_LEVEL;
    periods.expected = PASSIVE_LEVEL;
    KeInitializeEvent(&ticks.enough, NotificationEvent, FALSE);
    KeInitializeEvent(&periods.enough, NotificationEvent, FALSE);
    DpcTimer tick;
    ConstructDpcTimer(&tick, Link(), Count, &ticks);
    PeriodicTimer periodic;
    ConstructPeriodicTimer(&periodic, Link(), 1, Count, &periods);

    ASSERT_TRUE(ArmDpcTimer(&tick));
    periodic.StartTimer(0);
    LARGE_INTEGER timeout;
    timeout.QuadPart = -10LL * 10'000'000;  // generous: only a hang fails
    EXPECT_EQ(KeWaitForSingleObject(&ticks.enough, Executive, KernelMode, FALSE, &timeout),
              STATUS_SUCCESS);
    EXPECT_EQ(KeWaitForSingleObject(&periods.enough, Executive, KernelMode, FALSE, &timeout),
              STATUS_SUCCESS);

    StopDpcTimer(&tick);
    periodic.StopTimer();
    ASSERT_TRUE(TryAcquireRemoveLock(&context_));
    IoReleaseRemoveLockAndWait(&context_.removeLock, nullptr);  // expiries in flight finish
    const int tickCount = ticks.calls;
    const int periodCount = periods.calls;
    LARGE_INTEGER pause;
    pause.QuadPart = -20 * 10'000;
    KeDelayExecutionThread(KernelMode, FALSE, &pause);
    SetTimeMode(TimeMode::Virtual);
    EXPECT_EQ(ticks.calls, tickCount);
    EXPECT_EQ(periods.calls, periodCount);
    EXPECT_FALSE(ticks.wrongLevel);
    EXPECT_FALSE(periods.wrongLevel);
}

}  // namespace

namespace {

void Ignore(PVOID) {}

// Arms and stops racing on two processors: each arming that took the remove lock is paired with
// the one stop that gives it back, so once both are done and the timer is stopped nothing holds
// the lock and no timer is left armed.
TEST_F(TimersRealTime, ArmsAndStopsOnTwoThreadsLeaveTheRemoveLockBalanced)
{
    SetTimeMode(TimeMode::Real);
    DpcTimer tick;
    ConstructDpcTimer(&tick, Link(), Ignore, nullptr);
    std::atomic<bool> go{false};
    auto churn = [&] {
        while (!go.load()) {
        }
        for (int i = 0; i < 20000; ++i) {
            KIRQL old;
            KeRaiseIrql(DISPATCH_LEVEL, &old);
            if (i % 2 == 0) {
                ArmDpcTimer(&tick);
            } else {
                StopDpcTimer(&tick);
            }
            KeLowerIrql(old);
        }
    };
    std::thread first(churn);
    std::thread second(churn);
    go = true;
    first.join();
    second.join();
    StopDpcTimer(&tick);
    EXPECT_EQ(Holders(), 0u);
    EXPECT_EQ(ArmedTimerCount(), 0u);
}

}  // namespace

namespace {

// The periodic timer the same: a capture pin starts it from its periods and stops it from a
// state change on another processor.
TEST_F(TimersRealTime, PeriodicStartsAndStopsOnTwoThreadsLeaveTheRemoveLockBalanced)
{
    SetTimeMode(TimeMode::Real);
    PeriodicTimer periodic;
    ConstructPeriodicTimer(&periodic, Link(), 1, Ignore, nullptr);
    std::atomic<bool> go{false};
    auto churn = [&] {
        while (!go.load()) {
        }
        for (int i = 0; i < 20000; ++i) {
            KIRQL old;
            KeRaiseIrql(DISPATCH_LEVEL, &old);
            if (i % 2 == 0) {
                periodic.StartTimer(0);
            } else {
                periodic.StopTimer();
            }
            KeLowerIrql(old);
        }
    };
    std::thread first(churn);
    std::thread second(churn);
    go = true;
    first.join();
    second.join();
    periodic.StopTimer();
    EXPECT_EQ(Holders(), 0u);
    EXPECT_EQ(ArmedTimerCount(), 0u);
}

}  // namespace
