// Timers, DPCs, the clock routines and the virtual-time driver loop.
#include <algorithm>

#include "DispatcherState.h"
#include "KernelInternal.h"
#include "Verifier.h"

namespace Platform::Kernel::Internal {

LONGLONG SystemTimeAt(LONGLONG interruptTime);
LONGLONG InterruptTimeOfSystemTime(LONGLONG systemTime);

namespace {

constexpr ULONG kTimeIncrement = 156'250;  // 15.625 ms, the clock tick
constexpr ULONG kFinestResolution = 5'000;

// Restores the thread's IRQL after a routine the layer ran, also when a bug check unwinds it.
struct IrqlScope
{
    explicit IrqlScope(KIRQL irql) : previous(KeGetCurrentIrql()) { SetCurrentIrql(irql); }
    ~IrqlScope() { SetCurrentIrql(previous); }
    KIRQL previous;
};

void CheckReturnedAt(KIRQL expected, int spinLocksBefore, const char* what, const void* routine)
{
    if (KeGetCurrentIrql() != expected || SpinLocksHeld() != spinLocksBefore) {
        Violation(kDriverVerifierDetectedViolation,
                  std::string(what) + " returned at IRQL " + std::to_string(KeGetCurrentIrql()) +
                      " holding " + std::to_string(SpinLocksHeld() - spinLocksBefore) +
                      " spin lock(s)",
                  reinterpret_cast<ULONG_PTR>(routine));
    }
}

bool DueBefore(PKTIMER a, PKTIMER b)
{
    return a->DueTime != b->DueTime ? a->DueTime < b->DueTime : a->Sequence < b->Sequence;
}

void DisarmLocked(Dispatcher& d, PKTIMER timer)
{
    const auto kept = std::remove(d.armedTimers.begin(), d.armedTimers.end(), timer);
    for (auto it = kept; it != d.armedTimers.end(); ++it) {
        d.liveObjects.Remove(timer);
    }
    d.armedTimers.erase(kept, d.armedTimers.end());
    timer->Header.Inserted = 0;
}

}  // namespace

LONGLONG EarliestDueLocked(const Dispatcher& d)
{
    LONGLONG earliest = kNoDeadline;
    for (PKTIMER timer : d.armedTimers) {
        earliest = std::min<LONGLONG>(earliest, static_cast<LONGLONG>(timer->DueTime));
    }
    return earliest;
}

bool QueueDpcLocked(Dispatcher& d, PKDPC dpc, PVOID argument1, PVOID argument2)
{
    if (dpc->Queued) {
        return false;
    }
    dpc->Queued = 1;
    dpc->SystemArgument1 = argument1;
    dpc->SystemArgument2 = argument2;
    d.dpcQueue.push_back(dpc);
    d.liveObjects.Add(dpc);
    d.changed.notify_all();
    return true;
}

void FireDueTimersLocked(Dispatcher& d, LONGLONG now)
{
    for (;;) {
        auto due = std::min_element(d.armedTimers.begin(), d.armedTimers.end(), DueBefore);
        if (due == d.armedTimers.end() || static_cast<LONGLONG>((*due)->DueTime) > now) {
            return;
        }
        PKTIMER timer = *due;
        const LONGLONG firedAt = static_cast<LONGLONG>(timer->DueTime);
        if (timer->Period > 0) {
            timer->DueTime += static_cast<ULONGLONG>(timer->Period) * 10'000;
            timer->Sequence = d.nextTimerSequence++;
        } else {
            DisarmLocked(d, timer);
        }
        SignalLocked(d, timer->Header);
        if (timer->Dpc != nullptr) {
            ULARGE_INTEGER systemTime;
            systemTime.QuadPart = static_cast<ULONGLONG>(SystemTimeAt(firedAt));
            QueueDpcLocked(d, timer->Dpc, reinterpret_cast<PVOID>(ULONG_PTR{systemTime.u.LowPart}),
                           reinterpret_cast<PVOID>(ULONG_PTR{systemTime.u.HighPart}));
        }
    }
}

namespace {

struct TakenDpc
{
    PKDPC dpc;
    PKDEFERRED_ROUTINE routine;
    PVOID context;
    PVOID argument1;
    PVOID argument2;
};

struct TakenWorkItem
{
    PIO_WORKITEM_ROUTINE routine;
    PDEVICE_OBJECT device;
    PVOID context;
};

// Under the dispatcher's mutex: the next DPC off the queue, counted as running.
bool TakeDpcLocked(Dispatcher& d, TakenDpc& taken)
{
    if (d.dpcQueue.empty()) {
        return false;
    }
    PKDPC dpc = d.dpcQueue.front();
    d.dpcQueue.pop_front();
    d.liveObjects.Remove(dpc);
    dpc->Queued = 0;
    ++d.dpcsRunning;
    taken = {dpc, dpc->DeferredRoutine, dpc->DeferredContext, dpc->SystemArgument1,
             dpc->SystemArgument2};
    return true;
}

// Under the dispatcher's mutex.
bool TakeWorkItemLocked(Dispatcher& d, int queue, TakenWorkItem& taken)
{
    if (d.workQueues[queue].empty()) {
        return false;
    }
    PIO_WORKITEM item = d.workQueues[queue].front();
    d.workQueues[queue].pop_front();
    d.liveObjects.Remove(item);
    item->queued = false;
    taken = {item->routine, item->deviceObject, item->context};
    return true;
}

void RunTakenDpc(Dispatcher& d, const TakenDpc& taken)
{
    struct RunningScope
    {
        Dispatcher& d;
        ~RunningScope()
        {
            std::lock_guard lock(d.mutex);
            --d.dpcsRunning;
            d.changed.notify_all();
        }
    } running{d};
    if (KeGetCurrentIrql() > DISPATCH_LEVEL) {
        Violation(kIrqlNotLessOrEqual, "DPCs run from above DISPATCH_LEVEL");
    }
    IrqlScope scope(DISPATCH_LEVEL);
    LockContextScope lockContext;
    const size_t held = HeldLockDepth();
    const int locks = SpinLocksHeld();
    const auto routine = taken.routine;
    routine(taken.dpc, taken.context, taken.argument1, taken.argument2);
    CheckNoLockTakenSince(held, "the DPC routine", reinterpret_cast<void*>(routine));
    CheckReturnedAt(DISPATCH_LEVEL, locks, "a DPC routine", reinterpret_cast<void*>(routine));
}

void RunTakenWorkItem(const TakenWorkItem& taken)
{
    RequirePassive("running a work item");
    LockContextScope lockContext;
    const size_t held = HeldLockDepth();
    const int locks = SpinLocksHeld();
    const auto routine = taken.routine;
    routine(taken.device, taken.context);
    CheckNoLockTakenSince(held, "the work item routine", reinterpret_cast<void*>(routine));
    CheckReturnedAt(PASSIVE_LEVEL, locks, "a work item routine", reinterpret_cast<void*>(routine));
}

}  // namespace

bool RunOneDpc()
{
    Dispatcher& d = TheDispatcher();
    TakenDpc taken;
    {
        std::lock_guard lock(d.mutex);
        if (!TakeDpcLocked(d, taken)) {
            return false;
        }
    }
    RunTakenDpc(d, taken);
    return true;
}

bool RunOneWorkItem(int queue)
{
    Dispatcher& d = TheDispatcher();
    TakenWorkItem taken;
    {
        std::lock_guard lock(d.mutex);
        if (!TakeWorkItemLocked(d, queue, taken)) {
            return false;
        }
    }
    RunTakenWorkItem(taken);
    return true;
}

// The queues are looked at under one hold of the mutex: the virtual-time loop asks after every
// routine it runs, and mostly finds all three empty.
bool RunOnePendingVirtual(bool workItems)
{
    Dispatcher& d = TheDispatcher();
    TakenDpc dpc;
    TakenWorkItem item;
    bool isDpc = false;
    {
        std::lock_guard lock(d.mutex);
        isDpc = TakeDpcLocked(d, dpc);
        if (!isDpc && !(workItems && (TakeWorkItemLocked(d, CriticalWorkQueue, item) ||
                                      TakeWorkItemLocked(d, DelayedWorkQueue, item)))) {
            return false;
        }
    }
    if (isDpc) {
        RunTakenDpc(d, dpc);
    } else {
        RunTakenWorkItem(item);
    }
    return true;
}

}  // namespace Platform::Kernel::Internal

