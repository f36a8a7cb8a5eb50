// Deadlock detection and locks held where none may be: each rule broken on purpose, and the
// orders and contexts that must not stop the system.
#include <KernelTestApi.h>
#include <wdm.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "KernelTestFixture.h"

namespace {

using namespace Platform::Kernel;

constexpr ULONG kTag = MakeTag("VfLk");

// Locks in one pool block, as a driver keeps them in its context.
struct Locks
{
    KSPIN_LOCK first;
    KSPIN_LOCK second;
    KSPIN_LOCK third;
    KMUTEX mutexA;
    KMUTEX mutexB;
};

class VerifierLocks : public Testing::KernelTest
{
protected:
    void SetUp() override
    {
        KernelTest::SetUp();
        locks = static_cast<Locks*>(ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(Locks), kTag));
        ASSERT_NE(locks, nullptr);
        KeInitializeSpinLock(&locks->first);
        KeInitializeSpinLock(&locks->second);
        KeInitializeSpinLock(&locks->third);
        KeInitializeMutex(&locks->mutexA, 0);
        KeInitializeMutex(&locks->mutexB, 0);
    }
    void TearDown() override
    {
        ExFreePoolWithTag(locks, kTag);
        KernelTest::TearDown();
    }

    // Takes `inner` while holding `outer`, as plain or in-stack queued spin locks.
    static void Nested(PKSPIN_LOCK outer, PKSPIN_LOCK inner, bool queued)
    {
        if (queued) {
            KLOCK_QUEUE_HANDLE a, b;
            KeAcquireInStackQueuedSpinLock(outer, &a);
            KeAcquireInStackQueuedSpinLockAtDpcLevel(inner, &b);
            KeReleaseInStackQueuedSpinLockFromDpcLevel(&b);
            KeReleaseInStackQueuedSpinLock(&a);
            return;
        }
        KIRQL irql;
        KeAcquireSpinLock(outer, &irql);
        KeAcquireSpinLockAtDpcLevel(inner);
        KeReleaseSpinLockFromDpcLevel(inner);
        KeReleaseSpinLock(outer, irql);
    }

    static void Wait(KMUTEX* mutex)
    {
        KeWaitForSingleObject(mutex, Executive, KernelMode, FALSE, nullptr);
    }

    Locks* locks = nullptr;
};

void ExpectRule(const std::optional<BugCheckInfo>& stop, ULONG_PTR rule, const char* name)
{
    ASSERT_TRUE(stop.has_value()) << "no stop for " << name;
    EXPECT_EQ(stop->code, kDriverVerifierDetectedViolation);
    EXPECT_EQ(stop->parameters[0], rule);
    EXPECT_EQ(stop->reason.rfind(name, 0), 0u) << stop->reason;
}

TEST_F(VerifierLocks, ReversedSpinLockOrderStopsNamingBothLocksAndBothCalls)
{
    for (bool queued : {false, true}) {
        SCOPED_TRACE(queued ? "in-stack queued" : "plain");
        KeInitializeSpinLock(&locks->first);  // forgets the order of the previous round
        KeInitializeSpinLock(&locks->second);
        Nested(&locks->first, &locks->second, queued);
        Nested(&locks->first, &locks->second, queued);  // the same order again is fine
        const auto stop = ExpectBugCheck([&] { Nested(&locks->second, &locks->first, !queued); });
        ExpectRule(stop, kRuleLockOrder, "deadlock detection");
        const std::string& reason = stop->reason;
        EXPECT_NE(reason.find("offset 0x0 of a pool block tagged 'VfLk'"), std::string::npos)
            << reason;
        EXPECT_NE(reason.find("offset 0x8 of a pool block tagged 'VfLk'"), std::string::npos);
        // Both edges are named by the call that took them: both are in this file.
        size_t calls = 0;
        for (size_t at = reason.find("VerifierLockTest.cpp"); at != std::string::npos;
             at = reason.find("VerifierLockTest.cpp", at + 1)) {
            ++calls;
        }
        EXPECT_GE(calls, 2u) << reason;
        EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    }
}

