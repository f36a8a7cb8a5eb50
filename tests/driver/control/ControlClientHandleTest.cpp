// What a control handle keeps besides its streams and ports: pending waits, released one at a
// time and completed when the handle goes; the removal-notification registration the device
// signals on surprise removal; and a handle closed with everything still in use.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ControlTestDevice.h"
#include "UserStreamer.h"
#include "device/DeviceLifecycle.h"

namespace {

using namespace std::chrono_literals;

class ControlHandleTest : public ControlClientFixture
{
protected:
    void SetUp() override
    {
        ControlClientFixture::SetUp();
        PlugIn();
    }
    NTSTATUS Wait(CallerRequest& request, ControlClient* client)
    {
        return request.Dispatch([&](PIRP irp) { return client->QueueWait(irp); });
    }
};

TEST_F(ControlHandleTest, WaitsPendUntilReleasedOldestFirst)
{
    ControlClient* client = OpenClient();
    CallerRequest first;
    CallerRequest second;
    ASSERT_EQ(Wait(first, client), STATUS_PENDING);
    ASSERT_EQ(Wait(second, client), STATUS_PENDING);
    EXPECT_FALSE(first.Completed());
    EXPECT_EQ(client->ReleaseWait(), STATUS_SUCCESS);
    ASSERT_TRUE(first.Completed());
    EXPECT_EQ(first.Status(), STATUS_SUCCESS);
    EXPECT_EQ(first.Information(), 0u);
    EXPECT_FALSE(second.Completed());
    EXPECT_EQ(client->ReleaseWait(), STATUS_SUCCESS);
    EXPECT_TRUE(second.Completed());
    EXPECT_EQ(client->ReleaseWait(), STATUS_SUCCESS) << "none queued is no failure";
    CallerRequest cancelled;
    ASSERT_EQ(Wait(cancelled, client), STATUS_PENDING);
    EXPECT_TRUE(cancelled.Cancel());
    EXPECT_EQ(cancelled.Status(), STATUS_CANCELLED);
}

TEST_F(ControlHandleTest, TheRemovalEventIsRegisteredOnceAndSignalledByTheDevice)
{
    ControlClient* client = OpenClient();
    ControlClient* other = OpenClient();
    HANDLE event = process.CreateEvent(true, false);
    HANDLE waitOnly = process.CreateEvent(true, false, SYNCHRONIZE);
    EXPECT_NE(client->RegisterRemovalEvent(waitOnly, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(client->RegisteredNotificationEvent(), nullptr) << "nothing registered";
    ASSERT_EQ(client->RegisterRemovalEvent(event, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(client->RegisterRemovalEvent(event, nullptr), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(other->RegisteredNotificationEvent(), nullptr);
    WakeClientEvents(Context());
    EXPECT_TRUE(process.IsEventSignalled(event).value_or(false));
    ASSERT_TRUE(process.ResetEvent(event));
    EXPECT_EQ(client->ReleaseRemovalEvent(), STATUS_SUCCESS);
    WakeClientEvents(Context());
    EXPECT_FALSE(process.IsEventSignalled(event).value_or(true));
    EXPECT_EQ(client->RegisterRemovalEvent(event, nullptr), STATUS_SUCCESS)
        << "again after release";
}

// A handle closed in the middle of everything: streaming, a wait and a read pending, ports open,
// buffers waiting for the wire. Everything ends and nothing is left behind.
TEST_F(ControlHandleTest, ClosingAHandleInUseEndsEverything)
{
    ControlClient* client = OpenClient();
    UserStreamer user(client, process, 2, 480);
    ASSERT_EQ(user.Start(), STATUS_SUCCESS);
    HANDLE midiEvent = process.CreateEvent(false, false);
    ASSERT_EQ(client->SetMidiEvent(midiEvent), STATUS_SUCCESS);
    ASSERT_EQ(client->OpenInputPort(0), STATUS_SUCCESS);
    ASSERT_EQ(client->OpenOutputPort(1), STATUS_SUCCESS);
    auto* sysex = static_cast<UCHAR*>(process.Allocate(200));
    sysex[0] = 0xF0;
    sysex[199] = 0xF7;
    ASSERT_EQ(client->WriteMidi(1, sysex, 200, UserMode), STATUS_SUCCESS);
    auto* readBuffer = static_cast<UCHAR*>(process.Allocate(16));
    ControlMidiReadResult result{};
    CallerRequest read;
    ASSERT_EQ(
        read.Dispatch([&](PIRP irp) { return client->ReadMidi(irp, 0, readBuffer, 16, &result); }),
        STATUS_PENDING);
    CallerRequest wait;
    ASSERT_EQ(wait.Dispatch([&](PIRP irp) { return client->QueueWait(irp); }), STATUS_PENDING);
    for (int i = 0; i < 10; ++i) {
        Run(2ms);
        user.Serve();
    }
    const size_t objectsBefore = Platform::Kernel::LiveObjectCount();
    CloseClient(client);
    EXPECT_TRUE(read.Completed());
    EXPECT_EQ(read.Information(), 0u);
    EXPECT_TRUE(wait.Completed());
    EXPECT_EQ(wait.Status(), STATUS_SUCCESS);
    EXPECT_EQ(sysex[0], static_cast<UCHAR>(~0xF0)) << "the held buffer was handed back";
    EXPECT_EQ(Platform::Kernel::LiveObjectCount(), objectsBefore) << "the handles still hold them";
    user.FreeBuffers();
    Run(50ms);
    EXPECT_FALSE(Engine()->IsStreaming() && Context()->streamManager->IsAnyStreamRunning());
}

// Events registered and released over and over while the engine signals them on the wall clock;
// the process closes its handles before each release, which then frees the objects.
TEST_F(ControlHandleTest, EventsReleasedWhileTheyAreSignalledAreNeverTouchedAgain)
{
    ControlClient* client = OpenClient();
    UserStreamer user(client, process, 2, 96);
    ASSERT_EQ(user.Start(), STATUS_SUCCESS);
    HANDLE midiEvent = process.CreateEvent(false, false);
    ASSERT_EQ(client->SetMidiEvent(midiEvent), STATUS_SUCCESS);
    Platform::Kernel::SetTimeMode(Platform::Kernel::TimeMode::Real);
    for (int round = 0; round < 500; ++round) {
        HANDLE events[2] = {process.CreateEvent(false, false), process.CreateEvent(false, false)};
        ASSERT_EQ(client->ReleaseEvents(), STATUS_SUCCESS);
        ASSERT_EQ(client->SetEvents(events[0], events[1]), STATUS_SUCCESS);
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(1500);
        while (std::chrono::steady_clock::now() < until) {
            for (HANDLE event : events) {
                if (process.ConsumeEvent(event)) {
                    client->BufferDone();
                }
            }
        }
        // The handles go first: the client's references alone keep the objects, so the release
        // frees them while the periods may be signalling.
        process.CloseHandle(events[0]);
        process.CloseHandle(events[1]);
        ASSERT_EQ(client->ReleaseEvents(), STATUS_SUCCESS);
    }
    Platform::Kernel::SetTimeMode(Platform::Kernel::TimeMode::Virtual);
    EXPECT_TRUE(client->IsRunning());
    EXPECT_FALSE(Platform::Kernel::TakeSystemThreadBugCheck().has_value());
}

}  // namespace
