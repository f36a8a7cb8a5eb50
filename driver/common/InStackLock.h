// Holds an in-stack queued spin lock for one scope (raises to DISPATCH_LEVEL).
#pragma once

#include <wdm.h>

class InStackLock
{
public:
    explicit InStackLock(PKSPIN_LOCK lock) { KeAcquireInStackQueuedSpinLock(lock, &handle); }
    ~InStackLock() { KeReleaseInStackQueuedSpinLock(&handle); }
    InStackLock(const InStackLock&) = delete;
    InStackLock& operator=(const InStackLock&) = delete;

private:
    KLOCK_QUEUE_HANDLE handle;
};
