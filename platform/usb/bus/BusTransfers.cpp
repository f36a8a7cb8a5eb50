// The bus's scheduled side: isochronous transfers by start frame, bulk and interrupt transfers
// when the device has data or takes it, requests the device leaves unanswered, cancellation, and
// the frame clock that drives them all.
#include <algorithm>
#include <set>

#include "UsbTestApi.h"

namespace UsbSim {
namespace {

constexpr ULONG kMaxFramesAhead = 1024;  // a start frame further out is refused
constexpr ULONG kMaxIsoPackets = 1024;
constexpr ULONG kAsapLeadFrames = 2;  // an ASAP transfer on an idle pipe starts this far out

// Frames compare in modular arithmetic: a is before b.
bool FrameBefore(ULONG a, ULONG b)
{
    return static_cast<LONG>(a - b) < 0;
}

}  // namespace

NTSTATUS SimulatedUsbBus::Queue(PIRP irp, const Pending& entry)
{
    KIRQL old;
    KeAcquireSpinLock(&lock, &old);
    return QueueLocked(irp, entry, old);
}

// Under the bus lock, taken at `old`; releases it.
NTSTATUS SimulatedUsbBus::QueueLocked(PIRP irp, const Pending& entry, KIRQL old)
{
    IoMarkIrpPending(irp);
    IoSetCancelRoutine(irp, &CancelPending);
    if (ReadUCharAcquire(&irp->Cancel) && IoSetCancelRoutine(irp, nullptr) != nullptr) {
        KeReleaseSpinLock(&lock, old);
        Complete(irp, STATUS_CANCELLED, USBD_STATUS_CANCELED);
        return STATUS_PENDING;
    }
    pending.push_back(entry);
    if (entry.pipe != 0) {
        ArmFrameTimer();
    }
    KeReleaseSpinLock(&lock, old);
    return STATUS_PENDING;
}

void SimulatedUsbBus::CancelPending(PDEVICE_OBJECT deviceObject, PIRP irp)
{
    IoReleaseCancelSpinLock(irp->CancelIrql);
    auto* bus = static_cast<SimulatedUsbBus*>(deviceObject->DeviceExtension);
    KIRQL old;
    KeAcquireSpinLock(&bus->lock, &old);
    std::erase_if(bus->pending, [irp](const Pending& p) { return p.irp == irp; });
    KeReleaseSpinLock(&bus->lock, old);
    bus->Complete(irp, STATUS_CANCELLED, USBD_STATUS_CANCELED);
}

// Under the bus lock.
void SimulatedUsbBus::TakePendingOfPipe(uintptr_t pipe, std::vector<PIRP>& out)
{
    for (auto it = pending.begin(); it != pending.end();) {
        if (it->pipe == pipe && IoSetCancelRoutine(it->irp, nullptr) != nullptr) {
            out.push_back(it->irp);
            it = pending.erase(it);
        } else {
            ++it;
        }
    }
}

// Under the bus lock.
void SimulatedUsbBus::ArmFrameTimer()
{
    if (timerArmed) {
        return;
    }
    timerArmed = true;
    // Fire at every frame boundary from the next one on.
    const ULONGLONG now = KeQueryInterruptTime();
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(10000 - now % 10000);
    KeSetTimerEx(&frameTimer, due, 1, &frameDpc);
}

void SimulatedUsbBus::FrameDpc(PKDPC, PVOID context, PVOID, PVOID)
{
    static_cast<SimulatedUsbBus*>(context)->OnFrame();
}

// Under the bus lock, taken at `old`; releases it.
NTSTATUS SimulatedUsbBus::IsochronousTransferLocked(PIRP irp, PURB urb, KIRQL old)
{
    auto& r = urb->UrbIsochronousTransfer;
    const uintptr_t handle = reinterpret_cast<uintptr_t>(r.PipeHandle);
    auto it = pipes.find(handle);
    USBD_STATUS error = USBD_STATUS_SUCCESS;
    ULONG start = 0;
    ULONG frames = 0;
    if (it == pipes.end() || it->second.type != UsbdPipeTypeIsochronous) {
        error = USBD_STATUS_INVALID_PIPE_HANDLE;
    } else if (r.NumberOfPackets == 0 || r.NumberOfPackets > kMaxIsoPackets ||
               r.NumberOfPackets % it->second.packetsPerFrame != 0 ||
               (r.TransferBuffer == nullptr && r.TransferBufferLength != 0) ||
               urb->UrbHeader.Length < FIELD_OFFSET(_URB_ISOCH_TRANSFER, IsoPacket) +
                                           sizeof(USBD_ISO_PACKET_DESCRIPTOR) * r.NumberOfPackets) {
        error = USBD_STATUS_INVALID_PARAMETER;
    } else {
        const PUSBD_ISO_PACKET_DESCRIPTOR packets = r.IsoPacket;
        const bool in = USB_ENDPOINT_DIRECTION_IN(it->second.endpointAddress);
        for (ULONG k = 0; k < r.NumberOfPackets && error == USBD_STATUS_SUCCESS; ++k) {
            const ULONG end =
                in ? (k + 1 < r.NumberOfPackets ? packets[k + 1].Offset : r.TransferBufferLength)
                   : packets[k].Offset + packets[k].Length;
            if (packets[k].Offset > end || end > r.TransferBufferLength ||
                (!in && packets[k].Length > it->second.maxPacketSize)) {
                error = USBD_STATUS_INVALID_PARAMETER;
            }
        }
        frames = r.NumberOfPackets / it->second.packetsPerFrame;
        const ULONG now = CurrentFrame();
        if ((r.TransferFlags & USBD_START_ISO_TRANSFER_ASAP) != 0) {
            start = FrameBefore(now + 1, it->second.nextFrame) ? it->second.nextFrame
                                                               : now + kAsapLeadFrames;
            r.StartFrame = start;
        } else {
            start = r.StartFrame;
            if (!FrameBefore(now, start) || !FrameBefore(start, now + kMaxFramesAhead)) {
                error = USBD_STATUS_BAD_START_FRAME;
            }
        }
        if (error == USBD_STATUS_SUCCESS && isoRefusals > 0) {
            --isoRefusals;
            error = USBD_STATUS_BAD_START_FRAME;
        }
        if (error == USBD_STATUS_SUCCESS) {
            it->second.nextFrame = start + frames;
        }
    }
    if (error != USBD_STATUS_SUCCESS) {
        KeReleaseSpinLock(&lock, old);
        return Complete(irp, STATUS_UNSUCCESSFUL, error);
    }
    ULONG delay = 0;
    if (isoDelayCount > 0) {
        delay = isoDelayFrames;
        --isoDelayCount;
    }
    r.ErrorCount = 0;
    return QueueLocked(irp, {irp, urb, handle, start, frames, delay}, old);
}

NTSTATUS SimulatedUsbBus::BulkTransfer(PIRP irp, PURB urb)
{
    auto& r = urb->UrbBulkOrInterruptTransfer;
    const uintptr_t handle = reinterpret_cast<uintptr_t>(r.PipeHandle);
    KIRQL old;
    KeAcquireSpinLock(&lock, &old);
    auto it = pipes.find(handle);
    const bool valid =
        it != pipes.end() &&
        (it->second.type == UsbdPipeTypeBulk || it->second.type == UsbdPipeTypeInterrupt) &&
        (r.TransferBuffer != nullptr || r.TransferBufferLength == 0) &&
        ((r.TransferFlags & USBD_TRANSFER_DIRECTION_IN) != 0) ==
            USB_ENDPOINT_DIRECTION_IN(it->second.endpointAddress);
    KeReleaseSpinLock(&lock, old);
    if (!valid) {
        return Complete(irp, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER);
    }
    return Queue(irp, {irp, urb, handle, 0, 0});
}

// Under the bus lock. Moves the packets of an isochronous transfer whose frames have passed.
bool SimulatedUsbBus::ExchangeIso(const Pending& p, const BusPipe& pipe)
{
    auto& r = p.urb->UrbIsochronousTransfer;
    const bool in = USB_ENDPOINT_DIRECTION_IN(pipe.endpointAddress);
    auto* buffer = static_cast<uint8_t*>(r.TransferBuffer);
    const PUSBD_ISO_PACKET_DESCRIPTOR packets = r.IsoPacket;
    ULONG received = 0;
    ULONG failed = 0;
    // Frame and slot within it counted along: two divisions per packet were a third of this walk.
    ULONG frame = p.startFrame;
    ULONG slot = 0;
    for (ULONG k = 0; k < r.NumberOfPackets; ++k) {
        const uint8_t microframe = static_cast<uint8_t>(slot * 8 / pipe.packetsPerFrame);
        Result result;
        if (in) {
            const ULONG end =
                k + 1 < r.NumberOfPackets ? packets[k + 1].Offset : r.TransferBufferLength;
            const ULONG room = std::min<ULONG>(end - packets[k].Offset, pipe.maxPacketSize);
            result = usbDevice->IsoIn(pipe.endpointAddress, frame, microframe,
                                      std::span<uint8_t>(buffer + packets[k].Offset, room));
            packets[k].Length =
                result.outcome == Outcome::Ok ? static_cast<ULONG>(result.length) : 0;
            received += packets[k].Length;
        } else {
            result = usbDevice->IsoOut(
                pipe.endpointAddress, frame, microframe,
                std::span<const uint8_t>(buffer + packets[k].Offset, packets[k].Length));
        }
        packets[k].Status = OutcomeStatus(result.outcome);
        if (result.outcome != Outcome::Ok) {
            ++failed;
        }
        if (++slot == pipe.packetsPerFrame) {
            slot = 0;
            ++frame;
        }
    }
    if (in) {
        r.TransferBufferLength = received;
    }
    r.ErrorCount = failed;
    return failed < r.NumberOfPackets;
}

// Under the bus lock. The packets move once the transfer's last frame has passed, even when its
// completion is held back; a transfer being cancelled moves nothing.
void SimulatedUsbBus::ExchangeDueIso(Pending& p, const BusPipe& pipe, ULONG now)
{
    const ULONG lastFrame = p.startFrame + p.frames - 1;
    if (p.exchanged || !FrameBefore(lastFrame, now) || ReadUCharAcquire(&p.irp->Cancel)) {
        return;
    }
    p.exchanged = true;
    p.exchangeFailed = !ExchangeIso(p, pipe);
}

// Under the bus lock. False while the endpoint has nothing to give or cannot take the data yet.
bool SimulatedUsbBus::ExchangeBulk(const Pending& p, const BusPipe& pipe)
{
    auto& r = p.urb->UrbBulkOrInterruptTransfer;
    auto* buffer = static_cast<uint8_t*>(r.TransferBuffer);
    Result result =
        USB_ENDPOINT_DIRECTION_IN(pipe.endpointAddress)
            ? usbDevice->BulkIn(pipe.endpointAddress, {buffer, r.TransferBufferLength})
            : usbDevice->BulkOut(pipe.endpointAddress, {buffer, r.TransferBufferLength});
    if (result.outcome == Outcome::Nak) {
        return false;
    }
    p.urb->UrbHeader.Status = OutcomeStatus(result.outcome);
    if (result.outcome == Outcome::Ok) {
        const bool shortIn = USB_ENDPOINT_DIRECTION_IN(pipe.endpointAddress) &&
                             result.length < r.TransferBufferLength &&
                             (r.TransferFlags & USBD_SHORT_TRANSFER_OK) == 0;
        r.TransferBufferLength = static_cast<ULONG>(result.length);
        if (shortIn) {
            p.urb->UrbHeader.Status = USBD_STATUS_ERROR_SHORT_TRANSFER;
        }
    }
    return true;
}

// Under the bus lock.
bool SimulatedUsbBus::TakeBulkFailure(const BusPipe& pipe, NTSTATUS* status)
{
    auto it = bulkFailures.find(pipe.endpointAddress);
    if (it == bulkFailures.end() || it->second.second == 0) {
        return false;
    }
    --it->second.second;
    *status = it->second.first;
    return true;
}

namespace {

struct Done
{
    PIRP irp;
    NTSTATUS status;
    USBD_STATUS usbdStatus;
    ULONG lastFrame;
};

// The list of a frame's completions keeps its room from frame to frame (a ten-minute stream is
// 600,000 frames). Per thread: a completion that runs the frame clock again takes a list of its
// own, and whichever finishes last leaves its room for the next frame.
std::vector<Done>& SpareDoneList()
{
    thread_local std::vector<Done> spare;
    return spare;
}

}  // namespace

std::vector<SimulatedUsbBus::HeldCompletion> SimulatedUsbBus::TakeHeldCompletions()
{
    std::vector<HeldCompletion> taken;
    KIRQL old;
    KeAcquireSpinLock(&lock, &old);
    taken.swap(heldCompletions);
    KeReleaseSpinLock(&lock, old);
    return taken;
}

void SimulatedUsbBus::OnFrame()
{
    std::vector<Done> done;
    done.swap(SpareDoneList());
    // A bulk or interrupt endpoint serves its transfers in the order they were queued: behind one
    // it NAKed this frame, the others of its pipe wait.
    std::set<uintptr_t> waitingPipes;
    KeAcquireSpinLockAtDpcLevel(&lock);
    const ULONG now = CurrentFrame();
    // One look-up per run of transfers on the same pipe: the map does not change in this loop.
    uintptr_t lastHandle = 0;
    auto pipe = pipes.end();
    for (auto it = pending.begin(); it != pending.end();) {
        if (it->pipe == 0) {
            ++it;  // a request the device does not answer
            continue;
        }
        // Told from the entry, not its URB: every frame walks every transfer queued, and most
        // isochronous ones are still to come (nothing to do, so no pipe to look up).
        const bool iso = it->frames != 0;
        const ULONG lastFrame = it->startFrame + it->frames - 1;
        if (iso && !FrameBefore(lastFrame, now)) {
            ++it;
            continue;
        }
        if (it->pipe != lastHandle) {
            lastHandle = it->pipe;
            pipe = pipes.find(it->pipe);
        }
        if (pipe == pipes.end()) {
            ++it;  // its pipe closed while it was being cancelled
            continue;
        }
        if (iso) {
            ExchangeDueIso(*it, pipe->second, now);
        }
        if ((iso && !FrameBefore(lastFrame + it->delay, now)) ||
            (!iso && waitingPipes.contains(it->pipe))) {
            ++it;
            continue;
        }
        if (IoSetCancelRoutine(it->irp, nullptr) == nullptr) {
            ++it;  // being cancelled
            continue;
        }
        Done d{it->irp, STATUS_SUCCESS, USBD_STATUS_SUCCESS, iso ? lastFrame : now};
        if (iso && it->delay != 0) {
            heldCompletions.push_back(
                {pipe->second.endpointAddress, it->startFrame, lastFrame, now});
        }
        if (iso) {
            if (it->exchangeFailed) {
                d.status = STATUS_UNSUCCESSFUL;
                d.usbdStatus = USBD_STATUS_ISOCH_REQUEST_FAILED;
            }
        } else if (TakeBulkFailure(pipe->second, &d.status)) {
            d.usbdStatus = USBD_STATUS_STALL_PID;
        } else if (!ExchangeBulk(*it, pipe->second)) {
            waitingPipes.insert(it->pipe);
            IoSetCancelRoutine(it->irp, &CancelPending);
            if (ReadUCharAcquire(&it->irp->Cancel) &&
                IoSetCancelRoutine(it->irp, nullptr) != nullptr) {
                done.push_back({it->irp, STATUS_CANCELLED, USBD_STATUS_CANCELED, now});
                it = pending.erase(it);
            } else {
                ++it;
            }
            continue;
        } else {
            d.usbdStatus = it->urb->UrbHeader.Status;
            d.status = USBD_SUCCESS(d.usbdStatus) ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
        }
        if (d.usbdStatus == USBD_STATUS_DEVICE_GONE) {
            d.status = STATUS_NO_SUCH_DEVICE;
        }
        done.push_back(d);
        it = pending.erase(it);
    }
    // Nothing left on the frame clock: it stops until the next transfer.
    if (std::none_of(pending.begin(), pending.end(),
                     [](const Pending& p) { return p.pipe != 0; })) {
        KeCancelTimer(&frameTimer);
        timerArmed = false;
    }
    KeReleaseSpinLockFromDpcLevel(&lock);
    // In the order their last frames passed; equal frames in submission order. A frame completes
    // a few transfers, mostly in order already: an insertion sort, stable like std::stable_sort
    // but without the scratch buffer that asks the heap on every frame.
    const auto earlier = [](const Done& a, const Done& b) {
        return FrameBefore(a.lastFrame, b.lastFrame);
    };
    for (auto it = done.begin(); it != done.end(); ++it) {
        std::rotate(std::upper_bound(done.begin(), it, *it, earlier), it, std::next(it));
    }
    for (const Done& d : done) {
        Complete(d.irp, d.status, d.usbdStatus);
    }
    done.clear();
    done.swap(SpareDoneList());
}

}  // namespace UsbSim
