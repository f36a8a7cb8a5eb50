// Kernel streaming under the verifier: entry points at the wrong IRQL, object bags and factory
// walks without the mutex they require, IRPs of a cancelable queue completed while linked or
// twice, IRPs acquired and never released, and the device and control mutexes in the lock order.
#include <KernelTestApi.h>
#include <KsHostApi.h>
#include <gtest/gtest.h>

#include "KernelTestFixture.h"
#include "KsTestDriver.h"

using Platform::Kernel::BugCheckInfo;
using Platform::Kernel::ExpectBugCheck;
using Platform::Kernel::UserProcess;
using Platform::Ks::FilterHandle;
using Platform::Ks::PnpRequest;

namespace {

constexpr ULONG kTag = Platform::Kernel::MakeTag("KsVf");

class KsVerifierTest : public Platform::Kernel::Testing::KernelTest
{
protected:
    void SetUp() override
    {
        KernelTest::SetUp();
        driver_ = Platform::Ks::Driver::Load(KsTestDriver::DriverEntry);
        ASSERT_NE(driver_, nullptr);
        device_ = driver_->PlugIn({u"USB\\VID_1234&PID_5678&MI_00"});
        ASSERT_NE(device_, nullptr);
        ASSERT_EQ(device_->Send(PnpRequest::Start), STATUS_SUCCESS);
        link_ = device_->FindInterface(KSCATEGORY_AUDIO, KsTestDriver::kReference);
        ASSERT_FALSE(link_.empty());
    }

    void TearDown() override
    {
        driver_.reset();
        KernelTest::TearDown();
    }

    PKSDEVICE Device() const { return device_->KsDevice(); }

