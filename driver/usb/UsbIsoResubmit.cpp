// The life of a transfer after its completion, at DISPATCH_LEVEL: the accounting of its slot's
// cycle, the sync pipe's transfers resubmitted in slot order (the other audio pipes joining after
// the priming cycle), the transfers of the other pipes replaced, retirement once streaming stops,
// and the restart asked of the engine.
#include "usb/UsbIsoStreaming.h"

#include "common/InStackLock.h"
#include "usb/UsbBus.h"
#include "usb/UsbPipeTable.h"
#include "usb/UsbRequestChannel.h"

namespace {

constexpr NTSTATUS kUsbdDeviceNotResponding = static_cast<NTSTATUS>(0xC0000005);
// A transfer goes out at least this many frames ahead of the bus: the bus refuses a start frame
// that is not after the current one, and the completion that sends it runs in the current frame.
constexpr ULONG kLeadFrames = 2;

// Frames compare in modular arithmetic: a is before b.
bool FrameBefore(ULONG a, ULONG b)
{
    return static_cast<LONG>(a - b) < 0;
}

// Results after which a transfer is not resubmitted.
bool EndsTransfer(NTSTATUS result)
{
    return result == STATUS_CANCELLED || result == STATUS_UNSUCCESSFUL ||
           result == kUsbdDeviceNotResponding ||
           result == static_cast<NTSTATUS>(USBD_STATUS_DEVICE_GONE) ||
           result == STATUS_DEVICE_NOT_CONNECTED || result == STATUS_NO_SUCH_DEVICE;
}

}  // namespace

void UsbIsoStreaming::RequestRestart()
{
    if (ReadUCharAcquire(&streaming)) {
        WriteUCharRelease(&streaming, 0);
        if (callbacks.restartStreaming != nullptr) {
            callbacks.restartStreaming(callbacks.restartContext);
        }
    }
}

void UsbIsoStreaming::ReportLostFrames(ULONG frames)
{
    InterlockedExchangeAdd(&lostFrames, static_cast<LONG>(frames));
    if (callbacks.onPeriodsLost != nullptr) {
        callbacks.onPeriodsLost(callbacks.periodContext, frames);
    }
}

