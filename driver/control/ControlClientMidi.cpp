// The private MIDI ports: the port table copy, opening and closing by number, the MIDI event,
// port-table changes and teardown.
#include "ControlClient.h"
#include "ControlClientParts.h"
#include "common/InStackLock.h"
#include "device/DeviceLifecycle.h"
#include "midi/MidiRouter.h"

// ---- The port table -----------------------------------------------------------------------------

void ControlClient::LoadPortTable()
{
    if (portTable.index == kNoGeneration && context != nullptr && context->midiRouter != nullptr) {
        context->midiRouter->CopyPortTable(&portTable);
    }
}

ULONG ControlClient::CountPrivatePorts(bool output) const
{
    const ULONG count = output ? portTable.outputPortCount : portTable.inputPortCount;
    const ULONG* ids = output ? portTable.outputPortIds : portTable.inputPortIds;
    ULONG found = 0;
    for (ULONG i = 0; ids != nullptr && i < count; ++i) {
        if (static_cast<LONG>(ids[i]) < 0) {
            ++found;
            if (!output && found == kControlMidiPorts) {
                break;
            }
        }
    }
    return found;
}

LONG ControlClient::FindPrivatePort(bool output, ULONG n) const
{
    const ULONG count = output ? portTable.outputPortCount : portTable.inputPortCount;
    const ULONG* ids = output ? portTable.outputPortIds : portTable.inputPortIds;
    ULONG seen = 0;
    for (ULONG i = 0; ids != nullptr && i < count; ++i) {
        if (static_cast<LONG>(ids[i]) < 0) {
            if (seen == n) {
                return static_cast<LONG>(i);
            }
            ++seen;
        }
    }
    return -1;
}

ULONG ControlClient::GetOutputPortCount()
{
    MutexHold hold(&midiMutex);
    ApplyPendingTableChange();
    LoadPortTable();
    return CountPrivatePorts(true);
}

ULONG ControlClient::GetInputPortCount()
{
    MutexHold hold(&midiMutex);
    ApplyPendingTableChange();
    LoadPortTable();
    return CountPrivatePorts(false);
}

// The router tells of a new table under its own locks, where no port can be closed: the ports
// are closed by a work item, or by the next MIDI operation, whichever comes first.
void ControlClient::NotePortTableChange()
{
    if (tableWork != nullptr && InterlockedExchange(&tableWorkQueued, 1) == 0) {
        InterlockedIncrement(&tableWorkOutstanding);
        KeClearEvent(&tableWorkIdle);
        IoQueueWorkItem(tableWork, &ControlClient::PortTableWork, DelayedWorkQueue, this);
    }
}

void ControlClient::PortTableWork(PDEVICE_OBJECT, PVOID context)
{
    auto* client = static_cast<ControlClient*>(context);
    InterlockedExchange(&client->tableWorkQueued, 0);
    {
        MutexHold hold(&client->midiMutex);
        client->ApplyPendingTableChange();
    }
    if (InterlockedDecrement(&client->tableWorkOutstanding) == 0) {
        KeSetEvent(&client->tableWorkIdle, IO_NO_INCREMENT, FALSE);
    }
}

// Under the MIDI mutex. The router tells only open clients of a new table (a port that never
// sent is not open): the generation is compared at every operation as well.
void ControlClient::ApplyPendingTableChange()
{
    if (portTable.index == kNoGeneration || context == nullptr || context->midiRouter == nullptr ||
        context->midiRouter->Generation() == portTable.index) {
        return;
    }
    CloseAllLocked();
    portTable.index = kNoGeneration;
    LoadPortTable();
}

ULONG ControlClient::OnPortTableChanged(ULONG generation)
{
    if (generation != portTable.index) {
        NotePortTableChange();
    }
    return portTable.index;
}

void ControlClient::PortTableChanged(MidiReader*, ULONG generation)
{
    OnPortTableChanged(generation);
}

void ControlClient::PortTableChanged(MidiWriter*, ULONG generation)
{
    OnPortTableChanged(generation);
}

// ---- Opening and closing ------------------------------------------------------------------------

