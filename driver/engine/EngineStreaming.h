// The engine's audio streaming control: bringing the USB transport up and down, start, stop and
// restart with their timing rules under the engine mutex (deferred to work items when asked at
// DISPATCH_LEVEL), the device sample rate, and every completed USB period handed to the routing.
#pragma once

#include <usbdlib.h>
#include <wdm.h>

#include "EngineParts.h"
#include "device/DeviceContext.h"
#include "device/StreamConfiguration.h"
#include "usb/UsbTransport.h"

// ChangeStreaming's answers.
enum StreamingChange : LONG
{
    kChangeImpossible = -1,
    kChangeDone = 0,
    kChangeNothingToDo = 1,
    kChangeAlreadyPending = 2,
    kChangeTooSoon = 3,
    kChangeQueued = 4,
};

enum StreamingKind : ULONG
{
    kStreamingStop = 0,
    kStreamingStart = 1,
    kStreamingRestart = 2,
};

inline constexpr NTSTATUS kEngineFail = static_cast<NTSTATUS>(0x80004005);
inline constexpr ULONG kGatherSlots = 4;
inline constexpr LONG kDiscontinuityFlag = 0x100;
inline constexpr ULONG kStopGuardMs = 100;
// Input layouts a period without gathering can hand on; a configuration with more gets no input
// pointers at all rather than an array too short for them.
inline constexpr ULONG kMaxPeriodInputs = 32;

class EngineStreaming
{
public:
    EngineStreaming(DeviceContext* context, UsbTransport* transport, EnginePeriodRouting* routing,
                    EngineHost* host);
    ~EngineStreaming();
    EngineStreaming(const EngineStreaming&) = delete;
    EngineStreaming& operator=(const EngineStreaming&) = delete;

    // PASSIVE_LEVEL.
    NTSTATUS InitializeEngine(const UsbConfigRecord& record);
    void StopEngine();
    bool IsInitialized() const { return initialized != 0; }

    // The configuration in force and the stream set's rate index.
    void ApplyStreamConfiguration(const StreamConfiguration* record, ULONG rateIndexInForce);
    LONG ConfigurationIndex() const { return static_cast<LONG>(configuration.index); }
    const StreamConfiguration& Configuration() const { return configuration; }
    ULONG RateIndex() const { return rateIndex; }

    NTSTATUS SetRate(LONG configurationIndex, ULONG rateIndex);
    LONG RunControl(ULONG on);
    LONG ChangeStreaming(ULONG kind, bool keep = false);
    bool IsStreaming() const { return ReadUCharAcquire(&streaming) != 0; }
    LONG Credit() const { return ReadAcquire(&credit); }
    // USB periods (1 ms bus frames) that carried nothing while streaming ran, because the
    // transport's schedule had to skip them; over the engine's life, any IRQL.
    ULONG LostPeriods() const { return static_cast<ULONG>(ReadAcquire(&lostPeriods)); }

    // The transfers queued ahead: clamped to 0..8, whatever the registry held.
    void SetTransfersAhead(ULONG value, bool markLoaded);
    NTSTATUS GetCallbackDelay(ULONG* value) const;

    // Transport callbacks.
    void OnUsbPeriod(ULONG frameKey, ULONG framesIn, ULONG layoutIndex, PVOID buffer, LONG flags,
                     ULONG framesOut, ULONG multiplier);
    void RestartStreaming();

private:
    struct GatherSlot
    {
        ULONG frameKey;
        ULONG count;
        LONG flags;
        PVOID* buffers;
    };
    struct WorkPacket
    {
        PIO_WORKITEM item;
        EngineStreaming* engine;
        ULONG kind;
        ULONG argument1;
        ULONG argument2;
    };
    // A work item made when the engine is first initialised and kept for its life, so that a
    // stop, start, restart or run-control request at DISPATCH_LEVEL cannot be lost to a failed
    // allocation. Each kind has at most one in the queue: a request meeting a queued one leaves
    // it to that one.
    struct WorkSlot
    {
        PIO_WORKITEM item;
        EngineStreaming* engine;
        ULONG kind;
        volatile LONG queued;
    };
    static constexpr ULONG kRunControlSlot = 3;
    static constexpr ULONG kRetrySlot = 4;
    static constexpr ULONG kWorkSlots = 5;

