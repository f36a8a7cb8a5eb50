#include "ParamCache.h"

LParamCache::LParamCache(uint32_t slotCount) : slots(slotCount) {}

int32_t LParamCache::Update(const Orv::ParamDescriptor& key, const Orv::Variant& value, bool notify)
{
    if (!IsSlot(key.id)) {
        return -1;
    }
    Orv::Variant& slot = slots[static_cast<uint32_t>(key.id)];
    if (key.subIndex.IsEmpty()) {
        if (slot == value) {
            return 1;
        }
        slot = value;
    } else {
        Orv::ParamValues list;
        static_cast<Orv::Variant&>(list) = slot;
        const int32_t result = list.SetValue(key, value);
        if (result != S_OK) {
            return result == 1 ? 1 : -1;
        }
        slot = list;
    }
    if (notify) {
        OnValueChanged(static_cast<uint32_t>(key.id), slot);
    }
    return 0;
}

int32_t LParamCache::Get(const Orv::ParamDescriptor& key, Orv::Variant& value) const
{
    value.Clear();
    if (!IsSlot(key.id)) {
        return -1;
    }
    const Orv::Variant& slot = slots[static_cast<uint32_t>(key.id)];
    if (key.subIndex.IsEmpty()) {
        value = slot;
        return 0;
    }
    Orv::ParamValues list;
    static_cast<Orv::Variant&>(list) = slot;
    return list.GetValue(key, value);
}

void LParamCache::Configure(int32_t) {}

Orv::ORVRESULT LParamCache::OnValueChanged(uint32_t, const Orv::Variant&)
{
    return E_NOTIMPL;
}
