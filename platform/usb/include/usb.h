// USB descriptors, USB request blocks (URBs), USBD status codes and the internal device controls
// of the USB stack, as driver code uses them. 64-bit layout: every URB starts with a 24-byte
// header and the transfer URBs reserve 64 bytes of host controller area.
#pragma once

#include <wdm.h>

#pragma pack(push, 1)

typedef struct _USB_COMMON_DESCRIPTOR
{
    UCHAR bLength;
    UCHAR bDescriptorType;
} USB_COMMON_DESCRIPTOR, *PUSB_COMMON_DESCRIPTOR;

typedef struct _USB_DEVICE_DESCRIPTOR
{
    UCHAR bLength;
    UCHAR bDescriptorType;
    USHORT bcdUSB;
    UCHAR bDeviceClass;
    UCHAR bDeviceSubClass;
    UCHAR bDeviceProtocol;
    UCHAR bMaxPacketSize0;
    USHORT idVendor;
    USHORT idProduct;
    USHORT bcdDevice;
    UCHAR iManufacturer;
    UCHAR iProduct;
    UCHAR iSerialNumber;
    UCHAR bNumConfigurations;
} USB_DEVICE_DESCRIPTOR, *PUSB_DEVICE_DESCRIPTOR;

typedef struct _USB_CONFIGURATION_DESCRIPTOR
{
    UCHAR bLength;
    UCHAR bDescriptorType;
    USHORT wTotalLength;  // bytes of this descriptor and all that follow it
    UCHAR bNumInterfaces;
    UCHAR bConfigurationValue;
    UCHAR iConfiguration;
    UCHAR bmAttributes;
    UCHAR MaxPower;
} USB_CONFIGURATION_DESCRIPTOR, *PUSB_CONFIGURATION_DESCRIPTOR;

typedef struct _USB_INTERFACE_DESCRIPTOR
{
    UCHAR bLength;
    UCHAR bDescriptorType;
    UCHAR bInterfaceNumber;
    UCHAR bAlternateSetting;
    UCHAR bNumEndpoints;
    UCHAR bInterfaceClass;
    UCHAR bInterfaceSubClass;
    UCHAR bInterfaceProtocol;
    UCHAR iInterface;
} USB_INTERFACE_DESCRIPTOR, *PUSB_INTERFACE_DESCRIPTOR;

typedef struct _USB_ENDPOINT_DESCRIPTOR
{
    UCHAR bLength;
    UCHAR bDescriptorType;
    UCHAR bEndpointAddress;  // bit 7: IN
    UCHAR bmAttributes;      // bits 0-1 transfer type, 2-3 synchronisation, 4-5 usage
    USHORT wMaxPacketSize;
    UCHAR bInterval;
} USB_ENDPOINT_DESCRIPTOR, *PUSB_ENDPOINT_DESCRIPTOR;

typedef struct _USB_STRING_DESCRIPTOR
{
    UCHAR bLength;
    UCHAR bDescriptorType;
    WCHAR bString[1];
} USB_STRING_DESCRIPTOR, *PUSB_STRING_DESCRIPTOR;

#pragma pack(pop)

#define USB_DEVICE_DESCRIPTOR_TYPE 0x01
#define USB_CONFIGURATION_DESCRIPTOR_TYPE 0x02
#define USB_STRING_DESCRIPTOR_TYPE 0x03
#define USB_INTERFACE_DESCRIPTOR_TYPE 0x04
#define USB_ENDPOINT_DESCRIPTOR_TYPE 0x05

#define USB_ENDPOINT_DIRECTION_MASK 0x80
#define USB_ENDPOINT_DIRECTION_IN(address) (((address)&USB_ENDPOINT_DIRECTION_MASK) != 0)
#define USB_ENDPOINT_TYPE_MASK 0x03
#define USB_ENDPOINT_TYPE_CONTROL 0x00
#define USB_ENDPOINT_TYPE_ISOCHRONOUS 0x01
#define USB_ENDPOINT_TYPE_BULK 0x02
#define USB_ENDPOINT_TYPE_INTERRUPT 0x03

