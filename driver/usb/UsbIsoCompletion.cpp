// The completions of isochronous transfers, at DISPATCH_LEVEL: what a transfer brought or took,
// the lateness of the completions and the queue-ahead learned from it, the capture stream's
// frames and the effective rate measured from them, the accounting of each slot's cycle and the
// resubmission of the transfers.
#include "InStackLock.h"
#include "UsbTransport.h"

namespace {

constexpr ULONG kRingSize = 1024;
constexpr ULONG kWindowFrames = 1023;
constexpr ULONG kMinWindowFrames = 16;  // the effective rate is taken from at least this many
constexpr LONG kLearningWindowFrames = 300000;
constexpr NTSTATUS kUsbdDeviceNotResponding = static_cast<NTSTATUS>(0xC0000005);

// Results after which a transfer is not resubmitted.
bool EndsTransfer(NTSTATUS result)
{
    return result == STATUS_CANCELLED || result == STATUS_UNSUCCESSFUL ||
           result == kUsbdDeviceNotResponding ||
           result == static_cast<NTSTATUS>(USBD_STATUS_DEVICE_GONE) ||
           result == STATUS_DEVICE_NOT_CONNECTED || result == STATUS_NO_SUCH_DEVICE;
}

bool FrameBefore(ULONG a, ULONG b)
{
    return static_cast<LONG>(a - b) < 0;
}

}  // namespace

void UsbTransport::RequestRestart()
{
    if (streaming) {
        streaming = 0;
        if (callbacks.restartStreaming != nullptr) {
            callbacks.restartStreaming(callbacks.restartContext);
        }
    }
}

// The samples of the cycle that just completed on the transfer's slot: the last accounted cycle
// when this pipe completes first, else the one before it.
ULONG UsbTransport::SlotSamplesFor(const IsoTransfer* transfer)
{
    InStackLock guard(&slotLock);
    const TransferSlot& slot = slots[transfer->slot];
    return static_cast<ULONG>(transfer->pipe->completionCounters[transfer->slot]) >
                   slot.cyclesAccounted
               ? slot.previousSamples
               : slot.samplesBeforeThat;
}

