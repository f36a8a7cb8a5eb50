#pragma once
// The one sequence interface of the framework. IIterable<T> is the read side; IArray<T> adds the
// edits, about half of them written here once in terms of a few primitives (GetCount, GetData,
// SetCount, InsertItems, RemoveItems) that each storage supplies.
//
// Results: counts come back as non-negative int32 results, failures as negative codes
// (E_INVALIDARG for a range outside the array, E_FAIL when growing did not give the asked count).
// Positions are element pointers into contiguous storage; an empty array has null positions.

#include <cstdint>
#include <utility>

#include "ObjectBase/OrvResult.h"

namespace Orv {

template <class T>
class IIterable
{
public:
    struct Iterator
    {
        IIterable* container;
        T* position;
    };
    struct ConstIterator
    {
        const IIterable* container;
        const T* position;
    };

    static constexpr uint32_t kMaxCount = 0x7FFFFFFF;

    virtual uint32_t GetCount() const = 0;
    virtual uint32_t GetMaxCount() const { return kMaxCount; }
    virtual Iterator Begin() = 0;
    virtual ConstIterator Begin() const = 0;
    virtual Iterator End() = 0;
    virtual ConstIterator End() const = 0;
    // No check: the position is the caller's to keep in range.
    virtual T& GetItem(T* position) = 0;
    virtual const T& GetItem(const T* position) const = 0;
    virtual T& GetAt(uint32_t index) = 0;
    virtual const T& GetAt(uint32_t index) const = 0;
    // position + n elements, clamped to [GetFirst(), GetEnd()].
    virtual const T* Advance(const T* position, int32_t n) const = 0;
    T* Advance(T* position, int32_t n)
    {
        return const_cast<T*>(std::as_const(*this).Advance(position, n));
    }
    virtual const T* GetFirst() const = 0;
    virtual const T* GetEnd() const = 0;

    // Equal counts and equal elements, in order.
    bool IsEqual(const IIterable& other) const
    {
        const uint32_t count = GetCount();
        if (count != other.GetCount()) {
            return false;
        }
        const T* mine = Begin().position;
        const T* theirs = other.Begin().position;
        for (uint32_t i = 0; i < count; ++i) {
            if (!(GetItem(mine) == other.GetItem(theirs))) {
                return false;
            }
            mine = Advance(mine, 1);
            theirs = other.Advance(theirs, 1);
        }
        return true;
    }

protected:
    ~IIterable() = default;
};

template <class T>
class IArray : public IIterable<T>
{
    using Base = IIterable<T>;

public:
    using Base::Advance;
    using typename Base::ConstIterator;
    using typename Base::Iterator;

    Iterator Begin() override { return {this, const_cast<T*>(GetFirst())}; }
    ConstIterator Begin() const override { return {this, GetFirst()}; }
    Iterator End() override { return {this, const_cast<T*>(GetEnd())}; }
    ConstIterator End() const override { return {this, GetEnd()}; }

    T& GetItem(T* position) override
    {
        return const_cast<T&>(std::as_const(*this).GetItem(position));
    }
    const T& GetItem(const T* position) const override { return *position; }
    T& GetAt(uint32_t index) override { return GetData()[index]; }
    const T& GetAt(uint32_t index) const override { return GetData()[index]; }

    const T* Advance(const T* position, int32_t n) const override
    {
        const T* first = GetFirst();
        const T* end = GetEnd();
        if (first == nullptr) {
            return nullptr;
        }
        // Compare as offsets so no pointer outside the storage is ever formed.
        const int64_t at = position - first + static_cast<int64_t>(n);
        if (at < 0) {
            return first;
        }
        if (at > end - first) {
            return end;
        }
        return first + at;
    }

    const T* GetFirst() const override { return this->GetCount() > 0 ? GetData() : nullptr; }
    const T* GetEnd() const override
    {
        const uint32_t count = this->GetCount();
        return count > 0 ? GetData() + count : nullptr;
    }

    virtual int32_t SetCount(uint32_t count) = 0;
    virtual int32_t InsertItems(uint32_t at, uint32_t count) = 0;
    virtual int32_t RemoveItems(uint32_t at, uint32_t count) = 0;

    virtual ORVRESULT RemoveAll() { return SetCount(0) == 0 ? S_OK : E_FAIL; }

    // The new count (storages whose own InsertItem differs say so).
    virtual int32_t InsertItem(uint32_t at, const T& item)
    {
        // Held apart first: the item may be an element that moves when the storage grows.
        const T value(item);
        const int32_t result = InsertItems(at, 1);
        if (result >= 0) {
            GetAt(at) = value;
        }
        return result;
    }

    // E_INVALIDARG for an index beyond the end, without reading anything there.
    virtual int32_t RemoveItem(uint32_t at, T& out)
    {
        if (at >= this->GetCount()) {
            return E_INVALIDARG;
        }
        out = GetAt(at);
        return RemoveItems(at, 1);
    }

    virtual int32_t AppendItems(const IIterable<T>& other)
    {
        const uint32_t count = this->GetCount();
        const uint32_t added = other.GetCount();
        const uint64_t total = uint64_t{count} + added;
        if (added == 0) {
            return static_cast<int32_t>(count);
        }
        if (total > this->GetMaxCount() ||
            SetCount(static_cast<uint32_t>(total)) != static_cast<int64_t>(total)) {
            return E_FAIL;
        }
        // Walked after the growth, so appending an array to itself reads its new storage.
        const T* from = other.Begin().position;
        for (uint32_t i = 0; i < added; ++i) {
            GetAt(count + i) = other.GetItem(from);
            from = other.Advance(from, 1);
        }
        return static_cast<int32_t>(total);
    }

    virtual int32_t AddItem(const T& item) { return InsertItem(this->GetCount(), item); }
    virtual int32_t RemoveLastItem(T& out) { return RemoveItem(this->GetCount() - 1, out); }

    // Assigning an array to itself leaves it as it is.
    virtual int32_t Assign(const IIterable<T>& other)
    {
        if (IsSameObject(other)) {
            return static_cast<int32_t>(this->GetCount());
        }
        SetCount(0);
        return AppendItems(other);
    }

    virtual ORVRESULT SwapItems(uint32_t a, uint32_t b)
    {
        const uint32_t count = this->GetCount();
        if (a >= count || b >= count) {
            return E_INVALIDARG;
        }
        if (a != b) {
            using std::swap;
            swap(GetAt(a), GetAt(b));
        }
        return S_OK;
    }

    virtual const T* GetData() const = 0;
    virtual T* GetData() = 0;

    // For arrays of counted pointers: the index of the first element holding `object`, -1 when
    // none holds it.
    template <class U>
    int32_t IndexOf(const U* object) const
    {
        const uint32_t count = this->GetCount();
        const T* data = GetData();
        for (uint32_t i = 0; i < count; ++i) {
            if (data[i].Get() == object) {
                return static_cast<int32_t>(i);
            }
        }
        return -1;
    }

protected:
    ~IArray() = default;

    bool IsSameObject(const IIterable<T>& other) const
    {
        return dynamic_cast<const void*>(&other) == dynamic_cast<const void*>(this);
    }
};

}  // namespace Orv
