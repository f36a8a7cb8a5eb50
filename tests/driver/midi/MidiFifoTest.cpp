// The reader's FIFO and the SysEx buffers behind it: overflow, SysEx fragments chained onto one
// entry, reads in pieces, entry reuse, the cap on a SysEx nobody reads, and out-of-memory paths.
#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "KernelTestApi.h"
#include "KernelTestFixture.h"
#include "MidiTestRig.h"
#include "audio/DriverResult.h"
#include "midi/MidiFifo.h"
#include "midi/MidiPoolTags.h"
#include "midi/SysExBuffer.h"
#include "midi/UsbMidiInput.h"

namespace {

using MidiTest::Bytes;
using Platform::Kernel::Testing::KernelTest;

class MidiFifoTest : public KernelTest
{
protected:
    void SetUp() override
    {
        KernelTest::SetUp();
        fifo = new MidiFifo;
        FifoInitialize(fifo);
    }
    void TearDown() override
    {
        FifoFlush(fifo);
        delete fifo;
        KernelTest::TearDown();
    }

    LONG Write(LONGLONG time, const Bytes& bytes, bool complete)
    {
        return FifoWrite(fifo, time, bytes.data(), static_cast<ULONG>(bytes.size()), complete);
    }

    // One read of up to capacity bytes; the bytes, or empty with result set.
    Bytes Read(ULONG capacity, LONG* result = nullptr, LONGLONG* time = nullptr,
               ULONG* whole = nullptr)
    {
        Bytes buffer(capacity);
        LONGLONG stamp = 0;
        ULONG isWhole = 0;
        const LONG read = FifoRead(fifo, &stamp, buffer.data(), capacity, &isWhole);
        if (result != nullptr) {
            *result = read;
        }
        if (time != nullptr) {
            *time = stamp;
        }
        if (whole != nullptr) {
            *whole = isWhole;
        }
        buffer.resize(read > 0 ? static_cast<size_t>(read) : 0);
        return buffer;
    }

