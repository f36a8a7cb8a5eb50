// The program's compiled-in resources: tables registered before main, searched in order.

#include <vector>

#include "win32/LastError.h"
#include "win32/ResourceTable.h"
#include "win32/Resources.h"

namespace {

struct RegisteredTable
{
    const Win32ResourceEntry* entries;
    size_t count;
};

// Built on first use, so a table registered by another unit's static initialiser finds it; never
// destroyed, so a resource read during teardown still finds its table.
std::vector<RegisteredTable>& Tables()
{
    static auto* const tables = new std::vector<RegisteredTable>();
    return *tables;
}

struct ProgramModule
{
};
ProgramModule programModule;

bool IsProgram(HMODULE module)
{
    return module == nullptr || module == GetProgramModuleHandle();
}

WCHAR UpperAscii(WCHAR c)
{
    return (c >= u'a' && c <= u'z') ? static_cast<WCHAR>(c - (u'a' - u'A')) : c;
}

// The stored side is upper case already.
bool SameName(LPCWSTR given, const WCHAR* stored)
{
    for (; *given != 0 && *stored != 0; ++given, ++stored) {
        if (UpperAscii(*given) != *stored) {
            return false;
        }
    }
    return *given == *stored;
}

// The entry a handle stands for, or null when no table holds it: a handle is only ever the
// address of a registered entry, so a lying caller is refused instead of read through.
const Win32ResourceEntry* EntryOf(const void* handle)
{
    for (const RegisteredTable& table : Tables()) {
        for (size_t i = 0; i < table.count; ++i) {
            if (&table.entries[i] == handle) {
                return &table.entries[i];
            }
        }
    }
    return nullptr;
}

}  // namespace

Win32ResourceTableRegistration::Win32ResourceTableRegistration(const Win32ResourceEntry* entries,
                                                               size_t count)
{
    Tables().push_back({entries, count});
}

HMODULE WINAPI GetProgramModuleHandle()
{
    return reinterpret_cast<HMODULE>(&programModule);
}

HRSRC WINAPI FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type)
{
    if (!IsProgram(module)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    if (name == nullptr || type == nullptr || IS_INTRESOURCE(name) || IS_INTRESOURCE(type)) {
        SetLastError(type == nullptr || IS_INTRESOURCE(type) ? ERROR_RESOURCE_TYPE_NOT_FOUND
                                                             : ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    bool typeFound = false;
    for (const RegisteredTable& table : Tables()) {
        for (size_t i = 0; i < table.count; ++i) {
            const Win32ResourceEntry& entry = table.entries[i];
            if (!SameName(type, entry.type)) {
                continue;
            }
            typeFound = true;
            if (SameName(name, entry.name)) {
                return reinterpret_cast<HRSRC>(const_cast<Win32ResourceEntry*>(&entry));
            }
        }
    }
    SetLastError(typeFound ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
}

HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource)
{
    if (!IsProgram(module) || EntryOf(resource) == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return reinterpret_cast<HGLOBAL>(resource);
}

DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource)
{
    const Win32ResourceEntry* entry = IsProgram(module) ? EntryOf(resource) : nullptr;
    if (entry == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return entry->size;
}

LPVOID WINAPI LockResource(HGLOBAL loaded)
{
    const Win32ResourceEntry* entry = EntryOf(loaded);
    if (entry == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return const_cast<BYTE*>(entry->bytes);
}
