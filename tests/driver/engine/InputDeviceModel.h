// A device of the tests beside the product: the product's two line outputs and rates, plus two
// 24-bit line inputs on the capture interface. Its parts build it on the real USB streaming
// engine with a USB record of the test's choosing (capture interface switched, feedback read),
// and give it the real stream manager, so capture and fed-back playback run end to end.
#pragma once

#include <wdm.h>

#include "device/DeviceModel.h"
#include "device/DeviceParts.h"
#include "engine/UsbStreamingEngine.h"

class InputDeviceModel final : public DeviceModel
{
public:
    InputDeviceModel(DeviceLink link, PCWSTR path, StreamingEngineFactory* engineFactory);
    ~InputDeviceModel();

    NTSTATUS Start() override;
    PCWSTR GetHardwareId() override;
    void GetDeviceChannelCounts(ULONG* outputs, ULONG* inputs) override;
    LONG GetClockSourceRecord(ClockSourceRecord* record) override;
    LONG GetConfiguration(ULONG index, StreamConfiguration* record) override;
    StreamingEngine* GetEngine() override { return engine; }
    StreamingEngine* GetEngineAlias() override { return engine; }

    StreamingEngine* engine = nullptr;

private:
    StreamingEngineFactory* factory;
};

// The record with the OUT interface streaming, the capture interface switched when asked, and
// the feedback endpoint read when asked.
UsbConfigRecord InputDeviceUsbRecord(bool capture, bool feedback);

class InputDeviceParts final : public DeviceParts
{
public:
    explicit InputDeviceParts(const UsbConfigRecord& record) : engines(record) {}

    DeviceModel* CreateDeviceModel(DeviceLink deviceLink, PCWSTR registryPath) override;
    void DestroyDeviceModel(DeviceModel* model) override;
    StreamManager* CreateStreamManager(StreamingEngine* engine, DeviceStreamSink* sink) override;
    void DestroyStreamManager(StreamManager* manager) override;
    MidiRouter* CreateMidiRouter(StreamingEngine* engine) override;
    void DestroyMidiRouter(MidiRouter* router) override;
    LONG FindConfigurationRate(StreamManager* manager, ULONG rate) override;
    ULONG ApplyRateIndex(StreamManager* manager, LONG rateIndex) override;

private:
    UsbStreamingEngineFactory engines;
};
