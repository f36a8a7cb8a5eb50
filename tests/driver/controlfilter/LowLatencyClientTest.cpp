// The low-latency cycle by property requests from 32- and 64-bit processes, a 64-bit caller's
// short buffer table, buffer tables naming another process's memory, and event handles that
// cannot be referenced.
#include <cstring>

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

// A table's buffers are probed as the requesting process's: addresses another process owns map
// nothing, so the engine neither writes input there nor plays what is there.
TEST_P(LowLatencyClientTest, BuffersOfAnotherProcessAreNeverStreamed)
{
    PlugIn();
    UsbDevice().SetInFrameGenerator(&SoakRun::CaptureFrames);
    UserProcess user(GetParam() != Caller::Process64);
    UserProcess foreign(GetParam() != Caller::Process64);
    auto control = OpenRequester(user);
    ASSERT_NE(control, nullptr);
    constexpr uint8_t kTheirs = 0x5A;
    constexpr ULONG kBytes = kHalfSamples * 4;
    for (bool output : {false, true}) {
        SCOPED_TRACE(output ? "output" : "input");
        void* theirs[kTableChannels][kTableHalves] = {};
        void* ours[kTableChannels][kTableHalves] = {};
        for (ULONG c = 0; c < kChannels; ++c) {
            for (ULONG h = 0; h < kTableHalves; ++h) {
                theirs[c][h] = foreign.Allocate(kBytes);
                std::memset(theirs[c][h], kTheirs, kBytes);
                ours[c][h] = user.Allocate(kBytes);
            }
        }
        const ULONG foreignItem = output ? kPropStreamingOutputBuffers : kPropStreamingInputBuffers;
        const ULONG ownItem = output ? kPropStreamingInputBuffers : kPropStreamingOutputBuffers;
        ASSERT_EQ(control
                      ->Set(kPropSetControlStreaming, foreignItem,
                            control->BufferTableData(theirs, kBytes))
                      .status,
                  STATUS_SUCCESS);
        ASSERT_EQ(
            control->Set(kPropSetControlStreaming, ownItem, control->BufferTableData(ours, kBytes))
                .status,
            STATUS_SUCCESS);
        ASSERT_EQ(control->SetU32(kPropSetControlStreaming, kPropStreamingStart, 0),
                  STATUS_SUCCESS);
        Run(100ms);
        EXPECT_EQ(control->GetU32(kPropSetControlStreaming, kPropStreamingRunning), 1u);
        size_t written = 0;
        for (ULONG c = 0; c < kChannels; ++c) {
            for (ULONG h = 0; h < kTableHalves; ++h) {
                const auto* bytes = static_cast<const uint8_t*>(theirs[c][h]);
                for (ULONG i = 0; i < kBytes; ++i) {
                    written += bytes[i] != kTheirs ? 1 : 0;
                }
            }
        }
        EXPECT_EQ(written, 0u) << "bytes of the other process written";
        size_t played = 0;
        for (const UsbSim::OutPacketRecord& packet : UsbDevice().OutPackets()) {
            for (uint8_t byte : packet.bytes) {
                played += packet.endpoint == 0x01 && byte != 0 ? 1 : 0;
            }
        }
        EXPECT_EQ(played, 0u) << "bytes of the other process played";
        EXPECT_EQ(control->SetU32(kPropSetControlStreaming, kPropStreamingStop, 0), STATUS_SUCCESS);
        EXPECT_EQ(control->SetU32(kPropSetControlStreaming, kPropStreamingReleaseInputBuffers, 0),
                  STATUS_SUCCESS);
        EXPECT_EQ(control->SetU32(kPropSetControlStreaming, kPropStreamingReleaseOutputBuffers, 0),
                  STATUS_SUCCESS);
        for (ULONG c = 0; c < kChannels; ++c) {
            for (ULONG h = 0; h < kTableHalves; ++h) {
                foreign.Free(theirs[c][h]);
                user.Free(ours[c][h]);
            }
        }
    }
    control->Close();
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
