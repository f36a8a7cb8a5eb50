// Real time: the same timers, DPCs and work items run on the wall clock and stop cleanly. No
// timing is asserted, only that things happen and then stop.
#include <KernelTestApi.h>
#include <wdm.h>

#include <gtest/gtest.h>

#include <atomic>

#include "KernelTestFixture.h"

namespace {

using namespace Platform::Kernel;

struct Periodic
{
    KTIMER timer;
    KDPC dpc;
    KEVENT enough;
    DEVICE_OBJECT device{};
    std::atomic<int> dpcs{0};
    std::atomic<int> works{0};
    std::atomic<bool> wrongLevel{false};
    PIO_WORKITEM item = nullptr;  // touched only by the DPC (one at a time) and the worker
    std::atomic<bool> itemBusy{false};
};

void Work(PDEVICE_OBJECT, PVOID context)
{
    auto* p = static_cast<Periodic*>(context);
    if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
        p->wrongLevel = true;
    }
    if (++p->works == 5) {
        KeSetEvent(&p->enough, 0, FALSE);
    }
    p->itemBusy = false;
}

void Dpc(PKDPC, PVOID context, PVOID, PVOID)
{
    auto* p = static_cast<Periodic*>(context);
    if (KeGetCurrentIrql() != DISPATCH_LEVEL) {
        p->wrongLevel = true;
    }
    ++p->dpcs;
    if (!p->itemBusy.exchange(true)) {
        IoQueueWorkItem(p->item, Work, DelayedWorkQueue, p);
    }
}

TEST(RealTime, TimersDpcsAndWorkItemsRunOnTheWallClockAndStop)
{
    Testing::BeginKernelTest();
    SetTimeMode(TimeMode::Real);
    Periodic p;
    p.item = IoAllocateWorkItem(&p.device);
    ASSERT_NE(p.item, nullptr);
    KeInitializeEvent(&p.enough, NotificationEvent, FALSE);
    KeInitializeTimerEx(&p.timer, NotificationTimer);
    KeInitializeDpc(&p.dpc, Dpc, &p);
    LARGE_INTEGER due;
    due.QuadPart = -10'000;
    KeSetTimerEx(&p.timer, due, 1, &p.dpc);

    LARGE_INTEGER timeout;
    timeout.QuadPart = -10LL * 10'000'000;  // generous: only a hang fails
    EXPECT_EQ(KeWaitForSingleObject(&p.enough, Executive, KernelMode, FALSE, &timeout),
              STATUS_SUCCESS);
    EXPECT_TRUE(KeCancelTimer(&p.timer));
    SetTimeMode(TimeMode::Virtual);  // joins the threads after they ran what was queued
    const int dpcs = p.dpcs;
    const int works = p.works;
    EXPECT_GE(dpcs, 5);
    EXPECT_GE(works, 5);
    EXPECT_FALSE(p.wrongLevel);

    KeSetTimerEx(&p.timer, due, 1, &p.dpc);
    KeCancelTimer(&p.timer);
    EXPECT_EQ(p.dpcs, dpcs);  // nothing runs once the threads stopped
    EXPECT_FALSE(p.itemBusy);
    IoFreeWorkItem(p.item);
    Testing::EndKernelTest();
}

}  // namespace
