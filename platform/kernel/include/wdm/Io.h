// Device and driver objects, I/O work items and remove locks.
#pragma once

#include "wdm/Dispatcher.h"
#include "wdm/NtStatus.h"
#include "wdm/NtTypes.h"

struct _IRP;
struct _DEVICE_OBJECT;
struct _DRIVER_OBJECT;

typedef NTSTATUS DRIVER_DISPATCH(struct _DEVICE_OBJECT* deviceObject, struct _IRP* irp);
typedef DRIVER_DISPATCH* PDRIVER_DISPATCH;
typedef void DRIVER_UNLOAD(struct _DRIVER_OBJECT* driverObject);
typedef DRIVER_UNLOAD* PDRIVER_UNLOAD;

#define IRP_MJ_MAXIMUM_FUNCTION 0x1b

typedef struct _DEVICE_OBJECT
{
    SHORT Type;
    USHORT Size;
    LONG ReferenceCount;
    struct _DRIVER_OBJECT* DriverObject;
    struct _DEVICE_OBJECT* NextDevice;
    struct _DEVICE_OBJECT* AttachedDevice;
    PVOID DeviceExtension;
    ULONG Flags;
    CCHAR StackSize;
} DEVICE_OBJECT, *PDEVICE_OBJECT;

typedef struct _DRIVER_OBJECT
{
    SHORT Type;
    SHORT Size;
    PDEVICE_OBJECT DeviceObject;
    ULONG Flags;
    PVOID DriverExtension;
    UNICODE_STRING DriverName;
    PDRIVER_UNLOAD DriverUnload;
    PDRIVER_DISPATCH MajorFunction[IRP_MJ_MAXIMUM_FUNCTION + 1];
} DRIVER_OBJECT, *PDRIVER_OBJECT;

// Work items run at PASSIVE_LEVEL on a system worker thread. The item is taken from the pool
// (tag "IoWk") and belongs to the driver until IoFreeWorkItem.
typedef enum _WORK_QUEUE_TYPE
{
    CriticalWorkQueue = 0,
    DelayedWorkQueue = 1,
} WORK_QUEUE_TYPE;

typedef struct _IO_WORKITEM* PIO_WORKITEM;
typedef void IO_WORKITEM_ROUTINE(PDEVICE_OBJECT deviceObject, PVOID context);
typedef IO_WORKITEM_ROUTINE* PIO_WORKITEM_ROUTINE;

PIO_WORKITEM IoAllocateWorkItem(PDEVICE_OBJECT deviceObject);
void IoQueueWorkItem(PIO_WORKITEM ioWorkItem, PIO_WORKITEM_ROUTINE workerRoutine,
                     WORK_QUEUE_TYPE queueType, PVOID context);
void IoFreeWorkItem(PIO_WORKITEM ioWorkItem);

// Remove lock: counts the holders of a device; once removal begins new acquisitions fail with
// STATUS_DELETE_PENDING and IoReleaseRemoveLockAndWaitEx waits for the last holder.
typedef struct _IO_REMOVE_LOCK_COMMON_BLOCK
{
    BOOLEAN Removed;
    BOOLEAN Reserved[3];
    LONG IoCount;  // holders + 1 until removal; kept under the layer's lock
    KEVENT RemoveEvent;
} IO_REMOVE_LOCK_COMMON_BLOCK;

typedef struct _IO_REMOVE_LOCK_DBG_BLOCK
{
    ULONG AllocateTag;
    ULONG MaxLockedMinutes;
    ULONG HighWatermark;  // 0 = no limit
} IO_REMOVE_LOCK_DBG_BLOCK;

typedef struct _IO_REMOVE_LOCK
{
    IO_REMOVE_LOCK_COMMON_BLOCK Common;
    IO_REMOVE_LOCK_DBG_BLOCK Dbg;
} IO_REMOVE_LOCK, *PIO_REMOVE_LOCK;

void IoInitializeRemoveLockEx(PIO_REMOVE_LOCK lock, ULONG allocateTag, ULONG maxLockedMinutes,
                              ULONG highWatermark, ULONG remlockSize);
NTSTATUS IoAcquireRemoveLockEx(PIO_REMOVE_LOCK removeLock, PVOID tag, PCSTR file, ULONG line,
                               ULONG remlockSize);
void IoReleaseRemoveLockEx(PIO_REMOVE_LOCK removeLock, PVOID tag, ULONG remlockSize);
void IoReleaseRemoveLockAndWaitEx(PIO_REMOVE_LOCK removeLock, PVOID tag, ULONG remlockSize);

#define IoInitializeRemoveLock(lock, tag, maxMinutes, highWater) \
    IoInitializeRemoveLockEx((lock), (tag), (maxMinutes), (highWater), sizeof(IO_REMOVE_LOCK))
#define IoAcquireRemoveLock(lock, tag) \
    IoAcquireRemoveLockEx((lock), (tag), __FILE__, __LINE__, sizeof(IO_REMOVE_LOCK))
#define IoReleaseRemoveLock(lock, tag) IoReleaseRemoveLockEx((lock), (tag), sizeof(IO_REMOVE_LOCK))
#define IoReleaseRemoveLockAndWait(lock, tag) \
    IoReleaseRemoveLockAndWaitEx((lock), (tag), sizeof(IO_REMOVE_LOCK))
