// The ring of channel buffers: space accounting, the guard mirror, wrapping reads and writes,
// channel and mixed writes, allocation reuse and allocation failures.
#include "audio/ChannelBufferSet.h"

#include <KernelTestApi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "KernelTestFixture.h"
#include "audio/DriverResult.h"
#include "audio/GainMatrix.h"

namespace {

using namespace Platform::Kernel;

constexpr ULONG kClientTag = MakeTag("ASCC");
constexpr ChannelLayout kStereo32{kSampleInt32LE, 2, 0, 0};
constexpr ChannelLayout kMono32{kSampleInt32LE, 1, 0, 0};

// Frame k of a stereo test signal: {100k, 100k + 1}.
std::vector<int32_t> StereoFrames(int32_t firstFrame, uint32_t frames)
{
    std::vector<int32_t> samples;
    for (uint32_t k = 0; k < frames; ++k) {
        samples.push_back(100 * (firstFrame + static_cast<int32_t>(k)));
        samples.push_back(100 * (firstFrame + static_cast<int32_t>(k)) + 1);
    }
    return samples;
}

class ChannelBufferSetTest : public Testing::KernelTest
{
protected:
    void SetUp() override
    {
        Testing::KernelTest::SetUp();
        set.InitBufferSet(&pool, 1);
    }
    void TearDown() override
    {
        set.ReleaseBufferSet();  // before the fixture counts what is left
        Testing::KernelTest::TearDown();
    }

    // Frames first .. first + count - 1 of buffer 0 as int32 samples (the guard included).
    std::vector<int32_t> Frames(uint32_t buffer, uint32_t first, uint32_t count) const
    {
        const uint32_t perFrame = set.BytesPerFrame(buffer) / 4;
        const int32_t* samples = reinterpret_cast<const int32_t*>(set.Buffer(buffer));
        return std::vector<int32_t>(samples + first * perFrame,
                                    samples + (first + count) * perFrame);
    }

    // Writes count frames of the stereo test signal, from signal frame `from`, into buffer 0.
    void WriteStereo(int32_t from, uint32_t count)
    {
        const std::vector<int32_t> samples = StereoFrames(from, count);
        const void* sources[ChannelBufferSet::kMaxBuffers] = {samples.data()};
        ASSERT_EQ(set.WriteFrames(sources, 0, count), 0);
    }

