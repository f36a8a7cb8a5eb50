// Pins: created from a filter's pin factory when a client opens one with a data format, moved
// through their states one step at a time, fed frames by the client, closed with their handle.
// Everything the client sends is user-mode data: probed, copied and bounded before use.
#include <KernelTestApi.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "PinInternal.h"

namespace Platform::Ks::Internal {
namespace {

constexpr ULONG kFormatTag = Platform::Kernel::MakeTag("KsFm");
constexpr ULONG kCreateTag = Platform::Kernel::MakeTag("KsCr");
// The system buffer of a request; the I/O manager's end (FinishBufferedRequest) frees it.
constexpr ULONG kRequestTag = Platform::Kernel::MakeTag("KsRq");
// Bounds on what a client may send: a pin's create parameters and one frame.
constexpr ULONG kMaxCreateBytes = 0x10000;
constexpr ULONG kMaxFrameBytes = 0x1000000;

inline constexpr GUID kPropSetStream = {
    0x65AABA60, 0x98AE, 0x11CF, {0xA1, 0x0D, 0x00, 0x20, 0xAF, 0xD1, 0x56, 0xE4}};
constexpr ULONG kPropertyStreamMasterClock = 3;

bool ProbeUser(struct _IRP* irp, PVOID address, ULONG size, LOCK_OPERATION operation)
{
    UNREFERENCED_PARAMETER(operation);  // user pages here are all writable
    return UserBufferInProcess(irp->RequestorMode == UserMode, address, size);
}

const KSPIN_DESCRIPTOR_EX* PinDescriptorAt(const KSFILTER_DESCRIPTOR* filter, ULONG id)
{
    const auto* base = reinterpret_cast<const UCHAR*>(filter->PinDescriptors);
    return reinterpret_cast<const KSPIN_DESCRIPTOR_EX*>(base + static_cast<SIZE_T>(id) *
                                                                   filter->PinDescriptorSize);
}

bool ListsIdentifier(const KSIDENTIFIER* items, ULONG count, const KSIDENTIFIER& wanted,
                     const GUID& standardSet, ULONG standardId)
{
    if (count == 0 || items == nullptr) {
        return IsEqualGUIDAligned(wanted.Set, standardSet) && wanted.Id == standardId;
    }
    for (ULONG i = 0; i < count; ++i) {
        if (IsEqualGUIDAligned(items[i].Set, wanted.Set) && items[i].Id == wanted.Id) {
            return true;
        }
    }
    return false;
}

// The descriptor's first range whose major format, subformat and specifier match.
const KSDATARANGE* MatchingRange(const KSPIN_DESCRIPTOR& descriptor, const KSDATAFORMAT& format)
{
    for (ULONG i = 0; i < descriptor.DataRangesCount; ++i) {
        const KSDATARANGE* range = descriptor.DataRanges[i];
        if (IsEqualGUIDAligned(range->MajorFormat, format.MajorFormat) &&
            IsEqualGUIDAligned(range->SubFormat, format.SubFormat) &&
            IsEqualGUIDAligned(range->Specifier, format.Specifier)) {
            return range;
        }
    }
    return nullptr;
}

ULONG OpenInstances(const FilterImpl* filter, ULONG id)
{
    return static_cast<ULONG>(std::count_if(filter->pins.begin(), filter->pins.end(),
                                            [id](const PinImpl* p) { return p->pin.Id == id; }));
}

// The client's create parameters, copied into the pool: KSPIN_CONNECT, then the data format.
struct CreateRequest
{
    KSPIN_CONNECT connect;
    PKSDATAFORMAT format;  // pool, tag "KsFm"
};

NTSTATUS ReadCreateRequest(FileObject* file, struct _IRP* irp, CreateRequest* out)
{
    const ULONG size = file->createParametersSize;
    if (size < sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT) || size > kMaxCreateBytes) {
        return STATUS_INVALID_BUFFER_SIZE;
    }
    if (!ProbeUser(irp, file->createParameters, size, IoReadAccess)) {
        return STATUS_ACCESS_VIOLATION;
    }
    auto* copy = static_cast<UCHAR*>(ExAllocatePoolWithTag(NonPagedPoolNx, size, kCreateTag));
    if (copy == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    std::memcpy(copy, file->createParameters, size);
    std::memcpy(&out->connect, copy, sizeof out->connect);
    KSDATAFORMAT header;
    std::memcpy(&header, copy + sizeof(KSPIN_CONNECT), sizeof header);
    const ULONG available = size - static_cast<ULONG>(sizeof(KSPIN_CONNECT));
    NTSTATUS status = STATUS_SUCCESS;
    if (header.FormatSize < sizeof(KSDATAFORMAT) || header.FormatSize > available) {
        status = STATUS_INVALID_BUFFER_SIZE;
    } else {
        out->format = static_cast<PKSDATAFORMAT>(
            ExAllocatePoolWithTag(NonPagedPoolNx, header.FormatSize, kFormatTag));
        if (out->format == nullptr) {
            status = STATUS_INSUFFICIENT_RESOURCES;
        } else {
            std::memcpy(out->format, copy + sizeof(KSPIN_CONNECT), header.FormatSize);
        }
    }
    ExFreePoolWithTag(copy, kCreateTag);
    return status;
}

void FreePin(PinImpl* pin)
{
    FreeBag(&pin->bag);
    if (pin->pin.ConnectionFormat != nullptr) {
        ExFreePoolWithTag(pin->pin.ConnectionFormat, kFormatTag);
    }
    delete pin->clock;
    delete pin;
}

// Takes the pin one state at a time towards the target, as kernel streaming does; the first
// refusal stops the walk where it is. Frames still queued complete when the pin reaches STOP.
NTSTATUS WalkToState(PinImpl* pin, KSSTATE target, bool force)
{
    RequireMutexHeld(&pin->filter->object.mutex, "KS filter control mutex", "a pin's state change");
    static constexpr KSSTATE kOrder[] = {KSSTATE_STOP, KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN};
    auto rank = [](KSSTATE s) {
        return static_cast<int>(std::find(std::begin(kOrder), std::end(kOrder), s) -
                                std::begin(kOrder));
    };
    const KSPIN_DISPATCH* dispatch = pin->pin.Descriptor->Dispatch;
    pin->pin.ClientState = target;
    while (pin->pin.DeviceState != target) {
        const KSSTATE from = pin->pin.DeviceState;
        const int step = rank(target) > rank(from) ? 1 : -1;
        const KSSTATE to = kOrder[rank(from) + step];
        NTSTATUS status = STATUS_SUCCESS;
        if (dispatch != nullptr && dispatch->SetDeviceState != nullptr) {
            status = dispatch->SetDeviceState(&pin->pin, to, from);
        }
        if (!NT_SUCCESS(status) && !force) {
            pin->pin.ClientState = from;
            return status;
        }
        // Processing reads the state from DPCs and work items.
        std::atomic_ref<KSSTATE>(pin->pin.DeviceState).store(to, std::memory_order_release);
        if (to == KSSTATE_STOP) {
            FlushFrames(pin, STATUS_CANCELLED);
        }
    }
    if (target == KSSTATE_RUN && pin->head != nullptr &&
        (pin->pin.Descriptor->Flags & KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING) == 0) {
        KsPinAttemptProcessing(&pin->pin, TRUE);
    }
    return STATUS_SUCCESS;
}

NTSTATUS StateProperty(PinImpl* pin, struct _IRP* irp, const KSPROPERTY& property, PVOID data,
                       ULONG dataSize, ULONG_PTR* information)
{
    if (dataSize < sizeof(KSSTATE)) {
        *information = sizeof(KSSTATE);
        return dataSize == 0 ? STATUS_BUFFER_OVERFLOW : STATUS_BUFFER_TOO_SMALL;
    }
    if (!ProbeUser(irp, data, sizeof(KSSTATE), IoModifyAccess)) {
        return STATUS_ACCESS_VIOLATION;
    }
    if (property.Flags == KSPROPERTY_TYPE_GET) {
        const KSSTATE state = pin->pin.DeviceState;
        std::memcpy(data, &state, sizeof state);
        *information = sizeof state;
        return STATUS_SUCCESS;
    }
    if (property.Flags != KSPROPERTY_TYPE_SET) {
        return STATUS_INVALID_PARAMETER;
    }
    ULONG value;
    std::memcpy(&value, data, sizeof value);
    if (value > KSSTATE_PAUSE) {
        return STATUS_INVALID_PARAMETER;
    }
    KsAcquireControl(&pin->pin);
    const NTSTATUS status = WalkToState(pin, static_cast<KSSTATE>(value), false);
    KsReleaseControl(&pin->pin);
    return status;
}

NTSTATUS GetDataFormat(PinImpl* pin, struct _IRP* irp, PVOID data, ULONG dataSize,
                       ULONG_PTR* information)
{
    const KSDATAFORMAT* current = pin->pin.ConnectionFormat;
    const ULONG size = current->FormatSize;
    if (dataSize < size) {
        *information = size;
        return dataSize == 0 ? STATUS_BUFFER_OVERFLOW : STATUS_BUFFER_TOO_SMALL;
    }
    if (!ProbeUser(irp, data, size, IoWriteAccess)) {
        return STATUS_ACCESS_VIOLATION;
    }
    std::memcpy(data, current, size);
    *information = size;
    return STATUS_SUCCESS;
}

// A new format for an open pin: the client's bytes, bounded and copied once; it must match one
// of the pin's data ranges, and the pin's SetDataFormat decides, given the format it replaces.
// Refused, the pin keeps its format.
NTSTATUS SetDataFormat(PinImpl* pin, struct _IRP* irp, PVOID data, ULONG dataSize)
{
    if (dataSize < sizeof(KSDATAFORMAT) || dataSize > kMaxCreateBytes) {
        return STATUS_INVALID_BUFFER_SIZE;
    }
    if (!ProbeUser(irp, data, dataSize, IoReadAccess)) {
        return STATUS_ACCESS_VIOLATION;
    }
    auto* fresh =
        static_cast<PKSDATAFORMAT>(ExAllocatePoolWithTag(NonPagedPoolNx, dataSize, kFormatTag));
    if (fresh == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    std::memcpy(fresh, data, dataSize);
    const KSDATARANGE* range = MatchingRange(pin->pin.Descriptor->PinDescriptor, *fresh);
    if (fresh->FormatSize < sizeof(KSDATAFORMAT) || fresh->FormatSize > dataSize ||
        range == nullptr) {
        ExFreePoolWithTag(fresh, kFormatTag);
        return range == nullptr ? STATUS_NO_MATCH : STATUS_INVALID_BUFFER_SIZE;
    }
    const KSPIN_DISPATCH* dispatch = pin->pin.Descriptor->Dispatch;
    KsAcquireControl(&pin->pin);
    PKSDATAFORMAT old = pin->pin.ConnectionFormat;
    pin->pin.ConnectionFormat = fresh;
    NTSTATUS status = STATUS_SUCCESS;
    if (dispatch != nullptr && dispatch->SetDataFormat != nullptr) {
        status = dispatch->SetDataFormat(&pin->pin, old, nullptr, range, nullptr);
    }
    if (!NT_SUCCESS(status)) {
        pin->pin.ConnectionFormat = old;
    }
    KsReleaseControl(&pin->pin);
    ExFreePoolWithTag(NT_SUCCESS(status) ? old : fresh, kFormatTag);
    return status;
}

NTSTATUS DataFormatProperty(PinImpl* pin, struct _IRP* irp, const KSPROPERTY& property, PVOID data,
                            ULONG dataSize, ULONG_PTR* information)
{
    if (property.Flags == KSPROPERTY_TYPE_GET) {
        return GetDataFormat(pin, irp, data, dataSize, information);
    }
    if (property.Flags != KSPROPERTY_TYPE_SET) {
        return STATUS_INVALID_PARAMETER;
    }
    return SetDataFormat(pin, irp, data, dataSize);
}

NTSTATUS MasterClockProperty(PinImpl* pin, struct _IRP* irp, const KSPROPERTY& property, PVOID data,
                             ULONG dataSize)
{
    if (property.Flags != KSPROPERTY_TYPE_SET || dataSize < sizeof(HANDLE)) {
        return STATUS_INVALID_PARAMETER;
    }
    if (!ProbeUser(irp, data, sizeof(HANDLE), IoReadAccess)) {
        return STATUS_ACCESS_VIOLATION;
    }
    HANDLE clock;
    std::memcpy(&clock, data, sizeof clock);
    // The only clock this layer has is the performance counter; any clock handle assigns it.
    pin->hasClock = clock != nullptr;
    return STATUS_SUCCESS;
}

NTSTATUS PinProperty(PinImpl* pin, struct _IRP* irp, ULONG_PTR* information)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    PVOID input = stack->Parameters.DeviceIoControl.Type3InputBuffer;
    const ULONG inputSize = stack->Parameters.DeviceIoControl.InputBufferLength;
    if (inputSize < sizeof(KSPROPERTY)) {
        return STATUS_INVALID_BUFFER_SIZE;
    }
    if (!ProbeUser(irp, input, sizeof(KSPROPERTY), IoReadAccess)) {
        return STATUS_ACCESS_VIOLATION;
    }
    KSPROPERTY property;
    std::memcpy(&property, input, sizeof property);
    PVOID data = irp->UserBuffer;
    const ULONG dataSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
    if (IsEqualGUIDAligned(property.Set, KSPROPSETID_Connection) &&
        property.Id == KSPROPERTY_CONNECTION_STATE) {
        return StateProperty(pin, irp, property, data, dataSize, information);
    }
    if (IsEqualGUIDAligned(property.Set, KSPROPSETID_Connection) &&
        property.Id == KSPROPERTY_CONNECTION_DATAFORMAT) {
        return DataFormatProperty(pin, irp, property, data, dataSize, information);
    }
    if (IsEqualGUIDAligned(property.Set, kPropSetStream) &&
        property.Id == kPropertyStreamMasterClock) {
        return MasterClockProperty(pin, irp, property, data, dataSize);
    }
    return HandlePropertyRequest(pin->pin.Descriptor->AutomationTable, irp, information);
}

// Reads the client's one stream header into a system buffer and locks the frame's data.
NTSTATUS SubmitFrame(PinImpl* pin, struct _IRP* irp, bool write)
{
    const KSPIN_DATAFLOW flow = write ? KSPIN_DATAFLOW_IN : KSPIN_DATAFLOW_OUT;
    if (pin->pin.DataFlow != flow) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (pin->pin.DeviceState == KSSTATE_STOP) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG size = stack->Parameters.DeviceIoControl.OutputBufferLength;
    if (size < sizeof(KSSTREAM_HEADER) || size > sizeof(KSSTREAM_HEADER) * 2) {
        return STATUS_INVALID_BUFFER_SIZE;
    }
    if (!ProbeUser(irp, irp->UserBuffer, size, IoModifyAccess)) {
        return STATUS_ACCESS_VIOLATION;
    }
    auto* header = static_cast<PKSSTREAM_HEADER>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(KSSTREAM_HEADER), kRequestTag));
    if (header == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    std::memcpy(header, irp->UserBuffer, sizeof *header);
    auto fail = [&](NTSTATUS status) {
        ExFreePoolWithTag(header, kRequestTag);
        return status;
    };
    // One header per request: its size must be the buffer's.
    if (header->Size != size || header->FrameExtent > kMaxFrameBytes ||
        (write && header->DataUsed > header->FrameExtent)) {
        return fail(header->Size != size ? STATUS_INVALID_BUFFER_SIZE : STATUS_INVALID_PARAMETER);
    }
    header->Size = sizeof(KSSTREAM_HEADER);
    if (!write) {
        header->DataUsed = 0;
    }
    const ULONG bytes = write ? header->DataUsed : header->FrameExtent;
    FrameImpl* frame = AllocateFrame();
    if (frame == nullptr) {
        return fail(STATUS_INSUFFICIENT_RESOURCES);
    }
    if (bytes != 0) {
        frame->mdl = IoAllocateMdl(header->Data, bytes, FALSE, FALSE, nullptr);
        if (frame->mdl == nullptr ||
            !NT_SUCCESS(MmProbeAndLockPages(frame->mdl, irp->RequestorMode,
                                            write ? IoReadAccess : IoWriteAccess))) {
            if (frame->mdl != nullptr) {
                IoFreeMdl(frame->mdl);
            }
            ExFreePool(frame);
            return fail(STATUS_ACCESS_VIOLATION);
        }
        frame->data = static_cast<PUCHAR>(MmGetSystemAddressForMdlSafe(frame->mdl, 0));
        // No system address for the pages: the request fails rather than hand the minidriver a
        // frame with no data to reach.
        if (frame->data == nullptr) {
            MmUnlockPages(frame->mdl);
            IoFreeMdl(frame->mdl);
            ExFreePool(frame);
            return fail(STATUS_INSUFFICIENT_RESOURCES);
        }
    }
    frame->irp = irp;
    frame->header = header;
    frame->bytes = bytes;
    frame->status = STATUS_SUCCESS;
    irp->AssociatedIrp.SystemBuffer = header;
    IoMarkIrpPending(irp);
    QueueFrame(pin, frame);
    if ((pin->pin.Descriptor->Flags & KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING) == 0) {
        KsPinAttemptProcessing(&pin->pin, FALSE);
    }
    return STATUS_PENDING;
}

// The minidriver's Close and the pin list change under the filter's control mutex, which the pin
// shares; processing runs at DISPATCH_LEVEL and never takes it, so waiting it out here is safe.
void ClosePin(PinImpl* pin, struct _IRP* irp)
{
    FilterImpl* filter = pin->filter;
    KsAcquireControl(&filter->filter);
    WalkToState(pin, KSSTATE_STOP, true);
    const KSPIN_DISPATCH* dispatch = pin->pin.Descriptor->Dispatch;
    if (dispatch != nullptr && dispatch->Close != nullptr) {
        dispatch->Close(&pin->pin, irp);
    }
    FlushFrames(pin, STATUS_CANCELLED);
    StopPinProcessing(pin);
    std::erase(filter->pins, pin);
    if (pin->file != nullptr) {
        pin->file->pin = nullptr;
    }
    FreePin(pin);
    KsReleaseControl(&filter->filter);
}

NTSTATUS CheckConnection(FilterImpl* filter, const CreateRequest& request,
                         const KSPIN_DESCRIPTOR_EX** descriptorOut, const KSDATARANGE** rangeOut)
{
    const KSFILTER_DESCRIPTOR* filterDescriptor = filter->filter.Descriptor;
    const KSPIN_CONNECT& connect = request.connect;
    if (connect.PinId >= filterDescriptor->PinDescriptorsCount ||
        filterDescriptor->PinDescriptorSize < sizeof(KSPIN_DESCRIPTOR_EX)) {
        return STATUS_INVALID_PARAMETER;
    }
    const KSPIN_DESCRIPTOR_EX* descriptor = PinDescriptorAt(filterDescriptor, connect.PinId);
    const KSPIN_DESCRIPTOR& pin = descriptor->PinDescriptor;
    if (connect.PinToHandle != nullptr || (pin.Communication != KSPIN_COMMUNICATION_SINK &&
                                           pin.Communication != KSPIN_COMMUNICATION_BOTH)) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (!ListsIdentifier(pin.Interfaces, pin.InterfacesCount, connect.Interface,
                         KSINTERFACESETID_Standard, KSINTERFACE_STANDARD_STREAMING) ||
        !ListsIdentifier(pin.Mediums, pin.MediumsCount, connect.Medium, KSMEDIUMSETID_Standard,
                         KSMEDIUM_TYPE_ANYINSTANCE)) {
        return STATUS_NO_MATCH;
    }
    const KSDATARANGE* range = MatchingRange(pin, *request.format);
    if (range == nullptr) {
        return STATUS_NO_MATCH;
    }
    if (OpenInstances(filter, connect.PinId) >= descriptor->InstancesPossible) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    // Processing here runs from DPCs; a pin that wants to be processed at PASSIVE_LEVEL is not
    // something this layer offers.
    if (descriptor->Dispatch != nullptr && descriptor->Dispatch->Process != nullptr &&
        (descriptor->Flags & KSPIN_FLAG_DISPATCH_LEVEL_PROCESSING) == 0) {
        return STATUS_NOT_IMPLEMENTED;
    }
    *descriptorOut = descriptor;
    *rangeOut = range;
    return STATUS_SUCCESS;
}

PinImpl* NewPin(FilterImpl* filter, const KSPIN_DESCRIPTOR_EX* descriptor, CreateRequest& request)
{
    auto* pin = new PinImpl{};
    InitializeObject(&pin->object, ObjectKind::Pin, filter->object.device);
    InitializeBag(&pin->bag, &filter->object.mutex, "KS filter control mutex");
    pin->pin.Descriptor = descriptor;
    pin->pin.Bag = &pin->bag;
    pin->pin.Id = request.connect.PinId;
    pin->pin.Communication = descriptor->PinDescriptor.Communication;
    pin->pin.DataFlow = descriptor->PinDescriptor.DataFlow;
    pin->pin.ConnectionFormat = request.format;
    request.format = nullptr;
    pin->pin.DeviceState = KSSTATE_STOP;
    pin->pin.ClientState = KSSTATE_STOP;
    pin->filter = filter;
    pin->clock = new PinClock();
    InitializePinQueue(pin);
    return pin;
}

// The whole creation runs under the filter's control mutex: the instance count, the pin list and
// the minidriver's SetDataFormat and Create, so two creates cannot both take the last instance.
NTSTATUS BuildPin(FileObject* file, struct _IRP* irp, FilterImpl* filter, CreateRequest& request)
{
    const KSPIN_DESCRIPTOR_EX* descriptor = nullptr;
    const KSDATARANGE* range = nullptr;
    KsAcquireControl(&filter->filter);
    NTSTATUS status = CheckConnection(filter, request, &descriptor, &range);
    if (!NT_SUCCESS(status)) {
        KsReleaseControl(&filter->filter);
        return status;
    }
    PinImpl* pin = NewPin(filter, descriptor, request);
    filter->pins.push_back(pin);
    const KSPIN_DISPATCH* dispatch = descriptor->Dispatch;
    if (dispatch != nullptr && dispatch->SetDataFormat != nullptr) {
        status = dispatch->SetDataFormat(&pin->pin, nullptr, nullptr, range, nullptr);
    }
    if (NT_SUCCESS(status) && dispatch != nullptr && dispatch->Create != nullptr) {
        status = dispatch->Create(&pin->pin, irp);
    }
    if (!NT_SUCCESS(status)) {
        std::erase(filter->pins, pin);
        FreePin(pin);
    } else {
        pin->file = file;
        file->pin = pin;
    }
    KsReleaseControl(&filter->filter);
    return status;
}

}  // namespace

