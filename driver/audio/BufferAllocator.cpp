#include "audio/BufferAllocator.h"

PoolAllocator::PoolAllocator(POOL_TYPE poolType, ULONG poolTag)
    : BufferAllocator(&PoolAllocator::Allocate, &PoolAllocator::Free),
      poolType_(poolType),
      poolTag_(poolTag)
{
}

void* PoolAllocator::Allocate(BufferAllocator* self, SIZE_T size, void** handle)
{
    const PoolAllocator* pool = static_cast<PoolAllocator*>(self);
    void* block = ExAllocatePoolWithTag(pool->poolType_, size, pool->poolTag_);
    *handle = block;
    return block;
}

void PoolAllocator::Free(BufferAllocator* self, void* pointer, void* /*handle*/)
{
    ExFreePoolWithTag(pointer, static_cast<PoolAllocator*>(self)->poolTag_);
}

ContiguousAllocator::ContiguousAllocator()
    : BufferAllocator(&ContiguousAllocator::Allocate, &ContiguousAllocator::Free)
{
}

ContiguousAllocator::~ContiguousAllocator()
{
    ReleaseParkedBlocks();
}

void ContiguousAllocator::ReleaseParkedBlocks()
{
    while (parked_ != nullptr) {
        ParkedBlock* block = parked_;
        parked_ = block->next;
        MmFreeContiguousMemory(block);
    }
}

void* ContiguousAllocator::Allocate(BufferAllocator* self, SIZE_T size, void** handle)
{
    if (KeGetCurrentIrql() == PASSIVE_LEVEL) {
        static_cast<ContiguousAllocator*>(self)->ReleaseParkedBlocks();
    }
    PHYSICAL_ADDRESS lowest{};
    PHYSICAL_ADDRESS highest{};
    PHYSICAL_ADDRESS boundary{};
    lowest.QuadPart = 0;
    highest.QuadPart = 0x00000000FFFFFFFFLL;
    boundary.QuadPart = 0;
    void* block = MmAllocateContiguousMemorySpecifyCache(size, lowest, highest, boundary, MmCached);
    *handle = block;
    return block;
}

void ContiguousAllocator::Free(BufferAllocator* self, void* pointer, void* /*handle*/)
{
    ContiguousAllocator* allocator = static_cast<ContiguousAllocator*>(self);
    if (KeGetCurrentIrql() == PASSIVE_LEVEL) {
        allocator->ReleaseParkedBlocks();
        MmFreeContiguousMemory(pointer);
        return;
    }
    // Blocks are whole pages, so there is room for the link.
    ParkedBlock* block = static_cast<ParkedBlock*>(pointer);
    block->next = allocator->parked_;
    allocator->parked_ = block;
}
