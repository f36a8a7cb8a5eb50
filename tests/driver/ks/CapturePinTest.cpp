// A user process records through the capture pin of a device with inputs: the device's input
// arrives bit-exact in frames long and short (short ones through the scratch buffer), with time
// stamps in order, and a pin closed while its timer runs leaves nothing behind.
#include <KsPinHandle.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "InputDeviceModel.h"
#include "SoakRun.h"
#include "WaveFixture.h"

namespace {

using namespace std::chrono_literals;
using Platform::Ks::PcmFormatBytes;

WaveEndpoint InputEndpoint()
{
    WaveEndpoint endpoint = ProductEndpoint();
    const WCHAR name[] = u"Corvane Quorvel Stereo In 1-2";
    RtlZeroMemory(endpoint.name, sizeof endpoint.name);
    std::memcpy(endpoint.name, name, sizeof name);
    endpoint.mainOutput = 0;
    endpoint.capture = 1;
    return endpoint;
}

class CapturePinTest : public WaveFilterTest
{
protected:
    CapturePinTest() : inputParts(InputDeviceUsbRecord(true, false)) {}
    void SetUp() override
    {
        WaveFilterTest::SetUp();
        SetDeviceParts(&inputParts);
        EndpointForNextStart() = InputEndpoint();
    }

    // Checks a frame of 32-bit stereo against the device's input: the first sample places the
    // stream, every later one follows it.
    bool Check(const Platform::Ks::CompletedFrame& frame)
    {
        const size_t frames = frame.header.DataUsed / 8;
        int32_t want = placed ? SoakRun::CaptureSample(0, next) : 0;  // left; right is -want
        for (size_t f = 0; f < frames; ++f) {
            int32_t samples[2];
            std::memcpy(samples, &frame.data[f * 8], sizeof samples);
            const int32_t left = samples[0] / 256;
            const int32_t right = samples[1] / 256;
            if (!placed && left != 0) {
                next = static_cast<uint64_t>(left - 1);
                placed = true;
                want = SoakRun::CaptureSample(0, next);
            }
            if (!placed) {
                continue;
            }
            if (left != want || right != -want || (samples[0] & 0xFF) != 0) {
                failure = "frame " + std::to_string(received) + " carries " +
                          std::to_string(samples[0]) + ", " + std::to_string(samples[1]) +
                          " expected " + std::to_string(SoakRun::CaptureSample(0, next)) + " at " +
                          std::to_string(f) + " of " + std::to_string(frames);
                return false;
            }
            ++next;
            ++received;
            want = SoakRun::NextCaptureValue(want);
        }
        return true;
    }

