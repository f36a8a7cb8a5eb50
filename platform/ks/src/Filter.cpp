// Filters: created from a factory's create item when a handle opens, gone when it closes.
#include "KsInternal.h"

namespace Platform::Ks::Internal {
namespace {

FileObject* FileObjectOf(struct _IRP* irp)
{
    auto* file = static_cast<FileObject*>(IoGetCurrentIrpStackLocation(irp)->FileObject);
    return file != nullptr && file->magic == kFileObjectMagic ? file : nullptr;
}

NTSTATUS Complete(struct _IRP* irp, NTSTATUS status)
{
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
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

bool SameText(const std::u16string& a, const std::u16string& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i] >= u'a' && a[i] <= u'z' ? static_cast<char16_t>(a[i] - 32) : a[i];
        char16_t y = b[i] >= u'a' && b[i] <= u'z' ? static_cast<char16_t>(b[i] - 32) : b[i];
        if (x != y) {
            return false;
        }
    }
    return true;
}

}  // namespace

NTSTATUS DispatchCreate(PDEVICE_OBJECT deviceObject, struct _IRP* irp)
{
    FileObject* file = FileObjectOf(irp);
    KSDEVICE_HEADER header = static_cast<DeviceExtension*>(deviceObject->DeviceExtension)->header;
    DeviceImpl* device = header->device;
    if (file == nullptr) {
        return Complete(irp, STATUS_INVALID_PARAMETER);
    }
    if (device->surpriseRemoved) {
        return Complete(irp, STATUS_DELETE_PENDING);
    }
    FactoryImpl* factory = nullptr;
    KsAcquireDevice(&device->device);
    for (const CreateItem& item : header->createItems) {
        if (SameText(item.referenceString, file->referenceString)) {
            factory = item.context;
            ++factory->openFilters;
            break;
        }
    }
    KsReleaseDevice(&device->device);
    if (factory == nullptr) {
        return Complete(irp, STATUS_OBJECT_NAME_NOT_FOUND);
    }
    auto* filter = new FilterImpl{};
    InitializeObject(&filter->object, ObjectKind::Filter, device);
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
    return Complete(irp, status);
}

NTSTATUS DispatchClose(PDEVICE_OBJECT deviceObject, struct _IRP* irp)
{
    UNREFERENCED_PARAMETER(deviceObject);
    FileObject* file = FileObjectOf(irp);
    if (file == nullptr || file->filter == nullptr) {
        return Complete(irp, STATUS_INVALID_PARAMETER);
    }
    FilterImpl* filter = file->filter;
    const KSFILTER_DISPATCH* dispatch = filter->filter.Descriptor->Dispatch;
    if (dispatch != nullptr && dispatch->Close != nullptr) {
        dispatch->Close(&filter->filter, irp);
    }
    file->filter = nullptr;
    DestroyFilter(filter);
    return Complete(irp, STATUS_SUCCESS);
}

}  // namespace Platform::Ks::Internal

using namespace Platform::Ks::Internal;

PKSFILTER KsGetFilterFromIrp(struct _IRP* irp)
{
    FileObject* file = FileObjectOf(irp);
    return file != nullptr && file->filter != nullptr ? &file->filter->filter : nullptr;
}

PKSFILTERFACTORY KsFilterGetParentFilterFactory(PKSFILTER filter)
{
    return &FilterOf(filter)->factory->factory;
}
