// The driver as it assembles itself on Windows, with no part given by the tests: Add, Start and
// Remove through the simulated Plug and Play, what Start publishes (the wave filter's interfaces
// and names, the pin-name categories), and nothing left behind by Remove.
#include <KernelTestApi.h>
#include <KsHostApi.h>
#include <Registry/MachineRegistry.h>
#include <UsbDescriptorSet.h>
#include <gtest/gtest.h>
#include <ks.h>
#include <ksmedia.h>

#include <string>
#include <vector>

#include "LoadedDriverFixture.h"
#include "device/DeviceModel.h"
#include "device/PinNameCategories.h"
#include "product/ProductDeviceParts.h"

namespace {

using Platform::Registry::Hive;
using Platform::Registry::MachineRegistry;
using Platform::Registry::Result;
using Platform::Registry::Value;
using Platform::Registry::View;

std::vector<uint8_t> Utf16Z(const char16_t* text)
{
    std::vector<uint8_t> bytes;
    for (;; ++text) {
        bytes.push_back(static_cast<uint8_t>(*text & 0xFF));
        bytes.push_back(static_cast<uint8_t>(*text >> 8));
        if (*text == 0) {
            return bytes;
        }
    }
}

class ProductDriverTest : public LoadedDriverFixture
{
protected:
    void SetUp() override { LoadDriver(ProductDriverEntry, DriverKey::Installed); }
};

}  // namespace

TEST_F(ProductDriverTest, AddStartRemoveWithTheProductsOwnParts)
{
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    Platform::Ks::Device* device = PlugInDevice(UsbSim::ProductUac2(), true, &status);
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(status, STATUS_SUCCESS);
    Platform::Kernel::RunPending();
    DeviceContext* context = ContextOf(device);
    ASSERT_NE(context->deviceModel, nullptr);
    EXPECT_NE(context->streamManager, nullptr);
    EXPECT_NE(context->midiRouter, nullptr);
    EXPECT_EQ(context->endpointUpdateFlag, 0);

    // The one endpoint, published under the audio, render and realtime categories with its name.
    bool sawAudio = false;
    for (const Platform::Ks::DeviceInterface& i : device->Interfaces()) {
        if (i.referenceString != u"CORVANEQUORVELSTEREOOUT12") {
            continue;
        }
        EXPECT_TRUE(i.enabled);
        if (IsEqualGUIDAligned(i.category, KSCATEGORY_AUDIO)) {
            sawAudio = true;
            bool named = false;
            for (const auto& v : Platform::Ks::InterfaceValues(i)) {
                if (v.name == u"FriendlyName") {
                    named = true;
                    EXPECT_EQ(v.data, Utf16Z(u"Corvane Quorvel Stereo Out 1-2"));
                }
            }
            EXPECT_TRUE(named);
        }
    }
    EXPECT_TRUE(sawAudio);
    EXPECT_FALSE(device->FindInterface(KSCATEGORY_RENDER, u"CORVANEQUORVELSTEREOOUT12").empty());

    // The pin names Windows shows, all of them.
    for (const PinNameCategory& row : kPinNameCategories) {
        const std::u16string key =
            std::u16string(u"SYSTEM\\CurrentControlSet\\Control") + row.keyPath;
        Value name;
        ASSERT_EQ(MachineRegistry::Instance().GetValue(Hive::LocalMachine, key, u"Name",
                                                       View::Native, &name),
                  Result::Ok)
            << std::string(key.begin(), key.end());
        EXPECT_EQ(name.type, static_cast<uint32_t>(REG_SZ));
        EXPECT_EQ(name.data, Utf16Z(row.name));
        Value display;
        ASSERT_EQ(MachineRegistry::Instance().GetValue(Hive::LocalMachine, key, u"Display",
                                                       View::Native, &display),
                  Result::Ok);
        EXPECT_EQ(display.type, static_cast<uint32_t>(REG_BINARY));
        EXPECT_EQ(display.data, std::vector<uint8_t>(4, 0));
    }

    EXPECT_EQ(device->Send(Platform::Ks::PnpRequest::QueryRemove), STATUS_SUCCESS);
    device->Send(Platform::Ks::PnpRequest::Remove);
    Platform::Kernel::RunPending();
    driver_.reset();
    EXPECT_TRUE(Platform::Kernel::OutstandingPool().empty());
    EXPECT_EQ(Platform::Kernel::ArmedTimerCount(), 0u);
    EXPECT_EQ(Platform::Kernel::PendingWorkItemCount(), 0u);
}

TEST_F(ProductDriverTest, TheControlFilterIsPublishedUnderItsReferenceAndOpens)
{
    Platform::Ks::Device* device = PlugInDevice(UsbSim::ProductUac2(), true);
    ASSERT_NE(device, nullptr);
    Platform::Kernel::RunPending();
    const std::u16string link =
        device->FindInterface(KSCATEGORY_TOPOLOGY, u"{6242F6B0-04E7-497F-AE8D-287E12D19420}");
    ASSERT_FALSE(link.empty());
    Platform::Kernel::UserProcess process;
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    auto handle = Platform::Ks::FilterHandle::Open(process, *device, link, &status);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(status, STATUS_SUCCESS);
    EXPECT_EQ(ContextOf(device)->openControlFilters, 1);
    handle.reset();
    EXPECT_EQ(ContextOf(device)->openControlFilters, 0);
}
