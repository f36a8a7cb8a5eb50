#include "audio/ChannelBufferSet.h"

#include <wdm.h>

#include "audio/AudioAssert.h"
#include "audio/ChannelTransfer.h"
#include "audio/DriverResult.h"
#include "audio/MonoWords.h"
#include "audio/PoolTags.h"

namespace {

constexpr uint32_t kAtWriteIndex = 0xFFFFFFFFu;

uint32_t Min(uint32_t a, uint32_t b)
{
    return a < b ? a : b;
}

uint32_t RunFrameBytes(const ChannelRun& run)
{
    return BytesPerSample(run.format) * run.channelsPerFrame;
}

}  // namespace

ChannelBufferSet::ChannelBufferSet()
{
    for (uint32_t& bytes : bytesPerFrame_) {
        bytes = 1;
    }
}

// ---- Lifecycle ----------------------------------------------------------------------------

void ChannelBufferSet::InitBufferSet(BufferAllocator* allocator, uint32_t granularity)
{
    ReleaseBufferSet();  // whatever it held came from the previous allocator
    allocator_ = allocator;
    granularity_ = granularity;
    layouts_.count = 0;
    writeIndex_ = 0;
    readIndex_ = 0;
}

void ChannelBufferSet::FreeBuffer(uint32_t index)
{
    if (buffers_[index] != nullptr) {
        allocator_->FreeBlock(buffers_[index], handles_[index]);
    }
    buffers_[index] = nullptr;
    handles_[index] = nullptr;
    allocatedBytes_[index] = 0;
    bytesPerFrame_[index] = 1;
}

void ChannelBufferSet::FreeAllBuffers()
{
    for (uint32_t i = 0; i < kMaxBuffers; ++i) {
        FreeBuffer(i);
    }
}

void ChannelBufferSet::EmptySet()
{
    FreeAllBuffers();
    bufferCount_ = 0;
    capacity_ = 0;
    guard_ = 0;
    writeIndex_ = 0;
    readIndex_ = 0;
}

int32_t ChannelBufferSet::AllocateBuffers(uint32_t capacity, uint32_t count,
                                          const uint32_t* bytesPerFrame, uint32_t guardRequest)
{
    if (count > kMaxBuffers || bytesPerFrame == nullptr) {
        return E_FAIL;
    }
    count = count == 0 ? 1 : count;
    guardRequest = guardRequest == 0 ? 1 : guardRequest;
    if (capacity <= 1) {
        EmptySet();
        return 0;
    }
    for (uint32_t i = count; i < bufferCount_; ++i) {
        FreeBuffer(i);
    }

    const uint32_t g = Min(capacity, guardRequest);
    uint32_t frameBytes[kMaxBuffers];
    uint32_t sizes[kMaxBuffers];
    bool reallocate = count > bufferCount_;
    for (uint32_t i = 0; i < count; ++i) {
        frameBytes[i] = bytesPerFrame[i] == 0 ? 1 : bytesPerFrame[i];
        uint64_t size = (uint64_t{capacity} + g - 1) * frameBytes[i];
        if (granularity_ > 1) {
            size = (size + granularity_ - 1) / granularity_ * granularity_;
        }
        if (size > 0xFFFFFFFFu) {
            EmptySet();  // no allocation of this size can succeed
            return E_OUTOFMEMORY;
        }
        sizes[i] = static_cast<uint32_t>(size);
        if (i < bufferCount_ && allocatedBytes_[i] < sizes[i]) {
            reallocate = true;
        }
    }
    if (reallocate) {
        FreeAllBuffers();
        for (uint32_t i = 0; i < count; ++i) {
            void* handle = nullptr;
            void* block = allocator_->AllocateBlock(sizes[i], &handle);
            if (block == nullptr) {
                EmptySet();
                return E_OUTOFMEMORY;
            }
            buffers_[i] = static_cast<uint8_t*>(block);
            handles_[i] = handle;
            allocatedBytes_[i] = sizes[i];
        }
    }
    bufferCount_ = count;
    capacity_ = capacity;
    guard_ = g - 1;
    for (uint32_t i = 0; i < count; ++i) {
        bytesPerFrame_[i] = frameBytes[i];
        RtlZeroMemory(buffers_[i], allocatedBytes_[i]);
    }
    // Indexes left from a larger ring would point past the new one.
    writeIndex_ %= capacity_;
    readIndex_ %= capacity_;
    return 0;
}

