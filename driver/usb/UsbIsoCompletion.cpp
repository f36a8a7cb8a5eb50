// What a completed isochronous transfer means, at DISPATCH_LEVEL: its result, the shift of the
// schedule by the lateness of the first completion, the lateness of every later one with the
// queue-ahead learned from it, and what an OUT transfer hands the engine. Captured frames are
// UsbIsoCapture.cpp.
#include "usb/UsbIsoStreaming.h"

#include "common/InStackLock.h"
#include "usb/UsbBus.h"
#include "usb/UsbPipeTable.h"

// The samples of the cycle that just completed on the transfer's slot: the last accounted cycle
// when this pipe completes first, else the one before it.
ULONG UsbIsoStreaming::SlotSamplesFor(const IsoTransfer* transfer)
{
    InStackLock guard(&slotLock);
    const TransferSlot& slot = slots[transfer->slot];
    return static_cast<ULONG>(ReadAcquire(&transfer->pipe->completionCounters[transfer->slot])) >
                   slot.cyclesAccounted
               ? slot.previousSamples
               : slot.samplesBeforeThat;
}

// The transfer's result from the IRP's and the URB's status, with the error flag of its
// direction. False when processing ends here with *result: a cancelled URB, or a transfer that
// completed inside its own submission or missed its start frame (a restart is asked for then).
bool UsbIsoStreaming::TakeCompletionStatus(IsoTransfer* transfer, NTSTATUS* result)
{
    UsbPipe* pipe = transfer->pipe;
    const LONG directionError = pipe->format.isIn ? kIsoInError : kIsoOutError;
    *result = transfer->irp->IoStatus.Status;
    if (!NT_SUCCESS(*result) && ReadUCharAcquire(&streaming)) {
        InterlockedOr(&errorFlags, directionError);
    }
    USBD_STATUS urbStatus = transfer->urb->UrbIsochronousTransfer.Hdr.Status;
    if (*result == STATUS_NO_SUCH_DEVICE || *result == STATUS_DEVICE_NOT_CONNECTED) {
        urbStatus = USBD_STATUS_DEVICE_GONE;
    }
    if (urbStatus == USBD_STATUS_DEVICE_GONE) {
        WriteUCharRelease(&streaming, 0);  // no restart: there is nothing to restart on
        if (NT_SUCCESS(*result)) {
            *result = static_cast<NTSTATUS>(USBD_STATUS_DEVICE_GONE);
        }
    } else if (urbStatus == USBD_STATUS_CANCELED) {
        *result = NT_SUCCESS(*result) ? STATUS_CANCELLED : *result;
        return false;
    } else if (!USBD_SUCCESS(urbStatus)) {
        InterlockedOr(&errorFlags, directionError);
        *result = static_cast<NTSTATUS>(urbStatus);
    }
    if (transfer->priming == 0 && (ReadAcquire(&pipe->inSubmit[transfer->slot]) != 0 ||
                                   urbStatus == USBD_STATUS_BAD_START_FRAME)) {
        RequestRestart();
        *result = STATUS_UNSUCCESSFUL;
        return false;
    }
    return true;
}

// A priming completion of the sync pipe. The first one measures how late completions run; every
// one then moves its transfer later by that much, so the whole schedule follows.
void UsbIsoStreaming::ShiftPrimingCycle(IsoTransfer* transfer, ULONG frames)
{
    auto& r = transfer->urb->UrbIsochronousTransfer;
    InStackLock guard(&primingLock);
    if (!learning.PrimingMeasured()) {
        ULONG now = 0;
        learning.SkipPriming();
        if (NT_SUCCESS(bus.GetCurrentFrame(&now))) {
            if (firstStartFrame == 0) {
                firstStartFrame = r.StartFrame;
            }
            const LONG d = static_cast<LONG>(now - r.StartFrame - frames + 1);
            learning.MeasurePriming(d, static_cast<LONG>(framesPerTransfer * transfers));
        }
    }
    const LONG lateness = learning.Lateness();
    r.StartFrame += static_cast<ULONG>(lateness);
    if (transfer->startFrame != -1) {
        transfer->startFrame += lateness;
    }
}

