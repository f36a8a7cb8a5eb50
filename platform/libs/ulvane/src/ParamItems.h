#pragma once
// The parameter records inside lists (UlvaneAbi.h). A reader takes one item of a caller's list
// and refuses anything but the exact shape with an int32 id.

#include <cstdint>

#include "UlvaneAbi.h"

namespace Ulvane {

// [id, sub-index]
bool ReadDescriptorItem(const Value& item, ParamDescriptor& descriptor);
// [first id, count]
bool ReadRangeItem(const Value& item, int32_t& firstId, int32_t& count);
// [value, id, sub-index]
bool ReadValueItem(const Value& item, ParamDescriptor& descriptor, Value& value);
// The [value, id, sub-index] item of one value.
Value MakeValueItem(const ParamDescriptor& descriptor, const Value& value);

}  // namespace Ulvane
