// The product's device class: the device model of this interface (two line outputs, rates 44100
// to 96000, only its internal clock). It owns the streaming engine, made by the engine factory
// right after the model and destroyed before it, and the 750 ms status timer, which runs only
// while an external clock is selected (never, for this product).
//
// Levels: Start, Stop, LoadSetting and the operations that reach the USB device run at
// PASSIVE_LEVEL; the others up to DISPATCH_LEVEL.
#pragma once

#include <wdm.h>

#include "DeviceContext.h"
#include "DeviceModel.h"
#include "DeviceModelRecords.h"
#include "PeriodicTimer.h"
#include "StreamConfiguration.h"

class StreamingEngine;
class StreamingEngineFactory;

inline constexpr ULONG kStatusTimerPeriodMs = 750;
inline constexpr ULONG kRoutingStartupIntervalMs = 15;
inline constexpr size_t kModelRegistryPathCharacters = 256;

class ProductDeviceModel final : public DeviceModel
{
public:
    void SetOwner(DeviceContext* context) override;
    NTSTATUS LoadSetting() override;
    NTSTATUS Start() override;
    void Stop(ULONG reason) override;
    bool IsStarted() override;
    void GetDeviceChannelCounts(ULONG* outputs, ULONG* inputs) override;
    void GetMidiPortCounts(ULONG* ports, ULONG* second) override;
    void GetCurrentConfiguration(StreamConfiguration* record) override;
    NTSTATUS GetMidiPortInfo(MidiPortInfo* record) override;
    ULONGLONG GetInterruptTime() override;
    PCWSTR GetHardwareId() override;
    ULONG GetVendorId() override;
    ULONG GetProductId() override;
    PCWSTR GetProductNameWide() override;
    PCSTR GetProductNameNarrow() override;
    ULONG GetDefaultBufferSize() override;
    ULONG GetMaxRateKilohertz() override;
    NTSTATUS GetLatencies(ULONG rate, ULONG bufferSize, ULONG* first, ULONG* second) override;
    NTSTATUS GetCallbackDelay(ULONG* value) override;
    void SetCallbackDelay(ULONG value) override;
    NTSTATUS GetClockSourceInfo(ClockSourceInfo* info) override;
    NTSTATUS GetClockSourceGuid(ULONG index, GUID* guid) override;
    bool IsExternalClockSelected() override;
    LONG GetClockSourceRecord(ClockSourceRecord* record) override;
    NTSTATUS SetClockSource(LONG index) override;
    LONG EvaluateClockStatus() override;
    LONG GetClockStatus() override;
    ULONG GetCurrentRate() override;
    ULONG GetCurrentRateIndex(LONG* configurationIndex) override;
    bool CanUseRate(ULONG rate) override;
    ULONG GetNearestRateIndex(ULONG rate, LONG* configurationIndex) override;
    ULONG GetBufferGranularity(ULONG rateIndex) override;
    ULONG GetMinimumBlock() override;
    void GetFirmwareVersion(ULONG* major, ULONG* minor, ULONG* revision, ULONG* build) override;
    NTSTATUS RawGet(const RawDeviceRequest* request, PVOID buffer) override;
    NTSTATUS RawSet(const RawDeviceRequest* request, PVOID buffer) override;
    NTSTATUS SetOutputModeValue(ULONG value) override;
    NTSTATUS EnableOutputMode(bool on) override;
    bool IsOutputModeActive() override;
    bool IsHighSpeed() override;
    LONG SetControlSwitch(bool on, ULONG value) override;
    LONG GetControlValue(ULONG* value) override;
    NTSTATUS GetExtendedInfo(PVOID buffer) override;
    NTSTATUS GetMixer(MixerBlock* block, ULONG blockBytes) override;
    NTSTATUS SetMixer(const MixerBlock* block, ULONG blockBytes) override;
    NTSTATUS GetInputPeaks(ULONG* peaks) override;
    NTSTATUS GetOutputPeaks(ULONG* peaks) override;
    NTSTATUS GetKeepRunning(UCHAR* on) override;
    NTSTATUS SetKeepRunning(bool on) override;
    void GetSupportedRates(ULONG* count, const ULONG** rates) override;
    LONG GetConfiguration(ULONG index, StreamConfiguration* record) override;
    NTSTATUS GetMidiConfiguration(ULONG index, MidiConfiguration* record) override;
    void Reserved52() override;
    LONG SetStreamConfiguration(const StreamConfiguration* record, LONG rateIndex) override;
    LONG SetMidiConfiguration(const MidiConfiguration* record) override;
    StreamingEngine* GetEngine() override;
    StreamingEngine* GetEngineAlias() override;
    void BuildSupportedRates() override;
    void PollStatus() override;

    // The configuration indexes the model set (-1 before the first).
    LONG ConfigurationIndex() const { return configurationIndex; }
    LONG PreviousConfigurationIndex() const { return previousConfigurationIndex; }
    LONG MidiConfigurationIndex() const { return midiConfigurationIndex; }
    bool StatusTimerRunning() const
    {
        return __atomic_load_n(&statusTimer.running, __ATOMIC_ACQUIRE) != 0;
    }
    PCWSTR RegistryPath() const { return registryPath; }

private:
    friend ProductDeviceModel* CreateProductDeviceModel(DeviceLink, PCWSTR,
                                                        StreamingEngineFactory*);
    friend void DestroyProductDeviceModel(ProductDeviceModel*);

    ProductDeviceModel(DeviceLink link, PCWSTR path, StreamingEngineFactory* engineFactory);
    ~ProductDeviceModel() = default;
    NTSTATUS StartBase();
    void NotifyClockState(LONG status, ULONG rate);
    NTSTATUS TransferMixer(MixerBlock* readInto, const MixerBlock* writeFrom, ULONG blockBytes);

    DeviceLink deviceLink;
    LONG configurationIndex = -1;
    LONG previousConfigurationIndex = -1;
    LONG midiConfigurationIndex = -1;
    UCHAR started = 0;
    LONG selectedClockSource = 0;  // 0 the internal clock; any other value is external
    UCHAR outputModeActive = 0;
    volatile LONG evaluationGuard = 0;  // 1 while EvaluateClockStatus runs
    LONG clockStatus = 1;  // 0 no lock on the external clock, 1 in sync, 2 locked elsewhere
    ULONG lastFollowedRate = 0;
    ULONG lastMeasuredRate = 0;
    UCHAR engineWasRunning = 0;
    KSPIN_LOCK configurationLock = 0;  // in-stack queued
    PeriodicTimer statusTimer;
    DeviceContext* owner = nullptr;
    WCHAR registryPath[kModelRegistryPathCharacters] = {};
    ULONG supportedRateCount = 0;
    const ULONG* supportedRates = nullptr;
    StreamingEngineFactory* factory;
    StreamingEngine* engine = nullptr;
};

// From non-paged pool (tag "PcNw"); null when the model or its engine cannot be made. The link
// is the address of the context's device field; the model keeps its own copy of the path.
ProductDeviceModel* CreateProductDeviceModel(DeviceLink deviceLink, PCWSTR registryPath,
                                             StreamingEngineFactory* engineFactory);
// Destroys the engine first, then stops the status timer; frees the model.
void DestroyProductDeviceModel(ProductDeviceModel* model);

// The nearest rate of the configuration's list (ascending): a rate at or above the last gives the
// last; otherwise an equal rate, else the closer of its two neighbours, a tie going to the lower.
// Answers the index; 0 with *nearest 0 for a configuration without rates.
ULONG FindNearestRate(ULONG rate, ULONG* nearest, const StreamConfiguration& configuration);
