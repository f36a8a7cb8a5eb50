#pragma once
// A named thread of its own that runs one work item per Trigger. A Trigger while a run is active
// is refused (E_FAIL), not queued; the next Trigger after the run has ended succeeds.
//
// Each run's result is kept (GetLastResult); when the run has ended and its references are given
// back, the completion event handed to that Trigger, if any, is set. The result is stored before
// the run counts as ended, so an owner that sees IsRunning() false, or wakes on the event, reads
// the result of that run.
//
// Destruction stops the loop and waits for the thread to end, however long the current run takes.
// Destroyed from inside its own work item, it cannot wait for itself: the loop then ends when that
// run returns, and the state the thread uses stays alive until then.

#include <memory>
#include <mutex>

#include "ObjectBase/RCPtr.h"
#include "System/Event.h"
#include "System/Thread.h"
#include "System/ThreadWorker.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

class RetriggerableThreader : public IStringable
{
public:
    // Throws a runtime error when the thread cannot be created.
    explicit RetriggerableThreader(const StringT<char16_t, char>& name);
    virtual ~RetriggerableThreader();

    RetriggerableThreader(const RetriggerableThreader&) = delete;
    RetriggerableThreader& operator=(const RetriggerableThreader&) = delete;

    // Starts one run of worker with parameters at the given priority: 0, or E_FAIL while stopping
    // or while a run is active. completion, when given, is set once that run has ended.
    ORVRESULT Trigger(const RCPtr<LThreadWorker>& worker,
                      const RCPtr<LRefCountedObject>& parameters, int priority,
                      const RCPtr<LEvent>& completion = RCPtr<LEvent>());
    // The name given to the constructor.
    StringT<char16_t, char> ToString() const override;
    // From a successful Trigger until the run has ended.
    bool IsRunning() const;
    // What the worker's Run returned in the last run that has ended; 0 before the first.
    int GetLastResult() const;
    const Thread& GetThread() const { return thread; }

private:
    struct Loop;

    static uint32_t RunLoop(void* argument);

    std::shared_ptr<Loop> loop;
    Thread thread;
    StringT<char16_t, char> name;
    std::mutex triggerLock;  // callers of Trigger, one at a time
};

}  // namespace Orv
