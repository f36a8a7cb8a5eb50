// The frames queued on a pin, the stream pointers that walk them, the pin's processing and its
// reference clock.
#include <KernelTestApi.h>

#include <atomic>

#include "PinInternal.h"

namespace Platform::Ks::Internal {
namespace {

constexpr ULONG kClonePointerTag = Platform::Kernel::MakeTag("KsSp");
constexpr ULONG kFrameTag = Platform::Kernel::MakeTag("KsFr");

bool IsSinkIn(const PinImpl* pin)
{
    return pin->pin.DataFlow == KSPIN_DATAFLOW_IN;
}

// The public fields of a pointer from its frame and offset.
void Publish(StreamPointerImpl* pointer)
{
    KSSTREAM_POINTER& p = pointer->pointer;
    p.Pin = &pointer->pin->pin;
    p.Offset = IsSinkIn(pointer->pin) ? &p.OffsetIn : &p.OffsetOut;
    p.OffsetIn = {};
    p.OffsetOut = {};
    FrameImpl* frame = pointer->frame;
    if (frame == nullptr) {
        p.StreamHeader = nullptr;
        return;
    }
    p.StreamHeader = frame->header;
    p.Offset->Data = frame->data + pointer->offset;
    p.Offset->Count = frame->bytes;
    p.Offset->Remaining = frame->bytes - pointer->offset;
}

StreamPointerImpl* ImplOf(PKSSTREAM_POINTER pointer)
{
    return reinterpret_cast<StreamPointerImpl*>(pointer);
}

// A frame whose data and header go back to the client.
void CompleteFrame(FrameImpl* frame)
{
    struct _IRP* irp = frame->irp;
    if (frame->mdl != nullptr) {
        MmUnlockPages(frame->mdl);
        IoFreeMdl(frame->mdl);
    }
    ExFreePoolWithTag(frame, kFrameTag);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

// Under the queue lock: unlinks the frames at the head that nothing refers to any more, in order,
// onto done (completed once the lock is released).
void RetireFrames(PinImpl* pin, FrameImpl** done)
{
    FrameImpl** last = done;
    while (*last != nullptr) {
        last = &(*last)->next;
    }
    while (pin->head != nullptr && pin->head != pin->leading.frame && pin->head->clones == 0) {
        FrameImpl* frame = pin->head;
        pin->head = frame->next;
        if (pin->head == nullptr) {
            pin->tail = nullptr;
        }
        if (pin->trailing.frame == frame) {
            pin->trailing.frame = pin->head;
            pin->trailing.offset = 0;
        }
        frame->next = nullptr;
        frame->irp->IoStatus.Status = frame->status;
        frame->irp->IoStatus.Information = frame->header->Size;
        *last = frame;
        last = &frame->next;
    }
}

void CompleteRetired(FrameImpl* done)
{
    while (done != nullptr) {
        FrameImpl* next = done->next;
        CompleteFrame(done);
        done = next;
    }
}

// Under the queue lock: moves the pointer to the next frame.
NTSTATUS MoveToNextFrame(StreamPointerImpl* pointer)
{
    FrameImpl* from = pointer->frame;
    if (from == nullptr) {
        return STATUS_DEVICE_NOT_READY;
    }
    FrameImpl* to = from->next;
    if (pointer->clone) {
        --from->clones;
        if (to != nullptr) {
            ++to->clones;
        }
    }
    pointer->frame = to;
    pointer->offset = 0;
    Publish(pointer);
    return to == nullptr ? STATUS_DEVICE_NOT_READY : STATUS_SUCCESS;
}

class QueueLock
{
public:
    explicit QueueLock(PinImpl* pin) : pin_(pin) { KeAcquireSpinLock(&pin->queueLock, &irql_); }
    ~QueueLock()
    {
        KeReleaseSpinLock(&pin_->queueLock, irql_);
        CompleteRetired(done);
    }
    QueueLock(const QueueLock&) = delete;
    QueueLock& operator=(const QueueLock&) = delete;
    void Retire() { RetireFrames(pin_, &done); }

    FrameImpl* done = nullptr;

private:
    PinImpl* pin_;
    KIRQL irql_;
};

NTSTATUS AdvanceOffsets(StreamPointerImpl* pointer, ULONG inUsed, ULONG outUsed, BOOLEAN eject)
{
    PinImpl* pin = pointer->pin;
    QueueLock lock(pin);
    FrameImpl* frame = pointer->frame;
    if (frame == nullptr) {
        return STATUS_DEVICE_NOT_READY;
    }
    const ULONG used = IsSinkIn(pin) ? inUsed : outUsed;
    if (used > frame->bytes - pointer->offset) {
        return STATUS_INVALID_PARAMETER;
    }
    pointer->offset += used;
    if (!IsSinkIn(pin)) {
        frame->header->DataUsed += used;
    }
    Publish(pointer);
    NTSTATUS status = STATUS_SUCCESS;
    if (eject || pointer->offset == frame->bytes) {
        status = MoveToNextFrame(pointer);
        lock.Retire();
    }
    return status;
}

void ProcessNow(PinImpl* pin)
{
    KIRQL irql;
    KeRaiseIrql(DISPATCH_LEVEL, &irql);
    KeAcquireSpinLockAtDpcLevel(&pin->processLock);
    if (pin->processing) {
        pin->processAgain = true;
        KeReleaseSpinLockFromDpcLevel(&pin->processLock);
        KeLowerIrql(irql);
        return;
    }
    pin->processing = true;
    for (;;) {
        pin->processAgain = false;
        KeReleaseSpinLockFromDpcLevel(&pin->processLock);
        if (PinProcesses(pin)) {
            pin->pin.Descriptor->Dispatch->Process(&pin->pin);
        }
        KeAcquireSpinLockAtDpcLevel(&pin->processLock);
        if (!pin->processAgain) {
            break;
        }
    }
    pin->processing = false;
    KeReleaseSpinLockFromDpcLevel(&pin->processLock);
    KeLowerIrql(irql);
}

void ProcessDpc(PKDPC, PVOID context, PVOID, PVOID)
{
    ProcessNow(static_cast<PinImpl*>(context));
}

}  // namespace

PinImpl* PinOf(PKSPIN pin)
{
    return CONTAINING_RECORD(pin, PinImpl, pin);
}

bool PinProcesses(const PinImpl* pin)
{
    const KSPIN_DESCRIPTOR_EX* descriptor = pin->pin.Descriptor;
    if (descriptor->Dispatch == nullptr || descriptor->Dispatch->Process == nullptr) {
        return false;
    }
    // Written by the state walk on another thread.
    const KSSTATE state = std::atomic_ref<KSSTATE>(const_cast<KSSTATE&>(pin->pin.DeviceState))
                              .load(std::memory_order_acquire);
    if ((descriptor->Flags & KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY) != 0) {
        return state == KSSTATE_RUN;
    }
    return state == KSSTATE_RUN || state == KSSTATE_PAUSE;
}

void InitializePinQueue(PinImpl* pin)
{
    KeInitializeSpinLock(&pin->queueLock);
    KeInitializeSpinLock(&pin->processLock);
    KeInitializeDpc(&pin->processDpc, ProcessDpc, pin);
    for (StreamPointerImpl* edge : {&pin->leading, &pin->trailing}) {
        edge->pin = pin;
        Publish(edge);
    }
}

void StopPinProcessing(PinImpl* pin)
{
    KeRemoveQueueDpc(&pin->processDpc);
}

void QueueFrame(PinImpl* pin, FrameImpl* frame)
{
    QueueLock lock(pin);
    frame->next = nullptr;
    if (pin->tail != nullptr) {
        pin->tail->next = frame;
    } else {
        pin->head = frame;
        pin->trailing.frame = frame;
        pin->trailing.offset = 0;
        Publish(&pin->trailing);
    }
    pin->tail = frame;
    if (pin->leading.frame == nullptr) {
        pin->leading.frame = frame;
        pin->leading.offset = 0;
        Publish(&pin->leading);
    }
}

void FlushFrames(PinImpl* pin, NTSTATUS status)
{
    QueueLock lock(pin);
    while (pin->clones != nullptr) {
        StreamPointerImpl* clone = pin->clones;
        pin->clones = clone->nextClone;
        if (clone->frame != nullptr) {
            --clone->frame->clones;
        }
        ExFreePoolWithTag(clone, kClonePointerTag);
    }
    for (FrameImpl* frame = pin->head; frame != nullptr; frame = frame->next) {
        if (NT_SUCCESS(frame->status)) {
            frame->status = status;
        }
    }
    pin->leading.frame = nullptr;
    pin->leading.offset = 0;
    Publish(&pin->leading);
    lock.Retire();
    Publish(&pin->trailing);
}

FrameImpl* AllocateFrame()
{
    auto* frame = static_cast<FrameImpl*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(FrameImpl), kFrameTag));
    if (frame != nullptr) {
        RtlZeroMemory(frame, sizeof *frame);
    }
    return frame;
}

