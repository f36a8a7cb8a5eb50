// A device model beside the product with MIDI: the product's outputs and rates, plus four MIDI
// ports each way whose output ports run at the MIDI wire rate (3125 bytes per second). Its parts
// build it on the real USB streaming engine, with the real stream manager and MIDI router, so
// MIDI runs between the driver's MIDI pins and a simulated device's USB-MIDI bulk endpoints (a
// variant with four cables).
#pragma once

#include "EngineTestDeviceModel.h"
#include "engine/UsbStreamingEngine.h"

inline constexpr ULONG kMidiModelPorts = 4;
inline constexpr ULONG kMidiWireRate = 3125;  // bytes per second
inline constexpr UCHAR kMidiOutEndpoint = 0x03;
inline constexpr UCHAR kMidiInEndpoint = 0x83;

class MidiDeviceModel final : public EngineTestDeviceModel
{
public:
    using EngineTestDeviceModel::EngineTestDeviceModel;

    void GetMidiPortCounts(ULONG* ports, ULONG* second) override;
    NTSTATUS GetMidiConfiguration(ULONG index, MidiConfiguration* record) override;
};

class MidiDeviceParts final : public EngineTestDeviceParts
{
public:
    DeviceModel* CreateDeviceModel(DeviceLink deviceLink, PCWSTR registryPath) override;
    void DestroyDeviceModel(DeviceModel* model) override;

private:
    UsbStreamingEngineFactory engines;
};
