// Runs of channels that take part, within one layout and paired across two lists.
#include "audio/ChannelLayout.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using Runs = std::vector<std::pair<uint32_t, uint32_t>>;

Runs AllRuns(const ChannelLayout& layout)
{
    Runs runs;
    ChannelSpan span{};
    uint32_t from = 0;
    while (NextChannelRun(layout, from, &span)) {
        runs.emplace_back(span.start, span.length);
        from = span.start + span.length;
    }
    EXPECT_EQ(span.start, layout.channelCount);
    EXPECT_EQ(span.length, 0u);
    return runs;
}

struct RunCase
{
    const char* name;
    uint32_t channelCount;
    uint32_t excludedMask;
    Runs runs;
};

void PrintTo(const RunCase& c, std::ostream* out)
{
    *out << c.name;
}

const RunCase kRunCases[] = {
    {"Stereo", 2, 0, {{0, 2}}},
    {"ThirtyTwoUnmasked", 32, 0, {{0, 32}}},
    {"FortyUnmaskedIsOneRun", 40, 0, {{0, 40}}},
    {"ThirdChannelOut", 4, 0b0100, {{0, 2}, {3, 1}}},
    {"FirstChannelOut", 3, 0b001, {{1, 2}}},
    {"AlternateChannelsOut", 6, 0b101010, {{0, 1}, {2, 1}, {4, 1}}},
    {"AllOut", 3, 0b111, {}},
    {"NoChannels", 0, 0, {}},
    {"MaskedLayoutBeyond32EndsAtTheMask", 40, 1u << 31, {{0, 31}}},
    {"MaskedLayoutBeyond32RunsToTheEnd", 40, 1u << 3, {{0, 3}, {4, 36}}},
};

class RunsOfLayout : public testing::TestWithParam<RunCase>
{
};

TEST_P(RunsOfLayout, AreFoundInOrder)
{
    const RunCase& c = GetParam();
    uint32_t excluded = 0;
    for (uint32_t b = 0; b < 32; ++b) {
        excluded += c.excludedMask >> b & 1u;
    }
    const ChannelLayout layout{kSampleInt24LE, c.channelCount, excluded, c.excludedMask};
    EXPECT_EQ(AllRuns(layout), c.runs);
}

INSTANTIATE_TEST_SUITE_P(Layouts, RunsOfLayout, testing::ValuesIn(kRunCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(NextChannelRun, StartsAtTheGivenChannel)
{
    const ChannelLayout layout{kSampleInt16LE, 8, 1, 0b0001'0000};
    ChannelSpan span{};
    ASSERT_TRUE(NextChannelRun(layout, 2, &span));
    EXPECT_EQ(span.start, 2u);
    EXPECT_EQ(span.length, 2u);
    ASSERT_TRUE(NextChannelRun(layout, 4, &span));
    EXPECT_EQ(span.start, 5u);
    EXPECT_EQ(span.length, 3u);
    EXPECT_FALSE(NextChannelRun(layout, 8, &span));
    EXPECT_EQ(span.start, 8u);
}

TEST(NextChannelRun, FindsNothingFrom32On)
{
    const ChannelLayout layout{kSampleInt16LE, 40, 0, 0};
    ChannelSpan span{};
    EXPECT_FALSE(NextChannelRun(layout, 32, &span));
    EXPECT_EQ(span.start, 40u);
}

// Channel by channel, as the rule reads: the first included channel at or after from (only
// channels below 32 can be excluded, and none is found from 32 on), then up to the next excluded
// one or the end of the layout.
ChannelSpan PlainNextRun(uint32_t channelCount, uint32_t mask, uint32_t from)
{
    const auto out = [mask](uint32_t c) { return c < 32 && (mask >> c & 1u) != 0; };
    uint32_t start = from;
    while (start < channelCount && start < 32 && out(start)) {
        ++start;
    }
    if (start >= channelCount || start >= 32) {
        return {channelCount, 0};
    }
    uint32_t end = start + 1;
    while (end < channelCount && !out(end)) {
        ++end;
    }
    return {start, end - start};
}

TEST(NextChannelRun, AgreesWithAChannelByChannelWalkFromEveryChannel)
{
    std::vector<uint32_t> masks = {0u,          1u,          0x80000000u, 0xFFFFFFFFu,
                                   0x7FFFFFFEu, 0xAAAAAAAAu, 0x55555555u, 0xFFFF0000u,
                                   0x0000FFFFu, 0x00F000F0u, 0xFFFFFFF0u};
    uint32_t x = 2463534242u;
    for (int i = 0; i < 40; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        masks.push_back(x);
    }
    for (const uint32_t mask : masks) {
        for (const uint32_t channelCount : {0u, 1u, 2u, 5u, 20u, 31u, 32u, 33u, 40u}) {
            // Bits above channelCount are left set on purpose: they must not matter.
            const ChannelLayout layout{kSampleInt32LE, channelCount, 0, mask};
            for (uint32_t from = 0; from <= 41; ++from) {
                const ChannelSpan expected = PlainNextRun(channelCount, mask, from);
                ChannelSpan span{99, 99};
                EXPECT_EQ(NextChannelRun(layout, from, &span), expected.length != 0);
                EXPECT_EQ(span.start, expected.start)
                    << "mask " << mask << " channels " << channelCount << " from " << from;
                EXPECT_EQ(span.length, expected.length)
                    << "mask " << mask << " channels " << channelCount << " from " << from;
            }
        }
    }
}

TEST(PairChannelRuns, PairsRunsAcrossItemsAtTheShorterLength)
{
    // Source: mono, then four channels with channel 1 out. Destination: stereo, stereo.
    const ChannelLayout sourceItems[] = {{kSampleInt16LE, 1, 0, 0}, {kSampleInt16LE, 4, 1, 0b0010}};
    const ChannelLayout destinationItems[] = {{kSampleInt32LE, 2, 0, 0}, {kSampleInt32LE, 2, 0, 0}};
    const ChannelLayoutList source{2, sourceItems};
    const ChannelLayoutList destination{2, destinationItems};
    ChannelCursor s{0, 0};
    ChannelCursor d{0, 0};
    uint32_t length = 0;
    std::vector<std::vector<uint32_t>> pairs;
    while (PairChannelRuns(source, destination, &s, &d, &length)) {
        pairs.push_back({s.item, s.channel, d.item, d.channel, length});
        s.channel += length;
        d.channel += length;
    }
    const std::vector<std::vector<uint32_t>> expected = {
        {0, 0, 0, 0, 1},  // the mono channel onto left
        {1, 0, 0, 1, 1},  // channel 0 of the second item onto right
        {1, 2, 1, 0, 2},  // channels 2 and 3 onto the second stereo pair
    };
    EXPECT_EQ(pairs, expected);
}

TEST(PairChannelRuns, FailsWhenEitherListIsExhausted)
{
    const ChannelLayout items[] = {{kSampleInt16LE, 2, 0, 0}};
    const ChannelLayoutList list{1, items};
    const ChannelLayoutList empty{0, nullptr};
    ChannelCursor a{0, 0};
    ChannelCursor b{0, 0};
    uint32_t length = 0;
    EXPECT_FALSE(PairChannelRuns(list, empty, &a, &b, &length));
    a = {0, 2};
    b = {0, 0};
    EXPECT_FALSE(PairChannelRuns(list, list, &a, &b, &length));
}

}  // namespace
