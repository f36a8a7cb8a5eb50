// Registry handles name a key of the machine registry by its hive and its path, already resolved
// for the view it was opened in.
#include "win32/Registry.h"

#include <Registry/MachineRegistry.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>

#include "Utf16.h"

using Platform::Registry::Hive;
using Platform::Registry::MachineRegistry;
using Platform::Registry::Result;
using Platform::Registry::View;

namespace {

struct OpenKey
{
    Hive hive;
    std::u16string path;
    View view;
    REGSAM access;
};

struct HandleTable
{
    std::mutex mutex;
    std::map<ULONG_PTR, OpenKey> keys;
    ULONG_PTR next = 0x1000;  // far below the predefined keys
};

HandleTable& Handles()
{
    static HandleTable table;
    return table;
}

LSTATUS ToStatus(Result result)
{
    switch (result) {
        case Result::Ok:
            return ERROR_SUCCESS;
        case Result::NotFound:
        case Result::ParentMissing:
            return ERROR_FILE_NOT_FOUND;
        case Result::NoMoreEntries:
            return ERROR_NO_MORE_ITEMS;
        case Result::InvalidName:
        case Result::TooLarge:
        case Result::StoreError:
            return ERROR_INVALID_PARAMETER;
    }
    return ERROR_INVALID_PARAMETER;
}

// The key a handle names: an open handle, or a predefined root seen through a view.
std::optional<OpenKey> Lookup(HKEY key, View rootView)
{
    const auto value = reinterpret_cast<ULONG_PTR>(key);
    if (key == HKEY_LOCAL_MACHINE) {
        return OpenKey{Hive::LocalMachine, u"", rootView, KEY_READ};
    }
    if (key == HKEY_CURRENT_USER) {
        return OpenKey{Hive::CurrentUser, u"", rootView, KEY_READ};
    }
    if (key == HKEY_CLASSES_ROOT) {
        return OpenKey{
            Hive::LocalMachine,
            MachineRegistry::ResolvePath(Hive::LocalMachine, u"SOFTWARE\\Classes", rootView),
            rootView, KEY_READ};
    }
    HandleTable& table = Handles();
    std::lock_guard lock(table.mutex);
    const auto it = table.keys.find(value);
    if (it == table.keys.end()) {
        return std::nullopt;
    }
    return it->second;
}

// The open key behind a handle, with the access the call needs.
LSTATUS Use(HKEY key, REGSAM needed, OpenKey* out)
{
    const auto found = Lookup(key, View::Wow32);
    if (!found) {
        return ERROR_INVALID_HANDLE;
    }
    if ((found->access & needed) != needed) {
        return ERROR_ACCESS_DENIED;
    }
    if (!MachineRegistry::Instance().KeyExists(found->hive, found->path)) {
        return ERROR_KEY_DELETED;
    }
    *out = *found;
    return ERROR_SUCCESS;
}

void Store(LPDWORD out, size_t value)
{
    if (out != nullptr) {
        *out = static_cast<DWORD>(value);
    }
}

}  // namespace

