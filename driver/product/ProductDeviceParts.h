// The parts the driver builds its devices from: the product's device model on the USB streaming
// engine, the stream manager on the engine's stream set and the MIDI router on the engine's
// USB-MIDI codec.
#pragma once

#include <wdm.h>

#include "device/DeviceParts.h"
#include "engine/UsbStreamingEngine.h"

class ProductDeviceParts final : public DeviceParts
{
public:
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

// The driver's entry as the system calls it: installs the product's parts (unless parts are
// already installed), then loads the driver.
NTSTATUS ProductDriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);
