#include "System/RetriggerableThreader.h"

#include <atomic>

#include "ObjectBase/Exception.h"

namespace Orv {

struct RetriggerableThreader::Loop
{
    Event trigger{true};
    std::atomic<bool> running{false};
    std::atomic<bool> stopping{false};
    // Written by Trigger only while no run is pending or active, read by the thread after the
    // trigger wakes it.
    RCPtr<LThreadWorker> work;
    RCPtr<LRefCountedObject> parameters;
    RCPtr<LEvent> completion;
    std::atomic<int> lastResult{0};
    // The thread's own share of this state, handed over when the thread starts.
    std::shared_ptr<Loop> self;
};

RetriggerableThreader::RetriggerableThreader(const StringT<char16_t, char>& name)
    : loop(std::make_shared<Loop>()), thread(&RunLoop, loop.get()), name(name)
{
    if (!thread.IsValid()) {
        ORV_THROW_DETAIL(RuntimeError, "CreateThread");
    }
    thread.SetName(name);
    thread.SetPriorityBoost(false);
    loop->self = loop;
    thread.Resume();
}

RetriggerableThreader::~RetriggerableThreader()
{
    if (!thread.IsValid()) {
        return;
    }
    loop->stopping.store(true);
    loop->trigger.Set();
    thread.Join();
}

ORVRESULT RetriggerableThreader::Trigger(const RCPtr<LThreadWorker>& worker,
                                         const RCPtr<LRefCountedObject>& parameters, int priority,
                                         const RCPtr<LEvent>& completion)
{
    const std::lock_guard<std::mutex> guard(triggerLock);
    if (loop->stopping.load()) {
        return E_FAIL;
    }
    if (loop->running.load()) {
        if (thread.IsFinished()) {
            loop->running.store(false);
        } else {
            return E_FAIL;
        }
    }
    thread.SetPriority(priority);
    loop->work = worker;
    loop->parameters = parameters;
    loop->completion = completion;
    loop->running.store(true);
    return loop->trigger.Set() ? S_OK : E_FAIL;
}

StringT<char16_t, char> RetriggerableThreader::ToString() const
{
    return name;
}

bool RetriggerableThreader::IsRunning() const
{
    return loop->running.load();
}

int RetriggerableThreader::GetLastResult() const
{
    return loop->lastResult.load();
}

uint32_t RetriggerableThreader::RunLoop(void* argument)
{
    const std::shared_ptr<Loop> keep = std::move(static_cast<Loop*>(argument)->self);
    Loop& state = *keep;
    while (!state.stopping.load()) {
        state.trigger.Wait(kInfinite);
        if (!state.stopping.load() && state.work) {
            state.lastResult.store(state.work->Run(state.parameters));
        }
        state.parameters = nullptr;
        state.work = nullptr;
        // Taken before the run counts as ended: from then on Trigger may store the next one.
        const RCPtr<LEvent> completion = std::move(state.completion);
        state.running.store(false);
        if (completion) {
            completion->Set();
        }
    }
    return 0;
}

}  // namespace Orv
