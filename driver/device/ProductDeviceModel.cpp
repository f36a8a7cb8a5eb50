// Construction, identity, start and stop, and the simple answers of the product's device model.
#include "ProductDeviceModel.h"

#include <new>

#include "PersistedSetting.h"
#include "PoolTag.h"
#include "ProductConfigurations.h"
#include "engine/MidiConfiguration.h"
#include "engine/StreamingEngine.h"

namespace {

constexpr ULONG kVendorId = 11134;   // 0x2B7E
constexpr ULONG kProductId = 23577;  // 0x5C19
constexpr LONG kEFail = static_cast<LONG>(0x80004005);
constexpr LONG kENotImpl = static_cast<LONG>(0x80004001);
constexpr ULONG kExtendedInfoBytes = 1024;

void PollStatusCallback(PVOID argument)
{
    static_cast<ProductDeviceModel*>(argument)->PollStatus();
}

}  // namespace

ProductDeviceModel::ProductDeviceModel(DeviceLink link, PCWSTR path,
                                       StreamingEngineFactory* engineFactory)
    : deviceLink(link), factory(engineFactory)
{
    ConstructPeriodicTimer(&statusTimer, link, kStatusTimerPeriodMs, PollStatusCallback, this);
    KeInitializeSpinLock(&configurationLock);
    for (size_t i = 0; path != nullptr && path[i] != 0 && i + 1 < kModelRegistryPathCharacters;
         ++i) {
        registryPath[i] = path[i];
    }
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
    model->statusTimer.StopTimer();
    model->~ProductDeviceModel();
    ExFreePoolWithTag(model, kTagDeviceObjects);
}

void ProductDeviceModel::SetOwner(DeviceContext* context)
{
    owner = context;
}

NTSTATUS ProductDeviceModel::LoadSetting()
{
    engine->SetTransfersAhead(LoadPersistedValue(engine), true);
    return STATUS_SUCCESS;
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
    return StartBase();
}

NTSTATUS ProductDeviceModel::StartBase()
{
    if (started != 0) {
        return STATUS_SUCCESS;
    }
    const NTSTATUS status = engine->InitializeEngine();
    if (!NT_SUCCESS(status)) {
        return status;
    }
    BuildSupportedRates();

    StreamConfiguration current;
    engine->GetEngineConfiguration(&current);
    if (current.inputChannels != 0 || current.outputChannels != 0) {
        LONG index = -1;
        ULONG rateIndex = 0;
        ULONG rate = 0;
        engine->GetRoutingState(&index, &rateIndex, &rate);
        // From -1 the selection of the internal clock always counts as a change and notifies.
        selectedClockSource = -1;
        if (NT_SUCCESS(SetClockSource(0))) {
            engine->SetRate(index, rateIndex);
        } else {
            selectedClockSource = 0;
            if (NT_SUCCESS(engine->SetRate(index, rateIndex))) {
                selectedClockSource = -1;
                if (!NT_SUCCESS(SetClockSource(0))) {
                    selectedClockSource = 0;
                }
            }
        }
    }
    if (owner != nullptr) {
        owner->generalSink->OnDeviceStarted();
    }
    started = 1;
    return status;
}

void ProductDeviceModel::Stop(ULONG reason)
{
    engine->StopEngine();
    if (reason == kStopAfterSurpriseRemoval) {
        engine->DropSysExMessages();
    }
    statusTimer.StopTimer();
    started = 0;
}

bool ProductDeviceModel::IsStarted()
{
    return started != 0;
}

void ProductDeviceModel::GetDeviceChannelCounts(ULONG* outputs, ULONG* inputs)
{
    *outputs = 2;
    *inputs = 0;
}

void ProductDeviceModel::GetMidiPortCounts(ULONG* ports, ULONG* second)
{
    *ports = 0;
    *second = 0;
}

void ProductDeviceModel::GetCurrentConfiguration(StreamConfiguration* record)
{
    engine->GetEngineConfiguration(record);
}

NTSTATUS ProductDeviceModel::GetMidiPortInfo(MidiPortInfo* record)
{
    return engine->GetMidiPortInfo(record);
}

