// Kernel streaming as a minidriver sees it: the device, filter factories and filters, their
// object bags and mutexes, automation tables (properties and events) and the descriptors that
// describe them. Pins and stream pointers are declared only as far as descriptors name them.
//
// Layouts are those of a 64-bit driver: a KSPROPERTY is 24 bytes, a KSPROPERTY_ITEM 72, a
// KSEVENT_ITEM 40, a KSEVENTDATA 32 and a KSPIN_DESCRIPTOR_EX 136.
#pragma once

#include <wdm.h>

// ---- Identifiers -------------------------------------------------------------------------

typedef struct
{
    GUID Set;
    ULONG Id;
    ULONG Flags;
} KSIDENTIFIER, *PKSIDENTIFIER;
typedef KSIDENTIFIER KSPROPERTY, *PKSPROPERTY, KSEVENT, *PKSEVENT, KSMETHOD, *PKSMETHOD;
typedef KSIDENTIFIER KSPIN_INTERFACE, *PKSPIN_INTERFACE, KSPIN_MEDIUM, *PKSPIN_MEDIUM;

#define KSPROPERTY_TYPE_GET 0x00000001
#define KSPROPERTY_TYPE_SET 0x00000002
#define KSPROPERTY_TYPE_BASICSUPPORT 0x00000200
// The request names a node (a KSNODEPROPERTY: the KSPROPERTY, the node id, a reserved word) and is
// answered from that node's automation table.
#define KSPROPERTY_TYPE_TOPOLOGY 0x10000000

#define KSEVENT_TYPE_ENABLE 0x00000001
#define KSEVENT_TYPE_ONESHOT 0x00000002

#define KSEVENTF_EVENT_HANDLE 0x00000001

// How a client asks to be told of an event. A 32-bit process sends 16 bytes: the notification
// type, the handle in 32 bits and two reserved 32-bit words; kernel streaming widens it.
typedef struct
{
    ULONG NotificationType;
    union {
        struct
        {
            HANDLE Event;
            ULONG_PTR Reserved[2];
        } EventHandle;
        struct
        {
            PVOID Unused[3];
        } Alignment;
    };
} KSEVENTDATA, *PKSEVENTDATA;

inline constexpr bool IsEqualGUIDAligned(const GUID& a, const GUID& b)
{
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           a.Data4[0] == b.Data4[0] && a.Data4[1] == b.Data4[1] && a.Data4[2] == b.Data4[2] &&
           a.Data4[3] == b.Data4[3] && a.Data4[4] == b.Data4[4] && a.Data4[5] == b.Data4[5] &&
           a.Data4[6] == b.Data4[6] && a.Data4[7] == b.Data4[7];
}
#define IsEqualGUID(a, b) IsEqualGUIDAligned((a), (b))

// ---- Automation tables -------------------------------------------------------------------

typedef NTSTATUS (*PFNKSHANDLER)(struct _IRP* irp, PKSIDENTIFIER request, PVOID data);

typedef struct _KSPROPERTY_VALUES KSPROPERTY_VALUES;  // value ranges: not used by this driver
typedef struct _KSFASTPROPERTY_ITEM KSFASTPROPERTY_ITEM;

typedef struct
{
    ULONG PropertyId;
    union {
        PFNKSHANDLER GetPropertyHandler;
        BOOLEAN GetSupported;
    };
    ULONG MinProperty;  // bytes of the property buffer, KSPROPERTY included
    ULONG MinData;      // bytes of the data buffer
    union {
        PFNKSHANDLER SetPropertyHandler;
        BOOLEAN SetSupported;
    };
    const KSPROPERTY_VALUES* Values;
    ULONG RelationsCount;
    const KSPROPERTY* Relations;
    PFNKSHANDLER SupportHandler;
    ULONG SerializedSize;
} KSPROPERTY_ITEM, *PKSPROPERTY_ITEM;

typedef struct
{
    const GUID* Set;
    ULONG PropertiesCount;
    const KSPROPERTY_ITEM* PropertyItem;
    ULONG FastIoCount;
    const KSFASTPROPERTY_ITEM* FastIoTable;
} KSPROPERTY_SET, *PKSPROPERTY_SET;

