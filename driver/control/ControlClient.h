// The state behind one open handle of the control filter: a low-latency, double-buffered
// streaming client (user mode hands in up to 20 channel buffers per direction, each of two halves,
// and two events; every device period the engine copies straight between the device and the
// halves, and each half switch signals an event) and the handle's private MIDI ports (opened by
// number, read one message at a time, written from user buffers that stay locked until sent).
//
// One per open handle, in non-paged pool ("PcNw", zero-filled before construction). The property
// handlers of the control filter call the operations at PASSIVE_LEVEL; the stream manager reaches
// the streaming part through StreamClientSink, the MIDI router the MIDI part through the reader and
// writer owner interfaces, both at up to DISPATCH_LEVEL.
//
// User buffers and handles come from any user-mode program: buffers are probed in the mode of the
// request that hands them in, handles are referenced for user mode, and an object that could not
// be referenced is never registered.
#pragma once

#include <ks.h>
#include <wdm.h>

#include "device/DeviceContext.h"
#include "device/FilterLinks.h"
#include "device/StreamConfiguration.h"
#include "engine/ClientStream.h"
#include "engine/StreamInterfaces.h"
#include "midi/MidiClients.h"
#include "midi/MidiConfiguration.h"

struct ManagedClientStream;
class MidiRouter;

inline constexpr ULONG kControlChannels = 20;  // per direction
inline constexpr ULONG kControlHalves = 2;
inline constexpr ULONG kControlSampleBytes = 4;  // 32-bit little-endian integers
inline constexpr ULONG kControlMidiPorts = 32;   // per direction
inline constexpr ULONG kControlMidiWriteSlots = 16;
inline constexpr ULONG kControlMidiReadLimit = 4096;  // bytes one read takes at most

enum ControlDirection : ULONG
{
    kControlInput = 0,
    kControlOutput = 1,
};

// Change flags, read and cleared by user mode; any set flag makes BufferDone fail.
inline constexpr ULONG kChangeOutputFailed = 0x01;
inline constexpr ULONG kChangeInputLost = 0x02;
inline constexpr ULONG kChangeBufferSize = 0x10;
inline constexpr ULONG kChangeRestarted = 0x20;
inline constexpr ULONG kChangeClockRateDiffers = 0x40;
inline constexpr ULONG kChangeClockAbsent = 0x80;
// Passed on by the engine; requests a restart at the next buffer-done of half 1, never stored.
inline constexpr ULONG kEngineRestartRequest = 0x100;

// The 16 bytes a MIDI read answers (also written into a pending read's data on completion).
struct ControlMidiReadResult
{
    ULONGLONG time;  // 100 ns
    ULONG bytes;
    ULONG kind;  // 1 a complete short message, 0 SysEx data
};
static_assert(sizeof(ControlMidiReadResult) == 16);

