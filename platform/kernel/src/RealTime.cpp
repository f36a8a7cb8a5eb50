// Real time: a timer thread that fires timers and runs DPCs, and a worker thread per work queue.
#include "DispatcherState.h"
#include "KernelInternal.h"

namespace Platform::Kernel::Internal {
namespace {

// Timers fire one due time at a time, and the DPCs they queued run before the next: a thread that
// wakes late (the machine is busy) catches up period by period, as the hardware would have seen
// them, instead of firing every period it slept through at once into one coalesced DPC that sees
// the clock already past them all.
void TimerThread()
{
    Dispatcher& d = TheDispatcher();
    std::unique_lock lock(d.mutex);
    for (;;) {
        if (!d.dpcQueue.empty()) {
            lock.unlock();
            RunGuarded([] { RunOneDpc(); }, PASSIVE_LEVEL);
            lock.lock();
            continue;
        }
        d.realHold = kNoDeadline;
        if (d.stopThreads) {
            return;
        }
        const LONGLONG next = EarliestDueLocked(d);
        if (next != kNoDeadline && next <= WallLocked(d)) {
            d.realHold = next;
            FireDueTimersLocked(d, next);
            continue;
        }
        if (next == kNoDeadline) {
            d.changed.wait(lock);
        } else {
            d.changed.wait_until(lock,
                                 d.realEpoch + std::chrono::nanoseconds((next - d.realBase) * 100));
        }
    }
}

void WorkerThread(int queue)
{
    Dispatcher& d = TheDispatcher();
    std::unique_lock lock(d.mutex);
    for (;;) {
        if (!d.workQueues[queue].empty()) {
            lock.unlock();
            RunGuarded([queue] { RunOneWorkItem(queue); }, PASSIVE_LEVEL);
            lock.lock();
            continue;
        }
        if (d.stopWorkers) {
            return;
        }
        d.changed.wait(lock);
    }
}

}  // namespace

void RunGuarded(const std::function<void()>& routine, KIRQL irql)
{
    SetCurrentIrql(irql);
    try {
        routine();
    } catch (const BugCheckRaised& stop) {
        RecordSystemThreadBugCheck(stop.Info());
        SetCurrentIrql(irql);
        ForgetSpinLocksHeld();
    }
}

void StartRealTimeThreads(Dispatcher& d)
{
    d.stopThreads = false;
    d.stopWorkers = false;
    d.threads.emplace_back(TimerThread);  // first: it stops first
    d.threads.emplace_back(WorkerThread, static_cast<int>(CriticalWorkQueue));
    d.threads.emplace_back(WorkerThread, static_cast<int>(DelayedWorkQueue));
    // Set from here, before the threads run anything that matters: the outcome is known when the
    // switch to real time returns.
    const RealTimeRole roles[] = {RealTimeRole::Timer, RealTimeRole::CriticalWork,
                                  RealTimeRole::DelayedWork};
    d.realTimeRefusal.clear();
    for (size_t i = 0; i < d.threads.size(); ++i) {
        std::string why;
        if (!RequestRealTimePriority(d.threads[i].native_handle(), roles[i], &why) &&
            d.realTimeRefusal.empty()) {
            d.realTimeRefusal = why;
        }
    }
}

// The timer thread stops first, so the work items its last DPCs queued still find a worker.
void StopRealTimeThreads()
{
    Dispatcher& d = TheDispatcher();
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(d.mutex);
        threads.swap(d.threads);
        d.stopThreads = true;
        d.changed.notify_all();
    }
    if (threads.empty()) {
        std::lock_guard lock(d.mutex);
        d.stopThreads = false;
        return;
    }
    threads[0].join();
    {
        std::lock_guard lock(d.mutex);
        d.stopWorkers = true;
        d.changed.notify_all();
    }
    for (size_t i = 1; i < threads.size(); ++i) {
        threads[i].join();
    }
    std::lock_guard lock(d.mutex);
    d.stopThreads = false;
    d.stopWorkers = false;
}

}  // namespace Platform::Kernel::Internal
