#pragma once
// The base of every parameter module. A module owns the ids [first id, first id + parameter
// count); values and reads travel up the parent chain to the root, which caches and publishes
// them. The tree is strict: a parent holds its children by RCPtr, a child points to its parent
// without counting it, so a module lives exactly as long as its parent keeps it.

#include <cstdint>

#include "ObjectBase/RCPtr.h"
#include "Utilities/Storage/ParamLists.h"

class LParameterizedModule : public virtual Orv::LRefCountedObject
{
public:
    // Stores the three values; extra is kept for derived classes and not used here.
    virtual void SetFirstParamID(LParameterizedModule* parent, int32_t firstId, int32_t extra);
    virtual Orv::RCPtr<LParameterizedModule> GetModuleForParamIDConst(int32_t id) const;
    // This module, whatever the id.
    virtual Orv::RCPtr<LParameterizedModule> GetModuleForParamID(int32_t id);
    // Throws a logic error for a module without own parameters; else the parent's
    // SetParamValueChild, -1 without parent.
    virtual Orv::ORVRESULT SetParamValueLocal(const Orv::ParamDescriptor& descriptor,
                                              const Orv::Variant& value, bool fromDevice);
    // Throws a logic error for a module without own parameters; else the parent's
    // GetParamValueChild, empty without parent.
    virtual void GetParamValueLocal(Orv::Variant& value,
                                    const Orv::ParamDescriptor& descriptor) const;
    virtual Orv::ORVRESULT SetParamValueChild(const Orv::ParamDescriptor& descriptor,
                                              const Orv::Variant& value);
    virtual void GetParamValueChild(Orv::Variant& value,
                                    const Orv::ParamDescriptor& descriptor) const;
    // Empty.
    virtual void GetParamValueDefault(Orv::Variant& value, int32_t id) const;
    virtual void OnDeviceConnected();
    virtual void OnDeviceStateHook();
    virtual bool IsParamModule() const;
    // Relays an unspecified request to the parent's RelayToParent; nothing without parent.
    virtual void RelayToParentOther(int32_t kind, const Orv::Variant& first,
                                    const Orv::Variant& second, void* context);
    virtual void RelayToParent(int32_t kind, const Orv::Variant& first, const Orv::Variant& second,
                               void* context);
    // The parent's; E_FAIL without parent.
    virtual Orv::ORVRESULT SetParamValue(const Orv::ParamDescriptor& descriptor,
                                         const Orv::Variant& value);
    // The parent's; empty without parent.
    virtual void GetParamValue(Orv::Variant& value, const Orv::ParamDescriptor& descriptor) const;

    LParameterizedModule* GetParent() const { return parent; }
    int32_t GetParamCount() const { return parameterCount; }
    int32_t GetFirstParamID() const { return firstId; }
    int32_t GetExtra() const { return extra; }
    // The top of the parent chain: the root, or this module when it has no parent.
    const LParameterizedModule& GetTopModule() const;
    LParameterizedModule& GetTopModule();
    // 0 <= id - first id < parameter count.
    bool OwnsParamID(int32_t id) const;

protected:
    explicit LParameterizedModule(int32_t parameterCount) : parameterCount(parameterCount) {}

private:
    LParameterizedModule* parent = nullptr;
    int32_t parameterCount;
    int32_t firstId = 0;
    int32_t extra = 0;
};
