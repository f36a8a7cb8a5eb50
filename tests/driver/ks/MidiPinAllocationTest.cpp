// MIDI through the pins with the 1st, 2nd, 3rd ... pool allocation from the filter's open on made
// to fail, one per run, until a run sees no failure: open the filter, open an output and an input
// pin and run them, send and receive notes and SysEx, close. Whatever fails must fail cleanly:
// no bug check, every frame back to the client, and once the device is removed no pool left.
// About 200 runs of a device's whole life: labelled long.
#include <KernelTestApi.h>
#include <gtest/gtest.h>

#include "MidiPinFixture.h"

namespace {

using namespace std::chrono_literals;
namespace Kernel = Platform::Kernel;
using Bytes = std::vector<uint8_t>;

class MidiPinAllocation : public MidiPinTest
{
protected:
    // One run; false once the failure was never reached.
    bool RunScenario(uint64_t failAt)
    {
        const size_t poolBefore = Kernel::OutstandingPool().size();
        EXPECT_NE(PlugIn(TwoInThreeOut()), nullptr);
        const uint64_t start = Kernel::AllocationCount();
        Kernel::FailAllocationNumber(failAt);
        Platform::Ks::FilterHandle* filter = OpenFilter(KSCATEGORY_AUDIO, u"PORTA");
        if (filter != nullptr && filter->IsOpen()) {
            Platform::Ks::PinHandle* output = OpenPin(filter, kMidiOutPinRaw, false);
            Platform::Ks::PinHandle* input = OpenPin(filter, kMidiPairPinInput, true);
            for (Platform::Ks::PinHandle* pin : {output, input}) {
                if (pin != nullptr) {
                    pin->WalkTo(KSSTATE_RUN);
                }
            }
            if (input != nullptr) {
                for (int i = 0; i < 4; ++i) {
                    input->Read(64);
                }
            }
            if (output != nullptr) {
                output->WriteAt(Platform::Ks::MusicRecord(0, {0x90, 0x3C, 0x40}), Now100ns());
                output->WriteAt(Platform::Ks::MusicRecord(0, {0xF0, 1, 2, 3, 4, 5, 6, 0xF7}),
                                Now100ns());
            }
            QueueIn({0x09, 0x90, 0x3C, 0x40, 0x04, 0xF0, 0x01, 0x02, 0x06, 0x03, 0xF7, 0x00});
            Run(20ms);
            for (Platform::Ks::PinHandle* pin : {output, input}) {
                if (pin != nullptr) {
                    pin->WalkTo(KSSTATE_STOP);
                }
            }
            // A state request the client could not send is sent again; a stopped pin holds no
            // frame.
            const uint64_t used = Kernel::AllocationCount() - start;
            Kernel::ClearAllocationFailures();
            for (Platform::Ks::PinHandle* pin : {output, input}) {
                if (pin != nullptr) {
                    EXPECT_EQ(pin->WalkTo(KSSTATE_STOP), STATUS_SUCCESS);
                    pin->Collect();
                    EXPECT_EQ(pin->PendingFrames(), 0u)
                        << "a frame kept after the stop, failing allocation " << failAt
                        << (pin == output ? " (output)" : " (input)");
                }
            }
            return Finish(failAt, used >= failAt, poolBefore);
        }
        const bool reached = Kernel::AllocationCount() - start >= failAt;
        Kernel::ClearAllocationFailures();
        return Finish(failAt, reached, poolBefore);
    }

    bool Finish(uint64_t failAt, bool reached, size_t poolBefore)
    {
        pins_.clear();
        filters_.clear();
        Run(5ms);
        // The device goes with each run: its codec keeps the message nodes it grew until then.
        EXPECT_EQ(device->Send(Platform::Ks::PnpRequest::Remove), STATUS_SUCCESS);
        Kernel::RunPending();
        const std::vector<Kernel::PoolBlock> left = Kernel::OutstandingPool();
        EXPECT_EQ(left.size(), poolBefore) << "failing allocation " << failAt << ": "
                                           << (left.empty() ? "" : left.back().Describe());
        return reached;
    }
};

TEST_F(MidiPinAllocation, EveryFailedAllocationFailsCleanly)
{
    uint64_t failAt = 1;
    for (; failAt < 5000 && !HasFailure(); ++failAt) {
        if (!RunScenario(failAt)) {
            break;
        }
    }
    EXPECT_GT(failAt, 20u) << "the scenario allocates";
    RecordProperty("Runs", static_cast<int>(failAt));
}

}  // namespace
