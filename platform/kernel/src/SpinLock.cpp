// Spin locks hold their owner's thread identity, so a second acquisition on the owning thread and
// a release by another thread are caught instead of hanging or corrupting.
#include <KernelTestApi.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "KernelInternal.h"
#include "LockOrderTable.h"
#include "Verifier.h"

using namespace Platform::Kernel;

namespace {

// The stops are out of line: their text would otherwise be built in every inlined acquisition.
[[noreturn, gnu::noinline, gnu::cold]] void TakenTwice(PKSPIN_LOCK spinLock)
{
    Internal::Violation(kSpinLockAlreadyOwned,
                        "spin lock taken a second time by the thread that holds it",
                        reinterpret_cast<ULONG_PTR>(spinLock));
}

[[noreturn, gnu::noinline, gnu::cold]] void ReleasedByOther(PKSPIN_LOCK spinLock)
{
    if (spinLock == nullptr) {
        Internal::Violation(kSpinLockNotOwned, "spin lock handle released twice");
    }
    Internal::Violation(kSpinLockNotOwned, "spin lock released by a thread that does not hold it",
                        reinterpret_cast<ULONG_PTR>(spinLock));
}

// A holder here, unlike on Windows, can be preempted: when it is, and the waiter runs at a
// real-time priority above it, yielding hands the processor to nobody that could release the
// lock. After a short spin the waiter sleeps, so the holder can run where the waiter was.
[[gnu::noinline]] void WaitForLock(std::atomic_ref<KSPIN_LOCK> lock, ULONG_PTR self)
{
    constexpr int kYields = 64;
    for (int tries = 0;; ++tries) {
        if (tries < kYields) {
            std::this_thread::yield();
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
        KSPIN_LOCK expected = 0;
        if (lock.compare_exchange_weak(expected, self, std::memory_order_acquire,
                                       std::memory_order_relaxed)) {
            return;
        }
    }
}

// Inline in every acquisition service with the verifier's table: the driver's locks are taken
// tens of times per streaming period.
[[gnu::always_inline]] inline void Take(PKSPIN_LOCK spinLock, Internal::LockKind kind, void* caller)
{
    const ULONG_PTR self = Internal::CurrentThreadId();
    std::atomic_ref<KSPIN_LOCK> lock(*spinLock);
    if (lock.load(std::memory_order_relaxed) == self) [[unlikely]] {
        TakenTwice(spinLock);
    }
    Internal::TakingSpinLock(spinLock, kind, caller);
    KSPIN_LOCK expected = 0;
    if (!lock.compare_exchange_strong(expected, self, std::memory_order_acquire,
                                      std::memory_order_relaxed)) [[unlikely]] {
        WaitForLock(lock, self);
    }
    Internal::CountSpinLock(+1);
}

[[gnu::always_inline]] inline void Give(PKSPIN_LOCK spinLock, Internal::LockKind kind)
{
    if (spinLock == nullptr ||
        std::atomic_ref<KSPIN_LOCK>(*spinLock).load(std::memory_order_relaxed) !=
            Internal::CurrentThreadId()) [[unlikely]] {
        ReleasedByOther(spinLock);
    }
    std::atomic_ref<KSPIN_LOCK>(*spinLock).store(0, std::memory_order_release);
    Internal::CountSpinLock(-1);
    Internal::ReleasedSpinLock(spinLock, kind);
}

// After RequireIrqlAtMost(DISPATCH_LEVEL) the raise cannot fail KeRaiseIrql's check; the
// acquisition is the hot path of every driver lock, so it is done in place.
KIRQL RaiseToDispatch()
{
    const KIRQL old = Internal::t_irql;
    Internal::t_irql = DISPATCH_LEVEL;
    return old;
}

// KeLowerIrql in place when its checks pass; it reports what they find otherwise.
void LowerAfterRelease(KIRQL old)
{
    if (old > Internal::t_irql || (old < DISPATCH_LEVEL && Internal::t_spinLocksHeld > 0)) {
        KeLowerIrql(old);
        return;
    }
    Internal::t_irql = old;
}

[[noreturn, gnu::noinline, gnu::cold]] void BelowDispatch(const char* service)
{
    Internal::Violation(kIrqlNotGreaterOrEqual,
                        std::string(service) + " called below DISPATCH_LEVEL", KeGetCurrentIrql());
}

void RequireDispatch(const char* service)
{
    if (Internal::t_irql < DISPATCH_LEVEL) [[unlikely]] {
        BelowDispatch(service);
    }
}

}  // namespace

void KeInitializeSpinLock(PKSPIN_LOCK spinLock)
{
    *spinLock = 0;
    Internal::ForgetLock(spinLock);
}

void KeAcquireSpinLock(PKSPIN_LOCK spinLock, PKIRQL oldIrql)
{
    Internal::RequireIrqlAtMost(DISPATCH_LEVEL, "KeAcquireSpinLock");
    const KIRQL old = RaiseToDispatch();
    Take(spinLock, Internal::LockKind::SpinLock, __builtin_return_address(0));
    *oldIrql = old;
}

void KeReleaseSpinLock(PKSPIN_LOCK spinLock, KIRQL newIrql)
{
    Give(spinLock, Internal::LockKind::SpinLock);
    LowerAfterRelease(newIrql);
}

void KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK spinLock)
{
    RequireDispatch("KeAcquireSpinLockAtDpcLevel");
    Take(spinLock, Internal::LockKind::SpinLock, __builtin_return_address(0));
}

void KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK spinLock)
{
    RequireDispatch("KeReleaseSpinLockFromDpcLevel");
    Give(spinLock, Internal::LockKind::SpinLock);
}

void KeAcquireInStackQueuedSpinLock(PKSPIN_LOCK spinLock, PKLOCK_QUEUE_HANDLE lockHandle)
{
    Internal::RequireIrqlAtMost(DISPATCH_LEVEL, "KeAcquireInStackQueuedSpinLock");
    const KIRQL old = RaiseToDispatch();
    Take(spinLock, Internal::LockKind::QueuedSpinLock, __builtin_return_address(0));
    lockHandle->LockQueue.Next = nullptr;
    lockHandle->LockQueue.Lock = spinLock;
    lockHandle->OldIrql = old;
}

void KeReleaseInStackQueuedSpinLock(PKLOCK_QUEUE_HANDLE lockHandle)
{
    Give(lockHandle->LockQueue.Lock, Internal::LockKind::QueuedSpinLock);
    lockHandle->LockQueue.Lock = nullptr;
    LowerAfterRelease(lockHandle->OldIrql);
}

void KeAcquireInStackQueuedSpinLockAtDpcLevel(PKSPIN_LOCK spinLock, PKLOCK_QUEUE_HANDLE lockHandle)
{
    RequireDispatch("KeAcquireInStackQueuedSpinLockAtDpcLevel");
    Take(spinLock, Internal::LockKind::QueuedSpinLock, __builtin_return_address(0));
    lockHandle->LockQueue.Next = nullptr;
    lockHandle->LockQueue.Lock = spinLock;
    lockHandle->OldIrql = DISPATCH_LEVEL;
}

void KeReleaseInStackQueuedSpinLockFromDpcLevel(PKLOCK_QUEUE_HANDLE lockHandle)
{
    RequireDispatch("KeReleaseInStackQueuedSpinLockFromDpcLevel");
    Give(lockHandle->LockQueue.Lock, Internal::LockKind::QueuedSpinLock);
    lockHandle->LockQueue.Lock = nullptr;
}
