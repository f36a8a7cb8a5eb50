// List blocks (UlvaneAbi.h), written from the library's own values and read from the caller's.
// What is read comes from outside the library: no byte beyond the block is touched, and a list
// is taken whole or not at all.
#include <cstring>

#include "UlvaneAbi.h"

namespace Ulvane {

namespace {

uint32_t ReadLittle(const uint8_t* bytes)
{
    uint32_t number = 0;
    for (int i = 3; i >= 0; --i) {
        number = number << 8 | bytes[i];
    }
    return number;
}

void WriteLittle(uint8_t* bytes, uint32_t number)
{
    for (int i = 0; i < 4; ++i, number >>= 8) {
        bytes[i] = static_cast<uint8_t>(number);
    }
}

// A text's payload ends at its only zero byte.
bool IsWholeText(const uint8_t* payload, uint32_t count)
{
    return count != 0 && std::memchr(payload, 0, count) == payload + count - 1;
}

}  // namespace

bool Value::SetList(const std::vector<Value>& items)
{
    std::vector<uint8_t> block;
    for (const Value& item : items) {
        const std::span<const uint8_t> payload = item.Bytes();
        const size_t at = block.size();
        block.resize(at + kListItemHeaderSize);
        WriteLittle(&block[at + kListItemLengthOffset],
                    static_cast<uint32_t>(kListItemHeaderSize + payload.size()));
        WriteLittle(&block[at + kListItemFormatOffset], kListItemFormat);
        WriteLittle(&block[at + kListItemTypeOffset], static_cast<uint32_t>(item.type));
        block.insert(block.end(), payload.begin(), payload.end());
    }
    if (block.size() > UINT32_MAX) {
        Clear();
        return false;
    }
    return Set(kValueList, block.data(), static_cast<uint32_t>(block.size()));
}

bool Value::ReadList(std::vector<Value>& items) const
{
    items.clear();
    const uint8_t* at = Block();
    uint32_t left = size;
    if (type != kValueList || (at == nullptr && left != 0)) {
        return false;
    }
    while (left != 0) {
        const uint32_t length =
            left >= kListItemHeaderSize ? ReadLittle(at + kListItemLengthOffset) : 0;
        if (length < kListItemHeaderSize || length > left ||
            ReadLittle(at + kListItemFormatOffset) != kListItemFormat) {
            items.clear();
            return false;
        }
        const uint32_t code = ReadLittle(at + kListItemTypeOffset);
        const uint8_t* payload = at + kListItemHeaderSize;
        const uint32_t count = length - kListItemHeaderSize;
        // Set refuses external data (it points into another module) and scalars of the wrong
        // size; a nested list is checked when it is read.
        if (code >= kValueTypeCount || (code == kValueText && !IsWholeText(payload, count)) ||
            !items.emplace_back().Set(static_cast<int32_t>(code), payload, count)) {
            items.clear();
            return false;
        }
        at += length;
        left -= length;
    }
    return true;
}

}  // namespace Ulvane
