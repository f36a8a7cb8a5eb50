// The driver's entry, its device descriptor and the Plug and Play half of the device dispatch.
#include <iterator>

#include "DeviceLifecycle.h"
#include "DeviceModel.h"
#include "EndpointNaming.h"
#include "audio/SampleConverters.h"

namespace {

PDRIVER_UNLOAD savedUnload = nullptr;

DeviceContext* ContextOf(PKSDEVICE device)
{
    return static_cast<DeviceContext*>(device->Context);
}

void Transition(DeviceContext* context, LONG state)
{
    context->previousState = GetPnpState(context);
    SetPnpState(context, state);
}

void StopAfterSurpriseRemoval(DeviceContext* context)
{
    if (context->deviceModel != nullptr) {
        context->deviceModel->Stop(kStopAfterSurpriseRemoval);
    }
    context->previousState = kPnpSurpriseRemoved;
    SetPnpState(context, kPnpStoppedAfterSurpriseRemoval);
    WakeClientEvents(context);
}

constexpr KSDEVICE_DISPATCH kDeviceDispatch = {
    .Add = DispatchAdd,
    .Start = DispatchStart,
    .PostStart = DispatchPostStart,
    .QueryStop = DispatchQueryStop,
    .CancelStop = DispatchCancelStop,
    .Stop = DispatchStop,
    .QueryRemove = DispatchQueryRemove,
    .CancelRemove = DispatchCancelRemove,
    .Remove = DispatchRemove,
    .QueryCapabilities = DispatchQueryCapabilities,
    .SurpriseRemoval = DispatchSurpriseRemoval,
    .QueryPower = DispatchQueryPower,
    .SetPower = DispatchSetPower,
    .QueryInterface = nullptr,
};

const KSFILTER_DESCRIPTOR* const kFilterDescriptors[] = {&ControlFilterDescriptor};

}  // namespace

const KSDEVICE_DESCRIPTOR DeviceDescriptor = {
    .Dispatch = &kDeviceDispatch,
    .FilterDescriptorsCount = static_cast<ULONG>(std::size(kFilterDescriptors)),
    .FilterDescriptors = kFilterDescriptors,
    .Version = MIN_DEV_VER_FOR_QI,
    .Flags = 0,
    .Alignment = 0,
};

NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath)
{
    ControlSampleRate = 44100;
    ControlBufferSize = 512;
    // Once, before any audio moves: the packed sample routines' vector level.
    ChooseSampleVectorLevel();
    const NTSTATUS status = KsInitializeDriver(driverObject, registryPath, &DeviceDescriptor);
    if (NT_SUCCESS(status)) {
        savedUnload = driverObject->DriverUnload;
        driverObject->DriverUnload = DriverUnloadHook;
    }
    return status;
}

void DriverUnloadHook(PDRIVER_OBJECT driverObject)
{
    PDRIVER_UNLOAD unload = savedUnload;
    savedUnload = nullptr;
    if (unload != nullptr) {
        unload(driverObject);
    }
}

