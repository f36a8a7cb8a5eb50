// Remove of a started device with no Stop or surprise removal before it, while MIDI and audio run
// (the MIDI tick holds reads on the bus, the streaming its transfers, both under the device's
// remove lock): Remove stops them before it waits for the lock, completes, and leaves no pool,
// timer or work item.
#include <gtest/gtest.h>

#include <vector>

#include "MidiDeviceModel.h"

namespace {

using namespace std::chrono_literals;
using Platform::Ks::PnpRequest;

enum class Running
{
    Midi,          // a reader open: the tick runs and reads wait on the bulk pipe
    Audio,         // the engine kept streaming
    MidiAndAudio,  // both
};

struct RemoveCase
{
    const char* name;
    Running running;
    bool queryRemoveFirst;
};

class RemoveWithoutStopTest : public MidiDeviceFixture,
                              public ::testing::WithParamInterface<RemoveCase>
{
};

TEST_P(RemoveWithoutStopTest, RemoveStopsWhatHoldsTheLockAndLeavesNothing)
{
    const RemoveCase& c = GetParam();
    ASSERT_NE(PlugInMidi(MidiVariant()), nullptr);
    CollectingReaderOwner readerOwner;
    MidiReader* reader = nullptr;
    if (c.running != Running::Audio) {
        reader = Router()->RegisterReader(&readerOwner, 1);
        ASSERT_NE(reader, nullptr);
        Router()->SetClientOpen(reader, true);
    }
    if (c.running != Running::Midi) {
        ASSERT_EQ(Context()->deviceModel->SetKeepRunning(true), STATUS_SUCCESS);
    }
    Run(20ms);
    if (c.running != Running::Audio) {
        ASSERT_EQ(TickState(), kTickRunning);
        ASSERT_GT(Pipes()->ReadsInFlight(), 0);
    }
    if (c.running != Running::Midi) {
        ASSERT_TRUE(Engine()->IsStreaming());
    }
    if (c.queryRemoveFirst) {
        ASSERT_EQ(device->Send(PnpRequest::QueryRemove), STATUS_SUCCESS);
    }

    // The reader stays registered: the router goes with the device.
    EXPECT_EQ(device->Send(PnpRequest::Remove), STATUS_SUCCESS);
    EXPECT_EQ(Bus().PendingRequests(), 0u);
    Platform::Kernel::RunPending();
    driver_.reset();
    usbDevices_.Clear();  // the simulated buses' own timers go with them
    EXPECT_TRUE(Platform::Kernel::OutstandingPool().empty());
    EXPECT_EQ(Platform::Kernel::ArmedTimerCount(), 0u);
    EXPECT_EQ(Platform::Kernel::PendingWorkItemCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(WhileRunning, RemoveWithoutStopTest,
                         ::testing::Values(RemoveCase{"Midi", Running::Midi, false},
                                           RemoveCase{"Audio", Running::Audio, false},
                                           RemoveCase{"MidiAndAudio", Running::MidiAndAudio, false},
                                           RemoveCase{"MidiAfterQueryRemove", Running::Midi, true}),
                         [](const ::testing::TestParamInfo<RemoveCase>& info) {
                             return info.param.name;
                         });

}  // namespace
