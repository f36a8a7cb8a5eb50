// The MIDI router: input reaches only the open readers of its port, port table generations, the
// open counts that start the tick, and the reference counts of writers' buffers.
#include <vector>

#include <gtest/gtest.h>

#include "KernelTestApi.h"
#include "MidiTestRig.h"
#include "audio/DriverResult.h"
#include "midi/UsbMidiInput.h"

namespace {

using MidiTest::Bytes;
using MidiTest::MidiRigTest;
using MidiTest::RecordingReaderOwner;
using MidiTest::RecordingWriterOwner;

LONG Deliver(MidiRouter* router, ULONG generation, ULONG port, const Bytes& packets)
{
    Bytes wire = packets;
    for (size_t at = 0; at < wire.size(); at += 4) {
        wire[at] = static_cast<UCHAR>(port << 4 | (wire[at] & 0x0F));
    }
    return DeliverUsbMidiTransfer(router, generation, 100000, wire.data(),
                                  static_cast<ULONG>(wire.size()));
}

TEST_F(MidiRigTest, InputReachesOnlyTheOpenReadersOfItsPortInOrder)
{
    RecordingReaderOwner owner;
    MidiReader* portTwo = rig->router->RegisterReader(&owner, 2);
    MidiReader* portTwoAgain = rig->router->RegisterReader(&owner, 2);
    MidiReader* portTwoClosed = rig->router->RegisterReader(&owner, 2);
    MidiReader* portOne = rig->router->RegisterReader(&owner, 1);
    EXPECT_EQ(rig->router->SetClientOpen(portTwo, true), 1);
    EXPECT_EQ(rig->router->SetClientOpen(portTwo, true), 0);
    rig->router->SetClientOpen(portTwoAgain, true);
    rig->router->SetClientOpen(portOne, true);
    const Bytes packets = {0x09, 0x90, 0x3C, 0x40, 0x0B, 0xB0, 0x07, 0x64, 0x08, 0x80, 0x3C, 0x00};
    EXPECT_EQ(Deliver(rig->router, rig->table.record.index, 2, packets), 0);
    const Bytes expected = {0x90, 0x3C, 0x40, 0xB0, 0x07, 0x64, 0x80, 0x3C, 0x00};
    EXPECT_EQ(ReadAll(portTwo), expected);
    EXPECT_EQ(ReadAll(portTwoAgain), expected);
    EXPECT_TRUE(ReadAll(portTwoClosed).empty());
    EXPECT_TRUE(ReadAll(portOne).empty());
    EXPECT_EQ(owner.dataAvailable, 2) << "each reader is told once when its FIFO gets data";
    for (MidiReader* reader : {portTwo, portTwoAgain, portTwoClosed, portOne}) {
        rig->router->UnregisterReader(reader);
    }
}

TEST_F(MidiRigTest, AReaderThatTakesMessagesDirectlyLeavesItsFifoEmpty)
{
    RecordingReaderOwner owner;
    owner.takeDirectly = true;
    MidiReader* reader = rig->router->RegisterReader(&owner, 0);
    rig->router->SetClientOpen(reader, true);
    Deliver(rig->router, rig->table.record.index, 0, {0x09, 0x90, 0x3C, 0x40, 0x0C, 0xC0, 0x05, 0});
    EXPECT_EQ(owner.taken, (std::vector<Bytes>{{0x90, 0x3C, 0x40}, {0xC0, 0x05}}));
    EXPECT_EQ(owner.takenTimes, (std::vector<LONGLONG>{80000, 80000}));
    EXPECT_TRUE(FifoIsEmpty(&reader->fifo));
    EXPECT_EQ(owner.dataAvailable, 0);
    rig->router->UnregisterReader(reader);
}

TEST_F(MidiRigTest, NoOpenClientRefusesInput)
{
    RecordingReaderOwner owner;
    MidiReader* reader = rig->router->RegisterReader(&owner, 0);
    EXPECT_EQ(Deliver(rig->router, rig->table.record.index, 0, {0x09, 0x90, 0x3C, 0x40}), -1);
    rig->router->UnregisterReader(reader);
}

TEST_F(MidiRigTest, APortTableChangeTellsOpenClientsAndRefusesTheOldGeneration)
{
    RecordingReaderOwner readerOwner;
    RecordingWriterOwner writerOwner;
    MidiReader* reader = rig->router->RegisterReader(&readerOwner, 0);
    MidiReader* closedReader = rig->router->RegisterReader(&readerOwner, 1);
    MidiWriter* writer = rig->router->RegisterWriter(&writerOwner, 0);
    MidiWriter* closedWriter = rig->router->RegisterWriter(&writerOwner, 1);
    rig->router->SetClientOpen(reader, true);
    const Bytes note = {0x90, 0x3C, 0x40};
    EXPECT_EQ(SubmitMidiPort(writer, 0, note.data(), 3), 0);
    const ULONG old = rig->table.record.index;

    MidiTest::RigPortTable next(old + 1);
    ASSERT_EQ(rig->codec->SetPortTable(&next.record), S_OK);
    EXPECT_EQ(rig->engine.applied.back(), old + 1);
    EXPECT_EQ(readerOwner.tableChanges, (std::vector<ULONG>{old + 1}));
    EXPECT_EQ(writerOwner.tableChanges, (std::vector<ULONG>{old + 1}));

    EXPECT_EQ(Deliver(rig->router, old, 0, {0x09, 0x90, 0x3C, 0x40}), -1);
    // Stamped with the new generation, the packet is refused to the reader of the old one, which
    // is told again.
    EXPECT_EQ(Deliver(rig->router, old + 1, 0, {0x09, 0x90, 0x3C, 0x40}), 0);
    EXPECT_EQ(readerOwner.tableChanges, (std::vector<ULONG>{old + 1, old + 1, old + 1}));
    EXPECT_TRUE(ReadAll(reader).empty());
    EXPECT_EQ(SubmitMidiPort(writer, 0, note.data(), 3), kMidiWriteRefused);
    // A client registered now carries the new generation.
    RecordingWriterOwner freshOwner;
    MidiWriter* fresh = rig->router->RegisterWriter(&freshOwner, 0);
    EXPECT_EQ(SubmitMidiPort(fresh, 0, note.data(), 3), 0);
    for (MidiWriter* each : {writer, closedWriter, fresh}) {
        rig->router->UnregisterWriter(each);
    }
    rig->router->UnregisterReader(reader);
    rig->router->UnregisterReader(closedReader);
}

TEST_F(MidiRigTest, APortTableCannotChangeWhileTheTickRuns)
{
    rig->engine.tickActive = true;
    MidiTest::RigPortTable next(99);
    EXPECT_EQ(rig->codec->SetPortTable(&next.record), E_FAIL);
    MidiConfiguration table = {};
    rig->codec->GetPortTable(&table);
    EXPECT_EQ(table.index, rig->table.record.index);
}

TEST_F(MidiRigTest, WritesBeyondTheOutputPortsAreRefused)
{
    RecordingWriterOwner owner;
    MidiWriter* writer = rig->router->RegisterWriter(&owner, MidiTest::kRigPorts);
    const Bytes note = {0x90, 0x3C, 0x40};
    EXPECT_EQ(SubmitMidiPort(writer, 0, note.data(), 3), kMidiWriteRefused);
    rig->router->UnregisterWriter(writer);
}

// A reader alone must start the tick, or it would never receive input.
TEST_F(MidiRigTest, TheFirstOpenClientStartsTheTickAndTheLastLetsItStop)
{
    RecordingReaderOwner readerOwner;
    RecordingWriterOwner writerOwner;
    MidiReader* reader = rig->router->RegisterReader(&readerOwner, 0);
    MidiWriter* writer = rig->router->RegisterWriter(&writerOwner, 0);
    EXPECT_FALSE(rig->router->AnyClientOpen());
    const int before = rig->engine.tickRequests;
    rig->router->SetClientOpen(reader, true);
    EXPECT_TRUE(rig->router->AnyClientOpen());
    EXPECT_EQ(rig->engine.tickRequests, before + 1);
    const Bytes clock = {0xF8};
    SubmitMidiPort(writer, 0, clock.data(), 1);  // opens the writer: no new request for that
    EXPECT_EQ(rig->engine.tickRequests, before + 2) << "the clock became the oldest message";
    EXPECT_EQ(rig->router->CloseWriter(writer), 0);
    EXPECT_EQ(rig->router->CloseWriter(writer), 1);
    rig->router->SetClientOpen(reader, false);
    EXPECT_FALSE(rig->router->AnyClientOpen());
    EXPECT_EQ(rig->engine.tickRequests, before + 3);
    rig->router->UnregisterWriter(writer);
    rig->router->UnregisterReader(reader);
}

TEST_F(MidiRigTest, PrivatePortsAreCountedApart)
{
    RecordingReaderOwner owner;
    RecordingWriterOwner writerOwner;
    MidiReader* shared = rig->router->RegisterReader(&owner, 0);
    EXPECT_FALSE(rig->router->AnyPrivateClientRegistered());
    MidiReader* privateReader = rig->router->RegisterReader(&owner, 3);
    EXPECT_TRUE(rig->router->AnyPrivateClientRegistered());
    rig->router->SetClientOpen(shared, true);
    EXPECT_FALSE(rig->router->AnyPrivateClientOpen());
    rig->router->SetClientOpen(privateReader, true);
    EXPECT_TRUE(rig->router->AnyPrivateClientOpen());
    rig->router->UnregisterReader(privateReader);
    EXPECT_FALSE(rig->router->AnyPrivateClientOpen());
    EXPECT_FALSE(rig->router->AnyPrivateClientRegistered());
    MidiWriter* privateWriter = rig->router->RegisterWriter(&writerOwner, 3);
    EXPECT_TRUE(rig->router->AnyPrivateClientRegistered());
    const Bytes note = {0x90, 0x3C, 0x40};
    SubmitMidiPort(privateWriter, 0, note.data(), 3);
    EXPECT_TRUE(rig->router->AnyPrivateClientOpen());
    rig->router->UnregisterWriter(privateWriter);
    EXPECT_FALSE(rig->router->AnyPrivateClientOpen());
    rig->router->UnregisterReader(shared);
}

TEST_F(MidiRigTest, ABufferRetainedThreeTimesReturnsOnTheThirdRelease)
{
    RecordingWriterOwner owner;
    MidiWriter* writer = rig->router->RegisterWriter(&owner, 0);
    const UCHAR triple[4] = {};
    const UCHAR single[4] = {};
    ASSERT_TRUE(rig->router->RetainWriterBuffer(writer, 3, triple));
    ASSERT_TRUE(rig->router->RetainWriterBuffer(writer, 1, single));
    rig->router->ReleaseWriterBuffer(writer, triple);
    rig->router->ReleaseWriterBuffer(writer, triple);
    EXPECT_TRUE(owner.done.empty());
    rig->router->ReleaseWriterBuffer(writer, single);
    EXPECT_EQ(owner.done, (std::vector<const UCHAR*>{single}));
    rig->router->ReleaseWriterBuffer(writer, triple);
    EXPECT_EQ(owner.done, (std::vector<const UCHAR*>{single, triple}));
    rig->router->UnregisterWriter(writer);
}

// A SysEx interrupted twice by real-time bytes is held in three segments of one buffer: the
// buffer goes back once, after the last of them is sent.
TEST_F(MidiRigTest, ASysExInThreeSegmentsReturnsItsBufferAfterTheLast)
{
    RecordingWriterOwner owner;
    MidiWriter* writer = rig->router->RegisterWriter(&owner, 0);
    const Bytes bytes = {0xF0, 0x01, 0xF8, 0x02, 0x03, 0xF8, 0x04, 0x05, 0x06, 0x07, 0xF7};
    EXPECT_EQ(SubmitMidiPort(writer, 0, bytes.data(), static_cast<ULONG>(bytes.size())), 1);
    UsbMidiPacket packet = {};
    LONGLONG wait = 0;
    int packets = 0;
    for (; packets < 20; ++packets) {
        rig->codec->NextMidiOutPacket(0, 0, &packet, &wait);
        if (packet.bytes[0] == kNoPacket) {
            break;
        }
        if (wait == kNothingDue) {
            EXPECT_EQ(owner.done, (std::vector<const UCHAR*>{bytes.data()}));
        } else {
            EXPECT_TRUE(owner.done.empty()) << "returned while packets remain, packet " << packets;
        }
    }
    EXPECT_EQ(packets, 5);  // two clocks, then F0 01 02, 03 04 05, 06 07 F7
    EXPECT_EQ(owner.done, (std::vector<const UCHAR*>{bytes.data()}));
    rig->router->UnregisterWriter(writer);
}

// A writer that pauses in the middle of a SysEx: its unfinished message leaves the queue and its
// buffer comes back; another writer's note goes out at once.
TEST_F(MidiRigTest, ClosingAWriterRemovesItsUnfinishedSysEx)
{
    RecordingWriterOwner owner;
    RecordingWriterOwner otherOwner;
    MidiWriter* writer = rig->router->RegisterWriter(&owner, 0);
    MidiWriter* other = rig->router->RegisterWriter(&otherOwner, 0);
    const Bytes start = {0xF0, 0x01};
    const Bytes note = {0x90, 0x3C, 0x40};
    EXPECT_EQ(SubmitMidiPort(writer, 0, start.data(), 2), 1);
    SubmitMidiPort(other, 1, note.data(), 3);
    EXPECT_TRUE(rig->Drain(0, 10).empty()) << "the open SysEx holds the port";
    EXPECT_EQ(rig->router->CloseWriter(writer), 0);
    EXPECT_EQ(owner.done, (std::vector<const UCHAR*>{start.data()}));
    EXPECT_EQ(rig->Drain(0, 10), (Bytes{0x09, 0x90, 0x3C, 0x40}));
    // Its next send opens it again and starts afresh.
    const Bytes sysEx = {0xF0, 0x02, 0xF7};
    SubmitMidiPort(writer, 20, sysEx.data(), 3);
    EXPECT_EQ(rig->Drain(0, 30), (Bytes{0x07, 0xF0, 0x02, 0xF7}));
    rig->router->UnregisterWriter(writer);
    rig->router->UnregisterWriter(other);
}

TEST_F(MidiRigTest, DroppingSysExMessagesReturnsTheirBuffers)
{
    RecordingWriterOwner owner;
    MidiWriter* writer = rig->router->RegisterWriter(&owner, 1);
    const Bytes sysEx = {0xF0, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xF7};
    const Bytes unfinished = {0xF0, 0x11};
    SubmitMidiPort(writer, 100, sysEx.data(), static_cast<ULONG>(sysEx.size()));
    rig->codec->DropSysExMessages();
    EXPECT_EQ(owner.done, (std::vector<const UCHAR*>{sysEx.data()}));
    SubmitMidiPort(writer, 100, unfinished.data(), 2);
    rig->codec->DropSysExMessages();
    EXPECT_EQ(owner.done.back(), unfinished.data());
    const Bytes note = {0x80, 0x3C, 0x00};
    SubmitMidiPort(writer, 200, note.data(), 3);
    EXPECT_EQ(rig->Drain(1, 300), (Bytes{0x18, 0x80, 0x3C, 0x00}));
    rig->router->UnregisterWriter(writer);
}

// The reference record of a buffer held in several segments is taken before anything of the
// write is queued; without it the write's SysEx is refused whole and the buffer stays the
// writer's.
TEST_F(MidiRigTest, NoRoomToCountABufferRefusesTheWritesSysEx)
{
    RecordingWriterOwner warmOwner;
    MidiWriter* warm = rig->router->RegisterWriter(&warmOwner, 0);
    const Bytes bytes = {0x90, 0x3C, 0x40, 0xF0, 0x01, 0xF8, 0x02, 0xF8, 0x03, 0xF7};
    EXPECT_EQ(SubmitMidiPort(warm, 0, bytes.data(), static_cast<ULONG>(bytes.size())), 1);
    rig->Drain(0, 10);  // the node and segment pools now hold what the next write needs
    RecordingWriterOwner owner;
    MidiWriter* writer = rig->router->RegisterWriter(&owner, 0);
    const uint64_t allocations = Platform::Kernel::AllocationCount();
    Platform::Kernel::FailAllocationNumber(1);
    EXPECT_EQ(SubmitMidiPort(writer, 20, bytes.data(), static_cast<ULONG>(bytes.size())),
              E_OUTOFMEMORY);
    Platform::Kernel::ClearAllocationFailures();
    EXPECT_EQ(Platform::Kernel::AllocationCount(), allocations + 1) << "only the record was new";
    EXPECT_EQ(rig->Drain(0, 30),
              (Bytes{0x0F, 0xF8, 0, 0, 0x0F, 0xF8, 0, 0, 0x09, 0x90, 0x3C, 0x40}));
    EXPECT_TRUE(owner.done.empty()) << "a refused buffer is not handed back";
    rig->router->UnregisterWriter(writer);
    rig->router->UnregisterWriter(warm);
}

TEST_F(MidiRigTest, RegistrationWithoutMemoryLinksNothing)
{
    RecordingReaderOwner owner;
    RecordingWriterOwner writerOwner;
    Platform::Kernel::FailAllocationNumber(1);
    EXPECT_EQ(rig->router->RegisterReader(&owner, 3), nullptr);
    Platform::Kernel::FailAllocationNumber(1);
    EXPECT_EQ(rig->router->RegisterWriter(&writerOwner, 3), nullptr);
    Platform::Kernel::ClearAllocationFailures();
    EXPECT_FALSE(rig->router->AnyPrivateClientRegistered());
}

}  // namespace