    MidiFifo* fifo = nullptr;
};

TEST_F(MidiFifoTest, TwoHundredFiftySixNoteOnsLeaveTheLast255)
{
    for (int note = 0; note < 256; ++note) {
        const LONG held = Write(note, {0x90, static_cast<UCHAR>(note & 0x7F), 0x40}, true);
        EXPECT_EQ(held, note < 255 ? note + 1 : 255);
    }
    for (int note = 1; note < 256; ++note) {
        LONGLONG time = -1;
        ULONG whole = 0;
        EXPECT_EQ(Read(3, nullptr, &time, &whole),
                  (Bytes{0x90, static_cast<UCHAR>(note & 0x7F), 0x40}));
        EXPECT_EQ(time, note);
        EXPECT_EQ(whole, 1u);
    }
    EXPECT_TRUE(FifoIsEmpty(fifo));
    LONG result = 0;
    Read(3, &result);
    EXPECT_EQ(result, E_FAIL);
}

TEST_F(MidiFifoTest, SysExFragmentsBecomeOneEntry)
{
    Write(1, {0xF0, 0x01, 0x02}, false);
    Write(2, {0x03, 0x04, 0x05}, false);
    Write(3, {0xF7}, false);
    EXPECT_EQ(FifoCount(fifo), 1u);
    LONGLONG time = 0;
    ULONG whole = 1;
    EXPECT_EQ(Read(64, nullptr, &time, &whole), (Bytes{0xF0, 0x01, 0x02, 0x03, 0x04, 0x05, 0xF7}));
    EXPECT_EQ(time, 1);
    EXPECT_EQ(whole, 0u);
    EXPECT_FALSE(FifoHasData(fifo));
}

TEST_F(MidiFifoTest, ASysExIsReadWhileItArrivesAndStaysUntilItsEnd)
{
    Write(1, {0xF0, 0x01, 0x02}, false);
    EXPECT_EQ(Read(2), (Bytes{0xF0, 0x01}));
    EXPECT_EQ(Read(64), (Bytes{0x02}));
    EXPECT_FALSE(FifoIsEmpty(fifo));
    EXPECT_FALSE(FifoHasData(fifo));
    Write(2, {0x03, 0xF7}, false);
    EXPECT_TRUE(FifoHasData(fifo));
    EXPECT_EQ(Read(64), (Bytes{0x03, 0xF7}));
    // A note behind the finished SysEx takes its entry.
    Write(3, {0x80, 0x3C, 0x00}, true);
    EXPECT_EQ(FifoCount(fifo), 1u);
    EXPECT_EQ(Read(3), (Bytes{0x80, 0x3C, 0x00}));
    EXPECT_TRUE(FifoIsEmpty(fifo));
}

TEST_F(MidiFifoTest, ANoteAfterADrainedUnterminatedSysExReusesItsEntry)
{
    Write(1, {0xF0, 0x01, 0x02}, false);
    EXPECT_EQ(Read(64).size(), 3u);
    Write(2, {0x90, 0x3C, 0x40}, true);
    EXPECT_EQ(FifoCount(fifo), 1u);
    EXPECT_EQ(Read(3), (Bytes{0x90, 0x3C, 0x40}));
}

TEST_F(MidiFifoTest, ASmallBufferLeavesAShortMessageInPlace)
{
    Write(1, {0x90, 0x3C, 0x40}, true);
    LONG result = 0;
    Read(2, &result);
    EXPECT_EQ(result, E_INVALIDARG);
    EXPECT_EQ(Read(3), (Bytes{0x90, 0x3C, 0x40}));
}

TEST_F(MidiFifoTest, ANewSysExBehindAnUnreadOneStartsANewEntry)
{
    Write(1, {0xF0, 0x01, 0xF7}, false);
    Write(2, {0xF0, 0x02, 0xF7}, false);
    EXPECT_EQ(FifoCount(fifo), 2u);
    EXPECT_EQ(Read(64), (Bytes{0xF0, 0x01, 0xF7}));
    EXPECT_EQ(Read(64), (Bytes{0xF0, 0x02, 0xF7}));
}

// A finished SysEx that the reader drained keeps its entry until something follows; a new SysEx
// reusing it must not inherit the old end flags, or its first partial read would discard the rest.
TEST_F(MidiFifoTest, ASysExReusingADrainedOneIsReadWhole)
{
    Write(1, {0xF0, 0x01, 0xF7}, false);
    EXPECT_EQ(Read(64), (Bytes{0xF0, 0x01, 0xF7}));
    Write(2, {0xF0, 0x0A, 0x0B}, false);
    Write(3, {0x0C, 0x0D, 0xF7}, false);
    LONGLONG time = 0;
    EXPECT_EQ(Read(2, nullptr, &time), (Bytes{0xF0, 0x0A}));
    EXPECT_EQ(time, 2);
    EXPECT_EQ(Read(64), (Bytes{0x0B, 0x0C, 0x0D, 0xF7}));
}

TEST_F(MidiFifoTest, NoBytesIsRefused)
{
    EXPECT_EQ(FifoWrite(fifo, 0, nullptr, 3, true), E_INVALIDARG);
    const UCHAR note[3] = {0x90, 0x3C, 0x40};
    EXPECT_EQ(FifoWrite(fifo, 0, note, 0, true), E_INVALIDARG);
    EXPECT_TRUE(FifoIsEmpty(fifo));
}

// A device that sends a SysEx without end while nobody reads: the entry stops growing at the cap,
// the rest is dropped and counted up to the end byte, and the next SysEx is taken again.
TEST_F(MidiFifoTest, AnEndlessUnreadSysExStopsAtTheCap)
{
    Write(0, {0xF0, 0x01, 0x02}, false);
    const Bytes fragment = {0x11, 0x22, 0x33};
    const ULONG fragments = kMaxUnreadSysExBytes / 3 + 100;
    for (ULONG i = 0; i < fragments; ++i) {
        Write(1, fragment, false);
    }
    EXPECT_GT(fifo->sysExDrops, 0u);
    size_t dataBlocks = 0;
    for (const auto& block : Platform::Kernel::OutstandingPool()) {
        dataBlocks += block.tag == kSysExDataTag ? 1 : 0;
    }
    EXPECT_LE(dataBlocks * kSysExChunkSize, kMaxUnreadSysExBytes + kSysExChunkSize);
    const ULONG dropsBeforeEnd = fifo->sysExDrops;
    Write(2, {0x44, 0xF7}, false);
    EXPECT_EQ(fifo->sysExDrops, dropsBeforeEnd + 1);
    Write(3, {0xF0, 0x05, 0xF7}, false);
    EXPECT_EQ(FifoCount(fifo), 2u);
    Bytes first;
    for (Bytes piece = Read(4096); !piece.empty(); piece = Read(4096)) {
        first.insert(first.end(), piece.begin(), piece.end());
        if (FifoCount(fifo) == 1) {
            break;
        }
    }
    ASSERT_LE(first.size(), kMaxUnreadSysExBytes);
    EXPECT_EQ(first[0], 0xF0);
    EXPECT_NE(first.back(), 0xF7) << "a cut SysEx must not look whole";
    EXPECT_EQ(Read(64), (Bytes{0xF0, 0x05, 0xF7}));
}

TEST_F(MidiFifoTest, FlushReleasesEverySysExBuffer)
{
    Write(0, {0xF0, 0x01, 0x02}, false);
    Write(1, {0x90, 0x3C, 0x40}, true);
    Write(2, {0xF0, 0x03, 0x04}, false);
    FifoFlush(fifo);
    EXPECT_TRUE(FifoIsEmpty(fifo));
    EXPECT_TRUE(Platform::Kernel::OutstandingPool().empty());
}

// Every allocation of a SysEx write fails in turn: the FIFO either holds the fragment or holds
// nothing new, counts the drop, and leaks nothing.
TEST_F(MidiFifoTest, AllocationFailuresDropTheFragmentAndLeakNothing)
{
    const Bytes sysEx = {0xF0, 0x01, 0x02};
    for (uint64_t failing = 1; failing <= 12; ++failing) {
        Platform::Kernel::FailAllocationNumber(failing);
        const ULONG drops = fifo->sysExDrops;
        Write(0, sysEx, false);
        Platform::Kernel::ClearAllocationFailures();
        if (fifo->sysExDrops != drops) {
            EXPECT_TRUE(FifoIsEmpty(fifo)) << "allocation " << failing;
        } else {
            EXPECT_EQ(Read(64), sysEx) << "allocation " << failing;
        }
        FifoFlush(fifo);
        EXPECT_TRUE(Platform::Kernel::OutstandingPool().empty()) << "allocation " << failing;
    }
}

class SysExBufferTest : public KernelTest
{
};

TEST_F(SysExBufferTest, SixHundredBytesFillTwoChunksAndRecycleThem)
{
    SysExBuffer* buffer = CreateSysExBuffer();
    ASSERT_NE(buffer, nullptr);
    Bytes bytes(600);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<UCHAR>(i % 0x7F);
    }
    ASSERT_EQ(buffer->Append(bytes.data(), 600), S_OK);
    EXPECT_FALSE(buffer->WriteComplete());
    EXPECT_EQ(buffer->UnreadBytes(), 600u);
    Bytes out(600);
    EXPECT_EQ(buffer->Read(out.data(), 600), 600u);
    EXPECT_EQ(out, bytes);
    EXPECT_TRUE(buffer->IsDrained());
    // The two emptied chunks went to the end of the chain: 856 more bytes fit in the four chunks
    // the buffer started with, without a fifth.
    const uint64_t before = Platform::Kernel::AllocationCount();
    Bytes more(856, 0x11);
    EXPECT_EQ(buffer->Append(more.data(), 856), S_OK);
    EXPECT_EQ(Platform::Kernel::AllocationCount(), before);
    buffer->Destroy();
}

