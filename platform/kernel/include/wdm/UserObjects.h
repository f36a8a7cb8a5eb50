// Objects that user mode hands to the kernel: handles to dispatcher objects, and buffers
// described by memory descriptor lists.
#pragma once

#include "wdm/NtStatus.h"
#include "wdm/NtTypes.h"

struct _IRP;

// ---- Object manager ----------------------------------------------------------------------

typedef struct _OBJECT_TYPE* POBJECT_TYPE;
extern POBJECT_TYPE* ExEventObjectType;

#define DELETE 0x00010000
#define SYNCHRONIZE 0x00100000
#define EVENT_QUERY_STATE 0x0001
#define EVENT_MODIFY_STATE 0x0002
#define EVENT_ALL_ACCESS 0x001F0003

typedef struct _OBJECT_HANDLE_INFORMATION
{
    ULONG HandleAttributes;
    ACCESS_MASK GrantedAccess;
} OBJECT_HANDLE_INFORMATION, *POBJECT_HANDLE_INFORMATION;

// Looks the handle up in the calling thread's process (user mode: only that process's handles,
// checked against the access the handle grants; kernel mode: the access check is skipped) and
// takes a reference on the object. STATUS_INVALID_HANDLE for an unknown handle,
// STATUS_OBJECT_TYPE_MISMATCH for an object of another type, STATUS_ACCESS_DENIED when the handle
// does not grant desiredAccess. PASSIVE_LEVEL.
NTSTATUS ObReferenceObjectByHandle(HANDLE handle, ACCESS_MASK desiredAccess,
                                   POBJECT_TYPE objectType, KPROCESSOR_MODE accessMode,
                                   PVOID* object, POBJECT_HANDLE_INFORMATION handleInformation);
// The object lives while a handle or a reference holds it. IRQL <= DISPATCH_LEVEL.
void ObfReferenceObject(PVOID object);
void ObfDereferenceObject(PVOID object);
#define ObReferenceObject(object) ObfReferenceObject(object)
#define ObDereferenceObject(object) ObfDereferenceObject(object)

// ---- Memory descriptor lists -------------------------------------------------------------

typedef enum _LOCK_OPERATION
{
    IoReadAccess = 0,
    IoWriteAccess = 1,
    IoModifyAccess = 2,
} LOCK_OPERATION;

typedef enum _MM_PAGE_PRIORITY
{
    LowPagePriority = 0,
    NormalPagePriority = 16,
    HighPagePriority = 32,
} MM_PAGE_PRIORITY;

#define MDL_MAPPED_TO_SYSTEM_VA 0x0001
#define MDL_PAGES_LOCKED 0x0002
#define MDL_SOURCE_IS_NONPAGED_POOL 0x0004
#define MdlMappingNoExecute 0x40000000

typedef struct _MDL
{
    struct _MDL* Next;
    SHORT Size;
    SHORT MdlFlags;
    PVOID MappedSystemVa;  // set while the pages are locked
    PVOID StartVa;         // the described address, as the caller gave it
    ULONG ByteCount;
    ULONG ByteOffset;
} MDL, *PMDL;

// From the pool (tag "Mdl "); null when the length is 0 or the pool is exhausted.
// IRQL <= DISPATCH_LEVEL.
PMDL IoAllocateMdl(PVOID virtualAddress, ULONG length, BOOLEAN secondaryBuffer, BOOLEAN chargeQuota,
                   struct _IRP* irp);
// The kernel raises an exception when the probe fails, which a driver must catch; driver code here
// has no exceptions, so the failure is the answer and must be looked at (nodiscard, as a probe
// outside a handler is a fault): STATUS_ACCESS_VIOLATION when probed for user mode and the range
// is not wholly inside a range of the calling thread's process. Locking twice is a bug check.
// IRQL <= APC_LEVEL.
[[nodiscard]] NTSTATUS MmProbeAndLockPages(PMDL mdl, KPROCESSOR_MODE accessMode,
                                           LOCK_OPERATION operation);
// The system address of locked pages; null when they are not locked or could not be mapped.
// Locked user pages have a system address of their own (never the user address), valid until
// they are unlocked.
PVOID MmGetSystemAddressForMdlSafe(PMDL mdl, ULONG priority);
void MmUnlockPages(PMDL mdl);
// Freeing an MDL whose pages are still locked is a bug check.
void IoFreeMdl(PMDL mdl);

#define STATUS_ACCESS_VIOLATION NTSTATUS_VALUE(0xC0000005)
