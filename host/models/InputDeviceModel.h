// A device of the tests beside the product: the product's two line outputs and rates, plus two
// 24-bit line inputs on the capture interface. Its parts build it on the real USB streaming
// engine with a USB record of the test's choosing (capture interface switched, feedback read),
// and give it the real stream manager, so capture and fed-back playback run end to end.
#pragma once

#include "EngineTestDeviceModel.h"

class InputDeviceModel final : public EngineTestDeviceModel
{
public:
    using EngineTestDeviceModel::EngineTestDeviceModel;

    void GetDeviceChannelCounts(ULONG* outputs, ULONG* inputs) override;
    LONG GetConfiguration(ULONG index, StreamConfiguration* record) override;
};

// The record with the OUT interface streaming, the capture interface switched when asked, and
// the feedback endpoint read when asked.
UsbConfigRecord InputDeviceUsbRecord(bool capture, bool feedback);

class InputDeviceParts final : public EngineTestDeviceParts
{
public:
    explicit InputDeviceParts(const UsbConfigRecord& record) : engines(record) {}

    DeviceModel* CreateDeviceModel(DeviceLink deviceLink, PCWSTR registryPath) override;
    void DestroyDeviceModel(DeviceModel* model) override;

private:
    UsbStreamingEngineFactory engines;
};