void UsbTransport::ProcessInFrames(IsoTransfer* transfer, ULONG frames, ULONG bytesPerSampleFrame,
                                   NTSTATUS* result)
{
    UsbPipe* pipe = transfer->pipe;
    auto& r = transfer->urb->UrbIsochronousTransfer;
    auto* buffer = static_cast<PUCHAR>(r.TransferBuffer);
    const ULONG bufferBytes = pipe->bytesPerFrame * bufferFrames;
    const ULONG perFrame = pipe->packetsPerFrame != 0 ? pipe->packetsPerFrame : 1;
    const ULONG maxPacket = pipe->pipeInformation.MaximumPacketSize;
    const bool record = pipe->sync && r.NumberOfPackets != 0 &&
                        ringWrite - ringRead < kWindowFrames - packetsPerTransfer &&
                        !feedbackValid && transfer->priming <= 1;
    const LONG base = static_cast<LONG>(effectiveRate / 1000);
    bool anyRefused = false;
    bool anyEmpty = false;
    ULONG at = 0;  // end of the compacted data
    for (ULONG f = 0; f < frames; ++f) {
        const ULONG frameStart = at;
        bool empty = false;
        for (ULONG p = 0; p < perFrame && !empty; ++p) {
            const USBD_ISO_PACKET_DESCRIPTOR& packet = r.IsoPacket[f * perFrame + p];
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
                empty = true;
                break;
            }
            if (packet.Offset != at) {
                RtlMoveMemory(buffer + at, buffer + packet.Offset, length);
            }
            at += length;
        }
        LONG samples = static_cast<LONG>((at - frameStart) / bytesPerSampleFrame);
        if (!empty && samples >= base - kCaptureSizeTolerance &&
            samples <= base + kCaptureSizeTolerance) {
            inFractionAccumulator = 0;
        } else {
            // Silence of the size the device runs at.
            anyRefused = true;
            anyEmpty = anyEmpty || empty;
            inFractionAccumulator += fraction;
            samples = base;
            if (inFractionAccumulator >= 1000) {
                ++samples;
                inFractionAccumulator -= 1000;
            }
            // Silence stays before the next frame's packets, which are still to be moved.
            ULONG end = (f + 1) * perFrame * maxPacket;
            end = end < bufferBytes ? end : bufferBytes;
            const LONG room =
                end > frameStart ? static_cast<LONG>((end - frameStart) / bytesPerSampleFrame) : 0;
            if (samples > room) {
                samples = room;
            }
            RtlZeroMemory(buffer + frameStart, static_cast<SIZE_T>(samples) * bytesPerSampleFrame);
        }
        at = frameStart + static_cast<ULONG>(samples) * bytesPerSampleFrame;
        if (record) {
            if (windowCount == kWindowFrames) {
                windowSum -= measuredRing[(ringWrite - kWindowFrames) % kRingSize];
                --windowCount;
            }
            measuredRing[ringWrite % kRingSize] = static_cast<SHORT>(samples);
            ++ringWrite;
            windowSum += samples;
            ++windowCount;
        }
    }
    if (anyRefused) {
        InterlockedOr(&errorFlags, kIsoInError);
    }
    if (!anyEmpty && record && windowCount >= kMinWindowFrames) {
        effectiveRate = static_cast<ULONG>(static_cast<LONGLONG>(windowSum) * 1000 / windowCount);
        fraction = effectiveRate % 1000;
    }
    if (streaming && transfer->priming == 0) {
        const ULONG received = at / bytesPerSampleFrame;
        const ULONG slotSamples = outAudioPipes != 0 ? SlotSamplesFor(transfer) : received;
        if (pipe->sync) {
            totalSamples += received;
        }
        if (callbacks.onUsbPeriod != nullptr) {
            callbacks.onUsbPeriod(callbacks.periodContext, r.StartFrame, received, ColumnOf(pipe),
                                  buffer, InterlockedExchange(&errorFlags, 0), slotSamples,
                                  queueAhead);
        }
    }
}

