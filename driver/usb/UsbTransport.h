// The driver's only path to the device: bus interface and speed, descriptors, configuration and
// the pipe table with each endpoint's audio format, the streaming interfaces' alternate settings
// with the transfer buffers that survive their switches, synchronous requests, the sampling
// frequency, raw class requests and the port requests. The streaming engine owns one and calls
// InitializeUsb when the device starts and ReleaseUsb when it stops.
//
// Levels: everything here runs at PASSIVE_LEVEL except NextPipe and the FindLast* lookups (up to
// DISPATCH_LEVEL). The pipe-table lock guards the pipe table and the buffer cache and is never held
// across a request or a PASSIVE-only free.
#pragma once

#include <usbbusif.h>
#include <usbdlib.h>
#include <wdm.h>

#include "UsbClassDescriptors.h"
#include "UsbIsoTypes.h"
#include "UsbMidiPipes.h"
#include "UsbPipe.h"
#include "device/DeviceContext.h"

// A class request to an interface, as the private control filter passes it through.
struct RawClassRequest
{
    UCHAR request;
    USHORT value;
    USHORT index;
    ULONG length;  // bytes to move; at most the caller's buffer
};

class UsbTransport
{
public:
    // The context gives the kernel-streaming device, whose next lower device object receives
    // every request, and the remove lock that brackets each of them.
    explicit UsbTransport(DeviceContext* context);
    UsbTransport(const UsbTransport&) = delete;
    UsbTransport& operator=(const UsbTransport&) = delete;

    NTSTATUS InitializeUsb(const UsbConfigRecord& record);
    void ReleaseUsb();

    NTSTATUS ReadDescriptors();
    // *buffer: length bytes of pool "QUSB" the caller frees; *transferred: bytes the device sent.
    NTSTATUS GetDescriptor(UCHAR type, UCHAR index, USHORT language, ULONG length, PUCHAR* buffer,
                           ULONG* transferred = nullptr);

    NTSTATUS SelectConfiguration();
    NTSTATUS SelectInterface(ULONG interfaceNumber, UCHAR alternateSetting);
    NTSTATUS SelectAlternateSettings(bool enable);
    static NTSTATUS ParseClassDescriptors(PUSB_CONFIGURATION_DESCRIPTOR configuration,
                                          PUSB_INTERFACE_DESCRIPTOR interfaceDescriptor,
                                          ULONG endpointIndex, EndpointFormat* out)
    {
        return ParseEndpointClassDescriptors(configuration, interfaceDescriptor, endpointIndex,
                                             out);
    }

    NTSTATUS SubmitUrb(PURB urb);
    NTSTATUS CallLowerDriver(PIRP irp);

    NTSTATUS SetSampleRate(ULONG rate);
    void CheckRateRequests();
    NTSTATUS SendRawClassRequest(ULONG transferFlags, const RawClassRequest& request, PVOID buffer,
                                 ULONG bufferLength);
    NTSTATUS CyclePort();
    NTSTATUS QueryUsbLocation(PUSB_TOPOLOGY_ADDRESS address);

    // Up to DISPATCH_LEVEL.
    bool NextPipe(UsbPipe** pipe, ULONG* index);
    UsbPipe* FindLastOutAudioPipe() { return FindLastAudioPipe(false); }
    UsbPipe* FindLastInAudioPipe() { return FindLastAudioPipe(true); }

    // What the streaming side reports, which paces the requests at high speed: whether the
    // isochronous transfers run and how many frames each covers, and each completion of the sync
    // pipe (any IRQL up to DISPATCH_LEVEL).
    void SetIsoStreamingState(bool running, ULONG frames)
    {
        streaming = running ? 1 : 0;
        framesPerTransfer = frames;
    }
    void MarkSyncCompletion();

    // Isochronous streaming (PASSIVE_LEVEL). The engine sets the callbacks, the samples it asks
    // per transfer and the queue-ahead before each start.
    NTSTATUS StartIsoStreaming();
    NTSTATUS StopIsoStreaming();
    void SetEngineCallbacks(const IsoEngineCallbacks& routines) { callbacks = routines; }
    // A start refuses audio pipes that do not carry this shape (STATUS_INVALID_PARAMETER).
    void SetStreamShape(const IsoStreamShape& expected) { shape = expected; }
    void SetRequestedSamplesPerTransfer(ULONG samples) { requestedSamplesPerTransfer = samples; }
    // Clamped to 0..8: the sizing needs a budget of 7 to 15 frames.
    void SetQueueAhead(LONG frames) { queueAhead = ClampQueueAhead(frames); }
    LONG QueueAhead() const { return queueAhead; }
    bool IsStreaming() const { return streaming != 0; }
    ULONGLONG TotalSamples() const { return totalSamples; }
    ULONG Transfers() const { return transfers; }
    ULONG FramesPerTransfer() const { return framesPerTransfer; }
    ULONG SamplesPerTransfer() const { return samplesPerTransfer; }
    LONG Lateness() const { return lateness; }
    ULONG Fraction() const { return fraction; }
    bool FeedbackValid() const { return feedbackValid != 0; }
    ULONG FeedbackErrors() const { return feedbackErrors; }
    ULONG RestartAttempts() const { return restartAttempts; }
    const TransferSlot& Slot(ULONG i) const { return slots[i]; }
    // Any IRQL up to DISPATCH_LEVEL; at PASSIVE_LEVEL through a request.
    NTSTATUS GetCurrentFrame(PULONG frame);
    NTSTATUS PipeRequest(USBD_PIPE_HANDLE handle, bool reset);
    static LONG ClampQueueAhead(LONG frames)
    {
        return frames < 0 ? 0 : (frames > kMaxQueueAhead ? kMaxQueueAhead : frames);
    }
    static constexpr LONG kMaxQueueAhead = 8;

