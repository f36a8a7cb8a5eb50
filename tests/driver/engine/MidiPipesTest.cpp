// The USB-MIDI pipes under the real engine and its MIDI tick, on a simulated device with four
// cables each way: input reaches the open readers of its cable's port, writes reach the device on
// their port's cable, the tick starts with the first open client and stops by itself, a stop that
// keeps it resumes at the next start, failed reads are retired, endpoints too small for one event
// packet are left alone, and a surprise removal with the pipes running leaves nothing.
#include <gtest/gtest.h>

#include <vector>

#include "MidiDeviceModel.h"
#include "midi/UsbMidiCodec.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<UCHAR>;
using Platform::Ks::PnpRequest;

class MidiPipesTest : public MidiDeviceFixture
{
};

TEST_F(MidiPipesTest, TheDeviceModelAnswersFromTheCodecsPortTable)
{
    ASSERT_NE(PlugInMidi(MidiVariant()), nullptr);
    MidiConfiguration table{};
    ASSERT_EQ(Context()->deviceModel->GetMidiPortInfo(&table), STATUS_SUCCESS);
    EXPECT_EQ(table.index, 0u);
    EXPECT_EQ(table.inputPortCount, kMidiModelPorts);
    EXPECT_EQ(table.outputPortCount, kMidiModelPorts);
    ASSERT_NE(table.outputByteRates, nullptr);
    EXPECT_EQ(table.outputByteRates[3], kMidiWireRate);
    EXPECT_EQ(Router()->Generation(), 0u);
    EXPECT_EQ(TickState(), kTickStopped);
    EXPECT_FALSE(Pipes()->MidiPipesStarted());
}

// A reader alone starts the tick; input on cable 1 reaches port 1's reader only, stamped 2 ms
// before its arrival; a write on port 2 goes out on cable 2; with both closed the tick stops at
// its next run and no transfer stays on the bus.
TEST_F(MidiPipesTest, MidiRunsBetweenClientsAndTheDevice)
{
    ASSERT_NE(PlugInMidi(MidiVariant()), nullptr);
    CollectingReaderOwner readerOwners[2];
    MidiReader* reader = Router()->RegisterReader(&readerOwners[0], 1);
    MidiReader* other = Router()->RegisterReader(&readerOwners[1], 2);
    ASSERT_NE(reader, nullptr);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(Router()->SetClientOpen(reader, true), 1);
    Run(2ms);
    EXPECT_EQ(TickState(), kTickRunning);
    ASSERT_TRUE(Pipes()->MidiPipesStarted());
    EXPECT_EQ(Pipes()->PipeCount(), 2u);
    EXPECT_EQ(Pipes()->ReadsInFlight(), 2);

    UsbDevice().QueueBulkIn(kMidiInEndpoint, {0x19, 0x90, 0x3C, 0x40, 0x1F, 0xF8, 0, 0});
    const LONGLONG queuedAt = Now100ns();
    Run(3ms);
    EXPECT_EQ(readerOwners[0].received, (Bytes{0x90, 0x3C, 0x40, 0xF8}));
    EXPECT_TRUE(readerOwners[1].received.empty());
    ASSERT_FALSE(readerOwners[0].times.empty());
    EXPECT_GE(readerOwners[0].times[0], queuedAt - 20000);
    EXPECT_LE(readerOwners[0].times[0], Now100ns() - 20000);

    CountingWriterOwner writerOwner;
    MidiWriter* writer = Router()->RegisterWriter(&writerOwner, 2);
    ASSERT_NE(writer, nullptr);
    const Bytes notes = {0x92, 0x3E, 0x40, 0x40, 0x00};
    EXPECT_EQ(SubmitMidiPort(writer, Now100ns(), notes.data(), 5), 0);
    Run(5ms);
    EXPECT_EQ(UsbDevice().BulkReceived(kMidiOutEndpoint),
              (Bytes{0x29, 0x92, 0x3E, 0x40, 0x29, 0x92, 0x40, 0x00}));

    Router()->SetClientOpen(reader, false);
    Router()->CloseWriter(writer);
    Run(5ms);
    EXPECT_EQ(TickState(), kTickStopped);
    EXPECT_FALSE(Pipes()->MidiPipesStarted());
    EXPECT_EQ(Bus().PendingRequests(), 0u);
    EXPECT_EQ(Pipes()->FailedReads(), 0u) << "the stop's cancelled reads are no failures";
    Router()->UnregisterWriter(writer);
    Router()->UnregisterReader(reader);
    Router()->UnregisterReader(other);
}

