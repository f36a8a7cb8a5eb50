// Parameter descriptors and values as lists.
#include "Utilities/Storage/ParamLists.h"

#include <gtest/gtest.h>

namespace {

using Orv::Variant;

TEST(ParamLists, DescriptorListHoldsIdThenSubIndex)
{
    Orv::ParamDescriptor descriptor;
    descriptor.id = 17;
    descriptor.subIndex.SetUInt8(3);
    Variant list;
    EXPECT_EQ(&descriptor.ToList(list), &list);
    ASSERT_EQ(list.GetListItemCount(), 2u);
    Variant item;
    list.GetListItem(0, item);
    EXPECT_EQ(item.GetType(), Orv::kVariantInt32);
    EXPECT_EQ(item.GetInt32(), 17);
    list.GetListItem(1, item);
    EXPECT_TRUE(item == descriptor.subIndex);
}

TEST(ParamLists, ValueListHoldsValueIdAndSubIndex)
{
    Variant value;
    value.SetDouble(-6.5);
    Variant subIndex;
    subIndex.SetInt32(1);
    Variant list;
    Orv::MakeParamValueList(40, &subIndex, &value, list);
    ASSERT_EQ(list.GetListItemCount(), 3u);
    Variant item;
    list.GetListItem(0, item);
    EXPECT_TRUE(item == value);
    list.GetListItem(1, item);
    EXPECT_EQ(item.GetInt32(), 40);
    list.GetListItem(2, item);
    EXPECT_TRUE(item == subIndex);

    Orv::MakeParamValueList(41, nullptr, nullptr, list);
    ASSERT_EQ(list.GetListItemCount(), 3u);
    list.GetListItem(0, item);
    EXPECT_TRUE(item.IsEmpty());
}

TEST(ParamLists, SetDescriptorsWithoutDescriptorsKeepsTheList)
{
    Orv::ParamDescriptors list;
    Orv::ParamDescriptor descriptors[2];
    descriptors[0].id = 1;
    descriptors[1].id = 2;
    descriptors[1].subIndex.SetString("x");
    ASSERT_EQ(list.SetDescriptors(descriptors, 2), 0);
    const Orv::ParamDescriptors before(list);
    EXPECT_EQ(list.SetDescriptors(nullptr, 2), -4);
    EXPECT_EQ(list.SetDescriptors(descriptors, 0), -4);
    EXPECT_TRUE(list == before);

    ASSERT_EQ(list.GetListItemCount(), 2u);
    Variant pair;
    Variant field;
    list.GetListItem(1, pair);
    pair.GetListItem(0, field);
    EXPECT_EQ(field.GetInt32(), 2);
    pair.GetListItem(1, field);
    EXPECT_STREQ(field.GetString(), "x");
}

TEST(ParamLists, SingleValueIsAListOfOneValueList)
{
    Orv::ParamDescriptor descriptor;
    descriptor.id = 5;
    Variant value;
    value.SetBool(true);
    Orv::ParamValues values;
    EXPECT_EQ(values.SetSingleValue(descriptor, value), 0);
    ASSERT_EQ(values.GetListItemCount(), 1u);
    Variant triple;
    ASSERT_EQ(values.GetListItem(0, triple), 0);
    Variant expected;
    Orv::MakeParamValueList(5, &descriptor.subIndex, &value, expected);
    EXPECT_TRUE(triple == expected);
}

}  // namespace