    PoolAllocator pool{NonPagedPool, kClientTag};
    ChannelBufferSet set;
};

TEST_F(ChannelBufferSetTest, OneFrameAlwaysStaysEmpty)
{
    ASSERT_EQ(set.ConfigureBufferSet(8, 1, &kStereo32, 0), 0);
    EXPECT_EQ(set.FreeFrames(0xFFFFFFFFu), 7u);
    EXPECT_EQ(set.UsedFrames(), 0u);
    WriteStereo(0, 7);
    EXPECT_EQ(set.UsedFrames(), 7u);
    EXPECT_EQ(set.FreeFrames(0xFFFFFFFFu), 0u);
    EXPECT_EQ(set.CommitWrite(set.WriteIndex(), 1), E_INVALIDARG);
    EXPECT_EQ(set.WriteIndex(), 7u);
    const std::vector<int32_t> more = StereoFrames(7, 1);
    const void* sources[] = {more.data()};
    EXPECT_EQ(set.WriteFrames(sources, 0, 1), E_INVALIDARG);
    EXPECT_EQ(Frames(0, 7, 1), (std::vector<int32_t>{0, 0}));  // nothing written
}

TEST_F(ChannelBufferSetTest, TheGuardMirrorsTheFirstFramesAndExtendsARead)
{
    ASSERT_EQ(set.ConfigureBufferSet(8, 1, &kStereo32, 3), 0);
    ASSERT_EQ(set.Guard(), 2u);
    EXPECT_EQ(set.AllocatedBytes(0), (8u + 2u) * 8u);
    WriteStereo(0, 6);
    ASSERT_EQ(set.AdvanceRead(6, false), 6);
    WriteStereo(6, 4);  // frames 6, 7, 0, 1
    EXPECT_EQ(set.WriteIndex(), 2u);
    EXPECT_EQ(Frames(0, 8, 2), StereoFrames(8, 2));  // the mirror of frames 0 and 1

    BufferRegion region{};
    ASSERT_EQ(set.ReadRegion(0, 6, false, false, &region), 0);
    EXPECT_EQ(region.firstBytes, 4u * 8u);
    EXPECT_EQ(region.secondBytes, 0u);
    EXPECT_EQ(region.secondPointer, nullptr);
    const int32_t* read = reinterpret_cast<const int32_t*>(region.firstPointer);
    EXPECT_EQ(std::vector<int32_t>(read, read + 8), StereoFrames(6, 4));

    // Without the guard the same data comes in two pieces.
    ASSERT_EQ(set.ReadRegion(0, 6, true, false, &region), 0);
    EXPECT_EQ(region.firstBytes, 2u * 8u);
    EXPECT_EQ(region.secondBytes, 2u * 8u);
    EXPECT_EQ(region.secondPointer, set.Buffer(0));

    // Over the whole ring the guard takes two of the five frames behind the end.
    ASSERT_EQ(set.ReadRegion(0, 6, false, true, &region), 0);
    EXPECT_EQ(region.firstBytes, 4u * 8u);
    EXPECT_EQ(region.secondBytes, 3u * 8u);
    EXPECT_EQ(region.secondPointer, set.Buffer(0) + 2 * 8);
}

TEST_F(ChannelBufferSetTest, ReadsAndWritesWrapAroundTheRing)
{
    ASSERT_EQ(set.ConfigureBufferSet(5, 1, &kStereo32, 0), 0);
    WriteStereo(0, 3);
    std::vector<int32_t> out(6);
    void* destinations[] = {out.data()};
    ASSERT_EQ(set.ReadFrames(destinations, 3), 3);
    WriteStereo(3, 4);  // frames 3, 4, 0, 1 of the ring
    EXPECT_EQ(set.WriteIndex(), 2u);
    EXPECT_EQ(set.UsedFrames(), 4u);
    out.assign(8, 0);
    destinations[0] = out.data();
    ASSERT_EQ(set.ReadFrames(destinations, 4), 2);
    EXPECT_EQ(out, StereoFrames(3, 4));
    EXPECT_EQ(set.UsedFrames(), 0u);
}

TEST_F(ChannelBufferSetTest, ReadingRefusesMoreThanIsThere)
{
    ASSERT_EQ(set.ConfigureBufferSet(8, 1, &kStereo32, 0), 0);
    WriteStereo(0, 3);
    std::vector<int32_t> out(16, 7);
    void* destinations[] = {out.data()};
    EXPECT_EQ(set.ReadFrames(destinations, 4), E_INVALIDARG);
    EXPECT_EQ(set.ReadFrames(destinations, 8), E_INVALIDARG);
    EXPECT_EQ(set.ReadFrames(destinations, 0), 0);
    EXPECT_EQ(out, std::vector<int32_t>(16, 7));
    EXPECT_EQ(set.ReadIndex(), 0u);
    EXPECT_EQ(set.AdvanceRead(4, false), E_INVALIDARG);
    EXPECT_EQ(set.AdvanceRead(0, false), 0);
    EXPECT_EQ(set.AdvanceRead(10, true), 2);  // forced, modulo the ring
}

TEST_F(ChannelBufferSetTest, SpansOfTheRing)
{
    ASSERT_EQ(set.ConfigureBufferSet(8, 1, &kStereo32, 0), 0);
    RingSpans spans = set.WritableSpans();
    EXPECT_EQ(spans.first, 7u);  // read index 0: the last frame stays empty
    EXPECT_EQ(spans.second, 0u);
    WriteStereo(0, 5);
    ASSERT_EQ(set.AdvanceRead(3, false), 3);
    spans = set.WritableSpans();
    EXPECT_EQ(spans.index, 5u);
    EXPECT_EQ(spans.first, 3u);
    EXPECT_EQ(spans.second, 2u);
    WriteStereo(5, 4);  // write index 1 < read index 3
    spans = set.WritableSpans();
    EXPECT_EQ(spans.first, 1u);
    EXPECT_EQ(spans.second, 0u);
    spans = set.ReadableSpans(true, false);
    EXPECT_EQ(spans.index, 3u);
    EXPECT_EQ(spans.first, 5u);
    EXPECT_EQ(spans.second, 1u);
    spans = set.ReadableSpans(true, true);  // up to the frame before the read index
    EXPECT_EQ(spans.first, 5u);
    EXPECT_EQ(spans.second, 2u);
    EXPECT_EQ(set.FreeFrames(1), 1u);
    EXPECT_EQ(set.FreeFrames(4), 6u);
}

TEST_F(ChannelBufferSetTest, RegionsBeyondTheRingAreRefused)
{
    ASSERT_EQ(set.ConfigureBufferSet(8, 1, &kStereo32, 0), 0);
    BufferRegion region{};
    EXPECT_EQ(set.ReadRegion(0, 8, false, false, &region), E_FAIL);
    EXPECT_EQ(set.BufferSpan(0, 8, &region), E_FAIL);
    EXPECT_EQ(set.ReadRegion(1, 0, false, false, &region), E_FAIL);
    ASSERT_EQ(set.BufferSpan(0, 3, &region), 0);
    EXPECT_EQ(region.firstPointer, set.Buffer(0) + 3 * 8);
    EXPECT_EQ(region.firstBytes, 5u * 8u);
    EXPECT_EQ(region.secondPointer, set.Buffer(0));
    EXPECT_EQ(region.secondBytes, 3u * 8u);
}

TEST_F(ChannelBufferSetTest, SilenceWrapsAndClearsTheMirror)
{
    ASSERT_EQ(set.ConfigureBufferSet(6, 1, &kStereo32, 3), 0);
    WriteStereo(1, 5);
    ASSERT_EQ(set.AdvanceRead(5, false), 5);
    WriteStereo(6, 3);         // frames 5, 0, 1; mirror 6, 7
    set.SilenceFrames(11, 2);  // 11 mod 6 = frame 5, then frame 0
    EXPECT_EQ(Frames(0, 0, 8), (std::vector<int32_t>{0, 0, 800, 801, 300, 301, 400, 401, 500, 501,
                                                     0, 0, 0, 0, 800, 801}));
}

TEST_F(ChannelBufferSetTest, CommitOfNothingOnlyPlacesTheWriteIndex)
{
    ASSERT_EQ(set.ConfigureBufferSet(8, 1, &kStereo32, 0), 0);
    EXPECT_EQ(set.CommitWrite(13, 0), 5);
    EXPECT_EQ(set.WriteIndex(), 5u);
    EXPECT_EQ(set.UsedFrames(), 5u);
}

TEST_F(ChannelBufferSetTest, WritesChannelsIntoPartOfTheSet)
{
    // The set: a stereo buffer and a mono buffer (channels 0, 1 | 2). Source: mono 16-bit.
    const ChannelLayout layouts[] = {kStereo32, kMono32};
    ASSERT_EQ(set.ConfigureBufferSet(4, 2, layouts, 0), 0);
    const ChannelLayout sourceItems[] = {{kSampleInt16LE, 1, 0, 0}, {kSampleInt16LE, 1, 0, 0}};
    const std::vector<int16_t> a = {1, 2, 3};
    const std::vector<int16_t> b = {4, 5, 6};
    const void* sources[] = {a.data(), b.data()};
    // Two channels from source channel 0, skipping its first frame, onto set channels 1 and 2.
    ASSERT_EQ(set.WriteChannels(2, false, 1, {2, sourceItems}, sources, 0, 2, 1), 0);
    EXPECT_EQ(set.WriteIndex(), 2u);
    EXPECT_EQ(Frames(0, 0, 2), (std::vector<int32_t>{0, 0x20000, 0, 0x30000}));
    EXPECT_EQ(Frames(1, 0, 2), (std::vector<int32_t>{0x50000, 0x60000}));

    // Adding across the end of the ring.
    ASSERT_EQ(set.AdvanceRead(2, false), 2);
    ASSERT_EQ(set.WriteChannels(3, true, 1, {2, sourceItems}, sources, 0, 2, 0), 0);
    EXPECT_EQ(set.WriteIndex(), 1u);
    EXPECT_EQ(Frames(1, 0, 4),
              (std::vector<int32_t>{0x50000 + 0x60000, 0x60000, 0x40000, 0x50000}));
}

// Mono buffers onto every channel of a one-buffer set are moved as whole frames, a chunk at a
// time: the ring's bytes come out as a write of each channel on its own leaves them, across the
// ring's end, chunk ends and clipping sums.
TEST_F(ChannelBufferSetTest, MonoBuffersOntoEveryChannelMatchAWriteChannelByChannel)
{
    constexpr uint32_t kCapacity = 150;
    constexpr uint32_t kAt = 100;      // the write starts here and wraps after 50 frames
    constexpr uint32_t kFrames = 141;  // two chunks of stereo frames and an odd part of one
    constexpr uint32_t kOffset = 3;    // source frames skipped
    struct Case
    {
        SampleFormatCode source;
        SampleFormatCode destination;
        uint32_t channels;
        bool add;
    };
    const Case cases[] = {{kSampleInt32LE, kSampleInt24LE, 2, true},
                          {kSampleInt32LE, kSampleInt32LE, 2, true},
                          {kSampleInt32LE, kSampleInt16LE, 3, true},
                          {kSampleLabelled24BE, kSampleInt24LE, 2, true},
                          {kSampleInt32LE, kSampleInt24LE, 2, false}};
    uint32_t seed = 12345;
    const auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed;
    };
    for (const Case& c : cases) {
        // Full-scale values often, so that sums clip both ways.
        std::vector<std::vector<uint32_t>> channelData(c.channels);
        std::vector<const void*> sources;
        for (auto& data : channelData) {
            for (uint32_t f = 0; f < kOffset + kFrames; ++f) {
                const uint32_t r = next();
                data.push_back(r % 5 == 0 ? 0x7FFFFFFFu : r % 7 == 0 ? 0x80000000u : r);
            }
            sources.push_back(data.data());
        }
        const ChannelLayout mono{c.source, 1, 0, 0};
        const std::vector<ChannelLayout> monoItems(c.channels, mono);
        const ChannelLayout ring{c.destination, c.channels, 0, 0};
        std::vector<uint8_t> before(size_t{kFrames} * BytesPerSample(c.destination) * c.channels);
        for (uint8_t& b : before) {
            b = static_cast<uint8_t>(next() >> 24);
        }
        const auto prepare = [&](ChannelBufferSet& target) {
            ASSERT_EQ(target.ConfigureBufferSet(kCapacity, 1, &ring, 0), 0);
            ASSERT_EQ(target.CommitWrite(kAt, 0), static_cast<int32_t>(kAt));
            ASSERT_EQ(target.AdvanceRead(kAt, true), static_cast<int32_t>(kAt));
            const void* prefill[] = {before.data()};
            ASSERT_EQ(target.WriteFrames(prefill, 0, kFrames), 0);
            ASSERT_EQ(target.CommitWrite(kAt, 0), static_cast<int32_t>(kAt));
        };
        ChannelBufferSet frames;     // written as whole frames
        ChannelBufferSet reference;  // written channel by channel
        frames.InitBufferSet(&pool, 1);
        reference.InitBufferSet(&pool, 1);
        prepare(frames);
        ASSERT_EQ(frames.WriteChannels(kFrames, c.add, 0, {c.channels, monoItems.data()},
                                       sources.data(), 0, c.channels, kOffset),
                  0);
        prepare(reference);
        for (uint32_t k = 0; k < c.channels; ++k) {
            ASSERT_EQ(reference.CommitWrite(kAt, 0), static_cast<int32_t>(kAt));
            ASSERT_EQ(
                reference.WriteChannels(kFrames, c.add, k, {1, &mono}, &sources[k], 0, 1, kOffset),
                0);
        }
        EXPECT_EQ(frames.WriteIndex(), (kAt + kFrames) % kCapacity);
        EXPECT_EQ(reference.WriteIndex(), frames.WriteIndex());
        const size_t bytes = size_t{kCapacity + frames.Guard()} * frames.BytesPerFrame(0);
        EXPECT_TRUE(std::equal(frames.Buffer(0), frames.Buffer(0) + bytes, reference.Buffer(0)))
            << "source " << std::hex << c.source << " into " << c.destination
            << (c.add ? ", added" : ", copied");
    }
}