    // State the engine and the streaming side read.
    bool HighSpeed() const { return highSpeed != 0; }
    ULONG PacketsPerTransfer() const { return packetsPerTransfer; }
    ULONG BufferFrames() const { return bufferFrames; }
    const USB_DEVICE_DESCRIPTOR* DeviceDescriptor() const { return deviceDescriptor; }
    // Never null: a string that could not be read, or not even be stored, reads as empty.
    const WCHAR* ManufacturerString() const
    {
        return manufacturerString != nullptr ? manufacturerString : u"";
    }
    const WCHAR* ProductString() const { return productString != nullptr ? productString : u""; }
    PUSB_CONFIGURATION_DESCRIPTOR SelectedConfigurationDescriptor() const;
    ULONG SelectedConfiguration() const { return selectedConfiguration; }
    bool Configured() const { return configurationHandle != nullptr; }
    ULONG PipeCount() const { return pipeCount; }
    ULONG OutAudioPipes() const { return outAudioPipes; }
    ULONG InAudioPipes() const { return inAudioPipes; }
    ULONG BufferCacheCount() const { return bufferCacheCount; }
    bool RateRequestFlag() const { return rateRequestFlag != 0; }
    bool AlternateSettingsActive() const { return alternateSettingsActive != 0; }
    ULONG CurrentRate() const { return currentRate; }
    ULONG EffectiveRate() const { return effectiveRate; }
    const UsbConfigRecord& ConfigRecord() const { return configRecord; }

    // The USB-MIDI pipes (UsbMidiPipes.h); ReleaseUsb stops them first.
    UsbMidiPipes* MidiPipes() { return &midiPipes; }

private:
    UsbPipe* FindLastAudioPipe(bool in);
    // Remove lock and IRP for a request to the lower device; both are given back by
    // FinishRequest, which sends it and waits for it (a timeout of 0 waits without limit; a
    // request still pending after its time-out is cancelled and gives STATUS_IO_TIMEOUT).
    NTSTATUS BeginRequest(PIRP* irp);
    NTSTATUS FinishRequest(PIRP irp, LONGLONG timeout100ns);
    NTSTATUS QueryBusInterface();
    NTSTATUS ReadString(UCHAR index, ULONG extra, PUCHAR* buffer, WCHAR** text);
    void FreeStrings();
    NTSTATUS SetEndpointSampleRate(UsbPipe* pipe, ULONG rate);
    NTSTATUS AllocateTransferBuffers(UsbPipe* pipe);
    void FreeAllPipes();
    static void FreePipe(UsbPipe* pipe);
    static void FreeBuffers(PVOID* buffers, bool contiguous);
    void ParkBuffersLocked(UsbPipe* pipe, UsbPipe** toFree, ULONG* toFreeCount);
    NTSTATUS SendPortRequest(ULONG ioControlCode, PVOID argument, bool throughMutex);
    static LONGLONG Now100ns();
    PDEVICE_OBJECT LowerDevice() const { return deviceContext->device->NextDeviceObject; }
    static IO_COMPLETION_ROUTINE SignalRequestDone;

