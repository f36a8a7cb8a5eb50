// Counts of addresses by the 64-byte line they fall in, hashed into a fixed table: whether a range
// may hold one of them is answered by a few loads, without the lock of whatever keeps the
// addresses themselves. Every pool free asks whether the block held a lock the lock-order graph
// knows, and almost none did. A count shared by two lines only makes a range look like it may
// hold one; an answer of no is always right.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace Platform::Kernel::Internal {

class AddressFilter
{
public:
    // Changes are made under the owner's lock; MayHoldAny reads without it.
    void Add(const void* address) { Count(address).fetch_add(1, std::memory_order_relaxed); }
    void Remove(const void* address) { Count(address).fetch_sub(1, std::memory_order_relaxed); }
    void Clear()
    {
        for (std::atomic<uint32_t>& count : counts_) {
            count.store(0, std::memory_order_relaxed);
        }
    }

    // False only when no address added and not removed lies in [begin, begin + size).
    bool MayHoldAny(const void* begin, size_t size) const
    {
        if (size == 0) {
            return false;
        }
        const uintptr_t first = reinterpret_cast<uintptr_t>(begin) >> kLineShift;
        const uintptr_t last = (reinterpret_cast<uintptr_t>(begin) + size - 1) >> kLineShift;
        if (last - first >= kMaxLines) {
            return true;  // a large block: the owner's own look-up is no dearer
        }
        for (uintptr_t line = first; line <= last; ++line) {
            if (counts_[Slot(line)].load(std::memory_order_relaxed) != 0) {
                return true;
            }
        }
        return false;
    }

private:
    static constexpr unsigned kLineShift = 6;
    static constexpr unsigned kSlotBits = 13;  // 32 KiB: the table stays in cache
    static constexpr uintptr_t kMaxLines = 64;

    static size_t Slot(uintptr_t line)
    {
        return static_cast<size_t>((static_cast<uint64_t>(line) * 0x9E3779B97F4A7C15ull) >>
                                   (64 - kSlotBits));
    }

    std::atomic<uint32_t>& Count(const void* address)
    {
        return counts_[Slot(reinterpret_cast<uintptr_t>(address) >> kLineShift)];
    }

    std::atomic<uint32_t> counts_[size_t{1} << kSlotBits] = {};
};

}  // namespace Platform::Kernel::Internal
