// The converting getters, one row per (source value, getter).
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <ostream>
#include <string>

#include "Utilities/Storage/Variant.h"

namespace {

using Orv::Variant;

enum class Getter
{
    Int8,
    UInt8,
    Int16,
    UInt16,
    Int32,
    UInt32,
    Int64,
    UInt64
};

// The getter's result widened without changing its value (as a 64-bit pattern for UInt64).
int64_t Read(const Variant& v, Getter getter)
{
    switch (getter) {
        case Getter::Int8:
            return v.GetInt8();
        case Getter::UInt8:
            return v.GetUInt8();
        case Getter::Int16:
            return v.GetInt16();
        case Getter::UInt16:
            return v.GetUInt16();
        case Getter::Int32:
            return v.GetInt32();
        case Getter::UInt32:
            return v.GetUInt32();
        case Getter::Int64:
            return v.GetInt64();
        case Getter::UInt64:
            return static_cast<int64_t>(v.GetUInt64());
    }
    return 0;
}

struct IntegerCase
{
    std::string name;
    std::function<void(Variant&)> make;
    Getter getter;
    int64_t expected;
};

// Test names, not the bytes of the row.
void PrintTo(const IntegerCase& row, std::ostream* out)
{
    *out << row.name;
}

class VariantIntegerGetters : public ::testing::TestWithParam<IntegerCase>
{
};

TEST_P(VariantIntegerGetters, Convert)
{
    Variant variant;
    GetParam().make(variant);
    EXPECT_EQ(Read(variant, GetParam().getter), GetParam().expected);
}

auto Int8(int8_t x)
{
    return [x](Variant& v) { v.SetInt8(x); };
}
auto Int16(int16_t x)
{
    return [x](Variant& v) { v.SetInt16(x); };
}
auto Int32(int32_t x)
{
    return [x](Variant& v) { v.SetInt32(x); };
}
auto UInt8(uint8_t x)
{
    return [x](Variant& v) { v.SetUInt8(x); };
}
auto UInt64(uint64_t x)
{
    return [x](Variant& v) { v.SetUInt64(x); };
}
auto Double(double x)
{
    return [x](Variant& v) { v.SetDouble(x); };
}
auto Float(float x)
{
    return [x](Variant& v) { v.SetFloat(x); };
}
auto Blob(std::string bytes)
{
    return [bytes](Variant& v) { v.SetBlob(bytes.data(), static_cast<uint32_t>(bytes.size())); };
}
auto Text(const char* text)
{
    return [text](Variant& v) { v.SetString(text); };
}
auto RawBool(uint8_t byte)
{
    return [byte](Variant& v) { v.Set(Orv::kVariantBool, &byte, 1); };
}

INSTANTIATE_TEST_SUITE_P(
    Table, VariantIntegerGetters,
    ::testing::Values(
        IntegerCase{"Int8MinusFiveAsInt16", Int8(-5), Getter::Int16, -5},
        IntegerCase{"Int8MinusFiveAsUInt16IsNotExtended", Int8(-5), Getter::UInt16, 251},
        IntegerCase{"Int8MinusFiveAsUInt32", Int8(-5), Getter::UInt32, 4294967291},
        IntegerCase{"Int8MinusFiveAsInt64", Int8(-5), Getter::Int64, -5},
        IntegerCase{"Int8MinusFiveAsUInt8", Int8(-5), Getter::UInt8, 251},
        IntegerCase{"Int16LowByte", Int16(0x1280), Getter::Int8, -128},
        IntegerCase{"Int16SignExtendedTo32", Int16(-300), Getter::Int32, -300},
        IntegerCase{"Int32Low16", Int32(0x12345678), Getter::UInt16, 0x5678},
        IntegerCase{"Int32SignExtendedTo64", Int32(-7), Getter::UInt64, -7},
        IntegerCase{"UInt8ZeroExtended", UInt8(200), Getter::Int64, 200},
        IntegerCase{"UInt64Low32", UInt64(0x1122334455667788), Getter::UInt32, 0x55667788},
        IntegerCase{"UInt64Low8", UInt64(0x1FF), Getter::Int8, -1},
        IntegerCase{"BoolByteAsInt8IsOne", RawBool(5), Getter::Int8, 1},
        IntegerCase{"BoolByteAsInt32IsTheByte", RawBool(5), Getter::Int32, 5},
        IntegerCase{"DoubleHalfUp", Double(2.5), Getter::Int8, 3},
        IntegerCase{"DoubleHalfUpUInt64", Double(2.5), Getter::UInt64, 3},
        IntegerCase{"DoubleHalfUpInt64", Double(2.5), Getter::Int64, 3},
        IntegerCase{"DoubleHalfUpUInt32", Double(2.5), Getter::UInt32, 3},
        IntegerCase{"DoubleNegativeHalfAway", Double(-2.5), Getter::Int32, -3},
        IntegerCase{"DoubleNegativeHalfAwayInt16", Double(-2.5), Getter::Int16, -3},
        IntegerCase{"DoubleNegativeHalfAwayInt64", Double(-2.5), Getter::Int64, -3},
        IntegerCase{"DoubleBelowHalf", Double(2.4999), Getter::Int32, 2},
        IntegerCase{"DoubleBeyondInt32", Double(3e9), Getter::Int32, -2147483648LL},
        IntegerCase{"DoubleBeyondInt32AsUInt32", Double(3e9), Getter::UInt32, 3000000000LL},
        IntegerCase{"DoubleBeyondInt32CutToInt16", Double(3e9), Getter::Int16, 0},
        IntegerCase{"DoubleNaNAsInt32", Double(std::nan("")), Getter::Int32, -2147483648LL},
        IntegerCase{"DoubleTwoTo63AsUInt64", Double(9223372036854775808.0), Getter::UInt64,
                    static_cast<int64_t>(0x8000000000000000ULL)},
        IntegerCase{"DoubleThreeTimesTwoTo62AsUInt64", Double(13835058055282163712.0),
                    Getter::UInt64, static_cast<int64_t>(0xC000000000000000ULL)},
        IntegerCase{"FloatJustBelowHalfRoundsInDouble", Float(0.49999997f), Getter::Int32, 0},
        IntegerCase{"FloatJustBelowHalfRoundsInSingleFor64", Float(0.49999997f), Getter::Int64, 1},
        IntegerCase{"BlobFirstBytes", Blob("\x01\x02\x03\x04\x05"), Getter::UInt32, 0x04030201},
        IntegerCase{"ShortBlobIsZeroExtended", Blob("\xFF\x01"), Getter::UInt64, 0x01FF},
        IntegerCase{"ShortBlobAsInt32", Blob("\x80"), Getter::Int32, 0x80},
        IntegerCase{"EmptyBlob", Blob(""), Getter::Int64, 0},
        IntegerCase{"TextIsItsLength", Text("42"), Getter::Int32, 2},
        IntegerCase{"EmptyTextIsZero", Text(""), Getter::Int32, 0},
        IntegerCase{"EmptyIsZero", [](Variant&) {}, Getter::Int64, 0},
        IntegerCase{"ListIsZero", [](Variant& v) { v.SetList(&v, 1); }, Getter::Int32, 0}),
    [](const auto& info) { return info.param.name; });

TEST(VariantGetBool, ByType)
{
    Variant v;
    EXPECT_FALSE(v.GetBool());
    v.SetFloat(std::numeric_limits<float>::quiet_NaN());
    EXPECT_TRUE(v.GetBool());
    v.SetDouble(0.0);
    EXPECT_FALSE(v.GetBool());
    v.SetInt16(256);
    EXPECT_TRUE(v.GetBool());
    v.SetUInt64(1ULL << 40);
    EXPECT_TRUE(v.GetBool());
    v.SetString("");
    EXPECT_FALSE(v.GetBool());
    v.SetString("x");
    EXPECT_TRUE(v.GetBool());
    v.SetBlob(nullptr, 0);
    EXPECT_FALSE(v.GetBool());
    v.SetBlob("\0", 1);
    EXPECT_TRUE(v.GetBool());
    v.SetList(static_cast<const Variant*>(nullptr), 0);
    EXPECT_FALSE(v.GetBool());
}

TEST(VariantFloatingGetters, ByType)
{
    Variant v;
    v.SetInt8(-5);
    EXPECT_EQ(v.GetDouble(), -5.0);
    v.SetUInt32(4000000000u);
    EXPECT_EQ(v.GetDouble(), 4000000000.0);
    v.SetUInt64(0xFFFFFFFFFFFFFFFFULL);
    EXPECT_EQ(v.GetDouble(), 18446744073709551616.0);
    v.SetInt64(-(1LL << 60));
    EXPECT_EQ(v.GetFloat(), -static_cast<float>(1LL << 60));
    v.SetFloat(1.5f);
    EXPECT_EQ(v.GetDouble(), 1.5);
    v.SetDouble(0.1);
    EXPECT_EQ(v.GetFloat(), 0.1f);
    v.SetString("1234");
    EXPECT_EQ(v.GetDouble(), 4.0);
    EXPECT_EQ(v.GetFloat(), 4.0f);
    v.SetList(&v, 1);
    EXPECT_EQ(v.GetDouble(), 0.0);
}

}  // namespace