    std::unique_ptr<Platform::Ks::Driver> driver_;
    Platform::Ks::Device* device_ = nullptr;
    std::u16string link_;
};

void ExpectVerifierStop(const std::optional<BugCheckInfo>& stop, ULONG_PTR rule,
                        const std::string& text)
{
    ASSERT_TRUE(stop.has_value()) << "no stop, expected: " << text;
    EXPECT_EQ(stop->parameters[0], rule);
    EXPECT_NE(stop->reason.find(text), std::string::npos) << stop->reason;
}

TEST_F(KsVerifierTest, ObjectBagsAndFactoryWalksRequireTheirMutex)
{
    UserProcess process;
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    auto handle = FilterHandle::Open(process, *device_, link_, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    ASSERT_EQ(KsTestDriver::State().openFilters.size(), 1u);
    PKSFILTER filter = KsTestDriver::State().openFilters.front();
    PVOID item = ExAllocatePoolWithTag(NonPagedPoolNx, 8, kTag);
    ASSERT_NE(item, nullptr);

    struct Case
    {
        const char* name;
        std::function<void()> call;
        const char* names;
    };
    const Case cases[] = {
        {"device bag", [&] { KsAddItemToObjectBag(Device()->Bag, item, nullptr); },
         "KsAddItemToObjectBag called without holding the KS device mutex"},
        {"device bag removal", [&] { KsRemoveItemFromObjectBag(Device()->Bag, item, FALSE); },
         "KsRemoveItemFromObjectBag called without holding the KS device mutex"},
        {"filter bag", [&] { KsAddItemToObjectBag(filter->Bag, item, nullptr); },
         "KsAddItemToObjectBag called without holding the KS filter control mutex"},
        {"factory walk", [&] { KsDeviceGetFirstChildFilterFactory(Device()); },
         "KsDeviceGetFirstChildFilterFactory called without holding the KS device mutex"},
        {"filter bag under the device mutex (last: it keeps the device mutex)",
         [&] {
             KsAcquireDevice(Device());
             KsAddItemToObjectBag(filter->Bag, item, nullptr);
         },
         "KsAddItemToObjectBag called without holding the KS filter control mutex"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectVerifierStop(ExpectBugCheck(c.call), Platform::Kernel::kRuleKsMutexNotHeld,
                           std::string("kernel streaming: ") + c.names);
    }
    KsReleaseDevice(Device());  // taken by the last case before it stopped

    KsAcquireControl(filter);
    EXPECT_EQ(KsAddItemToObjectBag(filter->Bag, item, nullptr), STATUS_SUCCESS);
    KsReleaseControl(filter);
    handle.reset();  // the bag frees the item
}

TEST_F(KsVerifierTest, PassiveEntryPointsStopAtDispatchLevel)
{
    const std::pair<const char*, std::function<void()>> calls[] = {
        {"KsAcquireDevice", [&] { KsAcquireDevice(Device()); }},
        {"KsAcquireControl", [&] { KsAcquireControl(Device()); }},
        {"KsAddItemToObjectBag", [&] { KsAddItemToObjectBag(Device()->Bag, nullptr, nullptr); }},
        {"KsFilterFactorySetDeviceClassesState",
         [&] { KsFilterFactorySetDeviceClassesState(nullptr, FALSE); }},
    };
    for (const auto& entry : calls) {
        const char* name = entry.first;
        const std::function<void()>& call = entry.second;
        SCOPED_TRACE(name);
        const auto stop = ExpectBugCheck([&] {
            KIRQL old;
            KeRaiseIrql(DISPATCH_LEVEL, &old);
            call();
        });
        ASSERT_TRUE(stop.has_value());
        EXPECT_EQ(stop->code, Platform::Kernel::kIrqlNotLessOrEqual);
        EXPECT_EQ(stop->reason.rfind(name, 0), 0u) << stop->reason;
    }
}

TEST_F(KsVerifierTest, TheDeviceAndControlMutexesAreInTheLockOrder)
{
    UserProcess process;
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    auto handle = FilterHandle::Open(process, *device_, link_, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    PKSFILTER filter = KsTestDriver::State().openFilters.front();
    KsAcquireControl(filter);
    KsAcquireDevice(Device());
    KsReleaseDevice(Device());
    KsReleaseControl(filter);

    KsAcquireDevice(Device());
    const auto stop = ExpectBugCheck([&] { KsAcquireControl(filter); });
    ExpectVerifierStop(stop, Platform::Kernel::kRuleLockOrder, "the KS filter control mutex at 0x");
    EXPECT_NE(stop->reason.find("taken while holding the KS device mutex"), std::string::npos)
        << stop->reason;
    KsReleaseDevice(Device());
}

// A device that queues every request in a cancelable queue, as a pin queues its reads.
struct QueueingDevice
{
    QueueingDevice()
    {
        queue.Flink = &queue;
        queue.Blink = &queue;
        KeInitializeSpinLock(&lock);
        driver.MajorFunction[IRP_MJ_DEVICE_CONTROL] = &Dispatch;
        device.DriverObject = &driver;
        device.DeviceExtension = this;
        device.StackSize = 1;
    }
    static NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp)
    {
        auto* self = static_cast<QueueingDevice*>(device->DeviceExtension);
        IoMarkIrpPending(irp);
        KsAddIrpToCancelableQueue(&self->queue, &self->lock, irp, KsListEntryTail,
                                  self->ownCancel ? &OwnCancel : nullptr);
        return STATUS_PENDING;
    }
    // A driver's own routine, which frees what it keeps for the IRP before the default one.
    static void OwnCancel(PDEVICE_OBJECT device, PIRP irp)
    {
        ++static_cast<QueueingDevice*>(device->DeviceExtension)->ownCancels;
        KsCancelRoutine(device, irp);
    }
    PIRP Acquire()
    {
        return KsRemoveIrpFromCancelableQueue(&queue, &lock, KsListEntryHead, KsAcquireOnly);
    }
    PIRP Take()
    {
        return KsRemoveIrpFromCancelableQueue(&queue, &lock, KsListEntryHead, KsAcquireAndRemove);
    }
    static void Complete(PIRP irp)
    {
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
    }
    PIRP Send(bool cancelledFirst = false)
    {
        PIRP irp = IoAllocateIrp(1, FALSE);
        EXPECT_NE(irp, nullptr);
        IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_DEVICE_CONTROL;
        IoSetCompletionRoutine(
            irp, [](PDEVICE_OBJECT, PIRP, PVOID) { return STATUS_MORE_PROCESSING_REQUIRED; },
            nullptr, TRUE, TRUE, TRUE);
        if (cancelledFirst) {
            EXPECT_FALSE(IoCancelIrp(irp));  // no routine yet: only marked
        }
        EXPECT_EQ(IoCallDriver(&device, irp), STATUS_PENDING);
        return irp;
    }
    DRIVER_OBJECT driver{};
    DEVICE_OBJECT device{};
    LIST_ENTRY queue;
    KSPIN_LOCK lock;
    bool ownCancel = false;
    int ownCancels = 0;
};

bool Completed(PIRP irp)
{
    return irp->CurrentLocation > irp->StackCount;
}

TEST_F(KsVerifierTest, CancelableQueueIrpsCompleteOnceAndOnlyOffTheQueue)
{
    QueueingDevice queueing;
    PIRP irp = queueing.Send();
    // Completing it while linked: the queue would hand out a completed IRP.
    ExpectVerifierStop(ExpectBugCheck([&] { QueueingDevice::Complete(irp); }),
                       Platform::Kernel::kRuleCompletedInQueue, "still linked");
    ASSERT_EQ(KsRemoveIrpFromCancelableQueue(&queueing.queue, &queueing.lock, KsListEntryHead,
                                             KsAcquireAndRemove),
              irp);
    QueueingDevice::Complete(irp);
    ExpectVerifierStop(ExpectBugCheck([&] { QueueingDevice::Complete(irp); }),
                       Platform::Kernel::kRuleCompletedTwiceFromQueue, "completed again");
    IoFreeIrp(irp);

    // Cancelled while queued: the queue completes it, once.
    irp = queueing.Send();
    EXPECT_TRUE(IoCancelIrp(irp));
    EXPECT_EQ(irp->IoStatus.Status, STATUS_CANCELLED);
    KsCancelIo(&queueing.queue, &queueing.lock);  // nothing is left to cancel
    ExpectVerifierStop(ExpectBugCheck([&] { QueueingDevice::Complete(irp); }),
                       Platform::Kernel::kRuleCompletedTwiceFromQueue, "completed again");
    IoFreeIrp(irp);
}

TEST_F(KsVerifierTest, AnIrpAddedToAQueueWhileStillInOneStops)
{
    QueueingDevice queueing;
    PIRP irp = queueing.Send();
    ExpectVerifierStop(ExpectBugCheck([&] {
                           KsAddIrpToCancelableQueue(&queueing.queue, &queueing.lock, irp,
                                                     KsListEntryTail, nullptr);
                       }),
                       Platform::Kernel::kRuleQueuedTwice, "still linked");
    // The queue holds it once: one removal takes it, the next finds nothing.
    ASSERT_EQ(queueing.Take(), irp);
    EXPECT_EQ(queueing.Take(), nullptr);
    QueueingDevice::Complete(irp);
    IoFreeIrp(irp);
}

// An acquired IRP has no cancel routine until it is released: cancelling only marks it, and
// removal and KsCancelIo pass it by. Released, it is cancelled at once if that was asked meanwhile.
struct AcquireCase
{
    const char* name;
    bool cancelWhileAcquired;
    bool cancelIoWhileAcquired;
};

class KsAcquireTest : public KsVerifierTest, public ::testing::WithParamInterface<AcquireCase>
{
};

TEST_P(KsAcquireTest, AnAcquiredIrpCannotBeCancelledOrTakenUntilReleased)
{
    QueueingDevice queueing;
    queueing.ownCancel = true;
    PIRP irp = queueing.Send();
    ASSERT_EQ(queueing.Acquire(), irp);
    EXPECT_EQ(irp->CancelRoutine, nullptr);
    EXPECT_EQ(queueing.Acquire(), nullptr) << "acquired once";
    EXPECT_EQ(queueing.Take(), nullptr) << "not for removal while acquired";
    if (GetParam().cancelWhileAcquired) {
        EXPECT_FALSE(IoCancelIrp(irp)) << "no routine to call";
    }
    if (GetParam().cancelIoWhileAcquired) {
        KsCancelIo(&queueing.queue, &queueing.lock);
    }
    EXPECT_FALSE(Completed(irp));
    EXPECT_EQ(queueing.ownCancels, 0);
    KsReleaseIrpOnCancelableQueue(irp, &QueueingDevice::OwnCancel);
    const bool cancelled = GetParam().cancelWhileAcquired || GetParam().cancelIoWhileAcquired;
    EXPECT_EQ(Completed(irp), cancelled);
    EXPECT_EQ(queueing.ownCancels, cancelled ? 1 : 0) << "the driver's routine ran";
    if (cancelled) {
        EXPECT_EQ(irp->IoStatus.Status, STATUS_CANCELLED);
    } else {
        EXPECT_EQ(queueing.Take(), irp) << "back on the queue for removal";
        QueueingDevice::Complete(irp);
    }
    IoFreeIrp(irp);
}

INSTANTIATE_TEST_SUITE_P(Cases, KsAcquireTest,
                         ::testing::Values(AcquireCase{"Released", false, false},
                                           AcquireCase{"CancelledWhileAcquired", true, false},
                                           AcquireCase{"CancelIoWhileAcquired", false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The queue runs the driver's own routine wherever it cancels: an IRP cancelled before it was
// queued, and every IRP KsCancelIo cancels.
TEST_F(KsVerifierTest, CancellingRunsTheDriversOwnRoutine)
{
    QueueingDevice queueing;
    queueing.ownCancel = true;
    PIRP early = queueing.Send(true);
    EXPECT_TRUE(Completed(early));
    EXPECT_EQ(early->IoStatus.Status, STATUS_CANCELLED);
    EXPECT_EQ(queueing.ownCancels, 1);
    IoFreeIrp(early);
    PIRP first = queueing.Send();
    PIRP second = queueing.Send();
    KsCancelIo(&queueing.queue, &queueing.lock);
    EXPECT_EQ(queueing.ownCancels, 3);
    EXPECT_TRUE(Completed(first) && Completed(second));
    IoFreeIrp(first);
    IoFreeIrp(second);
}

// An IRP acquired and never released is a stop where it is freed; removing or releasing one that
// was not acquired is one too (its canceller may be unlinking it at that moment).
TEST_F(KsVerifierTest, AcquiredIrpsMustBeReleasedOrRemoved)
{
    QueueingDevice queueing;
    PIRP irp = queueing.Send();
    ExpectVerifierStop(ExpectBugCheck([&] { KsRemoveSpecificIrpFromCancelableQueue(irp); }),
                       Platform::Kernel::kRuleAcquiredNeverReleased, "not acquired");
    ExpectVerifierStop(ExpectBugCheck([&] { KsReleaseIrpOnCancelableQueue(irp, nullptr); }),
                       Platform::Kernel::kRuleAcquiredNeverReleased, "not acquired");
    ASSERT_EQ(queueing.Acquire(), irp);
    ExpectVerifierStop(ExpectBugCheck([&] { IoFreeIrp(irp); }),
                       Platform::Kernel::kRuleAcquiredNeverReleased, "never released");
    KsRemoveSpecificIrpFromCancelableQueue(irp);
    EXPECT_EQ(queueing.Take(), nullptr) << "off the queue";
    QueueingDevice::Complete(irp);
    IoFreeIrp(irp);
}

// A handle closes once its requests are done: one a driver acquired and never released would keep
// it open for good.
TEST_F(KsVerifierTest, AHandleClosingOverAnAcquiredRequestStops)
{
    UserProcess process;
    auto handle = FilterHandle::Open(process, *device_, link_);
    ASSERT_NE(handle, nullptr);
    auto wait = handle->BeginDeviceIoControl(
        IOCTL_KS_PROPERTY,
        Platform::Ks::PropertyBytes(KsTestDriver::kPropertySet, KsTestDriver::kWaitId,
                                    KSPROPERTY_TYPE_GET),
        8);
    ASSERT_FALSE(wait->Completed());
    PIRP acquired = KsRemoveIrpFromCancelableQueue(&KsTestDriver::State().waitQueue,
                                                   &KsTestDriver::State().waitLock, KsListEntryHead,
                                                   KsAcquireOnly);
    ASSERT_NE(acquired, nullptr);
    ExpectVerifierStop(ExpectBugCheck([&] { handle->Close(); }),
                       Platform::Kernel::kRuleAcquiredNeverReleased, "the close of the handle");
    // Released, the cancellation the close asked for goes through and the handle closes.
    KsReleaseIrpOnCancelableQueue(acquired, nullptr);
    ASSERT_TRUE(wait->Completed());
    EXPECT_EQ(wait->Result().status, STATUS_CANCELLED);
    EXPECT_EQ(handle->Close(), STATUS_SUCCESS);
}

}  // namespace