    NTSTATUS StartDeviceStreaming(ULONG rate, bool restart);
    LONG RunControlNow(ULONG on);  // at PASSIVE_LEVEL
    void StopUsbStreaming(LONG managerState, bool keep);
    // Under the engine mutex (taken again): a start, or a stop and start, that leaves streaming
    // on when the transport started.
    NTSTATUS StartLocked(bool restart);
    // At PASSIVE_LEVEL: a stop and start; a start that failed is tried again.
    void RestartLocked();
    ULONG RateInForce() const;
    bool QueueWork(ULONG kind, ULONG argument1, ULONG argument2, PIO_WORKITEM_ROUTINE routine);
    NTSTATUS AllocateWorkSlots();
    void FreeWorkSlots();
    bool QueueSlot(ULONG slot);
    // At PASSIVE_LEVEL: a start that failed (the transport could not have its transfers) is
    // tried again a few times, from a timer, while it is still what was last asked (serial) and
    // the device stays up. No thread waits between the tries.
    void RetryStart(LONG serial);
    void ArmRetry();
    void CancelRetry();
    static KDEFERRED_ROUTINE RetryTimerDpc;
    static IO_WORKITEM_ROUTINE RetryWorkItem;
    bool Live() const;
    void FreeGatherArrays();
    // What a period reads of the configuration, taken under the gather lock as it begins.
    struct PeriodShape
    {
        ULONG layouts;
        ULONG layoutCount;
        ULONG framesPerMs;
        bool gathered;
    };
    GatherSlot* FindGatherSlot(ULONG frameKey, ULONG layouts);
    // The period's work; a negative answer asks for a stop.
    LONG RunPeriod(const PeriodShape& shape, ULONG frameKey, ULONG framesIn, ULONG layoutIndex,
                   PVOID buffer, LONG flags, ULONG framesOut, ULONG multiplier);
    void SetRateIndex(ULONG value);
    void Lock();
    void Unlock();
    ULONGLONG NowMs() const;
    static IO_WORKITEM_ROUTINE StreamingWorkItem;
    static IO_WORKITEM_ROUTINE RunControlWorkItem;
    static IO_WORKITEM_ROUTINE CallWorkItem;
    static void FillOutput(PVOID context, ULONG startFrame, ULONG samples, ULONG column,
                           PVOID* buffer, ULONG reserved, ULONG previousStartFrame,
                           ULONG previousSamples);
    static void CancelPacket(PVOID context, ULONG startFrame, ULONG samples, ULONG column,
                             PVOID buffer);
    static void UsbPeriod(PVOID context, ULONG startFrame, ULONG samples, ULONG column, PVOID data,
                          LONG errorFlags, ULONG slotSamples, LONG queueAhead);
    static void Restart(PVOID context);
    static void PeriodsLost(PVOID context, ULONG frames);

    DeviceContext* context;
    UsbTransport* transport;
    EnginePeriodRouting* routing;
    EngineHost* host;
    KMUTEX mutex;
    // The flags below are read by completions and work items on other threads: every access goes
    // through the acquire/release forms or the Interlocked operations.
    UCHAR initialized = 0;
    UCHAR rateNotApplied = 1;  // under the engine mutex
    volatile UCHAR streaming = 0;
    volatile UCHAR restartMarker = 0;
    volatile LONG credit = 0;
    volatile LONG lostPeriods = 0;
    ULONGLONG lastStartMs = 0;
    // Counts run-control requests: a request queued from raised IRQL is carried out only if no
    // later one came meanwhile, so a start done at once is not undone by a stop queued before it.
    volatile LONG runControlSerial = 0;
    // The last run-control request queued from raised IRQL and its serial, under workLock.
    KSPIN_LOCK workLock;
    ULONG queuedRunControl = 0;
    LONG queuedRunControlSerial = 0;
    WorkSlot work[kWorkSlots] = {};
    // The start retry: the serial it belongs to, the tries left, and whether its timer is set or
    // its work item queued (the timer holds the remove lock while set).
    KTIMER retryTimer;
    KDPC retryDpc;
    volatile LONG retrySerial = 0;
    volatile LONG retriesLeft = 0;
    volatile LONG retryArmed = 0;
    volatile UCHAR stopPending = 0;
    volatile UCHAR startPending = 0;
    volatile UCHAR restartPending = 0;
    // The configuration, the rate index and the device's input layouts change under the gather
    // lock (the configuration and the rate index under the engine mutex as well, where it is
    // held) and only while no period is in flight; periods read them under the gather lock.
    StreamConfiguration configuration = {};
    ULONG rateIndex = 0;
    ULONG usbInputLayouts = 0;
    ULONG periodsInFlight = 0;
    // Completions of different pipes run at once on different processors and meet in these slots.
    KSPIN_LOCK gatherLock;
    GatherSlot gather[kGatherSlots] = {};
    ULONG transfersAhead = 0;
    UCHAR transfersAheadLoaded = 0;
};
