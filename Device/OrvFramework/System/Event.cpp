#include "System/Event.h"

#include <chrono>

namespace Orv {

namespace Detail {

bool EventRecord::Set()
{
    {
        const std::lock_guard<std::mutex> guard(lock);
        signalled = true;
    }
    if (autoReset) {
        signalledChanged.notify_one();
    } else {
        signalledChanged.notify_all();
    }
    return true;
}

bool EventRecord::Reset()
{
    const std::lock_guard<std::mutex> guard(lock);
    signalled = false;
    return true;
}

int EventRecord::Wait(int milliseconds)
{
    waiterCount.fetch_add(1, std::memory_order_acq_rel);
    std::unique_lock<std::mutex> guard(lock);
    const auto isSignalled = [this] { return signalled; };
    bool woken = true;
    if (milliseconds < 0) {
        signalledChanged.wait(guard, isSignalled);
    } else {
        woken =
            signalledChanged.wait_for(guard, std::chrono::milliseconds(milliseconds), isSignalled);
    }
    if (woken && autoReset) {
        signalled = false;
    }
    guard.unlock();
    waiterCount.fetch_sub(1, std::memory_order_acq_rel);
    return woken ? kWaitSignalled : kWaitTimeout;
}

}  // namespace Detail

}  // namespace Orv
