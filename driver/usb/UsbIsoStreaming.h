// Isochronous streaming over the audio pipes of the pipe table: a ring of transfers per audio
// pipe sized from the learned queue-ahead, the sample count of every frame (from the capture
// stream, the rate's fraction or the feedback endpoint), the completions with what they hand the
// engine, the lateness learned from them, and the restarts asked of the engine.
//
// Levels: start and stop at PASSIVE_LEVEL; the completion routines at DISPATCH_LEVEL on any
// processor. The slot lock guards the slot accounting, the resubmit lock the order in which the
// sync pipe's transfers go back to the bus, the cancel lock the sync pipe's transfer objects.
#pragma once

#include <usbdlib.h>
#include <wdm.h>

#include "usb/UsbCaptureFrameSizes.h"
#include "usb/UsbIsoTypes.h"
#include "usb/UsbLatenessLearning.h"
#include "usb/UsbPipe.h"

class UsbBus;
class UsbConfiguration;
class UsbPipeTable;
class UsbRequestChannel;

class UsbIsoStreaming
{
public:
    UsbIsoStreaming(UsbRequestChannel& requests, UsbBus& bus, UsbPipeTable& pipeTable,
                    UsbConfiguration& configuration);
    UsbIsoStreaming(const UsbIsoStreaming&) = delete;
    UsbIsoStreaming& operator=(const UsbIsoStreaming&) = delete;

    NTSTATUS StartIsoStreaming();
    NTSTATUS StopIsoStreaming();
    // Transfers may be in flight (a start has not been stopped yet).
    bool HasSyncPipe() const { return syncPipe != nullptr; }

    // What the configuration record asks of streaming.
    void SetFeedbackFlags(bool readFeedback, bool neverRestart)
    {
        feedback = readFeedback ? 1 : 0;
        noFeedbackRestart = neverRestart ? 1 : 0;
    }
    // The rate taken by the device; the measured rate starts from it.
    void SetRate(ULONG rate)
    {
        currentRate = rate;
        effectiveRate = rate;
    }
    void SetStreamingState(bool running, ULONG frames)
    {
        WriteUCharRelease(&streaming, running ? 1 : 0);
        framesPerTransfer = frames;
    }
    void SetEngineCallbacks(const IsoEngineCallbacks& routines) { callbacks = routines; }
    void SetStreamShape(const IsoStreamShape& expected) { shape = expected; }
    void SetRequestedSamplesPerTransfer(ULONG samples) { requestedSamplesPerTransfer = samples; }
    // Under primingLock, as the completions that learn it.
    void SetQueueAhead(LONG frames);
    static LONG ClampQueueAhead(LONG frames)
    {
        return UsbLatenessLearning::ClampQueueAhead(frames);
    }
    static constexpr LONG kMaxQueueAhead = UsbLatenessLearning::kMaxQueueAhead;
    // A 40-byte pipe request: reset and clear stall, or abort.
    NTSTATUS PipeRequest(USBD_PIPE_HANDLE handle, bool reset);

    LONG QueueAhead() const;
    bool IsStreaming() const { return ReadUCharAcquire(&streaming) != 0; }
    ULONGLONG TotalSamples() const { return totalSamples; }
    ULONG Transfers() const { return transfers; }
    ULONG FramesPerTransfer() const { return framesPerTransfer; }
    ULONG SamplesPerTransfer() const { return samplesPerTransfer; }
    LONG Lateness() const { return learning.Lateness(); }
    ULONG Fraction() const { return fraction; }
    bool FeedbackValid() const { return feedbackValid != 0; }
    ULONG FeedbackErrors() const { return feedbackErrors; }
    ULONG RestartAttempts() const { return restartAttempts; }
    // Frames the pipes' schedules skipped since the start because completions came too late for
    // the next transfer of their slot (each skip is also told to the engine).
    ULONG LostFrames() const { return static_cast<ULONG>(ReadAcquire(&lostFrames)); }
    const TransferSlot& Slot(ULONG i) const { return slots[i]; }
    ULONG CurrentRate() const { return currentRate; }
    ULONG EffectiveRate() const { return effectiveRate; }

private:
    // The steps of the completion path are inline: each is defined, and called once, in the file
    // of its caller, so the steps cost no calls.