using namespace Platform::Kernel;
using namespace Platform::Kernel::Internal;

// ---- Timers and DPCs -----------------------------------------------------------------------

void KeInitializeTimerEx(PKTIMER timer, TIMER_TYPE type)
{
    RequireIrqlAtMost(DISPATCH_LEVEL, "KeInitializeTimerEx");
    Dispatcher& d = TheDispatcher();
    std::unique_lock lock(d.mutex);
    if (std::find(d.armedTimers.begin(), d.armedTimers.end(), timer) != d.armedTimers.end()) {
        lock.unlock();
        // Silently disarming it would hide an owner that lost track of its timer.
        Violation(kTimerOrDpcInvalid, "KeInitializeTimerEx of a timer that is still set",
                  reinterpret_cast<ULONG_PTR>(timer));
    }
    *timer = KTIMER{};
    timer->Header.Type =
        type == SynchronizationTimer ? kSynchronizationTimerObject : kNotificationTimerObject;
}

void KeInitializeTimer(PKTIMER timer)
{
    KeInitializeTimerEx(timer, NotificationTimer);
}

BOOLEAN KeSetTimerEx(PKTIMER timer, LARGE_INTEGER dueTime, LONG period, PKDPC dpc)
{
    RequireIrqlAtMost(DISPATCH_LEVEL, "KeSetTimerEx");
    if (period < 0) {
        Violation(kDriverVerifierDetectedViolation, "KeSetTimerEx with a negative period",
                  reinterpret_cast<ULONG_PTR>(timer), static_cast<ULONG_PTR>(period));
    }
    Dispatcher& d = TheDispatcher();
    std::unique_lock lock(d.mutex);
    if (timer->Header.Type != kNotificationTimerObject &&
        timer->Header.Type != kSynchronizationTimerObject) {
        lock.unlock();
        Violation(kTimerOrDpcInvalid, "KeSetTimerEx of a timer that was never initialised",
                  reinterpret_cast<ULONG_PTR>(timer));
    }
    if (dpc != nullptr && dpc->DeferredRoutine == nullptr) {
        lock.unlock();
        Violation(kTimerOrDpcInvalid, "KeSetTimerEx with a DPC that was never initialised",
                  reinterpret_cast<ULONG_PTR>(timer), reinterpret_cast<ULONG_PTR>(dpc));
    }
    const bool wasSet = timer->Header.Inserted != 0;
    if (wasSet) {
        DisarmLocked(d, timer);
    }
    const LONGLONG now = NowLocked(d);
    LONGLONG due =
        dueTime.QuadPart < 0 ? now - dueTime.QuadPart : InterruptTimeOfSystemTime(dueTime.QuadPart);
    due = std::max(due, now);
    timer->DueTime = static_cast<ULONGLONG>(due);
    timer->Period = period;
    timer->Dpc = dpc;
    timer->Header.SignalState = 0;
    timer->Header.Inserted = 1;
    timer->Sequence = d.nextTimerSequence++;
    d.armedTimers.push_back(timer);
    d.liveObjects.Add(timer);
    d.changed.notify_all();
    return wasSet ? TRUE : FALSE;
}

