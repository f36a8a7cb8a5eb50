// The bus interface the hub's stack offers the device: the bus speed, the transfer geometry
// that follows from it, and the bus's frame counter.
#pragma once

#include <usbbusif.h>
#include <wdm.h>

class UsbRequestChannel;

class UsbBus
{
public:
    explicit UsbBus(UsbRequestChannel& requests) : requests(requests) {}
    UsbBus(const UsbBus&) = delete;
    UsbBus& operator=(const UsbBus&) = delete;

    // Queries the interface (PASSIVE_LEVEL). When it answers, the speed and the packets per
    // transfer follow from it; a failed query leaves full speed and 4 packets.
    NTSTATUS QueryInterface();
    // Gives back the reference the query took; the interface is forgotten.
    void Release();
    // Any IRQL up to DISPATCH_LEVEL through the interface; at PASSIVE_LEVEL through a request.
    NTSTATUS GetCurrentFrame(PULONG frame);

    bool HighSpeed() const { return highSpeed != 0; }
    ULONG BufferFrames() const { return bufferFrames; }
    ULONG PacketsPerTransfer() const { return packetsPerTransfer; }

private:
    NTSTATUS QueryBusInterface();

    UsbRequestChannel& requests;
    UCHAR highSpeed = 0;
    ULONG bufferFrames = 4;        // 1 ms frames per transfer buffer
    ULONG packetsPerTransfer = 4;  // most isochronous packets one transfer carries
    USB_BUS_INTERFACE_USBDI_V1 busInterface = {};
};
