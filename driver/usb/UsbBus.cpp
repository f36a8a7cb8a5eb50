// The USB bus interface: queried once when the device starts, given back when it stops.
#include "usb/UsbBus.h"

#include "usb/UsbPipe.h"
#include "usb/UsbRequestChannel.h"

NTSTATUS UsbBus::QueryInterface()
{
    const NTSTATUS status = QueryBusInterface();
    if (NT_SUCCESS(status)) {
        highSpeed = busInterface.IsDeviceHighSpeed(busInterface.BusContext) ? 1 : 0;
        packetsPerTransfer = highSpeed ? 32 : 4;
        bufferFrames = 4;
    }
    return status;
}

NTSTATUS UsbBus::QueryBusInterface()
{
    PIRP irp = nullptr;
    NTSTATUS status = requests.BeginRequest(&irp);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_PNP;
    next->MinorFunction = IRP_MN_QUERY_INTERFACE;
    next->Parameters.QueryInterface.InterfaceType = &USB_BUS_INTERFACE_USBDI_GUID;
    next->Parameters.QueryInterface.Size = sizeof(USB_BUS_INTERFACE_USBDI_V1);
    next->Parameters.QueryInterface.Version = USB_BUSIF_USBDI_VERSION_1;
    next->Parameters.QueryInterface.Interface = reinterpret_cast<PINTERFACE>(&busInterface);
    next->Parameters.QueryInterface.InterfaceSpecificData = nullptr;
    status = requests.FinishRequest(irp, 0);
    // Only a whole version 1 interface is used.
    if (NT_SUCCESS(status) && (busInterface.Version < USB_BUSIF_USBDI_VERSION_1 ||
                               busInterface.IsDeviceHighSpeed == nullptr)) {
        if (busInterface.InterfaceDereference != nullptr) {
            busInterface.InterfaceDereference(busInterface.BusContext);
        }
        status = STATUS_NOT_SUPPORTED;
    }
    if (!NT_SUCCESS(status)) {
        RtlZeroMemory(&busInterface, sizeof(busInterface));
    }
    return status;
}

void UsbBus::Release()
{
    // The reference the interface query took goes back with the device.
    if (busInterface.InterfaceDereference != nullptr) {
        busInterface.InterfaceDereference(busInterface.BusContext);
    }
    RtlZeroMemory(&busInterface, sizeof(busInterface));
}

NTSTATUS UsbBus::GetCurrentFrame(PULONG frame)
{
    *frame = 0;
    if (KeGetCurrentIrql() > PASSIVE_LEVEL) {
        if (busInterface.QueryBusTime == nullptr) {
            return STATUS_NOT_SUPPORTED;
        }
        return busInterface.QueryBusTime(busInterface.BusContext, frame);
    }
    auto* urb = static_cast<_URB_GET_CURRENT_FRAME_NUMBER*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(_URB_GET_CURRENT_FRAME_NUMBER), kTagUrb));
    if (urb == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(urb, sizeof(*urb));
    urb->Hdr.Length = sizeof(*urb);
    urb->Hdr.Function = URB_FUNCTION_GET_CURRENT_FRAME_NUMBER;
    const NTSTATUS status = requests.SubmitUrb(reinterpret_cast<PURB>(urb));
    if (NT_SUCCESS(status)) {
        *frame = urb->FrameNumber;
    }
    ExFreePoolWithTag(urb, kTagUrb);
    return status;
}