TEST_F(ChannelBufferSetTest, WholeSetWritesInItsOwnLayoutCopyFrames)
{
    ASSERT_EQ(set.ConfigureBufferSet(4, 1, &kStereo32, 0), 0);
    const std::vector<int32_t> samples = StereoFrames(1, 3);
    const void* sources[] = {samples.data()};
    ASSERT_EQ(set.WriteChannels(2, false, 0, {1, &kStereo32}, sources, 0, 2, 1), 0);
    EXPECT_EQ(Frames(0, 0, 2), StereoFrames(2, 2));
    EXPECT_EQ(set.WriteChannels(2, false, 0, {1, &kStereo32}, sources, 0, 2, 0), E_INVALIDARG);
    EXPECT_EQ(set.WriteIndex(), 2u);
}

// One source item into a one-item set: source channel from + k lands on set channel to + k, across
// the end of the ring, copied or added; a start no run can begin at (32 and above) writes nothing
// but still moves the write index.
TEST_F(ChannelBufferSetTest, OneItemIntoAOneItemSetKeepsTheChannelOrder)
{
    constexpr uint32_t kSetChannels = 40;
    constexpr uint32_t kSourceChannels = 36;
    constexpr ChannelLayout kWide{kSampleInt32LE, kSetChannels, 0, 0};
    const ChannelLayout source{kSampleInt32LE, kSourceChannels, 0, 0};
    std::vector<int32_t> samples(3 * kSourceChannels);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int32_t>(i + 1) * 256;
    }
    const void* sources[] = {samples.data()};
    struct Case
    {
        uint32_t from, to, channels;
        bool add;
    };
    for (const Case c : {Case{0, 0, 36, false}, Case{3, 1, 2, false}, Case{1, 30, 10, true},
                         Case{0, 39, 1, true}, Case{34, 0, 2, false}, Case{0, 33, 2, true}}) {
        SCOPED_TRACE(testing::Message() << c.from << " to " << c.to << " x " << c.channels);
        set.ReleaseBufferSet();  // indexes back to 0
        ASSERT_EQ(set.ConfigureBufferSet(4, 1, &kWide, 0), 0);
        ASSERT_GE(set.CommitWrite(0, 2), 0);
        ASSERT_EQ(set.AdvanceRead(2, false), 2);
        const int32_t initial = c.add ? 7 * 256 : 0;
        for (uint32_t f = 0; f < 4; ++f) {
            int32_t* frame = reinterpret_cast<int32_t*>(set.Buffer(0)) + f * kSetChannels;
            std::fill(frame, frame + kSetChannels, initial);
        }
        ASSERT_EQ(set.WriteChannels(3, c.add, c.to, {1, &source}, sources, c.from, c.channels, 0),
                  0);
        EXPECT_EQ(set.WriteIndex(), 1u);
        const bool runs = c.from < 32 && c.to < 32;
        for (uint32_t f = 0; f < 3; ++f) {
            std::vector<int32_t> expected(kSetChannels, initial);
            for (uint32_t k = 0; runs && k < c.channels; ++k) {
                const int32_t moved = samples[f * kSourceChannels + c.from + k];
                expected[c.to + k] = c.add ? initial + moved : moved;
            }
            EXPECT_EQ(Frames(0, (2 + f) % 4, 1), expected) << "frame " << f;
        }
    }
}

