// A user process plays through the product's wave filter: PCM of each format the render pin
// takes reaches the simulated device sample for sample, frames of 1 to 512 blocks complete in
// order, and the audio position follows them.
#include <KsPinHandle.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "SoakRun.h"
#include "StreamTestSupport.h"
#include "WaveFixture.h"
#include "engine/StreamManager.h"
#include "engine/StreamManagerParts.h"

namespace {

using namespace std::chrono_literals;
using Platform::Ks::PcmFormatBytes;

int32_t Ramp(uint64_t n)
{
    return static_cast<int32_t>(n % 0x7FFFFE) + 1;
}

struct FormatCase
{
    const char* name;
    ULONG rate;
    ULONG bits;
    bool extensible;
    ULONG validBits;
    bool full;  // the ten-minute run at full length
};

// The client's sample of frame n, channel c, in the format's container, and what the device's
// 24-bit sample must then be.
void WriteFrame(const FormatCase& f, uint64_t n, uint8_t* out)
{
    if (f.bits == 16) {
        const auto v = static_cast<int16_t>(n % 0x7FFE + 1);
        const int16_t samples[2] = {v, static_cast<int16_t>(-v)};
        std::memcpy(out, samples, sizeof samples);
        return;
    }
    const int32_t v = Ramp(n);
    // 32 valid bits: the low byte carries bits the device's 24 cannot, which must be cut off.
    const int32_t low = f.validBits == 32 ? static_cast<int32_t>(n & 0xFF) : 0;
    const int32_t samples[2] = {v * 256 + low, -v * 256};
    std::memcpy(out, samples, sizeof samples);
}

int32_t Expected(const FormatCase& f, uint64_t n, int channel)
{
    const int32_t v = f.bits == 16 ? static_cast<int32_t>(n % 0x7FFE + 1) * 256 : Ramp(n);
    return channel == 0 ? v : -v;
}

// Reads the device's output packets: silence, then the client's frames one after the other, then
// silence once every frame arrived.
struct Receiver
{
    bool Take(UsbSim::SimulatedUsbDevice& device)
    {
        for (const UsbSim::OutPacketRecord& packet : device.OutPackets()) {
            for (size_t o = 0;
                 packet.endpoint == 0x01 && failure.empty() && o + 6 <= packet.bytes.size();
                 o += 6) {
                const int32_t left = StreamTest::Sample24(&packet.bytes[o]);
                const int32_t right = StreamTest::Sample24(&packet.bytes[o + 3]);
                if ((received == 0 || received == total) && left == 0 && right == 0) {
                    continue;
                }
                if (received >= total || left != Expected(format, received, 0) ||
                    right != Expected(format, received, 1)) {
                    failure = "frame " + std::to_string(received) + " carries " +
                              std::to_string(left) + ", " + std::to_string(right);
                    break;
                }
                ++received;
            }
        }
        device.ClearOutPackets();
        return failure.empty();
    }
    FormatCase format{};
    uint64_t total = UINT64_MAX;  // frames the client submits; known at the end
    uint64_t received = 0;
    std::string failure;
};

class RenderPinTest : public WaveFilterTest, public ::testing::WithParamInterface<FormatCase>
{
};

TEST_P(RenderPinTest, FramesReachTheDeviceSampleForSample)
{
    const FormatCase& f = GetParam();
    PlugInAndStart(UsbSim::ProductUac2());
    ASSERT_NE(OpenFilter(), nullptr);
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    Platform::Ks::PinHandle* pin =
        OpenPin(0, PcmFormatBytes(2, f.rate, f.bits, f.extensible, f.validBits), &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    ASSERT_EQ(pin->WalkTo(KSSTATE_RUN), STATUS_SUCCESS);

    const int nominal = SoakRun::Seconds("QUORVEL_PIN_SOAK_SECONDS", 3);
    const int seconds = f.full ? nominal : (nominal < 60 ? nominal : 60);
    const ULONG align = 2 * (f.bits / 8);
    const uint64_t lastFrame = static_cast<uint64_t>(seconds) * f.rate;
    uint64_t submitted = 0;  // frames
    uint32_t seed = 12345;
    Receiver receiver;
    receiver.format = f;
    ULONGLONG lastPlay = 0;
    for (int ms = 0; submitted < lastFrame || pin->PendingFrames() != 0; ++ms) {
        ASSERT_LT(ms, seconds * 1000 + 2000) << "frames still pending";
        // Keep 40 ms queued, in frames of 1 to 512 blocks.
        while (submitted < lastFrame && submitted < receiver.received + f.rate / 25 + 1024) {
            seed = seed * 1103515245u + 12345u;
            uint64_t blocks = 1 + (seed >> 8) % 512;
            blocks = blocks < lastFrame - submitted ? blocks : lastFrame - submitted;
            std::vector<uint8_t> data(blocks * align);
            for (uint64_t b = 0; b < blocks; ++b) {
                WriteFrame(f, submitted + b, &data[b * align]);
            }
            ASSERT_EQ(pin->Write(data), STATUS_PENDING);
            submitted += blocks;
        }
        if (submitted == lastFrame) {
            receiver.total = lastFrame;
        }
        Run(1ms);
        for (const Platform::Ks::CompletedFrame& frame : pin->Collect()) {
            ASSERT_EQ(frame.status, STATUS_SUCCESS);
        }
        ASSERT_TRUE(receiver.Take(UsbDevice())) << receiver.failure;
        if (ms % 50 == 0) {
            KSAUDIO_POSITION position{};
            ASSERT_EQ(pin->GetPosition(&position), STATUS_SUCCESS);
            ASSERT_LE(position.PlayOffset, position.WriteOffset);
            ASSERT_LE(position.WriteOffset, submitted * align);
            ASSERT_GE(position.PlayOffset, lastPlay);
            lastPlay = position.PlayOffset;
        }
    }
    EXPECT_EQ(pin->OutOfOrderCompletions(), 0u);
    KSAUDIO_POSITION position{};
    ASSERT_EQ(pin->GetPosition(&position), STATUS_SUCCESS);
    EXPECT_EQ(position.PlayOffset, lastFrame * align);
    Run(100ms);
    ASSERT_TRUE(receiver.Take(UsbDevice())) << receiver.failure;
    EXPECT_EQ(receiver.received, lastFrame);
    EXPECT_TRUE(UsbDevice().Violations().empty());
    EXPECT_EQ(pin->WalkTo(KSSTATE_STOP), STATUS_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, RenderPinTest,
    ::testing::Values(FormatCase{"Pcm16At48000", 48000, 16, false, 16, true},
                      FormatCase{"Pcm16At44100", 44100, 16, false, 16, false},
                      FormatCase{"Pcm16At96000", 96000, 16, false, 16, false},
                      FormatCase{"Pcm24In32At48000", 48000, 32, true, 24, false},
                      FormatCase{"Pcm32At48000", 48000, 32, true, 32, false},
                      FormatCase{"Pcm32PlainAt48000", 48000, 32, false, 32, false}),
    [](const ::testing::TestParamInfo<FormatCase>& info) { return info.param.name; });

}  // namespace

namespace {

// A restart of the device's streaming while the pin plays (a transfer the bus refuses asks for
// one): the pin's samples go on in order afterwards, none repeated or mixed twice, after
// a short silence; only the samples the restart itself dropped are lost.
//
// The silence the device hears once its streaming runs again is that of any start: about 9 ms
// until the first transfer completes (the transfers are queued that far ahead of the bus), the
// routing's 15 ms start-up interval in which no period reaches the stream manager, then the
// pin's recovery: its node is placed at the stream position of the first period the manager
// sees (200 frames ahead of the device) and its block goes there at the next period. The pin's
// own part, from that first period (the one flagged as the restart's) to the device hearing its
// samples again, is what it answers for: within 20 ms (6 ms here). A client stream without
// channels runs beside it only to see that period.
TEST_F(WaveFilterTest, PlaybackGoesOnInOrderAfterARestartOfTheStreaming)
{
    PlugInAndStart(UsbSim::ProductUac2());
    ASSERT_NE(OpenFilter(), nullptr);
    Platform::Ks::PinHandle* pin = OpenPin(0, PcmFormatBytes(2, 48000, 32, true, 24));
    ASSERT_NE(pin, nullptr);
    ASSERT_EQ(pin->WalkTo(KSSTATE_RUN), STATUS_SUCCESS);
    StreamTest::RecordingClient observer;
    StreamConfiguration configuration{};
    Manager()->GetConfiguration(&configuration);
    ManagedClientStream* watch = Manager()->AddClientStream(&observer);
    ASSERT_NE(watch, nullptr);
    ASSERT_EQ(watch->SetCaptureFormat(&configuration, 512, 4, 0, 0), 0);
    PVOID noBuffers[1] = {};
    ASSERT_EQ(watch->NextCaptureBuffer(noBuffers, 0), 0);
    ASSERT_EQ(Manager()->SetClientStreamRunning(watch, true), 0);
    uint64_t submitted = 0;
    int64_t last = -1;
    bool restarted = false;
    uint64_t silentAfterRestart = 0;
    int64_t lost = 0;
    int jumps = 0;
    int restartPeriodMs = -1;  // the first period the stream manager sees after the restart
    int resumedMs = -1;        // the device hears the pin again
    for (int ms = 0; ms < 1000; ++ms) {
        while (pin->PendingFrames() < 16) {
            std::vector<uint8_t> data(256 * 8);
            for (uint64_t b = 0; b < 256; ++b) {
                const int32_t v = Ramp(submitted + b);
                const int32_t samples[2] = {v * 256, -v * 256};
                std::memcpy(&data[b * 8], samples, sizeof samples);
            }
            ASSERT_EQ(pin->Write(data), STATUS_PENDING);
            submitted += 256;
        }
        if (ms == 400) {
            usbDevices.LastBus().RefuseIsoTransfers(1);
            restarted = true;
        }
        observer.flags.clear();
        Run(1ms);
        for (ULONG flags : observer.flags) {
            if (restarted && restartPeriodMs < 0 && (flags & 0x100) != 0) {
                restartPeriodMs = ms;
            }
        }
        for (const Platform::Ks::CompletedFrame& frame : pin->Collect()) {
            ASSERT_EQ(frame.status, STATUS_SUCCESS);
        }
        for (const UsbSim::OutPacketRecord& packet : UsbDevice().OutPackets()) {
            for (size_t o = 0; packet.endpoint == 0x01 && o + 6 <= packet.bytes.size(); o += 6) {
                const int32_t left = StreamTest::Sample24(&packet.bytes[o]);
                const int32_t right = StreamTest::Sample24(&packet.bytes[o + 3]);
                if (left == 0 && right == 0) {
                    silentAfterRestart += restarted && last >= 0 ? 1 : 0;
                    continue;
                }
                if (silentAfterRestart != 0 && resumedMs < 0) {
                    resumedMs = ms;
                }
                const int64_t index = left - 1;
                ASSERT_TRUE(right == -left && (last < 0 || index > last))
                    << "at " << ms << " ms the device heard " << left << ", " << right
                    << " after sample " << last;
                if (last >= 0 && index != last + 1) {
                    ++jumps;
                    lost += index - last - 1;
                }
                last = index;
            }
        }
        UsbDevice().ClearOutPackets();
    }
    EXPECT_GT(silentAfterRestart, 0u) << "the streaming restarted";
    EXPECT_LE(jumps, 1);
    EXPECT_LE(lost, 48000 * 20 / 1000) << "more than the restart's gap";
    EXPECT_LE(silentAfterRestart, 48000u * 32 / 1000);
    ASSERT_GE(restartPeriodMs, 0) << "no period of the restarted streaming reached the manager";
    ASSERT_GE(resumedMs, restartPeriodMs);
    EXPECT_LE(resumedMs - restartPeriodMs, 20) << "the pin's recovery after the restart";
    RecordProperty("RecoveryAfterTheRestartPeriodMs", resumedMs - restartPeriodMs);
    RecordProperty("SilentFramesAfterTheRestart", static_cast<int>(silentAfterRestart));
    EXPECT_GT(last, 40000);
    EXPECT_EQ(pin->WalkTo(KSSTATE_STOP), STATUS_SUCCESS);
    Manager()->RemoveClientStream(watch);
}

}  // namespace
