#include "UsbStreamingEngine.h"

#include <new>

#include "EngineDeviceRequests.h"
#include "audio/DriverResult.h"
#include "device/DeviceModel.h"
#include "device/PoolTag.h"
#include "midi/UsbMidiCodec.h"

namespace {

constexpr ULONG kTagEngine = PoolTag("XiMw");
// Frames the stream set keeps free beyond what it rings up for the device.
constexpr ULONG kBufferReserveFrames = 400;

}  // namespace

UsbConfigRecord ProductUsbRecord()
{
    UsbConfigRecord record{};
    record.alternateSettings[1] = 1;
    return record;
}

UsbStreamingEngine::UsbStreamingEngine(DeviceModel* owner, DeviceLink deviceLink,
                                       PCWSTR registryPath, const UsbConfigRecord& record)
    : model(owner),
      link(deviceLink),
      usbRecord(record),
      transport(ContextFromLink(deviceLink)),
      routing(this),
      streaming(ContextFromLink(deviceLink), &transport, this, this)
{
    InitializeSettingNames(&names, registryPath);
    midiTick.Construct(deviceLink, transport.MidiPipes());
    ULONG midiPorts = 0;
    ULONG unused = 0;
    model->GetMidiPortCounts(&midiPorts, &unused);
    midiCodec = UsbMidiCodec::Create(&midiTick, midiPorts);
    midiTick.SetMidiLinks(midiCodec, nullptr);
}

UsbStreamingEngine::~UsbStreamingEngine()
{
    // The device model stops the engine first; this only covers a model that never did.
    midiTick.Destroy();
    streaming.StopEngine();
    transport.ReleaseUsb();
    if (midiCodec != nullptr) {
        midiCodec->Destroy();
    }
}

// ---- The engine's table ------------------------------------------------------------------------

bool UsbStreamingEngine::IsStreaming()
{
    return streaming.IsStreaming();
}

bool UsbStreamingEngine::IsTickActive()
{
    return midiTick.IsTickActive();
}

void UsbStreamingEngine::RequestTick(ULONG value)
{
    midiTick.RequestTick(value);
}

void UsbStreamingEngine::ApplyStreamConfiguration(const StreamConfiguration* record)
{
    LONG configurationIndex = -1;
    ULONG rateIndex = 0;
    ULONG rate = 0;
    routing.GetRoutingState(&configurationIndex, &rateIndex, &rate);
    streaming.ApplyStreamConfiguration(record, rateIndex);
}

void UsbStreamingEngine::ApplyMidiConfiguration(const MidiConfiguration* record)
{
    midiTick.ApplyMidiConfiguration(record);
}

NTSTATUS UsbStreamingEngine::SetRate(LONG configurationIndex, ULONG rateIndex)
{
    return streaming.SetRate(configurationIndex, rateIndex);
}

LONG UsbStreamingEngine::RunControl(ULONG on)
{
    return streaming.RunControl(on);
}

PVOID UsbStreamingEngine::GetUsbPointer()
{
    return &transport;
}

ULONG UsbStreamingEngine::GetBufferReserve()
{
    return kBufferReserveFrames;
}

NTSTATUS UsbStreamingEngine::GetCallbackDelay(ULONG* value)
{
    return streaming.GetCallbackDelay(value);
}

// The persisted setting names the device by its IDs before the device model starts the
// transport: the descriptors are read on first use.
USHORT UsbStreamingEngine::GetDeviceVendorId()
{
    if (transport.DeviceDescriptor() == nullptr && KeGetCurrentIrql() == PASSIVE_LEVEL) {
        transport.ReadDescriptors();
    }
    return DeviceVendorId(&transport);
}

USHORT UsbStreamingEngine::GetDeviceProductId()
{
    if (transport.DeviceDescriptor() == nullptr && KeGetCurrentIrql() == PASSIVE_LEVEL) {
        transport.ReadDescriptors();
    }
    return DeviceProductId(&transport);
}

NTSTATUS UsbStreamingEngine::RawDeviceGet(const RawDeviceRequest* request, PVOID buffer)
{
    return SendRawDeviceRequest(&transport, request, buffer, true);
}

NTSTATUS UsbStreamingEngine::RawDeviceSet(const RawDeviceRequest* request, PVOID buffer)
{
    return SendRawDeviceRequest(&transport, request, buffer, false);
}