// The device's stop keeps a running tick marked; its next start runs it again with its reads.
TEST_F(MidiPipesTest, AStopKeepsTheTickForTheNextStart)
{
    ASSERT_NE(PlugInMidi(MidiVariant()), nullptr);
    CollectingReaderOwner readerOwner;
    MidiReader* reader = Router()->RegisterReader(&readerOwner, 0);
    Router()->SetClientOpen(reader, true);
    Run(2ms);
    ASSERT_EQ(TickState(), kTickRunning);

    ASSERT_EQ(device->Send(PnpRequest::Stop), STATUS_SUCCESS);
    Run(5ms);
    EXPECT_EQ(TickState(), kTickRunning) << "kept for the next start";
    EXPECT_FALSE(Pipes()->MidiPipesStarted());
    EXPECT_EQ(Bus().PendingRequests(), 0u);

    ASSERT_EQ(device->Send(PnpRequest::Start), STATUS_SUCCESS);
    Run(2ms);
    EXPECT_TRUE(Pipes()->MidiPipesStarted());
    EXPECT_EQ(Pipes()->ReadsInFlight(), 2);
    UsbDevice().QueueBulkIn(kMidiInEndpoint, {0x0C, 0xC5, 0x11, 0x00});
    Run(3ms);
    EXPECT_EQ(readerOwner.received, (Bytes{0xC5, 0x11}));
    Router()->UnregisterReader(reader);
    Run(2ms);
    EXPECT_EQ(TickState(), kTickStopped);
}

// Whatever the failure, a failed read is neither delivered nor sent again; it is counted with
// its status. Both reads fail, one of them holding the note it delivered before: a failed
// buffer handed on would deliver that note twice.
TEST_F(MidiPipesTest, AFailedReadIsRetiredAndNotDelivered)
{
    const NTSTATUS statuses[] = {STATUS_UNSUCCESSFUL,
                                 static_cast<NTSTATUS>(0xC0000185) /* an I/O device error */,
                                 STATUS_DEVICE_DATA_ERROR, STATUS_IO_TIMEOUT};
    for (NTSTATUS status : statuses) {
        SCOPED_TRACE(testing::Message() << std::hex << status);
        ASSERT_NE(PlugInMidi(MidiVariant()), nullptr);
        CollectingReaderOwner readerOwner;
        MidiReader* reader = Router()->RegisterReader(&readerOwner, 0);
        Router()->SetClientOpen(reader, true);
        Run(2ms);
        UsbDevice().QueueBulkIn(kMidiInEndpoint, {0x09, 0x90, 0x3C, 0x40});
        Run(2ms);
        ASSERT_EQ(readerOwner.received, (Bytes{0x90, 0x3C, 0x40}));
        const size_t bulkUrbs = Bus().UrbCount(URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER);

        Bus().FailBulkTransfers(kMidiInEndpoint, status, 2);
        Run(20ms);
        EXPECT_EQ(readerOwner.received, (Bytes{0x90, 0x3C, 0x40}));
        EXPECT_EQ(Pipes()->ReadsInFlight(), 0);
        EXPECT_EQ(Pipes()->FailedReads(), 2u);
        EXPECT_EQ(Pipes()->LastReadFailure(), status);
        EXPECT_EQ(Bus().UrbCount(URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER), bulkUrbs)
            << "nothing resubmitted";
        EXPECT_EQ(Bus().PendingRequests(), 0u);

        // The next start of the pipes reads again.
        Router()->SetClientOpen(reader, false);
        Run(2ms);
        Router()->SetClientOpen(reader, true);
        Run(2ms);
        EXPECT_EQ(Pipes()->ReadsInFlight(), 2);
        Router()->UnregisterReader(reader);
        Run(2ms);
        ASSERT_EQ(device->Send(PnpRequest::Stop), STATUS_SUCCESS);
        ASSERT_EQ(device->Send(PnpRequest::Remove), STATUS_SUCCESS);
        Platform::Kernel::RunPending();
    }
}

// An endpoint below 4 bytes cannot carry one event packet: neither direction is used (no read
// that completes empty at once, for ever), and writes to it are dropped. From 4 bytes on both
// directions work, one transfer per packet at 4.
TEST_F(MidiPipesTest, EndpointsTooSmallForAPacketAreNotUsed)
{
    struct Case
    {
        int packetSize;
        bool used;
    };
    for (const Case& c : {Case{0, false}, Case{3, false}, Case{4, true}, Case{8, true}}) {
        SCOPED_TRACE(c.packetSize);
        UsbSim::ProductVariant variant = MidiVariant();
        variant.midiPacketSize = c.packetSize;
        ASSERT_NE(PlugInMidi(variant), nullptr);
        CountingWriterOwner writerOwner;
        CollectingReaderOwner readerOwner;
        MidiWriter* writer = Router()->RegisterWriter(&writerOwner, 1);
        MidiReader* reader = Router()->RegisterReader(&readerOwner, 1);
        Router()->SetClientOpen(reader, true);
        const Bytes notes = {0x91, 0x3C, 0x40, 0x3E, 0x40};
        UsbDevice().QueueBulkIn(kMidiInEndpoint, {0x1B, 0xB1, 0x07, 0x7F});
        EXPECT_GE(SubmitMidiPort(writer, 0, notes.data(), 5), 0);
        Run(20ms);
        EXPECT_EQ(Pipes()->PipeCount(), c.used ? 2u : 0u);
        EXPECT_EQ(Pipes()->ReadsInFlight(), c.used ? 2 : 0);
        const size_t bulkUrbs = Bus().UrbCount(URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER);
        if (c.used) {
            EXPECT_EQ(UsbDevice().BulkReceived(kMidiOutEndpoint),
                      (Bytes{0x19, 0x91, 0x3C, 0x40, 0x19, 0x91, 0x3E, 0x40}));
            EXPECT_EQ(readerOwner.received, (Bytes{0xB1, 0x07, 0x7F}));
            EXPECT_LT(bulkUrbs, 60u) << "reads wait for data";
        } else {
            EXPECT_EQ(bulkUrbs, 0u);
            EXPECT_TRUE(UsbDevice().Violations().empty());
        }
        Router()->UnregisterWriter(writer);
        Router()->UnregisterReader(reader);
        Run(2ms);
        ASSERT_EQ(device->Send(PnpRequest::Stop), STATUS_SUCCESS);
        ASSERT_EQ(device->Send(PnpRequest::Remove), STATUS_SUCCESS);
        Platform::Kernel::RunPending();
    }
}

