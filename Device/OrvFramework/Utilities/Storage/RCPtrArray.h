#pragma once
// RCPtrArray<T, GrowCount, SlackCount>: the read-write view of a ConstRCPtrArray: the same slots
// seen as RCPtr<T>. LRCPtrArray<T> is an RCPtrArray that is itself counted, so a list of objects
// can be shared.

#include "ObjectBase/Exception.h"
#include "Utilities/Storage/ConstRCPtrArray.h"

// The read-only overloads of InsertItem, RemoveItem and RemoveLastItem are hidden on purpose: an
// RCPtrArray is written through RCPtr<T>.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Woverloaded-virtual"
#endif

namespace Orv {

template <class T, uint32_t GrowCount = 1, uint32_t SlackCount = 0>
class RCPtrArray : public ConstRCPtrArray<T, GrowCount, SlackCount>, public IArray<RCPtr<T>>
{
    using Base = ConstRCPtrArray<T, GrowCount, SlackCount>;
    using Writable = IArray<RCPtr<T>>;

public:
    explicit RCPtrArray(uint32_t count = 0, uint32_t reserve = 0) : Base(count, reserve) {}

    // Through an RCPtrArray the read-write interface is the one seen.
    using Base::IndexOf;
    using Writable::AddItem;
    using Writable::Advance;
    using Writable::AppendItems;
    using Writable::Assign;
    using Writable::Begin;
    using Writable::End;
    using Writable::GetAt;
    using Writable::GetEnd;
    using Writable::GetFirst;
    using Writable::GetItem;
    using Writable::IsEqual;

    uint32_t GetCount() const override { return Base::GetCount(); }
    uint32_t GetMaxCount() const override { return Base::GetMaxCount(); }
    const RCPtr<T>* GetData() const override
    {
        return static_cast<const RCPtr<T>*>(Base::GetData());
    }
    RCPtr<T>* GetData() override { return static_cast<RCPtr<T>*>(Base::GetData()); }

    int32_t SetCount(uint32_t count) override { return Base::SetCount(count); }
    int32_t InsertItems(uint32_t at, uint32_t count) override
    {
        return Base::InsertItems(at, count);
    }
    int32_t RemoveItems(uint32_t at, uint32_t count) override
    {
        return Base::RemoveItems(at, count);
    }
    ORVRESULT RemoveAll() override { return Base::RemoveAll(); }
    ORVRESULT SwapItems(uint32_t a, uint32_t b) override { return Base::SwapItems(a, b); }

    int32_t InsertItem(uint32_t at, const RCPtr<T>& item) override
    {
        return Base::InsertItem(at, static_cast<const ConstRCPtr<T>&>(item));
    }

    int32_t RemoveItem(uint32_t at, RCPtr<T>& out) override
    {
        if (at >= Base::GetCount()) {
            ORV_THROW(OutOfRange);
        }
        return Base::TakeItem(at, static_cast<ConstRCPtr<T>&>(out));
    }

    int32_t RemoveLastItem(RCPtr<T>& out) override
    {
        return Base::RemoveLastItem(static_cast<ConstRCPtr<T>&>(out));
    }
};

template <class T, uint32_t GrowCount = 1, uint32_t SlackCount = 0>
class LRCPtrArray : public RCPtrArray<T, GrowCount, SlackCount>, public virtual LRefCountedObject
{
public:
    explicit LRCPtrArray(uint32_t count = 0, uint32_t reserve = 0)
        : RCPtrArray<T, GrowCount, SlackCount>(count, reserve)
    {
    }
};

}  // namespace Orv

#if defined(__clang__)
#pragma clang diagnostic pop
#endif
