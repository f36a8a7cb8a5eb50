// Wave filters opening and closing on one thread while the device walks its list of open wave
// filters on another (asking whether any wave pin runs, and fanning an event out): the walk never
// reaches a filter that has closed, and the verifier finds no lock taken out of order and no
// kernel-streaming list or bag touched without its mutex.
#include <KernelTestApi.h>
#include <KsHostApi.h>
#include <KsPinHandle.h>
#include <UsbDescriptorSet.h>
#include <gtest/gtest.h>
#include <ks.h>
#include <ksmedia.h>

#include <atomic>
#include <thread>

#include "LoadedDriverFixture.h"
#include "device/DeviceLifecycle.h"
#include "product/ProductDeviceParts.h"

namespace {

class WaveFilterListThreadsTest : public LoadedDriverFixture
{
protected:
    void SetUp() override { LoadDriver(ProductDriverEntry, DriverKey::Installed); }
};

TEST_F(WaveFilterListThreadsTest, ListWalksSurviveFiltersClosingMeanwhile)
{
    Platform::Ks::Device* device = PlugInDevice(UsbSim::ProductUac2(), true);
    ASSERT_NE(device, nullptr);
    Platform::Kernel::RunPending();
    DeviceContext* context = ContextOf(device);
    const std::u16string link =
        device->FindInterface(KSCATEGORY_RENDER, u"CORVANEQUORVELSTEREOOUT12");
    ASSERT_FALSE(link.empty());

    std::atomic<bool> done{false};
    std::atomic<int> walks{0};
    std::thread walker([&] {
        while (!done.load()) {
            (void)IsAnyWavePinRunning(context);
            FireControlEvent(context, &kPropSetControlGeneral);
            walks.fetch_add(1);
        }
    });
    Platform::Kernel::UserProcess process;
    for (int i = 0; i < 300; ++i) {
        auto first = Platform::Ks::FilterHandle::Open(process, *device, link);
        auto second = Platform::Ks::FilterHandle::Open(process, *device, link);
        ASSERT_NE(first, nullptr);
        ASSERT_NE(second, nullptr);
        // Closed in the order they opened, and the other way round.
        if (i % 2 == 0) {
            first.reset();
        }
    }
    while (walks.load() < 10) {
        std::this_thread::yield();
    }
    done = true;
    walker.join();
    EXPECT_EQ(context->waveFilters, nullptr);
    EXPECT_FALSE(IsAnyWavePinRunning(context));
}

// The walk asks each listed pin whether it runs: a pin is listed only once it is whole, and a
// pin walked through its states and closed meanwhile is never read after it has gone.
TEST_F(WaveFilterListThreadsTest, ListWalksSurvivePinsOpeningRunningAndClosingMeanwhile)
{
    Platform::Ks::Device* device = PlugInDevice(UsbSim::ProductUac2(), true);
    ASSERT_NE(device, nullptr);
    Platform::Kernel::RunPending();
    DeviceContext* context = ContextOf(device);
    const std::u16string link =
        device->FindInterface(KSCATEGORY_RENDER, u"CORVANEQUORVELSTEREOOUT12");
    ASSERT_FALSE(link.empty());

    std::atomic<bool> done{false};
    std::atomic<int> walks{0};
    std::thread walker([&] {
        while (!done.load()) {
            (void)IsAnyWavePinRunning(context);
            walks.fetch_add(1);
        }
    });
    Platform::Kernel::UserProcess process;
    auto filter = Platform::Ks::FilterHandle::Open(process, *device, link);
    ASSERT_NE(filter, nullptr);
    for (int i = 0; i < 500; ++i) {
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        auto pin = Platform::Ks::PinHandle::Open(
            *filter, 0, Platform::Ks::PcmFormatBytes(2, 48000, 32, true, 24), &status);
        ASSERT_EQ(status, STATUS_SUCCESS);
        ASSERT_NE(pin, nullptr);
        EXPECT_EQ(pin->SetState(i % 2 == 0 ? KSSTATE_PAUSE : KSSTATE_ACQUIRE), STATUS_SUCCESS);
        if (i % 3 == 0) {
            EXPECT_EQ(pin->SetState(KSSTATE_STOP), STATUS_SUCCESS);
        }
    }
    while (walks.load() < 10) {
        std::this_thread::yield();
    }
    done = true;
    walker.join();
    filter.reset();
    EXPECT_EQ(context->waveFilters, nullptr);
    EXPECT_FALSE(IsAnyWavePinRunning(context));
}

}  // namespace