bool IsPinFile(const FileObject* file)
{
    return file->related != nullptr;
}

NTSTATUS DispatchPinCreate(FileObject* file, struct _IRP* irp)
{
    Platform::Kernel::RequireCallerIrql(PASSIVE_LEVEL, "KsDispatchCreate (pin)");
    FileObject* parent = file->related;
    if (parent->magic != kFileObjectMagic || parent->filter == nullptr || parent->related) {
        return CompleteRequest(irp, STATUS_INVALID_PARAMETER);
    }
    CreateRequest request{};
    NTSTATUS status = ReadCreateRequest(file, irp, &request);
    if (NT_SUCCESS(status)) {
        status = BuildPin(file, irp, parent->filter, request);
    }
    if (request.format != nullptr) {
        ExFreePoolWithTag(request.format, kFormatTag);
    }
    return CompleteRequest(irp, status);
}

NTSTATUS DispatchPinClose(FileObject* file, struct _IRP* irp)
{
    Platform::Kernel::RequireCallerIrql(PASSIVE_LEVEL, "KsDispatchClose (pin)");
    if (file->pin == nullptr) {
        return CompleteRequest(irp, STATUS_INVALID_PARAMETER);
    }
    ClosePin(file->pin, irp);
    return CompleteRequest(irp, STATUS_SUCCESS);
}

