// A soak of a wave capture pin and the control filter's low-latency client streaming at once on
// the test model with inputs, at each rate, in virtual time: the pin reads the device's input
// sample for sample, and the device receives the client's output bit-exact, with no period
// missed and nothing left behind. QUORVEL_STRESS_SOAK_SECONDS sets each rate's length (default
// 5 virtual seconds; 600 gives the ten-minute run, 86400 the day).
#include <KernelTestApi.h>
#include <KernelTestFixture.h>
#include <KsPinHandle.h>
#include <gtest/gtest.h>
#include <ksmedia.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "DeviceTap.h"
#include "HostMachine.h"
#include "LowLatencyClient.h"
#include "SoakRun.h"

namespace {

using namespace std::chrono_literals;

constexpr uint32_t kHalfFrames = 256;
constexpr size_t kQueuedReads = 4;
// The device's output is also checked every few steps: what it received since then is still in
// the cache when it is read back.
constexpr uint64_t kStepsPerDrain = 16;

// The capture pin's frames against the device's input pattern, once placed on its first frame.
// Frames that carry the pattern on are compared a block at a time against a precomputed one.
class CaptureCheck
{
public:
    void Take(const std::vector<uint8_t>& data, ULONG used)
    {
        const size_t frames = used / 8;
        for (size_t f = 0; f < frames && failure.empty();) {
            const size_t taken = placed ? TakeRun(data.data() + 8 * f, frames - f) : 0;
            if (taken != 0) {
                f += taken;
                continue;
            }
            for (const size_t end = f + std::min(kRunFrames, frames - f);
                 f < end && failure.empty(); ++f) {
                TakeFrame(data.data() + 8 * f);
            }
        }
    }

    uint64_t next = 0;
    uint64_t frames = 0;
    bool placed = false;
    std::string failure;

private:
    static constexpr size_t kRunFrames = 64;

    // Up to a block of frames when every one is the pattern going on; else 0. Two frames a step
    // in a vector register: the expected (w, -w, w + 1, -w - 1) moved up a byte, the right
    // channel compared on its top 24 bits.
    size_t TakeRun(const uint8_t* in, size_t count)
    {
        using Lanes = int32_t __attribute__((vector_size(16)));
        const size_t room = static_cast<size_t>(SoakRun::kCaptureSpan - want_) + 1;  // no wrap
        const size_t run = std::min({count, room, kRunFrames});
        const Lanes compared = {-1, -256, -1, -256};
        Lanes expected = {want_, -want_, want_ + 1, -want_ - 1};
        Lanes differ = {};
        size_t f = 0;
        for (; f + 2 <= run; f += 2, expected += Lanes{2, -2, 2, -2}) {
            Lanes got;
            std::memcpy(&got, in + 8 * f, sizeof got);
            differ |= (got ^ (expected << 8)) & compared;
        }
        if (f < run) {  // the last frame of an odd run
            int32_t got[2];
            std::memcpy(got, in + 8 * f, sizeof got);
            differ[0] |= got[0] ^ static_cast<int32_t>(static_cast<uint32_t>(expected[0]) << 8);
            differ[1] |= (got[1] ^ static_cast<int32_t>(static_cast<uint32_t>(expected[1]) << 8)) &
                         compared[1];
        }
        if ((differ[0] | differ[1] | differ[2] | differ[3]) != 0) {
            return 0;
        }
        next += run;
        frames += run;
        want_ = SoakRun::CaptureSample(0, next);
        return run;
    }

    void TakeFrame(const uint8_t* in)
    {
        int32_t left;
        int32_t right;
        std::memcpy(&left, in, 4);
        std::memcpy(&right, in + 4, 4);
        if (!placed) {
            if (left == 0) {
                return;  // silence before the device's first captured frame
            }
            next = static_cast<uint64_t>((left >> 8) - 1);
            placed = true;
            want_ = SoakRun::CaptureSample(0, next);
        }
        if ((left & 0xFF) != 0 || left >> 8 != want_ || right >> 8 != -want_) {
            failure = "captured frame " + std::to_string(frames) + " carries " +
                      std::to_string(left) + ", " + std::to_string(right) +
                      " instead of device sample " + std::to_string(next);
            return;
        }
        ++next;
        ++frames;
        want_ = SoakRun::NextCaptureValue(want_);
    }

