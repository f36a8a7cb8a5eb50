// The streaming engine of a USB device: it owns the USB transport, the stream set with its
// routing, the streaming control over the transport and the names of the persisted per-device
// setting, and wires every operation the device model and the stream set ask for to them. The
// stream set is the streaming control's routing; the device model answers its questions about the
// clock and the persisted transfers-ahead value.
//
// Made in non-paged pool (tag "XiMw") by UsbStreamingEngineFactory; PASSIVE_LEVEL to make and
// destroy.
#pragma once

#include <wdm.h>

#include "EngineMidiTick.h"
#include "EngineParts.h"
#include "EngineRouting.h"
#include "EngineStreaming.h"
#include "MidiConfiguration.h"
#include "StreamingEngine.h"
#include "device/PersistedSetting.h"
#include "usb/UsbTransport.h"

class UsbStreamingEngine final : public StreamingEngine,
                                 private EnginePeriodRouting,
                                 private EngineHost
{
public:
    // record: how the device's interfaces are used (which settings stream, feedback or not).
    UsbStreamingEngine(DeviceModel* model, DeviceLink deviceLink, PCWSTR registryPath,
                       const UsbConfigRecord& record);
    ~UsbStreamingEngine();
    UsbStreamingEngine(const UsbStreamingEngine&) = delete;
    UsbStreamingEngine& operator=(const UsbStreamingEngine&) = delete;

    // ---- The engine's table ----------------------------------------------------------------
    bool IsStreaming() override;
    bool IsTickActive() override;
    void ApplyStreamConfiguration(const StreamConfiguration* record) override;
    void ApplyMidiConfiguration(const MidiConfiguration* record) override;
    NTSTATUS SetRate(LONG configurationIndex, ULONG rateIndex) override;
    LONG RunControl(ULONG on) override;
    void RequestTick(ULONG value) override;
    PVOID GetUsbPointer() override;
    ULONG GetBufferReserve() override;
    NTSTATUS GetCallbackDelay(ULONG* value) override;
    USHORT GetDeviceVendorId() override;
    USHORT GetDeviceProductId() override;
    NTSTATUS RawDeviceGet(const RawDeviceRequest* request, PVOID buffer) override;
    NTSTATUS RawDeviceSet(const RawDeviceRequest* request, PVOID buffer) override;
    void ReadFirmwareVersion(bool decimalForm, ULONG* major, ULONG* minor, ULONG* revision,
                             ULONG* build) override;
    NTSTATUS SendClassRequest(ULONG repeat, USHORT value, USHORT index, bool flag) override;

    // ---- What the device model asks --------------------------------------------------------
    NTSTATUS InitializeEngine() override;
    bool IsInitialized() override;
    void StopEngine() override;
    void DropSysExMessages() override;
    void SetTransfersAhead(ULONG value, bool markLoaded) override;
    void GetEngineConfiguration(StreamConfiguration* record) override;
    LONG ConfigureRouting(const StreamConfiguration* record, LONG rateIndex) override;
    void GetRoutingState(LONG* configurationIndex, ULONG* rateIndex, ULONG* rate) override;
    ULONG ChangeRate(LONG* configurationIndex, ULONG rateIndex) override;
    void SetStartupInterval(ULONG milliseconds) override;
    bool HasActiveStreams() override;
    ULONG ReadCurrentRate() override;
    LONG ReadHardwareRate(ULONG* rate, bool* locked) override;
    ULONG MeasuredRate() override;
    bool IsHighSpeed() override;
    NTSTATUS QueryUsbLocation(PUSB_TOPOLOGY_ADDRESS address) override;
    void GetMatrixSize(ULONG* rows, ULONG* columns) override;
    NTSTATUS ReadMatrixRow(ULONG row, ULONG firstColumn, ULONG count, SampleGain* gains) override;
    NTSTATUS WriteMatrixRow(ULONG row, ULONG firstColumn, ULONG count,
                            const SampleGain* gains) override;
    void MarkMixerUsed() override;
    ULONG TakePeaks(bool input, ULONG* peaks, ULONG maxCount) override;
    bool GetKeepRunning() override;
    LONG SetKeepRunning(bool on) override;
    NTSTATUS GetMidiPortInfo(MidiConfiguration* record) override;
    LONG ConfigureMidiPorts(const MidiConfiguration* record) override;
    PersistedSettingNames* SettingNames() override;
    DeviceContext* Context() override;
    EngineRouting* Routing() override;

    // Statistics: USB periods (1 ms bus frames) lost while streaming ran.
    ULONG LostPeriods() const { return streaming.LostPeriods(); }
    // The USB transport, for the engine's tests.
    UsbTransport* Transport() { return &transport; }
    // The USB-MIDI output side the device's MIDI router links to; null when the pool had no room
    // for it (the engine then serves no MIDI port).
    UsbMidiCodec* MidiCodec() { return midiCodec; }
    EngineMidiTick* MidiTick() { return &midiTick; }

private:
    // The stream set as the streaming control's routing.
    void ResetForStart(bool restart) override;
    void ResetRings() override;
    void NotifyStreamManager(LONG state) override;
    LONG RoutingTick(ULONG frameKey, PVOID* inputs, ULONG framesIn, LONG flags, ULONG framesOut,
                     ULONG extraFrames) override;
    void GetDeviceOutputData(ULONG frameKey, ULONG frames, ULONG bufferIndex, PVOID* data,
                             bool forceCopy, ULONG previousKey, ULONG previousFrames) override;
    void CancelPacket(ULONG bufferIndex, PVOID destination) override;

    // The device model as the streaming control's host.
    bool IsExternalClockSelected() override;
    void StoreTransfersAhead(ULONG value) override;

    DeviceModel* model;
    DeviceLink link;
    UsbConfigRecord usbRecord;
    PersistedSettingNames names;
    UsbTransport transport;
    // Declared after the transport and before the streaming control: built after the one and
    // destroyed after the other.
    EngineRouting routing;
    EngineStreaming streaming;
    // The tick drives the transport's MIDI pipes; the codec takes its queue count from the
    // device model's MIDI port count when the engine is made.
    EngineMidiTick midiTick;
    UsbMidiCodec* midiCodec = nullptr;
};

// The product's record: interface 1, alternate setting 1, paced by its data (no feedback
// endpoint), in the device's last configuration.
UsbConfigRecord ProductUsbRecord();

// Builds engines on one record (the product's unless given); one factory serves every device.
class UsbStreamingEngineFactory final : public StreamingEngineFactory
{
public:
    UsbStreamingEngineFactory() : record(ProductUsbRecord()) {}
    explicit UsbStreamingEngineFactory(const UsbConfigRecord& usbRecord) : record(usbRecord) {}

    StreamingEngine* CreateEngine(DeviceModel* model, DeviceLink deviceLink,
                                  PCWSTR registryPath) override;
    void DestroyEngine(StreamingEngine* engine) override;

private:
    UsbConfigRecord record;
};