int32_t ChannelBufferSet::ConfigureBufferSet(uint32_t capacity, uint32_t count,
                                             const ChannelLayout* layouts, uint32_t guardRequest)
{
    AUDIO_ASSERT(count <= kMaxBuffers);
    if (count > kMaxBuffers || (count != 0 && layouts == nullptr)) {
        return E_FAIL;
    }
    FreeRunTable();
    uint32_t frameBytes[kMaxBuffers];
    for (uint32_t i = 0; i < kMaxBuffers; ++i) {
        frameBytes[i] = 1;
    }
    for (uint32_t i = 0; i < count; ++i) {
        layoutItems_[i] = layouts[i];
        frameBytes[i] = ::BytesPerFrame(layouts[i]);
    }
    layouts_.count = count;
    int32_t result = AllocateBuffers(capacity, count, frameBytes, guardRequest);
    if (result >= 0) {
        result = BuildRunTable();
    }
    if (result < 0) {
        EmptySet();
        layouts_.count = 0;
    }
    return result;
}

void ChannelBufferSet::FreeRunTable()
{
    if (runTable_ != nullptr) {
        ExFreePoolWithTag(runTable_, kChannelTablesTag);
    }
    runTable_ = nullptr;
    runCount_ = 0;
}

int32_t ChannelBufferSet::BuildRunTable()
{
    FreeRunTable();
    uint32_t runs = 0;
    ChannelSpan span{};
    for (uint32_t j = 0; j < layouts_.count; ++j) {
        for (uint32_t from = 0; NextChannelRun(layoutItems_[j], from, &span);
             from = span.start + span.length) {
            ++runs;
        }
    }
    if (runs == 0) {
        return 0;
    }
    runTable_ = static_cast<BufferChannelRun*>(ExAllocatePoolWithTag(
        NonPagedPool, SIZE_T{runs} * sizeof(BufferChannelRun), kChannelTablesTag));
    if (runTable_ == nullptr) {
        return E_OUTOFMEMORY;
    }
    for (uint32_t j = 0; j < layouts_.count; ++j) {
        const ChannelLayout& layout = layoutItems_[j];
        for (uint32_t from = 0; NextChannelRun(layout, from, &span);
             from = span.start + span.length) {
            runTable_[runCount_++] = {layout.format, layout.channelCount, span.start, span.length,
                                      j};
        }
    }
    return 0;
}

void ChannelBufferSet::ReleaseBufferSet()
{
    FreeRunTable();
    EmptySet();
}

// ---- Writing ------------------------------------------------------------------------------

namespace {

// Both lists are one item with every channel taking part, and the channels wanted lie in both,
// from a channel a run can start at (below 32).
bool IsSingleRun(const ChannelLayoutList& sourceList, uint32_t sourceStartChannel,
                 const ChannelLayoutList& destinationList, uint32_t destinationStartChannel,
                 uint32_t channels)
{
    if (sourceList.count != 1 || destinationList.count != 1 || channels == 0 ||
        sourceStartChannel >= 32 || destinationStartChannel >= 32) {
        return false;
    }
    const ChannelLayout& from = sourceList.items[0];
    const ChannelLayout& to = destinationList.items[0];
    return from.excludedCount == 0 && from.excludedMask == 0 && to.excludedCount == 0 &&
           to.excludedMask == 0 && uint64_t{sourceStartChannel} + channels <= from.channelCount &&
           uint64_t{destinationStartChannel} + channels <= to.channelCount;
}

}  // namespace

