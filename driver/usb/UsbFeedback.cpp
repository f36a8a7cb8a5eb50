// The explicit feedback endpoint: two transfers of one value each, taken as the device's rate
// when it lies within 96 to 105 % of the nominal one, and restarts when it keeps failing.
#include "usb/UsbIsoStreaming.h"
#include "usb/UsbPipeTable.h"

namespace {

constexpr ULONG kFeedbackSlots = 2;
constexpr LONG kFeedbackInterval = 7;  // frames between feedback transfers
constexpr ULONG kMaxRestartAttempts = 12;
constexpr ULONG kErrorsBeforeRestart = 10;
constexpr ULONG kErrorsClearingAttempts = 10000;
constexpr LONG kFramesBeforeRestart = 10;
constexpr LONG kSubmitChainLimit = 5;  // completions inside their own submissions
constexpr NTSTATUS kUsbdDeviceNotResponding = static_cast<NTSTATUS>(0xC0000005);

bool RetiresFeedback(NTSTATUS status)
{
    return status == STATUS_UNSUCCESSFUL || status == kUsbdDeviceNotResponding ||
           status == STATUS_NO_SUCH_DEVICE || status == STATUS_DEVICE_NOT_CONNECTED ||
           status == STATUS_CANCELLED || status == static_cast<NTSTATUS>(USBD_STATUS_DEVICE_GONE) ||
           status == static_cast<NTSTATUS>(USBD_STATUS_CANCELED);
}

}  // namespace

void UsbIsoStreaming::StartFeedbackPipe()
{
    if (feedbackErrors > kErrorsClearingAttempts) {
        restartAttempts = 0;
    }
    feedbackErrors = 0;
    UsbPipe* pipe = pipeTable.FindFeedbackPipe();
    if (pipe == nullptr) {
        return;
    }
    // Held at 1 while both transfers go out, so an early completion cannot signal "all done".
    pipe->outstanding = 1;
    KeClearEvent(&pipe->allDoneEvent);
    pipe->owner = this;
    pipe->nextFeedbackFrame = -1;
    pipe->feedbackInterval = kFeedbackInterval;
    for (ULONG s = 0; s < kFeedbackSlots; ++s) {
        slots[s].startFrame = static_cast<ULONG>(-1);
        pipe->completionCounters[s] = 0;
        pipe->inSubmit[s] = 0;
    }
    for (ULONG s = 0; s < kFeedbackSlots; ++s) {
        SubmitNewTransfer(pipe, s, -1, &FeedbackComplete, true);
    }
    ReleaseOutstanding(pipe);
}

void UsbIsoStreaming::BuildFeedbackUrb(IsoTransfer* transfer)
{
    auto& r = transfer->urb->UrbIsochronousTransfer;
    RtlZeroMemory(&r, sizeof(_URB_ISOCH_TRANSFER));
    r.Hdr.Length = sizeof(_URB_ISOCH_TRANSFER);
    r.Hdr.Function = URB_FUNCTION_ISOCH_TRANSFER;
    r.PipeHandle = transfer->pipe->pipeInformation.PipeHandle;
    r.NumberOfPackets = 1;
    r.TransferFlags = USBD_TRANSFER_DIRECTION_IN;
    // The value lands in the slot's eight-byte entry of the pipe record.
    r.TransferBuffer = &transfer->pipe->transferBuffers[transfer->slot];
    r.TransferBufferLength = sizeof(PVOID);
    if (transfer->startFrame == -1) {
        r.TransferFlags |= USBD_START_ISO_TRANSFER_ASAP;
        r.StartFrame = static_cast<ULONG>(-1);
    } else {
        r.StartFrame = static_cast<ULONG>(transfer->startFrame);
    }
}

