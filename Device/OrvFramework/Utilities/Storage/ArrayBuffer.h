#pragma once
// ArrayBuffer<T, GrowCount, SlackCount>: plain values (moved and zeroed bytewise) in a byte buffer
// whose capacity steps are GrowCount elements and whose tolerated free room is SlackCount
// elements. New elements are zero. Element access does not check the index.

#include <cstring>
#include <type_traits>

#include "Utilities/Storage/Buffer.h"
#include "Utilities/Storage/IArray.h"

namespace Orv {

template <class T, uint32_t GrowCount = 1, uint32_t SlackCount = 0, uint32_t Reserved = 1,
          uint32_t Alignment = 8, AllocatorGetter GetAllocator = &GetSystemAllocator>
class ArrayBuffer : public IArray<T>
{
    static_assert(std::is_trivially_copyable_v<T>, "ArrayBuffer moves its elements bytewise");
    using Storage =
        BufferT<GrowCount * sizeof(T), SlackCount * sizeof(T), Alignment, T*, GetAllocator>;

public:
    ArrayBuffer() = default;
    ArrayBuffer(const ArrayBuffer&) = delete;
    ArrayBuffer& operator=(const ArrayBuffer&) = delete;
    virtual ~ArrayBuffer() = default;

    uint32_t GetCount() const override { return storage.GetSize() / sizeof(T); }
    uint32_t GetCapacity() const { return storage.GetCapacity() / sizeof(T); }

    const T* GetData() const override { return storage.Data(); }
    T* GetData() override { return storage.Data(); }

    // Contents kept, nothing zeroed; the new count.
    virtual int32_t ResizeStorage(uint32_t count)
    {
        if (count > this->GetMaxCount() || uint64_t{count} * sizeof(T) > UINT32_MAX) {
            return E_INVALIDARG;
        }
        return static_cast<int32_t>(storage.Resize(count * static_cast<uint32_t>(sizeof(T))) /
                                    sizeof(T));
    }

    int32_t SetCount(uint32_t count) override
    {
        const uint32_t old = GetCount();
        const int32_t result = ResizeStorage(count);
        if (result >= 0 && count > old) {
            ZeroElements(old, count - old);
        }
        return result;
    }

    int32_t InsertItems(uint32_t at, uint32_t count) override
    {
        const uint32_t old = GetCount();
        if (count == 0) {
            return static_cast<int32_t>(old);
        }
        if (at > old) {
            return E_INVALIDARG;
        }
        if (at == old) {
            return SetCount(old + count);
        }
        if (uint64_t{old} + count > this->GetMaxCount()) {
            return E_INVALIDARG;
        }
        const int32_t result = ResizeStorage(old + count);
        if (result < 0) {
            return result;
        }
        T* data = GetData();
        std::memmove(static_cast<void*>(data + at + count), static_cast<const void*>(data + at),
                     (old - at) * sizeof(T));
        ZeroElements(at, count);
        return static_cast<int32_t>(old + count);
    }

    int32_t RemoveItems(uint32_t at, uint32_t count) override
    {
        const uint32_t old = GetCount();
        if (count == 0) {
            return static_cast<int32_t>(old);
        }
        if (uint64_t{at} + count > old) {
            return E_INVALIDARG;
        }
        T* data = GetData();
        std::memmove(static_cast<void*>(data + at), static_cast<const void*>(data + at + count),
                     (old - at - count) * sizeof(T));
        return ResizeStorage(old - count);
    }

private:
    void ZeroElements(uint32_t from, uint32_t count)
    {
        std::memset(static_cast<void*>(GetData() + from), 0, uint64_t{count} * sizeof(T));
    }

    Storage storage;
};

}  // namespace Orv
