// Construction, identity, start and stop, and the simple answers every device model shares.
#include "DeviceModel.h"

#include "DeviceModelRecords.h"
#include "PersistedSetting.h"
#include "ProductConfigurations.h"
#include "StreamConfiguration.h"
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
    static_cast<DeviceModel*>(argument)->PollStatus();
}

}  // namespace

DeviceModel::DeviceModel(DeviceLink link, PCWSTR path) : deviceLink(link)
{
    ConstructPeriodicTimer(&statusTimer, link, kStatusTimerPeriodMs, PollStatusCallback, this);
    KeInitializeSpinLock(&configurationLock);
    for (size_t i = 0; path != nullptr && path[i] != 0 && i + 1 < kModelRegistryPathCharacters;
         ++i) {
        registryPath[i] = path[i];
    }
}

void DeviceModel::SetOwner(DeviceContext* context)
{
    owner = context;
}

NTSTATUS DeviceModel::LoadSetting()
{
    StreamingEngine* engine = GetEngine();
    engine->SetTransfersAhead(LoadPersistedValue(engine), true);
    return STATUS_SUCCESS;
}

NTSTATUS DeviceModel::Start()
{
    if (started != 0) {
        return STATUS_SUCCESS;
    }
    const NTSTATUS status = GetEngine()->InitializeEngine();
    if (!NT_SUCCESS(status)) {
        return status;
    }
    BuildSupportedRates();

    StreamConfiguration current;
    GetEngine()->GetEngineConfiguration(&current);
    if (current.inputChannels != 0 || current.outputChannels != 0) {
        LONG index = -1;
        ULONG rateIndex = 0;
        ULONG rate = 0;
        GetEngine()->GetRoutingState(&index, &rateIndex, &rate);
        // From -1 the selection of the internal clock always counts as a change and notifies.
        selectedClockSource = -1;
        if (NT_SUCCESS(SetClockSource(0))) {
            GetEngine()->SetRate(index, rateIndex);
        } else {
            selectedClockSource = 0;
            if (NT_SUCCESS(GetEngine()->SetRate(index, rateIndex))) {
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

void DeviceModel::Stop(ULONG reason)
{
    GetEngine()->StopEngine();
    if (reason == kStopAfterSurpriseRemoval) {
        GetEngine()->DropSysExMessages();
    }
    statusTimer.StopTimer();
    started = 0;
}

bool DeviceModel::IsStarted()
{
    return started != 0;
}

void DeviceModel::GetDeviceChannelCounts(ULONG* outputs, ULONG* inputs)
{
    *outputs = 2;
    *inputs = 0;
}

void DeviceModel::GetMidiPortCounts(ULONG* ports, ULONG* second)
{
    *ports = 0;
    *second = 0;
}

void DeviceModel::GetCurrentConfiguration(StreamConfiguration* record)
{
    GetEngine()->GetEngineConfiguration(record);
}

NTSTATUS DeviceModel::GetMidiPortInfo(MidiConfiguration* record)
{
    return GetEngine()->GetMidiPortInfo(record);
}

ULONGLONG DeviceModel::GetInterruptTime()
{
    return KeQueryInterruptTime();
}

PCWSTR DeviceModel::GetHardwareId()
{
    // Only a device's own class knows the ID it serves; reaching this is a driver built wrong.
    KeBugCheckEx(kBugCheckDeviceModelIncomplete, 0, 0, 0, 0);
}

ULONG DeviceModel::GetVendorId()
{
    return kVendorId;
}

ULONG DeviceModel::GetProductId()
{
    return kProductId;
}

PCWSTR DeviceModel::GetProductNameWide()
{
    GetProductId();
    return u"Quorvel";
}

PCSTR DeviceModel::GetProductNameNarrow()
{
    GetProductId();
    return "Quorvel";
}

ULONG DeviceModel::GetDefaultBufferSize()
{
    return 512;
}

ULONG DeviceModel::GetMaxRateKilohertz()
{
    return 96;
}

NTSTATUS DeviceModel::GetCallbackDelay(ULONG* value)
{
    return GetEngine()->GetCallbackDelay(value);
}

void DeviceModel::SetCallbackDelay(ULONG value)
{
    GetEngine()->SetTransfersAhead(value > kMaxTransfersAhead ? kMaxTransfersAhead : value, false);
}

ULONG DeviceModel::GetMinimumBlock()
{
    return 16;
}

void DeviceModel::GetFirmwareVersion(ULONG* major, ULONG* minor, ULONG* revision, ULONG* build)
{
    GetEngine()->ReadFirmwareVersion(false, major, minor, revision, build);
}

NTSTATUS DeviceModel::RawGet(const RawDeviceRequest* request, PVOID buffer)
{
    return GetEngine()->RawDeviceGet(request, buffer);
}

NTSTATUS DeviceModel::RawSet(const RawDeviceRequest* request, PVOID buffer)
{
    return GetEngine()->RawDeviceSet(request, buffer);
}

NTSTATUS DeviceModel::SetOutputModeValue(ULONG)
{
    return STATUS_UNSUCCESSFUL;
}

NTSTATUS DeviceModel::EnableOutputMode(bool)
{
    return STATUS_UNSUCCESSFUL;
}

bool DeviceModel::IsOutputModeActive()
{
    return outputModeActive != 0;
}

bool DeviceModel::IsHighSpeed()
{
    return GetEngine()->IsHighSpeed();
}

LONG DeviceModel::SetControlSwitch(bool, ULONG)
{
    return kEFail;
}

LONG DeviceModel::GetControlValue(ULONG* value)
{
    *value = 0;
    return kENotImpl;
}

NTSTATUS DeviceModel::GetExtendedInfo(PVOID buffer)
{
    if (buffer != nullptr) {
        RtlZeroMemory(buffer, kExtendedInfoBytes);
    }
    return STATUS_SUCCESS;
}

NTSTATUS DeviceModel::GetKeepRunning(UCHAR* on)
{
    *on = GetEngine()->GetKeepRunning() ? 1 : 0;
    return STATUS_SUCCESS;
}

NTSTATUS DeviceModel::SetKeepRunning(bool on)
{
    return GetEngine()->SetKeepRunning(on) < 0 ? STATUS_UNSUCCESSFUL : STATUS_SUCCESS;
}

void DeviceModel::GetSupportedRates(ULONG* count, const ULONG** rates)
{
    *count = supportedRateCount;
    *rates = supportedRates;
}

NTSTATUS DeviceModel::GetMidiConfiguration(ULONG index, MidiConfiguration* record)
{
    record->index = index;
    record->inputPortCount = 0;
    record->outputPortCount = 0;
    return STATUS_SUCCESS;
}

void DeviceModel::Reserved52() {}

void DeviceModel::BuildSupportedRates()
{
    supportedRates = ProductSupportedRates(&supportedRateCount);
}
