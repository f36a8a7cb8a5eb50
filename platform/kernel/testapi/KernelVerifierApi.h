// The driver verifier's rules that go beyond IRQL and pool, for tests and for the other platform
// layers. Every rule is always on; a broken rule stops the system
// (kDriverVerifierDetectedViolation) with the rule's code in the first parameter and a reason that
// starts with the rule's name.
//
// Deadlock detection: every spin lock (plain and in-stack queued, the cancel spin lock) and
// every mutex is recorded with the order in which each thread takes it while holding others. The
// first acquisition that closes a cycle stops the system, naming both locks (the pool block that
// holds each, by tag and offset) and the call that first took each edge of the cycle. A lock's
// order is forgotten when it is initialised again or the pool block holding it is freed. A routine
// the layer runs (DPC, work item, dispatch routine) must not return holding a lock it took, and
// IoReleaseRemoveLockAndWait must not be called holding any lock.
//
// I/O verification: an IRP freed or reused while a driver still holds it, a dispatch routine that
// returns STATUS_PENDING without having marked the IRP pending, an IRP completed with its cancel
// routine set, or while linked in a kernel-streaming cancelable queue, or completed again after it
// came out of one; an IRP acquired from such a queue and never released (freed so, or left so when
// its handle closes: nothing can complete or cancel it any more); an IRP added to a cancelable
// queue while it is still linked in one (its list entry would join two lists).
#pragma once

#include <wdm.h>

#include <string>
#include <string_view>

namespace Platform::Kernel {

// The first parameter of each verifier stop.
inline constexpr ULONG_PTR kRuleLockOrder = 0x1001;
inline constexpr ULONG_PTR kRuleLockHeld = 0x1002;
inline constexpr ULONG_PTR kRuleIrpFreedInFlight = 0x2001;
inline constexpr ULONG_PTR kRulePendingNotMarked = 0x2002;
inline constexpr ULONG_PTR kRuleCancelRoutineSet = 0x2003;
inline constexpr ULONG_PTR kRuleCompletedInQueue = 0x2004;
inline constexpr ULONG_PTR kRuleCompletedTwiceFromQueue = 0x2005;
inline constexpr ULONG_PTR kRuleAcquiredNeverReleased = 0x2006;
inline constexpr ULONG_PTR kRuleQueuedTwice = 0x2007;
inline constexpr ULONG_PTR kRuleKsMutexNotHeld = 0x3001;

// For the other layers' entry points: stops the system (kIrqlNotLessOrEqual) when the calling
// thread runs above maxIrql, naming the service; and a verifier stop with the rule and reason.
void RequireCallerIrql(KIRQL maxIrql, const char* service);
[[noreturn]] void VerifierStop(ULONG_PTR rule, const std::string& reason, ULONG_PTR p2 = 0,
                               ULONG_PTR p3 = 0);

// Gives a lock a name for the verifier's stops ("KS device mutex"); forgotten with its order.
void NameLock(const void* lock, std::string_view name);

// Whether the calling thread owns the mutex (in the context it runs: a work item the layer runs
// inside a wait of the owner does not).
bool CurrentThreadOwnsMutex(const KMUTEX* mutex);

// Stops the system when any thread still holds a mutex (the end of a test).
void CheckNoMutexHeld();

// How many lock-order edges are recorded (for tests of the bookkeeping).
size_t LockOrderEdgeCount();

// Kernel streaming's cancelable queues tell the I/O verifier when an IRP is linked in one and
// when it is taken off again.
void NoteIrpInCancelableQueue(PIRP irp, bool linked);
// ... and when a caller acquires one (its cancel routine cleared, still linked) and when it is
// released or removed again.
void NoteIrpAcquiredFromCancelableQueue(PIRP irp, bool acquired);
bool IrpAcquiredFromCancelableQueue(PIRP irp);
bool IrpInCancelableQueue(PIRP irp);
// Stops the system when the IRP is still acquired; `when` says what was about to happen to it.
void CheckIrpNotAcquired(PIRP irp, const char* when);

}  // namespace Platform::Kernel
