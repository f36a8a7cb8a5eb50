// Helpers of the USB driver library: finding interface descriptors in a configuration and building
// the select-configuration request for a list of them.
#pragma once

#include "usb.h"

typedef struct _USBD_INTERFACE_LIST_ENTRY
{
    PUSB_INTERFACE_DESCRIPTOR InterfaceDescriptor;
    PUSBD_INTERFACE_INFORMATION Interface;  // set by USBD_CreateConfigurationRequestEx
} USBD_INTERFACE_LIST_ENTRY, *PUSBD_INTERFACE_LIST_ENTRY;

// The first interface descriptor at or after startPosition (inside the configuration's
// wTotalLength) that matches every criterion not -1; null when there is none. The walk stops at
// a descriptor shorter than 2 bytes or one that runs past wTotalLength.
PUSB_INTERFACE_DESCRIPTOR USBD_ParseConfigurationDescriptorEx(
    PUSB_CONFIGURATION_DESCRIPTOR configurationDescriptor, PVOID startPosition,
    LONG interfaceNumber, LONG alternateSetting, LONG interfaceClass, LONG interfaceSubClass,
    LONG interfaceProtocol);

// A select-configuration URB (pool, freed with ExFreePool) with one interface information per
// list entry (the list ends with a null InterfaceDescriptor); each entry's Interface points into
// the URB. Null when the pool is exhausted or an entry lies outside the configuration.
PURB USBD_CreateConfigurationRequestEx(PUSB_CONFIGURATION_DESCRIPTOR configurationDescriptor,
                                       PUSBD_INTERFACE_LIST_ENTRY interfaceList);
