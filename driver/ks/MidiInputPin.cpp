// The MIDI input pin: frames are held as clones (at most 128) and filled, one message each, with
// what arrives on the pin's router input port: directly from the router's delivery when the
// reader's FIFO is empty and no delivery pass runs, else by delivery passes in work items that
// drain the FIFO a few messages at a time.
#include <dmusicks.h>

#include "audio/DriverResult.h"
#include "common/InStackLock.h"
#include "device/DeviceLifecycle.h"
#include "ks/MidiPinStream.h"
#include "midi/MidiRouter.h"

namespace {

constexpr ULONG kDirectMusicSysExFlag = 1;  // dwFlags of an event carrying SysEx data
constexpr ULONG kLargestMessage = 256;

struct DeliveryPacket
{
    PIO_WORKITEM workItem;
    DeviceContext* context;
    PKSPIN pin;  // compared only, until found on an open filter's input list
    MidiReader* client;
};

// Under the device's MIDI-filter list lock and the filter's pin-list lock: the pin cannot close
// (its close unlists it under that lock first) while its delivery runs.
void DeliverIfListed(DeviceContext* context, PKSPIN pin, MidiReader* client)
{
    InStackLock filters(&context->midiFilterListLock);
    for (FilterListNode* node = context->midiFilters; node != nullptr; node = node->next) {
        MidiFilterContext* filter = MidiFilterContextOf(node->filter);
        if (filter == nullptr) {
            continue;
        }
        InStackLock pins(&filter->pinListLock);
        for (MidiPinNode* listed = filter->inputPins; listed != nullptr; listed = listed->next) {
            if (listed->pin == pin) {
                static_cast<MidiInputPinStream*>(MidiPinOf(pin))->DeliverPass(client);
                return;
            }
        }
    }
}

// PASSIVE_LEVEL. Holds the remove lock its scheduler took, until it ends.
void DeliveryWorkItem(PDEVICE_OBJECT, PVOID parameter)
{
    auto* packet = static_cast<DeliveryPacket*>(parameter);
    DeviceContext* context = packet->context;
    if (GetPnpState(context) == kPnpStarted) {
        DeliverIfListed(context, packet->pin, packet->client);
    }
    IoFreeWorkItem(packet->workItem);
    ExFreePoolWithTag(packet, kMidiWorkTag);
    ReleaseRemoveLock(context);
}

ULONG DeltaMs(LONGLONG time, LONGLONG start)
{
    if (time <= start) {
        return 0;
    }
    const ULONGLONG ms = static_cast<ULONGLONG>(time - start) / 10000;
    return ms > 0xFFFFFFFFull ? 0xFFFFFFFF : static_cast<ULONG>(ms);
}

}  // namespace

MidiReader* MidiInputPinStream::Reader() const
{
    return static_cast<MidiReader*>(InterlockedCompareExchangePointer(
        reinterpret_cast<PVOID volatile*>(const_cast<MidiReader**>(&reader)), nullptr, nullptr));
}

// A delivery pass reads the framing under the pin lock and writes messages under the clone lock
// (which the router's callbacks take alone): both are held while it changes.
void MidiInputPinStream::ChangeFormat(ULONG format)
{
    InStackLock pass(&pinLock);
    InStackLock clones(&cloneLock);
    dataFormat = format;
    if (format == kMidiDataDirectMusic) {
        largestRead = 44;
        messagesPerPass = 1;
    } else {
        largestRead = systemVersion < 0x06000000 ? 4 : kLargestMessage;
        messagesPerPass = 8;
    }
}

bool MidiInputPinStream::IsPinRunning()
{
    MidiReader* client = Reader();
    return client != nullptr && context->midiRouter->IsClientOpen(client);
}