NTSTATUS DispatchPinDeviceControl(struct _IRP* irp)
{
    PinImpl* pin = PinOf(KsGetPinFromIrp(irp));
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG_PTR information = 0;
    NTSTATUS status;
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
        case IOCTL_KS_PROPERTY:
            status = PinProperty(pin, irp, &information);
            break;
        case IOCTL_KS_WRITE_STREAM:
        case IOCTL_KS_READ_STREAM:
            status = SubmitFrame(
                pin, irp, stack->Parameters.DeviceIoControl.IoControlCode == IOCTL_KS_WRITE_STREAM);
            break;
        default:
            status = STATUS_INVALID_DEVICE_REQUEST;
            break;
    }
    if (status == STATUS_PENDING) {
        return status;
    }
    return CompleteRequest(irp, status, information);
}

void CloseFilterPins(FilterImpl* filter)
{
    KsAcquireControl(&filter->filter);
    while (!filter->pins.empty()) {
        ClosePin(filter->pins.front(), nullptr);
    }
    KsReleaseControl(&filter->filter);
}

}  // namespace Platform::Ks::Internal

using namespace Platform::Ks::Internal;

PKSPIN KsGetPinFromIrp(struct _IRP* irp)
{
    auto* file = static_cast<FileObject*>(IoGetCurrentIrpStackLocation(irp)->FileObject);
    if (file == nullptr || file->magic != kFileObjectMagic || file->pin == nullptr) {
        return nullptr;
    }
    return &file->pin->pin;
}