NTSTATUS UsbTransport::ProcessIsoCompletion(IsoTransfer* transfer)
{
    PIRP irp = transfer->irp;
    UsbPipe* pipe = transfer->pipe;
    auto& r = transfer->urb->UrbIsochronousTransfer;
    const bool in = pipe->format.isIn != 0;
    const LONG directionError = in ? kIsoInError : kIsoOutError;

    NTSTATUS result = irp->IoStatus.Status;
    if (!NT_SUCCESS(result) && streaming) {
        InterlockedOr(&errorFlags, directionError);
    }
    USBD_STATUS urbStatus = r.Hdr.Status;
    if (result == STATUS_NO_SUCH_DEVICE || result == STATUS_DEVICE_NOT_CONNECTED) {
        urbStatus = USBD_STATUS_DEVICE_GONE;
    }
    if (urbStatus == USBD_STATUS_DEVICE_GONE) {
        streaming = 0;  // no restart: there is nothing to restart on
        if (NT_SUCCESS(result)) {
            result = static_cast<NTSTATUS>(USBD_STATUS_DEVICE_GONE);
        }
    } else if (urbStatus == USBD_STATUS_CANCELED) {
        return NT_SUCCESS(result) ? STATUS_CANCELLED : result;
    } else if (!USBD_SUCCESS(urbStatus)) {
        InterlockedOr(&errorFlags, directionError);
        result = static_cast<NTSTATUS>(urbStatus);
    }
    if (transfer->priming == 0 &&
        (pipe->inSubmit[transfer->slot] != 0 || urbStatus == USBD_STATUS_BAD_START_FRAME)) {
        RequestRestart();
        return STATUS_UNSUCCESSFUL;
    }

    const ULONG perFrame = pipe->packetsPerFrame != 0 ? pipe->packetsPerFrame : 1;
    const ULONG frames = r.NumberOfPackets / perFrame;
    ULONG bytesPerSampleFrame = pipe->format.subframeSize * pipe->format.channels;
    if (bytesPerSampleFrame == 0) {
        bytesPerSampleFrame = 1;
    }

    if (streaming && transfer->priming != 0 && pipe->sync) {
        if (lateness == -1) {
            ULONG now = 0;
            lateness = 0;
            if (NT_SUCCESS(GetCurrentFrame(&now))) {
                if (firstStartFrame == 0) {
                    firstStartFrame = r.StartFrame;
                }
                const LONG d = static_cast<LONG>(now - r.StartFrame - frames + 1);
                if (queueAhead == 0) {
                    queueAhead = ClampQueueAhead(d);
                }
                lateness = d <= 1 ? 0 : d - 1 + static_cast<LONG>(framesPerTransfer * transfers);
            }
        }
        // The whole schedule moves later by the lateness of its first completion.
        r.StartFrame += static_cast<ULONG>(lateness);
        if (transfer->startFrame != -1) {
            transfer->startFrame += lateness;
        }
    }

    ULONG now = 0;
    if (streaming && transfer->priming == 0 && (in || inAudioPipes == 0) &&
        NT_SUCCESS(GetCurrentFrame(&now))) {
        const LONG d = static_cast<LONG>(now - r.StartFrame - frames + 1);
        ULONG next = slots[transfer->slot].startFrame;
        if (static_cast<ULONG>(pipe->completionCounters[transfer->slot]) >
            slots[transfer->slot].cyclesAccounted) {
            next = static_cast<ULONG>(framesInFlight + transfer->startFrame);
        }
        if (FrameBefore(next, now + 2)) {
            // The transfers in flight no longer reach far enough ahead of the bus.
            RequestRestart();
            return STATUS_UNSUCCESSFUL;
        }
        if (pipe->sync) {
            windowTimer += static_cast<LONG>(frames);
        }
        if (windowTimer >= 0) {
            if (d > queueAhead) {
                queueAhead = ClampQueueAhead(d);
                windowMaximum = 1;
                windowTimer = 0;
            } else {
                windowMaximum = d > windowMaximum ? d : windowMaximum;
                if (windowTimer >= kLearningWindowFrames) {
                    if (windowMaximum < queueAhead) {
                        queueAhead = ClampQueueAhead(windowMaximum);
                    }
                    windowMaximum = 1;
                    windowTimer = 0;
                }
            }
        }
        lateness = d;
    }

    if (in) {
        ProcessInFrames(transfer, frames, bytesPerSampleFrame, &result);
        return result;
    }
    ULONG samples = r.TransferBufferLength / bytesPerSampleFrame;
    if (streaming && transfer->priming == 0) {
        if (samples == 0) {
            InterlockedOr(&errorFlags, kIsoOutError);
        }
        samples = SlotSamplesFor(transfer);
        if (pipe->sync) {
            totalSamples += samples;
            if (callbacks.onUsbPeriod != nullptr) {
                callbacks.onUsbPeriod(callbacks.periodContext, r.StartFrame, samples,
                                      ColumnOf(pipe), nullptr, InterlockedExchange(&errorFlags, 0),
                                      samples, queueAhead);
            }
        }
    }
    if (!(pipe->sync && transfer->priming != 0) && callbacks.onCancelPacket != nullptr) {
        callbacks.onCancelPacket(callbacks.fillContext, r.StartFrame, samples, ColumnOf(pipe),
                                 r.TransferBuffer);
    }
    return result;
}

