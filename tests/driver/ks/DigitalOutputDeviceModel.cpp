#include "DigitalOutputDeviceModel.h"

#include <new>

#include "device/PoolTag.h"

namespace {

constexpr ULONG kTagDigitalParts = PoolTag("TsDo");

}  // namespace

NTSTATUS DigitalOutputDeviceModel::EnableOutputMode(bool on)
{
    ++(on ? switchedOn : switchedOff);
    outputModeActive = on ? 1 : 0;
    return STATUS_SUCCESS;
}

DeviceModel* DigitalOutputDeviceParts::CreateDeviceModel(DeviceLink deviceLink, PCWSTR registryPath)
{
    void* memory =
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(DigitalOutputDeviceModel), kTagDigitalParts);
    if (memory == nullptr) {
        return nullptr;
    }
    auto* model = new (memory) DigitalOutputDeviceModel(deviceLink, registryPath, &engines);
    if (!model->CreateEngine()) {
        DestroyDeviceModel(model);
        return nullptr;
    }
    return model;
}

void DigitalOutputDeviceParts::DestroyDeviceModel(DeviceModel* model)
{
    auto* digital = static_cast<DigitalOutputDeviceModel*>(model);
    digital->~DigitalOutputDeviceModel();
    ExFreePoolWithTag(digital, kTagDigitalParts);
}