// ---- The clock ---------------------------------------------------------------------------

ULONG PinClock::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&references));
}

ULONG PinClock::Release()
{
    return static_cast<ULONG>(InterlockedDecrement(&references));
}

LONGLONG PinClock::GetTime()
{
    LARGE_INTEGER frequency;
    const LARGE_INTEGER counter = KeQueryPerformanceCounter(&frequency);
    // Split so that a large counter does not overflow on the way to 100 ns units.
    const ULONGLONG c = static_cast<ULONGLONG>(counter.QuadPart);
    const ULONGLONG f = static_cast<ULONGLONG>(frequency.QuadPart);
    return static_cast<LONGLONG>((c / f) * 10000000ULL + (c % f) * 10000000ULL / f);
}

LONGLONG PinClock::GetPhysicalTime()
{
    return GetTime();
}

LONGLONG PinClock::GetCorrelatedTime(LONGLONG* systemTime)
{
    const LONGLONG time = GetTime();
    if (systemTime != nullptr) {
        *systemTime = KeQueryPerformanceCounter(nullptr).QuadPart;
    }
    return time;
}

}  // namespace Platform::Ks::Internal

using namespace Platform::Ks::Internal;

void KsPinAttemptProcessing(PKSPIN pin, BOOLEAN asynchronous)
{
    Platform::Kernel::RequireCallerIrql(DISPATCH_LEVEL, "KsPinAttemptProcessing");
    PinImpl* impl = PinOf(pin);
    if (!PinProcesses(impl)) {
        return;
    }
    if (asynchronous) {
        KeInsertQueueDpc(&impl->processDpc, nullptr, nullptr);
        return;
    }
    ProcessNow(impl);
}

