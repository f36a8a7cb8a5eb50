// Property and event requests on filters, checked against the filter's automation table before
// any handler runs, and the events kernel streaming signals for the minidriver.
#include <KernelHostApi.h>
#include <KernelTestApi.h>

#include <cstring>

#include "KsInternal.h"

namespace Platform::Ks::Internal {
namespace {

constexpr ULONG kRequestTag = Platform::Kernel::MakeTag("KsRq");

// Size of a KSEVENTDATA in a 32-bit process: notification type, handle, two reserved words.
constexpr ULONG kEventData32Size = 16;

struct Request
{
    struct _IRP* irp;
    PVOID input;  // user address
    ULONG inputSize;
    PVOID output;  // user address
    ULONG outputSize;
    bool fromUser;
};

bool Probe(const Request& request, PVOID address, ULONG size)
{
    return UserBufferInProcess(request.fromUser, address, size);
}

// The set with the GUID among count sets (property or event sets), or null.
template <typename Set>
const Set* FindSet(const Set* sets, ULONG count, const GUID& guid)
{
    for (ULONG i = 0; sets != nullptr && i < count; ++i) {
        if (IsEqualGUIDAligned(*sets[i].Set, guid)) {
            return &sets[i];
        }
    }
    return nullptr;
}

const KSPROPERTY_SET* FindPropertySet(const KSAUTOMATION_TABLE* table, const GUID& set)
{
    return table == nullptr ? nullptr : FindSet(table->PropertySets, table->PropertySetsCount, set);
}

const KSEVENT_SET* FindEventSet(const KSAUTOMATION_TABLE* table, const GUID& set)
{
    return table == nullptr ? nullptr : FindSet(table->EventSets, table->EventSetsCount, set);
}

// The automation table of the node a topology request names; null when the filter has no such
// node (or the request is too short to name one).
const KSAUTOMATION_TABLE* NodeTable(const KSFILTER_DESCRIPTOR* filter, const Request& request)
{
    constexpr ULONG kNodeIdOffset = sizeof(KSPROPERTY);
    ULONG nodeId = 0;
    if (filter == nullptr || request.inputSize < kNodeIdOffset + 2 * sizeof(ULONG)) {
        return nullptr;
    }
    std::memcpy(&nodeId, static_cast<const uint8_t*>(request.input) + kNodeIdOffset, sizeof nodeId);
    if (nodeId >= filter->NodeDescriptorsCount || filter->NodeDescriptors == nullptr) {
        return nullptr;
    }
    const auto* node = reinterpret_cast<const KSNODE_DESCRIPTOR*>(
        reinterpret_cast<const uint8_t*>(filter->NodeDescriptors) +
        static_cast<SIZE_T>(nodeId) * filter->NodeDescriptorSize);
    return node->AutomationTable;
}

NTSTATUS HandleProperty(const KSAUTOMATION_TABLE* table, const Request& request,
                        ULONG_PTR* information, const KSFILTER_DESCRIPTOR* nodes = nullptr)
{
    *information = 0;
    if (request.inputSize < sizeof(KSPROPERTY)) {
        return STATUS_INVALID_BUFFER_SIZE;
    }
    if (!Probe(request, request.input, request.inputSize) ||
        !Probe(request, request.output, request.outputSize)) {
        return STATUS_ACCESS_VIOLATION;
    }
    KSPROPERTY header;
    std::memcpy(&header, request.input, sizeof header);
    if ((header.Flags & KSPROPERTY_TYPE_TOPOLOGY) != 0) {
        table = NodeTable(nodes, request);
        if (table == nullptr) {
            return STATUS_NOT_FOUND;
        }
        header.Flags &= ~KSPROPERTY_TYPE_TOPOLOGY;
    }
    const KSPROPERTY_SET* set = FindPropertySet(table, header.Set);
    if (set == nullptr) {
        return STATUS_PROPSET_NOT_FOUND;
    }
    const KSPROPERTY_ITEM* item = nullptr;
    for (ULONG i = 0; i < set->PropertiesCount; ++i) {
        if (set->PropertyItem[i].PropertyId == header.Id) {
            item = &set->PropertyItem[i];
        }
    }
    if (item == nullptr) {
        return STATUS_NOT_FOUND;
    }
    if (header.Flags == KSPROPERTY_TYPE_BASICSUPPORT) {
        if (request.outputSize < sizeof(ULONG)) {
            *information = sizeof(ULONG);
            return request.outputSize == 0 ? STATUS_BUFFER_OVERFLOW : STATUS_BUFFER_TOO_SMALL;
        }
        const ULONG access = (item->GetPropertyHandler != nullptr ? KSPROPERTY_TYPE_GET : 0) |
                             (item->SetPropertyHandler != nullptr ? KSPROPERTY_TYPE_SET : 0);
        std::memcpy(request.output, &access, sizeof access);
        *information = sizeof access;
        return STATUS_SUCCESS;
    }
    const bool get = header.Flags == KSPROPERTY_TYPE_GET;
    if (!get && header.Flags != KSPROPERTY_TYPE_SET) {
        return STATUS_INVALID_PARAMETER;
    }
    PFNKSHANDLER handler = get ? item->GetPropertyHandler : item->SetPropertyHandler;
    if (handler == nullptr) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (request.inputSize < item->MinProperty) {
        return STATUS_INVALID_BUFFER_SIZE;
    }
    if (request.outputSize < item->MinData) {
        *information = item->MinData;
        return request.outputSize == 0 ? STATUS_BUFFER_OVERFLOW : STATUS_BUFFER_TOO_SMALL;
    }
    // One system buffer: the data first (so completion finds it at the start), then the
    // property. It lives until the request completes, which a handler may postpone.
    const SIZE_T dataRoom = (static_cast<SIZE_T>(request.outputSize) + 7) & ~SIZE_T{7};
    auto* buffer = static_cast<uint8_t*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, dataRoom + request.inputSize, kRequestTag));
    if (buffer == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    if (request.outputSize != 0) {
        std::memcpy(buffer, request.output, request.outputSize);
    }
    std::memcpy(buffer + dataRoom, request.input, request.inputSize);
    request.irp->AssociatedIrp.SystemBuffer = buffer;
    request.irp->IoStatus.Information = get ? item->MinData : 0;
    const NTSTATUS status =
        handler(request.irp, reinterpret_cast<PKSIDENTIFIER>(buffer + dataRoom), buffer);
    *information = request.irp->IoStatus.Information;
    return status;
}

NTSTATUS EnableEvent(FilterImpl* filter, const Request& request)
{
    if (request.inputSize < sizeof(KSEVENT)) {
        return STATUS_INVALID_BUFFER_SIZE;
    }
    if (!Probe(request, request.input, request.inputSize) ||
        !Probe(request, request.output, request.outputSize)) {
        return STATUS_ACCESS_VIOLATION;
    }
    KSEVENT header;
    std::memcpy(&header, request.input, sizeof header);
    const KSEVENT_SET* set = FindEventSet(filter->filter.Descriptor->AutomationTable, header.Set);
    if (set == nullptr) {
        return STATUS_PROPSET_NOT_FOUND;
    }
    const KSEVENT_ITEM* item = nullptr;
    for (ULONG i = 0; i < set->EventsCount; ++i) {
        if (set->EventItem[i].EventId == header.Id) {
            item = &set->EventItem[i];
        }
    }
    if (item == nullptr) {
        return STATUS_NOT_FOUND;
    }
    if ((header.Flags & (KSEVENT_TYPE_ENABLE | KSEVENT_TYPE_ONESHOT)) == 0) {
        return STATUS_INVALID_PARAMETER;
    }
    if (item->AddHandler != nullptr || item->ExtraEntryData != 0) {
        return STATUS_NOT_IMPLEMENTED;
    }
    // Widen a 32-bit caller's KSEVENTDATA to the layout the driver's tables describe.
    const bool narrow = IoIs32bitProcess(request.irp) != FALSE;
    const ULONG wideSize = narrow
                               ? (request.outputSize >= kEventData32Size
                                      ? request.outputSize - kEventData32Size + sizeof(KSEVENTDATA)
                                      : 0)
                               : request.outputSize;
    if (wideSize < sizeof(KSEVENTDATA) || wideSize < item->DataInput) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    ULONG notificationType;
    HANDLE handle;
    std::memcpy(&notificationType, request.output, sizeof notificationType);
    if (narrow) {
        uint32_t handle32;
        std::memcpy(&handle32, static_cast<char*>(request.output) + 4, sizeof handle32);
        handle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(static_cast<int32_t>(handle32)));
    } else {
        std::memcpy(&handle,
                    static_cast<char*>(request.output) + offsetof(KSEVENTDATA, EventHandle),
                    sizeof handle);
    }
    if (notificationType != KSEVENTF_EVENT_HANDLE) {
        return STATUS_NOT_SUPPORTED;
    }
    PVOID object = nullptr;
    const NTSTATUS status =
        ObReferenceObjectByHandle(handle, EVENT_MODIFY_STATE, *ExEventObjectType,
                                  request.fromUser ? UserMode : KernelMode, &object, nullptr);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    KIRQL irql;
    KeAcquireSpinLock(&filter->eventLock, &irql);
    filter->events.push_back(
        {header.Set, header.Id, header.Flags, static_cast<PRKEVENT>(object), request.output});
    KeReleaseSpinLock(&filter->eventLock, irql);
    return STATUS_SUCCESS;
}

