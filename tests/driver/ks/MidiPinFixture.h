// A device of the tests whose MIDI port table each test gives (names, ids, count each way), on
// the real engine, stream manager and MIDI router, with the driver's own endpoint naming creating
// its MIDI filters at start; a simulated device with USB-MIDI endpoints and a cable per port. A
// user process opens the filters and pins.
#pragma once

#include <KernelTestApi.h>
#include <KsHostApi.h>
#include <KsMidiFrames.h>
#include <KsPinHandle.h>
#include <UsbDescriptorSet.h>
#include <UsbTestApi.h>
#include <dmusicks.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "EngineTestDeviceModel.h"
#include "LoadedDriverFixture.h"
#include "engine/UsbStreamingEngine.h"
#include "ks/MidiFilter.h"
#include "midi/MidiRouter.h"

inline constexpr UCHAR kPinMidiOutEndpoint = 0x03;
inline constexpr UCHAR kPinMidiInEndpoint = 0x83;
inline constexpr ULONG kPinMidiWireRate = 3125;  // bytes per second of every output port

struct MidiPort
{
    std::u16string name;
    LONG id;
};

struct MidiPortTable
{
    std::vector<MidiPort> inputs;
    std::vector<MidiPort> outputs;
};

// Two inputs and three outputs: "Port A" and "Port B" each way, "Port C" out only.
MidiPortTable TwoInThreeOut();

class MidiPinDeviceModel final : public EngineTestDeviceModel
{
public:
    using EngineTestDeviceModel::EngineTestDeviceModel;

    void GetMidiPortCounts(ULONG* ports, ULONG* second) override;
    NTSTATUS GetMidiConfiguration(ULONG index, MidiConfiguration* record) override;
};

class MidiPinDeviceParts final : public EngineTestDeviceParts
{
public:
    DeviceModel* CreateDeviceModel(DeviceLink deviceLink, PCWSTR registryPath) override;
    void DestroyDeviceModel(DeviceModel* model) override;

private:
    UsbStreamingEngineFactory engines;
};

class MidiPinTest : public LoadedDriverFixture
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Plugs in and starts a device with these ports.
    Platform::Ks::Device* PlugIn(const MidiPortTable& table);
    static void Run(std::chrono::milliseconds duration);
    static LONGLONG Now100ns();

    Platform::Ks::FilterHandle* OpenFilter(const GUID& category, const std::u16string& reference);
    Platform::Ks::PinHandle* OpenPin(Platform::Ks::FilterHandle* filter, ULONG pinId,
                                     bool directMusic, NTSTATUS* status = nullptr);
    // The MIDI filters the device's factories carry, in factory order.
    std::vector<MidiFilter*> MidiFilters();

    DeviceContext* Context() { return ContextOf(device); }
    MidiRouter* Router() { return Context()->midiRouter; }
    UsbSim::SimulatedUsbDevice& UsbDevice() { return usbDevices_.LastDevice(); }
    // What reached the device on the MIDI OUT endpoint since the last call, as 4-byte packets.
    std::vector<std::vector<uint8_t>> TakeOutPackets();
    // Queues input event packets on the MIDI IN endpoint.
    void QueueIn(const std::vector<uint8_t>& packets);

    MidiPinDeviceParts parts;
    Platform::Kernel::UserProcess process_;
    Platform::Ks::Device* device = nullptr;
    std::vector<std::unique_ptr<Platform::Ks::FilterHandle>> filters_;
    std::vector<std::unique_ptr<Platform::Ks::PinHandle>> pins_;
};
