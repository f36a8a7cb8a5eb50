#include "ParamItems.h"

#include <vector>

namespace Ulvane {

namespace {

// The parts of an item that must be a list of `count` items, the int32 one at `idAt`.
bool ReadShape(const Value& item, size_t count, size_t idAt, std::vector<Value>& parts)
{
    return item.ReadList(parts) && parts.size() == count && parts[idAt].GetType() == kValueInt32;
}

}  // namespace

bool ReadDescriptorItem(const Value& item, ParamDescriptor& descriptor)
{
    std::vector<Value> parts;
    if (!ReadShape(item, 2, 0, parts)) {
        return false;
    }
    descriptor.id = parts[0].GetInt32();
    descriptor.subIndex = parts[1];
    return true;
}

bool ReadRangeItem(const Value& item, int32_t& firstId, int32_t& count)
{
    std::vector<Value> parts;
    if (!ReadShape(item, 2, 0, parts) || parts[1].GetType() != kValueInt32) {
        return false;
    }
    firstId = parts[0].GetInt32();
    count = parts[1].GetInt32();
    return true;
}

bool ReadValueItem(const Value& item, ParamDescriptor& descriptor, Value& value)
{
    std::vector<Value> parts;
    if (!ReadShape(item, 3, 1, parts)) {
        return false;
    }
    value = parts[0];
    descriptor.id = parts[1].GetInt32();
    descriptor.subIndex = parts[2];
    return true;
}

Value MakeValueItem(const ParamDescriptor& descriptor, const Value& value)
{
    Value id;
    id.SetInt32(descriptor.id);
    Value item;
    item.SetList({value, id, descriptor.subIndex});
    return item;
}

}  // namespace Ulvane
