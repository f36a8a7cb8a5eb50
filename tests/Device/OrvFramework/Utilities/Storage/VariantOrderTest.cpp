// The sub-index ordering: rows of single comparisons, and the laws of a strict weak ordering over
// a mixed set of values, which sorted lists of outside data rely on.
#include "Utilities/Storage/VariantOrder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "Utilities/Storage/ParamLists.h"

namespace {

using Orv::Variant;

// A value the outside library made in place: data it points to without owning it (layout: table
// pointer, value, size, type).
Variant External(const void* data, uint32_t size, int32_t type = Orv::kVariantExternalData)
{
    Variant v;
    auto* bytes = reinterpret_cast<unsigned char*>(&v);
    const auto address = reinterpret_cast<uint64_t>(data);
    std::memcpy(bytes + 8, &address, sizeof address);
    std::memcpy(bytes + 16, &size, sizeof size);
    std::memcpy(bytes + 20, &type, sizeof type);
    return v;
}

Variant Int32(int32_t x)
{
    Variant v;
    v.SetInt32(x);
    return v;
}

Variant UInt64(uint64_t x)
{
    Variant v;
    v.SetUInt64(x);
    return v;
}

Variant Int64(int64_t x)
{
    Variant v;
    v.SetInt64(x);
    return v;
}

Variant Double(double x)
{
    Variant v;
    v.SetDouble(x);
    return v;
}

Variant Text(const char* t)
{
    Variant v;
    v.SetString(t);
    return v;
}

Variant Blob(std::vector<unsigned char> bytes)
{
    Variant v;
    v.SetBlob(bytes.data(), static_cast<uint32_t>(bytes.size()));
    return v;
}

Variant List(std::vector<Variant> items)
{
    Variant v;
    v.SetList(items.data(), static_cast<uint32_t>(items.size()));
    return v;
}

struct LessRow
{
    const char* name;
    Variant a;
    Variant b;
    bool less;
};

TEST(VariantOrder, Rows)
{
    // Pointer-held values live here so their addresses are ordered.
    static const unsigned char storage[16] = {9, 0, 0, 0, 1, 0, 0, 0};
    const std::vector<LessRow> rows = {
        {"empty is never less than empty", Variant(), Variant(), false},
        {"empty before any other type", Variant(), Int32(-5), true},
        {"nothing before empty", Int32(-5), Variant(), false},
        {"signed int32", Int32(-2), Int32(1), true},
        {"unsigned 64 beyond the signed range", UInt64(1), UInt64(~0ull), true},
        {"negative int64 before a huge uint64", Int64(-1), UInt64(~0ull), true},
        {"huge uint64 not before negative int64", UInt64(~0ull), Int64(-1), false},
        {"int32 against double by value", Int32(2), Double(2.5), true},
        {"double against int32 by value", Double(2.5), Int32(2), false},
        {"int64 against double keeps the sign", Int64(-3), Double(-2.0), true},
        {"shorter text first", Text("zz"), Text("aaa"), true},
        {"texts of one length by signed chars", Text("\x80"), Text("a"), true},
        {"blobs of one length by unsigned bytes", Blob({0x01}), Blob({0x80}), true},
        {"shorter list first on a tie", List({Int32(1)}), List({Int32(1), Int32(0)}), true},
        {"lists decided by the first unequal item", List({Int32(2), Int32(0)}),
         List({Int32(1), Int32(9)}), false},
        {"pointer-held: smaller size first", External(storage + 8, 4), External(storage, 8), true},
        {"pointer-held: a larger first word does not beat a smaller size", External(storage, 8),
         External(storage + 4, 4), false},
        {"numbers before texts", Double(1e9), Text("a"), true},
        {"other kinds by type code", Text("zzzz"), List({}), true},
        {"lists skip items that are equivalent", List({Int32(1), Int32(5)}),
         List({Double(1.0), Int32(3)}), false},
        {"pointer-held: same size by address", External(storage, 4), External(storage + 4, 4),
         true},
    };
    for (const LessRow& row : rows) {
        EXPECT_EQ(Orv::VariantLess(row.a, row.b), row.less) << row.name;
    }
}

TEST(VariantOrder, IsAStrictWeakOrderingOverMixedValues)
{
    static const unsigned char storage[32] = {7, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0, 2};
    std::vector<Variant> values = {
        Variant(),
        Int32(0),
        Int32(-1),
        Int32(7),
        Int64(-1),
        UInt64(~0ull),
        Double(0.5),
        Double(-1.0),
        Double(7.0),
        Text("a"),
        Text("ab"),
        Blob({1, 2}),
        Blob({2}),
        List({Int32(1)}),
        List({Double(1)}),
        List({}),
        External(storage, 4),
        External(storage + 4, 4),
        External(storage + 8, 8),
        External(storage + 12, 4),
        External(storage, 4, Orv::kVariantExternalOpaque),
    };
    Variant boolean;
    boolean.SetBool(true);
    values.push_back(boolean);
    values.push_back(List({Int32(1), Int32(5)}));
    values.push_back(List({Double(1.0), Int32(3)}));
    values.push_back(List({Int32(1), Int32(4)}));
    const auto less = [](const Variant& a, const Variant& b) { return Orv::VariantLess(a, b); };
    const auto equivalent = [&](const Variant& a, const Variant& b) {
        return !less(a, b) && !less(b, a);
    };
    for (size_t i = 0; i < values.size(); ++i) {
        EXPECT_FALSE(less(values[i], values[i])) << i;
        for (size_t j = 0; j < values.size(); ++j) {
            EXPECT_FALSE(less(values[i], values[j]) && less(values[j], values[i])) << i << " " << j;
            // Values the lists hold as one key must be equivalent in the order.
            if (values[i] == values[j]) {
                EXPECT_TRUE(equivalent(values[i], values[j])) << i << " " << j;
            }
            for (size_t k = 0; k < values.size(); ++k) {
                if (less(values[i], values[j]) && less(values[j], values[k])) {
                    EXPECT_TRUE(less(values[i], values[k])) << i << " " << j << " " << k;
                }
                if (equivalent(values[i], values[j]) && equivalent(values[j], values[k])) {
                    EXPECT_TRUE(equivalent(values[i], values[k])) << i << " " << j << " " << k;
                }
            }
        }
    }
}

TEST(VariantOrder, OnlyFloatingNaNIsUnordered)
{
    Variant nanFloat;
    nanFloat.SetFloat(std::numeric_limits<float>::quiet_NaN());
    EXPECT_TRUE(Orv::IsUnorderedVariant(nanFloat));
    EXPECT_TRUE(Orv::IsUnorderedVariant(Double(std::nan(""))));
    EXPECT_FALSE(Orv::IsUnorderedVariant(Double(1.0)));
    EXPECT_FALSE(Orv::IsUnorderedVariant(Int32(0)));
}

// The sub-indices of a list in order.
std::vector<int32_t> SubIndices(const Orv::ParamValues& list)
{
    std::vector<int32_t> out;
    for (uint32_t i = 0; i < list.GetListItemCount(); ++i) {
        Variant value;
        Variant subIndex;
        int32_t id = -1;
        EXPECT_EQ(list.GetParamValueItem(i, value, id, subIndex), 0);
        out.push_back(subIndex.GetInt32());
    }
    return out;
}

TEST(ParamValuesSetValue, KeepsItemsSortedAndReplacesInPlace)
{
    Orv::ParamValues list;
    for (int32_t key : {5, 1, 3}) {
        EXPECT_EQ(list.SetValue(Orv::ParamDescriptor{4, Int32(key)}, Int32(key * 10)), 0);
    }
    EXPECT_EQ(SubIndices(list), (std::vector<int32_t>{1, 3, 5}));
    EXPECT_EQ(list.SetValue(Orv::ParamDescriptor{4, Int32(3)}, Int32(30)), 1);
    EXPECT_EQ(list.SetValue(Orv::ParamDescriptor{4, Int32(3)}, Int32(31)), 0);
    EXPECT_EQ(SubIndices(list), (std::vector<int32_t>{1, 3, 5}));
    Variant read;
    EXPECT_EQ(list.GetValue(Orv::ParamDescriptor{4, Int32(3)}, read), 0);
    EXPECT_EQ(read.GetInt32(), 31);
    // Another id sorts by id first.
    EXPECT_EQ(list.SetValue(Orv::ParamDescriptor{2, Int32(9)}, Int32(1)), 0);
    EXPECT_EQ(SubIndices(list), (std::vector<int32_t>{9, 1, 3, 5}));
}

TEST(ParamValuesSetValue, RefusesANaNSubIndexInsteadOfGrowing)
{
    Orv::ParamValues list;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(list.SetValue(Orv::ParamDescriptor{0, Double(std::nan(""))}, Int32(1)),
                  Orv::kParamItemMisshapen);
    }
    EXPECT_EQ(list.GetListItemCount(), 0u);
}

TEST(ParamValuesSetValue, MatchesAnItemOfAnUnsortedListFromOutside)
{
    Orv::ParamValues list;
    const Orv::ParamValue items[] = {{{0, Int32(5)}, Int32(50)}, {{0, Int32(1)}, Int32(10)}};
    ASSERT_EQ(list.SetValues(items, 2), 0);
    EXPECT_EQ(list.SetValue(Orv::ParamDescriptor{0, Int32(1)}, Int32(11)), 0);
    EXPECT_EQ(list.GetListItemCount(), 2u);
    EXPECT_EQ(SubIndices(list), (std::vector<int32_t>{5, 1}));
}

TEST(ParamValuesSetValue, AnUnreadableItemLeavesTheListAlone)
{
    Orv::ParamValues list;
    const Variant plain[] = {Int32(1), Int32(2)};
    list.SetList(plain, 2);
    const Variant before = list;
    EXPECT_EQ(list.SetValue(Orv::ParamDescriptor{0, Int32(1)}, Int32(1)), Orv::kParamItemMisshapen);
    EXPECT_TRUE(list == before);
}

}  // namespace
