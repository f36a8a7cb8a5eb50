// The registry as the kernel offers it: keys opened by full name ("\Registry\Machine\..."),
// handles, and the Rtl helpers. Every routine here needs PASSIVE_LEVEL.
#pragma once

#include "wdm/NtStatus.h"
#include "wdm/NtTypes.h"

typedef struct _OBJECT_ATTRIBUTES
{
    ULONG Length;
    HANDLE RootDirectory;  // a key handle the name is relative to, or null
    PUNICODE_STRING ObjectName;
    ULONG Attributes;
    PVOID SecurityDescriptor;
    PVOID SecurityQualityOfService;
} OBJECT_ATTRIBUTES, *POBJECT_ATTRIBUTES;

#define OBJ_CASE_INSENSITIVE 0x00000040L
#define OBJ_KERNEL_HANDLE 0x00000200L

#define InitializeObjectAttributes(p, n, a, r, s) \
    do {                                          \
        (p)->Length = sizeof(OBJECT_ATTRIBUTES);  \
        (p)->RootDirectory = (r);                 \
        (p)->Attributes = (a);                    \
        (p)->ObjectName = (n);                    \
        (p)->SecurityDescriptor = (s);            \
        (p)->SecurityQualityOfService = nullptr;  \
    } while (0)

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define READ_CONTROL 0x00020000
#define KEY_READ (READ_CONTROL | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY)
#define KEY_WRITE (READ_CONTROL | KEY_SET_VALUE | KEY_CREATE_SUB_KEY)
#define KEY_ALL_ACCESS 0x000F003F

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_LINK 6
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define REG_OPTION_NON_VOLATILE 0x00000000L
#define REG_CREATED_NEW_KEY 0x00000001L
#define REG_OPENED_EXISTING_KEY 0x00000002L

typedef enum _KEY_VALUE_INFORMATION_CLASS
{
    KeyValueBasicInformation = 0,
    KeyValueFullInformation = 1,
    KeyValuePartialInformation = 2,
} KEY_VALUE_INFORMATION_CLASS;

typedef struct _KEY_VALUE_BASIC_INFORMATION
{
    ULONG TitleIndex;
    ULONG Type;
    ULONG NameLength;  // bytes
    WCHAR Name[1];
} KEY_VALUE_BASIC_INFORMATION, *PKEY_VALUE_BASIC_INFORMATION;

typedef struct _KEY_VALUE_FULL_INFORMATION
{
    ULONG TitleIndex;
    ULONG Type;
    ULONG DataOffset;  // bytes from the start of this record, 8-byte aligned
    ULONG DataLength;
    ULONG NameLength;  // bytes
    WCHAR Name[1];
} KEY_VALUE_FULL_INFORMATION, *PKEY_VALUE_FULL_INFORMATION;

typedef struct _KEY_VALUE_PARTIAL_INFORMATION
{
    ULONG TitleIndex;
    ULONG Type;
    ULONG DataLength;
    UCHAR Data[1];
} KEY_VALUE_PARTIAL_INFORMATION, *PKEY_VALUE_PARTIAL_INFORMATION;

typedef enum _KEY_INFORMATION_CLASS
{
    KeyBasicInformation = 0,
} KEY_INFORMATION_CLASS;

typedef struct _KEY_BASIC_INFORMATION
{
    LARGE_INTEGER LastWriteTime;
    ULONG TitleIndex;
    ULONG NameLength;  // bytes
    WCHAR Name[1];
} KEY_BASIC_INFORMATION, *PKEY_BASIC_INFORMATION;

// A record that does not fit: STATUS_BUFFER_TOO_SMALL when not even its fixed part fits,
// STATUS_BUFFER_OVERFLOW (fixed part filled) otherwise; resultLength always gives the full size.
NTSTATUS ZwOpenKey(PHANDLE keyHandle, ACCESS_MASK desiredAccess,
                   POBJECT_ATTRIBUTES objectAttributes);
