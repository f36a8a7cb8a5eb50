// The driver loaded as Windows loads it, for the fixtures that plug devices into it: a fresh
// kernel and host, the parts the driver builds its devices from, the driver's registry key as the
// installation leaves it, and a tear-down that unloads the driver before the simulated devices
// and their buses go, then checks the pool.
#pragma once

#include <KsHostApi.h>
#include <UsbDescriptorSet.h>

#include <memory>

#include "KernelTestFixture.h"
#include "PluggedUsbDevices.h"
#include "device/DeviceContext.h"
#include "device/DeviceParts.h"

class LoadedDriverFixture : public Platform::Kernel::Testing::KernelTest
{
protected:
    enum class DriverKey
    {
        Absent,
        Installed
    };

    // Call from SetUp first; `parts` is a member of the derived fixture, so it outlives the driver.
    void LoadDriver(DeviceParts& parts, DriverKey key);
    // Loads the driver through an entry that installs its own parts (the product's assembly).
    void LoadDriver(Platform::Ks::DriverEntryRoutine entry, DriverKey key);
    void TearDown() override;

    // Plugs a simulated device into the rack, on a bus of its own; when asked, starts it.
    Platform::Ks::Device* PlugInDevice(UsbSim::UsbDescriptorSet descriptors, bool start,
                                       NTSTATUS* status = nullptr);
    static DeviceContext* ContextOf(Platform::Ks::Device* device);

    void LoadThrough(Platform::Ks::DriverEntryRoutine entry, DriverKey key);

    // Declared before the driver: the devices and their buses outlive it.
    Platform::Ks::PluggedUsbDevices usbDevices_;
    std::unique_ptr<Platform::Ks::Driver> driver_;
};
