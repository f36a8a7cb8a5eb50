#pragma once
// The byte format of a list variant's block, shared with the outside device library: items one
// after the other, no header, padding or terminator; every item
//   offset 0  int32 length   12 + payload size
//   offset 4  int32 format   always 1
//   offset 8  int32 type     VariantType, 0 to 16
//   offset 12 payload        the value's bytes (Variant::GetData); a nested list is its block
// Integers are little-endian and items start at any byte offset (no alignment).

#include <cstdint>

namespace Orv {

struct VariantListFormat
{
    static constexpr uint32_t kHeaderSize = 12;
    static constexpr uint32_t kFormat = 1;
    static constexpr uint32_t kLengthOffset = 0;
    static constexpr uint32_t kFormatOffset = 4;
    static constexpr uint32_t kTypeOffset = 8;

    static uint32_t ReadUInt32(const uint8_t* bytes)
    {
        return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
               uint32_t{bytes[3]} << 24;
    }

    static void WriteUInt32(uint8_t* bytes, uint32_t value)
    {
        bytes[0] = static_cast<uint8_t>(value);
        bytes[1] = static_cast<uint8_t>(value >> 8);
        bytes[2] = static_cast<uint8_t>(value >> 16);
        bytes[3] = static_cast<uint8_t>(value >> 24);
    }

    // The length of the whole item that starts at `offset` of a block of `size` bytes, or 0
    // when no whole item starts there (header cut off, length below the header, or beyond the
    // block).
    static uint32_t WholeItemLength(const uint8_t* block, uint32_t size, uint32_t offset)
    {
        if (offset > size || size - offset < kHeaderSize) {
            return 0;
        }
        const uint32_t length = ReadUInt32(block + offset + kLengthOffset);
        if (length < kHeaderSize || length > size - offset) {
            return 0;
        }
        return length;
    }
};

}  // namespace Orv
