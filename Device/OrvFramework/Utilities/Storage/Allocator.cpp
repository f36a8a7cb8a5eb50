#include "Utilities/Storage/Allocator.h"

#include <cstdlib>

namespace Orv {

void* SystemAllocator::Allocate(uint32_t size)
{
    return std::malloc(size);
}

void* SystemAllocator::AllocateZeroed(uint32_t count, uint32_t size)
{
    if (size != 0 && count > UINT32_MAX / size) {
        return nullptr;
    }
    return std::calloc(count, size);
}

void* SystemAllocator::Reallocate(void* block, uint32_t size)
{
    // realloc(p, 0) may free p and still return null; the buffers never ask for 0 bytes, but an
    // allocator must not leave its caller unsure whether the block is gone.
    return std::realloc(block, size == 0 ? 1 : size);
}

void SystemAllocator::Free(void* block)
{
    std::free(block);
}

IAllocator& GetSystemAllocator()
{
    static SystemAllocator allocator;
    return allocator;
}

}  // namespace Orv