ULONGLONG ProductDeviceModel::GetInterruptTime()
{
    return KeQueryInterruptTime();
}

PCWSTR ProductDeviceModel::GetHardwareId()
{
    return u"USB\\VID_2B7E&PID_5C19&MI_00";
}

ULONG ProductDeviceModel::GetVendorId()
{
    return kVendorId;
}

ULONG ProductDeviceModel::GetProductId()
{
    return kProductId;
}

PCWSTR ProductDeviceModel::GetProductNameWide()
{
    GetProductId();
    return u"Quorvel";
}

PCSTR ProductDeviceModel::GetProductNameNarrow()
{
    GetProductId();
    return "Quorvel";
}

ULONG ProductDeviceModel::GetDefaultBufferSize()
{
    return 512;
}

ULONG ProductDeviceModel::GetMaxRateKilohertz()
{
    return 96;
}

NTSTATUS ProductDeviceModel::GetCallbackDelay(ULONG* value)
{
    return engine->GetCallbackDelay(value);
}

void ProductDeviceModel::SetCallbackDelay(ULONG value)
{
    engine->SetTransfersAhead(value > kMaxTransfersAhead ? kMaxTransfersAhead : value, false);
}

ULONG ProductDeviceModel::GetMinimumBlock()
{
    return 16;
}

void ProductDeviceModel::GetFirmwareVersion(ULONG* major, ULONG* minor, ULONG* revision,
                                            ULONG* build)
{
    engine->ReadFirmwareVersion(false, major, minor, revision, build);
}

NTSTATUS ProductDeviceModel::RawGet(const RawDeviceRequest* request, PVOID buffer)
{
    return engine->RawDeviceGet(request, buffer);
}

NTSTATUS ProductDeviceModel::RawSet(const RawDeviceRequest* request, PVOID buffer)
{
    return engine->RawDeviceSet(request, buffer);
}

NTSTATUS ProductDeviceModel::SetOutputModeValue(ULONG)
{
    return STATUS_UNSUCCESSFUL;
}

NTSTATUS ProductDeviceModel::EnableOutputMode(bool)
{
    return STATUS_UNSUCCESSFUL;
}

bool ProductDeviceModel::IsOutputModeActive()
{
    return outputModeActive != 0;
}

bool ProductDeviceModel::IsHighSpeed()
{
    return engine->IsHighSpeed();
}

LONG ProductDeviceModel::SetControlSwitch(bool, ULONG)
{
    return kEFail;
}

LONG ProductDeviceModel::GetControlValue(ULONG* value)
{
    *value = 0;
    return kENotImpl;
}

NTSTATUS ProductDeviceModel::GetExtendedInfo(PVOID buffer)
{
    if (buffer != nullptr) {
        RtlZeroMemory(buffer, kExtendedInfoBytes);
    }
    return STATUS_SUCCESS;
}

NTSTATUS ProductDeviceModel::GetKeepRunning(UCHAR* on)
{
    *on = engine->GetKeepRunning() ? 1 : 0;
    return STATUS_SUCCESS;
}

NTSTATUS ProductDeviceModel::SetKeepRunning(bool on)
{
    return engine->SetKeepRunning(on) < 0 ? STATUS_UNSUCCESSFUL : STATUS_SUCCESS;
}

void ProductDeviceModel::GetSupportedRates(ULONG* count, const ULONG** rates)
{
    *count = supportedRateCount;
    *rates = supportedRates;
}

NTSTATUS ProductDeviceModel::GetMidiConfiguration(ULONG index, MidiConfiguration* record)
{
    record->index = index;
    record->inputPortCount = 0;
    record->outputPortCount = 0;
    return STATUS_SUCCESS;
}

void ProductDeviceModel::Reserved52() {}

StreamingEngine* ProductDeviceModel::GetEngine()
{
    return engine;
}

StreamingEngine* ProductDeviceModel::GetEngineAlias()
{
    return engine;
}

void ProductDeviceModel::BuildSupportedRates()
{
    supportedRates = ProductSupportedRates(&supportedRateCount);
}
