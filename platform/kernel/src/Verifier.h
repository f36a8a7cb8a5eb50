// The driver verifier's bookkeeping inside the kernel layer: which locks each thread holds, the
// order locks have been taken in, and the I/O rules around dispatch and completion. The layer's
// sources call these hooks; nothing here is visible to driver code.
#pragma once

#include <KernelTestApi.h>

#include <cstddef>

namespace Platform::Kernel::Internal {

enum class LockKind : unsigned char
{
    SpinLock,
    QueuedSpinLock,
    Mutex,
};

// Spin locks: TakingSpinLock and ReleasedSpinLock, inline in LockOrderTable.h.

// A mutex: checked before the wait (a poll that cannot block adds no order), held once it is
// owned; recursive acquisitions and releases only count.
void WaitingForMutex(const void* mutex, void* caller, bool canBlock);
void OwnedMutex(const void* mutex, void* caller);
void ReleasedMutex(const void* mutex);

// The lock is initialised again, or the memory holding locks is freed: its order is forgotten.
void ForgetLock(const void* lock);
void ForgetLocksIn(const void* begin, size_t size);
void ResetLockOrder();

// Locks the calling thread holds in its current context.
size_t HeldLockDepth();
// Whether the calling thread holds a kernel mutex, in any context.
bool HoldsAnyMutex();
void TruncateHeldLocks(size_t depth);  // after a bug check unwound the code that took them

// Stops the system when the routine returned holding a lock it took (depth = before it ran).
void CheckNoLockTakenSince(size_t depth, const char* what, const void* routine);
// Stops the system when the calling thread holds any lock (before a wait that must not).
void RequireNoLockHeld(const char* service);

// A routine the layer runs on the calling thread as if on another one (a DPC, a work item): the
// locks the thread held before belong to the context it interrupted.
class LockContextScope
{
public:
    LockContextScope();
    ~LockContextScope();
    LockContextScope(const LockContextScope&) = delete;
    LockContextScope& operator=(const LockContextScope&) = delete;

private:
    size_t previousBase_;
};

// How a lock is named in a stop: its kind, its name or the pool block holding it. DescribeLockAs
// takes the name given with NameLock (empty for none).
std::string DescribeLock(const void* lock, LockKind kind);
std::string DescribeLockAs(const void* lock, LockKind kind, const std::string& name);
// "Function at File.cpp:42" for the call before a return address; empty for the layer's own
// code. DescribeRoutine names a routine by its entry address.
std::string DescribeCode(const void* address);
std::string DescribeRoutine(const void* routine);

// Where a pool block holds `address`: its tag, the offset and the block's size. False when the
// address is not inside an outstanding pool block.
bool FindPoolBlock(const void* address, ULONG* tag, size_t* offset, size_t* size);

// The cancel spin lock's address, to name it.
const void* CancelSpinLockAddress();

// ---- I/O verification ----------------------------------------------------------------------

// Wraps a dispatch routine's call: whether the routine marked the IRP pending when it returns
// STATUS_PENDING, also when the IRP was completed before it returned.
class DispatchFrame
{
public:
    DispatchFrame(PIRP irp, PIO_STACK_LOCATION location);
    ~DispatchFrame();
    DispatchFrame(const DispatchFrame&) = delete;
    DispatchFrame& operator=(const DispatchFrame&) = delete;

    void CheckReturned(NTSTATUS status, const void* routine);

    PIRP irp;
    PIO_STACK_LOCATION location;
    bool passed = false;  // completion went past this location
    bool markedPending = false;
    bool registered = false;
};

// Completion is about to leave the location: records whether it was marked pending.
void CompletionPassing(PIRP irp, PIO_STACK_LOCATION location);

// Checks an IRP that is about to be completed (cancel routine, cancelable queues).
void CheckCompletable(PIRP irp, bool alreadyCompleted);
// Checks an IRP that is about to be freed or reused.
void CheckNotInFlight(PIRP irp, const char* service);

}  // namespace Platform::Kernel::Internal
