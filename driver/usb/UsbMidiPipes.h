// The transport's USB-MIDI pipes: two reads kept in flight on every USB-MIDI IN pipe, each
// successful read handed to the registered input, and the OUT transfer that collects the engine
// tick's event packets and goes out when full or at the end of the tick.
//
// The pipes are the pipe-table records of MIDI streaming interfaces with a bulk or interrupt
// endpoint that can carry at least one 4-byte event packet; a smaller endpoint is left alone
// (a read of it would overrun or come back empty at once, for ever). They are taken from the
// pipe table at each start and not looked up again until the next one.
//
// Levels: StartMidiPipes and StopMidiPipes at PASSIVE_LEVEL; PutMidiOutPacket and FlushMidiOut
// from the engine tick at DISPATCH_LEVEL, one tick at a time; completions at DISPATCH_LEVEL.
// A read is resubmitted or retired under the cancel lock, which the stopping thread holds (as its
// recorded owner) while it cancels the reads: a read is never cancelled after its IRP was freed,
// and a resubmitted read is either seen by the stop or sees it.
#pragma once

#include <usb.h>
#include <wdm.h>

#include "device/DeviceContext.h"
#include "midi/MidiPipes.h"

class UsbRequestChannel;
class UsbPipeTable;
class UsbIsoStreaming;
class UsbMidiPipes;
struct MidiPipeState;

inline constexpr ULONG kMidiReadsPerPipe = 2;
inline constexpr ULONG kMaxMidiPipes = 8;    // USB-MIDI endpoints driven, both directions
inline constexpr ULONG kMidiUrbBytes = 128;  // pool for one URB, as the bus expects
inline constexpr ULONG kMidiCancelWaitMs = 5000;
inline constexpr ULONG kMidiOutIdleWaitMs = 1000;
inline constexpr ULONG kMidiStartSettleMs = 10;

// One read or OUT transfer. Non-paged pool "TrOb", zero-filled; URB "Urb ", buffer "Data".
struct MidiTransfer
{
    PIRP irp;  // a read's: cleared under the cancel lock when the read retires
    PURB urb;
    MidiPipeState* pipe;
    PUCHAR buffer;    // the endpoint's MaximumPacketSize bytes
    ULONG byteCount;  // OUT: bytes collected
    KEVENT completion;
};

struct MidiPipeState
{
    USBD_PIPE_HANDLE handle;
    USBD_PIPE_TYPE type;
    ULONG maximumPacketSize;
    UCHAR isIn;
    MidiTransfer* reads[kMidiReadsPerPipe];
    volatile LONG outstanding;  // reads in flight, plus a guard while they are being started
    volatile LONG pendingOut;   // OUT transfers in flight
    KEVENT idle;                // notification: no read, or no OUT transfer, outstanding
    UsbMidiPipes* owner;
};

class UsbMidiPipes final : public MidiPipes
{
public:
    // The request channel gives the device context and the lower device, the pipe table the
    // MIDI pipes, the streaming side the pipe requests.
    UsbMidiPipes(UsbRequestChannel& requests, UsbPipeTable& pipeTable, UsbIsoStreaming& streaming);
    UsbMidiPipes(const UsbMidiPipes&) = delete;
    UsbMidiPipes& operator=(const UsbMidiPipes&) = delete;

    // ---- MidiPipes ----------------------------------------------------------------------------
    // STATUS_INSUFFICIENT_RESOURCES when a read could not be started (the others run).
    NTSTATUS StartMidiPipes() override;
    void StopMidiPipes() override;
    bool MidiPipesStarted() override { return ReadUCharAcquire(&started) != 0; }
    void SetMidiInput(MidiInput* input) override;

    // ---- MidiOutSink --------------------------------------------------------------------------
    // The last usable USB-MIDI OUT pipe carries every port (as its cable). 0 collected, 1 the
    // transfer was full and went out; STATUS_UNSUCCESSFUL without an OUT pipe or while stopped,
    // STATUS_INSUFFICIENT_RESOURCES without memory for a transfer.
    LONG PutMidiOutPacket(const UsbMidiPacket* packet, ULONG port) override;
    ULONG PendingOutTransfers() override;
    void FlushMidiOut() override;
    // A transfer to collect into exists, or is made now; false without memory for one.
    bool CanTakeMidiOutPacket() override;

    // ---- What the transport's owner and tests read ---------------------------------------------
    ULONG PipeCount() const { return pipeCount; }
    // Reads that completed with a failure and were retired rather than resubmitted, outside a
    // stop, and the status of the last one.
    ULONG FailedReads() const { return static_cast<ULONG>(ReadAcquire(&failedReads)); }
    NTSTATUS LastReadFailure() const { return ReadAcquire(&lastReadFailure); }
    ULONG FailedWrites() const { return static_cast<ULONG>(ReadAcquire(&failedWrites)); }
    // Reads in flight on every IN pipe.
    LONG ReadsInFlight() const;

private:
    void CollectPipes();
    NTSTATUS StartMidiReads(MidiPipeState* state, ULONG count);
    void StopMidiReads(MidiPipeState* state);
    void WaitOutIdle(MidiPipeState* state);
    bool SubmitNewRead(MidiTransfer* transfer);
    void PrepareRead(MidiTransfer* transfer);
    void RetireRead(MidiTransfer* transfer, PIRP irp);
    NTSTATUS SendPendingTransfer();
    MidiTransfer* AllocateMidiTransfer(MidiPipeState* state);
    static void FreeMidiTransfer(MidiTransfer* transfer);
    static void BuildBulkUrb(MidiTransfer* transfer, ULONG length, bool in);
    static void ReleaseOutstanding(volatile LONG* counter, PKEVENT idle);
    bool WaitIdle(MidiPipeState* state, ULONG milliseconds);
    PDEVICE_OBJECT LowerDevice() const;
    static IO_COMPLETION_ROUTINE MidiReadComplete;
    static IO_COMPLETION_ROUTINE MidiWriteComplete;

    UsbRequestChannel& requests;
    UsbPipeTable& pipeTable;
    UsbIsoStreaming& streaming;
    MidiPipeState pipes[kMaxMidiPipes] = {};
    ULONG pipeCount = 0;
    MidiPipeState* outPipe = nullptr;         // the last usable OUT pipe, or null
    MidiTransfer* pendingTransfer = nullptr;  // being filled by the tick
    PVOID input = nullptr;  // a MidiInput*; read by completions on other processors
    volatile UCHAR started = 0;
    volatile UCHAR stopping = 0;  // reads retire instead of being resubmitted
    KSPIN_LOCK cancelLock = 0;
    PVOID cancelOwner = nullptr;  // a PKTHREAD; read by completions on other processors
    volatile LONG failedReads = 0;
    volatile NTSTATUS lastReadFailure = STATUS_SUCCESS;
    volatile LONG failedWrites = 0;
};
