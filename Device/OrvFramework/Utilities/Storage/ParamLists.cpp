#include "Utilities/Storage/ParamLists.h"

#include "Utilities/Storage/VariantOrder.h"

#include <string>
#include <vector>

namespace Orv {

namespace {

// Item `index` of `list` as a list of exactly `shapeCount` items, copied into `parts`.
int32_t ReadShapedItem(const Variant& list, uint32_t index, Variant* parts, uint32_t shapeCount)
{
    if (!list.IsList() || index >= list.GetListItemCount()) {
        return kParamListUnreadable;
    }
    Variant item;
    if (list.GetListItem(index, item) != 0 || !item.IsList() ||
        item.GetListItemCount() != shapeCount) {
        return kParamItemMisshapen;
    }
    for (uint32_t i = 0; i < shapeCount; ++i) {
        if (item.GetListItem(i, parts[i]) != 0) {
            return kParamItemMisshapen;
        }
    }
    return S_OK;
}

}  // namespace

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

int32_t Variant::GetParamValueItem(uint32_t index, Variant& value, int32_t& id,
                                   Variant& subIndex) const
{
    Variant parts[3];
    const int32_t result = ReadShapedItem(*this, index, parts, 3);
    value.Clear();
    subIndex.Clear();
    id = -1;
    if (result != S_OK) {
        return result;
    }
    value = parts[0];
    id = parts[1].GetInt32();
    subIndex = parts[2];
    return S_OK;
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

int32_t ParamDescriptors::SetFromRanges(const ParamRanges& ranges)
{
    const uint32_t rangeCount = ranges.GetListItemCount();
    std::vector<ParamDescriptor> descriptors;
    for (uint32_t r = 0; r < rangeCount; ++r) {
        int32_t first = 0;
        int32_t count = 0;
        const int32_t result = ranges.GetRangeItem(r, first, count);
        if (result != S_OK) {
            return result;
        }
        if (count < 0 || int64_t{first} + count - 1 > INT32_MAX) {
            return kParamItemMisshapen;
        }
        if (static_cast<int64_t>(descriptors.size()) + count > kMaxDescriptorsFromRanges) {
            return kNoDescriptors;
        }
        for (int32_t i = 0; i < count; ++i) {
            descriptors.emplace_back().id = first + i;
        }
    }
    return SetDescriptors(descriptors.data(), static_cast<uint32_t>(descriptors.size()));
}

int32_t ParamDescriptors::GetDescriptorItem(uint32_t index, int32_t& id, Variant& subIndex) const
{
    Variant parts[2];
    const int32_t result = ReadShapedItem(*this, index, parts, 2);
    subIndex.Clear();
    id = -1;
    if (result != S_OK) {
        return result;
    }
    id = parts[0].GetInt32();
    subIndex = parts[1];
    return S_OK;
}

int32_t ParamValues::SetSingleValue(const ParamDescriptor& descriptor, const Variant& value)
{
    const ParamValue single{descriptor, value};
    return SetValues(&single, 1);
}

int32_t ParamValues::SetValues(const ParamValue* values, uint32_t count)
{
    if (values == nullptr || count == 0) {
        return kParamListUnreadable;
    }
    std::vector<Variant> items(count);
    for (uint32_t i = 0; i < count; ++i) {
        MakeParamValueList(values[i].descriptor.id, &values[i].descriptor.subIndex,
                           &values[i].value, items[i]);
    }
    SetList(items.data(), count);
    return S_OK;
}

int32_t ParamValues::GetValue(const ParamDescriptor& descriptor, Variant& value) const
{
    value.Clear();
    const uint32_t count = GetListItemCount();
    for (uint32_t i = 0; i < count; ++i) {
        Variant itemValue;
        Variant subIndex;
        int32_t id = -1;
        const int32_t result = GetParamValueItem(i, itemValue, id, subIndex);
        if (result != S_OK) {
            return result;
        }
        if (id == descriptor.id && subIndex == descriptor.subIndex) {
            value = itemValue;
            return S_OK;
        }
    }
    return 1;
}

int32_t ParamValues::SetValue(const ParamDescriptor& descriptor, const Variant& value)
{
    if (IsUnorderedVariant(descriptor.subIndex)) {
        return kParamItemMisshapen;
    }
    const uint32_t count = GetListItemCount();
    std::vector<ParamValue> work(count);
    for (uint32_t i = 0; i < count; ++i) {
        ParamDescriptor& item = work[i].descriptor;
        const int32_t result = GetParamValueItem(i, work[i].value, item.id, item.subIndex);
        if (result != S_OK) {
            return result;
        }
    }
    // A matching item is replaced wherever it stands, so a list that came unsorted from outside
    // never gets a second item for the same key.
    for (ParamValue& item : work) {
        if (item.descriptor.id == descriptor.id &&
            item.descriptor.subIndex == descriptor.subIndex) {
            if (item.value == value) {
                return 1;
            }
            item.value = value;
            SetValues(work.data(), count);
            return S_OK;
        }
    }
    const auto sortsBeforeKey = [&descriptor](const ParamValue& item) {
        return item.descriptor.id < descriptor.id ||
               (item.descriptor.id == descriptor.id &&
                VariantLess(item.descriptor.subIndex, descriptor.subIndex));
    };
    auto position = work.begin();
    while (position != work.end() && sortsBeforeKey(*position)) {
        ++position;
    }
    work.insert(position, ParamValue{descriptor, value});
    SetValues(work.data(), count + 1);
    return S_OK;
}

int32_t ParamRanges::SetRanges(const ParamRange* ranges, uint32_t count)
{
    if (ranges == nullptr || count == 0) {
        return kParamListUnreadable;
    }
    std::vector<Variant> items(count);
    for (uint32_t i = 0; i < count; ++i) {
        Variant bounds[2];
        bounds[0].SetInt32(ranges[i].firstId);
        bounds[1].SetInt32(ranges[i].count);
        items[i].SetList(bounds, 2);
    }
    SetList(items.data(), count);
    return S_OK;
}

int32_t ParamRanges::GetRangeItem(uint32_t index, int32_t& firstId, int32_t& count) const
{
    Variant parts[2];
    const int32_t result = ReadShapedItem(*this, index, parts, 2);
    firstId = 0;
    count = 0;
    if (result != S_OK) {
        return result;
    }
    firstId = parts[0].GetInt32();
    count = parts[1].GetInt32();
    return S_OK;
}

StringT<char16_t, char> ParamDescriptorToString(const ParamDescriptor& descriptor)
{
    return StringT<char16_t, char>(std::to_string(descriptor.id).c_str());
}

}  // namespace Orv
