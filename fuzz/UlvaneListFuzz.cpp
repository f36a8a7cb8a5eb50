// Arbitrary bytes as a list a program hands the client library: the library's reader never reads
// outside the bytes (the address sanitizer watches), takes a list whole or not at all, and what
// it takes is written back to exactly the bytes it came from. Every item read as a parameter
// record either is refused or writes back as the same record.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ParamItems.h"
#include "UlvaneAbi.h"

namespace {

constexpr int kMaxDepth = 8;

bool SameBytes(const Ulvane::Value& value, const uint8_t* data, size_t size)
{
    int32_t count = 0;
    const void* bytes = value.GetData(count);
    return static_cast<size_t>(count) == size && (size == 0 || std::memcmp(bytes, data, size) == 0);
}

void CheckRecords(const Ulvane::Value& item)
{
    Ulvane::ParamDescriptor descriptor;
    Ulvane::Value value;
    if (Ulvane::ReadValueItem(item, descriptor, value)) {
        const Ulvane::Value again = Ulvane::MakeValueItem(descriptor, value);
        if (!(again == item)) {
            std::abort();
        }
    }
    (void)Ulvane::ReadDescriptorItem(item, descriptor);
    int32_t first = 0;
    int32_t count = 0;
    (void)Ulvane::ReadRangeItem(item, first, count);
}

void Walk(const Ulvane::Value& list, int depth)
{
    std::vector<Ulvane::Value> items;
    if (!list.ReadList(items)) {
        if (!items.empty()) {
            std::abort();
        }
        return;
    }
    Ulvane::Value written;
    int32_t size = 0;
    const void* bytes = list.GetData(size);
    if (!written.SetList(items) ||
        !SameBytes(written, static_cast<const uint8_t*>(bytes), static_cast<size_t>(size))) {
        std::abort();
    }
    for (const Ulvane::Value& item : items) {
        if (item.GetType() == Ulvane::kValueText &&
            std::strlen(item.GetString()) + 1 != item.GetSize()) {
            std::abort();
        }
        // Every reading of every kind has a result (the undefined-behaviour sanitizer watches the
        // conversions).
        (void)item.GetBool();
        (void)item.GetInt8();
        (void)item.GetUInt16();
        (void)item.GetInt32();
        (void)item.GetUInt32();
        (void)item.GetInt64();
        (void)item.GetUInt64();
        (void)item.GetFloat();
        (void)item.GetDouble();
        CheckRecords(item);
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
    Ulvane::Value list;
    if (!list.Set(Ulvane::kValueList, data, static_cast<uint32_t>(size))) {
        std::abort();
    }
    Walk(list, 0);
    return 0;
}
