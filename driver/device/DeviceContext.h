// The per-device context every part of the driver reaches through the kernel-streaming device.
// Allocated from non-paged pool (tag "PcNw"), zero-filled, when the device is added.
#pragma once

#include <ks.h>
#include <wdm.h>

#include "DeviceNotifySink.h"

class DeviceModel;
class StreamManager;
class MidiRouter;

// PnP and power state of the device. Only Started lets timers, work items and property
// handlers act.
enum PnpState : LONG
{
    kPnpAdded = 0,
    kPnpStarted = 1,
    kPnpStopPending = 2,
    kPnpRemovePending = 3,
    kPnpSurpriseRemoved = 4,
    kPnpStopped = 5,
    kPnpStoppedAfterSurpriseRemoval = 6,
    kPnpRemoved = 7,
    kPnpPoweredDown = 8,
};

// One open filter in one of the context's lists.
struct FilterListNode
{
    FilterListNode* next;
    PKSFILTER filter;
};

inline constexpr ULONG kOsVersionNotProbed = 0xFFFFFFFF;

struct DeviceContext
{
    DeviceGeneralSink* generalSink;  // called by the device model
    DeviceStreamSink* streamSink;    // handed to the stream manager
    PKSDEVICE device;           // its address is the owner link of the device model and the timers
    IO_REMOVE_LOCK removeLock;  // tag "EDVQ", 0 minutes, high-water mark 1000; taken with tag 0
    LONG previousState;         // PnpState before the last transition
    LONG state;                 // PnpState; read at any IRQL through GetPnpState
    KEVENT filtersClosedEvent;  // notification; signalled when the last control filter closes
    LONG openControlFilters;
    UCHAR endpointUpdateFlag;        // a NameEndpoints run is queued or running
    FilterListNode* controlFilters;  // pushed at the head on open
    FilterListNode* waveFilters;     // under waveFilterListLock
    FilterListNode* midiFilters;     // under midiFilterListLock
    PWSTR hardwareId;                // multi-string from pool, or null
    PWSTR hardwareIdPrefix;          // 22 characters of pool: 21 and a terminator, or null
    ULONG osVersion;                 // NTDDI value; kOsVersionNotProbed until probed
    DeviceModel* deviceModel;
    StreamManager* streamManager;
    MidiRouter* midiRouter;
    KSPIN_LOCK waveFilterListLock;   // in-stack queued
    KSPIN_LOCK midiFilterListLock;   // in-stack queued
    volatile LONG pendingPowerWork;  // interlocked: power transitions queued, not yet applied
    KMUTEX powerMutex;               // serialises power changes
    UCHAR rateFixedByPin;
    // Guards the control-filter list and its count against open and close while events are
    // fanned out: every change and every walk holds it (in-stack queued).
    KSPIN_LOCK controlFilterListLock;
    // Held around each open, close and each walk that calls the filters' clients at
    // PASSIVE_LEVEL (outside the list lock, so a client may fire events meanwhile).
    KMUTEX controlFilterWalkMutex;
};

// The owner link other objects keep: the address of the context's device field.
typedef PKSDEVICE* DeviceLink;

inline DeviceContext* ContextFromLink(DeviceLink link)
{
    return CONTAINING_RECORD(link, DeviceContext, device);
}

// The state is written by PnP and power dispatch and read by timers and work items on other
// threads, so both sides go through these.
inline LONG GetPnpState(const DeviceContext* context)
{
    return ReadAcquire(&context->state);
}

inline void SetPnpState(DeviceContext* context, LONG state)
{
    WriteRelease(&context->state, state);
}

// IoAcquireRemoveLockEx with tag 0; true only on success. The caller's source location names the
// holder when a removal waits for it. IRQL <= DISPATCH_LEVEL.
bool TryAcquireRemoveLock(DeviceContext* context, PCSTR file = __builtin_FILE(),
                          ULONG line = __builtin_LINE());
void ReleaseRemoveLock(DeviceContext* context);

// The functional device object of the context's device, for work items.
PDEVICE_OBJECT FunctionalDeviceObject(DeviceContext* context);