void UsbStreamingEngine::ReadFirmwareVersion(bool decimalForm, ULONG* major, ULONG* minor,
                                             ULONG* revision, ULONG* build)
{
    if (transport.DeviceDescriptor() == nullptr && KeGetCurrentIrql() == PASSIVE_LEVEL) {
        transport.ReadDescriptors();
    }
    ::ReadFirmwareVersion(&transport, decimalForm, major, minor, revision, build);
}

NTSTATUS UsbStreamingEngine::SendClassRequest(ULONG, USHORT value, USHORT index, bool flag)
{
    return SendEngineClassRequest(&transport, value, index, flag);
}

// ---- What the device model asks ----------------------------------------------------------------

NTSTATUS UsbStreamingEngine::InitializeEngine()
{
    const NTSTATUS status = streaming.InitializeEngine(usbRecord);
    if (NT_SUCCESS(status)) {
        midiTick.ResumeAfterStart();
    }
    return status;
}

bool UsbStreamingEngine::IsInitialized()
{
    return streaming.IsInitialized();
}

// The tick and its MIDI pipes stop before the transport goes; a running tick stays marked and
// resumes with the next InitializeEngine.
void UsbStreamingEngine::StopEngine()
{
    midiTick.StopKeeping();
    streaming.StopEngine();
}

void UsbStreamingEngine::DropSysExMessages()
{
    if (midiCodec != nullptr) {
        midiCodec->DropSysExMessages();
    }
}

void UsbStreamingEngine::SetTransfersAhead(ULONG value, bool markLoaded)
{
    streaming.SetTransfersAhead(value, markLoaded);
}

void UsbStreamingEngine::GetEngineConfiguration(StreamConfiguration* record)
{
    *record = streaming.Configuration();
}

LONG UsbStreamingEngine::ConfigureRouting(const StreamConfiguration* record, LONG rateIndex)
{
    return routing.ConfigureRouting(record, rateIndex);
}

void UsbStreamingEngine::GetRoutingState(LONG* configurationIndex, ULONG* rateIndex, ULONG* rate)
{
    routing.GetRoutingState(configurationIndex, rateIndex, rate);
}

ULONG UsbStreamingEngine::ChangeRate(LONG* configurationIndex, ULONG rateIndex)
{
    return routing.ChangeRate(configurationIndex, rateIndex);
}

void UsbStreamingEngine::SetStartupInterval(ULONG milliseconds)
{
    routing.SetStartupInterval(milliseconds);
}

bool UsbStreamingEngine::HasActiveStreams()
{
    return routing.HasActiveStreams();
}

ULONG UsbStreamingEngine::ReadCurrentRate()
{
    if (streaming.IsStreaming() && model->IsExternalClockSelected()) {
        return transport.EffectiveRate();
    }
    LONG configurationIndex = -1;
    ULONG rateIndex = 0;
    ULONG rate = 0;
    routing.GetRoutingState(&configurationIndex, &rateIndex, &rate);
    return rate;
}

// This device family cannot report an external clock's rate or lock.
LONG UsbStreamingEngine::ReadHardwareRate(ULONG* rate, bool* locked)
{
    *rate = 0;
    *locked = false;
    return E_NOTIMPL;
}

ULONG UsbStreamingEngine::MeasuredRate()
{
    return transport.EffectiveRate();
}

bool UsbStreamingEngine::IsHighSpeed()
{
    return transport.HighSpeed();
}

NTSTATUS UsbStreamingEngine::QueryUsbLocation(PUSB_TOPOLOGY_ADDRESS address)
{
    return transport.QueryUsbLocation(address);
}

void UsbStreamingEngine::GetMatrixSize(ULONG* rows, ULONG* columns)
{
    routing.GetMatrixSize(rows, columns);
}

NTSTATUS UsbStreamingEngine::ReadMatrixRow(ULONG row, ULONG firstColumn, ULONG count,
                                           SampleGain* gains)
{
    return routing.ReadMatrixRow(row, firstColumn, count, gains);
}

NTSTATUS UsbStreamingEngine::WriteMatrixRow(ULONG row, ULONG firstColumn, ULONG count,
                                            const SampleGain* gains)
{
    return routing.WriteMatrixRow(row, firstColumn, count, gains);
}

