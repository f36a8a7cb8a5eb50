#pragma once
// The last known value of each of the engine's parameters, by position in the root module's id
// block (the key's id is the slot index, not the parameter id). A slot addressed without
// sub-index holds the whole value; addressed with sub-indices it holds a ParamValues list sorted
// by sub-index (VariantOrder.h), one item per sub-index.
//
// No lock of its own: the root module calls it under its store lock only.

#include <cstdint>
#include <vector>

#include "ObjectBase/RCPtr.h"
#include "Utilities/Storage/ParamLists.h"

class LParamCache : public virtual Orv::LRefCountedObject
{
public:
    explicit LParamCache(uint32_t slotCount);

    // 0 stored, 1 unchanged; -1 (nothing changed) for an index outside the slots, a slot whose
    // list cannot be read, and a NaN sub-index. notify: OnValueChanged after a store.
    virtual int32_t Update(const Orv::ParamDescriptor& key, const Orv::Variant& value, bool notify);
    // 0 found; 1 no entry with that sub-index (also when the slot holds no list); -1 index
    // outside the slots; the list reader's negative result when the slot's list cannot be read.
    // value is empty unless 0.
    virtual int32_t Get(const Orv::ParamDescriptor& key, Orv::Variant& value) const;
    // No effect; the root calls it once after seeding.
    virtual void Configure(int32_t setting);
    // E_NOTIMPL: nothing watches the cache yet.
    virtual Orv::ORVRESULT OnValueChanged(uint32_t slot, const Orv::Variant& value);

    uint32_t GetSlotCount() const { return static_cast<uint32_t>(slots.size()); }

private:
    bool IsSlot(int32_t index) const { return static_cast<uint32_t>(index) < slots.size(); }

    std::vector<Orv::Variant> slots;
};