// ---- USBD status ---------------------------------------------------------------------------

typedef LONG USBD_STATUS;
#define USBD_STATUS_VALUE(value) (static_cast<USBD_STATUS>(static_cast<ULONG>(value)))
#define USBD_SUCCESS(status) (static_cast<USBD_STATUS>(status) >= 0)
#define USBD_PENDING(status) ((static_cast<ULONG>(status) >> 30) == 1)
#define USBD_ERROR(status) (static_cast<USBD_STATUS>(status) < 0)

#define USBD_STATUS_SUCCESS USBD_STATUS_VALUE(0x00000000)
#define USBD_STATUS_PENDING USBD_STATUS_VALUE(0x40000000)
#define USBD_STATUS_CRC USBD_STATUS_VALUE(0xC0000001)
#define USBD_STATUS_STALL_PID USBD_STATUS_VALUE(0xC0000004)
#define USBD_STATUS_DEV_NOT_RESPONDING USBD_STATUS_VALUE(0xC0000005)
#define USBD_STATUS_DATA_OVERRUN USBD_STATUS_VALUE(0xC0000008)
#define USBD_STATUS_DATA_UNDERRUN USBD_STATUS_VALUE(0xC0000009)
#define USBD_STATUS_BUFFER_OVERRUN USBD_STATUS_VALUE(0xC000000C)
#define USBD_STATUS_NOT_ACCESSED USBD_STATUS_VALUE(0xC000000F)
#define USBD_STATUS_ENDPOINT_HALTED USBD_STATUS_VALUE(0xC0000030)
#define USBD_STATUS_BAD_START_FRAME USBD_STATUS_VALUE(0xC0000A00)
#define USBD_STATUS_ISOCH_REQUEST_FAILED USBD_STATUS_VALUE(0xC0000B00)
#define USBD_STATUS_DEVICE_GONE USBD_STATUS_VALUE(0xC0007000)
#define USBD_STATUS_CANCELED USBD_STATUS_VALUE(0xC0010000)
#define USBD_STATUS_INVALID_URB_FUNCTION USBD_STATUS_VALUE(0x80000200)
#define USBD_STATUS_INVALID_PARAMETER USBD_STATUS_VALUE(0x80000300)
#define USBD_STATUS_INVALID_CONFIGURATION_DESCRIPTOR USBD_STATUS_VALUE(0x80000F00)
#define USBD_STATUS_INVALID_PIPE_HANDLE USBD_STATUS_VALUE(0x80000600)
#define USBD_STATUS_NO_BANDWIDTH USBD_STATUS_VALUE(0x80000700)
#define USBD_STATUS_ERROR_SHORT_TRANSFER USBD_STATUS_VALUE(0x80000900)

// ---- URBs ----------------------------------------------------------------------------------

#define URB_FUNCTION_SELECT_CONFIGURATION 0x0000
#define URB_FUNCTION_SELECT_INTERFACE 0x0001
#define URB_FUNCTION_ABORT_PIPE 0x0002
#define URB_FUNCTION_GET_CURRENT_FRAME_NUMBER 0x0007
#define URB_FUNCTION_CONTROL_TRANSFER 0x0008
#define URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER 0x0009
#define URB_FUNCTION_ISOCH_TRANSFER 0x000A
#define URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE 0x000B
#define URB_FUNCTION_VENDOR_DEVICE 0x0017
#define URB_FUNCTION_VENDOR_INTERFACE 0x0018
#define URB_FUNCTION_VENDOR_ENDPOINT 0x0019
#define URB_FUNCTION_CLASS_DEVICE 0x001A
#define URB_FUNCTION_CLASS_INTERFACE 0x001B
#define URB_FUNCTION_CLASS_ENDPOINT 0x001C
#define URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL 0x001E

#define USBD_TRANSFER_DIRECTION_OUT 0
#define USBD_TRANSFER_DIRECTION_IN 1
#define USBD_SHORT_TRANSFER_OK 2
#define USBD_START_ISO_TRANSFER_ASAP 4
#define USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE 0xFFFFFFFF

