#pragma once
// The generated device module: no ids of its own, the parent of the versions, driver standard
// properties and audio status modules, which it creates (CreateChildModules, right after
// construction) and owns.

#include "AudioStatus.h"
#include "DriverStandardProperties.h"
#include "ModuleInterfaces.h"
#include "Versions.h"

class LDevice : public IDevice
{
public:
    // A device module with its three children.
    static Orv::RCPtr<LDevice> Create();

    // Throws a logic error unless the first id is the root's.
    void SetFirstParamID(LParameterizedModule* parent, int32_t firstId, int32_t extra) override;
    Orv::RCPtr<IVersions> GetVersions() override { return versions; }
    Orv::RCPtr<IDriverStandardProperties> GetDriverStandardProperties() override
    {
        return driverStandardProperties;
    }
    Orv::RCPtr<IAudioStatus> GetAudioStatus() override { return audioStatus; }
    virtual void CreateChildModules();

private:
    LDevice() = default;

    Orv::RCPtr<LVersions> versions;
    Orv::RCPtr<LDriverStandardProperties> driverStandardProperties;
    Orv::RCPtr<LAudioStatus> audioStatus;
};