BOOLEAN KeSetTimer(PKTIMER timer, LARGE_INTEGER dueTime, PKDPC dpc)
{
    return KeSetTimerEx(timer, dueTime, 0, dpc);
}

BOOLEAN KeCancelTimer(PKTIMER timer)
{
    RequireIrqlAtMost(DISPATCH_LEVEL, "KeCancelTimer");
    Dispatcher& d = TheDispatcher();
    std::lock_guard lock(d.mutex);
    const bool wasSet = timer->Header.Inserted != 0;
    if (wasSet) {
        DisarmLocked(d, timer);
        d.changed.notify_all();
    }
    return wasSet ? TRUE : FALSE;
}

BOOLEAN KeReadStateTimer(PKTIMER timer)
{
    RequireIrqlAtMost(DISPATCH_LEVEL, "KeReadStateTimer");
    Dispatcher& d = TheDispatcher();
    std::lock_guard lock(d.mutex);
    return timer->Header.SignalState > 0 ? TRUE : FALSE;
}

void KeInitializeDpc(PRKDPC dpc, PKDEFERRED_ROUTINE deferredRoutine, PVOID deferredContext)
{
    Dispatcher& d = TheDispatcher();
    std::unique_lock lock(d.mutex);
    if (dpc->Queued != 0 &&
        std::find(d.dpcQueue.begin(), d.dpcQueue.end(), dpc) != d.dpcQueue.end()) {
        lock.unlock();
        // Cleared in place, the queue would run a routine of zeroes or lose the DPC's link.
        Violation(kTimerOrDpcInvalid, "KeInitializeDpc of a DPC that is still queued",
                  reinterpret_cast<ULONG_PTR>(dpc));
    }
    *dpc = KDPC{};
    dpc->DeferredRoutine = deferredRoutine;
    dpc->DeferredContext = deferredContext;
}

