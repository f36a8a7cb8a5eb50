// The device model: the driver's one description of the device and the object through which
// every other part asks about it or changes it. Its operations in slot order, with the behaviour
// every device shares; a device's class derives from it and supplies the hardware ID, the
// clock-source record and the engine (pure here: a class that forgets one does not compile),
// and the clock selection and start particular to it. Results are NTSTATUS values unless said
// otherwise.
//
// Levels: Start, Stop, LoadSetting and the operations that reach the USB device run at
// PASSIVE_LEVEL; the others up to DISPATCH_LEVEL.
#pragma once

#include <wdm.h>

#include "DeviceContext.h"
#include "PeriodicTimer.h"

struct DeviceContext;
struct StreamConfiguration;
struct MidiConfiguration;
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

inline constexpr ULONG kStatusTimerPeriodMs = 750;
inline constexpr size_t kModelRegistryPathCharacters = 256;
// Stops the system when an operation a device's class must supply is reached in the base.
inline constexpr ULONG kBugCheckDeviceModelIncomplete = 0xDEADDEAD;

class DeviceModel
{
public:
    virtual void SetOwner(DeviceContext* context);                       // 0
    virtual NTSTATUS LoadSetting();                                      // 1
    virtual NTSTATUS Start();                                            // 2
    virtual void Stop(ULONG reason);                                     // 3
    virtual bool IsStarted();                                            // 4
    virtual void GetDeviceChannelCounts(ULONG* outputs, ULONG* inputs);  // 5
    virtual void GetMidiPortCounts(ULONG* ports, ULONG* second);         // 6
    virtual void GetCurrentConfiguration(StreamConfiguration* record);   // 7
    virtual NTSTATUS GetMidiPortInfo(MidiConfiguration* record);              // 8
    virtual ULONGLONG GetInterruptTime();                                // 9
    virtual PCWSTR GetHardwareId();                                      // 10
    virtual ULONG GetVendorId();                                         // 11
    virtual ULONG GetProductId();                                        // 12
    virtual PCWSTR GetProductNameWide();                                 // 13
    virtual PCSTR GetProductNameNarrow();                                // 14
    virtual ULONG GetDefaultBufferSize();                                // 15
    virtual ULONG GetMaxRateKilohertz();                                 // 16
    virtual NTSTATUS GetLatencies(ULONG rate, ULONG bufferSize, ULONG* first,
                                  ULONG* second);  // 17
    // STATUS_DEVICE_NOT_READY before LoadSetting: the control filter exists from Add, so user
    // mode can ask before the device starts.
    virtual NTSTATUS GetCallbackDelay(ULONG* value);                          // 18
    virtual void SetCallbackDelay(ULONG value);                               // 19
    virtual NTSTATUS GetClockSourceInfo(ClockSourceInfo* info);               // 20
    virtual NTSTATUS GetClockSourceGuid(ULONG index, GUID* guid);             // 21
    virtual bool IsExternalClockSelected();                                   // 22
    virtual LONG GetClockSourceRecord(ClockSourceRecord* record) = 0;         // 23
    virtual NTSTATUS SetClockSource(LONG index);                              // 24
    virtual LONG EvaluateClockStatus();                                       // 25
    virtual LONG GetClockStatus();                                            // 26
    virtual ULONG GetCurrentRate();                                           // 27
    virtual ULONG GetCurrentRateIndex(LONG* configurationIndex);              // 28
    virtual bool CanUseRate(ULONG rate);                                      // 29
    virtual ULONG GetNearestRateIndex(ULONG rate, LONG* configurationIndex);  // 30
    virtual ULONG GetBufferGranularity(ULONG rateIndex);                      // 31
    virtual ULONG GetMinimumBlock();                                          // 32
    virtual void GetFirmwareVersion(ULONG* major, ULONG* minor, ULONG* revision,
                                    ULONG* build);                           // 33
    virtual NTSTATUS RawGet(const RawDeviceRequest* request, PVOID buffer);  // 34
    virtual NTSTATUS RawSet(const RawDeviceRequest* request, PVOID buffer);  // 35
    virtual NTSTATUS SetOutputModeValue(ULONG value);                        // 36
    virtual NTSTATUS EnableOutputMode(bool on);                              // 37
    virtual bool IsOutputModeActive();                                       // 38
    virtual bool IsHighSpeed();                                              // 39
    virtual LONG SetControlSwitch(bool on, ULONG value);                     // 40
    virtual LONG GetControlValue(ULONG* value);                              // 41
    virtual NTSTATUS GetExtendedInfo(PVOID buffer);                          // 42
    // blockBytes: what the caller's buffer holds of the block; a row whose gains lie past it
    // fails like a row outside the matrix.
    virtual NTSTATUS GetMixer(MixerBlock* block, ULONG blockBytes);                 // 43
    virtual NTSTATUS SetMixer(const MixerBlock* block, ULONG blockBytes);           // 44
    virtual NTSTATUS GetInputPeaks(ULONG* peaks);                                   // 45
    virtual NTSTATUS GetOutputPeaks(ULONG* peaks);                                  // 46
    virtual NTSTATUS GetKeepRunning(UCHAR* on);                                     // 47
    virtual NTSTATUS SetKeepRunning(bool on);                                       // 48
    virtual void GetSupportedRates(ULONG* count, const ULONG** rates);              // 49
    virtual LONG GetConfiguration(ULONG index, StreamConfiguration* record);        // 50
    virtual NTSTATUS GetMidiConfiguration(ULONG index, MidiConfiguration* record);  // 51
    virtual void Reserved52();                                                      // 52
    virtual LONG SetStreamConfiguration(const StreamConfiguration* record,
                                        LONG rateIndex);                 // 53
    virtual LONG SetMidiConfiguration(const MidiConfiguration* record);  // 54
    virtual StreamingEngine* GetEngine() = 0;                            // 55
    virtual StreamingEngine* GetEngineAlias() = 0;  // 56: the same engine as slot 55
    virtual void BuildSupportedRates();             // 57
    virtual void PollStatus();                      // 58

    // The configuration indexes the model set (-1 before the first).
    LONG ConfigurationIndex() const { return configurationIndex; }
    LONG PreviousConfigurationIndex() const { return previousConfigurationIndex; }
    LONG MidiConfigurationIndex() const { return midiConfigurationIndex; }
    bool StatusTimerRunning() const { return ReadUCharAcquire(&statusTimer.running) != 0; }
    PCWSTR RegistryPath() const { return registryPath; }

protected:
    // The link is the address of the context's device field; the model keeps its own copy of
    // the path (cut to 255 characters).
    DeviceModel(DeviceLink link, PCWSTR path);
    // Destroyed through DeviceParts::DestroyDeviceModel, never through this interface; the
    // owner stops the status timer first (StopStatusTimer).
    ~DeviceModel() = default;
    DeviceModel(const DeviceModel&) = delete;
    DeviceModel& operator=(const DeviceModel&) = delete;

    void StopStatusTimer() { statusTimer.StopTimer(); }
    // Tells the owner, when there is one, of the clock source and status.
    void NotifyClockState(LONG status, ULONG rate);

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

private:
    NTSTATUS TransferMixer(MixerBlock* readInto, const MixerBlock* writeFrom, ULONG blockBytes);
};

// The nearest rate of the configuration's list (ascending): a rate at or above the last gives the
// last; otherwise an equal rate, else the closer of its two neighbours, a tie going to the lower.
// Answers the index; 0 with *nearest 0 for a configuration without rates.
ULONG FindNearestRate(ULONG rate, ULONG* nearest, const StreamConfiguration& configuration);
