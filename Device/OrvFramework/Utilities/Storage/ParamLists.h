#pragma once
// The parameter records of the device interface and the list variants that carry them:
//   descriptor:  the 2-item list [id (int32), sub-index]
//   value:       the 3-item list [value, id (int32), sub-index]
// ParamDescriptors, ParamValues and ParamRanges are list variants of such items (ranges are
// built by the device library); they add no fields to Variant.

#include <cstdint>

#include "Utilities/Storage/Variant.h"

namespace Orv {

struct ParamDescriptor
{
    int32_t id = -1;   // -1: none
    Variant subIndex;  // empty: the whole value; otherwise the element of a list value

    // out becomes the 2-item list of this descriptor; returns out.
    Variant& ToList(Variant& out) const;
};

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

    // The list of the descriptors' 2-item lists: 0, or kNoDescriptors (and no change) when there
    // are none.
    int32_t SetDescriptors(const ParamDescriptor* descriptors, uint32_t count);
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
};

class ParamRanges : public Variant
{
public:
    ParamRanges() = default;
    ParamRanges(const ParamRanges&) = default;
    ParamRanges& operator=(const ParamRanges&) = default;
    ~ParamRanges() override = default;
};

}  // namespace Orv
