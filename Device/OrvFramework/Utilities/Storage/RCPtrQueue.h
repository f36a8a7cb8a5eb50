#pragma once
// RCPtrQueue<T, N>: a first-in, first-out ring of counted pointers that starts with N slots and
// grows by one slot whenever it would become full, so enqueueing never fails for room and never
// drops an item. One slot is always empty: N slots hold N - 1 items before the first growth.
//
// With a lock (the owner's, not owned by the queue) any thread may enqueue; each queue has one
// consuming thread, which tests GetCount before it dequeues.

#include <cstdint>
#include <utility>

#include "ObjectBase/Exception.h"
#include "ObjectBase/RCPtr.h"
#include "System/Mutex.h"
#include "Utilities/Storage/RCPtrArray.h"

namespace Orv {

template <class T, int N>
class RCPtrQueue
{
    static_assert(N >= 0, "a queue starts with no or some slots");

public:
    explicit RCPtrQueue(Mutex* lock = nullptr, uint32_t slotCount = N)
        : slots(slotCount, slotCount), lock(lock)
    {
    }
    RCPtrQueue(const RCPtrQueue&) = delete;
    RCPtrQueue& operator=(const RCPtrQueue&) = delete;

    // Items queued.
    int32_t GetCount() const
    {
        ScopedLock guard(lock);
        const int32_t slotCount = static_cast<int32_t>(slots.GetCount());
        if (slotCount == 0) {
            return 0;
        }
        int32_t queued = writeIndex - readIndex;
        if (queued < 0) {
            queued += slotCount;
        }
        return queued;
    }

    // The queue takes a reference to the item. Always 0; a failed growth throws std::bad_alloc
    // and leaves the queue as it was.
    ORVRESULT Enqueue(const RCPtr<T>& item)
    {
        ScopedLock guard(lock);
        if (slots.GetCount() == 0) {
            slots.SetCount(2);
            readIndex = writeIndex = 0;
        }
        if (static_cast<int32_t>(slots.GetCount()) == GetCount() + 1) {
            // Full: a new empty slot in front of the oldest item keeps the ring's order.
            slots.InsertItem(static_cast<uint32_t>(readIndex), RCPtr<T>());
            if (readIndex < writeIndex) {
                ++writeIndex;
            }
            readIndex = (readIndex + 1) % static_cast<int32_t>(slots.GetCount());
        }
        const int32_t at = writeIndex;
        writeIndex = (writeIndex + 1) % static_cast<int32_t>(slots.GetCount());
        slots.GetAt(static_cast<uint32_t>(at)) = item;
        return S_OK;
    }

    // The oldest item, with the queue's reference. Throws "Runtime Error" when the queue is empty.
    RCPtr<T> Dequeue()
    {
        if (GetCount() == 0) {
            ORV_THROW(RuntimeError);
        }
        ScopedLock guard(lock);
        RCPtr<T> item = std::move(slots.GetAt(static_cast<uint32_t>(readIndex)));
        readIndex = (readIndex + 1) % static_cast<int32_t>(slots.GetCount());
        return item;
    }

    uint32_t GetSlotCount() const
    {
        ScopedLock guard(lock);
        return slots.GetCount();
    }

private:
    RCPtrArray<T, static_cast<uint32_t>(N), static_cast<uint32_t>(N)> slots;
    int32_t writeIndex = 0;
    int32_t readIndex = 0;
    Mutex* lock;
};

}  // namespace Orv
