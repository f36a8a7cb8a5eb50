#pragma once
// Array<T>: whole objects with value semantics (copied in, destroyed on removal) in a standard
// vector. Element access by index checks the index and throws std::out_of_range.

#include <stdexcept>
#include <vector>

#include "Utilities/Storage/IArray.h"

namespace Orv {

template <class T>
class Array : public IArray<T>
{
public:
    Array() = default;
    Array(const Array&) = default;
    Array(Array&&) noexcept = default;
    Array& operator=(const Array&) = default;
    Array& operator=(Array&&) noexcept = default;
    virtual ~Array() = default;

    using IArray<T>::GetAt;

    uint32_t GetCount() const override { return static_cast<uint32_t>(items.size()); }

    T& GetAt(uint32_t index) override { return items.at(CheckedIndex(index)); }
    const T& GetAt(uint32_t index) const override { return items.at(CheckedIndex(index)); }

    const T* GetData() const override { return items.empty() ? nullptr : items.data(); }
    T* GetData() override { return items.empty() ? nullptr : items.data(); }

    int32_t SetCount(uint32_t count) override
    {
        if (count > this->GetMaxCount()) {
            return E_INVALIDARG;
        }
        items.resize(count);
        return static_cast<int32_t>(count);
    }

    int32_t InsertItems(uint32_t at, uint32_t count) override
    {
        if (at > items.size() || uint64_t{count} + items.size() > this->GetMaxCount()) {
            return E_INVALIDARG;
        }
        items.insert(items.begin() + at, count, T());
        return static_cast<int32_t>(items.size());
    }

    int32_t RemoveItems(uint32_t at, uint32_t count) override
    {
        if (at >= items.size() || uint64_t{at} + count > items.size()) {
            return E_INVALIDARG;
        }
        items.erase(items.begin() + at, items.begin() + at + count);
        return static_cast<int32_t>(items.size());
    }

    // The index it went to (not the new count).
    int32_t InsertItem(uint32_t at, const T& item) override
    {
        if (at > items.size() || items.size() >= this->GetMaxCount()) {
            return E_INVALIDARG;
        }
        items.insert(items.begin() + at, item);
        return static_cast<int32_t>(at);
    }

    // A bad index throws from the copy, before anything is removed.
    int32_t RemoveItem(uint32_t at, T& out) override
    {
        out = GetAt(at);
        return RemoveItems(at, 1);
    }

private:
    std::size_t CheckedIndex(uint32_t index) const
    {
        if (index >= items.size()) {
            throw std::out_of_range("invalid vector<T> subscript");
        }
        return index;
    }

    std::vector<T> items;
};

}  // namespace Orv
