// A loaded driver whose devices get the product's own parts: the product device model on the USB
// streaming engine, the real stream manager on its stream set and the real MIDI router. Tests
// plug in a simulated device, start it, and drive streams through the stream manager in virtual
// time.
#pragma once

#include <KernelHostApi.h>
#include <KernelTestApi.h>
#include <KsHostApi.h>
#include <UsbDescriptorSet.h>
#include <UsbTestApi.h>

#include <memory>
#include <vector>

#include "LoadedDriverFixture.h"
#include "device/DeviceContext.h"
#include "device/DeviceParts.h"
#include "device/ProductDeviceModel.h"
#include "engine/StreamManager.h"
#include "engine/UsbStreamingEngine.h"

class ProductParts final : public DeviceParts
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

class EndToEndTest : public LoadedDriverFixture
{
protected:
    void SetUp() override;

    // Plugs in the device on a bus of its own and starts it.
    void PlugInAndStart(UsbSim::UsbDescriptorSet descriptors);
    // Advances virtual time and runs what it queued.
    static void Run(std::chrono::milliseconds duration);
    // The rates the stream manager had the endpoints renamed for, oldest first.
    static std::vector<ULONG>& Renamed();

    DeviceContext* Context();
    StreamManager* Manager() { return Context()->streamManager; }
    StreamingEngine* Engine() { return Context()->deviceModel->GetEngine(); }
    UsbSim::SimulatedUsbDevice& UsbDevice() { return usbDevices.LastDevice(); }

    ProductParts parts;
    // The shared fixture's rack and driver, under the names these tests use.
    Platform::Ks::PluggedUsbDevices& usbDevices = usbDevices_;
    std::unique_ptr<Platform::Ks::Driver>& driver = driver_;
    Platform::Ks::Device* device = nullptr;
};
