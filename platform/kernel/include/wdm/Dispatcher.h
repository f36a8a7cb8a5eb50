// Dispatcher objects (events, mutexes, timers), DPCs, waits and the clock.
#pragma once

#include "wdm/NtStatus.h"
#include "wdm/NtTypes.h"

typedef enum _EVENT_TYPE
{
    NotificationEvent = 0,
    SynchronizationEvent = 1,
} EVENT_TYPE;

typedef enum _TIMER_TYPE
{
    NotificationTimer = 0,
    SynchronizationTimer = 1,
} TIMER_TYPE;

typedef enum _KWAIT_REASON
{
    Executive = 0,
    UserRequest = 6,
} KWAIT_REASON;

// Every waitable object starts with this header; the layer keeps it consistent under its own
// lock, so read it only through the Ke routines.
typedef struct _DISPATCHER_HEADER
{
    UCHAR Type;
    UCHAR Inserted;
    UCHAR Reserved[2];
    LONG SignalState;
} DISPATCHER_HEADER;

typedef struct _KEVENT
{
    DISPATCHER_HEADER Header;
} KEVENT, *PKEVENT, *PRKEVENT;

typedef struct _KMUTEX
{
    DISPATCHER_HEADER Header;
    ULONG_PTR OwnerThread;  // 0 when free
    LONG RecursionCount;
    ULONG Level;
} KMUTEX, *PKMUTEX, *PRKMUTEX;

struct _KDPC;
typedef void KDEFERRED_ROUTINE(struct _KDPC* dpc, PVOID deferredContext, PVOID systemArgument1,
                               PVOID systemArgument2);
typedef KDEFERRED_ROUTINE* PKDEFERRED_ROUTINE;

typedef struct _KDPC
{
    UCHAR Type;
    UCHAR Importance;
    UCHAR Queued;
    UCHAR Reserved;
    PKDEFERRED_ROUTINE DeferredRoutine;
    PVOID DeferredContext;
    PVOID SystemArgument1;
    PVOID SystemArgument2;
} KDPC, *PKDPC, *PRKDPC;

typedef struct _KTIMER
{
    DISPATCHER_HEADER Header;
    ULONGLONG DueTime;  // interrupt time, 100 ns units
    LONG Period;        // ms; 0 = one-shot
    PKDPC Dpc;
    ULONGLONG Sequence;  // order among timers due at the same time
} KTIMER, *PKTIMER, *PRKTIMER;

// Events
void KeInitializeEvent(PRKEVENT event, EVENT_TYPE type, BOOLEAN state);
LONG KeSetEvent(PRKEVENT event, KPRIORITY increment, BOOLEAN wait);
LONG KeResetEvent(PRKEVENT event);
void KeClearEvent(PRKEVENT event);
LONG KeReadStateEvent(PRKEVENT event);

// Mutexes are recursive: the owner may wait again and releases as often as it waited.
void KeInitializeMutex(PRKMUTEX mutex, ULONG level);
LONG KeReleaseMutex(PRKMUTEX mutex, BOOLEAN wait);
LONG KeReadStateMutex(PRKMUTEX mutex);

// A timeout is in 100 ns units: negative = relative, positive = absolute system time, zero = poll.
// Null waits forever. Waiting with a timeout other than zero needs PASSIVE_LEVEL.
NTSTATUS KeWaitForSingleObject(PVOID object, KWAIT_REASON waitReason, KPROCESSOR_MODE waitMode,
                               BOOLEAN alertable, PLARGE_INTEGER timeout);
NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE waitMode, BOOLEAN alertable,
                                PLARGE_INTEGER interval);

// Timers and DPCs. KeSetTimerEx answers whether the timer was already set; KeCancelTimer whether
// it was still set. A timer's period is in milliseconds.
void KeInitializeTimer(PKTIMER timer);
void KeInitializeTimerEx(PKTIMER timer, TIMER_TYPE type);
BOOLEAN KeSetTimer(PKTIMER timer, LARGE_INTEGER dueTime, PKDPC dpc);
BOOLEAN KeSetTimerEx(PKTIMER timer, LARGE_INTEGER dueTime, LONG period, PKDPC dpc);
BOOLEAN KeCancelTimer(PKTIMER timer);
BOOLEAN KeReadStateTimer(PKTIMER timer);

void KeInitializeDpc(PRKDPC dpc, PKDEFERRED_ROUTINE deferredRoutine, PVOID deferredContext);
BOOLEAN KeInsertQueueDpc(PRKDPC dpc, PVOID systemArgument1, PVOID systemArgument2);
BOOLEAN KeRemoveQueueDpc(PRKDPC dpc);
// PASSIVE_LEVEL: returns once every DPC queued or running when it was called has finished.
void KeFlushQueuedDpcs();

// One clock behind all of these.
LARGE_INTEGER KeQueryPerformanceCounter(PLARGE_INTEGER performanceFrequency);
void KeQueryTickCount(PLARGE_INTEGER tickCount);
ULONG KeQueryTimeIncrement();
ULONGLONG KeQueryInterruptTime();
void KeQuerySystemTime(PLARGE_INTEGER currentTime);
ULONG ExSetTimerResolution(ULONG desiredTime, BOOLEAN setResolution);

typedef struct _KTHREAD* PKTHREAD;
typedef struct _ETHREAD* PETHREAD;
PETHREAD PsGetCurrentThread();
PKTHREAD KeGetCurrentThread();