NTSTATUS DispatchStart(PKSDEVICE device, PIRP, PCM_RESOURCE_LIST, PCM_RESOURCE_LIST)
{
    DeviceContext* context = ContextOf(device);
    Transition(context, kPnpStarted);
    if (device->Started) {
        return STATUS_SUCCESS;
    }
    DeviceModel* model = context->deviceModel;
    if (model == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    NTSTATUS status = model->LoadSetting();
    if (NT_SUCCESS(status)) {
        status = model->Start();
    }
    if (!NT_SUCCESS(status)) {
        model->Stop(kStopFailedStart);
        return status;
    }
    CreateFilterFactories(context);
    return status;
}

NTSTATUS DispatchPostStart(PKSDEVICE)
{
    return STATUS_SUCCESS;
}

NTSTATUS DispatchQueryStop(PKSDEVICE device, PIRP)
{
    Transition(ContextOf(device), kPnpStopPending);
    return STATUS_SUCCESS;
}

void DispatchCancelStop(PKSDEVICE device, PIRP)
{
    DeviceContext* context = ContextOf(device);
    if (GetPnpState(context) == kPnpStopPending) {
        SetPnpState(context, context->previousState);
    }
}

// Kernel streaming calls Stop at PASSIVE_LEVEL; finding a surprise-removed device above it means
// the contract is broken, and the driver stops the system rather than tear down at that level.
void DispatchStop(PKSDEVICE device, PIRP)
{
    DeviceContext* context = ContextOf(device);
    if (GetPnpState(context) == kPnpSurpriseRemoved) {
        if (KeGetCurrentIrql() > PASSIVE_LEVEL) {
            KeBugCheckEx(0x17, 0, 0, 0, 0);
        }
        StopAfterSurpriseRemoval(context);
    } else if (context->deviceModel != nullptr) {
        context->deviceModel->Stop(kStopStop);
    }

    KsAcquireDevice(device);
    KSDEVICE_HEADER header =
        *static_cast<KSDEVICE_HEADER*>(device->FunctionalDeviceObject->DeviceExtension);
    const bool freeCreateItems = ReadAcquire(&context->openControlFilters) == 0;
    PKSFILTERFACTORY factory = KsDeviceGetFirstChildFilterFactory(device);
    while (factory != nullptr) {
        // Freeing the create items may free the factory: take its sibling first.
        PKSFILTERFACTORY next = KsFilterFactoryGetNextSiblingFilterFactory(factory);
        KsFilterFactorySetDeviceClassesState(factory, FALSE);
        if (freeCreateItems) {
            KsFreeObjectCreateItemsByContext(header, factory);
        }
        factory = next;
    }
    KsReleaseDevice(device);

    WakeClientEvents(context);
    Transition(context, kPnpStopped);
}

NTSTATUS DispatchQueryRemove(PKSDEVICE device, PIRP)
{
    Transition(ContextOf(device), kPnpRemovePending);
    return STATUS_SUCCESS;
}

void DispatchCancelRemove(PKSDEVICE device, PIRP)
{
    DeviceContext* context = ContextOf(device);
    if (GetPnpState(context) == kPnpRemovePending) {
        context->previousState = kPnpRemovePending;
        SetPnpState(context, kPnpStarted);
    }
}

void DispatchRemove(PKSDEVICE device, PIRP)
{
    DeviceContext* context = ContextOf(device);
    const LONG before = GetPnpState(context);
    Transition(context, kPnpRemoved);
    // A device removed with no Stop before it (disabled while it streams) still has its MIDI
    // tick, its reads and its streaming transfers under the remove lock, and they renew their hold
    // for as long as they run: stop them first, or the wait below never ends.
    if (before != kPnpStopped && before != kPnpStoppedAfterSurpriseRemoval &&
        context->deviceModel != nullptr) {
        context->deviceModel->Stop(before == kPnpSurpriseRemoved ? kStopAfterSurpriseRemoval
                                                                 : kStopStop);
        WakeClientEvents(context);
    }
    const NTSTATUS status = IoAcquireRemoveLockEx(&context->removeLock, nullptr, __FILE__, __LINE__,
                                                  sizeof(IO_REMOVE_LOCK));
    if (status == STATUS_SUCCESS || status == STATUS_DELETE_PENDING) {
        IoReleaseRemoveLockAndWaitEx(&context->removeLock, nullptr, sizeof(IO_REMOVE_LOCK));
    }
}

NTSTATUS DispatchQueryCapabilities(PKSDEVICE, PIRP, PDEVICE_CAPABILITIES capabilities)
{
    capabilities->SurpriseRemovalOK = 1;
    return STATUS_SUCCESS;
}

void DispatchSurpriseRemoval(PKSDEVICE device, PIRP)
{
    DeviceContext* context = ContextOf(device);
    Transition(context, kPnpSurpriseRemoved);
    if (KeGetCurrentIrql() == PASSIVE_LEVEL) {
        StopAfterSurpriseRemoval(context);
    }
}

NTSTATUS DispatchQueryPower(PKSDEVICE, PIRP, DEVICE_POWER_STATE, DEVICE_POWER_STATE,
                            SYSTEM_POWER_STATE, SYSTEM_POWER_STATE, POWER_ACTION)
{
    return STATUS_SUCCESS;
}
