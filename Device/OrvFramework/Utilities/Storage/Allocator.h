#pragma once
// Where the framework's buffers take their memory from. Every buffer names the function that
// returns its allocator, so a test can hand a buffer an allocator that fails on purpose.

#include <cstdint>

namespace Orv {

class IAllocator
{
public:
    // Null when the heap has no block of that size.
    virtual void* Allocate(uint32_t size) = 0;
    // count x size zero bytes; null on exhaustion or when the product does not fit 32 bits.
    virtual void* AllocateZeroed(uint32_t count, uint32_t size) = 0;
    // The old contents up to the smaller size, possibly moved. Null on failure, and then the old
    // block is still valid and still the caller's.
    virtual void* Reallocate(void* block, uint32_t size) = 0;
    virtual void Free(void* block) = 0;

protected:
    ~IAllocator() = default;
};

// The C run-time heap. Stateless; the heap itself is thread-safe.
class SystemAllocator final : public IAllocator
{
public:
    void* Allocate(uint32_t size) override;
    void* AllocateZeroed(uint32_t count, uint32_t size) override;
    void* Reallocate(void* block, uint32_t size) override;
    void Free(void* block) override;
};

// The process-wide SystemAllocator, made on the first call.
IAllocator& GetSystemAllocator();

using AllocatorGetter = IAllocator& (*)();

}  // namespace Orv
