// Start and stop of isochronous streaming: the state of a new start, the check of the audio
// pipes against the configuration, the sizing of the ring of transfers from the queue-ahead, the
// sync pipe's ring, and the stop that waits for every transfer.
#include "usb/UsbIsoStreaming.h"

#include "common/InStackLock.h"
#include "usb/UsbBus.h"
#include "usb/UsbConfiguration.h"
#include "usb/UsbPipeTable.h"
#include "usb/UsbRequestChannel.h"

namespace {

constexpr ULONG kStartLeadFrames = 8;    // the schedule starts this far ahead of the bus
constexpr ULONG kExtraBudgetFrames = 7;  // frames queued beyond the queue-ahead
constexpr LONGLONG kStopWait100ns = 5LL * 10000000;  // 5 s

}  // namespace

UsbIsoStreaming::UsbIsoStreaming(UsbRequestChannel& requests, UsbBus& bus, UsbPipeTable& pipeTable,
                                 UsbConfiguration& configuration)
    : requests(requests), bus(bus), pipeTable(pipeTable), configuration(configuration)
{
    KeInitializeSpinLock(&slotLock);
    KeInitializeSpinLock(&cancelLock);
    KeInitializeSpinLock(&primingLock);
    KeInitializeSpinLock(&resubmitLock);
    KeInitializeSpinLock(&captureLock);
}

NTSTATUS UsbIsoStreaming::PipeRequest(USBD_PIPE_HANDLE handle, bool reset)
{
    auto* urb = static_cast<_URB_PIPE_REQUEST*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(_URB_PIPE_REQUEST), kTagUrb));
    if (urb == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(urb, sizeof(*urb));
    urb->Hdr.Length = sizeof(*urb);
    urb->Hdr.Function =
        reset ? URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL : URB_FUNCTION_ABORT_PIPE;
    urb->PipeHandle = handle;
    const NTSTATUS status = requests.SubmitUrb(reinterpret_cast<PURB>(urb));
    ExFreePoolWithTag(urb, kTagUrb);
    return status;
}

// The most samples one frame of the pipe can carry: whole sample frames per packet, every packet
// of the frame. The sizes of every frame are held to it, so no packet outgrows its endpoint and
// no transfer its buffer.
ULONG UsbIsoStreaming::MaxFrameSamples(const UsbPipe* pipe) const
{
    const ULONG bytesPerSampleFrame = pipe->format.subframeSize * pipe->format.channels;
    if (bytesPerSampleFrame == 0) {
        return 0;
    }
    return pipe->pipeInformation.MaximumPacketSize / bytesPerSampleFrame * pipe->packetsPerFrame;
}

// The most samples capture pacing can ask of one OUT frame. The OUT frames repeat the sizes of
// the sync pipe's captured frames, and a captured frame is taken as it came only within
// kCaptureSizeTolerance samples of the rate (else silence of the rate's size, base or base + 1,
// stands in): so at most base + tolerance. And no captured frame holds more than the sync pipe
// carries in one frame (whole sample frames per packet, every packet of the frame): so at most
// that. The smaller of the two, and never less than the rate itself needs.
ULONG UsbIsoStreaming::LargestPacedFrame(ULONG base, ULONG largestIn)
{
    const UsbPipe* sync = pipeTable.FindLastAudioPipe(true);
    if (sync == nullptr) {
        return largestIn;
    }
    const ULONG tolerated = base + static_cast<ULONG>(kCaptureSizeTolerance);
    const ULONG carried = MaxFrameSamples(sync);
    const ULONG largest = tolerated < carried ? tolerated : carried;
    return largest > largestIn ? largest : largestIn;
}

// Every audio pipe carries the configuration's format, and a frame of each holds the largest
// frame the sizing can give it: the rate's whole samples, one more when the rate has a fraction,
// and on the playback side the largest captured frame it mirrors when capture paces it.
NTSTATUS UsbIsoStreaming::CheckAudioPipes()
{
    const ULONG base = currentRate / 1000;
    const ULONG largestIn = base + (currentRate % 1000 != 0 ? 1 : 0);
    const ULONG largestOut = LargestPacedFrame(base, largestIn);
    ULONG channels[2] = {0, 0};  // out, in
    NTSTATUS status = STATUS_SUCCESS;
    UsbPipe* pipe = nullptr;
    ULONG index = 0;
    frameSampleLimit = 0xFFFF;
    while (pipeTable.NextPipe(&pipe, &index)) {
        if (!pipe->format.hasFormat) {
            continue;
        }
        const bool in = pipe->format.isIn != 0;
        channels[in ? 1 : 0] += pipe->format.channels;
        if (pipe->format.subframeSize != (in ? shape.inSampleBytes : shape.outSampleBytes)) {
            status = STATUS_INVALID_PARAMETER;
        }
        const ULONG most = MaxFrameSamples(pipe);
        frameSampleLimit = most < frameSampleLimit ? most : frameSampleLimit;
        if ((in ? largestIn : largestOut) > most) {
            status = STATUS_INVALID_PARAMETER;
        }
    }
    if (channels[0] != shape.outChannels || channels[1] != shape.inChannels) {
        status = STATUS_INVALID_PARAMETER;
    }
    return status;
}

