// Reading parameter lists as the device library hands them over, and building the lists that go
// to it: every list form survives the byte format, and a list of the wrong shape is reported,
// never guessed at.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Utilities/Storage/ParamLists.h"

namespace {

using Orv::ParamDescriptor;
using Orv::ParamDescriptors;
using Orv::ParamRange;
using Orv::ParamRanges;
using Orv::ParamValue;
using Orv::ParamValues;
using Orv::Variant;

Variant Int32(int32_t value)
{
    Variant v;
    v.SetInt32(value);
    return v;
}

Variant Text(const char* text)
{
    Variant v;
    v.SetString(text);
    return v;
}

Variant ListOf(std::vector<Variant> items)
{
    Variant list;
    list.SetList(items.data(), static_cast<uint32_t>(items.size()));
    return list;
}

// A copy made from the bytes alone, as the other side of the library boundary sees the list.
template <class List>
List ThroughBytes(const List& list)
{
    int32_t size = 0;
    const void* data = list.GetData(size);
    List copy;
    copy.Set(Orv::kVariantList, data, static_cast<uint32_t>(size));
    return copy;
}

TEST(ParamListReaders, ValuesRoundTripThroughTheByteFormat)
{
    ParamValue values[3];
    values[0].descriptor.id = 4;
    values[0].value.SetDouble(48000.0);
    values[1].descriptor.id = 3;
    values[1].descriptor.subIndex.SetInt32(1);
    values[1].value = ListOf({Int32(64), Int32(4096), Int32(32)});
    values[2].descriptor.id = -8;
    values[2].value = Text("Quorvel 2x2");
    ParamValues list;
    ASSERT_EQ(list.SetValues(values, 3), 0);

    const ParamValues back = ThroughBytes(list);
    ASSERT_EQ(back.GetListItemCount(), 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        Variant value;
        Variant subIndex;
        int32_t id = 0;
        ASSERT_EQ(back.GetParamValueItem(i, value, id, subIndex), 0) << i;
        EXPECT_EQ(id, values[i].descriptor.id);
        EXPECT_TRUE(subIndex == values[i].descriptor.subIndex) << i;
        EXPECT_TRUE(value == values[i].value) << i;
        Variant found;
        EXPECT_EQ(back.GetValue(values[i].descriptor, found), 0) << i;
        EXPECT_TRUE(found == values[i].value) << i;
    }
}

TEST(ParamListReaders, DescriptorsAndRangesRoundTrip)
{
    const ParamRange ranges[] = {{0, 11}, {-244, 1}, {-10, 2}};
    ParamRanges rangeList;
    ASSERT_EQ(rangeList.SetRanges(ranges, 3), 0);
    const ParamRanges rangesBack = ThroughBytes(rangeList);
    for (uint32_t i = 0; i < 3; ++i) {
        int32_t first = 1;
        int32_t count = 1;
        ASSERT_EQ(rangesBack.GetRangeItem(i, first, count), 0);
        EXPECT_EQ(first, ranges[i].firstId);
        EXPECT_EQ(count, ranges[i].count);
    }

    ParamDescriptor descriptors[2];
    descriptors[0].id = 7;
    descriptors[1].id = 3;
    descriptors[1].subIndex = Text("max");
    ParamDescriptors list;
    ASSERT_EQ(list.SetDescriptors(descriptors, 2), 0);
    const ParamDescriptors back = ThroughBytes(list);
    for (uint32_t i = 0; i < 2; ++i) {
        int32_t id = 0;
        Variant subIndex;
        ASSERT_EQ(back.GetDescriptorItem(i, id, subIndex), 0);
        EXPECT_EQ(id, descriptors[i].id);
        EXPECT_TRUE(subIndex == descriptors[i].subIndex);
    }
}

TEST(ParamListReaders, FromRangesMakesOneDescriptorPerIdInOrder)
{
    const ParamRange all[] = {{0, 11}};
    ParamRanges ranges;
    ASSERT_EQ(ranges.SetRanges(all, 1), 0);
    ParamDescriptors list;
    ASSERT_EQ(list.SetFromRanges(ThroughBytes(ranges)), 0);
    ASSERT_EQ(list.GetListItemCount(), 11u);
    for (uint32_t i = 0; i < 11; ++i) {
        int32_t id = -1;
        Variant subIndex = Text("stale");
        ASSERT_EQ(list.GetDescriptorItem(i, id, subIndex), 0);
        EXPECT_EQ(id, static_cast<int32_t>(i));
        EXPECT_TRUE(subIndex.IsEmpty());
    }

    const ParamRange two[] = {{5, 2}, {-9, 0}, {-2, 1}};
    ASSERT_EQ(ranges.SetRanges(two, 3), 0);
    ASSERT_EQ(list.SetFromRanges(ranges), 0);
    std::vector<int32_t> ids;
    for (uint32_t i = 0; i < list.GetListItemCount(); ++i) {
        int32_t id = 0;
        Variant subIndex;
        ASSERT_EQ(list.GetDescriptorItem(i, id, subIndex), 0);
        ids.push_back(id);
    }
    EXPECT_EQ(ids, (std::vector<int32_t>{5, 6, -2}));
}

// Ranges that would make descriptors without end or beyond the id space leave the list as it was.
TEST(ParamListReaders, FromRangesRefusesRangesItCannotHonour)
{
    ParamDescriptor one;
    one.id = 1;
    ParamDescriptors list;
    ASSERT_EQ(list.SetDescriptors(&one, 1), 0);
    const ParamDescriptors before(list);

    struct Case
    {
        const char* name;
        std::vector<ParamRange> ranges;
        int32_t expected;
    };
    const Case cases[] = {
        {"negative count", {{0, -1}}, Orv::kParamItemMisshapen},
        {"past the largest id", {{INT32_MAX - 1, 3}}, Orv::kParamItemMisshapen},
        {"a huge count", {{0, INT32_MAX}}, ParamDescriptors::kNoDescriptors},
        {"many ranges adding up", {{0, 40000}, {0, 40000}}, ParamDescriptors::kNoDescriptors},
        {"only empty ranges", {{3, 0}}, ParamDescriptors::kNoDescriptors},
    };
    for (const Case& c : cases) {
        ParamRanges ranges;
        ASSERT_EQ(ranges.SetRanges(c.ranges.data(), static_cast<uint32_t>(c.ranges.size())), 0);
        EXPECT_EQ(list.SetFromRanges(ranges), c.expected) << c.name;
        EXPECT_TRUE(list == before) << c.name;
    }

    ParamRanges notRanges;
    notRanges.SetList(std::vector<Variant>{Int32(0), Int32(11)}.data(), 2);
    EXPECT_EQ(list.SetFromRanges(notRanges), Orv::kParamItemMisshapen);
    EXPECT_EQ(list.SetFromRanges(ParamRanges()), ParamDescriptors::kNoDescriptors);
    EXPECT_TRUE(list == before);
}

TEST(ParamListReaders, BadListsAndItemsAreReportedWithEmptyResults)
{
    Variant fourBytes;
    const uint8_t word[4] = {12, 0, 0, 0};
    fourBytes.Set(Orv::kVariantList, word, 4);
    const Variant twoItems = ListOf({ListOf({Int32(1), Int32(2)})});
    const Variant notAList = ListOf({Int32(3)});
    const Variant fourOfThree = ListOf({ListOf({Int32(1), Int32(2), Variant(), Variant()})});

    struct Case
    {
        const char* name;
        Variant list;
        uint32_t index;
        int32_t expected;
    };
    const Case cases[] = {
        {"empty variant", Variant(), 0, Orv::kParamListUnreadable},
        {"a scalar", Int32(5), 0, Orv::kParamListUnreadable},
        {"four payload bytes", fourBytes, 0, Orv::kParamListUnreadable},
        {"index past the end", twoItems, 1, Orv::kParamListUnreadable},
        {"two-item value", twoItems, 0, Orv::kParamItemMisshapen},
        {"item not a list", notAList, 0, Orv::kParamItemMisshapen},
        {"four-item value", fourOfThree, 0, Orv::kParamItemMisshapen},
    };
    for (const Case& c : cases) {
        Variant value = Text("stale");
        Variant subIndex = Text("stale");
        int32_t id = 99;
        EXPECT_EQ(c.list.GetParamValueItem(c.index, value, id, subIndex), c.expected) << c.name;
        EXPECT_EQ(id, -1) << c.name;
        EXPECT_TRUE(value.IsEmpty()) << c.name;
        EXPECT_TRUE(subIndex.IsEmpty()) << c.name;
    }

    ParamDescriptors descriptors;
    static_cast<Variant&>(descriptors) = ListOf({ListOf({Int32(1), Variant(), Variant()})});
    int32_t id = 5;
    Variant subIndex = Text("stale");
    EXPECT_EQ(descriptors.GetDescriptorItem(0, id, subIndex), Orv::kParamItemMisshapen);
    EXPECT_EQ(id, -1);
    EXPECT_TRUE(subIndex.IsEmpty());
    EXPECT_EQ(descriptors.GetDescriptorItem(1, id, subIndex), Orv::kParamListUnreadable);

    ParamRanges ranges;
    static_cast<Variant&>(ranges) = ListOf({ListOf({Int32(1)})});
    int32_t first = 5;
    int32_t count = 5;
    EXPECT_EQ(ranges.GetRangeItem(0, first, count), Orv::kParamItemMisshapen);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(count, 0);
}

TEST(ParamListReaders, GetValueMatchesIdAndSubIndexExactly)
{
    ParamValue values[3];
    values[0].descriptor.id = 3;
    values[0].descriptor.subIndex = Int32(0);
    values[0].value = Int32(64);
    values[1].descriptor.id = 3;
    values[1].value = Text("whole");
    values[2].descriptor.id = 3;
    values[2].value = Text("second whole");
    ParamValues list;
    ASSERT_EQ(list.SetValues(values, 3), 0);

    ParamDescriptor whole;
    whole.id = 3;
    Variant found;
    ASSERT_EQ(list.GetValue(whole, found), 0);
    EXPECT_STREQ(found.GetString(), "whole");  // the first match, not the sub-indexed item

    ParamDescriptor entry;
    entry.id = 3;
    entry.subIndex = Int32(0);
    ASSERT_EQ(list.GetValue(entry, found), 0);
    EXPECT_EQ(found.GetInt32(), 64);

    entry.subIndex = Int32(1);
    found = Text("stale");
    EXPECT_EQ(list.GetValue(entry, found), 1);
    EXPECT_TRUE(found.IsEmpty());

    ParamValues broken;
    static_cast<Variant&>(broken) = ListOf({ListOf({Int32(1), Int32(9)})});
    found = Text("stale");
    EXPECT_EQ(broken.GetValue(whole, found), Orv::kParamItemMisshapen);
    EXPECT_TRUE(found.IsEmpty());
}

TEST(ParamListReaders, BuildersRefuseNothingToBuild)
{
    ParamValue value;
    value.descriptor.id = 2;
    value.value = Int32(256);
    ParamValues values;
    ASSERT_EQ(values.SetValues(&value, 1), 0);
    const ParamValues keptValues(values);
    EXPECT_EQ(values.SetValues(nullptr, 1), Orv::kParamListUnreadable);
    EXPECT_EQ(values.SetValues(&value, 0), Orv::kParamListUnreadable);
    EXPECT_TRUE(values == keptValues);

    const ParamRange range{0, 11};
    ParamRanges ranges;
    ASSERT_EQ(ranges.SetRanges(&range, 1), 0);
    const ParamRanges keptRanges(ranges);
    EXPECT_EQ(ranges.SetRanges(nullptr, 1), Orv::kParamListUnreadable);
    EXPECT_EQ(ranges.SetRanges(&range, 0), Orv::kParamListUnreadable);
    EXPECT_TRUE(ranges == keptRanges);
}

TEST(ParamListReaders, DescriptorTextIsTheDecimalId)
{
    ParamDescriptor descriptor;
    descriptor.id = -244;
    descriptor.subIndex = Int32(3);
    EXPECT_EQ(std::string(Orv::ParamDescriptorToString(descriptor).ToNarrow().GetText()), "-244");
}

}  // namespace
