#pragma once
// The top of a module tree: it owns the device module, gives the tree its first ids, and is where
// values are stored, read and published. The engine's LRootModule implements it against the
// device; the panels' main control implements it for their own tree.

#include "DeviceCommunicationInterface.h"
#include "ModuleInterfaces.h"

class IRootModule : public LParameterizedModule
{
public:
    // The number of ids of the tree, from the first id.
    static constexpr int32_t kIdCount = IDevice::kIdCount;

    // Stores the values, then gives the device module (this, first id, 0).
    void SetFirstParamID(LParameterizedModule* parent, int32_t firstId, int32_t extra) override;
    // The owning module for ids first .. first + 10 (the device module decides), else null.
    Orv::RCPtr<LParameterizedModule> GetModuleForParamID(int32_t id) override;
    void OnDeviceConnected() override;
    void OnDeviceStateHook() override;

    // Publishes one value.
    virtual void SendParamValue(const Orv::ParamDescriptor& descriptor,
                                const Orv::Variant& value) = 0;
    virtual Orv::RCPtr<LDeviceCommunicationInterface> GetDeviceCommunicationInterface() = 0;
    virtual Orv::RCPtr<LParameterizedModule> GetPseudoModuleConst() const;
    // The module of the pseudo ids -256..-129; this device has none.
    virtual Orv::RCPtr<LParameterizedModule> GetPseudoModule();
    // The write entry of the panels: by default the tree's own SetParamValue.
    virtual Orv::ORVRESULT StoreParamValue(const Orv::ParamDescriptor& descriptor,
                                           const Orv::Variant& value);
    // The read entry: by default GetParamValue; 0.
    virtual Orv::ORVRESULT ReadParamValue(const Orv::ParamDescriptor& descriptor,
                                          Orv::Variant& value);
    virtual Orv::RCPtr<IDevice> GetDeviceConst() const;
    virtual Orv::RCPtr<IDevice> GetDevice() = 0;

protected:
    IRootModule() : LParameterizedModule(0) {}
};
