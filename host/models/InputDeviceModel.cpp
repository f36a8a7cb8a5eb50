#include "InputDeviceModel.h"

#include <new>

#include "device/DeviceModelRecords.h"
#include "device/PoolTag.h"
#include "device/ProductConfigurations.h"
#include "engine/MidiConfiguration.h"
#include "engine/StreamManagerParts.h"

namespace {

constexpr ULONG kTagInputParts = PoolTag("TsIn");

const ULONG kInputKinds[] = {ChannelKindTag("line"), ChannelKindTag("line")};
const PCWSTR kInputNames[] = {u"In 1", u"In 2"};
const ChannelLayout kInputLayouts[] = {{kSampleInt24LE, 2, 0, 0}};

}  // namespace

void InputDeviceModel::GetDeviceChannelCounts(ULONG* outputs, ULONG* inputs)
{
    *outputs = 2;
    *inputs = 2;
}

// The product's configurations with the two inputs added.
LONG InputDeviceModel::GetConfiguration(ULONG index, StreamConfiguration* record)
{
    const LONG result = DeviceModel::GetConfiguration(index, record);
    record->deviceInputChannels = 2;
    record->inputChannels = 2;
    record->inputChannelKinds = kInputKinds;
    record->inputChannelNames = kInputNames;
    record->inputLayouts = {1, kInputLayouts};
    return result;
}

UsbConfigRecord InputDeviceUsbRecord(bool capture, bool feedback)
{
    UsbConfigRecord record = ProductUsbRecord();
    record.alternateSettings[2] = capture ? 1 : 0;
    record.feedback = feedback ? 1 : 0;
    return record;
}

DeviceModel* InputDeviceParts::CreateDeviceModel(DeviceLink deviceLink, PCWSTR registryPath)
{
    void* memory = ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(InputDeviceModel), kTagInputParts);
    if (memory == nullptr) {
        return nullptr;
    }
    auto* model = new (memory) InputDeviceModel(deviceLink, registryPath, &engines);
    if (!model->CreateEngine()) {
        DestroyDeviceModel(model);
        return nullptr;
    }
    return model;
}

void InputDeviceParts::DestroyDeviceModel(DeviceModel* model)
{
    auto* inputModel = static_cast<InputDeviceModel*>(model);
    inputModel->~InputDeviceModel();
    ExFreePoolWithTag(inputModel, kTagInputParts);
}