void MidiInputPinStream::ScheduleDelivery(MidiReader* client)
{
    if (context == nullptr || !TryAcquireRemoveLock(context)) {
        return;
    }
    auto* packet = static_cast<DeliveryPacket*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(DeliveryPacket), kMidiWorkTag));
    PIO_WORKITEM item =
        packet != nullptr ? IoAllocateWorkItem(FunctionalDeviceObject(context)) : nullptr;
    if (item == nullptr) {
        if (packet != nullptr) {
            ExFreePoolWithTag(packet, kMidiWorkTag);
        }
        ReleaseRemoveLock(context);
        return;
    }
    *packet = {item, context, pin, client};
    IoQueueWorkItem(item, DeliveryWorkItem, DelayedWorkQueue, packet);
}

bool MidiInputPinStream::HasClone()
{
    InStackLock hold(&cloneLock);
    return KsPinGetFirstCloneStreamPointer(pin) != nullptr;
}

ULONG MidiInputPinStream::CloneCount()
{
    // Only this pin makes and deletes its clones (the pin's queue flushes at stop, after Close
    // deleted them all).
    const LONG held = InterlockedOr(&clonesHeld, 0);
    return held > 0 ? static_cast<ULONG>(held) : 0;
}

bool MidiInputPinStream::WriteMessage(PKSSTREAM_POINTER clone, LONGLONG time, const UCHAR* bytes,
                                      ULONG count, bool shortMessage)
{
    const bool directMusic = dataFormat == kMidiDataDirectMusic;
    const ULONGLONG needed = directMusic ? (count + 27ull) & ~7ull : count + 8ull;
    if (clone->Offset->Remaining < needed) {
        ++messagesLost;
        return false;
    }
    PUCHAR out = clone->Offset->Data;
    RtlZeroMemory(out, static_cast<SIZE_T>(needed));
    if (directMusic) {
        const DMUS_EVENTHEADER event = {count, 0, 0, shortMessage ? 0 : kDirectMusicSysExFlag};
        RtlCopyMemory(out, &event, sizeof event);
        RtlCopyMemory(out + sizeof event, bytes, count);
    } else {
        const KSMUSICFORMAT music = {DeltaMs(time, runStart), count};
        RtlCopyMemory(out, &music, sizeof music);
        RtlCopyMemory(out + sizeof music, bytes, count);
    }
    PKSSTREAM_HEADER header = clone->StreamHeader;
    header->DataUsed = static_cast<ULONG>(needed);
    header->Duration = 0;
    header->PresentationTime.Numerator = 1;
    header->PresentationTime.Denominator = 1;
    header->OptionsFlags &= ~static_cast<ULONG>(KSSTREAM_HEADER_OPTIONSF_TIMEVALID);
    if (clock != nullptr) {
        header->PresentationTime.Time = clock->GetTime();
        header->OptionsFlags |= KSSTREAM_HEADER_OPTIONSF_TIMEVALID;
    } else if (directMusic) {
        header->PresentationTime.Time = time;
        header->OptionsFlags |= KSSTREAM_HEADER_OPTIONSF_TIMEVALID;
    } else {
        header->PresentationTime.Time = 0;
    }
    KsStreamPointerDelete(clone);
    InterlockedDecrement(&clonesHeld);
    // Frames beyond the clone limit wait on the leading edge: with room again, take them now
    // rather than when the client sends its next frame.
    if (InterlockedExchange(&clonesCapped, 0) != 0) {
        KsPinAttemptProcessing(pin, TRUE);
    }
    return true;
}

ULONG MidiInputPinStream::FrameRoom(ULONG frameBytes) const
{
    if (dataFormat == kMidiDataDirectMusic) {
        const ULONG whole = frameBytes & ~7u;  // a record is padded to eight bytes
        return whole > sizeof(DMUS_EVENTHEADER) ? whole - sizeof(DMUS_EVENTHEADER) : 0;
    }
    return frameBytes > sizeof(KSMUSICFORMAT) ? frameBytes - sizeof(KSMUSICFORMAT) : 0;
}

