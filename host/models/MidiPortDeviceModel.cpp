#include "MidiPortDeviceModel.h"

#include <new>

#include "device/PoolTag.h"
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
