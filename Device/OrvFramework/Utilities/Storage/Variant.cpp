#include "Utilities/Storage/Variant.h"

#include "Utilities/Storage/StringT.h"

#include <cstring>
#include <string>

namespace Orv {

namespace {

// The exact payload size of the scalar codes 1-11; 0 for the others.
uint32_t ScalarSize(uint32_t code)
{
    static constexpr uint32_t kSizes[kVariantTypeCount] = {0, 1, 1, 1, 2, 2, 4, 4, 4, 8, 8, 8};
    return code < kVariantTypeCount ? kSizes[code] : 0;
}

}  // namespace

Variant::Variant(const Variant& other)
{
    Assign(other);
}

Variant::~Variant()
{
    // The table is this class's by now, so the block goes back through this class's FreeBlock;
    // a derived class has given its own block back before.
    if (OwnsBlock()) {
        Variant::FreeBlock(Block());
    }
    ForgetValue();
}

void* Variant::AllocateBlock(uint32_t blockSize)
{
    return new uint8_t[blockSize]();
}

void Variant::FreeBlock(void* block)
{
    delete[] static_cast<uint8_t*>(block);
}

uint8_t* Variant::Block() const
{
    return reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(value));
}

bool Variant::OwnsBlock() const
{
    return type > kVariantExternalOpaque && type < kVariantTypeCount && value != 0;
}

void Variant::ForgetValue()
{
    value = 0;
    size = 0;
    type = kVariantEmpty;
}

void Variant::Clear()
{
    if (OwnsBlock()) {
        FreeBlock(Block());
    }
    ForgetValue();
}

bool Variant::PointsIntoBlock(const void* data) const
{
    if (!OwnsBlock() || data == nullptr) {
        return false;
    }
    const auto address = reinterpret_cast<uintptr_t>(data);
    return address >= value && address - value < size;
}

void Variant::TakeBlock(void* block, uint32_t blockSize, VariantType code)
{
    value = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(block));
    size = blockSize;
    type = code;
}

int32_t Variant::Set(uint32_t code, const void* data, uint32_t dataSize)
{
    if (PointsIntoBlock(data)) {
        // The bytes would go with the block that Clear gives back.
        const uint32_t available =
            static_cast<uint32_t>(value + size - reinterpret_cast<uintptr_t>(data));
        const std::string copy(static_cast<const char*>(data), available);
        return Set(code, copy.c_str(), dataSize <= available ? dataSize : available);
    }
    Clear();
    if (code == kVariantEmpty || code >= kVariantTypeCount) {
        return kVariantEmpty;
    }
    if (code <= kVariantUInt64) {
        if (dataSize != ScalarSize(code) || data == nullptr) {
            return kVariantEmpty;
        }
        std::memcpy(&value, data, dataSize);
        type = static_cast<int32_t>(code);
        return type;
    }
    if (code == kVariantString) {
        return SetString(static_cast<const char*>(data));
    }
    const int32_t stored = SetBlob(data, dataSize);
    if (code == kVariantList && stored == kVariantBlob) {
        type = kVariantList;
    }
    return type;
}

int32_t Variant::SetString(const StringT<char16_t, char>& text)
{
    return SetString(text.ToNarrow().GetText());
}

int32_t Variant::SetString(const char16_t* text)
{
    return SetString(StringT<char16_t, char>(text));
}

int32_t Variant::SetBlob(const void* data, uint32_t dataSize)
{
    if (PointsIntoBlock(data)) {
        const uint32_t available =
            static_cast<uint32_t>(value + size - reinterpret_cast<uintptr_t>(data));
        const std::string copy(static_cast<const char*>(data),
                               dataSize <= available ? dataSize : available);
        return SetBlob(copy.data(), static_cast<uint32_t>(copy.size()));
    }
    Clear();
    void* block = AllocateBlock(dataSize);
    if (block == nullptr && dataSize != 0) {
        return kVariantEmpty;
    }
    if (data != nullptr && dataSize != 0) {
        std::memcpy(block, data, dataSize);
    }
    TakeBlock(block, dataSize, kVariantBlob);
    return type;
}

int32_t Variant::SetString(const char* text)
{
    if (text == nullptr) {
        text = "";
    }
    if (PointsIntoBlock(text)) {
        const size_t available =
            static_cast<size_t>(value + size - reinterpret_cast<uintptr_t>(text));
        const std::string copy(text, strnlen(text, available));
        return SetString(copy.c_str());
    }
    const size_t length = std::strlen(text);
    if (length >= UINT32_MAX) {
        Clear();
        return kVariantEmpty;
    }
    if (SetBlob(text, static_cast<uint32_t>(length + 1)) == kVariantBlob) {
        type = kVariantString;
    }
    return type;
}

