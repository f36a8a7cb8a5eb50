// The general and raw sets of the product's control filter, from 32- and 64-bit processes:
// answers and their layouts, the checks, the removal event, the mixer and the raw request.
#include <gtest/gtest.h>

#include "ControlFilterFixture.h"
#include "device/DeviceModel.h"
#include "device/StreamConfiguration.h"

using Platform::Kernel::UserProcess;
using Platform::Ks::PnpRequest;

namespace {

// The u32 after the KSPROPERTY, padded to the item's 32 property bytes.
std::vector<uint8_t> IndexTail(uint32_t index)
{
    auto tail = ControlRequester::U32(index);
    tail.resize(8, 0);
    return tail;
}

class GeneralSetTest : public ControlFilterFixture, public ::testing::WithParamInterface<bool>
{
protected:
    void SetUp() override { LoadProduct(); }
    bool Narrow() const { return GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(Callers, GeneralSetTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Process32" : "Process64"; });

TEST_P(GeneralSetTest, DeviceInfoDescribesTheProductAndZeroesTheTagsItHasNoChannelsFor)
{
    UserProcess process(Narrow());
    auto control = Open(process);
    ASSERT_NE(control, nullptr);
    auto info = control->GetOver(kPropSetControlGeneral, kPropGeneralDeviceInfo, 344, 0xEE);
    ASSERT_EQ(info.status, STATUS_SUCCESS);
    ASSERT_EQ(info.information, 344u);
    EXPECT_EQ(ControlRequester::ReadU32(info.data, 0), 0u);  // no inputs
    EXPECT_EQ(ControlRequester::ReadU32(info.data, 4), 2u);
    EXPECT_EQ(ControlRequester::ReadU32(info.data, 8), 23577u);
    EXPECT_EQ(ControlRequester::ReadU32(info.data, 12), 1u);
    EXPECT_EQ(ControlRequester::ReadU32(info.data, 16), 512u);
    EXPECT_EQ(ControlRequester::ReadU32(info.data, 340), 96u);
    const std::string name(reinterpret_cast<const char*>(info.data.data() + 20));
    EXPECT_FALSE(name.empty());
    EXPECT_LT(name.size(), 32u);
    for (size_t i = 20 + name.size(); i < 52; ++i) {
        EXPECT_EQ(info.data[i], 0) << "name byte " << i;
    }
    EXPECT_EQ(ControlRequester::ReadU32(info.data, 196), ChannelKindTag("line"));
    EXPECT_EQ(ControlRequester::ReadU32(info.data, 200), ChannelKindTag("line"));
    // Every tag slot past the channels is zero, not whatever the buffer held.
    for (size_t at = 52; at < 196; at += 4) {
        EXPECT_EQ(ControlRequester::ReadU32(info.data, at), 0u) << "input tag at " << at;
    }
    for (size_t at = 204; at < 340; at += 4) {
        EXPECT_EQ(ControlRequester::ReadU32(info.data, at), 0u) << "output tag at " << at;
    }
}

TEST_P(GeneralSetTest, VersionsRatesAndTheIdsThatAreNotThere)
{
    UserProcess process(Narrow());
    auto control = Open(process);
    ASSERT_NE(control, nullptr);
    auto versions = control->Get(kPropSetControlGeneral, kPropGeneralVersions, 36);
    ASSERT_EQ(versions.status, STATUS_SUCCESS);
    EXPECT_EQ(ControlRequester::ReadU32(versions.data, 0), 7u);
    EXPECT_EQ(ControlRequester::ReadU32(versions.data, 12), 3505u);

    EXPECT_EQ(control->GetU32(kPropSetControlGeneral, kPropGeneralSampleRate), 44100u);
    auto first = control->Get(kPropSetControlGeneral, kPropGeneralRateByIndex, 12, IndexTail(0));
    ASSERT_EQ(first.status, STATUS_SUCCESS);
    EXPECT_EQ(ControlRequester::ReadU32(first.data, 4), 0u);
    EXPECT_EQ(ControlRequester::ReadU32(first.data, 8), 44100u);
    auto status = control->Get(kPropSetControlGeneral, kPropGeneralRateStatus, 16);
    ASSERT_EQ(status.status, STATUS_SUCCESS);
    const uint32_t count = ControlRequester::ReadU32(status.data, 4);
    ASSERT_GT(count, 1u);
    auto past = control->GetOver(kPropSetControlGeneral, kPropGeneralRateByIndex, 12, 0xEE,
                                 IndexTail(count));
    EXPECT_EQ(past.status, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(past.data, std::vector<uint8_t>(12, 0xEE));  // a failing GET writes nothing

    EXPECT_EQ(control->SetU32(kPropSetControlGeneral, kPropGeneralFlag2, 0xDEAD), STATUS_SUCCESS);
    for (ULONG missing : {3u, 6u, 25u}) {
        EXPECT_EQ(control->Get(kPropSetControlGeneral, missing, 4).status, STATUS_NOT_FOUND)
            << missing;
    }
    EXPECT_EQ(control->GetU32(kPropSetControlGeneral, kPropGeneralHighSpeed), 1u);
}

TEST_P(GeneralSetTest, ARateChangeThroughOneHandleFiresTheGeneralEventOnBoth)
{
    UserProcess process(Narrow());
    auto one = Open(process);
    auto two = Open(process);
    ASSERT_TRUE(one && two);
    HANDLE oneEvent = process.CreateEvent(false, false);
    HANDLE twoEvent = process.CreateEvent(false, false);
    ASSERT_EQ(one->Handle().EnableEvent(kPropSetControlGeneral, 0, oneEvent), STATUS_SUCCESS);
    ASSERT_EQ(two->Handle().EnableEvent(kPropSetControlGeneral, 0, twoEvent), STATUS_SUCCESS);

    EXPECT_EQ(one->SetU32(kPropSetControlGeneral, kPropGeneralSampleRate, 48000), STATUS_SUCCESS);
    EXPECT_TRUE(process.ConsumeEvent(oneEvent));
    EXPECT_TRUE(process.ConsumeEvent(twoEvent));
    EXPECT_EQ(two->GetU32(kPropSetControlGeneral, kPropGeneralSampleRate), 48000u);

    // A rate outside the list fails but still tells every handle to look again.
    EXPECT_EQ(two->SetU32(kPropSetControlGeneral, kPropGeneralSampleRate, 12345),
              STATUS_UNSUCCESSFUL);
    EXPECT_TRUE(process.ConsumeEvent(oneEvent));
    EXPECT_TRUE(process.ConsumeEvent(twoEvent));
}

TEST_P(GeneralSetTest, TheRemovalEventRegistersOncePerHandleAndSurpriseRemovalSignalsIt)
{
    UserProcess process(Narrow());
    auto one = Open(process);
    auto two = Open(process);
    ASSERT_TRUE(one && two);
    HANDLE removal = process.CreateEvent(true, false);
    EXPECT_EQ(
        one->Set(kPropSetControlGeneral, kPropGeneralRemovalEvent, one->HandleData(removal)).status,
        STATUS_SUCCESS);
    EXPECT_EQ(
        one->Set(kPropSetControlGeneral, kPropGeneralRemovalEvent, one->HandleData(removal)).status,
        STATUS_UNSUCCESSFUL);
    EXPECT_EQ(one->SetU32(kPropSetControlGeneral, kPropGeneralReleaseRemovalEvent, 0),
              STATUS_SUCCESS);
    EXPECT_EQ(
        one->Set(kPropSetControlGeneral, kPropGeneralRemovalEvent, one->HandleData(removal)).status,
        STATUS_SUCCESS);
    // A handle value that names nothing is refused and leaves no registration behind.
    HANDLE bogus = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FFC));
    EXPECT_FALSE(NT_SUCCESS(
        two->Set(kPropSetControlGeneral, kPropGeneralRemovalEvent, two->HandleData(bogus)).status));

    EXPECT_EQ(device_->Send(PnpRequest::SurpriseRemoval), STATUS_SUCCESS);
    Platform::Kernel::RunPending();
    EXPECT_EQ(process.IsEventSignalled(removal), true);
    one.reset();
    two.reset();
}

// Cell (r, c) of the mixer block.
size_t Cell(uint32_t row, uint32_t column)
{
    return 16 + (row * 64 + column) * 8;
}

std::vector<uint8_t> MixerBlock(uint32_t firstRow, uint32_t rows, uint32_t firstColumn,
                                uint32_t columns)
{
    std::vector<uint8_t> block(kMixerBlockBytes, 0);
    ControlRequester::Put(block, 0, firstRow);
    ControlRequester::Put(block, 4, rows);
    ControlRequester::Put(block, 8, firstColumn);
    ControlRequester::Put(block, 12, columns);
    return block;
}

// A released registration is gone before the handle's event object may go: a removal afterwards
// signals nothing and touches nothing (the address sanitizer would see a freed object).
TEST_P(GeneralSetTest, AReleasedRemovalEventIsNeverSignalled)
{
    UserProcess process(Narrow());
    auto control = Open(process);
    ASSERT_NE(control, nullptr);
    HANDLE removal = process.CreateEvent(true, false);
    ASSERT_EQ(
        control->Set(kPropSetControlGeneral, kPropGeneralRemovalEvent, control->HandleData(removal))
            .status,
        STATUS_SUCCESS);
    const size_t live = Platform::Kernel::LiveObjectCount();
    EXPECT_EQ(control->SetU32(kPropSetControlGeneral, kPropGeneralReleaseRemovalEvent, 0),
              STATUS_SUCCESS);
    EXPECT_TRUE(process.CloseHandle(removal));
    EXPECT_EQ(Platform::Kernel::LiveObjectCount(), live - 1) << "the reference was dropped";
    EXPECT_EQ(device_->Send(PnpRequest::SurpriseRemoval), STATUS_SUCCESS);
    Platform::Kernel::RunPending();
    control.reset();
}

TEST_P(GeneralSetTest, TheMixerRoundTripsAndRefusesRectanglesOutsideTheBlock)
{
    UserProcess process(Narrow());
    auto control = Open(process);
    ASSERT_NE(control, nullptr);
    auto set = MixerBlock(0, 1, 1, 1);
    const uint64_t half = 0x80000000ull;
    std::memcpy(set.data() + Cell(0, 1), &half, sizeof half);
    ASSERT_EQ(control->Set(kPropSetControlGeneral, kPropGeneralMixer, set).status, STATUS_SUCCESS);

    auto request = MixerBlock(0, 1, 0, 2);
    std::fill(request.begin() + 16, request.end(), 0xEE);
    auto get = control->Handle().DeviceIoControl(
        IOCTL_KS_PROPERTY,
        Platform::Ks::PropertyBytes(kPropSetControlGeneral, kPropGeneralMixer, KSPROPERTY_TYPE_GET),
        kMixerBlockBytes, request);
    ASSERT_EQ(get.status, STATUS_SUCCESS);
    EXPECT_EQ(ControlRequester::ReadU64(get.data, Cell(0, 1)), half);
    // Cells outside the rectangle come back zero, not as the caller's bytes.
    EXPECT_EQ(ControlRequester::ReadU64(get.data, Cell(1, 0)), 0u);
    EXPECT_EQ(ControlRequester::ReadU64(get.data, Cell(63, 63)), 0u);

    struct Case
    {
        const char* name;
        uint32_t firstRow, rows, firstColumn, columns;
    };
    const Case cases[] = {
        {"rows wrap", 0xFFFFFFFF, 2, 0, 1},
        {"rows past the block", 63, 2, 0, 1},
        {"columns wrap", 0, 1, 0xFFFFFFF0, 0x20},
        {"columns past the block", 0, 1, 60, 8},
        {"huge counts", 0, 0xFFFFFFFF, 0, 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        auto bad = MixerBlock(c.firstRow, c.rows, c.firstColumn, c.columns);
        EXPECT_EQ(control->Set(kPropSetControlGeneral, kPropGeneralMixer, bad).status,
                  STATUS_UNSUCCESSFUL)
            << c.name;
        auto read = control->Handle().DeviceIoControl(
            IOCTL_KS_PROPERTY,
            Platform::Ks::PropertyBytes(kPropSetControlGeneral, kPropGeneralMixer,
                                        KSPROPERTY_TYPE_GET),
            kMixerBlockBytes, bad);
        EXPECT_EQ(read.status, STATUS_UNSUCCESSFUL) << c.name;
        EXPECT_EQ(read.data, bad) << c.name;
    }
}

std::vector<uint8_t> RawTail(uint32_t version, uint32_t length)
{
    std::vector<uint8_t> tail(72, 0);
    ControlRequester::Put(tail, 0, version);
    tail[4] = 0x01;  // CUR
    ControlRequester::Put(tail, 12, length);
    return tail;
}

TEST_P(GeneralSetTest, RawRequestsWithAWrongVersionOrALengthPastTheDataAreRefused)
{
    UserProcess process(Narrow());
    auto control = Open(process);
    ASSERT_NE(control, nullptr);
    auto wrongVersion =
        control->GetOver(kPropSetControlRaw, kPropRawClassRequest, 128, 0xEE, RawTail(0x0FFF, 4));
    EXPECT_EQ(wrongVersion.status, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(wrongVersion.data, std::vector<uint8_t>(128, 0xEE));
    EXPECT_EQ(control
                  ->Set(kPropSetControlRaw, kPropRawClassRequest, std::vector<uint8_t>(128, 0),
                        RawTail(0x0FFF, 4))
                  .status,
              STATUS_UNSUCCESSFUL);
    EXPECT_EQ(
        control->Get(kPropSetControlRaw, kPropRawClassRequest, 128, RawTail(0x1000, 129)).status,
        STATUS_INVALID_PARAMETER);
    EXPECT_EQ(control
                  ->Set(kPropSetControlRaw, kPropRawClassRequest, std::vector<uint8_t>(128, 0),
                        RawTail(0x1000, 0xFFFFFFFF))
                  .status,
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(
        control->Get(kPropSetControlRaw, kPropRawClassRequest, 128, RawTail(0x1000, 4)).status !=
            STATUS_INVALID_PARAMETER,
        true);
}

}  // namespace

namespace {

class ControlFilterEdgeTest : public ControlFilterFixture
{
protected:
    void SetUp() override { LoadProduct(); }
};

// The clock-source record names one source; the entries it does not have come back as zeros.
TEST_F(ControlFilterEdgeTest, TheClockSourceRecordIsZeroPastItsEntries)
{
    UserProcess process;
    auto control = Open(process);
    ASSERT_NE(control, nullptr);
    auto record = control->GetOver(kPropSetControlStreaming, kPropStreamingClockSources, 580, 0xEE);
    ASSERT_EQ(record.status, STATUS_SUCCESS);
    ASSERT_EQ(record.information, 580u);
    EXPECT_EQ(ControlRequester::ReadU32(record.data, 0), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(record.data.data() + 20)), "Internal");
    for (size_t i = 4 + 16 + 9; i < 580; ++i) {
        ASSERT_EQ(record.data[i], 0) << "byte " << i;
    }
}

// The MIDI event set may be enabled; nothing fires it, not even a change that fires the others.
TEST_F(ControlFilterEdgeTest, TheMidiEventSetCanBeEnabledAndNeverFires)
{
    UserProcess process;
    auto control = Open(process);
    ASSERT_NE(control, nullptr);
    HANDLE midi = process.CreateEvent(false, false);
    HANDLE general = process.CreateEvent(false, false);
    ASSERT_EQ(control->Handle().EnableEvent(kPropSetControlMidiPorts, 0, midi), STATUS_SUCCESS);
    ASSERT_EQ(control->Handle().EnableEvent(kPropSetControlGeneral, 0, general), STATUS_SUCCESS);
    EXPECT_EQ(control->SetU32(kPropSetControlGeneral, kPropGeneralSampleRate, 96000),
              STATUS_SUCCESS);
    EXPECT_TRUE(process.ConsumeEvent(general));
    EXPECT_FALSE(process.ConsumeEvent(midi));
    EXPECT_EQ(control->Handle().EnableEvent(kPropSetControlStreaming, 0, midi),
              STATUS_PROPSET_NOT_FOUND)
        << "the streaming set has no events";
}

// Once the device has stopped, items that need it started fail and write nothing, while the
// few that answer 0 without it still succeed.
TEST_F(ControlFilterEdgeTest, AStoppedDeviceRefusesWhatNeedsItAndAnswersZeroForTheRest)
{
    UserProcess process(true);
    auto control = Open(process);
    ASSERT_NE(control, nullptr);
    ASSERT_EQ(device_->Send(PnpRequest::QueryStop), STATUS_SUCCESS);
    ASSERT_EQ(device_->Send(PnpRequest::Stop), STATUS_SUCCESS);
    Platform::Kernel::RunPending();
    EXPECT_EQ(control->SetU32(kPropSetControlGeneral, kPropGeneralFlag2, 1), STATUS_SUCCESS);
    auto versions = control->GetOver(kPropSetControlGeneral, kPropGeneralVersions, 36, 0xEE);
    EXPECT_EQ(versions.status, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(versions.data, std::vector<uint8_t>(36, 0xEE));
    for (ULONG id :
         {kPropGeneralOutputModeActive, kPropGeneralHighSpeed, kPropGeneralControlValue}) {
        auto answer = control->GetOver(kPropSetControlGeneral, id, 4, 0xEE);
        EXPECT_EQ(answer.status, STATUS_SUCCESS) << id;
        EXPECT_EQ(ControlRequester::ReadU32(answer.data, 0), 0u) << id;
    }
    EXPECT_EQ(control->SetU32(kPropSetControlStreaming, kPropStreamingStart, 0),
              STATUS_UNSUCCESSFUL);
    EXPECT_EQ(control->GetU32(kPropSetControlStreaming, kPropStreamingRunning), 0u);
    EXPECT_EQ(control->Get(kPropSetControlStreaming, kPropStreamingReserved2, 4).status,
              STATUS_UNSUCCESSFUL);
    EXPECT_EQ(control->SetU32(kPropSetControlStreaming, kPropStreamingReserved2, 0),
              STATUS_UNSUCCESSFUL);
    EXPECT_EQ(control->SetU32(kPropSetControlMidiPorts, kPropMidiCloseAll, 0), STATUS_SUCCESS);
}

}  // namespace