    // Isochronous streaming (UsbIsoStreaming.cpp, UsbIsoCompletion.cpp, UsbFeedback.cpp).
    void ResetStreamingState();
    NTSTATUS SizeTransfers();
    ULONG ComputePacketSizes(ULONG slot);
    IsoTransfer* AllocateTransferObject(UsbPipe* pipe, ULONG slot);
    static void FreeTransferObject(IsoTransfer* transfer);
    void BuildIsoUrb(IsoTransfer* transfer);
    NTSTATUS SubmitTransfer(IsoTransfer* transfer, PIO_COMPLETION_ROUTINE routine, bool resubmit);
    bool SubmitNewTransfer(UsbPipe* pipe, ULONG slot, LONG startFrame,
                           PIO_COMPLETION_ROUTINE routine, bool feedbackTransfer);
    NTSTATUS ProcessIsoCompletion(IsoTransfer* transfer);
    void ProcessInFrames(IsoTransfer* transfer, ULONG frames, ULONG bytesPerSampleFrame,
                         NTSTATUS* result);
    ULONG SlotSamplesFor(const IsoTransfer* transfer);
    NTSTATUS AccountSlot(IsoTransfer* transfer);
    void JoinSecondaryPipes(ULONG slot);
    static IsoTransfer* CountCompletion(PIRP irp, PVOID context);
    void ReplaceTransfer(IsoTransfer* transfer, bool again, LONG startFrame,
                         PIO_COMPLETION_ROUTINE routine, bool feedbackTransfer);
    void RetireSyncTransfer(IsoTransfer* transfer);
    void ResubmitInOrder(IsoTransfer* transfer);
    bool ResubmitSyncTransfer(IsoTransfer* transfer);
    void RetireParkedTransfers();
    static void ReleaseOutstanding(UsbPipe* pipe);
    void StopPipe(UsbPipe* pipe);
    void RequestRestart();
    ULONG ColumnOf(const UsbPipe* pipe) const;
    ULONG MaxFrameSamples(const UsbPipe* pipe) const;
    NTSTATUS CheckAudioPipes();
    UsbPipe* FindFeedbackPipe();
    void StartFeedbackPipe();
    void BuildFeedbackUrb(IsoTransfer* transfer);
    bool AcceptFeedback(const UCHAR* value, ULONG length);
    static IO_COMPLETION_ROUTINE SyncPipeComplete;
    static IO_COMPLETION_ROUTINE SecondaryPipeComplete;
    static IO_COMPLETION_ROUTINE FeedbackComplete;

    // Device context, request serialisation and the sync pipe's pacing (the streaming side sets the
    // last three).
    DeviceContext* deviceContext;
    KMUTEX requestMutex;
    KEVENT syncCompletionEvent;
    LONGLONG lastSyncCompletionTime = 0;  // 100 ns
    UCHAR highSpeed = 0;
    ULONG bufferFrames = 4;        // 1 ms frames per transfer buffer
    ULONG packetsPerTransfer = 4;  // most isochronous packets one transfer carries

    PUCHAR manufacturerBuffer = nullptr;
    WCHAR* manufacturerString = nullptr;  // NUL-terminated, inside manufacturerBuffer
    PUCHAR productBuffer = nullptr;
    WCHAR* productString = nullptr;
    PUSB_CONFIGURATION_DESCRIPTOR configurationDescriptors[kUsbMaxConfigurations] = {};
    ULONG selectedConfiguration = 0;
    USBD_CONFIGURATION_HANDLE configurationHandle = nullptr;
    PUSB_DEVICE_DESCRIPTOR deviceDescriptor = nullptr;
    USB_BUS_INTERFACE_USBDI_V1 busInterface = {};

    UsbPipe* pipes[kUsbMaxPipes] = {};
    ULONG pipeCount = 0;
    ULONG outAudioPipes = 0;
    ULONG inAudioPipes = 0;
    BufferCacheEntry bufferCache[kUsbMaxPipes] = {};
    ULONG bufferCacheCount = 0;
    UsbConfigRecord configRecord = {};
    UCHAR rateRequestFlag = 1;
    UCHAR alternateSettingsActive = 0;
    KSPIN_LOCK pipeTableLock = 0;

    // Isochronous streaming.
    volatile UCHAR streaming = 0;  // transfers are resubmitted; clearing it stops every party
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
    TransferSlot slots[kUsbTransferSlots] = {};
    ULONG currentRate = 0;  // Hz
    ULONG requestedSamplesPerTransfer = 1;
    ULONG samplesPerTransfer = 0;
    ULONG feedbackTransfers = 2;
    ULONG transfers = 0;  // in flight per audio pipe
    ULONG framesPerTransfer = 1;
    SHORT measuredRing[1024] = {};  // sample counts of received frames of the sync pipe
    ULONG ringWrite = 0;            // free running
    ULONG ringRead = 0;             // free running
    LONG windowSum = 0;
    ULONG windowCount = 0;    // at most 1023
    ULONG effectiveRate = 0;  // Hz, as measured
    LONG queueAhead = 3;      // frames; learned completion delay
    LONG lateness = -1;
    LONG windowTimer = -5000;  // frames of the current learning window
    LONG windowMaximum = 1;
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
    PKTHREAD volatile cancelOwner = nullptr;
    UsbPipe* syncPipe = nullptr;
    ULONG frameSampleLimit = 0xFFFF;  // samples a frame of every audio pipe can carry

    UsbMidiPipes midiPipes{deviceContext, this};
};
