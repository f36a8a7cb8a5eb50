// I/O request packets, their stack locations, device and driver objects, and the I/O manager
// routines that send, complete and cancel them.
//
// Completion runs the completion routines from the lowest stack location upward, at the IRQL of
// the caller of IoCompleteRequest; a routine that returns STATUS_MORE_PROCESSING_REQUIRED stops
// the walk and keeps the IRP. An IRP from IoAllocateIrp must be stopped that way (its owner frees
// it); completing one all the way is a bug check. An IRP from IoBuildDeviceIoControlRequest is
// finished by the I/O manager: its status block is filled, its event set and the IRP freed.
#pragma once

#include "wdm/Dispatcher.h"
#include "wdm/Io.h"
#include "wdm/Irql.h"
#include "wdm/NtStatus.h"
#include "wdm/NtTypes.h"

#define STATUS_MORE_PROCESSING_REQUIRED NTSTATUS_VALUE(0xC0000016)
#define STATUS_NO_SUCH_DEVICE NTSTATUS_VALUE(0xC000000E)
#define STATUS_DEVICE_DATA_ERROR NTSTATUS_VALUE(0xC000009C)
#define STATUS_IO_TIMEOUT NTSTATUS_VALUE(0xC00000B5)

#define IRP_MJ_CREATE 0x00
#define IRP_MJ_CLOSE 0x02
#define IRP_MJ_DEVICE_CONTROL 0x0E
#define IRP_MJ_INTERNAL_DEVICE_CONTROL 0x0F
#define IRP_MJ_POWER 0x16
#define IRP_MJ_SYSTEM_CONTROL 0x17
#define IRP_MJ_PNP 0x1B

#define IRP_MN_QUERY_INTERFACE 0x08

#define SL_PENDING_RETURNED 0x01
#define SL_INVOKE_ON_CANCEL 0x20
#define SL_INVOKE_ON_SUCCESS 0x40
#define SL_INVOKE_ON_ERROR 0x80

#define IO_NO_INCREMENT 0

#define METHOD_BUFFERED 0
#define METHOD_NEITHER 3

#define BUG_CHECK_NO_MORE_IRP_STACK_LOCATIONS 0x35
#define BUG_CHECK_MULTIPLE_IRP_COMPLETE_REQUESTS 0x44

typedef struct _IO_STATUS_BLOCK
{
    union {
        NTSTATUS Status;
        PVOID Pointer;
    };
    ULONG_PTR Information;
} IO_STATUS_BLOCK, *PIO_STATUS_BLOCK;

typedef struct _IRP* PIRP;

typedef NTSTATUS IO_COMPLETION_ROUTINE(PDEVICE_OBJECT deviceObject, PIRP irp, PVOID context);
typedef IO_COMPLETION_ROUTINE* PIO_COMPLETION_ROUTINE;
typedef void DRIVER_CANCEL(PDEVICE_OBJECT deviceObject, PIRP irp);
typedef DRIVER_CANCEL* PDRIVER_CANCEL;

typedef void (*PINTERFACE_REFERENCE)(PVOID context);
typedef void (*PINTERFACE_DEREFERENCE)(PVOID context);

// The head every bus or driver interface starts with.
typedef struct _INTERFACE
{
    USHORT Size;
    USHORT Version;
    PVOID Context;
    PINTERFACE_REFERENCE InterfaceReference;
    PINTERFACE_DEREFERENCE InterfaceDereference;
} INTERFACE, *PINTERFACE;

typedef struct _IO_STACK_LOCATION
{
    UCHAR MajorFunction;
    UCHAR MinorFunction;
    UCHAR Flags;
    UCHAR Control;
    union {
        struct
        {
            alignas(8) ULONG OutputBufferLength;
            alignas(8) ULONG InputBufferLength;
            alignas(8) ULONG IoControlCode;
            PVOID Type3InputBuffer;
        } DeviceIoControl;
        struct
        {
            const GUID* InterfaceType;
            USHORT Size;
            USHORT Version;
            PINTERFACE Interface;
            PVOID InterfaceSpecificData;
        } QueryInterface;
        struct
        {
            PVOID Argument1;
            PVOID Argument2;
            PVOID Argument3;
            PVOID Argument4;
        } Others;
    } Parameters;
    PDEVICE_OBJECT DeviceObject;
    PVOID FileObject;
    PIO_COMPLETION_ROUTINE CompletionRoutine;
    PVOID Context;
} IO_STACK_LOCATION, *PIO_STACK_LOCATION;