    InputDeviceParts inputParts;
    bool placed = false;
    uint64_t next = 0;
    uint64_t received = 0;
    std::string failure;
};

TEST_F(CapturePinTest, InputArrivesBitExactInLongAndShortFrames)
{
    PlugInAndStart(UsbSim::BuildProductDescriptors({.audioClass = 2, .inChannels = 2}));
    UsbDevice().SetInFrameGenerator(&SoakRun::CaptureFrames);
    ASSERT_NE(OpenFilter(KSCATEGORY_CAPTURE, u"CORVANEQUORVELSTEREOIN12"), nullptr);
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    Platform::Ks::PinHandle* pin = OpenPin(0, PcmFormatBytes(2, 48000, 32, true, 24), &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    ASSERT_EQ(pin->WalkTo(KSSTATE_RUN), STATUS_SUCCESS);
    const int seconds = SoakRun::Seconds("QUORVEL_PIN_SOAK_SECONDS", 3);
    LONGLONG lastTime = 0;
    uint64_t frames = 0;
    for (int ms = 0; ms < seconds * 1000; ++ms) {
        // Frames of 8 blocks (below the rate's minimum of 16: through the scratch buffer), of 32
        // and of 480.
        static constexpr ULONG kBlocks[] = {480, 8, 8, 32, 8};
        while (pin->PendingFrames() < 24) {
            ASSERT_EQ(pin->Read(kBlocks[frames % 5] * 8), STATUS_PENDING);
            ++frames;
        }
        Run(1ms);
        // The device's OUT packets are not this test's: kept, ten minutes of them grew to
        // hundreds of megabytes.
        UsbDevice().ClearOutPackets();
        for (const Platform::Ks::CompletedFrame& frame : pin->Collect()) {
            ASSERT_EQ(frame.status, STATUS_SUCCESS);
            ASSERT_EQ(frame.header.DataUsed, frame.data.size());
            ASSERT_TRUE(Check(frame)) << failure;
            ASSERT_NE(frame.header.OptionsFlags & KSSTREAM_HEADER_OPTIONSF_TIMEVALID, 0u);
            ASSERT_GE(frame.header.PresentationTime.Time, lastTime);
            lastTime = frame.header.PresentationTime.Time;
        }
    }
    // At the format's rate: the device was put at 48000 Hz.
    EXPECT_GT(received, static_cast<uint64_t>(seconds) * 48000 - 48000 / 5);
    EXPECT_EQ(pin->OutOfOrderCompletions(), 0u);
    EXPECT_EQ(pin->WalkTo(KSSTATE_STOP), STATUS_SUCCESS);
}

TEST_F(CapturePinTest, ClosingWhileTheTimerRunsLeavesNothingArmed)
{
    PlugInAndStart(UsbSim::BuildProductDescriptors({.audioClass = 2, .inChannels = 2}));
    ASSERT_NE(OpenFilter(KSCATEGORY_CAPTURE, u"CORVANEQUORVELSTEREOIN12"), nullptr);
    Platform::Ks::PinHandle* pin = OpenPin(0, PcmFormatBytes(2, 48000, 16, false));
    ASSERT_NE(pin, nullptr);
    ASSERT_EQ(pin->WalkTo(KSSTATE_RUN), STATUS_SUCCESS);  // no frame: the 1 ms timer runs
    Run(5ms);
    EXPECT_EQ(pin->Read(64), STATUS_PENDING);
    Run(3ms);
    EXPECT_EQ(pin->Close(), STATUS_SUCCESS);
    Run(5ms);
    EXPECT_EQ(pin->Collect().size(), 1u);
}

// Each allocation from the walk to RUN on failed in turn, among them the client stream and its
// ring at ACQUIRE and the engine's start behind it: the walk either fails, and the pin still
// stops and closes, or the pin captures.
TEST_F(CapturePinTest, RunSurvivesEveryAllocationFailure)
{
    PlugInAndStart(UsbSim::BuildProductDescriptors({.audioClass = 2, .inChannels = 2}));
    ASSERT_NE(OpenFilter(KSCATEGORY_CAPTURE, u"CORVANEQUORVELSTEREOIN12"), nullptr);
    for (uint64_t n = 1; n < 40; ++n) {
        auto pin = Platform::Ks::PinHandle::Open(*filter_, 0, PcmFormatBytes(2, 48000, 16, false));
        ASSERT_NE(pin, nullptr);
        Platform::Kernel::FailAllocationNumber(n);
        const NTSTATUS walked = pin->WalkTo(KSSTATE_RUN);
        pin->Read(256);
        Platform::Kernel::ClearAllocationFailures();
        Run(3ms);
        std::vector<Platform::Ks::CompletedFrame> frames = pin->Collect();
        for (int ms = 0; NT_SUCCESS(walked) && frames.empty() && ms < 200; ++ms) {
            Run(1ms);
            frames = pin->Collect();
        }
        EXPECT_EQ(pin->WalkTo(KSSTATE_STOP), STATUS_SUCCESS) << n;
        EXPECT_EQ(pin->Close(), STATUS_SUCCESS) << n;
        if (frames.empty()) {
            frames = pin->Collect();
        }
        ASSERT_EQ(frames.size(), 1u) << n;
        if (NT_SUCCESS(walked)) {
            EXPECT_EQ(frames[0].header.DataUsed, 256u) << n << ": ran, captured nothing";
        }
    }
}

}  // namespace

namespace {

// While the device is not started (here: surprise-removed) nothing captures, yet a recording
// client still watches the position: the capture pin's play offset goes on with the clock at the
// format's byte rate from when the position was last set, and never past the write offset. A
// started device's pin reports the offsets as they stand.
TEST_F(CapturePinTest, ThePlayOffsetGoesOnWithTheClockWhileTheDeviceIsNotStarted)
{
    PlugInAndStart(UsbSim::BuildProductDescriptors({.audioClass = 2, .inChannels = 2}));
    ASSERT_NE(OpenFilter(KSCATEGORY_CAPTURE, u"CORVANEQUORVELSTEREOIN12"), nullptr);
    Platform::Ks::PinHandle* pin = OpenPin(0, PcmFormatBytes(2, 48000, 16, false));  // 192000 B/s
    ASSERT_NE(pin, nullptr);
    const KSAUDIO_POSITION set{1000, 1000 + 96000};
    ASSERT_EQ(pin->SetPosition(set), STATUS_SUCCESS);
    Run(100ms);
    KSAUDIO_POSITION position{};
    ASSERT_EQ(pin->GetPosition(&position), STATUS_SUCCESS);
    EXPECT_EQ(position.PlayOffset, 1000u) << "a started device's pin keeps its offsets";

    ASSERT_EQ(device->Send(Platform::Ks::PnpRequest::SurpriseRemoval), STATUS_SUCCESS);
    ASSERT_EQ(pin->SetPosition(set), STATUS_SUCCESS);
    const struct
    {
        std::chrono::milliseconds after;
        ULONGLONG play;
    } steps[] = {{0ms, 1000}, {250ms, 1000 + 48000}, {125ms, 1000 + 72000}, {1000ms, 97000}};
    for (const auto& step : steps) {
        Run(step.after);
        ASSERT_EQ(pin->GetPosition(&position), STATUS_SUCCESS);
        EXPECT_EQ(position.PlayOffset, step.play) << step.after.count() << " ms later";
        EXPECT_EQ(position.WriteOffset, set.WriteOffset);
    }
    pin->Close();
    filter_->Close();
    EXPECT_EQ(device->Send(Platform::Ks::PnpRequest::Remove), STATUS_SUCCESS);
}

}  // namespace

namespace {

// The position property of a recording pin on a stopped device advances in whole blocks: at
// 44100 Hz with 8-byte blocks, 7 ms are 2469.6 bytes, of which 2464 (308 blocks) count.
TEST_F(CapturePinTest, TheClockDrivenPlayOffsetKeepsWholeBlocks)
{
    PlugInAndStart(UsbSim::BuildProductDescriptors({.audioClass = 2, .inChannels = 2}));
    ASSERT_NE(OpenFilter(KSCATEGORY_CAPTURE, u"CORVANEQUORVELSTEREOIN12"), nullptr);
    Platform::Ks::PinHandle* pin = OpenPin(0, PcmFormatBytes(2, 44100, 32, true, 24));
    ASSERT_NE(pin, nullptr);
    ASSERT_EQ(device->Send(Platform::Ks::PnpRequest::SurpriseRemoval), STATUS_SUCCESS);
    ASSERT_EQ(pin->SetPosition({0, 1 << 20}), STATUS_SUCCESS);
    Run(7ms);
    KSAUDIO_POSITION position{};
    ASSERT_EQ(pin->GetPosition(&position), STATUS_SUCCESS);
    EXPECT_EQ(position.PlayOffset, 2464u);
    pin->Close();
    filter_->Close();
    EXPECT_EQ(device->Send(Platform::Ks::PnpRequest::Remove), STATUS_SUCCESS);
}

}  // namespace

namespace {

// The device's frame generator writes what the capture checks expect, sample for sample: stereo
// runs across the pattern's wrap, and the frame-by-frame walk of other widths.
TEST(SoakRunPattern, CaptureFramesAreTheCaptureSamples)
{
    for (const uint32_t channels : {1u, 2u, 3u}) {
        for (const uint64_t first : {uint64_t{0}, uint64_t{SoakRun::kCaptureSpan} - 5,
                                     3 * uint64_t{SoakRun::kCaptureSpan}}) {
            std::vector<int32_t> samples(channels * 11, 0x55);
            SoakRun::CaptureFrames(first, channels, samples);
            for (uint32_t f = 0; f < 11; ++f) {
                for (uint32_t c = 0; c < channels; ++c) {
                    ASSERT_EQ(samples[f * channels + c],
                              SoakRun::CaptureSample(c == 0 ? 0 : 1, first + f))
                        << channels << " channel(s), frame " << first + f;
                }
            }
        }
    }
}

}  // namespace
