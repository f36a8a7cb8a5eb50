// IRPs as the USB layer sends them: completion routines and their flags, synchronous and pending
// completion, STATUS_MORE_PROCESSING_REQUIRED, cancellation and the I/O manager's own IRPs.
#include <KernelTestApi.h>
#include <wdm.h>

#include <gtest/gtest.h>

#include "KernelTestFixture.h"

namespace {

using namespace Platform::Kernel;

// A lower driver that completes at once, keeps the IRP pending (cancellable), or passes it on.
struct LowerDriver
{
    LowerDriver()
    {
        driver.MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = &Dispatch;
        device.DriverObject = &driver;
        device.DeviceExtension = this;
        device.StackSize = 1;
    }
    static NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp)
    {
        auto* self = static_cast<LowerDriver*>(device->DeviceExtension);
        self->lastIrql = KeGetCurrentIrql();
        if (self->pend) {
            self->pending = irp;
            IoMarkIrpPending(irp);
            IoSetCancelRoutine(irp, &Cancel);
            return STATUS_PENDING;
        }
        irp->IoStatus.Status = self->status;
        irp->IoStatus.Information = 7;
        KIRQL old;
        KeRaiseIrql(DISPATCH_LEVEL, &old);
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        KeLowerIrql(old);
        return self->status;
    }
    static void Cancel(PDEVICE_OBJECT device, PIRP irp)
    {
        auto* self = static_cast<LowerDriver*>(device->DeviceExtension);
        self->pending = nullptr;
        IoReleaseCancelSpinLock(irp->CancelIrql);
        irp->IoStatus.Status = STATUS_CANCELLED;
        KIRQL old;
        KeRaiseIrql(DISPATCH_LEVEL, &old);
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        KeLowerIrql(old);
    }
    DRIVER_OBJECT driver{};
    DEVICE_OBJECT device{};
    bool pend = false;
    NTSTATUS status = STATUS_SUCCESS;
    PIRP pending = nullptr;
    KIRQL lastIrql = 0;
};

struct Completion
{
    int calls = 0;
    NTSTATUS status = 0;
    KIRQL irql = 0;
    BOOLEAN pendingReturned = FALSE;
    PDEVICE_OBJECT device = nullptr;
};

NTSTATUS Record(PDEVICE_OBJECT device, PIRP irp, PVOID context)
{
    auto* c = static_cast<Completion*>(context);
    ++c->calls;
    c->status = irp->IoStatus.Status;
    c->irql = KeGetCurrentIrql();
    c->pendingReturned = irp->PendingReturned;
    c->device = device;
    return STATUS_MORE_PROCESSING_REQUIRED;
}

class Irps : public Testing::KernelTest
{
protected:
    PIRP Prepared(Completion& c, bool onSuccess = true, bool onError = true, bool onCancel = true)
    {
        PIRP irp = IoAllocateIrp(lower.device.StackSize + 1, FALSE);
        EXPECT_NE(irp, nullptr);
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
        next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        IoSetCompletionRoutine(irp, &Record, &c, onSuccess, onError, onCancel);
        return irp;
    }
    LowerDriver lower;
};

TEST_F(Irps, SynchronousCompletionRunsTheRoutineInsideTheCall)
{
    Completion c;
    PIRP irp = Prepared(c);
    EXPECT_EQ(IoCallDriver(&lower.device, irp), STATUS_SUCCESS);
    EXPECT_EQ(c.calls, 1);
    EXPECT_EQ(c.irql, DISPATCH_LEVEL);
    EXPECT_FALSE(c.pendingReturned);
    EXPECT_EQ(irp->IoStatus.Information, 7u);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    IoFreeIrp(irp);
}

