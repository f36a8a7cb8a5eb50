#pragma once
// Runs a worker on a thread of its own every time a gate event is set. The gate is auto-reset, so
// every Set releases at most one run: Sets that arrive while the worker runs collapse into one
// further run.
//
// Lifetime: the last RCPtr's release stops the loop and waits for the thread to end, however long
// the current run takes, so a worker never outlives the threader it runs in. Released from inside
// its own worker, the threader cannot wait for itself: the loop then ends when that run returns,
// and the state the thread uses stays alive until then.

#include <memory>

#include "ObjectBase/RCPtr.h"
#include "System/Event.h"
#include "System/Thread.h"
#include "System/ThreadWorker.h"

namespace Orv {

class LEventGatedThreader : public virtual LRefCountedObject
{
public:
    // Throws a runtime error when the thread cannot be created.
    static RCPtr<LEventGatedThreader> Create(const RCPtr<LEvent>& gate,
                                             const RCPtr<LThreadWorker>& worker,
                                             const RCPtr<LRefCountedObject>& parameters,
                                             int priority);
    ~LEventGatedThreader() override;

    // Whether the worker is inside Run at this moment.
    bool IsRunning() const;
    // The result of the latest wait on the gate (kWaitSignalled, kWaitTimeout or kWaitFailed).
    int GetLastWaitResult() const;
    const Thread& GetThread() const { return thread; }

private:
    struct Loop;

    LEventGatedThreader(const RCPtr<LEvent>& gate, const RCPtr<LThreadWorker>& worker,
                        const RCPtr<LRefCountedObject>& parameters, int priority);
    static uint32_t GateLoop(void* argument);

    std::shared_ptr<Loop> loop;
    Thread thread;
};

}  // namespace Orv
