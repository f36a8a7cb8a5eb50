// The per-device streaming engine as the rest of the driver sees it. The device model owns one
// (created through a StreamingEngineFactory right after the model itself, destroyed before it).
//
// The first sixteen operations are the engine's table, in slot order. The operations after them
// are what the device model and the persisted setting ask of the engine and of the parts it holds
// (the stream set with its routing, gain matrix and peak meters, the USB-MIDI codec and the USB
// transport); no other part of the driver calls them.
//
// Levels: everything may be called up to DISPATCH_LEVEL unless it says PASSIVE_LEVEL; operations
// that must wait and are called above PASSIVE_LEVEL queue their own work items.
#pragma once

#include <usb.h>
#include <wdm.h>

#include "audio/SampleFormat.h"
#include "device/DeviceContext.h"

class DeviceModel;
class EngineRouting;
struct StreamConfiguration;
struct MidiConfiguration;
struct RawDeviceRequest;
struct PersistedSettingNames;

// The private success code: the rate had to be set first and the start was queued.
inline constexpr NTSTATUS kStartQueuedBehindRate = static_cast<NTSTATUS>(0x60000001);

class StreamingEngine
{
public:
    // ---- The engine's table ----------------------------------------------------------------
    virtual bool IsStreaming() = 0;                                                // 0
    virtual bool IsTickActive() = 0;                                               // 1
    virtual void ApplyStreamConfiguration(const StreamConfiguration* record) = 0;  // 2
    virtual void ApplyMidiConfiguration(const MidiConfiguration* record) = 0;      // 3
    virtual NTSTATUS SetRate(LONG configurationIndex, ULONG rateIndex) = 0;        // 4
    virtual LONG RunControl(ULONG on) = 0;                                         // 5
    virtual void RequestTick(ULONG value) = 0;                                     // 6
    virtual PVOID GetUsbPointer() = 0;                                             // 7
    virtual ULONG GetBufferReserve() = 0;                                          // 8
    // The transfers queued ahead. STATUS_DEVICE_NOT_READY, *value 0, before the device model
    // loaded it: user mode can ask through the control filter before the device starts.
    virtual NTSTATUS GetCallbackDelay(ULONG* value) = 0;                               // 9
    virtual USHORT GetDeviceVendorId() = 0;                                            // 10
    virtual USHORT GetDeviceProductId() = 0;                                           // 11
    virtual NTSTATUS RawDeviceGet(const RawDeviceRequest* request, PVOID buffer) = 0;  // 12
    virtual NTSTATUS RawDeviceSet(const RawDeviceRequest* request, PVOID buffer) = 0;  // 13
    // From bcdDevice, in either form of DecodeFirmwareVersion (FirmwareVersion.h); the device
    // model uses the plain one.
    virtual void ReadFirmwareVersion(bool decimalForm, ULONG* major, ULONG* minor, ULONG* revision,
                                     ULONG* build) = 0;  // 14
    virtual NTSTATUS SendClassRequest(ULONG repeat, USHORT value, USHORT index,
                                      bool flag) = 0;  // 15

    // ---- What the device model asks of the engine ------------------------------------------
    // PASSIVE_LEVEL. Brings the USB transport up and resumes streaming and the tick a stop kept.
    virtual NTSTATUS InitializeEngine() = 0;
    virtual bool IsInitialized() = 0;
    // PASSIVE_LEVEL. When initialised, under the engine mutex: stops streaming and the tick but
    // keeps them marked for the next start, marks the engine uninitialised, releases the USB
    // transport.
    virtual void StopEngine() = 0;
    // Drops every queued SysEx message of the USB-MIDI output queues (after surprise removal).
    virtual void DropSysExMessages() = 0;
    // Stores the transfers-ahead value the USB transport queues; markLoaded also marks it loaded.
    virtual void SetTransfersAhead(ULONG value, bool markLoaded) = 0;