// Without memory for an OUT transfer the tick leaves the packets in their queue: they go out once
// memory is back, none lost and in order.
TEST_F(MidiPipesTest, NoMemoryForAnOutTransferLosesNoPacket)
{
    ASSERT_NE(PlugInMidi(MidiVariant()), nullptr);
    CollectingReaderOwner readerOwner;
    CountingWriterOwner writerOwner;
    MidiReader* reader = Router()->RegisterReader(&readerOwner, 0);
    MidiWriter* writer = Router()->RegisterWriter(&writerOwner, 3);
    Router()->SetClientOpen(reader, true);
    Run(2ms);
    ASSERT_TRUE(Pipes()->MidiPipesStarted());

    Platform::Kernel::FailAllocationsWithTag(kTagTrOb);
    Bytes notes;
    Bytes expected;
    for (UCHAR key = 0x30; key < 0x40; ++key) {
        notes.insert(notes.end(), {0x83, key, 0x10});
        expected.insert(expected.end(), {0x38, 0x83, key, 0x10});
    }
    ASSERT_EQ(SubmitMidiPort(writer, 0, notes.data(), static_cast<ULONG>(notes.size())), 0);
    Run(10ms);
    EXPECT_TRUE(UsbDevice().BulkReceived(kMidiOutEndpoint).empty());
    Platform::Kernel::ClearAllocationFailures();
    Run(40ms);
    EXPECT_EQ(UsbDevice().BulkReceived(kMidiOutEndpoint), expected);
    Router()->UnregisterWriter(writer);
    Router()->UnregisterReader(reader);
    Run(2ms);
    EXPECT_EQ(TickState(), kTickStopped);
}

// Surprise removal while reads wait and OUT transfers are held back by NAKs, with a SysEx queued
// and not yet sent: every transfer is retired, the SysEx buffer goes back to its writer, the
// removal waits for nothing and no pool is left.
TEST_F(MidiPipesTest, SurpriseRemovalWithThePipesRunningLeavesNothing)
{
    ASSERT_NE(PlugInMidi(MidiVariant()), nullptr);
    UsbDevice().NakBulkAtRandom(kMidiOutEndpoint, 100, 5);
    CollectingReaderOwner readerOwner;
    CountingWriterOwner writerOwners[kMidiModelPorts];
    MidiReader* reader = Router()->RegisterReader(&readerOwner, 0);
    Router()->SetClientOpen(reader, true);
    std::vector<Bytes> sysEx(kMidiModelPorts);
    ULONG kept = 0;
    for (ULONG port = 0; port < kMidiModelPorts; ++port) {
        MidiWriter* writer = Router()->RegisterWriter(&writerOwners[port], port);
        ASSERT_NE(writer, nullptr);
        sysEx[port].assign(400, static_cast<UCHAR>(port));
        sysEx[port].front() = 0xF0;
        sysEx[port].back() = 0xF7;
        const LONG answer =
            SubmitMidiPort(writer, 0, sysEx[port].data(), static_cast<ULONG>(sysEx[port].size()));
        ASSERT_GE(answer, 0);
        kept += static_cast<ULONG>(answer);
    }
    Run(30ms);
    EXPECT_GT(Pipes()->PendingOutTransfers(), 0u);
    EXPECT_EQ(Pipes()->ReadsInFlight(), 2);

    Bus().Detach();
    Platform::Kernel::RunPending();
    EXPECT_EQ(device->Send(PnpRequest::SurpriseRemoval), STATUS_SUCCESS);
    Run(50ms);
    EXPECT_EQ(Bus().PendingRequests(), 0u);
    size_t returned = 0;
    for (const CountingWriterOwner& owner : writerOwners) {
        returned += owner.buffersDone;
    }
    EXPECT_EQ(returned, kept) << "the dropped SysEx buffers went back to their writers";
    EXPECT_EQ(device->Send(PnpRequest::Remove), STATUS_SUCCESS);
    Platform::Kernel::RunPending();
    EXPECT_EQ(Platform::Kernel::PendingWorkItemCount(), 0u);
    for (const auto& block : Platform::Kernel::OutstandingPool()) {
        ADD_FAILURE() << "left in pool: " << block.Describe();
    }
}

}  // namespace