PKSSTREAM_POINTER KsPinGetLeadingEdgeStreamPointer(PKSPIN pin, KSSTREAM_POINTER_STATE state)
{
    Platform::Kernel::RequireCallerIrql(DISPATCH_LEVEL, "KsPinGetLeadingEdgeStreamPointer");
    PinImpl* impl = PinOf(pin);
    QueueLock lock(impl);
    if (impl->leading.frame == nullptr) {
        return nullptr;
    }
    impl->leading.locked = state == KSSTREAM_POINTER_STATE_LOCKED;
    Publish(&impl->leading);
    return &impl->leading.pointer;
}

PKSSTREAM_POINTER KsPinGetTrailingEdgeStreamPointer(PKSPIN pin, KSSTREAM_POINTER_STATE state)
{
    Platform::Kernel::RequireCallerIrql(DISPATCH_LEVEL, "KsPinGetTrailingEdgeStreamPointer");
    PinImpl* impl = PinOf(pin);
    QueueLock lock(impl);
    if (impl->trailing.frame == nullptr) {
        return nullptr;
    }
    impl->trailing.locked = state == KSSTREAM_POINTER_STATE_LOCKED;
    Publish(&impl->trailing);
    return &impl->trailing.pointer;
}

NTSTATUS KsStreamPointerLock(PKSSTREAM_POINTER streamPointer)
{
    Platform::Kernel::RequireCallerIrql(DISPATCH_LEVEL, "KsStreamPointerLock");
    StreamPointerImpl* pointer = ImplOf(streamPointer);
    QueueLock lock(pointer->pin);
    if (pointer->frame == nullptr) {
        return STATUS_DEVICE_NOT_READY;
    }
    pointer->locked = true;
    return STATUS_SUCCESS;
}

void KsStreamPointerUnlock(PKSSTREAM_POINTER streamPointer, BOOLEAN eject)
{
    Platform::Kernel::RequireCallerIrql(DISPATCH_LEVEL, "KsStreamPointerUnlock");
    StreamPointerImpl* pointer = ImplOf(streamPointer);
    if (eject) {
        KsStreamPointerAdvance(streamPointer);
    }
    QueueLock lock(pointer->pin);
    pointer->locked = false;
}

NTSTATUS KsStreamPointerAdvance(PKSSTREAM_POINTER streamPointer)
{
    Platform::Kernel::RequireCallerIrql(DISPATCH_LEVEL, "KsStreamPointerAdvance");
    StreamPointerImpl* pointer = ImplOf(streamPointer);
    // The trailing edge only shows the oldest frame: frames complete as the leading edge and the
    // clones let them go.
    if (pointer == &pointer->pin->trailing) {
        return STATUS_NOT_SUPPORTED;
    }
    QueueLock lock(pointer->pin);
    const NTSTATUS status = MoveToNextFrame(pointer);
    lock.Retire();
    return status;
}

NTSTATUS KsStreamPointerAdvanceOffsets(PKSSTREAM_POINTER streamPointer, ULONG inUsed, ULONG outUsed,
                                       BOOLEAN eject)
{
    Platform::Kernel::RequireCallerIrql(DISPATCH_LEVEL, "KsStreamPointerAdvanceOffsets");
    StreamPointerImpl* pointer = ImplOf(streamPointer);
    if (pointer == &pointer->pin->trailing) {
        return STATUS_NOT_SUPPORTED;
    }
    return AdvanceOffsets(pointer, inUsed, outUsed, eject);
}

