// Arbitrary configuration descriptors, as a device would answer them, through the transport's
// start (descriptors, configuration selection, class-descriptor parsing), the streaming alternate
// settings, a rate request and the release; then every endpoint of every interface descriptor
// through the class-descriptor parser directly. Nothing may crash, read outside the bytes, stop
// the system or leave pool behind.
#include <KernelTestApi.h>
#include <UsbTestApi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "UsbDescriptorWalk.h"
#include "usb/UsbTransport.h"

namespace {

void RunTransport(const uint8_t* data, size_t size)
{
    Platform::Kernel::ResetKernel();
    std::unique_ptr<UsbSim::SimulatedUsbDevice> device =
        UsbSim::SimulatedUsbDevice::Create(UsbSim::ProductUac2(), nullptr);
    device->ReplaceDescriptor(2, 0, std::vector<uint8_t>(data, data + size));
    {
        UsbSim::SimulatedUsbBus bus;
        bus.Attach(*device);
        KSDEVICE ksDevice{};
        ksDevice.NextDeviceObject = bus.LowerDevice();
        DeviceContext context;
        std::memset(&context, 0, sizeof context);
        context.device = &ksDevice;
        IoInitializeRemoveLock(&context.removeLock, 0, 0, 0);
        UsbTransport transport(&context);
        UsbConfigRecord record{};
        record.alternateSettings[1] = 1;
        record.alternateSettings[2] = 1;
        if (NT_SUCCESS(transport.InitializeUsb(record))) {
            transport.SelectAlternateSettings(true);
            transport.SetSampleRate(48000);
            transport.SelectAlternateSettings(false);
        }
        transport.ReleaseUsb();
    }
    const auto leaked = Platform::Kernel::OutstandingPool();
    for (const auto& block : leaked) {
        std::fprintf(stderr, "left in pool: %s\n", block.Describe().c_str());
    }
    if (!leaked.empty()) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4096) {
        return 0;
    }
    FuzzUsb::ParseEveryEndpoint(data, size);
    RunTransport(data, size);
    return 0;
}
