// What the device models of the tests share: a device beside the product, built on the real USB
// streaming engine, with the product's hardware id and one internal clock, and parts that give it
// the real stream manager and a real MIDI router on the engine's codec. Each model adds only what
// it declares beyond the product (inputs, MIDI ports ...).
#pragma once

#include <wdm.h>

#include "device/DeviceModel.h"
#include "device/DeviceParts.h"
#include "engine/UsbStreamingEngine.h"

class EngineTestDeviceModel : public DeviceModel
{
public:
    EngineTestDeviceModel(DeviceLink link, PCWSTR path, StreamingEngineFactory* engineFactory);
    ~EngineTestDeviceModel();

    // Builds the engine once the model is whole: the engine asks the model's own overrides (its
    // MIDI ports ...), which a base constructor would not reach. False when it can't be had.
    bool CreateEngine();

    NTSTATUS Start() override;
    PCWSTR GetHardwareId() override;
    LONG GetClockSourceRecord(ClockSourceRecord* record) override;
    StreamingEngine* GetEngine() override { return engine; }
    StreamingEngine* GetEngineAlias() override { return engine; }

    StreamingEngine* engine = nullptr;

private:
    DeviceLink deviceLink;
    StreamingEngineFactory* factory;
};

// The parts every such model shares; each model's parts add its creation.
class EngineTestDeviceParts : public DeviceParts
{
public:
    StreamManager* CreateStreamManager(StreamingEngine* engine, DeviceStreamSink* sink) override;
    void DestroyStreamManager(StreamManager* manager) override;
    MidiRouter* CreateMidiRouter(StreamingEngine* engine) override;
    void DestroyMidiRouter(MidiRouter* router) override;
    LONG FindConfigurationRate(StreamManager* manager, ULONG rate) override;
    ULONG ApplyRateIndex(StreamManager* manager, LONG rateIndex) override;
};
