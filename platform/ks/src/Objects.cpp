// Object headers, object bags and the device and control mutexes.
#include <KernelTestApi.h>

#include <cstddef>
#include <string>

#include "KsInternal.h"
#include "PinInternal.h"

namespace Platform::Ks::Internal {
namespace {

constexpr ULONG kBagTag = Platform::Kernel::MakeTag("KsBg");

static_assert(offsetof(DeviceImpl, device) == offsetof(FactoryImpl, factory));
static_assert(offsetof(DeviceImpl, device) == offsetof(FilterImpl, filter));
static_assert(offsetof(DeviceImpl, device) == offsetof(PinImpl, pin));
constexpr size_t kPublicOffset = offsetof(DeviceImpl, device);

// A pin shares its filter's control mutex: its bag, its state and its filter's pin list are all
// guarded by that one mutex, so no pin mutex can be taken in an order against the filter's.
PKMUTEX ControlMutexOf(PVOID object)
{
    KsObject* header = ObjectOf(object);
    if (header->kind == ObjectKind::Pin) {
        return &PinOf(static_cast<PKSPIN>(object))->filter->object.mutex;
    }
    return &header->mutex;
}

}  // namespace

KsObject* ObjectOf(PVOID publicObject)
{
    auto* object = reinterpret_cast<KsObject*>(static_cast<char*>(publicObject) - kPublicOffset);
    if (object->kind != ObjectKind::Device && object->kind != ObjectKind::Factory &&
        object->kind != ObjectKind::Filter && object->kind != ObjectKind::Pin) {
        KeBugCheckEx(0x00000097 /* BAD_KS_OBJECT */, reinterpret_cast<ULONG_PTR>(publicObject), 0,
                     0, 0);
    }
    return object;
}

DeviceImpl* DeviceOf(PKSDEVICE device)
{
    return CONTAINING_RECORD(device, DeviceImpl, device);
}

FactoryImpl* FactoryOf(PKSFILTERFACTORY factory)
{
    return CONTAINING_RECORD(factory, FactoryImpl, factory);
}

FilterImpl* FilterOf(PKSFILTER filter)
{
    return CONTAINING_RECORD(filter, FilterImpl, filter);
}

bool SameTextIgnoringCase(const std::u16string& a, const std::u16string& b)
{
    auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; };
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (upper(a[i]) != upper(b[i])) {
            return false;
        }
    }
    return true;
}

NTSTATUS CompleteRequest(struct _IRP* irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

void InitializeObject(KsObject* object, ObjectKind kind, DeviceImpl* device)
{
    object->kind = kind;
    object->device = device;
    KeInitializeMutex(&object->mutex, 0);
    Platform::Kernel::NameLock(&object->mutex, kind == ObjectKind::Device ? "KS device mutex"
                                               : kind == ObjectKind::Factory
                                                   ? "KS factory control mutex"
                                                   : "KS filter control mutex");
}

void InitializeBag(_KSIOBJECT_BAG* bag, PKMUTEX mutex, const char* mutexName)
{
    bag->items = nullptr;
    bag->mutex = mutex;
    bag->mutexName = mutexName;
}

void RequireMutexHeld(PKMUTEX mutex, const char* mutexName, const char* service)
{
    if (!Platform::Kernel::CurrentThreadOwnsMutex(mutex)) {
        Platform::Kernel::VerifierStop(Platform::Kernel::kRuleKsMutexNotHeld,
                                       std::string("kernel streaming: ") + service +
                                           " called without holding the " + mutexName,
                                       reinterpret_cast<ULONG_PTR>(mutex));
    }
}

void FreeBag(_KSIOBJECT_BAG* bag)
{
    while (bag->items != nullptr) {
        BagItem* entry = bag->items;
        bag->items = entry->next;
        PVOID item = entry->item;
        PFNKSFREE free = entry->free;
        ExFreePoolWithTag(entry, kBagTag);
        if (free != nullptr) {
            free(item);
        } else {
            ExFreePool(item);
        }
    }
}

}  // namespace Platform::Ks::Internal

using namespace Platform::Ks::Internal;

NTSTATUS KsAddItemToObjectBag(KSOBJECT_BAG bag, PVOID item, PFNKSFREE free)
{
    Platform::Kernel::RequireCallerIrql(PASSIVE_LEVEL, "KsAddItemToObjectBag");
    RequireMutexHeld(bag->mutex, bag->mutexName, "KsAddItemToObjectBag");
    auto* entry =
        static_cast<BagItem*>(ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(BagItem), kBagTag));
    if (entry == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    entry->item = item;
    entry->free = free;
    entry->next = bag->items;
    bag->items = entry;
    return STATUS_SUCCESS;
}

ULONG KsRemoveItemFromObjectBag(KSOBJECT_BAG bag, PVOID item, BOOLEAN free)
{
    Platform::Kernel::RequireCallerIrql(PASSIVE_LEVEL, "KsRemoveItemFromObjectBag");
    RequireMutexHeld(bag->mutex, bag->mutexName, "KsRemoveItemFromObjectBag");
    for (BagItem** link = &bag->items; *link != nullptr; link = &(*link)->next) {
        BagItem* entry = *link;
        if (entry->item != item) {
            continue;
        }
        *link = entry->next;
        PFNKSFREE freeRoutine = entry->free;
        ExFreePoolWithTag(entry, kBagTag);
        if (free) {
            if (freeRoutine != nullptr) {
                freeRoutine(item);
            } else {
                ExFreePool(item);
            }
        }
        return 0;
    }
    return 0;
}

PKSDEVICE KsGetDevice(PVOID object)
{
    return &ObjectOf(object)->device->device;
}

void KsAcquireDevice(PKSDEVICE device)
{
    Platform::Kernel::RequireCallerIrql(PASSIVE_LEVEL, "KsAcquireDevice");
    KeWaitForSingleObject(&DeviceOf(device)->object.mutex, Executive, KernelMode, FALSE, nullptr);
}

void KsReleaseDevice(PKSDEVICE device)
{
    Platform::Kernel::RequireCallerIrql(PASSIVE_LEVEL, "KsReleaseDevice");
    KeReleaseMutex(&DeviceOf(device)->object.mutex, FALSE);
}

void KsAcquireControl(PVOID object)
{
    Platform::Kernel::RequireCallerIrql(PASSIVE_LEVEL, "KsAcquireControl");
    KeWaitForSingleObject(ControlMutexOf(object), Executive, KernelMode, FALSE, nullptr);
}

void KsReleaseControl(PVOID object)
{
    Platform::Kernel::RequireCallerIrql(PASSIVE_LEVEL, "KsReleaseControl");
    KeReleaseMutex(ControlMutexOf(object), FALSE);
}
