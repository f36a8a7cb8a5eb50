// Filters: created from a factory's create item when a handle opens, gone when it closes.
#include "KsInternal.h"

namespace Platform::Ks::Internal {
namespace {

FileObject* FileObjectOf(struct _IRP* irp)
{
    auto* file = static_cast<FileObject*>(IoGetCurrentIrpStackLocation(irp)->FileObject);
    return file != nullptr && file->magic == kFileObjectMagic ? file : nullptr;
}

// The factory's count of open filters and its lifetime are kept under the device mutex, so a
// Stop that frees create items and an open or close on another thread cannot cross.
void DestroyFilter(FilterImpl* filter)
{
    FreeFilterEvents(filter);
    FreeBag(&filter->bag);
    FactoryImpl* factory = filter->factory;
    DeviceImpl* device = filter->object.device;
    delete filter;
    KsAcquireDevice(&device->device);
    --factory->openFilters;
    ReleaseFactoryIfUnused(factory);
    KsReleaseDevice(&device->device);
}

}  // namespace

NTSTATUS DispatchCreate(PDEVICE_OBJECT deviceObject, struct _IRP* irp)
{
    FileObject* file = FileObjectOf(irp);
    KSDEVICE_HEADER header = static_cast<DeviceExtension*>(deviceObject->DeviceExtension)->header;
    DeviceImpl* device = header->device;
    if (file == nullptr) {
        return CompleteRequest(irp, STATUS_INVALID_PARAMETER);
    }
    if (device->surpriseRemoved) {
        return CompleteRequest(irp, STATUS_DELETE_PENDING);
    }
    if (IsPinFile(file)) {
        return DispatchPinCreate(file, irp);
    }
    FactoryImpl* factory = nullptr;
    KsAcquireDevice(&device->device);
    for (const CreateItem& item : header->createItems) {
        if (SameTextIgnoringCase(item.referenceString, file->referenceString)) {
            factory = item.context;
            ++factory->openFilters;
            break;
        }
    }
    KsReleaseDevice(&device->device);
    if (factory == nullptr) {
        return CompleteRequest(irp, STATUS_OBJECT_NAME_NOT_FOUND);
    }
    auto* filter = new FilterImpl{};
    InitializeObject(&filter->object, ObjectKind::Filter, device);
    InitializeBag(&filter->bag, &filter->object.mutex, "KS filter control mutex");
    filter->filter.Descriptor = factory->factory.FilterDescriptor;
    filter->filter.Bag = &filter->bag;
    filter->factory = factory;
    KeInitializeSpinLock(&filter->eventLock);
    file->filter = filter;

    NTSTATUS status = STATUS_SUCCESS;
    const KSFILTER_DISPATCH* dispatch = filter->filter.Descriptor->Dispatch;
    if (dispatch != nullptr && dispatch->Create != nullptr) {
        status = dispatch->Create(&filter->filter, irp);
    }
    if (!NT_SUCCESS(status)) {
        file->filter = nullptr;
        DestroyFilter(filter);
    }
    return CompleteRequest(irp, status);
}

NTSTATUS DispatchClose(PDEVICE_OBJECT deviceObject, struct _IRP* irp)
{
    UNREFERENCED_PARAMETER(deviceObject);
    FileObject* file = FileObjectOf(irp);
    if (file != nullptr && IsPinFile(file)) {
        return DispatchPinClose(file, irp);
    }
    if (file == nullptr || file->filter == nullptr) {
        return CompleteRequest(irp, STATUS_INVALID_PARAMETER);
    }
    FilterImpl* filter = file->filter;
    CloseFilterPins(filter);
    const KSFILTER_DISPATCH* dispatch = filter->filter.Descriptor->Dispatch;
    if (dispatch != nullptr && dispatch->Close != nullptr) {
        dispatch->Close(&filter->filter, irp);
    }
    file->filter = nullptr;
    DestroyFilter(filter);
    return CompleteRequest(irp, STATUS_SUCCESS);
}

}  // namespace Platform::Ks::Internal

using namespace Platform::Ks::Internal;

// A request sent to a pin answers the pin's filter.
PKSFILTER KsGetFilterFromIrp(struct _IRP* irp)
{
    FileObject* file = FileObjectOf(irp);
    if (file != nullptr && file->related != nullptr) {
        file = file->related;
    }
    return file != nullptr && file->filter != nullptr ? &file->filter->filter : nullptr;
}

PKSFILTERFACTORY KsFilterGetParentFilterFactory(PKSFILTER filter)
{
    return &FilterOf(filter)->factory->factory;
}
