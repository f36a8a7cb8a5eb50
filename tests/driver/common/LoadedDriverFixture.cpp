#include "LoadedDriverFixture.h"

#include <KernelTestApi.h>
#include <Registry/MachineRegistry.h>
#include <gtest/gtest.h>

#include <string>

#include "device/DeviceLifecycle.h"

namespace {

// The driver's key as the installation leaves it.
constexpr char16_t kInstalledDriverKey[] =
    u"Software\\Wow6432Node\\Tervolt\\Audio\\Drivers\\{6242F6B0-04E7-497F-AE8D-287E12D19420}";

}  // namespace

void LoadedDriverFixture::LoadDriver(DeviceParts& parts, DriverKey key)
{
    KernelTest::SetUp();
    Platform::Kernel::ResetHostState();
    SetDeviceParts(&parts);
    LoadThrough(DriverEntry, key);
}

void LoadedDriverFixture::LoadDriver(Platform::Ks::DriverEntryRoutine entry, DriverKey key)
{
    KernelTest::SetUp();
    Platform::Kernel::ResetHostState();
    SetDeviceParts(nullptr);
    LoadThrough(entry, key);
}

void LoadedDriverFixture::LoadThrough(Platform::Ks::DriverEntryRoutine entry, DriverKey key)
{
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    driver_ = Platform::Ks::Driver::Load(entry, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    if (key == DriverKey::Installed) {
        ASSERT_EQ(Platform::Registry::MachineRegistry::Instance().CreateKeyPath(
                      Platform::Registry::Hive::LocalMachine, kInstalledDriverKey),
                  Platform::Registry::Result::Ok);
    }
}

void LoadedDriverFixture::TearDown()
{
    Platform::Kernel::ClearAllocationFailures();
    driver_.reset();
    usbDevices_.Clear();
    SetDeviceParts(nullptr);
    Platform::Kernel::ResetHostState();
    KernelTest::TearDown();
}

Platform::Ks::Device* LoadedDriverFixture::PlugInDevice(UsbSim::UsbDescriptorSet descriptors,
                                                        bool start, NTSTATUS* status)
{
    std::string error;
    Platform::Ks::Device* device =
        usbDevices_.PlugIn(*driver_, std::move(descriptors), &error, status);
    EXPECT_TRUE(error.empty()) << error;
    if (device != nullptr && start) {
        EXPECT_EQ(device->Send(Platform::Ks::PnpRequest::Start), STATUS_SUCCESS);
    }
    return device;
}

DeviceContext* LoadedDriverFixture::ContextOf(Platform::Ks::Device* device)
{
    return static_cast<DeviceContext*>(device->KsDevice()->Context);
}
