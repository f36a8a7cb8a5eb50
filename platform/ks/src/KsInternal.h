// Kernel streaming's own objects behind the public structures. Not part of any public header.
//
// Every object (device, factory, filter) is a KsObject header followed by its public structure,
// so KsGetDevice and the mutex routines can take any of them. Lifetime: the device owns its
// factories; a factory lives while its create item is present or a filter of it is open; a
// filter lives from Create to Close. Each object's bag is freed when the object goes.
#pragma once

#include <ks.h>
#include <wdm.h>

#include <string>
#include <vector>

namespace Platform::Ks::Internal {

// Whether a buffer a request names lies wholly in the requesting process (a request from kernel
// mode is trusted), as the probe of a property's or a pin request's buffers checks it: the data is
// copied at once, so no pages are locked and no MDL is made for it.
bool UserBufferInProcess(bool fromUser, PVOID address, ULONG size);

enum class ObjectKind : ULONG
{
    Device = 0x44734B,  // "KsD"
    Factory = 0x46734B,
    Filter = 0x49734B,
    Pin = 0x50734B,
};

struct DeviceImpl;

struct KsObject
{
    ObjectKind kind;
    DeviceImpl* device;
    KMUTEX mutex;  // the device mutex of a device, the control mutex of a factory or filter
};

// A pool-backed bag: each item costs one allocation, so running out of pool makes adding fail.
struct BagItem
{
    BagItem* next;
    PVOID item;
    PFNKSFREE free;
};

}  // namespace Platform::Ks::Internal

struct _KSIOBJECT_BAG
{
    Platform::Ks::Internal::BagItem* items;
    PKMUTEX mutex;          // the mutex a caller must hold to change the bag
    const char* mutexName;  // for the stop when it does not
};

namespace Platform::Ks::Internal {

struct FactoryImpl;
struct FilterImpl;
struct PinImpl;

struct InterfaceRecord
{
    GUID category;
    std::u16string referenceString;
    std::u16string symbolicLink;
    bool enabled;
};

struct CreateItem
{
    std::u16string referenceString;
    FactoryImpl* context;
    ULONG flags;
};

struct EnabledEvent
{
    GUID set;
    ULONG id;
    ULONG flags;      // KSEVENT_TYPE_*
    PRKEVENT event;   // referenced
    const void* key;  // the KSEVENTDATA address the client enabled it with
};

struct FilterImpl
{
    KsObject object;
    KSFILTER filter;
    _KSIOBJECT_BAG bag;
    FactoryImpl* factory;
    KSPIN_LOCK eventLock;
    std::vector<EnabledEvent> events;
    std::vector<PinImpl*> pins;  // open pins, oldest first; under the filter's control mutex
};

struct FactoryImpl
{
    KsObject object;
    KSFILTERFACTORY factory;
    _KSIOBJECT_BAG bag;
    std::u16string referenceString;
    ULONG createItemFlags;
    bool createItemPresent;
    bool fromDeviceDescriptor;
    ULONG openFilters;
    std::vector<InterfaceRecord> interfaces;
    UNICODE_STRING symbolicLink;
};

struct DeviceImpl
{
    KsObject object;
    KSDEVICE device;
    _KSIOBJECT_BAG bag;
    ::_KSIDEVICE_HEADER* header;
    DEVICE_OBJECT functionalDeviceObject;
    std::u16string instancePath;          // "USB\VID_...&MI_00\1&0&0000"
    std::vector<FactoryImpl*> factories;  // oldest first
    bool surpriseRemoved;
};

}  // namespace Platform::Ks::Internal

struct _KSIDEVICE_HEADER
{
    Platform::Ks::Internal::DeviceImpl* device;
    std::vector<Platform::Ks::Internal::CreateItem> createItems;
};