typedef struct _KSEVENT_ENTRY KSEVENT_ENTRY, *PKSEVENT_ENTRY;
typedef NTSTATUS (*PFNKSADDEVENT)(struct _IRP* irp, PKSEVENTDATA eventData,
                                  PKSEVENT_ENTRY eventEntry);
typedef void (*PFNKSREMOVEEVENT)(void* fileObject, PKSEVENT_ENTRY eventEntry);

typedef struct
{
    ULONG EventId;
    ULONG DataInput;       // bytes of the KSEVENTDATA the client must send
    ULONG ExtraEntryData;  // not supported: must be 0
    PFNKSADDEVENT AddHandler;
    PFNKSREMOVEEVENT RemoveHandler;
    PFNKSHANDLER SupportHandler;
} KSEVENT_ITEM, *PKSEVENT_ITEM;

typedef struct
{
    const GUID* Set;
    ULONG EventsCount;
    const KSEVENT_ITEM* EventItem;
} KSEVENT_SET, *PKSEVENT_SET;

typedef struct _KSMETHOD_SET KSMETHOD_SET;

typedef struct
{
    ULONG PropertySetsCount;
    ULONG PropertyItemSize;  // sizeof(KSPROPERTY_ITEM)
    const KSPROPERTY_SET* PropertySets;
    ULONG MethodSetsCount;
    ULONG MethodItemSize;
    const KSMETHOD_SET* MethodSets;
    ULONG EventSetsCount;
    ULONG EventItemSize;  // sizeof(KSEVENT_ITEM)
    const KSEVENT_SET* EventSets;
    PVOID Alignment;
} KSAUTOMATION_TABLE, *PKSAUTOMATION_TABLE;

// ---- Data formats and pin descriptors ----------------------------------------------------

typedef union {
    struct
    {
        ULONG FormatSize;
        ULONG Flags;
        ULONG SampleSize;
        ULONG Reserved;
        GUID MajorFormat;
        GUID SubFormat;
        GUID Specifier;
    };
    LONGLONG Alignment;
} KSDATAFORMAT, *PKSDATAFORMAT, KSDATARANGE, *PKSDATARANGE;

typedef enum
{
    KSPIN_DATAFLOW_IN = 1,
    KSPIN_DATAFLOW_OUT = 2,
} KSPIN_DATAFLOW;

typedef enum
{
    KSPIN_COMMUNICATION_NONE = 0,
    KSPIN_COMMUNICATION_SINK = 1,
    KSPIN_COMMUNICATION_SOURCE = 2,
    KSPIN_COMMUNICATION_BOTH = 3,
    KSPIN_COMMUNICATION_BRIDGE = 4,
} KSPIN_COMMUNICATION;

typedef struct
{
    ULONG InterfacesCount;
    const KSPIN_INTERFACE* Interfaces;
    ULONG MediumsCount;
    const KSPIN_MEDIUM* Mediums;
    ULONG DataRangesCount;
    const PKSDATARANGE* DataRanges;
    KSPIN_DATAFLOW DataFlow;
    KSPIN_COMMUNICATION Communication;
    const GUID* Category;
    const GUID* Name;
    union {
        LONGLONG Reserved;
        struct
        {
            ULONG ConstrainedDataRangesCount;
            PKSDATARANGE* ConstrainedDataRanges;
        };
    };
} KSPIN_DESCRIPTOR, *PKSPIN_DESCRIPTOR;

// Pins come with their own dispatch, framing and intersection; declared here for descriptors.
typedef struct _KSPIN_DISPATCH KSPIN_DISPATCH;
typedef struct _KSALLOCATOR_FRAMING_EX KSALLOCATOR_FRAMING_EX;
typedef NTSTATUS (*PFNKSINTERSECTHANDLEREX)(PVOID context, struct _IRP* irp, PKSPIN_DESCRIPTOR,
                                            PKSDATARANGE callerDataRange,
                                            PKSDATARANGE descriptorDataRange, ULONG bufferSize,
                                            PVOID data, PULONG dataSize);

