// I/O verification beyond double completion: IRPs freed in flight, STATUS_PENDING without the
// pending mark, completion with a cancel routine set, and IRPs of kernel streaming's cancelable
// queues completed while linked or completed again.
//
// Whether a dispatch routine marked its IRP pending is known at its stack location until the IRP
// completes past it; after that the IRP may be gone. So each dispatch call in progress is listed,
// and completion records the mark in the listed calls of the location it leaves.
#include <atomic>
#include <cstdio>
#include <mutex>

#include "KernelInternal.h"
#include "Verifier.h"

namespace Platform::Kernel::Internal {
namespace {

// Bits of IRP::Flags the verifier keeps; IoReuseIrp and the allocation clear them.
constexpr ULONG kIrpInCancelableQueue = 0x100;
constexpr ULONG kIrpFromCancelableQueue = 0x200;
constexpr ULONG kIrpAcquiredFromCancelableQueue = 0x400;

constexpr size_t kMaxFrames = 256;

struct FrameList
{
    std::mutex mutex;
    DispatchFrame* frames[kMaxFrames] = {};
    size_t count = 0;
    std::atomic<size_t> listed{0};
};

FrameList& Frames()
{
    static FrameList list;
    return list;
}

std::string IrpAddress(PIRP irp)
{
    char text[32];
    std::snprintf(text, sizeof text, "%p", static_cast<void*>(irp));
    return text;
}

[[noreturn]] void Stop(ULONG_PTR rule, const std::string& reason, PIRP irp, ULONG_PTR p3 = 0)
{
    Violation(kDriverVerifierDetectedViolation, "I/O verification: " + reason, rule,
              reinterpret_cast<ULONG_PTR>(irp), p3);
}

}  // namespace

DispatchFrame::DispatchFrame(PIRP irp, PIO_STACK_LOCATION location) : irp(irp), location(location)
{
    FrameList& list = Frames();
    std::lock_guard guard(list.mutex);
    if (list.count < kMaxFrames) {
        list.frames[list.count++] = this;
        list.listed.store(list.count, std::memory_order_release);
        registered = true;
    }
}

DispatchFrame::~DispatchFrame()
{
    if (!registered) {
        return;
    }
    FrameList& list = Frames();
    std::lock_guard guard(list.mutex);
    for (size_t i = 0; i < list.count; ++i) {
        if (list.frames[i] == this) {
            list.frames[i] = list.frames[--list.count];
            break;
        }
    }
    list.listed.store(list.count, std::memory_order_release);
}

void DispatchFrame::CheckReturned(NTSTATUS status, const void* routine)
{
    if (status != STATUS_PENDING || !registered) {
        return;
    }
    bool marked;
    {
        // While completion has not passed the location, the IRP is still there to read.
        std::lock_guard guard(Frames().mutex);
        marked = passed ? markedPending : (location->Control & SL_PENDING_RETURNED) != 0;
    }
    if (!marked) {
        Stop(kRulePendingNotMarked,
             "the dispatch routine " + DescribeRoutine(routine) +
                 " returned STATUS_PENDING without marking the IRP " + IrpAddress(irp) +
                 " pending (IoMarkIrpPending)",
             irp, reinterpret_cast<ULONG_PTR>(routine));
    }
}

void CompletionPassing(PIRP irp, PIO_STACK_LOCATION location)
{
    FrameList& list = Frames();
    // Acquire: a call that read the location and then left the list happens before a completion
    // that finds the list empty and goes on to clear the location.
    if (list.listed.load(std::memory_order_acquire) == 0) {
        return;
    }
    std::lock_guard guard(list.mutex);
    for (size_t i = 0; i < list.count; ++i) {
        DispatchFrame* frame = list.frames[i];
        if (frame->irp == irp && frame->location == location && !frame->passed) {
            frame->passed = true;
            frame->markedPending = (location->Control & SL_PENDING_RETURNED) != 0;
        }
    }
}

void CheckCompletable(PIRP irp, bool alreadyCompleted)
{
    if (alreadyCompleted && (irp->Flags & kIrpFromCancelableQueue) != 0) {
        Stop(kRuleCompletedTwiceFromQueue,
             "the IRP " + IrpAddress(irp) +
                 " completed again after it came out of a kernel-streaming cancelable queue",
             irp);
    }
    if (alreadyCompleted) {
        return;  // the layer's double-completion stop names it
    }
    if ((irp->Flags & kIrpInCancelableQueue) != 0) {
        Stop(kRuleCompletedInQueue,
             "the IRP " + IrpAddress(irp) +
                 " completed while still linked in a kernel-streaming cancelable queue",
             irp);
    }
    const auto routine = std::atomic_ref<PDRIVER_CANCEL>(irp->CancelRoutine).load();
    if (routine != nullptr) {
        Stop(kRuleCancelRoutineSet,
             "the IRP " + IrpAddress(irp) + " completed with its cancel routine " +
                 DescribeRoutine(reinterpret_cast<const void*>(routine)) + " still set",
             irp, reinterpret_cast<ULONG_PTR>(routine));
    }
}

void CheckNotInFlight(PIRP irp, const char* service)
{
    Platform::Kernel::CheckIrpNotAcquired(irp, service);
    if (irp->CurrentLocation <= irp->StackCount) {
        Stop(kRuleIrpFreedInFlight,
             std::string(service) + " of the IRP " + IrpAddress(irp) +
                 " while a driver still holds it (sent and not completed back)",
             irp);
    }
}

}  // namespace Platform::Kernel::Internal

void Platform::Kernel::NoteIrpInCancelableQueue(PIRP irp, bool linked)
{
    // Called by the queue's owner, which holds the IRP and the queue's lock.
    if (linked) {
        irp->Flags |= Internal::kIrpInCancelableQueue | Internal::kIrpFromCancelableQueue;
    } else {
        irp->Flags &=
            ~(Internal::kIrpInCancelableQueue | Internal::kIrpAcquiredFromCancelableQueue);
    }
}

void Platform::Kernel::NoteIrpAcquiredFromCancelableQueue(PIRP irp, bool acquired)
{
    if (acquired) {
        irp->Flags |= Internal::kIrpAcquiredFromCancelableQueue;
    } else {
        irp->Flags &= ~Internal::kIrpAcquiredFromCancelableQueue;
    }
}

bool Platform::Kernel::IrpInCancelableQueue(PIRP irp)
{
    return (irp->Flags & Internal::kIrpInCancelableQueue) != 0;
}

bool Platform::Kernel::IrpAcquiredFromCancelableQueue(PIRP irp)
{
    return (irp->Flags & Internal::kIrpAcquiredFromCancelableQueue) != 0;
}

void Platform::Kernel::CheckIrpNotAcquired(PIRP irp, const char* when)
{
    if (IrpAcquiredFromCancelableQueue(irp)) {
        Internal::Stop(kRuleAcquiredNeverReleased,
                       std::string(when) + " of the IRP " + Internal::IrpAddress(irp) +
                           ", acquired from a kernel-streaming cancelable queue and never "
                           "released: its cancel routine is gone, so nothing completes it",
                       irp);
    }
}
