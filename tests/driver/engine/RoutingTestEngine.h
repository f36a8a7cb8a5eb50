// A streaming engine that only records what the stream set asks of it: streaming state, the
// configuration applied, rate and run-control requests, the buffer reserve and callback delay.
// Everything else answers a neutral value. Used by the stream set's tests and benchmark.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "device/StreamConfiguration.h"
#include "engine/EngineRouting.h"
#include "engine/StreamingEngine.h"

class RoutingTestEngine final : public StreamingEngine
{
public:
    RoutingTestEngine() : routing(this) {}
    ~RoutingTestEngine() = default;

    bool IsStreaming() override { return streaming; }
    bool IsTickActive() override { return false; }
    void ApplyStreamConfiguration(const StreamConfiguration* record) override
    {
        applied.push_back(record->index);
    }
    void ApplyMidiConfiguration(const MidiConfiguration*) override {}
    NTSTATUS SetRate(LONG configurationIndex, ULONG rateIndex) override
    {
        rateRequests.push_back({configurationIndex, rateIndex});
        return setRateStatus;
    }
    // Streams on several threads may ask at once, as they may of the real engine.
    LONG RunControl(ULONG on) override
    {
        std::lock_guard<std::mutex> hold(runControlMutex);
        runControls.push_back(on);
        return runControlAnswer;
    }
    void RequestTick(ULONG) override {}
    PVOID GetUsbPointer() override { return nullptr; }
    ULONG GetBufferReserve() override { return 400; }
    NTSTATUS GetCallbackDelay(ULONG* value) override
    {
        *value = callbackDelayLoaded ? callbackDelay : 0;
        return callbackDelayLoaded ? STATUS_SUCCESS : STATUS_DEVICE_NOT_READY;
    }
    USHORT GetDeviceVendorId() override { return 0; }
    USHORT GetDeviceProductId() override { return 0; }
    NTSTATUS RawDeviceGet(const RawDeviceRequest*, PVOID) override { return STATUS_UNSUCCESSFUL; }
    NTSTATUS RawDeviceSet(const RawDeviceRequest*, PVOID) override { return STATUS_UNSUCCESSFUL; }
    void ReadFirmwareVersion(bool, ULONG* major, ULONG* minor, ULONG* revision,
                             ULONG* build) override
    {
        *major = *minor = *revision = *build = 0;
    }
    NTSTATUS SendClassRequest(ULONG, USHORT, USHORT, bool) override { return STATUS_SUCCESS; }
    NTSTATUS InitializeEngine() override { return STATUS_SUCCESS; }
    bool IsInitialized() override { return true; }
    void StopEngine() override {}
    void DropSysExMessages() override {}
    void SetTransfersAhead(ULONG value, bool) override { callbackDelay = value; }
    void GetEngineConfiguration(StreamConfiguration* record) override
    {
        routing.GetConfiguration(record);
    }
    LONG ConfigureRouting(const StreamConfiguration* record, LONG rateIndex) override
    {
        return routing.ConfigureRouting(record, rateIndex);
    }
    void GetRoutingState(LONG* configurationIndex, ULONG* rateIndex, ULONG* rate) override
    {
        routing.GetRoutingState(configurationIndex, rateIndex, rate);
    }
    ULONG ChangeRate(LONG* configurationIndex, ULONG rateIndex) override
    {
        return routing.ChangeRate(configurationIndex, rateIndex);
    }
    void SetStartupInterval(ULONG milliseconds) override
    {
        routing.SetStartupInterval(milliseconds);
    }
    bool HasActiveStreams() override { return routing.HasActiveStreams(); }
    ULONG ReadCurrentRate() override { return 0; }
    LONG ReadHardwareRate(ULONG*, bool*) override { return static_cast<LONG>(0x80004001); }
    ULONG MeasuredRate() override { return 0; }
    bool IsHighSpeed() override { return false; }
    NTSTATUS QueryUsbLocation(PUSB_TOPOLOGY_ADDRESS) override { return STATUS_UNSUCCESSFUL; }
    void GetMatrixSize(ULONG* rows, ULONG* columns) override
    {
        routing.GetMatrixSize(rows, columns);
    }
    NTSTATUS ReadMatrixRow(ULONG row, ULONG firstColumn, ULONG count, SampleGain* gains) override
    {
        return routing.ReadMatrixRow(row, firstColumn, count, gains);
    }
    NTSTATUS WriteMatrixRow(ULONG row, ULONG firstColumn, ULONG count,
                            const SampleGain* gains) override
    {
        return routing.WriteMatrixRow(row, firstColumn, count, gains);
    }
    void MarkMixerUsed() override { routing.MarkMixerUsed(); }
    ULONG TakePeaks(bool input, ULONG* peaks, ULONG maxCount) override
    {
        return routing.TakePeaks(input, peaks, maxCount);
    }
    bool GetKeepRunning() override { return routing.GetKeepRunningSetting(); }
    LONG SetKeepRunning(bool on) override { return routing.SetKeepRunningSetting(on); }
    NTSTATUS GetMidiPortInfo(MidiConfiguration*) override { return STATUS_UNSUCCESSFUL; }
    LONG ConfigureMidiPorts(const MidiConfiguration*) override { return 0; }
    PersistedSettingNames* SettingNames() override { return nullptr; }
    DeviceContext* Context() override { return nullptr; }
    EngineRouting* Routing() override { return &routing; }

    bool streaming = false;
    bool callbackDelayLoaded = true;
    ULONG callbackDelay = 3;
    NTSTATUS setRateStatus = STATUS_SUCCESS;
    std::vector<ULONG> applied;  // configuration indexes
    struct RateRequest
    {
        LONG configurationIndex;
        ULONG rateIndex;
        bool operator==(const RateRequest&) const = default;
    };
    std::vector<RateRequest> rateRequests;
    std::mutex runControlMutex;
    std::vector<ULONG> runControls;
    LONG runControlAnswer = 0;  // -1: the engine could neither start nor queue the start

    EngineRouting routing;  // last: destroyed first, while the records above still exist
};
