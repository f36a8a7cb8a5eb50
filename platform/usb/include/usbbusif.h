// The USB bus interface a client driver obtains with IRP_MN_QUERY_INTERFACE.
#pragma once

#include <wdm.h>

#include "usb.h"

// {B1A96A13-3DE0-4574-9B01-C08FEAB318D6}
inline constexpr GUID USB_BUS_INTERFACE_USBDI_GUID = {
    0xB1A96A13, 0x3DE0, 0x4574, {0x9B, 0x01, 0xC0, 0x8F, 0xEA, 0xB3, 0x18, 0xD6}};

#define USB_BUSIF_USBDI_VERSION_0 0x0000
#define USB_BUSIF_USBDI_VERSION_1 0x0001

typedef struct _USBD_VERSION_INFORMATION
{
    ULONG USBDI_Version;
    ULONG Supported_USB_Version;
} USBD_VERSION_INFORMATION, *PUSBD_VERSION_INFORMATION;

typedef void (*PUSB_BUSIFFN_GETUSBDI_VERSION)(PVOID busContext,
                                              PUSBD_VERSION_INFORMATION versionInformation,
                                              PULONG hcdCapabilities);
typedef NTSTATUS (*PUSB_BUSIFFN_QUERY_BUS_TIME)(PVOID busContext, PULONG currentUsbFrame);
typedef NTSTATUS (*PUSB_BUSIFFN_SUBMIT_ISO_OUT_URB)(PVOID busContext, PURB urb);
typedef NTSTATUS (*PUSB_BUSIFFN_QUERY_BUS_INFORMATION)(PVOID busContext, ULONG level,
                                                       PVOID busInformationBuffer,
                                                       PULONG busInformationBufferLength,
                                                       PULONG busInformationActualLength);
typedef BOOLEAN (*PUSB_BUSIFFN_IS_DEVICE_HIGH_SPEED)(PVOID busContext);

typedef struct _USB_BUS_INTERFACE_USBDI_V1
{
    USHORT Size;
    USHORT Version;
    PVOID BusContext;
    PINTERFACE_REFERENCE InterfaceReference;
    PINTERFACE_DEREFERENCE InterfaceDereference;
    PUSB_BUSIFFN_GETUSBDI_VERSION GetUSBDIVersion;
    PUSB_BUSIFFN_QUERY_BUS_TIME QueryBusTime;  // current 1 ms frame
    PUSB_BUSIFFN_SUBMIT_ISO_OUT_URB SubmitIsoOutUrb;
    PUSB_BUSIFFN_QUERY_BUS_INFORMATION QueryBusInformation;
    PUSB_BUSIFFN_IS_DEVICE_HIGH_SPEED IsDeviceHighSpeed;
} USB_BUS_INTERFACE_USBDI_V1, *PUSB_BUS_INTERFACE_USBDI_V1;
static_assert(sizeof(USB_BUS_INTERFACE_USBDI_V1) == 72);
