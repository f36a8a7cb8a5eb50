// Start and stop of isochronous streaming: the ring of transfers per audio pipe, its sizing from
// the queue-ahead, the frame sizes of each slot and the URBs that carry them.
#include "InStackLock.h"
#include "UsbTransport.h"

namespace {

constexpr ULONG kStartLeadFrames = 8;       // the schedule starts this far ahead of the bus
constexpr ULONG kExtraBudgetFrames = 7;     // frames queued beyond the queue-ahead
constexpr LONG kWindowWarmUpFrames = 5000;  // nothing is learned this long after a start
constexpr ULONG kRingSize = 1024;
constexpr LONGLONG kStopWait100ns = 5LL * 10000000;  // 5 s

ULONG UrbBytes(ULONG packets)
{
    return sizeof(_URB_ISOCH_TRANSFER) + sizeof(USBD_ISO_PACKET_DESCRIPTOR) * packets;
}

}  // namespace

ULONG UsbTransport::ColumnOf(const UsbPipe* pipe) const
{
    const ULONG pipesOfDirection = pipe->format.isIn ? inAudioPipes : outAudioPipes;
    return pipesOfDirection <= 1 ? 0 : static_cast<ULONG>(pipe->firstChannel) / 2;
}

// The most samples one frame of the pipe can carry: whole sample frames per packet, every packet
// of the frame. The sizes of every frame are held to it, so no packet outgrows its endpoint and
// no transfer its buffer.
ULONG UsbTransport::MaxFrameSamples(const UsbPipe* pipe) const
{
    const ULONG bytesPerSampleFrame = pipe->format.subframeSize * pipe->format.channels;
    if (bytesPerSampleFrame == 0) {
        return 0;
    }
    return pipe->pipeInformation.MaximumPacketSize / bytesPerSampleFrame * pipe->packetsPerFrame;
}

// Every audio pipe carries the configuration's format, and a frame of each holds the largest
// frame the sizing can give it: the rate's whole samples, one more when the rate has a fraction,
// and on the playback side the tolerance of the capture frames it mirrors when capture paces it.
NTSTATUS UsbTransport::CheckAudioPipes()
{
    const ULONG base = currentRate / 1000;
    const ULONG largestIn = base + (currentRate % 1000 != 0 ? 1 : 0);
    const ULONG largestOut =
        inAudioPipes != 0 ? base + static_cast<ULONG>(kCaptureSizeTolerance) : largestIn;
    ULONG channels[2] = {0, 0};  // out, in
    NTSTATUS status = STATUS_SUCCESS;
    UsbPipe* pipe = nullptr;
    ULONG index = 0;
    frameSampleLimit = 0xFFFF;
    while (NextPipe(&pipe, &index)) {
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

NTSTATUS UsbTransport::GetCurrentFrame(PULONG frame)
{
    *frame = 0;
    if (KeGetCurrentIrql() > PASSIVE_LEVEL) {
        if (busInterface.QueryBusTime == nullptr) {
            return STATUS_NOT_SUPPORTED;
        }
        return busInterface.QueryBusTime(busInterface.BusContext, frame);
    }
    auto* urb = static_cast<_URB_GET_CURRENT_FRAME_NUMBER*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(_URB_GET_CURRENT_FRAME_NUMBER), kTagUrb));
    if (urb == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(urb, sizeof(*urb));
    urb->Hdr.Length = sizeof(*urb);
    urb->Hdr.Function = URB_FUNCTION_GET_CURRENT_FRAME_NUMBER;
    const NTSTATUS status = SubmitUrb(reinterpret_cast<PURB>(urb));
    if (NT_SUCCESS(status)) {
        *frame = urb->FrameNumber;
    }
    ExFreePoolWithTag(urb, kTagUrb);
    return status;
}

NTSTATUS UsbTransport::PipeRequest(USBD_PIPE_HANDLE handle, bool reset)
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
    const NTSTATUS status = SubmitUrb(reinterpret_cast<PURB>(urb));
    ExFreePoolWithTag(urb, kTagUrb);
    return status;
}

