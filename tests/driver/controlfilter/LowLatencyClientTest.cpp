// The low-latency cycle by property requests from 32- and 64-bit processes, a 64-bit caller's
// short buffer table, and event handles that cannot be referenced.
#include "LowLatencyFixture.h"

namespace {

using Platform::Kernel::UserProcess;

class LowLatencyClientTest : public LowLatencyFixture
{
};

INSTANTIATE_TEST_SUITE_P(Callers, LowLatencyClientTest,
                         ::testing::Values(Caller::Process64, Caller::Process32),
                         [](const auto& info) {
                             return info.param == Caller::Process64 ? "Process64" : "Process32";
                         });

TEST_P(LowLatencyClientTest, TheWholeCycleByPropertiesCarriesBothDirectionsBitExact)
{
    Cycle(2000ms);
}

// A 64-bit caller's buffer table must be whole: the 32-bit form's 164 bytes map nothing.
TEST_P(LowLatencyClientTest, AShortTableFromA64BitProcessMapsNothing)
{
    PlugIn();
    UserProcess user(GetParam() != Caller::Process64);
    auto control = OpenRequester(user);
    ASSERT_NE(control, nullptr);
    void* halves[kTableChannels][kTableHalves] = {};
    halves[0][0] = user.Allocate(kHalfSamples * 4);
    auto table = control->BufferTableData(halves, kHalfSamples * 4);
    table.resize(164);
    const NTSTATUS status =
        control->Set(kPropSetControlStreaming, kPropStreamingInputBuffers, table).status;
    if (GetParam() == Caller::Process64) {
        EXPECT_EQ(status, STATUS_BUFFER_TOO_SMALL);
        // Nothing was mapped: a whole table maps at once (input refuses a second mapping).
        table = control->BufferTableData(halves, kHalfSamples * 4);
        EXPECT_EQ(control->Set(kPropSetControlStreaming, kPropStreamingInputBuffers, table).status,
                  STATUS_SUCCESS);
    } else {
        EXPECT_EQ(status, STATUS_SUCCESS);
    }
    control->Close();
    user.Free(halves[0][0]);
}

// Handles that cannot be referenced register nothing: the request says so.
TEST_P(LowLatencyClientTest, EventsThatCannotBeReferencedAreRefused)
{
    PlugIn();
    UserProcess user(GetParam() != Caller::Process64);
    auto control = OpenRequester(user);
    ASSERT_NE(control, nullptr);
    HANDLE good = user.CreateEvent(false, false);
    HANDLE bogus = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FF0));
    EXPECT_FALSE(NT_SUCCESS(control
                                ->Set(kPropSetControlStreaming, kPropStreamingEvents,
                                      control->EventPairData(good, bogus))
                                .status));
    EXPECT_FALSE(NT_SUCCESS(
        control->Set(kPropSetControlMidiPorts, kPropMidiEvent, control->HandleData(bogus)).status));
    EXPECT_EQ(control
                  ->Set(kPropSetControlStreaming, kPropStreamingEvents,
                        control->EventPairData(good, good))
                  .status,
              STATUS_SUCCESS);
    control->Close();
}

}  // namespace
