#pragma once
// The less-than of two variants that orders the sub-indices of a parameter-value list. It is a
// strict weak ordering for every pair of values that are not NaN; callers that keep sorted lists
// refuse NaN keys (IsUnorderedVariant), since a NaN is neither less than nor equal to anything.

#include "Utilities/Storage/Variant.h"

namespace Orv {

// Same type: numbers by value (signed or unsigned as their type), blobs and texts shorter first,
// then byte by byte (blobs unsigned, texts as signed chars), data the variant points to by size,
// then by address, lists item by item with the shorter list first on a tie. Different types: empty
// first, then numbers of any type by numeric value, then the other kinds by type code.
bool VariantLess(const Variant& a, const Variant& b);

// A float or double NaN: it orders against nothing and equals nothing, itself included.
bool IsUnorderedVariant(const Variant& value);

}  // namespace Orv
