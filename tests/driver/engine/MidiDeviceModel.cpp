#include "MidiDeviceModel.h"

#include <gtest/gtest.h>

#include <new>
#include <string>

#include "device/DeviceModelRecords.h"
#include "device/PoolTag.h"
#include "engine/StreamManagerParts.h"
#include "midi/MidiConfiguration.h"

// ---- The fixture -------------------------------------------------------------------------------

void MidiDeviceFixture::SetUp()
{
    LoadDriver(parts, DriverKey::Installed);
}

UsbSim::ProductVariant MidiDeviceFixture::MidiVariant()
{
    UsbSim::ProductVariant variant;
    variant.audioClass = 1;
    variant.midi = true;
    variant.midiCables = kMidiModelPorts;
    return variant;
}

Platform::Ks::Device* MidiDeviceFixture::PlugInMidi(const UsbSim::ProductVariant& variant)
{
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    device = PlugInDevice(UsbSim::BuildProductDescriptors(variant), true, &status);
    EXPECT_EQ(status, STATUS_SUCCESS);
    Platform::Kernel::RunPending();
    return device;
}

void MidiDeviceFixture::Run(std::chrono::milliseconds duration)
{
    Platform::Kernel::AdvanceTime(duration);
    Platform::Kernel::RunPending();
}

LONGLONG MidiDeviceFixture::Now100ns()
{
    LARGE_INTEGER frequency;
    const LARGE_INTEGER counter = KeQueryPerformanceCounter(&frequency);
    const LONGLONG perSecond = frequency.QuadPart;
    return counter.QuadPart / perSecond * 10000000 +
           counter.QuadPart % perSecond * 10000000 / perSecond;
}

UsbStreamingEngine* MidiDeviceFixture::Engine()
{
    return static_cast<UsbStreamingEngine*>(Context()->deviceModel->GetEngine());
}
