#pragma once
// Where buffer memory comes from. A channel buffer set holds an allocator it does not own.
// Callable at DISPATCH_LEVEL.
//
// The interface is a table of two routines, as kernel interfaces are, rather than virtual
// functions: it needs no run-time type information from code built without it.

#include <wdm.h>

class BufferAllocator
{
public:
    // A block of size bytes, or null; *handle is what FreeBlock needs back.
    void* AllocateBlock(SIZE_T size, void** handle) { return allocate_(this, size, handle); }
    void FreeBlock(void* pointer, void* handle) { free_(this, pointer, handle); }

protected:
    using AllocateRoutine = void* (*)(BufferAllocator* self, SIZE_T size, void** handle);
    using FreeRoutine = void (*)(BufferAllocator* self, void* pointer, void* handle);

    BufferAllocator(AllocateRoutine allocate, FreeRoutine free) : allocate_(allocate), free_(free)
    {
    }
    ~BufferAllocator() = default;
    BufferAllocator(const BufferAllocator&) = default;
    BufferAllocator& operator=(const BufferAllocator&) = default;

private:
    AllocateRoutine allocate_;
    FreeRoutine free_;
};

// Pool memory of one type and tag.
class PoolAllocator final : public BufferAllocator
{
public:
    PoolAllocator(POOL_TYPE poolType, ULONG poolTag);

private:
    static void* Allocate(BufferAllocator* self, SIZE_T size, void** handle);
    static void Free(BufferAllocator* self, void* pointer, void* handle);

    POOL_TYPE poolType_;
    ULONG poolTag_;
};

// Physically contiguous, cached memory below 4 GB, for buffers the device reads. It can be
// allocated at DISPATCH_LEVEL but freed only at PASSIVE_LEVEL, while the owner of a buffer set
// reconfigures it under a spin lock: a block given back above PASSIVE_LEVEL is parked and freed
// by the next call at PASSIVE_LEVEL, or by ReleaseParkedBlocks, or when the allocator goes.
class ContiguousAllocator final : public BufferAllocator
{
public:
    ContiguousAllocator();
    ~ContiguousAllocator();  // PASSIVE_LEVEL
    ContiguousAllocator(const ContiguousAllocator&) = delete;
    ContiguousAllocator& operator=(const ContiguousAllocator&) = delete;

    // Frees the parked blocks. PASSIVE_LEVEL.
    void ReleaseParkedBlocks();

private:
    struct ParkedBlock
    {
        ParkedBlock* next;
    };

    static void* Allocate(BufferAllocator* self, SIZE_T size, void** handle);
    static void Free(BufferAllocator* self, void* pointer, void* handle);

    ParkedBlock* parked_ = nullptr;  // linked through the blocks themselves
};
