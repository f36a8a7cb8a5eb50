#include "EngineMidiTick.h"

#include "common/InStackLock.h"
#include "device/PoolTag.h"
#include "midi/MidiRouter.h"
#include "midi/UsbMidiCodec.h"
#include "midi/UsbMidiInput.h"

namespace {

constexpr ULONG kTagThrottles = PoolTag("Thrt");
constexpr ULONG kTagTickWork = PoolTag("Queu");
constexpr ULONG kOneMillisecond = 10000;  // 100 ns

struct TickWork
{
    PIO_WORKITEM item;
    EngineMidiTick* tick;
};

}  // namespace

void EngineMidiTick::Construct(DeviceLink deviceLink, MidiPipes* midiPipes)
{
    context = ContextFromLink(deviceLink);
    pipes = midiPipes;
    codec = nullptr;
    router = nullptr;
    initialized = 0;
    engineRunning = 0;
    tickState = kTickStopped;
    RtlZeroMemory(&configuration, sizeof(configuration));
    configuration.index = static_cast<ULONG>(-1);
    ports = {nullptr, 0, 0};
    KeInitializeSpinLock(&portsLock);
    ConstructDpcTimer(&timer, deviceLink, EngineTick, this);
    KeInitializeMutex(&mutex, 0);
    KeInitializeEvent(&tickIdle, NotificationEvent, TRUE);
}

void EngineMidiTick::Destroy()
{
    StopKeeping();
    ReplacePorts({nullptr, 0, 0});
}

void EngineMidiTick::SetMidiLinks(UsbMidiCodec* midiCodec, MidiRouter* midiRouter)
{
    codec = midiCodec;
    WritePointerRelease(reinterpret_cast<PVOID volatile*>(&router), midiRouter);
}

void EngineMidiTick::RequestTick(ULONG)
{
    const LONG state = TickState();
    if (state == kTickStopping || state == kTickStopped) {
        ChangeTick(true, false);
    }
}

bool EngineMidiTick::IsTickActive()
{
    const LONG state = TickState();
    return state == kTickStarting || state == kTickRunning;
}

// Swaps in the new port records; the old throttles are freed outside the lock.
void EngineMidiTick::ReplacePorts(const MidiOutputPorts& next)
{
    MidiPortThrottle* old = nullptr;
    {
        InStackLock hold(&portsLock);
        old = ports.throttles;
        ports = next;
    }
    if (old != nullptr) {
        ExFreePoolWithTag(old, kTagThrottles);
    }
}

void EngineMidiTick::ApplyMidiConfiguration(const MidiConfiguration* record)
{
    if (record->index == configuration.index) {
        return;
    }
    configuration = *record;
    if (initialized) {
        ChangeTick(false, false);
    }
    const ULONG count = record->outputPortCount;
    if (count == 0) {
        ReplacePorts({nullptr, 0, 0});
        return;
    }
    // Without room for the throttles the ports run unlimited rather than not at all.
    auto* throttles = static_cast<MidiPortThrottle*>(
        ExAllocatePoolWithTag(NonPagedPool, count * sizeof(MidiPortThrottle), kTagThrottles));
    if (throttles != nullptr) {
        for (ULONG port = 0; port < count; ++port) {
            const ULONG rate =
                record->outputByteRates != nullptr ? record->outputByteRates[port] : 0;
            SetMidiPortThrottle(&throttles[port], rate);
        }
    }
    ReplacePorts({throttles, count, count - 1});
}

// The router given, else the one linked to the codec (the device's, made after the engine).
MidiRouter* EngineMidiTick::LinkedRouter()
{
    MidiRouter* linked = static_cast<MidiRouter*>(
        ReadPointerAcquire(reinterpret_cast<PVOID const volatile*>(&router)));
    return linked != nullptr || codec == nullptr ? linked : codec->Router();
}

LONGLONG EngineMidiTick::Now100ns()
{
    LARGE_INTEGER frequency;
    const LARGE_INTEGER counter = KeQueryPerformanceCounter(&frequency);
    const LONGLONG perSecond = frequency.QuadPart;
    return counter.QuadPart / perSecond * 10000000 +
           counter.QuadPart % perSecond * 10000000 / perSecond;
}

void EngineMidiTick::OnMidiInPacket(const UCHAR* data, ULONG length)
{
    if (TickState() != kTickRunning) {
        return;
    }
    MidiRouter* linked = LinkedRouter();
    MidiConfiguration table = {};
    if (codec != nullptr) {
        codec->GetPortTable(&table);
    }
    if (linked == nullptr ||
        DeliverUsbMidiTransfer(linked, table.index, Now100ns(), data, length) < 0) {
        ChangeTick(false, false);
    }
}

NTSTATUS EngineMidiTick::EngineStart()
{
    if (!initialized) {
        return STATUS_UNSUCCESSFUL;
    }
    // Once per stop: a second start would set the timer resolution a second time, and the one
    // stop that follows would leave it set.
    if (engineRunning) {
        return STATUS_SUCCESS;
    }
    {
        InStackLock hold(&portsLock);
        for (ULONG port = 0; port < ports.portCount && ports.throttles != nullptr; ++port) {
            ports.throttles[port].backlog = 0;
            ports.throttles[port].backlogRemainder = 0;
        }
    }
    pipes->SetMidiInput(this);
    // The pipes first: a tick that ran while they settle would take the due messages off their
    // queues and find nowhere to put them.
    const NTSTATUS status = pipes->MidiPipesStarted() ? STATUS_SUCCESS : pipes->StartMidiPipes();
    ExSetTimerResolution(kOneMillisecond, TRUE);
    ArmDpcTimer(&timer);
    engineRunning = 1;
    return status;
}