NTSTATUS UsbTransport::AccountSlot(IsoTransfer* transfer)
{
    UsbPipe* pipe = transfer->pipe;
    auto& r = transfer->urb->UrbIsochronousTransfer;
    InStackLock guard(&slotLock);
    TransferSlot& slot = slots[transfer->slot];
    const ULONG counter = static_cast<ULONG>(pipe->completionCounters[transfer->slot]);
    if (counter < slot.cyclesAccounted) {
        return static_cast<NTSTATUS>(0xC0000004);  // a cycle that was already accounted for
    }
    if (counter == slot.cyclesAccounted) {
        return STATUS_SUCCESS;  // another pipe completed this cycle first
    }
    slot.cyclesAccounted = counter;
    const ULONG perFrame = pipe->packetsPerFrame != 0 ? pipe->packetsPerFrame : 1;
    const LONG completedFrames = static_cast<LONG>(r.NumberOfPackets / perFrame);
    const LONG newFrames = static_cast<LONG>(ComputePacketSizes(transfer->slot));
    const LONG inFlight = framesInFlight;
    framesInFlight += newFrames - completedFrames;
    slot.samplesBeforeThat = slot.previousSamples;
    slot.previousSamples = slot.samples;
    if (firstStartFrame == 0) {
        firstStartFrame = r.StartFrame;
    }
    if (transfer->startFrame == -1 || static_cast<ULONG>(transfer->startFrame) != r.StartFrame) {
        transfer->startFrame = static_cast<LONG>(r.StartFrame);
    }
    slot.startFrame = static_cast<ULONG>(inFlight + transfer->startFrame);
    return STATUS_SUCCESS;
}

// After the sync pipe's priming cycle of a slot, every other audio pipe joins on that slot.
void UsbTransport::JoinSecondaryPipes(ULONG slot)
{
    UsbPipe* pipe = nullptr;
    ULONG index = 0;
    while (NextPipe(&pipe, &index)) {
        if (!pipe->format.hasFormat || pipe->sync) {
            continue;
        }
        pipe->completionCounters[slot] = syncPipe->completionCounters[slot];
        pipe->inSubmit[slot] = 0;
        SubmitNewTransfer(pipe, slot, static_cast<LONG>(slots[slot].startFrame),
                          &SecondaryPipeComplete, false);
    }
}

IsoTransfer* UsbTransport::CountCompletion(PIRP irp, PVOID context)
{
    auto* transfer = static_cast<IsoTransfer*>(context);
    if (transfer == nullptr || transfer->irp != irp) {
        return nullptr;  // not a transfer of ours
    }
    InterlockedIncrement(&transfer->pipe->completionCounters[transfer->slot]);
    return transfer;
}

// A transfer of a pipe other than the sync pipe lives for one completion: it is freed and, when
// asked, a new one takes its slot; then its outstanding count and remove-lock reference go.
void UsbTransport::ReplaceTransfer(IsoTransfer* transfer, bool again, LONG startFrame,
                                   PIO_COMPLETION_ROUTINE routine, bool feedbackTransfer)
{
    UsbPipe* pipe = transfer->pipe;
    const ULONG slot = transfer->slot;
    if (pipe->transferObjects[slot] == transfer) {
        pipe->transferObjects[slot] = nullptr;
    }
    FreeTransferObject(transfer);
    if (again) {
        SubmitNewTransfer(pipe, slot, startFrame, routine, feedbackTransfer);
    }
    ReleaseOutstanding(pipe);
    ReleaseRemoveLock(deviceContext);
}

void UsbTransport::RetireSyncTransfer(IsoTransfer* transfer)
{
    UsbPipe* pipe = transfer->pipe;
    // The thread that cancels holds the lock already; its cancelled IRPs complete on it.
    const bool owner = cancelOwner == KeGetCurrentThread();
    KIRQL old = DISPATCH_LEVEL;
    if (!owner) {
        KeAcquireSpinLock(&cancelLock, &old);
    }
    PIRP irp = transfer->irp;
    transfer->irp = nullptr;
    if (!owner) {
        KeReleaseSpinLock(&cancelLock, old);
    }
    IoFreeIrp(irp);
    ReleaseOutstanding(pipe);
    ReleaseRemoveLock(deviceContext);
}

