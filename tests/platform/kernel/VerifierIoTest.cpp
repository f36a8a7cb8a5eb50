// I/O verification: IRPs freed in flight, STATUS_PENDING without the pending mark, completion with
// a cancel routine set; each broken on purpose, next to the correct use that must not stop.
#include <KernelTestApi.h>
#include <wdm.h>

#include <gtest/gtest.h>

#include "KernelTestFixture.h"

namespace {

using namespace Platform::Kernel;

// What the lower driver's dispatch routine does with the IRP.
enum class Behaviour
{
    MarkAndPend,           // keeps it, marked pending
    PendUnmarked,          // keeps it, returns STATUS_PENDING without the mark
    MarkCompleteAndPend,   // marks it, completes it, then returns STATUS_PENDING
    CompleteAndPend,       // completes it unmarked, then returns STATUS_PENDING
    CompleteWithCancelSet  // sets a cancel routine and completes it
};

struct Lower
{
    Lower()
    {
        driver.MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = &Dispatch;
        device.DriverObject = &driver;
        device.DeviceExtension = this;
        device.StackSize = 1;
    }

    static void Cancel(PDEVICE_OBJECT, PIRP irp) { IoReleaseCancelSpinLock(irp->CancelIrql); }

    static void Complete(PIRP irp)
    {
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
    }

    static NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp)
    {
        auto* self = static_cast<Lower*>(device->DeviceExtension);
        self->held = irp;
        switch (self->behaviour) {
            case Behaviour::MarkAndPend:
                IoMarkIrpPending(irp);
                return STATUS_PENDING;
            case Behaviour::PendUnmarked:
                return STATUS_PENDING;
            case Behaviour::MarkCompleteAndPend:
                IoMarkIrpPending(irp);
                Complete(irp);
                return STATUS_PENDING;
            case Behaviour::CompleteAndPend:
                Complete(irp);
                return STATUS_PENDING;
            case Behaviour::CompleteWithCancelSet:
                IoSetCancelRoutine(irp, &Cancel);
                Complete(irp);
                return STATUS_SUCCESS;
        }
        return STATUS_SUCCESS;
    }

    DRIVER_OBJECT driver{};
    DEVICE_OBJECT device{};
    Behaviour behaviour = Behaviour::MarkAndPend;
    PIRP held = nullptr;
};

NTSTATUS KeepIrp(PDEVICE_OBJECT, PIRP, PVOID)
{
    return STATUS_MORE_PROCESSING_REQUIRED;
}

class VerifierIo : public Testing::KernelTest
{
protected:
    PIRP Prepared()
    {
        PIRP irp = IoAllocateIrp(1, FALSE);
        EXPECT_NE(irp, nullptr);
        IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        IoSetCompletionRoutine(irp, &KeepIrp, nullptr, TRUE, TRUE, TRUE);
        return irp;
    }
    Lower lower;
};

TEST_F(VerifierIo, DispatchRoutinesReturningPendingMustHaveMarkedTheIrp)
{
    struct Case
    {
        const char* name;
        Behaviour behaviour;
        bool stops;
        bool completed;
    };
    const Case cases[] = {
        {"marked and kept", Behaviour::MarkAndPend, false, false},
        {"kept unmarked", Behaviour::PendUnmarked, true, false},
        {"marked, completed before returning", Behaviour::MarkCompleteAndPend, false, true},
        {"unmarked, completed before returning", Behaviour::CompleteAndPend, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        lower.behaviour = c.behaviour;
        PIRP irp = Prepared();
        NTSTATUS status = 0;
        const auto stop = ExpectBugCheck([&] { status = IoCallDriver(&lower.device, irp); });
        EXPECT_EQ(stop.has_value(), c.stops);
        if (stop) {
            EXPECT_EQ(stop->parameters[0], kRulePendingNotMarked);
            EXPECT_EQ(stop->reason.rfind("I/O verification", 0), 0u) << stop->reason;
            EXPECT_NE(stop->reason.find("VerifierIoTest.cpp:"), std::string::npos) << stop->reason;
        } else {
            EXPECT_EQ(status, STATUS_PENDING);
        }
        if (!c.completed) {
            Lower::Complete(irp);
        }
        IoFreeIrp(irp);
    }
}

TEST_F(VerifierIo, FreeingOrReusingAnIrpInFlightStops)
{
    lower.behaviour = Behaviour::MarkAndPend;
    PIRP irp = Prepared();
    ASSERT_EQ(IoCallDriver(&lower.device, irp), STATUS_PENDING);
    for (bool reuse : {false, true}) {
        const auto stop = ExpectBugCheck([&] {
            if (reuse) {
                IoReuseIrp(irp, STATUS_SUCCESS);
            } else {
                IoFreeIrp(irp);
            }
        });
        ASSERT_TRUE(stop.has_value());
        EXPECT_EQ(stop->parameters[0], kRuleIrpFreedInFlight);
        EXPECT_NE(stop->reason.find(reuse ? "IoReuseIrp" : "IoFreeIrp"), std::string::npos);
    }
    Lower::Complete(irp);
    IoReuseIrp(irp, STATUS_SUCCESS);  // back with its owner: both are fine
    IoFreeIrp(irp);
}

TEST_F(VerifierIo, CompletingWithTheCancelRoutineStillSetStops)
{
    lower.behaviour = Behaviour::CompleteWithCancelSet;
    PIRP irp = Prepared();
    const auto stop = ExpectBugCheck([&] { IoCallDriver(&lower.device, irp); });
    ASSERT_TRUE(stop.has_value());
    EXPECT_EQ(stop->parameters[0], kRuleCancelRoutineSet);
    EXPECT_NE(stop->reason.find("VerifierIoTest.cpp:"), std::string::npos) << stop->reason;
    // Cleared first, as a driver must, the same IRP completes.
    ASSERT_NE(IoSetCancelRoutine(irp, nullptr), nullptr);
    Lower::Complete(irp);
    IoFreeIrp(irp);
}

}  // namespace