TEST_F(ChannelBufferSetTest, ARunThatDoesNotFitIsRefused)
{
    ASSERT_EQ(set.ConfigureBufferSet(4, 1, &kStereo32, 0), 0);
    const std::vector<int32_t> samples(8, 1);
    const ChannelRun stereo{kSampleInt32LE, 2, 0, 2};
    EXPECT_EQ(set.WriteRun(1, false, stereo, samples.data(), 0, {kSampleInt32LE, 2, 1, 1}, 0),
              E_INVALIDARG);  // channel counts differ
    EXPECT_EQ(set.WriteRun(1, false, {kSampleInt32LE, 2, 1, 2}, samples.data(), 0, stereo, 0),
              E_INVALIDARG);  // leaves its frame
    EXPECT_EQ(set.WriteRun(1, false, stereo, samples.data(), 0, stereo, 1), E_INVALIDARG);
    EXPECT_EQ(set.WriteRun(1, false, stereo, samples.data(), 0, {kSampleInt32LE, 4, 0, 2}, 0),
              E_INVALIDARG);  // not the buffer's frame
    EXPECT_EQ(set.WriteRun(4, false, stereo, samples.data(), 0, stereo, 0), E_INVALIDARG);
    EXPECT_EQ(Frames(0, 0, 4), std::vector<int32_t>(8, 0));
}

