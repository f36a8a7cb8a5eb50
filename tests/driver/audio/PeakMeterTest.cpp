// The peak routines of every format against the model, and MeasurePeak over interleaved runs.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "SampleModel.h"
#include "audio/SampleConverters.h"

namespace {

using SampleModel::FormatInfo;

class PeakOfFormat : public testing::TestWithParam<FormatInfo>
{
};

std::vector<uint8_t> Encoded(const FormatInfo& f, const std::vector<int64_t>& atPrecision)
{
    std::vector<uint8_t> bytes(atPrecision.size() * f.bytes, 0xC3);
    for (size_t i = 0; i < atPrecision.size(); ++i) {
        SampleModel::Encode(f, &bytes[i * f.bytes], atPrecision[i]);
    }
    return bytes;
}

int64_t Max(const FormatInfo& f)
{
    return (int64_t{1} << (f.bits - 1)) - 1;
}

TEST_P(PeakOfFormat, RisesToTheLargestMagnitudeOfRandomSamples)
{
    const FormatInfo& f = GetParam();
    std::mt19937 random(11);
    std::vector<int64_t> values;
    for (int i = 0; i < 200; ++i) {
        values.push_back(static_cast<int64_t>(random() % (2 * Max(f) + 1)) - Max(f) - 1);
    }
    const std::vector<uint8_t> bytes = Encoded(f, values);
    uint32_t expected = 0;
    for (size_t i = 0; i < values.size(); ++i) {
        expected = std::max(expected, SampleModel::Magnitude(f, &bytes[i * f.bytes]));
    }
    uint32_t peak = 0;
    SelectPeakScanner(f.code)(bytes.data(), f.bytes, &peak, static_cast<uint32_t>(values.size()));
    EXPECT_EQ(peak, expected);
}

TEST_P(PeakOfFormat, FullScaleNegativeGivesTheLargestMagnitude)
{
    const FormatInfo& f = GetParam();
    const std::vector<uint8_t> bytes = Encoded(f, {-Max(f) - 1});
    uint32_t peak = 0;
    SelectPeakScanner(f.code)(bytes.data(), f.bytes, &peak, 1);
    EXPECT_EQ(peak, 0x7FFFFFFFu);
}

TEST_P(PeakOfFormat, FullScalePositiveKeepsItsPrecision)
{
    const FormatInfo& f = GetParam();
    const std::vector<uint8_t> bytes = Encoded(f, {Max(f)});
    uint32_t peak = 0;
    SelectPeakScanner(f.code)(bytes.data(), f.bytes, &peak, 1);
    const uint32_t expected =
        f.bits == 16 ? 0x7FFF0000u : (f.bits == 24 ? 0x7FFFFF00u : 0x7FFFFFFFu);
    EXPECT_EQ(peak, expected);
}

TEST_P(PeakOfFormat, NeverLowersASlot)
{
    const FormatInfo& f = GetParam();
    const std::vector<uint8_t> bytes = Encoded(f, {Max(f), -Max(f) - 1, 0});
    uint32_t peak = 0xFFFFFFFFu;
    SelectPeakScanner(f.code)(bytes.data(), f.bytes, &peak, 3);
    EXPECT_EQ(peak, 0xFFFFFFFFu);
    peak = 0x7FFFFFFFu;
    SelectPeakScanner(f.code)(bytes.data() + 2 * f.bytes, f.bytes, &peak, 1);
    EXPECT_EQ(peak, 0x7FFFFFFFu);
}

INSTANTIATE_TEST_SUITE_P(Formats, PeakOfFormat, testing::ValuesIn(SampleModel::kFormats),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MeasurePeak, MeasuresEachChannelOfTheRunInItsOwnSlot)
{
    // Four interleaved 16-bit channels; the run covers channels 1 and 2.
    const std::vector<int16_t> frames = {
        0x7000, 0x0100,  -0x0200, 0x6000,  //
        0x7000, -0x0300, 0x0050,  0x6000,  //
        0x7000, 0x0010,  0x0400,  0x6000,
    };
    uint32_t peaks[3] = {0x00000000u, 0x05000000u, 0xABCDu};
    const ChannelRun run{kSampleInt16LE, 4, 1, 2};
    EXPECT_EQ(MeasurePeak(3, run, frames.data(), peaks), 0);
    EXPECT_EQ(peaks[0], 0x02FFFFFFu);  // -0x0300: the complement of -0x03000000
    EXPECT_EQ(peaks[1], 0x05000000u);  // 0x0400 is below what the slot held
    EXPECT_EQ(peaks[2], 0xABCDu);      // beyond the run: untouched
}

TEST(MeasurePeak, NullBufferIsRefusedWithoutTouchingASlot)
{
    uint32_t peaks[2] = {1, 2};
    const ChannelRun run{kSampleInt32LE, 2, 0, 2};
    EXPECT_EQ(MeasurePeak(4, run, nullptr, peaks), static_cast<int32_t>(0x80070057u));
    EXPECT_EQ(peaks[0], 1u);
    EXPECT_EQ(peaks[1], 2u);
}

}  // namespace