// Mono buffers onto every channel of a set of one buffer (a low-latency client's channels into a
// bus or the device's ring): a chunk of frames at a time is put together as whole frames on the
// stack, so the pair's routine moves each chunk in one pass instead of one strided pass per
// channel. Nothing is written, and false returned, when the transfer has another shape.
bool ChannelBufferSet::WriteMonoWordsAsFrames(uint32_t frames, bool add,
                                              uint32_t destinationStartChannel,
                                              const ChannelLayoutList& sourceList,
                                              const void* const* sourceBuffers,
                                              uint32_t sourceStartChannel, uint32_t channels,
                                              uint32_t sourceFrameOffset)
{
    if (bufferCount_ != 1 || layouts_.count != 1 || destinationStartChannel != 0 ||
        sourceStartChannel != 0 || !AreMonoWordBuffers(sourceList, sourceBuffers, channels)) {
        return false;
    }
    const ChannelLayout& to = layoutItems_[0];
    const ChannelRun sourceRun{sourceList.items[0].format, channels, 0, channels};
    const ChannelRun destinationRun{to.format, to.channelCount, 0, channels};
    if (to.excludedCount != 0 || to.excludedMask != 0 || to.channelCount != channels ||
        RunFrameBytes(destinationRun) != bytesPerFrame_[0]) {
        return false;
    }
    uint32_t chunk[kMonoWordChunk];
    const uint32_t perChunk = kMonoWordChunk / channels;
    const uint32_t beforeWrap = Min(frames, WritableSpans().first);
    const SIZE_T frameBytes = bytesPerFrame_[0];
    for (uint32_t done = 0; done < frames;) {
        const uint32_t count = Min(perChunk, frames - done);
        InterleaveMonoWords(sourceBuffers, channels, sourceFrameOffset + done, count, chunk);
        // The part before the ring's end, then the part from its start.
        const uint32_t first = done < beforeWrap ? Min(count, beforeWrap - done) : 0;
        if (first != 0) {
            TransferRun(first, add, sourceRun, chunk, destinationRun,
                        FrameAddress(0, writeIndex_) + frameBytes * done, nullptr);
        }
        if (first != count) {
            TransferRun(count - first, add, sourceRun, chunk + first * channels, destinationRun,
                        buffers_[0] + frameBytes * (done + first - beforeWrap), nullptr);
        }
        done += count;
    }
    return true;
}

uint8_t* ChannelBufferSet::FrameAddress(uint32_t bufferIndex, uint32_t frame) const
{
    return buffers_[bufferIndex] + SIZE_T{frame} * bytesPerFrame_[bufferIndex];
}

int32_t ChannelBufferSet::WriteChannels(uint32_t frames, bool add, uint32_t destinationStartChannel,
                                        const ChannelLayoutList& sourceList,
                                        const void* const* sourceBuffers,
                                        uint32_t sourceStartChannel, uint32_t channels,
                                        uint32_t sourceFrameOffset)
{
    if (frames > FreeFrames(kAtWriteIndex)) {
        return E_INVALIDARG;  // would overwrite unread frames
    }
    if (!add && destinationStartChannel == 0 && sourceStartChannel == 0 &&
        SameLayouts(sourceList, layouts_) && channels == TotalChannels(layouts_)) {
        bool anyExcluded = false;
        for (uint32_t i = 0; i < layouts_.count; ++i) {
            anyExcluded = anyExcluded || layoutItems_[i].excludedCount != 0;
        }
        if (!anyExcluded) {
            return WriteFrames(sourceBuffers, sourceFrameOffset, frames);
        }
    }
    if (IsSingleRun(sourceList, sourceStartChannel, layouts_, destinationStartChannel, channels)) {
        // One run on each side, as a stream into the mix bus mostly is: the pairing below would
        // find just this one.
        const ChannelLayout& from = sourceList.items[0];
        const ChannelLayout& to = layoutItems_[0];
        int32_t result = 0;
        if (sourceBuffers[0] != nullptr) {
            result = WriteRun(frames, add,
                              {from.format, from.channelCount, sourceStartChannel, channels},
                              sourceBuffers[0], sourceFrameOffset,
                              {to.format, to.channelCount, destinationStartChannel, channels}, 0);
        }
        CommitWrite(writeIndex_, frames);
        return result;
    }
    if (WriteMonoWordsAsFrames(frames, add, destinationStartChannel, sourceList, sourceBuffers,
                               sourceStartChannel, channels, sourceFrameOffset)) {
        CommitWrite(writeIndex_, frames);
        return 0;
    }
    int32_t result = 0;
    ChannelCursor source{};
    ChannelCursor destination{};
    if (LocateChannel(sourceList, sourceStartChannel, &source) &&
        LocateChannel(layouts_, destinationStartChannel, &destination)) {
        uint32_t remaining = channels;
        uint32_t length = 0;
        while (remaining != 0 &&
               PairChannelRuns(sourceList, layouts_, &source, &destination, &length)) {
            length = Min(length, remaining);
            const ChannelLayout& from = sourceList.items[source.item];
            const ChannelLayout& to = layoutItems_[destination.item];
            if (sourceBuffers[source.item] != nullptr) {
                result = WriteRun(
                    frames, add, {from.format, from.channelCount, source.channel, length},
                    sourceBuffers[source.item], sourceFrameOffset,
                    {to.format, to.channelCount, destination.channel, length}, destination.item);
                if (result < 0) {
                    break;
                }
            }
            source.channel += length;
            destination.channel += length;
            remaining -= length;
        }
    }
    CommitWrite(writeIndex_, frames);
    return result;
}

