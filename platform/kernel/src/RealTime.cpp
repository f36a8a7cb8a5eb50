// Real time: a timer thread that fires timers and runs DPCs, and a worker thread per work queue.
#include "DispatcherState.h"
#include "KernelInternal.h"

namespace Platform::Kernel::Internal {
namespace {

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
        if (d.stopThreads) {
            return;
        }
        FireDueTimersLocked(d, NowLocked(d));
        if (!d.dpcQueue.empty()) {
            continue;
        }
        const LONGLONG next = EarliestDueLocked(d);
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
