// Kernel services called the way Windows refuses: each misuse stops the system with the code
// Windows (or its verifier) would use, next to the nearest correct use, which must not stop.
#include <KernelTestApi.h>
#include <wdm.h>

#include <gtest/gtest.h>

#include "KernelTestFixture.h"

namespace {

using namespace Platform::Kernel;

constexpr ULONG kTag = MakeTag("VsT1");
constexpr ULONG kNoStop = 0;

NTSTATUS KeepIrp(PDEVICE_OBJECT, PIRP, PVOID)
{
    return STATUS_MORE_PROCESSING_REQUIRED;
}

void NothingToDo(PKDPC, PVOID, PVOID, PVOID) {}

// What a case made, given back after it ran whether or not it stopped.
struct Scratch
{
    void* block = nullptr;
    PMDL mdl = nullptr;
    bool mdlLocked = false;
    PIRP irp = nullptr;
    bool irpHeldBelow = false;  // sent to the lowest driver and not completed
    KDPC dpc{};

    // The lowest driver: its dispatch routine runs the case's step with the IRP it was sent.
    DRIVER_OBJECT driver{};
    DEVICE_OBJECT device{};
    void (*dispatchStep)(PIRP irp) = nullptr;

    Scratch()
    {
        driver.MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = &Dispatch;
        device.DriverObject = &driver;
        device.DeviceExtension = this;
        device.StackSize = 1;
    }

    static NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp)
    {
        auto* self = static_cast<Scratch*>(device->DeviceExtension);
        self->irpHeldBelow = true;
        IoMarkIrpPending(irp);
        self->dispatchStep(irp);
        return STATUS_PENDING;
    }

    // An IRP of one location, sent to the lowest driver, whose dispatch runs `step`.
    void SendToLowest(void (*step)(PIRP))
    {
        dispatchStep = step;
        irp = IoAllocateIrp(1, FALSE);
        IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        IoSetCompletionRoutine(irp, &KeepIrp, nullptr, TRUE, TRUE, TRUE);
        IoCallDriver(&device, irp);
    }

    void LockedPoolMdl()
    {
        block = ExAllocatePoolWithTag(NonPagedPoolNx, 64, kTag);
        mdl = IoAllocateMdl(block, 64, FALSE, FALSE, nullptr);
        ASSERT_EQ(MmProbeAndLockPages(mdl, KernelMode, IoWriteAccess), STATUS_SUCCESS);
        mdlLocked = true;
    }

    void Release()
    {
        KeRemoveQueueDpc(&dpc);
        if (mdl != nullptr) {
            if ((mdl->MdlFlags & MDL_PAGES_LOCKED) != 0) {
                MmUnlockPages(mdl);
            }
            IoFreeMdl(mdl);
        }
        if (irp != nullptr) {
            if (irpHeldBelow && irp->CurrentLocation <= irp->StackCount) {
                irp->IoStatus.Status = STATUS_SUCCESS;
                IoCompleteRequest(irp, IO_NO_INCREMENT);
            }
            IoFreeIrp(irp);
        }
        if (block != nullptr) {
            ExFreePoolWithTag(block, kTag);
        }
    }
};

void AtIrql(KIRQL irql)
{
    KIRQL old;
    KeRaiseIrql(irql, &old);
}

struct Case
{
    const char* name;
    ULONG code;  // kNoStop for the correct use
    void (*run)(Scratch& s);
};

void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.name;
}

