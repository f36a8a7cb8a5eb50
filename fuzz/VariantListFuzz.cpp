// Arbitrary bytes as a list block and as a single item: the reader never reads outside the bytes
// (the address sanitizer watches), every item it accepts is whole and valid, and every accepted
// item written again and read back is equal to itself.
#include <cstdint>
#include <cstdlib>
#include <cstring>

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
    return 0;
}
