// The client stream: the consumer's buffers filled in its format period by period, the ring
// that holds what arrives while a buffer is full, frames that found no room, and the states.
#include <algorithm>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "KernelTestFixture.h"
#include "StreamTestSupport.h"
#include "audio/DriverResult.h"
#include "device/StreamConfiguration.h"
#include "engine/ClientStream.h"
#include "engine/StreamInterfaces.h"

namespace {

using Platform::Kernel::Testing::KernelTest;

using RecordingOwner = StreamTest::RecordingClient;

// Interleaved stereo input whose samples count up: frame f carries (base + f) * 2 and
// (base + f) * 2 + 1.
class InputPeriod
{
public:
    InputPeriod(ULONG frames, int32_t base) : samples(frames * 2)
    {
        for (ULONG f = 0; f < frames; ++f) {
            samples[f * 2] = (base + static_cast<int32_t>(f)) * 2;
            samples[f * 2 + 1] = (base + static_cast<int32_t>(f)) * 2 + 1;
        }
        pointers[0] = samples.data();
    }
    PVOID pointers[1];

private:
    std::vector<int32_t> samples;
};

// One consumer buffer per channel, prefilled with a marker no input carries.
struct ConsumerBuffer
{
    explicit ConsumerBuffer(ULONG frames) : left(frames, kStale), right(frames, kStale)
    {
        pointers[0] = left.data();
        pointers[1] = right.data();
    }
    static constexpr int32_t kStale = 0x55555555;
    std::vector<int32_t> left;
    std::vector<int32_t> right;
    PVOID pointers[2];
};

class ClientStreamTest : public KernelTest
{
protected:
    void SetUp() override
    {
        KernelTest::SetUp();
        stream = ConstructClientStream(memory, &owner);
    }
    void TearDown() override
    {
        DestroyClientStream(stream);
        KernelTest::TearDown();
    }
    // Configured for 64-frame buffers of 4-byte samples, one per channel, running, first buffer
    // given.
    void StartWith(ConsumerBuffer& buffer, ULONG frames = 64)
    {
        ASSERT_EQ(stream->SetCaptureFormat(&configuration, frames, 4, 0, 0), 0);
        stream->Run(true);
        ASSERT_EQ(stream->NextCaptureBuffer(buffer.pointers, 0), 0);
    }

