// Who builds the objects a device context owns: the device model (with its streaming engine),
// the stream manager on the engine's stream set and the MIDI router on the engine's USB-MIDI
// endpoint. The driver installs the product's parts before it loads; tests install stand-ins.
// Every Create answers null when it cannot allocate.
#pragma once

#include <wdm.h>

#include "DeviceContext.h"

class DeviceModel;
class StreamManager;
class MidiRouter;
class StreamingEngine;
class DeviceStreamSink;

class DeviceParts
{
public:
    // The model keeps the link (the address of the context's device field) and its own copy of
    // the registry path.
    virtual DeviceModel* CreateDeviceModel(DeviceLink deviceLink, PCWSTR registryPath) = 0;
    // Destroys the engine first, then stops the status timer; frees the model.
    virtual void DestroyDeviceModel(DeviceModel* model) = 0;
    virtual StreamManager* CreateStreamManager(StreamingEngine* engine, DeviceStreamSink* sink) = 0;
    // Unlinks the manager from the engine's stream set, then frees it.
    virtual void DestroyStreamManager(StreamManager* manager) = 0;
    virtual MidiRouter* CreateMidiRouter(StreamingEngine* engine) = 0;
    // Unlinks the router from the USB-MIDI endpoint, then frees it.
    virtual void DestroyMidiRouter(MidiRouter* router) = 0;

    // The stream manager's current configuration: the index of rate in its rate list, or -1.
    virtual LONG FindConfigurationRate(StreamManager* manager, ULONG rate) = 0;
    // Asks the stream manager to apply that rate index of its current configuration; answers the
    // rate in force afterwards.
    virtual ULONG ApplyRateIndex(StreamManager* manager, LONG rateIndex) = 0;

protected:
    ~DeviceParts() = default;
};

// Installed while no device exists; null leaves the driver without parts (Add then fails).
void SetDeviceParts(DeviceParts* parts);
DeviceParts* GetDeviceParts();
