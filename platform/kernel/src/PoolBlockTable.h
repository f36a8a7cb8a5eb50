// The pool's outstanding blocks by address: an open-addressing hash table (linear probing,
// deletion by backward shift), so an allocation or a free costs a probe or two and no heap
// node of its own. Lookups by an address inside a block walk the whole table; only reports make
// them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Platform::Kernel::Internal {

template <typename Value>
class PoolBlockTable
{
public:
    struct Slot
    {
        const void* key = nullptr;  // nullptr: empty
        Value value{};
    };

    Value* Find(const void* key)
    {
        if (count_ == 0) {
            return nullptr;
        }
        for (size_t i = Home(key);; i = (i + 1) & mask_) {
            if (slots_[i].key == key) {
                return &slots_[i].value;
            }
            if (slots_[i].key == nullptr) {
                return nullptr;
            }
        }
    }

    void Insert(const void* key, const Value& value)
    {
        if ((count_ + 1) * 2 > slots_.size()) {
            Grow();
        }
        size_t i = Home(key);
        while (slots_[i].key != nullptr && slots_[i].key != key) {
            i = (i + 1) & mask_;
        }
        count_ += slots_[i].key == nullptr ? 1 : 0;
        slots_[i] = Slot{key, value};
    }

    void Erase(const void* key)
    {
        if (count_ == 0) {
            return;
        }
        size_t i = Home(key);
        while (slots_[i].key != key) {
            if (slots_[i].key == nullptr) {
                return;
            }
            i = (i + 1) & mask_;
        }
        // Backward shift: move up every later entry of the run whose home does not lie
        // cyclically in (i, j], so no probe sequence meets a hole before its key.
        for (size_t j = (i + 1) & mask_; slots_[j].key != nullptr; j = (j + 1) & mask_) {
            const size_t home = Home(slots_[j].key);
            const bool stays = i <= j ? (i < home && home <= j) : (i < home || home <= j);
            if (!stays) {
                slots_[i] = slots_[j];
                i = j;
            }
        }
        slots_[i] = Slot{};
        --count_;
    }

    void Clear()
    {
        slots_.clear();
        mask_ = 0;
        count_ = 0;
    }

    template <typename Visit>
    void ForEach(Visit visit) const
    {
        for (const Slot& slot : slots_) {
            if (slot.key != nullptr) {
                visit(slot.key, slot.value);
            }
        }
    }

private:
    size_t Home(const void* key) const
    {
        const uint64_t bits = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(key));
        return static_cast<size_t>(((bits >> 4) * 0x9E3779B97F4A7C15ull) >> 20) & mask_;
    }

    void Grow()
    {
        std::vector<Slot> old;
        old.swap(slots_);
        slots_.resize(old.empty() ? 1024 : old.size() * 2);
        mask_ = slots_.size() - 1;
        count_ = 0;
        for (const Slot& slot : old) {
            if (slot.key != nullptr) {
                Insert(slot.key, slot.value);
            }
        }
    }

    std::vector<Slot> slots_;
    size_t mask_ = 0;
    size_t count_ = 0;
};

}  // namespace Platform::Kernel::Internal