// The engine places each transfer's data right after the previous slot's, so the sync pipe's
// transfers are sized, filled and sent again in slot order, which is the order of the stream: a
// transfer whose completion overtook its predecessor's (completions may run on several processors,
// or come late from a busy controller) waits for it and goes out right after it.
void UsbTransport::ResubmitInOrder(IsoTransfer* transfer)
{
    KIRQL old;
    KeAcquireSpinLock(&resubmitLock, &old);
    if (!streaming) {
        KeReleaseSpinLock(&resubmitLock, old);
        RetireSyncTransfer(transfer);
        return;
    }
    if (transfer->slot != nextResubmitSlot) {
        parkedTransfers[transfer->slot] = transfer;
        KeReleaseSpinLock(&resubmitLock, old);
        return;
    }
    while (transfer != nullptr) {
        AccountSlot(transfer);
        if (transfer->priming == 1) {
            JoinSecondaryPipes(transfer->slot);
        }
        if (transfer->priming != 0) {
            --transfer->priming;
        }
        transfer->startFrame = static_cast<LONG>(slots[transfer->slot].startFrame);
        BuildIsoUrb(transfer);
        const ULONG next = transfers != 0 ? (transfer->slot + 1) % transfers : 0;
        nextResubmitSlot = next;
        KeReleaseSpinLock(&resubmitLock, old);
        const bool sent = ResubmitSyncTransfer(transfer);
        KeAcquireSpinLock(&resubmitLock, &old);
        transfer = nullptr;
        if (sent && streaming && nextResubmitSlot == next) {
            transfer = parkedTransfers[next];
            parkedTransfers[next] = nullptr;
        }
    }
    KeReleaseSpinLock(&resubmitLock, old);
    if (!streaming) {
        RetireParkedTransfers();
    }
}

bool UsbTransport::ResubmitSyncTransfer(IsoTransfer* transfer)
{
    if (SubmitTransfer(transfer, &SyncPipeComplete, true) == STATUS_INSUFFICIENT_RESOURCES) {
        // Not sent (a removal is under way): the transfer retires, so the removal does not wait
        // for it, and nothing streams any more.
        streaming = 0;
        RetireSyncTransfer(transfer);
        return false;
    }
    ReleaseRemoveLock(deviceContext);  // the new submission holds its own
    return true;
}

// Once streaming stops, the transfers waiting for their predecessor are not sent again.
void UsbTransport::RetireParkedTransfers()
{
    for (ULONG slot = 0; slot < kUsbTransferSlots; ++slot) {
        KIRQL old;
        KeAcquireSpinLock(&resubmitLock, &old);
        IsoTransfer* transfer = parkedTransfers[slot];
        parkedTransfers[slot] = nullptr;
        KeReleaseSpinLock(&resubmitLock, old);
        if (transfer != nullptr) {
            RetireSyncTransfer(transfer);
        }
    }
}

NTSTATUS UsbTransport::SyncPipeComplete(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    IsoTransfer* transfer = CountCompletion(irp, context);
    if (transfer == nullptr) {
        return STATUS_MORE_PROCESSING_REQUIRED;
    }
    UsbTransport* self = transfer->pipe->owner;
    self->lastSyncCompletionTime = Now100ns();
    const NTSTATUS result = self->ProcessIsoCompletion(transfer);
    if (EndsTransfer(result) || !self->streaming) {
        // A slot that leaves the ring while streaming goes on would hold every later one back.
        self->RequestRestart();
        self->RetireSyncTransfer(transfer);
        self->RetireParkedTransfers();
    } else {
        self->ResubmitInOrder(transfer);
    }
    KeSetEvent(&self->syncCompletionEvent, 8, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS UsbTransport::SecondaryPipeComplete(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    IsoTransfer* transfer = CountCompletion(irp, context);
    if (transfer == nullptr) {
        return STATUS_MORE_PROCESSING_REQUIRED;
    }
    UsbTransport* self = transfer->pipe->owner;
    const NTSTATUS result = self->ProcessIsoCompletion(transfer);
    self->AccountSlot(transfer);
    const LONG next = static_cast<LONG>(self->slots[transfer->slot].startFrame);
    self->ReplaceTransfer(transfer, self->streaming && !EndsTransfer(result), next,
                          &SecondaryPipeComplete, false);
    return STATUS_MORE_PROCESSING_REQUIRED;
}
