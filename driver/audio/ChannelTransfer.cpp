#include "audio/ChannelTransfer.h"

#include <cstddef>
#include <cstring>

#include "audio/AudioAssert.h"
#include "audio/MonoWords.h"

namespace {

bool AllUnity(const SampleGain* gains, uint32_t count)
{
    if (gains == nullptr) {
        return true;
    }
    for (uint32_t k = 0; k < count; ++k) {
        if (gains[k] != kUnityGain) {
            return false;
        }
    }
    return true;
}

// Where channel k of a run starts, and the distance between two of its samples.
struct ChannelWalk
{
    size_t offset;
    uint32_t stride;
    uint32_t bytes;

    explicit ChannelWalk(const ChannelRun& run)
        : offset(size_t{BytesPerSample(run.format)} * run.firstChannel),
          stride(BytesPerSample(run.format) * run.channelsPerFrame),
          bytes(BytesPerSample(run.format))
    {
    }
    size_t At(uint32_t k) const { return offset + size_t{bytes} * k; }
};

}  // namespace

namespace {

// Both runs are whole frames, so channel k of frame i is sample i x channels + k on both sides:
// the run is one packed block of samples.
bool CoversWholeFrames(const ChannelRun& sourceRun, const ChannelRun& destinationRun)
{
    return sourceRun.channelsPerFrame == sourceRun.channelCount &&
           destinationRun.channelsPerFrame == destinationRun.channelCount;
}

// Picks the copy or add routine of a pair of formats once and hands it out until the formats
// change: the runs of one transfer mostly share their formats, and a run can be as short as a
// stereo pair, where selecting anew would cost a good part of moving it.
class PlainConverterCache
{
public:
    explicit PlainConverterCache(bool add) : add_(add) {}

    SampleConverter For(SampleFormatCode sourceFormat, SampleFormatCode destinationFormat)
    {
        if (converter_ == nullptr || sourceFormat != sourceFormat_ ||
            destinationFormat != destinationFormat_) {
            converter_ = SelectConverter(sourceFormat, destinationFormat, add_ ? 1 : 0);
            sourceFormat_ = sourceFormat;
            destinationFormat_ = destinationFormat;
        }
        return converter_;
    }

private:
    bool add_;
    SampleConverter converter_ = nullptr;
    SampleFormatCode sourceFormat_ = 0;
    SampleFormatCode destinationFormat_ = 0;
};

// A run at unity gain: one block copy when both sides are whole frames of one format, else the
// pair's routine once per channel.
void MoveRunAtUnity(uint32_t frames, bool add, const ChannelRun& sourceRun, const uint8_t* source,
                    const ChannelRun& destinationRun, uint8_t* destination,
                    PlainConverterCache& converters)
{
    const uint32_t channels = sourceRun.channelCount;
    const ChannelWalk from(sourceRun);
    const ChannelWalk to(destinationRun);
    if (!add && sourceRun.format == destinationRun.format &&
        sourceRun.channelsPerFrame == channels && destinationRun.channelsPerFrame == channels) {
        std::memcpy(destination, source, size_t{frames} * from.stride);
        return;
    }
    if (CoversWholeFrames(sourceRun, destinationRun)) {
        SelectPackedConverter(sourceRun.format, destinationRun.format, add ? 1 : 0)(
            source, destination, frames * channels);
        return;
    }
    const SampleConverter plain = converters.For(sourceRun.format, destinationRun.format);
    for (uint32_t k = 0; k < channels; ++k) {
        plain(source + from.At(k), from.stride, destination + to.At(k), to.stride, frames);
    }
}

// Every channel of one gain, or null when they differ.
const SampleGain* SharedGain(const SampleGain* gains, uint32_t count)
{
    for (uint32_t k = 1; k < count; ++k) {
        if (gains[k] != gains[0]) {
            return nullptr;
        }
    }
    return gains;
}

}  // namespace