void UsbStreamingEngine::MarkMixerUsed()
{
    routing.MarkMixerUsed();
}

ULONG UsbStreamingEngine::TakePeaks(bool input, ULONG* peaks, ULONG maxCount)
{
    return routing.TakePeaks(input, peaks, maxCount);
}

bool UsbStreamingEngine::GetKeepRunning()
{
    return routing.GetKeepRunningSetting();
}

LONG UsbStreamingEngine::SetKeepRunning(bool on)
{
    return routing.SetKeepRunningSetting(on);
}

// The codec's port table, index -1 before any was set.
NTSTATUS UsbStreamingEngine::GetMidiPortInfo(MidiConfiguration* record)
{
    if (record == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (midiCodec == nullptr) {
        *record = {};
        record->index = static_cast<ULONG>(-1);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    midiCodec->GetPortTable(record);
    return STATUS_SUCCESS;
}

// Output ports beyond the codec's queues (the device model's MIDI port count) could not carry a
// write: such a table is refused. Without a codec only a table without ports is served.
LONG UsbStreamingEngine::ConfigureMidiPorts(const MidiConfiguration* record)
{
    if (record == nullptr || record->outputPortCount > kUsbMidiCables ||
        record->inputPortCount > kUsbMidiCables) {
        return E_INVALIDARG;
    }
    if (midiCodec == nullptr) {
        return record->inputPortCount == 0 && record->outputPortCount == 0 ? S_OK : E_OUTOFMEMORY;
    }
    if (record->outputPortCount > midiCodec->QueueCount()) {
        return E_INVALIDARG;
    }
    return midiCodec->SetPortTable(record);
}

PersistedSettingNames* UsbStreamingEngine::SettingNames()
{
    return &names;
}

DeviceContext* UsbStreamingEngine::Context()
{
    return ContextFromLink(link);
}

EngineRouting* UsbStreamingEngine::Routing()
{
    return &routing;
}

// ---- The stream set as the streaming control's routing --------------------------------------

void UsbStreamingEngine::ResetForStart(bool restart)
{
    routing.ResetForStart(restart);
}

void UsbStreamingEngine::ResetRings()
{
    routing.ResetRings();
}

void UsbStreamingEngine::NotifyStreamManager(LONG state)
{
    routing.NotifyStreamingChanged(state);
}

LONG UsbStreamingEngine::RoutingTick(ULONG frameKey, PVOID* inputs, ULONG framesIn, LONG flags,
                                     ULONG framesOut, ULONG extraFrames)
{
    return routing.RoutingTick(frameKey, inputs, framesIn, flags, framesOut, extraFrames);
}

void UsbStreamingEngine::GetDeviceOutputData(ULONG frameKey, ULONG frames, ULONG bufferIndex,
                                             PVOID* data, bool forceCopy, ULONG previousKey,
                                             ULONG previousFrames)
{
    routing.GetDeviceOutputData(frameKey, frames, bufferIndex, data, forceCopy, previousKey,
                                previousFrames);
}

void UsbStreamingEngine::CancelPacket(ULONG bufferIndex, PVOID destination)
{
    routing.CancelPacket(bufferIndex, destination);
}

// ---- The device model as the streaming control's host ------------------------------------------

bool UsbStreamingEngine::IsExternalClockSelected()
{
    return model->IsExternalClockSelected();
}

void UsbStreamingEngine::StoreTransfersAhead(ULONG value)
{
    // A value that cannot be written is learned again next session.
    StorePersistedValue(this, value);
}

// ---- The factory -------------------------------------------------------------------------------

StreamingEngine* UsbStreamingEngineFactory::CreateEngine(DeviceModel* model, DeviceLink deviceLink,
                                                         PCWSTR registryPath)
{
    void* memory = ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(UsbStreamingEngine), kTagEngine);
    if (memory == nullptr) {
        return nullptr;
    }
    return new (memory) UsbStreamingEngine(model, deviceLink, registryPath, record);
}

void UsbStreamingEngineFactory::DestroyEngine(StreamingEngine* engine)
{
    if (engine == nullptr) {
        return;
    }
    auto* usbEngine = static_cast<UsbStreamingEngine*>(engine);
    usbEngine->~UsbStreamingEngine();
    ExFreePoolWithTag(usbEngine, kTagEngine);
}