bool MidiInputPinStream::FillOldest(MidiReader* client)
{
    InStackLock hold(&cloneLock);
    PKSSTREAM_POINTER clone = KsPinGetFirstCloneStreamPointer(pin);
    if (clone == nullptr || !NT_SUCCESS(KsStreamPointerLock(clone))) {
        return false;
    }
    UCHAR bytes[kLargestMessage];
    LONGLONG time = 0;
    ULONG whole = 0;
    const ULONG largest = largestRead < kLargestMessage ? largestRead : kLargestMessage;
    // A SysEx is read in pieces the frame can take, so that a long one spans frames instead of
    // being lost; a short message the frame cannot take is read whole and lost.
    const ULONG room = FrameRoom(clone->Offset->Remaining);
    LONG read =
        ReaderGet(client, &time, bytes, room < largest && room != 0 ? room : largest, &whole);
    if (read == E_INVALIDARG) {
        read = ReaderGet(client, &time, bytes, largest, &whole);
    }
    if (read <= 0) {
        return false;
    }
    WriteMessage(clone, time, bytes, static_cast<ULONG>(read), whole != 0);
    return true;
}

void MidiInputPinStream::DeliverPass(MidiReader* client)
{
    InStackLock hold(&pinLock);
    if (State() != KSSTATE_RUN || client == nullptr || Reader() != client) {
        return;
    }
    InterlockedIncrement(&busy);
    const LONG started = InterlockedOr(&client->deliveriesStarted, 0);
    bool ran = false;
    bool stalled = false;
    if (InterlockedOr(&client->deliveriesInProgress, 0) == 0 && InterlockedOr(&busy, 0) == 1) {
        ran = true;
        for (ULONG i = 0; i < messagesPerPass && FifoHasData(&client->fifo); ++i) {
            if (!FillOldest(client)) {
                stalled = true;  // no frame, or nothing could be read: a new arrival goes on
                break;
            }
        }
    }
    const bool emptied = !FifoHasData(&client->fifo);
    InterlockedDecrement(&busy);
    const bool done = ran && emptied && InterlockedOr(&client->deliveriesStarted, 0) == started;
    if (!done && !stalled && HasClone()) {
        ScheduleDelivery(client);
    }
}

LONG MidiInputPinStream::Deliver(MidiReader* client, LONGLONG time, const UCHAR* bytes, ULONG count,
                                 bool complete)
{
    if (client != Reader() || count == 0) {
        return 0;
    }
    InStackLock hold(&cloneLock);
    if (InterlockedOr(&busy, 0) != 0 || State() != KSSTATE_RUN) {
        return 1;
    }
    PKSSTREAM_POINTER clone = KsPinGetFirstCloneStreamPointer(pin);
    if (clone == nullptr || !NT_SUCCESS(KsStreamPointerLock(clone))) {
        return 1;
    }
    WriteMessage(clone, time, bytes, count, complete);
    return 0;
}

void MidiInputPinStream::DataAvailable(MidiReader* client)
{
    if (client == Reader() && HasClone()) {
        ScheduleDelivery(client);
    }
}

void MidiInputPinStream::PortTableChanged(MidiReader* client, ULONG generation)
{
    client->generation = generation;
}

NTSTATUS MidiInputPinStream::Process()
{
    if (DeviceGone()) {
        // Nothing will fill them: frames held or queued would wait for the handle to close.
        Flush();
        FailQueuedFrames();
        return STATUS_DEVICE_NOT_CONNECTED;
    }
    InStackLock hold(&pinLock);
    if (State() != KSSTATE_RUN) {
        return STATUS_PENDING;
    }
    PKSSTREAM_POINTER leading =
        KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
    for (ULONG held = CloneCount(); leading != nullptr && held < kMidiInputMaxClones; ++held) {
        // The frame is emptied before its clone exists: once cloned, a delivery on another
        // processor may fill it and complete it.
        leading->StreamHeader->DataUsed = 0;
        PKSSTREAM_POINTER clone = nullptr;
        if (!NT_SUCCESS(KsStreamPointerClone(leading, nullptr, 0, &clone))) {
            break;
        }
        InterlockedIncrement(&clonesHeld);
        if (!NT_SUCCESS(KsStreamPointerAdvance(leading))) {
            leading = nullptr;  // past the last frame: it refers to none
        }
    }
    if (leading != nullptr) {
        InterlockedExchange(&clonesCapped, 1);
        KsStreamPointerUnlock(leading, FALSE);
    }
    MidiReader* client = Reader();
    if (client != nullptr && FifoHasData(&client->fifo)) {
        ScheduleDelivery(client);
    }
    return STATUS_SUCCESS;
}

