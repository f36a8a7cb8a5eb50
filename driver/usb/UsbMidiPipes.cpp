#include "usb/UsbMidiPipes.h"

#include "midi/MidiOutTransfer.h"
#include "usb/UsbIsoStreaming.h"
#include "usb/UsbPipe.h"
#include "usb/UsbPipeTable.h"
#include "usb/UsbRequestChannel.h"

namespace {

constexpr ULONG kTransferFlagsIn = USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK;

LARGE_INTEGER RelativeMs(ULONG milliseconds)
{
    LARGE_INTEGER timeout;
    timeout.QuadPart = -static_cast<LONGLONG>(milliseconds) * 10000;
    return timeout;
}

bool IsMidiTransferPipe(const UsbPipe* pipe)
{
    const USBD_PIPE_TYPE type = pipe->pipeInformation.PipeType;
    return pipe->format.isMidi && (type == UsbdPipeTypeBulk || type == UsbdPipeTypeInterrupt);
}

// Holds the cancel lock unless the current thread is the one cancelling (which holds it already:
// a cancelled read may complete on the cancelling thread).
class CancelLockHold
{
public:
    CancelLockHold(KSPIN_LOCK* spinLock, PKTHREAD owner)
        : lock(owner == KeGetCurrentThread() ? nullptr : spinLock)
    {
        if (lock != nullptr) {
            KeAcquireSpinLock(lock, &oldIrql);
        }
    }
    ~CancelLockHold()
    {
        if (lock != nullptr) {
            KeReleaseSpinLock(lock, oldIrql);
        }
    }
    CancelLockHold(const CancelLockHold&) = delete;
    CancelLockHold& operator=(const CancelLockHold&) = delete;

private:
    KSPIN_LOCK* lock;
    KIRQL oldIrql = PASSIVE_LEVEL;
};

}  // namespace

UsbMidiPipes::UsbMidiPipes(UsbRequestChannel& requestChannel, UsbPipeTable& table,
                           UsbIsoStreaming& isoStreaming)
    : requests(requestChannel), pipeTable(table), streaming(isoStreaming)
{
    KeInitializeSpinLock(&cancelLock);
}

PDEVICE_OBJECT UsbMidiPipes::LowerDevice() const
{
    return requests.LowerDevice();
}

void UsbMidiPipes::SetMidiInput(MidiInput* midiInput)
{
    WritePointerRelease(&input, midiInput);
}

// The MIDI pipes of the table as it stands; an endpoint that cannot carry one event packet is
// not used.
void UsbMidiPipes::CollectPipes()
{
    pipeCount = 0;
    outPipe = nullptr;
    UsbPipe* pipe = nullptr;
    ULONG index = 0;
    while (pipeTable.NextPipe(&pipe, &index) && pipeCount < kMaxMidiPipes) {
        const ULONG size = pipe->pipeInformation.MaximumPacketSize;
        if (!IsMidiTransferPipe(pipe) || !IsUsableMidiPacketSize(size)) {
            continue;
        }
        MidiPipeState* state = &pipes[pipeCount++];
        RtlZeroMemory(state, sizeof(*state));
        state->handle = pipe->pipeInformation.PipeHandle;
        state->type = pipe->pipeInformation.PipeType;
        state->maximumPacketSize = size;
        state->isIn = USB_ENDPOINT_DIRECTION_IN(pipe->pipeInformation.EndpointAddress) ? 1 : 0;
        state->owner = this;
        KeInitializeEvent(&state->idle, NotificationEvent, TRUE);
        if (!state->isIn) {
            outPipe = state;
        }
    }
}

NTSTATUS UsbMidiPipes::StartMidiPipes()
{
    if (MidiPipesStarted()) {
        return STATUS_SUCCESS;
    }
    CollectPipes();
    WriteUCharRelease(&stopping, 0);
    NTSTATUS result = STATUS_SUCCESS;
    for (ULONG i = 0; i < pipeCount; ++i) {
        MidiPipeState* state = &pipes[i];
        if (state->isIn) {
            streaming.PipeRequest(state->handle, false);
            const NTSTATUS status = StartMidiReads(state, kMidiReadsPerPipe);
            result = NT_SUCCESS(status) ? result : status;
        } else {
            KeSetEvent(&state->idle, IO_NO_INCREMENT, FALSE);
        }
    }
    if (KeGetCurrentIrql() == PASSIVE_LEVEL) {
        LARGE_INTEGER settle = RelativeMs(kMidiStartSettleMs);
        KeDelayExecutionThread(KernelMode, FALSE, &settle);
    }
    WriteUCharRelease(&started, 1);
    return result;
}