int32_t ChannelBufferSet::WriteRun(uint32_t frames, bool add, const ChannelRun& sourceRun,
                                   const void* sourceBuffer, uint32_t sourceFrameOffset,
                                   const ChannelRun& destinationRun, uint32_t bufferIndex)
{
    if (sourceRun.channelCount != destinationRun.channelCount || !RunFitsInFrame(sourceRun) ||
        !RunFitsInFrame(destinationRun) || bufferIndex >= bufferCount_ ||
        RunFrameBytes(destinationRun) != bytesPerFrame_[bufferIndex] ||
        frames > FreeFrames(kAtWriteIndex)) {
        return E_INVALIDARG;
    }
    const SIZE_T sourceFrameBytes = RunFrameBytes(sourceRun);
    const uint8_t* source =
        static_cast<const uint8_t*>(sourceBuffer) + sourceFrameBytes * sourceFrameOffset;
    const uint32_t first = Min(frames, WritableSpans().first);
    TransferRun(first, add, sourceRun, source, destinationRun,
                FrameAddress(bufferIndex, writeIndex_), nullptr);
    TransferRun(frames - first, add, sourceRun, source + sourceFrameBytes * first, destinationRun,
                buffers_[bufferIndex], nullptr);
    return 0;
}

int32_t ChannelBufferSet::WriteFrames(const void* const* sourceBuffers, uint32_t sourceFrameOffset,
                                      uint32_t frames)
{
    if (frames > FreeFrames(kAtWriteIndex)) {
        return E_INVALIDARG;
    }
    const uint32_t first = Min(frames, capacity_ - writeIndex_);
    for (uint32_t i = 0; i < bufferCount_; ++i) {
        if (sourceBuffers[i] == nullptr) {
            continue;
        }
        const SIZE_T frameBytes = bytesPerFrame_[i];
        const uint8_t* source =
            static_cast<const uint8_t*>(sourceBuffers[i]) + frameBytes * sourceFrameOffset;
        RtlCopyMemory(FrameAddress(i, writeIndex_), source, frameBytes * first);
        RtlCopyMemory(buffers_[i], source + frameBytes * first, frameBytes * (frames - first));
    }
    const int32_t committed = CommitWrite(writeIndex_, frames);
    return committed < 0 ? committed : 0;
}