TEST_F(VerifierLocks, ACycleThroughThreeLocksAndTheCancelSpinLockStops)
{
    Nested(&locks->first, &locks->second, false);
    Nested(&locks->second, &locks->third, true);
    const auto stop = ExpectBugCheck([&] { Nested(&locks->third, &locks->first, false); });
    ExpectRule(stop, kRuleLockOrder, "deadlock detection");
    EXPECT_NE(stop->reason.find("offset 0x10"), std::string::npos) << stop->reason;
    KeInitializeSpinLock(&locks->third);  // the stop left it taken

    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    KeAcquireSpinLockAtDpcLevel(&locks->third);
    KeReleaseSpinLockFromDpcLevel(&locks->third);
    IoReleaseCancelSpinLock(irql);
    const auto cancel = ExpectBugCheck([&] {
        KeAcquireSpinLock(&locks->third, &irql);
        IoAcquireCancelSpinLock(&irql);
    });
    ExpectRule(cancel, kRuleLockOrder, "deadlock detection");
    EXPECT_NE(cancel->reason.find("the cancel spin lock"), std::string::npos) << cancel->reason;
}

TEST_F(VerifierLocks, ReversedMutexOrderStopsBeforeWaiting)
{
    Wait(&locks->mutexA);
    Wait(&locks->mutexB);
    KeReleaseMutex(&locks->mutexB, FALSE);
    KeReleaseMutex(&locks->mutexA, FALSE);
    Wait(&locks->mutexB);
    const auto stop = ExpectBugCheck([&] { Wait(&locks->mutexA); });
    ExpectRule(stop, kRuleLockOrder, "deadlock detection");
    EXPECT_NE(stop->reason.find("mutex at offset 0x18"), std::string::npos) << stop->reason;
    EXPECT_EQ(KeReadStateMutex(&locks->mutexA), 1) << "the stop came before the wait";
    KeReleaseMutex(&locks->mutexB, FALSE);
}

TEST_F(VerifierLocks, OrdersThatCannotDeadlockDoNotStop)
{
    // A poll cannot block: it adds no order.
    Wait(&locks->mutexB);
    LARGE_INTEGER zero{};
    ASSERT_EQ(KeWaitForSingleObject(&locks->mutexA, Executive, KernelMode, FALSE, &zero),
              STATUS_SUCCESS);
    KeReleaseMutex(&locks->mutexA, FALSE);
    KeReleaseMutex(&locks->mutexB, FALSE);
    // A recursive acquisition is no new order.
    Wait(&locks->mutexA);
    Wait(&locks->mutexB);
    Wait(&locks->mutexA);
    KeReleaseMutex(&locks->mutexA, FALSE);
    KeReleaseMutex(&locks->mutexB, FALSE);
    KeReleaseMutex(&locks->mutexA, FALSE);
    // Initialised again: its old order is forgotten.
    Nested(&locks->first, &locks->second, false);
    KeInitializeSpinLock(&locks->first);
    Nested(&locks->second, &locks->first, false);
    EXPECT_EQ(LockOrderEdgeCount(), 2u);
}

TEST_F(VerifierLocks, AnOrderSeenBeforeIsCheckedAgainOnceALockWasForgotten)
{
    // Taken often enough in one order that the thread knows it without asking the graph.
    for (int i = 0; i < 3; ++i) {
        Nested(&locks->first, &locks->second, true);
    }
    KeInitializeSpinLock(&locks->first);
    Nested(&locks->second, &locks->first, true);  // a new lock at that address: no cycle yet
    const auto stop = ExpectBugCheck([&] { Nested(&locks->first, &locks->second, true); });
    ExpectRule(stop, kRuleLockOrder, "deadlock detection");
}

