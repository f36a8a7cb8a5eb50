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

InputDeviceModel::InputDeviceModel(DeviceLink link, PCWSTR path,
                                   StreamingEngineFactory* engineFactory)
    : DeviceModel(link, path), factory(engineFactory)
{
    engine = factory->CreateEngine(this, link, registryPath);
}

InputDeviceModel::~InputDeviceModel()
{
    if (engine != nullptr) {
        factory->DestroyEngine(engine);
    }
    StopStatusTimer();
}

NTSTATUS InputDeviceModel::Start()
{
    StreamConfiguration configuration;
    MidiConfiguration midi = {};
    GetConfiguration(0, &configuration);
    GetMidiConfiguration(0, &midi);
    SetStreamConfiguration(&configuration, -1);
    SetMidiConfiguration(&midi);
    engine->SetStartupInterval(15);
    return DeviceModel::Start();
}

PCWSTR InputDeviceModel::GetHardwareId()
{
    return u"USB\\VID_2B7E&PID_5C19&MI_00";
}

void InputDeviceModel::GetDeviceChannelCounts(ULONG* outputs, ULONG* inputs)
{
    *outputs = 2;
    *inputs = 2;
}

LONG InputDeviceModel::GetClockSourceRecord(ClockSourceRecord* record)
{
    RtlZeroMemory(record, sizeof *record);
    record->count = 1;
    record->entries[0].isCurrent = 1;
    const char name[] = "Internal";
    RtlCopyMemory(record->entries[0].name, name, sizeof name);
    return selectedClockSource;
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
    if (model->engine == nullptr) {
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

StreamManager* InputDeviceParts::CreateStreamManager(StreamingEngine* engine,
                                                     DeviceStreamSink* sink)
{
    return ::CreateStreamManager(engine, sink);
}

void InputDeviceParts::DestroyStreamManager(StreamManager* manager)
{
    ::DestroyStreamManager(manager);
}

// No USB-MIDI router: a placeholder block, so that the device can be added.
MidiRouter* InputDeviceParts::CreateMidiRouter(StreamingEngine*)
{
    return static_cast<MidiRouter*>(ExAllocatePoolWithTag(NonPagedPoolNx, 16, kTagInputParts));
}

void InputDeviceParts::DestroyMidiRouter(MidiRouter* router)
{
    ExFreePoolWithTag(router, kTagInputParts);
}

LONG InputDeviceParts::FindConfigurationRate(StreamManager* manager, ULONG rate)
{
    return ::FindConfigurationRate(manager, rate);
}

ULONG InputDeviceParts::ApplyRateIndex(StreamManager* manager, LONG rateIndex)
{
    return ::ApplyRateIndex(manager, rateIndex);
}
