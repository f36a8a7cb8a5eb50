#pragma once
// Byte buffers with a fixed growth policy per instance:
//   Granularity: every capacity is a multiple of it (except a reserve given at construction);
//   MaxSlack:    Resize keeps its block while the free room stays within max(MaxSlack,
//                Granularity - 1) bytes, and reallocates to fit otherwise.
// Allocate gives room for n bytes without keeping the contents; Resize keeps them.
// A failed allocation throws std::bad_alloc (Orv::Exception<std::bad_alloc>) and leaves the buffer
// exactly as it was: its block, size and contents stay.

#include <cstdint>
#include <cstring>

#include "ObjectBase/Exception.h"
#include "ObjectBase/OrvResult.h"
#include "Utilities/Storage/Allocator.h"

namespace Orv {

class IBuffer
{
public:
    virtual uint32_t GetSize() const = 0;
    virtual uint32_t Allocate(uint32_t size) = 0;
    virtual uint32_t Resize(uint32_t size) = 0;
    // count < 0: from offset to the end. E_INVALIDARG (nothing written) for a range outside.
    virtual ORVRESULT Fill(uint8_t value, uint32_t offset, int32_t count) = 0;
    // count 16-bit words in machine order; count < 0: as many whole words as fit to the end.
    virtual ORVRESULT FillWords(uint16_t value, uint32_t offset, int32_t count) = 0;
    virtual uint32_t GetCapacity() const = 0;
    // Null while nothing is allocated.
    virtual void* GetData() = 0;
    virtual const void* GetData() const = 0;

protected:
    ~IBuffer() = default;
};

template <uint32_t Granularity, uint32_t MaxSlack, uint32_t Alignment = 8,
          class ElementPointer = char*, AllocatorGetter GetAllocator = &GetSystemAllocator>
class BufferT : public virtual IBuffer
{
    static_assert(Granularity > 0, "a capacity step of 0 bytes");

public:
    static constexpr uint32_t kGranularity = Granularity;
    static constexpr uint32_t kSlack = MaxSlack > Granularity - 1 ? MaxSlack : Granularity - 1;

    explicit BufferT(uint32_t size = 0, uint32_t reserve = 0, bool zeroFill = false)
    {
        if (reserve > size) {
            void* reserved = GetAllocator().Allocate(reserve);
            if (reserved == nullptr) {
                ThrowBadAlloc();
            }
            block = reserved;
            capacity = reserve;
        }
        try {
            Resize(size);
        } catch (...) {
            Release();
            throw;
        }
        if (size != 0 && zeroFill) {
            std::memset(block, 0, size);
        }
    }

    BufferT(const BufferT&) = delete;
    BufferT& operator=(const BufferT&) = delete;

    virtual ~BufferT() { Release(); }

    uint32_t GetSize() const override { return size; }
    uint32_t GetCapacity() const override { return capacity; }
    void* GetData() override { return block; }
    const void* GetData() const override { return block; }

    // The storage as the containers see it.
    ElementPointer Data() const { return static_cast<ElementPointer>(block); }

    uint32_t Allocate(uint32_t n) override
    {
        if (n == 0) {
            Release();
            return 0;
        }
        const uint32_t rounded = RoundUp(n);
        if (rounded != capacity) {
            // The new block is obtained before the old one goes, so a failure keeps the old.
            void* fresh = GetAllocator().Allocate(rounded);
            if (fresh == nullptr) {
                ThrowBadAlloc();
            }
            if (block != nullptr) {
                GetAllocator().Free(block);
            }
            block = fresh;
            capacity = rounded;
        }
        size = n;
        return n;
    }

    uint32_t Resize(uint32_t n) override
    {
        if (capacity == 0) {
            return Allocate(n);
        }
        if (capacity < n || capacity - n > kSlack) {
            const uint32_t rounded = RoundUp(n);
            if (rounded == 0) {
                Release();
                return 0;
            }
            void* moved = GetAllocator().Reallocate(block, rounded);
            if (moved == nullptr) {
                ThrowBadAlloc();
            }
            block = moved;
            capacity = rounded;
        }
        size = n;
        return n;
    }

    ORVRESULT Fill(uint8_t value, uint32_t offset, int32_t count) override
    {
        uint64_t bytes = 0;
        if (!ResolveRange(offset, count, 1, bytes)) {
            return E_INVALIDARG;
        }
        if (bytes != 0) {
            std::memset(static_cast<uint8_t*>(block) + offset, value, bytes);
        }
        return S_OK;
    }

    ORVRESULT FillWords(uint16_t value, uint32_t offset, int32_t count) override
    {
        uint64_t words = 0;
        if (!ResolveRange(offset, count, 2, words)) {
            return E_INVALIDARG;
        }
        uint8_t* out = static_cast<uint8_t*>(block) + offset;
        for (uint64_t i = 0; i < words; ++i) {
            std::memcpy(out + 2 * i, &value, 2);
        }
        return S_OK;
    }

protected:
    static uint32_t RoundUp(uint32_t n)
    {
        const uint64_t rounded = (uint64_t{n} + Granularity - 1) / Granularity * Granularity;
        if (rounded > UINT32_MAX) {
            ThrowBadAlloc();
        }
        return static_cast<uint32_t>(rounded);
    }

private:
    // Units of `unit` bytes from offset: the count given, or all whole units to the end.
    bool ResolveRange(uint32_t offset, int32_t count, uint32_t unit, uint64_t& units) const
    {
        if (offset > size) {
            return false;
        }
        if (count < 0) {
            units = (size - offset) / unit;
            return true;
        }
        units = static_cast<uint64_t>(count);
        return uint64_t{offset} + units * unit <= size;
    }

    void Release()
    {
        if (block != nullptr) {
            GetAllocator().Free(block);
        }
        block = nullptr;
        size = 0;
        capacity = 0;
    }

    void* block = nullptr;
    uint32_t size = 0;
    uint32_t capacity = 0;
};

}  // namespace Orv
