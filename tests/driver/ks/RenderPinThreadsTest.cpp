// A render pin moved through its states on the wall clock while the engine completes its blocks
// and processes it on other threads. Each state change publishes the state under the pin lock
// before it stops the node: a block completion or processing in flight finishes first, and none
// that comes later pushes a block to a node being stopped. Without that a late push started the
// node again behind the stop (streaming ran on for a pin in ACQUIRE) or left a held block counted
// after the stop cleared the count, and the pin never played again; ThreadSanitizer saw the
// counts written from both sides, and a running query that read the pin's node without its lock
// while a stop freed it.
#include <KernelTestApi.h>
#include <KsPinHandle.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "WaveFixture.h"
#include "device/DeviceLifecycle.h"
#include "engine/StreamManager.h"

namespace {

using namespace std::chrono_literals;
using Platform::Kernel::SetTimeMode;
using Platform::Kernel::TimeMode;
using Platform::Ks::PcmFormatBytes;

template <typename Predicate>
bool WaitFor(Predicate done, std::chrono::milliseconds limit = 2000ms)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(200us);
    }
    return true;
}

// Asks IsAnyWavePinRunning from a thread of its own, at DISPATCH_LEVEL as a format check at
// raised level would, until stopped (at the latest when it goes out of scope).
class RunningQueries
{
public:
    explicit RunningQueries(DeviceContext* context)
        : thread([this, context] {
              while (asking) {
                  KIRQL irql;
                  KeRaiseIrql(DISPATCH_LEVEL, &irql);
                  IsAnyWavePinRunning(context);
                  KeLowerIrql(irql);
                  ++answers;
                  std::this_thread::sleep_for(20us);
              }
          })
    {
    }
    ~RunningQueries() { Stop(); }
    RunningQueries(const RunningQueries&) = delete;
    RunningQueries& operator=(const RunningQueries&) = delete;

    int Stop()
    {
        asking = false;
        if (thread.joinable()) {
            thread.join();
        }
        return answers;
    }

private:
    std::atomic<bool> asking{true};
    std::atomic<int> answers{0};
    std::thread thread;
};

class RenderPinThreads : public WaveFilterTest
{
protected:
    void TearDown() override
    {
        SetTimeMode(TimeMode::Virtual);
        WaveFilterTest::TearDown();
    }
};

TEST_F(RenderPinThreads, StateChangesRaceNoBlockCompletion)
{
    PlugInAndStart(UsbSim::ProductUac2());
    ASSERT_NE(OpenFilter(), nullptr);
    Platform::Ks::PinHandle* pin = OpenPin(0, PcmFormatBytes(2, 48000, 16, false));
    ASSERT_NE(pin, nullptr);
    SetTimeMode(TimeMode::Real);
    // Another filter's format check asks meanwhile whether any wave pin runs: the walk reads the
    // pin's node while the stop frees it.
    RunningQueries queries(Context());
    std::mt19937 random(26);
    size_t submitted = 0;
    size_t completed = 0;
    for (int round = 0; round < 120; ++round) {
        ASSERT_EQ(pin->WalkTo(KSSTATE_RUN), STATUS_SUCCESS) << round;
        for (int f = 0; f < 6; ++f) {
            // Frames of 1 to 200 blocks: blocks of 64 frames and shorter ones complete at
            // different points of the engine's periods.
            // A block placed at once completes its frame within the request.
            const NTSTATUS written = pin->Write(std::vector<uint8_t>(4 * (1 + random() % 200), 1));
            ASSERT_TRUE(written == STATUS_PENDING || written == STATUS_SUCCESS) << written;
            ++submitted;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500 + random() % 4000));
        const KSSTATE target = round % 2 == 0 ? KSSTATE_ACQUIRE : KSSTATE_STOP;
        ASSERT_EQ(pin->WalkTo(target), STATUS_SUCCESS) << round;
        // Periods go on for a while: none of them may start the stopped node again.
        std::this_thread::sleep_for(3ms);
        EXPECT_FALSE(Manager()->IsAnyStreamRunning()) << "round " << round;
        EXPECT_EQ(ReadUCharAcquire(&Context()->rateFixedByPin), 0) << "round " << round;
        if (target == KSSTATE_ACQUIRE) {
            ASSERT_EQ(pin->WalkTo(KSSTATE_STOP), STATUS_SUCCESS) << round;
        }
        completed += pin->Collect().size();
        ASSERT_EQ(pin->PendingFrames(), 0u) << "round " << round;
    }
    EXPECT_GT(queries.Stop(), 0);
    EXPECT_EQ(completed, submitted);
    EXPECT_EQ(pin->OutOfOrderCompletions(), 0u);

    // After all that the pin still plays: its frames complete at the pace of the device.
    ASSERT_EQ(pin->WalkTo(KSSTATE_RUN), STATUS_SUCCESS);
    for (int f = 0; f < 10; ++f) {
        const NTSTATUS written = pin->Write(std::vector<uint8_t>(4 * 480, 1));
        ASSERT_TRUE(written == STATUS_PENDING || written == STATUS_SUCCESS) << written;
    }
    size_t played = 0;
    EXPECT_TRUE(WaitFor([&] {
        played += pin->Collect().size();
        return played == 10;
    })) << played
        << " of 10 frames played";
    EXPECT_EQ(pin->WalkTo(KSSTATE_STOP), STATUS_SUCCESS);
    SetTimeMode(TimeMode::Virtual);
    Run(20ms);
    EXPECT_FALSE(Platform::Kernel::TakeSystemThreadBugCheck().has_value());
}

}  // namespace
