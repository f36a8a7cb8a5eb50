// A change of the stream configuration on a started device: endpoint naming runs in its work item
// with the update flag set, pins cannot be created meanwhile, a surviving endpoint keeps its
// factory and interface, and a work item that finds the device no longer started still clears
// the flag.
#include <KernelTestApi.h>
#include <KsHostApi.h>
#include <KsPinHandle.h>
#include <UsbDescriptorSet.h>
#include <gtest/gtest.h>
#include <ks.h>
#include <ksmedia.h>

#include <vector>

#include "LoadedDriverFixture.h"
#include "device/DeviceModel.h"
#include "device/EndpointNaming.h"
#include "device/ProductConfigurations.h"
#include "ks/WaveFilter.h"
#include "product/ProductDeviceParts.h"

namespace {

constexpr char16_t kReference[] = u"CORVANEQUORVELSTEREOOUT12";

class EndpointUpdateTest : public LoadedDriverFixture
{
protected:
    void SetUp() override
    {
        LoadDriver(ProductDriverEntry, DriverKey::Installed);
        device = PlugInDevice(UsbSim::ProductUac2(), true);
        ASSERT_NE(device, nullptr);
        Platform::Kernel::RunPending();
        context = ContextOf(device);
    }
    void TearDown() override
    {
        filter.reset();
        LoadedDriverFixture::TearDown();
    }

    std::vector<WaveFilter*> WaveFactories()
    {
        std::vector<WaveFilter*> found;
        // The factory list is the device's: walked under its mutex, as the driver walks it.
        KsAcquireDevice(context->device);
        for (PKSFILTERFACTORY f = KsDeviceGetFirstChildFilterFactory(context->device); f != nullptr;
             f = KsFilterFactoryGetNextSiblingFilterFactory(f)) {
            const GUID* reference = f->FilterDescriptor->ReferenceGuid;
            if (reference != nullptr && IsEqualGUIDAligned(*reference, kWaveFilterReferenceGuid)) {
                found.push_back(static_cast<WaveFilter*>(f->Context));
            }
        }
        KsReleaseDevice(context->device);
        return found;
    }

    // Switches the device model to the product's configuration index (under its lock, so the
    // naming goes through its work item).
    void SwitchConfiguration(ULONG index)
    {
        StreamConfiguration record{};
        ASSERT_TRUE(CopyProductConfiguration(index, &record));
        ASSERT_GE(context->deviceModel->SetStreamConfiguration(&record, 0), 0);
    }

    NTSTATUS TryOpenPin()
    {
        filter = Platform::Ks::FilterHandle::Open(
            process, *device, device->FindInterface(KSCATEGORY_RENDER, kReference));
        if (filter == nullptr) {
            return STATUS_UNSUCCESSFUL;
        }
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        auto pin = Platform::Ks::PinHandle::Open(
            *filter, 0, Platform::Ks::PcmFormatBytes(2, 48000, 32, true, 24), &status);
        pin.reset();
        filter.reset();
        return status;
    }

    Platform::Ks::Device* device = nullptr;
    DeviceContext* context = nullptr;
    Platform::Kernel::UserProcess process;
    std::unique_ptr<Platform::Ks::FilterHandle> filter;
};

}  // namespace

TEST_F(EndpointUpdateTest, AConfigurationChangeRebuildsInItsWorkItemAndKeepsTheFactory)
{
    const std::vector<WaveFilter*> before = WaveFactories();
    ASSERT_EQ(before.size(), 1u);
    const std::u16string link = device->FindInterface(KSCATEGORY_RENDER, kReference);
    ASSERT_FALSE(link.empty());
    EXPECT_EQ(TryOpenPin(), STATUS_SUCCESS);

    SwitchConfiguration(1);
    EXPECT_EQ(context->endpointUpdateFlag, 1);
    // Refused: the format first (kernel streaming sets it before the pin's Create), and Create
    // itself answers STATUS_DEVICE_BUSY should the update begin between the two.
    EXPECT_EQ(TryOpenPin(), STATUS_INSUFFICIENT_RESOURCES);

    Platform::Kernel::RunPending();
    EXPECT_EQ(context->endpointUpdateFlag, 0);
    EXPECT_EQ(WaveFactories(), before);  // the surviving endpoint kept its factory
    EXPECT_EQ(before[0]->interfaceEnabled, 1);
    EXPECT_EQ(device->FindInterface(KSCATEGORY_RENDER, kReference), link);
    EXPECT_EQ(before[0]->endpoint.highestRate, 96000u);
    EXPECT_EQ(TryOpenPin(), STATUS_SUCCESS);
}

TEST_F(EndpointUpdateTest, NamingAgainWithTheSameConfigurationCreatesNothing)
{
    const std::vector<WaveFilter*> before = WaveFactories();
    ASSERT_EQ(before.size(), 1u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(NameEndpoints(context), STATUS_SUCCESS);
    }
    EXPECT_EQ(WaveFactories(), before);
    EXPECT_EQ(before[0]->interfaceEnabled, 1);
    EXPECT_EQ(context->endpointUpdateFlag, 0);
}

TEST_F(EndpointUpdateTest, AWorkItemThatDoesNotRunClearsTheFlag)
{
    SwitchConfiguration(1);
    EXPECT_EQ(context->endpointUpdateFlag, 1);
    // The device leaves the started state before the work item runs.
    ASSERT_EQ(device->Send(Platform::Ks::PnpRequest::QueryStop), STATUS_SUCCESS);
    Platform::Kernel::RunPending();
    EXPECT_EQ(context->endpointUpdateFlag, 0);
    device->Send(Platform::Ks::PnpRequest::CancelStop);
    EXPECT_EQ(TryOpenPin(), STATUS_SUCCESS);
}

TEST_F(EndpointUpdateTest, NoWorkItemLeavesTheFlagClear)
{
    KIRQL old;
    for (ULONG tag : {0x65447651u /* "QvDe" */, 0x6B576F49u /* "IoWk" */}) {
        Platform::Kernel::FailAllocationsWithTag(tag);
        KeRaiseIrql(DISPATCH_LEVEL, &old);
        NameEndpoints(context);
        KeLowerIrql(old);
        Platform::Kernel::ClearAllocationFailures();
        EXPECT_EQ(context->endpointUpdateFlag, 0);
        Platform::Kernel::RunPending();
    }
    EXPECT_EQ(TryOpenPin(), STATUS_SUCCESS);
}