// 10.14 samples per frame (3 bytes, full speed) or 16.16 samples per microframe (4 bytes, high
// speed). The fraction is always taken against the whole samples of the effective rate, so a
// device a little slow (47990 Hz) reads as 47 and 990 thousandths, not as a wrapped value.
bool UsbIsoStreaming::AcceptFeedback(const UCHAR* value, ULONG length)
{
    const ULONG raw = value[0] | static_cast<ULONG>(value[1]) << 8 |
                      static_cast<ULONG>(value[2]) << 16 |
                      (length == 4 ? static_cast<ULONG>(value[3]) << 24 : 0);
    const ULONGLONG rate = currentRate;
    if (length == 3) {
        const ULONGLONG whole = (raw >> 14) & 0x3FF;
        if (whole < rate * 96 / 100000 || whole > rate * 105 / 100000) {
            return false;
        }
        const ULONG thousandths = static_cast<ULONG>((raw & 0x3FFF) * 1000ULL >> 14);
        effectiveRate = static_cast<ULONG>(whole * 1000 + thousandths);
    } else {
        const ULONGLONG whole = raw >> 16;
        if (whole < rate * 96 / 800000 || whole > rate * 105 / 800000) {
            return false;
        }
        effectiveRate = static_cast<ULONG>(whole * 8000 + ((raw & 0xFFFF) * 8000ULL >> 16));
    }
    fraction = effectiveRate % 1000;
    return true;
}

NTSTATUS UsbIsoStreaming::FeedbackComplete(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    IsoTransfer* transfer = CountCompletion(irp, context);
    if (transfer == nullptr) {
        return STATUS_MORE_PROCESSING_REQUIRED;
    }
    UsbPipe* pipe = transfer->pipe;
    UsbIsoStreaming* self = pipe->owner;
    const ULONG slot = transfer->slot;
    auto& r = transfer->urb->UrbIsochronousTransfer;
    NTSTATUS status = irp->IoStatus.Status;
    if (NT_SUCCESS(status) && !USBD_SUCCESS(r.Hdr.Status)) {
        status = static_cast<NTSTATUS>(r.Hdr.Status);
    }
    if (NT_SUCCESS(status) && !USBD_SUCCESS(r.IsoPacket[0].Status)) {
        status = static_cast<NTSTATUS>(r.IsoPacket[0].Status);
    }
    bool retire = RetiresFeedback(status);
    if (pipe->inSubmit[slot] >= kSubmitChainLimit) {
        retire = true;
        self->RequestRestart();
    }
    const ULONG received = r.IsoPacket[0].Length;
    const bool accepted =
        NT_SUCCESS(status) && (received == 3 || received == 4) &&
        self->AcceptFeedback(static_cast<const UCHAR*>(r.TransferBuffer), received);
    if (accepted) {
        self->feedbackValid = 1;
        self->restartAttempts = 0;
        self->feedbackErrors = 0;
        pipe->nextFeedbackFrame = pipe->nextFeedbackFrame == -1
                                      ? static_cast<LONG>(r.StartFrame) + pipe->feedbackInterval
                                      : pipe->nextFeedbackFrame + pipe->feedbackInterval;
    } else if (self->streaming && !retire) {
        self->CountFeedbackError(pipe, status, r.StartFrame);
    }
    self->ReplaceTransfer(transfer, self->streaming && !retire, pipe->nextFeedbackFrame,
                          &FeedbackComplete, true);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

// A value rejected (or a transfer failed) while streaming: the next transfer keeps its place in
// the schedule when there is one; without one, a run of failures or a start that never got a
// value asks for a restart, at most 12 times until a start follows more than 10000 errors.
void UsbIsoStreaming::CountFeedbackError(UsbPipe* pipe, NTSTATUS status, ULONG startFrame)
{
    ++feedbackErrors;
    if (pipe->nextFeedbackFrame != -1) {
        pipe->nextFeedbackFrame += pipe->feedbackInterval;
        return;
    }
    if (noFeedbackRestart) {
        return;
    }
    const bool failing = !NT_SUCCESS(status) && feedbackErrors > kErrorsBeforeRestart;
    const bool late = firstStartFrame != 0 &&
                      static_cast<LONG>(startFrame - firstStartFrame) > kFramesBeforeRestart;
    if (!failing && !late) {
        return;
    }
    feedbackValid = 0;
    if (restartAttempts < kMaxRestartAttempts) {
        ++restartAttempts;
        RequestRestart();
    } else if (restartAttempts == kMaxRestartAttempts) {
        restartAttempts = kMaxRestartAttempts + 1;
    }
}
