// Long runs of a control handle's streaming. Bit-exact both ways for QUORVEL_CONTROL_SOAK_SECONDS
// virtual seconds at 48 kHz (default 10; 600 gives the ten-minute run), at most 60 of them at
// 44.1 and 96 kHz. Then 1,000 handles unmapped or closed at random points while the engine streams
// on the wall clock, each user buffer freed the moment its unmap or close returns: the engine
// never touches freed memory (AddressSanitizer; the freed ranges are unmapped from the process)
// and no pool is left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

#include "../common/SoakRun.h"
#include "ControlTestDevice.h"
#include "UserStreamer.h"

namespace {

using namespace std::chrono_literals;
using Platform::Kernel::SetTimeMode;
using Platform::Kernel::TimeMode;

int SoakSeconds(int cap)
{
    const int seconds = SoakRun::Seconds("QUORVEL_CONTROL_SOAK_SECONDS", 10);
    return std::min(seconds, cap);
}

struct RateCase
{
    const char* name;
    int audioClass;
    ULONG rateIndex;
    ULONG rate;
    int cap;  // most virtual seconds the run takes
};

class ControlSoakTest : public ControlClientFixture, public ::testing::WithParamInterface<RateCase>
{
};

TEST_P(ControlSoakTest, BothDirectionsStayBitExact)
{
    const RateCase& row = GetParam();
    PlugIn(row.rateIndex, row.audioClass);
    UsbDevice().SetInFrameGenerator(&SoakRun::CaptureFrames);
    const ULONG half = row.rate / 100;  // 10 ms
    ControlClient* client = OpenClient();
    UserStreamer user(client, process, kControlChannels, half);
    ASSERT_EQ(user.Start(half), STATUS_SUCCESS);
    RampReceiver receiver(UsbDevice());
    const int seconds = SoakSeconds(row.cap);
    for (int second = 1; second <= seconds; ++second) {
        for (int step = 0; step < 250; ++step) {
            Run(4ms);
            user.Serve();
        }
        ASSERT_TRUE(receiver.Take()) << receiver.failure << " after " << second << " s";
        ASSERT_TRUE(user.inputFailure.empty()) << user.inputFailure << " after " << second << " s";
        ASSERT_EQ(std::count(user.doneResults.begin(), user.doneResults.end(), STATUS_SUCCESS),
                  static_cast<long>(user.doneResults.size()))
            << "a buffer-done failed by " << second << " s, flags " << client->TakeChangeFlags();
    }
    const double expected = static_cast<double>(seconds) * row.rate;
    EXPECT_NEAR(static_cast<double>(receiver.received), expected, 0.01 * expected + 4 * half);
    EXPECT_NEAR(static_cast<double>(user.inputChecked), expected, 0.01 * expected + 4 * half);
    EXPECT_EQ(client->TakeChangeFlags(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Rates, ControlSoakTest,
                         ::testing::Values(RateCase{"FullSpeed48000", 1, 1, 48000, 600},
                                           RateCase{"FullSpeed44100", 1, 0, 44100, 60},
                                           RateCase{"HighSpeed96000", 2, 2, 96000, 60}),
                         [](const auto& info) { return std::string(info.param.name); });

// What a host may do to a streaming handle at any moment.
enum class Teardown
{
    UnmapInput,
    UnmapOutput,
    Close,
    ReleaseEventsThenClose,
};

class ControlTeardownStress : public ControlClientFixture
{
};

TEST_F(ControlTeardownStress, UnmapAndCloseAtRandomPointsWhileStreaming)
{
    PlugIn();
    UsbDevice().SetInFrameGenerator(&SoakRun::CaptureFrames);
    // Unlocked pages go at once: an engine period still writing through a half it was told is
    // gone faults instead of scribbling on memory the process reuses.
    process.SetPagesGoWhenUnlocked(true);
    SetTimeMode(TimeMode::Real);
    std::mt19937 random(20261211);
    constexpr ULONG kHalf = 96;  // 2 ms: many periods in a short stretch of wall time
    int started = 0;
    for (int round = 0; round < 1000; ++round) {
        ControlClient* client = OpenClient();
        ASSERT_NE(client, nullptr);
        UserStreamer user(client, process, 2, kHalf);
        started += user.Start() == STATUS_SUCCESS ? 1 : 0;
        const auto until =
            std::chrono::steady_clock::now() + std::chrono::microseconds(random() % 12000);
        while (std::chrono::steady_clock::now() < until) {
            user.Serve();
            std::this_thread::yield();
        }
        switch (static_cast<Teardown>(random() % 4)) {
            case Teardown::UnmapInput:
                ASSERT_EQ(client->UnmapClientBuffers(kControlInput), STATUS_SUCCESS);
                user.FreeBuffers(true, false);
                break;
            case Teardown::UnmapOutput:
                ASSERT_EQ(client->UnmapClientBuffers(kControlOutput), STATUS_SUCCESS);
                user.FreeBuffers(false, true);
                break;
            case Teardown::ReleaseEventsThenClose:
                ASSERT_EQ(client->ReleaseEvents(), STATUS_SUCCESS);
                [[fallthrough]];
            case Teardown::Close:
                CloseClient(client);
                client = nullptr;
                user.FreeBuffers();
                break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
        if (client != nullptr) {
            CloseClient(client);
        }
    }
    SetTimeMode(TimeMode::Virtual);
    Run(500ms);
    EXPECT_EQ(started, 1000);
    EXPECT_FALSE(Platform::Kernel::TakeSystemThreadBugCheck().has_value());
}

}  // namespace