typedef struct
{
    const KSPIN_DISPATCH* Dispatch;
    const KSAUTOMATION_TABLE* AutomationTable;
    KSPIN_DESCRIPTOR PinDescriptor;
    ULONG Flags;
    ULONG InstancesPossible;
    ULONG InstancesNecessary;
    const KSALLOCATOR_FRAMING_EX* AllocatorFraming;
    PFNKSINTERSECTHANDLEREX IntersectHandler;
} KSPIN_DESCRIPTOR_EX, *PKSPIN_DESCRIPTOR_EX;

typedef struct
{
    const KSAUTOMATION_TABLE* AutomationTable;
    const GUID* Type;
    const GUID* Name;
} KSNODE_DESCRIPTOR, *PKSNODE_DESCRIPTOR;

#define KSFILTER_NODE ((ULONG)-1)

typedef struct
{
    ULONG FromNode;
    ULONG FromNodePin;
    ULONG ToNode;
    ULONG ToNodePin;
} KSTOPOLOGY_CONNECTION, *PKSTOPOLOGY_CONNECTION;

typedef struct
{
    GUID Manufacturer;
    GUID Product;
    GUID Component;
    GUID Name;
    ULONG Version;
    ULONG Revision;
} KSCOMPONENTID, *PKSCOMPONENTID;

// ---- Objects -----------------------------------------------------------------------------

// A bag holds items that go when its object goes; each item is freed by its free routine (or
// ExFreePool when it has none).
typedef struct _KSIOBJECT_BAG* KSOBJECT_BAG;
typedef void (*PFNKSFREE)(PVOID data);

// The header kernel streaming keeps in the functional device object's extension: the extension
// starts with it, as *(KSDEVICE_HEADER*)fdo->DeviceExtension.
typedef struct _KSIDEVICE_HEADER* KSDEVICE_HEADER;

struct _KSDEVICE_DESCRIPTOR;
struct _KSFILTER_DESCRIPTOR;

typedef struct _KSDEVICE
{
    const struct _KSDEVICE_DESCRIPTOR* Descriptor;
    KSOBJECT_BAG Bag;
    PVOID Context;
    PDEVICE_OBJECT FunctionalDeviceObject;
    PDEVICE_OBJECT PhysicalDeviceObject;
    PDEVICE_OBJECT NextDeviceObject;
    BOOLEAN Started;
    SYSTEM_POWER_STATE SystemPowerState;
    DEVICE_POWER_STATE DevicePowerState;
} KSDEVICE, *PKSDEVICE;

typedef struct _KSFILTERFACTORY
{
    const struct _KSFILTER_DESCRIPTOR* FilterDescriptor;
    KSOBJECT_BAG Bag;
    PVOID Context;
} KSFILTERFACTORY, *PKSFILTERFACTORY;

typedef struct _KSFILTER
{
    const struct _KSFILTER_DESCRIPTOR* Descriptor;
    KSOBJECT_BAG Bag;
    PVOID Context;
} KSFILTER, *PKSFILTER;

// ---- Device ------------------------------------------------------------------------------

typedef struct
{
    NTSTATUS (*Add)(PKSDEVICE device);
    NTSTATUS(*Start)
    (PKSDEVICE device, struct _IRP* irp, PCM_RESOURCE_LIST translated,
     PCM_RESOURCE_LIST untranslated);
    NTSTATUS (*PostStart)(PKSDEVICE device);
    NTSTATUS (*QueryStop)(PKSDEVICE device, struct _IRP* irp);
    void (*CancelStop)(PKSDEVICE device, struct _IRP* irp);
    void (*Stop)(PKSDEVICE device, struct _IRP* irp);
    NTSTATUS (*QueryRemove)(PKSDEVICE device, struct _IRP* irp);
    void (*CancelRemove)(PKSDEVICE device, struct _IRP* irp);
    void (*Remove)(PKSDEVICE device, struct _IRP* irp);
    NTSTATUS(*QueryCapabilities)
    (PKSDEVICE device, struct _IRP* irp, PDEVICE_CAPABILITIES capabilities);
    void (*SurpriseRemoval)(PKSDEVICE device, struct _IRP* irp);
    NTSTATUS(*QueryPower)
    (PKSDEVICE device, struct _IRP* irp, DEVICE_POWER_STATE deviceTo, DEVICE_POWER_STATE deviceFrom,
     SYSTEM_POWER_STATE systemTo, SYSTEM_POWER_STATE systemFrom, POWER_ACTION action);
    void (*SetPower)(PKSDEVICE device, struct _IRP* irp, DEVICE_POWER_STATE to,
                     DEVICE_POWER_STATE from);
    NTSTATUS (*QueryInterface)(PKSDEVICE device, struct _IRP* irp);
} KSDEVICE_DISPATCH, *PKSDEVICE_DISPATCH;