TEST_F(ChannelBufferSetTest, MixesEverySourceChannelIntoEverySetChannel)
{
    // Set: stereo with channel 0 left out, then mono: set channels taking part are 1 and 2.
    const ChannelLayout layouts[] = {{kSampleInt32LE, 2, 1, 0b01}, kMono32};
    ASSERT_EQ(set.ConfigureBufferSet(4, 2, layouts, 0), 0);
    ASSERT_EQ(set.RunCount(), 2u);
    EXPECT_EQ(set.RunTable()[0].firstChannel, 1u);
    EXPECT_EQ(set.RunTable()[1].bufferIndex, 1u);

    ASSERT_EQ(set.CommitWrite(3, 0), 3);  // the mix starts on the last frame and wraps
    ASSERT_EQ(set.AdvanceRead(3, true), 3);
    const std::vector<int32_t> source = {10, 20, 30, 40};  // two stereo frames
    const ChannelLayout sourceItems[] = {kStereo32};
    const void* sources[] = {source.data()};
    const SampleGain row0[] = {kUnityGain, 0x80000000LL};
    const SampleGain row1[] = {0, kUnityGain};
    const SampleGain* rows[] = {row0, row1};
    ASSERT_EQ(set.MixChannels(2, {1, sourceItems}, sources, 2, rows), 1);
    EXPECT_EQ(Frames(0, 3, 1), (std::vector<int32_t>{0, 10}));
    EXPECT_EQ(Frames(0, 0, 1), (std::vector<int32_t>{0, 30}));
    EXPECT_EQ(Frames(1, 3, 1), (std::vector<int32_t>{5 + 20}));
    EXPECT_EQ(Frames(1, 0, 1), (std::vector<int32_t>{15 + 40}));
}

