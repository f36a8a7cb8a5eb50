// Real time: the same timers, DPCs and work items run on the wall clock and stop cleanly. No
// timing is asserted, only that things happen and then stop, that a timer thread which ran late
// still fires every period at its own time, and how a refused real-time priority is told.
#include <KernelTestApi.h>
#include <wdm.h>

#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

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

// A periodic timer's DPC that holds the timer thread up once, as a busy machine does when it
// leaves the thread unscheduled, and notes the clock each period.
struct LateTimer
{
    static constexpr size_t kPeriods = 40;
    static constexpr size_t kStalledAt = 5;
    KTIMER timer;
    KDPC dpc;
    KEVENT done;
    std::vector<ULONGLONG> seen;     // the clock in each DPC
    std::vector<ULONGLONG> firedAt;  // the time the DPC was given
};

void LateDpc(PKDPC, PVOID context, PVOID argument1, PVOID argument2)
{
    auto* t = static_cast<LateTimer*>(context);
    if (t->seen.size() == LateTimer::kPeriods) {
        return;
    }
    t->seen.push_back(KeQueryInterruptTime());
    LARGE_INTEGER fired;
    fired.u.LowPart = static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(argument1));
    fired.u.HighPart = static_cast<LONG>(reinterpret_cast<ULONG_PTR>(argument2));
    LARGE_INTEGER system;
    KeQuerySystemTime(&system);
    t->firedAt.push_back(
        static_cast<ULONGLONG>(fired.QuadPart - (system.QuadPart - t->seen.back())));
    if (t->seen.size() == LateTimer::kStalledAt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    if (t->seen.size() == LateTimer::kPeriods) {
        KeSetEvent(&t->done, 0, FALSE);
    }
}

// Woken 25 periods late, the thread fires the periods it slept through one by one, each DPC
// seeing the time its period was due; the clock other threads read never runs backwards.
TEST(RealTime, ALateTimerThreadFiresEachPeriodAtItsOwnTime)
{
    Testing::BeginKernelTest();
    SetTimeMode(TimeMode::Real);
    LateTimer t;
    t.seen.reserve(LateTimer::kPeriods);
    t.firedAt.reserve(LateTimer::kPeriods);
    KeInitializeEvent(&t.done, NotificationEvent, FALSE);
    KeInitializeTimerEx(&t.timer, NotificationTimer);
    KeInitializeDpc(&t.dpc, LateDpc, &t);
    LARGE_INTEGER due;
    due.QuadPart = -10'000;
    KeSetTimerEx(&t.timer, due, 1, &t.dpc);

    ULONGLONG last = 0;
    bool backwards = false;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (KeReadStateEvent(&t.done) == 0 && std::chrono::steady_clock::now() < giveUp) {
        const ULONGLONG now = KeQueryInterruptTime();
        backwards = backwards || now < last;
        last = now;
    }
    KeCancelTimer(&t.timer);
    SetTimeMode(TimeMode::Virtual);
    ASSERT_EQ(t.seen.size(), LateTimer::kPeriods);
    EXPECT_FALSE(backwards);
    for (size_t i = 1; i < t.seen.size(); ++i) {
        EXPECT_EQ(t.seen[i] - t.seen[i - 1], 10'000u) << "period " << i;
        EXPECT_EQ(t.firedAt[i], t.seen[i]) << "period " << i;
    }
    Testing::EndKernelTest();
}

// In the death test's child: drops what lets it raise priorities, switches to real time and
// exits 0 when both the layer's threads and a client thread were refused, with their reasons.
[[noreturn]] void RunRefused()
{
    const rlimit none{0, 0};
    setrlimit(RLIMIT_RTPRIO, &none);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) == 0) {
        data[0].effective &= ~(1u << CAP_SYS_NICE);
        data[0].permitted &= ~(1u << CAP_SYS_NICE);
        data[0].inheritable &= ~(1u << CAP_SYS_NICE);
        syscall(SYS_capset, &header, data);
    }
    Testing::BeginKernelTest();
    SetTimeMode(TimeMode::Real);
    const std::string refusal = RealTimeSchedulingRefusal();
    std::string why;
    const bool raised = RaiseToRealTime(RealTimeRole::Client, &why);
    SetTimeMode(TimeMode::Virtual);
    Testing::EndKernelTest();
    std::fprintf(stderr, "refusal: %s; client: %s\n", refusal.c_str(), why.c_str());
    std::exit(!refusal.empty() && !raised && !why.empty() ? 0 : 1);
}

// Without CAP_SYS_NICE and with RLIMIT_RTPRIO 0 the scheduler refuses: the threads run at normal
// priority, the reason is kept for the host to tell, and a client thread's request fails alike.
TEST(RealTimeDeathTest, ARefusedRealTimePriorityIsToldWithItsReason)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(RunRefused(), ::testing::ExitedWithCode(0),
                "refusal: no CAP_SYS_NICE and RLIMIT_RTPRIO 0; client: no CAP_SYS_NICE and "
                "RLIMIT_RTPRIO 0");
}

}  // namespace