NTSTATUS UsbMidiPipes::StartMidiReads(MidiPipeState* state, ULONG count)
{
    state->outstanding = 1;  // the start guard: the idle event stays clear until it is dropped
    KeClearEvent(&state->idle);
    NTSTATUS result = STATUS_SUCCESS;
    for (ULONG i = 0; i < count && i < kMidiReadsPerPipe; ++i) {
        MidiTransfer* transfer = AllocateMidiTransfer(state);
        if (transfer == nullptr) {
            result = STATUS_INSUFFICIENT_RESOURCES;
            break;
        }
        state->reads[i] = transfer;
        if (!SubmitNewRead(transfer)) {
            result = STATUS_DELETE_PENDING;
            break;
        }
    }
    ReleaseOutstanding(&state->outstanding, &state->idle);
    return result;
}

// Holds a remove-lock reference for the read's life; false when none could be had (the read
// stays unsent, its IRP freed).
bool UsbMidiPipes::SubmitNewRead(MidiTransfer* transfer)
{
    if (!TryAcquireRemoveLock(requests.Context())) {
        IoFreeIrp(transfer->irp);
        transfer->irp = nullptr;
        return false;
    }
    InterlockedIncrement(&transfer->pipe->outstanding);
    PIRP irp = transfer->irp;
    {
        CancelLockHold hold(&cancelLock, static_cast<PKTHREAD>(ReadPointerAcquire(&cancelOwner)));
        PrepareRead(transfer);
    }
    IofCallDriver(LowerDevice(), irp);
    return true;
}

// Under the cancel lock: the read's URB and IRP ready to go (again).
void UsbMidiPipes::PrepareRead(MidiTransfer* transfer)
{
    BuildBulkUrb(transfer, transfer->pipe->maximumPacketSize, true);
    PIRP irp = transfer->irp;
    IoReuseIrp(irp, STATUS_SUCCESS);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Others.Argument1 = transfer->urb;
    IoSetCompletionRoutine(irp, MidiReadComplete, transfer, TRUE, TRUE, TRUE);
}

void UsbMidiPipes::BuildBulkUrb(MidiTransfer* transfer, ULONG length, bool in)
{
    RtlZeroMemory(transfer->urb, kMidiUrbBytes);
    auto& bulk = transfer->urb->UrbBulkOrInterruptTransfer;
    bulk.Hdr.Length = sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER);
    bulk.Hdr.Function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;
    bulk.PipeHandle = transfer->pipe->handle;
    bulk.TransferFlags = in ? kTransferFlagsIn : 0;
    bulk.TransferBufferLength = length;
    bulk.TransferBuffer = transfer->buffer;
}

