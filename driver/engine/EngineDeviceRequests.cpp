#include "EngineDeviceRequests.h"

#include "FirmwareVersion.h"

NTSTATUS SendRawDeviceRequest(UsbTransport* transport, const RawDeviceRequest* request,
                              PVOID buffer, bool get)
{
    if (request == nullptr || buffer == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (request->tag != kRawDeviceRequestTag) {
        return STATUS_UNSUCCESSFUL;
    }
    const RawClassRequest classRequest{request->request, request->value, request->index,
                                       request->length};
    // The length comes from user mode: the transport refuses one that reaches past the buffer.
    return transport->SendRawClassRequest(
        get ? USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK : 0, classRequest, buffer,
        kRawDeviceBufferLength);
}

NTSTATUS SendEngineClassRequest(UsbTransport* transport, USHORT value, USHORT index, bool flag)
{
    const RawClassRequest request{static_cast<UCHAR>(flag ? 0xF2 : 0), value,
                                  static_cast<USHORT>(index == 0 ? 4 : index), 0};
    UCHAR none = 0;
    return transport->SendRawClassRequest(0, request, &none, 0);
}

USHORT DeviceVendorId(const UsbTransport* transport)
{
    const USB_DEVICE_DESCRIPTOR* descriptor = transport->DeviceDescriptor();
    return descriptor != nullptr ? descriptor->idVendor : 0;
}

USHORT DeviceProductId(const UsbTransport* transport)
{
    const USB_DEVICE_DESCRIPTOR* descriptor = transport->DeviceDescriptor();
    return descriptor != nullptr ? descriptor->idProduct : 0;
}

void ReadFirmwareVersion(const UsbTransport* transport, bool decimalForm, ULONG* major,
                         ULONG* minor, ULONG* revision, ULONG* build)
{
    const USB_DEVICE_DESCRIPTOR* descriptor = transport->DeviceDescriptor();
    DecodeFirmwareVersion(descriptor != nullptr ? descriptor->bcdDevice : 0, decimalForm, major,
                          minor, revision, build);
}