class ControlClient final : public ControlClientLink,
                            public StreamClientSink,
                            public MidiReaderOwner,
                            public MidiWriterOwner
{
public:
    // ---- Creation and teardown ---------------------------------------------------------------
    // Allocates and constructs the client of one open control filter; context may be null (a
    // device without context: every operation that needs it then fails).
    // STATUS_INSUFFICIENT_RESOURCES when the pool has no room.
    static NTSTATUS Create(PKSFILTER filter, DeviceContext* context, ControlClient** client);
    // Tears down the MIDI part, then the streaming part, then frees the object. PASSIVE_LEVEL.
    static void Destroy(ControlClient* client);
    // Destroy in the form of an object bag's free callback.
    static void FreeFromObjectBag(PVOID client);

    PKSFILTER Filter() const { return filter; }
    DeviceContext* Context() const { return context; }

    // ---- Removal-notification registration (the control filter's general set) ------------------
    // 0xC0000001 when one is registered; otherwise references the handle's event (user mode,
    // EVENT_MODIFY_STATE) and keeps it with the requesting file object. A handle whose event
    // cannot be referenced is not registered: the referencing status is returned.
    NTSTATUS RegisterRemovalEvent(HANDLE handle, PVOID fileObject);
    // Dereferences and clears the registration, if any; success.
    NTSTATUS ReleaseRemovalEvent();

    // ---- ControlClientLink -------------------------------------------------------------------
    PRKEVENT RegisteredNotificationEvent() override;
    bool HasRunningClientStream() override;
    void RaiseChangeFlags(ULONG flags) override;

    // ---- Streaming ---------------------------------------------------------------------------
    // The file object of a request that maps, registers or releases: set once, kept until
    // teardown. A handle with an owner is a streaming handle.
    void RecordOwner(PVOID fileObject);
    bool HasOwner() const;
    // pointers[channel][half]; a null pointer leaves that half unmapped. The buffers are probed
    // in requestorMode. Input: 0xC0000001 when the input is already mapped (whatever its halves
    // hold) or a client stream exists. Output: success without change in the same cases.
    NTSTATUS MapClientBuffers(ControlDirection direction,
                              PVOID const (&pointers)[kControlChannels][kControlHalves],
                              ULONG byteLength, KPROCESSOR_MODE requestorMode);
    // Stops and removes the client stream first when it exists, then releases every buffer of
    // the direction; success.
    NTSTATUS UnmapClientBuffers(ControlDirection direction);
    // Only when neither is registered; a nonzero handle that cannot be referenced fails the whole
    // registration (nothing is stored) with the referencing status.
    NTSTATUS SetEvents(HANDLE handle0, HANDLE handle1);
    NTSTATUS ReleaseEvents();
    NTSTATUS StartStreaming();
    NTSTATUS StopStreaming();
    NTSTATUS BufferDone();
    // Marks the request pending and queues it: STATUS_PENDING.
    NTSTATUS QueueWait(PIRP request);
    // Completes the oldest queued wait with success and no data; success also when none.
    NTSTATUS ReleaseWait();
    ULONG TakeChangeFlags();
    // Samples since start (reset to 0 when nothing runs) and the time in nanoseconds.
    void GetPosition(ULONGLONG* position, ULONGLONG* timeNs);
    bool IsRunning();
    ULONG SnapBufferSize(ULONG size);
    // STATUS_INVALID_PARAMETER for 0; 0xC0000001 for a size that does not snap to itself.
    NTSTATUS SetBufferSize(ULONG size);
    NTSTATUS OnControlRateChanged(ULONG rate);
    // This handle's own buffer size in samples (one half); 0 until set.
    ULONG BufferSize() const { return bufferSize; }
    // Samples of one mapped half; 0 when nothing is mapped.
    ULONG MappedLength() const { return mappedLength; }

    // ---- StreamClientSink --------------------------------------------------------------------
    void OnDevicePeriod(ClientStream* stream) override;
    void OnStreamConfigurationChanged(ClientStream* stream, LONG configurationIndex) override;
    void OnFlags(ClientStream* stream, ULONG flags) override;

    // ---- Private MIDI ports ------------------------------------------------------------------
    ULONG GetOutputPortCount();
    ULONG GetInputPortCount();  // at most 32
    // n >= 32 and n past the count are refused with 0xC0000001.
    NTSTATUS OpenOutputPort(ULONG n);
    NTSTATUS OpenInputPort(ULONG n);
    // Always success; n >= 32 changes nothing.
    NTSTATUS CloseOutputPort(ULONG n);
    NTSTATUS CloseInputPort(ULONG n);
    NTSTATUS CloseAllPorts();
    ULONG GetOpenOutputMask();
    ULONG GetOpenInputMask();
    ULONG GetInputDataMask();
    // As SetEvents, for the one MIDI event.
    NTSTATUS SetMidiEvent(HANDLE handle);
    NTSTATUS ReleaseMidiEvent();
    // The buffer is probed in the request's requestor mode. Success with the result filled,
    // STATUS_PENDING with the request queued (the result is written when it completes), or
    // 0xC0000001.
    NTSTATUS ReadMidi(PIRP request, ULONG n, PVOID pointer, ULONG length,
                      ControlMidiReadResult* result);
    // The buffer is probed in requestorMode and stays locked until sent. 0xC0000001 for n >= 32,
    // a closed port, no free slot, length 0, a buffer that cannot be locked, or a sender that
    // refused the message.
    NTSTATUS WriteMidi(ULONG n, PVOID pointer, ULONG length, KPROCESSOR_MODE requestorMode);

    // MIDI router sinks, by the Part's names; the owner interfaces below forward to them.
    bool AcceptsInput() const { return true; }
    void OnInputData(MidiReader* port);
    void OnOutputDone(MidiWriter* port, const UCHAR* buffer);
    ULONG OnPortTableChanged(ULONG generation);

    // ---- MidiReaderOwner / MidiWriterOwner ----------------------------------------------------
    LONG Deliver(MidiReader* client, LONGLONG time, const UCHAR* bytes, ULONG count,
                 bool complete) override;
    void DataAvailable(MidiReader* client) override;
    void PortTableChanged(MidiReader* client, ULONG generation) override;
    void BufferDone(MidiWriter* client, const UCHAR* buffer) override;
    void PortTableChanged(MidiWriter* client, ULONG generation) override;

    ControlClient(const ControlClient&) = delete;
    ControlClient& operator=(const ControlClient&) = delete;

private:
    ControlClient(PKSFILTER owningFilter, DeviceContext* deviceContext);
    ~ControlClient();

    struct UserBuffer
    {
        PMDL mdl;
        PVOID address;  // kernel address of the locked pages
    };
    // An event registered from user mode: the handle as given and the referenced object.
    struct UserEvent
    {
        HANDLE handle;
        PRKEVENT object;
    };
    struct InputPort
    {
        MidiReader* reader;  // under lock
        LIST_ENTRY reads;    // at most one pending read, under queueLock
        KSPIN_LOCK queueLock;
        KSPIN_LOCK lock;  // the reader pointer, FIFO reads and the pending read's hand-over
    };
    struct OutputPort
    {
        MidiWriter* writer;  // under lock
        UserBuffer slots[kControlMidiWriteSlots];
        KSPIN_LOCK lock;  // the writer pointer and the slots
    };

    // ---- Streaming (ControlClientStreaming.cpp, ControlClientPeriods.cpp) ----------------------
    void SetSetupFlags(ULONG bits);
    void ClearSetupFlags(ULONG bits);
    bool MapBuffer(UserBuffer* buffer, PVOID pointer, ULONG byteLength, KPROCESSOR_MODE mode);
    static void UnmapBuffer(UserBuffer* buffer);
    bool IsDeviceReady() const;
    NTSTATUS StartLocked(ManagedClientStream* running);
    NTSTATUS StopLocked(ManagedClientStream* running);
    void ComputePeriodsPerHalf();
    ULONG PeriodLength() const;
    void BuildInputTable();
    void BuildOutputTable();
    void SendOutputPeriod(ManagedClientStream* running);
    void SignalHalfEvent(ULONG half);
    void ClearHalfEvents();
    void FireGeneralEvent();
    void CompleteAllWaits();
    void TearDownStreaming();
    static void RaiseOnEveryClient(DeviceContext* context, ULONG flags);

    // ---- Events shared by both parts (ControlClientEvents.cpp) ----------------------------------
    static NTSTATUS ReferenceUserEvent(HANDLE handle, PRKEVENT* object);
    // Takes the objects out under lock, then dereferences them.
    static void ReleaseUserEvents(UserEvent* events, ULONG count, PKSPIN_LOCK lock);

    // ---- MIDI (ControlClientMidi*.cpp) ----------------------------------------------------------
    void LoadPortTable();
    ULONG CountPrivatePorts(bool output) const;
    LONG FindPrivatePort(bool output, ULONG n) const;
    void ApplyPendingTableChange();
    void NotePortTableChange();
    static void PortTableWork(PDEVICE_OBJECT device, PVOID context);
    void CloseInputLocked(ULONG n);
    void CloseOutputLocked(ULONG n);
    void CloseAllLocked();
    void SignalMidiEvent();
    static void ReleaseSlotBuffer(UserBuffer buffer, bool invert);
    bool ReadOneMessage(MidiReader* reader, PMDL mdl, ULONG length, ControlMidiReadResult* result);
    static bool HasPendingRead(InputPort* port);
    static void CancelPendingRead(PDEVICE_OBJECT device, PIRP irp);
    static void FinishRead(PIRP irp, PMDL mdl, NTSTATUS status, ULONG_PTR information);
    void TearDownMidi();

    PKSFILTER filter;
    DeviceContext* context;
    KMUTEX controlMutex;  // serialises the streaming operations of user threads

    // Removal notification.
    UserEvent removal;
    PVOID removalFile;
    KSPIN_LOCK removalLock;

    // Streaming.
    volatile LONG setupFlags;
    ManagedClientStream* stream;  // changed under controlMutex and streamLock
    KSPIN_LOCK streamLock;
    PVOID volatile owner;
    UserBuffer inputBuffers[kControlChannels][kControlHalves];
    UserBuffer outputBuffers[kControlChannels][kControlHalves];
    ULONG mappedLength;  // samples in one half
    UserEvent events[kControlHalves];
    KSPIN_LOCK eventLock;  // the half events; held while they are signalled or cleared
    StreamConfiguration configuration;
    LONG configurationIndex;
    ULONG bufferSize;
    ULONG periodsPerHalf;
    ULONG inputHalf;
    ULONG inputPeriod;
    ULONG outputHalf;
    ULONG outputPeriod;
    UCHAR inputHalfState[kControlHalves];
    UCHAR outputReady[kControlHalves];
    ULONG missedPeriods;
    ULONG doneToggle;
    UCHAR firstPeriod;
    volatile LONG changeFlags;
    ULONGLONG position;
    volatile LONG restartPending;
    volatile LONG outputBusy;
    LIST_ENTRY waitQueue;
    KSPIN_LOCK waitLock;
    PVOID inputTable[kCaptureMaxLayouts];
    PVOID outputTable[kCaptureMaxLayouts];

    // Private MIDI ports.
    KMUTEX midiMutex;  // serialises opening and closing
    MidiConfiguration portTable;
    InputPort inputPorts[kControlMidiPorts];
    OutputPort outputPorts[kControlMidiPorts];
    UserEvent midiEvent;
    KSPIN_LOCK midiEventLock;  // held while the MIDI event is signalled
    PIO_WORKITEM tableWork;
    volatile LONG tableWorkQueued;
    volatile LONG tableWorkOutstanding;
    KEVENT tableWorkIdle;  // notification; signalled while no table work is outstanding
};
