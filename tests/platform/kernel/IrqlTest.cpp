// IRQL tracking per thread, spin locks and the checks that stop misuse.
#include <KernelTestApi.h>
#include <wdm.h>

#include <gtest/gtest.h>

#include "KernelTestFixture.h"

namespace {

using namespace Platform::Kernel;

class Irql : public Testing::KernelTest
{
};

TEST_F(Irql, SpinLocksRaiseToDispatchAndRestoreTheCallersLevel)
{
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    KIRQL old;
    KeAcquireSpinLock(&lock, &old);
    EXPECT_EQ(old, PASSIVE_LEVEL);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);

    KSPIN_LOCK inner;
    KeInitializeSpinLock(&inner);
    KLOCK_QUEUE_HANDLE handle;
    KeAcquireInStackQueuedSpinLock(&inner, &handle);
    EXPECT_EQ(handle.OldIrql, DISPATCH_LEVEL);
    KeReleaseInStackQueuedSpinLock(&handle);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);

    KeReleaseSpinLock(&lock, old);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    EXPECT_EQ(lock, 0u);
}

struct Misuse
{
    const char* name;
    ULONG code;
    void (*run)();
};

void PrintTo(const Misuse& c, std::ostream* out)
{
    *out << c.name;
}

KSPIN_LOCK g_lock;

const Misuse kMisuses[] = {
    {"SpinLockTakenTwiceOnOneThread", kSpinLockAlreadyOwned,
     [] {
         KeInitializeSpinLock(&g_lock);
         KIRQL a, b;
         KeAcquireSpinLock(&g_lock, &a);
         KeAcquireSpinLock(&g_lock, &b);
     }},
    {"InStackLockTakenTwice", kSpinLockAlreadyOwned,
     [] {
         KeInitializeSpinLock(&g_lock);
         KLOCK_QUEUE_HANDLE a, b;
         KeAcquireInStackQueuedSpinLock(&g_lock, &a);
         KeAcquireInStackQueuedSpinLock(&g_lock, &b);
     }},
    {"ReleaseOfALockNotHeld", kSpinLockNotOwned,
     [] {
         KeInitializeSpinLock(&g_lock);
         KeReleaseSpinLock(&g_lock, PASSIVE_LEVEL);
     }},
    {"InStackHandleReleasedTwice", kSpinLockNotOwned,
     [] {
         KeInitializeSpinLock(&g_lock);
         KLOCK_QUEUE_HANDLE handle;
         KeAcquireInStackQueuedSpinLock(&g_lock, &handle);
         KeReleaseInStackQueuedSpinLock(&handle);
         KeReleaseInStackQueuedSpinLock(&handle);
     }},
    {"QueuedLockReleasedAsPlain", kSpinLockNotOwned,
     [] {
         KeInitializeSpinLock(&g_lock);
         KLOCK_QUEUE_HANDLE handle;
         KeAcquireInStackQueuedSpinLock(&g_lock, &handle);
         KeReleaseSpinLock(&g_lock, handle.OldIrql);
     }},
    {"PlainLockReleasedAsQueued", kSpinLockNotOwned,
     [] {
         KeInitializeSpinLock(&g_lock);
         KIRQL old;
         KeAcquireSpinLock(&g_lock, &old);
         KLOCK_QUEUE_HANDLE handle;
         handle.LockQueue.Next = nullptr;
         handle.LockQueue.Lock = &g_lock;
         handle.OldIrql = old;
         KeReleaseInStackQueuedSpinLock(&handle);
     }},
    {"AtDpcLevelReleaseAtPassive", kIrqlNotGreaterOrEqual,
     [] {
         KeInitializeSpinLock(&g_lock);
         KeReleaseSpinLockFromDpcLevel(&g_lock);
     }},
    {"AtDpcLevelAcquireAtPassive", kIrqlNotGreaterOrEqual,
     [] {
         KeInitializeSpinLock(&g_lock);
         KeAcquireSpinLockAtDpcLevel(&g_lock);
     }},
    {"RaiseToALowerLevel", kIrqlNotGreaterOrEqual,
     [] {
         KIRQL old;
         KeRaiseIrql(DISPATCH_LEVEL, &old);
         KeRaiseIrql(PASSIVE_LEVEL, &old);
     }},
    {"LowerToAHigherLevel", kIrqlNotLessOrEqual, [] { KeLowerIrql(DISPATCH_LEVEL); }},
    {"LowerToPassiveHoldingALock", kDriverVerifierDetectedViolation,
     [] {
         KeInitializeSpinLock(&g_lock);
         KIRQL old;
         KeAcquireSpinLock(&g_lock, &old);
         KeLowerIrql(PASSIVE_LEVEL);
     }},
};

class IrqlMisuse : public Irql, public testing::WithParamInterface<Misuse>
{
};

TEST_P(IrqlMisuse, StopsTheSystemAndExpectBugCheckRestoresTheLevel)
{
    const auto stop = ExpectBugCheck(GetParam().run);
    ASSERT_TRUE(stop.has_value());
    EXPECT_EQ(stop->code, GetParam().code) << stop->Describe();
    EXPECT_FALSE(stop->reason.empty());
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

INSTANTIATE_TEST_SUITE_P(Cases, IrqlMisuse, testing::ValuesIn(kMisuses),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Irql, InterlockedPointerCompareExchangeSwapsOnlyOnMatch)
{
    int a = 0, b = 0;
    PVOID slot = &a;
    EXPECT_EQ(InterlockedCompareExchangePointer(&slot, &b, &b), &a);
    EXPECT_EQ(slot, &a);
    EXPECT_EQ(InterlockedCompareExchangePointer(&slot, &b, &a), &a);
    EXPECT_EQ(slot, &b);
    LONG value = 5;
    EXPECT_EQ(InterlockedCompareExchange(&value, 9, 4), 5);
    EXPECT_EQ(InterlockedCompareExchange(&value, 9, 5), 5);
    EXPECT_EQ(value, 9);
    EXPECT_EQ(InterlockedIncrement(&value), 10);
    EXPECT_EQ(InterlockedExchange(&value, 1), 10);
}

}  // namespace
