// The transfers of isochronous streaming: the frame sizes of each slot, the transfer objects,
// the URBs that carry a slot's frames (the OUT packets filled by the engine) and their
// submission.
#include "usb/UsbIsoStreaming.h"

#include "usb/UsbBus.h"
#include "usb/UsbPipeTable.h"
#include "usb/UsbRequestChannel.h"

namespace {

ULONG UrbBytes(ULONG packets)
{
    return sizeof(_URB_ISOCH_TRANSFER) + sizeof(USBD_ISO_PACKET_DESCRIPTOR) * packets;
}

// Packet j of perFrame takes the rest when it is the last, else an even share that rounds up
// when what is left over reaches half the packets still to come (44 samples over 8 packets:
// 6, 6, 5, 6, 5, 6, 5, 5).
ULONG PacketShare(ULONG remaining, ULONG j, ULONG perFrame)
{
    const ULONG left = perFrame - j;
    if (left <= 1) {
        return remaining;
    }
    ULONG d = remaining / left;
    if (remaining % left >= left / 2) {
        ++d;
    }
    return d;
}

}  // namespace

ULONG UsbIsoStreaming::ColumnOf(const UsbPipe* pipe) const
{
    const ULONG pipesOfDirection =
        pipe->format.isIn ? pipeTable.InAudioPipes() : pipeTable.OutAudioPipes();
    return pipesOfDirection <= 1 ? 0 : static_cast<ULONG>(pipe->firstChannel) / 2;
}

// The next frame's size: what the capture stream measured while streaming, else the rate's
// whole samples with its fraction accumulated.
ULONG UsbIsoStreaming::NextFrameSize(ULONG base)
{
    ULONG size = 0;
    if (ReadUCharAcquire(&streaming) && measured.TakeSize(&size)) {
        return size != 0 ? size : base;
    }
    fractionAccumulator += fraction;
    if (fractionAccumulator >= 1000) {
        fractionAccumulator -= 1000;
        return base + 1;
    }
    return base;
}

