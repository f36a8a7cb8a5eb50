// IRQL of the calling thread, spin locks and the bug check.
#pragma once

#include "wdm/NtTypes.h"

// IRQL is tracked per thread. Raising to a lower level, or lowering to a higher one, stops the
// system like the kernel does.
KIRQL KeGetCurrentIrql();
void KeRaiseIrql(KIRQL newIrql, PKIRQL oldIrql);
void KeLowerIrql(KIRQL newIrql);
KIRQL KeRaiseIrqlToDpcLevel();

// Spin locks raise to DISPATCH_LEVEL. A lock taken twice on one thread, or released by a thread
// that does not own it, stops the system.
typedef ULONG_PTR KSPIN_LOCK;
typedef KSPIN_LOCK* PKSPIN_LOCK;

typedef struct _KSPIN_LOCK_QUEUE
{
    struct _KSPIN_LOCK_QUEUE* volatile Next;
    PKSPIN_LOCK volatile Lock;
} KSPIN_LOCK_QUEUE, *PKSPIN_LOCK_QUEUE;

typedef struct _KLOCK_QUEUE_HANDLE
{
    KSPIN_LOCK_QUEUE LockQueue;
    KIRQL OldIrql;
} KLOCK_QUEUE_HANDLE, *PKLOCK_QUEUE_HANDLE;

void KeInitializeSpinLock(PKSPIN_LOCK spinLock);
void KeAcquireSpinLock(PKSPIN_LOCK spinLock, PKIRQL oldIrql);
void KeReleaseSpinLock(PKSPIN_LOCK spinLock, KIRQL newIrql);
void KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK spinLock);
void KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK spinLock);
void KeAcquireInStackQueuedSpinLock(PKSPIN_LOCK spinLock, PKLOCK_QUEUE_HANDLE lockHandle);
void KeReleaseInStackQueuedSpinLock(PKLOCK_QUEUE_HANDLE lockHandle);
void KeAcquireInStackQueuedSpinLockAtDpcLevel(PKSPIN_LOCK spinLock, PKLOCK_QUEUE_HANDLE lockHandle);
void KeReleaseInStackQueuedSpinLockFromDpcLevel(PKLOCK_QUEUE_HANDLE lockHandle);

// Stops the system. Never returns.
[[noreturn]] void KeBugCheckEx(ULONG bugCheckCode, ULONG_PTR parameter1, ULONG_PTR parameter2,
                               ULONG_PTR parameter3, ULONG_PTR parameter4);
[[noreturn]] void KeBugCheck(ULONG bugCheckCode);
