// The WAV reader against a table of files, good and bad: each good one reads back the samples it
// was written with, each bad one is refused with its reason; and what the writer makes the
// reader takes back unchanged.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "WavFile.h"

namespace {

using Host::ParseWav;
using Host::WavAudio;

WavAudio Audio(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t valid, size_t frames)
{
    WavAudio audio;
    audio.channels = channels;
    audio.rate = rate;
    audio.containerBits = bits;
    audio.validBits = valid;
    const int64_t span = int64_t{1} << (bits - 1);
    for (size_t i = 0; i < frames * channels; ++i) {
        // Both signs and the extremes of the container.
        const int64_t v = static_cast<int64_t>((i * 7919) % static_cast<uint64_t>(2 * span)) - span;
        audio.samples.push_back(static_cast<int32_t>(v));
    }
    return audio;
}

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t v)
{
    for (int b = 0; b < 4; ++b) {
        bytes[at + b] = static_cast<uint8_t>(v >> (8 * b));
    }
}

void Put16(std::vector<uint8_t>& bytes, size_t at, uint16_t v)
{
    bytes[at] = static_cast<uint8_t>(v);
    bytes[at + 1] = static_cast<uint8_t>(v >> 8);
}

// Offsets in a plain PCM image as the writer makes it.
constexpr size_t kRiffSize = 4;
constexpr size_t kFmt = 20;  // the fmt chunk's body
constexpr size_t kDataHeader = 36;

std::vector<uint8_t> Stereo16()
{
    return Host::WavBytes(Audio(2, 48000, 16, 16, 10));
}

struct GoodCase
{
    const char* name;
    WavAudio audio;
};

class WavGoodFiles : public ::testing::TestWithParam<GoodCase>
{
};