void UsbIsoStreaming::ResetStreamingState()
{
    InStackLock guard(pipeTable.Lock());
    effectiveRate = currentRate;
    fractionAccumulator = 0;
    inFractionAccumulator = 0;
    totalSamples = 0;
    transferCarry = 0;
    fraction = currentRate % 1000;
    audioPipes = 0;
    syncPipe = nullptr;
    const ULONG bufferFrames = bus.BufferFrames();
    for (ULONG i = 0; i < pipeTable.CountLocked(); ++i) {
        UsbPipe* pipe = pipeTable.AtLocked(i);
        if (!pipe->format.hasFormat) {
            continue;
        }
        ++audioPipes;
        WriteRelease(&pipe->outstanding, 0);
        pipe->sync = 0;
        pipe->owner = this;
        KeClearEvent(&pipe->allDoneEvent);
        for (ULONG s = 0; s < kUsbTransferSlots; ++s) {
            pipe->transferObjects[s] = nullptr;
            if (pipe->format.isOut && pipe->transferBuffers[s] != nullptr) {
                RtlZeroMemory(pipe->transferBuffers[s], pipe->bytesPerFrame * bufferFrames);
            }
        }
    }
}

// Every audio and feedback pipe starts from a reset endpoint.
void UsbIsoStreaming::ResetPipes()
{
    UsbPipe* pipe = nullptr;
    ULONG index = 0;
    while (pipeTable.NextPipe(&pipe, &index)) {
        if (pipe->format.hasFormat || pipe->format.isFeedback) {
            PipeRequest(pipe->pipeInformation.PipeHandle, true);
        }
    }
}

// Halves the samples per transfer until at least two transfers fit the budget of frames and a
// transfer fits its buffer. The queue-ahead is held to 0..8, so the budget is 7 to 15 frames and
// one frame per transfer always ends the search.
NTSTATUS UsbIsoStreaming::SizeTransfers()
{
    const ULONG samplesPerMs = currentRate / 1000;
    if (samplesPerMs == 0) {
        return STATUS_INVALID_PARAMETER;
    }
    // A restart's completions may still be learning on another processor.
    const ULONG budget = static_cast<ULONG>(LearnedQueueAhead()) + kExtraBudgetFrames;
    const ULONG bufferFrames = bus.BufferFrames();
    const ULONG frameLimit =
        bufferFrames < kUsbMaxFramesPerTransfer ? bufferFrames : kUsbMaxFramesPerTransfer;
    ULONG samples = 2 * (requestedSamplesPerTransfer != 0 ? requestedSamplesPerTransfer : 1);
    do {
        samples /= 2;
        framesPerTransfer = samples / samplesPerMs + 1;
        transfers = budget / framesPerTransfer;
    } while (transfers < 2 || framesPerTransfer > frameLimit);
    if (transfers > kUsbTransferSlots) {
        transfers = kUsbTransferSlots;
    }
    samplesPerTransfer = framesPerTransfer == 1 ? samplesPerMs : samples;
    return STATUS_SUCCESS;
}

// The sync pipe's transfers, one per slot, each starting where the previous one ends, 8 frames
// ahead of the bus; all in their priming cycle.
NTSTATUS UsbIsoStreaming::BuildSyncRing(UsbPipe* sync)
{
    measured.Reset();
    sync->sync = 1;
    syncPipe = sync;
    framesInFlight = 0;
    firstStartFrame = 0;
    syncEndsData = 0;
    WriteRelease(&lostFrames, 0);
    nextResubmitSlot = 0;
    RtlZeroMemory(parkedTransfers, sizeof(parkedTransfers));
    ULONG start = 0;
    bus.GetCurrentFrame(&start);  // 0 when it cannot be read
    start += kStartLeadFrames;
    firstStartFrame = start;
    for (ULONG i = 0; i < transfers; ++i) {
        slots[i] = TransferSlot{};
        slots[i].startFrame = start;
        WriteRelease(&sync->completionCounters[i], 0);
        WriteRelease(&sync->inSubmit[i], 0);
        const ULONG frames = ComputePacketSizes(i);
        IsoTransfer* transfer = AllocateTransferObject(sync, i);
        if (transfer == nullptr) {
            return STATUS_INSUFFICIENT_RESOURCES;
        }
        transfer->priming = 1;
        BuildIsoUrb(transfer);
        framesInFlight += static_cast<LONG>(frames);
        start += frames;
    }
    return STATUS_SUCCESS;
}

