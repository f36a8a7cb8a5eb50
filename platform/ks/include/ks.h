// Kernel streaming as the driver sees it. For now only the device object the driver's device
// context hangs on; the kernel-streaming layer fills in the rest in this same header.
#pragma once

#include <wdm.h>

struct _KSDEVICE_DESCRIPTOR;
struct _KSOBJECT_BAG;
struct _KSFILTER;
typedef struct _KSFILTER KSFILTER, *PKSFILTER;

typedef struct _KSDEVICE
{
    const struct _KSDEVICE_DESCRIPTOR* Descriptor;
    struct _KSOBJECT_BAG* Bag;
    PVOID Context;
    PDEVICE_OBJECT FunctionalDeviceObject;
    PDEVICE_OBJECT PhysicalDeviceObject;
    PDEVICE_OBJECT NextDeviceObject;
    BOOLEAN Started;
} KSDEVICE, *PKSDEVICE;
