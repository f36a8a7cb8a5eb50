#pragma once
// GetBits<Bits, Shift>(value): the bucket of a hashed container, bits Shift .. Shift + Bits - 1 of
// the value. Handles and object addresses vary little in their low four bits, so their hashes
// skip them: GetBits<8, 4, int> takes bits 4 to 11; characters use GetBits<8, 0, long>.

#include <cstdint>
#include <type_traits>

namespace Orv {

template <uint32_t Bits, uint32_t Shift, class T>
requires std::is_integral_v<T>
constexpr uint32_t GetBits(T value)
{
    static_assert(Bits >= 1 && Bits <= 31, "a bucket index fits a uint32 and names 2^Bits buckets");
    static_assert(Shift + Bits <= sizeof(T) * 8, "the bits lie inside the value");
    // The value's own bit pattern: a negative handle hashes like any other.
    const auto bits = static_cast<std::make_unsigned_t<T>>(value);
    return static_cast<uint32_t>(bits >> Shift) & ((uint32_t{1} << Bits) - 1);
}

}  // namespace Orv
