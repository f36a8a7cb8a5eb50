#include "PersistedSetting.h"

#include <ntstrsafe.h>
#include <usb.h>

#include <cstddef>

#include "PoolTag.h"
#include "engine/StreamingEngine.h"

namespace {

inline constexpr ULONG kTagSettingQuery = PoolTag("Trpt");

void CopyCut(WCHAR* destination, size_t capacity, PCWSTR source)
{
    size_t i = 0;
    for (; source != nullptr && source[i] != 0 && i + 1 < capacity; ++i) {
        destination[i] = source[i];
    }
    destination[i] = 0;
}

// The nine numbers of the topology address, after prefix and a dot when there is a prefix.
NTSTATUS FormatTopology(PWSTR buffer, size_t characters, PCWSTR prefix,
                        const USB_TOPOLOGY_ADDRESS& address)
{
    WCHAR numbers[kSettingNameCharacters];
    const NTSTATUS status = RtlStringCchPrintfW(
        numbers, kSettingNameCharacters, u"%d.%d.%d.%d.%d.%d.%d.%d.%d",
        static_cast<int>(address.PciBusNumber), static_cast<int>(address.PciDeviceNumber),
        static_cast<int>(address.PciFunctionNumber), static_cast<int>(address.RootHubPortNumber),
        static_cast<int>(address.HubPortNumber[0]), static_cast<int>(address.HubPortNumber[1]),
        static_cast<int>(address.HubPortNumber[2]), static_cast<int>(address.HubPortNumber[3]),
        static_cast<int>(address.HubPortNumber[4]));
    if (!NT_SUCCESS(status)) {
        return status;
    }
    return prefix == nullptr ? RtlStringCchPrintfW(buffer, characters, u"%ws", numbers)
                             : RtlStringCchPrintfW(buffer, characters, u"%ws.%ws", prefix, numbers);
}

void BuildNames(StreamingEngine* engine)
{
    PersistedSettingNames* names = engine->SettingNames();
    if (names->built != 0) {
        return;
    }
    // Each ID taken as a 32-bit number, written from its lowest byte up.
    const ULONG vendor = engine->GetDeviceVendorId();
    const ULONG product = engine->GetDeviceProductId();
    if (!NT_SUCCESS(RtlStringCchPrintfW(names->keyPath, kSettingNameCharacters,
                                        u"%ws\\01020304%02X%02X%02X%02X%02X%02X%02X%02XDECAFBAD",
                                        names->driverKeyPath, vendor & 0xFF, (vendor >> 8) & 0xFF,
                                        (vendor >> 16) & 0xFF, (vendor >> 24) & 0xFF,
                                        product & 0xFF, (product >> 8) & 0xFF,
                                        (product >> 16) & 0xFF, (product >> 24) & 0xFF))) {
        names->keyPath[0] = 0;  // a cut path would name another key: open nothing
    }
    USB_TOPOLOGY_ADDRESS address = {};
    if (!NT_SUCCESS(engine->QueryUsbLocation(&address)) ||
        !NT_SUCCESS(FormatTopology(names->valueName, kSettingNameCharacters, nullptr, address))) {
        CopyCut(names->valueName, kSettingNameCharacters, u"CallbackDelay");
    }
    names->built = 1;
}

// Opens the key by its full name, or creates its last component when create is set.
NTSTATUS OpenKey(PCWSTR path, ACCESS_MASK access, HANDLE* key, bool create = false)
{
    if (path[0] == 0) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, path);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               nullptr, nullptr);
    if (!create) {
        return ZwOpenKey(key, access, &attributes);
    }
    ULONG disposition = 0;
    return ZwCreateKey(key, access, &attributes, 0, nullptr, REG_OPTION_NON_VOLATILE, &disposition);
}

// Clamped as a signed number: a negative value read as a count would never end a loop.
ULONG ClampTransfersAhead(ULONG stored)
{
    const LONG value = static_cast<LONG>(stored);
    if (value < 0) {
        return 0;
    }
    return value > static_cast<LONG>(kMaxTransfersAhead) ? kMaxTransfersAhead
                                                         : static_cast<ULONG>(value);
}

