#pragma once
// The advapi32 registry functions the panel calls, over the machine's one registry
// (Registry/MachineRegistry.h), read-only.
//
// The panel is a 32-bit program: HKEY_LOCAL_MACHINE\Software is seen through its 32-bit view
// (Software\Wow6432Node) unless a key is opened with KEY_WOW64_64KEY. HKEY_CLASSES_ROOT reads
// HKEY_LOCAL_MACHINE\Software\Classes; HKEY_USERS holds nothing here. Handles check the access they
// were opened with: values need KEY_QUERY_VALUE, sub-key lists KEY_ENUMERATE_SUB_KEYS.

#include "win32/FileApi.h"
#include "win32/LastError.h"
#include "win32/Types.h"

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LSTATUS = LONG;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using PFILETIME = FILETIME*;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000002u)))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000003u)))

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
inline constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
inline constexpr REGSAM READ_CONTROL = 0x00020000;
inline constexpr REGSAM KEY_READ =
    READ_CONTROL | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_QWORD = 11;

// subKey null or empty opens another handle to the key itself.
LSTATUS WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);
LSTATUS WINAPI RegCloseKey(HKEY key);
// data null: the type and the size in bytes only. A buffer that is too small gets nothing:
// ERROR_MORE_DATA with the size needed. valueName null or empty is the key's default value.
LSTATUS WINAPI RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type,
                                LPBYTE data, LPDWORD dataSize);
// Every output may be null. Lengths count characters without the terminator; the class is always
// empty, the security descriptor 0 bytes and the time 0.
LSTATUS WINAPI RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classLength, LPDWORD reserved,
                                LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                                LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                                LPDWORD securityDescriptorLength, PFILETIME lastWriteTime);
// nameLength: in, the buffer's size in characters; out, the name's length without terminator.
// ERROR_NO_MORE_ITEMS past the last sub-key; ERROR_MORE_DATA when the name does not fit.
LSTATUS WINAPI RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength,
                             LPDWORD reserved, LPWSTR keyClass, LPDWORD classLength,
                             PFILETIME lastWriteTime);
