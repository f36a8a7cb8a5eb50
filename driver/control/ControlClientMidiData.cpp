// The private MIDI ports' data: reads from a port's FIFO (pending until a message comes), writes
// from user buffers that stay locked until sent, and the router's calls back.
#include "ControlClient.h"
#include "ControlClientParts.h"
#include "audio/DriverResult.h"
#include "common/InStackLock.h"
#include "ks/PinStream.h"
#include "midi/MidiRouter.h"

namespace {

// A pending read keeps its locked buffer, its length and where its result goes in the request.
constexpr int kReadMdlSlot = 0;
constexpr int kReadLengthSlot = 1;
constexpr int kReadResultSlot = 2;

}  // namespace

// ---- Reads --------------------------------------------------------------------------------------

// Under the port's lock. False when the buffer could not be mapped or the FIFO failed; a message
// that does not fit stays in the FIFO and answers 0 bytes.
bool ControlClient::ReadOneMessage(MidiReader* reader, PMDL mdl, ULONG length,
                                   ControlMidiReadResult* result)
{
    *result = {};
    auto* buffer = static_cast<UCHAR*>(MmGetSystemAddressForMdlSafe(mdl, NormalPagePriority));
    if (buffer == nullptr) {
        return false;
    }
    LONGLONG time = 0;
    ULONG whole = 0;
    const LONG copied = ReaderGet(reader, &time, buffer, length, &whole);
    if (copied == E_INVALIDARG) {
        return true;  // too long for this buffer: it waits for a larger one
    }
    if (copied < 0) {
        return false;
    }
    result->time = static_cast<ULONGLONG>(time);
    result->bytes = static_cast<ULONG>(copied);
    result->kind = whole != 0 ? 1 : 0;
    return true;
}