#define MIN_DEV_VER_FOR_QI 0x100

typedef struct _KSDEVICE_DESCRIPTOR
{
    const KSDEVICE_DISPATCH* Dispatch;
    ULONG FilterDescriptorsCount;
    const struct _KSFILTER_DESCRIPTOR* const* FilterDescriptors;
    ULONG Version;
    ULONG Flags;
    ULONG Alignment;
} KSDEVICE_DESCRIPTOR, *PKSDEVICE_DESCRIPTOR;

// Makes the driver a kernel-streaming driver: installs the request dispatch and the driver's
// AddDevice and unload routines (the unload routine may be replaced by the caller, which then
// calls it in turn). Devices are added and started through the descriptor's dispatch table; the
// descriptor's filters get their factories when the device is added. PASSIVE_LEVEL.
NTSTATUS KsInitializeDriver(PDRIVER_OBJECT driverObject, PCUNICODE_STRING registryPath,
                            const KSDEVICE_DESCRIPTOR* descriptor);

// The device mutex: guards the device's factory list and its object bag. Recursive.
// PASSIVE_LEVEL.
void KsAcquireDevice(PKSDEVICE device);
void KsReleaseDevice(PKSDEVICE device);

NTSTATUS KsAddItemToObjectBag(KSOBJECT_BAG bag, PVOID item, PFNKSFREE free);
// Removes the item; frees it when asked. Returns how many references the bag still holds (0).
ULONG KsRemoveItemFromObjectBag(KSOBJECT_BAG bag, PVOID item, BOOLEAN free);

// The kernel-streaming device of any of its objects (device, factory, filter).
PKSDEVICE KsGetDevice(PVOID object);

// ---- Filter factories and filters --------------------------------------------------------

typedef struct
{
    NTSTATUS (*Create)(PKSFILTER filter, struct _IRP* irp);
    NTSTATUS (*Close)(PKSFILTER filter, struct _IRP* irp);
    NTSTATUS (*Process)(PKSFILTER filter, PVOID processPinsIndex);
    NTSTATUS (*Reset)(PKSFILTER filter);
} KSFILTER_DISPATCH, *PKSFILTER_DISPATCH;

#define KSFILTER_DESCRIPTOR_VERSION ((ULONG)-1)

typedef struct _KSFILTER_DESCRIPTOR
{
    const KSFILTER_DISPATCH* Dispatch;
    const KSAUTOMATION_TABLE* AutomationTable;
    ULONG Version;
    ULONG Flags;
    const GUID* ReferenceGuid;
    ULONG PinDescriptorsCount;
    ULONG PinDescriptorSize;
    const KSPIN_DESCRIPTOR_EX* PinDescriptors;
    ULONG CategoriesCount;
    const GUID* Categories;
    ULONG NodeDescriptorsCount;
    ULONG NodeDescriptorSize;
    const KSNODE_DESCRIPTOR* NodeDescriptors;
    ULONG ConnectionsCount;
    const KSTOPOLOGY_CONNECTION* Connections;
    const KSCOMPONENTID* ComponentId;
} KSFILTER_DESCRIPTOR, *PKSFILTER_DESCRIPTOR;

