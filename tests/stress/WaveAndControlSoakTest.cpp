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

#include <chrono>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "DeviceTap.h"
#include "HostMachine.h"
#include "LowLatencyClient.h"
#include "SoakRun.h"

namespace {

using namespace std::chrono_literals;

constexpr uint32_t kHalfFrames = 256;
constexpr size_t kQueuedReads = 4;

// The capture pin's frames against the device's input pattern, once placed on its first frame.
struct CaptureCheck
{
    uint64_t next = 0;
    uint64_t frames = 0;
    bool placed = false;
    std::string failure;

    void Take(const std::vector<uint8_t>& data, ULONG used)
    {
        int32_t want = placed ? SoakRun::CaptureSample(0, next) : 0;  // left; right is -want
        for (size_t o = 0; o + 8 <= used && failure.empty(); o += 8) {
            int32_t left;
            int32_t right;
            std::memcpy(&left, &data[o], 4);
            std::memcpy(&right, &data[o + 4], 4);
            if (!placed) {
                if (left == 0) {
                    continue;  // silence before the device's first captured frame
                }
                next = static_cast<uint64_t>((left >> 8) - 1);
                placed = true;
                want = SoakRun::CaptureSample(0, next);
            }
            if ((left & 0xFF) != 0 || left >> 8 != want || right >> 8 != -want) {
                failure = "captured frame " + std::to_string(frames) + " carries " +
                          std::to_string(left) + ", " + std::to_string(right) +
                          " instead of device sample " + std::to_string(next);
                return;
            }
            ++next;
            ++frames;
            want = SoakRun::NextCaptureValue(want);
        }
    }
};

class WaveAndControlSoak : public Platform::Kernel::Testing::KernelTest,
                           public ::testing::WithParamInterface<ULONG>
{
protected:
    void Drain(Host::HostMachine& machine, Host::RampCheck& ramp)
    {
        std::set<uint8_t> endpoints;
        for (const UsbSim::OutPacketRecord& packet : machine.UsbDevice().OutPackets()) {
            endpoints.insert(packet.endpoint);
        }
        for (const uint8_t endpoint : endpoints) {
            machine.UsbDevice().OutSamples(endpoint, received_);
            ramp.Take(received_);
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
    for (int s = 0; s < seconds; ++s) {
        for (auto done = 0us; done < 1s; done += step) {
            machine.Wait(step);
            client.Serve();
            ASSERT_TRUE(Read(*pin, rate, capture)) << capture.failure;
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