// The result of the last submission; a start that stopped streaming meanwhile did not take.
NTSTATUS UsbIsoStreaming::SubmitSyncRing(UsbPipe* sync)
{
    NTSTATUS status = STATUS_SUCCESS;
    InterlockedExchange(&errorFlags, 0);
    WriteUCharRelease(&streaming, 1);
    for (ULONG i = 0; i < transfers && ReadUCharAcquire(&streaming); ++i) {
        status = SubmitTransfer(sync->transferObjects[i], &SyncPipeComplete, false);
        if (status == STATUS_INSUFFICIENT_RESOURCES) {
            // Removal under way: the transfers not sent are freed by the stop.
            WriteUCharRelease(&streaming, 0);
        }
    }
    if (!ReadUCharAcquire(&streaming) && NT_SUCCESS(status)) {
        status = STATUS_UNSUCCESSFUL;
    }
    if (status == STATUS_PENDING) {
        status = STATUS_SUCCESS;  // the transfers run; the engine needs no more than that
    }
    return status;
}

NTSTATUS UsbIsoStreaming::StartIsoStreaming()
{
    NTSTATUS status = configuration.SelectAlternateSettings(true);
    if (!NT_SUCCESS(status)) {
        configuration.SelectAlternateSettings(false);
        return status;
    }
    learning.Restart();
    ResetStreamingState();
    ResetPipes();
    UsbPipe* sync = pipeTable.FindLastAudioPipe(true);
    if (sync == nullptr) {
        sync = pipeTable.FindLastAudioPipe(false);
    }
    status = SizeTransfers();
    if (NT_SUCCESS(status)) {
        status = CheckAudioPipes();
    }
    // Asked for feedback, a start without a feedback pipe would run open loop unnoticed.
    if (NT_SUCCESS(status) && feedback && pipeTable.FindFeedbackPipe() == nullptr) {
        status = STATUS_INVALID_PARAMETER;
    }
    if (sync == nullptr || !NT_SUCCESS(status)) {
        configuration.SelectAlternateSettings(false);
        return sync == nullptr ? STATUS_INVALID_PARAMETER : status;
    }
    feedbackValid = 0;
    if (feedback) {
        StartFeedbackPipe();
    }
    status = BuildSyncRing(sync);
    if (NT_SUCCESS(status)) {
        status = SubmitSyncRing(sync);
    }
    if (!NT_SUCCESS(status)) {
        // A start that did not take leaves the pipes idle, whatever the engine does next; what
        // was built and not sent is given back.
        StopIsoStreaming();
    }
    return status;
}

NTSTATUS UsbIsoStreaming::StopIsoStreaming()
{
    WriteUCharRelease(&streaming, 0);
    UsbPipe* sync = syncPipe;
    if (sync != nullptr) {
        StopPipe(sync);
    }
    UsbPipe* pipe = nullptr;
    ULONG index = 0;
    while (pipeTable.NextPipe(&pipe, &index)) {
        if (pipe != sync && (pipe->format.hasFormat || (feedback && pipe->format.isFeedback))) {
            StopPipe(pipe);
        }
    }
    syncPipe = nullptr;
    configuration.SelectAlternateSettings(false);
    return STATUS_SUCCESS;
}

// A cancelled IRP may complete on this very thread: the completion skips the lock it holds.
void UsbIsoStreaming::CancelSyncTransfers(UsbPipe* pipe)
{
    WritePointerRelease(&cancelOwner, KeGetCurrentThread());
    KIRQL old;
    KeAcquireSpinLock(&cancelLock, &old);
    for (IsoTransfer* transfer : pipe->transferObjects) {
        if (transfer != nullptr && transfer->irp != nullptr) {
            IoCancelIrp(transfer->irp);
        }
    }
    KeReleaseSpinLock(&cancelLock, old);
    WritePointerRelease(&cancelOwner, nullptr);
    // Not with the bus: nothing would complete them.
    RetireParkedTransfers();
}

void UsbIsoStreaming::StopPipe(UsbPipe* pipe)
{
    if (pipe->sync) {
        CancelSyncTransfers(pipe);
    } else if (pipe->format.isFeedback) {
        PipeRequest(pipe->pipeInformation.PipeHandle, false);
    }
    bool timedOut = false;
    while (!PipeDrained(pipe)) {
        LARGE_INTEGER timeout;
        timeout.QuadPart = -kStopWait100ns;
        if (KeWaitForSingleObject(&pipe->allDoneEvent, Executive, KernelMode, FALSE, &timeout) ==
            STATUS_TIMEOUT) {
            timedOut = true;
            break;
        }
    }
    if (!pipe->sync) {
        return;
    }
    for (IsoTransfer*& transfer : pipe->transferObjects) {
        // After a time-out the bus may still hold a transfer: its memory stays where it is.
        if (transfer != nullptr && !timedOut) {
            FreeTransferObject(transfer);
        }
        transfer = nullptr;
    }
    pipe->sync = 0;
}