NTSTATUS KsStreamPointerAdvanceOffsetsAndUnlock(PKSSTREAM_POINTER streamPointer, ULONG inUsed,
                                                ULONG outUsed, BOOLEAN eject)
{
    Platform::Kernel::RequireCallerIrql(DISPATCH_LEVEL, "KsStreamPointerAdvanceOffsetsAndUnlock");
    const NTSTATUS status = KsStreamPointerAdvanceOffsets(streamPointer, inUsed, outUsed, eject);
    KsStreamPointerUnlock(streamPointer, FALSE);
    return status;
}

NTSTATUS KsStreamPointerClone(PKSSTREAM_POINTER streamPointer, PFNKSSTREAMPOINTER cancelCallback,
                              ULONG contextSize, PKSSTREAM_POINTER* cloneStreamPointer)
{
    Platform::Kernel::RequireCallerIrql(DISPATCH_LEVEL, "KsStreamPointerClone");
    UNREFERENCED_PARAMETER(cancelCallback);
    *cloneStreamPointer = nullptr;
    StreamPointerImpl* source = ImplOf(streamPointer);
    PinImpl* pin = source->pin;
    if (contextSize > 0x10000) {
        return STATUS_INVALID_PARAMETER;
    }
    const SIZE_T bytes = sizeof(StreamPointerImpl) + contextSize;
    auto* clone = static_cast<StreamPointerImpl*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, bytes, kClonePointerTag));
    if (clone == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(clone, bytes);
    QueueLock lock(pin);
    if (source->frame == nullptr) {
        ExFreePoolWithTag(clone, kClonePointerTag);
        return STATUS_DEVICE_NOT_READY;
    }
    clone->pin = pin;
    clone->frame = source->frame;
    clone->offset = source->offset;
    clone->locked = true;
    clone->clone = true;
    clone->pointer.Context = contextSize != 0 ? clone + 1 : nullptr;
    ++clone->frame->clones;
    Publish(clone);
    StreamPointerImpl** link = &pin->clones;
    while (*link != nullptr) {
        link = &(*link)->nextClone;
    }
    *link = clone;
    *cloneStreamPointer = &clone->pointer;
    return STATUS_SUCCESS;
}

void KsStreamPointerDelete(PKSSTREAM_POINTER streamPointer)
{
    Platform::Kernel::RequireCallerIrql(DISPATCH_LEVEL, "KsStreamPointerDelete");
    StreamPointerImpl* pointer = ImplOf(streamPointer);
    PinImpl* pin = pointer->pin;
    if (!pointer->clone) {
        KeBugCheckEx(0x00000097 /* BAD_KS_OBJECT */, reinterpret_cast<ULONG_PTR>(streamPointer), 1,
                     0, 0);
    }
    QueueLock lock(pin);
    for (StreamPointerImpl** link = &pin->clones; *link != nullptr; link = &(*link)->nextClone) {
        if (*link == pointer) {
            *link = pointer->nextClone;
            break;
        }
    }
    if (pointer->frame != nullptr) {
        --pointer->frame->clones;
    }
    ExFreePoolWithTag(pointer, kClonePointerTag);
    lock.Retire();
}

void KsStreamPointerSetStatusCode(PKSSTREAM_POINTER streamPointer, NTSTATUS status)
{
    Platform::Kernel::RequireCallerIrql(DISPATCH_LEVEL, "KsStreamPointerSetStatusCode");
    StreamPointerImpl* pointer = ImplOf(streamPointer);
    QueueLock lock(pointer->pin);
    if (pointer->frame != nullptr) {
        pointer->frame->status = status;
    }
}

PKSSTREAM_POINTER KsPinGetFirstCloneStreamPointer(PKSPIN pin)
{
    Platform::Kernel::RequireCallerIrql(DISPATCH_LEVEL, "KsPinGetFirstCloneStreamPointer");
    PinImpl* impl = PinOf(pin);
    QueueLock lock(impl);
    return impl->clones != nullptr ? &impl->clones->pointer : nullptr;
}

PKSSTREAM_POINTER KsStreamPointerGetNextClone(PKSSTREAM_POINTER streamPointer)
{
    Platform::Kernel::RequireCallerIrql(DISPATCH_LEVEL, "KsStreamPointerGetNextClone");
    StreamPointerImpl* pointer = ImplOf(streamPointer);
    QueueLock lock(pointer->pin);
    return pointer->nextClone != nullptr ? &pointer->nextClone->pointer : nullptr;
}

NTSTATUS KsPinGetReferenceClockInterface(PKSPIN pin, PIKSREFERENCECLOCK* interfacePointer)
{
    PinImpl* impl = PinOf(pin);
    *interfacePointer = nullptr;
    if (!impl->hasClock) {
        return STATUS_DEVICE_NOT_READY;
    }
    impl->clock->AddRef();
    *interfacePointer = impl->clock;
    return STATUS_SUCCESS;
}