PKSFILTER KsPinGetParentFilter(PKSPIN pin)
{
    return &PinOf(pin)->filter->filter;
}

PKSPIN KsFilterGetFirstChildPin(PKSFILTER filter, ULONG pinId)
{
    Platform::Kernel::RequireCallerIrql(PASSIVE_LEVEL, "KsFilterGetFirstChildPin");
    RequireMutexHeld(&FilterOf(filter)->object.mutex, "KS filter control mutex",
                     "KsFilterGetFirstChildPin");
    for (PinImpl* pin : FilterOf(filter)->pins) {
        if (pin->pin.Id == pinId) {
            return &pin->pin;
        }
    }
    return nullptr;
}

PKSPIN KsPinGetNextSiblingPin(PKSPIN pin)
{
    Platform::Kernel::RequireCallerIrql(PASSIVE_LEVEL, "KsPinGetNextSiblingPin");
    PinImpl* impl = PinOf(pin);
    RequireMutexHeld(&impl->filter->object.mutex, "KS filter control mutex",
                     "KsPinGetNextSiblingPin");
    const std::vector<PinImpl*>& pins = impl->filter->pins;
    auto it = std::find(pins.begin(), pins.end(), impl);
    for (++it; it < pins.end(); ++it) {
        if ((*it)->pin.Id == pin->Id) {
            return &(*it)->pin;
        }
    }
    return nullptr;
}

ULONG KsFilterGetChildPinCount(PKSFILTER filter, ULONG pinId)
{
    Platform::Kernel::RequireCallerIrql(PASSIVE_LEVEL, "KsFilterGetChildPinCount");
    RequireMutexHeld(&FilterOf(filter)->object.mutex, "KS filter control mutex",
                     "KsFilterGetChildPinCount");
    return OpenInstances(FilterOf(filter), pinId);
}
