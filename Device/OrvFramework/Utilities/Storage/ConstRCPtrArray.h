#pragma once
// ConstRCPtrArray<T, GrowCount, SlackCount>: counted pointers to objects in a byte buffer. Each
// non-null element holds one reference; inserting takes one, removing hands it to the caller's
// pointer or releases it. The slots are pointer-sized; capacity moves in GrowCount slots and
// SlackCount free slots are tolerated before the buffer shrinks.
//
// Removing one element at an index beyond the end throws "Out of Range"; every other range error
// is a negative result.

#include <cstring>
#include <functional>
#include <utility>

#include "ObjectBase/Exception.h"
#include "ObjectBase/RCPtr.h"
#include "Utilities/Storage/Buffer.h"
#include "Utilities/Storage/IArray.h"

namespace Orv {

template <class T, uint32_t GrowCount = 1, uint32_t SlackCount = 0>
class ConstRCPtrArray : public IArray<ConstRCPtr<T>>
{
protected:
    static constexpr uint32_t kSlotSize = sizeof(T*);
    static_assert(sizeof(ConstRCPtr<T>) == kSlotSize && sizeof(RCPtr<T>) == kSlotSize,
                  "a slot is exactly one counted pointer");
    using Storage = BufferT<GrowCount * kSlotSize, SlackCount * kSlotSize, 8, T**>;
    using Slot = ConstRCPtr<T>;

public:
    // `count` null elements, room for `reserve`.
    explicit ConstRCPtrArray(uint32_t count = 0, uint32_t reserve = 0)
        : storage(SlotBytes(count), SlotBytes(reserve), true)
    {
    }
    ConstRCPtrArray(const ConstRCPtrArray&) = delete;
    ConstRCPtrArray& operator=(const ConstRCPtrArray&) = delete;

    virtual ~ConstRCPtrArray() { ConstRCPtrArray::SetCount(0); }

    using IArray<ConstRCPtr<T>>::GetAt;

    uint32_t GetCount() const override { return storage.GetSize() / kSlotSize; }
    uint32_t GetCapacity() const { return storage.GetCapacity() / kSlotSize; }
    const Slot* GetData() const override { return reinterpret_cast<const Slot*>(storage.Data()); }
    Slot* GetData() override { return reinterpret_cast<Slot*>(storage.Data()); }

    int32_t SetCount(uint32_t count) override
    {
        const uint32_t old = ConstRCPtrArray::GetCount();
        if (count < old) {
            return ConstRCPtrArray::RemoveItems(count, old - count);
        }
        if (count > old) {
            storage.Resize(SlotBytes(count));
            NullSlots(old, count - old);
        }
        return static_cast<int32_t>(count);
    }

    int32_t InsertItems(uint32_t at, uint32_t count) override
    {
        const uint32_t old = ConstRCPtrArray::GetCount();
        if (count == 0) {
            return static_cast<int32_t>(old);
        }
        if (at > old) {
            return E_INVALIDARG;
        }
        if (at == old) {
            return ConstRCPtrArray::SetCount(old + count);
        }
        storage.Resize(SlotBytes(uint64_t{old} + count));
        char* data = reinterpret_cast<char*>(storage.Data());
        std::memmove(data + SlotBytes(at + count), data + SlotBytes(at), SlotBytes(old - at));
        NullSlots(at, count);
        return static_cast<int32_t>(old + count);
    }

    // One removal at a time; a range past the end removes what exists from `at`, then throws.
    int32_t RemoveItems(uint32_t at, uint32_t count) override
    {
        for (uint32_t i = 0; i < count; ++i) {
            Slot removed;
            ConstRCPtrArray::RemoveItem(at, removed);
        }
        return static_cast<int32_t>(ConstRCPtrArray::GetCount());
    }

    // The index it went to.
    int32_t InsertItem(uint32_t at, const Slot& item) override
    {
        if (IsSlot(&item)) {
            // The slot moves when the array grows: hold the object through a copy of our own.
            const Slot kept(item);
            return ConstRCPtrArray::InsertItem(at, kept);
        }
        const int32_t result = ConstRCPtrArray::InsertItems(at, 1);
        if (result < 0) {
            return result;
        }
        GetData()[at] = item;
        return static_cast<int32_t>(at);
    }

    int32_t RemoveItem(uint32_t at, Slot& out) override
    {
        if (at >= ConstRCPtrArray::GetCount()) {
            ORV_THROW(OutOfRange);
        }
        return TakeItem(at, out);
    }

    int32_t RemoveLastItem(Slot& out) override
    {
        out = nullptr;
        const uint32_t count = ConstRCPtrArray::GetCount();
        if (count == 0) {
            return E_FAIL;
        }
        using std::swap;
        swap(out, GetData()[count - 1]);
        return ConstRCPtrArray::SetCount(count - 1);
    }

protected:
    // Hands the element's reference to `out` (no count changes) and closes the gap.
    int32_t TakeItem(uint32_t at, Slot& out)
    {
        out = nullptr;
        const uint32_t count = ConstRCPtrArray::GetCount();
        using std::swap;
        swap(out, GetData()[at]);
        char* data = reinterpret_cast<char*>(storage.Data());
        std::memmove(data + SlotBytes(at), data + SlotBytes(at + 1), SlotBytes(count - at - 1));
        storage.Resize(SlotBytes(count - 1));
        return static_cast<int32_t>(count - 1);
    }

private:
    static uint32_t SlotBytes(uint64_t slots)
    {
        if (slots > IIterable<Slot>::kMaxCount || slots * kSlotSize > UINT32_MAX) {
            ThrowBadAlloc();
        }
        return static_cast<uint32_t>(slots * kSlotSize);
    }

    void NullSlots(uint32_t from, uint32_t count)
    {
        std::memset(reinterpret_cast<char*>(storage.Data()) + SlotBytes(from), 0, SlotBytes(count));
    }

    bool IsSlot(const Slot* item) const
    {
        const auto* first = reinterpret_cast<const char*>(storage.Data());
        const auto* probe = reinterpret_cast<const char*>(item);
        return first != nullptr && std::less_equal<const char*>()(first, probe) &&
               std::less<const char*>()(probe, first + storage.GetSize());
    }

    Storage storage;
};

}  // namespace Orv
