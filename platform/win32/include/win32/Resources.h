#pragma once
// The program's resources: named blocks of bytes of a named type, compiled into the program from
// its resource folder (see win32/ResourceTable.h). Names and types compare without regard to
// letter case, as the resource compiler stores them upper-cased.
//
// A null module, or the handle that GetProgramModuleHandle gives, is the program itself; no other
// module carries resources here. Integer names and types (MAKEINTRESOURCE) are never found.

#include "win32/GlobalMemory.h"
#include "win32/Types.h"

struct HRSRC__;
using HRSRC = HRSRC__*;

inline constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
inline constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
inline constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

#define MAKEINTRESOURCEW(id) \
    (reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(id))))
#define IS_INTRESOURCE(name) ((reinterpret_cast<ULONG_PTR>(name) >> 16) == 0)

// Null, with ERROR_RESOURCE_TYPE_NOT_FOUND or ERROR_RESOURCE_NAME_NOT_FOUND, when the module has
// no such resource; ERROR_RESOURCE_DATA_NOT_FOUND for a module without resources.
HRSRC WINAPI FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
// The resource's bytes as a handle for LockResource (not a global memory block: it is never
// freed). Null, with ERROR_INVALID_HANDLE, for a handle FindResourceW did not give.
HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource);
// The size in bytes; 0 for a handle FindResourceW did not give.
DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource);
// The first byte, valid for the program's life; null for a handle LoadResource did not give.
LPVOID WINAPI LockResource(HGLOBAL loaded);

// The program's own module, where FindResourceW looks for the resources compiled into it.
HMODULE WINAPI GetProgramModuleHandle();

#define FindResource FindResourceW
