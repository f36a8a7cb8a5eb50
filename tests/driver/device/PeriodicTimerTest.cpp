// The periodic timer: the owner's callback at PASSIVE_LEVEL from a work item, tied to the
// device's state and remove lock.
#include "device/PeriodicTimer.h"

#include <gtest/gtest.h>

#include <vector>

#include "DeviceFixture.h"

namespace {

using namespace Platform::Kernel;
using namespace std::chrono_literals;

struct Calls
{
    int count = 0;
    std::vector<KIRQL> irqls;
    std::vector<LONGLONG> times;
    LONGLONG busyFor100ns = 0;  // how long each call blocks
    size_t mostWorkItemsSeen = 0;
    size_t mostHoldersSeen = 0;
    PIO_REMOVE_LOCK lock = nullptr;
};

void OnPeriod(PVOID argument)
{
    auto* calls = static_cast<Calls*>(argument);
    ++calls->count;
    calls->irqls.push_back(KeGetCurrentIrql());
    calls->times.push_back(InterruptTime100ns());
    if (calls->busyFor100ns != 0) {
        LARGE_INTEGER delay;
        delay.QuadPart = -calls->busyFor100ns;
        KeDelayExecutionThread(KernelMode, FALSE, &delay);  // timers keep firing meanwhile
    }
    calls->mostWorkItemsSeen = std::max(calls->mostWorkItemsSeen, PendingWorkItemCount());
    calls->mostHoldersSeen =
        std::max(calls->mostHoldersSeen, RemoveLockHolders(calls->lock).size());
}

class PeriodicTimerTest : public DeviceFixture
{
protected:
    void SetUp() override
    {
        DeviceFixture::SetUp();
        calls_.lock = &context_.removeLock;
        ConstructPeriodicTimer(&timer_, Link(), 750, OnPeriod, &calls_);
    }

    void TearDown() override
    {
        timer_.StopTimer();
        DeviceFixture::TearDown();
    }

