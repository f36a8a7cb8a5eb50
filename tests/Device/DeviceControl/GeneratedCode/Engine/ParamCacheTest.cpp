// The parameter cache: slot bounds, whole values, sorted sub-indexed entries and the refusals
// that keep outside data from growing or corrupting a slot.
#include "ParamCache.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ParamIds.h"

namespace {

using Orv::ParamDescriptor;
using Orv::Variant;

Variant Int32(int32_t x)
{
    Variant v;
    v.SetInt32(x);
    return v;
}

// Counts the change reports.
class CountingCache : public LParamCache
{
public:
    CountingCache() : LParamCache(11) {}
    Orv::ORVRESULT OnValueChanged(uint32_t slot, const Variant& value) override
    {
        reported.push_back(slot);
        lastValue = value;
        return LParamCache::OnValueChanged(slot, value);
    }
    std::vector<uint32_t> reported;
    Variant lastValue;
};

TEST(ParamCache, OnlyIndicesOfTheSlotsAreUsed)
{
    LParamCache cache(11);
    for (const int32_t index : {11, -1, 1000}) {
        EXPECT_EQ(cache.Update(ParamDescriptor{index, {}}, Int32(1), false), -1) << index;
        Variant out = Int32(7);
        EXPECT_EQ(cache.Get(ParamDescriptor{index, {}}, out), -1) << index;
        EXPECT_TRUE(out.IsEmpty());
    }
    EXPECT_EQ(cache.Update(ParamDescriptor{10, {}}, Int32(1), false), 0);
}

TEST(ParamCache, WholeValuesReportEachChangeOnce)
{
    CountingCache cache;
    EXPECT_EQ(cache.Update(ParamDescriptor{3, {}}, Int32(4), true), 0);
    EXPECT_EQ(cache.Update(ParamDescriptor{3, {}}, Int32(4), true), 1);
    EXPECT_EQ(cache.Update(ParamDescriptor{3, {}}, Int32(5), false), 0);
    EXPECT_EQ(cache.reported, (std::vector<uint32_t>{3}));
    Variant out;
    EXPECT_EQ(cache.Get(ParamDescriptor{3, {}}, out), 0);
    EXPECT_EQ(out.GetInt32(), 5);
    EXPECT_EQ(cache.Update(ParamDescriptor{3, {}}, Variant(), false), 0);
    EXPECT_EQ(cache.Get(ParamDescriptor{3, {}}, out), 0);
    EXPECT_TRUE(out.IsEmpty());
}

TEST(ParamCache, SubIndexedEntriesReadBackSorted)
{
    CountingCache cache;
    for (const int32_t key : {5, 1, 3}) {
        EXPECT_EQ(cache.Update(ParamDescriptor{6, Int32(key)}, Int32(key * 100), true), 0);
    }
    Variant slot;
    ASSERT_EQ(cache.Get(ParamDescriptor{6, {}}, slot), 0);
    ASSERT_EQ(slot.GetListItemCount(), 3u);
    std::vector<int32_t> keys;
    for (uint32_t i = 0; i < 3; ++i) {
        Variant value;
        Variant subIndex;
        int32_t id = -1;
        ASSERT_EQ(slot.GetParamValueItem(i, value, id, subIndex), 0);
        EXPECT_EQ(id, 6);
        EXPECT_EQ(value.GetInt32(), subIndex.GetInt32() * 100);
        keys.push_back(subIndex.GetInt32());
    }
    EXPECT_EQ(keys, (std::vector<int32_t>{1, 3, 5}));
    EXPECT_TRUE(cache.lastValue == slot);

    EXPECT_EQ(cache.Update(ParamDescriptor{6, Int32(3)}, Int32(300), true), 1);
    EXPECT_EQ(cache.Update(ParamDescriptor{6, Int32(3)}, Int32(301), true), 0);
    Variant read;
    EXPECT_EQ(cache.Get(ParamDescriptor{6, Int32(3)}, read), 0);
    EXPECT_EQ(read.GetInt32(), 301);
    EXPECT_EQ(cache.Get(ParamDescriptor{6, Int32(4)}, read), 1);
    EXPECT_TRUE(read.IsEmpty());
    EXPECT_EQ(cache.reported.size(), 4u);
}

TEST(ParamCache, ANaNSubIndexIsRefusedEveryTime)
{
    CountingCache cache;
    Variant nan;
    nan.SetDouble(std::nan(""));
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(cache.Update(ParamDescriptor{2, nan}, Int32(i), true), -1);
    }
    Variant slot;
    EXPECT_EQ(cache.Get(ParamDescriptor{2, {}}, slot), 0);
    EXPECT_TRUE(slot.IsEmpty());
    EXPECT_TRUE(cache.reported.empty());
}

TEST(ParamCache, SubIndicesOnASlotThatIsNoValueList)
{
    LParamCache cache(11);
    // The buffer-size range is a plain list of three numbers.
    ASSERT_EQ(cache.Update(ParamDescriptor{3, {}}, ParamIds::GetDefaultValue(3), false), 0);
    ASSERT_TRUE(ParamIds::GetDefaultValue(3).IsList());
    Variant out;
    EXPECT_EQ(cache.Get(ParamDescriptor{3, Int32(0)}, out), Orv::kParamItemMisshapen);
    EXPECT_EQ(cache.Update(ParamDescriptor{3, Int32(0)}, Int32(1), false), -1);
    Variant slot;
    cache.Get(ParamDescriptor{3, {}}, slot);
    EXPECT_TRUE(slot == ParamIds::GetDefaultValue(3));

    ASSERT_EQ(cache.Update(ParamDescriptor{4, {}}, Int32(9), false), 0);
    EXPECT_EQ(cache.Get(ParamDescriptor{4, Int32(0)}, out), 1);
    EXPECT_TRUE(out.IsEmpty());
}

}  // namespace
