// Registration, opening and closing of the router's clients, and their data paths: a writer's
// submission to the codec, a reader's FIFO.
#include <new>

#include "MidiBytes.h"
#include "MidiPoolTags.h"
#include "MidiRouter.h"
#include "UsbMidiCodec.h"
#include "audio/DriverResult.h"
#include "common/InStackLock.h"

namespace {

template <typename Client>
Client* NewClient(MidiRouter* router, ULONG port)
{
    void* memory = ExAllocatePoolWithTag(NonPagedPool, sizeof(Client), kMidiObjectTag);
    if (memory == nullptr) {
        return nullptr;
    }
    RtlZeroMemory(memory, sizeof(Client));
    auto* client = new (memory) Client();
    client->generation = kNoGeneration;
    client->port = port;
    client->router = router;
    client->magic = kMidiClientMagic;
    KeInitializeSpinLock(&client->lock);
    return client;
}

template <typename Client>
void FreeClient(Client* client)
{
    client->generation = kNoGeneration;
    client->magic = 0;
    ExFreePoolWithTag(client, kMidiObjectTag);
}

template <typename Client>
bool Unlink(Client** list, Client* client)
{
    for (Client** link = list; *link != nullptr;
         link = reinterpret_cast<Client**>(&(*link)->next)) {
        if (*link == client) {
            *link = static_cast<Client*>(client->next);
            client->next = nullptr;
            return true;
        }
    }
    return false;
}

void FreeRetainedNodes(MidiRetainedBuffer* node)
{
    while (node != nullptr) {
        MidiRetainedBuffer* next = node->next;
        ExFreePoolWithTag(node, kMidiObjectTag);
        node = next;
    }
}

}  // namespace

// Links a new client at the head of its list with the table's generation.
template <typename Client, typename Owner>
Client* MidiRouter::Register(Client** list, LONG* privateCount, bool isPrivate, Owner* owner,
                             ULONG port)
{
    auto* client = NewClient<Client>(this, port);
    if (client == nullptr) {
        return nullptr;
    }
    client->owner = owner;
    client->Initialize();
    const ULONG generation = Generation();
    InStackLock hold(&listLock);
    client->next = *list;
    *list = client;
    client->generation = generation;
    if (isPrivate) {
        ++*privateCount;
    }
    return client;
}

MidiWriter* MidiRouter::RegisterWriter(MidiWriterOwner* owner, ULONG port)
{
    return Register(&writers, &privateWriters, IsPrivateOutput(port), owner, port);
}

MidiReader* MidiRouter::RegisterReader(MidiReaderOwner* owner, ULONG port)
{
    return Register(&readers, &privateReaders, IsPrivateInput(port), owner, port);
}

bool MidiRouter::IsClientOpen(MidiClient* client)
{
    InStackLock hold(&client->lock);
    return client->open != 0;
}

// Under the count lock (the client's lock inside for the flag). Answers whether the open count
// went from 0 to 1 or from 1 to 0.
void MidiRouter::ChangeOpenCount(MidiClient* client, bool open, bool writer)
{
    const bool isPrivate = writer ? IsPrivateOutput(client->port) : IsPrivateInput(client->port);
    bool wake = false;
    {
        InStackLock counts(&countLock);
        const LONG before = openWriters + openReaders;
        {
            InStackLock flag(&client->lock);
            client->open = open ? 1 : 0;
        }
        const LONG step = open ? 1 : -1;
        (writer ? openWriters : openReaders) += step;
        if (isPrivate) {
            (writer ? privateOpenWriters : privateOpenReaders) += step;
        }
        const LONG after = openWriters + openReaders;
        // The first open client starts the tick; the last one lets it stop at its next run.
        wake = (before == 0) != (after == 0);
    }
    if (wake) {
        RequestTick();
    }
}

LONG MidiRouter::SetClientOpen(MidiReader* reader, bool open)
{
    if (IsClientOpen(reader) == open) {
        return 0;
    }
    ChangeOpenCount(reader, open, false);
    return 1;
}

void MidiRouter::OpenWriter(MidiWriter* writer)
{
    if (!IsClientOpen(writer)) {
        ChangeOpenCount(writer, true, true);
    }
}

LONG MidiRouter::CloseWriter(MidiWriter* writer)
{
    if (!IsClientOpen(writer)) {
        return 1;
    }
    codec->FlushWriterMessages(writer);
    ChangeOpenCount(writer, false, true);
    return 0;
}

void MidiRouter::UnregisterWriter(MidiWriter* writer)
{
    CloseWriter(writer);
    const bool isPrivate = IsPrivateOutput(writer->port);
    MidiRetainedBuffer* retained = nullptr;
    MidiRetainedBuffer* freeNodes = nullptr;
    {
        InStackLock hold(&listLock);
        if (Unlink(&writers, writer) && isPrivate) {
            --privateWriters;
        }
        InStackLock nodes(&writer->unlinkLock);
        retained = writer->retained;
        freeNodes = writer->freeNodes;
        writer->retained = nullptr;
        writer->freeNodes = nullptr;
    }
    FreeRetainedNodes(retained);
    FreeRetainedNodes(freeNodes);
    FreeClient(writer);
}

void MidiRouter::UnregisterReader(MidiReader* reader)
{
    SetClientOpen(reader, false);
    const bool isPrivate = IsPrivateInput(reader->port);
    {
        InStackLock hold(&listLock);
        if (Unlink(&readers, reader) && isPrivate) {
            --privateReaders;
        }
    }
    reader->owner = nullptr;
    FifoFlush(&reader->fifo);
    FreeClient(reader);
}

LONG SubmitMidiPort(MidiWriter* writer, LONGLONG time, const UCHAR* data, ULONG length)
{
    if (writer == nullptr || writer->magic != kMidiClientMagic) {
        return E_INVALIDARG;
    }
    writer->time = time;
    writer->data = data;
    writer->length = length;
    MidiRouter* router = writer->router;
    router->OpenWriter(writer);
    return router->Codec()->Write(writer->generation, writer->port, time, data, length, writer);
}

void ReaderPut(MidiReader* reader, LONGLONG time, const UsbMidiPacket* packet)
{
    const ULONG count = MidiBytesForCin(packet->bytes[0]);
    if (count == 0) {
        return;
    }
    InterlockedIncrement(&reader->deliveriesStarted);
    InterlockedIncrement(&reader->deliveriesInProgress);
    const bool hadData = FifoHasData(&reader->fifo);
    const UCHAR cin = packet->bytes[0] & 0x0F;
    const bool complete = cin < 4 || cin > 7 || (cin == 5 && packet->bytes[1] != kSysExEnd);
    const UCHAR* bytes = &packet->bytes[1];
    if (!FifoIsEmpty(&reader->fifo) ||
        reader->owner->Deliver(reader, time, bytes, count, complete) != 0) {
        FifoWrite(&reader->fifo, time, bytes, count, complete);
    }
    if (!hadData && FifoHasData(&reader->fifo)) {
        reader->owner->DataAvailable(reader);
    }
    InterlockedDecrement(&reader->deliveriesInProgress);
}

LONG ReaderGet(MidiReader* reader, LONGLONG* time, UCHAR* buffer, ULONG capacity, ULONG* whole)
{
    if (reader == nullptr || time == nullptr || whole == nullptr) {
        return E_INVALIDARG;
    }
    if (FifoIsEmpty(&reader->fifo)) {
        *time = 0;
        *whole = 0;
        return 0;
    }
    return FifoRead(&reader->fifo, time, buffer, capacity, whole);
}
