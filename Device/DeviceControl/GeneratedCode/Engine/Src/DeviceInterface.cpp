#include "ModuleInterfaces.h"

void IDevice::SetFirstParamID(LParameterizedModule* parent, int32_t firstId, int32_t extra)
{
    LParameterizedModule::SetFirstParamID(parent, firstId, extra);
    GiveChildrenFirstIds();
}

void IDevice::GiveChildrenFirstIds()
{
    const int32_t first = GetFirstParamID();
    if (auto versions = GetVersions()) {
        versions->SetFirstParamID(this, first + kVersionsOffset, 0);
    }
    if (auto properties = GetDriverStandardProperties()) {
        properties->SetFirstParamID(this, first + kDriverStandardPropertiesOffset, 0);
    }
    if (auto status = GetAudioStatus()) {
        status->SetFirstParamID(this, first + kAudioStatusOffset, 0);
    }
}

Orv::RCPtr<LParameterizedModule> IDevice::GetModuleForParamID(int32_t id)
{
    const uint32_t offset = static_cast<uint32_t>(id) - static_cast<uint32_t>(GetFirstParamID());
    Orv::RCPtr<LParameterizedModule> child;
    if (offset < kDriverStandardPropertiesOffset) {
        child = GetVersions();
    } else if (offset < kAudioStatusOffset) {
        child = GetDriverStandardProperties();
    } else if (offset < kIdCount) {
        child = GetAudioStatus();
    }
    return child ? child->GetModuleForParamID(id) : Orv::RCPtr<LParameterizedModule>();
}

void IDevice::OnDeviceConnected()
{
    if (auto versions = GetVersions()) {
        versions->OnDeviceConnected();
    }
    if (auto properties = GetDriverStandardProperties()) {
        properties->OnDeviceConnected();
    }
    if (auto status = GetAudioStatus()) {
        status->OnDeviceConnected();
    }
}

void IDevice::OnDeviceStateHook()
{
    if (auto versions = GetVersions()) {
        versions->OnDeviceStateHook();
    }
    if (auto properties = GetDriverStandardProperties()) {
        properties->OnDeviceStateHook();
    }
    if (auto status = GetAudioStatus()) {
        status->OnDeviceStateHook();
    }
}

Orv::RCPtr<IVersions> IDevice::GetVersionsConst() const
{
    return const_cast<IDevice*>(this)->GetVersions();
}

Orv::RCPtr<IDriverStandardProperties> IDevice::GetDriverStandardPropertiesConst() const
{
    return const_cast<IDevice*>(this)->GetDriverStandardProperties();
}

Orv::RCPtr<IAudioStatus> IDevice::GetAudioStatusConst() const
{
    return const_cast<IDevice*>(this)->GetAudioStatus();
}
