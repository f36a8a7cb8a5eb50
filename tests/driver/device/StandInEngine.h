// A streaming engine that carries only what the device model's tests need: the real USB transport
// of the device (identity, firmware, speed and USB location of the simulated device), the
// transfers-ahead value, and a routing state with a real gain matrix and peak arrays. Each test
// can make the routing refuse a configuration or read a given hardware rate.
#pragma once

#include <string>
#include <vector>

#include "LifecycleStandIns.h"
#include "audio/GainMatrix.h"
#include "device/DeviceModelRecords.h"
#include "device/PersistedSetting.h"
#include "device/ProductDeviceModel.h"
#include "device/StreamConfiguration.h"
#include "engine/FirmwareVersion.h"
#include "engine/StreamingEngine.h"
#include "usb/UsbTransport.h"

class StandInEngine final : public StreamingEngine
{
public:
    StandInEngine(DeviceModel* model, DeviceLink link, PCWSTR registryPath);
    ~StandInEngine();

    bool IsStreaming() override { return streaming; }
    bool IsTickActive() override { return false; }
    void ApplyStreamConfiguration(const StreamConfiguration* record) override;
    void ApplyMidiConfiguration(const MidiConfiguration*) override {}
    NTSTATUS SetRate(LONG configurationIndex, ULONG rateIndex) override;
    LONG RunControl(ULONG) override { return 0; }
    void RequestTick(ULONG) override {}
    PVOID GetUsbPointer() override { return nullptr; }
    ULONG GetBufferReserve() override { return 400; }
    NTSTATUS GetCallbackDelay(ULONG* value) override;
    USHORT GetDeviceVendorId() override;
    USHORT GetDeviceProductId() override;
    NTSTATUS RawDeviceGet(const RawDeviceRequest*, PVOID) override { return STATUS_UNSUCCESSFUL; }
    NTSTATUS RawDeviceSet(const RawDeviceRequest*, PVOID) override { return STATUS_UNSUCCESSFUL; }
    void ReadFirmwareVersion(bool decimalForm, ULONG* major, ULONG* minor, ULONG* revision,
                             ULONG* build) override;
    NTSTATUS SendClassRequest(ULONG, USHORT, USHORT, bool) override { return STATUS_SUCCESS; }

    NTSTATUS InitializeEngine() override;
    bool IsInitialized() override { return initialized; }
    void StopEngine() override;
    void DropSysExMessages() override { ++sysExDrops; }
    void SetTransfersAhead(ULONG value, bool markLoaded) override;
    void GetEngineConfiguration(StreamConfiguration* record) override { *record = configuration; }
    LONG ConfigureRouting(const StreamConfiguration* record, LONG rateIndex) override;
    void GetRoutingState(LONG* configurationIndex, ULONG* rateIndex, ULONG* rate) override;
    ULONG ChangeRate(LONG* configurationIndex, ULONG rateIndex) override;
    void SetStartupInterval(ULONG milliseconds) override { startupInterval = milliseconds; }
    bool HasActiveStreams() override { return activeStreams; }
    ULONG ReadCurrentRate() override { return rate; }
    LONG ReadHardwareRate(ULONG* hardwareRate, bool* locked) override;
    ULONG MeasuredRate() override { return measuredRate; }
    bool IsHighSpeed() override { return transport.HighSpeed(); }
    NTSTATUS QueryUsbLocation(PUSB_TOPOLOGY_ADDRESS address) override;
    void GetMatrixSize(ULONG* rows, ULONG* columns) override;
    NTSTATUS ReadMatrixRow(ULONG row, ULONG firstColumn, ULONG count, SampleGain* gains) override;
    NTSTATUS WriteMatrixRow(ULONG row, ULONG firstColumn, ULONG count,
                            const SampleGain* gains) override;
    void MarkMixerUsed() override { mixerUsed = true; }
    ULONG TakePeaks(bool input, ULONG* peaks, ULONG maxCount) override;
    bool GetKeepRunning() override { return keepRunning; }
    LONG SetKeepRunning(bool on) override;
    NTSTATUS GetMidiPortInfo(MidiConfiguration*) override { return STATUS_SUCCESS; }
    LONG ConfigureMidiPorts(const MidiConfiguration*) override { return 0; }
    PersistedSettingNames* SettingNames() override { return &names; }
    DeviceContext* Context() override { return ContextFromLink(link); }
    EngineRouting* Routing() override { return nullptr; }

    DeviceModel* model;
    DeviceLink link;
    UsbTransport transport;
    PersistedSettingNames names;
    StreamConfiguration configuration{};
    GainMatrix matrix;
    bool initialized = false;
    bool streaming = false;
    bool activeStreams = false;
    bool keepRunning = false;
    bool mixerUsed = false;
    bool meteringWanted = false;
    bool transfersAheadLoaded = false;
    ULONG transfersAhead = 0;
    ULONG rateIndex = 0;
    ULONG rate = 0;
    ULONG measuredRate = 0;
    ULONG startupInterval = 0;
    int sysExDrops = 0;
    bool failUsbLocation = false;  // as a controller that cannot report its topology
    // A routing answer to give once instead of configuring (for example -3).
    LONG refuseNextConfiguration = 0;
    // What ReadHardwareRate answers; E_NOTIMPL as this product's device family does.
    LONG hardwareRateResult = static_cast<LONG>(0x80004001);
    ULONG hardwareRate = 0;
    bool hardwareLocked = false;
    ULONG inputPeaks[kMaxPeakValues] = {};
    ULONG outputPeaks[kMaxPeakValues] = {};
    std::vector<std::string> calls;  // "ConfigureRouting(0,-1)", "ChangeRate(1)", "SetRate(0,0)"
};

class StandInEngineFactory final : public StreamingEngineFactory
{
public:
    StreamingEngine* CreateEngine(DeviceModel* model, DeviceLink deviceLink,
                                  PCWSTR registryPath) override;
    void DestroyEngine(StreamingEngine* engine) override;

    StandInEngine* last = nullptr;
};

// Parts that build the product's device model on the stand-in engine, and stand-ins for the rest.
class ProductModelParts final : public DeviceParts
{
public:
    DeviceModel* CreateDeviceModel(DeviceLink deviceLink, PCWSTR registryPath) override;
    void DestroyDeviceModel(DeviceModel* model) override;
    StreamManager* CreateStreamManager(StreamingEngine* engine, DeviceStreamSink* sink) override;
    void DestroyStreamManager(StreamManager* manager) override;
    MidiRouter* CreateMidiRouter(StreamingEngine* engine) override;
    void DestroyMidiRouter(MidiRouter* router) override;
    LONG FindConfigurationRate(StreamManager*, ULONG) override { return -1; }
    ULONG ApplyRateIndex(StreamManager*, LONG) override { return 0; }

    StandInEngineFactory engines;
    ProductDeviceModel* lastModel = nullptr;
    FakeParts others;
};
