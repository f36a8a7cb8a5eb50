// Writing and reading the list byte format (Utilities/Storage/VariantListFormat.h). The reader
// takes bytes from outside the program: it never reads beyond the bytes it is given and refuses
// anything that is not a whole, valid item.
#include <algorithm>
#include <cstring>
#include <vector>

#include "ObjectBase/Exception.h"
#include "Utilities/Storage/Variant.h"
#include "Utilities/Storage/VariantListFormat.h"

namespace Orv {

namespace {

using Format = VariantListFormat;

// What a reader accepts as the payload of each type.
struct PayloadRule
{
    bool accepted;
    uint32_t minSize;
    uint32_t maxSize;
    bool needsTerminator;  // text: a zero byte within the payload
};

constexpr uint32_t kAny = UINT32_MAX;

constexpr PayloadRule kPayloadRules[kVariantTypeCount] = {
    /* 0 empty    */ {true, 0, 0, false},
    /* 1 bool     */ {true, 1, 1, false},
    /* 2 int8     */ {true, 1, 1, false},
    /* 3 uint8    */ {true, 1, 1, false},
    /* 4 int16    */ {true, 2, 2, false},
    /* 5 uint16   */ {true, 2, 2, false},
    /* 6 int32    */ {true, 4, 4, false},
    /* 7 uint32   */ {true, 4, 4, false},
    /* 8 float    */ {true, 4, 4, false},
    /* 9 double   */ {true, 8, 8, false},
    /* 10 int64   */ {true, 8, 8, false},
    /* 11 uint64  */ {true, 8, 8, false},
    // External data refers to memory of another process or module: never taken from bytes.
    /* 12 external*/ {false, 0, 0, false},
    /* 13 external*/ {false, 0, 0, false},
    // An empty blob is written as a bare header but not read back as one.
    /* 14 blob    */ {true, 1, kAny, false},
    /* 15 text    */ {true, 1, kAny, true},
    /* 16 list    */ {true, 0, kAny, false},
};

bool PayloadIsValid(uint32_t type, const uint8_t* payload, uint32_t payloadSize)
{
    const PayloadRule& rule = kPayloadRules[type];
    if (!rule.accepted || payloadSize < rule.minSize || payloadSize > rule.maxSize) {
        return false;
    }
    return !rule.needsTerminator || std::memchr(payload, 0, payloadSize) != nullptr;
}

}  // namespace

int32_t Variant::WriteList(const Variant* const* items, uint32_t count)
{
    uint64_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (items[i] == this) {
            // This list is one of its own items: write from a copy, since Clear gives its block
            // back before the new one is filled.
            const Variant self(*this);
            std::vector<const Variant*> substituted(items, items + count);
            std::replace(substituted.begin(), substituted.end(), static_cast<const Variant*>(this),
                         &self);
            return WriteList(substituted.data(), count);
        }
        int32_t itemSize = 0;
        items[i]->GetData(itemSize);
        total += Format::kHeaderSize + static_cast<uint32_t>(itemSize);
    }
    if (total > UINT32_MAX) {
        ThrowBadAlloc();
    }
    Clear();
    if (count == 0) {
        type = kVariantList;
        return type;
    }
    auto* out = static_cast<uint8_t*>(AllocateBlock(static_cast<uint32_t>(total)));
    if (out == nullptr) {
        return kVariantEmpty;
    }
    uint32_t offset = 0;
    for (uint32_t i = 0; i < count; ++i) {
        int32_t itemSize = 0;
        const void* data = items[i]->GetData(itemSize);
        const uint32_t payloadSize = static_cast<uint32_t>(itemSize);
        Format::WriteUInt32(out + offset + Format::kLengthOffset,
                            Format::kHeaderSize + payloadSize);
        Format::WriteUInt32(out + offset + Format::kFormatOffset, Format::kFormat);
        Format::WriteUInt32(out + offset + Format::kTypeOffset,
                            static_cast<uint32_t>(items[i]->GetType()));
        if (payloadSize != 0 && data != nullptr) {
            std::memcpy(out + offset + Format::kHeaderSize, data, payloadSize);
        }
        offset += Format::kHeaderSize + payloadSize;
    }
    TakeBlock(out, static_cast<uint32_t>(total), kVariantList);
    return type;
}

int32_t Variant::SetList(const Variant* items, uint32_t count)
{
    std::vector<const Variant*> pointers(count);
    for (uint32_t i = 0; i < count; ++i) {
        pointers[i] = items != nullptr ? &items[i] : nullptr;
    }
    return SetList(pointers.data(), count);
}

int32_t Variant::SetList(const Variant* const* items, uint32_t count)
{
    const Variant empty;
    std::vector<const Variant*> present(count, &empty);
    for (uint32_t i = 0; i < count && items != nullptr; ++i) {
        if (items[i] != nullptr) {
            present[i] = items[i];
        }
    }
    return WriteList(present.data(), count);
}

uint32_t Variant::GetListItemCount() const
{
    if (type != kVariantList || Block() == nullptr) {
        return 0;
    }
    uint32_t count = 0;
    uint32_t offset = 0;
    while (const uint32_t length = Format::WholeItemLength(Block(), size, offset)) {
        offset += length;
        ++count;
    }
    return count;
}

int32_t Variant::GetListItem(uint32_t index, Variant& out) const
{
    if (&out == this) {
        Variant item;
        const int32_t result = GetListItem(index, item);
        out.Assign(item);
        return result;
    }
    out.Clear();
    if (type != kVariantList || Block() == nullptr) {
        return -1;
    }
    uint32_t offset = 0;
    for (uint32_t i = 0; i < index; ++i) {
        const uint32_t length = Format::WholeItemLength(Block(), size, offset);
        if (length == 0) {
            return -1;
        }
        offset += length;
    }
    if (Format::WholeItemLength(Block(), size, offset) == 0 ||
        ReadListItem(out, Block() + offset, size - offset) < 0) {
        out.Clear();
        return -1;
    }
    return 0;
}

ORVRESULT Variant::ReadListItem(Variant& out, const uint8_t* item, uint32_t available)
{
    if (item == nullptr) {
        return E_FAIL;
    }
    const uint32_t length = Format::WholeItemLength(item, available, 0);
    if (length == 0 || Format::ReadUInt32(item + Format::kFormatOffset) != Format::kFormat) {
        return E_FAIL;
    }
    const uint32_t itemType = Format::ReadUInt32(item + Format::kTypeOffset);
    const uint8_t* payload = item + Format::kHeaderSize;
    const uint32_t payloadSize = length - Format::kHeaderSize;
    if (itemType >= kVariantTypeCount || !PayloadIsValid(itemType, payload, payloadSize)) {
        return E_FAIL;
    }
    if (itemType == kVariantEmpty) {
        out.Clear();
        return S_OK;
    }
    if (itemType == kVariantList && payloadSize == 0) {
        out.SetList(static_cast<const Variant*>(nullptr), 0);
        return S_OK;
    }
    const int32_t stored = out.Set(itemType, payload, payloadSize);
    return stored == static_cast<int32_t>(itemType) ? S_OK : E_FAIL;
}

ORVRESULT Variant::ReadItem(const uint8_t* bytes, uint32_t count)
{
    return ReadListItem(*this, bytes, count);
}

}  // namespace Orv
