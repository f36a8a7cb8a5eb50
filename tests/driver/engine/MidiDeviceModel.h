// A device of the tests with MIDI: the product's outputs and rates, plus four MIDI ports each way
// whose output ports run at the MIDI wire rate (3125 bytes per second). Its parts build it on the
// real USB streaming engine, give it the real stream manager and a real MIDI router linked to the
// engine's codec, so MIDI runs between router clients and a simulated device's USB-MIDI bulk
// endpoints. The fixture plugs in such a device (a variant with four cables) and reaches its
// parts.
#pragma once

#include <KernelTestApi.h>
#include <KsHostApi.h>
#include <UsbDescriptorSet.h>
#include <UsbTestApi.h>

#include <chrono>
#include <vector>

#include "EngineTestDeviceModel.h"
#include "LoadedDriverFixture.h"
#include "engine/UsbStreamingEngine.h"
#include "midi/MidiClients.h"
#include "midi/MidiRouter.h"

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

// Records what a reader is given, message by message.
class CollectingReaderOwner final : public MidiReaderOwner
{
public:
    LONG Deliver(MidiReader*, LONGLONG time, const UCHAR* bytes, ULONG count, bool) override
    {
        received.insert(received.end(), bytes, bytes + count);
        times.push_back(time);
        return 0;
    }
    void DataAvailable(MidiReader*) override {}
    void PortTableChanged(MidiReader*, ULONG) override {}

    std::vector<UCHAR> received;
    std::vector<LONGLONG> times;
};

class CountingWriterOwner final : public MidiWriterOwner
{
public:
    void BufferDone(MidiWriter*, const UCHAR*) override { ++buffersDone; }
    void PortTableChanged(MidiWriter*, ULONG) override {}

    size_t buffersDone = 0;
};

class MidiDeviceFixture : public LoadedDriverFixture
{
protected:
    void SetUp() override;

    // A class 1 variant (full speed, 64-byte MIDI endpoints) with four cables unless given.
    static UsbSim::ProductVariant MidiVariant();
    Platform::Ks::Device* PlugInMidi(const UsbSim::ProductVariant& variant);
    static void Run(std::chrono::milliseconds duration);
    // The performance counter as the engine reads it, in 100 ns.
    static LONGLONG Now100ns();

    DeviceContext* Context() { return ContextOf(device); }
    UsbStreamingEngine* Engine();
    MidiRouter* Router() { return Context()->midiRouter; }
    UsbMidiPipes* Pipes() { return Engine()->Transport()->MidiPipes(); }
    UsbSim::SimulatedUsbDevice& UsbDevice() { return usbDevices_.LastDevice(); }
    UsbSim::SimulatedUsbBus& Bus() { return usbDevices_.LastBus(); }
    LONG TickState() { return Engine()->MidiTick()->TickState(); }

    MidiDeviceParts parts;
    Platform::Ks::Device* device = nullptr;
};
