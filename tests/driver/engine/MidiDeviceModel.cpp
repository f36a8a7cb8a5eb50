#include "MidiDeviceModel.h"

#include <gtest/gtest.h>

#include <new>
#include <string>

#include "device/DeviceModelRecords.h"
#include "device/PoolTag.h"
#include "engine/StreamManagerParts.h"
#include "midi/MidiConfiguration.h"

namespace {

constexpr ULONG kTagMidiParts = PoolTag("TsMi");

const PCWSTR kPortNames[kMidiModelPorts] = {u"MIDI 1", u"MIDI 2", u"MIDI 3", u"MIDI 4"};
const ULONG kPortIds[kMidiModelPorts] = {0, 1, 2, 3};
const ULONG kPortRates[kMidiModelPorts] = {kMidiWireRate, kMidiWireRate, kMidiWireRate,
                                           kMidiWireRate};

}  // namespace

void MidiDeviceModel::GetMidiPortCounts(ULONG* ports, ULONG* second)
{
    *ports = kMidiModelPorts;
    *second = 0;
}

NTSTATUS MidiDeviceModel::GetMidiConfiguration(ULONG index, MidiConfiguration* record)
{
    *record = {};
    record->index = index;
    record->inputPortCount = kMidiModelPorts;
    record->inputPortNames = kPortNames;
    record->inputPortIds = kPortIds;
    record->outputPortCount = kMidiModelPorts;
    record->outputPortNames = kPortNames;
    record->outputPortIds = kPortIds;
    record->outputByteRates = kPortRates;
    return STATUS_SUCCESS;
}

DeviceModel* MidiDeviceParts::CreateDeviceModel(DeviceLink deviceLink, PCWSTR registryPath)
{
    void* memory = ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(MidiDeviceModel), kTagMidiParts);
    if (memory == nullptr) {
        return nullptr;
    }
    auto* model = new (memory) MidiDeviceModel(deviceLink, registryPath, &engines);
    if (!model->CreateEngine()) {
        DestroyDeviceModel(model);
        return nullptr;
    }
    return model;
}

void MidiDeviceParts::DestroyDeviceModel(DeviceModel* model)
{
    auto* midiModel = static_cast<MidiDeviceModel*>(model);
    midiModel->~MidiDeviceModel();
    ExFreePoolWithTag(midiModel, kTagMidiParts);
}

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