NTSTATUS DisableEvent(FilterImpl* filter, const Request& request)
{
    PRKEVENT event = nullptr;
    KIRQL irql;
    KeAcquireSpinLock(&filter->eventLock, &irql);
    for (auto it = filter->events.begin(); it != filter->events.end(); ++it) {
        if (it->key == request.input) {
            event = it->event;
            filter->events.erase(it);
            break;
        }
    }
    KeReleaseSpinLock(&filter->eventLock, irql);
    if (event == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    ObDereferenceObject(event);
    return STATUS_SUCCESS;
}

Request RequestOf(struct _IRP* irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    return {irp,
            stack->Parameters.DeviceIoControl.Type3InputBuffer,
            stack->Parameters.DeviceIoControl.InputBufferLength,
            irp->UserBuffer,
            stack->Parameters.DeviceIoControl.OutputBufferLength,
            irp->RequestorMode == UserMode};
}

}  // namespace

NTSTATUS HandlePropertyRequest(const KSAUTOMATION_TABLE* table, struct _IRP* irp,
                               ULONG_PTR* information)
{
    return HandleProperty(table, RequestOf(irp), information);
}

NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT deviceObject, struct _IRP* irp)
{
    UNREFERENCED_PARAMETER(deviceObject);
    if (KsGetPinFromIrp(irp) != nullptr) {
        return DispatchPinDeviceControl(irp);
    }
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    PKSFILTER filter = KsGetFilterFromIrp(irp);
    if (filter == nullptr) {
        return CompleteRequest(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
    const Request request = RequestOf(irp);
    ULONG_PTR information = 0;
    NTSTATUS status;
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
        case IOCTL_KS_PROPERTY:
            if (!HandleDataIntersection(FilterOf(filter), irp, &status, &information)) {
                status = HandleProperty(filter->Descriptor->AutomationTable, request, &information,
                                        filter->Descriptor);
            }
            break;
        case IOCTL_KS_ENABLE_EVENT:
            status = EnableEvent(FilterOf(filter), request);
            break;
        case IOCTL_KS_DISABLE_EVENT:
            status = DisableEvent(FilterOf(filter), request);
            break;
        default:
            status = STATUS_INVALID_DEVICE_REQUEST;
            break;
    }
    if (status == STATUS_PENDING) {
        return status;  // the handler queued it; it completes later
    }
    return CompleteRequest(irp, status, information);
}

void FinishBufferedRequest(struct _IRP* irp, bool copyBack, ULONG outputSize)
{
    auto* buffer = static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer);
    if (buffer == nullptr) {
        return;
    }
    if (copyBack && NT_SUCCESS(irp->IoStatus.Status) && irp->UserBuffer != nullptr) {
        ULONG_PTR bytes = irp->IoStatus.Information;
        if (bytes > outputSize) {
            bytes = outputSize;
        }
        std::memcpy(irp->UserBuffer, buffer, bytes);
    }
    ExFreePoolWithTag(buffer, kRequestTag);
    irp->AssociatedIrp.SystemBuffer = nullptr;
}

