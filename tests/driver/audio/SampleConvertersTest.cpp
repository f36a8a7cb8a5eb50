// Every generated routine against the plain model, for every pair of formats, plus the cases the
// arithmetic is defined by.
#include "audio/SampleConverters.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "SampleModel.h"

namespace {

using SampleModel::FormatInfo;
using SampleModel::Operation;

constexpr uint8_t kSourceGap = 0xA5;
constexpr uint8_t kDestinationGap = 0x5A;

// Full-scale values that sit on the edges of every precision, then noise.
std::vector<int64_t> SampleValues()
{
    std::vector<int64_t> values = {0,          1,           -1,         0x7FFFFFFF, -0x80000000LL,
                                   0x7FFF0000, -0x7FFF0000, 0x7FFFFF00, 0x12345678, -0x12345678,
                                   0x00008000, 0x000000FF,  -0x10000,   0x40000000, -0x40000000,
                                   0x00000080, 0x00800000,  -0x00008000};
    std::mt19937 random(7);
    for (int i = 0; i < 46; ++i) {
        values.push_back(static_cast<int32_t>(random()));
    }
    return values;
}

const int64_t kGains[] = {
    kUnityGain,
    0x80000000LL,
    -kUnityGain,
    -kUnityGain + 1,  // just above -1.0: full-scale negative times it rounds to +1.0
    0x180000000LL,
    0x2'8000'0000LL,
    -0x2'8000'0000LL,
    1,
    -1,
    0x12345678LL,
    0x7FFFFFFFFFFFFFFFLL,
    INT64_MIN,
    0xFFFFFFFFLL,
    0x1'0000'0001LL,
    -0x7FFFFFFFLL,
    0x4'0000'0000LL,
    // Either side of the largest gains a 24-bit and a 16-bit source take with one product.
    0x7F'FFFF'FFFFLL,
    0x80'0000'0000LL,
    -0x7F'FFFF'FFFFLL,
    -0x80'0000'0000LL,
    0x7FFF'FFFF'FFFFLL,
    0x8000'0000'0000LL,
    -0x7FFF'FFFF'FFFFLL,
    -0x8000'0000'0000LL,
    // Past them, where one product of a full-scale sample would overflow.
    0x180'0000'0000LL,
    -0x180'0000'0000LL,
    0x1'8000'0000'0000LL,
    0x7'8000'0001LL,
};

struct Pair
{
    FormatInfo from;
    FormatInfo to;
};

void PrintTo(const Pair& pair, std::ostream* out)
{
    *out << pair.from.name << " to " << pair.to.name;
}

std::vector<Pair> AllPairs()
{
    std::vector<Pair> pairs;
    for (const FormatInfo& from : SampleModel::kFormats) {
        for (const FormatInfo& to : SampleModel::kFormats) {
            pairs.push_back({from, to});
        }
    }
    return pairs;
}

// A source channel interleaved with gap bytes, holding values at its own precision.
struct Strided
{
    std::vector<uint8_t> bytes;
    uint32_t stride;
};

Strided MakeSource(const FormatInfo& f, const std::vector<int64_t>& fullScale)
{
    Strided s{{}, static_cast<uint32_t>(f.bytes + 3)};
    s.bytes.assign(fullScale.size() * s.stride, kSourceGap);
    for (size_t i = 0; i < fullScale.size(); ++i) {
        uint8_t* p = &s.bytes[i * s.stride];
        SampleModel::Encode(f, p, SampleModel::ToPrecision(fullScale[i], f.bits));
        if (f.labelled) {
            p[0] = static_cast<uint8_t>(0x90 + i);  // a label the copy must carry or drop
        }
    }
    return s;
}

// Destination contents: random samples (labels included) between gap bytes.
Strided MakeDestination(const FormatInfo& f, size_t count, uint32_t seed)
{
    Strided d{{}, static_cast<uint32_t>(f.bytes + 2)};
    d.bytes.assign(count * d.stride, kDestinationGap);
    std::mt19937 random(seed);
    for (size_t i = 0; i < count; ++i) {
        for (int b = 0; b < f.bytes; ++b) {
            d.bytes[i * d.stride + b] = static_cast<uint8_t>(random());
        }
    }
    // Full-scale destinations make the sums clip.
    SampleModel::Encode(f, &d.bytes[0], (int64_t{1} << (f.bits - 1)) - 1);
    SampleModel::Encode(f, &d.bytes[d.stride], -(int64_t{1} << (f.bits - 1)));
    return d;
}

std::vector<uint8_t> Expected(Operation op, const Pair& pair, const Strided& source,
                              const Strided& destination, size_t count, int64_t gain)
{
    std::vector<uint8_t> expected = destination.bytes;
    for (size_t i = 0; i < count; ++i) {
        SampleModel::Apply(op, pair.from, pair.to, &source.bytes[i * source.stride],
                           &expected[i * destination.stride], gain);
    }
    return expected;
}

void RunRoutine(Operation op, const Pair& pair, const Strided& source, Strided* destination,
                size_t count, int64_t gain)
{
    const uint32_t n = static_cast<uint32_t>(count);
    switch (op) {
        case Operation::Copy:
        case Operation::Add:
            SelectConverter(pair.from.code, pair.to.code, op == Operation::Add)(
                source.bytes.data(), source.stride, destination->bytes.data(), destination->stride,
                n);
            break;
        case Operation::GainCopy:
        case Operation::GainAdd:
            SelectGainConverter(pair.from.code, pair.to.code, op == Operation::GainAdd)(
                source.bytes.data(), source.stride, destination->bytes.data(), destination->stride,
                n, gain);
            break;
    }
}

class EveryPair : public testing::TestWithParam<Pair>
{
};

TEST_P(EveryPair, AllFourOperationsMatchTheModel)
{
    const Pair& pair = GetParam();
    const std::vector<int64_t> values = SampleValues();
    const Strided source = MakeSource(pair.from, values);
    const std::vector<uint8_t> sourceBefore = source.bytes;
    uint32_t seed = 1;
    for (Operation op :
         {Operation::Copy, Operation::Add, Operation::GainCopy, Operation::GainAdd}) {
        const bool gained = op == Operation::GainCopy || op == Operation::GainAdd;
        std::vector<int64_t> gains = {0};
        if (gained) {
            gains.assign(std::begin(kGains), std::end(kGains));
            gains.push_back(0);
        }
        for (int64_t gain : gains) {
            SCOPED_TRACE(std::string(OperationName(op)) + " gain " + std::to_string(gain));
            Strided destination = MakeDestination(pair.to, values.size(), ++seed);
            const std::vector<uint8_t> expected =
                Expected(op, pair, source, destination, values.size(), gain);
            RunRoutine(op, pair, source, &destination, values.size(), gain);
            EXPECT_EQ(destination.bytes, expected);
            EXPECT_EQ(source.bytes, sourceBefore);
        }
    }
}

TEST_P(EveryPair, OnlyTheLowByteOfAddChoosesTheForm)
{
    const Pair& pair = GetParam();
    EXPECT_EQ(SelectConverter(pair.from.code, pair.to.code, 0x100),
              SelectConverter(pair.from.code, pair.to.code, 0));
    EXPECT_EQ(SelectConverter(pair.from.code, pair.to.code, 0x201),
              SelectConverter(pair.from.code, pair.to.code, 1));
    EXPECT_NE(SelectConverter(pair.from.code, pair.to.code, 0),
              SelectConverter(pair.from.code, pair.to.code, 1));
    EXPECT_EQ(SelectGainConverter(pair.from.code, pair.to.code, 0xFF00),
              SelectGainConverter(pair.from.code, pair.to.code, 0));
    EXPECT_NE(SelectGainConverter(pair.from.code, pair.to.code, 0),
              SelectGainConverter(pair.from.code, pair.to.code, 1));
}

TEST_P(EveryPair, GainAddAtZeroReadsNothingAndWritesNothing)
{
    const Pair& pair = GetParam();
    Strided destination = MakeDestination(pair.to, 16, 99);
    const std::vector<uint8_t> before = destination.bytes;
    // A null source proves the source is never read.
    SelectGainConverter(pair.from.code, pair.to.code, 1)(nullptr, 4, destination.bytes.data(),
                                                         destination.stride, 16, 0);
    EXPECT_EQ(destination.bytes, before);
}

TEST_P(EveryPair, PackedSourcesAreReadNoFurtherThanTheirLastByte)
{
    // A packed channel that ends exactly where its allocation ends: a read past the last sample
    // is a heap overflow under the address sanitizer, and a wrong value otherwise.
    const Pair& pair = GetParam();
    const std::vector<int64_t> values = {0x12345678, -0x76543210, 0x7FFFFFFF, -0x80000000LL};
    const Strided spaced = MakeSource(pair.from, values);
    const size_t count = values.size();
    std::vector<uint8_t> packed(count * pair.from.bytes);
    for (size_t i = 0; i < count; ++i) {
        std::memcpy(&packed[i * pair.from.bytes], &spaced.bytes[i * spaced.stride],
                    pair.from.bytes);
    }
    const Strided compact{packed, static_cast<uint32_t>(pair.from.bytes)};
    ASSERT_EQ(compact.bytes.capacity(), count * pair.from.bytes);
    for (Operation op :
         {Operation::Copy, Operation::Add, Operation::GainCopy, Operation::GainAdd}) {
        SCOPED_TRACE(OperationName(op));
        Strided destination = MakeDestination(pair.to, count, 5);
        const std::vector<uint8_t> expected =
            Expected(op, pair, compact, destination, count, kUnityGain / 3);
        RunRoutine(op, pair, compact, &destination, count, kUnityGain / 3);
        EXPECT_EQ(destination.bytes, expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, EveryPair, testing::ValuesIn(AllPairs()),
                         [](const testing::TestParamInfo<Pair>& info) {
                             return std::string(info.param.from.name) + "_to_" + info.param.to.name;
                         });

// Single samples with known answers.
struct KnownCase
{
    const char* name;
    Operation op;
    SampleFormatCode from;
    SampleFormatCode to;
    int64_t gain;
    std::vector<uint8_t> source;
    std::vector<uint8_t> destinationBefore;
    std::vector<uint8_t> destinationAfter;
};

void PrintTo(const KnownCase& c, std::ostream* out)
{
    *out << c.name;
}

const KnownCase kKnownCases[] = {
    {"Widen16To32",
     Operation::Copy,
     kSampleInt16LE,
     kSampleInt32LE,
     0,
     {0x00, 0x80},
     {1, 2, 3, 4},
     {0x00, 0x00, 0x00, 0x80}},
    {"Narrow32To16KeepsTopBits",
     Operation::Copy,
     kSampleInt32LE,
     kSampleInt16LE,
     0,
     {0xFF, 0xFF, 0xFF, 0x7F},
     {0, 0},
     {0xFF, 0x7F}},
    {"Narrow32MinusOneTo16",
     Operation::Copy,
     kSampleInt32LE,
     kSampleInt16LE,
     0,
     {0xFF, 0xFF, 0xFF, 0xFF},
     {0, 0},
     {0xFF, 0xFF}},
    {"Narrow32OneTruncatesToZero",
     Operation::Copy,
     kSampleInt32LE,
     kSampleInt16LE,
     0,
     {0x01, 0x00, 0x00, 0x00},
     {9, 9},
     {0x00, 0x00}},
    {"Narrow32LowWordTruncatesToZero",
     Operation::Copy,
     kSampleInt32LE,
     kSampleInt16LE,
     0,
     {0xFF, 0xFF, 0x00, 0x00},
     {9, 9},
     {0x00, 0x00}},
    {"Int16IntoContainerLabels",
     Operation::Copy,
     kSampleInt16LE,
     kSampleLabelled24BE,
     0,
     {0x34, 0x12},
     {0xEE, 0xEE, 0xEE, 0xEE},
     {0x40, 0x12, 0x34, 0x00}},
    {"ContainerToContainerKeepsLabel",
     Operation::Copy,
     kSampleLabelled24BE,
     kSampleLabelled24BEAlt,
     0,
     {0x99, 0x12, 0x34, 0x56},
     {0, 0, 0, 0},
     {0x99, 0x12, 0x34, 0x56}},
    {"ContainerTo24LE",
     Operation::Copy,
     kSampleLabelled24BE,
     kSampleInt24LE,
     0,
     {0x99, 0x12, 0x34, 0x56},
     {0, 0, 0},
     {0x56, 0x34, 0x12}},
    {"Int24LEToInt24BE",
     Operation::Copy,
     kSampleInt24LE,
     kSampleInt24BE,
     0,
     {0x56, 0x34, 0x12},
     {0, 0, 0},
     {0x12, 0x34, 0x56}},
    {"Add16ClipsAtMax",
     Operation::Add,
     kSampleInt16LE,
     kSampleInt16LE,
     0,
     {0x01, 0x00},
     {0xFF, 0x7F},
     {0xFF, 0x7F}},
    {"Add16ClipsAtMin",
     Operation::Add,
     kSampleInt16LE,
     kSampleInt16LE,
     0,
     {0xFF, 0xFF},
     {0x00, 0x80},
     {0x00, 0x80}},
    {"Add32ClipsAtMax",
     Operation::Add,
     kSampleInt32LE,
     kSampleInt32LE,
     0,
     {0x01, 0x00, 0x00, 0x00},
     {0xFF, 0xFF, 0xFF, 0x7F},
     {0xFF, 0xFF, 0xFF, 0x7F}},
    {"Add16BEIntoContainerKeepsLabel",
     Operation::Add,
     kSampleInt16BE,
     kSampleLabelled24BE,
     0,
     {0x00, 0x01},
     {0x07, 0x00, 0x00, 0x01},
     {0x07, 0x00, 0x01, 0x01}},
    {"Add24BEIntoContainerKeepsLabel",
     Operation::Add,
     kSampleInt24BE,
     kSampleLabelled24BE,
     0,
     {0x00, 0x00, 0x01},
     {0x07, 0x00, 0x00, 0x01},
     {0x07, 0x00, 0x00, 0x02}},
    {"Add16LEIntoContainerLabels",
     Operation::Add,
     kSampleInt16LE,
     kSampleLabelled24BE,
     0,
     {0x01, 0x00},
     {0x07, 0x00, 0x00, 0x01},
     {0x40, 0x00, 0x01, 0x01}},
    {"AddContainerIntoContainerLabels",
     Operation::Add,
     kSampleLabelled24BE,
     kSampleLabelled24BE,
     0,
     {0x99, 0x00, 0x00, 0x01},
     {0x07, 0x00, 0x00, 0x01},
     {0x40, 0x00, 0x00, 0x02}},
    {"GainAboveUnityClips16",
     Operation::GainCopy,
     kSampleInt16LE,
     kSampleInt16LE,
     0x180000000LL,
     {0xFF, 0x7F},
     {0, 0},
     {0xFF, 0x7F}},
    {"GainAboveUnityClipsNegative16",
     Operation::GainCopy,
     kSampleInt16LE,
     kSampleInt16LE,
     0x180000000LL,
     {0x00, 0x80},
     {0, 0},
     {0x00, 0x80}},
    {"GainAddClips16",
     Operation::GainAdd,
     kSampleInt16LE,
     kSampleInt16LE,
     0x80000000LL,
     {0xFF, 0x7F},
     {0x00, 0x60},
     {0xFF, 0x7F}},
    {"GainMinusOneInverts",
     Operation::GainCopy,
     kSampleInt32LE,
     kSampleInt32LE,
     -kUnityGain,
     {0x78, 0x56, 0x34, 0x12},
     {0, 0, 0, 0},
     {0x88, 0xA9, 0xCB, 0xED}},
    {"GainMinusOneOfFullScaleNegativeClips",
     Operation::GainCopy,
     kSampleInt32LE,
     kSampleInt32LE,
     -kUnityGain,
     {0x00, 0x00, 0x00, 0x80},
     {0, 0, 0, 0},
     {0xFF, 0xFF, 0xFF, 0x7F}},
    {"HalfOf3RoundsUpTo2",
     Operation::GainCopy,
     kSampleInt32LE,
     kSampleInt32LE,
     0x80000000LL,
     {3, 0, 0, 0},
     {0, 0, 0, 0},
     {2, 0, 0, 0}},
    {"HalfOfMinus3RoundsUpToMinus1",
     Operation::GainCopy,
     kSampleInt32LE,
     kSampleInt32LE,
     0x80000000LL,
     {0xFD, 0xFF, 0xFF, 0xFF},
     {0, 0, 0, 0},
     {0xFF, 0xFF, 0xFF, 0xFF}},
    {"HalfOf5RoundsUpTo3",
     Operation::GainCopy,
     kSampleInt32LE,
     kSampleInt32LE,
     0x80000000LL,
     {5, 0, 0, 0},
     {0, 0, 0, 0},
     {3, 0, 0, 0}},
    {"HalfOfMinus5RoundsUpToMinus2",
     Operation::GainCopy,
     kSampleInt32LE,
     kSampleInt32LE,
     0x80000000LL,
     {0xFB, 0xFF, 0xFF, 0xFF},
     {0, 0, 0, 0},
     {0xFE, 0xFF, 0xFF, 0xFF}},
    {"UnityGainIsExact",
     Operation::GainCopy,
     kSampleInt32LE,
     kSampleInt32LE,
     kUnityGain,
     {0x01, 0x00, 0x00, 0x80},
     {0, 0, 0, 0},
     {0x01, 0x00, 0x00, 0x80}},
    {"GainIntoContainerLabels",
     Operation::GainAdd,
     kSampleInt16BE,
     kSampleLabelled24BE,
     kUnityGain,
     {0x00, 0x01},
     {0x07, 0x00, 0x00, 0x01},
     {0x40, 0x00, 0x01, 0x01}},
    {"GainZeroCopyClearsLabel",
     Operation::GainCopy,
     kSampleInt16LE,
     kSampleLabelled24BE,
     0,
     {0x34, 0x12},
     {0x40, 0x12, 0x34, 0x56},
     {0, 0, 0, 0}},
    {"GainZeroAddTouchesNothing",
     Operation::GainAdd,
     kSampleInt16LE,
     kSampleLabelled24BE,
     0,
     {0x34, 0x12},
     {0x40, 0x12, 0x34, 0x56},
     {0x40, 0x12, 0x34, 0x56}},
};

class KnownCases : public testing::TestWithParam<KnownCase>
{
};

TEST_P(KnownCases, GiveTheirBytes)
{
    const KnownCase& c = GetParam();
    std::vector<uint8_t> destination = c.destinationBefore;
    ASSERT_EQ(destination.size(), BytesPerSample(c.to));
    ASSERT_EQ(c.source.size(), BytesPerSample(c.from));
    const bool add = c.op == Operation::Add || c.op == Operation::GainAdd;
    if (c.op == Operation::Copy || c.op == Operation::Add) {
        SelectConverter(c.from, c.to, add)(c.source.data(), 0, destination.data(), 0, 1);
    } else {
        SelectGainConverter(c.from, c.to, add)(c.source.data(), 0, destination.data(), 0, 1,
                                               c.gain);
    }
    EXPECT_EQ(destination, c.destinationAfter);
}

INSTANTIATE_TEST_SUITE_P(Samples, KnownCases, testing::ValuesIn(kKnownCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GainCopy, AtZeroWritesZeroBytesOverEverySampleAndNothingBetween)
{
    // Container samples every 6 bytes: four zero bytes each, the two gap bytes untouched.
    std::vector<uint8_t> destination(6 * 5, 0x77);
    const std::vector<uint8_t> source(4 * 5, 0x12);
    SelectGainConverter(kSampleInt32LE, kSampleLabelled24BE, 0)(source.data(), 4,
                                                                destination.data(), 6, 5, 0);
    for (size_t i = 0; i < destination.size(); ++i) {
        EXPECT_EQ(destination[i], i % 6 < 4 ? 0x00 : 0x77) << "byte " << i;
    }
}

}  // namespace
