// Ten virtual minutes of the low-latency cycle by property requests, both layouts.
// QUORVEL_CONTROL_FILTER_SOAK_SECONDS sets the length (default 5 virtual seconds; 600 gives the
// ten-minute run).
#include "LowLatencyFixture.h"

namespace {

class LowLatencySoakTest : public LowLatencyFixture
{
};

INSTANTIATE_TEST_SUITE_P(Callers, LowLatencySoakTest,
                         ::testing::Values(Caller::Process64, Caller::Process32),
                         [](const auto& info) {
                             return info.param == Caller::Process64 ? "Process64" : "Process32";
                         });

TEST_P(LowLatencySoakTest, TenVirtualMinutesBitExact)
{
    Cycle(std::chrono::seconds(SoakRun::Seconds("QUORVEL_CONTROL_FILTER_SOAK_SECONDS", 5)));
}

}  // namespace