int32_t TransferRun(uint32_t frames, bool add, const ChannelRun& sourceRun,
                    const void* sourceBuffer, const ChannelRun& destinationRun,
                    void* destinationBuffer, const SampleGain* gains)
{
    AUDIO_ASSERT(sourceRun.channelCount == destinationRun.channelCount);
    AUDIO_ASSERT(RunFitsInFrame(sourceRun) && RunFitsInFrame(destinationRun));
    const uint32_t channels = sourceRun.channelCount;
    if (frames == 0 || channels == 0) {
        return 0;
    }
    const uint8_t* source = static_cast<const uint8_t*>(sourceBuffer);
    uint8_t* destination = static_cast<uint8_t*>(destinationBuffer);
    PlainConverterCache converters(add);
    if (AllUnity(gains, channels)) {
        MoveRunAtUnity(frames, add, sourceRun, source, destinationRun, destination, converters);
        return 0;
    }
    if (CoversWholeFrames(sourceRun, destinationRun) && SharedGain(gains, channels) != nullptr) {
        SelectPackedGainConverter(sourceRun.format, destinationRun.format, add ? 1 : 0)(
            source, destination, frames * channels, gains[0]);
        return 0;
    }
    const ChannelWalk from(sourceRun);
    const ChannelWalk to(destinationRun);
    const SampleConverter plain = converters.For(sourceRun.format, destinationRun.format);
    const GainConverter scaled = SelectGainConverter(sourceRun.format, destinationRun.format, add);
    for (uint32_t k = 0; k < channels; ++k) {
        if (gains[k] == kUnityGain) {
            plain(source + from.At(k), from.stride, destination + to.At(k), to.stride, frames);
        } else {
            scaled(source + from.At(k), from.stride, destination + to.At(k), to.stride, frames,
                   gains[k]);
        }
    }
    return 0;
}

namespace {

// Whole lists in the same layouts, from channel 0, every channel: one block copy per buffer.
bool IsWholeListCopy(uint32_t channels, const ChannelLayoutList& sourceList,
                     uint32_t sourceStartChannel, const ChannelLayoutList& destinationList)
{
    if (sourceStartChannel != 0 || !SameLayouts(sourceList, destinationList) ||
        channels != TotalChannels(sourceList)) {
        return false;
    }
    for (uint32_t i = 0; i < sourceList.count; ++i) {
        if (sourceList.items[i].excludedCount != 0) {
            return false;
        }
    }
    return true;
}

// Every channel of one whole-frame buffer into as many mono buffers of one 4-byte format (a
// device's inputs into a low-latency client's channels): a chunk of frames at a time is converted
// as whole frames on the stack by the pair's whole-frame routine and dealt out to the channels,
// instead of one strided pass per channel. Nothing moved, and false returned, for another shape.
bool DealWholeFramesToMonoWords(uint32_t frames, uint32_t channels,
                                const ChannelLayoutList& sourceList,
                                const void* const* sourceBuffers, uint32_t sourceStartChannel,
                                const ChannelLayoutList& destinationList,
                                void* const* destinationBuffers, uint32_t destinationFrameOffset)
{
    if (sourceList.count != 1 || sourceStartChannel != 0 || sourceBuffers[0] == nullptr ||
        !AreMonoWordBuffers(destinationList, destinationBuffers, channels)) {
        return false;
    }
    const ChannelLayout& from = sourceList.items[0];
    const SampleFormatCode format = destinationList.items[0].format;
    if (from.channelCount != channels || from.excludedCount != 0 || from.excludedMask != 0) {
        return false;
    }
    const PackedConverter convert = SelectPackedConverter(from.format, format, 0);
    const auto* source = static_cast<const uint8_t*>(sourceBuffers[0]);
    const size_t sourceFrameBytes = BytesPerFrame(from);
    uint32_t chunk[kMonoWordChunk];
    const uint32_t perChunk = kMonoWordChunk / channels;
    for (uint32_t done = 0; done < frames;) {
        const uint32_t count = frames - done < perChunk ? frames - done : perChunk;
        convert(source + sourceFrameBytes * done, chunk, count * channels);
        DealMonoWords(chunk, channels, count, destinationBuffers, destinationFrameOffset + done);
        done += count;
    }
    return true;
}

}  // namespace

