// Basic kernel types, as driver code spells them. Wide characters are UTF-16 (char16_t).
#pragma once

#include <cstddef>
#include <cstdint>

#define VOID void
#define IN
#define OUT
#define OPTIONAL
#define NTAPI
#define FORCEINLINE inline

typedef void* PVOID;
typedef int8_t CHAR;
typedef int8_t CCHAR;
typedef uint8_t UCHAR;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef size_t SIZE_T;
typedef uint8_t BOOLEAN;
typedef char16_t WCHAR;
typedef WCHAR* PWCH;
typedef WCHAR* PWSTR;
typedef const WCHAR* PCWSTR;
typedef char* PCHAR;
typedef const char* PCSTR;
typedef UCHAR* PUCHAR;
typedef USHORT* PUSHORT;
typedef LONG* PLONG;
typedef ULONG* PULONG;
typedef ULONG_PTR* PULONG_PTR;
typedef BOOLEAN* PBOOLEAN;
typedef void* HANDLE;
typedef HANDLE* PHANDLE;
typedef ULONG ACCESS_MASK;
typedef LONG KPRIORITY;
typedef CCHAR KPROCESSOR_MODE;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

typedef union _LARGE_INTEGER {
    struct
    {
        ULONG LowPart;
        LONG HighPart;
    };
    struct
    {
        ULONG LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef union _ULARGE_INTEGER {
    struct
    {
        ULONG LowPart;
        ULONG HighPart;
    };
    struct
    {
        ULONG LowPart;
        ULONG HighPart;
    } u;
    ULONGLONG QuadPart;
} ULARGE_INTEGER, *PULARGE_INTEGER;

typedef LARGE_INTEGER PHYSICAL_ADDRESS, *PPHYSICAL_ADDRESS;

typedef struct _UNICODE_STRING
{
    USHORT Length;         // bytes, without a terminator
    USHORT MaximumLength;  // bytes of Buffer
    PWCH Buffer;
} UNICODE_STRING, *PUNICODE_STRING;
typedef const UNICODE_STRING* PCUNICODE_STRING;

typedef struct _GUID
{
    ULONG Data1;
    USHORT Data2;
    USHORT Data3;
    UCHAR Data4[8];
} GUID;
typedef const GUID& REFGUID;

typedef struct _LIST_ENTRY
{
    struct _LIST_ENTRY* Flink;
    struct _LIST_ENTRY* Blink;
} LIST_ENTRY, *PLIST_ENTRY;

typedef struct _SINGLE_LIST_ENTRY
{
    struct _SINGLE_LIST_ENTRY* Next;
} SINGLE_LIST_ENTRY, *PSINGLE_LIST_ENTRY;

typedef UCHAR KIRQL;
typedef KIRQL* PKIRQL;

#define PASSIVE_LEVEL 0
#define LOW_LEVEL 0
#define APC_LEVEL 1
#define DISPATCH_LEVEL 2
#define HIGH_LEVEL 15

#define KernelMode 0
#define UserMode 1

#define ARGUMENT_PRESENT(p) ((p) != nullptr)
#define UNREFERENCED_PARAMETER(p) ((void)(p))
#define FIELD_OFFSET(type, field) offsetof(type, field)
#define CONTAINING_RECORD(address, type, field) \
    (reinterpret_cast<type*>(reinterpret_cast<char*>(address) - offsetof(type, field)))
