// The transport's requests: retries, time-outs, a device that is gone, a removal under way, the
// port requests, raw class requests and every allocation failing in turn.
#include "UsbTestOwner.h"

namespace {

using namespace Platform::Kernel;

TEST_F(UsbTransportTest, RequestThatNeverCompletesIsCancelledAfterFiveSeconds)
{
    Start(UsbSim::ProductUac2());
    device->HangRequests(0xA1, 0x01, 1);
    uint8_t data[4] = {};
    const LONGLONG before = InterruptTime100ns();
    EXPECT_EQ(transport->SendRawClassRequest(USBD_TRANSFER_DIRECTION_IN, {0x01, 0x0100, 0x2900, 4},
                                             data, sizeof(data)),
              STATUS_IO_TIMEOUT);
    EXPECT_EQ(InterruptTime100ns() - before, 5LL * 10000000) << "5 s of virtual time";
    EXPECT_EQ(bus->PendingRequests(), 0u) << "the request was cancelled, not left behind";
    // The next request goes through as usual.
    EXPECT_EQ(transport->SendRawClassRequest(USBD_TRANSFER_DIRECTION_IN, {0x01, 0x0100, 0x2900, 4},
                                             data, sizeof(data)),
              STATUS_SUCCESS);
}

TEST_F(UsbTransportTest, GoneDeviceFailsEveryLaterRequestCleanly)
{
    for (bool detach : {false, true}) {
        SCOPED_TRACE(detach ? "detached" : "reports gone");
        Start(UsbSim::ProductUac1());
        if (detach) {
            bus->Detach();
        } else {
            device->SetGone(true);
        }
        EXPECT_NE(transport->SetSampleRate(96000), STATUS_SUCCESS);
        EXPECT_EQ(transport->CurrentRate(), 0u);
        EXPECT_EQ(transport->SelectAlternateSettings(true), STATUS_NO_SUCH_DEVICE);
        EXPECT_TRUE(Pipes().empty());
        uint8_t data[4] = {};
        EXPECT_EQ(transport->SendRawClassRequest(0, {0x01, 0x0100, 0x2900, 4}, data, 4),
                  STATUS_NO_SUCH_DEVICE);
        EXPECT_EQ(transport->CyclePort(), STATUS_NO_SUCH_DEVICE);
        PUCHAR buffer = nullptr;
        EXPECT_EQ(transport->GetDescriptor(1, 0, 0, 18, &buffer), STATUS_NO_SUCH_DEVICE);
        EXPECT_EQ(buffer, nullptr);
        Unplug();
    }
}

TEST_F(UsbTransportTest, DeviceGoneBeforeStartFailsTheStart)
{
    Plug(UsbSim::ProductUac2());
    device->SetGone(true);
    EXPECT_EQ(transport->InitializeUsb(ProductRecord()), STATUS_NO_SUCH_DEVICE);
    EXPECT_FALSE(transport->Configured());
    EXPECT_EQ(bus->UrbCount(URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE), 11u);
}

TEST_F(UsbTransportTest, RemovalUnderWaySendsNothing)
{
    Start(UsbSim::ProductUac2());
    const size_t before = bus->UrbCount(URB_FUNCTION_CLASS_ENDPOINT);
    ASSERT_EQ(IoAcquireRemoveLock(&context.removeLock, nullptr), STATUS_SUCCESS);
    IoReleaseRemoveLockAndWait(&context.removeLock, nullptr);
    EXPECT_EQ(transport->SetSampleRate(48000), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(bus->UrbCount(URB_FUNCTION_CLASS_ENDPOINT), before);
    EXPECT_EQ(transport->CyclePort(), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(bus->CyclePortCount(), 0);
}

struct DescriptorFaultRow
{
    const char* name;
    int refusals;       // stalled reads of the device descriptor
    bool wrongType;     // the device descriptor comes back with another type
    NTSTATUS expected;  // from InitializeUsb
    size_t attempts;    // device descriptor reads
};

TEST_F(UsbTransportTest, DeviceDescriptorIsTriedElevenTimes)
{
    const DescriptorFaultRow rows[] = {
        {"ten refusals, then read", 10, false, STATUS_SUCCESS, 11},
        {"eleven refusals", 11, false, STATUS_UNSUCCESSFUL, 11},
        {"wrong type every time", 0, true, STATUS_DEVICE_DATA_ERROR, 11},
    };
    for (const DescriptorFaultRow& row : rows) {
        SCOPED_TRACE(row.name);
        Plug(UsbSim::ProductUac2());
        if (row.refusals != 0) {
            device->RefuseDescriptor(1, 0, row.refusals);
        }
        if (row.wrongType) {
            device->PatchDescriptor(1, 0, 1, {0x02});
        }
        EXPECT_EQ(transport->InitializeUsb(ProductRecord()), row.expected);
        const size_t reads = bus->UrbCount(URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE);
        if (row.expected == STATUS_SUCCESS) {
            EXPECT_GE(reads, row.attempts);
        } else {
            EXPECT_EQ(reads, row.attempts);
        }
        Unplug();
    }
}

TEST_F(UsbTransportTest, ConfigurationShorterThanItsHeaderIsADataError)
{
    Plug(UsbSim::ProductUac2());
    device->PatchDescriptor(2, 0, 2, {5, 0});
    EXPECT_EQ(transport->InitializeUsb(ProductRecord()), STATUS_DEVICE_DATA_ERROR);
}

TEST_F(UsbTransportTest, ConfigurationThatGrowsBetweenReadsIsNotKept)
{
    Plug(UsbSim::ProductUac2());
    const auto& bytes = device->Descriptors().configurations[0];
    const uint16_t grown = static_cast<uint16_t>(bytes.size() - 1 + 0x100);
    // The head says one size, the whole descriptor (read second) a larger one.
    device->PatchDescriptorAfter(2, 0, 1, 2, {uint8_t(grown), uint8_t(grown >> 8)});
    EXPECT_EQ(transport->InitializeUsb(ProductRecord()), STATUS_UNSUCCESSFUL)
        << "no configuration descriptor to select";
    EXPECT_EQ(transport->SelectedConfigurationDescriptor(), nullptr);
    EXPECT_EQ(device->ActiveConfiguration(), nullptr);
}

TEST_F(UsbTransportTest, ConfigurationThatShrinksBetweenReadsIsWalkedToItsOwnEnd)
{
    Plug(UsbSim::ProductUac2());
    const auto& bytes = device->Descriptors().configurations[0];
    // The whole descriptor now claims to end before its streaming interface.
    size_t streaming = 0;
    for (size_t at = 9; at < bytes.size(); at += bytes[at]) {
        if (bytes[at + 1] == 4 && bytes[at + 2] == 1 && streaming == 0) {
            streaming = at;
        }
    }
    device->PatchDescriptorAfter(2, 0, 1, 2, {uint8_t(streaming), uint8_t(streaming >> 8)});
    EXPECT_EQ(transport->InitializeUsb(ProductRecord()), STATUS_INSUFFICIENT_RESOURCES)
        << "its two interfaces are not both inside it: no interface list";
}

TEST_F(UsbTransportTest, UnreadableStringsBecomeEmpty)
{
    Plug(UsbSim::ProductUac2());
    device->RefuseDescriptor(3, 1);
    device->PatchDescriptor(3, 2, 0, {0x01});  // bLength 1: no room for a character
    ASSERT_EQ(transport->InitializeUsb(ProductRecord()), STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(transport->ManufacturerString()), u"");
    EXPECT_EQ(std::u16string(transport->ProductString()), u"");
}

TEST_F(UsbTransportTest, StringEndsAtItsLastWholeCharacter)
{
    Plug(UsbSim::ProductUac2());
    device->PatchDescriptor(3, 1, 0, {0x07});  // "Corvane" cut to 2 1/2 characters
    ASSERT_EQ(transport->InitializeUsb(ProductRecord()), STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(transport->ManufacturerString()), u"Co");
}

TEST_F(UsbTransportTest, MissingBusInterfaceLeavesFullSpeedDefaults)
{
    Plug(UsbSim::ProductUac2());
    bus->SetBusInterfaceAvailable(false);
    ASSERT_EQ(transport->InitializeUsb(ProductRecord()), STATUS_SUCCESS);
    EXPECT_FALSE(transport->HighSpeed());
    EXPECT_EQ(transport->PacketsPerTransfer(), 4u);
    EXPECT_EQ(bus->BusInterfaceReferences(), 0);
}

TEST_F(UsbTransportTest, PortRequests)
{
    Start(UsbSim::ProductUac2());
    USB_TOPOLOGY_ADDRESS where{};
    USB_TOPOLOGY_ADDRESS placed{1, 2, 3, 0, 4, {5, 6, 7, 0, 0}, 0};
    bus->SetTopology(placed);
    ASSERT_EQ(transport->QueryUsbLocation(&where), STATUS_SUCCESS);
    EXPECT_EQ(where.PciBusNumber, 1u);
    EXPECT_EQ(where.PciDeviceNumber, 2u);
    EXPECT_EQ(where.PciFunctionNumber, 3u);
    EXPECT_EQ(where.RootHubPortNumber, 4);
    EXPECT_EQ(where.HubPortNumber[2], 7);
    EXPECT_EQ(transport->QueryUsbLocation(nullptr), STATUS_INVALID_PARAMETER);
    ASSERT_EQ(transport->CyclePort(), STATUS_SUCCESS);
    EXPECT_EQ(bus->CyclePortCount(), 1);
    EXPECT_EQ(device->ActiveConfiguration(), nullptr) << "the device re-enumerated";
}

TEST_F(UsbTransportTest, RawClassRequestStaysInsideTheCallersBuffer)
{
    Start(UsbSim::ProductUac2());
    uint8_t small[2] = {};
    EXPECT_EQ(transport->SendRawClassRequest(USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK,
                                             {0x02, 0x0100, 0x2900, 38}, small, sizeof(small)),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(transport->SendRawClassRequest(0, {0x01, 0x0100, 0x2900, 4}, nullptr, 4),
              STATUS_INVALID_PARAMETER);
    std::vector<uint8_t> huge(0x10000);
    EXPECT_EQ(
        transport->SendRawClassRequest(0, {0x01, 0x0100, 0x2900, 0x10000}, huge.data(), 0x10000),
        STATUS_INVALID_PARAMETER)
        << "a control transfer moves at most 65535 bytes";
    EXPECT_TRUE(device->ClassRequests().empty()) << "nothing was sent";
    // A range read into a buffer that holds it: the length travels as given.
    uint8_t range[38] = {};
    ASSERT_EQ(transport->SendRawClassRequest(USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK,
                                             {0x02, 0x0100, 0x2900, 38}, range, sizeof(range)),
              STATUS_SUCCESS);
    EXPECT_EQ(range[0], 3);
    ASSERT_EQ(device->ClassRequests().size(), 1u);
    EXPECT_EQ(device->ClassRequests()[0].setup.bmRequestType, 0xA1);
    EXPECT_EQ(device->ClassRequests()[0].setup.wLength, 38);
}

TEST_F(UsbTransportTest, EveryAllocationFailureIsReportedAndLeavesNothing)
{
    // Fail allocation 1, then 2, ... until a start sees no failure.
    for (uint64_t n = 1;; ++n) {
        SCOPED_TRACE(n);
        Plug(UsbSim::BuildProductDescriptors({.inChannels = 2, .feedback = true, .midi = true}));
        UsbConfigRecord record = ProductRecord();
        record.alternateSettings[2] = 1;
        const uint64_t before = AllocationCount();
        FailAllocationNumber(n);
        NTSTATUS status = transport->InitializeUsb(record);
        if (NT_SUCCESS(status)) {
            status = transport->SelectAlternateSettings(true);
        }
        if (NT_SUCCESS(status)) {
            status = transport->SetSampleRate(48000);
        }
        const bool failed = AllocationCount() - before >= n;
        ClearAllocationFailures();
        if (NT_SUCCESS(status)) {
            EXPECT_TRUE(transport->Configured());
        } else {
            EXPECT_TRUE(status == STATUS_INSUFFICIENT_RESOURCES || status == STATUS_UNSUCCESSFUL ||
                        status == STATUS_DEVICE_DATA_ERROR)
                << std::hex << status;
        }
        Unplug();
        if (!failed) {
            break;
        }
        ASSERT_LT(n, 2000u);
    }
}

}  // namespace

namespace {

using namespace Platform::Kernel;

struct SyncTick
{
    KTIMER timer;
    KDPC dpc;
    UsbTransport* transport;
    static void Run(PKDPC, PVOID context, PVOID, PVOID)
    {
        static_cast<SyncTick*>(context)->transport->MarkSyncCompletion();
    }
};

TEST_F(UsbTransportTest, HighSpeedRequestsWaitForTheNextSyncCompletion)
{
    Start(UsbSim::ProductUac2());
    uint8_t data[4] = {};
    const RawClassRequest getCur{0x01, 0x0100, 0x2900, 4};
    const auto timedRequest = [&] {
        const LONGLONG before = InterruptTime100ns();
        EXPECT_EQ(transport->SendRawClassRequest(USBD_TRANSFER_DIRECTION_IN, getCur, data, 4),
                  STATUS_SUCCESS);
        return (InterruptTime100ns() - before) / 10000;  // ms
    };
    EXPECT_EQ(timedRequest(), 0) << "not streaming: no wait";

    // One frame per transfer: every request waits for the next completion, at most 15 ms.
    transport->SetIsoStreamingState(true, 1);
    transport->MarkSyncCompletion();
    EXPECT_EQ(timedRequest(), 15);
    SyncTick tick{};
    tick.transport = &*transport;
    KeInitializeTimer(&tick.timer);
    KeInitializeDpc(&tick.dpc, &SyncTick::Run, &tick);
    LARGE_INTEGER due;
    due.QuadPart = -3 * 10000;
    KeSetTimer(&tick.timer, due, &tick.dpc);
    EXPECT_EQ(timedRequest(), 3) << "right after the completion 3 ms later";

    // Eight frames per transfer: no wait within 4 ms of the last completion.
    transport->SetIsoStreamingState(true, 8);
    transport->MarkSyncCompletion();
    EXPECT_EQ(timedRequest(), 0);
    AdvanceTime(std::chrono::milliseconds(5));
    EXPECT_EQ(timedRequest(), 15);
    transport->SetIsoStreamingState(false, 1);
}

TEST_F(UsbTransportTest, FullSpeedRequestsNeverWait)
{
    Start(UsbSim::ProductUac1());
    transport->SetIsoStreamingState(true, 1);
    transport->MarkSyncCompletion();
    uint8_t data[3] = {};
    const LONGLONG before = InterruptTime100ns();
    EXPECT_EQ(transport->SendRawClassRequest(USBD_TRANSFER_DIRECTION_IN, {0x81, 0x0100, 0x0000, 0},
                                             data, sizeof(data)),
              STATUS_UNSUCCESSFUL)
        << "the device stalls a request it does not know";
    EXPECT_EQ(InterruptTime100ns(), before);
    transport->SetIsoStreamingState(false, 1);
}

}  // namespace
