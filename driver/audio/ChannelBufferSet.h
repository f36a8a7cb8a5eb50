#pragma once
// A ring of audio frames spread over up to 32 buffers, one per ChannelLayout. Writers put frames
// in at the write index (copying or adding channel runs, or mixing through gain rows); readers
// take them out at the read index or look at a region in place. One frame always stays empty, so
// used = (write - read) mod capacity and free = capacity - used - 1.
//
// Every buffer holds capacity + guard frames: frames capacity .. capacity + guard - 1 mirror
// frames 0 .. guard - 1, so a short read starting anywhere comes out in one piece.
//
// No lock of its own: the owner serialises all access (the engine under its routing lock, a client
// stream under its own). Everything, configuration included, may run at DISPATCH_LEVEL. The set
// owns its buffers and run table, not the allocator.

#include <cstdint>

#include "audio/AudioAssert.h"
#include "audio/BufferAllocator.h"
#include "audio/ChannelLayout.h"
#include "audio/SampleConverters.h"
#include "audio/SampleFormat.h"

// One run of channels that take part, in one of the set's buffers.
struct BufferChannelRun
{
    SampleFormatCode format;
    uint32_t channelsPerFrame;
    uint32_t firstChannel;
    uint32_t channelCount;
    uint32_t bufferIndex;
};

// Two spans of frames of the ring, the second one starting at the ring's start.
struct RingSpans
{
    uint32_t index;   // where the first span starts
    uint32_t first;   // frames
    uint32_t second;  // frames
};

// Two pieces of one buffer, in bytes.
struct BufferRegion
{
    uint8_t* firstPointer;
    uint32_t firstBytes;
    uint8_t* secondPointer;  // null when secondBytes is 0 (ReadRegion)
    uint32_t secondBytes;
};

class ChannelBufferSet
{
public:
    static constexpr uint32_t kMaxBuffers = 32;

    ChannelBufferSet();
    ~ChannelBufferSet() { ReleaseBufferSet(); }
    ChannelBufferSet(const ChannelBufferSet&) = delete;
    ChannelBufferSet& operator=(const ChannelBufferSet&) = delete;

    // ---- Lifecycle -----------------------------------------------------------------------

    // An empty set that will take its memory from allocator, in sizes rounded up to granularity
    // when it is above 1.
    void InitBufferSet(BufferAllocator* allocator, uint32_t granularity);

    // count buffers of capacity + guard frames, bytesPerFrame[i] each (0 counts as 1; count 0
    // counts as 1; guardRequest 0 counts as 1, the guard is min(capacity, guardRequest) - 1).
    // Capacity 0 or 1 empties the set. Buffers big enough are kept; all are zeroed. Returns 0,
    // E_FAIL (count above 32 or no array; nothing changes) or E_OUTOFMEMORY (the set is empty).
    int32_t AllocateBuffers(uint32_t capacity, uint32_t count, const uint32_t* bytesPerFrame,
                            uint32_t guardRequest);

    // Takes count layouts (buffer i in layouts[i]), allocates the buffers and builds the run
    // table. On failure the set is empty (no buffers, layouts or runs) and the failure returned.
    int32_t ConfigureBufferSet(uint32_t capacity, uint32_t count, const ChannelLayout* layouts,
                               uint32_t guardRequest);

    // Frees the run table and every buffer.
    void ReleaseBufferSet();

    // ---- Writing: frames go in at the write index --------------------------------------------

    // Moves channels channels, from channel sourceStartChannel of the source list (each source
    // buffer read from frame sourceFrameOffset) onto the set's channels from
    // destinationStartChannel, copying or adding, then commits. Returns 0 or E_INVALIDARG.
    int32_t WriteChannels(uint32_t frames, bool add, uint32_t destinationStartChannel,
                          const ChannelLayoutList& sourceList, const void* const* sourceBuffers,
                          uint32_t sourceStartChannel, uint32_t channels,
                          uint32_t sourceFrameOffset);

    // Writes one run into buffer bufferIndex at the write index, wrapping to the buffer's start;
    // does not commit. E_INVALIDARG when the runs differ in channel count, either leaves its
    // frame, the buffer does not exist or the frames do not fit in the free space.
    int32_t WriteRun(uint32_t frames, bool add, const ChannelRun& sourceRun,
                     const void* sourceBuffer, uint32_t sourceFrameOffset,
                     const ChannelRun& destinationRun, uint32_t bufferIndex);

    // Copies whole frames, buffer by buffer (null sources skipped), then commits. E_INVALIDARG
    // when free < frames.
    int32_t WriteFrames(const void* const* sourceBuffers, uint32_t sourceFrameOffset,
                        uint32_t frames);

    // Adds up to channels source channels into every channel of the run table through gainRows
    // (row = source channel counted from the first that takes part, column = set channel
    // counted the same way), then commits. A null source buffer skips its channels but counts
    // them. Returns the result of the commit; E_INVALIDARG, nothing written, when free < frames.
    int32_t MixChannels(uint32_t frames, const ChannelLayoutList& sourceList,
                        const void* const* sourceBuffers, uint32_t channels,
                        const SampleGain* const* gainRows);