    // Start and stop (UsbIsoStreaming.cpp).
    void ResetStreamingState();
    void ResetPipes();
    NTSTATUS SizeTransfers();
    NTSTATUS CheckAudioPipes();
    ULONG LargestPacedFrame(ULONG base, ULONG largestIn);
    ULONG MaxFrameSamples(const UsbPipe* pipe) const;
    NTSTATUS BuildSyncRing(UsbPipe* sync);
    NTSTATUS SubmitSyncRing(UsbPipe* sync);
    void StopPipe(UsbPipe* pipe);
    void CancelSyncTransfers(UsbPipe* pipe);

    // Transfers (UsbIsoTransfers.cpp).
    ULONG ComputePacketSizes(ULONG slot);
    inline ULONG NextFrameSize(ULONG base);
    IsoTransfer* AllocateTransferObject(UsbPipe* pipe, ULONG slot);
    static void FreeTransferObject(IsoTransfer* transfer);
    void BuildIsoUrb(IsoTransfer* transfer);
    inline ULONG SpreadOutFrames(IsoTransfer* transfer, ULONG packets, ULONG* total);
    inline PVOID FillOutput(IsoTransfer* transfer, ULONG total, ULONG bytes);
    NTSTATUS SubmitTransfer(IsoTransfer* transfer, PIO_COMPLETION_ROUTINE routine, bool resubmit);
    // False when the IRP must not go out again (the sync pipe stopped streaming).
    bool ReuseIrp(const UsbPipe* pipe, PIRP irp);
    bool SubmitNewTransfer(UsbPipe* pipe, ULONG slot, LONG startFrame,
                           PIO_COMPLETION_ROUTINE routine, bool feedbackTransfer);
    bool SubmitReusedTransfer(IsoTransfer* transfer, LONG startFrame,
                              PIO_COMPLETION_ROUTINE routine, bool feedbackTransfer);
    bool SendTransfer(IsoTransfer* transfer, LONG startFrame, PIO_COMPLETION_ROUTINE routine,
                      bool feedbackTransfer);
    static void ReleaseOutstanding(UsbPipe* pipe);
    ULONG ColumnOf(const UsbPipe* pipe) const;

    // Completions (UsbIsoCompletion.cpp, UsbIsoCapture.cpp).
    NTSTATUS ProcessIsoCompletion(IsoTransfer* transfer);
    inline bool TakeCompletionStatus(IsoTransfer* transfer, NTSTATUS* result);
    inline void ShiftPrimingCycle(IsoTransfer* transfer, ULONG frames);
    inline void MeasureLateness(IsoTransfer* transfer, ULONG frames);
    // The queue-ahead learned so far, read under primingLock (completions: DISPATCH_LEVEL).
    LONG LearnedQueueAhead();
    inline void ProcessOutTransfer(IsoTransfer* transfer, ULONG bytesPerSampleFrame);
    void ProcessInFrames(IsoTransfer* transfer, ULONG frames, ULONG bytesPerSampleFrame,
                         NTSTATUS* result);
    inline ULONG GatherFrame(IsoTransfer* transfer, ULONG frame, ULONG at, bool* empty,
                             NTSTATUS* result);
    inline LONG SilenceFrame(IsoTransfer* transfer, ULONG frame, ULONG frameStart,
                             ULONG bytesPerSampleFrame);
    inline void ReportCapture(IsoTransfer* transfer, ULONG received);
    ULONG SlotSamplesFor(const IsoTransfer* transfer);

    // Accounting and resubmission (UsbIsoResubmit.cpp).
    NTSTATUS AccountSlot(IsoTransfer* transfer);
    ULONG SyncStartFrame(IsoTransfer* transfer);
    LONG SecondaryStartFrame(IsoTransfer* transfer);
    void ReportLostFrames(ULONG frames);
    void JoinSecondaryPipes(ULONG slot);
    static IsoTransfer* CountCompletion(PIRP irp, PVOID context);
    void ReplaceTransfer(IsoTransfer* transfer, bool again, LONG startFrame,
                         PIO_COMPLETION_ROUTINE routine, bool feedbackTransfer);
    void RetireSyncTransfer(IsoTransfer* transfer);
    void ResubmitInOrder(IsoTransfer* transfer);
    inline void PrepareResubmission(IsoTransfer* transfer);
    bool ResubmitSyncTransfer(IsoTransfer* transfer);
    void RetireParkedTransfers();
    void RequestRestart();
    static IO_COMPLETION_ROUTINE SyncPipeComplete;
    static IO_COMPLETION_ROUTINE SecondaryPipeComplete;