// How late this completion runs behind the bus (the pacing pipe's completions only: capture,
// or playback when there is no capture). A completion so late that its slot's next start frame
// has passed asks for no restart: the resubmission moves the schedule on (SyncStartFrame).
void UsbIsoStreaming::MeasureLateness(IsoTransfer* transfer, ULONG frames)
{
    UsbPipe* pipe = transfer->pipe;
    const bool pacing = pipe->format.isIn != 0 || pipeTable.InAudioPipes() == 0;
    ULONG now = 0;
    if (!ReadUCharAcquire(&streaming) || transfer->priming != 0 || !pacing ||
        !NT_SUCCESS(bus.GetCurrentFrame(&now))) {
        return;
    }
    const auto& r = transfer->urb->UrbIsochronousTransfer;
    const LONG d = static_cast<LONG>(now - r.StartFrame - frames + 1);
    InStackLock guard(&primingLock);
    if (pipe->sync) {
        learning.CountFrames(frames);
    }
    learning.Learn(d);
}

LONG UsbIsoStreaming::LearnedQueueAhead()
{
    InStackLock guard(&primingLock);
    return learning.QueueAhead();
}

LONG UsbIsoStreaming::QueueAhead() const
{
    InStackLock guard(&primingLock);
    return learning.QueueAhead();
}

void UsbIsoStreaming::SetQueueAhead(LONG frames)
{
    InStackLock guard(&primingLock);
    learning.SetQueueAhead(frames);
}

// The sync pipe's OUT period goes to the engine; the buffer every OUT transfer carried is given
// back, except the silence of the sync pipe's priming cycle.
void UsbIsoStreaming::ProcessOutTransfer(IsoTransfer* transfer, ULONG bytesPerSampleFrame)
{
    UsbPipe* pipe = transfer->pipe;
    const auto& r = transfer->urb->UrbIsochronousTransfer;
    ULONG samples = r.TransferBufferLength / bytesPerSampleFrame;
    if (ReadUCharAcquire(&streaming) && transfer->priming == 0) {
        if (samples == 0) {
            InterlockedOr(&errorFlags, kIsoOutError);
        }
        samples = SlotSamplesFor(transfer);
        if (pipe->sync) {
            totalSamples += samples;
            if (callbacks.onUsbPeriod != nullptr) {
                callbacks.onUsbPeriod(callbacks.periodContext, r.StartFrame, samples,
                                      ColumnOf(pipe), nullptr, InterlockedExchange(&errorFlags, 0),
                                      samples, LearnedQueueAhead());
            }
        }
    }
    if (!(pipe->sync && transfer->priming != 0) && callbacks.onCancelPacket != nullptr) {
        callbacks.onCancelPacket(callbacks.fillContext, r.StartFrame, samples, ColumnOf(pipe),
                                 r.TransferBuffer);
    }
}

NTSTATUS UsbIsoStreaming::ProcessIsoCompletion(IsoTransfer* transfer)
{
    NTSTATUS result = STATUS_SUCCESS;
    if (!TakeCompletionStatus(transfer, &result)) {
        return result;
    }
    UsbPipe* pipe = transfer->pipe;
    const ULONG perFrame = pipe->packetsPerFrame != 0 ? pipe->packetsPerFrame : 1;
    const ULONG frames = transfer->urb->UrbIsochronousTransfer.NumberOfPackets / perFrame;
    ULONG bytesPerSampleFrame = pipe->format.subframeSize * pipe->format.channels;
    if (bytesPerSampleFrame == 0) {
        bytesPerSampleFrame = 1;
    }
    if (ReadUCharAcquire(&streaming) && transfer->priming != 0 && pipe->sync) {
        ShiftPrimingCycle(transfer, frames);
    }
    MeasureLateness(transfer, frames);
    if (pipe->format.isIn) {
        ProcessInFrames(transfer, frames, bytesPerSampleFrame, &result);
    } else {
        ProcessOutTransfer(transfer, bytesPerSampleFrame);
    }
    return result;
}