typedef struct _IRP
{
    SHORT Type;
    USHORT Size;
    PVOID MdlAddress;
    ULONG Flags;
    union {
        PVOID SystemBuffer;
    } AssociatedIrp;
    IO_STATUS_BLOCK IoStatus;
    KPROCESSOR_MODE RequestorMode;
    BOOLEAN PendingReturned;
    CHAR StackCount;
    CHAR CurrentLocation;  // StackCount + 1 while the IRP is with its creator
    BOOLEAN Cancel;
    KIRQL CancelIrql;
    PDRIVER_CANCEL CancelRoutine;
    PIO_STATUS_BLOCK UserIosb;
    PKEVENT UserEvent;
    PVOID UserBuffer;
    struct
    {
        struct
        {
            PVOID DriverContext[4];
            LIST_ENTRY ListEntry;
            PIO_STACK_LOCATION CurrentStackLocation;
        } Overlay;
    } Tail;
} IRP;

// Non-paged pool, tag "Irp ". Null when the pool is exhausted. At most DISPATCH_LEVEL.
PIRP IoAllocateIrp(CCHAR stackSize, BOOLEAN chargeQuota);
void IoFreeIrp(PIRP irp);
void IoReuseIrp(PIRP irp, NTSTATUS status);

inline PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP irp)
{
    return irp->Tail.Overlay.CurrentStackLocation;
}
inline PIO_STACK_LOCATION IoGetNextIrpStackLocation(PIRP irp)
{
    return irp->Tail.Overlay.CurrentStackLocation - 1;
}
inline void IoMarkIrpPending(PIRP irp)
{
    IoGetCurrentIrpStackLocation(irp)->Control |= SL_PENDING_RETURNED;
}
void IoSkipCurrentIrpStackLocation(PIRP irp);
void IoCopyCurrentIrpStackLocationToNext(PIRP irp);

void IoSetCompletionRoutine(PIRP irp, PIO_COMPLETION_ROUTINE routine, PVOID context,
                            BOOLEAN invokeOnSuccess, BOOLEAN invokeOnError, BOOLEAN invokeOnCancel);
// As IoSetCompletionRoutine; the device object is the one the routine belongs to.
NTSTATUS IoSetCompletionRoutineEx(PDEVICE_OBJECT deviceObject, PIRP irp,
                                  PIO_COMPLETION_ROUTINE routine, PVOID context,
                                  BOOLEAN invokeOnSuccess, BOOLEAN invokeOnError,
                                  BOOLEAN invokeOnCancel);

// Hands the IRP to the dispatch routine of the device for its next stack location.
NTSTATUS IofCallDriver(PDEVICE_OBJECT deviceObject, PIRP irp);
#define IoCallDriver(deviceObject, irp) IofCallDriver((deviceObject), (irp))
void IofCompleteRequest(PIRP irp, CCHAR priorityBoost);
#define IoCompleteRequest(irp, boost) IofCompleteRequest((irp), (boost))

// Marks the IRP cancelled and calls its cancel routine, if any, with the cancel spin lock held
// (the routine releases it). TRUE when a cancel routine was called.
BOOLEAN IoCancelIrp(PIRP irp);
PDRIVER_CANCEL IoSetCancelRoutine(PIRP irp, PDRIVER_CANCEL cancelRoutine);
void IoAcquireCancelSpinLock(PKIRQL irql);
void IoReleaseCancelSpinLock(KIRQL irql);

// An IRP for a device control (METHOD_NEITHER codes: the buffers are passed as they are), with
// the I/O manager's completion: *ioStatusBlock filled, event set, IRP freed. Null when the pool is
// exhausted or the code uses another transfer method.
PIRP IoBuildDeviceIoControlRequest(ULONG ioControlCode, PDEVICE_OBJECT deviceObject,
                                   PVOID inputBuffer, ULONG inputBufferLength, PVOID outputBuffer,
                                   ULONG outputBufferLength, BOOLEAN internalDeviceIoControl,
                                   PKEVENT event, PIO_STATUS_BLOCK ioStatusBlock);
