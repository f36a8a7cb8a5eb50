#pragma once
// An allocator for tests: forwards to the heap, counts what is outstanding, and fails the n-th
// request on demand so every out-of-memory path can be walked.

#include <cstdint>
#include <cstdlib>

#include "Utilities/Storage/Allocator.h"

namespace OrvTest {

class FailingAllocator final : public Orv::IAllocator
{
public:
    // The request (1-based, counted from now) that returns null; 0 never fails.
    void FailAt(int request)
    {
        failAt = request;
        requests = 0;
    }

    void* Allocate(uint32_t size) override { return Fails() ? nullptr : Count(std::malloc(size)); }
    void* AllocateZeroed(uint32_t count, uint32_t size) override
    {
        return Fails() ? nullptr : Count(std::calloc(count, size));
    }
    void* Reallocate(void* block, uint32_t size) override
    {
        if (Fails()) {
            return nullptr;
        }
        ++reallocations;
        return std::realloc(block, size);
    }
    void Free(void* block) override
    {
        if (block != nullptr) {
            --outstanding;
        }
        std::free(block);
    }

    int outstanding = 0;
    int reallocations = 0;

private:
    bool Fails() { return failAt != 0 && ++requests == failAt; }
    void* Count(void* block)
    {
        if (block != nullptr) {
            ++outstanding;
        }
        return block;
    }

    int failAt = 0;
    int requests = 0;
};

FailingAllocator& TestAllocatorInstance();
inline Orv::IAllocator& TestAllocator()
{
    return TestAllocatorInstance();
}

}  // namespace OrvTest
