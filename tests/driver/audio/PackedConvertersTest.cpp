// The packed routines at every vector level the machine has, against the scalar routine with
// strides of one sample, byte for byte: every pair of formats, the four operations, counts that
// leave a scalar tail, buffers at every alignment, edge values and noise, gains narrow and wide.
#include <KernelTestApi.h>

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "KernelTestFixture.h"
#include "SampleModel.h"
#include "audio/SampleConverters.h"

namespace {

using SampleModel::FormatInfo;

// Full-scale edges, values one step from clipping, then noise; the sum of two of them clips often.
std::vector<uint8_t> TestBytes(size_t size, uint32_t seed)
{
    static const uint8_t kEdges[] = {0x00, 0xFF, 0x7F, 0x80, 0x01, 0xFE, 0x40, 0xC0};
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        const uint32_t r = random();
        bytes[i] = (r & 3u) == 0 ? kEdges[(r >> 2) % 8] : static_cast<uint8_t>(r >> 8);
    }
    return bytes;
}

const SampleGain kGains[] = {
    kUnityGain,
    0x80000000LL,
    -kUnityGain + 2,
    -kUnityGain + 1,
    0x7FFFFFFFLL,
    0xFFFFFFFFLL,
    -0x80000000LL,
    1,
    -1,
    0x12345678LL,
    -0x9ABCDEF0LL,
    0,
    0x180000000LL,
    -kUnityGain,
    0x100000001LL,
    0x280000000LL,
    0x2FFFFFFFFLL,
    -0x180000000LL,
    -0x200000000LL,
    INT64_MIN,
    0x7FFFFFFFFFFFFFFFLL,
    // Either side of the largest gains a 24-bit and a 16-bit source take with one product.
    0x7FFFFFFFFFLL,
    -0x8000000000LL,
    0x800000000000LL,
    -0x7FFFFFFFFFFFLL,
};

// Hides what the level must not use, then picks the routines again.
bool UseLevel(SampleVectorLevel level)
{
    using Platform::Kernel::HideProcessorFeature;
    Platform::Kernel::ResetKernel();
    HideProcessorFeature(PF_XMMI64_INSTRUCTIONS_AVAILABLE, level < SampleVectorLevel::Sse2);
    HideProcessorFeature(PF_SSSE3_INSTRUCTIONS_AVAILABLE, level < SampleVectorLevel::Ssse3);
    HideProcessorFeature(PF_SSE4_1_INSTRUCTIONS_AVAILABLE, level < SampleVectorLevel::Sse41);
    return ChooseSampleVectorLevel() == level;
}

struct Case
{
    const FormatInfo* from;
    const FormatInfo* to;
    bool add;
    bool gained;
    SampleGain gain;
};

std::string Describe(const Case& c, uint32_t count, uint32_t offset)
{
    return std::string(c.add ? "add " : "copy ") + (c.gained ? "gain " : "") + c.from->name +
           " to " + c.to->name + " gain " + std::to_string(c.gain) + " count " +
           std::to_string(count) + " offset " + std::to_string(offset);
}

// The scalar routine (strides of one sample) and the packed routine, each on its own bytes.
void RunScalar(const Case& c, const uint8_t* source, uint8_t* destination, uint32_t count)
{
    if (c.gained) {
        SelectGainConverter(c.from->code, c.to->code, c.add)(source, c.from->bytes, destination,
                                                             c.to->bytes, count, c.gain);
    } else {
        SelectConverter(c.from->code, c.to->code, c.add)(source, c.from->bytes, destination,
                                                         c.to->bytes, count);
    }
}

void RunPacked(const Case& c, const uint8_t* source, uint8_t* destination, uint32_t count)
{
    if (c.gained) {
        SelectPackedGainConverter(c.from->code, c.to->code, c.add)(source, destination, count,
                                                                   c.gain);
    } else {
        SelectPackedConverter(c.from->code, c.to->code, c.add)(source, destination, count);
    }
}

// One routine on one count at one alignment: the packed result and the untouched bytes around it
// must match the scalar routine's.
void Check(const Case& c, uint32_t count, uint32_t offset, uint32_t seed)
{
    const std::vector<uint8_t> source = TestBytes(offset + count * c.from->bytes + 16, seed);
    const std::vector<uint8_t> start = TestBytes(offset + count * c.to->bytes + 16, seed + 1);
    std::vector<uint8_t> expected = start;
    std::vector<uint8_t> actual = start;
    RunScalar(c, source.data() + offset, expected.data() + offset, count);
    RunPacked(c, source.data() + offset, actual.data() + offset, count);
    ASSERT_EQ(actual, expected) << Describe(c, count, offset);
}

