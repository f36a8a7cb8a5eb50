// The MIDI output pin: the records of each frame go, with their times, to the pin's router output
// port. A record is sent from the frame itself; a clone of the stream pointer holds the frame
// until the codec is done with the record's bytes.
#include <dmusicks.h>

#include "common/InStackLock.h"
#include "ks/MidiOutputRecords.h"
#include "ks/MidiPinStream.h"
#include "midi/MidiRouter.h"

namespace {

// What a clone keeps: the record's bytes, which the codec's buffer done names.
struct CloneRecord
{
    const UCHAR* data;
};

// The frame's presentation time, or now when it carries none.
LONGLONG FrameTime(const KSSTREAM_HEADER* header)
{
    if ((header->OptionsFlags & KSSTREAM_HEADER_OPTIONSF_TIMEVALID) == 0) {
        return static_cast<LONGLONG>(Now100ns());
    }
    return header->PresentationTime.Time;
}

}  // namespace

bool MidiOutputPinStream::IsPinRunning()
{
    return writer != nullptr && context->midiRouter->IsClientOpen(writer);
}

void MidiOutputPinStream::PortTableChanged(MidiWriter* client, ULONG generation)
{
    client->generation = generation;
}

void MidiOutputPinStream::DeleteClone(PKSSTREAM_POINTER target)
{
    InStackLock hold(&cloneLock);
    // Only while still held: the codec may have finished with it (buffer done) during the send.
    for (PKSSTREAM_POINTER clone = KsPinGetFirstCloneStreamPointer(pin); clone != nullptr;
         clone = KsStreamPointerGetNextClone(clone)) {
        if (clone == target) {
            KsStreamPointerDelete(clone);
            return;
        }
    }
}

void MidiOutputPinStream::BufferDone(MidiWriter*, const UCHAR* buffer)
{
    InStackLock hold(&cloneLock);
    PKSSTREAM_POINTER oldest = KsPinGetFirstCloneStreamPointer(pin);
    for (PKSSTREAM_POINTER clone = oldest; clone != nullptr;
         clone = KsStreamPointerGetNextClone(clone)) {
        if (static_cast<CloneRecord*>(clone->Context)->data == buffer) {
            if (DeviceGone()) {
                KsStreamPointerSetStatusCode(clone, STATUS_DEVICE_NOT_CONNECTED);
            }
            KsStreamPointerDelete(clone);
            return;
        }
    }
}

MidiOutputPinStream::Step MidiOutputPinStream::SendRecord(PKSSTREAM_POINTER leading)
{
    const UCHAR* at = leading->Offset->Data;
    const ULONG remaining = leading->Offset->Remaining;
    MidiOutRecord record;
    const MidiRecordWalk walk = ReadMidiOutRecord(dataFormat, at, remaining, &record);
    ULONG advance = remaining;
    if (walk == MidiRecordWalk::Malformed) {
        // Nothing past the frame is read: the record and the rest of its frame are dropped, and
        // the frame completes with the error.
        ++recordsDropped;
        KsStreamPointerSetStatusCode(leading, STATUS_INVALID_PARAMETER);
    } else if (walk == MidiRecordWalk::Record) {
        advance = record.advance;
        const bool firstOfFrame = leading->Offset->Count == remaining;
        if (dataFormat == kMidiDataDirectMusic || firstOfFrame) {
            recordTime = FrameTime(leading->StreamHeader);
        }
        const LONGLONG time = recordTime + record.delta;
        if (dataFormat == kMidiDataRaw) {
            recordTime = time;  // raw records count from the one before
        }
        if (record.dataBytes != 0) {
            const UCHAR* data = at + record.dataOffset;
            PKSSTREAM_POINTER clone = nullptr;
            if (!NT_SUCCESS(KsStreamPointerClone(leading, nullptr, sizeof(CloneRecord), &clone))) {
                return Step::Pending;
            }
            static_cast<CloneRecord*>(clone->Context)->data = data;
            const LONG answer = SubmitMidiPort(writer, time, data, record.dataBytes);
            if (answer != 1) {
                DeleteClone(clone);
            }
            if (answer < 0) {
                return Step::Pending;  // the record is offered again at the next pass
            }
            ++recordsSent;
        }
    }
    const NTSTATUS status = KsStreamPointerAdvanceOffsets(leading, advance, 0, FALSE);
    if (status == STATUS_DEVICE_NOT_READY) {
        return Step::OutOfFrames;
    }
    if (!NT_SUCCESS(status)) {
        KsStreamPointerUnlock(leading, TRUE);
        return Step::Failed;
    }
    return Step::Next;
}