    // The feedback endpoint (UsbFeedback.cpp).
    void StartFeedbackPipe();
    void BuildFeedbackUrb(IsoTransfer* transfer);
    bool AcceptFeedback(const UCHAR* value, ULONG length);
    void CountFeedbackError(UsbPipe* pipe, NTSTATUS status, ULONG startFrame);
    static IO_COMPLETION_ROUTINE FeedbackComplete;

    UsbRequestChannel& requests;
    UsbBus& bus;
    UsbPipeTable& pipeTable;
    UsbConfiguration& configuration;

    // Transfers are resubmitted; clearing it stops every party. Read and written on several
    // threads: only through the acquire/release forms.
    UCHAR streaming = 0;
    UCHAR feedback = 0;
    UCHAR noFeedbackRestart = 0;
    ULONG restartAttempts = 0;  // restarts asked for because of feedback errors
    ULONG feedbackErrors = 0;   // feedback values rejected in a row
    UCHAR feedbackValid = 0;    // while set the capture stream is not measured
    ULONG audioPipes = 0;
    ULONGLONG totalSamples = 0;  // on the sync pipe since start
    LONG transferCarry = 0;
    ULONG fractionAccumulator = 0;  // thousandths of a sample, of the OUT packet sizes
    // The same for the silence put in place of refused capture packets. Kept apart: an accepted
    // capture packet clears it, which must not drop the fraction of the output's packet sizes.
    ULONG inFractionAccumulator = 0;
    ULONG fraction = 0;       // the effective rate's part below whole samples per frame, in 1/1000
    LONG framesInFlight = 0;  // covered by the sync pipe's transfers in flight
    ULONG firstStartFrame = 0;
    // The frame after the sync pipe's last transfer sent, and whether that one carried data (not
    // the priming cycle's silence). Under the slot lock.
    ULONG syncEndFrame = 0;
    UCHAR syncEndsData = 0;
    volatile LONG lostFrames = 0;  // since the start
    TransferSlot slots[kUsbTransferSlots] = {};
    ULONG currentRate = 0;  // Hz
    ULONG requestedSamplesPerTransfer = 1;
    ULONG samplesPerTransfer = 0;
    ULONG feedbackTransfers = 2;
    ULONG transfers = 0;  // in flight per audio pipe
    ULONG framesPerTransfer = 1;
    UsbCaptureFrameSizes measured;  // measured ring, window sum and count
    ULONG effectiveRate = 0;        // Hz, as measured
    UsbLatenessLearning learning;   // queue-ahead, lateness, window timer, window maximum
    IsoEngineCallbacks callbacks = {};
    IsoStreamShape shape = {};
    volatile LONG errorFlags = 0;
    KSPIN_LOCK slotLock = 0;
    // The sync pipe's transfers go back to the bus in slot order; one whose completion overtook
    // its predecessor's waits here. Guarded by resubmitLock.
    KSPIN_LOCK resubmitLock = 0;
    ULONG nextResubmitSlot = 0;
    IsoTransfer* parkedTransfers[kUsbTransferSlots] = {};
    KSPIN_LOCK cancelLock = 0;
    // Guards `learning`: the priming cycle's first completion is measured once, and every later
    // completion learns from its lateness, but a completion run inline by a submission and one
    // run by the bus's DPC can meet on two processors.
    mutable KSPIN_LOCK primingLock = 0;
    // Guards what every capture completion changes as it takes its frames (inFractionAccumulator,
    // the frames recorded into `measured`, the sync pipe's totalSamples, and effectiveRate and
    // fraction as the capture stream measures them, which the sizing reads under slotLock: so
    // written under both). Taken before slotLock, never under it.
    KSPIN_LOCK captureLock = 0;
    PVOID cancelOwner = nullptr;  // a PKTHREAD; read by completions on other processors
    UsbPipe* syncPipe = nullptr;
    ULONG frameSampleLimit = 0xFFFF;  // samples a frame of every audio pipe can carry
};
