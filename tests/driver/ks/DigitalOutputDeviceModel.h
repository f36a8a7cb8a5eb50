// A device of the tests beside the product: the product's outputs, with a digital-output mode
// that EnableOutputMode really switches (the product's model never has one). It counts the
// switches, so that a test sees who turned the mode on and whether it was turned off again.
#pragma once

#include "EngineTestDeviceModel.h"

class DigitalOutputDeviceModel final : public EngineTestDeviceModel
{
public:
    using EngineTestDeviceModel::EngineTestDeviceModel;

    NTSTATUS EnableOutputMode(bool on) override;

    ULONG switchedOn = 0;
    ULONG switchedOff = 0;
};

class DigitalOutputDeviceParts final : public EngineTestDeviceParts
{
public:
    DeviceModel* CreateDeviceModel(DeviceLink deviceLink, PCWSTR registryPath) override;
    void DestroyDeviceModel(DeviceModel* model) override;

private:
    UsbStreamingEngineFactory engines;
};