NTSTATUS UsbIsoStreaming::AccountSlot(IsoTransfer* transfer)
{
    UsbPipe* pipe = transfer->pipe;
    auto& r = transfer->urb->UrbIsochronousTransfer;
    InStackLock guard(&slotLock);
    TransferSlot& slot = slots[transfer->slot];
    const ULONG counter =
        static_cast<ULONG>(ReadAcquire(&pipe->completionCounters[transfer->slot]));
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

// The start frame of the sync pipe's next transfer, sent in slot order (under the resubmit lock),
// which becomes its slot's for the other pipes. Once data flows it goes right after the sync
// pipe's previous transfer, whichever pipe accounted the cycle; while the priming cycle ends, the
// slot's own (the schedule moved by the measured lateness). A transfer whose place has passed or
// is too close (its completion was held back past every transfer queued behind it) goes out
// kLeadFrames ahead of the bus instead, and the rest of the ring follows: the frames in between
// carry nothing and are told, and the stream goes on from where it stopped, where a restart would
// lose a priming cycle and more.
ULONG UsbIsoStreaming::SyncStartFrame(IsoTransfer* transfer)
{
    ULONG now = 0;
    const bool keepAhead = ReadUCharAcquire(&streaming) && NT_SUCCESS(bus.GetCurrentFrame(&now));
    const bool data = transfer->priming == 0;
    ULONG lost = 0;
    ULONG start = 0;
    {
        InStackLock guard(&slotLock);
        TransferSlot& slot = slots[transfer->slot];
        start = data && syncEndsData ? syncEndFrame : slot.startFrame;
        if (keepAhead && FrameBefore(start, now + kLeadFrames)) {
            if (data && syncEndsData) {
                lost = now + kLeadFrames - start;
            }
            start = now + kLeadFrames;
        }
        // Another pipe accounted the slot's cycles while this transfer waited: its counter takes
        // them, so that its next completion accounts a cycle again.
        const ULONG counter =
            static_cast<ULONG>(ReadAcquire(&syncPipe->completionCounters[transfer->slot]));
        if (counter < slot.cyclesAccounted) {
            WriteRelease(&syncPipe->completionCounters[transfer->slot],
                         static_cast<LONG>(slot.cyclesAccounted));
        }
        slot.startFrame = start;
        syncEndFrame = start + slot.frames;
        syncEndsData = data ? 1 : 0;
    }
    if (lost != 0) {
        ReportLostFrames(lost);
    }
    return start;
}

// The start frame of a secondary pipe's next transfer for its slot: the slot's, unless that is no
// longer ahead of the bus (the completion came late), when it skips whole cycles of the ring
// instead of being refused by the bus. Its completion counter is set to the cycle it goes out
// for, so a completion that came cycles late rejoins the sync pipe's schedule; the slot's frames
// of every cycle it missed are lost.
LONG UsbIsoStreaming::SecondaryStartFrame(IsoTransfer* transfer)
{
    UsbPipe* pipe = transfer->pipe;
    ULONG now = 0;
    const bool keepAhead = ReadUCharAcquire(&streaming) && NT_SUCCESS(bus.GetCurrentFrame(&now));
    ULONG next = 0;
    ULONG lost = 0;
    {
        InStackLock guard(&slotLock);
        const TransferSlot& slot = slots[transfer->slot];
        next = slot.startFrame;
        if (keepAhead) {
            // The slot's start frame is that of cycle cyclesAccounted + 1.
            const ULONG lap = framesInFlight > 0 ? static_cast<ULONG>(framesInFlight) : 0;
            ULONG skipped = 0;
            while (lap != 0 && FrameBefore(next, now + kLeadFrames)) {
                next += lap;
                ++skipped;
            }
            const ULONG completed =
                static_cast<ULONG>(ReadAcquire(&pipe->completionCounters[transfer->slot]));
            const ULONG cycle = slot.cyclesAccounted + skipped;  // before this transfer's
            if (cycle != completed) {
                lost = (cycle - completed) * slot.frames;
                WriteRelease(&pipe->completionCounters[transfer->slot], static_cast<LONG>(cycle));
            }
        }
    }
    if (lost != 0) {
        ReportLostFrames(lost);
    }
    return static_cast<LONG>(next);
}

// After the sync pipe's priming cycle of a slot, every other audio pipe joins on that slot.
void UsbIsoStreaming::JoinSecondaryPipes(ULONG slot)
{
    UsbPipe* pipe = nullptr;
    ULONG index = 0;
    while (pipeTable.NextPipe(&pipe, &index)) {
        if (!pipe->format.hasFormat || pipe->sync) {
            continue;
        }
        WriteRelease(&pipe->completionCounters[slot],
                     ReadAcquire(&syncPipe->completionCounters[slot]));
        WriteRelease(&pipe->inSubmit[slot], 0);
        SubmitNewTransfer(pipe, slot, static_cast<LONG>(slots[slot].startFrame),
                          &SecondaryPipeComplete, false);
    }
}

IsoTransfer* UsbIsoStreaming::CountCompletion(PIRP irp, PVOID context)
{
    auto* transfer = static_cast<IsoTransfer*>(context);
    if (transfer == nullptr || transfer->irp != irp) {
        return nullptr;  // not a transfer of ours
    }
    InterlockedIncrement(&transfer->pipe->completionCounters[transfer->slot]);
    return transfer;
}

// A transfer of a pipe other than the sync pipe serves one completion at a time: when asked, it
// goes out again for its slot, else it is freed; then the outstanding count and remove-lock
// reference of the completed submission go.
void UsbIsoStreaming::ReplaceTransfer(IsoTransfer* transfer, bool again, LONG startFrame,
                                      PIO_COMPLETION_ROUTINE routine, bool feedbackTransfer)
{
    UsbPipe* pipe = transfer->pipe;
    const ULONG slot = transfer->slot;
    if (pipe->transferObjects[slot] == transfer) {
        pipe->transferObjects[slot] = nullptr;
    }
    if (again) {
        SubmitReusedTransfer(transfer, startFrame, routine, feedbackTransfer);
    } else {
        FreeTransferObject(transfer);
    }
    ReleaseOutstanding(pipe);
    ReleaseRemoveLock(requests.Context());
}

void UsbIsoStreaming::RetireSyncTransfer(IsoTransfer* transfer)
{
    UsbPipe* pipe = transfer->pipe;
    // The thread that cancels holds the lock already; its cancelled IRPs complete on it.
    const bool owner = ReadPointerAcquire(&cancelOwner) == KeGetCurrentThread();
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
    ReleaseRemoveLock(requests.Context());
}

// The slot's cycle accounted, the other pipes joined after the priming cycle, and the transfer
// rebuilt for the slot's next start frame. Under the resubmit lock.
void UsbIsoStreaming::PrepareResubmission(IsoTransfer* transfer)
{
    AccountSlot(transfer);
    const bool joining = transfer->priming == 1;
    if (transfer->priming != 0) {
        --transfer->priming;
    }
    transfer->startFrame = static_cast<LONG>(SyncStartFrame(transfer));
    if (joining) {
        JoinSecondaryPipes(transfer->slot);
    }
    BuildIsoUrb(transfer);
}

// The engine places each transfer's data right after the previous slot's, so the sync pipe's
// transfers are sized, filled and sent again in slot order, which is the order of the stream: a
// transfer whose completion overtook its predecessor's (completions may run on several processors,
// or come late from a busy controller) waits for it and goes out right after it.
void UsbIsoStreaming::ResubmitInOrder(IsoTransfer* transfer)
{
    KIRQL old;
    KeAcquireSpinLock(&resubmitLock, &old);
    if (!ReadUCharAcquire(&streaming)) {
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
        PrepareResubmission(transfer);
        const ULONG next = transfers != 0 ? (transfer->slot + 1) % transfers : 0;
        nextResubmitSlot = next;
        KeReleaseSpinLock(&resubmitLock, old);
        const bool sent = ResubmitSyncTransfer(transfer);
        KeAcquireSpinLock(&resubmitLock, &old);
        transfer = nullptr;
        if (sent && ReadUCharAcquire(&streaming) && nextResubmitSlot == next) {
            transfer = parkedTransfers[next];
            parkedTransfers[next] = nullptr;
        }
    }
    KeReleaseSpinLock(&resubmitLock, old);
    if (!ReadUCharAcquire(&streaming)) {
        RetireParkedTransfers();
    }
}

bool UsbIsoStreaming::ResubmitSyncTransfer(IsoTransfer* transfer)
{
    const NTSTATUS status = SubmitTransfer(transfer, &SyncPipeComplete, true);
    if (status == STATUS_INSUFFICIENT_RESOURCES || status == STATUS_CANCELLED) {
        // Not sent (a removal is under way, or a stop passed since the transfer was prepared):
        // the transfer retires, so the stop or removal does not wait for it, and nothing streams
        // any more.
        WriteUCharRelease(&streaming, 0);
        RetireSyncTransfer(transfer);
        return false;
    }
    ReleaseRemoveLock(requests.Context());  // the new submission holds its own
    return true;
}

// Once streaming stops, the transfers waiting for their predecessor are not sent again.
void UsbIsoStreaming::RetireParkedTransfers()
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

NTSTATUS UsbIsoStreaming::SyncPipeComplete(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    IsoTransfer* transfer = CountCompletion(irp, context);
    if (transfer == nullptr) {
        return STATUS_MORE_PROCESSING_REQUIRED;
    }
    UsbIsoStreaming* self = transfer->pipe->owner;
    self->requests.NoteSyncCompletionTime();
    const NTSTATUS result = self->ProcessIsoCompletion(transfer);
    if (EndsTransfer(result) || !ReadUCharAcquire(&self->streaming)) {
        // A slot that leaves the ring while streaming goes on would hold every later one back.
        self->RequestRestart();
        self->RetireSyncTransfer(transfer);
        self->RetireParkedTransfers();
    } else {
        self->ResubmitInOrder(transfer);
    }
    self->requests.SignalSyncCompletion();
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS UsbIsoStreaming::SecondaryPipeComplete(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    IsoTransfer* transfer = CountCompletion(irp, context);
    if (transfer == nullptr) {
        return STATUS_MORE_PROCESSING_REQUIRED;
    }
    UsbIsoStreaming* self = transfer->pipe->owner;
    const NTSTATUS result = self->ProcessIsoCompletion(transfer);
    self->AccountSlot(transfer);
    const LONG next = self->SecondaryStartFrame(transfer);
    self->ReplaceTransfer(transfer, ReadUCharAcquire(&self->streaming) && !EndsTransfer(result),
                          next, &SecondaryPipeComplete, false);
    return STATUS_MORE_PROCESSING_REQUIRED;
}
