// The audio format of the endpoint of an interface, from the class-specific descriptors
// (USB Audio Class 1 and 2, USB-MIDI, HID).
#pragma once

#include "usb/UsbPipe.h"

// Walks from the interface descriptor to the end of the configuration (wTotalLength) and fills
// *out (zeroed first) for the endpointIndex-th endpoint met. STATUS_SUCCESS when that endpoint was
// reached, else STATUS_UNSUCCESSFUL. `rates` holds min(rateCount, 10) entries, or the two bounds
// of a continuous range. Any IRQL.
NTSTATUS ParseEndpointClassDescriptors(PUSB_CONFIGURATION_DESCRIPTOR configuration,
                                       PUSB_INTERFACE_DESCRIPTOR interfaceDescriptor,
                                       ULONG endpointIndex, EndpointFormat* out);
