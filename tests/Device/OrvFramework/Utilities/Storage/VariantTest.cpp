// Storing, copying and comparing variants, and the layout the outside library fills in place.
#include "Utilities/Storage/Variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>
#include <type_traits>

#include "Utilities/Storage/Array.h"
#include "Utilities/Storage/StringT.h"

namespace {

using Orv::Variant;

// The field at a byte offset of the object, as the outside library sees it.
template <class T>
T FieldAt(const Variant& variant, size_t offset)
{
    T field;
    std::memcpy(&field, reinterpret_cast<const char*>(&variant) + offset, sizeof field);
    return field;
}

TEST(VariantLayout, ValueSizeAndTypeSitAtTheirFixedOffsets)
{
    Variant scalar;
    scalar.SetInt16(-2);
    EXPECT_EQ(FieldAt<uint64_t>(scalar, 8), 0xFFFEu);
    EXPECT_EQ(FieldAt<uint32_t>(scalar, 16), 0u);
    EXPECT_EQ(FieldAt<int32_t>(scalar, 20), Orv::kVariantInt16);

    Variant text;
    text.SetString("abc");
    int32_t size = 0;
    const void* data = text.GetData(size);
    EXPECT_EQ(FieldAt<uint64_t>(text, 8), reinterpret_cast<uintptr_t>(data));
    EXPECT_EQ(FieldAt<uint32_t>(text, 16), 4u);
    EXPECT_EQ(FieldAt<int32_t>(text, 20), Orv::kVariantString);
}

struct SetCase
{
    const char* name;
    uint32_t type;
    uint32_t size;
    int32_t expected;
};

// Test names, not the bytes of the row.
void PrintTo(const SetCase& row, std::ostream* out)
{
    *out << row.name;
}

class VariantSet : public ::testing::TestWithParam<SetCase>
{
};

TEST_P(VariantSet, StoresOnlyFittingSizesOfKnownTypes)
{
    const SetCase& row = GetParam();
    const uint8_t bytes[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0};
    Variant variant;
    variant.SetString("previous");
    EXPECT_EQ(variant.Set(row.type, bytes, row.size), row.expected);
    EXPECT_EQ(variant.GetType(), row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, VariantSet,
    ::testing::Values(SetCase{"Bool", 1, 1, 1}, SetCase{"BoolTooLong", 1, 2, 0},
                      SetCase{"Int16", 4, 2, 4}, SetCase{"Int32FromTwoBytes", 6, 2, 0},
                      SetCase{"Float", 8, 4, 8}, SetCase{"DoubleFromFour", 9, 4, 0},
                      SetCase{"UInt64", 11, 8, 11}, SetCase{"ExternalBecomesBlob", 12, 3, 14},
                      SetCase{"OpaqueBecomesBlob", 13, 3, 14}, SetCase{"Blob", 14, 5, 14},
                      SetCase{"Text", 15, 0, 15}, SetCase{"List", 16, 4, 16},
                      SetCase{"TypeZero", 0, 0, 0}, SetCase{"TypeSeventeen", 17, 4, 0},
                      SetCase{"HugeType", 0xFFFFFFFF, 4, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Variant, ExternalDataIsStoredAsAPrivateCopy)
{
    uint8_t bytes[3] = {7, 8, 9};
    Variant variant;
    ASSERT_EQ(variant.Set(12, bytes, 3), Orv::kVariantBlob);
    int32_t size = 0;
    const void* data = variant.GetData(size);
    EXPECT_NE(data, bytes);
    ASSERT_EQ(size, 3);
    bytes[0] = 0;
    EXPECT_EQ(static_cast<const uint8_t*>(data)[0], 7);
}

TEST(Variant, TextIncludesItsTerminatorInItsSize)
{
    Variant variant;
    EXPECT_EQ(variant.SetString(""), Orv::kVariantString);
    EXPECT_EQ(variant.GetSize(), 1u);
    EXPECT_STREQ(variant.GetString(), "");
    EXPECT_EQ(variant.SetString("42"), Orv::kVariantString);
    EXPECT_EQ(variant.GetSize(), 3u);
    EXPECT_STREQ(variant.GetString(), "42");
    // The size argument of a text is not used.
    EXPECT_EQ(variant.Set(15, "hello", 2), Orv::kVariantString);
    EXPECT_STREQ(variant.GetString(), "hello");
}

TEST(Variant, WideTextIsStoredAsUtf8)
{
    struct Row
    {
        const char* name;
        const char16_t* wide;
        const char* utf8;
    };
    const Row rows[] = {
        {"ascii", u"48000", "48000"},
        {"empty", u"", ""},
        {"two-byte characters", u"Gr\u00fc\u00dfe",
         "Gr\xc3\xbc\xc3\x9f"
         "e"},
        {"surrogate pair", u"\U0001D11E!", "\xf0\x9d\x84\x9e!"},
    };
    for (const Row& row : rows) {
        Variant fromPointer;
        fromPointer.SetInt32(7);
        EXPECT_EQ(fromPointer.SetString(row.wide), Orv::kVariantString) << row.name;
        EXPECT_STREQ(fromPointer.GetString(), row.utf8) << row.name;
        EXPECT_EQ(fromPointer.GetSize(), std::strlen(row.utf8) + 1) << row.name;

        Variant fromString;
        EXPECT_EQ(fromString.SetString(Orv::WideString(row.wide)), Orv::kVariantString);
        EXPECT_EQ(fromString, fromPointer) << row.name;
    }
    Variant null;
    EXPECT_EQ(null.SetString(static_cast<const char16_t*>(nullptr)), Orv::kVariantString);
    EXPECT_STREQ(null.GetString(), "");
}

TEST(Variant, AssigningADoubleGivesBackTheBlock)
{
    Variant variant;
    variant.SetString("a text held in a block");
    variant = 2.5;
    EXPECT_EQ(variant.GetType(), Orv::kVariantDouble);
    EXPECT_EQ(variant.GetSize(), 0u);
    EXPECT_EQ(variant.GetDouble(), 2.5);
    int32_t size = 0;
    const void* data = variant.GetData(size);
    ASSERT_EQ(size, 8);
    double stored = 0;
    std::memcpy(&stored, data, sizeof stored);
    EXPECT_EQ(stored, 2.5);

    variant = -1.5;  // over a scalar too
    EXPECT_EQ(variant.GetInt32(), -2);
    static_assert(!std::is_assignable_v<Variant&, int>, "an int is not silently a double");
    static_assert(!std::is_assignable_v<Variant&, float>, "nor a float");
    static_assert(std::is_assignable_v<Variant&, double>);
}

TEST(Variant, SettingFromItsOwnBlockKeepsTheBytes)
{
    Variant variant;
    variant.SetString("abcdef");
    variant.SetString(variant.GetString() + 2);
    EXPECT_STREQ(variant.GetString(), "cdef");

    variant.SetBlob("\x01\x02\x03\x04", 4);
    int32_t size = 0;
    const void* data = variant.GetData(size);
    EXPECT_EQ(variant.Set(Orv::kVariantInt32, data, 4), Orv::kVariantInt32);
    EXPECT_EQ(variant.GetUInt32(), 0x04030201u);

    variant.SetBlob("xyz", 3);
    data = variant.GetData(size);
    EXPECT_EQ(variant.SetBlob(data, 3), Orv::kVariantBlob);
    EXPECT_EQ(std::memcmp(variant.GetData(size), "xyz", 3), 0);
}

TEST(Variant, GetDataAndGetBytesByType)
{
    Variant variant;
    int32_t size = -1;
    EXPECT_EQ(variant.GetData(size), nullptr);
    EXPECT_EQ(size, 0);

    variant.SetUInt16(5);
    EXPECT_NE(variant.GetData(size), nullptr);
    EXPECT_EQ(size, 2);
    variant.SetDouble(1.0);
    variant.GetBytes(size);
    EXPECT_EQ(size, 8);

    Variant item;
    item.SetInt32(1);
    variant.SetList(&item, 1);
    EXPECT_NE(variant.GetData(size), nullptr);
    EXPECT_EQ(size, 16);
    EXPECT_EQ(variant.GetBytes(size), nullptr);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(variant.GetString(), nullptr);
}

TEST(Variant, CopiesAreIndependent)
{
    Variant original;
    original.SetString("shared?");
    Variant copy(original);
    Variant assigned;
    EXPECT_EQ(assigned.Assign(original), Orv::kVariantString);
    EXPECT_TRUE(copy == original);
    EXPECT_TRUE(assigned == original);
    int32_t size = 0;
    EXPECT_NE(copy.GetData(size), original.GetData(size));
    original.SetInt32(1);
    EXPECT_STREQ(copy.GetString(), "shared?");
    // Through a reference, so the compiler sees an ordinary assignment that happens to be to
    // itself.
    const Variant& self = copy;
    copy = self;
    EXPECT_STREQ(copy.GetString(), "shared?");
}

TEST(Variant, EqualityByTypeAndValue)
{
    Variant a;
    Variant b;
    EXPECT_TRUE(a == b);
    a.SetInt32(5);
    b.SetUInt32(5);
    EXPECT_FALSE(a == b);
    b.SetInt32(5);
    EXPECT_TRUE(a == b);

    a.SetDouble(0.0);
    b.SetDouble(-0.0);
    EXPECT_TRUE(a == b);
    a.SetFloat(std::numeric_limits<float>::quiet_NaN());
    EXPECT_FALSE(a == a);

    a.SetBlob(nullptr, 0);
    b.SetBlob("", 0);
    EXPECT_TRUE(a == b);
    a.SetBlob("ab", 2);
    b.SetBlob("ac", 2);
    EXPECT_FALSE(a == b);
}

TEST(Variant, ArraysCompareElementByElementInOrder)
{
    Orv::Array<Variant> left;
    Orv::Array<Variant> right;
    EXPECT_TRUE(left.IsEqual(right));
    Variant five;
    five.SetInt32(5);
    Variant unsignedFive;
    unsignedFive.SetUInt32(5);
    left.InsertItem(0, five);
    right.InsertItem(0, unsignedFive);
    EXPECT_FALSE(left.IsEqual(right));
    right.GetAt(0) = five;
    EXPECT_TRUE(left.IsEqual(right));
}

TEST(Variant, ClearGivesTheBlockBackAndEmpties)
{
    Variant variant;
    variant.SetBlob("1234", 4);
    variant.Clear();
    EXPECT_TRUE(variant.IsEmpty());
    EXPECT_EQ(variant.GetSize(), 0u);
    int32_t size = 0;
    EXPECT_EQ(variant.GetData(size), nullptr);
}

// A variant whose allocator has nothing to give.
class ExhaustedVariant : public Variant
{
public:
    void* AllocateBlock(uint32_t) override { return nullptr; }
};

TEST(Variant, FailedAllocationLeavesTheCopyEmpty)
{
    Variant text;
    text.SetString("abc");
    ExhaustedVariant target;
    EXPECT_EQ(target.Assign(text), Orv::kVariantEmpty);
    EXPECT_TRUE(target.IsEmpty());
    EXPECT_EQ(target.SetBlob("x", 1), Orv::kVariantEmpty);
    EXPECT_TRUE(target.IsEmpty());
}

}  // namespace
