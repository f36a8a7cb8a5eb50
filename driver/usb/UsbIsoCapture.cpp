// The frames of a completed capture transfer, at DISPATCH_LEVEL: packets compacted so the frames'
// samples follow each other, refused frames replaced by silence of the size the device runs at,
// the sync pipe's frame sizes recorded for the output and for the measured rate, and the period
// handed to the engine.
#include "usb/UsbIsoStreaming.h"

#include "common/InStackLock.h"
#include "usb/UsbBus.h"
#include "usb/UsbPipeTable.h"

// Moves the packets of one frame to the end of the data compacted so far (at); the new end.
// *empty: a packet of the frame failed or was empty, and the frame's later packets were left.
ULONG UsbIsoStreaming::GatherFrame(IsoTransfer* transfer, ULONG frame, ULONG at, bool* empty,
                                   NTSTATUS* result)
{
    UsbPipe* pipe = transfer->pipe;
    auto& r = transfer->urb->UrbIsochronousTransfer;
    auto* buffer = static_cast<PUCHAR>(r.TransferBuffer);
    const ULONG bufferBytes = pipe->bytesPerFrame * bus.BufferFrames();
    const ULONG perFrame = pipe->packetsPerFrame != 0 ? pipe->packetsPerFrame : 1;
    const ULONG maxPacket = pipe->pipeInformation.MaximumPacketSize;
    *empty = false;
    for (ULONG p = 0; p < perFrame; ++p) {
        const USBD_ISO_PACKET_DESCRIPTOR& packet = r.IsoPacket[frame * perFrame + p];
        ULONG length = packet.Length;
        if (!USBD_SUCCESS(packet.Status)) {
            length = 0;
            if (packet.Status == USBD_STATUS_BAD_START_FRAME) {
                *result = static_cast<NTSTATUS>(USBD_STATUS_BAD_START_FRAME);
            }
            InterlockedOr(&errorFlags, kIsoInError);
        }
        // What the bus reports is held to the packet's place in the buffer.
        if (length > maxPacket || packet.Offset > bufferBytes ||
            length > bufferBytes - packet.Offset) {
            length = 0;
        }
        if (length == 0) {
            *empty = true;
            break;
        }
        if (packet.Offset != at) {
            RtlMoveMemory(buffer + at, buffer + packet.Offset, length);
        }
        at += length;
    }
    return at;
}

// Silence of the size the device runs at in place of a refused frame; its samples. The silence
// stays before the next frame's packets, which are still to be moved. Under the capture lock.
LONG UsbIsoStreaming::SilenceFrame(IsoTransfer* transfer, ULONG frame, ULONG frameStart,
                                   ULONG bytesPerSampleFrame)
{
    UsbPipe* pipe = transfer->pipe;
    auto* buffer = static_cast<PUCHAR>(transfer->urb->UrbIsochronousTransfer.TransferBuffer);
    const ULONG bufferBytes = pipe->bytesPerFrame * bus.BufferFrames();
    const ULONG perFrame = pipe->packetsPerFrame != 0 ? pipe->packetsPerFrame : 1;
    const ULONG maxPacket = pipe->pipeInformation.MaximumPacketSize;
    inFractionAccumulator += fraction;
    LONG samples = static_cast<LONG>(effectiveRate / 1000);
    if (inFractionAccumulator >= 1000) {
        ++samples;
        inFractionAccumulator -= 1000;
    }
    ULONG end = (frame + 1) * perFrame * maxPacket;
    end = end < bufferBytes ? end : bufferBytes;
    const LONG room =
        end > frameStart ? static_cast<LONG>((end - frameStart) / bytesPerSampleFrame) : 0;
    if (samples > room) {
        samples = room;
    }
    RtlZeroMemory(buffer + frameStart, static_cast<SIZE_T>(samples) * bytesPerSampleFrame);
    return samples;
}

// Once data flows, the captured period goes to the engine with the slot's sample count.
void UsbIsoStreaming::ReportCapture(IsoTransfer* transfer, ULONG received)
{
    if (!ReadUCharAcquire(&streaming) || transfer->priming != 0) {
        return;
    }
    UsbPipe* pipe = transfer->pipe;
    const auto& r = transfer->urb->UrbIsochronousTransfer;
    const ULONG slotSamples = pipeTable.OutAudioPipes() != 0 ? SlotSamplesFor(transfer) : received;
    if (callbacks.onUsbPeriod != nullptr) {
        callbacks.onUsbPeriod(callbacks.periodContext, r.StartFrame, received, ColumnOf(pipe),
                              r.TransferBuffer, InterlockedExchange(&errorFlags, 0), slotSamples,
                              LearnedQueueAhead());
    }
}

void UsbIsoStreaming::ProcessInFrames(IsoTransfer* transfer, ULONG frames,
                                      ULONG bytesPerSampleFrame, NTSTATUS* result)
{
    const auto& r = transfer->urb->UrbIsochronousTransfer;
    const bool record =
        transfer->pipe->sync && r.NumberOfPackets != 0 && !feedbackValid && transfer->priming <= 1;
    LONG sizes[kUsbMaxFramesPerTransfer] = {};
    // Another capture completion may run on another processor (one run inline by a submission,
    // one by the bus's DPC): the silence's fraction, the measured frame sizes and the rate they
    // give are one completion's at a time.
    KIRQL old;
    KeAcquireSpinLock(&captureLock, &old);
    const LONG base = static_cast<LONG>(effectiveRate / 1000);
    bool anyRefused = false;
    bool anyEmpty = false;
    ULONG at = 0;  // end of the compacted data
    for (ULONG f = 0; f < frames; ++f) {
        const ULONG frameStart = at;
        bool empty = false;
        at = GatherFrame(transfer, f, at, &empty, result);
        LONG samples = static_cast<LONG>((at - frameStart) / bytesPerSampleFrame);
        if (!empty && samples >= base - kCaptureSizeTolerance &&
            samples <= base + kCaptureSizeTolerance) {
            inFractionAccumulator = 0;
        } else {
            anyRefused = true;
            anyEmpty = anyEmpty || empty;
            samples = SilenceFrame(transfer, f, frameStart, bytesPerSampleFrame);
        }
        at = frameStart + static_cast<ULONG>(samples) * bytesPerSampleFrame;
        if (f < kUsbMaxFramesPerTransfer) {
            sizes[f] = samples;
        }
    }
    if (anyRefused) {
        InterlockedOr(&errorFlags, kIsoInError);
    }
    const ULONG recorded = frames < kUsbMaxFramesPerTransfer ? frames : kUsbMaxFramesPerTransfer;
    ULONG rate = 0;
    if (record && measured.RecordTransfer(sizes, recorded, bus.PacketsPerTransfer(), &rate) &&
        !anyEmpty && rate != 0) {
        // The sizing reads them under the slot lock.
        InStackLock guard(&slotLock);
        effectiveRate = rate;
        fraction = rate % 1000;
    }
    if (transfer->pipe->sync && ReadUCharAcquire(&streaming) && transfer->priming == 0) {
        totalSamples += at / bytesPerSampleFrame;
    }
    KeReleaseSpinLock(&captureLock, old);
    ReportCapture(transfer, at / bytesPerSampleFrame);
}
