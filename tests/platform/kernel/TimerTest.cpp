// Timers, DPCs, work items and the clock on virtual time.
#include <KernelTestApi.h>
#include <wdm.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KernelTestFixture.h"

namespace {

using namespace Platform::Kernel;
using namespace std::chrono_literals;

LARGE_INTEGER Relative(std::chrono::microseconds delay)
{
    LARGE_INTEGER due;
    due.QuadPart = -delay.count() * 10;
    return due;
}

// Records every DPC run with the clock and IRQL it saw.
struct Recorder
{
    std::vector<std::string> events;
    std::vector<LONGLONG> times;
    std::vector<KIRQL> irqls;
    PIO_WORKITEM workItem = nullptr;
    DEVICE_OBJECT device{};
};

void RecordDpc(PKDPC, PVOID context, PVOID, PVOID)
{
    auto* r = static_cast<Recorder*>(context);
    r->events.push_back("dpc");
    r->times.push_back(InterruptTime100ns());
    r->irqls.push_back(KeGetCurrentIrql());
}

class Timers : public Testing::KernelTest
{
};

TEST_F(Timers, AOneMillisecondPeriodicTimerFiresOncePerMillisecondAtDispatchLevel)
{
    Recorder r;
    KTIMER timer;
    KDPC dpc;
    KeInitializeTimerEx(&timer, NotificationTimer);
    KeInitializeDpc(&dpc, RecordDpc, &r);
    EXPECT_FALSE(KeSetTimerEx(&timer, Relative(1000us), 1, &dpc));

    AdvanceTime(1000ms);
    ASSERT_EQ(r.events.size(), 1000u);
    for (size_t i = 0; i < r.times.size(); ++i) {
        ASSERT_EQ(r.times[i], static_cast<LONGLONG>(i + 1) * 10'000) << "firing " << i;
        ASSERT_EQ(r.irqls[i], DISPATCH_LEVEL);
    }
    EXPECT_TRUE(KeCancelTimer(&timer));
    AdvanceTime(100ms);
    EXPECT_EQ(r.events.size(), 1000u);
    EXPECT_FALSE(KeCancelTimer(&timer));
}

TEST_F(Timers, SetAnswersWhetherTheTimerWasSetAndAOneShotFiresOnce)
{
    Recorder r;
    KTIMER timer;
    KDPC dpc;
    KeInitializeTimer(&timer);
    KeInitializeDpc(&dpc, RecordDpc, &r);
    EXPECT_FALSE(KeSetTimerEx(&timer, Relative(5000us), 0, &dpc));
    EXPECT_TRUE(KeSetTimerEx(&timer, Relative(10000us), 0, &dpc));  // re-armed, not doubled
    AdvanceTime(9ms);
    EXPECT_TRUE(r.events.empty());
    EXPECT_FALSE(KeReadStateTimer(&timer));
    AdvanceTime(20ms);
    ASSERT_EQ(r.times.size(), 1u);
    EXPECT_EQ(r.times[0], 100'000);
    EXPECT_TRUE(KeReadStateTimer(&timer));
    EXPECT_FALSE(KeCancelTimer(&timer));
}

TEST_F(Timers, AnAbsoluteDueTimeIsSystemTime)
{
    Recorder r;
    KTIMER timer;
    KDPC dpc;
    KeInitializeTimer(&timer);
    KeInitializeDpc(&dpc, RecordDpc, &r);
    LARGE_INTEGER now;
    KeQuerySystemTime(&now);
    LARGE_INTEGER due;
    due.QuadPart = now.QuadPart + 30 * 10'000;
    KeSetTimer(&timer, due, &dpc);
    AdvanceTime(50ms);
    ASSERT_EQ(r.times.size(), 1u);
    EXPECT_EQ(r.times[0], 300'000);
}

void RecordWork(PDEVICE_OBJECT, PVOID context)
{
    auto* r = static_cast<Recorder*>(context);
    r->events.push_back("work" + std::to_string(KeGetCurrentIrql()));
    IoFreeWorkItem(r->workItem);
    r->workItem = nullptr;
}

void DpcQueuingWork(PKDPC, PVOID context, PVOID, PVOID)
{
    auto* r = static_cast<Recorder*>(context);
    r->events.push_back("dpc" + std::to_string(KeGetCurrentIrql()));
    if (r->workItem == nullptr) {
        r->workItem = IoAllocateWorkItem(&r->device);
        IoQueueWorkItem(r->workItem, RecordWork, DelayedWorkQueue, r);
    }
}

TEST_F(Timers, AtEachInstantTheDpcsRunFirstThenTheWorkItemsTheyQueued)
{
    Recorder first, second;
    KTIMER t1, t2;
    KDPC d1, d2;
    KeInitializeTimer(&t1);
    KeInitializeTimer(&t2);
    KeInitializeDpc(&d1, DpcQueuingWork, &first);
    KeInitializeDpc(&d2, DpcQueuingWork, &second);
    KeSetTimerEx(&t1, Relative(2000us), 0, &d1);
    KeSetTimerEx(&t2, Relative(2000us), 0, &d2);
    std::vector<std::string>* log = &first.events;
    AdvanceTime(1ms);
    EXPECT_TRUE(log->empty());
    AdvanceTime(1ms);
    EXPECT_EQ(first.events, (std::vector<std::string>{"dpc2", "work0"}));
    EXPECT_EQ(second.events, (std::vector<std::string>{"dpc2", "work0"}));
}

TEST_F(Timers, ADpcQueuedOutsideAdvanceTimeWaitsForRunPending)
{
    Recorder r;
    KDPC dpc;
    KeInitializeDpc(&dpc, RecordDpc, &r);
    EXPECT_TRUE(KeInsertQueueDpc(&dpc, nullptr, nullptr));
    EXPECT_FALSE(KeInsertQueueDpc(&dpc, nullptr, nullptr));
    EXPECT_TRUE(r.events.empty());
    RunPending();
    EXPECT_EQ(r.events.size(), 1u);
    EXPECT_TRUE(KeInsertQueueDpc(&dpc, nullptr, nullptr));
    EXPECT_TRUE(KeRemoveQueueDpc(&dpc));
    RunPending();
    EXPECT_EQ(r.events.size(), 1u);
}

TEST_F(Timers, TheClockRoutinesReadOneClock)
{
    SetPerformanceFrequency(3'000'000);
    AdvanceTime(2500ms);
    LARGE_INTEGER frequency;
    EXPECT_EQ(KeQueryPerformanceCounter(&frequency).QuadPart, 7'500'000);
    EXPECT_EQ(frequency.QuadPart, 3'000'000);
    EXPECT_EQ(KeQueryInterruptTime(), 25'000'000u);
    LARGE_INTEGER ticks;
    KeQueryTickCount(&ticks);
    EXPECT_EQ(static_cast<ULONGLONG>(ticks.QuadPart), 25'000'000u / KeQueryTimeIncrement());

    EXPECT_EQ(TimerResolutionInForce(), 0u);
    EXPECT_EQ(ExSetTimerResolution(10'000, TRUE), 10'000u);
    EXPECT_EQ(TimerResolutionInForce(), 10'000u);
    ExSetTimerResolution(0, FALSE);
    EXPECT_EQ(TimerResolutionInForce(), 0u);
}

// The resolution stays while any set is not released, and the counts show a set released twice
// or not at all (the fixture fails a test that ends with either).
TEST_F(Timers, TimerResolutionRequestsAreCountedInPairs)
{
    ExSetTimerResolution(10'000, TRUE);
    ExSetTimerResolution(20'000, TRUE);
    EXPECT_EQ(TimerResolutionInForce(), 10'000u) << "the finest asked for";
    EXPECT_EQ(TimerResolutionRequestCounts().outstanding, 2u);
    ExSetTimerResolution(0, FALSE);
    EXPECT_EQ(TimerResolutionInForce(), 10'000u) << "one set is still there";
    EXPECT_EQ(TimerResolutionRequestCounts().outstanding, 1u);
    ExSetTimerResolution(0, FALSE);
    EXPECT_EQ(TimerResolutionInForce(), 0u);
    EXPECT_EQ(TimerResolutionRequestCounts().outstanding, 0u);
    ExSetTimerResolution(0, FALSE);
    EXPECT_EQ(TimerResolutionRequestCounts().unmatchedReleases, 1u);
    EXPECT_EQ(TimerResolutionRequestCounts().outstanding, 0u);
    ResetKernel();  // the unmatched release is this test's own
    EXPECT_EQ(TimerResolutionRequestCounts().unmatchedReleases, 0u);
}

TEST_F(Timers, FreeingPoolThatHoldsASetTimerStopsTheSystem)
{
    auto* timer =
        static_cast<PKTIMER>(ExAllocatePoolWithTag(NonPagedPool, sizeof(KTIMER), MakeTag("Tmr1")));
    KeInitializeTimer(timer);
    KeSetTimer(timer, Relative(1000us), nullptr);
    const auto stop = ExpectBugCheck([&] { ExFreePool(timer); });
    ASSERT_TRUE(stop.has_value());
    EXPECT_EQ(stop->code, kTimerOrDpcInvalid);
    KeCancelTimer(timer);
    ExFreePool(timer);
}

TEST_F(Timers, ATestEndingWithASetTimerFails)
{
    KTIMER timer;
    KeInitializeTimer(&timer);
    KeSetTimer(&timer, Relative(1000us), nullptr);
    EXPECT_NONFATAL_FAILURE(Testing::EndKernelTest(), "timer(s) still set");
}

void ReturnHoldingALock(PKDPC, PVOID context, PVOID, PVOID)
{
    KeAcquireSpinLockAtDpcLevel(static_cast<PKSPIN_LOCK>(context));
}

void WorkReturningAtDispatch(PDEVICE_OBJECT, PVOID)
{
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
}

TEST_F(Timers, RoutinesReturningAtTheWrongLevelStopTheSystem)
{
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    KDPC dpc;
    KeInitializeDpc(&dpc, ReturnHoldingALock, &lock);
    KeInsertQueueDpc(&dpc, nullptr, nullptr);
    auto stop = ExpectBugCheck([] { RunPending(); });
    ASSERT_TRUE(stop.has_value());
    EXPECT_EQ(stop->code, kDriverVerifierDetectedViolation);

    DEVICE_OBJECT device{};
    PIO_WORKITEM item = IoAllocateWorkItem(&device);
    IoQueueWorkItem(item, WorkReturningAtDispatch, CriticalWorkQueue, nullptr);
    stop = ExpectBugCheck([] { RunPending(); });
    ASSERT_TRUE(stop.has_value());
    EXPECT_NE(stop->reason.find("work item routine returned at IRQL 2"), std::string::npos);
    IoFreeWorkItem(item);
}

void Nothing(PDEVICE_OBJECT, PVOID) {}

TEST_F(Timers, WorkItemMisuseStopsTheSystem)
{
    DEVICE_OBJECT device{};
    PIO_WORKITEM item = IoAllocateWorkItem(&device);
    ASSERT_NE(item, nullptr);
    IoQueueWorkItem(item, Nothing, DelayedWorkQueue, nullptr);
    EXPECT_EQ(PendingWorkItemCount(), 1u);
    auto stop = ExpectBugCheck([&] { IoQueueWorkItem(item, Nothing, DelayedWorkQueue, nullptr); });
    ASSERT_TRUE(stop.has_value());
    stop = ExpectBugCheck([&] { IoFreeWorkItem(item); });
    ASSERT_TRUE(stop.has_value());
    RunPending();
    EXPECT_EQ(PendingWorkItemCount(), 0u);
    IoFreeWorkItem(item);

    FailAllocationsWithTag(MakeTag("IoWk"));
    EXPECT_EQ(IoAllocateWorkItem(&device), nullptr);
}

}  // namespace
