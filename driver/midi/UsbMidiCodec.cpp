#include "UsbMidiCodec.h"

#include <new>

#include "MidiEngineLink.h"
#include "MidiPoolTags.h"
#include "MidiRouter.h"
#include "audio/DriverResult.h"
#include "common/InStackLock.h"

UsbMidiCodec* UsbMidiCodec::Create(MidiEngineLink* engine, ULONG outputPorts)
{
    if (outputPorts > kUsbMidiCables) {
        return nullptr;  // a cable number has four bits
    }
    void* memory = ExAllocatePoolWithTag(NonPagedPool, sizeof(UsbMidiCodec), kMidiObjectTag);
    if (memory == nullptr) {
        return nullptr;
    }
    RtlZeroMemory(memory, sizeof(UsbMidiCodec));
    auto* codec = new (memory) UsbMidiCodec();
    KeInitializeSpinLock(&codec->lock);
    codec->engine = engine;
    codec->pool.Initialize();
    codec->portTable.index = static_cast<ULONG>(-1);
    if (outputPorts > 0) {
        codec->queues = static_cast<MidiOutQueue**>(ExAllocatePoolWithTag(
            NonPagedPool, outputPorts * sizeof(MidiOutQueue*), kMidiQueueArrayTag));
        if (codec->queues == nullptr) {
            codec->Destroy();
            return nullptr;
        }
        RtlZeroMemory(codec->queues, outputPorts * sizeof(MidiOutQueue*));
        codec->queueCount = outputPorts;
        for (ULONG port = 0; port < outputPorts; ++port) {
            auto* queue = static_cast<MidiOutQueue*>(
                ExAllocatePoolWithTag(NonPagedPool, sizeof(MidiOutQueue), kMidiObjectTag));
            if (queue == nullptr) {
                codec->Destroy();
                return nullptr;
            }
            InitializeMidiOutQueue(queue, codec, &codec->pool);
            codec->queues[port] = queue;
        }
    }
    return codec;
}

void UsbMidiCodec::Destroy()
{
    for (ULONG port = 0; port < queueCount; ++port) {
        if (queues[port] != nullptr) {
            DestroyMidiOutQueue(queues[port]);
            ExFreePoolWithTag(queues[port], kMidiObjectTag);
        }
    }
    if (queues != nullptr) {
        ExFreePoolWithTag(queues, kMidiQueueArrayTag);
    }
    pool.Destroy();
    this->~UsbMidiCodec();
    ExFreePoolWithTag(this, kMidiObjectTag);
}

void UsbMidiCodec::Wake()
{
    if (engine != nullptr) {
        engine->RequestTick(0);
    }
}

void UsbMidiCodec::ReleaseBuffer(MidiWriter* writer, const UCHAR* buffer)
{
    MidiRouter* linked = __atomic_load_n(&router, __ATOMIC_ACQUIRE);
    if (linked != nullptr) {
        linked->ReleaseWriterBuffer(writer, buffer);
    }
}

MidiWriterState* UsbMidiCodec::WriterState(MidiWriter* writer)
{
    MidiRouter* linked = __atomic_load_n(&router, __ATOMIC_ACQUIRE);
    return linked == nullptr ? nullptr : linked->GetWriterState(writer);
}

bool UsbMidiCodec::Retain(MidiWriter* writer, ULONG count, const UCHAR* buffer)
{
    MidiRouter* linked = __atomic_load_n(&router, __ATOMIC_ACQUIRE);
    return linked != nullptr && linked->RetainWriterBuffer(writer, count, buffer);
}

void UsbMidiCodec::GetPortTable(MidiConfiguration* table)
{
    InStackLock hold(&lock);
    *table = portTable;
}

LONG UsbMidiCodec::Write(ULONG generation, ULONG port, LONGLONG time, const UCHAR* data,
                         ULONG length, MidiWriter* writer)
{
    if (data == nullptr || length == 0) {
        return E_INVALIDARG;
    }
    InStackLock hold(&lock);
    if (generation != portTable.index || port >= portTable.outputPortCount || port >= queueCount) {
        return kMidiWriteRefused;
    }
    return WriteMidiOut(queues[port], time, data, length, writer);
}

LONG UsbMidiCodec::SetPortTable(const MidiConfiguration* table)
{
    if (engine != nullptr && engine->IsTickActive()) {
        return E_FAIL;
    }
    MidiRouter* linked = nullptr;
    {
        InStackLock hold(&lock);
        portTable = *table;
        linked = router;
    }
    if (linked != nullptr) {
        linked->OnPortTableChange(table);
    }
    if (engine != nullptr) {
        engine->ApplyMidiConfiguration(table);
    }
    return S_OK;
}

LONG UsbMidiCodec::NextMidiOutPacket(ULONG port, LONGLONG now, UsbMidiPacket* packet,
                                     LONGLONG* wait)
{
    if (port >= queueCount) {
        *packet = {{kNoPacket, 0, 0, 0}};
        *wait = kNothingDue;
        return E_INVALIDARG;
    }
    return ::NextMidiOutPacket(queues[port], now, packet, wait);
}

void UsbMidiCodec::FlushWriterMessages(MidiWriter* writer)
{
    for (ULONG port = queueCount; port-- > 0;) {
        FlushWriterMessagesOfQueue(queues[port], writer);
    }
}

void UsbMidiCodec::DropSysExMessages()
{
    for (ULONG port = 0; port < queueCount; ++port) {
        DropSysExMessagesOfQueue(queues[port]);
    }
}

void UsbMidiCodec::ForgetUnfinished(MidiWriter* writer, MidiMessageNode* node)
{
    MidiWriterState* state = WriterState(writer);
    if (state != nullptr && state->unfinished == node) {
        state->unfinished = nullptr;
    }
}

void UsbMidiCodec::SetRouter(MidiRouter* linked)
{
    __atomic_store_n(&router, linked, __ATOMIC_RELEASE);
}
