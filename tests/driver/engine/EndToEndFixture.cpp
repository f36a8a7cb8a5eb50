#include "EndToEndFixture.h"

#include <gtest/gtest.h>

#include <string>

#include "device/DeviceLifecycle.h"
#include "engine/StreamManagerParts.h"
#include "midi/MidiRouter.h"

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

MidiRouter* ProductParts::CreateMidiRouter(StreamingEngine* engine)
{
    UsbMidiCodec* codec = static_cast<UsbStreamingEngine*>(engine)->MidiCodec();
    return codec != nullptr ? MidiRouter::Create(codec) : nullptr;
}

void ProductParts::DestroyMidiRouter(MidiRouter* router)
{
    router->Destroy();
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
    Renamed().clear();
    LoadDriver(parts, DriverKey::Installed);
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