// Create-item flags. The flag is kept with the item; items go only through
// KsFreeObjectCreateItemsByContext.
#define KSCREATE_ITEM_SECURITYCHANGED 0x00000001
#define KSCREATE_ITEM_WILDCARD 0x00000002
#define KSCREATE_ITEM_NOPARAMETERS 0x00000004
#define KSCREATE_ITEM_FREEONSTOP 0x00000008

typedef void (*PFNKSFILTERFACTORYPOWER)(PKSFILTERFACTORY factory, DEVICE_POWER_STATE state);
typedef struct _SECURITY_DESCRIPTOR* PSECURITY_DESCRIPTOR;

// A factory for filters of the descriptor, opened through the device interfaces of the
// descriptor's categories with the reference string (or, when null, the descriptor's reference
// GUID in braces). The interfaces start disabled. Returns the factory in *factory when asked.
// PASSIVE_LEVEL, under the device mutex or not.
NTSTATUS KsCreateFilterFactory(PDEVICE_OBJECT deviceObject, const KSFILTER_DESCRIPTOR* descriptor,
                               PCWSTR referenceString, PSECURITY_DESCRIPTOR securityDescriptor,
                               ULONG createItemFlags, PFNKSFILTERFACTORYPOWER sleepCallback,
                               PFNKSFILTERFACTORYPOWER wakeCallback, PKSFILTERFACTORY* factory);
// Enables or disables every device interface of the factory. PASSIVE_LEVEL.
NTSTATUS KsFilterFactorySetDeviceClassesState(PKSFILTERFACTORY factory, BOOLEAN newState);
// The symbolic link of the factory's first interface.
PUNICODE_STRING KsFilterFactoryGetSymbolicLink(PKSFILTERFACTORY factory);

// The device's factories, oldest first; walk them under the device mutex.
PKSFILTERFACTORY KsDeviceGetFirstChildFilterFactory(PKSDEVICE device);
PKSFILTERFACTORY KsFilterFactoryGetNextSiblingFilterFactory(PKSFILTERFACTORY factory);
PKSDEVICE KsFilterFactoryGetParentDevice(PKSFILTERFACTORY factory);

// Frees the create items whose context is the given one (a factory): its interfaces go and the
// factory can no longer be opened. The factory itself goes once its last filter has closed.
// PASSIVE_LEVEL.
void KsFreeObjectCreateItemsByContext(KSDEVICE_HEADER header, PVOID context);

// The filter a request was sent to: Create, Close, property and event requests; null for others.
PKSFILTER KsGetFilterFromIrp(struct _IRP* irp);
PKSFILTERFACTORY KsFilterGetParentFilterFactory(PKSFILTER filter);

// The control mutex of a filter (or of any kernel-streaming object); recursive. PASSIVE_LEVEL.
void KsAcquireControl(PVOID object);
void KsReleaseControl(PVOID object);

// ---- Events ------------------------------------------------------------------------------

typedef BOOLEAN (*PFNKSGENERATEEVENTCALLBACK)(PVOID context, PKSEVENT_ENTRY eventEntry);

// Signals every enabled event of the set and id on the object (a filter): for each, when the
// callback is null or answers TRUE, the client's event is set. IRQL <= DISPATCH_LEVEL.
void KsGenerateEvents(PVOID object, const GUID* eventSet, ULONG eventId, ULONG dataSize, PVOID data,
                      PFNKSGENERATEEVENTCALLBACK callback, PVOID callbackContext);

// ---- Categories --------------------------------------------------------------------------