TEST_F(SysExBufferTest, ThePlainBufferKeepsBytesInOrderAcrossChunks)
{
    ChunkedByteBuffer* buffer = CreateByteBuffer();
    ASSERT_NE(buffer, nullptr);
    Bytes bytes(kSysExChunkSize * 6);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<UCHAR>(i % 251);
    }
    Bytes out;
    // Writes of 300 and reads of 200 bytes: the reader trails, chunks are recycled and added.
    size_t written = 0;
    while (out.size() < bytes.size()) {
        const size_t chunk = std::min<size_t>(300, bytes.size() - written);
        if (chunk > 0) {
            ASSERT_EQ(buffer->Append(bytes.data() + written, static_cast<ULONG>(chunk)), S_OK);
            written += chunk;
        }
        Bytes piece(200);
        piece.resize(buffer->Read(piece.data(), 200));
        out.insert(out.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(out, bytes);
    EXPECT_TRUE(buffer->IsDrained());
    buffer->Destroy();
}

TEST_F(SysExBufferTest, TheEndByteSetsTheCompleteFlags)
{
    SysExBuffer* buffer = CreateSysExBuffer();
    ASSERT_NE(buffer, nullptr);
    const UCHAR start[2] = {0xF0, 0x01};
    const UCHAR end[2] = {0x02, 0xF7};
    buffer->Append(start, 2);
    EXPECT_FALSE(buffer->WriteComplete());
    buffer->Append(end, 2);
    EXPECT_TRUE(buffer->WriteComplete());
    UCHAR out[4] = {};
    EXPECT_EQ(buffer->Read(out, 3), 3u);
    EXPECT_FALSE(buffer->ReadComplete());
    EXPECT_EQ(buffer->Read(out, 4), 1u);
    EXPECT_TRUE(buffer->ReadComplete());
    buffer->Destroy();
}

// A full chain whose next chunk cannot be had: the append says so, keeps what fitted, and the
// unread bytes are not overwritten by a write offset sent back to the chunk's start.
TEST_F(SysExBufferTest, AFailedChunkReportsOutOfMemoryAndKeepsTheBytes)
{
    SysExBuffer* buffer = CreateSysExBuffer();
    ASSERT_NE(buffer, nullptr);
    Bytes bytes(kSysExChunkSize * kSysExInitialChunks + 10);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<UCHAR>(i * 7 % 0x7F);
    }
    Platform::Kernel::FailAllocationsWithTag(kMidiObjectTag);
    EXPECT_EQ(buffer->Append(bytes.data(), static_cast<ULONG>(bytes.size())), E_OUTOFMEMORY);
    const UCHAR more[3] = {0x7E, 0x7E, 0x7E};
    EXPECT_EQ(buffer->Append(more, 3), E_OUTOFMEMORY);
    Platform::Kernel::ClearAllocationFailures();
    const ULONG stored = kSysExChunkSize * kSysExInitialChunks;
    EXPECT_EQ(buffer->UnreadBytes(), stored);
    Bytes out(stored);
    EXPECT_EQ(buffer->Read(out.data(), stored), stored);
    EXPECT_EQ(out, Bytes(bytes.begin(), bytes.begin() + stored));
    // With memory back, the next append goes on behind them.
    EXPECT_EQ(buffer->Append(more, 3), S_OK);
    EXPECT_EQ(buffer->Read(out.data(), stored), 3u);
    buffer->Destroy();
}