TEST_F(VerifierLocks, ALockReleasedBeforeTheOneTakenAfterItOrdersNothingTakenLater)
{
    // first, then second; first released while second is still held; then third.
    KLOCK_QUEUE_HANDLE first, second, third;
    KeAcquireInStackQueuedSpinLock(&locks->first, &first);
    KeAcquireInStackQueuedSpinLockAtDpcLevel(&locks->second, &second);
    KeReleaseInStackQueuedSpinLockFromDpcLevel(&first);
    KeAcquireInStackQueuedSpinLockAtDpcLevel(&locks->third, &third);
    KeReleaseInStackQueuedSpinLockFromDpcLevel(&third);
    KeReleaseInStackQueuedSpinLockFromDpcLevel(&second);
    KeLowerIrql(first.OldIrql);
    EXPECT_EQ(LockOrderEdgeCount(), 2u) << "first -> second and second -> third only";
    const auto stop = ExpectBugCheck([&] { Nested(&locks->third, &locks->second, true); });
    ExpectRule(stop, kRuleLockOrder, "deadlock detection");
}

TEST_F(VerifierLocks, FreeingTheBlockForgetsTheOrderOfItsLocks)
{
    auto* other = static_cast<Locks*>(ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(Locks), kTag));
    ASSERT_NE(other, nullptr);
    KeInitializeSpinLock(&other->first);
    Nested(&locks->first, &other->first, false);
    Nested(&other->first, &locks->second, false);
    EXPECT_EQ(LockOrderEdgeCount(), 2u);
    ExFreePoolWithTag(other, kTag);
    EXPECT_EQ(LockOrderEdgeCount(), 0u);
}

struct WorkContext
{
    KMUTEX* mutex;
    bool release;
};

void TakeMutexWork(PDEVICE_OBJECT, PVOID context)
{
    auto* work = static_cast<WorkContext*>(context);
    KeWaitForSingleObject(work->mutex, Executive, KernelMode, FALSE, nullptr);
    if (work->release) {
        KeReleaseMutex(work->mutex, FALSE);
    }
}

TEST_F(VerifierLocks, AWorkItemRunInsideAWaitDoesNotInheritTheWaitersLocks)
{
    DRIVER_OBJECT driver{};
    DEVICE_OBJECT device{};
    device.DriverObject = &driver;
    PIO_WORKITEM item = IoAllocateWorkItem(&device);
    ASSERT_NE(item, nullptr);
    WorkContext work{&locks->mutexB, true};
    Wait(&locks->mutexA);
    IoQueueWorkItem(item, &TakeMutexWork, DelayedWorkQueue, &work);
    LARGE_INTEGER interval;
    interval.QuadPart = -10'000;
    // A wait of a mutex holder runs no work item (a worker would block on the mutex); the item
    // runs on this thread once A is released, in a context of its own.
    KeDelayExecutionThread(KernelMode, FALSE, &interval);
    KeReleaseMutex(&locks->mutexA, FALSE);
    RunPending();
    // On a real system the item ran on a worker thread: B then A is no reversal.
    Wait(&locks->mutexB);
    EXPECT_FALSE(ExpectBugCheck([&] { Wait(&locks->mutexA); }).has_value());
    KeReleaseMutex(&locks->mutexA, FALSE);
    KeReleaseMutex(&locks->mutexB, FALSE);
    IoFreeWorkItem(item);
}

TEST_F(VerifierLocks, AWorkItemThatReturnsHoldingAMutexStops)
{
    DRIVER_OBJECT driver{};
    DEVICE_OBJECT device{};
    device.DriverObject = &driver;
    PIO_WORKITEM item = IoAllocateWorkItem(&device);
    ASSERT_NE(item, nullptr);
    WorkContext work{&locks->mutexA, false};
    IoQueueWorkItem(item, &TakeMutexWork, DelayedWorkQueue, &work);
    const auto stop = ExpectBugCheck([] { RunPending(); });
    ExpectRule(stop, kRuleLockHeld, "lock held");
    EXPECT_NE(stop->reason.find("work item routine"), std::string::npos) << stop->reason;
    EXPECT_NE(stop->reason.find("VerifierLockTest.cpp:"), std::string::npos) << stop->reason;
    IoFreeWorkItem(item);
    KeInitializeMutex(&locks->mutexA, 0);  // the stopped routine's mutex: start it afresh
}

