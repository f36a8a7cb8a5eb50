// Creation and teardown of the per-device context and the objects it owns.
#include <new>

#include "DeviceLifecycle.h"
#include "DeviceModel.h"
#include "DeviceNotifications.h"
#include "DeviceParts.h"
#include "EndpointNaming.h"
#include "PoolTag.h"

namespace {

constexpr size_t kRegistryPathCharacters = 256;
constexpr size_t kHardwareIdPrefixCharacters = 21;
constexpr ULONG kVistaVersion = 0x06000000;

// Appends text to the buffer as far as it fits, always leaving it terminated.
void AppendCut(WCHAR* buffer, size_t capacity, const char16_t* text)
{
    size_t length = 0;
    while (buffer[length] != 0) {
        ++length;
    }
    for (; *text != 0 && length + 1 < capacity; ++text, ++length) {
        buffer[length] = *text;
    }
    buffer[length] = 0;
}

// Reads DevicePropertyHardwareID: once for the size, once into a buffer of that size plus a
// terminator. The prefix copy stops at the end of the first string, so a short ID cannot take
// the copy past the buffer.
void ReadHardwareId(DeviceContext* context)
{
    PDEVICE_OBJECT physical = context->device->PhysicalDeviceObject;
    ULONG length = 0;
    if (physical == nullptr || IoGetDeviceProperty(physical, DevicePropertyHardwareID, 0, nullptr,
                                                   &length) != STATUS_BUFFER_TOO_SMALL) {
        return;
    }
    const SIZE_T bytes = static_cast<SIZE_T>(length) + 2;
    auto* id = static_cast<PWSTR>(ExAllocatePoolWithTag(NonPagedPoolNx, bytes, kTagDeviceData));
    if (id == nullptr) {
        return;
    }
    RtlZeroMemory(id, bytes);
    ULONG read = 0;
    if (!NT_SUCCESS(IoGetDeviceProperty(physical, DevicePropertyHardwareID, length, id, &read))) {
        ExFreePoolWithTag(id, kTagDeviceData);
        return;
    }
    context->hardwareId = id;
    const SIZE_T prefixBytes = (kHardwareIdPrefixCharacters + 1) * sizeof(WCHAR);
    auto* prefix =
        static_cast<PWSTR>(ExAllocatePoolWithTag(NonPagedPoolNx, prefixBytes, kTagDeviceData));
    if (prefix == nullptr) {
        return;
    }
    RtlZeroMemory(prefix, prefixBytes);
    const size_t available = bytes / sizeof(WCHAR);
    for (size_t i = 0; i < kHardwareIdPrefixCharacters && i < available && id[i] != 0; ++i) {
        prefix[i] = id[i];
    }
    context->hardwareIdPrefix = prefix;
}

}  // namespace

NTSTATUS DispatchAdd(PKSDEVICE device)
{
    DeviceContext* context = AllocateDeviceContext();
    if (context == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    context->device = device;
    KeInitializeMutex(&context->powerMutex, 0);
    KeInitializeMutex(&context->controlFilterWalkMutex, 0);

    KsAcquireDevice(device);
    NTSTATUS status = KsAddItemToObjectBag(device->Bag, context, FreeDeviceContext);
    KsReleaseDevice(device);
    if (!NT_SUCCESS(status)) {
        DestroyDeviceContext(context);
        return status;
    }
    device->Context = context;
    status = InitializeDeviceContext(context);
    if (!NT_SUCCESS(status)) {
        device->Context = nullptr;
        KsAcquireDevice(device);
        KsRemoveItemFromObjectBag(device->Bag, context, TRUE);
        KsReleaseDevice(device);
    }
    return status;
}

NTSTATUS InitializeDeviceContext(DeviceContext* context)
{
    KeInitializeEvent(&context->filtersClosedEvent, NotificationEvent, FALSE);
    context->state = kPnpAdded;
    context->previousState = kPnpAdded;
    IoInitializeRemoveLock(&context->removeLock, kTagRemoveLock, 0, 1000);

    WCHAR registryPath[kRegistryPathCharacters] = {};
    AppendCut(registryPath, kRegistryPathCharacters, u"\\Registry\\Machine\\");
    AppendCut(registryPath, kRegistryPathCharacters,
              u"Software\\Wow6432Node\\Tervolt\\Audio\\Drivers");
    AppendCut(registryPath, kRegistryPathCharacters, u"\\");
    AppendCut(registryPath, kRegistryPathCharacters, u"{6242F6B0-04E7-497F-AE8D-287E12D19420}");

    DeviceParts* parts = GetDeviceParts();
    if (parts == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    context->deviceModel = parts->CreateDeviceModel(&context->device, registryPath);
    if (context->deviceModel == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    context->deviceModel->SetOwner(context);
    StreamingEngine* engine = context->deviceModel->GetEngine();
    context->streamManager = parts->CreateStreamManager(engine, context->streamSink);
    if (context->streamManager == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    context->midiRouter = parts->CreateMidiRouter(engine);
    if (context->midiRouter == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }

    KeInitializeSpinLock(&context->waveFilterListLock);
    KeInitializeSpinLock(&context->midiFilterListLock);
    KeInitializeSpinLock(&context->controlFilterListLock);
    ReadHardwareId(context);
    if (QueryOsVersion(context) >= kVistaVersion) {
        RegisterMediaCategories(context);
    }
    return STATUS_SUCCESS;
}

void DestroyDeviceContext(DeviceContext* context)
{
    if (context->hardwareId != nullptr) {
        ExFreePoolWithTag(context->hardwareId, kTagDeviceData);
        context->hardwareId = nullptr;
    }
    if (context->hardwareIdPrefix != nullptr) {
        ExFreePoolWithTag(context->hardwareIdPrefix, kTagDeviceData);
        context->hardwareIdPrefix = nullptr;
    }
    DeviceParts* parts = GetDeviceParts();
    if (parts != nullptr) {
        if (context->streamManager != nullptr) {
            parts->DestroyStreamManager(context->streamManager);
            context->streamManager = nullptr;
        }
        if (context->midiRouter != nullptr) {
            parts->DestroyMidiRouter(context->midiRouter);
            context->midiRouter = nullptr;
        }
        if (context->deviceModel != nullptr) {
            parts->DestroyDeviceModel(context->deviceModel);
            context->deviceModel = nullptr;
        }
    }
    ReleaseDeviceContext(context);
}

void FreeDeviceContext(PVOID context)
{
    DestroyDeviceContext(static_cast<DeviceContext*>(context));
}