// Bytes that end where a page nobody may touch begins: a routine that reads or writes one byte
// past its run faults in any build, not only under the address sanitizer.
class FlushBytes
{
public:
    explicit FlushBytes(const std::vector<uint8_t>& bytes)
    {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        length_ = (bytes.size() + page - 1) / page * page + page;
        void* map =
            mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED) {
            ADD_FAILURE() << "no pages to test with";
            return;
        }
        base_ = static_cast<uint8_t*>(map);
        if (mprotect(base_ + length_ - page, page, PROT_NONE) != 0) {
            ADD_FAILURE() << "the guard page could not be protected";
            return;
        }
        data_ = base_ + length_ - page - bytes.size();
        std::memcpy(data_, bytes.data(), bytes.size());
    }
    ~FlushBytes()
    {
        if (base_ != nullptr) {
            munmap(base_, length_);
        }
    }
    FlushBytes(const FlushBytes&) = delete;
    FlushBytes& operator=(const FlushBytes&) = delete;
    uint8_t* data() const { return data_; }
    bool Ready() const { return data_ != nullptr; }

private:
    uint8_t* base_ = nullptr;
    uint8_t* data_ = nullptr;
    size_t length_ = 0;
};

// The packed routine on a source and a destination that each end with the run, against the scalar
// routine on ordinary copies.
void CheckFlush(const Case& c, uint32_t count, uint32_t seed)
{
    const std::vector<uint8_t> source = TestBytes(size_t{count} * c.from->bytes, seed);
    const std::vector<uint8_t> start = TestBytes(size_t{count} * c.to->bytes, seed + 1);
    std::vector<uint8_t> expected = start;
    const FlushBytes flushSource(source);
    const FlushBytes actual(start);
    ASSERT_TRUE(flushSource.Ready() && actual.Ready());
    RunScalar(c, source.data(), expected.data(), count);
    RunPacked(c, flushSource.data(), actual.data(), count);
    ASSERT_EQ(0, std::memcmp(actual.data(), expected.data(), expected.size()))
        << Describe(c, count, 0);
}

std::vector<Case> AllCases()
{
    std::vector<Case> cases;
    for (const FormatInfo& from : SampleModel::kFormats) {
        for (const FormatInfo& to : SampleModel::kFormats) {
            for (bool add : {false, true}) {
                cases.push_back({&from, &to, add, false, 0});
                for (SampleGain gain : kGains) {
                    cases.push_back({&from, &to, add, true, gain});
                }
            }
        }
    }
    return cases;
}

class PackedConverters : public Platform::Kernel::Testing::KernelTest,
                         public testing::WithParamInterface<SampleVectorLevel>
{
protected:
    void TearDown() override
    {
        Platform::Kernel::ResetKernel();
        ChooseSampleVectorLevel();  // the best again, for whatever runs next
        Platform::Kernel::Testing::KernelTest::TearDown();
    }
};

TEST_P(PackedConverters, MatchTheScalarRoutinesBitForBit)
{
    ASSERT_TRUE(UseLevel(GetParam())) << "a level this processor has was not chosen";
    const uint32_t counts[] = {1, 3, 4, 5, 7, 8, 13, 96 * 2 + 1, 1024};
    uint32_t seed = 1;
    for (const Case& c : AllCases()) {
        for (uint32_t count : counts) {
            for (uint32_t offset : {0u, 1u, 3u}) {
                Check(c, count, offset, seed++);
                if (HasFatalFailure()) {
                    return;
                }
            }
        }
    }
}

// Runs that end where their buffers end, at counts either side of every loop's step: the vector
// loops load ahead of the group they work on only where the run goes on.
TEST_P(PackedConverters, ReadAndWriteNothingPastTheirRuns)
{
    ASSERT_TRUE(UseLevel(GetParam())) << "a level this processor has was not chosen";
    uint32_t seed = 11;
    for (const Case& c : AllCases()) {
        for (uint32_t count : {4u, 5u, 8u, 9u, 16u, 17u, 20u, 21u, 33u}) {
            CheckFlush(c, count, seed++);
            if (HasFatalFailure()) {
                return;
            }
        }
    }
}