    // The configuration the engine was last given (index -1 before any).
    virtual void GetEngineConfiguration(StreamConfiguration* record) = 0;
    // The stream set: configure it (0, -3 when its channel buffers could not be set up, or a
    // failure code), its state, and a rate change within the configuration in force (answers
    // the rate in force afterwards; a configuration index that is not the current one is
    // overwritten with it and nothing changes).
    virtual LONG ConfigureRouting(const StreamConfiguration* record, LONG rateIndex) = 0;
    virtual void GetRoutingState(LONG* configurationIndex, ULONG* rateIndex, ULONG* rate) = 0;
    virtual ULONG ChangeRate(LONG* configurationIndex, ULONG rateIndex) = 0;
    // Milliseconds of input after a start before periods reach the stream manager.
    virtual void SetStartupInterval(ULONG milliseconds) = 0;
    // The stream manager has running streams.
    virtual bool HasActiveStreams() = 0;

    // Rates: the rate in force (the measured one while streaming on an external clock); the
    // rate and lock of an external clock as the device reports it (E_NOTIMPL when the device
    // family cannot tell); the rate the USB transport measures while streaming.
    virtual ULONG ReadCurrentRate() = 0;
    virtual LONG ReadHardwareRate(ULONG* rate, bool* locked) = 0;
    virtual ULONG MeasuredRate() = 0;
    virtual bool IsHighSpeed() = 0;
    // PASSIVE_LEVEL. The device's USB topology address, through the USB transport.
    virtual NTSTATUS QueryUsbLocation(PUSB_TOPOLOGY_ADDRESS address) = 0;

    // The routing gain matrix, each call under the stream set's lock. A row access answers
    // STATUS_UNSUCCESSFUL, touching nothing, unless row < rows and firstColumn + count <=
    // columns (checked without overflow). MarkMixerUsed: a client has written the mixer.
    virtual void GetMatrixSize(ULONG* rows, ULONG* columns) = 0;
    virtual NTSTATUS ReadMatrixRow(ULONG row, ULONG firstColumn, ULONG count,
                                   SampleGain* gains) = 0;
    virtual NTSTATUS WriteMatrixRow(ULONG row, ULONG firstColumn, ULONG count,
                                    const SampleGain* gains) = 0;
    virtual void MarkMixerUsed() = 0;
    // Marks peak metering wanted, then under the stream set's lock and the peak lock copies at
    // most maxCount peaks of the input (or output) side to peaks and zeroes them. Answers how
    // many it copied.
    virtual ULONG TakePeaks(bool input, ULONG* peaks, ULONG maxCount) = 0;
    // The keep-running switch, under its lock. Setting it applies a change to the stream set;
    // a failure there answers a negative code.
    virtual bool GetKeepRunning() = 0;
    virtual LONG SetKeepRunning(bool on) = 0;

    // The USB-MIDI codec: its port information and a new MIDI port table (its result).
    virtual NTSTATUS GetMidiPortInfo(MidiConfiguration* record) = 0;
    virtual LONG ConfigureMidiPorts(const MidiConfiguration* record) = 0;

    // The names of the persisted per-device setting, kept for the engine's life.
    virtual PersistedSettingNames* SettingNames() = 0;
    // The device's context (hardware ID, remove lock, state).
    virtual DeviceContext* Context() = 0;
    // The stream set the stream manager listens to and writes into.
    virtual EngineRouting* Routing() = 0;

protected:
    // Destroyed through its factory only.
    ~StreamingEngine() = default;
};

// Builds the engine of a device model. Create answers null when it cannot allocate; the model
// gives the engine its own link to the device context and the driver's registry path.
class StreamingEngineFactory
{
public:
    virtual StreamingEngine* CreateEngine(DeviceModel* model, DeviceLink deviceLink,
                                          PCWSTR registryPath) = 0;
    virtual void DestroyEngine(StreamingEngine* engine) = 0;

protected:
    ~StreamingEngineFactory() = default;
};
