// The device model: the driver's one description of the device and the object through which
// every other part asks about it or changes it. This is its interface, in slot order; the
// product's class derives from it and owns the streaming engine. Results are NTSTATUS values
// unless said otherwise.
#pragma once

#include <wdm.h>

struct DeviceContext;
struct StreamConfiguration;
struct MidiConfiguration;
struct MidiPortInfo;
struct ClockSourceRecord;
struct RawDeviceRequest;
struct MixerBlock;
class StreamingEngine;

// The three values of the clock-source query: reserved (0), number of sources, selected source.
struct ClockSourceInfo
{
    ULONG reserved;
    ULONG sourceCount;
    ULONG selectedSource;
};

// Why the device model is stopped.
enum DeviceStopReason : ULONG
{
    kStopFailedStart = 0,
    kStopStop = 5,
    kStopAfterSurpriseRemoval = 6,
    kStopPowerDown = 8,
};

class DeviceModel
{
public:
    virtual void SetOwner(DeviceContext* context) = 0;                       // 0
    virtual NTSTATUS LoadSetting() = 0;                                      // 1
    virtual NTSTATUS Start() = 0;                                            // 2
    virtual void Stop(ULONG reason) = 0;                                     // 3
    virtual bool IsStarted() = 0;                                            // 4
    virtual void GetDeviceChannelCounts(ULONG* outputs, ULONG* inputs) = 0;  // 5
    virtual void GetMidiPortCounts(ULONG* ports, ULONG* second) = 0;         // 6
    virtual void GetCurrentConfiguration(StreamConfiguration* record) = 0;   // 7
    virtual NTSTATUS GetMidiPortInfo(MidiPortInfo* record) = 0;              // 8
    virtual ULONGLONG GetInterruptTime() = 0;                                // 9
    virtual PCWSTR GetHardwareId() = 0;                                      // 10
    virtual ULONG GetVendorId() = 0;                                         // 11
    virtual ULONG GetProductId() = 0;                                        // 12
    virtual PCWSTR GetProductNameWide() = 0;                                 // 13
    virtual PCSTR GetProductNameNarrow() = 0;                                // 14
    virtual ULONG GetDefaultBufferSize() = 0;                                // 15
    virtual ULONG GetMaxRateKilohertz() = 0;                                 // 16
    virtual NTSTATUS GetLatencies(ULONG rate, ULONG bufferSize, ULONG* first,
                                  ULONG* second) = 0;  // 17
    // STATUS_DEVICE_NOT_READY before LoadSetting: the control filter exists from Add, so user
    // mode can ask before the device starts.
    virtual NTSTATUS GetCallbackDelay(ULONG* value) = 0;                          // 18
    virtual void SetCallbackDelay(ULONG value) = 0;                               // 19
    virtual NTSTATUS GetClockSourceInfo(ClockSourceInfo* info) = 0;               // 20
    virtual NTSTATUS GetClockSourceGuid(ULONG index, GUID* guid) = 0;             // 21
    virtual bool IsExternalClockSelected() = 0;                                   // 22
    virtual LONG GetClockSourceRecord(ClockSourceRecord* record) = 0;             // 23
    virtual NTSTATUS SetClockSource(LONG index) = 0;                              // 24
    virtual LONG EvaluateClockStatus() = 0;                                       // 25
    virtual LONG GetClockStatus() = 0;                                            // 26
    virtual ULONG GetCurrentRate() = 0;                                           // 27
    virtual ULONG GetCurrentRateIndex(LONG* configurationIndex) = 0;              // 28
    virtual bool CanUseRate(ULONG rate) = 0;                                      // 29
    virtual ULONG GetNearestRateIndex(ULONG rate, LONG* configurationIndex) = 0;  // 30
    virtual ULONG GetBufferGranularity(ULONG rateIndex) = 0;                      // 31
    virtual ULONG GetMinimumBlock() = 0;                                          // 32
    virtual void GetFirmwareVersion(ULONG* major, ULONG* minor, ULONG* revision,
                                    ULONG* build) = 0;                           // 33
    virtual NTSTATUS RawGet(const RawDeviceRequest* request, PVOID buffer) = 0;  // 34
    virtual NTSTATUS RawSet(const RawDeviceRequest* request, PVOID buffer) = 0;  // 35
    virtual NTSTATUS SetOutputModeValue(ULONG value) = 0;                        // 36
    virtual NTSTATUS EnableOutputMode(bool on) = 0;                              // 37
    virtual bool IsOutputModeActive() = 0;                                       // 38
    virtual bool IsHighSpeed() = 0;                                              // 39
    virtual LONG SetControlSwitch(bool on, ULONG value) = 0;                     // 40
    virtual LONG GetControlValue(ULONG* value) = 0;                              // 41
    virtual NTSTATUS GetExtendedInfo(PVOID buffer) = 0;                          // 42
    // blockBytes: what the caller's buffer holds of the block; a row whose gains lie past it
    // fails like a row outside the matrix.
    virtual NTSTATUS GetMixer(MixerBlock* block, ULONG blockBytes) = 0;                 // 43
    virtual NTSTATUS SetMixer(const MixerBlock* block, ULONG blockBytes) = 0;           // 44
    virtual NTSTATUS GetInputPeaks(ULONG* peaks) = 0;                                   // 45
    virtual NTSTATUS GetOutputPeaks(ULONG* peaks) = 0;                                  // 46
    virtual NTSTATUS GetKeepRunning(UCHAR* on) = 0;                                     // 47
    virtual NTSTATUS SetKeepRunning(bool on) = 0;                                       // 48
    virtual void GetSupportedRates(ULONG* count, const ULONG** rates) = 0;              // 49
    virtual LONG GetConfiguration(ULONG index, StreamConfiguration* record) = 0;        // 50
    virtual NTSTATUS GetMidiConfiguration(ULONG index, MidiConfiguration* record) = 0;  // 51
    virtual void Reserved52() = 0;                                                      // 52
    virtual LONG SetStreamConfiguration(const StreamConfiguration* record,
                                        LONG rateIndex) = 0;                 // 53
    virtual LONG SetMidiConfiguration(const MidiConfiguration* record) = 0;  // 54
    virtual StreamingEngine* GetEngine() = 0;                                // 55
    virtual StreamingEngine* GetEngineAlias() = 0;  // 56: the same engine as slot 55
    virtual void BuildSupportedRates() = 0;         // 57
    virtual void PollStatus() = 0;                  // 58

protected:
    // Destroyed through DeviceParts::DestroyDeviceModel, never through this interface.
    ~DeviceModel() = default;
};