KMUTEX* g_dispatchMutex = nullptr;

NTSTATUS DispatchTakingMutex(PDEVICE_OBJECT, PIRP irp)
{
    KeWaitForSingleObject(g_dispatchMutex, Executive, KernelMode, FALSE, nullptr);
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

NTSTATUS KeepIrp(PDEVICE_OBJECT, PIRP, PVOID)
{
    return STATUS_MORE_PROCESSING_REQUIRED;
}

TEST_F(VerifierLocks, ADispatchRoutineThatReturnsHoldingAMutexStops)
{
    DRIVER_OBJECT driver{};
    driver.MajorFunction[IRP_MJ_DEVICE_CONTROL] = &DispatchTakingMutex;
    DEVICE_OBJECT device{};
    device.DriverObject = &driver;
    device.StackSize = 1;
    g_dispatchMutex = &locks->mutexA;
    PIRP irp = IoAllocateIrp(1, FALSE);
    ASSERT_NE(irp, nullptr);
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_DEVICE_CONTROL;
    IoSetCompletionRoutine(irp, &KeepIrp, nullptr, TRUE, TRUE, TRUE);
    const auto stop = ExpectBugCheck([&] { IoCallDriver(&device, irp); });
    ExpectRule(stop, kRuleLockHeld, "lock held");
    EXPECT_NE(stop->reason.find("dispatch routine"), std::string::npos) << stop->reason;
    EXPECT_NE(stop->reason.find("VerifierLockTest.cpp:"), std::string::npos) << stop->reason;
    KeReleaseMutex(&locks->mutexA, FALSE);
    IoFreeIrp(irp);
}

TEST_F(VerifierLocks, AMutexHeldAtTheEndOfATestStops)
{
    EXPECT_FALSE(ExpectBugCheck(&CheckNoMutexHeld).has_value());
    Wait(&locks->mutexB);
    const auto stop = ExpectBugCheck(&CheckNoMutexHeld);
    ExpectRule(stop, kRuleLockHeld, "lock held");
    EXPECT_NE(stop->reason.find("at the end of the test"), std::string::npos) << stop->reason;
    EXPECT_NE(stop->reason.find("offset 0x30"), std::string::npos) << stop->reason;
    KeReleaseMutex(&locks->mutexB, FALSE);
    EXPECT_FALSE(ExpectBugCheck(&CheckNoMutexHeld).has_value());
}

TEST_F(VerifierLocks, ReleaseRemoveLockAndWaitHoldingALockStops)
{
    IO_REMOVE_LOCK removeLock;
    IoInitializeRemoveLock(&removeLock, kTag, 0, 0);
    ASSERT_EQ(IoAcquireRemoveLock(&removeLock, nullptr), STATUS_SUCCESS);
    Wait(&locks->mutexA);
    const auto stop = ExpectBugCheck([&] { IoReleaseRemoveLockAndWait(&removeLock, nullptr); });
    ExpectRule(stop, kRuleLockHeld, "lock held");
    EXPECT_NE(stop->reason.find("IoReleaseRemoveLockAndWait"), std::string::npos);
    KeReleaseMutex(&locks->mutexA, FALSE);
    IoReleaseRemoveLockAndWait(&removeLock, nullptr);
}

TEST(VerifierFixture, TheEndOfATestReportsAMutexStillHeld)
{
    static KMUTEX mutex;
    Testing::BeginKernelTest();
    KeInitializeMutex(&mutex, 0);
    KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr);
    EXPECT_NONFATAL_FAILURE(Testing::EndKernelTest(), "still held at the end of the test");
}

}  // namespace
