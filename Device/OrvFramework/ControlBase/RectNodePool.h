#pragma once
// The nodes of every rectangle region come from one pool of 512 slots, so that rebuilding
// regions many times per frame does not reach the heap. Past 512 live nodes, nodes come from the
// heap one at a time and are deleted when given back; the pool never grows.
//
// A slot is a node followed by one int32 of the ring of free slot indices (ring position p is the
// int32 of slot p). The stride is computed from the node type and its alignment: the node holds a
// pointer, so a slot is 32 bytes here, not the 24 of a 32-bit build. Whether a node came from the
// pool is decided by pointer-width arithmetic: inside the block and on a slot boundary.
//
// Every operation takes the pool's own critical section for its whole run, so regions may be used
// on several threads (each region by one at a time).

#include <cstddef>
#include <cstdint>

#include "System/Mutex.h"

namespace Orv {

// One rectangle of a region: right and bottom exclusive. The first 16 bytes have the layout of a
// Win32 RECT.
struct RectNode
{
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
    RectNode* next;
};

class RectNodePool
{
public:
    static constexpr int32_t kDefaultCapacity = 512;
    static constexpr size_t kSlotStride =
        (sizeof(RectNode) + sizeof(int32_t) + alignof(RectNode) - 1) / alignof(RectNode) *
        alignof(RectNode);

    // The pool every region of the process uses, created on first use. Call it once early (before
    // threads start) to fix its place among the program's static objects.
    static RectNodePool& GetProcessPool();

    // Where nodes beyond the pool come from: ::operator new(size, std::nothrow) unless a caller
    // wraps it (to see a refusal). Blocks go back through ::operator delete.
    using HeapAllocate = void* (*)(size_t size);
    static void* AllocateFromHeap(size_t size);

    // A pool of its own, initialised on the first allocation with the given capacity; for tests
    // of exhaustion, and for the process pool (512).
    explicit RectNodePool(int32_t initialCapacity = kDefaultCapacity,
                          HeapAllocate heapAllocate = &AllocateFromHeap);
    ~RectNodePool();
    RectNodePool(const RectNodePool&) = delete;
    RectNodePool& operator=(const RectNodePool&) = delete;

    // Frees an old block and allocates capacity slots, all free in index order. False (capacity
    // 0, every node then from the heap) when the block cannot be allocated.
    bool Init(int32_t capacity);

    // A zeroed node; null only when the pool is exhausted and the heap refuses too.
    RectNode* Allocate();
    void Free(RectNode* node);

    bool IsFromPool(const RectNode* node) const;

    int32_t GetCapacity() const;
    int32_t GetFreeCount() const;
    int32_t GetLiveCount() const;
    int32_t GetPeakCount() const;

private:
    RectNode* SlotNode(int32_t index) const;
    int32_t& RingEntry(int32_t position) const;

    mutable Mutex lock;
    std::byte* slots = nullptr;
    int32_t freeCount = 0;
    int32_t head = 0;
    int32_t capacity = 0;
    int32_t liveCount = 0;
    int32_t peakCount = 0;  // 0 until the first allocation initialises the pool
    int32_t initialCapacity;
    HeapAllocate heapAllocate;
};

}  // namespace Orv