Variant& Variant::operator=(const Variant& other)
{
    Assign(other);
    return *this;
}

int32_t Variant::Assign(const Variant& other)
{
    if (&other == this) {
        return type;
    }
    Clear();
    if (other.type < kVariantBlob) {
        value = other.value;
        size = other.size;
        type = other.type;
        return type;
    }
    void* block = AllocateBlock(other.size);
    if (block == nullptr && other.size != 0) {
        return kVariantEmpty;
    }
    if (other.size != 0) {
        std::memcpy(block, other.Block(), other.size);
    }
    TakeBlock(block, other.size, static_cast<VariantType>(other.type));
    return type;
}

template <class T>
Variant& Variant::StoreScalar(VariantType code, T scalar)
{
    Clear();
    std::memcpy(&value, &scalar, sizeof scalar);
    type = code;
    return *this;
}

Variant& Variant::SetBool(bool flag)
{
    return StoreScalar<uint8_t>(kVariantBool, flag ? 1 : 0);
}
Variant& Variant::SetInt8(int8_t scalar)
{
    return StoreScalar(kVariantInt8, scalar);
}
Variant& Variant::SetUInt8(uint8_t scalar)
{
    return StoreScalar(kVariantUInt8, scalar);
}
Variant& Variant::SetInt16(int16_t scalar)
{
    return StoreScalar(kVariantInt16, scalar);
}
Variant& Variant::SetUInt16(uint16_t scalar)
{
    return StoreScalar(kVariantUInt16, scalar);
}
Variant& Variant::SetInt32(int32_t scalar)
{
    return StoreScalar(kVariantInt32, scalar);
}
Variant& Variant::SetUInt32(uint32_t scalar)
{
    return StoreScalar(kVariantUInt32, scalar);
}
Variant& Variant::SetFloat(float scalar)
{
    return StoreScalar(kVariantFloat, scalar);
}
Variant& Variant::SetDouble(double scalar)
{
    return StoreScalar(kVariantDouble, scalar);
}
Variant& Variant::SetInt64(int64_t scalar)
{
    return StoreScalar(kVariantInt64, scalar);
}
Variant& Variant::SetUInt64(uint64_t scalar)
{
    return StoreScalar(kVariantUInt64, scalar);
}

const void* Variant::GetData(int32_t& dataSize) const
{
    const uint32_t scalarSize = ScalarSize(static_cast<uint32_t>(type));
    if (scalarSize != 0) {
        dataSize = static_cast<int32_t>(scalarSize);
        return &value;
    }
    if (type >= kVariantExternalData && type < kVariantTypeCount) {
        dataSize = static_cast<int32_t>(size);
        return Block();
    }
    dataSize = 0;
    return nullptr;
}

const void* Variant::GetBytes(int32_t& dataSize) const
{
    if (type == kVariantExternalOpaque || type == kVariantList) {
        dataSize = 0;
        return nullptr;
    }
    return GetData(dataSize);
}

const char* Variant::GetString() const
{
    return type == kVariantString ? reinterpret_cast<const char*>(Block()) : nullptr;
}

bool Variant::operator==(const Variant& other) const
{
    if (type != other.type) {
        return false;
    }
    switch (type) {
        case kVariantBool:
        case kVariantInt8:
        case kVariantUInt8:
            return LowBits<uint8_t>() == other.LowBits<uint8_t>();
        case kVariantInt16:
        case kVariantUInt16:
            return LowBits<uint16_t>() == other.LowBits<uint16_t>();
        case kVariantInt32:
        case kVariantUInt32:
            return LowBits<uint32_t>() == other.LowBits<uint32_t>();
        case kVariantFloat:
            return LowBits<float>() == other.LowBits<float>();
        case kVariantDouble:
            return LowBits<double>() == other.LowBits<double>();
        case kVariantInt64:
        case kVariantUInt64:
            return value == other.value;
        case kVariantExternalData:
        case kVariantExternalOpaque:
            return value == other.value && size == other.size;
        case kVariantBlob:
        case kVariantString:
        case kVariantList:
            return size == other.size &&
                   (size == 0 || std::memcmp(Block(), other.Block(), size) == 0);
        default:
            return true;
    }
}

}  // namespace Orv
