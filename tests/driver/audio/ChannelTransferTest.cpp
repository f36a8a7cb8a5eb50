// Channel-for-channel transfers between layout lists, per-channel gains and the matrix mix.
#include "audio/ChannelTransfer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

constexpr int32_t kFill = 0x0BADF00D;

TEST(TransferLayouts, TwoMonoBuffersBecomeLeftAndRight)
{
    const std::vector<int16_t> left = {1, 2, 3};
    const std::vector<int16_t> right = {-1, -2, -3};
    std::vector<int32_t> stereo(6, kFill);
    const ChannelLayout sourceItems[] = {{kSampleInt16LE, 1, 0, 0}, {kSampleInt16LE, 1, 0, 0}};
    const ChannelLayout destinationItems[] = {{kSampleInt32LE, 2, 0, 0}};
    const void* sources[] = {left.data(), right.data()};
    void* destinations[] = {stereo.data()};
    TransferLayouts(3, 2, {2, sourceItems}, sources, 0, {1, destinationItems}, destinations, 0);
    EXPECT_EQ(stereo,
              (std::vector<int32_t>{0x10000, -0x10000, 0x20000, -0x20000, 0x30000, -0x30000}));
}

TEST(TransferLayouts, StereoSplitsIntoTwoMonoBuffers)
{
    const std::vector<int16_t> stereo = {1, -1, 2, -2};
    std::vector<int16_t> left(3, 0x55);
    std::vector<int16_t> right(3, 0x55);
    const ChannelLayout sourceItems[] = {{kSampleInt16LE, 2, 0, 0}};
    const ChannelLayout destinationItems[] = {{kSampleInt16LE, 1, 0, 0}, {kSampleInt16LE, 1, 0, 0}};
    const void* sources[] = {stereo.data()};
    void* destinations[] = {left.data(), right.data()};
    // Written from frame 1 of each destination.
    TransferLayouts(2, 2, {1, sourceItems}, sources, 0, {2, destinationItems}, destinations, 1);
    EXPECT_EQ(left, (std::vector<int16_t>{0x55, 1, 2}));
    EXPECT_EQ(right, (std::vector<int16_t>{0x55, -1, -2}));
}

// Whole frames into as many mono buffers of a 4-byte format go through a chunk of whole frames:
// every buffer comes out as a move of its channel on its own leaves it, across chunk ends and in
// odd counts, with the frames before the offset untouched.
TEST(TransferLayouts, WholeFramesDealtToMonoWordBuffersMatchAMoveChannelByChannel)
{
    constexpr uint32_t kFrames = 141;  // two chunks of stereo frames and an odd part of one
    constexpr uint32_t kOffset = 2;    // destination frames before the first one written
    struct Case
    {
        SampleFormatCode source;
        uint32_t channels;
        SampleFormatCode destination;
    };
    const Case cases[] = {{kSampleInt24LE, 2, kSampleInt32LE},
                          {kSampleInt32LE, 2, kSampleInt32LE},
                          {kSampleInt16LE, 3, kSampleInt32LE},
                          {kSampleInt24LE, 2, kSampleLabelled24BE},
                          {kSampleLabelled24BE, 2, kSampleInt32LE}};
    uint32_t seed = 777;
    for (const Case& c : cases) {
        std::vector<uint8_t> frames(size_t{kFrames} * c.channels * BytesPerSample(c.source));
        for (uint8_t& b : frames) {
            seed = seed * 1664525u + 1013904223u;
            b = static_cast<uint8_t>(seed >> 24);
        }
        const ChannelLayout whole{c.source, c.channels, 0, 0};
        const ChannelLayout mono{c.destination, 1, 0, 0};
        const std::vector<ChannelLayout> monoItems(c.channels, mono);
        std::vector<std::vector<int32_t>> dealt(c.channels,
                                                std::vector<int32_t>(kOffset + kFrames, kFill));
        std::vector<std::vector<int32_t>> reference = dealt;
        std::vector<void*> destinations;
        for (auto& buffer : dealt) {
            destinations.push_back(buffer.data());
        }
        const void* sources[] = {frames.data()};
        TransferLayouts(kFrames, c.channels, {1, &whole}, sources, 0,
                        {c.channels, monoItems.data()}, destinations.data(), kOffset);
        for (uint32_t k = 0; k < c.channels; ++k) {
            void* one[] = {reference[k].data()};
            TransferLayouts(kFrames, 1, {1, &whole}, sources, k, {1, &mono}, one, kOffset);
        }
        EXPECT_EQ(dealt, reference)
            << "source " << std::hex << c.source << " into " << c.destination;
    }
}

TEST(TransferLayouts, EqualListsCopyWholeBuffersAndSkipNullOnes)
{
    const ChannelLayout items[] = {{kSampleInt24LE, 2, 0, 0}, {kSampleInt24LE, 1, 0, 0}};
    const std::vector<uint8_t> first = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    std::vector<uint8_t> firstOut(18, 0xEE);
    std::vector<uint8_t> secondOut(9, 0xEE);
    const void* sources[] = {first.data(), nullptr};
    void* destinations[] = {firstOut.data(), secondOut.data()};
    TransferLayouts(2, 3, {2, items}, sources, 0, {2, items}, destinations, 1);
    const std::vector<uint8_t> expected = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 1,  2,  3,
                                           4,    5,    6,    7,    8,    9,    10, 11, 12};
    EXPECT_EQ(firstOut, expected);
    EXPECT_EQ(secondOut, std::vector<uint8_t>(9, 0xEE));
}