// Asks once for the size and once for the record. Answers the last query's status; *value is
// written only for a REG_DWORD of exactly 4 bytes that lies inside the record and kept its size
// between the two queries (the registry is outside data).
NTSTATUS QueryStoredValue(HANDLE key, PCWSTR valueName, ULONG* value)
{
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, valueName);
    ULONG size = 0;
    NTSTATUS status = ZwQueryValueKey(key, &name, KeyValueFullInformation, nullptr, 0, &size);
    if (status != STATUS_BUFFER_TOO_SMALL && status != STATUS_BUFFER_OVERFLOW) {
        return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
    }
    if (size < sizeof(KEY_VALUE_FULL_INFORMATION)) {
        return STATUS_UNSUCCESSFUL;
    }
    auto* record = static_cast<PKEY_VALUE_FULL_INFORMATION>(
        ExAllocatePoolWithTag(NonPagedPoolNx, size, kTagSettingQuery));
    if (record == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(record, size);
    ULONG again = 0;
    status = ZwQueryValueKey(key, &name, KeyValueFullInformation, record, size, &again);
    if (NT_SUCCESS(status) && again == size) {
        DecodeStoredValue(record, size, value);
    }
    ExFreePoolWithTag(record, kTagSettingQuery);
    return status;
}

}  // namespace

bool DecodeStoredValue(const void* record, ULONG size, ULONG* value)
{
    KEY_VALUE_FULL_INFORMATION header;
    constexpr ULONG kFixedBytes = offsetof(KEY_VALUE_FULL_INFORMATION, Name);
    if (record == nullptr || size < kFixedBytes) {
        return false;
    }
    RtlCopyMemory(&header, record, kFixedBytes);
    if (header.Type != REG_DWORD || header.DataLength != sizeof(ULONG) ||
        header.DataOffset > size || size - header.DataOffset < sizeof(ULONG)) {
        return false;
    }
    ULONG stored = 0;
    RtlCopyMemory(&stored, static_cast<const UCHAR*>(record) + header.DataOffset, sizeof stored);
    *value = ClampTransfersAhead(stored);
    return true;
}

void InitializeSettingNames(PersistedSettingNames* names, PCWSTR driverKeyPath)
{
    RtlZeroMemory(names, sizeof *names);
    CopyCut(names->driverKeyPath, kSettingNameCharacters, driverKeyPath);
}

PCWSTR GetSettingKeyPath(StreamingEngine* engine)
{
    BuildNames(engine);
    return engine->SettingNames()->keyPath;
}

PCWSTR GetSettingValueName(StreamingEngine* engine)
{
    BuildNames(engine);
    return engine->SettingNames()->valueName;
}

NTSTATUS GetOldSettingValueName(StreamingEngine* engine, PWSTR buffer, size_t characters)
{
    DeviceContext* context = engine->Context();
    if (buffer == nullptr || characters == 0 || context == nullptr ||
        context->hardwareIdPrefix == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    USB_TOPOLOGY_ADDRESS address = {};
    const NTSTATUS status = engine->QueryUsbLocation(&address);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    return FormatTopology(buffer, characters, context->hardwareIdPrefix, address);
}

ULONG LoadPersistedValue(StreamingEngine* engine)
{
    ULONG value = kDefaultTransfersAhead;
    HANDLE key = nullptr;
    NTSTATUS status = OpenKey(GetSettingKeyPath(engine), KEY_READ, &key);
    if (NT_SUCCESS(status)) {
        status = QueryStoredValue(key, GetSettingValueName(engine), &value);
        ZwClose(key);
    }
    if (NT_SUCCESS(status)) {
        return value;
    }

    // The older name, directly under the driver's key. The key is opened for writing too: the
    // moved value is deleted through this handle.
    HANDLE driverKey = nullptr;
    if (!NT_SUCCESS(
            OpenKey(engine->SettingNames()->driverKeyPath, KEY_READ | KEY_SET_VALUE, &driverKey))) {
        return value;
    }
    WCHAR oldName[kOldSettingNameCharacters];
    if (NT_SUCCESS(GetOldSettingValueName(engine, oldName, kOldSettingNameCharacters))) {
        ULONG oldValue = 0xFFFFFFFF;
        if (NT_SUCCESS(QueryStoredValue(driverKey, oldName, &oldValue)) && oldValue != 0xFFFFFFFF) {
            value = oldValue;
            if (NT_SUCCESS(StorePersistedValue(engine, value))) {
                UNICODE_STRING name;
                RtlInitUnicodeString(&name, oldName);
                ZwDeleteValueKey(driverKey, &name);
            }
        }
    }
    ZwClose(driverKey);
    return value;
}

NTSTATUS StorePersistedValue(StreamingEngine* engine, ULONG value)
{
    HANDLE key = nullptr;
    NTSTATUS status = OpenKey(GetSettingKeyPath(engine), KEY_SET_VALUE, &key, true);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, GetSettingValueName(engine));
    status = ZwSetValueKey(key, &valueName, 0, REG_DWORD, &value, sizeof value);
    ZwClose(key);
    return status;
}
