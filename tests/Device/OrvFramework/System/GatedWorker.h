#pragma once
// A worker whose runs the test steps through: each run announces itself on `entered`, then waits
// for `release` before it returns.

#include <atomic>
#include <chrono>
#include <thread>

#include "ObjectBase/RCPtr.h"
#include "System/Event.h"
#include "System/Thread.h"
#include "System/ThreadWorker.h"

namespace TestWorkers {

class LGatedWorker : public Orv::LThreadWorker
{
public:
    int Run(Orv::RCPtr<Orv::LRefCountedObject>& parameters) override
    {
        lastParameters.store(parameters.Get());
        runs.fetch_add(1);
        entered.Set();
        release.Wait(Orv::kInfinite);
        finishedRuns.fetch_add(1);
        return 7;
    }

    std::atomic<int> runs{0};
    std::atomic<int> finishedRuns{0};
    std::atomic<const Orv::LRefCountedObject*> lastParameters{nullptr};
    Orv::Event entered{true};
    Orv::Event release{true};
};

class LParameter : public virtual Orv::LRefCountedObject
{
};

// Polls a condition that another thread makes true; fails the wait after two seconds.
template <class Condition>
bool Eventually(Condition condition)
{
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > limit) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Releases the worker's current run once someone is blocked waiting for the thread with this id
// (a destructor joining it), and says whether that was seen; without a waiter it releases the run
// after Eventually's limit, so the test fails instead of hanging.
inline std::thread ReleaseOnceWaitedFor(LGatedWorker& worker, uint32_t threadId,
                                        std::atomic<bool>& sawWaiter)
{
    return std::thread([&worker, threadId, &sawWaiter] {
        sawWaiter.store(Eventually([threadId] { return Orv::Testing::WaitersFor(threadId) > 0; }));
        worker.release.Set();
    });
}

}  // namespace TestWorkers