TEST(TransferLayouts, StartsAtASourceChannelAndStopsAfterTheCount)
{
    // Source: two stereo buffers (channels 0..3). Take channels 1 and 2 into one stereo buffer.
    const std::vector<int32_t> a = {10, 11, 20, 21};
    const std::vector<int32_t> b = {12, 13, 22, 23};
    const ChannelLayout sourceItems[] = {{kSampleInt32LE, 2, 0, 0}, {kSampleInt32LE, 2, 0, 0}};
    const ChannelLayout destinationItems[] = {{kSampleInt32LE, 4, 0, 0}};
    std::vector<int32_t> out(8, kFill);
    const void* sources[] = {a.data(), b.data()};
    void* destinations[] = {out.data()};
    TransferLayouts(2, 2, {2, sourceItems}, sources, 1, {1, destinationItems}, destinations, 0);
    EXPECT_EQ(out, (std::vector<int32_t>{11, 12, kFill, kFill, 21, 22, kFill, kFill}));
}

TEST(TransferLayouts, ExcludedChannelsTakeNoPartOnEitherSide)
{
    // Source channel 1 is out; destination channel 0 is out.
    const std::vector<int32_t> source = {10, 11, 12, 20, 21, 22};
    const ChannelLayout sourceItems[] = {{kSampleInt32LE, 3, 1, 0b010}};
    const ChannelLayout destinationItems[] = {{kSampleInt32LE, 3, 1, 0b001}};
    std::vector<int32_t> out(6, kFill);
    const void* sources[] = {source.data()};
    void* destinations[] = {out.data()};
    TransferLayouts(2, 3, {1, sourceItems}, sources, 0, {1, destinationItems}, destinations, 0);
    EXPECT_EQ(out, (std::vector<int32_t>{kFill, 10, 12, kFill, 20, 22}));
}

TEST(TransferLayouts, SkipsDestinationItemsWithoutChannelsAndNullSources)
{
    const std::vector<int32_t> mono = {7, 8};
    const ChannelLayout sourceItems[] = {{kSampleInt32LE, 1, 0, 0}, {kSampleInt32LE, 1, 0, 0}};
    const ChannelLayout destinationItems[] = {{kSampleInt32LE, 0, 0, 0}, {kSampleInt32LE, 2, 0, 0}};
    std::vector<int32_t> out(4, kFill);
    const void* sources[] = {nullptr, mono.data()};
    void* destinations[] = {nullptr, out.data()};
    TransferLayouts(2, 2, {2, sourceItems}, sources, 0, {2, destinationItems}, destinations, 0);
    // The null source still uses up the left channel.
    EXPECT_EQ(out, (std::vector<int32_t>{kFill, 7, kFill, 8}));
}

TEST(TransferLayouts, ZeroFramesOrChannelsMoveNothing)
{
    const std::vector<int32_t> source = {1, 2};
    const ChannelLayout sourceItems[] = {{kSampleInt32LE, 2, 0, 0}};
    const ChannelLayout destinationItems[] = {{kSampleInt32LE, 1, 0, 0}, {kSampleInt32LE, 1, 0, 0}};
    std::vector<int32_t> left(1, kFill);
    std::vector<int32_t> right(1, kFill);
    const void* sources[] = {source.data()};
    void* destinations[] = {left.data(), right.data()};
    TransferLayouts(0, 2, {1, sourceItems}, sources, 0, {2, destinationItems}, destinations, 0);
    TransferLayouts(1, 0, {1, sourceItems}, sources, 0, {2, destinationItems}, destinations, 0);
    EXPECT_EQ(left[0], kFill);
    EXPECT_EQ(right[0], kFill);
}

TEST(TransferRun, UnityGainsBetweenEqualWholeFrameRunsCopyTheBytes)
{
    const std::vector<uint8_t> source = {0x99, 1, 2, 3, 0x98, 4, 5, 6,
                                         0x97, 7, 8, 9, 0x96, 1, 1, 1};
    std::vector<uint8_t> out(16, 0);
    const ChannelRun run{kSampleLabelled24BE, 2, 0, 2};
    const SampleGain unity[] = {kUnityGain, kUnityGain};
    TransferRun(2, false, run, source.data(), run, out.data(), unity);
    EXPECT_EQ(out, source);
}

TEST(TransferRun, AppliesEachChannelsGain)
{
    const std::vector<int32_t> source = {1000, 1000, 1000, 2000, 2000, 2000};
    std::vector<int32_t> out(6, kFill);
    const ChannelRun run{kSampleInt32LE, 3, 0, 3};
    const SampleGain gains[] = {kUnityGain, 0x80000000LL, 0};
    TransferRun(2, false, run, source.data(), run, out.data(), gains);
    EXPECT_EQ(out, (std::vector<int32_t>{1000, 500, 0, 2000, 1000, 0}));

    // The add form adds, and a zero gain leaves its channel alone.
    TransferRun(2, true, run, source.data(), run, out.data(), gains);
    EXPECT_EQ(out, (std::vector<int32_t>{2000, 1000, 0, 4000, 2000, 0}));
}

