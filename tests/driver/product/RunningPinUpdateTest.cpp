// A stream-configuration change while a render pin is in RUN: the device refuses one while it
// streams, so the change lands in the window where the pin runs but the device does not stream
// (nothing played yet, or the start of the streaming failed). Until endpoint naming has finished
// the pin processes nothing and no new format is taken; afterwards the endpoint keeps its factory
// and interface, the pin that ran through the change plays nothing, and once stopped and run again
// it plays in the new configuration.
#include <KernelTestApi.h>
#include <KsHostApi.h>
#include <KsPinHandle.h>
#include <UsbDescriptorSet.h>
#include <UsbTestApi.h>
#include <gtest/gtest.h>
#include <ks.h>
#include <ksmedia.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "LoadedDriverFixture.h"
#include "device/DeviceModel.h"
#include "device/ProductConfigurations.h"
#include "engine/StreamManager.h"
#include "engine/StreamingEngine.h"
#include "ks/WaveFilter.h"
#include "product/ProductDeviceParts.h"

namespace {

using namespace std::chrono_literals;

constexpr char16_t kReference[] = u"CORVANEQUORVELSTEREOOUT12";
constexpr ULONG kFrameBytes = 8;  // two 24-bit samples in 32-bit containers

enum class Window
{
    NothingPlayedYet,    // RUN, no frame written: the streaming has not been asked for
    StreamingStartFails  // RUN with frames queued, but the device refuses its streaming setting
};

struct WindowCase
{
    const char* name;
    Window window;
};

int32_t Sample24(const uint8_t* bytes)
{
    const uint32_t raw = bytes[0] | (bytes[1] << 8) | (static_cast<uint32_t>(bytes[2]) << 16);
    return static_cast<int32_t>(raw << 8) >> 8;
}

class ConfigurationChangeTest : public LoadedDriverFixture
{
protected:
    void SetUp() override
    {
        LoadDriver(ProductDriverEntry, DriverKey::Installed);
        device = PlugInDevice(UsbSim::ProductUac2(), true);
        ASSERT_NE(device, nullptr);
        Platform::Kernel::RunPending();
        context = ContextOf(device);
        filter = Platform::Ks::FilterHandle::Open(
            process, *device, device->FindInterface(KSCATEGORY_RENDER, kReference));
        ASSERT_NE(filter, nullptr);
        factory = WaveFilterOf(filter->Filter());
    }
    void TearDown() override
    {
        pin.reset();
        filter.reset();
        LoadedDriverFixture::TearDown();
    }

    UsbSim::SimulatedUsbDevice& Usb() { return usbDevices_.LastDevice(); }
    StreamingEngine* Engine() { return context->deviceModel->GetEngine(); }

    NTSTATUS OpenPin(std::unique_ptr<Platform::Ks::PinHandle>* opened)
    {
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        *opened = Platform::Ks::PinHandle::Open(
            *filter, 0, Platform::Ks::PcmFormatBytes(2, 48000, 32, true, 24), &status);
        return status;
    }

    // Frames of a ramp the device's samples can be told apart by: sample n is n + 1, left
    // positive, right negative.
    void Write(ULONG frames)
    {
        std::vector<uint8_t> data(frames * kFrameBytes);
        for (ULONG f = 0; f < frames; ++f) {
            const int32_t v = static_cast<int32_t>(++written);
            const int32_t samples[2] = {v * 256, -v * 256};
            std::memcpy(&data[f * kFrameBytes], samples, sizeof samples);
        }
        ASSERT_EQ(pin->Write(data), STATUS_PENDING);
    }

    // Plays for the time given, keeping frames queued; returns the ramp's frames the device
    // heard on its output, in order.
    uint64_t Play(std::chrono::milliseconds duration)
    {
        uint64_t heard = 0;
        for (auto t = 0ms; t < duration; t += 1ms) {
            while (pin->PendingFrames() < 8) {
                Write(256);
            }
            Platform::Kernel::AdvanceTime(1ms);
            Platform::Kernel::RunPending();
            for (const Platform::Ks::CompletedFrame& frame : pin->Collect()) {
                EXPECT_EQ(frame.status, STATUS_SUCCESS);
            }
            for (const UsbSim::OutPacketRecord& packet : Usb().OutPackets()) {
                for (size_t o = 0; packet.endpoint == 0x01 && o + 6 <= packet.bytes.size();
                     o += 6) {
                    const int32_t left = Sample24(&packet.bytes[o]);
                    const int32_t right = Sample24(&packet.bytes[o + 3]);
                    if (left != 0 || right != 0) {
                        EXPECT_EQ(right, -left) << "the device heard a mix";
                        ++heard;
                    }
                }
            }
            Usb().ClearOutPackets();
        }
        return heard;
    }

    // Puts the pin in RUN in the window the case names; the device must then not stream.
    void RunInTheWindow(Window window)
    {
        ASSERT_EQ(OpenPin(&pin), STATUS_SUCCESS);
        ASSERT_EQ(pin->WalkTo(KSSTATE_RUN), STATUS_SUCCESS);
        if (window == Window::StreamingStartFails) {
            Usb().StallRequests(0x01, 0x0B);  // SET_INTERFACE: no streaming alternate setting
            Write(256);
            Platform::Kernel::AdvanceTime(20ms);
            Platform::Kernel::RunPending();
        }
        ASSERT_EQ(pin->State(), KSSTATE_RUN);
        ASSERT_FALSE(Engine()->IsStreaming());
    }

