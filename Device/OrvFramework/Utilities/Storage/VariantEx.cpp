#include "Utilities/Storage/VariantEx.h"

#include <cstdlib>

#include "Utilities/Storage/WideChar.h"

namespace Orv {

VariantEx::VariantEx(const VariantEx& other) : Variant(), IStringable()
{
    // Not the Variant copy: that would allocate through Variant's allocator, not this one's.
    Assign(other);
}

VariantEx::VariantEx(const Variant& other)
{
    Assign(other);
}

VariantEx::~VariantEx()
{
    if (OwnsBlock()) {
        FreeBlock(Block());
    }
    ForgetValue();
    buffer = nullptr;
}

VariantEx& VariantEx::operator=(const VariantEx& other)
{
    Assign(other);
    return *this;
}

VariantEx& VariantEx::operator=(const Variant& other)
{
    Assign(other);
    return *this;
}

void* VariantEx::AllocateBlock(uint32_t size)
{
    buffer = LTextBuffer::Create(size, 0, true);
    return buffer->GetData();
}

void VariantEx::FreeBlock(void*)
{
    buffer = nullptr;
}

int32_t VariantEx::SetString(const StringT<char, char16_t>& text)
{
    return Variant::SetString(text.GetText());
}

int VariantEx::ParsedInt() const
{
    return _wtoi(ToString().GetText());
}

bool VariantEx::GetBool() const
{
    return IsText() ? _wcsicmp(ToString().GetText(), u"True") == 0 : Variant::GetBool();
}

int8_t VariantEx::GetInt8() const
{
    return IsText() ? static_cast<int8_t>(ParsedInt()) : Variant::GetInt8();
}

uint8_t VariantEx::GetUInt8() const
{
    return IsText() ? static_cast<uint8_t>(ParsedInt()) : Variant::GetUInt8();
}

int16_t VariantEx::GetInt16() const
{
    return IsText() ? static_cast<int16_t>(ParsedInt()) : Variant::GetInt16();
}

uint16_t VariantEx::GetUInt16() const
{
    return IsText() ? static_cast<uint16_t>(ParsedInt()) : Variant::GetUInt16();
}

int32_t VariantEx::GetInt32() const
{
    return IsText() ? ParsedInt() : Variant::GetInt32();
}

int64_t VariantEx::GetInt64() const
{
    if (!IsText()) {
        return Variant::GetInt64();
    }
    // Leading blanks, a sign and decimal digits; saturates beyond the 64-bit range.
    return std::strtoll(ToString().ToNarrow().GetText(), nullptr, 10);
}

uint64_t VariantEx::GetUInt64() const
{
    return IsText() ? static_cast<uint64_t>(GetInt64()) : Variant::GetUInt64();
}

uint32_t VariantEx::GetUInt32() const
{
    return IsText() ? static_cast<uint32_t>(GetInt64()) : Variant::GetUInt32();
}

float VariantEx::GetFloat() const
{
    return IsText() ? static_cast<float>(_wtof(ToString().GetText())) : Variant::GetFloat();
}

double VariantEx::GetDouble() const
{
    return IsText() ? _wtof(ToString().GetText()) : Variant::GetDouble();
}

StringT<char16_t, char> VariantEx::ToString() const
{
    using Wide = StringT<char16_t, char>;
    int32_t size = 0;
    const void* data = GetData(size);
    switch (GetType()) {
        case kVariantBool:
            return Variant::GetBool() ? Wide(u"true") : Wide(u"false");
        case kVariantInt8:
        case kVariantInt16:
        case kVariantInt32:
            return Wide::Format(u"%I32d", Variant::GetInt32());
        case kVariantUInt8:
        case kVariantUInt16:
        case kVariantUInt32:
            return Wide::Format(u"%I32u", Variant::GetUInt32());
        case kVariantFloat:
        case kVariantDouble:
            return Wide::Format(u"%f", Variant::GetDouble());
        case kVariantInt64:
            return Wide::Format(u"%I64d", Variant::GetInt64());
        case kVariantUInt64:
            return Wide::Format(u"%I64X", Variant::GetUInt64());
        case kVariantString:
            return Wide(GetString(), static_cast<int32_t>(size > 0 ? size - 1 : 0));
        case kVariantExternalData:
        case kVariantExternalOpaque:
        case kVariantBlob:
        case kVariantList:
            return Wide::Format(u"%I64X",
                                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(data)));
        default:
            return Wide();
    }
}

}  // namespace Orv
