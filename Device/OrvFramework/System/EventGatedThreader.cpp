#include "System/EventGatedThreader.h"

#include <atomic>

#include "ObjectBase/Exception.h"

namespace Orv {

struct LEventGatedThreader::Loop
{
    RCPtr<LEvent> gate;
    RCPtr<LThreadWorker> worker;
    RCPtr<LRefCountedObject> parameters;
    std::atomic<bool> stop{false};
    int timeout = kInfinite;
    std::atomic<int> lastWaitResult{kWaitSignalled};
    std::atomic<bool> running{false};
    // The thread's own share of this state, handed over when the thread starts.
    std::shared_ptr<Loop> self;
};

RCPtr<LEventGatedThreader> LEventGatedThreader::Create(const RCPtr<LEvent>& gate,
                                                       const RCPtr<LThreadWorker>& worker,
                                                       const RCPtr<LRefCountedObject>& parameters,
                                                       int priority)
{
    if (!gate) {
        ORV_THROW_NULL_POINTER("gate");
    }
    return RCPtr<LEventGatedThreader>(new LEventGatedThreader(gate, worker, parameters, priority));
}

LEventGatedThreader::LEventGatedThreader(const RCPtr<LEvent>& gate,
                                         const RCPtr<LThreadWorker>& worker,
                                         const RCPtr<LRefCountedObject>& parameters, int priority)
    : loop(std::make_shared<Loop>()), thread(&GateLoop, loop.get())
{
    if (!thread.IsValid()) {
        ORV_THROW_DETAIL(RuntimeError, "CreateThread");
    }
    loop->gate = gate;
    loop->worker = worker;
    loop->parameters = parameters;
    thread.SetPriority(priority);
    thread.SetPriorityBoost(false);
    loop->self = loop;
    thread.Resume();
}

LEventGatedThreader::~LEventGatedThreader()
{
    if (!thread.IsValid()) {
        return;
    }
    loop->stop.store(true);
    loop->gate->Set();
    thread.Join();
}

bool LEventGatedThreader::IsRunning() const
{
    return loop->running.load();
}

int LEventGatedThreader::GetLastWaitResult() const
{
    return loop->lastWaitResult.load();
}

uint32_t LEventGatedThreader::GateLoop(void* argument)
{
    const std::shared_ptr<Loop> keep = std::move(static_cast<Loop*>(argument)->self);
    Loop& state = *keep;
    while (!state.stop.load()) {
        state.lastWaitResult.store(state.gate->Wait(state.timeout));
        if (state.stop.load()) {
            break;
        }
        if (state.worker) {
            state.running.store(true);
            state.worker->Run(state.parameters);
            state.running.store(false);
        }
    }
    return 0;
}

}  // namespace Orv