namespace Platform::Ks::Internal {

// What the functional device object's extension holds.
struct DeviceExtension
{
    KSDEVICE_HEADER header;
};

// The file object of an open filter or pin handle. A pin's names its filter's file object and
// the user-mode create parameters (KSPIN_CONNECT and the data format) it was opened with.
struct FileObject
{
    ULONG magic;
    std::u16string referenceString;
    FilterImpl* filter;
    FileObject* related = nullptr;
    PinImpl* pin = nullptr;
    PVOID createParameters = nullptr;  // user address
    ULONG createParametersSize = 0;
};
inline constexpr ULONG kFileObjectMagic = 0x4B734669;

KsObject* ObjectOf(PVOID publicObject);
DeviceImpl* DeviceOf(PKSDEVICE device);
FactoryImpl* FactoryOf(PKSFILTERFACTORY factory);
FilterImpl* FilterOf(PKSFILTER filter);

void InitializeObject(KsObject* object, ObjectKind kind, DeviceImpl* device);
// The bag of a device or factory is guarded by the device mutex, a filter's by its control mutex.
void InitializeBag(_KSIOBJECT_BAG* bag, PKMUTEX mutex, const char* mutexName);
// Stops the system when the calling thread does not hold the mutex the service requires.
void RequireMutexHeld(PKMUTEX mutex, const char* mutexName, const char* service);
// Frees every item of the bag, newest first.
void FreeBag(_KSIOBJECT_BAG* bag);

// Factories the device descriptor lists, created at Add and again at Start when they were freed.
NTSTATUS CreateDescriptorFactories(DeviceImpl* device);
void EnableDescriptorFactories(DeviceImpl* device);
void SetAllInterfaces(DeviceImpl* device, bool enabled);
// The audio service records the factory's enabled render and capture interfaces as endpoints.
void PublishAudioEndpoints(const FactoryImpl& factory);
// Frees the factory once it has neither a create item nor an open filter.
void ReleaseFactoryIfUnused(FactoryImpl* factory);
void DestroyAllFactories(DeviceImpl* device);

// Request dispatch installed on the driver object.
NTSTATUS DispatchCreate(PDEVICE_OBJECT deviceObject, struct _IRP* irp);
NTSTATUS DispatchClose(PDEVICE_OBJECT deviceObject, struct _IRP* irp);
NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT deviceObject, struct _IRP* irp);
NTSTATUS DispatchPnp(PDEVICE_OBJECT deviceObject, struct _IRP* irp);
NTSTATUS DispatchPower(PDEVICE_OBJECT deviceObject, struct _IRP* irp);

// The AddDevice step: builds the device for the physical device object.
NTSTATUS AddDevice(PDRIVER_OBJECT driverObject, PDEVICE_OBJECT physicalDeviceObject,
                   const std::u16string& instancePath, DeviceImpl** added);
// Frees what remains of a removed device.
void DeleteDevice(DeviceImpl* device);

const KSDEVICE_DESCRIPTOR* DescriptorOf(PDRIVER_OBJECT driverObject);

std::u16string LowerGuidText(const GUID& guid);
// Reference strings and symbolic links compare without regard to ASCII case.
bool SameTextIgnoringCase(const std::u16string& a, const std::u16string& b);
// Completes a request this layer handled itself.
NTSTATUS CompleteRequest(struct _IRP* irp, NTSTATUS status, ULONG_PTR information = 0);

// The I/O manager's end of a buffered property request: copies the data back to the caller's
// buffer when asked and the request succeeded, then frees the system buffer.
void FinishBufferedRequest(struct _IRP* irp, bool copyBack, ULONG outputSize);

// Whether a present device registered the interface behind the link; its category when it did.
bool FindRegisteredInterface(const std::u16string& symbolicLink, GUID* category);
// The interface's key below HKLM.
std::u16string InterfaceKeyPath(const std::u16string& symbolicLink, const GUID& category);

// Drops the events a filter's client enabled (the handle is closing).
void FreeFilterEvents(FilterImpl* filter);

// Property requests answered from an automation table (a filter's or a pin's).
NTSTATUS HandlePropertyRequest(const KSAUTOMATION_TABLE* table, struct _IRP* irp,
                               ULONG_PTR* information);

// Pins (Pin.cpp): create and close on a pin's file object, and every device control sent to a
// pin (frames, its state, its properties). Closing a filter closes its pins still open first.
bool IsPinFile(const FileObject* file);
NTSTATUS DispatchPinCreate(FileObject* file, struct _IRP* irp);
NTSTATUS DispatchPinClose(FileObject* file, struct _IRP* irp);
NTSTATUS DispatchPinDeviceControl(struct _IRP* irp);
void CloseFilterPins(FilterImpl* filter);
// KSPROPERTY_PIN_DATAINTERSECTION on a filter; false when the request is not that property.
bool HandleDataIntersection(FilterImpl* filter, struct _IRP* irp, NTSTATUS* status,
                            ULONG_PTR* information);

}  // namespace Platform::Ks::Internal
