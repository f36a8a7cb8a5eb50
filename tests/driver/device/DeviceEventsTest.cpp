// Change events fanned out to the open control filters, and the helpers that ask the filters.
#include <gtest/gtest.h>

#include "LifecycleStandIns.h"

using Platform::Kernel::UserProcess;
using Platform::Ks::FilterHandle;
using Platform::Ks::PnpRequest;

namespace {

class DeviceEventsTest : public StartedDeviceFixture
{
};

std::vector<uint8_t> HandleBytes(HANDLE handle, bool narrow)
{
    std::vector<uint8_t> bytes(8, 0);
    const auto value = reinterpret_cast<uintptr_t>(handle);
    for (size_t i = 0; i < (narrow ? 4u : 8u); ++i) {
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    }
    return bytes;
}

TEST_F(DeviceEventsTest, FireControlEventSignalsEveryFilterThatEnabledTheSet)
{
    UserProcess process64;
    UserProcess process32(true);
    auto first = OpenControlFilter(process64, device_);
    auto second = OpenControlFilter(process32, device_);
    auto silent = OpenControlFilter(process64, device_);
    ASSERT_TRUE(first && second && silent);
    HANDLE firstEvent = process64.CreateEvent(false, false);
    HANDLE secondEvent = process32.CreateEvent(true, false);
    HANDLE rawEvent = process64.CreateEvent(false, false);
    ASSERT_EQ(first->EnableEvent(kPropSetControlGeneral, 0, firstEvent), STATUS_SUCCESS);
    ASSERT_EQ(second->EnableEvent(kPropSetControlGeneral, 0, secondEvent), STATUS_SUCCESS);
    ASSERT_EQ(silent->EnableEvent(kPropSetControlRaw, 0, rawEvent), STATUS_SUCCESS);
    EXPECT_EQ(context_->openControlFilters, 3);

    FireControlEvent(context_, &kPropSetControlGeneral);
    EXPECT_TRUE(process64.ConsumeEvent(firstEvent));
    EXPECT_TRUE(process32.ConsumeEvent(secondEvent));
    EXPECT_FALSE(process64.ConsumeEvent(rawEvent));

    // A closed filter is off the list and hears nothing more.
    process32.ResetEvent(secondEvent);
    second.reset();
    FireControlEvent(context_, &kPropSetControlGeneral);
    EXPECT_TRUE(process64.ConsumeEvent(firstEvent));
    EXPECT_EQ(process32.IsEventSignalled(secondEvent), false);
    EXPECT_EQ(context_->openControlFilters, 2);
}

TEST_F(DeviceEventsTest, FireControlEventWithNoOpenFilterDoesNothing)
{
    {
        UserProcess process;
        auto handle = OpenControlFilter(process, device_);
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(KeReadStateEvent(&context_->filtersClosedEvent), 0);
    }
    EXPECT_NE(KeReadStateEvent(&context_->filtersClosedEvent), 0);
    EXPECT_EQ(context_->controlFilters, nullptr);
    FireControlEvent(context_, &kPropSetControlGeneral);
    WakeClientEvents(context_);
    EXPECT_FALSE(IsAnyClientStreaming(context_));
}

TEST_F(DeviceEventsTest, DeviceStartAndStreamChangesFireTheirSets)
{
    UserProcess process;
    auto handle = OpenControlFilter(process, device_);
    ASSERT_NE(handle, nullptr);
    HANDLE general = process.CreateEvent(false, false);
    HANDLE raw = process.CreateEvent(false, false);
    ASSERT_EQ(handle->EnableEvent(kPropSetControlGeneral, 0, general), STATUS_SUCCESS);
    ASSERT_EQ(handle->EnableEvent(kPropSetControlRaw, 0, raw), STATUS_SUCCESS);

    context_->generalSink->OnDeviceStarted();
    EXPECT_TRUE(process.ConsumeEvent(raw));
    EXPECT_FALSE(process.ConsumeEvent(general));

    ClockSourceInfo info{0, 1, 0};
    context_->generalSink->OnClockStateChanged(&info, 1, 48000);
    EXPECT_TRUE(process.ConsumeEvent(general));
    context_->generalSink->OnClockRateChanged();
    EXPECT_TRUE(process.ConsumeEvent(general));
    context_->generalSink->OnGeneralChange();
    EXPECT_TRUE(process.ConsumeEvent(general));
    EXPECT_FALSE(process.ConsumeEvent(raw));

    Journal().clear();
    context_->generalSink->OnConfigurationChanged();
    context_->streamSink->OnStreamRateApplied(0, 48000);
    EXPECT_EQ(Journal(),
              (std::vector<std::string>{"NameEndpoints", "RenameMmDeviceEndpoints(48000)"}));
}

TEST_F(DeviceEventsTest, StreamsReconfiguredPutsTheControlRateBackOnlyWhenStopped)
{
    UserProcess process;
    auto handle = OpenControlFilter(process, device_);
    ASSERT_NE(handle, nullptr);
    HANDLE general = process.CreateEvent(false, false);
    ASSERT_EQ(handle->EnableEvent(kPropSetControlGeneral, 0, general), STATUS_SUCCESS);

    struct Case
    {
        const char* name;
        LONG streamingState;
        UCHAR rateFixedByPin;
        ULONG controlRate;
        std::vector<LONG> applied;
    };
    const Case cases[] = {
        {"stopped at 48000", 0, 0, 48000, {1}},
        {"stopped at the load-time rate", 0, 0, 44100, {0}},
        {"kept for the next start", 1, 0, 48000, {}},
        {"starting", 2, 0, 48000, {}},
        {"a pin holds the rate", 0, 1, 48000, {}},
        {"no control rate", 0, 0, 0, {}},
        {"a rate the configuration lacks", 0, 0, 32000, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        parts_.appliedRateIndexes.clear();
        context_->rateFixedByPin = c.rateFixedByPin;
        ControlSampleRate = c.controlRate;
        context_->streamSink->OnStreamsReconfigured(c.streamingState);
        EXPECT_EQ(parts_.appliedRateIndexes, c.applied);
        EXPECT_TRUE(process.ConsumeEvent(general));
    }
    ControlSampleRate = 44100;
    context_->rateFixedByPin = 0;
}

TEST_F(DeviceEventsTest, SurpriseRemovalWakesRegisteredRemovalEventsOf32And64BitClients)
{
    for (bool narrow : {false, true}) {
        SCOPED_TRACE(narrow);
        UserProcess process(narrow);
        auto handle = OpenControlFilter(process, device_);
        ASSERT_NE(handle, nullptr);
        HANDLE removal = process.CreateEvent(true, false);
        const auto result = handle->SetProperty(kPropSetControlGeneral, kRemovalEventId,
                                                HandleBytes(removal, narrow));
        ASSERT_EQ(result.status, STATUS_SUCCESS);
        ASSERT_NE(ClientOf(*handle)->removalEvent, nullptr);

        WakeClientEvents(context_);
        EXPECT_EQ(process.IsEventSignalled(removal), true);
    }

    UserProcess process;
    auto handle = OpenControlFilter(process, device_);
    HANDLE removal = process.CreateEvent(true, false);
    ASSERT_EQ(
        handle->SetProperty(kPropSetControlGeneral, kRemovalEventId, HandleBytes(removal, false))
            .status,
        STATUS_SUCCESS);
    EXPECT_EQ(device_->Send(PnpRequest::SurpriseRemoval), STATUS_SUCCESS);
    EXPECT_EQ(process.IsEventSignalled(removal), true);
    EXPECT_EQ(GetPnpState(context_), kPnpStoppedAfterSurpriseRemoval);
    handle.reset();
    EXPECT_EQ(Platform::Kernel::LiveObjectCount(), 1u);  // only the process's own handle
}

TEST_F(DeviceEventsTest, BusyAndRateQuestions)
{
    UserProcess process;
    auto handle = OpenControlFilter(process, device_);
    ASSERT_NE(handle, nullptr);
    EXPECT_TRUE(IsDeviceModelStarted(context_));
    EXPECT_FALSE(IsDeviceBusy(context_));

    ClientOf(*handle)->streaming = true;
    EXPECT_TRUE(IsAnyClientStreaming(context_));
    EXPECT_TRUE(IsDeviceBusy(context_));
    ClientOf(*handle)->streaming = false;

    struct Pins final : WavePinSet
    {
        bool running = false;
        bool IsAnyPinRunning() override { return running; }
    } pins;
    KSFILTER wave{};
    wave.Context = static_cast<WavePinSet*>(&pins);
    ASSERT_TRUE(AddOpenWaveFilter(context_, &wave));
    EXPECT_FALSE(IsAnyWavePinRunning(context_));
    pins.running = true;
    EXPECT_TRUE(IsAnyWavePinRunning(context_));
    EXPECT_TRUE(IsDeviceBusy(context_));
    RemoveOpenWaveFilter(context_, &wave);
    EXPECT_FALSE(IsAnyWavePinRunning(context_));

    parts_.lastModel->externalClock = true;
    EXPECT_TRUE(IsDeviceBusy(context_));
    parts_.lastModel->externalClock = false;

    EXPECT_TRUE(IsRateSupported(context_, 96000));
    EXPECT_FALSE(IsRateSupported(context_, 88200));

    EXPECT_EQ(device_->Send(PnpRequest::Stop), STATUS_SUCCESS);
    EXPECT_FALSE(IsDeviceModelStarted(context_));
}

}  // namespace
