// The library's values (UlvaneAbi.h). Every block is obtained and given back through the object's
// own AllocateBlock and FreeBlock, so a caller's object filled here keeps the caller's allocator.
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>

#include "UlvaneAbi.h"

namespace Ulvane {

namespace {

bool HoldsBlock(int32_t code)
{
    return code >= kValueBlob && code < kValueTypeCount;
}

template <class T>
T FromFloating(double number)
{
    if constexpr (std::is_floating_point_v<T>) {
        return static_cast<T>(number);
    } else {
        const double whole = std::trunc(number);
        constexpr double kLowest = static_cast<double>(std::numeric_limits<T>::min());
        // The highest value plus one, a power of two that a double holds exactly.
        constexpr double kBeyond = static_cast<double>(std::numeric_limits<T>::max() / 2 + 1) * 2;
        return whole >= kLowest && whole < kBeyond ? static_cast<T>(whole) : T{};
    }
}

}  // namespace

Value::Value(const Value& other)
{
    *this = other;
}

Value& Value::operator=(const Value& other)
{
    if (&other == this) {
        return *this;
    }
    if (HoldsBlock(other.type)) {
        Set(other.type, other.Block(), other.size);
        return *this;
    }
    Clear();
    value = other.value;
    size = other.size;
    type = other.type;
    return *this;
}

Value::~Value()
{
    if (OwnsBlock()) {
        Value::FreeBlock(Block());
    }
}

void* Value::AllocateBlock(uint32_t count)
{
    return new (std::nothrow) uint8_t[count];
}

void Value::FreeBlock(void* block)
{
    delete[] static_cast<uint8_t*>(block);
}

uint8_t* Value::Block() const
{
    return reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(value));
}

bool Value::OwnsBlock() const
{
    return HoldsBlock(type) && value != 0;
}

void Value::Clear()
{
    if (OwnsBlock()) {
        FreeBlock(Block());
    }
    value = 0;
    size = 0;
    type = kValueEmpty;
}

bool Value::Set(int32_t code, const void* data, uint32_t count)
{
    if (code == kValueExternal || code == kValueExternalOpaque || code < kValueEmpty ||
        code >= kValueTypeCount || (!HoldsBlock(code) && count != ScalarSize(code))) {
        Clear();
        return false;
    }
    if (!HoldsBlock(code)) {
        Clear();
        if (count != 0) {
            std::memcpy(&value, data, count);
        }
        type = code;
        return true;
    }
    // The new block is filled before the old one goes, since data may lie in it.
    void* block = count != 0 ? AllocateBlock(count) : nullptr;
    if (count != 0 && block == nullptr) {
        Clear();
        return false;
    }
    if (count != 0) {
        std::memcpy(block, data, count);
    }
    Clear();
    value = reinterpret_cast<uintptr_t>(block);
    size = count;
    type = code;
    return true;
}

Value& Value::SetBool(bool flag)
{
    const uint8_t byte = flag ? 1 : 0;
    Set(kValueBool, &byte, sizeof byte);
    return *this;
}

Value& Value::SetInt32(int32_t number)
{
    Set(kValueInt32, &number, sizeof number);
    return *this;
}

Value& Value::SetDouble(double number)
{
    Set(kValueDouble, &number, sizeof number);
    return *this;
}

bool Value::SetText(const char* text)
{
    if (text == nullptr) {
        text = "";
    }
    const size_t length = std::strlen(text);
    if (length >= UINT32_MAX) {
        Clear();
        return false;
    }
    return Set(kValueText, text, static_cast<uint32_t>(length + 1));
}

bool Value::SetBlob(const void* data, uint32_t count)
{
    return Set(kValueBlob, data, count);
}

std::span<const uint8_t> Value::Bytes() const
{
    if (const uint32_t scalar = ScalarSize(type)) {
        return {reinterpret_cast<const uint8_t*>(&value), scalar};
    }
    if (type >= kValueExternal && type < kValueTypeCount && value != 0) {
        return {Block(), size};
    }
    return {};
}

bool Value::operator==(const Value& other) const
{
    if (type != other.type) {
        return false;
    }
    if (type == kValueExternal || type == kValueExternalOpaque) {
        return value == other.value && size == other.size;
    }
    const std::span<const uint8_t> mine = Bytes();
    const std::span<const uint8_t> theirs = other.Bytes();
    return mine.size() == theirs.size() &&
           (mine.empty() || std::memcmp(mine.data(), theirs.data(), mine.size()) == 0);
}

template <class T>
T Value::Low() const
{
    T bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

template <class T>
T Value::Converted() const
{
    switch (type) {
        case kValueBool:
        case kValueUInt8:
            return static_cast<T>(Low<uint8_t>());
        case kValueInt8:
            return static_cast<T>(Low<int8_t>());
        case kValueInt16:
            return static_cast<T>(Low<int16_t>());
        case kValueUInt16:
            return static_cast<T>(Low<uint16_t>());
        case kValueInt32:
            return static_cast<T>(Low<int32_t>());
        case kValueUInt32:
            return static_cast<T>(Low<uint32_t>());
        case kValueInt64:
            return static_cast<T>(Low<int64_t>());
        case kValueUInt64:
            return static_cast<T>(value);
        case kValueFloat:
            return FromFloating<T>(Low<float>());
        case kValueDouble:
            return FromFloating<T>(Low<double>());
        default:
            return T{};
    }
}

bool Value::GetBool() const
{
    if (type == kValueFloat || type == kValueDouble) {
        return Converted<double>() != 0.0;
    }
    return ScalarSize(type) != 0 ? Converted<uint64_t>() != 0 : !Bytes().empty();
}

int8_t Value::GetInt8() const
{
    return Converted<int8_t>();
}

int16_t Value::GetInt16() const
{
    return Converted<int16_t>();
}

int32_t Value::GetInt32() const
{
    return Converted<int32_t>();
}

int64_t Value::GetInt64() const
{
    return Converted<int64_t>();
}

uint8_t Value::GetUInt8() const
{
    return Converted<uint8_t>();
}

uint16_t Value::GetUInt16() const
{
    return Converted<uint16_t>();
}

uint32_t Value::GetUInt32() const
{
    return Converted<uint32_t>();
}

uint64_t Value::GetUInt64() const
{
    return Converted<uint64_t>();
}

float Value::GetFloat() const
{
    return Converted<float>();
}

double Value::GetDouble() const
{
    return Converted<double>();
}

const void* Value::GetData(int32_t& count) const
{
    const std::span<const uint8_t> bytes = Bytes();
    count = static_cast<int32_t>(bytes.size());
    return bytes.empty() ? nullptr : bytes.data();
}

const void* Value::GetBytes(int32_t& count) const
{
    // A list's block and opaque data are not bytes for the caller to look at.
    const bool shown = type != kValueList && type != kValueExternalOpaque;
    const void* data = GetData(count);
    count = shown ? count : 0;
    return shown ? data : nullptr;
}

const char* Value::GetString() const
{
    return type == kValueText ? reinterpret_cast<const char*>(Block()) : nullptr;
}

}  // namespace Ulvane
