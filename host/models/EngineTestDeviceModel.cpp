#include "EngineTestDeviceModel.h"

#include "device/DeviceModelRecords.h"
#include "engine/StreamManagerParts.h"
#include "midi/MidiConfiguration.h"
#include "midi/MidiRouter.h"

EngineTestDeviceModel::EngineTestDeviceModel(DeviceLink link, PCWSTR path,
                                             StreamingEngineFactory* engineFactory)
    : DeviceModel(link, path), deviceLink(link), factory(engineFactory)
{
}

bool EngineTestDeviceModel::CreateEngine()
{
    engine = factory->CreateEngine(this, deviceLink, registryPath);
    return engine != nullptr;
}

EngineTestDeviceModel::~EngineTestDeviceModel()
{
    if (engine != nullptr) {
        factory->DestroyEngine(engine);
    }
    StopStatusTimer();
}

NTSTATUS EngineTestDeviceModel::Start()
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

PCWSTR EngineTestDeviceModel::GetHardwareId()
{
    return u"USB\\VID_2B7E&PID_5C19&MI_00";
}

LONG EngineTestDeviceModel::GetClockSourceRecord(ClockSourceRecord* record)
{
    RtlZeroMemory(record, sizeof *record);
    record->count = 1;
    record->entries[0].isCurrent = 1;
    const char name[] = "Internal";
    RtlCopyMemory(record->entries[0].name, name, sizeof name);
    return selectedClockSource;
}

StreamManager* EngineTestDeviceParts::CreateStreamManager(StreamingEngine* engine,
                                                          DeviceStreamSink* sink)
{
    return ::CreateStreamManager(engine, sink);
}

void EngineTestDeviceParts::DestroyStreamManager(StreamManager* manager)
{
    ::DestroyStreamManager(manager);
}

// The real router on the engine's codec, as the product's parts make it.
MidiRouter* EngineTestDeviceParts::CreateMidiRouter(StreamingEngine* engine)
{
    UsbMidiCodec* codec = static_cast<UsbStreamingEngine*>(engine)->MidiCodec();
    return codec != nullptr ? MidiRouter::Create(codec) : nullptr;
}

void EngineTestDeviceParts::DestroyMidiRouter(MidiRouter* router)
{
    router->Destroy();
}

LONG EngineTestDeviceParts::FindConfigurationRate(StreamManager* manager, ULONG rate)
{
    return ::FindConfigurationRate(manager, rate);
}

ULONG EngineTestDeviceParts::ApplyRateIndex(StreamManager* manager, LONG rateIndex)
{
    return ::ApplyRateIndex(manager, rateIndex);
}
