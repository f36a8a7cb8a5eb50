// Text values parsed by VariantEx, its text form of every type, and its counted block.
#include "Utilities/Storage/VariantEx.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

using Orv::Variant;
using Orv::VariantEx;

std::u16string Text(const VariantEx& v)
{
    return std::u16string(v.ToString().GetText());
}

TEST(VariantEx, ParsesTextWhereVariantCountsIt)
{
    VariantEx ex;
    ex.SetString("42");
    Variant plain;
    plain.SetString("42");
    EXPECT_EQ(plain.GetInt32(), 2);
    EXPECT_EQ(ex.GetInt32(), 42);
    EXPECT_EQ(ex.GetUInt8(), 42);
    EXPECT_EQ(ex.GetInt64(), 42);
    EXPECT_EQ(ex.GetDouble(), 42.0);
    // The base's floating getters read through the table, so they parse too.
    EXPECT_EQ(ex.Variant::GetFloat(), 42.0f);
}

TEST(VariantEx, ParsesEachWidth)
{
    VariantEx ex;
    ex.SetString("  -300xyz");
    EXPECT_EQ(ex.GetInt32(), -300);
    EXPECT_EQ(ex.GetInt16(), -300);
    EXPECT_EQ(ex.GetInt8(), static_cast<int8_t>(-300));
    ex.SetString("9000000000");
    EXPECT_EQ(ex.GetInt64(), 9000000000LL);
    EXPECT_EQ(ex.GetUInt32(), static_cast<uint32_t>(9000000000ULL));
    EXPECT_EQ(ex.GetUInt64(), 9000000000ULL);
    ex.SetString("2.75");
    EXPECT_EQ(ex.GetDouble(), 2.75);
    EXPECT_EQ(ex.GetFloat(), 2.75f);
    EXPECT_EQ(ex.GetInt32(), 2);
}

TEST(VariantEx, TrueIgnoringCaseIsTheOnlyTrueText)
{
    const struct
    {
        const char* text;
        bool expected;
    } rows[] = {{"true", true}, {"TRUE", true}, {"tRuE", true},  {" True", false},
                {"1", false},   {"", false},    {"truex", false}};
    for (const auto& row : rows) {
        VariantEx ex;
        ex.SetString(row.text);
        EXPECT_EQ(ex.GetBool(), row.expected) << row.text;
    }
}

TEST(VariantEx, ToStringOfEveryType)
{
    VariantEx ex;
    EXPECT_EQ(Text(ex), u"");
    ex.SetBool(true);
    EXPECT_EQ(Text(ex), u"true");
    ex.SetBool(false);
    EXPECT_EQ(Text(ex), u"false");
    ex.SetInt8(-5);
    EXPECT_EQ(Text(ex), u"-5");
    ex.SetInt16(-300);
    EXPECT_EQ(Text(ex), u"-300");
    ex.SetUInt8(200);
    EXPECT_EQ(Text(ex), u"200");
    ex.SetUInt32(4000000000u);
    EXPECT_EQ(Text(ex), u"4000000000");
    ex.SetInt64(-9000000000LL);
    EXPECT_EQ(Text(ex), u"-9000000000");
    ex.SetUInt64(255);
    EXPECT_EQ(Text(ex), u"FF");
    ex.SetFloat(1.5f);
    EXPECT_EQ(Text(ex), u"1.500000");
    ex.SetDouble(-0.25);
    EXPECT_EQ(Text(ex), u"-0.250000");
    ex.SetString(u"caf\u00e9");
    EXPECT_EQ(Text(ex), u"caf\u00e9");
    EXPECT_STREQ(ex.GetString(), "caf\xC3\xA9");

    ex.SetBlob("ab", 2);
    int32_t size = 0;
    const void* block = ex.GetData(size);
    char expected[32];
    std::snprintf(expected, sizeof expected, "%llX",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(block)));
    EXPECT_STREQ(ex.ToString().ToNarrow().GetText(), expected);
}

TEST(VariantEx, KeepsItsBlockInItsCountedBuffer)
{
    Variant blob;
    blob.SetBlob("12345", 5);
    VariantEx ex;
    ex = blob;
    ASSERT_FALSE(ex.GetBuffer().IsNull());
    int32_t size = 0;
    EXPECT_EQ(ex.GetData(size), ex.GetBuffer()->GetData());
    EXPECT_EQ(size, 5);
    EXPECT_TRUE(ex == blob);

    VariantEx copy(ex);
    EXPECT_NE(copy.GetBuffer().Get(), ex.GetBuffer().Get());
    EXPECT_TRUE(copy == ex);

    ex.SetInt32(1);
    EXPECT_TRUE(ex.GetBuffer().IsNull());
}

TEST(VariantEx, CopyOfExternalDataSharesThePointer)
{
    // The outside library fills external data in place; reproduce that through the layout.
    static const uint8_t external[4] = {1, 2, 3, 4};
    Variant source;
    const uint64_t address = reinterpret_cast<uintptr_t>(external);
    const uint32_t size = 4;
    const int32_t type = Orv::kVariantExternalData;
    std::memcpy(reinterpret_cast<char*>(&source) + 8, &address, 8);
    std::memcpy(reinterpret_cast<char*>(&source) + 16, &size, 4);
    std::memcpy(reinterpret_cast<char*>(&source) + 20, &type, 4);

    VariantEx copy;
    EXPECT_EQ(copy.Assign(source), Orv::kVariantExternalData);
    int32_t copiedSize = 0;
    EXPECT_EQ(copy.GetData(copiedSize), external);
    EXPECT_TRUE(copy.GetBuffer().IsNull());
    EXPECT_EQ(copy.GetUInt16(), 0x0201);
    EXPECT_TRUE(copy == source);
    int32_t bytesSize = 0;
    EXPECT_EQ(source.GetBytes(bytesSize), external);
}

TEST(VariantEx, ExternalDataShorterThanTheGetterIsReadOnlyToItsEnd)
{
    static const uint8_t external[2] = {0x34, 0x12};
    const uint64_t address = reinterpret_cast<uintptr_t>(external);
    const uint32_t size = 2;
    for (const int32_t type : {Orv::kVariantExternalData, Orv::kVariantExternalOpaque}) {
        Variant source;
        std::memcpy(reinterpret_cast<char*>(&source) + 8, &address, 8);
        std::memcpy(reinterpret_cast<char*>(&source) + 16, &size, 4);
        std::memcpy(reinterpret_cast<char*>(&source) + 20, &type, 4);
        EXPECT_EQ(source.GetUInt64(), 0x1234u);
        EXPECT_EQ(source.GetInt32(), 0x1234);
        EXPECT_TRUE(source.GetBool());
    }
}

}  // namespace