void EngineMidiTick::EngineStop()
{
    if (!initialized || !engineRunning) {
        return;
    }
    StopDpcTimer(&timer);
    // A tick that is running finishes first; one whose DPC was already past the running check
    // must have cleared the idle event before the wait looks at it.
    KeFlushQueuedDpcs();
    KeWaitForSingleObject(&tickIdle, Executive, KernelMode, FALSE, nullptr);
    ExSetTimerResolution(0, FALSE);
    pipes->StopMidiPipes();
    engineRunning = 0;
}

// PASSIVE_LEVEL, under the mutex. Brings the engine to what the state asks and moves the state
// on. A start or stop asked for at DISPATCH_LEVEL meanwhile (EngineStop waits for the tick) has
// changed the state: each step moves it only from the value it acted on, and goes round again
// when it finds another. With recheck, a stop that is done looks at the clients once more: one
// that opened while the tick's last run was deciding to stop asked nothing of a running tick.
void EngineMidiTick::SettleTick(bool recheck)
{
    for (;;) {
        const LONG state = TickState();
        if (state == kTickStarting) {
            EngineStart();
            if (InterlockedCompareExchange(&tickState, kTickRunning, kTickStarting) ==
                kTickStarting) {
                return;
            }
        } else if (state == kTickStopping) {
            EngineStop();
            if (InterlockedCompareExchange(&tickState, kTickStopped, kTickStopping) !=
                kTickStopping) {
                continue;
            }
            MidiRouter* linked = LinkedRouter();
            if (!recheck || !initialized || linked == nullptr || !linked->AnyClientOpen()) {
                return;
            }
            InterlockedCompareExchange(&tickState, kTickStarting, kTickStopped);
        } else {
            return;
        }
    }
}

void EngineMidiTick::ChangeTick(bool start, bool keep)
{
    if (KeGetCurrentIrql() > PASSIVE_LEVEL) {
        LONG before = TickState();
        const bool already = start ? (before == kTickStarting || before == kTickRunning)
                                   : (before == kTickStopping || before == kTickStopped);
        const LONG next = start ? kTickStarting : kTickStopping;
        if (already || InterlockedCompareExchange(&tickState, next, before) != before) {
            return;
        }
        if (!QueueTickWork()) {
            // Nothing will act on the new state: the next request must find the old one.
            InterlockedCompareExchange(&tickState, before, next);
        }
        return;
    }
    KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr);
    if (!start && keep) {
        EngineStop();
    } else {
        // The state may change at DISPATCH_LEVEL between the read and the write.
        for (;;) {
            const LONG state = TickState();
            const bool already = start ? (state == kTickStarting || state == kTickRunning)
                                       : (state == kTickStopping || state == kTickStopped);
            const LONG next = start ? kTickStarting : kTickStopping;
            if (already || InterlockedCompareExchange(&tickState, next, state) == state) {
                break;
            }
        }
        // A stop here is the configuration's, which wants the tick stopped on return.
        SettleTick(false);
    }
    KeReleaseMutex(&mutex, FALSE);
}

bool EngineMidiTick::QueueTickWork()
{
    if (!NT_SUCCESS(IoAcquireRemoveLock(&context->removeLock, nullptr))) {
        return false;
    }
    auto* work =
        static_cast<TickWork*>(ExAllocatePoolWithTag(NonPagedPool, sizeof(TickWork), kTagTickWork));
    PIO_WORKITEM item =
        work != nullptr ? IoAllocateWorkItem(context->device->FunctionalDeviceObject) : nullptr;
    if (item == nullptr) {
        if (work != nullptr) {
            ExFreePoolWithTag(work, kTagTickWork);
        }
        IoReleaseRemoveLock(&context->removeLock, nullptr);
        return false;
    }
    *work = TickWork{item, this};
    IoQueueWorkItem(item, TickWorkItem, DelayedWorkQueue, work);
    return true;
}

void EngineMidiTick::TickWorkItem(PDEVICE_OBJECT, PVOID parameter)
{
    auto* work = static_cast<TickWork*>(parameter);
    EngineMidiTick* self = work->tick;
    KeWaitForSingleObject(&self->mutex, Executive, KernelMode, FALSE, nullptr);
    if (GetPnpState(self->context) == kPnpStarted) {
        self->SettleTick(true);
    }
    KeReleaseMutex(&self->mutex, FALSE);
    IoReleaseRemoveLock(&self->context->removeLock, nullptr);
    IoFreeWorkItem(work->item);
    ExFreePoolWithTag(work, kTagTickWork);
}

void EngineMidiTick::EngineTick(PVOID argument)
{
    auto* self = static_cast<EngineMidiTick*>(argument);
    KeClearEvent(&self->tickIdle);
    if (ReadUCharAcquire(&self->timer.running) != 0 && self->codec != nullptr) {
        MidiRouter* linked = self->LinkedRouter();
        LONG result = 0;
        {
            InStackLock hold(&self->portsLock);
            result =
                RunMidiOutputTick(&self->ports, self->codec, linked, self->Now100ns(), self->pipes);
        }
        if (result == -1) {
            self->ChangeTick(false, false);
        }
    }
    KeSetEvent(&self->tickIdle, 0, FALSE);
}

void EngineMidiTick::ResumeAfterStart()
{
    KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr);
    initialized = 1;
    const LONG state = TickState();
    if (state == kTickRunning) {
        EngineStart();
    }
    SettleTick(true);
    KeReleaseMutex(&mutex, FALSE);
}

void EngineMidiTick::StopKeeping()
{
    ChangeTick(false, true);
    KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr);
    initialized = 0;
    KeReleaseMutex(&mutex, FALSE);
}
