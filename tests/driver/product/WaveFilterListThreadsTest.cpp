// Wave filters and their pins opening and closing on one thread while the device asks on another
// whether any wave pin runs (it walks every open wave filter's pin lists) and fans an event out to
// its filters: the walk never reaches a filter or pin that has closed, and the verifier finds no
// lock taken out of order or a kernel-streaming list or bag touched without its mutex. The pins
// stay in STOP: this is the filters' and the lists' part.
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

TEST_F(WaveFilterListThreadsTest, PinWalksSurviveFiltersAndPinsClosingMeanwhile)
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
        auto filter = Platform::Ks::FilterHandle::Open(process, *device, link);
        ASSERT_NE(filter, nullptr);
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        auto pin = Platform::Ks::PinHandle::Open(
            *filter, 0, Platform::Ks::PcmFormatBytes(2, 48000, 32, true, 24), &status);
        ASSERT_EQ(status, STATUS_SUCCESS);
        if (i % 2 == 0) {
            pin.reset();  // the pin first, or with its filter
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

}  // namespace
