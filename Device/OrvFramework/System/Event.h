#pragma once
// Kernel-style events. An auto-reset event releases one waiter per Set and resets itself; a
// manual-reset event stays signalled until Reset and releases every waiter meanwhile.
//
// Wait results follow the platform's: kWaitSignalled (0), kWaitTimeout (0x102), kWaitFailed (-1).
// A negative time-out waits without limit (kInfinite).
//
// Event is a plain object; LEvent is the counted auto-reset event that threads share through
// RCPtr<LEvent>. Both sit on the same separately allocated record, so the same code serves them.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "ObjectBase/RefCountedObject.h"

namespace Orv {

inline constexpr int kInfinite = -1;
inline constexpr int kWaitSignalled = 0;
inline constexpr int kWaitTimeout = 0x102;
inline constexpr int kWaitFailed = -1;

namespace Detail {

struct EventRecord
{
    explicit EventRecord(bool autoReset) : autoReset(autoReset) {}

    bool Set();
    bool Reset();
    int Wait(int milliseconds);

    std::mutex lock;
    std::condition_variable signalledChanged;
    const bool autoReset;
    bool signalled = false;  // guarded by lock
    std::atomic<int32_t> waiterCount{0};
};

// The operations that Event and LEvent share, on their one record.
class EventHandle
{
public:
    EventHandle(const EventHandle&) = delete;
    EventHandle& operator=(const EventHandle&) = delete;

    bool Set() { return impl->Set(); }
    bool Reset() { return impl->Reset(); }
    int Wait(int milliseconds) { return impl->Wait(milliseconds); }
    // Threads inside Wait at this moment.
    int32_t GetWaiterCount() const { return impl->waiterCount.load(std::memory_order_acquire); }

protected:
    explicit EventHandle(bool autoReset) : impl(std::make_unique<EventRecord>(autoReset)) {}
    ~EventHandle() = default;

private:
    std::unique_ptr<EventRecord> impl;
};

}  // namespace Detail

class Event : public Detail::EventHandle
{
public:
    explicit Event(bool autoReset) : EventHandle(autoReset) {}
    virtual ~Event() = default;
};

class LEvent : public virtual LRefCountedObject, public Detail::EventHandle
{
public:
    LEvent() : EventHandle(true) {}
    ~LEvent() override = default;
};

}  // namespace Orv
