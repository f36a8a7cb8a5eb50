// The host's commands as a user runs them, in virtual time: play gives back from the device's
// side the samples of the file played, record with the test model that has inputs gives the
// device's input, list names the endpoints, and bad input ends in a one-line reason and the
// bad-input exit code. Each command unplugs its device, and the fixture fails a test whose
// driver left pool or timers behind.
#include <KernelTestApi.h>
#include <KernelTestFixture.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "HostCommands.h"
#include "HostOptions.h"
#include "Player.h"
#include "Recorder.h"
#include "WavFile.h"

namespace {

using Host::WavAudio;

struct Outcome
{
    int code;
    std::string out;
    std::string err;
};

class HostCommandsTest : public Platform::Kernel::Testing::KernelTest
{
protected:
    Outcome Run(std::vector<std::string> args)
    {
        args.push_back("--virtual");
        Host::HostOptions options;
        std::string error;
        if (!Host::ParseOptions(args, &options, &error)) {
            return {Host::kExitBadInput, "", error + "\n"};
        }
        std::ostringstream out;
        std::ostringstream err;
        const int code = Host::RunHost(options, out, err, false);
        return {code, out.str(), err.str()};
    }

    // A file of the running test's own (parameterised names hold a '/').
    std::string Path(const std::string& name)
    {
        std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(test.begin(), test.end(), '/', '_');
        return (std::filesystem::path(::testing::TempDir()) / (test + "-" + name)).string();
    }