LSTATUS WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result)
{
    if (result == nullptr || options != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    if (key == HKEY_USERS) {
        return ERROR_FILE_NOT_FOUND;
    }
    const View view = (access & KEY_WOW64_64KEY) ? View::Native : View::Wow32;
    const auto parent = Lookup(key, view);
    if (!parent) {
        return ERROR_INVALID_HANDLE;
    }
    std::u16string path = parent->path;
    const std::u16string_view relative = Win32Internal::TerminatedView(subKey);
    if (!relative.empty()) {
        if (!path.empty()) {
            path += u'\\';
        }
        path += relative;
    }
    path = MachineRegistry::ResolvePath(parent->hive, path, view);
    if (!MachineRegistry::Instance().KeyExists(parent->hive, path)) {
        return ERROR_FILE_NOT_FOUND;
    }
    HandleTable& table = Handles();
    std::lock_guard lock(table.mutex);
    const ULONG_PTR handle = table.next;
    table.next += 4;
    table.keys.emplace(handle, OpenKey{parent->hive, path, view, access});
    *result = reinterpret_cast<HKEY>(handle);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY key)
{
    HandleTable& table = Handles();
    std::lock_guard lock(table.mutex);
    return table.keys.erase(reinterpret_cast<ULONG_PTR>(key)) == 1 ? ERROR_SUCCESS
                                                                   : ERROR_INVALID_HANDLE;
}

LSTATUS WINAPI RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type,
                                LPBYTE data, LPDWORD dataSize)
{
    if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    OpenKey open;
    if (const LSTATUS status = Use(key, KEY_QUERY_VALUE, &open); status != ERROR_SUCCESS) {
        return status;
    }
    Platform::Registry::Value value;
    const Result result = MachineRegistry::Instance().GetValue(
        open.hive, open.path, Win32Internal::TerminatedView(valueName), View::Native, &value);
    if (result != Result::Ok) {
        return ToStatus(result);
    }
    Store(type, value.type);
    if (data != nullptr) {
        if (*dataSize < value.data.size()) {
            *dataSize = static_cast<DWORD>(value.data.size());
            return ERROR_MORE_DATA;
        }
        std::copy(value.data.begin(), value.data.end(), data);
    }
    Store(dataSize, value.data.size());
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classLength, LPDWORD reserved,
                                LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                                LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                                LPDWORD securityDescriptorLength, PFILETIME lastWriteTime)
{
    if (reserved != nullptr || (keyClass != nullptr && classLength == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    OpenKey open;
    if (const LSTATUS status = Use(key, KEY_QUERY_VALUE, &open); status != ERROR_SUCCESS) {
        return status;
    }
    const MachineRegistry& registry = MachineRegistry::Instance();
    size_t subKeyCount = 0, longestSubKey = 0;
    std::u16string name;
    while (registry.EnumerateSubkey(open.hive, open.path, View::Native, subKeyCount, &name) ==
           Result::Ok) {
        ++subKeyCount;
        longestSubKey = std::max(longestSubKey, name.size());
    }
    size_t valueCount = 0, longestName = 0, largestValue = 0;
    Platform::Registry::Value value;
    while (registry.EnumerateValue(open.hive, open.path, View::Native, valueCount, &name, &value) ==
           Result::Ok) {
        ++valueCount;
        longestName = std::max(longestName, name.size());
        largestValue = std::max(largestValue, value.data.size());
    }
    if (keyClass != nullptr) {
        if (*classLength == 0) {
            return ERROR_MORE_DATA;
        }
        keyClass[0] = u'\0';
    }
    Store(classLength, 0);
    Store(subKeys, subKeyCount);
    Store(maxSubKeyLength, longestSubKey);
    Store(maxClassLength, 0);
    Store(values, valueCount);
    Store(maxValueNameLength, longestName);
    Store(maxValueLength, largestValue);
    Store(securityDescriptorLength, 0);
    if (lastWriteTime != nullptr) {
        *lastWriteTime = FILETIME{0, 0};
    }
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength,
                             LPDWORD reserved, LPWSTR keyClass, LPDWORD classLength,
                             PFILETIME lastWriteTime)
{
    if (name == nullptr || nameLength == nullptr || reserved != nullptr ||
        (keyClass != nullptr && classLength == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    OpenKey open;
    if (const LSTATUS status = Use(key, KEY_ENUMERATE_SUB_KEYS, &open); status != ERROR_SUCCESS) {
        return status;
    }
    std::u16string found;
    const Result result = MachineRegistry::Instance().EnumerateSubkey(open.hive, open.path,
                                                                      View::Native, index, &found);
    if (result != Result::Ok) {
        return ToStatus(result);
    }
    if (found.size() >= *nameLength) {
        return ERROR_MORE_DATA;
    }
    std::memcpy(name, found.data(), found.size() * sizeof(WCHAR));
    name[found.size()] = u'\0';
    *nameLength = static_cast<DWORD>(found.size());
    if (keyClass != nullptr) {
        if (*classLength == 0) {
            return ERROR_MORE_DATA;
        }
        keyClass[0] = u'\0';
        *classLength = 0;
    }
    if (lastWriteTime != nullptr) {
        *lastWriteTime = FILETIME{0, 0};
    }
    return ERROR_SUCCESS;
}