int32_t ChannelBufferSet::MixChannels(uint32_t frames, const ChannelLayoutList& sourceList,
                                      const void* const* sourceBuffers, uint32_t channels,
                                      const SampleGain* const* gainRows)
{
    if (frames > FreeFrames(kAtWriteIndex)) {
        return E_INVALIDARG;
    }
    const uint32_t first = Min(frames, WritableSpans().first);
    uint32_t rowBase = 0;
    uint32_t remaining = channels;
    for (uint32_t item = 0; item < sourceList.count && remaining != 0 && frames != 0; ++item) {
        const ChannelLayout& layout = sourceList.items[item];
        const uint8_t* source = static_cast<const uint8_t*>(sourceBuffers[item]);
        const SIZE_T sourceFrameBytes = ::BytesPerFrame(layout);
        ChannelSpan span{};
        for (uint32_t from = 0; remaining != 0 && NextChannelRun(layout, from, &span);
             from = span.start + span.length) {
            const uint32_t length = Min(span.length, remaining);
            if (source != nullptr) {
                const ChannelRun sourceRun{layout.format, layout.channelCount, span.start, length};
                uint32_t columnBase = 0;
                for (uint32_t e = 0; e < runCount_; ++e) {
                    const BufferChannelRun& entry = runTable_[e];
                    const ChannelRun destinationRun{entry.format, entry.channelsPerFrame,
                                                    entry.firstChannel, entry.channelCount};
                    MixThroughMatrix(first, gainRows, sourceRun, source, rowBase, destinationRun,
                                     FrameAddress(entry.bufferIndex, writeIndex_), columnBase);
                    MixThroughMatrix(frames - first, gainRows, sourceRun,
                                     source + sourceFrameBytes * first, rowBase, destinationRun,
                                     buffers_[entry.bufferIndex], columnBase);
                    columnBase += entry.channelCount;
                }
            }
            rowBase += length;
            remaining -= length;
        }
    }
    return CommitWrite(writeIndex_, frames);
}

void ChannelBufferSet::MirrorGuard(uint32_t start, uint32_t frames)
{
    if (start >= guard_ && start + frames <= capacity_) {
        return;  // neither the frames nor a wrap of them lie below the guard
    }
    // The frames start .. start + frames (wrapping once at most) that lie below the guard.
    const uint32_t end = start + frames;  // < 2 x capacity
    uint32_t pieces[2][2] = {{start, Min(end, capacity_)},
                             {0, end > capacity_ ? end - capacity_ : 0}};
    for (auto& piece : pieces) {
        const uint32_t from = piece[0];
        const uint32_t to = Min(piece[1], guard_);
        if (from >= to) {
            continue;
        }
        for (uint32_t i = 0; i < bufferCount_; ++i) {
            RtlCopyMemory(FrameAddress(i, capacity_ + from), FrameAddress(i, from),
                          SIZE_T{to - from} * bytesPerFrame_[i]);
        }
    }
}

int32_t ChannelBufferSet::CommitWrite(uint32_t start, uint32_t frames)
{
    if (capacity_ == 0) {
        return frames == 0 ? 0 : E_INVALIDARG;
    }
    start = Wrap(start);
    if (FreeFrames(start) < frames) {
        return E_INVALIDARG;
    }
    MirrorGuard(start, frames);
    writeIndex_ = Wrap(start + frames);  // both below the capacity: no overflow
    return static_cast<int32_t>(writeIndex_);
}

void ChannelBufferSet::SilenceFrames(uint32_t start, uint32_t frames)
{
    if (capacity_ == 0) {
        return;
    }
    start %= capacity_;
    frames = Min(frames, capacity_);
    const uint32_t first = Min(frames, capacity_ - start);
    for (uint32_t i = 0; i < bufferCount_; ++i) {
        RtlZeroMemory(FrameAddress(i, start), SIZE_T{first} * bytesPerFrame_[i]);
        RtlZeroMemory(buffers_[i], SIZE_T{frames - first} * bytesPerFrame_[i]);
    }
    MirrorGuard(start, frames);
}

// ---- Reading ------------------------------------------------------------------------------

uint32_t ChannelBufferSet::UsedFrames() const
{
    return capacity_ == 0 ? 0 : Wrap(writeIndex_ + capacity_ - readIndex_);
}

uint32_t ChannelBufferSet::FreeFrames(uint32_t from) const
{
    if (capacity_ == 0) {
        return 0;
    }
    if (from >= capacity_) {
        return capacity_ - UsedFrames() - 1;
    }
    return (from < readIndex_ ? readIndex_ : capacity_ + readIndex_) - from - 1;
}