    std::string Write(const std::string& name, const WavAudio& audio)
    {
        const std::string path = Path(name);
        std::string error;
        EXPECT_TRUE(Host::WriteWavFile(path, audio, &error)) << error;
        return path;
    }
};

// A ramp that walks through the container's range with both signs, stereo.
WavAudio Ramp(uint32_t rate, uint16_t bits, uint16_t valid, uint32_t frames)
{
    WavAudio audio;
    audio.channels = 2;
    audio.rate = rate;
    audio.containerBits = bits;
    audio.validBits = valid;
    const int64_t span = int64_t{1} << (bits - 1);
    for (uint32_t n = 0; n < frames; ++n) {
        const int64_t v = static_cast<int64_t>((n * 4099u + 1) % static_cast<uint64_t>(span));
        audio.samples.push_back(static_cast<int32_t>(v));
        audio.samples.push_back(static_cast<int32_t>(-v));
    }
    return audio;
}

TEST_F(HostCommandsTest, PlayOf24BitStereoAt48000GivesBackTheSameSamples)
{
    const WavAudio played = Ramp(48000, 24, 24, 48000 * 2);
    const std::string in = Write("in.wav", played);
    const std::string received = Path("received.wav");
    const Outcome o = Run({"play", in, "--out", received});
    ASSERT_EQ(o.code, Host::kExitOk) << o.out << o.err;
    EXPECT_NE(o.out.find("every sample bit-exact"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("left nothing behind"), std::string::npos) << o.out;
    WavAudio back;
    std::string error;
    ASSERT_TRUE(Host::ReadWavFile(received, &back, &error)) << error;
    EXPECT_EQ(back.rate, 48000u);
    EXPECT_EQ(back.channels, 2u);
    EXPECT_EQ(back.containerBits, 24u);
    EXPECT_EQ(back.samples, played.samples);
}

struct FormatCase
{
    const char* name;
    uint32_t rate;
    uint16_t bits;
    uint16_t valid;
};

class HostPlayFormats : public HostCommandsTest, public ::testing::WithParamInterface<FormatCase>
{
};

// What the device's 24 bits carry of each sample: 16-bit shifted up, 32-bit cut to its top 24.
TEST_P(HostPlayFormats, TheDeviceReceivesWhatItsSubslotsCarryOfEachSample)
{
    const FormatCase& f = GetParam();
    const WavAudio played = Ramp(f.rate, f.bits, f.valid, f.rate / 2);
    const std::string received = Path("received.wav");
    const Outcome o = Run({"play", Write("in.wav", played), "--out", received});
    ASSERT_EQ(o.code, Host::kExitOk) << o.out << o.err;
    WavAudio back;
    std::string error;
    ASSERT_TRUE(Host::ReadWavFile(received, &back, &error)) << error;
    ASSERT_EQ(back.samples.size(), played.samples.size());
    for (size_t i = 0; i < played.samples.size(); ++i) {
        ASSERT_EQ(back.samples[i], Host::DeviceValue(played, played.samples[i])) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, HostPlayFormats,
                         ::testing::Values(FormatCase{"Pcm16At44100", 44100, 16, 16},
                                           FormatCase{"Pcm32At96000", 96000, 32, 32},
                                           FormatCase{"Pcm24In32At48000", 48000, 32, 24}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostCommandsTest, RecordWithTheInputModelGivesTheDevicesInput)
{
    const std::string path = Path("recorded.wav");
    const Outcome o = Run({"record", path, "--seconds", "2", "--device", "inputs"});
    ASSERT_EQ(o.code, Host::kExitOk) << o.out << o.err;
    WavAudio recording;
    std::string error;
    ASSERT_TRUE(Host::ReadWavFile(path, &recording, &error)) << error;
    EXPECT_EQ(recording.rate, 48000u);
    EXPECT_EQ(recording.channels, 2u);
    ASSERT_EQ(recording.Frames(), 96000u);
    // Placed by its first sound, every later sample is the device's tone.
    size_t first = 0;
    while (recording.samples[first * 2] == 0) {
        ++first;
    }
    // A tone takes each value twice a period: eight frames of both channels place it.
    auto placedAt = [&](uint64_t offset) {
        for (size_t f = 0; f < 8; ++f) {
            for (uint32_t c = 0; c < 2; ++c) {
                if (recording.samples[(first + f) * 2 + c] !=
                    Host::InputTone(c, offset + f, 48000)) {
                    return false;
                }
            }
        }
        return true;
    };
    uint64_t offset = 0;
    while (offset < 96000 && !placedAt(offset)) {
        ++offset;
    }
    ASSERT_LT(offset, 96000u) << "the recording is not the device's tone";
    for (size_t f = first; f < recording.Frames(); ++f) {
        for (uint32_t c = 0; c < 2; ++c) {
            ASSERT_EQ(recording.samples[f * 2 + c], Host::InputTone(c, offset + f - first, 48000))
                << f;
        }
    }
}

// The recording's check against the device's tone: where the client read late, the recording has
// silence, or the tone jumps on; each is one underrun with where it is, its silence and the input
// lost, and the samples after it are still the tone's. A changed sample is not an underrun.
struct RecordCheckCase
{
    const char* name;
    uint64_t silence;  // frames of silence put in at frame 1000
    uint64_t skipped;  // frames of the tone left out there
    bool changeOne;    // a sample changed there instead
};

class RecordCheck : public ::testing::TestWithParam<RecordCheckCase>
{
};

TEST_P(RecordCheck, TellsUnderrunsFromChangedSamples)
{
    const RecordCheckCase& c = GetParam();
    WavAudio recording;
    recording.channels = 2;
    recording.rate = 48000;
    recording.containerBits = 24;
    recording.validBits = 24;
    uint64_t index = 500;
    for (uint64_t f = 0; f < 4000; ++f) {
        if (f == 1000) {
            recording.samples.insert(recording.samples.end(), c.silence * 2, 0);
            index += c.skipped;
        }
        for (uint32_t ch = 0; ch < 2; ++ch) {
            recording.samples.push_back(Host::InputTone(ch, index, 48000));
        }
        ++index;
    }
    if (c.changeOne) {
        recording.samples[1000 * 2 + 1] += 1;
    }
    Host::RecordReport report;
    Host::CheckAgainstTone(recording, &report);
    ASSERT_TRUE(report.placed);
    EXPECT_EQ(report.mismatches, c.changeOne ? 1u : 0u);
    if (c.silence == 0 && c.skipped == 0) {
        EXPECT_TRUE(report.underruns.empty());
        return;
    }
    ASSERT_EQ(report.underruns.size(), 1u);
    EXPECT_EQ(report.underruns[0].frame, 1000u);
    EXPECT_EQ(report.underruns[0].silence, c.silence);
    EXPECT_EQ(report.underruns[0].lost, c.skipped);
}

INSTANTIATE_TEST_SUITE_P(Cases, RecordCheck,
                         ::testing::Values(RecordCheckCase{"SilenceInserted", 300, 0, false},
                                           RecordCheckCase{"SilenceInPlace", 200, 200, false},
                                           RecordCheckCase{"InputSkipped", 0, 480, false},
                                           RecordCheckCase{"SampleChanged", 0, 0, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The low-latency client through the control filter, at each rate and at buffer sizes from the
// smallest the device takes to the largest (moved in several periods per half), on the product
// and on the model with inputs: every half handed back, nothing missed, the output whole.
struct LowLatencyCase
{
    const char* name;
    const char* device;
    const char* rate;
    const char* buffer;
};

class HostLowLatency : public HostCommandsTest, public ::testing::WithParamInterface<LowLatencyCase>
{
};

TEST_P(HostLowLatency, HandsBackEveryHalfAndTheDeviceReceivesTheOutputBitExact)
{
    const LowLatencyCase& c = GetParam();
    const Outcome o = Run({"lowlatency", "--buffer", c.buffer, "--seconds", "2", "--rate", c.rate,
                           "--device", c.device});
    ASSERT_EQ(o.code, Host::kExitOk) << o.out << o.err;
    EXPECT_NE(o.out.find("missed periods: 0; failed buffer-done answers: 0"), std::string::npos)
        << o.out;
    EXPECT_NE(o.out.find("every sample bit-exact"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("low latency"), std::string::npos) << "the meter line runs: " << o.out;
    EXPECT_NE(o.out.find("left nothing behind"), std::string::npos) << o.out;
    // Two seconds of halves, all handed back (the device starts streaming a few ms late).
    const uint64_t frames = std::stoul(c.buffer);
    const uint64_t halves = 2 * std::stoul(c.rate) / frames;
    const size_t at = o.out.find("Halves handed back: ");
    ASSERT_NE(at, std::string::npos) << o.out;
    const uint64_t handed = std::stoull(o.out.substr(at + 20));
    EXPECT_GE(handed + 2 + halves / 20, halves) << o.out;
    EXPECT_LE(handed, halves + 1) << o.out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostLowLatency,
    ::testing::Values(LowLatencyCase{"Product48000Smallest", "product", "48000", "16"},
                      LowLatencyCase{"Product44100", "product", "44100", "256"},
                      LowLatencyCase{"Product96000", "product", "96000", "512"},
                      LowLatencyCase{"Product48000Largest", "product", "48000", "2048"},
                      LowLatencyCase{"Inputs48000", "inputs", "48000", "128"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostCommandsTest, ListNamesTheEndpointsAndTheirFormats)
{
    const Outcome o = Run({"list", "--device", "inputs"});
    ASSERT_EQ(o.code, Host::kExitOk) << o.err;
    EXPECT_NE(o.out.find("render   \"Corvane Quorvel Stereo Out 1-2\"  PCM"), std::string::npos)
        << o.out;
    EXPECT_NE(o.out.find("capture  \"Corvane Quorvel Stereo In 1-2\"  PCM"), std::string::npos)
        << o.out;
    EXPECT_NE(o.out.find("Rates: 44100, 48000, 96000 Hz"), std::string::npos) << o.out;
}

// The model with MIDI ports: its four ports and the MIDI filters the driver made for them, and the
// product's line outputs still playing beside them.
TEST_F(HostCommandsTest, TheModelWithMidiPortsListsThemAndStillPlays)
{
    const Outcome list = Run({"list", "--device", "midi"});
    ASSERT_EQ(list.code, Host::kExitOk) << list.err;
    // Four ports each way, as the model describes itself: each port's filter carries both.
    EXPECT_NE(list.out.find("MIDI ports: 4 in, 4 out\n"), std::string::npos) << list.out;
    for (const char* port :
         {"midi     \"MIDI 1\"  MIDI in and out", "\"MIDI 4\"  MIDI in and out"}) {
        EXPECT_NE(list.out.find(port), std::string::npos) << list.out;
    }
    const Outcome play = Run({"--device", "midi"});
    EXPECT_EQ(play.code, Host::kExitOk) << play.out << play.err;
    EXPECT_NE(play.out.find("every sample bit-exact"), std::string::npos) << play.out;
}

// A player the machine held up past its queue: the device plays silence until the audio comes
// back, and the demonstration names that one underrun (where, how long) instead of calling every
// later sample different, and still fails.
TEST_F(HostCommandsTest, APlayerHeldUpPastItsQueueIsOneUnderrunThatFailsTheDemonstration)
{
    Host::HostOptions options;
    options.virtualTime = true;
    options.holdPlayerAtFrame = 48480;  // a frame with sound: the hold is heard at once
    options.holdPlayerMs = 400;         // the queue holds 200 ms
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(Host::RunHost(options, out, err, false), Host::kExitCheckFailed) << err.str();
    const std::string text = out.str();
    EXPECT_NE(text.find("1 underrun(s): the audio came late and the device played silence; every "
                        "other sample bit-exact"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("  underrun 1 at 1.010 s (frame 48480): "), std::string::npos) << text;
    EXPECT_EQ(text.find("underrun 2"), std::string::npos) << text;
    EXPECT_EQ(text.find("NOT bit-exact"), std::string::npos) << text;
    EXPECT_EQ(text.find("differ"), std::string::npos) << text;
    EXPECT_NE(text.find("Demonstration FAILED."), std::string::npos) << text;
    // About the hold less the queue: 200 ms of silence at 48 kHz, give or take a block.
    const size_t at = text.find("(frame 48480): ");
    ASSERT_NE(at, std::string::npos);
    const uint64_t silence = std::stoull(text.substr(at + 15));
    EXPECT_GE(silence, 9600u - 960u) << text;
    EXPECT_LE(silence, 9600u + 960u) << text;
}

struct ErrorCase
{
    const char* name;
    std::vector<std::string> args;  // "IN" stands for a file the case writes, "DIR" a folder
    WavAudio audio;
    std::string bytes;  // written instead of the audio when not empty
    const char* reason;
};

class HostErrors : public HostCommandsTest, public ::testing::WithParamInterface<ErrorCase>
{
};

TEST_P(HostErrors, EndInOneLineAndTheBadInputCode)
{
    const ErrorCase& c = GetParam();
    std::vector<std::string> args = c.args;
    for (std::string& a : args) {
        if (a == "DIR") {
            a = Path("folder.wav");
            std::filesystem::create_directories(a);
        }
        if (a == "IN") {
            a = c.bytes.empty() ? Write("in.wav", c.audio) : Path("in.wav");
            if (!c.bytes.empty()) {
                std::ofstream(a, std::ios::binary) << c.bytes;
            }
        }
    }
    const Outcome o = Run(args);
    EXPECT_EQ(o.code, Host::kExitBadInput) << o.out << o.err;
    EXPECT_NE(o.err.find(c.reason), std::string::npos) << o.err;
    EXPECT_EQ(o.err.find('\n'), o.err.size() - (o.err.empty() ? 0 : 1)) << o.err;
    // The refusal is the whole answer: no report of the unplug that follows it.
    EXPECT_EQ(o.out.find("Unplugged"), std::string::npos) << o.out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostErrors,
    ::testing::Values(
        ErrorCase{"MissingFile", {"play", "/nonexistent.wav"}, {}, "", "cannot open the file"},
        ErrorCase{"NotAWav", {"play", "IN"}, {}, "hello", "not a WAV file"},
        ErrorCase{"Folder", {"play", "DIR"}, {}, "", "is a folder, not a WAV file"},
        ErrorCase{
            "Truncated", {"play", "IN"}, {}, std::string("RIFF\xff\0\0\0WAVE", 12), "truncated"},
        ErrorCase{"RateTheDeviceLacks",
                  {"play", "IN"},
                  Ramp(22050, 16, 16, 100),
                  "",
                  "22050 Hz is not a rate the device offers"},
        ErrorCase{"Mono",
                  {"play", "IN"},
                  [] {
                      WavAudio a = Ramp(48000, 16, 16, 100);
                      a.channels = 1;
                      return a;
                  }(),
                  "",
                  "has 1 channel(s)"},
        ErrorCase{
            "UnknownDevice", {"list", "--device", "toaster"}, {}, "", "unknown device 'toaster'"},
        ErrorCase{"UnknownCommand", {"dance"}, {}, "", "unknown command 'dance'"},
        ErrorCase{"BadSeconds",
                  {"record", "x.wav", "--seconds", "ten"},
                  {},
                  "",
                  "--seconds takes a whole number"},
        ErrorCase{"LowLatencyBufferTheDeviceCannotTake",
                  {"lowlatency", "--buffer", "100", "--seconds", "1"},
                  {},
                  "",
                  "the device does not take 100 frames at 48000 Hz (it takes sizes from 16 to "
                  "2048 frames in steps of 16)"},
        ErrorCase{"LowLatencyBufferAboveTheMaximum",
                  {"lowlatency", "--buffer", "4096", "--seconds", "1"},
                  {},
                  "",
                  "the device does not take 4096 frames"},
        ErrorCase{"LowLatencyNoSeconds",
                  {"lowlatency", "--buffer", "256", "--seconds", "0"},
                  {},
                  "",
                  "--seconds takes a whole number from 1"},
        ErrorCase{"LowLatencyNegativeSeconds",
                  {"lowlatency", "--buffer", "256", "--seconds", "-3"},
                  {},
                  "",
                  "--seconds takes a whole number from 1"},
        ErrorCase{"LowLatencyWithoutBuffer",
                  {"lowlatency", "--seconds", "1"},
                  {},
                  "",
                  "lowlatency needs --buffer FRAMES"},
        ErrorCase{"LowLatencyAtARateTheDeviceLacks",
                  {"lowlatency", "--buffer", "256", "--seconds", "1", "--rate", "32000"},
                  {},
                  "",
                  "32000 Hz is not a rate the device offers"},
        ErrorCase{"RecordWithoutInputs",
                  {"record", "x.wav", "--seconds", "1"},
                  {},
                  "",
                  "has no capture endpoint"},
        ErrorCase{"RecordAtARateTheDeviceLacks",
                  {"record", "x.wav", "--seconds", "1", "--device", "inputs", "--rate", "32000"},
                  {},
                  "",
                  "32000 Hz is not a rate the device offers"},
        ErrorCase{"RecordingThatCannotBeWritten",
                  {"record", "/nonexistent-folder/x.wav", "--seconds", "1", "--device", "inputs"},
                  {},
                  "",
                  "cannot create the file"},
        ErrorCase{"EmptyData", {"play", "IN"}, Ramp(48000, 16, 16, 0), "", "holds no audio"},
        ErrorCase{"Float",
                  {"play", "IN"},
                  {},
                  [] {
                      std::vector<uint8_t> b = Host::WavBytes(Ramp(48000, 32, 32, 4));
                      b[20] = 3;  // the format tag: IEEE float
                      return std::string(b.begin(), b.end());
                  }(),
                  "IEEE float"}),
    [](const auto& info) { return std::string(info.param.name); });

// What the device's descriptors rule out is refused before the device is plugged in: the driver
// is never started, so it allocates nothing.
TEST_F(HostCommandsTest, RefusalsTheDeviceDeclaresComeBeforeItIsPluggedIn)
{
    WavAudio mono = Ramp(48000, 16, 16, 100);
    mono.channels = 1;
    const std::string lowRate = Write("rate.wav", Ramp(22050, 16, 16, 100));
    const std::string monoFile = Write("mono.wav", mono);
    const std::vector<std::vector<std::string>> refusals = {
        {"play", lowRate},
        {"play", monoFile},
        {"record", Path("x.wav"), "--seconds", "1"},
        {"record", Path("x.wav"), "--seconds", "1", "--device", "inputs", "--rate", "32000"},
        {"lowlatency", "--buffer", "256", "--seconds", "1", "--rate", "32000"},
    };
    for (const std::vector<std::string>& args : refusals) {
        const uint64_t allocations = Platform::Kernel::AllocationCount();
        const Outcome o = Run(args);
        EXPECT_EQ(o.code, Host::kExitBadInput) << args[0] << " " << args[1] << ": " << o.err;
        EXPECT_EQ(Platform::Kernel::AllocationCount(), allocations)
            << args[0] << " " << args[1] << ": the driver ran";
        EXPECT_EQ(o.out, "") << args[0] << " " << args[1];
    }
}

}  // namespace
