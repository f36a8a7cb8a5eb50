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

// A host that misses its deadline once: the device plays on while the late half is missing, and
// the buffer-done that finally comes sends it at once, so the ramp arrives without a gap and the
// events go on.
TEST_F(ControlStreamingTest, ALateBufferDoneCatchesUpTheMissedPeriods)
{
    PlugIn();
    ControlClient* client = OpenClient();
    UserStreamer user(client, process, 2, kHalfSamples);
    ASSERT_EQ(user.Start(), STATUS_SUCCESS);
    RampReceiver receiver(UsbDevice());
    RunServing(user, 500ms);
    ASSERT_TRUE(receiver.Take()) << receiver.failure;
    // The next half is filled but reported only after the device's next period has passed.
    int waited = 0;
    while (user.Serve(false) == 0 && waited++ < 10) {
        Run(2ms);
    }
    Run(12ms);
    const size_t eventsBefore = user.order.size();
    EXPECT_EQ(client->BufferDone(), STATUS_SUCCESS);
    RunServing(user, 500ms);
    ASSERT_TRUE(receiver.Take()) << receiver.failure;
    EXPECT_GE(user.order.size(), eventsBefore + 45) << "the events went on";
    EXPECT_GE(receiver.received + 3 * kHalfSamples, user.written) << "nothing was dropped";
    for (NTSTATUS result : user.doneResults) {
        ASSERT_EQ(result, STATUS_SUCCESS);
    }
    EXPECT_EQ(client->TakeChangeFlags(), 0u);
}

// Each change comes as its flag: buffer-done fails (its work still done) until user mode reads
// the flags, which clears them.
class ControlFlagsTest : public ControlStreamingTest
{
protected:
    void ExpectFlagReadOnce(ControlClient* client, UserStreamer& user, ULONG flag)
    {
        user.doneResults.clear();
        RunServing(user, 40ms);
        ASSERT_FALSE(user.doneResults.empty());
        for (NTSTATUS result : user.doneResults) {
            EXPECT_EQ(result, STATUS_UNSUCCESSFUL);
        }
        EXPECT_EQ(client->TakeChangeFlags() & flag, flag);
        EXPECT_EQ(client->TakeChangeFlags(), 0u) << "a read clears the flags";
        user.doneResults.clear();
        RunServing(user, 100ms);
        ASSERT_FALSE(user.doneResults.empty());
        for (NTSTATUS result : user.doneResults) {
            EXPECT_EQ(result, STATUS_SUCCESS);
        }
    }
};

// The device's configuration changes only while nothing streams: a handle that mapped its
// buffers in the old one and starts in the new one finds the change at its first period.
TEST_F(ControlFlagsTest, AConfigurationChangeFoundWhileStreamingRestartsAndRaises0x20)
{
    PlugIn();
    ControlClient* client = OpenClient();
    UserStreamer user(client, process, 2, kHalfSamples);
    ASSERT_EQ(user.Start(), STATUS_SUCCESS);
    RunServing(user, 100ms);
    ASSERT_EQ(client->StopStreaming(), STATUS_SUCCESS);
    for (int i = 0; i < 300 && Engine()->IsStreaming(); ++i) {
        Run(10ms);
    }
    ASSERT_FALSE(Engine()->IsStreaming());
    StreamConfiguration other{};
    Context()->deviceModel->GetConfiguration(1, &other);
    ASSERT_GE(Context()->deviceModel->SetStreamConfiguration(&other, 1), 0);
    Run(5ms);
    ASSERT_EQ(client->StartStreaming(), STATUS_SUCCESS);
    Run(5ms);
    EXPECT_TRUE(client->IsRunning()) << "streaming was restarted";
    ExpectFlagReadOnce(client, user, kChangeRestarted);
}

TEST_F(ControlFlagsTest, AnotherHandlesBufferSizeChangeRaises0x10)
{
    PlugIn();
    ControlClient* client = OpenClient();
    ControlClient* other = OpenClient();
    client->RecordOwner(client);  // a streaming handle
    UserStreamer user(client, process, 2, kHalfSamples);
    ASSERT_EQ(user.Start(), STATUS_SUCCESS);
    RunServing(user, 100ms);
    const ULONG shared = ControlBufferSize;
    const ULONG size = shared == 256 ? 128 : 256;
    ASSERT_EQ(other->SetBufferSize(size), STATUS_SUCCESS);
    EXPECT_EQ(ControlBufferSize, size);
    EXPECT_EQ(other->TakeChangeFlags(), kChangeBufferSize) << "the handle that changed it too";
    ExpectFlagReadOnce(client, user, kChangeBufferSize);
    // Setting the size in force again changes nothing and raises nothing.
    ASSERT_EQ(other->SetBufferSize(size), STATUS_SUCCESS);
    EXPECT_EQ(client->TakeChangeFlags(), 0u);
    ASSERT_EQ(other->SetBufferSize(shared), STATUS_SUCCESS);
}