// Creates the last component of the name only: a missing parent fails.
NTSTATUS ZwCreateKey(PHANDLE keyHandle, ACCESS_MASK desiredAccess,
                     POBJECT_ATTRIBUTES objectAttributes, ULONG titleIndex,
                     PUNICODE_STRING keyClass, ULONG createOptions, PULONG disposition);
NTSTATUS ZwQueryValueKey(HANDLE keyHandle, PUNICODE_STRING valueName,
                         KEY_VALUE_INFORMATION_CLASS keyValueInformationClass,
                         PVOID keyValueInformation, ULONG length, PULONG resultLength);
NTSTATUS ZwSetValueKey(HANDLE keyHandle, PUNICODE_STRING valueName, ULONG titleIndex, ULONG type,
                       PVOID data, ULONG dataSize);
NTSTATUS ZwDeleteValueKey(HANDLE keyHandle, PUNICODE_STRING valueName);
NTSTATUS ZwEnumerateKey(HANDLE keyHandle, ULONG index, KEY_INFORMATION_CLASS keyInformationClass,
                        PVOID keyInformation, ULONG length, PULONG resultLength);
NTSTATUS ZwClose(HANDLE handle);

// Registry paths relative to well-known keys.
#define RTL_REGISTRY_ABSOLUTE 0
#define RTL_REGISTRY_SERVICES 1
#define RTL_REGISTRY_CONTROL 2
#define RTL_REGISTRY_WINDOWS_NT 3
#define RTL_REGISTRY_DEVICEMAP 4
#define RTL_REGISTRY_OPTIONAL 0x80000000

typedef NTSTATUS RTL_QUERY_REGISTRY_ROUTINE(PWSTR valueName, ULONG valueType, PVOID valueData,
                                            ULONG valueLength, PVOID context, PVOID entryContext);
typedef RTL_QUERY_REGISTRY_ROUTINE* PRTL_QUERY_REGISTRY_ROUTINE;

#define RTL_QUERY_REGISTRY_REQUIRED 0x00000004
#define RTL_QUERY_REGISTRY_NOEXPAND 0x00000010
#define RTL_QUERY_REGISTRY_DIRECT 0x00000020
#define RTL_QUERY_REGISTRY_TYPECHECK 0x00000100
#define RTL_QUERY_REGISTRY_TYPECHECK_SHIFT 24
#define RTL_QUERY_REGISTRY_TYPECHECK_MASK (0xFFu << RTL_QUERY_REGISTRY_TYPECHECK_SHIFT)

typedef struct _RTL_QUERY_REGISTRY_TABLE
{
    PRTL_QUERY_REGISTRY_ROUTINE QueryRoutine;
    ULONG Flags;
    PWSTR Name;
    PVOID EntryContext;
    ULONG DefaultType;
    PVOID DefaultData;
    ULONG DefaultLength;
} RTL_QUERY_REGISTRY_TABLE, *PRTL_QUERY_REGISTRY_TABLE;

// The table ends with an entry whose QueryRoutine and Name are both null. With
// RTL_QUERY_REGISTRY_DIRECT, EntryContext receives the value: a UNICODE_STRING (with its own
// buffer) for string types; the ULONG itself for data of at most 4 bytes; otherwise a buffer
// whose first LONG gives its size: negative = -size, and the buffer receives {ULONG length,
// ULONG type, data}; positive = size, and it receives the data. With RTL_QUERY_REGISTRY_TYPECHECK
// the top byte of DefaultType names the only type the DIRECT entry accepts (a stored value of
// another type gives STATUS_OBJECT_TYPE_MISMATCH); the default's own type is in the low bytes.
NTSTATUS RtlQueryRegistryValues(ULONG relativeTo, PCWSTR path, PRTL_QUERY_REGISTRY_TABLE queryTable,
                                PVOID context, PVOID environment);
// Creates the last component of the key when it is missing.
NTSTATUS RtlWriteRegistryValue(ULONG relativeTo, PCWSTR path, PCWSTR valueName, ULONG valueType,
                               PVOID valueData, ULONG valueLength);
