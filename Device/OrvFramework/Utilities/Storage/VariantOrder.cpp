#include "Utilities/Storage/VariantOrder.h"

#include <cmath>
#include <cstring>

namespace Orv {

namespace {

bool IsNumeric(int32_t type)
{
    return type >= kVariantBool && type <= kVariantUInt64;
}

bool IsFloating(int32_t type)
{
    return type == kVariantFloat || type == kVariantDouble;
}

bool IsUnsignedInteger(int32_t type)
{
    return type == kVariantBool || type == kVariantUInt8 || type == kVariantUInt16 ||
           type == kVariantUInt32 || type == kVariantUInt64;
}

// Two integers of any width and signedness by their mathematical value.
bool IntegerLess(const Variant& a, const Variant& b)
{
    const bool aUnsigned = IsUnsignedInteger(a.GetType());
    const bool bUnsigned = IsUnsignedInteger(b.GetType());
    if (aUnsigned && bUnsigned) {
        return a.GetUInt64() < b.GetUInt64();
    }
    if (!aUnsigned && !bUnsigned) {
        return a.GetInt64() < b.GetInt64();
    }
    if (aUnsigned) {
        const int64_t right = b.GetInt64();
        return right >= 0 && a.GetUInt64() < static_cast<uint64_t>(right);
    }
    const int64_t left = a.GetInt64();
    return left < 0 || static_cast<uint64_t>(left) < b.GetUInt64();
}

bool NumericLess(const Variant& a, const Variant& b)
{
    if (IsFloating(a.GetType()) || IsFloating(b.GetType())) {
        // long double holds every 64-bit integer exactly on the targets we build for; where it
        // does not, the nearest value still keeps the order weak.
        const auto value = [](const Variant& v) -> long double {
            if (IsFloating(v.GetType())) {
                return v.GetDouble();
            }
            return IsUnsignedInteger(v.GetType()) ? static_cast<long double>(v.GetUInt64())
                                                  : static_cast<long double>(v.GetInt64());
        };
        return value(a) < value(b);
    }
    return IntegerLess(a, b);
}

// Shorter first, then byte by byte; texts compare their characters as signed chars.
bool BytesLess(const void* left, int32_t leftSize, const void* right, int32_t rightSize,
               bool signedChars)
{
    if (leftSize != rightSize) {
        return static_cast<uint32_t>(leftSize) < static_cast<uint32_t>(rightSize);
    }
    if (leftSize <= 0) {
        return false;
    }
    if (!signedChars) {
        return std::memcmp(left, right, static_cast<size_t>(leftSize)) < 0;
    }
    const auto* l = static_cast<const signed char*>(left);
    const auto* r = static_cast<const signed char*>(right);
    for (int32_t i = 0; i < leftSize; ++i) {
        if (l[i] != r[i]) {
            return l[i] < r[i];
        }
    }
    return false;
}

bool RawBytesLess(const Variant& a, const Variant& b, bool signedChars)
{
    int32_t leftSize = 0;
    int32_t rightSize = 0;
    const void* left = a.GetData(leftSize);
    const void* right = b.GetData(rightSize);
    return BytesLess(left, leftSize, right, rightSize, signedChars);
}

bool ListLess(const Variant& a, const Variant& b)
{
    const uint32_t leftCount = a.GetListItemCount();
    const uint32_t rightCount = b.GetListItemCount();
    const uint32_t common = leftCount < rightCount ? leftCount : rightCount;
    for (uint32_t i = 0; i < common; ++i) {
        Variant left;
        Variant right;
        a.GetListItem(i, left);
        b.GetListItem(i, right);
        // Lexicographic over the items' own order: equivalent items of different types (1 and
        // 1.0) do not decide, or two lists could be equivalent to a third but not to each other.
        if (VariantLess(left, right)) {
            return true;
        }
        if (VariantLess(right, left)) {
            return false;
        }
    }
    return leftCount < rightCount;
}

// Data the variant points to but does not own: equal values have the same size and address,
// so the order is by size, then by address.
bool ReferenceLess(const Variant& a, const Variant& b)
{
    if (a.GetSize() != b.GetSize()) {
        return a.GetSize() < b.GetSize();
    }
    int32_t ignored = 0;
    const auto left = reinterpret_cast<uintptr_t>(a.GetData(ignored));
    const auto right = reinterpret_cast<uintptr_t>(b.GetData(ignored));
    return left < right;
}

bool SameTypeLess(const Variant& a, const Variant& b)
{
    switch (a.GetType()) {
        case kVariantEmpty:
            return false;
        case kVariantBlob:
            return RawBytesLess(a, b, false);
        case kVariantString:
            return RawBytesLess(a, b, true);
        case kVariantExternalData:
        case kVariantExternalOpaque:
            return ReferenceLess(a, b);
        case kVariantList:
            return ListLess(a, b);
        default:
            return NumericLess(a, b);
    }
}

}  // namespace

bool VariantLess(const Variant& a, const Variant& b)
{
    if (a.GetType() == b.GetType()) {
        return SameTypeLess(a, b);
    }
    if (a.IsEmpty() || b.IsEmpty()) {
        return a.IsEmpty();
    }
    const bool aNumeric = IsNumeric(a.GetType());
    const bool bNumeric = IsNumeric(b.GetType());
    if (aNumeric && bNumeric) {
        return NumericLess(a, b);
    }
    // Comparing the raw bytes of values of different kinds would disagree with each kind's own
    // order (a text's signed characters, a list's items, a reference's address) and break
    // transitivity; numbers come first, then the other kinds by type code.
    if (aNumeric != bNumeric) {
        return aNumeric;
    }
    return a.GetType() < b.GetType();
}

bool IsUnorderedVariant(const Variant& value)
{
    return IsFloating(value.GetType()) && std::isnan(value.GetDouble());
}

}  // namespace Orv
