// The engine's requests that go straight through the USB transport: raw class requests of the
// control filter, the class request without data, and what the device descriptor tells.
#pragma once

#include <wdm.h>

#include "RawDeviceRequest.h"
#include "usb/UsbTransport.h"

// get: device to host, short transfers allowed; otherwise host to device. The buffer holds
// kRawDeviceBufferLength bytes.
NTSTATUS SendRawDeviceRequest(UsbTransport* transport, const RawDeviceRequest* request,
                              PVOID buffer, bool get);
// No data; index 0 means 4; request 0xF2 with flag, else 0.
NTSTATUS SendEngineClassRequest(UsbTransport* transport, USHORT value, USHORT index, bool flag);
// 0 when the transport has no device descriptor.
USHORT DeviceVendorId(const UsbTransport* transport);
USHORT DeviceProductId(const UsbTransport* transport);
void ReadFirmwareVersion(const UsbTransport* transport, bool decimalForm, ULONG* major,
                         ULONG* minor, ULONG* revision, ULONG* build);
