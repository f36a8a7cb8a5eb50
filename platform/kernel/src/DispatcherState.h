// The one lock and state behind every dispatcher object, timer, DPC and work queue. Kernel
// objects live in driver memory; the layer changes their fields only under this lock.
#pragma once

#include <KernelTestApi.h>
#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AddressFilter.h"

struct _IO_WORKITEM
{
    PDEVICE_OBJECT deviceObject;
    PIO_WORKITEM_ROUTINE routine;
    PVOID context;
    bool queued;
};

namespace Platform::Kernel::Internal {

// DISPATCHER_HEADER.Type values.
enum ObjectType : UCHAR
{
    kNotificationEventObject = 0,
    kSynchronizationEventObject = 1,
    kMutexObject = 2,
    kNotificationTimerObject = 8,
    kSynchronizationTimerObject = 9,
};

inline constexpr LONGLONG kNoDeadline = INT64_MAX;

// A remove lock's acquisition as recorded: the file is the caller's __FILE__, which lives as long
// as the driver (a copy of its name cost a heap block on every acquisition of a streaming path).
struct HeldRemoveLock
{
    ULONG_PTR tag;
    const char* file;  // null when not given
    ULONG line;

    std::string Describe() const;  // as RemoveLockHolder::Describe
};

struct Dispatcher
{
    std::mutex mutex;
    std::condition_variable changed;  // any signal, queue or timer change

    TimeMode mode = TimeMode::Virtual;
    LONGLONG virtualNow = 0;                          // 100 ns
    std::chrono::steady_clock::time_point realEpoch;  // real time 0 = virtualNow at the switch
    LONGLONG realBase = 0;
    // Real time: the due time of the timer whose DPCs the timer thread is running; the clock
    // stands there until they are done (kNoDeadline: none).
    LONGLONG realHold = INT64_MAX;

    LONGLONG performanceFrequency = 10'000'000;
    ULONG timerResolution = 0;
    ULONG timerResolutionRequests = 0;           // sets not yet released
    ULONG unmatchedTimerResolutionReleases = 0;  // releases that found no set
    std::chrono::milliseconds watchdog{2000};

    ULONGLONG nextTimerSequence = 1;
    std::vector<PKTIMER> armedTimers;
    std::deque<PKDPC> dpcQueue;
    int dpcsRunning = 0;                     // taken off the queue, routine not yet returned
    std::deque<PIO_WORKITEM> workQueues[2];  // critical, delayed

    std::map<const IO_REMOVE_LOCK*, std::vector<HeldRemoveLock>> removeLockHolders;
    // The addresses of the armed timers, queued DPCs and work items and the remove locks above:
    // every pool free asks whether the block holds one, and almost none does.
    AddressFilter liveObjects;

    std::string realTimeRefusal;  // why the threads run at normal priority; empty: they don't
    bool stopThreads = false;     // the timer thread
    bool stopWorkers = false;
    std::vector<std::thread> threads;
};

// Inline: every timer, DPC, work item and wait asks for it, many times a streaming period.
inline Dispatcher& TheDispatcher()
{
    static Dispatcher dispatcher;
    return dispatcher;
}

// The holders of a remove lock, made known to liveObjects when first used; under the lock.
inline std::vector<HeldRemoveLock>& HoldersOf(Dispatcher& d, const IO_REMOVE_LOCK* lock)
{
    auto [it, added] = d.removeLockHolders.try_emplace(lock);
    if (added) {
        d.liveObjects.Add(lock);
    }
    return it->second;
}

// The clock in 100 ns units; the caller holds the lock. In real time it follows the wall clock
// but never passes a timer that has not fired: a late timer thread fires each due timer at its
// own time, so no period of a periodic timer is lost and each DPC sees the time it was due.
LONGLONG NowLocked(Dispatcher& d);
// The wall clock in the layer's units, in real time; the caller holds the lock.
LONGLONG WallLocked(const Dispatcher& d);

// Signals and wakes waiters; the caller holds the lock.
void SignalLocked(Dispatcher& d, DISPATCHER_HEADER& header);

// Queues a DPC; the caller holds the lock. False when it was already queued.
bool QueueDpcLocked(Dispatcher& d, PKDPC dpc, PVOID argument1, PVOID argument2);

// Fires every timer due at or before `now` in due order; the caller holds the lock.
void FireDueTimersLocked(Dispatcher& d, LONGLONG now);
LONGLONG EarliestDueLocked(const Dispatcher& d);  // kNoDeadline when none is armed

// Runs one queued DPC, or else one queued work item, on the calling thread. False when there was
// nothing to run. Takes the lock itself.
bool RunOneDpc();
bool RunOneWorkItem(int queue);
// One queued DPC, else (when asked) one work item; false when nothing ran.
bool RunOnePendingVirtual(bool workItems);

// Waits until satisfied() holds (checked under the lock) or the deadline passes, driving virtual
// time as the header describes. describe() names what is waited for when it never comes.
NTSTATUS WaitUntil(const std::function<bool()>& satisfied, LONGLONG relativeTimeout, bool forever,
                   const std::function<std::string()>& describe);

// Under the lock; asks for real-time scheduling for each thread and keeps the first refusal.
void StartRealTimeThreads(Dispatcher& d);
void StopRealTimeThreads();

// Runs a system-thread routine, keeping a bug check it raises instead of losing the thread.
void RunGuarded(const std::function<void()>& routine, KIRQL irql);

}  // namespace Platform::Kernel::Internal

namespace Platform::Kernel {
// SCHED_FIFO at the role's priority for the thread; false with why when refused.
bool RequestRealTimePriority(pthread_t thread, RealTimeRole role, std::string* why);
}  // namespace Platform::Kernel
