// The output side of the 1 ms tick: packets collected into USB-MIDI OUT transfers, each port held
// to its byte rate, the 2 ms look-ahead, the limit of transfers in flight, and the writes'
// out-of-memory paths.
#include <algorithm>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "KernelTestApi.h"
#include "MidiTestRig.h"
#include "audio/DriverResult.h"
#include "midi/MidiOutTransfer.h"
#include "midi/MidiOutputTick.h"

namespace {

using MidiTest::Bytes;
using MidiTest::kRigPorts;
using MidiTest::MidiRig;
using MidiTest::MidiRigTest;
using MidiTest::RecordingWriterOwner;
using Platform::Kernel::Testing::KernelTest;

// The OUT pipe: a 64-byte endpoint whose transfers are recorded as they go out.
class RecordingSink : public MidiOutSink
{
public:
    explicit RecordingSink(ULONG packetSize = 64) : buffer(packetSize)
    {
        transfer = {buffer.data(), packetSize, 0};
    }
    LONG PutMidiOutPacket(const UsbMidiPacket* packet, ULONG port) override
    {
        ++puts;
        if (AppendMidiOutPacket(&transfer, packet, port)) {
            fullAt.push_back(puts);
            Send();
            return 1;
        }
        return 0;
    }
    ULONG PendingOutTransfers() override { return pending; }
    void FlushMidiOut() override
    {
        if (transfer.byteCount > 0) {
            Send();
        }
    }

    // Every byte sent so far, transfer after transfer.
    Bytes AllBytes() const
    {
        Bytes all;
        for (const Bytes& each : transfers) {
            all.insert(all.end(), each.begin(), each.end());
        }
        return all;
    }

    std::vector<Bytes> transfers;
    std::vector<int> fullAt;  // the puts that filled a transfer
    int puts = 0;
    ULONG pending = 0;

private:
    void Send()
    {
        transfers.emplace_back(buffer.begin(), buffer.begin() + transfer.byteCount);
        transfer.byteCount = 0;
    }

    Bytes buffer;
    MidiOutTransfer transfer;
};

class MidiOutputTickTest : public MidiRigTest
{
protected:
    void SetUp() override
    {
        MidiRigTest::SetUp();
        writer = rig->router->RegisterWriter(&owner, 0);
        ports = {nullptr, kRigPorts, kRigPorts - 1};
    }
    void TearDown() override
    {
        for (MidiWriter* each : writers) {
            rig->router->UnregisterWriter(each);
        }
        rig->router->UnregisterWriter(writer);
        MidiRigTest::TearDown();
    }

    MidiWriter* WriterOn(ULONG port)
    {
        writers.push_back(rig->router->RegisterWriter(&owner, port));
        return writers.back();
    }

    void NoteOns(MidiWriter* to, int count, LONGLONG time = 0)
    {
        for (int i = 0; i < count; ++i) {
            notes.push_back({0x90, static_cast<UCHAR>(i & 0x7F), 0x40});
        }
        for (size_t i = notes.size() - count; i < notes.size(); ++i) {
            ASSERT_EQ(SubmitMidiPort(to, time, notes[i].data(), 3), 0);
        }
    }

    LONG Tick(LONGLONG now)
    {
        return RunMidiOutputTick(&ports, rig->codec, rig->router, now, &sink);
    }

