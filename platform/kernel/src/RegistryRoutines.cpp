// The kernel's registry routines on the machine registry. Handles name a key by its path; every
// call checks the handle, the access it was opened with, and the caller's buffers.
#include <Registry/MachineRegistry.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "KernelInternal.h"

using namespace Platform::Kernel;
using namespace Platform::Kernel::Internal;
using Platform::Registry::Hive;
using Platform::Registry::MachineRegistry;
using Platform::Registry::Result;
using Platform::Registry::View;

#define STATUS_KEY_DELETED NTSTATUS_VALUE(0xC000017C)

namespace {

struct OpenKey
{
    std::u16string path;  // under HKLM, already resolved for its view
    ACCESS_MASK access;
};

struct HandleTable
{
    std::mutex mutex;
    std::map<ULONG_PTR, OpenKey> keys;
    ULONG_PTR next = 0x1000;
};

HandleTable& Handles()
{
    static HandleTable table;
    return table;
}

constexpr std::u16string_view kMachinePrefix = u"\\REGISTRY\\MACHINE";

NTSTATUS ToStatus(Result result)
{
    switch (result) {
        case Result::Ok:
            return STATUS_SUCCESS;
        case Result::NotFound:
        case Result::ParentMissing:
            return STATUS_OBJECT_NAME_NOT_FOUND;
        case Result::InvalidName:
            return STATUS_OBJECT_NAME_INVALID;
        case Result::NoMoreEntries:
            return STATUS_NO_MORE_ENTRIES;
        case Result::TooLarge:
            return STATUS_INVALID_PARAMETER;
        case Result::StoreError:
            return STATUS_UNSUCCESSFUL;
    }
    return STATUS_UNSUCCESSFUL;
}

// A counted string from the caller, checked.
bool View16(PCUNICODE_STRING text, std::u16string_view* out)
{
    if (text == nullptr) {
        *out = {};
        return true;
    }
    if (text->Length % 2 != 0 || text->Length > text->MaximumLength ||
        (text->Buffer == nullptr && text->Length != 0)) {
        return false;
    }
    *out = std::u16string_view(text->Buffer, text->Length / 2);
    return true;
}

// "\Registry\Machine\A\B" -> "A\B".
NTSTATUS MachinePath(std::u16string_view fullName, std::u16string* path)
{
    const std::u16string folded = Platform::Registry::FoldName(fullName);
    if (folded.rfind(u"\\REGISTRY\\", 0) != 0) {
        return STATUS_OBJECT_PATH_SYNTAX_BAD;
    }
    if (folded.rfind(kMachinePrefix, 0) != 0 ||
        (folded.size() > kMachinePrefix.size() && folded[kMachinePrefix.size()] != u'\\')) {
        return STATUS_OBJECT_NAME_NOT_FOUND;  // only the machine hive is served
    }
    *path = std::u16string(fullName.substr(std::min(fullName.size(), kMachinePrefix.size() + 1)));
    return STATUS_SUCCESS;
}

NTSTATUS LookUp(HANDLE handle, ACCESS_MASK needed, OpenKey* key)
{
    HandleTable& table = Handles();
    {
        std::lock_guard lock(table.mutex);
        auto it = table.keys.find(reinterpret_cast<ULONG_PTR>(handle));
        if (it == table.keys.end()) {
            return STATUS_INVALID_HANDLE;
        }
        *key = it->second;
    }
    if ((key->access & needed) != needed) {
        return STATUS_ACCESS_DENIED;
    }
    if (!MachineRegistry::Instance().KeyExists(Hive::LocalMachine, key->path)) {
        return STATUS_KEY_DELETED;
    }
    return STATUS_SUCCESS;
}

// A handle and a value name from the caller, both checked.
NTSTATUS LookUpValue(HANDLE handle, ACCESS_MASK needed, PCUNICODE_STRING valueName, OpenKey* key,
                     std::u16string_view* name)
{
    const NTSTATUS status = LookUp(handle, needed, key);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    return View16(valueName, name) ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
}

// The key an OBJECT_ATTRIBUTES names, resolved for the view the access asks for.
NTSTATUS NameOf(POBJECT_ATTRIBUTES attributes, ACCESS_MASK access, ACCESS_MASK neededOnRoot,
                std::u16string* path)
{
    std::u16string_view name;
    if (attributes == nullptr || attributes->ObjectName == nullptr ||
        !View16(attributes->ObjectName, &name)) {
        return STATUS_INVALID_PARAMETER;
    }
    std::u16string raw;
    if (attributes->RootDirectory != nullptr) {
        OpenKey root;
        const NTSTATUS status = LookUp(attributes->RootDirectory, neededOnRoot, &root);
        if (!NT_SUCCESS(status)) {
            return status;
        }
        if (!name.empty() && name.front() == u'\\') {
            return STATUS_OBJECT_PATH_SYNTAX_BAD;
        }
        raw = root.path.empty() ? std::u16string(name) : root.path + u'\\' + std::u16string(name);
    } else {
        const NTSTATUS status = MachinePath(name, &raw);
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }
    const View view = (access & KEY_WOW64_32KEY) != 0 ? View::Wow32 : View::Native;
    *path = MachineRegistry::ResolvePath(Hive::LocalMachine, raw, view);
    return STATUS_SUCCESS;
}

HANDLE NewHandle(const std::u16string& path, ACCESS_MASK access)
{
    HandleTable& table = Handles();
    std::lock_guard lock(table.mutex);
    const ULONG_PTR value = table.next;
    table.next += 4;
    table.keys[value] = OpenKey{path, access};
    return reinterpret_cast<HANDLE>(value);
}

ACCESS_MASK Expand(ACCESS_MASK access)
{
    return access == KEY_ALL_ACCESS ? (KEY_READ | KEY_WRITE | KEY_CREATE_LINK) : access;
}

// Copies a record that is `total` bytes long with a fixed part of `fixed` bytes, as the
// registry routines answer: too small for the fixed part, only the fixed part, or all of it.
NTSTATUS Answer(const std::vector<uint8_t>& record, size_t fixed, PVOID buffer, ULONG length,
                PULONG resultLength)
{
    if (resultLength == nullptr || (buffer == nullptr && length != 0)) {
        return STATUS_INVALID_PARAMETER;
    }
    *resultLength = static_cast<ULONG>(record.size());
    if (length < fixed) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    if (length < record.size()) {
        std::memcpy(buffer, record.data(), fixed);
        return STATUS_BUFFER_OVERFLOW;
    }
    std::memcpy(buffer, record.data(), record.size());
    return STATUS_SUCCESS;
}

template <typename T>
void Put(std::vector<uint8_t>& record, size_t offset, T value)
{
    std::memcpy(record.data() + offset, &value, sizeof value);
}

void PutName(std::vector<uint8_t>& record, size_t offset, std::u16string_view name)
{
    std::memcpy(record.data() + offset, name.data(), name.size() * 2);
}

const std::u16string_view kRelativeRoots[] = {
    u"",
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Services",
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Control",
    u"\\Registry\\Machine\\Software\\Microsoft\\Windows NT\\CurrentVersion",
    u"\\Registry\\Machine\\Hardware\\DeviceMap",
};

NTSTATUS RelativePath(ULONG relativeTo, PCWSTR path, std::u16string* machinePath)
{
    relativeTo &= ~static_cast<ULONG>(RTL_REGISTRY_OPTIONAL);
    if (relativeTo >= std::size(kRelativeRoots)) {
        return STATUS_INVALID_PARAMETER;
    }
    std::u16string full(kRelativeRoots[relativeTo]);
    const std::u16string_view tail = path == nullptr ? std::u16string_view() : path;
    if (relativeTo == RTL_REGISTRY_ABSOLUTE) {
        full = tail;
    } else if (!tail.empty()) {
        full += tail.front() == u'\\' ? std::u16string(tail) : u'\\' + std::u16string(tail);
    }
    return MachinePath(full, machinePath);
}

std::u16string_view ZeroTerminated(PCWSTR text)
{
    return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}

// Hands one value to a DIRECT entry's EntryContext.
NTSTATUS DeliverDirect(ULONG type, const uint8_t* data, size_t size, PVOID entryContext)
{
    if (entryContext == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
        auto* destination = static_cast<PUNICODE_STRING>(entryContext);
        if (destination->Buffer == nullptr) {
            return STATUS_INVALID_PARAMETER;  // the caller provides the buffer
        }
        size_t bytes = size & ~size_t{1};
        if (bytes >= 2 && data[bytes - 2] == 0 && data[bytes - 1] == 0) {
            bytes -= 2;
        }
        if (bytes > destination->MaximumLength || bytes > 0xFFFE) {
            return STATUS_BUFFER_TOO_SMALL;
        }
        if (bytes != 0) {
            std::memcpy(destination->Buffer, data, bytes);
        }
        destination->Length = static_cast<USHORT>(bytes);
        if (bytes + 2 <= destination->MaximumLength) {
            destination->Buffer[bytes / 2] = 0;
        }
        return STATUS_SUCCESS;
    }
    if (size <= sizeof(ULONG)) {
        if (size != 0) {
            std::memcpy(entryContext, data, size);
        }
        return STATUS_SUCCESS;
    }
    LONG declared;
    std::memcpy(&declared, entryContext, sizeof declared);
    auto* out = static_cast<uint8_t*>(entryContext);
    if (declared < 0) {
        const size_t capacity = static_cast<size_t>(-static_cast<LONGLONG>(declared));
        if (2 * sizeof(ULONG) + size > capacity) {
            return STATUS_BUFFER_TOO_SMALL;
        }
        const ULONG length = static_cast<ULONG>(size);
        std::memcpy(out, &length, sizeof length);
        std::memcpy(out + sizeof(ULONG), &type, sizeof type);
        std::memcpy(out + 2 * sizeof(ULONG), data, size);
        return STATUS_SUCCESS;
    }
    if (size > static_cast<size_t>(declared)) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    std::memcpy(out, data, size);
    return STATUS_SUCCESS;
}

Platform::Kernel::ValueQueryHook& QueryHook()
{
    static Platform::Kernel::ValueQueryHook hook;
    return hook;
}

}  // namespace

