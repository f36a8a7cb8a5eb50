// A user-mode low-latency host on the device of the tests, driving the control filter purely by
// property requests from a 64-bit or a 32-bit process: device information, rates and buffer
// sizes, map, events, a wait released, start, buffer-done at every event, position, stop and
// unmap, with output checked bit-exact at the device and the input halves against the device's
// capture pattern.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "ControlTestDevice.h"
#include "PropertyStreamer.h"

using namespace std::chrono_literals;

constexpr ULONG kHalfSamples = 480;  // 10 ms at 48 kHz
constexpr ULONG kChannels = 2;

enum class Caller
{
    Process64,
    Process32,
};

class LowLatencyFixture : public ControlClientFixture, public ::testing::WithParamInterface<Caller>
{
protected:
    std::unique_ptr<ControlRequester> OpenRequester(Platform::Kernel::UserProcess& user)
    {
        auto handle = Platform::Ks::FilterHandle::Open(
            user, *device,
            device->FindInterface(KSCATEGORY_TOPOLOGY,
                                  Platform::Ks::GuidText(kControlFilterReference)));
        return handle != nullptr ? std::make_unique<ControlRequester>(user, std::move(handle))
                                 : nullptr;
    }
    void RunServing(PropertyStreamer& user, std::chrono::milliseconds duration)
    {
        for (auto done = 0ms; done < duration; done += 2ms) {
            Run(2ms);
            user.Serve();
        }
    }
    // The device as a host first sees it: its channels, rates and buffer sizes.
    void Describe(ControlRequester& control)
    {
        auto info = control.Get(kPropSetControlGeneral, kPropGeneralDeviceInfo, 344);
        ASSERT_EQ(info.status, STATUS_SUCCESS);
        EXPECT_EQ(ControlRequester::ReadU32(info.data, 0), 2u);
        EXPECT_EQ(ControlRequester::ReadU32(info.data, 4), 2u);
        EXPECT_EQ(control.SetU32(kPropSetControlGeneral, kPropGeneralSampleRate, 48000),
                  STATUS_SUCCESS);
        EXPECT_EQ(control.GetU32(kPropSetControlGeneral, kPropGeneralSampleRate), 48000u);
        EXPECT_EQ(control.SetU32(kPropSetControlStreaming, kPropStreamingCanSampleRate, 48000),
                  STATUS_SUCCESS);
        auto range = control.Get(kPropSetControlStreaming, kPropStreamingBufferSizeRange, 16);
        ASSERT_EQ(range.status, STATUS_SUCCESS);
        EXPECT_LE(ControlRequester::ReadU32(range.data, 0), kHalfSamples);
        EXPECT_GE(ControlRequester::ReadU32(range.data, 4), kHalfSamples);
        auto name = control.Get(kPropSetControlStreaming, kPropStreamingInputChannelName, 132,
                                std::vector<uint8_t>(8, 0));
        EXPECT_EQ(name.status, STATUS_SUCCESS);
        EXPECT_NE(name.data[0], 0) << "input channel 0 has a name";
        auto past = control.Get(kPropSetControlStreaming, kPropStreamingInputChannelName, 132,
                                ControlRequester::U32(2));
        EXPECT_EQ(past.status, STATUS_INVALID_BUFFER_SIZE) << "the index needs 32 property bytes";
        std::vector<uint8_t> index2(8, 0);
        index2[0] = 2;
        EXPECT_EQ(control.Get(kPropSetControlStreaming, kPropStreamingInputChannelName, 132, index2)
                      .status,
                  STATUS_UNSUCCESSFUL);
        auto latencies = control.Get(kPropSetControlStreaming, kPropStreamingLatencies, 8);
        EXPECT_EQ(latencies.status, STATUS_SUCCESS);
    }
    // A queued wait stays pending until released, then ends with success and no data.
    void WaitAndRelease(ControlRequester& control)
    {
        auto wait = control.Handle().BeginDeviceIoControl(
            IOCTL_KS_PROPERTY,
            Platform::Ks::PropertyBytes(kPropSetControlStreaming, kPropStreamingWait,
                                        KSPROPERTY_TYPE_GET),
            24);
        EXPECT_FALSE(wait->Completed());
        EXPECT_EQ(control.SetU32(kPropSetControlStreaming, kPropStreamingReleaseWait, 0),
                  STATUS_SUCCESS);
        ASSERT_TRUE(wait->Completed());
        EXPECT_EQ(wait->Result().status, STATUS_SUCCESS);
        EXPECT_EQ(wait->Result().information, 0u);
    }
    void Cycle(std::chrono::milliseconds length)
    {
        PlugIn();
        UsbDevice().SetInFrameGenerator(&SoakRun::CaptureFrames);
        Platform::Kernel::UserProcess user(GetParam() != Caller::Process64);
        auto control = OpenRequester(user);
        ASSERT_NE(control, nullptr);
        Describe(*control);
        PropertyStreamer streamer(*control, kChannels, kHalfSamples);
        WaitAndRelease(*control);
        ASSERT_EQ(streamer.Start(), STATUS_SUCCESS);
        EXPECT_EQ(control->GetU32(kPropSetControlStreaming, kPropStreamingRunning), 1u);
        EXPECT_EQ(control->GetU32(kPropSetControlGeneral, kPropGeneralStreaming), 1u);
        RampReceiver receiver(UsbDevice());
        for (auto done = 0ms; done < length; done += 1000ms) {
            RunServing(streamer, 1000ms);
            ASSERT_TRUE(receiver.Take()) << receiver.failure;
            ASSERT_TRUE(streamer.inputFailure.empty()) << streamer.inputFailure;
        }
        const uint64_t expectedEvents = length / 10ms;
        EXPECT_GE(streamer.events + 4, expectedEvents) << "an event every half";
        EXPECT_EQ(streamer.failedDones, 0u);
        EXPECT_GE(receiver.received + 3 * kHalfSamples, streamer.written);
        EXPECT_GE(streamer.inputChecked + 2 * kHalfSamples, streamer.events * kHalfSamples);
        auto position = control->Get(kPropSetControlStreaming, kPropStreamingPosition, 16);
        ASSERT_EQ(position.status, STATUS_SUCCESS);
        EXPECT_EQ(ControlRequester::ReadU64(position.data, 0), streamer.events * kHalfSamples);
        EXPECT_GT(ControlRequester::ReadU64(position.data, 8), 0u);
        EXPECT_EQ(streamer.Stop(), STATUS_SUCCESS);
        EXPECT_EQ(control->GetU32(kPropSetControlStreaming, kPropStreamingRunning), 0u);
        streamer.Unmap();
        control->Close();
    }
};