    Platform::Ks::Device* device = nullptr;
    DeviceContext* context = nullptr;
    WaveFilter* factory = nullptr;
    Platform::Kernel::UserProcess process;
    std::unique_ptr<Platform::Ks::FilterHandle> filter;
    std::unique_ptr<Platform::Ks::PinHandle> pin;
    uint64_t written = 0;
};

class RunningPinUpdateTest : public ConfigurationChangeTest,
                             public ::testing::WithParamInterface<WindowCase>
{
};

TEST_P(RunningPinUpdateTest, TheRunningPinWaitsOutTheUpdateAndPlaysOnceRunAgain)
{
    const std::u16string link = device->FindInterface(KSCATEGORY_RENDER, kReference);
    RunInTheWindow(GetParam().window);
    const bool streamRunningBefore = context->streamManager->IsAnyStreamRunning();

    StreamConfiguration record{};
    ASSERT_TRUE(CopyProductConfiguration(1, &record));
    ASSERT_GE(context->deviceModel->SetStreamConfiguration(&record, 1), 0)
        << "a configuration change while the device does not stream is taken";

    // The window of the update: naming is queued, not yet run.
    ASSERT_EQ(context->endpointUpdateFlag, 1);
    Write(256);  // processing is asked for and must do nothing
    EXPECT_EQ(context->streamManager->IsAnyStreamRunning(), streamRunningBefore);
    EXPECT_FALSE(Engine()->IsStreaming());
    std::unique_ptr<Platform::Ks::PinHandle> second;
    EXPECT_NE(OpenPin(&second), STATUS_SUCCESS) << "a format taken during the update";
    second.reset();
    EXPECT_EQ(context->endpointUpdateFlag, 1);

    Platform::Kernel::RunPending();
    EXPECT_EQ(context->endpointUpdateFlag, 0);
    EXPECT_EQ(WaveFilterOf(filter->Filter()), factory) << "the endpoint kept its factory";
    EXPECT_EQ(factory->interfaceEnabled, 1);
    EXPECT_EQ(device->FindInterface(KSCATEGORY_RENDER, kReference), link);

    Usb().ClearFaults();
    EXPECT_EQ(Play(200ms), 0u) << "the pin that ran through the change played";

    ASSERT_EQ(pin->WalkTo(KSSTATE_STOP), STATUS_SUCCESS);
    pin->Collect();
    ASSERT_EQ(pin->WalkTo(KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_GT(Play(200ms), 48000u * 100 / 1000) << "run again, the pin plays";
    LONG configuration = -1;
    context->deviceModel->GetCurrentRateIndex(&configuration);
    EXPECT_EQ(configuration, 1);
    EXPECT_TRUE(Usb().Violations().empty());
    EXPECT_EQ(pin->WalkTo(KSSTATE_STOP), STATUS_SUCCESS);
}

// While the device streams the change is refused; the configuration in force stays the one the
// model reports, so the same change asked again once the streaming stopped is carried out.
TEST_F(ConfigurationChangeTest, AChangeRefusedWhileStreamingIsTakenWhenAskedAgain)
{
    RunInTheWindow(Window::NothingPlayedYet);
    ASSERT_GT(Play(100ms), 0u);
    ASSERT_TRUE(Engine()->IsStreaming());

    StreamConfiguration record{};
    ASSERT_TRUE(CopyProductConfiguration(1, &record));
    EXPECT_LT(context->deviceModel->SetStreamConfiguration(&record, 1), 0);
    EXPECT_EQ(context->endpointUpdateFlag, 0);
    EXPECT_EQ(context->deviceModel->ConfigurationIndex(), 0);
    EXPECT_GT(Play(50ms), 0u) << "the refused change stopped the pin";

    ASSERT_EQ(pin->WalkTo(KSSTATE_STOP), STATUS_SUCCESS);
    pin->Collect();
    Platform::Kernel::AdvanceTime(100ms);
    Platform::Kernel::RunPending();
    ASSERT_FALSE(Engine()->IsStreaming());
    EXPECT_EQ(context->deviceModel->SetStreamConfiguration(&record, 1), 0);
    EXPECT_EQ(context->endpointUpdateFlag, 1);
    Platform::Kernel::RunPending();
    LONG configuration = -1;
    context->deviceModel->GetCurrentRateIndex(&configuration);
    EXPECT_EQ(configuration, 1);
    EXPECT_EQ(context->deviceModel->ConfigurationIndex(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Windows, RunningPinUpdateTest,
    ::testing::Values(WindowCase{"NothingPlayedYet", Window::NothingPlayedYet},
                      WindowCase{"StreamingStartFails", Window::StreamingStartFails}),
    [](const ::testing::TestParamInfo<WindowCase>& info) { return info.param.name; });

}  // namespace