RingSpans ChannelBufferSet::WritableSpans() const
{
    if (capacity_ == 0) {
        return {0, 0, 0};
    }
    if (writeIndex_ < readIndex_) {
        return {writeIndex_, readIndex_ - writeIndex_ - 1, 0};
    }
    if (readIndex_ == 0) {
        return {writeIndex_, capacity_ - writeIndex_ - 1, 0};
    }
    return {writeIndex_, capacity_ - writeIndex_, readIndex_ - 1};
}

RingSpans ChannelBufferSet::ReadableSpansFrom(uint32_t position, bool ignoreGuard,
                                              bool wholeRing) const
{
    if (capacity_ == 0) {
        return {0, 0, 0};
    }
    const uint32_t end = wholeRing ? (position == 0 ? capacity_ - 1 : position - 1) : writeIndex_;
    RingSpans spans{position, 0, 0};
    if (end == position) {
        return spans;
    }
    if (position < end) {
        spans.first = end - position;
    } else {
        spans.first = capacity_ - position;
        spans.second = end;
    }
    if (!ignoreGuard) {
        const uint32_t moved = Min(guard_, spans.second);
        spans.first += moved;
        spans.second -= moved;
    }
    return spans;
}

RingSpans ChannelBufferSet::ReadableSpans(bool ignoreGuard, bool wholeRing) const
{
    return ReadableSpansFrom(readIndex_, ignoreGuard, wholeRing);
}

int32_t ChannelBufferSet::ReadRegion(uint32_t bufferIndex, uint32_t position, bool ignoreGuard,
                                     bool wholeRing, BufferRegion* region) const
{
    if (position >= capacity_ || bufferIndex >= bufferCount_) {
        return E_FAIL;
    }
    const RingSpans spans = ReadableSpansFrom(position, ignoreGuard, wholeRing);
    const uint32_t frameBytes = bytesPerFrame_[bufferIndex];
    region->firstPointer = FrameAddress(bufferIndex, position);
    region->firstBytes = spans.first * frameBytes;
    region->secondBytes = spans.second * frameBytes;
    region->secondPointer = spans.second == 0 ? nullptr
                            : ignoreGuard     ? buffers_[bufferIndex]
                                              : FrameAddress(bufferIndex, guard_);
    return 0;
}

int32_t ChannelBufferSet::BufferSpan(uint32_t bufferIndex, uint32_t position,
                                     BufferRegion* region) const
{
    if (position >= capacity_ || bufferIndex >= bufferCount_) {
        return E_FAIL;
    }
    const uint32_t frameBytes = bytesPerFrame_[bufferIndex];
    region->firstPointer = FrameAddress(bufferIndex, position);
    region->firstBytes = (capacity_ - position) * frameBytes;
    region->secondPointer = buffers_[bufferIndex];
    region->secondBytes = position * frameBytes;
    return 0;
}

int32_t ChannelBufferSet::AdvanceRead(uint32_t frames, bool force)
{
    if (frames == 0) {
        return static_cast<int32_t>(readIndex_);
    }
    if (capacity_ == 0 || (!force && UsedFrames() < frames)) {
        return E_INVALIDARG;
    }
    readIndex_ = static_cast<uint32_t>((uint64_t{readIndex_} + frames) % capacity_);
    return static_cast<int32_t>(readIndex_);
}

int32_t ChannelBufferSet::ReadFrames(void* const* destinations, uint32_t frames)
{
    if (frames >= capacity_ || frames > UsedFrames()) {
        return E_INVALIDARG;
    }
    const uint32_t first = Min(frames, capacity_ - readIndex_);
    for (uint32_t i = 0; i < bufferCount_; ++i) {
        if (destinations[i] == nullptr) {
            continue;
        }
        const SIZE_T frameBytes = bytesPerFrame_[i];
        uint8_t* destination = static_cast<uint8_t*>(destinations[i]);
        RtlCopyMemory(destination, FrameAddress(i, readIndex_), frameBytes * first);
        RtlCopyMemory(destination + frameBytes * first, buffers_[i], frameBytes * (frames - first));
    }
    return AdvanceRead(frames, false);
}