TEST_F(SysExBufferTest, CreationFailsCleanlyAtEveryAllocation)
{
    for (uint64_t failing = 1; failing <= 9; ++failing) {
        Platform::Kernel::FailAllocationNumber(failing);
        SysExBuffer* buffer = CreateSysExBuffer();
        Platform::Kernel::ClearAllocationFailures();
        EXPECT_EQ(buffer, nullptr) << "allocation " << failing;
        if (buffer != nullptr) {
            buffer->Destroy();
        }
        EXPECT_TRUE(Platform::Kernel::OutstandingPool().empty()) << "allocation " << failing;
    }
    SysExBuffer* buffer = CreateSysExBuffer();
    EXPECT_NE(buffer, nullptr);
    buffer->Destroy();
}

// Input packets are stamped 2 ms before they arrived.
TEST_F(KernelTest, MidiInputIsStampedTwoMillisecondsBeforeArrival)
{
    MidiTest::MidiRig rig;
    MidiTest::RecordingReaderOwner owner;
    MidiReader* reader = rig.router->RegisterReader(&owner, 0);
    rig.router->SetClientOpen(reader, true);
    const UCHAR transfer[8] = {0x09, 0x90, 0x3C, 0x40, 0x08, 0x80, 0x3C, 0x00};
    ASSERT_EQ(DeliverUsbMidiTransfer(rig.router, rig.table.record.index, 1234567, transfer, 8), 0);
    for (int message = 0; message < 2; ++message) {
        LONGLONG time = 0;
        ULONG whole = 0;
        UCHAR out[3] = {};
        EXPECT_EQ(ReaderGet(reader, &time, out, 3, &whole), 3);
        EXPECT_EQ(time, 1234567 - 20000);
    }
    rig.router->UnregisterReader(reader);
}

}  // namespace