namespace Platform::Kernel {

void SetValueQueryHook(ValueQueryHook hook)
{
    QueryHook() = std::move(hook);
}

size_t OpenRegistryHandleCount()
{
    HandleTable& table = Handles();
    std::lock_guard lock(table.mutex);
    return table.keys.size();
}

namespace Internal {

void ResetRegistryHandles()
{
    HandleTable& table = Handles();
    {
        std::lock_guard lock(table.mutex);
        table.keys.clear();
    }
    QueryHook() = nullptr;
    MachineRegistry::Instance().Open({});
}

}  // namespace Internal
}  // namespace Platform::Kernel

NTSTATUS ZwOpenKey(PHANDLE keyHandle, ACCESS_MASK desiredAccess,
                   POBJECT_ATTRIBUTES objectAttributes)
{
    RequirePassive("ZwOpenKey");
    if (keyHandle == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    std::u16string path;
    const NTSTATUS status = NameOf(objectAttributes, desiredAccess, 0, &path);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (!MachineRegistry::Instance().KeyExists(Hive::LocalMachine, path)) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    *keyHandle = NewHandle(path, Expand(desiredAccess));
    return STATUS_SUCCESS;
}

NTSTATUS ZwCreateKey(PHANDLE keyHandle, ACCESS_MASK desiredAccess,
                     POBJECT_ATTRIBUTES objectAttributes, ULONG, PUNICODE_STRING,
                     ULONG createOptions, PULONG disposition)
{
    RequirePassive("ZwCreateKey");
    if (keyHandle == nullptr || createOptions != REG_OPTION_NON_VOLATILE) {
        return STATUS_INVALID_PARAMETER;  // volatile keys are not offered
    }
    std::u16string path;
    NTSTATUS status = NameOf(objectAttributes, desiredAccess, KEY_CREATE_SUB_KEY, &path);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    bool created = false;
    status = ToStatus(
        MachineRegistry::Instance().CreateKey(Hive::LocalMachine, path, View::Native, &created));
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (disposition != nullptr) {
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    *keyHandle = NewHandle(path, Expand(desiredAccess));
    return STATUS_SUCCESS;
}

NTSTATUS ZwQueryValueKey(HANDLE keyHandle, PUNICODE_STRING valueName,
                         KEY_VALUE_INFORMATION_CLASS keyValueInformationClass,
                         PVOID keyValueInformation, ULONG length, PULONG resultLength)
{
    RequirePassive("ZwQueryValueKey");
    OpenKey key;
    std::u16string_view name;
    NTSTATUS status = LookUpValue(keyHandle, KEY_QUERY_VALUE, valueName, &key, &name);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (QueryHook()) {
        QueryHook()(key.path, name);
    }
    Platform::Registry::Value value;
    status = ToStatus(MachineRegistry::Instance().GetValue(Hive::LocalMachine, key.path, name,
                                                           View::Native, &value));
    if (!NT_SUCCESS(status)) {
        return status;
    }
    const size_t nameBytes = name.size() * 2;
    std::vector<uint8_t> record;
    size_t fixed;
    switch (keyValueInformationClass) {
        case KeyValueBasicInformation:
            fixed = offsetof(KEY_VALUE_BASIC_INFORMATION, Name);
            record.assign(fixed + nameBytes, 0);
            Put<ULONG>(record, offsetof(KEY_VALUE_BASIC_INFORMATION, Type), value.type);
            Put<ULONG>(record, offsetof(KEY_VALUE_BASIC_INFORMATION, NameLength),
                       static_cast<ULONG>(nameBytes));
            PutName(record, fixed, name);
            break;
        case KeyValueFullInformation: {
            fixed = offsetof(KEY_VALUE_FULL_INFORMATION, Name);
            const size_t dataOffset = (fixed + nameBytes + 7) & ~size_t{7};
            record.assign(dataOffset + value.data.size(), 0);
            Put<ULONG>(record, offsetof(KEY_VALUE_FULL_INFORMATION, Type), value.type);
            Put<ULONG>(record, offsetof(KEY_VALUE_FULL_INFORMATION, DataOffset),
                       static_cast<ULONG>(dataOffset));
            Put<ULONG>(record, offsetof(KEY_VALUE_FULL_INFORMATION, DataLength),
                       static_cast<ULONG>(value.data.size()));
            Put<ULONG>(record, offsetof(KEY_VALUE_FULL_INFORMATION, NameLength),
                       static_cast<ULONG>(nameBytes));
            PutName(record, fixed, name);
            std::copy(value.data.begin(), value.data.end(), record.begin() + dataOffset);
            break;
        }
        case KeyValuePartialInformation:
            fixed = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);
            record.assign(fixed + value.data.size(), 0);
            Put<ULONG>(record, offsetof(KEY_VALUE_PARTIAL_INFORMATION, Type), value.type);
            Put<ULONG>(record, offsetof(KEY_VALUE_PARTIAL_INFORMATION, DataLength),
                       static_cast<ULONG>(value.data.size()));
            std::copy(value.data.begin(), value.data.end(), record.begin() + fixed);
            break;
        default:
            return STATUS_INVALID_PARAMETER;
    }
    return Answer(record, fixed, keyValueInformation, length, resultLength);
}

NTSTATUS ZwSetValueKey(HANDLE keyHandle, PUNICODE_STRING valueName, ULONG, ULONG type, PVOID data,
                       ULONG dataSize)
{
    RequirePassive("ZwSetValueKey");
    OpenKey key;
    std::u16string_view name;
    const NTSTATUS status = LookUpValue(keyHandle, KEY_SET_VALUE, valueName, &key, &name);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (data == nullptr && dataSize != 0) {
        return STATUS_INVALID_PARAMETER;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    Platform::Registry::Value value{type, std::vector<uint8_t>(bytes, bytes + dataSize)};
    return ToStatus(
        MachineRegistry::Instance().SetValue(Hive::LocalMachine, key.path, name, value));
}

NTSTATUS ZwDeleteValueKey(HANDLE keyHandle, PUNICODE_STRING valueName)
{
    RequirePassive("ZwDeleteValueKey");
    OpenKey key;
    std::u16string_view name;
    const NTSTATUS status = LookUpValue(keyHandle, KEY_SET_VALUE, valueName, &key, &name);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    return ToStatus(MachineRegistry::Instance().DeleteValue(Hive::LocalMachine, key.path, name));
}

NTSTATUS ZwEnumerateKey(HANDLE keyHandle, ULONG index, KEY_INFORMATION_CLASS keyInformationClass,
                        PVOID keyInformation, ULONG length, PULONG resultLength)
{
    RequirePassive("ZwEnumerateKey");
    OpenKey key;
    NTSTATUS status = LookUp(keyHandle, KEY_ENUMERATE_SUB_KEYS, &key);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (keyInformationClass != KeyBasicInformation) {
        return STATUS_INVALID_PARAMETER;
    }
    std::u16string name;
    status = ToStatus(MachineRegistry::Instance().EnumerateSubkey(Hive::LocalMachine, key.path,
                                                                  View::Native, index, &name));
    if (!NT_SUCCESS(status)) {
        return status;
    }
    const size_t fixed = offsetof(KEY_BASIC_INFORMATION, Name);
    std::vector<uint8_t> record(fixed + name.size() * 2, 0);
    Put<ULONG>(record, offsetof(KEY_BASIC_INFORMATION, NameLength),
               static_cast<ULONG>(name.size() * 2));
    PutName(record, fixed, name);
    return Answer(record, fixed, keyInformation, length, resultLength);
}

NTSTATUS ZwClose(HANDLE handle)
{
    RequirePassive("ZwClose");
    HandleTable& table = Handles();
    std::lock_guard lock(table.mutex);
    return table.keys.erase(reinterpret_cast<ULONG_PTR>(handle)) == 1 ? STATUS_SUCCESS
                                                                      : STATUS_INVALID_HANDLE;
}

NTSTATUS RtlQueryRegistryValues(ULONG relativeTo, PCWSTR path, PRTL_QUERY_REGISTRY_TABLE queryTable,
                                PVOID context, PVOID)
{
    RequirePassive("RtlQueryRegistryValues");
    std::u16string keyPath;
    NTSTATUS status = RelativePath(relativeTo, path, &keyPath);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    MachineRegistry& registry = MachineRegistry::Instance();
    keyPath = MachineRegistry::ResolvePath(Hive::LocalMachine, keyPath, View::Native);
    if (!registry.KeyExists(Hive::LocalMachine, keyPath)) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    constexpr ULONG kSupported = RTL_QUERY_REGISTRY_REQUIRED | RTL_QUERY_REGISTRY_NOEXPAND |
                                 RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_TYPECHECK;
    for (auto* entry = queryTable; entry->QueryRoutine != nullptr || entry->Name != nullptr;
         ++entry) {
        if ((entry->Flags & ~kSupported) != 0) {
            return STATUS_NOT_IMPLEMENTED;  // subkey and delete forms are not offered
        }
        const bool direct = (entry->Flags & RTL_QUERY_REGISTRY_DIRECT) != 0;
        if (entry->Name == nullptr || (!direct && entry->QueryRoutine == nullptr)) {
            return STATUS_INVALID_PARAMETER;
        }
        const bool typeCheck = direct && (entry->Flags & RTL_QUERY_REGISTRY_TYPECHECK) != 0;
        const ULONG defaultType = typeCheck
                                      ? entry->DefaultType & ~RTL_QUERY_REGISTRY_TYPECHECK_MASK
                                      : entry->DefaultType;
        Platform::Registry::Value value;
        const Result found = registry.GetValue(Hive::LocalMachine, keyPath,
                                               ZeroTerminated(entry->Name), View::Native, &value);
        if (found != Result::Ok) {
            if ((entry->Flags & RTL_QUERY_REGISTRY_REQUIRED) != 0) {
                return STATUS_OBJECT_NAME_NOT_FOUND;
            }
            if (defaultType == REG_NONE) {
                continue;
            }
            const auto* bytes = static_cast<const uint8_t*>(entry->DefaultData);
            size_t size = entry->DefaultLength;
            if (size == 0 && defaultType == REG_SZ && bytes != nullptr) {
                size = (ZeroTerminated(static_cast<PCWSTR>(entry->DefaultData)).size() + 1) * 2;
            }
            value.type = defaultType;
            value.data.assign(bytes, bytes == nullptr ? bytes : bytes + size);
        }
        if (typeCheck && value.type != entry->DefaultType >> RTL_QUERY_REGISTRY_TYPECHECK_SHIFT) {
            return STATUS_OBJECT_TYPE_MISMATCH;
        }
        status = direct ? DeliverDirect(value.type, value.data.data(), value.data.size(),
                                        entry->EntryContext)
                        : entry->QueryRoutine(entry->Name, value.type, value.data.data(),
                                              static_cast<ULONG>(value.data.size()), context,
                                              entry->EntryContext);
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }
    return STATUS_SUCCESS;
}

NTSTATUS RtlWriteRegistryValue(ULONG relativeTo, PCWSTR path, PCWSTR valueName, ULONG valueType,
                               PVOID valueData, ULONG valueLength)
{
    RequirePassive("RtlWriteRegistryValue");
    std::u16string keyPath;
    const NTSTATUS status = RelativePath(relativeTo, path, &keyPath);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (valueData == nullptr && valueLength != 0) {
        return STATUS_INVALID_PARAMETER;
    }
    MachineRegistry& registry = MachineRegistry::Instance();
    if (!keyPath.empty()) {
        const Result created =
            registry.CreateKey(Hive::LocalMachine, keyPath, View::Native, nullptr);
        if (created != Result::Ok) {
            return ToStatus(created);
        }
    }
    const auto* bytes = static_cast<const uint8_t*>(valueData);
    return ToStatus(registry.SetValue(
        Hive::LocalMachine, keyPath, ZeroTerminated(valueName),
        Platform::Registry::Value{valueType, std::vector<uint8_t>(bytes, bytes + valueLength)}));
}
