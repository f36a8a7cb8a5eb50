// Events, mutexes and waits on virtual time.
#include <KernelTestApi.h>
#include <wdm.h>

#include <gtest/gtest.h>

#include "KernelTestFixture.h"

namespace {

using namespace Platform::Kernel;
using namespace std::chrono_literals;

LARGE_INTEGER Relative(LONGLONG ms)
{
    LARGE_INTEGER due;
    due.QuadPart = -ms * 10'000;
    return due;
}

class Waits : public Testing::KernelTest
{
};

TEST_F(Waits, ANotificationEventStaysSignalledASynchronizationEventResetsOnAWait)
{
    KEVENT notification, synchronization;
    KeInitializeEvent(&notification, NotificationEvent, FALSE);
    KeInitializeEvent(&synchronization, SynchronizationEvent, TRUE);
    LARGE_INTEGER poll{};
    EXPECT_EQ(KeWaitForSingleObject(&notification, Executive, KernelMode, FALSE, &poll),
              STATUS_TIMEOUT);
    EXPECT_EQ(KeSetEvent(&notification, 0, FALSE), 0);
    EXPECT_EQ(KeSetEvent(&notification, 0, FALSE), 1);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(KeWaitForSingleObject(&notification, Executive, KernelMode, FALSE, nullptr),
                  STATUS_SUCCESS);
    }
    EXPECT_EQ(KeReadStateEvent(&notification), 1);
    KeClearEvent(&notification);
    EXPECT_EQ(KeReadStateEvent(&notification), 0);

    EXPECT_EQ(KeWaitForSingleObject(&synchronization, Executive, KernelMode, FALSE, &poll),
              STATUS_SUCCESS);
    EXPECT_EQ(KeReadStateEvent(&synchronization), 0);
    EXPECT_EQ(KeWaitForSingleObject(&synchronization, Executive, KernelMode, FALSE, &poll),
              STATUS_TIMEOUT);
}

TEST_F(Waits, ATimeoutLetsExactlyThatMuchVirtualTimePass)
{
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    LARGE_INTEGER timeout = Relative(250);
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &timeout),
              STATUS_TIMEOUT);
    EXPECT_EQ(InterruptTime100ns(), 2'500'000);
    LARGE_INTEGER delay = Relative(40);
    EXPECT_EQ(KeDelayExecutionThread(KernelMode, FALSE, &delay), STATUS_SUCCESS);
    EXPECT_EQ(InterruptTime100ns(), 2'900'000);
}

void SetEventDpc(PKDPC, PVOID context, PVOID, PVOID)
{
    KeSetEvent(static_cast<PKEVENT>(context), 0, FALSE);
}

TEST_F(Waits, AWaitRunsTheTimersThatSatisfyIt)
{
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    KTIMER timer;
    KDPC dpc;
    KeInitializeTimer(&timer);
    KeInitializeDpc(&dpc, SetEventDpc, &event);
    KeSetTimer(&timer, Relative(30), &dpc);
    LARGE_INTEGER timeout = Relative(100);
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &timeout),
              STATUS_SUCCESS);
    EXPECT_EQ(InterruptTime100ns(), 300'000);
}

TEST_F(Waits, WaitingWithATimeoutAtDispatchLevelStopsTheSystem)
{
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, TRUE);
    const auto stop = ExpectBugCheck([&] {
        KIRQL old;
        KeRaiseIrql(DISPATCH_LEVEL, &old);
        LARGE_INTEGER poll{};
        EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &poll),
                  STATUS_SUCCESS);
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
    });
    ASSERT_TRUE(stop.has_value());
    EXPECT_EQ(stop->code, kIrqlNotLessOrEqual);
    EXPECT_NE(stop->reason.find("KeWaitForSingleObject"), std::string::npos);
}

TEST_F(Waits, AWaitNothingCanSatisfyStopsTheSystemNamingTheObject)
{
    SetDeadlockWatchdog(10ms);
    KEVENT event;
    KeInitializeEvent(&event, SynchronizationEvent, FALSE);
    const auto stop = ExpectBugCheck(
        [&] { KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr); });
    ASSERT_TRUE(stop.has_value());
    EXPECT_EQ(stop->code, kDeadlockDetected);
    EXPECT_NE(stop->reason.find("synchronization event"), std::string::npos) << stop->reason;
}

}  // namespace

namespace {

struct MutexWork
{
    DEVICE_OBJECT device{};
    PIO_WORKITEM item = nullptr;
    KMUTEX* mutex = nullptr;
    bool holderWaiting = false;
    bool ranWhileHolderWaited = false;
    bool ran = false;
};

void TakeTheMutex(PDEVICE_OBJECT, PVOID context)
{
    auto* work = static_cast<MutexWork*>(context);
    KeWaitForSingleObject(work->mutex, Executive, KernelMode, FALSE, nullptr);
    work->ranWhileHolderWaited = work->holderWaiting;
    work->ran = true;
    KeReleaseMutex(work->mutex, FALSE);
}

}  // namespace

// A worker thread would block on the mutex until its holder is done; run inline inside the
// holder's wait, the work item would take the mutex as its owner and run under it.
TEST_F(Waits, AThreadHoldingAMutexRunsNoWorkItemWhileItWaits)
{
    KMUTEX mutex;
    KeInitializeMutex(&mutex, 0);
    MutexWork work;
    work.mutex = &mutex;
    work.item = IoAllocateWorkItem(&work.device);
    ASSERT_NE(work.item, nullptr);
    KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr);
    IoQueueWorkItem(work.item, TakeTheMutex, DelayedWorkQueue, &work);
    work.holderWaiting = true;
    LARGE_INTEGER delay = Relative(10);
    KeDelayExecutionThread(KernelMode, FALSE, &delay);
    work.holderWaiting = false;
    KeReleaseMutex(&mutex, FALSE);
    EXPECT_FALSE(work.ran);
    RunPending();
    EXPECT_TRUE(work.ran);
    EXPECT_FALSE(work.ranWhileHolderWaited);
    IoFreeWorkItem(work.item);
}