    RecordingWriterOwner owner;
    MidiWriter* writer = nullptr;
    std::vector<MidiWriter*> writers;
    std::vector<Bytes> notes;
    MidiOutputPorts ports = {};
    RecordingSink sink;
};

TEST_F(MidiOutputTickTest, TheSixteenthPacketSendsAFullTransfer)
{
    NoteOns(writer, 20);
    EXPECT_EQ(Tick(0), 0);
    EXPECT_EQ(sink.fullAt, (std::vector<int>{16}));
    ASSERT_EQ(sink.transfers.size(), 2u);
    EXPECT_EQ(sink.transfers[0].size(), 64u);
    EXPECT_EQ(sink.transfers[1].size(), 16u) << "the end of the tick sends the rest";
    for (size_t at = 0; at < 64; at += 4) {
        EXPECT_EQ(sink.transfers[0][at], 0x09);
        EXPECT_EQ(sink.transfers[0][at + 2], at / 4);
    }
}

// 3125 bytes per second is 3.125 bytes per tick: a port sends while the whole bytes it sent beyond
// that rate are at most 12, so after every tick it is ahead of the rate by at least 13 bytes and
// by less than 16.
TEST_F(MidiOutputTickTest, APortKeepsToItsByteRateTickByTick)
{
    MidiPortThrottle throttles[kRigPorts] = {};
    SetMidiPortThrottle(&throttles[0], 3125);
    EXPECT_EQ(throttles[0].wholePerMs, 3u);
    EXPECT_EQ(throttles[0].remainderPerMs, 1250000u);
    ports.throttles = throttles;
    MidiWriter* unlimited = WriterOn(1);
    NoteOns(writer, 100);
    NoteOns(unlimited, 20);
    for (LONGLONG tick = 0; tick < 60; ++tick) {
        Tick(tick * 10000);
        size_t sent = 0;
        size_t sentUnlimited = 0;
        const Bytes all = sink.AllBytes();
        for (size_t at = 0; at < all.size(); at += 4) {
            (all[at] >> 4 == 0 ? sent : sentUnlimited) += 3;
        }
        EXPECT_EQ(sentUnlimited, 60u) << "a port without a rate sends all at once";
        // In 1/10000000 byte: what was sent less what the rate allowed in the ticks so far.
        const LONGLONG ahead = static_cast<LONGLONG>(sent) * 10000000 - tick * 31250000;
        EXPECT_GE(ahead, 13LL * 10000000) << "tick " << tick;
        EXPECT_LT(ahead, 16LL * 10000000) << "tick " << tick;
    }
}

TEST_F(MidiOutputTickTest, MessagesDueWithinTwoMillisecondsGoInThisTick)
{
    const LONGLONG now = 5000000;
    const Bytes soon = {0x90, 0x01, 0x40};
    const Bytes later = {0x90, 0x02, 0x40};
    SubmitMidiPort(writer, now + kMidiOutputLookAhead, soon.data(), 3);
    SubmitMidiPort(writer, now + kMidiOutputLookAhead + 1, later.data(), 3);
    Tick(now);
    EXPECT_EQ(sink.AllBytes(), (Bytes{0x09, 0x90, 0x01, 0x40}));
    Tick(now + 1);
    EXPECT_EQ(sink.AllBytes(), (Bytes{0x09, 0x90, 0x01, 0x40, 0x09, 0x90, 0x02, 0x40}));
}

TEST_F(MidiOutputTickTest, EightTransfersInFlightHoldTheOutput)
{
    NoteOns(writer, 40);
    sink.pending = 8;
    EXPECT_EQ(Tick(0), 0);
    EXPECT_TRUE(sink.transfers.empty());
    // With room for one more transfer the tick stops once one has gone out.
    sink.pending = 7;
    Tick(10000);
    EXPECT_EQ(sink.puts, 16);
    ASSERT_EQ(sink.transfers.size(), 1u);
    EXPECT_EQ(sink.transfers[0].size(), 64u);
}

TEST_F(MidiOutputTickTest, PortsAreServedRoundRobin)
{
    NoteOns(WriterOn(1), 1);
    NoteOns(writer, 1);
    ports.lastServed = 0;
    Tick(0);
    const Bytes all = sink.AllBytes();
    ASSERT_EQ(all.size(), 8u);
    EXPECT_EQ(all[0] >> 4, 1) << "the port after the last one served goes first";
    EXPECT_EQ(all[4] >> 4, 0);
    EXPECT_EQ(ports.lastServed, 0u);
}

TEST_F(MidiOutputTickTest, NoOpenClientAnswersMinusOne)
{
    NoteOns(writer, 1);
    rig->router->CloseWriter(writer);
    EXPECT_EQ(Tick(0), -1);
    EXPECT_TRUE(sink.transfers.empty());
}

// The tick's result is that of the last port it served: a configuration with more ports than the
// codec has queues answers E_INVALIDARG when the port without a queue comes last.
TEST_F(MidiOutputTickTest, APortWithoutAQueueIsInvalid)
{
    NoteOns(writer, 1);
    MidiOutputPorts missingFirst = {nullptr, kRigPorts + 1, kRigPorts - 1};  // 4, 0, 1, 2, 3
    EXPECT_EQ(RunMidiOutputTick(&missingFirst, rig->codec, rig->router, 0, &sink), S_OK);
    EXPECT_EQ(sink.AllBytes(), (Bytes{0x09, 0x90, 0x00, 0x40}));
    MidiOutputPorts missingLast = {nullptr, kRigPorts + 1, kRigPorts};  // 0, 1, 2, 3, 4
    EXPECT_EQ(RunMidiOutputTick(&missingLast, rig->codec, rig->router, 0, &sink), E_INVALIDARG);
}

TEST(MidiOutTransferTest, EndpointsBelowOnePacketAreNotUsed)
{
    EXPECT_FALSE(IsUsableMidiPacketSize(0));
    EXPECT_FALSE(IsUsableMidiPacketSize(3));
    EXPECT_TRUE(IsUsableMidiPacketSize(4));
    // A 4-byte endpoint sends every packet at once; a 10-byte one after two packets.
    for (const auto& [size, fullAfter] :
         {std::pair{4u, 1}, std::pair{10u, 2}, std::pair{64u, 16}}) {
        std::vector<UCHAR> buffer(size);
        MidiOutTransfer transfer = {buffer.data(), size, 0};
        const UsbMidiPacket packet = {{0x09, 0x90, 0x3C, 0x40}};
        int appended = 1;
        while (!AppendMidiOutPacket(&transfer, &packet, 15)) {
            ++appended;
        }
        EXPECT_EQ(appended, fullAfter) << size;
        EXPECT_EQ(buffer[0], 0xF9);
    }
}

// Every allocation a mixed write makes fails in turn: the write answers 0, 1 or E_OUTOFMEMORY,
// whatever it queued goes out whole, a kept buffer comes back exactly once, and nothing leaks.
TEST_F(KernelTest, EveryAllocationOfAWriteCanFail)
{
    const Bytes bytes = {0x90, 0x3C, 0x40, 0xF8, 0xF0, 0x01, 0x02, 0xFE, 0x03, 0x04,
                         0x05, 0xF8, 0x06, 0xF7, 0xC0, 0x05, 0xF0, 0x11, 0x12};
    bool sawFailure = true;
    for (uint64_t failing = 1; sawFailure && failing < 200; ++failing) {
        int done = 0;
        {
            MidiRig rig;
            RecordingWriterOwner owner;
            MidiWriter* writer = rig.router->RegisterWriter(&owner, 0);
            ASSERT_NE(writer, nullptr);
            const uint64_t start = Platform::Kernel::AllocationCount();
            Platform::Kernel::FailAllocationNumber(failing);
            const LONG answer =
                SubmitMidiPort(writer, 0, bytes.data(), static_cast<ULONG>(bytes.size()));
            sawFailure = Platform::Kernel::AllocationCount() - start >= failing;
            Platform::Kernel::ClearAllocationFailures();
            EXPECT_TRUE(answer == 0 || answer == 1 || answer == E_OUTOFMEMORY)
                << "allocation " << failing << ": " << answer;
            if (!sawFailure) {
                EXPECT_EQ(answer, 1);
            }
            const Bytes sent = rig.Drain(0, 0);
            // A SysEx goes out complete or not at all.
            const bool sysExSent = sent.size() > 8 && sent.size() % 4 == 0 &&
                                   std::find(sent.begin(), sent.end(), 0xF0) != sent.end();
            if (answer == E_OUTOFMEMORY) {
                EXPECT_FALSE(sysExSent) << "allocation " << failing;
                EXPECT_TRUE(owner.done.empty()) << "allocation " << failing;
            }
            rig.router->UnregisterWriter(writer);
            done = static_cast<int>(owner.done.size());
            EXPECT_EQ(done, answer == 1 ? 1 : 0) << "allocation " << failing;
        }
        EXPECT_TRUE(Platform::Kernel::OutstandingPool().empty()) << "allocation " << failing;
        Platform::Kernel::FreeOutstandingPool();
    }
    EXPECT_FALSE(sawFailure) << "the sweep ended before the write stopped allocating";
}

TEST_F(KernelTest, CodecAndRouterCreationFailCleanly)
{
    MidiTest::RecordingEngine engine;
    bool built = false;
    for (uint64_t failing = 1; !built && failing < 50; ++failing) {
        Platform::Kernel::FailAllocationNumber(failing);
        UsbMidiCodec* codec = UsbMidiCodec::Create(&engine, kRigPorts);
        MidiRouter* router = codec != nullptr ? MidiRouter::Create(codec) : nullptr;
        Platform::Kernel::ClearAllocationFailures();
        built = router != nullptr;
        if (router != nullptr) {
            router->Destroy();
        }
        if (codec != nullptr) {
            codec->Destroy();
        }
        EXPECT_TRUE(Platform::Kernel::OutstandingPool().empty()) << "allocation " << failing;
    }
    EXPECT_TRUE(built);
}

}  // namespace
