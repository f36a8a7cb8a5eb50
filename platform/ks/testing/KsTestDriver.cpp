#include "KsTestDriver.h"

#include <KernelTestApi.h>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace KsTestDriver {
namespace {

constexpr ULONG kBagItemTag = Platform::Kernel::MakeTag("TsBg");

void FreeBagItem(PVOID item)
{
    ++State().freedBagItems;
    ExFreePoolWithTag(item, kBagItemTag);
}

NTSTATUS FilterCreate(PKSFILTER filter, PIRP)
{
    PVOID item = ExAllocatePoolWithTag(NonPagedPoolNx, 16, kBagItemTag);
    if (item == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    KsAcquireControl(filter);
    const NTSTATUS status = KsAddItemToObjectBag(filter->Bag, item, FreeBagItem);
    KsReleaseControl(filter);
    if (!NT_SUCCESS(status)) {
        ExFreePoolWithTag(item, kBagItemTag);
        return status;
    }
    filter->Context = item;
    State().openFilters.push_back(filter);
    return STATUS_SUCCESS;
}

NTSTATUS FilterClose(PKSFILTER filter, PIRP)
{
    std::erase(State().openFilters, filter);
    return STATUS_SUCCESS;
}

void Note(PIRP irp, PKSIDENTIFIER request)
{
    ++State().handlerCalls;
    State().lastCallerWas32Bit = IoIs32bitProcess(irp) != FALSE;
    State().lastPropertyTail = 0;
    const ULONG size =
        IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.InputBufferLength;
    if (size >= sizeof(KSPROPERTY) + sizeof(ULONG)) {
        std::memcpy(&State().lastPropertyTail,
                    reinterpret_cast<char*>(request) + sizeof(KSPROPERTY), sizeof(ULONG));
    }
}

NTSTATUS GetValue(PIRP irp, PKSIDENTIFIER request, PVOID data)
{
    Note(irp, request);
    if (KsGetFilterFromIrp(irp) == nullptr) {
        return STATUS_INVALID_PARAMETER_1;
    }
    std::memcpy(data, &State().value, sizeof State().value);
    return STATUS_SUCCESS;
}

NTSTATUS SetValue(PIRP irp, PKSIDENTIFIER request, PVOID data)
{
    Note(irp, request);
    std::memcpy(&State().value, data, sizeof State().value);
    return STATUS_SUCCESS;
}

NTSTATUS SetOnly(PIRP irp, PKSIDENTIFIER request, PVOID)
{
    Note(irp, request);
    return STATUS_SUCCESS;
}

NTSTATUS FailingGet(PIRP irp, PKSIDENTIFIER request, PVOID data)
{
    Note(irp, request);
    std::memset(data, 0xEE, 8);
    return STATUS_UNSUCCESSFUL;
}

NTSTATUS Wait(PIRP irp, PKSIDENTIFIER request, PVOID)
{
    Note(irp, request);
    IoMarkIrpPending(irp);
    KsAddIrpToCancelableQueue(&State().waitQueue, &State().waitLock, irp, KsListEntryTail, nullptr);
    return STATUS_PENDING;
}

NTSTATUS Release(PIRP irp, PKSIDENTIFIER request, PVOID data)
{
    Note(irp, request);
    PIRP waiting = KsRemoveIrpFromCancelableQueue(&State().waitQueue, &State().waitLock,
                                                  KsListEntryHead, KsAcquireAndRemove);
    if (waiting == nullptr) {
        return STATUS_NOT_FOUND;
    }
    std::memcpy(waiting->AssociatedIrp.SystemBuffer, data, 8);
    waiting->IoStatus.Status = STATUS_SUCCESS;
    waiting->IoStatus.Information = 8;
    IoCompleteRequest(waiting, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

KSPROPERTY_ITEM Item(ULONG id, PFNKSHANDLER get, ULONG minProperty, ULONG minData, PFNKSHANDLER set)
{
    KSPROPERTY_ITEM item{};
    item.PropertyId = id;
    item.GetPropertyHandler = get;
    item.MinProperty = minProperty;
    item.MinData = minData;
    item.SetPropertyHandler = set;
    return item;
}

const KSPROPERTY_ITEM kItems[] = {
    Item(kValueId, GetValue, sizeof(KSPROPERTY) + 8, 8, SetValue),
    Item(kSetOnlyId, nullptr, sizeof(KSPROPERTY), 4, SetOnly),
    Item(kFailingGetId, FailingGet, sizeof(KSPROPERTY), 8, nullptr),
    Item(kWaitId, Wait, sizeof(KSPROPERTY), 8, nullptr),
    Item(kReleaseId, nullptr, sizeof(KSPROPERTY), 8, Release),
};
const KSPROPERTY_SET kPropertySets[] = {
    {&kPropertySet, static_cast<ULONG>(std::size(kItems)), kItems, 0, nullptr}};
const KSEVENT_ITEM kEventItem = {0, sizeof(KSEVENTDATA), 0, nullptr, nullptr, nullptr};
const KSEVENT_SET kEventSets[] = {{&kEventSet, 1, &kEventItem}};

const KSAUTOMATION_TABLE kAutomation = {
    .PropertySetsCount = 1,
    .PropertyItemSize = sizeof(KSPROPERTY_ITEM),
    .PropertySets = kPropertySets,
    .MethodSetsCount = 0,
    .MethodItemSize = 0,
    .MethodSets = nullptr,
    .EventSetsCount = 1,
    .EventItemSize = sizeof(KSEVENT_ITEM),
    .EventSets = kEventSets,
    .Alignment = nullptr,
};

const KSFILTER_DISPATCH kFilterDispatch = {FilterCreate, FilterClose, nullptr, nullptr};
const GUID kCategories[] = {KSCATEGORY_AUDIO};

const KSFILTER_DESCRIPTOR kFilter = {
    .Dispatch = &kFilterDispatch,
    .AutomationTable = &kAutomation,
    .Version = KSFILTER_DESCRIPTOR_VERSION,
    .Flags = 0,
    .ReferenceGuid = nullptr,
    .PinDescriptorsCount = 0,
    .PinDescriptorSize = sizeof(KSPIN_DESCRIPTOR_EX),
    .PinDescriptors = nullptr,
    .CategoriesCount = 1,
    .Categories = kCategories,
    .NodeDescriptorsCount = 0,
    .NodeDescriptorSize = sizeof(KSNODE_DESCRIPTOR),
    .NodeDescriptors = nullptr,
    .ConnectionsCount = 0,
    .Connections = nullptr,
    .ComponentId = nullptr,
};

NTSTATUS Add(PKSDEVICE device)
{
    State().device = device;
    return STATUS_SUCCESS;
}

NTSTATUS Start(PKSDEVICE device, PIRP, PCM_RESOURCE_LIST, PCM_RESOURCE_LIST)
{
    PKSFILTERFACTORY factory = nullptr;
    KsAcquireDevice(device);
    const bool started = KsDeviceGetFirstChildFilterFactory(device) != nullptr;
    KsReleaseDevice(device);
    if (started) {
        return STATUS_SUCCESS;
    }
    NTSTATUS status = KsCreateFilterFactory(device->FunctionalDeviceObject, &kFilter, kReference,
                                            nullptr, 0, nullptr, nullptr, &factory);
    if (NT_SUCCESS(status)) {
        status = KsFilterFactorySetDeviceClassesState(factory, TRUE);
    }
    return status;
}

const KSDEVICE_DISPATCH kDeviceDispatch = {
    .Add = Add,
    .Start = Start,
    .PostStart = nullptr,
    .QueryStop = nullptr,
    .CancelStop = nullptr,
    .Stop = nullptr,
    .QueryRemove = nullptr,
    .CancelRemove = nullptr,
    .Remove = nullptr,
    .QueryCapabilities = nullptr,
    .SurpriseRemoval = nullptr,
    .QueryPower = nullptr,
    .SetPower = nullptr,
    .QueryInterface = nullptr,
};

const KSDEVICE_DESCRIPTOR kDeviceDescriptor = {&kDeviceDispatch,   0, nullptr,
                                               MIN_DEV_VER_FOR_QI, 0, 0};

}  // namespace

Record& State()
{
    static Record record;
    return record;
}

NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath)
{
    State() = Record{};
    State().waitQueue.Flink = &State().waitQueue;
    State().waitQueue.Blink = &State().waitQueue;
    KeInitializeSpinLock(&State().waitLock);
    return KsInitializeDriver(driverObject, registryPath, &kDeviceDescriptor);
}

}  // namespace KsTestDriver
