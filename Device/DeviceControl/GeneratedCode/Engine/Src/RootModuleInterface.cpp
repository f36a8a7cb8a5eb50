#include "RootModuleInterface.h"

void IRootModule::SetFirstParamID(LParameterizedModule* parent, int32_t firstId, int32_t extra)
{
    LParameterizedModule::SetFirstParamID(parent, firstId, extra);
    if (auto device = GetDevice()) {
        device->SetFirstParamID(this, firstId, 0);
    }
}

Orv::RCPtr<LParameterizedModule> IRootModule::GetModuleForParamID(int32_t id)
{
    const uint32_t offset = static_cast<uint32_t>(id) - static_cast<uint32_t>(GetFirstParamID());
    auto device = GetDevice();
    if (offset >= static_cast<uint32_t>(kIdCount) || !device) {
        return {};
    }
    return device->GetModuleForParamID(id);
}

void IRootModule::OnDeviceConnected()
{
    if (auto device = GetDevice()) {
        device->OnDeviceConnected();
    }
}

void IRootModule::OnDeviceStateHook()
{
    if (auto device = GetDevice()) {
        device->OnDeviceStateHook();
    }
}

Orv::RCPtr<LParameterizedModule> IRootModule::GetPseudoModuleConst() const
{
    return const_cast<IRootModule*>(this)->GetPseudoModule();
}

Orv::RCPtr<LParameterizedModule> IRootModule::GetPseudoModule()
{
    return {};
}

Orv::ORVRESULT IRootModule::StoreParamValue(const Orv::ParamDescriptor& descriptor,
                                            const Orv::Variant& value)
{
    return SetParamValue(descriptor, value);
}

Orv::ORVRESULT IRootModule::ReadParamValue(const Orv::ParamDescriptor& descriptor,
                                           Orv::Variant& value)
{
    GetParamValue(value, descriptor);
    return 0;
}

Orv::RCPtr<IDevice> IRootModule::GetDeviceConst() const
{
    return const_cast<IRootModule*>(this)->GetDevice();
}
