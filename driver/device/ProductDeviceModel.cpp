// The product's device class: its construction, and what the base leaves to a device.
#include "ProductDeviceModel.h"

#include <new>

#include "PoolTag.h"
#include "engine/MidiConfiguration.h"
#include "engine/StreamingEngine.h"

ProductDeviceModel::ProductDeviceModel(DeviceLink link, PCWSTR path,
                                       StreamingEngineFactory* engineFactory)
    : DeviceModel(link, path), factory(engineFactory)
{
}

ProductDeviceModel* CreateProductDeviceModel(DeviceLink deviceLink, PCWSTR registryPath,
                                             StreamingEngineFactory* engineFactory)
{
    void* memory =
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(ProductDeviceModel), kTagDeviceObjects);
    if (memory == nullptr) {
        return nullptr;
    }
    auto* model = new (memory) ProductDeviceModel(deviceLink, registryPath, engineFactory);
    model->engine = engineFactory->CreateEngine(model, deviceLink, model->registryPath);
    if (model->engine == nullptr) {
        DestroyProductDeviceModel(model);
        return nullptr;
    }
    return model;
}

void DestroyProductDeviceModel(ProductDeviceModel* model)
{
    if (model->engine != nullptr) {
        model->factory->DestroyEngine(model->engine);
        model->engine = nullptr;
    }
    model->StopStatusTimer();
    model->~ProductDeviceModel();
    ExFreePoolWithTag(model, kTagDeviceObjects);
}

NTSTATUS ProductDeviceModel::Start()
{
    StreamConfiguration configuration;
    MidiConfiguration midi = {};
    GetConfiguration(0, &configuration);
    GetMidiConfiguration(0, &midi);
    SetStreamConfiguration(&configuration, -1);
    SetMidiConfiguration(&midi);
    engine->SetStartupInterval(kRoutingStartupIntervalMs);
    return DeviceModel::Start();
}

PCWSTR ProductDeviceModel::GetHardwareId()
{
    return u"USB\\VID_2B7E&PID_5C19&MI_00";
}

StreamingEngine* ProductDeviceModel::GetEngine()
{
    return engine;
}

StreamingEngine* ProductDeviceModel::GetEngineAlias()
{
    return engine;
}

LONG ProductDeviceModel::GetClockSourceRecord(ClockSourceRecord* record)
{
    RtlZeroMemory(record, sizeof *record);
    record->count = 1;
    ClockSourceEntry& internal = record->entries[0];
    internal.index = 0;
    internal.channel = 0;
    internal.group = 0;
    internal.isCurrent = selectedClockSource == 0 ? 1 : 0;
    const char name[] = "Internal";
    RtlCopyMemory(internal.name, name, sizeof name);
    return selectedClockSource;
}

NTSTATUS ProductDeviceModel::SetClockSource(LONG index)
{
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    // Only the internal clock exists: only a change to it succeeds.
    if (index != selectedClockSource && index == 0) {
        selectedClockSource = 0;
        NotifyClockState(clockStatus, engine->ReadCurrentRate());
        status = STATUS_SUCCESS;
    }
    if (selectedClockSource != 0) {
        statusTimer.StartTimer(kStatusTimerPeriodMs);
    } else {
        statusTimer.StopTimer();
    }
    return status;
}