TEST(TransferRun, MovesARunBetweenDifferentPositionsAndFormats)
{
    // Channels 1..2 of a 4-channel 16-bit buffer into channels 0..1 of a 3-channel 32-bit one.
    const std::vector<int16_t> source = {9, 1, 2, 9, 9, 3, 4, 9};
    std::vector<int32_t> out(6, kFill);
    TransferRun(2, false, {kSampleInt16LE, 4, 1, 2}, source.data(), {kSampleInt32LE, 3, 0, 2},
                out.data(), nullptr);
    EXPECT_EQ(out, (std::vector<int32_t>{0x10000, 0x20000, kFill, 0x30000, 0x40000, kFill}));
}

TEST(MixThroughMatrix, AddsEverySourceChannelIntoEveryDestinationAtItsGain)
{
    const std::vector<int32_t> source = {100, 200, 300, 400};  // two frames of stereo
    std::vector<int32_t> out = {1, 1, 1, 2, 2, 2};             // two frames of three channels
    // Rows 1..2 and columns 1..3 of a larger matrix are used.
    const SampleGain row0[] = {7, 7, 7, 7};
    const SampleGain row1[] = {7, kUnityGain, 0x80000000LL, 0};
    const SampleGain row2[] = {7, 0, kUnityGain, -kUnityGain};
    const SampleGain* rows[] = {row0, row1, row2};
    MixThroughMatrix(2, rows, {kSampleInt32LE, 2, 0, 2}, source.data(), 1,
                     {kSampleInt32LE, 3, 0, 3}, out.data(), 1);
    EXPECT_EQ(out, (std::vector<int32_t>{1 + 100, 1 + 50 + 200, 1 - 200,  //
                                         2 + 300, 2 + 150 + 400, 2 - 400}));
}

TEST(MixThroughMatrix, AZeroRowReadsNoSampleOfItsChannel)
{
    std::vector<int32_t> out = {5, 6};
    const SampleGain row[] = {0, 0};
    const SampleGain* rows[] = {row};
    // A null source would fault if anything read it.
    MixThroughMatrix(1, rows, {kSampleInt32LE, 1, 0, 1}, nullptr, 0, {kSampleInt32LE, 2, 0, 2},
                     out.data(), 0);
    EXPECT_EQ(out, (std::vector<int32_t>{5, 6}));
}

TEST(MixThroughMatrix, NothingForAnEmptyDestinationRun)
{
    std::vector<int32_t> out = {5};
    const SampleGain* rows[] = {nullptr};
    MixThroughMatrix(1, rows, {kSampleInt32LE, 1, 0, 1}, nullptr, 0, {kSampleInt32LE, 1, 0, 0},
                     out.data(), 0);
    EXPECT_EQ(out[0], 5);
}

}  // namespace

namespace {

// A run of whole frames goes through the packed routines in one call; what it leaves is what the
// per-channel routines leave, for plain and gained runs, copy and add.
TEST(TransferRun, WholeFramesMatchThePerChannelRoutines)
{
    constexpr uint32_t kFrames = 97;
    constexpr uint32_t kChannels = 2;
    std::vector<uint8_t> source(kFrames * kChannels * 3);
    std::vector<uint8_t> start(kFrames * kChannels * 4);
    uint32_t x = 99;
    for (auto* bytes : {&source, &start}) {
        for (uint8_t& b : *bytes) {
            x = x * 1103515245u + 12345u;
            b = static_cast<uint8_t>(x >> 16);
        }
    }
    const ChannelRun from{kSampleInt24LE, kChannels, 0, kChannels};
    const ChannelRun to{kSampleInt32LE, kChannels, 0, kChannels};
    const SampleGain half[] = {0x80000000LL, 0x80000000LL};
    const SampleGain loud[] = {0x180000000LL, 0x180000000LL};
    for (bool add : {false, true}) {
        for (const SampleGain* gains : {static_cast<const SampleGain*>(nullptr), half, loud}) {
            std::vector<uint8_t> actual = start;
            std::vector<uint8_t> expected = start;
            TransferRun(kFrames, add, from, source.data(), to, actual.data(), gains);
            for (uint32_t k = 0; k < kChannels; ++k) {
                const uint8_t* s = source.data() + 3 * k;
                uint8_t* d = expected.data() + 4 * k;
                if (gains == nullptr) {
                    SelectConverter(from.format, to.format, add)(s, 6, d, 8, kFrames);
                } else {
                    SelectGainConverter(from.format, to.format, add)(s, 6, d, 8, kFrames, gains[k]);
                }
            }
            EXPECT_EQ(actual, expected) << (add ? "add" : "copy") << (gains ? " gained" : "");
        }
    }
}

}  // namespace
