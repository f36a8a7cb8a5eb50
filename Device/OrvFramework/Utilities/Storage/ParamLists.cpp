#include "Utilities/Storage/ParamLists.h"

#include <vector>

namespace Orv {

Variant& ParamDescriptor::ToList(Variant& out) const
{
    Variant idItem;
    idItem.SetInt32(id);
    const Variant* items[] = {&idItem, &subIndex};
    out.SetList(items, 2);
    return out;
}

Variant& MakeParamValueList(int32_t id, const Variant* subIndex, const Variant* value, Variant& out)
{
    Variant idItem;
    idItem.SetInt32(id);
    const Variant* items[] = {value, &idItem, subIndex};
    out.SetList(items, 3);
    return out;
}

int32_t ParamDescriptors::SetDescriptors(const ParamDescriptor* descriptors, uint32_t count)
{
    if (descriptors == nullptr || count == 0) {
        return kNoDescriptors;
    }
    std::vector<Variant> items(count);
    for (uint32_t i = 0; i < count; ++i) {
        descriptors[i].ToList(items[i]);
    }
    SetList(items.data(), count);
    return S_OK;
}

int32_t ParamValues::SetSingleValue(const ParamDescriptor& descriptor, const Variant& value)
{
    Variant item;
    MakeParamValueList(descriptor.id, &descriptor.subIndex, &value, item);
    SetList(&item, 1);
    return S_OK;
}

}  // namespace Orv
