#include "EndToEndFixture.h"

#include <Registry/MachineRegistry.h>
#include <gtest/gtest.h>

#include <string>

#include "device/DeviceLifecycle.h"
#include "engine/StreamManagerParts.h"

namespace {

constexpr ULONG kPlaceholderTag = Platform::Kernel::MakeTag("MRtr");

// The driver's key as the installation leaves it, below the machine hive.
constexpr char16_t kDriverKey[] =
    u"Software\\Wow6432Node\\Tervolt\\Audio\\Drivers\\{6242F6B0-04E7-497F-AE8D-287E12D19420}";

}  // namespace

DeviceModel* ProductParts::CreateDeviceModel(DeviceLink deviceLink, PCWSTR registryPath)
{
    return CreateProductDeviceModel(deviceLink, registryPath, &engines);
}

void ProductParts::DestroyDeviceModel(DeviceModel* model)
{
    DestroyProductDeviceModel(static_cast<ProductDeviceModel*>(model));
}

StreamManager* ProductParts::CreateStreamManager(StreamingEngine* engine, DeviceStreamSink* sink)
{
    return ::CreateStreamManager(engine, sink);
}

void ProductParts::DestroyStreamManager(StreamManager* manager)
{
    ::DestroyStreamManager(manager);
}

MidiRouter* ProductParts::CreateMidiRouter(StreamingEngine*)
{
    return static_cast<MidiRouter*>(ExAllocatePoolWithTag(NonPagedPoolNx, 16, kPlaceholderTag));
}

void ProductParts::DestroyMidiRouter(MidiRouter* router)
{
    ExFreePoolWithTag(router, kPlaceholderTag);
}

LONG ProductParts::FindConfigurationRate(StreamManager* manager, ULONG rate)
{
    return ::FindConfigurationRate(manager, rate);
}

ULONG ProductParts::ApplyRateIndex(StreamManager* manager, LONG rateIndex)
{
    return ::ApplyRateIndex(manager, rateIndex);
}

void EndToEndTest::SetUp()
{
    KernelTest::SetUp();
    Platform::Kernel::ResetHostState();
    SetDeviceParts(&parts);
    Renamed().clear();
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    driver = Platform::Ks::Driver::Load(DriverEntry, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    ASSERT_EQ(Platform::Registry::MachineRegistry::Instance().CreateKeyPath(
                  Platform::Registry::Hive::LocalMachine, kDriverKey),
              Platform::Registry::Result::Ok);
}

void EndToEndTest::TearDown()
{
    driver.reset();
    usbDevices.Clear();
    SetDeviceParts(nullptr);
    Platform::Kernel::ResetHostState();
    KernelTest::TearDown();
}

void EndToEndTest::PlugInAndStart(UsbSim::UsbDescriptorSet descriptors)
{
    std::string error;
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    device = usbDevices.PlugIn(*driver, std::move(descriptors), &error, &status);
    ASSERT_TRUE(error.empty()) << error;
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(status, STATUS_SUCCESS);
    ASSERT_EQ(device->Send(Platform::Ks::PnpRequest::Start), STATUS_SUCCESS);
    Platform::Kernel::RunPending();
    ASSERT_NE(Manager(), nullptr);
}

void EndToEndTest::Run(std::chrono::milliseconds duration)
{
    Platform::Kernel::AdvanceTime(duration);
    Platform::Kernel::RunPending();
}

DeviceContext* EndToEndTest::Context()
{
    return static_cast<DeviceContext*>(device->KsDevice()->Context);
}

std::vector<ULONG>& RenamedRates();

std::vector<ULONG>& EndToEndTest::Renamed()
{
    return RenamedRates();
}
