#include "SysExBuffer.h"

#include <new>

#include "MidiBytes.h"
#include "MidiPoolTags.h"
#include "audio/DriverResult.h"
#include "common/InStackLock.h"

SysExChunk* NewSysExChunk(ULONG chunkSize)
{
    auto* chunk = static_cast<SysExChunk*>(
        ExAllocatePoolWithTag(NonPagedPool, sizeof(SysExChunk), kMidiObjectTag));
    if (chunk == nullptr) {
        return nullptr;
    }
    chunk->next = nullptr;
    chunk->data =
        static_cast<UCHAR*>(ExAllocatePoolWithTag(NonPagedPool, chunkSize, kSysExDataTag));
    if (chunk->data == nullptr) {
        ExFreePoolWithTag(chunk, kMidiObjectTag);
        return nullptr;
    }
    return chunk;
}

namespace {

template <typename Buffer>
Buffer* CreateBuffer()
{
    void* memory = ExAllocatePoolWithTag(NonPagedPool, sizeof(Buffer), kMidiObjectTag);
    if (memory == nullptr) {
        return nullptr;
    }
    RtlZeroMemory(memory, sizeof(Buffer));
    auto* buffer = new (memory) Buffer();
    if (!buffer->Initialize()) {
        buffer->Destroy();
        return nullptr;
    }
    return buffer;
}

}  // namespace

ChunkedByteBuffer* CreateByteBuffer()
{
    return CreateBuffer<ChunkedByteBuffer>();
}

SysExBuffer* CreateSysExBuffer()
{
    return CreateBuffer<SysExBuffer>();
}

bool ChunkedByteBuffer::Initialize()
{
    KeInitializeSpinLock(&lock);
    chunkSize = kSysExChunkSize;
    SysExChunk** link = &first;
    for (ULONG i = 0; i < kSysExInitialChunks; ++i) {
        *link = NewSysExChunk(chunkSize);
        if (*link == nullptr) {
            return false;
        }
        link = &(*link)->next;
    }
    current = first;
    return true;
}

void ChunkedByteBuffer::FreeChunks()
{
    InStackLock hold(&lock);
    SysExChunk* chunk = first;
    while (chunk != nullptr) {
        SysExChunk* next = chunk->next;
        ExFreePoolWithTag(chunk->data, kSysExDataTag);
        ExFreePoolWithTag(chunk, kMidiObjectTag);
        chunk = next;
    }
    first = nullptr;
    current = nullptr;
}

void ChunkedByteBuffer::Destroy()
{
    FreeChunks();
    this->~ChunkedByteBuffer();
    ExFreePoolWithTag(this, kMidiObjectTag);
}

LONG ChunkedByteBuffer::AppendBytes(const UCHAR* data, ULONG length, ULONG* stored)
{
    *stored = 0;
    while (*stored < length) {
        if (writeOffset == chunkSize) {
            // The write chunk is full. A failed allocation leaves the offset at the chunk's end,
            // so the next append tries again instead of overwriting unread bytes.
            if (current->next == nullptr) {
                current->next = NewSysExChunk(chunkSize);
                if (current->next == nullptr) {
                    return E_OUTOFMEMORY;
                }
            }
            current = current->next;
            writeOffset = 0;
        }
        ULONG count = chunkSize - writeOffset;
        if (count > length - *stored) {
            count = length - *stored;
        }
        RtlCopyMemory(current->data + writeOffset, data + *stored, count);
        writeOffset += count;
        *stored += count;
        unread += count;
    }
    return S_OK;
}

ULONG ChunkedByteBuffer::ReadBytes(UCHAR* destination, ULONG capacity)
{
    ULONG read = 0;
    while (read < capacity) {
        const ULONG end = (first == current) ? writeOffset : chunkSize;
        if (readOffset < end) {
            ULONG count = end - readOffset;
            if (count > capacity - read) {
                count = capacity - read;
            }
            RtlCopyMemory(destination + read, first->data + readOffset, count);
            readOffset += count;
            read += count;
            unread -= count;
            continue;
        }
        if (readOffset < chunkSize || first->next == nullptr || first == current) {
            break;  // caught up with the writer
        }
        // The read chunk is used up: it goes to the end of the chain to be written again.
        SysExChunk* used = first;
        first = used->next;
        used->next = nullptr;
        SysExChunk* last = first;
        while (last->next != nullptr) {
            last = last->next;
        }
        last->next = used;
        readOffset = 0;
    }
    return read;
}

LONG ChunkedByteBuffer::Append(const UCHAR* data, ULONG length)
{
    InStackLock hold(&lock);
    ULONG stored = 0;
    return AppendBytes(data, length, &stored);
}

ULONG ChunkedByteBuffer::Read(UCHAR* destination, ULONG capacity)
{
    InStackLock hold(&lock);
    return ReadBytes(destination, capacity);
}

bool ChunkedByteBuffer::IsDrained()
{
    InStackLock hold(&lock);
    return first == current && readOffset == writeOffset;
}

ULONG ChunkedByteBuffer::UnreadBytes()
{
    InStackLock hold(&lock);
    return unread;
}

LONG SysExBuffer::Append(const UCHAR* data, ULONG length)
{
    InStackLock hold(&lock);
    ULONG stored = 0;
    const LONG result = AppendBytes(data, length, &stored);
    if (stored > 0 && data[stored - 1] == kSysExEnd) {
        writeComplete = 1;
    }
    return result;
}

ULONG SysExBuffer::Read(UCHAR* destination, ULONG capacity)
{
    InStackLock hold(&lock);
    const ULONG read = ReadBytes(destination, capacity);
    if (read > 0 && destination[read - 1] == kSysExEnd) {
        readComplete = 1;
    }
    return read;
}

void SysExBuffer::BeginMessage()
{
    InStackLock hold(&lock);
    readComplete = 0;
    writeComplete = 0;
}
