#include "MidiFifo.h"

#include "MidiBytes.h"
#include "SysExBuffer.h"
#include "audio/DriverResult.h"
#include "common/InStackLock.h"

namespace {

constexpr ULONG kIndexMask = kMidiFifoEntries - 1;
static_assert((kMidiFifoEntries & kIndexMask) == 0, "the ring's indices wrap with a mask");

// The indices change under the lock; FifoIsEmpty reads them without it as a fast path.
void StoreIndex(ULONG* index, ULONG value)
{
    __atomic_store_n(index, value & kIndexMask, __ATOMIC_RELEASE);
}

ULONG CountOf(const MidiFifo* fifo)
{
    return (fifo->writeIndex - fifo->readIndex) & kIndexMask;
}

void ClearEntry(MidiFifoEntry* entry)
{
    if (entry->sysEx != nullptr) {
        entry->sysEx->Destroy();
    }
    RtlZeroMemory(entry, sizeof(*entry));
}

// The next entry to write, cleared; a full ring first drops its oldest entry.
MidiFifoEntry* TakeEntry(MidiFifo* fifo)
{
    if (CountOf(fifo) == kIndexMask) {
        ClearEntry(&fifo->entries[fifo->readIndex]);
        StoreIndex(&fifo->readIndex, fifo->readIndex + 1);
    }
    MidiFifoEntry* entry = &fifo->entries[fifo->writeIndex];
    StoreIndex(&fifo->writeIndex, fifo->writeIndex + 1);
    ClearEntry(entry);
    return entry;
}

// Takes back the entry just taken when nothing could be stored in it.
void ReturnNewestEntry(MidiFifo* fifo, MidiFifoEntry* entry)
{
    ClearEntry(entry);
    StoreIndex(&fifo->writeIndex, fifo->writeIndex - 1);
}

MidiFifoEntry* NewestEntry(MidiFifo* fifo)
{
    if (CountOf(fifo) == 0) {
        return nullptr;
    }
    return &fifo->entries[(fifo->writeIndex - 1) & kIndexMask];
}

void WriteComplete(MidiFifo* fifo, LONGLONG time, const UCHAR* bytes, ULONG count)
{
    MidiFifoEntry* last = NewestEntry(fifo);
    MidiFifoEntry* entry = nullptr;
    if (last != nullptr && last->sysEx != nullptr && last->sysEx->IsDrained()) {
        // The reader has everything of an unterminated SysEx: its entry takes the new message.
        ClearEntry(last);
        entry = last;
    } else {
        entry = TakeEntry(fifo);
    }
    entry->time = time;
    if (AppendMidiBytes(entry, bytes, count, true) < 0 && entry->byteCount == 0 &&
        (entry->sysEx == nullptr || entry->sysEx->UnreadBytes() == 0)) {
        ReturnNewestEntry(fifo, entry);
        ++fifo->sysExDrops;
    }
}

// The last byte of a fragment is 0xF7 only when it ends its SysEx.
bool EndsSysEx(const UCHAR* bytes, ULONG count)
{
    return bytes[count - 1] == kSysExEnd;
}

void WriteFragment(MidiFifo* fifo, LONGLONG time, const UCHAR* bytes, ULONG count)
{
    MidiFifoEntry* last = NewestEntry(fifo);
    const bool starts = bytes[0] == kSysExStart;
    if (last != nullptr && last->sysEx != nullptr) {
        SysExBuffer* sysEx = last->sysEx;
        if (!starts) {
            if ((last->flags & kEntryDroppingSysEx) != 0 || sysEx->WriteComplete()) {
                // The rest of a SysEx past its cap, or bytes after an end byte with no new start.
                if (EndsSysEx(bytes, count)) {
                    last->flags &= ~kEntryDroppingSysEx;
                }
                ++fifo->sysExDrops;
                return;
            }
            if (sysEx->UnreadBytes() + count > kMaxUnreadSysExBytes) {
                if (!EndsSysEx(bytes, count)) {
                    last->flags |= kEntryDroppingSysEx;
                }
                ++fifo->sysExDrops;
                return;
            }
            if (sysEx->Append(bytes, count) < 0) {
                ++fifo->sysExDrops;
            }
            return;
        }
        if (sysEx->IsDrained()) {
            // A new SysEx behind one the reader has drained reuses its buffer and its entry.
            sysEx->BeginMessage();
            last->flags = 0;
            last->time = time;
            if (sysEx->Append(bytes, count) < 0) {
                ++fifo->sysExDrops;
            }
            return;
        }
    }
    MidiFifoEntry* entry = TakeEntry(fifo);
    entry->time = time;
    if (AppendMidiBytes(entry, bytes, count, false) < 0) {
        ++fifo->sysExDrops;
        if (entry->sysEx == nullptr || entry->sysEx->UnreadBytes() == 0) {
            ReturnNewestEntry(fifo, entry);
        }
    }
}

}  // namespace

