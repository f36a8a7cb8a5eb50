// Pool and physically contiguous memory.
#pragma once

#include "wdm/NtTypes.h"

typedef enum _POOL_TYPE
{
    NonPagedPool = 0,
    PagedPool = 1,
    NonPagedPoolMustSucceed = 2,
    NonPagedPoolCacheAligned = 4,
    PagedPoolCacheAligned = 5,
    NonPagedPoolNx = 512,
} POOL_TYPE;

typedef enum _MEMORY_CACHING_TYPE
{
    MmNonCached = 0,
    MmCached = 1,
    MmWriteCombined = 2,
} MEMORY_CACHING_TYPE;

#define PAGE_SIZE 0x1000

// New blocks are filled with a poison pattern, never zeroed: callers clear what they use.
PVOID ExAllocatePoolWithTag(POOL_TYPE poolType, SIZE_T numberOfBytes, ULONG tag);
void ExFreePoolWithTag(PVOID p, ULONG tag);
void ExFreePool(PVOID p);

// Page-aligned; freed only with MmFreeContiguousMemory.
PVOID MmAllocateContiguousMemorySpecifyCache(SIZE_T numberOfBytes,
                                             PHYSICAL_ADDRESS lowestAcceptableAddress,
                                             PHYSICAL_ADDRESS highestAcceptableAddress,
                                             PHYSICAL_ADDRESS boundaryAddressMultiple,
                                             MEMORY_CACHING_TYPE cacheType);
PVOID MmAllocateContiguousMemory(SIZE_T numberOfBytes, PHYSICAL_ADDRESS highestAcceptableAddress);
void MmFreeContiguousMemory(PVOID baseAddress);

#define RtlZeroMemory(destination, length) __builtin_memset((destination), 0, (length))
#define RtlFillMemory(destination, length, fill) __builtin_memset((destination), (fill), (length))
#define RtlCopyMemory(destination, source, length) \
    __builtin_memcpy((destination), (source), (length))
#define RtlMoveMemory(destination, source, length) \
    __builtin_memmove((destination), (source), (length))