TEST_F(ChannelBufferSetTest, WritesBeyondTheFreeSpaceAreRefusedBeforeAnythingIsWritten)
{
    ASSERT_EQ(set.ConfigureBufferSet(4, 1, &kStereo32, 0), 0);
    const std::vector<int32_t> source(8, 0x1234);
    const ChannelLayout sourceItems[] = {kMono32, kMono32};
    const void* sources[] = {source.data(), source.data()};
    const SampleGain unit[] = {kUnityGain, kUnityGain};
    const SampleGain* rows[] = {unit, unit};
    EXPECT_EQ(set.WriteChannels(4, true, 0, {2, sourceItems}, sources, 0, 2, 0), E_INVALIDARG);
    EXPECT_EQ(set.MixChannels(4, {2, sourceItems}, sources, 2, rows), E_INVALIDARG);
    EXPECT_EQ(set.WriteIndex(), 0u);
    EXPECT_EQ(Frames(0, 0, 4), std::vector<int32_t>(8, 0));
}

TEST_F(ChannelBufferSetTest, MixingSkipsANullSourceButCountsItsChannels)
{
    ASSERT_EQ(set.ConfigureBufferSet(4, 1, &kMono32, 0), 0);
    const std::vector<int32_t> second = {7};
    const ChannelLayout sourceItems[] = {kMono32, kMono32};
    const void* sources[] = {nullptr, second.data()};
    const SampleGain row0[] = {kUnityGain};
    const SampleGain row1[] = {-kUnityGain};
    const SampleGain* rows[] = {row0, row1};
    ASSERT_EQ(set.MixChannels(1, {2, sourceItems}, sources, 2, rows), 1);
    EXPECT_EQ(Frames(0, 0, 1), (std::vector<int32_t>{-7}));  // row 1, not row 0
}

TEST_F(ChannelBufferSetTest, ReconfiguringIntoSmallerBuffersKeepsAndZeroesThem)
{
    const ChannelLayout layouts[] = {kStereo32, kMono32};
    ASSERT_EQ(set.ConfigureBufferSet(8, 2, layouts, 0), 0);
    uint8_t* first = set.Buffer(0);
    WriteStereo(0, 5);
    const uint64_t allocations = AllocationCount();
    ASSERT_EQ(set.ConfigureBufferSet(8, 1, layouts, 0), 0);
    EXPECT_EQ(set.Buffer(0), first);
    EXPECT_EQ(set.BufferCount(), 1u);
    EXPECT_EQ(Frames(0, 0, 5), std::vector<int32_t>(10, 0));
    ASSERT_EQ(set.ConfigureBufferSet(4, 1, &kMono32, 0), 0);
    EXPECT_EQ(set.Buffer(0), first);
    EXPECT_EQ(AllocationCount(), allocations + 2);  // only the two run tables
    // Indexes stay inside the smaller ring.
    EXPECT_LT(set.WriteIndex(), 4u);
    EXPECT_LT(set.ReadIndex(), 4u);

    // A larger one needs new buffers.
    ASSERT_EQ(set.ConfigureBufferSet(16, 1, &kStereo32, 0), 0);
    EXPECT_EQ(set.AllocatedBytes(0), 16u * 8u);
}

