#pragma once
// A thread created suspended: it runs its procedure only after Resume. The wrapper is a handle: its
// destruction does not stop a running thread (the thread keeps its own state alive and ends
// freely). A thread destroyed before it was ever resumed never runs its procedure.
//
// A failed creation leaves an invalid wrapper (IsValid false); every later operation on it then
// fails quietly, as the platform's calls on a null handle do.
//
// Priorities are the platform's values (0 normal, -2 .. 2, -15 idle, 15 time-critical), mapped onto
// the thread's nice value relative to the process's; another value is refused. Lowering a priority
// always works; raising one needs privilege, and a refusal by the system makes SetPriority return
// false. GetPriority reads the thread's nice value back while the thread runs. There is no
// priority boost: SetPriorityBoost(false) succeeds, SetPriorityBoost(true) returns false.

#include <cstdint>
#include <memory>

#include "Utilities/Storage/StringT.h"

namespace Orv {

using ThreadProcedure = uint32_t (*)(void* argument);

namespace Detail {
struct ThreadRecord;
}

class Thread
{
public:
    Thread(ThreadProcedure procedure, void* argument);
    virtual ~Thread();

    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    bool IsValid() const { return impl != nullptr; }
    // The previous suspend count: 1 when this started the thread, 0 when it already ran; -1 when
    // there is no thread.
    int Resume();
    // True once the procedure has returned.
    bool IsFinished() const;
    // True when the procedure returned within the time (negative: no limit).
    bool Wait(int milliseconds);
    // Waits without limit for the procedure to return; called on the thread itself (a driver
    // released by its own worker), it returns at once, since the thread cannot wait for itself.
    void Join();
    bool SetPriority(int priority);
    int GetPriority() const;
    bool SetPriorityBoost(bool enable);
    // Whether the boost is still on record as enabled: true until SetPriorityBoost(false).
    bool IsPriorityBoostEnabled() const;
    // The operating system's name of the thread, cut to the 15 bytes it keeps.
    bool SetName(const StringT<char16_t, char>& name);
    // Unique in the process while the thread exists; 0 when there is no thread.
    uint32_t GetId() const;
    // Whether the calling thread is this one.
    bool IsCurrent() const;

private:
    std::shared_ptr<Detail::ThreadRecord> impl;
};

namespace Testing {
// The next `count` thread creations fail as if the system had refused them.
void FailNextThreadCreations(int count);
// How many callers are blocked in Wait or Join for the thread with this id, so a test can tell
// that a destructor is really waiting before it lets the thread finish.
int WaitersFor(uint32_t threadId);
}  // namespace Testing

}  // namespace Orv