    // Places the write index at start + frames (start taken modulo capacity) and refreshes the
    // guard mirror of the frames written. Returns the new write index, or E_INVALIDARG (index
    // unchanged) when fewer than frames are free from start.
    int32_t CommitWrite(uint32_t start, uint32_t frames);

    // Silence over frames start .. start + frames (wrapping, at most capacity) in every buffer,
    // mirror included.
    void SilenceFrames(uint32_t start, uint32_t frames);

    // ---- Reading ----------------------------------------------------------------------------

    // Frames writable from `from` before reaching the read index, one left empty; from at or
    // beyond capacity (0xFFFFFFFF) means the write index.
    uint32_t FreeFrames(uint32_t from) const;
    uint32_t UsedFrames() const;
    RingSpans WritableSpans() const;
    RingSpans ReadableSpans(bool ignoreGuard, bool wholeRing) const;

    // The readable spans of buffer bufferIndex as if the read index were position, in bytes.
    // E_FAIL when position >= capacity or there is no such buffer.
    int32_t ReadRegion(uint32_t bufferIndex, uint32_t position, bool ignoreGuard, bool wholeRing,
                       BufferRegion* region) const;

    // (pointer at position, bytes to the end of the ring, buffer start, bytes before position).
    // E_FAIL when position >= capacity or there is no such buffer.
    int32_t BufferSpan(uint32_t bufferIndex, uint32_t position, BufferRegion* region) const;

    // Consumes frames. Returns the new read index, or E_INVALIDARG when force is false and
    // fewer frames are used.
    int32_t AdvanceRead(uint32_t frames, bool force);

    // Copies frames from the read index into destinations[i] (one per buffer, null skipped), then
    // advances. Returns the new read index, or E_INVALIDARG when frames >= capacity or > used.
    int32_t ReadFrames(void* const* destinations, uint32_t frames);

    // ---- State ------------------------------------------------------------------------------

    uint32_t BufferCount() const { return bufferCount_; }
    // Per buffer slot, index < kMaxBuffers; slots from BufferCount() on hold no buffer.
    uint8_t* Buffer(uint32_t index) const { return buffers_[Slot(index)]; }
    uint32_t BytesPerFrame(uint32_t index) const { return bytesPerFrame_[Slot(index)]; }
    uint32_t AllocatedBytes(uint32_t index) const { return allocatedBytes_[Slot(index)]; }
    uint32_t Capacity() const { return capacity_; }
    uint32_t Guard() const { return guard_; }
    uint32_t WriteIndex() const { return writeIndex_; }
    uint32_t ReadIndex() const { return readIndex_; }
    const ChannelLayoutList& Layouts() const { return layouts_; }
    const BufferChannelRun* RunTable() const { return runTable_; }
    uint32_t RunCount() const { return runCount_; }

private:
    // A position modulo the capacity (not 0), without a division for one already below twice it.
    uint32_t Wrap(uint32_t position) const
    {
        if (position < capacity_) {
            return position;
        }
        return position - capacity_ < capacity_ ? position - capacity_ : position % capacity_;
    }
    static uint32_t Slot(uint32_t index)
    {
        AUDIO_ASSERT(index < kMaxBuffers);
        return index;
    }
    void FreeAllBuffers();
    void FreeBuffer(uint32_t index);
    void EmptySet();
    void FreeRunTable();
    int32_t BuildRunTable();
    void MirrorGuard(uint32_t start, uint32_t frames);
    RingSpans ReadableSpansFrom(uint32_t position, bool ignoreGuard, bool wholeRing) const;
    uint8_t* FrameAddress(uint32_t bufferIndex, uint32_t frame) const;
    bool WriteMonoWordsAsFrames(uint32_t frames, bool add, uint32_t destinationStartChannel,
                                const ChannelLayoutList& sourceList,
                                const void* const* sourceBuffers, uint32_t sourceStartChannel,
                                uint32_t channels, uint32_t sourceFrameOffset);

    uint32_t bufferCount_ = 0;
    uint8_t* buffers_[kMaxBuffers] = {};
    void* handles_[kMaxBuffers] = {};
    uint32_t bytesPerFrame_[kMaxBuffers] = {};
    uint32_t capacity_ = 0;                      // frames of the ring
    uint32_t allocatedBytes_[kMaxBuffers] = {};  // size of each allocation
    uint32_t guard_ = 0;                         // frames mirrored behind the end of each buffer
    BufferAllocator* allocator_ = nullptr;       // not owned
    uint32_t granularity_ = 1;                   // bytes
    uint32_t writeIndex_ = 0;
    uint32_t readIndex_ = 0;
    ChannelLayout layoutItems_[kMaxBuffers] = {};
    ChannelLayoutList layouts_{0, layoutItems_};
    BufferChannelRun* runTable_ = nullptr;  // runCount_ entries, pool
    uint32_t runCount_ = 0;
};
