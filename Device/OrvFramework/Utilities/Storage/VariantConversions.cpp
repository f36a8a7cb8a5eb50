// The converting getters of Variant. Rules by source code:
//   integers: the value, sign-extended from the signed kinds, cut to the getter's width;
//   float and double: rounded half away from zero (see the Round... helpers for the precision);
//   external data and blobs: their first bytes, never more than they hold, zero-extended;
//   text: its length in bytes; empty and lists: 0.
#include <cmath>
#include <cstring>
#include <type_traits>

#include "Utilities/Storage/Variant.h"

namespace Orv {

namespace {

constexpr double kTwoTo31 = 2147483648.0;
constexpr double kTwoTo63 = 9223372036854775808.0;
constexpr double kTwoTo64 = 18446744073709551616.0;

// The narrow getters: rounded in double precision, truncated to 32 bits; a result outside the
// 32-bit range (or NaN) is -2147483648.
int32_t RoundToInt32(double v)
{
    const double r = v < 0 ? v - 0.5 : v + 0.5;
    if (!(r > -kTwoTo31 - 1.0 && r < kTwoTo31)) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(r);
}

// An already rounded value truncated to 64 bits; outside the range (or NaN) INT64_MIN.
int64_t TruncateToInt64(double r)
{
    if (!(r >= -kTwoTo63 && r < kTwoTo63)) {
        return INT64_MIN;
    }
    return static_cast<int64_t>(r);
}

// Unsigned 64 bits: values up to 2^64 exactly, negatives wrap as their signed value does.
uint64_t TruncateToUInt64(double r)
{
    if (r >= 0 && r < kTwoTo64) {
        return static_cast<uint64_t>(r);
    }
    return static_cast<uint64_t>(TruncateToInt64(r));
}

double RoundDouble(double v)
{
    return v < 0 ? v - 0.5 : v + 0.5;
}

// Float sources of the 64-bit getters round in single precision.
float RoundFloat(float v)
{
    return v < 0 ? v - 0.5f : v + 0.5f;
}

}  // namespace

uint64_t Variant::BorrowedBytes(int width) const
{
    const uint8_t* data = Block();
    if (data == nullptr) {
        return 0;
    }
    const uint32_t count =
        size < static_cast<uint32_t>(width) ? size : static_cast<uint32_t>(width);
    uint8_t bytes[8] = {};
    std::memcpy(bytes, data, count);
    uint64_t result = 0;
    std::memcpy(&result, bytes, sizeof result);
    return result;
}

uint64_t Variant::IntegerValue(int width, bool isSigned) const
{
    switch (type) {
        case kVariantBool:
            return width == 1 ? (LowBits<uint8_t>() != 0 ? 1 : 0) : LowBits<uint8_t>();
        case kVariantInt8:
            // An int8 read as uint16 keeps its byte unextended (-5 gives 251).
            if (width == 2 && !isSigned) {
                return LowBits<uint8_t>();
            }
            return static_cast<uint64_t>(static_cast<int64_t>(LowBits<int8_t>()));
        case kVariantInt16:
            return static_cast<uint64_t>(static_cast<int64_t>(LowBits<int16_t>()));
        case kVariantInt32:
            return static_cast<uint64_t>(static_cast<int64_t>(LowBits<int32_t>()));
        case kVariantUInt8:
            return LowBits<uint8_t>();
        case kVariantUInt16:
            return LowBits<uint16_t>();
        case kVariantUInt32:
            return LowBits<uint32_t>();
        case kVariantInt64:
        case kVariantUInt64:
            return value;
        case kVariantExternalData:
        case kVariantExternalOpaque:
        case kVariantBlob:
            return BorrowedBytes(width);
        case kVariantString:
            return size == 0 ? 0 : size - 1;
        default:
            return 0;
    }
}

bool Variant::GetBool() const
{
    switch (type) {
        case kVariantBool:
        case kVariantInt8:
        case kVariantUInt8:
            return LowBits<uint8_t>() != 0;
        case kVariantInt16:
        case kVariantUInt16:
            return LowBits<uint16_t>() != 0;
        case kVariantInt32:
        case kVariantUInt32:
            return LowBits<uint32_t>() != 0;
        case kVariantFloat:
            return LowBits<float>() != 0.0f;
        case kVariantDouble:
            return LowBits<double>() != 0.0;
        case kVariantInt64:
        case kVariantUInt64:
        case kVariantExternalData:
        case kVariantExternalOpaque:
            return value != 0;
        case kVariantBlob:
        case kVariantList:
            return size != 0;
        case kVariantString:
            return size > 1;
        default:
            return false;
    }
}

template <class T>
T Variant::NarrowInteger() const
{
    if (type == kVariantFloat || type == kVariantDouble) {
        return static_cast<T>(RoundToInt32(Variant::GetDouble()));
    }
    return static_cast<T>(IntegerValue(sizeof(T), std::is_signed_v<T>));
}

int8_t Variant::GetInt8() const
{
    return NarrowInteger<int8_t>();
}

uint8_t Variant::GetUInt8() const
{
    return NarrowInteger<uint8_t>();
}

int16_t Variant::GetInt16() const
{
    return NarrowInteger<int16_t>();
}

uint16_t Variant::GetUInt16() const
{
    return NarrowInteger<uint16_t>();
}

int32_t Variant::GetInt32() const
{
    return NarrowInteger<int32_t>();
}

uint32_t Variant::GetUInt32() const
{
    if (type == kVariantFloat || type == kVariantDouble) {
        return static_cast<uint32_t>(TruncateToInt64(RoundDouble(Variant::GetDouble())));
    }
    return static_cast<uint32_t>(IntegerValue(4, false));
}

int64_t Variant::GetInt64() const
{
    if (type == kVariantFloat) {
        return TruncateToInt64(RoundFloat(LowBits<float>()));
    }
    if (type == kVariantDouble) {
        return TruncateToInt64(RoundDouble(LowBits<double>()));
    }
    return static_cast<int64_t>(IntegerValue(8, true));
}

uint64_t Variant::GetUInt64() const
{
    if (type == kVariantFloat) {
        return TruncateToUInt64(RoundFloat(LowBits<float>()));
    }
    if (type == kVariantDouble) {
        return TruncateToUInt64(RoundDouble(LowBits<double>()));
    }
    return IntegerValue(8, false);
}

double Variant::GetDouble() const
{
    switch (type) {
        case kVariantBool:
            return LowBits<uint8_t>();
        case kVariantInt8:
            return LowBits<int8_t>();
        case kVariantInt16:
            return LowBits<int16_t>();
        case kVariantInt32:
            return LowBits<int32_t>();
        case kVariantInt64:
            return static_cast<double>(LowBits<int64_t>());
        case kVariantUInt8:
        case kVariantUInt16:
        case kVariantUInt32:
        case kVariantUInt64:
            return static_cast<double>(IntegerValue(8, false));
        case kVariantFloat:
            return LowBits<float>();
        case kVariantDouble:
            return LowBits<double>();
        case kVariantExternalData:
        case kVariantExternalOpaque:
        case kVariantBlob:
        case kVariantString:
            return static_cast<double>(GetInt64());
        default:
            return 0.0;
    }
}

float Variant::GetFloat() const
{
    switch (type) {
        case kVariantFloat:
            return LowBits<float>();
        case kVariantInt64:
            return static_cast<float>(LowBits<int64_t>());
        case kVariantUInt64:
            return static_cast<float>(value);
        case kVariantExternalData:
        case kVariantExternalOpaque:
        case kVariantBlob:
        case kVariantString:
            return static_cast<float>(GetInt32());
        default:
            return static_cast<float>(Variant::GetDouble());
    }
}

}  // namespace Orv
