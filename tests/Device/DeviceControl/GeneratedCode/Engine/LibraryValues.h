#pragma once
// The program's variants cross into the client library as the library's own values (UlvaneAbi.h):
// the same objects, read and filled in place on both sides. Here, where both declarations are
// seen, the two layouts are held together; the order of the virtual operations, which no
// compile-time check can see, is held by LibraryValuesTest.cpp.

#include <cstddef>
#include <utility>

#include "UlvaneAbi.h"
#include "Utilities/Storage/ParamLists.h"
#include "Utilities/Storage/Variant.h"
#include "Utilities/Storage/VariantListFormat.h"

// Both classes have virtual operations, so offsetof is only conditionally supported on them;
// gcc and clang both give it, and it is exactly the layout the library relies on.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"

struct Orv::Variant::Layout
{
    static constexpr size_t kValue = offsetof(Variant, value);
    static constexpr size_t kSize = offsetof(Variant, size);
    static constexpr size_t kType = offsetof(Variant, type);
};

struct Ulvane::Value::Layout
{
    static constexpr size_t kValue = offsetof(Value, value);
    static constexpr size_t kSize = offsetof(Value, size);
    static constexpr size_t kType = offsetof(Value, type);
};

static_assert(sizeof(Ulvane::Value) == sizeof(Orv::Variant));
static_assert(alignof(Ulvane::Value) == alignof(Orv::Variant));
static_assert(Ulvane::Value::Layout::kValue == Orv::Variant::Layout::kValue);
static_assert(Ulvane::Value::Layout::kSize == Orv::Variant::Layout::kSize);
static_assert(Ulvane::Value::Layout::kType == Orv::Variant::Layout::kType);

static_assert(sizeof(Ulvane::ParamDescriptor) == sizeof(Orv::ParamDescriptor));
static_assert(alignof(Ulvane::ParamDescriptor) == alignof(Orv::ParamDescriptor));
static_assert(offsetof(Ulvane::ParamDescriptor, id) == offsetof(Orv::ParamDescriptor, id));
static_assert(offsetof(Ulvane::ParamDescriptor, subIndex) ==
              offsetof(Orv::ParamDescriptor, subIndex));

#pragma GCC diagnostic pop

static_assert(Ulvane::kListItemHeaderSize == Orv::VariantListFormat::kHeaderSize);
static_assert(Ulvane::kListItemLengthOffset == Orv::VariantListFormat::kLengthOffset);
static_assert(Ulvane::kListItemFormatOffset == Orv::VariantListFormat::kFormatOffset);
static_assert(Ulvane::kListItemTypeOffset == Orv::VariantListFormat::kTypeOffset);
static_assert(Ulvane::kListItemFormat == Orv::VariantListFormat::kFormat);

namespace LibraryValuesCheck {

constexpr std::pair<int32_t, int32_t> kTypeCodes[] = {
    {Ulvane::kValueEmpty, Orv::kVariantEmpty},
    {Ulvane::kValueBool, Orv::kVariantBool},
    {Ulvane::kValueInt8, Orv::kVariantInt8},
    {Ulvane::kValueUInt8, Orv::kVariantUInt8},
    {Ulvane::kValueInt16, Orv::kVariantInt16},
    {Ulvane::kValueUInt16, Orv::kVariantUInt16},
    {Ulvane::kValueInt32, Orv::kVariantInt32},
    {Ulvane::kValueUInt32, Orv::kVariantUInt32},
    {Ulvane::kValueFloat, Orv::kVariantFloat},
    {Ulvane::kValueDouble, Orv::kVariantDouble},
    {Ulvane::kValueInt64, Orv::kVariantInt64},
    {Ulvane::kValueUInt64, Orv::kVariantUInt64},
    {Ulvane::kValueExternal, Orv::kVariantExternalData},
    {Ulvane::kValueExternalOpaque, Orv::kVariantExternalOpaque},
    {Ulvane::kValueBlob, Orv::kVariantBlob},
    {Ulvane::kValueText, Orv::kVariantString},
    {Ulvane::kValueList, Orv::kVariantList},
    {Ulvane::kValueTypeCount, Orv::kVariantTypeCount},
};

constexpr bool TypeCodesAgree()
{
    for (const auto& [library, program] : kTypeCodes) {
        if (library != program) {
            return false;
        }
    }
    return std::size(kTypeCodes) == Orv::kVariantTypeCount + 1;
}

static_assert(TypeCodesAgree());

}  // namespace LibraryValuesCheck

// The program's variant as the library takes it.
inline Ulvane::Value* AsLibraryValue(Orv::Variant& variant)
{
    return reinterpret_cast<Ulvane::Value*>(&variant);
}

inline const Ulvane::Value* AsLibraryValue(const Orv::Variant& variant)
{
    return reinterpret_cast<const Ulvane::Value*>(&variant);
}