void ControlClient::FinishRead(PIRP irp, PMDL mdl, NTSTATUS status, ULONG_PTR information)
{
    if (mdl != nullptr) {
        MmUnlockPages(mdl);
        IoFreeMdl(mdl);
    }
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

// Once the cancellation began nobody else can take the request off its queue: its buffer is
// this routine's to release.
void ControlClient::CancelPendingRead(PDEVICE_OBJECT device, PIRP irp)
{
    auto* mdl = static_cast<PMDL>(irp->Tail.Overlay.DriverContext[kReadMdlSlot]);
    irp->Tail.Overlay.DriverContext[kReadMdlSlot] = nullptr;
    if (mdl != nullptr) {
        MmUnlockPages(mdl);
        IoFreeMdl(mdl);
    }
    KsCancelRoutine(device, irp);
}

// Looks without acquiring: an acquired read loses its cancel routine until released, and
// meanwhile a message, the port's close and a cancel would all pass it by. A read whose
// cancellation has begun still counts until its routine takes it off.
bool ControlClient::HasPendingRead(InputPort* port)
{
    InStackLock queue(&port->queueLock);
    return port->reads.Flink != &port->reads;
}

NTSTATUS ControlClient::ReadMidi(PIRP request, ULONG n, PVOID pointer, ULONG length,
                                 ControlMidiReadResult* result)
{
    if (n >= kControlMidiPorts || pointer == nullptr || length == 0 || result == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    *result = {};
    length = length < kControlMidiReadLimit ? length : kControlMidiReadLimit;
    MutexHold hold(&midiMutex);
    ApplyPendingTableChange();
    InputPort& port = inputPorts[n];
    if (port.reader == nullptr || HasPendingRead(&port)) {
        return STATUS_UNSUCCESSFUL;
    }
    PMDL mdl = IoAllocateMdl(pointer, length, FALSE, FALSE, nullptr);
    if (mdl == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    if (!NT_SUCCESS(MmProbeAndLockPages(mdl, request->RequestorMode, IoWriteAccess))) {
        IoFreeMdl(mdl);
        return STATUS_UNSUCCESSFUL;
    }
    bool read = false;
    {
        InStackLock state(&port.lock);
        if (FifoHasData(&port.reader->fifo)) {
            read = ReadOneMessage(port.reader, mdl, length, result);
        } else {
            request->Tail.Overlay.DriverContext[kReadMdlSlot] = mdl;
            request->Tail.Overlay.DriverContext[kReadLengthSlot] =
                reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(length));
            request->Tail.Overlay.DriverContext[kReadResultSlot] = result;
            IoMarkIrpPending(request);
            KsAddIrpToCancelableQueue(&port.reads, &port.queueLock, request, KsListEntryTail,
                                      &ControlClient::CancelPendingRead);
            return STATUS_PENDING;
        }
    }
    MmUnlockPages(mdl);
    IoFreeMdl(mdl);
    return read ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

// A message arrived on an input port whose FIFO was empty (under the router's list lock).
void ControlClient::OnInputData(MidiReader* reader)
{
    SignalMidiEvent();
    for (InputPort& port : inputPorts) {
        PIRP pending = nullptr;
        ControlMidiReadResult result{};
        {
            InStackLock state(&port.lock);
            if (port.reader != reader) {
                continue;
            }
            pending = KsRemoveIrpFromCancelableQueue(&port.reads, &port.queueLock, KsListEntryHead,
                                                     KsAcquireAndRemove);
            if (pending == nullptr) {
                return;
            }
            auto* mdl = static_cast<PMDL>(pending->Tail.Overlay.DriverContext[kReadMdlSlot]);
            const auto length = static_cast<ULONG>(
                reinterpret_cast<ULONG_PTR>(pending->Tail.Overlay.DriverContext[kReadLengthSlot]));
            ReadOneMessage(reader, mdl, length, &result);  // a failure answers 0 bytes
        }
        auto* destination = static_cast<ControlMidiReadResult*>(
            pending->Tail.Overlay.DriverContext[kReadResultSlot]);
        *destination = result;
        FinishRead(pending, static_cast<PMDL>(pending->Tail.Overlay.DriverContext[kReadMdlSlot]),
                   STATUS_SUCCESS, sizeof(ControlMidiReadResult));
        return;
    }
}

LONG ControlClient::Deliver(MidiReader*, LONGLONG, const UCHAR*, ULONG, bool)
{
    // Private ports always take their input through the FIFO.
    return AcceptsInput() ? 1 : 0;
}

void ControlClient::DataAvailable(MidiReader* client)
{
    OnInputData(client);
}

// ---- Writes -------------------------------------------------------------------------------------

// The inverted first byte tells user mode that the buffer is free again.
void ControlClient::ReleaseSlotBuffer(UserBuffer buffer, bool invert)
{
    if (buffer.mdl == nullptr) {
        return;
    }
    if (invert && buffer.address != nullptr && buffer.mdl->ByteCount >= 1) {
        auto* first = static_cast<UCHAR*>(buffer.address);
        *first = static_cast<UCHAR>(~*first);
    }
    MmUnlockPages(buffer.mdl);
    IoFreeMdl(buffer.mdl);
}

NTSTATUS ControlClient::WriteMidi(ULONG n, PVOID pointer, ULONG length,
                                  KPROCESSOR_MODE requestorMode)
{
    if (n >= kControlMidiPorts || pointer == nullptr || length == 0) {
        return STATUS_UNSUCCESSFUL;
    }
    MutexHold hold(&midiMutex);
    ApplyPendingTableChange();
    OutputPort& port = outputPorts[n];
    LONG slot = -1;
    {
        InStackLock slots(&port.lock);
        for (LONG i = kControlMidiWriteSlots - 1; i >= 0 && port.writer != nullptr; --i) {
            if (port.slots[i].mdl == nullptr) {
                slot = i;
                break;
            }
        }
    }
    if (slot < 0) {
        return STATUS_UNSUCCESSFUL;
    }
    const LONGLONG time = static_cast<LONGLONG>(Now100ns());
    UserBuffer buffer{};
    buffer.mdl = IoAllocateMdl(pointer, length, FALSE, FALSE, nullptr);
    if (buffer.mdl == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    if (!NT_SUCCESS(MmProbeAndLockPages(buffer.mdl, requestorMode, IoModifyAccess))) {
        IoFreeMdl(buffer.mdl);
        return STATUS_UNSUCCESSFUL;
    }
    buffer.address = MmGetSystemAddressForMdlSafe(buffer.mdl, NormalPagePriority);
    if (buffer.address == nullptr) {
        ReleaseSlotBuffer(buffer, false);
        return STATUS_UNSUCCESSFUL;
    }
    {
        // Only writers (under the MIDI mutex) fill slots: the one found is still free.
        InStackLock slots(&port.lock);
        port.slots[slot] = buffer;
    }
    const LONG answer =
        SubmitMidiPort(port.writer, time, static_cast<const UCHAR*>(buffer.address), length);
    if (answer == 1) {
        return STATUS_SUCCESS;  // the sender keeps it until OnOutputDone
    }
    {
        InStackLock slots(&port.lock);
        port.slots[slot] = {};
    }
    ReleaseSlotBuffer(buffer, true);
    return answer < 0 ? STATUS_UNSUCCESSFUL : STATUS_SUCCESS;
}

// The sender no longer needs a buffer (router's list lock held, up to DISPATCH_LEVEL).
void ControlClient::OnOutputDone(MidiWriter* writer, const UCHAR* address)
{
    for (OutputPort& port : outputPorts) {
        UserBuffer taken{};
        {
            InStackLock slots(&port.lock);
            if (port.writer != writer) {
                continue;
            }
            for (UserBuffer& slot : port.slots) {
                if (slot.mdl != nullptr && slot.address == address) {
                    taken = slot;
                    slot = {};
                    break;
                }
            }
        }
        if (taken.mdl != nullptr) {
            auto* first = static_cast<UCHAR*>(taken.address);
            *first = static_cast<UCHAR>(~*first);
            SignalMidiEvent();
            ReleaseSlotBuffer(taken, false);
        }
        return;
    }
}

void ControlClient::BufferDone(MidiWriter* client, const UCHAR* buffer)
{
    OnOutputDone(client, buffer);
}
