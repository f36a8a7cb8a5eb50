// Every endpoint of every interface descriptor of a configuration, as a device would answer it,
// through the driver's class-descriptor parser. Shared by the fuzz targets that read descriptors.
#pragma once

#include <usb.h>
#include <usbdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "usb/UsbTransport.h"

namespace FuzzUsb {

inline void ParseEveryEndpoint(const uint8_t* data, size_t size)
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
        // One index past the last endpoint met as well; the ones after it fail the same way, and
        // a lying bNumEndpoints of 255 would otherwise cost 256 walks of the whole configuration.
        for (ULONG j = 0; j <= d->bNumEndpoints; ++j) {
            EndpointFormat format;
            const NTSTATUS status =
                UsbTransport::ParseClassDescriptors(configuration, d, j, &format);
            if (!NT_SUCCESS(status)) {
                break;
            }
            if (format.hasFormat && (format.channels == 0 || format.subframeSize == 0)) {
                std::abort();  // a format nothing can stream
            }
        }
        start = reinterpret_cast<PUCHAR>(d) + d->bLength;
    }
}

}  // namespace FuzzUsb