void FreeFilterEvents(FilterImpl* filter)
{
    std::vector<EnabledEvent> events;
    KIRQL irql;
    KeAcquireSpinLock(&filter->eventLock, &irql);
    events.swap(filter->events);
    KeReleaseSpinLock(&filter->eventLock, irql);
    for (const EnabledEvent& entry : events) {
        ObDereferenceObject(entry.event);
    }
}

bool UserBufferInProcess(bool fromUser, PVOID address, ULONG size)
{
    if (size == 0) {
        return true;
    }
    if (address == nullptr) {
        return false;
    }
    if (!fromUser) {
        return true;
    }
    const Platform::Kernel::UserProcess* process = Platform::Kernel::CurrentUserProcess();
    return process != nullptr && process->OwnsRange(address, size);
}

}  // namespace Platform::Ks::Internal

using namespace Platform::Ks::Internal;

void KsGenerateEvents(PVOID object, const GUID* eventSet, ULONG eventId, ULONG dataSize, PVOID data,
                      PFNKSGENERATEEVENTCALLBACK callback, PVOID callbackContext)
{
    UNREFERENCED_PARAMETER(dataSize);
    UNREFERENCED_PARAMETER(data);
    Platform::Kernel::RequireCallerIrql(DISPATCH_LEVEL, "KsGenerateEvents");
    KsObject* header = ObjectOf(object);
    if (header->kind != ObjectKind::Filter) {
        return;
    }
    FilterImpl* filter = FilterOf(static_cast<PKSFILTER>(object));
    std::vector<PRKEVENT> spent;
    KIRQL irql;
    KeAcquireSpinLock(&filter->eventLock, &irql);
    for (auto it = filter->events.begin(); it != filter->events.end();) {
        const bool matches = (eventSet == nullptr || IsEqualGUIDAligned(it->set, *eventSet)) &&
                             it->id == eventId &&
                             (callback == nullptr ||
                              callback(callbackContext, reinterpret_cast<PKSEVENT_ENTRY>(&*it)));
        if (matches) {
            KeSetEvent(it->event, 0, FALSE);
            if ((it->flags & KSEVENT_TYPE_ONESHOT) != 0) {
                spent.push_back(it->event);
                it = filter->events.erase(it);
                continue;
            }
        }
        ++it;
    }
    KeReleaseSpinLock(&filter->eventLock, irql);
    for (PRKEVENT event : spent) {
        ObDereferenceObject(event);
    }
}