NTSTATUS MidiOutputPinStream::Process()
{
    if (DeviceGone()) {
        // Nothing will send it: a frame left queued would wait for the handle to close.
        FailQueuedFrames();
        return STATUS_DEVICE_NOT_CONNECTED;
    }
    InStackLock hold(&pinLock);
    if (State() != KSSTATE_RUN || writer == nullptr) {
        return STATUS_PENDING;
    }
    PKSSTREAM_POINTER leading =
        KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
    if (leading == nullptr) {
        return STATUS_PENDING;
    }
    // A table change while the writer was closed told it nothing; the codec would refuse every
    // send of the old generation, and the pin would never send again.
    if (!context->midiRouter->IsClientOpen(writer)) {
        context->midiRouter->TakeCurrentGeneration(writer);
    }
    for (;;) {
        switch (SendRecord(leading)) {
            case Step::Next:
                continue;
            case Step::Pending:
                KsStreamPointerUnlock(leading, FALSE);
                return STATUS_PENDING;
            case Step::OutOfFrames:
                return STATUS_SUCCESS;  // the leading edge refers to no frame
            case Step::Failed:
                return STATUS_UNSUCCESSFUL;
        }
    }
}

// Under the clone lock. Every frame at and past the leading edge completes; with the device gone
// each one says so.
void MidiOutputPinStream::CompleteQueuedFrames(bool gone)
{
    PKSSTREAM_POINTER leading =
        KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
    while (leading != nullptr) {
        if (gone) {
            KsStreamPointerSetStatusCode(leading, STATUS_DEVICE_NOT_CONNECTED);
        }
        if (!NT_SUCCESS(KsStreamPointerAdvance(leading))) {
            leading = nullptr;
        }
    }
}

// The frames not yet sent fail; those whose records the codec still holds (clones) complete
// when it gives them back, or at the close.
void MidiOutputPinStream::FailQueuedFrames()
{
    InStackLock hold(&cloneLock);
    CompleteQueuedFrames(true);
}

void MidiOutputPinStream::CompleteAll()
{
    InStackLock hold(&cloneLock);
    const bool gone = DeviceGone();
    CompleteQueuedFrames(gone);
    for (PKSSTREAM_POINTER clone = KsPinGetFirstCloneStreamPointer(pin); clone != nullptr;
         clone = KsPinGetFirstCloneStreamPointer(pin)) {
        if (gone) {
            KsStreamPointerSetStatusCode(clone, STATUS_DEVICE_NOT_CONNECTED);
        }
        KsStreamPointerDelete(clone);
    }
}

NTSTATUS MidiOutputPinStream::SetState(KSSTATE to, KSSTATE from)
{
    if (to == KSSTATE_ACQUIRE && from == KSSTATE_STOP) {
        MidiWriter* client = context != nullptr && context->midiRouter != nullptr
                                 ? context->midiRouter->RegisterWriter(this, port)
                                 : nullptr;
        if (client == nullptr) {
            return STATUS_INSUFFICIENT_RESOURCES;
        }
        InStackLock hold(&pinLock);
        writer = client;
        InterlockedExchange(&state, to);
        return STATUS_SUCCESS;
    }
    {
        InStackLock hold(&pinLock);
        InterlockedExchange(&state, to);
    }
    if (to == KSSTATE_STOP) {
        Close();
    } else if (to == KSSTATE_PAUSE && from == KSSTATE_RUN && writer != nullptr) {
        context->midiRouter->CloseWriter(writer);
    }
    return STATUS_SUCCESS;
}

// The writer goes first: its unregistration takes the writer's messages out of the codec's
// queues, and the codec gives back the frames it held before the rest complete.
void MidiOutputPinStream::Close()
{
    MidiWriter* client = nullptr;
    {
        InStackLock hold(&pinLock);
        client = writer;
        writer = nullptr;
    }
    if (client != nullptr) {
        context->midiRouter->UnregisterWriter(client);
    }
    CompleteAll();
}