const Case kCases[] = {
    // Pool
    {"ZeroBytes", kDriverVerifierDetectedViolation,
     [](Scratch& s) { s.block = ExAllocatePoolWithTag(NonPagedPoolNx, 0, kTag); }},
    {"TagOfZero", kDriverVerifierDetectedViolation,
     [](Scratch& s) { s.block = ExAllocatePoolWithTag(NonPagedPoolNx, 8, 0); }},
    {"PagedBlockFreedAtDispatch", kIrqlNotLessOrEqual,
     [](Scratch& s) {
         s.block = ExAllocatePoolWithTag(PagedPool, 8, kTag);
         AtIrql(DISPATCH_LEVEL);
         ExFreePoolWithTag(s.block, kTag);
         s.block = nullptr;
     }},
    {"PagedBlockFreedAtApcLevel", kNoStop,
     [](Scratch& s) {
         s.block = ExAllocatePoolWithTag(PagedPool, 8, kTag);
         AtIrql(APC_LEVEL);
         ExFreePoolWithTag(s.block, kTag);
         s.block = nullptr;
         KeLowerIrql(PASSIVE_LEVEL);
     }},
    // IRPs
    {"IrpFreedAboveDispatch", kIrqlNotLessOrEqual,
     [](Scratch& s) {
         s.irp = IoAllocateIrp(1, FALSE);
         AtIrql(HIGH_LEVEL);
         IoFreeIrp(s.irp);
         s.irp = nullptr;
     }},
    {"IrpReusedAboveDispatch", kIrqlNotLessOrEqual,
     [](Scratch& s) {
         s.irp = IoAllocateIrp(1, FALSE);
         AtIrql(HIGH_LEVEL);
         IoReuseIrp(s.irp, STATUS_SUCCESS);
     }},
    {"BuiltIrpReused", kDriverVerifierDetectedViolation,
     [](Scratch& s) {
         s.irp = IoBuildDeviceIoControlRequest(METHOD_NEITHER, &s.device, nullptr, 0, nullptr, 0,
                                               TRUE, nullptr, nullptr);
         IoReuseIrp(s.irp, STATUS_SUCCESS);
     }},
    {"AllocatedIrpReused", kNoStop,
     [](Scratch& s) {
         s.irp = IoAllocateIrp(1, FALSE);
         IoReuseIrp(s.irp, STATUS_SUCCESS);
     }},
    {"CompletionRoutineSetByTheLowestDriver", BUG_CHECK_NO_MORE_IRP_STACK_LOCATIONS,
     [](Scratch& s) {
         s.SendToLowest(
             [](PIRP irp) { IoSetCompletionRoutine(irp, &KeepIrp, nullptr, TRUE, TRUE, TRUE); });
     }},
    {"LocationCopiedOnByTheLowestDriver", BUG_CHECK_NO_MORE_IRP_STACK_LOCATIONS,
     [](Scratch& s) {
         s.SendToLowest([](PIRP irp) { IoCopyCurrentIrpStackLocationToNext(irp); });
     }},
    {"InvokedWithNoCompletionRoutine", kDriverVerifierDetectedViolation,
     [](Scratch& s) {
         s.irp = IoAllocateIrp(1, FALSE);
         IoSetCompletionRoutine(s.irp, nullptr, nullptr, TRUE, FALSE, FALSE);
     }},
    {"CompletionRoutineCleared", kNoStop,
     [](Scratch& s) {
         s.irp = IoAllocateIrp(1, FALSE);
         IoSetCompletionRoutine(s.irp, nullptr, nullptr, FALSE, FALSE, FALSE);
     }},
    {"CompletionRoutineExAboveDispatch", kIrqlNotLessOrEqual,
     [](Scratch& s) {
         s.irp = IoAllocateIrp(1, FALSE);
         AtIrql(HIGH_LEVEL);
         IoSetCompletionRoutineEx(&s.device, s.irp, &KeepIrp, nullptr, TRUE, TRUE, TRUE);
     }},
    // MDLs
    {"SystemAddressOfUnlockedPages", kDriverVerifierDetectedViolation,
     [](Scratch& s) {
         s.block = ExAllocatePoolWithTag(NonPagedPoolNx, 64, kTag);
         s.mdl = IoAllocateMdl(s.block, 64, FALSE, FALSE, nullptr);
         MmGetSystemAddressForMdlSafe(s.mdl, NormalPagePriority);
     }},
    {"SystemAddressAtDispatch", kNoStop,
     [](Scratch& s) {
         s.LockedPoolMdl();
         AtIrql(DISPATCH_LEVEL);
         EXPECT_EQ(MmGetSystemAddressForMdlSafe(s.mdl, NormalPagePriority), s.block);
         MmUnlockPages(s.mdl);
         IoFreeMdl(s.mdl);
         s.mdl = nullptr;
         KeLowerIrql(PASSIVE_LEVEL);
     }},
    {"SystemAddressAboveDispatch", kIrqlNotLessOrEqual,
     [](Scratch& s) {
         s.LockedPoolMdl();
         AtIrql(HIGH_LEVEL);
         MmGetSystemAddressForMdlSafe(s.mdl, NormalPagePriority);
     }},
    {"PagesUnlockedAboveDispatch", kIrqlNotLessOrEqual,
     [](Scratch& s) {
         s.LockedPoolMdl();
         AtIrql(HIGH_LEVEL);
         MmUnlockPages(s.mdl);
     }},
    {"ProcessAskedAtDispatch", kIrqlNotLessOrEqual,
     [](Scratch&) {
         AtIrql(DISPATCH_LEVEL);
         IoIs32bitProcess(nullptr);
     }},
    {"RemoveLockInitialisedAtDispatch", kIrqlNotLessOrEqual,
     [](Scratch&) {
         static IO_REMOVE_LOCK lock;
         AtIrql(DISPATCH_LEVEL);
         IoInitializeRemoveLock(&lock, kTag, 0, 0);
     }},
    // Dispatcher objects, DPCs and timers
    {"MutexInitialisedAtDispatch", kIrqlNotLessOrEqual,
     [](Scratch&) {
         static KMUTEX mutex;
         AtIrql(DISPATCH_LEVEL);
         KeInitializeMutex(&mutex, 0);
     }},
    {"EventReadAboveDispatch", kIrqlNotLessOrEqual,
     [](Scratch&) {
         static KEVENT event;
         KeInitializeEvent(&event, NotificationEvent, FALSE);
         AtIrql(HIGH_LEVEL);
         KeReadStateEvent(&event);
     }},
    {"TimerInitialisedAboveDispatch", kIrqlNotLessOrEqual,
     [](Scratch&) {
         static KTIMER timer;
         AtIrql(HIGH_LEVEL);
         KeInitializeTimerEx(&timer, NotificationTimer);
     }},
    {"TimerSetNeverInitialised", kTimerOrDpcInvalid,
     [](Scratch&) {
         static KTIMER timer;
         timer = KTIMER{};
         LARGE_INTEGER due;
         due.QuadPart = -10'000;
         KeSetTimer(&timer, due, nullptr);
     }},
    {"TimerSetWithADpcNeverInitialised", kTimerOrDpcInvalid,
     [](Scratch& s) {
         static KTIMER timer;
         KeInitializeTimerEx(&timer, NotificationTimer);
         LARGE_INTEGER due;
         due.QuadPart = -10'000;
         KeSetTimer(&timer, due, &s.dpc);
     }},
    {"DpcInitialisedWhileQueued", kTimerOrDpcInvalid,
     [](Scratch& s) {
         KeInitializeDpc(&s.dpc, &NothingToDo, nullptr);
         KeInsertQueueDpc(&s.dpc, nullptr, nullptr);
         KeInitializeDpc(&s.dpc, &NothingToDo, nullptr);
     }},
    {"DpcInitialisedAgainAfterRemoval", kNoStop,
     [](Scratch& s) {
         KeInitializeDpc(&s.dpc, &NothingToDo, nullptr);
         KeInsertQueueDpc(&s.dpc, nullptr, nullptr);
         KeRemoveQueueDpc(&s.dpc);
         KeInitializeDpc(&s.dpc, &NothingToDo, nullptr);
     }},
    {"DpcQueuedNeverInitialised", kTimerOrDpcInvalid,
     [](Scratch& s) { KeInsertQueueDpc(&s.dpc, nullptr, nullptr); }},
};

class VerifierServices : public Testing::KernelTest, public testing::WithParamInterface<Case>
{
};

TEST_P(VerifierServices, MisuseStopsAndTheCorrectUseDoesNot)
{
    Scratch scratch;
    const auto stop = ExpectBugCheck([&] { GetParam().run(scratch); });
    if (GetParam().code == kNoStop) {
        EXPECT_FALSE(stop.has_value()) << stop->Describe();
    } else {
        ASSERT_TRUE(stop.has_value());
        EXPECT_EQ(stop->code, GetParam().code) << stop->Describe();
        EXPECT_FALSE(stop->reason.empty());
    }
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    scratch.Release();
}

INSTANTIATE_TEST_SUITE_P(Cases, VerifierServices, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