void MidiInputPinStream::Flush()
{
    MidiReader* client = Reader();
    if (client != nullptr && context->midiRouter->IsClientOpen(client)) {
        context->midiRouter->SetClientOpen(client, false);
    }
    InStackLock hold(&cloneLock);
    const bool gone = DeviceGone();
    for (PKSSTREAM_POINTER clone = KsPinGetFirstCloneStreamPointer(pin); clone != nullptr;
         clone = KsPinGetFirstCloneStreamPointer(pin)) {
        clone->StreamHeader->DataUsed = 0;
        if (gone) {
            KsStreamPointerSetStatusCode(clone, STATUS_DEVICE_NOT_CONNECTED);
        }
        KsStreamPointerDelete(clone);
        InterlockedDecrement(&clonesHeld);
    }
}

void MidiInputPinStream::FailQueuedFrames()
{
    InStackLock hold(&cloneLock);
    PKSSTREAM_POINTER leading =
        KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
    while (leading != nullptr) {
        leading->StreamHeader->DataUsed = 0;
        KsStreamPointerSetStatusCode(leading, STATUS_DEVICE_NOT_CONNECTED);
        if (!NT_SUCCESS(KsStreamPointerAdvance(leading))) {
            leading = nullptr;
        }
    }
}

NTSTATUS MidiInputPinStream::SetState(KSSTATE to, KSSTATE from)
{
    if (to == KSSTATE_ACQUIRE && from == KSSTATE_STOP) {
        TakeClock();
        MidiReader* client = context != nullptr && context->midiRouter != nullptr
                                 ? context->midiRouter->RegisterReader(this, port)
                                 : nullptr;
        if (client == nullptr) {
            ReleaseClock();
            return STATUS_INSUFFICIENT_RESOURCES;
        }
        InStackLock hold(&pinLock);
        InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&reader), client);
        InterlockedExchange(&state, to);
        return STATUS_SUCCESS;
    }
    if (to == KSSTATE_RUN) {
        runStart = static_cast<LONGLONG>(Now100ns());
    }
    {
        InStackLock hold(&pinLock);
        InterlockedExchange(&state, to);
    }
    MidiReader* client = Reader();
    switch (to) {
        case KSSTATE_STOP:
            Close();
            break;
        case KSSTATE_PAUSE:
            if (from == KSSTATE_RUN) {
                Flush();
            }
            break;
        case KSSTATE_RUN:
            if (client != nullptr) {
                // A table change while the reader was closed told it nothing: its first message
                // would be spent on telling it.
                context->midiRouter->TakeCurrentGeneration(client);
                context->midiRouter->SetClientOpen(client, true);
            }
            break;
        default:
            break;
    }
    return STATUS_SUCCESS;
}

// The reader goes before the clock: a delivery of the router may still be filling a frame with
// the clock's time until the reader is unlinked under the router's list lock.
void MidiInputPinStream::Close()
{
    Flush();
    MidiReader* client = nullptr;
    {
        InStackLock hold(&pinLock);
        client = static_cast<MidiReader*>(
            InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&reader), nullptr));
    }
    if (client != nullptr) {
        context->midiRouter->UnregisterReader(client);
    }
    ReleaseClock();
}