typedef PVOID USBD_PIPE_HANDLE;
typedef PVOID USBD_CONFIGURATION_HANDLE;
typedef PVOID USBD_INTERFACE_HANDLE;

typedef enum _USBD_PIPE_TYPE
{
    UsbdPipeTypeControl = 0,
    UsbdPipeTypeIsochronous = 1,
    UsbdPipeTypeBulk = 2,
    UsbdPipeTypeInterrupt = 3,
} USBD_PIPE_TYPE;

typedef struct _USBD_PIPE_INFORMATION
{
    USHORT MaximumPacketSize;
    UCHAR EndpointAddress;
    UCHAR Interval;
    USBD_PIPE_TYPE PipeType;
    USBD_PIPE_HANDLE PipeHandle;
    ULONG MaximumTransferSize;
    ULONG PipeFlags;
} USBD_PIPE_INFORMATION, *PUSBD_PIPE_INFORMATION;
static_assert(sizeof(USBD_PIPE_INFORMATION) == 24);

// Length = 24 + 24 x NumberOfPipes: the pipes continue past the declared one.
typedef struct _USBD_INTERFACE_INFORMATION
{
    USHORT Length;
    UCHAR InterfaceNumber;
    UCHAR AlternateSetting;
    UCHAR Class;
    UCHAR SubClass;
    UCHAR Protocol;
    UCHAR Reserved;
    USBD_INTERFACE_HANDLE InterfaceHandle;
    ULONG NumberOfPipes;
    USBD_PIPE_INFORMATION Pipes[1];
} USBD_INTERFACE_INFORMATION, *PUSBD_INTERFACE_INFORMATION;
#define USBD_INTERFACE_INFORMATION_HEADER_SIZE FIELD_OFFSET(USBD_INTERFACE_INFORMATION, Pipes)
static_assert(USBD_INTERFACE_INFORMATION_HEADER_SIZE == 24);

struct _URB_HEADER
{
    USHORT Length;
    USHORT Function;
    USBD_STATUS Status;
    PVOID UsbdDeviceHandle;
    ULONG UsbdFlags;
};

struct _URB_HCD_AREA
{
    PVOID Reserved8[8];
};

struct _URB_SELECT_CONFIGURATION
{
    struct _URB_HEADER Hdr;
    PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor;  // null: unconfigure the device
    USBD_CONFIGURATION_HANDLE ConfigurationHandle;
    USBD_INTERFACE_INFORMATION Interface;  // one per interface, each Length bytes, back to back
};
#define URB_SELECT_CONFIGURATION_HEADER_SIZE FIELD_OFFSET(_URB_SELECT_CONFIGURATION, Interface)

struct _URB_SELECT_INTERFACE
{
    struct _URB_HEADER Hdr;
    USBD_CONFIGURATION_HANDLE ConfigurationHandle;
    USBD_INTERFACE_INFORMATION Interface;
};
#define URB_SELECT_INTERFACE_HEADER_SIZE FIELD_OFFSET(_URB_SELECT_INTERFACE, Interface)

struct _URB_PIPE_REQUEST
{
    struct _URB_HEADER Hdr;
    USBD_PIPE_HANDLE PipeHandle;
    ULONG Reserved;
};

struct _URB_GET_CURRENT_FRAME_NUMBER
{
    struct _URB_HEADER Hdr;
    ULONG FrameNumber;
};

struct _URB_CONTROL_TRANSFER
{
    struct _URB_HEADER Hdr;
    USBD_PIPE_HANDLE PipeHandle;  // null: the default pipe
    ULONG TransferFlags;
    ULONG TransferBufferLength;
    PVOID TransferBuffer;
    PVOID TransferBufferMDL;
    union _URB* UrbLink;
    struct _URB_HCD_AREA hca;
    UCHAR SetupPacket[8];
};

struct _URB_BULK_OR_INTERRUPT_TRANSFER
{
    struct _URB_HEADER Hdr;
    USBD_PIPE_HANDLE PipeHandle;
    ULONG TransferFlags;
    ULONG TransferBufferLength;
    PVOID TransferBuffer;
    PVOID TransferBufferMDL;
    union _URB* UrbLink;
    struct _URB_HCD_AREA hca;
};