TEST_F(Irps, RoutineFlagsSelectWhichOutcomesCallIt)
{
    struct Row
    {
        NTSTATUS status;
        bool onSuccess, onError;
        int calls;
    } rows[] = {{STATUS_SUCCESS, true, false, 1},
                {STATUS_UNSUCCESSFUL, true, false, 0},
                {STATUS_UNSUCCESSFUL, false, true, 1},
                {STATUS_SUCCESS, false, true, 0}};
    for (const Row& row : rows) {
        Completion c;
        lower.status = row.status;
        PIRP irp = Prepared(c, row.onSuccess, row.onError, false);
        if (row.calls == 0) {
            // Nobody keeps an allocated IRP that completes all the way: the system stops.
            auto check = ExpectBugCheck([&] { IoCallDriver(&lower.device, irp); });
            ASSERT_TRUE(check.has_value());
            EXPECT_EQ(check->code, kDriverVerifierDetectedViolation);
        } else {
            IoCallDriver(&lower.device, irp);
        }
        EXPECT_EQ(c.calls, row.calls);
        IoFreeIrp(irp);
    }
}

TEST_F(Irps, PendingIrpCompletesLaterAndCanBeCancelled)
{
    lower.pend = true;
    Completion c;
    PIRP irp = Prepared(c);
    EXPECT_EQ(IoCallDriver(&lower.device, irp), STATUS_PENDING);
    EXPECT_EQ(c.calls, 0);
    EXPECT_TRUE(IoCancelIrp(irp));
    EXPECT_EQ(c.calls, 1);
    EXPECT_EQ(c.status, STATUS_CANCELLED);
    EXPECT_TRUE(c.pendingReturned);
    EXPECT_TRUE(irp->Cancel);
    EXPECT_FALSE(IoCancelIrp(irp)) << "no cancel routine any more";
    IoFreeIrp(irp);
}

TEST_F(Irps, DeviceControlRequestIsFinishedByTheIoManager)
{
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK status{};
    int argument = 0;
    PIRP irp = IoBuildDeviceIoControlRequest(0x0022001F, &lower.device, nullptr, 0, nullptr, 0,
                                             TRUE, &event, &status);
    ASSERT_NE(irp, nullptr);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    EXPECT_EQ(next->MajorFunction, IRP_MJ_INTERNAL_DEVICE_CONTROL);
    EXPECT_EQ(next->Parameters.DeviceIoControl.IoControlCode, 0x0022001Fu);
    next->Parameters.Others.Argument1 = &argument;
    EXPECT_EQ(next->Parameters.DeviceIoControl.IoControlCode, 0x0022001Fu)
        << "Argument1 does not overlap the control code";
    EXPECT_EQ(IoCallDriver(&lower.device, irp), STATUS_SUCCESS);
    EXPECT_EQ(KeReadStateEvent(&event), 1);
    EXPECT_EQ(status.Status, STATUS_SUCCESS);
    EXPECT_EQ(status.Information, 7u);
    EXPECT_TRUE(OutstandingPool().empty()) << "the IRP is freed on completion";
    EXPECT_EQ(IoBuildDeviceIoControlRequest(0x00220000, &lower.device, nullptr, 0, nullptr, 0, TRUE,
                                            &event, &status),
              nullptr)
        << "buffered codes are not offered";
}

TEST_F(Irps, StackOverrunAndDoubleCompletionStopTheSystem)
{
    PIRP irp = IoAllocateIrp(1, FALSE);
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    LowerDriver passOn;
    passOn.driver.MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = [](PDEVICE_OBJECT, PIRP irp) {
        IoCopyCurrentIrpStackLocationToNext(irp);
        static LowerDriver below;
        return IoCallDriver(&below.device, irp);
    };
    auto check = ExpectBugCheck([&] { IoCallDriver(&passOn.device, irp); });
    ASSERT_TRUE(check.has_value());
    EXPECT_EQ(check->code, ULONG(BUG_CHECK_NO_MORE_IRP_STACK_LOCATIONS));
    irp->CurrentLocation = irp->StackCount + 1;  // the stop left it below; take it back to free it
    IoFreeIrp(irp);

    Completion c;
    irp = Prepared(c);
    IoCallDriver(&lower.device, irp);
    check = ExpectBugCheck([&] { IoCompleteRequest(irp, IO_NO_INCREMENT); });
    ASSERT_TRUE(check.has_value());
    EXPECT_EQ(check->code, ULONG(BUG_CHECK_MULTIPLE_IRP_COMPLETE_REQUESTS));
    IoFreeIrp(irp);
}

TEST_F(Irps, AllocationFailureGivesNull)
{
    FailAllocationNumber(1);
    EXPECT_EQ(IoAllocateIrp(2, FALSE), nullptr);
}

}  // namespace