NTSTATUS ControlClient::OpenOutputPort(ULONG n)
{
    if (n >= kControlMidiPorts) {
        return STATUS_UNSUCCESSFUL;
    }
    MutexHold hold(&midiMutex);
    ApplyPendingTableChange();
    LoadPortTable();
    OutputPort& port = outputPorts[n];
    if (n >= CountPrivatePorts(true) || port.writer != nullptr || context == nullptr ||
        context->midiRouter == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    const LONG position = FindPrivatePort(true, n);
    if (position < 0) {
        return STATUS_UNSUCCESSFUL;
    }
    MidiWriter* writer = context->midiRouter->RegisterWriter(this, static_cast<ULONG>(position));
    if (writer == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    InStackLock slots(&port.lock);
    port.writer = writer;
    return STATUS_SUCCESS;
}

NTSTATUS ControlClient::OpenInputPort(ULONG n)
{
    if (n >= kControlMidiPorts) {
        return STATUS_UNSUCCESSFUL;
    }
    MutexHold hold(&midiMutex);
    ApplyPendingTableChange();
    LoadPortTable();
    InputPort& port = inputPorts[n];
    if (n >= CountPrivatePorts(false) || port.reader != nullptr || context == nullptr ||
        context->midiRouter == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    const LONG position = FindPrivatePort(false, n);
    if (position < 0) {
        return STATUS_UNSUCCESSFUL;
    }
    MidiReader* reader = context->midiRouter->RegisterReader(this, static_cast<ULONG>(position));
    if (reader == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    {
        InStackLock state(&port.lock);
        port.reader = reader;
    }
    context->midiRouter->SetClientOpen(reader, true);
    return STATUS_SUCCESS;
}

// Under the MIDI mutex. The writer stays in place while the router flushes it, so buffers the
// codec gives back meanwhile find their slots; whatever is left is given back here.
void ControlClient::CloseOutputLocked(ULONG n)
{
    OutputPort& port = outputPorts[n];
    MidiWriter* writer = port.writer;
    if (writer == nullptr) {
        return;
    }
    context->midiRouter->UnregisterWriter(writer);
    UserBuffer left[kControlMidiWriteSlots] = {};
    {
        InStackLock slots(&port.lock);
        port.writer = nullptr;
        for (ULONG i = 0; i < kControlMidiWriteSlots; ++i) {
            left[i] = port.slots[i];
            port.slots[i] = {};
        }
    }
    for (const UserBuffer& buffer : left) {
        ReleaseSlotBuffer(buffer, true);
    }
}

// Under the MIDI mutex. A pending read ends with success and no data.
void ControlClient::CloseInputLocked(ULONG n)
{
    InputPort& port = inputPorts[n];
    MidiReader* reader = nullptr;
    {
        InStackLock state(&port.lock);
        reader = port.reader;
        port.reader = nullptr;
    }
    if (reader == nullptr) {
        return;
    }
    context->midiRouter->UnregisterReader(reader);
    PIRP pending = KsRemoveIrpFromCancelableQueue(&port.reads, &port.queueLock, KsListEntryHead,
                                                  KsAcquireAndRemove);
    if (pending != nullptr) {
        FinishRead(pending, static_cast<PMDL>(pending->Tail.Overlay.DriverContext[0]),
                   STATUS_SUCCESS, 0);
    }
}

void ControlClient::CloseAllLocked()
{
    for (ULONG n = 0; n < kControlMidiPorts; ++n) {
        CloseInputLocked(n);
    }
    for (ULONG n = 0; n < kControlMidiPorts; ++n) {
        CloseOutputLocked(n);
    }
}

NTSTATUS ControlClient::CloseOutputPort(ULONG n)
{
    if (n < kControlMidiPorts) {
        MutexHold hold(&midiMutex);
        CloseOutputLocked(n);
    }
    return STATUS_SUCCESS;
}

NTSTATUS ControlClient::CloseInputPort(ULONG n)
{
    if (n < kControlMidiPorts) {
        MutexHold hold(&midiMutex);
        CloseInputLocked(n);
    }
    return STATUS_SUCCESS;
}

NTSTATUS ControlClient::CloseAllPorts()
{
    MutexHold hold(&midiMutex);
    CloseAllLocked();
    return STATUS_SUCCESS;
}

ULONG ControlClient::GetOpenOutputMask()
{
    MutexHold hold(&midiMutex);
    ApplyPendingTableChange();
    ULONG mask = 0;
    for (ULONG n = 0; n < kControlMidiPorts; ++n) {
        mask |= outputPorts[n].writer != nullptr ? 1u << n : 0;
    }
    return mask;
}

ULONG ControlClient::GetOpenInputMask()
{
    MutexHold hold(&midiMutex);
    ApplyPendingTableChange();
    ULONG mask = 0;
    for (ULONG n = 0; n < kControlMidiPorts; ++n) {
        mask |= inputPorts[n].reader != nullptr ? 1u << n : 0;
    }
    return mask;
}

ULONG ControlClient::GetInputDataMask()
{
    MutexHold hold(&midiMutex);
    ApplyPendingTableChange();
    ULONG mask = 0;
    for (ULONG n = 0; n < kControlMidiPorts; ++n) {
        InStackLock state(&inputPorts[n].lock);
        MidiReader* reader = inputPorts[n].reader;
        if (reader != nullptr && FifoHasData(&reader->fifo)) {
            mask |= 1u << n;
        }
    }
    return mask;
}

// ---- The MIDI event -----------------------------------------------------------------------------

NTSTATUS ControlClient::SetMidiEvent(HANDLE handle)
{
    MutexHold hold(&midiMutex);
    {
        InStackLock event(&midiEventLock);
        if (midiEvent.handle != nullptr || midiEvent.object != nullptr) {
            return STATUS_SUCCESS;
        }
    }
    if (handle == nullptr) {
        return STATUS_SUCCESS;
    }
    PRKEVENT object = nullptr;
    const NTSTATUS status = ReferenceUserEvent(handle, &object);
    if (!NT_SUCCESS(status)) {
        return status;  // nothing registered
    }
    InStackLock event(&midiEventLock);
    midiEvent = {handle, object};
    return STATUS_SUCCESS;
}

NTSTATUS ControlClient::ReleaseMidiEvent()
{
    ReleaseUserEvents(&midiEvent, 1, &midiEventLock);
    return STATUS_SUCCESS;
}

void ControlClient::SignalMidiEvent()
{
    InStackLock event(&midiEventLock);
    if (midiEvent.object != nullptr) {
        KeSetEvent(midiEvent.object, IO_NO_INCREMENT, FALSE);
    }
}

// ---- Teardown -----------------------------------------------------------------------------------

void ControlClient::TearDownMidi()
{
    {
        MutexHold hold(&midiMutex);
        CloseAllLocked();
    }
    // No port is registered now, so no new table work can be queued.
    KeWaitForSingleObject(&tableWorkIdle, Executive, KernelMode, FALSE, nullptr);
    if (tableWork != nullptr) {
        IoFreeWorkItem(tableWork);
        tableWork = nullptr;
    }
    FireGeneralEvent();
    ReleaseMidiEvent();
}