TEST_F(ChannelBufferSetTest, CapacityOneEmptiesTheSet)
{
    ASSERT_EQ(set.ConfigureBufferSet(8, 1, &kStereo32, 0), 0);
    const uint32_t bytes[] = {8};
    ASSERT_EQ(set.AllocateBuffers(1, 1, bytes, 0), 0);
    EXPECT_EQ(set.BufferCount(), 0u);
    EXPECT_EQ(set.Capacity(), 0u);
    EXPECT_EQ(set.Buffer(0), nullptr);
    EXPECT_EQ(set.BytesPerFrame(0), 1u);
    // Only the run table is left.
    ASSERT_EQ(OutstandingPool().size(), 1u);
    EXPECT_EQ(TagText(OutstandingPool()[0].tag), "PcNw");
}

TEST_F(ChannelBufferSetTest, AnEmptySetMovesNoData)
{
    const std::vector<int32_t> samples = StereoFrames(0, 2);
    const void* sources[] = {samples.data()};
    std::vector<int32_t> out(4, 9);
    void* destinations[] = {out.data()};
    EXPECT_EQ(set.FreeFrames(0xFFFFFFFFu), 0u);
    EXPECT_EQ(set.WriteFrames(sources, 0, 1), E_INVALIDARG);
    EXPECT_EQ(set.CommitWrite(0, 1), E_INVALIDARG);
    EXPECT_EQ(set.ReadFrames(destinations, 1), E_INVALIDARG);
    set.SilenceFrames(0, 4);
    EXPECT_EQ(set.WriteIndex(), 0u);
    EXPECT_EQ(out, std::vector<int32_t>(4, 9));
}

TEST_F(ChannelBufferSetTest, BadBufferCountsChangeNothing)
{
    ASSERT_EQ(set.ConfigureBufferSet(8, 1, &kStereo32, 0), 0);
    uint8_t* before = set.Buffer(0);
    const uint32_t bytes[33] = {};
    EXPECT_EQ(set.AllocateBuffers(8, 33, bytes, 0), E_FAIL);
    EXPECT_EQ(set.AllocateBuffers(8, 1, nullptr, 0), E_FAIL);
    EXPECT_EQ(set.Buffer(0), before);
    EXPECT_EQ(set.Capacity(), 8u);
}

TEST_F(ChannelBufferSetTest, ZeroCountsAndSizesCountAsOne)
{
    const uint32_t bytes[] = {0};
    ASSERT_EQ(set.AllocateBuffers(4, 0, bytes, 0), 0);
    EXPECT_EQ(set.BufferCount(), 1u);
    EXPECT_EQ(set.BytesPerFrame(0), 1u);
    EXPECT_EQ(set.AllocatedBytes(0), 4u);
    EXPECT_EQ(set.Guard(), 0u);
}

TEST_F(ChannelBufferSetTest, EveryFailedAllocationLeavesAnEmptySetWithoutALeak)
{
    const ChannelLayout layouts[] = {kStereo32, kMono32, kStereo32};
    bool succeeded = false;
    for (uint64_t failing = 1; !succeeded; ++failing) {
        SCOPED_TRACE(failing);
        ASSERT_LT(failing, 10u);
        FailAllocationNumber(failing);
        const int32_t result = set.ConfigureBufferSet(8, 3, layouts, 2);
        ClearAllocationFailures();
        succeeded = result == 0;
        if (!succeeded) {
            EXPECT_EQ(result, E_OUTOFMEMORY);
            EXPECT_EQ(set.BufferCount(), 0u);
            EXPECT_EQ(set.Capacity(), 0u);
            EXPECT_EQ(set.Layouts().count, 0u);
            EXPECT_EQ(set.RunCount(), 0u);
            EXPECT_EQ(set.RunTable(), nullptr);
            EXPECT_TRUE(OutstandingPool().empty());
        }
    }
    EXPECT_EQ(set.RunCount(), 3u);
    set.ReleaseBufferSet();
    EXPECT_TRUE(OutstandingPool().empty());
}

class ContiguousBufferSetTest : public Testing::KernelTest
{
};

