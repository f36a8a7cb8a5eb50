#pragma once
// Counted byte buffers: the shared, copy-on-write text store of the strings and the block store of
// the variants. Held through RCPtr<LIBuffer>; a buffer marked unshareable is copied (CreateCopy)
// for every further holder.

#include <algorithm>
#include <cstring>

#include "ObjectBase/RCPtr.h"
#include "Utilities/Storage/Buffer.h"

namespace Orv {

class LIBuffer : public virtual IBuffer, public virtual LRefCountedObject
{
public:
    // A new zero-filled buffer of `size` bytes of the same kind, starting with this buffer's bytes
    // from `offset` (as many as there are and fit).
    virtual RCPtr<LIBuffer> CopyRange(uint32_t size, uint32_t offset) const = 0;
};

template <uint32_t Granularity, uint32_t MaxSlack, uint32_t Alignment = 8,
          class ElementPointer = char*, AllocatorGetter GetAllocator = &GetSystemAllocator>
class LBufferT : public BufferT<Granularity, MaxSlack, Alignment, ElementPointer, GetAllocator>,
                 public LIBuffer
{
    using Storage = BufferT<Granularity, MaxSlack, Alignment, ElementPointer, GetAllocator>;

public:
    static RCPtr<LIBuffer> Create(uint32_t size, uint32_t reserve = 0, bool zeroFill = false)
    {
        return RCPtr<LIBuffer>(new LBufferT(size, reserve, zeroFill));
    }

    RCPtr<LIBuffer> CopyRange(uint32_t newSize, uint32_t offset) const override
    {
        RCPtr<LIBuffer> copy = Create(newSize, 0, true);
        const uint32_t mySize = Storage::GetSize();
        if (offset < mySize) {
            const uint32_t bytes = std::min(newSize, mySize - offset);
            if (bytes != 0) {
                std::memcpy(copy->GetData(), static_cast<const char*>(Storage::GetData()) + offset,
                            bytes);
            }
        }
        return copy;
    }

    RCPtr<LRefCountedObject> CreateCopy() const override
    {
        return RCPtr<LRefCountedObject>(CopyRange(Storage::GetSize(), 0));
    }

private:
    LBufferT(uint32_t size, uint32_t reserve, bool zeroFill) : Storage(size, reserve, zeroFill) {}
};

// The text store of the strings: grows and shrinks within 128 free bytes without the heap.
using LTextBuffer = LBufferT<1, 128, 8, char*>;
// Raw byte reads (registry value data): always exactly the bytes in use.
using LByteBuffer = LBufferT<1, 0, 8, char*>;

}  // namespace Orv