inline constexpr GUID KSCATEGORY_AUDIO = {
    0x6994AD04, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr GUID KSCATEGORY_RENDER = {
    0x65E8773E, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr GUID KSCATEGORY_CAPTURE = {
    0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr GUID KSCATEGORY_TOPOLOGY = {
    0xDDA54A40, 0x1E4C, 0x11D1, {0xA0, 0x50, 0x40, 0x57, 0x05, 0xC1, 0x00, 0x00}};

// ---- Requests ----------------------------------------------------------------------------

// Device-control codes of kernel-streaming objects. The input buffer holds the KSPROPERTY or
// KSEVENT (with what follows it), the output buffer the data (property data, KSEVENTDATA). For a
// disable request the input holds the KSEVENTDATA that enabled the event.
#define FILE_DEVICE_KS 0x0000002F
#define KS_CTL_CODE(function) (((FILE_DEVICE_KS) << 16) | ((function) << 2) | METHOD_NEITHER)
#define IOCTL_KS_PROPERTY KS_CTL_CODE(0x000)
#define IOCTL_KS_ENABLE_EVENT KS_CTL_CODE(0x001)
#define IOCTL_KS_DISABLE_EVENT KS_CTL_CODE(0x002)
#define IOCTL_KS_METHOD KS_CTL_CODE(0x003)

#define STATUS_PROPSET_NOT_FOUND NTSTATUS_VALUE(0xC0000230)
#define STATUS_INVALID_BUFFER_SIZE NTSTATUS_VALUE(0xC0000206)

// ---- Cancelable queues -------------------------------------------------------------------
//
// A queue of pending IRPs linked through Tail.Overlay.ListEntry, guarded by the caller's spin
// lock. A queued IRP carries a cancel routine (KsCancelRoutine unless the caller gives one); an
// IRP cancelled while queued (or before) has that routine run. Acquiring an IRP clears its cancel
// routine until KsReleaseIrpOnCancelableQueue puts it back or
// KsRemoveSpecificIrpFromCancelableQueue takes the IRP off: meanwhile it cannot be cancelled,
// removed or cancelled by KsCancelIo. Removing and acquiring skip IRPs whose cancellation has begun
// or that another caller acquired. IRQL <= DISPATCH_LEVEL.

typedef enum
{
    KsListEntryTail = 0,
    KsListEntryHead = 1,
} KSLIST_ENTRY_LOCATION;

typedef enum
{
    KsAcquireOnly = 0,
    KsAcquireAndRemove = 1,
    KsAcquireOnlySingleItem = 2,
    KsAcquireAndRemoveOnlySingleItem = 3,
} KSIRP_REMOVAL_OPERATION;

void KsAddIrpToCancelableQueue(PLIST_ENTRY queueHead, PKSPIN_LOCK spinLock, struct _IRP* irp,
                               KSLIST_ENTRY_LOCATION listLocation, PDRIVER_CANCEL driverCancel);
// The first IRP from the given end that is not being cancelled; removed (and its cancel routine
// cleared) for the removing operations. Null when there is none.
struct _IRP* KsRemoveIrpFromCancelableQueue(PLIST_ENTRY queueHead, PKSPIN_LOCK spinLock,
                                            KSLIST_ENTRY_LOCATION listLocation,
                                            KSIRP_REMOVAL_OPERATION removalOperation);
// Takes an IRP acquired with KsAcquireOnly off its queue.
void KsRemoveSpecificIrpFromCancelableQueue(struct _IRP* irp);
// Gives an IRP acquired with KsAcquireOnly back to its queue with the cancel routine (the default
// when null); an IRP cancelled while acquired is cancelled now.
void KsReleaseIrpOnCancelableQueue(struct _IRP* irp, PDRIVER_CANCEL driverCancel);
// The default cancel routine: unlinks the IRP and completes it with STATUS_CANCELLED.
void KsCancelRoutine(PDEVICE_OBJECT deviceObject, struct _IRP* irp);
// Marks every IRP of the queue cancelled and runs the cancel routine of each that is not
// acquired.
void KsCancelIo(PLIST_ENTRY queueHead, PKSPIN_LOCK spinLock);

// ---- Device interface keys -----------------------------------------------------------------

// Opens (creating it when needed) the registry key of the device interface behind the symbolic
// link, where its values ("CLSID", "FriendlyName" ...) live: a kernel handle for the Zw
// routines, closed with ZwClose. STATUS_OBJECT_NAME_NOT_FOUND for a link no device registered.
// PASSIVE_LEVEL.
NTSTATUS IoOpenDeviceInterfaceRegistryKey(PUNICODE_STRING symbolicLinkName,
                                          ACCESS_MASK desiredAccess, PHANDLE deviceInterfaceKey);

// ---- Pins --------------------------------------------------------------------------------

#include <kspin.h>