typedef struct _USBD_ISO_PACKET_DESCRIPTOR
{
    ULONG Offset;  // from the start of the transfer buffer
    ULONG Length;  // IN: set by the bus to the bytes received
    USBD_STATUS Status;
} USBD_ISO_PACKET_DESCRIPTOR, *PUSBD_ISO_PACKET_DESCRIPTOR;

struct _URB_ISOCH_TRANSFER
{
    struct _URB_HEADER Hdr;
    USBD_PIPE_HANDLE PipeHandle;
    ULONG TransferFlags;
    ULONG TransferBufferLength;
    PVOID TransferBuffer;
    PVOID TransferBufferMDL;
    union _URB* UrbLink;
    struct _URB_HCD_AREA hca;
    ULONG StartFrame;  // 1 ms bus frame of the first packet; set by the bus when ASAP
    ULONG NumberOfPackets;
    ULONG ErrorCount;
    USBD_ISO_PACKET_DESCRIPTOR IsoPacket[1];  // NumberOfPackets entries
};
static_assert(sizeof(_URB_ISOCH_TRANSFER) == 152);

struct _URB_CONTROL_DESCRIPTOR_REQUEST
{
    struct _URB_HEADER Hdr;
    PVOID Reserved;
    ULONG Reserved0;
    ULONG TransferBufferLength;
    PVOID TransferBuffer;
    PVOID TransferBufferMDL;
    union _URB* UrbLink;
    struct _URB_HCD_AREA hca;
    USHORT Reserved1;
    UCHAR Index;
    UCHAR DescriptorType;
    USHORT LanguageId;
    USHORT Reserved2;
};
static_assert(sizeof(_URB_CONTROL_DESCRIPTOR_REQUEST) == 136);

struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST
{
    struct _URB_HEADER Hdr;
    PVOID Reserved;
    ULONG TransferFlags;
    ULONG TransferBufferLength;
    PVOID TransferBuffer;
    PVOID TransferBufferMDL;
    union _URB* UrbLink;
    struct _URB_HCD_AREA hca;
    UCHAR RequestTypeReservedBits;
    UCHAR Request;
    USHORT Value;
    USHORT Index;
    USHORT Reserved1;
};
static_assert(sizeof(_URB_CONTROL_VENDOR_OR_CLASS_REQUEST) == 136);

typedef union _URB {
    struct _URB_HEADER UrbHeader;
    struct _URB_SELECT_INTERFACE UrbSelectInterface;
    struct _URB_SELECT_CONFIGURATION UrbSelectConfiguration;
    struct _URB_PIPE_REQUEST UrbPipeRequest;
    struct _URB_GET_CURRENT_FRAME_NUMBER UrbGetCurrentFrameNumber;
    struct _URB_CONTROL_TRANSFER UrbControlTransfer;
    struct _URB_BULK_OR_INTERRUPT_TRANSFER UrbBulkOrInterruptTransfer;
    struct _URB_ISOCH_TRANSFER UrbIsochronousTransfer;
    struct _URB_CONTROL_DESCRIPTOR_REQUEST UrbControlDescriptorRequest;
    struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST UrbControlVendorClassRequest;
} URB, *PURB;

// ---- Internal device controls of the USB stack -----------------------------------------------

#define IOCTL_INTERNAL_USB_SUBMIT_URB 0x00220003
#define IOCTL_INTERNAL_USB_CYCLE_PORT 0x0022001F
#define IOCTL_INTERNAL_USB_GET_TOPOLOGY_ADDRESS 0x0022043F

typedef struct _USB_TOPOLOGY_ADDRESS
{
    ULONG PciBusNumber;
    ULONG PciDeviceNumber;
    ULONG PciFunctionNumber;
    ULONG Reserved;
    USHORT RootHubPortNumber;
    USHORT HubPortNumber[5];
    USHORT Reserved2;
} USB_TOPOLOGY_ADDRESS, *PUSB_TOPOLOGY_ADDRESS;
