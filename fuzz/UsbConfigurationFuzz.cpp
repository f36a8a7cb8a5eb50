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

#include "UsbTransport.h"

namespace {

void ParseEveryEndpoint(const uint8_t* data, size_t size)
{
    if (size < sizeof(USB_CONFIGURATION_DESCRIPTOR)) {
        return;
    }
    // A private copy of exactly the bytes wTotalLength covers, so a read past them is caught.
    const size_t total = std::min<size_t>(size, data[2] | data[3] << 8);
    std::unique_ptr<uint8_t[]> copy(new uint8_t[std::max<size_t>(total, 4)]);
    std::memcpy(copy.get(), data, total);
    auto* configuration = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(copy.get());
    configuration->wTotalLength = static_cast<USHORT>(total);
    PVOID start = configuration;
    while (PUSB_INTERFACE_DESCRIPTOR d =
               USBD_ParseConfigurationDescriptorEx(configuration, start, -1, -1, -1, -1, -1)) {
        for (ULONG j = 0; j <= d->bNumEndpoints; ++j) {
            EndpointFormat format;
            UsbTransport::ParseClassDescriptors(configuration, d, j, &format);
            if (format.hasFormat && (format.channels == 0 || format.subframeSize == 0)) {
                std::abort();  // a format nothing can stream
            }
        }
        start = reinterpret_cast<PUCHAR>(d) + d->bLength;
    }
}

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
    ParseEveryEndpoint(data, size);
    RunTransport(data, size);
    return 0;
}
