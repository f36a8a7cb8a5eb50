#pragma once
// The library's own thread that calls the receive callbacks: batches of every connection in one
// queue, delivered in the order they were posted. A connection that closes loses what is still
// queued for it, and Close returns only when no callback of it is running, so that a program may
// free its receiver as soon as it has disconnected.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

#include "Ulvane.h"

namespace Ulvane {

class CallbackThread
{
public:
    CallbackThread() = default;
    CallbackThread(const CallbackThread&) = delete;
    CallbackThread& operator=(const CallbackThread&) = delete;
    ~CallbackThread() { Stop(); }

    // Batches of the connection are delivered from now on; the thread starts if it is not
    // running.
    void Open(uint64_t connection);
    // Queues a copy of the list; dropped when the connection is not open.
    void Post(uint64_t connection, UlvaneReceiveCallbackFn callback, void* context,
              const Value& list);
    // Drops the connection's queued batches and waits for its running callback, unless called
    // from that callback.
    void Close(uint64_t connection);
    // Closes every connection and ends the thread.
    void Stop();
    // Waits until the queue is empty and no callback runs.
    void WaitIdle();
    bool IsRunning();

private:
    struct Batch
    {
        uint64_t connection;
        UlvaneReceiveCallbackFn callback;
        void* context;
        Value list;
    };

    void Loop();
    bool OnThisThread() const { return std::this_thread::get_id() == thread.get_id(); }

    std::mutex lock;
    std::condition_variable changed;
    std::deque<Batch> queue;  // guarded by lock
    std::set<uint64_t> open;  // guarded by lock
    uint64_t inFlight = 0;    // guarded by lock; the connection whose callback runs, 0 = none
    bool stopping = false;    // guarded by lock
    std::thread thread;       // started and joined under startStop
    std::mutex startStop;
};

}  // namespace Ulvane