void FifoInitialize(MidiFifo* fifo)
{
    RtlZeroMemory(fifo, sizeof(*fifo));
    KeInitializeSpinLock(&fifo->lock);
}

LONG AppendMidiBytes(MidiFifoEntry* entry, const UCHAR* data, ULONG length, bool shortMessage)
{
    if (data == nullptr || length == 0) {
        return E_INVALIDARG;
    }
    if (shortMessage && length <= sizeof(entry->bytes) && entry->sysEx == nullptr) {
        entry->byteCount = static_cast<UCHAR>(length);
        RtlCopyMemory(entry->bytes, data, length);
        return S_OK;
    }
    if (entry->sysEx == nullptr) {
        entry->sysEx = CreateSysExBuffer();
        if (entry->sysEx == nullptr) {
            return E_OUTOFMEMORY;
        }
    }
    return entry->sysEx->Append(data, length);
}

LONG FifoWrite(MidiFifo* fifo, LONGLONG time, const UCHAR* bytes, ULONG count, bool complete)
{
    if (bytes == nullptr || count == 0) {
        return E_INVALIDARG;
    }
    InStackLock hold(&fifo->lock);
    if (complete) {
        WriteComplete(fifo, time, bytes, count);
    } else {
        WriteFragment(fifo, time, bytes, count);
    }
    return static_cast<LONG>(CountOf(fifo));
}

LONG FifoRead(MidiFifo* fifo, LONGLONG* time, UCHAR* buffer, ULONG capacity, ULONG* whole)
{
    if (time == nullptr || whole == nullptr || (buffer == nullptr && capacity != 0)) {
        return E_INVALIDARG;
    }
    if (FifoIsEmpty(fifo)) {
        return E_FAIL;
    }
    InStackLock hold(&fifo->lock);
    if (CountOf(fifo) == 0) {
        return E_FAIL;
    }
    MidiFifoEntry* entry = &fifo->entries[fifo->readIndex];
    *time = entry->time;
    *whole = 1;
    LONG result = 0;
    if (entry->sysEx != nullptr) {
        *whole = 0;
        SysExBuffer* sysEx = entry->sysEx;
        result = static_cast<LONG>(capacity == 0 ? 0 : sysEx->Read(buffer, capacity));
        const bool drained = sysEx->IsDrained();
        if ((!sysEx->ReadComplete() && !drained) || (drained && CountOf(fifo) < 2)) {
            return result;
        }
    } else {
        if (capacity < entry->byteCount) {
            return E_INVALIDARG;
        }
        RtlCopyMemory(buffer, entry->bytes, entry->byteCount);
        result = entry->byteCount;
    }
    ClearEntry(entry);
    StoreIndex(&fifo->readIndex, fifo->readIndex + 1);
    return result;
}

bool FifoIsEmpty(MidiFifo* fifo)
{
    return __atomic_load_n(&fifo->readIndex, __ATOMIC_ACQUIRE) ==
           __atomic_load_n(&fifo->writeIndex, __ATOMIC_ACQUIRE);
}

bool FifoHasData(MidiFifo* fifo)
{
    InStackLock hold(&fifo->lock);
    if (CountOf(fifo) == 0) {
        return false;
    }
    const MidiFifoEntry* entry = &fifo->entries[fifo->readIndex];
    return entry->sysEx == nullptr || !entry->sysEx->IsDrained();
}

void FifoFlush(MidiFifo* fifo)
{
    InStackLock hold(&fifo->lock);
    while (fifo->readIndex != fifo->writeIndex) {
        ClearEntry(&fifo->entries[fifo->readIndex]);
        StoreIndex(&fifo->readIndex, fifo->readIndex + 1);
    }
}

ULONG FifoCount(MidiFifo* fifo)
{
    InStackLock hold(&fifo->lock);
    return CountOf(fifo);
}
