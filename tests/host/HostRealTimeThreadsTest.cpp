// The host's play on the wall clock, as scripts/run shows it: the kernel layer's timer thread
// carries the bus's frames, the driver's DPCs and the host's tap on the device, while the main
// thread submits and collects blocks and reads the tap's summary. ThreadSanitizer runs it with the
// other threading tests. On the wall clock a starved timer thread (a loaded machine, the
// sanitizers) lets the device play silence where a period came too late, so the samples are not
// held to bit-exactness here (the virtual-time tests are); every block must still come back, the
// device must reach the signal's peaks, and nothing may be left.
#include <KernelTestApi.h>
#include <KernelTestFixture.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "HostMachine.h"
#include "Player.h"

namespace {

class HostRealTime : public Platform::Kernel::Testing::KernelTest
{
};

TEST_F(HostRealTime, PlayOnTheWallClockReachesTheDeviceAndLeavesNothing)
{
    Host::HostMachine machine(false);
    std::string error;
    ASSERT_TRUE(machine.Start(*Host::FindDevice("product"), &error)) << error;
    const std::vector<Host::EndpointInfo> endpoints = machine.Endpoints();
    ASSERT_FALSE(endpoints.empty());
    Host::PlayReport report;
    ASSERT_TRUE(
        Host::Play(machine, endpoints.front(), Host::TestSignal(48000, 1000), {}, &report, &error))
        << error;
    const Host::WavAudio signal = Host::TestSignal(48000, 1000);
    EXPECT_EQ(report.framesPlayed, signal.Frames());
    std::vector<int32_t> peaks(2, 0);
    for (size_t i = 0; i < signal.samples.size(); ++i) {
        peaks[i % 2] = std::max(peaks[i % 2], std::abs(signal.samples[i]));
    }
    EXPECT_EQ(report.peaks, peaks);
    EXPECT_TRUE(machine.Unplug().Nothing());
    EXPECT_FALSE(Platform::Kernel::TakeSystemThreadBugCheck().has_value());
}

}  // namespace