// Input that finds no room while user mode holds both halves is counted by the stream, whose flag
// arrives through the engine's flags.
TEST_F(ControlFlagsTest, EngineFlagsArriveThroughOnFlags)
{
    PlugIn();
    ControlClient* client = OpenClient();
    UserStreamer user(client, process, 2, kHalfSamples);
    ASSERT_EQ(user.Start(), STATUS_SUCCESS);
    RunServing(user, 100ms);
    Run(100ms);  // nobody serves: the input has nowhere to go
    ExpectFlagReadOnce(client, user, kChangeInputLost);
}

// Sizes snap to the device's allowed ones: minimum 16, steps of 16, at most 2048 (or the mapped
// half while a stream exists); a tie goes to the larger.
struct SnapCase
{
    ULONG requested;
    ULONG snapped;
};

TEST_F(ControlStreamingTest, BufferSizesSnapToTheAllowedSizes)
{
    PlugIn();
    ControlClient* client = OpenClient();
    const SnapCase idle[] = {{100, 96}, {104, 112},   {5, 16},      {4000, 2048}, {0, 16},
                             {16, 16},  {2048, 2048}, {17, 16},     {24, 32},     {1000, 1008},
                             {96, 96},  {2047, 2048}, {2040, 2048}, {1, 16}};
    for (const SnapCase& row : idle) {
        EXPECT_EQ(client->SnapBufferSize(row.requested), row.snapped) << row.requested;
    }
    EXPECT_EQ(client->SetBufferSize(100), STATUS_UNSUCCESSFUL) << "not an allowed size";
    EXPECT_EQ(client->SetBufferSize(96), STATUS_SUCCESS);
    EXPECT_EQ(client->BufferSize(), 96u);

    UserStreamer user(client, process, 2, kHalfSamples);
    ASSERT_EQ(user.Map(kControlInput), STATUS_SUCCESS);
    ASSERT_EQ(user.Map(kControlOutput), STATUS_SUCCESS);
    const SnapCase mapped[] = {{1000, 480}, {470, 464}, {480, 480}, {100, 96}};
    for (const SnapCase& row : mapped) {
        EXPECT_EQ(client->SnapBufferSize(row.requested), row.snapped) << row.requested;
    }
    ASSERT_EQ(client->StartStreaming(), STATUS_SUCCESS);
    ASSERT_TRUE(client->IsRunning());
    EXPECT_EQ(client->SnapBufferSize(480), 96u) << "the size is fixed while streaming";
    EXPECT_EQ(client->SetBufferSize(480), STATUS_UNSUCCESSFUL);
}

// The periods of a half follow the buffer size against the ring block of 512: the first event
// comes after one period, a whole half being its periods.
struct PeriodCase
{
    ULONG bufferSize;
    ULONG periodsPerHalf;
};

class ControlPeriodsTest : public ControlStreamingTest,
                           public ::testing::WithParamInterface<PeriodCase>
{
};

TEST_P(ControlPeriodsTest, TheFirstEventComesAfterOnePeriod)
{
    constexpr ULONG kHalf = 2048;
    PlugIn();
    ControlClient* client = OpenClient();
    client->RecordOwner(client);
    ASSERT_EQ(client->SetBufferSize(GetParam().bufferSize), STATUS_SUCCESS);
    UserStreamer user(client, process, 2, kHalf);
    ASSERT_EQ(user.Start(), STATUS_SUCCESS);
    ULONGLONG position = 0;
    ULONGLONG time = 0;
    for (int i = 0; i < 200 && user.order.empty(); ++i) {
        Run(1ms);
        if (process.IsEventSignalled(user.Event(1)).value_or(false)) {
            client->GetPosition(&position, &time);
            user.Serve();
        }
    }
    ASSERT_EQ(user.order.size(), 1u);
    EXPECT_EQ(position, kHalf / GetParam().periodsPerHalf);
    // From then on every event is one half further on, the position a period at a time.
    RunServing(user, 500ms);
    client->GetPosition(&position, &time);
    const ULONGLONG period = kHalf / GetParam().periodsPerHalf;
    const ULONGLONG atLastEvent = period + (user.order.size() - 1) * kHalf;
    EXPECT_GE(position, atLastEvent);
    EXPECT_LT(position, atLastEvent + kHalf);
    EXPECT_EQ(position % period, 0u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ControlPeriodsTest,
                         ::testing::Values(PeriodCase{512, 1}, PeriodCase{528, 2},
                                           PeriodCase{1024, 2}, PeriodCase{2048, 4}),
                         [](const auto& info) {
                             return "Size" + std::to_string(info.param.bufferSize);
                         });

}  // namespace