    int32_t want_ = 0;  // left value of device sample `next`, once placed
};

class WaveAndControlSoak : public Platform::Kernel::Testing::KernelTest,
                           public ::testing::WithParamInterface<ULONG>
{
protected:
    void Drain(Host::HostMachine& machine, Host::RampCheck& ramp)
    {
        // The endpoints that received packets, in address order (no heap block each drain).
        std::array<bool, 256> received{};
        for (const UsbSim::OutPacketRecord& packet : machine.UsbDevice().OutPackets()) {
            received[packet.endpoint] = true;
        }
        for (size_t endpoint = 0; endpoint < received.size(); ++endpoint) {
            if (received[endpoint]) {
                machine.UsbDevice().OutSamples(static_cast<uint8_t>(endpoint), received_);
                ramp.Take(received_);
            }
        }
        machine.UsbDevice().ClearOutPackets();
    }

    static bool Read(Platform::Ks::PinHandle& pin, ULONG rate, CaptureCheck& capture)
    {
        while (pin.PendingFrames() < kQueuedReads) {
            const NTSTATUS status = pin.Read(rate / 100 * 8);
            if (status != STATUS_PENDING && status != STATUS_SUCCESS) {
                capture.failure = "the pin refused a read: " + Host::StatusText(status);
                return false;
            }
        }
        for (const Platform::Ks::CompletedFrame& frame : pin.Collect()) {
            if (frame.status != STATUS_SUCCESS) {
                capture.failure = "a read came back with " + Host::StatusText(frame.status);
                return false;
            }
            capture.Take(frame.data, frame.header.DataUsed);
        }
        return capture.failure.empty();
    }

    UsbSim::OutSampleArray received_;  // the last second's samples, its room kept
};

TEST_P(WaveAndControlSoak, CapturePinAndLowLatencyClientSampleExact)
{
    const ULONG rate = GetParam();
    const int seconds = SoakRun::Seconds("QUORVEL_STRESS_SOAK_SECONDS", 5);
    Host::HostMachine machine(true);
    std::string error;
    ASSERT_TRUE(machine.Start(*Host::FindDevice("inputs"), &error)) << error;
    machine.UsbDevice().SetInFrameGenerator(&SoakRun::CaptureFrames);

    auto handle = Platform::Ks::FilterHandle::Open(
        machine.Process(), machine.Device(),
        machine.Device().FindInterface(KSCATEGORY_TOPOLOGY,
                                       Platform::Ks::GuidText(kControlFilterReference)));
    ASSERT_NE(handle, nullptr);
    ControlRequester control(machine.Process(), std::move(handle));
    Host::LowLatencyClient client(control);
    ASSERT_TRUE(client.Describe(&error) && client.Configure(rate, kHalfFrames, &error)) << error;

    std::u16string link;
    for (const Host::EndpointInfo& e : machine.Endpoints()) {
        link = e.capture ? e.symbolicLink : link;
    }
    auto filter = Platform::Ks::FilterHandle::Open(machine.Process(), machine.Device(), link);
    ASSERT_NE(filter, nullptr);
    auto pin = Platform::Ks::PinHandle::Open(*filter, 0,
                                             Platform::Ks::PcmFormatBytes(2, rate, 32, true, 24));
    ASSERT_NE(pin, nullptr);
    ASSERT_EQ(pin->WalkTo(KSSTATE_RUN), STATUS_SUCCESS);
    ASSERT_TRUE(client.Start(&error)) << error;

    Host::RampCheck ramp(client.Outputs());
    CaptureCheck capture;
    const auto step = std::chrono::microseconds(kHalfFrames * 1000000ull / rate / 4);
    uint64_t steps = 0;
    for (int s = 0; s < seconds; ++s) {
        for (auto done = 0us; done < 1s; done += step) {
            machine.Wait(step);
            client.Serve();
            ASSERT_TRUE(Read(*pin, rate, capture)) << capture.failure;
            if (++steps % kStepsPerDrain == 0) {
                Drain(machine, ramp);
            }
        }
        Drain(machine, ramp);
        ASSERT_FALSE(ramp.Broken()) << "second " << s << ": " << ramp.Failure();
        ASSERT_EQ(ramp.Gaps(), 0u) << "second " << s;
    }
    ASSERT_TRUE(client.Stop(&error)) << error;
    machine.Wait(20ms);
    Drain(machine, ramp);
    EXPECT_FALSE(ramp.Broken()) << ramp.Failure();
    EXPECT_EQ(client.missed, 0u);
    EXPECT_EQ(client.failedDones, 0u);
    EXPECT_GE(ramp.RampFrames() + 2 * kHalfFrames + client.Latency(), client.written);
    const uint64_t expected = static_cast<uint64_t>(rate) * seconds;
    EXPECT_GE(capture.frames + rate / 10, expected) << "the pin read the whole run";
    EXPECT_GE(ramp.RampFrames() + rate / 10, expected) << "the device heard the whole run";
    client.Unmap();
    pin->WalkTo(KSSTATE_STOP);
    pin->Close();
    pin.reset();
    filter.reset();
    control.Close();
    const Host::LeftBehind left = machine.Unplug();
    EXPECT_TRUE(left.Nothing()) << left.pool.size() << " pool block(s), " << left.timers
                                << " timer(s), " << left.workItems << " work item(s)";
}

INSTANTIATE_TEST_SUITE_P(Rates, WaveAndControlSoak, ::testing::Values(44100u, 48000u, 96000u),
                         [](const auto& info) { return std::to_string(info.param); });

}  // namespace
