// Arbitrary bytes as a list block and as a single item: the reader never reads outside the bytes
// (the address sanitizer watches), every item it accepts is whole and valid, and every accepted
// item written again and read back is equal to itself. The same bytes are read as the parameter
// lists the device library hands over: each reader gives a result with empty outputs or a whole
// item, and ranges never make more descriptors than their bound.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Utilities/Storage/ParamLists.h"
#include "Utilities/Storage/Variant.h"
#include "Utilities/Storage/VariantEx.h"

namespace {

constexpr int kMaxDepth = 8;

// Same type and the same bytes (operator== would tell a NaN from itself).
bool SameBytes(const Orv::Variant& a, const Orv::Variant& b)
{
    int32_t sizeA = 0;
    int32_t sizeB = 0;
    const void* dataA = a.GetData(sizeA);
    const void* dataB = b.GetData(sizeB);
    return a.GetType() == b.GetType() && sizeA == sizeB &&
           (sizeA == 0 || std::memcmp(dataA, dataB, static_cast<size_t>(sizeA)) == 0);
}

void CheckRoundTrip(const Orv::Variant& item)
{
    Orv::Variant list;
    if (list.SetList(&item, 1) != Orv::kVariantList || list.GetListItemCount() != 1) {
        std::abort();
    }
    Orv::VariantEx back;
    if (list.GetListItem(0, back) != 0 || !SameBytes(back, item)) {
        std::abort();
    }
    // Every getter has a result for every accepted value.
    (void)back.ToString();
    (void)back.GetBool();
    (void)back.GetInt64();
    (void)back.GetUInt64();
    (void)back.GetDouble();
    (void)item.GetInt32();
    (void)item.GetFloat();
}

void Walk(const Orv::Variant& list, int depth)
{
    const uint32_t count = list.GetListItemCount();
    for (uint32_t i = 0; i <= count; ++i) {
        Orv::Variant item;
        const int32_t result = list.GetListItem(i, item);
        if (i == count && result != -1) {
            std::abort();
        }
        if (result < 0) {
            if (!item.IsEmpty()) {
                std::abort();
            }
            continue;
        }
        if (item.GetType() == Orv::kVariantExternalData ||
            item.GetType() == Orv::kVariantExternalOpaque) {
            std::abort();
        }
        if (item.GetType() == Orv::kVariantString &&
            std::strlen(item.GetString()) + 1 != item.GetSize()) {
            std::abort();
        }
        CheckRoundTrip(item);
        if (item.IsList() && depth < kMaxDepth) {
            Walk(item, depth + 1);
        }
    }
}

void CheckParamReaders(const Orv::Variant& bytes)
{
    Orv::ParamValues values;
    static_cast<Orv::Variant&>(values) = bytes;
    Orv::ParamDescriptors descriptors;
    static_cast<Orv::Variant&>(descriptors) = bytes;
    Orv::ParamRanges ranges;
    static_cast<Orv::Variant&>(ranges) = bytes;

    const uint32_t count = bytes.GetListItemCount();
    for (uint32_t i = 0; i <= count; ++i) {
        Orv::Variant value;
        Orv::Variant subIndex;
        int32_t id = 0;
        const int32_t result = values.GetParamValueItem(i, value, id, subIndex);
        if (result != 0) {
            if (result != Orv::kParamListUnreadable && result != Orv::kParamItemMisshapen) {
                std::abort();
            }
            if (id != -1 || !value.IsEmpty() || !subIndex.IsEmpty()) {
                std::abort();
            }
        } else {
            Orv::ParamDescriptor descriptor;
            descriptor.id = id;
            descriptor.subIndex = subIndex;
            Orv::Variant found;
            // An earlier item may match first or fail to read; a match is never missed.
            if (values.GetValue(descriptor, found) == 1) {
                std::abort();
            }
        }
        if (i == count && result != Orv::kParamListUnreadable) {
            std::abort();
        }
        (void)descriptors.GetDescriptorItem(i, id, subIndex);
        int32_t first = 0;
        int32_t rangeCount = 0;
        if (ranges.GetRangeItem(i, first, rangeCount) != 0 && (first != 0 || rangeCount != 0)) {
            std::abort();
        }
    }

    Orv::ParamDescriptors expanded;
    if (expanded.SetFromRanges(ranges) == 0 &&
        expanded.GetListItemCount() > Orv::ParamDescriptors::kMaxDescriptorsFromRanges) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > UINT32_MAX) {
        return 0;
    }
    const uint32_t count = static_cast<uint32_t>(size);

    Orv::Variant single;
    if (single.ReadItem(data, count) == S_OK) {
        CheckRoundTrip(single);
        if (single.IsList()) {
            Walk(single, 1);
        }
    }

    Orv::Variant list;
    list.Set(Orv::kVariantList, data, count);
    Walk(list, 0);
    CheckParamReaders(list);
    return 0;
}
