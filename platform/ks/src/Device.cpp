// The kernel-streaming device: driver initialisation, AddDevice, and the Plug and Play and power
// requests routed to the minidriver's device dispatch.
#include <map>
#include <mutex>

#include <KernelTestApi.h>

#include "KsInternal.h"

namespace Platform::Ks::Internal {
namespace {

struct DriverRecord
{
    const KSDEVICE_DESCRIPTOR* descriptor;
};

std::mutex& DriversLock()
{
    static std::mutex lock;
    return lock;
}

std::map<PDRIVER_OBJECT, DriverRecord>& Drivers()
{
    static std::map<PDRIVER_OBJECT, DriverRecord> drivers;
    return drivers;
}

// Devices present in the system, for lookups by symbolic link; under DriversLock.
std::vector<DeviceImpl*>& PresentDevices()
{
    static std::vector<DeviceImpl*> devices;
    return devices;
}

void KsDriverUnload(PDRIVER_OBJECT driverObject)
{
    std::lock_guard guard(DriversLock());
    Drivers().erase(driverObject);
}

DeviceImpl* DeviceFromObject(PDEVICE_OBJECT deviceObject)
{
    return static_cast<DeviceExtension*>(deviceObject->DeviceExtension)->header->device;
}

const KSDEVICE_DISPATCH* DispatchOf(const DeviceImpl* device)
{
    const KSDEVICE_DESCRIPTOR* descriptor = device->device.Descriptor;
    return descriptor != nullptr ? descriptor->Dispatch : nullptr;
}

NTSTATUS Start(DeviceImpl* device, struct _IRP* irp)
{
    const KSDEVICE_DISPATCH* dispatch = DispatchOf(device);
    NTSTATUS status = STATUS_SUCCESS;
    if (dispatch != nullptr && dispatch->Start != nullptr) {
        status = dispatch->Start(&device->device, irp, nullptr, nullptr);
    }
    if (!NT_SUCCESS(status)) {
        return status;
    }
    const bool wasStarted = device->device.Started != FALSE;
    device->device.Started = TRUE;
    if (!wasStarted && dispatch != nullptr && dispatch->PostStart != nullptr) {
        status = dispatch->PostStart(&device->device);
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }
    KsAcquireDevice(&device->device);
    status = CreateDescriptorFactories(device);
    if (NT_SUCCESS(status)) {
        EnableDescriptorFactories(device);
    }
    KsReleaseDevice(&device->device);
    return status;
}

NTSTATUS Pnp(DeviceImpl* device, struct _IRP* irp, UCHAR minor)
{
    const KSDEVICE_DISPATCH* dispatch = DispatchOf(device);
    PKSDEVICE ks = &device->device;
    switch (minor) {
        case IRP_MN_START_DEVICE:
            return Start(device, irp);
        case IRP_MN_QUERY_STOP_DEVICE:
            return dispatch != nullptr && dispatch->QueryStop != nullptr
                       ? dispatch->QueryStop(ks, irp)
                       : STATUS_SUCCESS;
        case IRP_MN_CANCEL_STOP_DEVICE:
            if (dispatch != nullptr && dispatch->CancelStop != nullptr) {
                dispatch->CancelStop(ks, irp);
            }
            return STATUS_SUCCESS;
        case IRP_MN_STOP_DEVICE:
            if (dispatch != nullptr && dispatch->Stop != nullptr) {
                dispatch->Stop(ks, irp);
            }
            ks->Started = FALSE;
            return STATUS_SUCCESS;
        case IRP_MN_QUERY_REMOVE_DEVICE:
            return dispatch != nullptr && dispatch->QueryRemove != nullptr
                       ? dispatch->QueryRemove(ks, irp)
                       : STATUS_SUCCESS;
        case IRP_MN_CANCEL_REMOVE_DEVICE:
            if (dispatch != nullptr && dispatch->CancelRemove != nullptr) {
                dispatch->CancelRemove(ks, irp);
            }
            return STATUS_SUCCESS;
        case IRP_MN_SURPRISE_REMOVAL:
            device->surpriseRemoved = true;
            SetAllInterfaces(device, false);
            if (dispatch != nullptr && dispatch->SurpriseRemoval != nullptr) {
                dispatch->SurpriseRemoval(ks, irp);
            }
            return STATUS_SUCCESS;
        case IRP_MN_REMOVE_DEVICE:
            SetAllInterfaces(device, false);
            if (dispatch != nullptr && dispatch->Remove != nullptr) {
                dispatch->Remove(ks, irp);
            }
            ks->Started = FALSE;
            return STATUS_SUCCESS;
        case IRP_MN_QUERY_CAPABILITIES: {
            auto* capabilities = static_cast<PDEVICE_CAPABILITIES>(
                IoGetCurrentIrpStackLocation(irp)->Parameters.Others.Argument1);
            return dispatch != nullptr && dispatch->QueryCapabilities != nullptr
                       ? dispatch->QueryCapabilities(ks, irp, capabilities)
                       : STATUS_SUCCESS;
        }
        default:
            return STATUS_NOT_SUPPORTED;
    }
}

}  // namespace

const KSDEVICE_DESCRIPTOR* DescriptorOf(PDRIVER_OBJECT driverObject)
{
    std::lock_guard guard(DriversLock());
    auto it = Drivers().find(driverObject);
    return it == Drivers().end() ? nullptr : it->second.descriptor;
}

NTSTATUS AddDevice(PDRIVER_OBJECT driverObject, PDEVICE_OBJECT physicalDeviceObject,
                   const std::u16string& instancePath, DeviceImpl** added)
{
    *added = nullptr;
    if (DescriptorOf(driverObject) == nullptr) {
        return STATUS_INVALID_DEVICE_REQUEST;  // not (or no longer) a kernel-streaming driver
    }
    auto* device = new DeviceImpl{};
    InitializeObject(&device->object, ObjectKind::Device, device);
    InitializeBag(&device->bag, &device->object.mutex, "KS device mutex");
    device->header = new _KSIDEVICE_HEADER{device, {}};
    device->instancePath = instancePath;
    auto* extension = new DeviceExtension{device->header};
    PDEVICE_OBJECT fdo = &device->functionalDeviceObject;
    fdo->DriverObject = driverObject;
    fdo->DeviceExtension = extension;
    fdo->StackSize = 1;

    device->device.Descriptor = DescriptorOf(driverObject);
    device->device.Bag = &device->bag;
    device->device.FunctionalDeviceObject = fdo;
    device->device.PhysicalDeviceObject = physicalDeviceObject;
    device->device.NextDeviceObject = physicalDeviceObject;
    device->device.SystemPowerState = PowerSystemWorking;
    device->device.DevicePowerState = PowerDeviceD0;

    KsAcquireDevice(&device->device);
    NTSTATUS status = CreateDescriptorFactories(device);
    KsReleaseDevice(&device->device);
    const KSDEVICE_DISPATCH* dispatch = DispatchOf(device);
    if (NT_SUCCESS(status) && dispatch != nullptr && dispatch->Add != nullptr) {
        status = dispatch->Add(&device->device);
    }
    if (!NT_SUCCESS(status)) {
        DeleteDevice(device);
        return status;
    }
    {
        std::lock_guard guard(DriversLock());
        PresentDevices().push_back(device);
    }
    *added = device;
    return STATUS_SUCCESS;
}

bool FindRegisteredInterface(const std::u16string& symbolicLink, GUID* category)
{
    std::lock_guard guard(DriversLock());
    for (DeviceImpl* device : PresentDevices()) {
        for (FactoryImpl* factory : device->factories) {
            for (const InterfaceRecord& record : factory->interfaces) {
                if (SameTextIgnoringCase(record.symbolicLink, symbolicLink)) {
                    *category = record.category;
                    return true;
                }
            }
        }
    }
    return false;
}

void DeleteDevice(DeviceImpl* device)
{
    {
        std::lock_guard guard(DriversLock());
        std::erase(PresentDevices(), device);
    }
    DestroyAllFactories(device);
    FreeBag(&device->bag);
    delete static_cast<DeviceExtension*>(device->functionalDeviceObject.DeviceExtension);
    delete device->header;
    delete device;
}

NTSTATUS DispatchPnp(PDEVICE_OBJECT deviceObject, struct _IRP* irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    DeviceImpl* device = DeviceFromObject(deviceObject);
    return CompleteRequest(irp, Pnp(device, irp, stack->MinorFunction));
}

NTSTATUS DispatchPower(PDEVICE_OBJECT deviceObject, struct _IRP* irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    DeviceImpl* device = DeviceFromObject(deviceObject);
    const KSDEVICE_DISPATCH* dispatch = DispatchOf(device);
    const auto to = static_cast<DEVICE_POWER_STATE>(
        reinterpret_cast<ULONG_PTR>(stack->Parameters.Others.Argument1));
    const DEVICE_POWER_STATE from = device->device.DevicePowerState;
    NTSTATUS status = STATUS_SUCCESS;
    if (stack->MinorFunction == IRP_MN_SET_POWER) {
        if (dispatch != nullptr && dispatch->SetPower != nullptr) {
            dispatch->SetPower(&device->device, irp, to, from);
        }
        device->device.DevicePowerState = to;
    } else if (stack->MinorFunction == IRP_MN_QUERY_POWER) {
        if (dispatch != nullptr && dispatch->QueryPower != nullptr) {
            status = dispatch->QueryPower(&device->device, irp, to, from, PowerSystemWorking,
                                          PowerSystemWorking, PowerActionNone);
        }
    } else {
        status = STATUS_NOT_SUPPORTED;
    }
    return CompleteRequest(irp, status);
}

}  // namespace Platform::Ks::Internal

using namespace Platform::Ks::Internal;

NTSTATUS KsInitializeDriver(PDRIVER_OBJECT driverObject, PCUNICODE_STRING registryPath,
                            const KSDEVICE_DESCRIPTOR* descriptor)
{
    UNREFERENCED_PARAMETER(registryPath);
    Platform::Kernel::RequireCallerIrql(PASSIVE_LEVEL, "KsInitializeDriver");
    if (driverObject == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    {
        std::lock_guard guard(DriversLock());
        Drivers()[driverObject] = {descriptor};
    }
    driverObject->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
    driverObject->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
    driverObject->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
    driverObject->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driverObject->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    driverObject->DriverUnload = KsDriverUnload;
    return STATUS_SUCCESS;
}