TEST_P(WavGoodFiles, ReadBackTheSamplesTheyWereWrittenWith)
{
    const WavAudio& written = GetParam().audio;
    WavAudio read;
    std::string error;
    ASSERT_TRUE(ParseWav(Host::WavBytes(written), &read, &error)) << error;
    EXPECT_EQ(read.channels, written.channels);
    EXPECT_EQ(read.rate, written.rate);
    EXPECT_EQ(read.containerBits, written.containerBits);
    EXPECT_EQ(read.validBits, written.validBits);
    EXPECT_EQ(read.samples, written.samples);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, WavGoodFiles,
    ::testing::Values(GoodCase{"Pcm16Stereo48000", Audio(2, 48000, 16, 16, 100)},
                      GoodCase{"Pcm24Stereo48000", Audio(2, 48000, 24, 24, 100)},
                      GoodCase{"Pcm32Stereo96000", Audio(2, 96000, 32, 32, 100)},
                      GoodCase{"Pcm24In32Extensible", Audio(2, 44100, 32, 24, 100)},
                      GoodCase{"Pcm24MonoOddData", Audio(1, 44100, 24, 24, 3)},
                      GoodCase{"EmptyData", Audio(2, 48000, 16, 16, 0)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WavFile, SkipsOtherChunksAndTheirPadding)
{
    std::vector<uint8_t> bytes = Stereo16();
    // A "LIST" chunk of odd length (padded) between the header and fmt.
    const std::vector<uint8_t> list = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};
    bytes.insert(bytes.begin() + 12, list.begin(), list.end());
    Put32(bytes, kRiffSize, static_cast<uint32_t>(bytes.size() - 8));
    WavAudio read;
    std::string error;
    ASSERT_TRUE(ParseWav(bytes, &read, &error)) << error;
    EXPECT_EQ(read.Frames(), 10u);
}

struct BadCase
{
    const char* name;
    std::function<void(std::vector<uint8_t>&)> spoil;
    const char* reason;  // a part of the error text
};

class WavBadFiles : public ::testing::TestWithParam<BadCase>
{
};

TEST_P(WavBadFiles, AreRefusedWithTheirReason)
{
    std::vector<uint8_t> bytes = Stereo16();
    GetParam().spoil(bytes);
    WavAudio read;
    std::string error;
    // Exactly the file's size: a read one past its end is caught by the address sanitizer.
    const std::vector<uint8_t> exact(bytes);
    EXPECT_FALSE(ParseWav(exact, &read, &error));
    EXPECT_NE(error.find(GetParam().reason), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WavBadFiles,
    ::testing::Values(
        BadCase{"Empty", [](auto& b) { b.clear(); }, "not a WAV file"},
        BadCase{"NotRiff", [](auto& b) { b[0] = 'X'; }, "not a WAV file"},
        BadCase{"NotWave", [](auto& b) { b[8] = 'X'; }, "not a WAV file"},
        BadCase{"CutShort", [](auto& b) { b.resize(b.size() - 5); }, "truncated"},
        BadCase{"RiffSizeTooSmall", [](auto& b) { Put32(b, kRiffSize, 2); }, "truncated"},
        BadCase{"DataSizeBeyondTheFile", [](auto& b) { Put32(b, kDataHeader + 4, 1000); },
                "truncated: chunk 'data'"},
        BadCase{"DataSizeHuge", [](auto& b) { Put32(b, kDataHeader + 4, 0xFFFFFFFF); },
                "truncated: chunk 'data'"},
        BadCase{"FmtSizeBeyondTheFile", [](auto& b) { Put32(b, kFmt - 4, 0x7FFFFFF0); },
                "truncated: chunk 'fmt '"},
        BadCase{"FmtTooShort",
                [](auto& b) {
                    Put32(b, kFmt - 4, 14);  // the two bytes after it become a chunk header
                },
                "fewer than the 16"},
        BadCase{"DataNotWholeFrames",
                [](auto& b) {
                    Put32(b, kDataHeader + 4, 38);
                    b.resize(b.size() - 2);
                    Put32(b, kRiffSize, static_cast<uint32_t>(b.size() - 8));
                },
                "not whole frames"},
        BadCase{"NoData",
                [](auto& b) {
                    b.resize(kDataHeader);
                    Put32(b, kRiffSize, static_cast<uint32_t>(b.size() - 8));
                },
                "no data chunk"},
        BadCase{"NoFmt", [](auto& b) { std::memcpy(&b[kFmt - 8], "junk", 4); }, "before any fmt"},
        BadCase{"Float", [](auto& b) { Put16(b, kFmt, 3); }, "IEEE float"},
        BadCase{"ALaw", [](auto& b) { Put16(b, kFmt, 6); }, "format tag 6"},
        BadCase{"Bits8", [](auto& b) { Put16(b, kFmt + 14, 8); }, "8-bit samples"},
        BadCase{"ZeroChannels", [](auto& b) { Put16(b, kFmt + 2, 0); }, "0 channels"},
        BadCase{"ZeroRate", [](auto& b) { Put32(b, kFmt + 4, 0); }, "0 Hz"},
        BadCase{"BlockAlignWrong", [](auto& b) { Put16(b, kFmt + 12, 6); }, "block align"},
        BadCase{"ByteRateWrong", [](auto& b) { Put32(b, kFmt + 8, 1234); }, "byte rate"},
        BadCase{"ChunkHeaderCut",
                [](auto& b) {
                    b.insert(b.end(), {'a', 'b', 'c', 'd'});
                    Put32(b, kRiffSize, static_cast<uint32_t>(b.size() - 8));
                },
                "chunk header is cut short"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WavFile, ExtensibleWithAnotherSubFormatIsRefused)
{
    std::vector<uint8_t> bytes = Host::WavBytes(Audio(2, 48000, 32, 24, 4));
    bytes[kFmt + 24] = 3;  // the sub-format GUID of IEEE float
    WavAudio read;
    std::string error;
    EXPECT_FALSE(ParseWav(bytes, &read, &error));
    EXPECT_NE(error.find("sub-format is not PCM"), std::string::npos) << error;
}

TEST(WavFile, TwoFmtChunksAreRefused)
{
    std::vector<uint8_t> bytes = Stereo16();
    const std::vector<uint8_t> fmt(bytes.begin() + kFmt - 8, bytes.begin() + kDataHeader);
    bytes.insert(bytes.begin() + kDataHeader, fmt.begin(), fmt.end());
    Put32(bytes, kRiffSize, static_cast<uint32_t>(bytes.size() - 8));
    WavAudio read;
    std::string error;
    EXPECT_FALSE(ParseWav(bytes, &read, &error));
    EXPECT_NE(error.find("two fmt chunks"), std::string::npos) << error;
}

TEST(WavFile, AMissingFileIsNamedInItsReason)
{
    WavAudio read;
    std::string error;
    EXPECT_FALSE(Host::ReadWavFile("/nonexistent/file.wav", &read, &error));
    EXPECT_EQ(error, "/nonexistent/file.wav: cannot open the file");
}

}  // namespace