    PeriodicTimer timer_;
    Calls calls_;
};

TEST_F(PeriodicTimerTest, TheCallbackRunsAtPassiveLevelFromAWorkItemEachPeriod)
{
    EXPECT_FALSE(timer_.StartTimer(0));  // answers KeSetTimerEx: not set before
    EXPECT_EQ(Holders(), 1u);
    AdvanceTime(3000ms);
    ASSERT_EQ(calls_.count, 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(calls_.irqls[i], PASSIVE_LEVEL);
        EXPECT_EQ(calls_.times[i], (i + 1) * 7'500'000LL);
    }
    EXPECT_EQ(Holders(), 1u);
    timer_.StopTimer();
    EXPECT_EQ(Holders(), 0u);
    AdvanceTime(3000ms);
    EXPECT_EQ(calls_.count, 4);
}

TEST_F(PeriodicTimerTest, StartingWithAPeriodReplacesItAndStartingARunningTimerReArmsIt)
{
    timer_.StartTimer(10);
    EXPECT_TRUE(timer_.StartTimer(20));  // already set
    EXPECT_EQ(Holders(), 1u);
    AdvanceTime(100ms);
    EXPECT_EQ(calls_.count, 5);
    timer_.StopTimer();
    timer_.StartTimer(0);  // the stored period: 20 ms
    AdvanceTime(40ms);
    EXPECT_EQ(calls_.count, 7);
}

TEST_F(PeriodicTimerTest, SetTimerCallbackReplacesCallbackAndArgument)
{
    Calls other;
    other.lock = &context_.removeLock;
    timer_.SetTimerCallback(OnPeriod, &other);
    timer_.StartTimer(1);
    AdvanceTime(3ms);
    EXPECT_EQ(calls_.count, 0);
    EXPECT_EQ(other.count, 3);
}

TEST_F(PeriodicTimerTest, StopOnAStoppedTimerDoesNothingAndReleasesNothing)
{
    ASSERT_TRUE(TryAcquireRemoveLock(&context_));  // someone else's reference
    timer_.StopTimer();
    timer_.StopTimer();
    EXPECT_EQ(Holders(), 1u);
    ReleaseRemoveLock(&context_);
}

TEST_F(PeriodicTimerTest, AnExpiryWhileStopPendingQueuesNoWorkItem)
{
    timer_.StartTimer(0);
    SetPnpState(&context_, kPnpStopPending);
    const uint64_t allocations = AllocationCount();
    AdvanceTime(1500ms);
    EXPECT_EQ(AllocationCount(), allocations);  // neither packet nor work item
    EXPECT_EQ(calls_.count, 0);
    EXPECT_EQ(Holders(), 1u);
}

void StopTimerDpc(PKDPC, PVOID context, PVOID, PVOID)
{
    static_cast<PeriodicTimer*>(context)->StopTimer();
}

TEST_F(PeriodicTimerTest, AWorkItemRunningAfterStopDoesNotCallTheOwnerButReleasesItsReference)
{
    timer_.StartTimer(10);
    // A second timer due at the same instant, set later, so its DPC runs after the periodic
    // timer's DPC queued the work item and before that work item runs.
    KTIMER stopper;
    KDPC stopperDpc;
    RunDpcIn(&stopper, &stopperDpc, StopTimerDpc, &timer_, 10);
    AdvanceTime(10ms);
    EXPECT_EQ(calls_.count, 0);
    EXPECT_EQ(Holders(), 0u);
    EXPECT_EQ(PendingWorkItemCount(), 0u);
}

TEST_F(PeriodicTimerTest, StartFailsAndStaysUnarmedOnceRemovalBegan)
{
    ASSERT_TRUE(TryAcquireRemoveLock(&context_));
    IoReleaseRemoveLockAndWait(&context_.removeLock, nullptr);
    EXPECT_FALSE(timer_.StartTimer(10));
    EXPECT_EQ(ArmedTimerCount(), 0u);
}

TEST_F(PeriodicTimerTest, ACallbackSlowerThanThePeriodLeavesAtMostOneWorkItemInFlight)
{
    calls_.busyFor100ns = 5 * 10'000;  // 5 ms per call, period 1 ms
    timer_.StartTimer(1);
    AdvanceTime(100ms);
    EXPECT_GT(calls_.count, 10);
    EXPECT_LE(calls_.count, 20);
    EXPECT_EQ(calls_.mostWorkItemsSeen, 0u);  // nothing queued behind the running one
    EXPECT_LE(calls_.mostHoldersSeen, 2u);    // the armed timer and the running work item
}

struct Failure
{
    const char* name;
    ULONG tag;
};

void PrintTo(const Failure& c, std::ostream* out)
{
    *out << c.name;
}

class PeriodicTimerAllocationFailure : public PeriodicTimerTest,
                                       public testing::WithParamInterface<Failure>
{
};

TEST_P(PeriodicTimerAllocationFailure, SkipsTheExpiryAndGivesTheReferenceBack)
{
    timer_.StartTimer(10);
    FailAllocationsWithTag(GetParam().tag);
    AdvanceTime(30ms);
    EXPECT_EQ(calls_.count, 0);
    EXPECT_EQ(Holders(), 1u);
    ClearAllocationFailures();
    AdvanceTime(10ms);
    EXPECT_EQ(calls_.count, 1);
}

const Failure kFailures[] = {
    {"Packet", kTagTimerWork},
    {"WorkItem", MakeTag("IoWk")},
};

INSTANTIATE_TEST_SUITE_P(Cases, PeriodicTimerAllocationFailure, testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

struct Removal
{
    DeviceContext* context;
    PeriodicTimer* timer;
    Calls* calls;
    PIO_WORKITEM item;
    int callsWhenRemoveReturned = -1;
    int holdersWhenRemoveReturned = -1;
};

void RemoveWork(PDEVICE_OBJECT, PVOID argument)
{
    auto* removal = static_cast<Removal*>(argument);
    ASSERT_TRUE(TryAcquireRemoveLock(removal->context));
    IoReleaseRemoveLockAndWait(&removal->context->removeLock, nullptr);
    removal->holdersWhenRemoveReturned =
        static_cast<int>(RemoveLockHolders(&removal->context->removeLock).size());
    IoFreeWorkItem(removal->item);
}

void StopAndQueueRemoveDpc(PKDPC, PVOID argument, PVOID, PVOID)
{
    auto* removal = static_cast<Removal*>(argument);
    removal->timer->StopTimer();
    IoQueueWorkItem(removal->item, RemoveWork, CriticalWorkQueue, removal);
}

TEST_F(PeriodicTimerTest, RemoveWaitsForTheWorkItemOfTheLastExpiry)
{
    Removal removal{&context_, &timer_, &calls_, IoAllocateWorkItem(&fdo_)};
    timer_.StartTimer(10);
    KTIMER stopper;
    KDPC stopperDpc;
    RunDpcIn(&stopper, &stopperDpc, StopAndQueueRemoveDpc, &removal, 10);
    AdvanceTime(10ms);
    // The critical work item (Remove) ran first and waited; the wait ran the expiry's work item.
    EXPECT_EQ(removal.holdersWhenRemoveReturned, 0);
    EXPECT_EQ(PendingWorkItemCount(), 0u);
}

TEST_F(PeriodicTimerTest, RemoveWithTheTimerStillArmedFailsNamingTheTimer)
{
    SetDeadlockWatchdog(10ms);
    timer_.StartTimer(750);
    ASSERT_TRUE(TryAcquireRemoveLock(&context_));
    const auto stop =
        ExpectBugCheck([&] { IoReleaseRemoveLockAndWait(&context_.removeLock, nullptr); });
    ASSERT_TRUE(stop.has_value());
    EXPECT_EQ(stop->code, kDeadlockDetected);
    EXPECT_NE(stop->reason.find("PeriodicTimer.cpp"), std::string::npos) << stop->reason;
    timer_.StopTimer();
}

}  // namespace