BOOLEAN KeInsertQueueDpc(PRKDPC dpc, PVOID systemArgument1, PVOID systemArgument2)
{
    if (dpc->DeferredRoutine == nullptr) {
        Violation(kTimerOrDpcInvalid,
                  "KeInsertQueueDpc of a DPC with no routine (never initialised)",
                  reinterpret_cast<ULONG_PTR>(dpc));
    }
    Dispatcher& d = TheDispatcher();
    std::lock_guard lock(d.mutex);
    return QueueDpcLocked(d, dpc, systemArgument1, systemArgument2) ? TRUE : FALSE;
}

BOOLEAN KeRemoveQueueDpc(PRKDPC dpc)
{
    Dispatcher& d = TheDispatcher();
    std::lock_guard lock(d.mutex);
    if (!dpc->Queued) {
        return FALSE;
    }
    const auto kept = std::remove(d.dpcQueue.begin(), d.dpcQueue.end(), dpc);
    for (auto it = kept; it != d.dpcQueue.end(); ++it) {
        d.liveObjects.Remove(dpc);
    }
    d.dpcQueue.erase(kept, d.dpcQueue.end());
    dpc->Queued = 0;
    return TRUE;
}

void KeFlushQueuedDpcs()
{
    RequirePassive("KeFlushQueuedDpcs");
    Dispatcher& d = TheDispatcher();
    WaitUntil([&d] { return d.dpcQueue.empty() && d.dpcsRunning == 0; }, 0, true,
              [] { return std::string("queued DPCs to finish"); });
}

// ---- Clock ---------------------------------------------------------------------------------

LARGE_INTEGER KeQueryPerformanceCounter(PLARGE_INTEGER performanceFrequency)
{
    Dispatcher& d = TheDispatcher();
    std::lock_guard lock(d.mutex);
    LARGE_INTEGER counter;
    counter.QuadPart = static_cast<LONGLONG>(static_cast<__int128>(NowLocked(d)) *
                                             d.performanceFrequency / 10'000'000);
    if (performanceFrequency != nullptr) {
        performanceFrequency->QuadPart = d.performanceFrequency;
    }
    return counter;
}

ULONGLONG KeQueryInterruptTime()
{
    Dispatcher& d = TheDispatcher();
    std::lock_guard lock(d.mutex);
    return static_cast<ULONGLONG>(NowLocked(d));
}

void KeQueryTickCount(PLARGE_INTEGER tickCount)
{
    tickCount->QuadPart = static_cast<LONGLONG>(KeQueryInterruptTime() / kTimeIncrement);
}

ULONG KeQueryTimeIncrement()
{
    return kTimeIncrement;
}

void KeQuerySystemTime(PLARGE_INTEGER currentTime)
{
    currentTime->QuadPart = SystemTimeAt(static_cast<LONGLONG>(KeQueryInterruptTime()));
}

