// The client library's values: readings of every kind have a defined result (the library hands
// its values to a program that may read them any way), and what it writes as a list it reads back
// item for item.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "ParamItems.h"
#include "UlvaneAbi.h"
#include "ValueMakers.h"

namespace {

using Ulvane::Int32Value;
using Ulvane::ListValue;
using Ulvane::TextValue;
using Ulvane::Value;

Value Double(double number)
{
    Value value;
    value.SetDouble(number);
    return value;
}

TEST(UlvaneValue, EveryReadingOfEveryKindHasItsResult)
{
    int8_t minusOne = -1;
    Value int8;
    ASSERT_TRUE(int8.Set(Ulvane::kValueInt8, &minusOne, 1));
    const struct
    {
        const char* name;
        Value value;
        bool asBool;
        int32_t asInt32;
        uint16_t asUInt16;
        int64_t asInt64;
        double asDouble;
    } cases[] = {
        {"int32", Int32Value(-70000), true, -70000, static_cast<uint16_t>(-70000), -70000,
         -70000.0},
        {"int8 -1", int8, true, -1, 0xffff, -1, -1.0},
        {"double, truncated toward zero", Double(-2.9), true, -2, 0, -2, -2.9},
        {"double beyond int32", Double(3e9), true, 0, 0, 3000000000, 3e9},
        {"NaN", Double(std::nan("")), true, 0, 0, 0, std::nan("")},
        {"infinity", Double(std::numeric_limits<double>::infinity()), true, 0, 0, 0,
         std::numeric_limits<double>::infinity()},
        {"zero", Double(0.0), false, 0, 0, 0, 0.0},
        {"text", TextValue("abc"), true, 0, 0, 0, 0.0},
        {"empty list", ListValue({}), false, 0, 0, 0, 0.0},
        {"list", ListValue({Int32Value(5)}), true, 0, 0, 0, 0.0},
        {"empty", Value(), false, 0, 0, 0, 0.0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.value.GetBool(), c.asBool) << c.name;
        EXPECT_EQ(c.value.GetInt32(), c.asInt32) << c.name;
        EXPECT_EQ(c.value.GetUInt16(), c.asUInt16) << c.name;
        EXPECT_EQ(c.value.GetInt64(), c.asInt64) << c.name;
        if (std::isnan(c.asDouble)) {
            EXPECT_TRUE(std::isnan(c.value.GetDouble())) << c.name;
        } else {
            EXPECT_EQ(c.value.GetDouble(), c.asDouble) << c.name;
        }
    }
}

TEST(UlvaneValue, WhatIsWrittenAsAListReadsBackItemForItem)
{
    const uint8_t bytes[] = {1, 0, 2};
    Value blob;
    ASSERT_TRUE(blob.SetBlob(bytes, sizeof bytes));
    Value emptyBlob;
    ASSERT_TRUE(emptyBlob.SetBlob(nullptr, 0));
    const std::vector<Value> items = {
        Int32Value(7),     Double(0.5),   TextValue(""),
        TextValue("Desk"), blob,          emptyBlob,
        Value(),           ListValue({}), ListValue({Int32Value(1), TextValue("x")})};
    const Value list = ListValue(items);
    std::vector<Value> read;
    ASSERT_TRUE(list.ReadList(read));
    ASSERT_EQ(read.size(), items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_TRUE(read[i] == items[i]) << i;
    }
    EXPECT_STREQ(read[3].GetString(), "Desk");

    std::vector<Value> none{Int32Value(1)};
    EXPECT_FALSE(Int32Value(3).ReadList(none));
    EXPECT_TRUE(none.empty());
    EXPECT_TRUE(ListValue({}).ReadList(none));
    EXPECT_TRUE(none.empty());
}

TEST(UlvaneValue, AValueIsMadeOnlyOfWholeBytes)
{
    const uint8_t bytes[8] = {};
    Value value = Int32Value(1);
    EXPECT_FALSE(value.Set(Ulvane::kValueInt32, bytes, 2));
    EXPECT_TRUE(value.IsEmpty());
    EXPECT_FALSE(value.Set(Ulvane::kValueExternal, bytes, 8));
    EXPECT_FALSE(value.Set(Ulvane::kValueTypeCount, bytes, 0));
    EXPECT_FALSE(value.Set(-1, bytes, 0));
    EXPECT_TRUE(value.Set(Ulvane::kValueDouble, bytes, 8));
}

TEST(UlvaneValue, ParameterRecordsKeepTheirShape)
{
    Ulvane::ParamDescriptor descriptor;
    descriptor.id = -8;
    descriptor.subIndex.SetInt32(2);
    const Value item = Ulvane::MakeValueItem(descriptor, TextValue("Desk"));
    Ulvane::ParamDescriptor read;
    Value value;
    ASSERT_TRUE(Ulvane::ReadValueItem(item, read, value));
    EXPECT_EQ(read.id, -8);
    EXPECT_TRUE(read.subIndex == descriptor.subIndex);
    EXPECT_STREQ(value.GetString(), "Desk");

    // A value item is not a descriptor, and an id must be an int32.
    EXPECT_FALSE(Ulvane::ReadDescriptorItem(item, read));
    EXPECT_FALSE(Ulvane::ReadDescriptorItem(ListValue({Double(3.0), Value()}), read));
    int32_t first = 0;
    int32_t count = 0;
    EXPECT_FALSE(Ulvane::ReadRangeItem(ListValue({Int32Value(1), TextValue("2")}), first, count));
    ASSERT_TRUE(Ulvane::ReadRangeItem(ListValue({Int32Value(1), Int32Value(2)}), first, count));
    EXPECT_EQ(first, 1);
    EXPECT_EQ(count, 2);
}

}  // namespace