// Only a read that completed successfully is delivered, and only it goes back to the bus: any
// failure retires the read (resubmitting a stalled or broken pipe's read would spin for ever).
NTSTATUS UsbMidiPipes::MidiReadComplete(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    auto* transfer = static_cast<MidiTransfer*>(context);
    MidiPipeState* state = transfer->pipe;
    UsbMidiPipes* self = state->owner;
    const auto& bulk = transfer->urb->UrbBulkOrInterruptTransfer;
    const NTSTATUS status = irp->IoStatus.Status;
    const bool succeeded = NT_SUCCESS(status) && USBD_SUCCESS(bulk.Hdr.Status);
    if (succeeded) {
        const ULONG length = bulk.TransferBufferLength < state->maximumPacketSize
                                 ? bulk.TransferBufferLength
                                 : state->maximumPacketSize;
        auto* target = static_cast<MidiInput*>(ReadPointerAcquire(&self->input));
        if (target != nullptr && length != 0) {
            target->OnMidiInPacket(transfer->buffer, length);
        }
    }
    bool resubmit = false;
    {
        CancelLockHold hold(&self->cancelLock,
                            static_cast<PKTHREAD>(ReadPointerAcquire(&self->cancelOwner)));
        if (succeeded && ReadUCharAcquire(&self->stopping) == 0) {
            self->PrepareRead(transfer);
            resubmit = true;
        } else {
            transfer->irp = nullptr;
        }
    }
    if (resubmit) {
        IofCallDriver(self->LowerDevice(), irp);
        return STATUS_MORE_PROCESSING_REQUIRED;
    }
    if (!succeeded && ReadUCharAcquire(&self->stopping) == 0) {
        WriteRelease(&self->lastReadFailure, NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status);
        InterlockedIncrement(&self->failedReads);
    }
    self->RetireRead(transfer, irp);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

// The transfer object itself stays for StopMidiReads; once the count drops, the stopping thread
// may free it, so nothing of it is touched after.
void UsbMidiPipes::RetireRead(MidiTransfer* transfer, PIRP irp)
{
    MidiPipeState* state = transfer->pipe;
    DeviceContext* context = requests.Context();
    IoFreeIrp(irp);
    ReleaseOutstanding(&state->outstanding, &state->idle);
    ReleaseRemoveLock(context);
}

void UsbMidiPipes::ReleaseOutstanding(volatile LONG* counter, PKEVENT idle)
{
    if (InterlockedDecrement(counter) == 0) {
        KeSetEvent(idle, IO_NO_INCREMENT, FALSE);
    }
}

bool UsbMidiPipes::WaitIdle(MidiPipeState* state, ULONG milliseconds)
{
    LARGE_INTEGER timeout = RelativeMs(milliseconds);
    return KeWaitForSingleObject(&state->idle, Executive, KernelMode, FALSE, &timeout) !=
           STATUS_TIMEOUT;
}

void UsbMidiPipes::StopMidiPipes()
{
    if (!MidiPipesStarted()) {
        return;
    }
    WriteUCharRelease(&stopping, 1);
    for (ULONG i = 0; i < pipeCount; ++i) {
        if (pipes[i].isIn) {
            StopMidiReads(&pipes[i]);
        }
    }
    if (pendingTransfer != nullptr) {
        FreeMidiTransfer(pendingTransfer);  // collected, never sent
        pendingTransfer = nullptr;
    }
    for (ULONG i = 0; i < pipeCount; ++i) {
        if (!pipes[i].isIn) {
            WaitOutIdle(&pipes[i]);
        }
    }
    outPipe = nullptr;
    WriteUCharRelease(&started, 0);
}

void UsbMidiPipes::StopMidiReads(MidiPipeState* state)
{
    WritePointerRelease(&cancelOwner, KeGetCurrentThread());
    {
        KIRQL old;
        KeAcquireSpinLock(&cancelLock, &old);
        for (MidiTransfer* transfer : state->reads) {
            if (transfer != nullptr && transfer->irp != nullptr) {
                IoCancelIrp(transfer->irp);
            }
        }
        KeReleaseSpinLock(&cancelLock, old);
    }
    WritePointerRelease(&cancelOwner, nullptr);
    const bool idle = WaitIdle(state, kMidiCancelWaitMs);
    for (MidiTransfer*& transfer : state->reads) {
        // A read the bus never gave back keeps its memory: the bus may still write into it.
        if (transfer != nullptr && idle) {
            FreeMidiTransfer(transfer);
        }
        transfer = nullptr;
    }
}

void UsbMidiPipes::WaitOutIdle(MidiPipeState* state)
{
    if (WaitIdle(state, kMidiOutIdleWaitMs)) {
        return;
    }
    streaming.PipeRequest(state->handle, false);
    WaitIdle(state, kMidiOutIdleWaitMs);
}

LONG UsbMidiPipes::ReadsInFlight() const
{
    LONG reads = 0;
    for (ULONG i = 0; i < pipeCount; ++i) {
        reads += pipes[i].isIn ? ReadAcquire(&pipes[i].outstanding) : 0;
    }
    return reads;
}

// ---- OUT ---------------------------------------------------------------------------------------

LONG UsbMidiPipes::PutMidiOutPacket(const UsbMidiPacket* packet, ULONG port)
{
    if (!MidiPipesStarted() || outPipe == nullptr || port >= kUsbMidiCables) {
        return STATUS_UNSUCCESSFUL;
    }
    if (pendingTransfer == nullptr) {
        pendingTransfer = AllocateMidiTransfer(outPipe);
        if (pendingTransfer == nullptr) {
            return STATUS_INSUFFICIENT_RESOURCES;
        }
    }
    MidiOutTransfer view{pendingTransfer->buffer, outPipe->maximumPacketSize,
                         pendingTransfer->byteCount};
    const bool full = AppendMidiOutPacket(&view, packet, port);
    pendingTransfer->byteCount = view.byteCount;
    if (!full) {
        return 0;
    }
    const NTSTATUS status = SendPendingTransfer();
    return NT_SUCCESS(status) ? 1 : status;
}

ULONG UsbMidiPipes::PendingOutTransfers()
{
    MidiPipeState* state = outPipe;
    return state != nullptr ? static_cast<ULONG>(ReadAcquire(&state->pendingOut)) : 0;
}

bool UsbMidiPipes::CanTakeMidiOutPacket()
{
    if (!MidiPipesStarted() || outPipe == nullptr) {
        return true;  // refused at once, as nowhere to go
    }
    if (pendingTransfer == nullptr) {
        pendingTransfer = AllocateMidiTransfer(outPipe);
    }
    return pendingTransfer != nullptr;
}

void UsbMidiPipes::FlushMidiOut()
{
    SendPendingTransfer();
}

// The pending transfer is forgotten whatever becomes of it.
NTSTATUS UsbMidiPipes::SendPendingTransfer()
{
    MidiTransfer* transfer = pendingTransfer;
    pendingTransfer = nullptr;
    if (transfer == nullptr) {
        return STATUS_SUCCESS;
    }
    MidiPipeState* state = transfer->pipe;
    if (transfer->byteCount == 0) {
        FreeMidiTransfer(transfer);
        return STATUS_SUCCESS;
    }
    // The IRP came with the transfer: what was collected is never lost for want of one.
    if (!TryAcquireRemoveLock(requests.Context())) {
        InterlockedIncrement(&failedWrites);
        FreeMidiTransfer(transfer);
        return STATUS_DELETE_PENDING;
    }
    BuildBulkUrb(transfer, transfer->byteCount, false);
    KeClearEvent(&state->idle);
    InterlockedIncrement(&state->pendingOut);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(transfer->irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Others.Argument1 = transfer->urb;
    IoSetCompletionRoutine(transfer->irp, MidiWriteComplete, transfer, TRUE, TRUE, TRUE);
    IofCallDriver(LowerDevice(), transfer->irp);
    return STATUS_SUCCESS;
}

NTSTATUS UsbMidiPipes::MidiWriteComplete(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    auto* transfer = static_cast<MidiTransfer*>(context);
    MidiPipeState* state = transfer->pipe;
    UsbMidiPipes* self = state->owner;
    DeviceContext* deviceContext = self->requests.Context();
    if (!NT_SUCCESS(irp->IoStatus.Status)) {
        InterlockedIncrement(&self->failedWrites);
    }
    KeSetEvent(&transfer->completion, IO_NO_INCREMENT, FALSE);
    FreeMidiTransfer(transfer);
    ReleaseOutstanding(&state->pendingOut, &state->idle);
    ReleaseRemoveLock(deviceContext);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

// ---- Transfer objects --------------------------------------------------------------------------

MidiTransfer* UsbMidiPipes::AllocateMidiTransfer(MidiPipeState* state)
{
    auto* transfer = static_cast<MidiTransfer*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(MidiTransfer), kTagTrOb));
    if (transfer == nullptr) {
        return nullptr;
    }
    RtlZeroMemory(transfer, sizeof(*transfer));
    transfer->pipe = state;
    KeInitializeEvent(&transfer->completion, NotificationEvent, FALSE);
    transfer->urb =
        static_cast<PURB>(ExAllocatePoolWithTag(NonPagedPoolNx, kMidiUrbBytes, kTagUrb));
    transfer->buffer = static_cast<PUCHAR>(
        ExAllocatePoolWithTag(NonPagedPoolNx, state->maximumPacketSize, kTagData));
    transfer->irp = IoAllocateIrp(static_cast<CCHAR>(LowerDevice()->StackSize + 1), FALSE);
    if (transfer->urb == nullptr || transfer->buffer == nullptr || transfer->irp == nullptr) {
        FreeMidiTransfer(transfer);
        return nullptr;
    }
    RtlZeroMemory(transfer->buffer, state->maximumPacketSize);
    return transfer;
}

void UsbMidiPipes::FreeMidiTransfer(MidiTransfer* transfer)
{
    if (transfer->irp != nullptr) {
        IoFreeIrp(transfer->irp);
    }
    if (transfer->urb != nullptr) {
        ExFreePoolWithTag(transfer->urb, kTagUrb);
    }
    if (transfer->buffer != nullptr) {
        ExFreePoolWithTag(transfer->buffer, kTagData);
    }
    ExFreePoolWithTag(transfer, kTagTrOb);
}