TEST_F(ContiguousBufferSetTest, EverythingRunsAtDispatchLevel)
{
    // The owners call in under spin locks; the kernel layer stops the system if anything here
    // needs PASSIVE_LEVEL.
    ContiguousAllocator contiguous;
    ChannelBufferSet ring;
    GainMatrix matrix;
    const KIRQL old = KeRaiseIrqlToDpcLevel();
    ring.InitBufferSet(&contiguous, 0x1000);
    ASSERT_EQ(ring.ConfigureBufferSet(16, 1, &kStereo32, 4), 0);
    ASSERT_EQ(matrix.ConfigureMatrix(2, 2), 0);
    const std::vector<int32_t> samples = StereoFrames(0, 4);
    const void* sources[] = {samples.data()};
    EXPECT_EQ(ring.MixChannels(4, {1, &kStereo32}, sources, 2, matrix.RowTable()), 4);
    std::vector<int32_t> out(8);
    void* destinations[] = {out.data()};
    EXPECT_EQ(ring.ReadFrames(destinations, 4), 4);
    EXPECT_EQ(out, samples);
    matrix.ReleaseMatrix();
    ring.ReleaseBufferSet();
    KeLowerIrql(old);

    // The ring's block could not be freed at DISPATCH_LEVEL; it waits for PASSIVE_LEVEL.
    ASSERT_EQ(OutstandingPool().size(), 1u);
    EXPECT_TRUE(OutstandingPool()[0].contiguous);
    contiguous.ReleaseParkedBlocks();
    EXPECT_TRUE(OutstandingPool().empty());
}

TEST_F(ContiguousBufferSetTest, BlocksGivenBackAtDispatchLevelAreFreedLater)
{
    ContiguousAllocator contiguous;
    ChannelBufferSet ring;
    ring.InitBufferSet(&contiguous, 0x1000);
    ASSERT_EQ(ring.ConfigureBufferSet(16, 1, &kStereo32, 0), 0);
    const KIRQL old = KeRaiseIrqlToDpcLevel();
    ASSERT_EQ(ring.ConfigureBufferSet(2048, 1, &kStereo32, 0), 0);  // a larger ring: new block
    KeLowerIrql(old);
    EXPECT_EQ(OutstandingPool().size(), 3u);  // the new block, the parked one, the run table
    // The next reconfiguration at PASSIVE_LEVEL frees the parked block.
    ASSERT_EQ(ring.ConfigureBufferSet(4096, 1, &kStereo32, 0), 0);
    EXPECT_EQ(OutstandingPool().size(), 2u);
    ring.ReleaseBufferSet();
    EXPECT_TRUE(OutstandingPool().empty());
}

TEST_F(ContiguousBufferSetTest, TheAllocatorFreesWhatIsStillParkedWhenItGoes)
{
    {
        ContiguousAllocator contiguous;
        ChannelBufferSet ring;
        ring.InitBufferSet(&contiguous, 0x1000);
        ASSERT_EQ(
            ring.ConfigureBufferSet(16, 2, std::vector<ChannelLayout>(2, kStereo32).data(), 0), 0);
        const KIRQL old = KeRaiseIrqlToDpcLevel();
        ring.ReleaseBufferSet();
        KeLowerIrql(old);
        EXPECT_EQ(OutstandingPool().size(), 2u);
    }
    EXPECT_TRUE(OutstandingPool().empty());
}

TEST_F(ContiguousBufferSetTest, BuffersAreContiguousAndRoundedToPages)
{
    ContiguousAllocator contiguous;
    ChannelBufferSet ring;
    ring.InitBufferSet(&contiguous, 0x1000);
    const ChannelLayout layout{kSampleInt24LE, 2, 0, 0};
    ASSERT_EQ(ring.ConfigureBufferSet(480, 1, &layout, 400), 0);
    EXPECT_EQ(ring.AllocatedBytes(0), 0x2000u);  // (480 + 399) x 6 bytes, rounded up
    EXPECT_EQ(ring.Guard(), 399u);
    bool contiguousFound = false;
    for (const PoolBlock& block : OutstandingPool()) {
        if (block.address == ring.Buffer(0)) {
            contiguousFound = block.contiguous;
        }
    }
    EXPECT_TRUE(contiguousFound);
    const std::vector<uint8_t> zeros(0x2000, 0);
    EXPECT_EQ(std::vector<uint8_t>(ring.Buffer(0), ring.Buffer(0) + 0x2000), zeros);
    ring.ReleaseBufferSet();
    EXPECT_TRUE(OutstandingPool().empty());
}

}  // namespace
