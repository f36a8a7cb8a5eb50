// Remove locks. Each acquisition is recorded with its tag and source location, so a wait that
// never ends can say who still holds the lock.
#include <cstring>

#include "DispatcherState.h"
#include "KernelInternal.h"
#include "Verifier.h"

using namespace Platform::Kernel;
using namespace Platform::Kernel::Internal;

namespace {

std::string BaseName(PCSTR file)
{
    if (file == nullptr) {
        return "?";
    }
    const char* slash = std::strrchr(file, '/');
    return slash != nullptr ? slash + 1 : file;
}

void CheckSize(ULONG remlockSize, const char* service)
{
    if (remlockSize != sizeof(IO_REMOVE_LOCK)) {
        Violation(kDriverVerifierDetectedViolation,
                  std::string(service) + " with a remove lock size that does not match");
    }
}

RemoveLockHolder Published(const HeldRemoveLock& held)
{
    return RemoveLockHolder{held.tag, BaseName(held.file), held.line};
}

std::string DescribeHolders(const std::vector<HeldRemoveLock>& holders)
{
    std::string text;
    for (const HeldRemoveLock& holder : holders) {
        text += (text.empty() ? "" : ", ") + holder.Describe();
    }
    return text.empty() ? "nobody" : text;
}

// Drops one reference taken with tag; the caller holds the dispatcher lock. Returns a problem
// to report after the lock is released, or an empty text.
std::string ReleaseLocked(Dispatcher& d, PIO_REMOVE_LOCK lock, PVOID tag)
{
    auto& holders = HoldersOf(d, lock);
    for (auto it = holders.rbegin(); it != holders.rend(); ++it) {
        if (it->tag == reinterpret_cast<ULONG_PTR>(tag)) {
            holders.erase(std::next(it).base());
            if (--lock->Common.IoCount == 0) {
                SignalLocked(d, lock->Common.RemoveEvent.Header);
            }
            return {};
        }
    }
    return "remove lock released with a tag that holds no reference (holders: " +
           DescribeHolders(holders) + ")";
}

}  // namespace

namespace Platform::Kernel {

std::string RemoveLockHolder::Describe() const
{
    char text[32];
    std::snprintf(text, sizeof text, "tag 0x%llX", static_cast<unsigned long long>(tag));
    return std::string(text) + " from " + file + ":" + std::to_string(line);
}

namespace Internal {

std::string HeldRemoveLock::Describe() const
{
    return Published(*this).Describe();
}

}  // namespace Internal

std::vector<RemoveLockHolder> RemoveLockHolders(const IO_REMOVE_LOCK* lock)
{
    Dispatcher& d = TheDispatcher();
    std::lock_guard guard(d.mutex);
    std::vector<RemoveLockHolder> holders;
    if (auto it = d.removeLockHolders.find(lock); it != d.removeLockHolders.end()) {
        for (const HeldRemoveLock& held : it->second) {
            holders.push_back(Published(held));
        }
    }
    return holders;
}

}  // namespace Platform::Kernel

void IoInitializeRemoveLockEx(PIO_REMOVE_LOCK lock, ULONG allocateTag, ULONG maxLockedMinutes,
                              ULONG highWatermark, ULONG remlockSize)
{
    RequirePassive("IoInitializeRemoveLockEx");
    CheckSize(remlockSize, "IoInitializeRemoveLockEx");
    *lock = IO_REMOVE_LOCK{};
    KeInitializeEvent(&lock->Common.RemoveEvent, NotificationEvent, FALSE);
    Dispatcher& d = TheDispatcher();
    std::lock_guard guard(d.mutex);
    lock->Common.Removed = FALSE;
    lock->Common.IoCount = 1;
    lock->Dbg.AllocateTag = allocateTag;
    lock->Dbg.MaxLockedMinutes = maxLockedMinutes;
    lock->Dbg.HighWatermark = highWatermark;
    HoldersOf(d, lock).clear();
}

NTSTATUS IoAcquireRemoveLockEx(PIO_REMOVE_LOCK removeLock, PVOID tag, PCSTR file, ULONG line,
                               ULONG remlockSize)
{
    RequireIrqlAtMost(DISPATCH_LEVEL, "IoAcquireRemoveLockEx");
    CheckSize(remlockSize, "IoAcquireRemoveLockEx");
    Dispatcher& d = TheDispatcher();
    std::unique_lock guard(d.mutex);
    if (removeLock->Common.Removed) {
        return STATUS_DELETE_PENDING;
    }
    auto& holders = HoldersOf(d, removeLock);
    const ULONG highWatermark = removeLock->Dbg.HighWatermark;
    if (highWatermark != 0 && holders.size() >= highWatermark) {
        const std::string holdersText = DescribeHolders(holders);
        guard.unlock();
        Violation(kDriverVerifierDetectedViolation,
                  "remove lock acquired beyond its high-water mark of " +
                      std::to_string(highWatermark) + " (holders: " + holdersText + ")",
                  reinterpret_cast<ULONG_PTR>(removeLock));
    }
    ++removeLock->Common.IoCount;
    holders.push_back(HeldRemoveLock{reinterpret_cast<ULONG_PTR>(tag), file, line});
    return STATUS_SUCCESS;
}

void IoReleaseRemoveLockEx(PIO_REMOVE_LOCK removeLock, PVOID tag, ULONG remlockSize)
{
    RequireIrqlAtMost(DISPATCH_LEVEL, "IoReleaseRemoveLockEx");
    CheckSize(remlockSize, "IoReleaseRemoveLockEx");
    Dispatcher& d = TheDispatcher();
    std::string problem;
    {
        std::lock_guard guard(d.mutex);
        problem = ReleaseLocked(d, removeLock, tag);
    }
    if (!problem.empty()) {
        Violation(kDriverVerifierDetectedViolation, problem,
                  reinterpret_cast<ULONG_PTR>(removeLock));
    }
}

void IoReleaseRemoveLockAndWaitEx(PIO_REMOVE_LOCK removeLock, PVOID tag, ULONG remlockSize)
{
    RequirePassive("IoReleaseRemoveLockAndWaitEx");
    RequireNoLockHeld("IoReleaseRemoveLockAndWait");
    CheckSize(remlockSize, "IoReleaseRemoveLockAndWaitEx");
    Dispatcher& d = TheDispatcher();
    std::string problem;
    {
        std::lock_guard guard(d.mutex);
        removeLock->Common.Removed = TRUE;
        problem = ReleaseLocked(d, removeLock, tag);
        if (problem.empty() && --removeLock->Common.IoCount == 0) {
            SignalLocked(d, removeLock->Common.RemoveEvent.Header);
        }
    }
    if (!problem.empty()) {
        Violation(kDriverVerifierDetectedViolation, problem,
                  reinterpret_cast<ULONG_PTR>(removeLock));
    }
    WaitUntil([&] { return removeLock->Common.IoCount == 0; }, 0, true,
              [&] {
                  return "IoReleaseRemoveLockAndWaitEx: the remove lock is still held by " +
                         DescribeHolders(HoldersOf(d, removeLock));
              });
}
