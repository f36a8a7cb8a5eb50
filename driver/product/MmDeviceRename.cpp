// Windows remembers each endpoint's format under the MMDevices key and opens the endpoint at that
// rate; after a rate change this device's stored formats are brought to the rate in force. Only
// endpoints whose instance path carries this device's whole hardware-ID prefix are touched, and
// only format values long enough to hold the fields written.
#include <wdm.h>

#include "device/DeviceLifecycle.h"
#include "device/EndpointNaming.h"

namespace {

constexpr ULONG kTagNamingWork = 0x65447651;   // "QvDe"
constexpr ULONG kTagPathBuffer = 0x63696E55;   // "Unic"
constexpr ULONG kTagEnumeration = 0x41525651;  // "QVRA"
constexpr ULONG kPathBufferBytes = 351;
constexpr ULONG kPathBytes = 350;
constexpr ULONG kEnumerationBytes = 536;
constexpr ULONG kEnumerationQueryBytes = 534;
constexpr ACCESS_MASK kRootAccess = 0x2001F;
constexpr ULONG kFormatBufferBytes = 64;
constexpr ULONG kFormatHeaderBytes = 8;  // length and type before the data
constexpr ULONG kFormatFieldsEnd = 24;   // bits per sample ends at byte 23 of the value
constexpr ULONG kInstancePathSkip = 4;   // the path's first characters precede the hardware id

const PCWSTR kRoots[] = {
    u"\\Registry\\Machine\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio\\Capture",
    u"\\Registry\\Machine\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio\\Render",
};
constexpr char16_t kInstancePathValue[] = u"{b3f8fa53-0004-438e-9003-51a46e139bfc},2";
const PCWSTR kFormatValues[] = {
    u"{e4870e26-3cc5-4cd2-ba46-ca0a9a70ed04},0",
    u"{f19f064d-082c-4e27-bc73-6882a1bb8e4c},0",
    u"{3d6e1656-2e50-4c4c-8d85-d0acae3c6c68},2",
};
constexpr ULONG kFormatCount = 3;
constexpr ULONG kEngineFormatIndex = 2;  // also rewritten when its samples are not 32 bits

struct RenameWorkPacket
{
    PIO_WORKITEM workItem;
    DeviceContext* context;
    ULONG rate;
};

ULONG Load32(const UCHAR* p)
{
    return static_cast<ULONG>(p[0]) | static_cast<ULONG>(p[1]) << 8 |
           static_cast<ULONG>(p[2]) << 16 | static_cast<ULONG>(p[3]) << 24;
}

void Store32(UCHAR* p, ULONG value)
{
    p[0] = static_cast<UCHAR>(value);
    p[1] = static_cast<UCHAR>(value >> 8);
    p[2] = static_cast<UCHAR>(value >> 16);
    p[3] = static_cast<UCHAR>(value >> 24);
}

// The whole prefix must match, from the fifth character of the instance path on; letter case
// (bit 0x20 of the low byte) does not count.
bool BelongsToDevice(PCWSTR prefix, const UNICODE_STRING& instancePath)
{
    const ULONG characters = instancePath.Length / sizeof(WCHAR);
    if (prefix[0] == 0 || characters <= kInstancePathSkip) {
        return false;
    }
    ULONG i = 0;
    for (; prefix[i] != 0; ++i) {
        if (kInstancePathSkip + i >= characters) {
            return false;
        }
        const WCHAR a = prefix[i];
        const WCHAR b = instancePath.Buffer[kInstancePathSkip + i];
        if ((a & 0xFFDF) != (b & 0xFFDF)) {
            return false;
        }
    }
    return true;
}

// path = root + "\" + name + "\Properties", within kPathBytes; false when it does not fit.
bool BuildPropertiesPath(PWSTR path, PCWSTR root, const KEY_BASIC_INFORMATION* key)
{
    constexpr ULONG kCapacity = kPathBytes / sizeof(WCHAR);
    ULONG n = 0;
    auto append = [&](const WCHAR* text, ULONG count) {
        for (ULONG i = 0; i < count; ++i) {
            if (n + 1 >= kCapacity) {
                return false;
            }
            path[n++] = text[i];
        }
        return true;
    };
    ULONG rootLength = 0;
    while (root[rootLength] != 0) {
        ++rootLength;
    }
    const bool fits = append(root, rootLength) && append(u"\\", 1) &&
                      append(key->Name, key->NameLength / sizeof(WCHAR)) &&
                      append(u"\\Properties", 11);
    path[n] = 0;
    return fits;
}

void RewriteFormat(PCWSTR path, PCWSTR valueName, UCHAR* buffer, bool engineFormat, ULONG rate)
{
    const ULONG length = Load32(buffer);
    const ULONG type = Load32(buffer + 4);
    if (type != REG_BINARY || length < kFormatFieldsEnd ||
        length > kFormatBufferBytes - kFormatHeaderBytes) {
        return;  // absent, cut short or not a format: left alone
    }
    UCHAR* value = buffer + kFormatHeaderBytes;
    const ULONG stored = Load32(value + 12);
    const ULONG blockAlign = static_cast<ULONG>(value[20]) | static_cast<ULONG>(value[21]) << 8;
    const ULONG bits = static_cast<ULONG>(value[22]) | static_cast<ULONG>(value[23]) << 8;
    if (stored == 0 || (stored == rate && !(engineFormat && bits != 32))) {
        return;
    }
    // The block alignment is the registry's: its product with the rate may not fit the field,
    // and a wrapped value would be a format no one stored.
    const ULONGLONG average = static_cast<ULONGLONG>(rate) * blockAlign;
    if (average > 0xFFFFFFFFull) {
        return;
    }
    Store32(value + 12, rate);
    Store32(value + 16, static_cast<ULONG>(average));
    RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, path, valueName, type, value, length);
}

