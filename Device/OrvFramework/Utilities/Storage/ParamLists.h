#pragma once
// The parameter records of the device interface and the list variants that carry them:
//   descriptor:  the 2-item list [id (int32), sub-index]
//   value:       the 3-item list [value, id (int32), sub-index]
//   range:       the 2-item list [first id (int32), count (int32)]
// ParamDescriptors, ParamValues and ParamRanges are list variants of such items; they add no
// fields to Variant. Lists come back from the device library, so every reader is bounded and
// reports a list it cannot read (kParamListUnreadable) or an item of the wrong shape
// (kParamItemMisshapen) instead of guessing.

#include <cstdint>

#include "Utilities/Storage/StringT.h"
#include "Utilities/Storage/Variant.h"

namespace Orv {

struct ParamDescriptor
{
    int32_t id = -1;   // -1: none
    Variant subIndex;  // empty: the whole value; otherwise the element of a list value

    // out becomes the 2-item list of this descriptor; returns out.
    Variant& ToList(Variant& out) const;
};

class ParamRanges;

struct ParamValue
{
    ParamDescriptor descriptor;
    Variant value;
};

// out becomes the 3-item list [value, id, sub-index] (a null pointer is an empty item); returns
// out.
Variant& MakeParamValueList(int32_t id, const Variant* subIndex, const Variant* value,
                            Variant& out);

class ParamDescriptors : public Variant
{
public:
    static constexpr int32_t kNoDescriptors = -4;

    ParamDescriptors() = default;
    ParamDescriptors(const ParamDescriptors&) = default;
    ParamDescriptors& operator=(const ParamDescriptors&) = default;
    ~ParamDescriptors() override = default;

    // The most descriptors SetFromRanges writes: far more than any device has parameters, and
    // a bound on what a range list from outside can make this side allocate.
    static constexpr int64_t kMaxDescriptorsFromRanges = 65536;

    // The list of the descriptors' 2-item lists: 0, or kNoDescriptors (and no change) when there
    // are none.
    int32_t SetDescriptors(const ParamDescriptor* descriptors, uint32_t count);
    // The descriptors [first, empty], [first + 1, empty], ... of every range in order: 0; with
    // the list unchanged, kNoDescriptors when the ranges hold no range, a reader's result when a
    // range cannot be read, kParamItemMisshapen for a negative count or ids beyond int32, and
    // kNoDescriptors when they would make more than kMaxDescriptorsFromRanges descriptors.
    int32_t SetFromRanges(const ParamRanges& ranges);
    // Item `index` as [id, sub-index]: 0, kParamListUnreadable or kParamItemMisshapen (then id is
    // -1 and sub-index empty).
    int32_t GetDescriptorItem(uint32_t index, int32_t& id, Variant& subIndex) const;
};

class ParamValues : public Variant
{
public:
    ParamValues() = default;
    ParamValues(const ParamValues&) = default;
    ParamValues& operator=(const ParamValues&) = default;
    ~ParamValues() override = default;

    // The list holding exactly the one 3-item list of this value; 0.
    int32_t SetSingleValue(const ParamDescriptor& descriptor, const Variant& value);
    // The list of the values' 3-item lists: 0, or kParamListUnreadable (and no change) when there
    // are none.
    int32_t SetValues(const ParamValue* values, uint32_t count);
    // The value of the first item with the descriptor's id and an equal sub-index: 0; 1 when no
    // item has them; a reader's negative result when an item before the match cannot be read.
    // Unless 0, value is empty.
    int32_t GetValue(const ParamDescriptor& descriptor, Variant& value) const;
    // Sets the value of the item with the descriptor's id and an equal sub-index, or inserts
    // [value, id, sub-index] where it keeps the list in ascending order of (id, sub-index)
    // (VariantOrder.h): 0 changed, 1 when that item holds the value already; with the list
    // unchanged, a reader's negative result when an item cannot be read and kParamItemMisshapen
    // for a NaN sub-index (it would never match and add an item at every call).
    int32_t SetValue(const ParamDescriptor& descriptor, const Variant& value);
};

struct ParamRange
{
    int32_t firstId = 0;
    int32_t count = 0;  // ids firstId .. firstId + count - 1
};

class ParamRanges : public Variant
{
public:
    ParamRanges() = default;
    ParamRanges(const ParamRanges&) = default;
    ParamRanges& operator=(const ParamRanges&) = default;
    ~ParamRanges() override = default;

    // The list of the ranges' 2-item lists: 0, or kParamListUnreadable (and no change) when there
    // are none.
    int32_t SetRanges(const ParamRange* ranges, uint32_t count);
    // Item `index` as [first id, count]: 0, kParamListUnreadable or kParamItemMisshapen (then
    // both are 0).
    int32_t GetRangeItem(uint32_t index, int32_t& firstId, int32_t& count) const;
};

// The text of a descriptor: its id in decimal.
StringT<char16_t, char> ParamDescriptorToString(const ParamDescriptor& descriptor);

}  // namespace Orv
