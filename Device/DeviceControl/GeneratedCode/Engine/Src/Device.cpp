#include "Device.h"

#include "ObjectBase/Exception.h"

Orv::RCPtr<LDevice> LDevice::Create()
{
    Orv::RCPtr<LDevice> device(new LDevice());
    device->CreateChildModules();
    return device;
}

void LDevice::SetFirstParamID(LParameterizedModule* parent, int32_t firstId, int32_t extra)
{
    LParameterizedModule::SetFirstParamID(parent, firstId, extra);
    if (firstId != GetTopModule().GetFirstParamID()) {
        Orv::ThrowException(Orv::ExceptionKind::LogicError, "Invalid FirstParamID",
                            Orv::ThrowSite{__PRETTY_FUNCTION__, ORV_THIS_FILE, 72});
    }
    GiveChildrenFirstIds();
}

void LDevice::CreateChildModules()
{
    versions = Orv::RCPtr<LVersions>(new LVersions());
    versions->PostConstruct();
    driverStandardProperties =
        Orv::RCPtr<LDriverStandardProperties>(new LDriverStandardProperties());
    driverStandardProperties->PostConstruct();
    audioStatus = Orv::RCPtr<LAudioStatus>(new LAudioStatus());
    audioStatus->PostConstruct();
}