    StreamConfiguration configuration = StreamTest::StereoInputConfiguration(3);
    RecordingOwner owner;
    alignas(ClientStream) unsigned char memory[sizeof(ClientStream)];
    ClientStream* stream = nullptr;
};

TEST_F(ClientStreamTest, ConstructedStreamIsEmptyAndStopped)
{
    EXPECT_EQ(stream->magic, kStreamObjectMagic);
    EXPECT_EQ(stream->configurationIndex, -1);
    EXPECT_EQ(stream->outputPosition, -1);
    EXPECT_EQ(stream->fill, kNoCaptureBuffer);
    EXPECT_EQ(stream->format, 0u);
    EXPECT_EQ(stream->running, 0);
    PVOID none[2] = {};
    EXPECT_EQ(stream->NextCaptureBuffer(none, 64), E_FAIL) << "no format yet";
}

TEST_F(ClientStreamTest, CaptureFormatDescribesTheConsumerBuffers)
{
    ASSERT_EQ(stream->SetCaptureFormat(&configuration, 64, 3, 0, 1), 0);
    EXPECT_EQ(stream->format, kSampleInt24LE);
    EXPECT_EQ(stream->configurationIndex, 3);
    EXPECT_EQ(stream->channels, 2u);
    EXPECT_EQ(stream->layouts.count, 2u) << "one mono buffer per input channel";
    EXPECT_EQ(stream->ring.Capacity(), kCaptureRingMinimumFrames);

    ASSERT_EQ(stream->SetCaptureFormat(&configuration, 1000, 2, 2, 0), 0);
    EXPECT_EQ(stream->format, kSampleInt16LE);
    EXPECT_EQ(stream->interleaved, 1);
    EXPECT_EQ(stream->layouts.count, 1u);
    EXPECT_EQ(stream->layouts.items[0].channelCount, 2u);
    EXPECT_EQ(stream->ring.Capacity(), 1000u) << "the ring holds a whole buffer at least";

    struct BadFormat
    {
        const char* name;
        ULONG frames;
        ULONG bytes;
    };
    for (const BadFormat& bad : {BadFormat{"no frames", 0, 4}, BadFormat{"one byte", 64, 1},
                                 BadFormat{"five bytes", 64, 5}}) {
        EXPECT_EQ(stream->SetCaptureFormat(&configuration, bad.frames, bad.bytes, 0, 0),
                  E_INVALIDARG)
            << bad.name;
    }
    EXPECT_EQ(stream->format, kSampleInt16LE) << "a refused format changes nothing";

    stream->Run(true);
    EXPECT_EQ(stream->SetCaptureFormat(&configuration, 64, 4, 0, 0), E_FAIL);
}

// The first channel is the consumer's: one that is not a device input is refused up front
// rather than every buffer being handed over untouched as captured.
TEST_F(ClientStreamTest, FirstChannelBeyondTheInputsIsRefused)
{
    struct Case
    {
        const char* name;
        ULONG interleavedChannels;
        ULONG firstChannel;
        LONG expected;
    };
    for (const Case& c :
         {Case{"last input channel", 1, 1, 0}, Case{"one past, interleaved", 2, 2, E_INVALIDARG},
          Case{"one past, per channel", 0, 2, E_INVALIDARG},
          Case{"far past", 1, 0xFFFFFFFF, E_INVALIDARG}}) {
        EXPECT_EQ(
            stream->SetCaptureFormat(&configuration, 64, 4, c.interleavedChannels, c.firstChannel),
            c.expected)
            << c.name;
    }
    EXPECT_EQ(stream->startChannel, 1u) << "a refused format changes nothing";

    // Without device inputs there is nothing to point past: the period answers 1 instead.
    StreamConfiguration outputOnly = StreamTest::StereoConfiguration(3);
    EXPECT_EQ(stream->SetCaptureFormat(&outputOnly, 64, 4, 2, 0), 0);
}

TEST_F(ClientStreamTest, PeriodErrorsAndEmptyAnswers)
{
    ConsumerBuffer buffer(64);
    ASSERT_EQ(stream->SetCaptureFormat(&configuration, 64, 4, 0, 0), 0);
    InputPeriod input(10, 0);
    EXPECT_EQ(stream->CapturePeriod(10, input.pointers, 3), E_FAIL) << "stopped";
    StartWith(buffer);
    EXPECT_EQ(stream->CapturePeriod(10, input.pointers, 4), E_FAIL) << "another configuration";
    EXPECT_EQ(stream->CapturePeriod(10, nullptr, 3), E_FAIL) << "no inputs";
    EXPECT_EQ(stream->CapturePeriod(0, input.pointers, 3), 0);
    EXPECT_EQ(stream->fill, 0u);

    constexpr ChannelLayout kNothingUsable[] = {{kSampleInt32LE, 2, 2, 3}};
    stream->deviceInputs = {1, kNothingUsable};
    EXPECT_EQ(stream->CapturePeriod(10, input.pointers, 3), 1);
    EXPECT_EQ(stream->fill, 0u);
    EXPECT_EQ(owner.periods, 0);
}

// 100 frames into an empty 64-frame buffer: 64 go to the buffer, the owner hears once, 36 wait
// in the ring and start the next buffer.
TEST_F(ClientStreamTest, FramesBeyondTheBufferStartTheNextOne)
{
    ConsumerBuffer first(64);
    StartWith(first);
    InputPeriod input(100, 0);
    EXPECT_EQ(stream->CapturePeriod(100, input.pointers, 3), 100);
    EXPECT_EQ(owner.periods, 1);
    EXPECT_EQ(stream->ring.UsedFrames(), 36u);
    for (int32_t f = 0; f < 64; ++f) {
        ASSERT_EQ(first.left[f], f * 2) << f;
        ASSERT_EQ(first.right[f], f * 2 + 1) << f;
    }

    ConsumerBuffer second(64);
    ASSERT_EQ(stream->NextCaptureBuffer(second.pointers, 0), 0);
    EXPECT_EQ(stream->fill, 36u);
    InputPeriod next(28, 100);
    EXPECT_EQ(stream->CapturePeriod(28, next.pointers, 3), 28);
    EXPECT_EQ(owner.periods, 2);
    for (int32_t f = 0; f < 64; ++f) {
        ASSERT_EQ(second.left[f], (64 + f) * 2) << "frame " << f << " continues the first buffer";
        ASSERT_EQ(second.right[f], (64 + f) * 2 + 1) << f;
    }
}

TEST_F(ClientStreamTest, NextBufferWhileFillingIsRefused)
{
    ConsumerBuffer first(64);
    StartWith(first);
    InputPeriod input(10, 0);
    ASSERT_EQ(stream->CapturePeriod(10, input.pointers, 3), 10);
    ConsumerBuffer second(64);
    EXPECT_EQ(stream->NextCaptureBuffer(second.pointers, 0), E_FAIL);
    EXPECT_EQ(stream->userBuffers, first.pointers) << "the old buffer keeps filling";
    EXPECT_EQ(stream->fill, 10u);
    EXPECT_EQ(stream->NextCaptureBuffer(nullptr, 0), E_INVALIDARG);
}

// A full buffer is announced every period unless the stream manager keeps the stream.
TEST_F(ClientStreamTest, FullBufferIsAnnouncedAgainUnlessManaged)
{
    ConsumerBuffer buffer(64);
    StartWith(buffer);
    InputPeriod input(64, 0);
    ASSERT_EQ(stream->CapturePeriod(64, input.pointers, 3), 64);
    EXPECT_EQ(owner.periods, 1);
    ASSERT_EQ(stream->CapturePeriod(10, input.pointers, 3), 10);
    EXPECT_EQ(owner.periods, 2);
    stream->managerFlag = 1;
    ASSERT_EQ(stream->CapturePeriod(10, input.pointers, 3), 10);
    EXPECT_EQ(owner.periods, 2);
    EXPECT_EQ(stream->ring.UsedFrames(), 20u);
}

// Frames that found no room count for timing and reach the consumer as silence, never as what
// its buffer held before.
TEST_F(ClientStreamTest, OverflowIsReportedAndDeliveredAsSilence)
{
    ConsumerBuffer first(64);
    StartWith(first);
    InputPeriod fills(64, 0);
    ASSERT_EQ(stream->CapturePeriod(64, fills.pointers, 3), 64);
    // The ring keeps capacity - 1 frames; 400 more arrive.
    InputPeriod flood(400, 64);
    ASSERT_EQ(stream->CapturePeriod(400, flood.pointers, 3), 400);
    const ULONG held = kCaptureRingMinimumFrames - 1;
    EXPECT_EQ(stream->ring.UsedFrames(), held);
    EXPECT_EQ(stream->pending, 400u - held);
    EXPECT_EQ(owner.flags, std::vector<ULONG>{kCaptureOverflowFlag});

    // Drain the ring buffer by buffer; in the buffer where the ring runs dry the pending frames
    // follow as silence.
    int32_t expected = 64;
    ULONG remaining = held;
    while (remaining >= 64) {
        ConsumerBuffer next(64);
        ASSERT_EQ(stream->NextCaptureBuffer(next.pointers, 0), 0);
        for (ULONG f = 0; f < 64; ++f, ++expected) {
            ASSERT_EQ(next.left[f], expected * 2) << expected;
        }
        remaining -= 64;
    }
    ConsumerBuffer last(64);
    ASSERT_EQ(stream->NextCaptureBuffer(last.pointers, 0), 0);
    const ULONG missing = 400u - held;
    for (ULONG f = 0; f < remaining; ++f, ++expected) {
        ASSERT_EQ(last.left[f], expected * 2) << expected;
    }
    for (ULONG f = remaining; f < remaining + missing; ++f) {
        ASSERT_EQ(last.left[f], 0) << "missing frame " << f << " is silent";
        ASSERT_EQ(last.right[f], 0) << f;
    }
    EXPECT_EQ(last.left[remaining + missing], ConsumerBuffer::kStale) << "not delivered yet";
    EXPECT_EQ(stream->pending, 0u);
    EXPECT_EQ(stream->fill, remaining + missing);
}

// Frames that found no room are older than whatever arrives after them: once a buffer has made
// room in the ring, the next period's input comes after their silence, not ahead of it.
TEST_F(ClientStreamTest, InputAfterAnOverflowFollowsTheSilenceOfTheLostFrames)
{
    ConsumerBuffer first(64);
    StartWith(first);
    InputPeriod fills(64, 0);
    ASSERT_EQ(stream->CapturePeriod(64, fills.pointers, 3), 64);
    InputPeriod flood(400, 64);
    ASSERT_EQ(stream->CapturePeriod(400, flood.pointers, 3), 400);
    const ULONG held = kCaptureRingMinimumFrames - 1;
    const ULONG lost = 400 - held;
    ASSERT_EQ(stream->pending, lost);

    // Two buffers read make room for the silence and the next period (frames 464 .. 527).
    std::vector<int32_t> delivered;
    for (int i = 0; i < 2; ++i) {
        ConsumerBuffer next(64);
        ASSERT_EQ(stream->NextCaptureBuffer(next.pointers, 0), 0);
        delivered.insert(delivered.end(), next.left.begin(), next.left.end());
    }
    InputPeriod later(64, 464);
    ASSERT_EQ(stream->CapturePeriod(64, later.pointers, 3), 64);
    while (stream->fill >= 64) {
        ConsumerBuffer buffer(64);
        ASSERT_EQ(stream->NextCaptureBuffer(buffer.pointers, 0), 0);
        delivered.insert(delivered.end(), buffer.left.begin(),
                         buffer.left.begin() + std::min<ULONG>(stream->fill, 64));
    }

    // Frame f as delivered: its samples, or silence where it was lost.
    std::vector<int32_t> expected;
    for (int32_t f = 64; f < 528; ++f) {
        const bool wasLost =
            f >= static_cast<int32_t>(64 + held) && f < static_cast<int32_t>(64 + held + lost);
        expected.push_back(wasLost ? 0 : f * 2);
    }
    ASSERT_EQ(delivered.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(delivered[i], expected[i]) << "frame " << 64 + i;
    }
    EXPECT_EQ(stream->pending, 0u);
}

TEST_F(ClientStreamTest, PendingFramesAloneFillTheNextBufferWithSilence)
{
    ConsumerBuffer first(64);
    StartWith(first);
    stream->pending = 10;  // as after an overflow whose ring has been read
    InputPeriod fills(64, 0);
    ASSERT_EQ(stream->CapturePeriod(64, fills.pointers, 3), 64);
    ConsumerBuffer second(64);
    ASSERT_EQ(stream->NextCaptureBuffer(second.pointers, 0), 0);
    EXPECT_EQ(stream->fill, 10u);
    EXPECT_EQ(stream->pending, 0u);
    for (ULONG f = 0; f < 10; ++f) {
        EXPECT_EQ(second.left[f], 0) << f;
    }
    EXPECT_EQ(second.left[10], ConsumerBuffer::kStale) << "beyond the pending frames: untouched";
}

TEST_F(ClientStreamTest, StoppingResetsTheStream)
{
    ConsumerBuffer buffer(64);
    StartWith(buffer);
    InputPeriod input(100, 0);
    ASSERT_EQ(stream->CapturePeriod(100, input.pointers, 3), 100);
    stream->outputPosition = 17;
    stream->pending = 5;
    stream->Run(false);
    EXPECT_EQ(stream->running, 0);
    EXPECT_EQ(stream->fill, kNoCaptureBuffer);
    EXPECT_EQ(stream->ring.UsedFrames(), 0u);
    EXPECT_EQ(stream->ring.ReadIndex(), 0u);
    EXPECT_EQ(stream->ring.WriteIndex(), 0u);
    EXPECT_EQ(stream->pending, 0u);
    EXPECT_EQ(stream->outputPosition, -1);
}

TEST_F(ClientStreamTest, GuardedRunningSetsTheState)
{
    ASSERT_EQ(stream->SetCaptureFormat(&configuration, 64, 4, 0, 0), 0);
    SetClientStreamRunningGuarded(stream, true);
    EXPECT_EQ(stream->running, 1);
    EXPECT_EQ(stream->busy, 0);
    SetClientStreamRunningGuarded(stream, false);
    EXPECT_EQ(stream->running, 0);
}

}  // namespace
