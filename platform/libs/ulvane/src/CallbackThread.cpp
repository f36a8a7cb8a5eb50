#include "CallbackThread.h"

#include <algorithm>

namespace Ulvane {

void CallbackThread::Open(uint64_t connection)
{
    const std::lock_guard<std::mutex> starting(startStop);
    {
        const std::lock_guard<std::mutex> guard(lock);
        open.insert(connection);
    }
    if (!thread.joinable()) {
        {
            const std::lock_guard<std::mutex> guard(lock);
            stopping = false;
        }
        thread = std::thread([this] { Loop(); });
    }
}

void CallbackThread::Post(uint64_t connection, UlvaneReceiveCallbackFn callback, void* context,
                          const Value& list)
{
    {
        const std::lock_guard<std::mutex> guard(lock);
        if (open.count(connection) == 0 || stopping) {
            return;
        }
        queue.push_back(Batch{connection, callback, context, list});
    }
    changed.notify_all();
}

void CallbackThread::Close(uint64_t connection)
{
    std::unique_lock<std::mutex> guard(lock);
    open.erase(connection);
    queue.erase(std::remove_if(queue.begin(), queue.end(),
                               [connection](const Batch& b) { return b.connection == connection; }),
                queue.end());
    if (!OnThisThread()) {
        changed.wait(guard, [this, connection] { return inFlight != connection; });
    }
    guard.unlock();
    changed.notify_all();
}

void CallbackThread::Stop()
{
    const std::lock_guard<std::mutex> stopping_(startStop);
    {
        const std::lock_guard<std::mutex> guard(lock);
        stopping = true;
        open.clear();
        queue.clear();
    }
    changed.notify_all();
    if (thread.joinable()) {
        if (OnThisThread()) {
            thread.detach();  // a callback that releases the library ends the loop on return
        } else {
            thread.join();
        }
    }
}

void CallbackThread::WaitIdle()
{
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [this] { return stopping || (queue.empty() && inFlight == 0); });
}

bool CallbackThread::IsRunning()
{
    const std::lock_guard<std::mutex> starting(startStop);
    return thread.joinable();
}

void CallbackThread::Loop()
{
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        changed.wait(guard, [this] { return stopping || !queue.empty(); });
        if (stopping) {
            return;
        }
        Batch batch = std::move(queue.front());
        queue.pop_front();
        inFlight = batch.connection;
        guard.unlock();
        batch.callback(batch.context, 0, &batch.list);
        batch.list.Clear();
        guard.lock();
        inFlight = 0;
        changed.notify_all();
    }
}

}  // namespace Ulvane
