#include "U32Array.h"

#include "audio/PoolTags.h"

bool U32Array::Resize(ULONG count)
{
    Release();
    if (count == 0) {
        return true;
    }
    const SIZE_T bytes = SIZE_T{count} * sizeof(ULONG);
    if (bytes / sizeof(ULONG) != count) {
        return false;
    }
    data_ = static_cast<ULONG*>(ExAllocatePoolWithTag(NonPagedPool, bytes, kChannelTablesTag));
    if (data_ == nullptr) {
        return false;
    }
    RtlZeroMemory(data_, bytes);
    count_ = count;
    return true;
}

void U32Array::Release()
{
    if (data_ != nullptr) {
        ExFreePoolWithTag(data_, kChannelTablesTag);
    }
    data_ = nullptr;
    count_ = 0;
}
