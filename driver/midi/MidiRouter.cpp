#include "MidiRouter.h"

#include <new>

#include "MidiPoolTags.h"
#include "UsbMidiCodec.h"
#include "audio/DriverResult.h"
#include "common/InStackLock.h"

MidiRouter* MidiRouter::Create(UsbMidiCodec* codec)
{
    void* memory = ExAllocatePoolWithTag(NonPagedPool, sizeof(MidiRouter), kMidiObjectTag);
    if (memory == nullptr) {
        return nullptr;
    }
    RtlZeroMemory(memory, sizeof(MidiRouter));
    auto* router = new (memory) MidiRouter();
    KeInitializeSpinLock(&router->listLock);
    KeInitializeSpinLock(&router->countLock);
    KeInitializeSpinLock(&router->tableLock);
    router->codec = codec;
    MidiConfiguration table = {};
    codec->GetPortTable(&table);
    {
        InStackLock hold(&router->tableLock);
        router->portTable = table;
    }
    codec->SetRouter(router);
    return router;
}

void MidiRouter::Destroy()
{
    // Queued messages release their buffers through the router: they go before the writers.
    codec->DropSysExMessages();
    while (writers != nullptr) {
        UnregisterWriter(writers);
    }
    while (readers != nullptr) {
        UnregisterReader(readers);
    }
    codec->SetRouter(nullptr);
    this->~MidiRouter();
    ExFreePoolWithTag(this, kMidiObjectTag);
}

ULONG MidiRouter::Generation()
{
    InStackLock hold(&tableLock);
    return portTable.index;
}

void MidiRouter::TakeCurrentGeneration(MidiClient* client)
{
    const ULONG generation = Generation();
    InStackLock hold(&listLock);
    client->generation = generation;
}

void MidiRouter::CopyPortTable(MidiConfiguration* record)
{
    InStackLock hold(&tableLock);
    *record = portTable;
}

bool MidiRouter::IsPrivateInput(ULONG port)
{
    InStackLock hold(&tableLock);
    return port < portTable.inputPortCount && portTable.inputPortIds != nullptr &&
           static_cast<LONG>(portTable.inputPortIds[port]) < 0;
}

bool MidiRouter::IsPrivateOutput(ULONG port)
{
    InStackLock hold(&tableLock);
    return port < portTable.outputPortCount && portTable.outputPortIds != nullptr &&
           static_cast<LONG>(portTable.outputPortIds[port]) < 0;
}

void MidiRouter::RequestTick()
{
    codec->Wake();
}

void MidiRouter::OnPortTableChange(const MidiConfiguration* table)
{
    {
        InStackLock hold(&tableLock);
        portTable = *table;
    }
    const ULONG generation = table->index;
    InStackLock hold(&listLock);
    for (MidiWriter* writer = writers; writer != nullptr;
         writer = static_cast<MidiWriter*>(writer->next)) {
        if (IsClientOpen(writer) && writer->generation != generation) {
            writer->owner->PortTableChanged(writer, generation);
        }
    }
    for (MidiReader* reader = readers; reader != nullptr;
         reader = static_cast<MidiReader*>(reader->next)) {
        if (IsClientOpen(reader) && reader->generation != generation) {
            reader->owner->PortTableChanged(reader, generation);
        }
    }
}

LONG MidiRouter::DeliverMidiInput(ULONG generation, LONGLONG time, ULONG port,
                                  const UsbMidiPacket* packet)
{
    if (!AnyClientOpen() || generation != Generation()) {
        return -1;
    }
    InStackLock hold(&listLock);
    for (MidiReader* reader = readers; reader != nullptr;
         reader = static_cast<MidiReader*>(reader->next)) {
        if (reader->generation != generation) {
            reader->owner->PortTableChanged(reader, generation);
        } else if (reader->port == port && IsClientOpen(reader)) {
            ReaderPut(reader, time, packet);
        }
    }
    return 0;
}

bool MidiRouter::AnyClientOpen()
{
    InStackLock hold(&countLock);
    return openWriters + openReaders != 0;
}

bool MidiRouter::AnyPrivateClientOpen()
{
    InStackLock hold(&countLock);
    return privateOpenWriters + privateOpenReaders != 0;
}

bool MidiRouter::AnyPrivateClientRegistered()
{
    InStackLock hold(&listLock);
    return privateWriters + privateReaders != 0;
}

namespace {

bool IsWriterListed(MidiWriter* list, const MidiWriter* writer)
{
    for (MidiWriter* each = list; each != nullptr; each = static_cast<MidiWriter*>(each->next)) {
        if (each == writer) {
            return true;
        }
    }
    return false;
}

}  // namespace

void MidiRouter::ReleaseWriterBuffer(MidiWriter* writer, const UCHAR* buffer)
{
    InStackLock hold(&listLock);
    if (!IsWriterListed(writers, writer)) {
        return;
    }
    MidiRetainedBuffer* found = nullptr;
    {
        InStackLock nodes(&writer->unlinkLock);
        for (MidiRetainedBuffer** link = &writer->retained; *link != nullptr;
             link = &(*link)->next) {
            if ((*link)->buffer != buffer) {
                continue;
            }
            found = *link;
            if (InterlockedDecrement(&found->count) == 0) {
                *link = found->next;
                found->next = writer->freeNodes;
                writer->freeNodes = found;
                found = nullptr;  // the last reference: the buffer goes back below
                break;
            }
            return;  // more references remain
        }
    }
    if (found == nullptr) {
        writer->owner->BufferDone(writer, buffer);
    }
}

bool MidiRouter::RetainWriterBuffer(MidiWriter* writer, ULONG count, const UCHAR* buffer)
{
    if (count <= 1) {
        return true;  // a single reference comes back untracked
    }
    InStackLock hold(&listLock);
    if (!IsWriterListed(writers, writer)) {
        return false;
    }
    InStackLock nodes(&writer->unlinkLock);
    MidiRetainedBuffer* node = writer->freeNodes;
    if (node != nullptr) {
        writer->freeNodes = node->next;
    } else {
        node = static_cast<MidiRetainedBuffer*>(
            ExAllocatePoolWithTag(NonPagedPool, sizeof(MidiRetainedBuffer), kMidiObjectTag));
        if (node == nullptr) {
            return false;
        }
    }
    node->buffer = buffer;
    node->count = static_cast<LONG>(count);
    node->next = writer->retained;
    writer->retained = node;
    return true;
}

MidiWriterState* MidiRouter::GetWriterState(MidiWriter* writer)
{
    InStackLock hold(&listLock);
    return IsWriterListed(writers, writer) ? &writer->state : nullptr;
}
