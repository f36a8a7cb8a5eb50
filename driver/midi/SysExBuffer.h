// A growable chain of 256-byte chunks that collects one System Exclusive message while the USB-MIDI
// input writes it and a reader drains it, possibly at the same time. Chunks that the reader has
// used up move to the end of the chain and are written again, so a buffer read as fast as it is
// written stays at its first four chunks.
//
// Two variants share the layout: the plain byte buffer, and the SysEx buffer, whose append and
// read also watch for the end byte 0xF7. Both live in non-paged pool (object and chunk nodes
// "PcNw", data blocks "BxSw") and are callable up to DISPATCH_LEVEL; each call takes the buffer's
// own spin lock.
#pragma once

#include <wdm.h>

struct SysExChunk
{
    SysExChunk* next;
    UCHAR* data;  // kSysExChunkSize bytes
};

inline constexpr ULONG kSysExChunkSize = 256;
inline constexpr ULONG kSysExInitialChunks = 4;

class ChunkedByteBuffer
{
public:
    // Frees every chunk and the object itself.
    virtual void Destroy();
    // Stores the bytes behind those already held. 0, or E_OUTOFMEMORY when a new chunk could not be
    // had: the bytes that fitted stay stored, the rest are dropped, and nothing unread is touched.
    virtual LONG Append(const UCHAR* data, ULONG length);
    // Copies up to capacity unread bytes in order; answers how many.
    virtual ULONG Read(UCHAR* destination, ULONG capacity);

    // The reader has caught up with the writer.
    bool IsDrained();
    ULONG UnreadBytes();

    // Built in pool memory by the Create functions below only.
    ChunkedByteBuffer() = default;
    bool Initialize();

protected:
    virtual ~ChunkedByteBuffer() = default;
    LONG AppendBytes(const UCHAR* data, ULONG length, ULONG* stored);
    ULONG ReadBytes(UCHAR* destination, ULONG capacity);
    void FreeChunks();

    SysExChunk* first = nullptr;    // the read chunk
    SysExChunk* current = nullptr;  // the write chunk
    ULONG readOffset = 0;
    ULONG writeOffset = 0;
    ULONG chunkSize = kSysExChunkSize;
    KSPIN_LOCK lock = 0;
    UCHAR readComplete = 0;
    UCHAR writeComplete = 0;
    ULONG unread = 0;  // bytes stored and not yet read
};

class SysExBuffer final : public ChunkedByteBuffer
{
public:
    // As the plain buffer; writeComplete is set when the last byte appended is 0xF7.
    LONG Append(const UCHAR* data, ULONG length) override;
    // As the plain buffer; readComplete is set when the bytes read end with 0xF7.
    ULONG Read(UCHAR* destination, ULONG capacity) override;

    // A new message starts in a drained buffer: both end flags are cleared, the chunks are kept.
    void BeginMessage();

    bool ReadComplete() const { return readComplete != 0; }
    bool WriteComplete() const { return writeComplete != 0; }

protected:
    ~SysExBuffer() override = default;
};

// A new empty buffer with its first four chunks, or null when the pool has no room.
ChunkedByteBuffer* CreateByteBuffer();
SysExBuffer* CreateSysExBuffer();

// A chunk node and its data block, or null (nothing left allocated) when either fails.
SysExChunk* NewSysExChunk(ULONG chunkSize);
