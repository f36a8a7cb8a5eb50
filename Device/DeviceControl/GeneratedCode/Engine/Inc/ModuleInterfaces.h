#pragma once
// The interfaces of the device's modules. IDevice holds the three children of the device module
// (versions: 2 ids from its first id, driver standard properties: 7 ids from first id + 2, audio
// status: 2 ids from first id + 9) and dispatches ids to them.

#include "ParameterizedModule.h"

class IVersions : public LParameterizedModule
{
protected:
    using LParameterizedModule::LParameterizedModule;
};

class IDriverStandardProperties : public LParameterizedModule
{
protected:
    using LParameterizedModule::LParameterizedModule;
};

class IAudioStatus : public LParameterizedModule
{
protected:
    using LParameterizedModule::LParameterizedModule;
};

class IDevice : public LParameterizedModule
{
public:
    // The children's offsets in the device's id block.
    static constexpr int32_t kVersionsOffset = 0;
    static constexpr int32_t kDriverStandardPropertiesOffset = 2;
    static constexpr int32_t kAudioStatusOffset = 9;
    static constexpr int32_t kIdCount = 11;

    // Stores the values, then gives the present children their first ids.
    void SetFirstParamID(LParameterizedModule* parent, int32_t firstId, int32_t extra) override;
    // The child that owns the id; null outside the block or when that child is absent.
    Orv::RCPtr<LParameterizedModule> GetModuleForParamID(int32_t id) override;
    // Forwarded to the children in the order versions, driver standard properties, audio status.
    void OnDeviceConnected() override;
    void OnDeviceStateHook() override;

    virtual Orv::RCPtr<IVersions> GetVersionsConst() const;
    virtual Orv::RCPtr<IVersions> GetVersions() = 0;
    virtual Orv::RCPtr<IDriverStandardProperties> GetDriverStandardPropertiesConst() const;
    virtual Orv::RCPtr<IDriverStandardProperties> GetDriverStandardProperties() = 0;
    virtual Orv::RCPtr<IAudioStatus> GetAudioStatusConst() const;
    virtual Orv::RCPtr<IAudioStatus> GetAudioStatus() = 0;

protected:
    IDevice() : LParameterizedModule(0) {}
    void GiveChildrenFirstIds();
};