void UsbTransport::ResetStreamingState()
{
    InStackLock guard(&pipeTableLock);
    effectiveRate = currentRate;
    fractionAccumulator = 0;
    inFractionAccumulator = 0;
    totalSamples = 0;
    transferCarry = 0;
    fraction = currentRate % 1000;
    audioPipes = 0;
    syncPipe = nullptr;
    for (ULONG i = 0; i < pipeCount; ++i) {
        UsbPipe* pipe = pipes[i];
        if (!pipe->format.hasFormat) {
            continue;
        }
        ++audioPipes;
        pipe->outstanding = 0;
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

// Halves the samples per transfer until at least two transfers fit the budget of frames and a
// transfer fits its buffer. The queue-ahead is held to 0..8, so the budget is 7 to 15 frames and
// one frame per transfer always ends the search.
NTSTATUS UsbTransport::SizeTransfers()
{
    const ULONG samplesPerMs = currentRate / 1000;
    if (samplesPerMs == 0) {
        return STATUS_INVALID_PARAMETER;
    }
    const ULONG budget = static_cast<ULONG>(ClampQueueAhead(queueAhead)) + kExtraBudgetFrames;
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

ULONG UsbTransport::ComputePacketSizes(ULONG slotIndex)
{
    TransferSlot& slot = slots[slotIndex];
    const ULONG base = effectiveRate / 1000;
    const ULONG limit = frameSampleLimit;
    ULONG sum = 0;
    ULONG k = 0;
    for (;; ++k) {
        ULONG size = 0;
        if (streaming && ringWrite - ringRead > 0) {
            size = static_cast<USHORT>(measuredRing[ringRead % kRingSize]);
            ++ringRead;
            if (size == 0) {
                size = base;
            }
        } else {
            fractionAccumulator += fraction;
            size = base;
            if (fractionAccumulator >= 1000) {
                ++size;
                fractionAccumulator -= 1000;
            }
        }
        if (size > limit) {
            size = limit;
        }
        slot.frameSizes[k] = static_cast<SHORT>(size);
        sum += size;
        if (framesPerTransfer == 1) {
            break;
        }
        if (static_cast<LONG>(sum) + transferCarry >= static_cast<LONG>(samplesPerTransfer)) {
            transferCarry =
                static_cast<LONG>(sum) + transferCarry - static_cast<LONG>(samplesPerTransfer);
            break;
        }
        // The slot holds four frame sizes: a transfer never covers more.
        if (k + 1 == kUsbMaxFramesPerTransfer) {
            transferCarry = 0;
            break;
        }
    }
    slot.frames = k + 1;
    slot.samples = sum;
    return slot.frames;
}

IsoTransfer* UsbTransport::AllocateTransferObject(UsbPipe* pipe, ULONG slot)
{
    pipe->transferObjects[slot] = nullptr;
    if (pipe->format.hasFormat && pipe->transferBuffers[slot] == nullptr) {
        return nullptr;
    }
    auto* transfer = static_cast<IsoTransfer*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(IsoTransfer), kTagTrOb));
    if (transfer == nullptr) {
        return nullptr;
    }
    RtlZeroMemory(transfer, sizeof(*transfer));
    transfer->slot = slot;
    transfer->startFrame = static_cast<LONG>(slots[slot].startFrame);
    transfer->pipe = pipe;
    transfer->irp = IoAllocateIrp(static_cast<CCHAR>(LowerDevice()->StackSize + 1), FALSE);
    transfer->urb = static_cast<PURB>(
        ExAllocatePoolWithTag(NonPagedPoolNx, UrbBytes(packetsPerTransfer), kTagUrb));
    if (transfer->irp == nullptr || transfer->urb == nullptr) {
        FreeTransferObject(transfer);
        return nullptr;
    }
    pipe->transferObjects[slot] = transfer;
    return transfer;
}

void UsbTransport::FreeTransferObject(IsoTransfer* transfer)
{
    if (transfer->irp != nullptr) {
        IoFreeIrp(transfer->irp);
    }
    if (transfer->urb != nullptr) {
        ExFreePoolWithTag(transfer->urb, kTagUrb);
    }
    ExFreePoolWithTag(transfer, kTagTrOb);
}

void UsbTransport::BuildIsoUrb(IsoTransfer* transfer)
{
    UsbPipe* pipe = transfer->pipe;
    const TransferSlot& slot = slots[transfer->slot];
    const ULONG perFrame = pipe->packetsPerFrame != 0 ? pipe->packetsPerFrame : 1;
    ULONG packets = slot.frames * perFrame;
    if (packets > packetsPerTransfer) {
        packets = packetsPerTransfer;
    }
    auto& r = transfer->urb->UrbIsochronousTransfer;
    RtlZeroMemory(&r, UrbBytes(packets));
    r.Hdr.Function = URB_FUNCTION_ISOCH_TRANSFER;
    r.PipeHandle = pipe->pipeInformation.PipeHandle;
    r.NumberOfPackets = packets;
    PVOID buffer = pipe->transferBuffers[transfer->slot];
    const ULONG maxPacket = pipe->pipeInformation.MaximumPacketSize;
    if (pipe->format.isIn) {
        r.TransferFlags = USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK;
        r.TransferBufferLength = packets * maxPacket;
        for (ULONG k = 0; k < packets; ++k) {
            r.IsoPacket[k].Offset = k * maxPacket;
        }
    } else {
        r.TransferFlags = 0;
        const ULONG bytesPerSampleFrame = pipe->format.subframeSize * pipe->format.channels;
        const ULONG packetLimit = bytesPerSampleFrame != 0 ? maxPacket / bytesPerSampleFrame : 0;
        ULONG offset = 0;
        ULONG total = 0;
        const ULONG frames = packets / perFrame;
        for (ULONG f = 0; f < frames; ++f) {
            // Frame sizes are held to what the packets carry, so the even spread fits each one.
            // A packet rounds up when what is left over reaches half the packets still to come.
            ULONG remaining = static_cast<USHORT>(slot.frameSizes[f]);
            if (remaining > packetLimit * perFrame) {
                remaining = packetLimit * perFrame;
            }
            for (ULONG j = 0; j < perFrame; ++j) {
                const ULONG left = perFrame - j;
                ULONG d = remaining;
                if (left > 1) {
                    d = remaining / left;
                    if (remaining % left >= left / 2) {
                        ++d;
                    }
                }
                if (d > packetLimit) {
                    d = packetLimit;
                }
                remaining -= d;
                total += d;
                PUSBD_ISO_PACKET_DESCRIPTOR packet = &r.IsoPacket[f * perFrame + j];
                packet->Offset = offset;
                packet->Length = d * bytesPerSampleFrame;
                offset += packet->Length;
            }
        }
        if (transfer->priming == 0) {
            if (callbacks.onFillOutput != nullptr) {
                const ULONG previous = transfer->slot == 0 ? transfers - 1 : transfer->slot - 1;
                callbacks.onFillOutput(callbacks.fillContext,
                                       static_cast<ULONG>(transfer->startFrame), total,
                                       ColumnOf(pipe), &buffer, 0, slots[previous].startFrame,
                                       slots[previous].samples);
                if (buffer == nullptr) {
                    // Nothing to play (no output configured): the packets carry silence.
                    buffer = pipe->transferBuffers[transfer->slot];
                    if (buffer != nullptr) {
                        RtlZeroMemory(buffer, offset);
                    }
                }
            }
        } else if (buffer != nullptr) {
            RtlZeroMemory(buffer, pipe->bytesPerFrame * bufferFrames);
        }
        r.TransferBufferLength = offset;
    }
    r.TransferBuffer = buffer;
    r.Hdr.Length = static_cast<USHORT>(UrbBytes(packets));
    if (pipe->sync && transfer->startFrame == -1) {
        r.TransferFlags |= USBD_START_ISO_TRANSFER_ASAP;
    } else {
        r.StartFrame = static_cast<ULONG>(transfer->startFrame);
    }
}

NTSTATUS UsbTransport::SubmitTransfer(IsoTransfer* transfer, PIO_COMPLETION_ROUTINE routine,
                                      bool resubmit)
{
    UsbPipe* pipe = transfer->pipe;
    if (!resubmit) {
        InterlockedIncrement(&pipe->outstanding);
    }
    PIRP irp = transfer->irp;
    IoReuseIrp(irp, STATUS_SUCCESS);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Others.Argument1 = transfer->urb;
    IoSetCompletionRoutine(irp, routine, transfer, TRUE, TRUE, TRUE);
    if (!TryAcquireRemoveLock(deviceContext)) {
        // Nothing was sent: a new transfer does not count as outstanding.
        if (!resubmit) {
            ReleaseOutstanding(pipe);
        }
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    const ULONG slot = transfer->slot;
    InterlockedIncrement(&pipe->inSubmit[slot]);
    const NTSTATUS status = IofCallDriver(LowerDevice(), irp);
    InterlockedDecrement(&pipe->inSubmit[slot]);
    // A failure reaches the completion routine, which decides what becomes of the transfer.
    return NT_SUCCESS(status) ? status : STATUS_SUCCESS;
}

// A transfer of its own for a slot of a pipe other than the sync pipe; false when none went out
// (its object is freed then).
bool UsbTransport::SubmitNewTransfer(UsbPipe* pipe, ULONG slot, LONG startFrame,
                                     PIO_COMPLETION_ROUTINE routine, bool feedbackTransfer)
{
    IsoTransfer* transfer = AllocateTransferObject(pipe, slot);
    if (transfer == nullptr) {
        return false;
    }
    transfer->startFrame = startFrame;
    if (feedbackTransfer) {
        BuildFeedbackUrb(transfer);
    } else {
        BuildIsoUrb(transfer);
    }
    if (SubmitTransfer(transfer, routine, false) == STATUS_INSUFFICIENT_RESOURCES) {
        pipe->transferObjects[slot] = nullptr;
        FreeTransferObject(transfer);
        return false;
    }
    return true;
}

void UsbTransport::ReleaseOutstanding(UsbPipe* pipe)
{
    if (InterlockedDecrement(&pipe->outstanding) == 0) {
        KeSetEvent(&pipe->allDoneEvent, IO_NO_INCREMENT, FALSE);
    }
}

NTSTATUS UsbTransport::StartIsoStreaming()
{
    NTSTATUS status = SelectAlternateSettings(true);
    if (!NT_SUCCESS(status)) {
        SelectAlternateSettings(false);
        return status;
    }
    lateness = -1;
    windowTimer = -kWindowWarmUpFrames;
    windowMaximum = 1;
    ResetStreamingState();

    UsbPipe* pipe = nullptr;
    ULONG index = 0;
    while (NextPipe(&pipe, &index)) {
        if (pipe->format.hasFormat || pipe->format.isFeedback) {
            PipeRequest(pipe->pipeInformation.PipeHandle, true);
        }
    }
    UsbPipe* sync = FindLastInAudioPipe();
    if (sync == nullptr) {
        sync = FindLastOutAudioPipe();
    }
    status = SizeTransfers();
    if (NT_SUCCESS(status)) {
        status = CheckAudioPipes();
    }
    // Asked for feedback, a start without a feedback pipe would run open loop unnoticed.
    if (NT_SUCCESS(status) && feedback && FindFeedbackPipe() == nullptr) {
        status = STATUS_INVALID_PARAMETER;
    }
    if (sync == nullptr || !NT_SUCCESS(status)) {
        SelectAlternateSettings(false);
        return sync == nullptr ? STATUS_INVALID_PARAMETER : status;
    }

    feedbackValid = 0;
    if (feedback) {
        StartFeedbackPipe();
    }
    ringWrite = ringRead = 0;
    windowSum = 0;
    windowCount = 0;
    sync->sync = 1;
    syncPipe = sync;
    framesInFlight = 0;
    firstStartFrame = 0;
    nextResubmitSlot = 0;
    RtlZeroMemory(parkedTransfers, sizeof(parkedTransfers));
    ULONG start = 0;
    GetCurrentFrame(&start);  // 0 when it cannot be read
    start += kStartLeadFrames;
    firstStartFrame = start;
    for (ULONG i = 0; i < transfers; ++i) {
        slots[i] = TransferSlot{};
        slots[i].startFrame = start;
        sync->completionCounters[i] = 0;
        sync->inSubmit[i] = 0;
        const ULONG frames = ComputePacketSizes(i);
        IsoTransfer* transfer = AllocateTransferObject(sync, i);
        if (transfer == nullptr) {
            status = STATUS_INSUFFICIENT_RESOURCES;
            break;
        }
        transfer->priming = 1;
        BuildIsoUrb(transfer);
        framesInFlight += static_cast<LONG>(frames);
        start += frames;
    }
    if (!NT_SUCCESS(status)) {
        // Nothing went out yet: give back what was built and leave the interfaces idle.
        StopIsoStreaming();
        return status;
    }
    errorFlags = 0;
    streaming = 1;
    for (ULONG i = 0; i < transfers && streaming; ++i) {
        status = SubmitTransfer(sync->transferObjects[i], &SyncPipeComplete, false);
        if (status == STATUS_INSUFFICIENT_RESOURCES) {
            // Removal under way: the transfers not sent are freed by the stop.
            streaming = 0;
        }
    }
    if (!streaming && NT_SUCCESS(status)) {
        status = STATUS_UNSUCCESSFUL;
    }
    if (status == STATUS_PENDING) {
        status = STATUS_SUCCESS;  // the transfers run; the engine needs no more than that
    }
    if (!NT_SUCCESS(status)) {
        // A start that did not take leaves the pipes idle, whatever the engine does next.
        StopIsoStreaming();
    }
    return status;
}

NTSTATUS UsbTransport::StopIsoStreaming()
{
    streaming = 0;
    UsbPipe* sync = syncPipe;
    if (sync != nullptr) {
        StopPipe(sync);
    }
    UsbPipe* pipe = nullptr;
    ULONG index = 0;
    while (NextPipe(&pipe, &index)) {
        if (pipe != sync && (pipe->format.hasFormat || (feedback && pipe->format.isFeedback))) {
            StopPipe(pipe);
        }
    }
    syncPipe = nullptr;
    SelectAlternateSettings(false);
    return STATUS_SUCCESS;
}

void UsbTransport::StopPipe(UsbPipe* pipe)
{
    if (pipe->sync) {
        cancelOwner = KeGetCurrentThread();
        KIRQL old;
        KeAcquireSpinLock(&cancelLock, &old);
        for (IsoTransfer* transfer : pipe->transferObjects) {
            if (transfer != nullptr && transfer->irp != nullptr) {
                IoCancelIrp(transfer->irp);
            }
        }
        KeReleaseSpinLock(&cancelLock, old);
        cancelOwner = nullptr;
        // Not with the bus: nothing would complete them.
        RetireParkedTransfers();
    } else if (pipe->format.isFeedback) {
        PipeRequest(pipe->pipeInformation.PipeHandle, false);
    }
    bool timedOut = false;
    while (pipe->outstanding != 0) {
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
