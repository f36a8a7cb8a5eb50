#pragma once
// The small owner the transport's tests drive it through, in place of the streaming engine: a
// bus with a simulated device plugged in, the device's remove lock and the transport.

#include <KernelTestApi.h>
#include <UsbTestApi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>

#include "KernelTestFixture.h"
#include "usb/UsbTransport.h"

// The product's record: interface 1 streams on alternate setting 1.
inline UsbConfigRecord ProductRecord()
{
    UsbConfigRecord record{};
    record.alternateSettings[1] = 1;
    return record;
}

class UsbTransportTest : public Platform::Kernel::Testing::KernelTest
{
protected:
    void Plug(UsbSim::UsbDescriptorSet descriptors)
    {
        std::string error;
        device = UsbSim::SimulatedUsbDevice::Create(std::move(descriptors), &error);
        ASSERT_NE(device, nullptr) << error;
        bus.emplace();
        bus->Attach(*device);
        // The device as the device context holds it: the bus's hub device below the driver's.
        ksDevice = KSDEVICE{};
        ksDevice.FunctionalDeviceObject = &functionalDevice;
        ksDevice.NextDeviceObject = bus->LowerDevice();
        std::memset(&context, 0, sizeof context);
        context.device = &ksDevice;
        IoInitializeRemoveLock(&context.removeLock, 0, 0, 1000);
        SetPnpState(&context, kPnpStarted);
        transport.emplace(&context);
    }
    void Start(UsbSim::UsbDescriptorSet descriptors, UsbConfigRecord record = ProductRecord())
    {
        Plug(std::move(descriptors));
        ASSERT_EQ(transport->InitializeUsb(record), STATUS_SUCCESS);
    }
    // Releases the transport and checks that nothing of it is left: pool, bus interface
    // references, remove-lock holders, pending requests. A test may plug in another device then.
    void Unplug()
    {
        if (transport) {
            transport->ReleaseUsb();
            EXPECT_EQ(bus->BusInterfaceReferences(), 0);
            EXPECT_TRUE(Platform::Kernel::RemoveLockHolders(&context.removeLock).empty());
            EXPECT_EQ(bus->PendingRequests(), 0u);
            EXPECT_TRUE(device->Violations().empty()) << device->Violations().front();
        }
        transport.reset();
        bus.reset();
        device.reset();
        for (const auto& block : Platform::Kernel::OutstandingPool()) {
            ADD_FAILURE() << "left in pool: " << block.Describe();
        }
    }
    void TearDown() override
    {
        Unplug();
        KernelTest::TearDown();
    }
    // The pipes of the table, in order.
    std::vector<UsbPipe*> Pipes()
    {
        std::vector<UsbPipe*> all;
        UsbPipe* pipe = nullptr;
        ULONG index = 0;
        while (transport->NextPipe(&pipe, &index)) {
            all.push_back(pipe);
        }
        return all;
    }

    std::unique_ptr<UsbSim::SimulatedUsbDevice> device;
    std::optional<UsbSim::SimulatedUsbBus> bus;
    DEVICE_OBJECT functionalDevice{};
    KSDEVICE ksDevice{};
    DeviceContext context;
    std::optional<UsbTransport> transport;
};