// A DIRECT query of one value that takes it only when it has the expected type: a value of another
// type would be written into the entry's context as if it were of its own kind.
bool QueryTyped(PCWSTR path, PCWSTR valueName, ULONG type, PVOID entryContext)
{
    RTL_QUERY_REGISTRY_TABLE table[2] = {};
    table[0].Flags = RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_TYPECHECK;
    table[0].Name = const_cast<PWSTR>(valueName);
    table[0].EntryContext = entryContext;
    table[0].DefaultType = (type << RTL_QUERY_REGISTRY_TYPECHECK_SHIFT) | REG_NONE;
    return NT_SUCCESS(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, path, table, nullptr, nullptr));
}

void RenameKey(DeviceContext* context, PCWSTR path, PWSTR instanceBuffer, ULONG rate)
{
    UNICODE_STRING instancePath{0, static_cast<USHORT>(kPathBytes), instanceBuffer};
    if (!QueryTyped(path, kInstancePathValue, REG_SZ, &instancePath) ||
        !BelongsToDevice(context->hardwareIdPrefix, instancePath)) {
        return;
    }
    // Each format on its own, so that one value of the wrong type leaves only itself alone.
    for (ULONG f = 0; f < kFormatCount; ++f) {
        UCHAR format[kFormatBufferBytes];
        RtlZeroMemory(format, kFormatBufferBytes);
        Store32(format, static_cast<ULONG>(-static_cast<LONG>(kFormatBufferBytes)));
        if (QueryTyped(path, kFormatValues[f], REG_BINARY, format)) {
            RewriteFormat(path, kFormatValues[f], format, f == kEngineFormatIndex, rate);
        }
    }
}

NTSTATUS RenameUnderRoot(DeviceContext* context, PCWSTR root, PWSTR path, PWSTR instance,
                         ULONG rate)
{
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, root);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               nullptr, nullptr);
    HANDLE key = nullptr;
    NTSTATUS status = ZwOpenKey(&key, kRootAccess, &attributes);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto* information = static_cast<KEY_BASIC_INFORMATION*>(
        ExAllocatePoolWithTag(PagedPool, kEnumerationBytes, kTagEnumeration));
    if (information == nullptr) {
        ZwClose(key);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    for (ULONG index = 0;; ++index) {
        ULONG resultLength = 0;
        status = ZwEnumerateKey(key, index, KeyBasicInformation, information,
                                kEnumerationQueryBytes, &resultLength);
        if (!NT_SUCCESS(status)) {
            break;
        }
        if (BuildPropertiesPath(path, root, information)) {
            RenameKey(context, path, instance, rate);
        }
    }
    ExFreePoolWithTag(information, kTagEnumeration);
    ZwClose(key);
    return status;
}

NTSTATUS RenameNow(DeviceContext* context, ULONG rate)
{
    auto* path =
        static_cast<PWSTR>(ExAllocatePoolWithTag(NonPagedPoolNx, kPathBufferBytes, kTagPathBuffer));
    auto* instance =
        static_cast<PWSTR>(ExAllocatePoolWithTag(NonPagedPoolNx, kPathBufferBytes, kTagPathBuffer));
    NTSTATUS status = STATUS_INSUFFICIENT_RESOURCES;
    if (path != nullptr && instance != nullptr) {
        for (PCWSTR root : kRoots) {
            status = RenameUnderRoot(context, root, path, instance, rate);
        }
    }
    if (path != nullptr) {
        ExFreePoolWithTag(path, kTagPathBuffer);
    }
    if (instance != nullptr) {
        ExFreePoolWithTag(instance, kTagPathBuffer);
    }
    return status;
}

void RenameWorkItem(PDEVICE_OBJECT, PVOID parameter)
{
    auto* packet = static_cast<RenameWorkPacket*>(parameter);
    DeviceContext* context = packet->context;
    if (GetPnpState(context) == kPnpStarted) {
        RenameNow(context, packet->rate);
    }
    IoFreeWorkItem(packet->workItem);
    ExFreePoolWithTag(packet, kTagNamingWork);
    ReleaseRemoveLock(context);
}

void QueueRename(DeviceContext* context, ULONG rate)
{
    if (!TryAcquireRemoveLock(context)) {
        return;
    }
    auto* packet = static_cast<RenameWorkPacket*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(RenameWorkPacket), kTagNamingWork));
    PIO_WORKITEM item =
        packet != nullptr ? IoAllocateWorkItem(FunctionalDeviceObject(context)) : nullptr;
    if (item == nullptr) {
        if (packet != nullptr) {
            ExFreePoolWithTag(packet, kTagNamingWork);
        }
        ReleaseRemoveLock(context);
        return;
    }
    *packet = {item, context, rate};
    IoQueueWorkItem(item, RenameWorkItem, DelayedWorkQueue, packet);
}

}  // namespace

NTSTATUS RenameMmDeviceEndpoints(DeviceContext* context, ULONG rate)
{
    if (context->hardwareIdPrefix == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    if (KeGetCurrentIrql() > PASSIVE_LEVEL) {
        QueueRename(context, rate);
        return STATUS_SUCCESS;
    }
    return RenameNow(context, rate);
}
