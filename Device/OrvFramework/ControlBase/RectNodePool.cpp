#include "ControlBase/RectNodePool.h"

#include <cstring>
#include <new>

namespace Orv {

RectNodePool& RectNodePool::GetProcessPool()
{
    static RectNodePool pool;
    return pool;
}

void* RectNodePool::AllocateFromHeap(size_t size)
{
    return ::operator new(size, std::nothrow);
}

RectNodePool::RectNodePool(int32_t initialCapacity, HeapAllocate heapAllocate)
    : initialCapacity(initialCapacity), heapAllocate(heapAllocate)
{
}

RectNodePool::~RectNodePool()
{
    ::operator delete(slots, std::nothrow);
}

RectNode* RectNodePool::SlotNode(int32_t index) const
{
    return reinterpret_cast<RectNode*>(slots + static_cast<size_t>(index) * kSlotStride);
}

int32_t& RectNodePool::RingEntry(int32_t position) const
{
    return *reinterpret_cast<int32_t*>(slots + static_cast<size_t>(position) * kSlotStride +
                                       sizeof(RectNode));
}

bool RectNodePool::Init(int32_t newCapacity)
{
    ScopedLock guard(lock);
    ::operator delete(slots, std::nothrow);
    slots = nullptr;
    capacity = 0;
    freeCount = 0;
    head = 0;
    if (newCapacity <= 0) {
        return false;
    }
    slots = static_cast<std::byte*>(
        ::operator new(static_cast<size_t>(newCapacity) * kSlotStride, std::nothrow));
    if (slots == nullptr) {
        return false;
    }
    capacity = newCapacity;
    for (int32_t i = 0; i < capacity; ++i) {
        RingEntry(i) = i;
    }
    freeCount = capacity;
    return true;
}

RectNode* RectNodePool::Allocate()
{
    ScopedLock guard(lock);
    if (peakCount == 0 && capacity == 0) {
        Init(initialCapacity);
    }
    RectNode* node = nullptr;
    if (freeCount > 0) {
        const int32_t index = RingEntry(head);
        head = (head + 1) % capacity;
        --freeCount;
        node = SlotNode(index);
    } else {
        node = static_cast<RectNode*>(heapAllocate(sizeof(RectNode)));
        if (node == nullptr) {
            return nullptr;  // not counted as live: nothing will give it back
        }
    }
    ++liveCount;
    if (liveCount > peakCount) {
        peakCount = liveCount;
    }
    *node = RectNode{0, 0, 0, 0, nullptr};
    return node;
}

bool RectNodePool::IsFromPool(const RectNode* node) const
{
    const auto address = reinterpret_cast<uintptr_t>(node);
    const auto begin = reinterpret_cast<uintptr_t>(slots);
    return slots != nullptr && address >= begin &&
           address - begin < static_cast<uintptr_t>(capacity) * kSlotStride &&
           (address - begin) % kSlotStride == 0;
}

void RectNodePool::Free(RectNode* node)
{
    if (node == nullptr) {
        return;
    }
    ScopedLock guard(lock);
    if (IsFromPool(node)) {
        if (freeCount >= capacity) {
            return;  // every slot is free already: a second Free of this node; the ring stays whole
        }
        const auto index =
            static_cast<int32_t>((reinterpret_cast<std::byte*>(node) - slots) / kSlotStride);
        RingEntry((head + freeCount) % capacity) = index;
        ++freeCount;
    } else {
        ::operator delete(node, std::nothrow);
    }
    --liveCount;
}

int32_t RectNodePool::GetCapacity() const
{
    ScopedLock guard(lock);
    return capacity;
}

int32_t RectNodePool::GetFreeCount() const
{
    ScopedLock guard(lock);
    return freeCount;
}

int32_t RectNodePool::GetLiveCount() const
{
    ScopedLock guard(lock);
    return liveCount;
}

int32_t RectNodePool::GetPeakCount() const
{
    ScopedLock guard(lock);
    return peakCount;
}

}  // namespace Orv
