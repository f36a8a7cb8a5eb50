// The device model with MIDI ports (beside the host's models) in the tests: the fixture plugs in
// such a device (a variant with four cables) and reaches its parts, and router clients that
// record what they are given.
#pragma once

#include <KernelTestApi.h>
#include <KsHostApi.h>
#include <UsbDescriptorSet.h>
#include <UsbTestApi.h>

#include <chrono>
#include <vector>

#include "EngineTestDeviceModel.h"
#include "LoadedDriverFixture.h"
#include "MidiPortDeviceModel.h"
#include "engine/UsbStreamingEngine.h"
#include "midi/MidiClients.h"
#include "midi/MidiRouter.h"

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