// The meter over whole frames of one, two, three and four channels at this level against the
// scalar level: the same peaks, from slots that start empty, low or already above the signal.
TEST_P(PackedConverters, PeaksMatchTheScalarMeter)
{
    struct Measured
    {
        std::vector<uint8_t> data;
        ChannelRun run;
        uint32_t frames;
        std::vector<uint32_t> peaks;
    };
    std::vector<Measured> cases;
    uint32_t seed = 7;
    for (const FormatInfo& format : SampleModel::kFormats) {
        for (uint32_t channels : {1u, 2u, 3u, 4u}) {
            for (uint32_t frames : {1u, 3u, 4u, 5u, 7u, 96u, 193u}) {
                const size_t bytes = size_t{frames} * channels * format.bytes;
                std::vector<uint32_t> start(channels);
                for (uint32_t k = 0; k < channels; ++k) {
                    start[k] = k == 0 ? 0 : (k == 1 ? 0x7FFFFFFFu : seed * 0x01000193u);
                }
                cases.push_back({TestBytes(bytes, seed++),
                                 {format.code, channels, 0, channels},
                                 frames,
                                 start});
            }
        }
    }
    std::vector<std::vector<uint32_t>> expected;
    ASSERT_TRUE(UseLevel(SampleVectorLevel::Scalar));
    for (const Measured& m : cases) {
        std::vector<uint32_t> peaks = m.peaks;
        ASSERT_EQ(MeasurePeak(m.frames, m.run, m.data.data(), peaks.data()), 0);
        expected.push_back(peaks);
    }
    ASSERT_TRUE(UseLevel(GetParam()));
    for (size_t i = 0; i < cases.size(); ++i) {
        const Measured& m = cases[i];
        std::vector<uint32_t> peaks = m.peaks;
        ASSERT_EQ(MeasurePeak(m.frames, m.run, m.data.data(), peaks.data()), 0);
        ASSERT_EQ(peaks, expected[i])
            << "format " << std::hex << m.run.format << std::dec << " channels "
            << m.run.channelCount << " frames " << m.frames;
    }
}

std::string LevelName(const testing::TestParamInfo<SampleVectorLevel>& info)
{
    static const char* const kNames[] = {"Scalar", "Sse2", "Ssse3", "Sse41"};
    return kNames[static_cast<int>(info.param)];
}

// Every level the processor running the tests has; each one below it is reached by hiding features.
std::vector<SampleVectorLevel> LevelsOfThisProcessor()
{
    std::vector<SampleVectorLevel> levels{SampleVectorLevel::Scalar};
    if (__builtin_cpu_supports("sse2")) {
        levels.push_back(SampleVectorLevel::Sse2);
        if (__builtin_cpu_supports("ssse3")) {
            levels.push_back(SampleVectorLevel::Ssse3);
            if (__builtin_cpu_supports("sse4.1")) {
                levels.push_back(SampleVectorLevel::Sse41);
            }
        }
    }
    return levels;
}

INSTANTIATE_TEST_SUITE_P(EveryLevel, PackedConverters, testing::ValuesIn(LevelsOfThisProcessor()),
                         LevelName);

// The level is chosen from the processor's features, and the kernels are really used: a level
// the machine has is chosen when nothing is hidden.
TEST(PackedConverterLevel, FollowsTheProcessorsFeatures)
{
    Platform::Kernel::ResetKernel();
    const SampleVectorLevel best = ChooseSampleVectorLevel();
#if defined(__x86_64__)
    EXPECT_GE(best, SampleVectorLevel::Sse2);
    EXPECT_NE(SelectPackedConverter(kSampleInt24LE, kSampleInt32LE, 1).vector, nullptr);
#endif
    Platform::Kernel::HideProcessorFeature(PF_XMMI64_INSTRUCTIONS_AVAILABLE);
    EXPECT_EQ(ChooseSampleVectorLevel(), SampleVectorLevel::Scalar);
    EXPECT_EQ(SelectPackedConverter(kSampleInt24LE, kSampleInt32LE, 1).vector, nullptr);
    Platform::Kernel::ResetKernel();
    EXPECT_EQ(ChooseSampleVectorLevel(), best);
}

}  // namespace
