#pragma once
// The basic types of the Win32 API as the panel's code names them. Sizes follow Windows, not the
// Linux ABI: LONG and DWORD are 32 bits and WCHAR is a UTF-16 unit (char16_t), whatever the
// width of wchar_t here.

#include <cstddef>
#include <cstdint>
#include <cstring>

#define WINAPI
#define CALLBACK
#define APIENTRY

using BOOL = int;
using BOOLEAN = unsigned char;
using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using UINT = unsigned int;
using INT = int;
using LONG = int32_t;
using ULONG = uint32_t;
using SHORT = int16_t;
using USHORT = uint16_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using INT_PTR = intptr_t;
using UINT_PTR = uintptr_t;
using LONG_PTR = intptr_t;
using ULONG_PTR = uintptr_t;
using SIZE_T = size_t;

using CHAR = char;
using WCHAR = char16_t;
using LPSTR = CHAR*;
using LPCSTR = const CHAR*;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPVOID = void*;
using LPCVOID = const void*;

using HANDLE = void*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
// An exported entry point as GetProcAddress hands it out; callers cast it to its real type. The
// type takes and returns nothing because that is the one the compiler lets callers cast to any
// other function type without a warning.
using FARPROC = void (*)();

// An interface or class identifier, field for field the kernel layer's GUID, so identifiers pass
// between the driver's side and the panel's unchanged.
struct GUID
{
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
using REFGUID = const GUID&;
static_assert(sizeof(GUID) == 16 && alignof(GUID) == 4 && offsetof(GUID, Data2) == 4 &&
                  offsetof(GUID, Data3) == 6 && offsetof(GUID, Data4) == 8,
              "the kernel layer's GUID layout");

// Equal when every field is.
inline bool operator==(const GUID& a, const GUID& b)
{
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
