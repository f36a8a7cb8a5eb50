// Kernel streaming under the verifier: entry points at the wrong IRQL, object bags and factory
// walks without the mutex they require, IRPs of a cancelable queue completed while linked or
// twice, and the device and control mutexes in the lock order.
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
        KsAddIrpToCancelableQueue(&self->queue, &self->lock, irp, KsListEntryTail, nullptr);
        return STATUS_PENDING;
    }
    static void Complete(PIRP irp)
    {
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
    }
    PIRP Send()
    {
        PIRP irp = IoAllocateIrp(1, FALSE);
        EXPECT_NE(irp, nullptr);
        IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_DEVICE_CONTROL;
        IoSetCompletionRoutine(
            irp, [](PDEVICE_OBJECT, PIRP, PVOID) { return STATUS_MORE_PROCESSING_REQUIRED; },
            nullptr, TRUE, TRUE, TRUE);
        EXPECT_EQ(IoCallDriver(&device, irp), STATUS_PENDING);
        return irp;
    }
    DRIVER_OBJECT driver{};
    DEVICE_OBJECT device{};
    LIST_ENTRY queue;
    KSPIN_LOCK lock;
};

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

}  // namespace