ULONG UsbIsoStreaming::ComputePacketSizes(ULONG slotIndex)
{
    TransferSlot& slot = slots[slotIndex];
    const ULONG base = effectiveRate / 1000;
    const ULONG limit = frameSampleLimit;
    ULONG sum = 0;
    ULONG k = 0;
    for (;; ++k) {
        ULONG size = NextFrameSize(base);
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

IsoTransfer* UsbIsoStreaming::AllocateTransferObject(UsbPipe* pipe, ULONG slot)
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
    transfer->irp = IoAllocateIrp(static_cast<CCHAR>(requests.LowerDevice()->StackSize + 1), FALSE);
    transfer->urb = static_cast<PURB>(
        ExAllocatePoolWithTag(NonPagedPoolNx, UrbBytes(bus.PacketsPerTransfer()), kTagUrb));
    if (transfer->irp == nullptr || transfer->urb == nullptr) {
        FreeTransferObject(transfer);
        return nullptr;
    }
    pipe->transferObjects[slot] = transfer;
    return transfer;
}

void UsbIsoStreaming::FreeTransferObject(IsoTransfer* transfer)
{
    if (transfer->irp != nullptr) {
        IoFreeIrp(transfer->irp);
    }
    if (transfer->urb != nullptr) {
        ExFreePoolWithTag(transfer->urb, kTagUrb);
    }
    ExFreePoolWithTag(transfer, kTagTrOb);
}

// Spreads each frame's samples over the frame's packets, held to what a packet carries; the
// bytes of all packets, with *total the samples they carry.
ULONG UsbIsoStreaming::SpreadOutFrames(IsoTransfer* transfer, ULONG packets, ULONG* total)
{
    UsbPipe* pipe = transfer->pipe;
    const TransferSlot& slot = slots[transfer->slot];
    auto& r = transfer->urb->UrbIsochronousTransfer;
    const ULONG perFrame = pipe->packetsPerFrame != 0 ? pipe->packetsPerFrame : 1;
    const ULONG bytesPerSampleFrame = pipe->format.subframeSize * pipe->format.channels;
    const ULONG maxPacket = pipe->pipeInformation.MaximumPacketSize;
    const ULONG packetLimit = bytesPerSampleFrame != 0 ? maxPacket / bytesPerSampleFrame : 0;
    ULONG offset = 0;
    ULONG samples = 0;  // a local: stores to the packets cannot alias it
    const ULONG frames = packets / perFrame;
    for (ULONG f = 0; f < frames; ++f) {
        // Frame sizes are held to what the packets carry, so the even spread fits each one.
        ULONG remaining = static_cast<USHORT>(slot.frameSizes[f]);
        if (remaining > packetLimit * perFrame) {
            remaining = packetLimit * perFrame;
        }
        for (ULONG j = 0; j < perFrame; ++j) {
            ULONG d = PacketShare(remaining, j, perFrame);
            if (d > packetLimit) {
                d = packetLimit;
            }
            remaining -= d;
            samples += d;
            PUSBD_ISO_PACKET_DESCRIPTOR packet = &r.IsoPacket[f * perFrame + j];
            packet->Offset = offset;
            packet->Length = d * bytesPerSampleFrame;
            offset += packet->Length;
        }
    }
    *total = samples;
    return offset;
}

// The buffer an OUT transfer carries: filled by the engine (or replaced by one of its own) once
// data flows, silence while priming or when the engine has nothing to play.
PVOID UsbIsoStreaming::FillOutput(IsoTransfer* transfer, ULONG total, ULONG bytes)
{
    UsbPipe* pipe = transfer->pipe;
    PVOID buffer = pipe->transferBuffers[transfer->slot];
    if (transfer->priming != 0) {
        if (buffer != nullptr) {
            RtlZeroMemory(buffer, pipe->bytesPerFrame * bus.BufferFrames());
        }
        return buffer;
    }
    if (callbacks.onFillOutput == nullptr) {
        return buffer;
    }
    const ULONG previous = transfer->slot == 0 ? transfers - 1 : transfer->slot - 1;
    callbacks.onFillOutput(callbacks.fillContext, static_cast<ULONG>(transfer->startFrame), total,
                           ColumnOf(pipe), &buffer, 0, slots[previous].startFrame,
                           slots[previous].samples);
    if (buffer == nullptr) {
        // Nothing to play (no output configured): the packets carry silence.
        buffer = pipe->transferBuffers[transfer->slot];
        if (buffer != nullptr) {
            RtlZeroMemory(buffer, bytes);
        }
    }
    return buffer;
}

void UsbIsoStreaming::BuildIsoUrb(IsoTransfer* transfer)
{
    UsbPipe* pipe = transfer->pipe;
    const ULONG perFrame = pipe->packetsPerFrame != 0 ? pipe->packetsPerFrame : 1;
    const ULONG most = bus.PacketsPerTransfer();
    ULONG packets = slots[transfer->slot].frames * perFrame;
    packets = packets < most ? packets : most;
    auto& r = transfer->urb->UrbIsochronousTransfer;
    RtlZeroMemory(&r, UrbBytes(packets));
    r.Hdr.Function = URB_FUNCTION_ISOCH_TRANSFER;
    r.PipeHandle = pipe->pipeInformation.PipeHandle;
    r.NumberOfPackets = packets;
    PVOID buffer = pipe->transferBuffers[transfer->slot];
    if (pipe->format.isIn) {
        const ULONG maxPacket = pipe->pipeInformation.MaximumPacketSize;
        r.TransferFlags = USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK;
        r.TransferBufferLength = packets * maxPacket;
        for (ULONG k = 0; k < packets; ++k) {
            r.IsoPacket[k].Offset = k * maxPacket;
        }
    } else {
        r.TransferFlags = 0;
        ULONG total = 0;
        const ULONG bytes = SpreadOutFrames(transfer, packets, &total);
        buffer = FillOutput(transfer, total, bytes);
        r.TransferBufferLength = bytes;
    }
    r.TransferBuffer = buffer;
    r.Hdr.Length = static_cast<USHORT>(UrbBytes(packets));
    if (pipe->sync && transfer->startFrame == -1) {
        r.TransferFlags |= USBD_START_ISO_TRANSFER_ASAP;
    } else {
        r.StartFrame = static_cast<ULONG>(transfer->startFrame);
    }
}

// A stop cancels the sync pipe's IRPs under the cancel lock while completions on other processors
// may be sending theirs again: an IRP is made ready again under the same lock, so a cancel never
// reads one half rebuilt. Reuse clears the IRP's cancel flag, so a sync transfer made ready after
// the stop's cancel pass would go to the bus uncancelled and the stop would wait for its frames
// (for ever, were the bus to stop): under the same lock, a stopped stream sends nothing more. The
// stop clears `streaming` before it takes the lock. The stopping thread holds the lock already.
bool UsbIsoStreaming::ReuseIrp(const UsbPipe* pipe, PIRP irp)
{
    const bool lock = pipe->sync && ReadPointerAcquire(&cancelOwner) != KeGetCurrentThread();
    KIRQL old = DISPATCH_LEVEL;
    if (lock) {
        KeAcquireSpinLock(&cancelLock, &old);
    }
    const bool send = !pipe->sync || ReadUCharAcquire(&streaming) != 0;
    if (send) {
        IoReuseIrp(irp, STATUS_SUCCESS);
    }
    if (lock) {
        KeReleaseSpinLock(&cancelLock, old);
    }
    return send;
}

NTSTATUS UsbIsoStreaming::SubmitTransfer(IsoTransfer* transfer, PIO_COMPLETION_ROUTINE routine,
                                         bool resubmit)
{
    UsbPipe* pipe = transfer->pipe;
    if (!resubmit) {
        InterlockedIncrement(&pipe->outstanding);
    }
    // The call itself holds the pipe too: the transfer may complete and retire on another
    // processor before IofCallDriver returns, and a stop waiting for the pipe must not free it
    // while this call still counts its submission below.
    InterlockedIncrement(&pipe->outstanding);
    PIRP irp = transfer->irp;
    if (!ReuseIrp(pipe, irp)) {
        // Streaming stopped: nothing was sent.
        if (!resubmit) {
            ReleaseOutstanding(pipe);
        }
        ReleaseOutstanding(pipe);
        return STATUS_CANCELLED;
    }
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Others.Argument1 = transfer->urb;
    IoSetCompletionRoutine(irp, routine, transfer, TRUE, TRUE, TRUE);
    if (!TryAcquireRemoveLock(requests.Context())) {
        // Nothing was sent: a new transfer does not count as outstanding.
        if (!resubmit) {
            ReleaseOutstanding(pipe);
        }
        ReleaseOutstanding(pipe);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    const ULONG slot = transfer->slot;
    InterlockedIncrement(&pipe->inSubmit[slot]);
    const NTSTATUS status = IofCallDriver(requests.LowerDevice(), irp);
    InterlockedDecrement(&pipe->inSubmit[slot]);
    ReleaseOutstanding(pipe);
    // A failure reaches the completion routine, which decides what becomes of the transfer.
    return NT_SUCCESS(status) ? status : STATUS_SUCCESS;
}

// A transfer of its own for a slot of a pipe other than the sync pipe; false when none went out
// (its object is freed then).
bool UsbIsoStreaming::SubmitNewTransfer(UsbPipe* pipe, ULONG slot, LONG startFrame,
                                        PIO_COMPLETION_ROUTINE routine, bool feedbackTransfer)
{
    IsoTransfer* transfer = AllocateTransferObject(pipe, slot);
    if (transfer == nullptr) {
        return false;
    }
    return SendTransfer(transfer, startFrame, routine, feedbackTransfer);
}

// A completed transfer of a pipe other than the sync pipe goes out again for its slot with the IRP
// and URB it already has: the completion path takes nothing from the pool, so it cannot fail for
// want of memory. False when it did not go out (its object is freed then).
bool UsbIsoStreaming::SubmitReusedTransfer(IsoTransfer* transfer, LONG startFrame,
                                           PIO_COMPLETION_ROUTINE routine, bool feedbackTransfer)
{
    UsbPipe* pipe = transfer->pipe;
    const ULONG slot = transfer->slot;
    if (pipe->format.hasFormat && pipe->transferBuffers[slot] == nullptr) {
        FreeTransferObject(transfer);
        return false;
    }
    transfer->priming = 0;
    pipe->transferObjects[slot] = transfer;
    return SendTransfer(transfer, startFrame, routine, feedbackTransfer);
}

// Builds the URB of a transfer recorded in its pipe's slot and sends it; false when it did not go
// out (its object is freed then).
bool UsbIsoStreaming::SendTransfer(IsoTransfer* transfer, LONG startFrame,
                                   PIO_COMPLETION_ROUTINE routine, bool feedbackTransfer)
{
    UsbPipe* pipe = transfer->pipe;
    const ULONG slot = transfer->slot;
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

void UsbIsoStreaming::ReleaseOutstanding(UsbPipe* pipe)
{
    ReleasePipeOutstanding(pipe);
}
