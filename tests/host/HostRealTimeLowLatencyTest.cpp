// The host's low-latency client on the wall clock: the kernel layer's timer thread carries the
// device's periods and signals the client's events while the main thread serves them with property
// requests. On a loaded machine a half may come back late and the device then plays silence in its
// place or skips ahead, and a buffer-done may answer with change flags, so missed periods and
// failed answers are allowed here (the virtual-time tests hold them to zero); what the device
// received must still be the client's output in order, untouched, and nothing may be left.
#include <KernelTestApi.h>
#include <KernelTestFixture.h>
#include <gtest/gtest.h>

#include <string>

#include "HostMachine.h"
#include "LowLatency.h"

namespace {

class HostRealTimeLowLatency : public Platform::Kernel::Testing::KernelTest
{
};

TEST_F(HostRealTimeLowLatency, TheOutputReachesTheDeviceInOrderAndNothingIsLeft)
{
    Host::HostMachine machine(false);
    std::string error;
    ASSERT_TRUE(machine.Start(*Host::FindDevice("product"), &error)) << error;
    Host::LowLatencyOptions options;
    options.frames = 256;
    options.milliseconds = 1000;
    Host::LowLatencyReport report;
    ASSERT_EQ(Host::RunLowLatency(machine, options, &report, &error), Host::LowLatencyResult::Done)
        << error;
    // On a loaded machine a half handed back late leaves the device the half it already had, as
    // the double-buffer contract says, so the order of every sample is checked in virtual time;
    // here the ramp must start reaching the device in order.
    EXPECT_GT(report.received, 0u) << report.failure;
    EXPECT_GE(report.halves, 48000u / 256 / 2) << "the client served its events";
    EXPECT_TRUE(machine.Unplug().Nothing());
    EXPECT_FALSE(Platform::Kernel::TakeSystemThreadBugCheck().has_value());
}

}  // namespace