int32_t TransferLayouts(uint32_t frames, uint32_t channels, const ChannelLayoutList& sourceList,
                        const void* const* sourceBuffers, uint32_t sourceStartChannel,
                        const ChannelLayoutList& destinationList, void* const* destinationBuffers,
                        uint32_t destinationFrameOffset)
{
    if (frames == 0) {
        return 0;
    }
    if (IsWholeListCopy(channels, sourceList, sourceStartChannel, destinationList)) {
        for (uint32_t i = 0; i < sourceList.count; ++i) {
            if (sourceBuffers[i] != nullptr && destinationBuffers[i] != nullptr) {
                const size_t frameBytes = BytesPerFrame(sourceList.items[i]);
                std::memcpy(static_cast<uint8_t*>(destinationBuffers[i]) +
                                frameBytes * destinationFrameOffset,
                            sourceBuffers[i], frameBytes * frames);
            }
        }
        return 0;
    }
    if (DealWholeFramesToMonoWords(frames, channels, sourceList, sourceBuffers, sourceStartChannel,
                                   destinationList, destinationBuffers, destinationFrameOffset)) {
        return 0;
    }
    ChannelCursor source{};
    ChannelCursor destination{0, 0};
    AUDIO_ASSERT(sourceStartChannel < TotalChannels(sourceList) || channels == 0);
    if (!LocateChannel(sourceList, sourceStartChannel, &source)) {
        return 0;
    }
    while (destination.item < destinationList.count &&
           destinationList.items[destination.item].channelCount == 0) {
        ++destination.item;
    }
    uint32_t remaining = channels;
    uint32_t length = 0;
    PlainConverterCache converters(false);
    while (remaining != 0 &&
           PairChannelRuns(sourceList, destinationList, &source, &destination, &length)) {
        if (length > remaining) {
            length = remaining;
        }
        const ChannelLayout& from = sourceList.items[source.item];
        const ChannelLayout& to = destinationList.items[destination.item];
        const void* sourceBuffer = sourceBuffers[source.item];
        void* destinationBuffer = destinationBuffers[destination.item];
        if (sourceBuffer != nullptr && destinationBuffer != nullptr) {
            const ChannelRun sourceRun{from.format, from.channelCount, source.channel, length};
            const ChannelRun destinationRun{to.format, to.channelCount, destination.channel,
                                            length};
            AUDIO_ASSERT(RunFitsInFrame(sourceRun) && RunFitsInFrame(destinationRun));
            MoveRunAtUnity(frames, false, sourceRun, static_cast<const uint8_t*>(sourceBuffer),
                           destinationRun,
                           static_cast<uint8_t*>(destinationBuffer) +
                               size_t{BytesPerFrame(to)} * destinationFrameOffset,
                           converters);
        }
        source.channel += length;
        destination.channel += length;
        remaining -= length;
    }
    return 0;
}

int32_t MixThroughMatrix(uint32_t frames, const SampleGain* const* rowTable,
                         const ChannelRun& sourceRun, const void* sourceBuffer, uint32_t rowBase,
                         const ChannelRun& destinationRun, void* destinationBuffer,
                         uint32_t columnBase)
{
    AUDIO_ASSERT(RunFitsInFrame(sourceRun) && RunFitsInFrame(destinationRun));
    if (frames == 0 || destinationRun.channelCount == 0 || sourceRun.channelCount == 0) {
        return 0;
    }
    const SampleConverter add = SelectConverter(sourceRun.format, destinationRun.format, 1);
    const GainConverter scaledAdd = SelectGainConverter(sourceRun.format, destinationRun.format, 1);
    const uint8_t* source = static_cast<const uint8_t*>(sourceBuffer);
    uint8_t* destination = static_cast<uint8_t*>(destinationBuffer);
    const ChannelWalk from(sourceRun);
    const ChannelWalk to(destinationRun);
    for (uint32_t i = 0; i < sourceRun.channelCount; ++i) {
        const SampleGain* row = rowTable[rowBase + i] + columnBase;
        for (uint32_t j = 0; j < destinationRun.channelCount; ++j) {
            if (row[j] == kUnityGain) {
                add(source + from.At(i), from.stride, destination + to.At(j), to.stride, frames);
            } else {
                scaledAdd(source + from.At(i), from.stride, destination + to.At(j), to.stride,
                          frames, row[j]);
            }
        }
    }
    return 0;
}