ULONG ExSetTimerResolution(ULONG desiredTime, BOOLEAN setResolution)
{
    Dispatcher& d = TheDispatcher();
    std::lock_guard lock(d.mutex);
    // The kernel counts requests: the resolution stays while any set is not yet released, and a
    // release without a set of its own changes nothing.
    if (!setResolution) {
        if (d.timerResolutionRequests == 0) {
            ++d.unmatchedTimerResolutionReleases;
            return d.timerResolution != 0 ? d.timerResolution : kTimeIncrement;
        }
        if (--d.timerResolutionRequests == 0) {
            d.timerResolution = 0;
            return kTimeIncrement;
        }
        return d.timerResolution;
    }
    ++d.timerResolutionRequests;
    const ULONG asked = std::clamp(desiredTime, kFinestResolution, kTimeIncrement);
    d.timerResolution = d.timerResolution != 0 ? std::min(d.timerResolution, asked) : asked;
    return d.timerResolution;
}

// ---- Test API ------------------------------------------------------------------------------

namespace Platform::Kernel {

void SetTimeMode(TimeMode mode)
{
    Dispatcher& d = TheDispatcher();
    if (mode == TimeMode::Virtual) {
        StopRealTimeThreads();
        std::lock_guard lock(d.mutex);
        d.virtualNow = NowLocked(d);
        d.mode = TimeMode::Virtual;
        return;
    }
    std::lock_guard lock(d.mutex);
    if (d.mode == TimeMode::Real) {
        return;
    }
    d.realBase = d.virtualNow;
    d.realEpoch = std::chrono::steady_clock::now();
    d.realHold = kNoDeadline;
    d.mode = TimeMode::Real;
    StartRealTimeThreads(d);
}

TimeMode GetTimeMode()
{
    Dispatcher& d = TheDispatcher();
    std::lock_guard lock(d.mutex);
    return d.mode;
}

void RunPending()
{
    RequirePassive("RunPending");
    while (RunOnePendingVirtual(true)) {
    }
}

void AdvanceTime(std::chrono::nanoseconds duration)
{
    RequirePassive("AdvanceTime");
    Dispatcher& d = TheDispatcher();
    LONGLONG target;
    {
        std::lock_guard lock(d.mutex);
        if (d.mode != TimeMode::Virtual) {
            throw std::logic_error("AdvanceTime needs virtual time");
        }
        target = d.virtualNow + duration.count() / 100;
    }
    for (;;) {
        RunPending();
        std::lock_guard lock(d.mutex);
        const LONGLONG next = EarliestDueLocked(d);
        if (next > target) {
            d.virtualNow = std::max(d.virtualNow, target);
            break;
        }
        d.virtualNow = std::max(d.virtualNow, next);
        FireDueTimersLocked(d, d.virtualNow);
    }
    RunPending();
}

LONGLONG InterruptTime100ns()
{
    return static_cast<LONGLONG>(KeQueryInterruptTime());
}

void SetPerformanceFrequency(LONGLONG countsPerSecond)
{
    if (countsPerSecond <= 0) {
        throw std::invalid_argument("performance frequency must be positive");
    }
    Dispatcher& d = TheDispatcher();
    std::lock_guard lock(d.mutex);
    d.performanceFrequency = countsPerSecond;
}

ULONG TimerResolutionInForce()
{
    Dispatcher& d = TheDispatcher();
    std::lock_guard lock(d.mutex);
    return d.timerResolution;
}

TimerResolutionRequests TimerResolutionRequestCounts()
{
    Dispatcher& d = TheDispatcher();
    std::lock_guard lock(d.mutex);
    return {d.timerResolutionRequests, d.unmatchedTimerResolutionReleases};
}

void SetDeadlockWatchdog(std::chrono::milliseconds realTime)
{
    Dispatcher& d = TheDispatcher();
    std::lock_guard lock(d.mutex);
    d.watchdog = realTime;
}

size_t ArmedTimerCount()
{
    Dispatcher& d = TheDispatcher();
    std::lock_guard lock(d.mutex);
    return d.armedTimers.size();
}

size_t PendingWorkItemCount()
{
    Dispatcher& d = TheDispatcher();
    std::lock_guard lock(d.mutex);
    return d.workQueues[0].size() + d.workQueues[1].size();
}

}  // namespace Platform::Kernel
