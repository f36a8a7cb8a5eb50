// The dispatcher lock, the clock, waits, events and mutexes.
#include "DispatcherState.h"

#include <algorithm>
#include <cstdio>

#include "KernelInternal.h"
#include "Verifier.h"

namespace Platform::Kernel::Internal {
namespace {

// 2026-01-01 00:00 UTC as system time (100 ns units since 1601).
constexpr LONGLONG kBootSystemTime = 134'116'992'000'000'000LL;

// How much virtual time a wait without a timeout may let pass while timers keep firing but none
// of them satisfies it.
constexpr LONGLONG kForeverWaitVirtualHorizon = 60LL * 10'000'000;

std::string Address(const void* p)
{
    char text[32];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

// Checks and, when it holds, takes the object for the caller (resets a synchronisation event or
// timer, owns a mutex). Runs under the lock.
bool TrySatisfyLocked(DISPATCHER_HEADER& header, ULONG_PTR self)
{
    switch (header.Type) {
        case kNotificationEventObject:
        case kNotificationTimerObject:
            return header.SignalState > 0;
        case kSynchronizationEventObject:
        case kSynchronizationTimerObject:
            if (header.SignalState > 0) {
                header.SignalState = 0;
                return true;
            }
            return false;
        case kMutexObject: {
            auto& mutex = reinterpret_cast<KMUTEX&>(header);
            if (mutex.OwnerThread == 0 || mutex.OwnerThread == self) {
                mutex.OwnerThread = self;
                ++mutex.RecursionCount;
                header.SignalState = 0;
                return true;
            }
            return false;
        }
        default:
            return false;
    }
}

const char* ObjectName(UCHAR type)
{
    switch (type) {
        case kNotificationEventObject:
            return "notification event";
        case kSynchronizationEventObject:
            return "synchronization event";
        case kMutexObject:
            return "mutex";
        case kNotificationTimerObject:
            return "notification timer";
        case kSynchronizationTimerObject:
            return "synchronization timer";
        default:
            return nullptr;
    }
}

// A timeout in the kernel's form, as 100 ns from now.
LONGLONG RelativeTimeout(Dispatcher& d, LONGLONG timeout)
{
    if (timeout < 0) {
        return timeout == INT64_MIN ? INT64_MAX : -timeout;
    }
    std::lock_guard lock(d.mutex);
    return std::max<LONGLONG>(0, timeout - (kBootSystemTime + NowLocked(d)));
}

}  // namespace

LONGLONG WallLocked(const Dispatcher& d)
{
    const auto elapsed = std::chrono::steady_clock::now() - d.realEpoch;
    return d.realBase + std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count() / 100;
}

LONGLONG NowLocked(Dispatcher& d)
{
    if (d.mode == TimeMode::Virtual) {
        return d.virtualNow;
    }
    return std::min({WallLocked(d), d.realHold, EarliestDueLocked(d)});
}

LONGLONG SystemTimeAt(LONGLONG interruptTime)
{
    return kBootSystemTime + interruptTime;
}

LONGLONG InterruptTimeOfSystemTime(LONGLONG systemTime)
{
    return systemTime - kBootSystemTime;
}

void SignalLocked(Dispatcher& d, DISPATCHER_HEADER& header)
{
    header.SignalState = 1;
    d.changed.notify_all();
}

NTSTATUS WaitUntil(const std::function<bool()>& satisfied, LONGLONG relativeTimeout, bool forever,
                   const std::function<std::string()>& describe)
{
    Dispatcher& d = TheDispatcher();
    std::unique_lock lock(d.mutex);
    if (satisfied()) {
        return STATUS_SUCCESS;
    }
    if (!forever && relativeTimeout == 0) {
        return STATUS_TIMEOUT;
    }
    const LONGLONG start = NowLocked(d);
    const LONGLONG deadline =
        forever || relativeTimeout > kNoDeadline - start ? kNoDeadline : start + relativeTimeout;

    auto deadlock = [&]() {
        const std::string what = describe();  // under the lock: it may read the layer's state
        lock.unlock();
        Violation(kDeadlockDetected, "a wait that nothing satisfies: " + what);
    };

    if (d.mode == TimeMode::Real) {
        if (!forever) {
            const auto until =
                d.realEpoch + std::chrono::nanoseconds((deadline - d.realBase) * 100);
            return d.changed.wait_until(lock, until, satisfied) ? STATUS_SUCCESS : STATUS_TIMEOUT;
        }
        if (d.watchdog.count() == 0) {
            d.changed.wait(lock, satisfied);
            return STATUS_SUCCESS;
        }
        if (d.changed.wait_for(lock, d.watchdog, satisfied)) {
            return STATUS_SUCCESS;
        }
        deadlock();
    }

    const LONGLONG limit = forever ? start + kForeverWaitVirtualHorizon : deadline;
    for (;;) {
        if (satisfied()) {
            return STATUS_SUCCESS;
        }
        lock.unlock();
        // A work item runs on a worker thread, which would block on a mutex this thread holds
        // until this wait is over; run inline, it would take the mutex as its owner and work under
        // it. So a thread that holds a mutex lets only DPCs run while it waits, and the work items
        // run once it is back in the test's hands.
        const bool ran = RunOnePendingVirtual(!HoldsAnyMutex());
        lock.lock();
        if (ran) {
            continue;
        }
        // Asked once per pass: a satisfied wait takes what satisfied it (a mutex's ownership, an
        // auto-reset event's signal), so asking again would take it twice.
        if (satisfied()) {
            return STATUS_SUCCESS;
        }
        const LONGLONG next = EarliestDueLocked(d);
        if (next <= limit) {
            d.virtualNow = std::max(d.virtualNow, next);
            FireDueTimersLocked(d, d.virtualNow);
            continue;
        }
        if (!forever) {
            d.virtualNow = std::max(d.virtualNow, deadline);
            return satisfied() ? STATUS_SUCCESS : STATUS_TIMEOUT;
        }
        // Nothing in the layer will satisfy it; another thread of the test still might.
        if (d.watchdog.count() != 0 && d.changed.wait_for(lock, d.watchdog, satisfied)) {
            return STATUS_SUCCESS;
        }
        deadlock();
    }
}

void ResetDispatcher()
{
    StopRealTimeThreads();
    Dispatcher& d = TheDispatcher();
    std::lock_guard lock(d.mutex);
    d.mode = TimeMode::Virtual;
    d.virtualNow = 0;
    d.realBase = 0;
    d.realHold = kNoDeadline;
    d.performanceFrequency = 10'000'000;
    d.timerResolution = 0;
    d.timerResolutionRequests = 0;
    d.unmatchedTimerResolutionReleases = 0;
    d.watchdog = std::chrono::milliseconds(2000);
    d.nextTimerSequence = 1;
    d.armedTimers.clear();
    d.dpcQueue.clear();
    d.workQueues[0].clear();
    d.workQueues[1].clear();
    d.removeLockHolders.clear();
    d.liveObjects.Clear();
}

void CheckNoLiveKernelObjectsIn(const void* begin, size_t size)
{
    Dispatcher& d = TheDispatcher();
    const auto* first = static_cast<const char*>(begin);
    auto inside = [&](const void* p) {
        const auto* c = static_cast<const char*>(p);
        return c >= first && c < first + size;
    };
    if (!d.liveObjects.MayHoldAny(begin, size)) {
        return;  // nothing armed, queued or tracked lies in the block
    }
    std::string problem;
    {
        std::lock_guard lock(d.mutex);
        for (PKTIMER timer : d.armedTimers) {
            if (inside(timer)) {
                problem = "a timer in it is still set (" + Address(timer) + ")";
            }
        }
        for (PKDPC dpc : d.dpcQueue) {
            if (inside(dpc)) {
                problem = "a DPC in it is still queued (" + Address(dpc) + ")";
            }
        }
        for (auto& queue : d.workQueues) {
            for (PIO_WORKITEM item : queue) {
                if (inside(item)) {
                    problem = "a work item in it is still queued (" + Address(item) + ")";
                }
            }
        }
        // Ordered by address: only the remove locks inside the block.
        auto it = d.removeLockHolders.lower_bound(static_cast<const IO_REMOVE_LOCK*>(begin));
        while (it != d.removeLockHolders.end() && inside(it->first)) {
            if (!it->second.empty()) {
                problem = "the remove lock in it is still held by " + it->second[0].Describe();
            }
            d.liveObjects.Remove(it->first);
            it = d.removeLockHolders.erase(it);
        }
    }
    if (!problem.empty()) {
        Violation(kTimerOrDpcInvalid, "pool block " + Address(begin) + " freed while " + problem,
                  reinterpret_cast<ULONG_PTR>(begin));
    }
}

}  // namespace Platform::Kernel::Internal

using namespace Platform::Kernel;
using namespace Platform::Kernel::Internal;

// ---- Events --------------------------------------------------------------------------------

void KeInitializeEvent(PRKEVENT event, EVENT_TYPE type, BOOLEAN state)
{
    Dispatcher& d = TheDispatcher();
    std::lock_guard lock(d.mutex);
    event->Header = DISPATCHER_HEADER{};
    event->Header.Type =
        type == SynchronizationEvent ? kSynchronizationEventObject : kNotificationEventObject;
    event->Header.SignalState = state ? 1 : 0;
}

LONG KeSetEvent(PRKEVENT event, KPRIORITY, BOOLEAN)
{
    RequireIrqlAtMost(DISPATCH_LEVEL, "KeSetEvent");
    Dispatcher& d = TheDispatcher();
    std::lock_guard lock(d.mutex);
    const LONG previous = event->Header.SignalState;
    SignalLocked(d, event->Header);
    return previous;
}

LONG KeResetEvent(PRKEVENT event)
{
    RequireIrqlAtMost(DISPATCH_LEVEL, "KeResetEvent");
    Dispatcher& d = TheDispatcher();
    std::lock_guard lock(d.mutex);
    const LONG previous = event->Header.SignalState;
    event->Header.SignalState = 0;
    return previous;
}

void KeClearEvent(PRKEVENT event)
{
    KeResetEvent(event);
}

LONG KeReadStateEvent(PRKEVENT event)
{
    RequireIrqlAtMost(DISPATCH_LEVEL, "KeReadStateEvent");
    Dispatcher& d = TheDispatcher();
    std::lock_guard lock(d.mutex);
    return event->Header.SignalState;
}

// ---- Mutexes -------------------------------------------------------------------------------

void KeInitializeMutex(PRKMUTEX mutex, ULONG level)
{
    RequirePassive("KeInitializeMutex");
    Dispatcher& d = TheDispatcher();
    std::lock_guard lock(d.mutex);
    mutex->Header = DISPATCHER_HEADER{};
    mutex->Header.Type = kMutexObject;
    mutex->Header.SignalState = 1;
    mutex->OwnerThread = 0;
    mutex->RecursionCount = 0;
    mutex->Level = level;
    ForgetLock(mutex);
}

LONG KeReleaseMutex(PRKMUTEX mutex, BOOLEAN)
{
    RequireIrqlAtMost(DISPATCH_LEVEL, "KeReleaseMutex");
    Dispatcher& d = TheDispatcher();
    std::unique_lock lock(d.mutex);
    if (mutex->OwnerThread != CurrentThreadId()) {
        lock.unlock();
        Violation(kThreadNotMutexOwner, "KeReleaseMutex by a thread that does not own the mutex",
                  reinterpret_cast<ULONG_PTR>(mutex));
    }
    const LONG previous = mutex->Header.SignalState;
    if (--mutex->RecursionCount == 0) {
        mutex->OwnerThread = 0;
        SignalLocked(d, mutex->Header);
    }
    lock.unlock();
    ReleasedMutex(mutex);
    return previous;
}

LONG KeReadStateMutex(PRKMUTEX mutex)
{
    RequireIrqlAtMost(DISPATCH_LEVEL, "KeReadStateMutex");
    Dispatcher& d = TheDispatcher();
    std::lock_guard lock(d.mutex);
    return mutex->Header.SignalState;
}

// ---- Waits ---------------------------------------------------------------------------------

NTSTATUS KeWaitForSingleObject(PVOID object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN,
                               PLARGE_INTEGER timeout)
{
    const bool poll = timeout != nullptr && timeout->QuadPart == 0;
    if (poll) {
        RequireIrqlAtMost(DISPATCH_LEVEL, "KeWaitForSingleObject");
    } else {
        RequirePassive("KeWaitForSingleObject with a timeout");
    }
    auto& header = *static_cast<DISPATCHER_HEADER*>(object);
    Dispatcher& d = TheDispatcher();
    UCHAR type;
    {
        std::lock_guard lock(d.mutex);
        type = header.Type;
        // A poll of an event or a timer is answered under this one hold: a user process asks for
        // its events' state every period. (A mutex records its owner below.)
        if (poll && type != kMutexObject && ObjectName(type) != nullptr) {
            return TrySatisfyLocked(header, CurrentThreadId()) ? STATUS_SUCCESS : STATUS_TIMEOUT;
        }
    }
    const char* name = ObjectName(type);
    if (name == nullptr) {
        Violation(kDriverVerifierDetectedViolation,
                  "KeWaitForSingleObject on something that is not a dispatcher object",
                  reinterpret_cast<ULONG_PTR>(object));
    }
    const ULONG_PTR self = CurrentThreadId();
    const LONGLONG relative = timeout == nullptr ? 0 : RelativeTimeout(d, timeout->QuadPart);
    if (type == kMutexObject) {
        WaitingForMutex(object, __builtin_return_address(0), !poll);
    }
    const NTSTATUS status = WaitUntil(
        [&] { return TrySatisfyLocked(header, self); }, relative, timeout == nullptr,
        [&] {
            return std::string("KeWaitForSingleObject on the ") + name + " at " + Address(object);
        });
    if (type == kMutexObject && status == STATUS_SUCCESS) {
        OwnedMutex(object, __builtin_return_address(0));
    }
    return status;
}

NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER interval)
{
    RequirePassive("KeDelayExecutionThread");
    const LONGLONG relative = RelativeTimeout(TheDispatcher(), interval->QuadPart);
    WaitUntil([] { return false; }, relative, false, [] { return std::string("a delay"); });
    return STATUS_SUCCESS;
}

PETHREAD PsGetCurrentThread()
{
    return reinterpret_cast<PETHREAD>(CurrentThreadId());
}

PKTHREAD KeGetCurrentThread()
{
    return reinterpret_cast<PKTHREAD>(CurrentThreadId());
}
