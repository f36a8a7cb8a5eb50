#pragma once
// ReuseAllocator<T, N>: a pool of blocks for one payload class. A block freed is the next handed
// out; blocks go back to the heap only when the pool is destroyed, so the pool grows to the
// largest number of payloads alive at once and then costs no heap traffic. Requests of another
// size than sizeof(T) are served by the heap and go back there.
//
// Every block, pooled or not, starts with a header that says which kind it is, so Free never reads
// outside a block it handed out, and a block freed twice is not handed out twice.
//
// A pool built with a lock may be used from any thread; without one, from one thread only.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>

#include "ObjectBase/Exception.h"
#include "System/Mutex.h"
#include "Utilities/Storage/ArrayBuffer.h"

namespace Orv {

template <class T, uint32_t N>
class ReuseAllocator
{
    struct Header
    {
        int32_t index;  // block number in the pool, or kHeapBlock
        int32_t inUse;  // pooled blocks: 1 while handed out
    };
    static constexpr int32_t kHeapBlock = -1;
    // The payload starts at the heap's own alignment after the header.
    static constexpr std::size_t kHeaderSize = (sizeof(Header) + alignof(std::max_align_t) - 1) /
                                               alignof(std::max_align_t) *
                                               alignof(std::max_align_t);
    static_assert(alignof(T) <= alignof(std::max_align_t), "payloads use the heap's alignment");

public:
    struct Buf;  // one pooled block: the header, then room for one T

    explicit ReuseAllocator(bool withLock = false) : lock(withLock ? new Mutex() : nullptr)
    {
        // The first capacity step at once, so the first payloads cost no table growth.
        blocks.SetCount(1);
        blocks.SetCount(0);
        freeList.SetCount(1);
        freeList.SetCount(0);
    }
    ReuseAllocator(const ReuseAllocator&) = delete;
    ReuseAllocator& operator=(const ReuseAllocator&) = delete;

    // Payloads still living in the pool lose their storage: pools end with the process.
    virtual ~ReuseAllocator()
    {
        for (uint32_t i = blocks.GetCount(); i-- > 0;) {
            std::free(blocks.GetAt(i));
        }
        blocks.SetCount(0);
        freeList.SetCount(0);
        delete lock;
    }

    // Throws std::bad_alloc when the heap has no room; the pool is then unchanged.
    void* Allocate(std::size_t size)
    {
        if (size != sizeof(T)) {
            Header* header = NewBlock(size);
            header->index = kHeapBlock;
            header->inUse = 1;
            return Payload(header);
        }
        ScopedLock guard(lock);
        Header* header = nullptr;
        if (freeList.GetCount() > 0) {
            const uint32_t index = freeList.GetAt(freeList.GetCount() - 1);
            freeList.SetCount(freeList.GetCount() - 1);
            header = HeaderOf(blocks.GetAt(index));
        } else {
            const uint32_t index = blocks.GetCount();
            header = NewBlock(sizeof(T));
            try {
                blocks.AddItem(reinterpret_cast<Buf*>(header));
            } catch (...) {
                std::free(header);
                throw;
            }
            header->index = static_cast<int32_t>(index);
        }
        header->inUse = 1;
        return Payload(header);
    }

    void Free(void* pointer)
    {
        if (pointer == nullptr) {
            return;
        }
        Header* header = reinterpret_cast<Header*>(static_cast<char*>(pointer) - kHeaderSize);
        if (header->index == kHeapBlock) {
            std::free(header);
            return;
        }
        ScopedLock guard(lock);
        const int32_t index = header->index;
        if (index < 0 || static_cast<uint32_t>(index) >= blocks.GetCount() ||
            blocks.GetAt(static_cast<uint32_t>(index)) != reinterpret_cast<Buf*>(header) ||
            header->inUse == 0) {
            return;  // not one of ours, or already free: never hand a block out twice
        }
        header->inUse = 0;
        try {
            freeList.AddItem(static_cast<unsigned int>(index));
        } catch (const std::bad_alloc&) {
            // The block stays in the pool, unused, until the pool goes.
        }
    }

    uint32_t GetBlockCount() const { return blocks.GetCount(); }
    uint32_t GetBlockCapacity() const { return blocks.GetCapacity(); }
    uint32_t GetFreeCount() const { return freeList.GetCount(); }
    bool HasLock() const { return lock != nullptr; }

private:
    static Header* NewBlock(std::size_t payload)
    {
        if (payload > SIZE_MAX - kHeaderSize) {
            ThrowBadAlloc();
        }
        void* block = std::malloc(kHeaderSize + payload);
        if (block == nullptr) {
            ThrowBadAlloc();
        }
        return static_cast<Header*>(block);
    }
    static void* Payload(Header* header) { return reinterpret_cast<char*>(header) + kHeaderSize; }
    static Header* HeaderOf(Buf* block) { return reinterpret_cast<Header*>(block); }

    ArrayBuffer<Buf*, N, 1600> blocks;
    ArrayBuffer<unsigned int, N, 1600> freeList;
    Mutex* lock;
};

}  // namespace Orv
