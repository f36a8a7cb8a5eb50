// Plug and Play and power: the request codes, power states, device capabilities, device
// properties a bus driver reports, and and which process a request comes from.
#pragma once

#include "wdm/Io.h"
#include "wdm/NtStatus.h"
#include "wdm/NtTypes.h"

struct _IRP;

#define IRP_MN_START_DEVICE 0x00
#define IRP_MN_QUERY_REMOVE_DEVICE 0x01
#define IRP_MN_REMOVE_DEVICE 0x02
#define IRP_MN_CANCEL_REMOVE_DEVICE 0x03
#define IRP_MN_STOP_DEVICE 0x04
#define IRP_MN_QUERY_STOP_DEVICE 0x05
#define IRP_MN_CANCEL_STOP_DEVICE 0x06
#define IRP_MN_QUERY_CAPABILITIES 0x09
#define IRP_MN_SURPRISE_REMOVAL 0x17

#define IRP_MN_SET_POWER 0x02
#define IRP_MN_QUERY_POWER 0x03

typedef enum _DEVICE_POWER_STATE
{
    PowerDeviceUnspecified = 0,
    PowerDeviceD0 = 1,
    PowerDeviceD1 = 2,
    PowerDeviceD2 = 3,
    PowerDeviceD3 = 4,
    PowerDeviceMaximum = 5,
} DEVICE_POWER_STATE,
    *PDEVICE_POWER_STATE;

typedef enum _SYSTEM_POWER_STATE
{
    PowerSystemUnspecified = 0,
    PowerSystemWorking = 1,
    PowerSystemSleeping1 = 2,
    PowerSystemSleeping2 = 3,
    PowerSystemSleeping3 = 4,
    PowerSystemHibernate = 5,
    PowerSystemShutdown = 6,
    PowerSystemMaximum = 7,
} SYSTEM_POWER_STATE,
    *PSYSTEM_POWER_STATE;

typedef enum _POWER_ACTION
{
    PowerActionNone = 0,
    PowerActionSleep = 2,
    PowerActionHibernate = 3,
    PowerActionShutdown = 4,
} POWER_ACTION,
    *PPOWER_ACTION;

typedef struct _DEVICE_CAPABILITIES
{
    USHORT Size;
    USHORT Version;
    ULONG DeviceD1 : 1;
    ULONG DeviceD2 : 1;
    ULONG LockSupported : 1;
    ULONG EjectSupported : 1;
    ULONG Removable : 1;
    ULONG DockDevice : 1;
    ULONG UniqueID : 1;
    ULONG SilentInstall : 1;
    ULONG RawDeviceOK : 1;
    ULONG SurpriseRemovalOK : 1;
    ULONG WakeFromD0 : 1;
    ULONG WakeFromD1 : 1;
    ULONG WakeFromD2 : 1;
    ULONG WakeFromD3 : 1;
    ULONG HardwareDisabled : 1;
    ULONG NonDynamic : 1;
    ULONG WarmEjectSupported : 1;
    ULONG NoDisplayInUI : 1;
    ULONG Reserved : 14;
    ULONG Address;
    ULONG UINumber;
    DEVICE_POWER_STATE DeviceState[PowerSystemMaximum];
    SYSTEM_POWER_STATE SystemWake;
    DEVICE_POWER_STATE DeviceWake;
    ULONG D1Latency;
    ULONG D2Latency;
    ULONG D3Latency;
} DEVICE_CAPABILITIES, *PDEVICE_CAPABILITIES;

// The hardware resources of a started device. USB functions have none; the lists stay opaque.
typedef struct _CM_RESOURCE_LIST* PCM_RESOURCE_LIST;

typedef enum _DEVICE_REGISTRY_PROPERTY
{
    DevicePropertyDeviceDescription = 0,
    DevicePropertyHardwareID = 1,
    DevicePropertyCompatibleIDs = 2,
    DevicePropertyFriendlyName = 12,
    DevicePropertyLocationInformation = 13,
    DevicePropertyPhysicalDeviceObjectName = 14,
} DEVICE_REGISTRY_PROPERTY;

// A property the bus driver reported for a physical device object. Without a buffer, or with one
// shorter than the value, *resultLength receives the size and the answer is
// STATUS_BUFFER_TOO_SMALL. A property the device does not have: STATUS_INVALID_PARAMETER_2.
// PASSIVE_LEVEL.
NTSTATUS IoGetDeviceProperty(PDEVICE_OBJECT deviceObject, DEVICE_REGISTRY_PROPERTY property,
                             ULONG bufferLength, PVOID propertyBuffer, PULONG resultLength);

// Whether the request comes from a 32-bit process: its handles and user addresses are 32 bits
// wide. A request runs in its caller's thread, so the answer is that of the thread's process.
BOOLEAN IoIs32bitProcess(struct _IRP* irp);
