// The engine's 1 ms MIDI tick on a started device: started by the first open MIDI client, sending
// each port's queue into the USB-MIDI OUT pipe, stopping itself once no client is open, kept
// across an engine stop with keep, and the MIDI input delivered to readers stamped 2 ms early.
#include <chrono>
#include <functional>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "DeviceFixture.h"
#include "engine/EngineMidiTick.h"
#include "midi/MidiBytes.h"
#include "midi/MidiRouter.h"
#include "midi/UsbMidiCodec.h"

namespace {

using namespace std::chrono_literals;
using Platform::Kernel::AdvanceTime;
using Bytes = std::vector<UCHAR>;

class FakeMidiPipes : public MidiPipes
{
public:
    NTSTATUS StartMidiPipes() override
    {
        ++starts;
        started = true;
        return STATUS_SUCCESS;
    }
    void StopMidiPipes() override
    {
        ++stops;
        started = false;
        if (duringStop) {
            std::exchange(duringStop, nullptr)();
        }
    }
    bool MidiPipesStarted() override { return started; }
    void SetMidiInput(MidiInput* registered) override { input = registered; }
    LONG PutMidiOutPacket(const UsbMidiPacket* packet, ULONG port) override
    {
        const ULONG count = MidiBytesForCin(packet->bytes[0]);
        sent.push_back(static_cast<UCHAR>(port << 4 | packet->bytes[0]));
        sent.insert(sent.end(), packet->bytes + 1, packet->bytes + 1 + count);
        return 0;
    }
    ULONG PendingOutTransfers() override { return 0; }
    void FlushMidiOut() override
    {
        ++flushes;
        if (duringFlush) {
            std::exchange(duringFlush, nullptr)();
        }
    }

    int starts = 0;
    int stops = 0;
    int flushes = 0;
    bool started = false;
    MidiInput* input = nullptr;
    Bytes sent;
    // Run once, inside the next stop of the pipes (the tick's stop waits there) or at the end of
    // the next tick's run (after it decided whether a client is open).
    std::function<void()> duringStop;
    std::function<void()> duringFlush;
};

class NullWriterOwner : public MidiWriterOwner
{
public:
    void BufferDone(MidiWriter*, const UCHAR*) override {}
    void PortTableChanged(MidiWriter*, ULONG) override {}
};

class QueueingReaderOwner : public MidiReaderOwner
{
public:
    LONG Deliver(MidiReader*, LONGLONG, const UCHAR*, ULONG, bool) override { return 1; }
    void DataAvailable(MidiReader*) override {}
    void PortTableChanged(MidiReader*, ULONG) override {}
};

class EngineMidiTickTest : public DeviceFixture
{
protected:
    void SetUp() override
    {
        DeviceFixture::SetUp();
        tick.Construct(Link(), &pipes);
        codec = UsbMidiCodec::Create(&tick, 2);
        router = MidiRouter::Create(codec);
        tick.SetMidiLinks(codec, router);
        table.index = 0;
        table.inputPortCount = 2;
        table.inputPortIds = ids;
        table.outputPortCount = 2;
        table.outputPortIds = ids;
        table.outputByteRates = rates;
        ASSERT_EQ(codec->SetPortTable(&table), 0);
        tick.ResumeAfterStart();
    }
    void TearDown() override
    {
        tick.Destroy();
        router->Destroy();
        codec->Destroy();
        Platform::Kernel::RunPending();
        DeviceFixture::TearDown();
    }

    EngineMidiTick tick;
    FakeMidiPipes pipes;
    UsbMidiCodec* codec = nullptr;
    MidiRouter* router = nullptr;
    ULONG ids[2] = {0, 1};
    ULONG rates[2] = {0, 3125};
    MidiConfiguration table = {};
    NullWriterOwner writerOwner;
    QueueingReaderOwner readerOwner;
};

TEST_F(EngineMidiTickTest, AReaderAloneStartsTheTickAndItStopsItselfAfterTheLastCloses)
{
    EXPECT_EQ(tick.TickState(), kTickStopped);
    MidiReader* reader = router->RegisterReader(&readerOwner, 0);
    router->SetClientOpen(reader, true);
    EXPECT_EQ(tick.TickState(), kTickRunning);
    EXPECT_TRUE(tick.IsTickActive());
    EXPECT_EQ(pipes.starts, 1);
    EXPECT_EQ(Platform::Kernel::TimerResolutionInForce(), 10000u);
    AdvanceTime(5ms);
    EXPECT_EQ(pipes.flushes, 5) << "one run every millisecond";
    EXPECT_EQ(tick.TickState(), kTickRunning);
    router->SetClientOpen(reader, false);
    AdvanceTime(2ms);  // the next run finds no client open and stops the tick
    EXPECT_EQ(tick.TickState(), kTickStopped);
    EXPECT_EQ(pipes.stops, 1);
    EXPECT_EQ(Platform::Kernel::TimerResolutionInForce(), 0u);
    EXPECT_EQ(Platform::Kernel::ArmedTimerCount(), 0u);
    router->UnregisterReader(reader);
}

TEST_F(EngineMidiTickTest, WrittenMessagesGoOutInTheNextTick)
{
    MidiWriter* writer = router->RegisterWriter(&writerOwner, 1);
    const Bytes note = {0x90, 0x3C, 0x40};
    ASSERT_EQ(SubmitMidiPort(writer, 0, note.data(), 3), 0);
    EXPECT_EQ(tick.TickState(), kTickRunning);
    EXPECT_TRUE(pipes.sent.empty());
    AdvanceTime(1ms);
    EXPECT_EQ(pipes.sent, (Bytes{0x19, 0x90, 0x3C, 0x40}));
    router->UnregisterWriter(writer);
}

TEST_F(EngineMidiTickTest, AStopWithKeepAndAStartResumeTheTick)
{
    MidiReader* reader = router->RegisterReader(&readerOwner, 0);
    router->SetClientOpen(reader, true);
    tick.StopKeeping();
    EXPECT_EQ(tick.TickState(), kTickRunning) << "kept for the next start";
    EXPECT_EQ(Platform::Kernel::ArmedTimerCount(), 0u);
    EXPECT_EQ(pipes.stops, 1);
    const int flushes = pipes.flushes;
    AdvanceTime(3ms);
    EXPECT_EQ(pipes.flushes, flushes);
    tick.ResumeAfterStart();
    EXPECT_EQ(pipes.starts, 2);
    AdvanceTime(3ms);
    EXPECT_EQ(pipes.flushes, flushes + 3);
    router->UnregisterReader(reader);
}

TEST_F(EngineMidiTickTest, InputReachesReadersTwoMillisecondsEarly)
{
    MidiReader* reader = router->RegisterReader(&readerOwner, 1);
    router->SetClientOpen(reader, true);
    AdvanceTime(7ms);
    ASSERT_NE(pipes.input, nullptr);
    const UCHAR transfer[4] = {0x1B, 0xB0, 0x07, 0x64};
    KIRQL old = 0;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    pipes.input->OnMidiInPacket(transfer, 4);
    KeLowerIrql(old);
    LONGLONG time = 0;
    ULONG whole = 0;
    UCHAR bytes[3] = {};
    EXPECT_EQ(ReaderGet(reader, &time, bytes, 3, &whole), 3);
    EXPECT_EQ(time, Platform::Kernel::InterruptTime100ns() - 20000);
    EXPECT_EQ(bytes[2], 0x64);
    router->UnregisterReader(reader);
}

TEST_F(EngineMidiTickTest, InputNobodyTakesStopsTheTick)
{
    MidiReader* reader = router->RegisterReader(&readerOwner, 0);
    router->SetClientOpen(reader, true);
    ASSERT_NE(pipes.input, nullptr);
    const UCHAR transfer[4] = {0x09, 0x90, 0x3C, 0x40};
    KIRQL old = 0;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    pipes.input->OnMidiInPacket(transfer, 4);  // delivered: the tick runs on
    EXPECT_EQ(tick.TickState(), kTickRunning);
    KeLowerIrql(old);
    router->SetClientOpen(reader, false);
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    pipes.input->OnMidiInPacket(transfer, 4);
    EXPECT_EQ(tick.TickState(), kTickStopping) << "the stop waits for PASSIVE_LEVEL";
    KeLowerIrql(old);
    Platform::Kernel::RunPending();
    EXPECT_EQ(tick.TickState(), kTickStopped);
    router->UnregisterReader(reader);
}

// Asked for at DISPATCH_LEVEL the start waits for a work item; without one the request is
// forgotten, so that the next one starts the tick.
TEST_F(EngineMidiTickTest, AStartThatCannotBeQueuedIsAskedForAgain)
{
    MidiReader* reader = router->RegisterReader(&readerOwner, 0);
    Platform::Kernel::FailAllocationsWithTag(Platform::Kernel::MakeTag("Queu"));
    KIRQL old = 0;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    router->SetClientOpen(reader, true);
    KeLowerIrql(old);
    Platform::Kernel::ClearAllocationFailures();
    EXPECT_EQ(tick.TickState(), kTickStopped);
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    tick.RequestTick(0);
    EXPECT_EQ(tick.TickState(), kTickStarting);
    KeLowerIrql(old);
    Platform::Kernel::RunPending();
    EXPECT_EQ(tick.TickState(), kTickRunning);
    router->UnregisterReader(reader);
}

TEST_F(EngineMidiTickTest, APortWithAByteRateSendsAtThatRate)
{
    MidiWriter* writer = router->RegisterWriter(&writerOwner, 1);
    std::vector<Bytes> notes(2000, Bytes{0x80, 0x3C, 0x00});
    for (const Bytes& note : notes) {
        SubmitMidiPort(writer, 0, note.data(), 3);
    }
    AdvanceTime(1000ms);
    // 3125 bytes per second, and at most 16 bytes ahead of it: 1045 note-offs of 3 bytes.
    const size_t packets = pipes.sent.size() / 4;
    EXPECT_GE(packets, 1040u);
    EXPECT_LE(packets, 1050u);
    router->UnregisterWriter(writer);
}

}  // namespace

namespace {

void AtDispatchLevel(const std::function<void()>& body)
{
    KIRQL old = 0;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    body();
    KeLowerIrql(old);
}

// The tick stops itself (no client open) and, while the stop waits for the tick to go idle, a
// writer sends at DISPATCH_LEVEL: its start request moves the state from stopping to starting.
// Written over with "stopped", that start would be lost and the message never sent.
TEST_F(EngineMidiTickTest, AStartAskedForWhileTheTickStopsIsKept)
{
    MidiReader* reader = router->RegisterReader(&readerOwner, 0);
    router->SetClientOpen(reader, true);
    ASSERT_EQ(tick.TickState(), kTickRunning);
    MidiWriter* writer = router->RegisterWriter(&writerOwner, 1);
    const Bytes note = {0x90, 0x3C, 0x40};
    pipes.duringStop = [&] {
        AtDispatchLevel([&] { EXPECT_EQ(SubmitMidiPort(writer, 0, note.data(), 3), 0); });
    };
    router->SetClientOpen(reader, false);
    AdvanceTime(5ms);
    EXPECT_EQ(pipes.stops, 1);
    EXPECT_EQ(tick.TickState(), kTickRunning);
    EXPECT_EQ(pipes.sent, (Bytes{0x19, 0x90, 0x3C, 0x40}));
    router->UnregisterWriter(writer);
    router->UnregisterReader(reader);
    AdvanceTime(3ms);
    EXPECT_EQ(tick.TickState(), kTickStopped);
}

// A reader opens after the tick's run found no client open and before it stops: its request
// finds the tick running and does nothing. Once the stop is done the open reader restarts it,
// and the input reaches the reader.
TEST_F(EngineMidiTickTest, AClientOpenedDuringTheLastRunRestartsTheTick)
{
    MidiReader* first = router->RegisterReader(&readerOwner, 0);
    MidiReader* late = router->RegisterReader(&readerOwner, 1);
    router->SetClientOpen(first, true);
    ASSERT_EQ(tick.TickState(), kTickRunning);
    pipes.duringFlush = [&] { router->SetClientOpen(late, true); };
    router->SetClientOpen(first, false);
    AdvanceTime(5ms);
    EXPECT_EQ(pipes.stops, 1) << "the run found no client and stopped the tick";
    EXPECT_EQ(tick.TickState(), kTickRunning);
    ASSERT_NE(pipes.input, nullptr);
    const UCHAR transfer[4] = {0x1B, 0xB0, 0x07, 0x64};
    AtDispatchLevel([&] { pipes.input->OnMidiInPacket(transfer, 4); });
    LONGLONG time = 0;
    ULONG whole = 0;
    UCHAR bytes[3] = {};
    EXPECT_EQ(ReaderGet(late, &time, bytes, 3, &whole), 3);
    router->UnregisterReader(late);
    router->UnregisterReader(first);
    AdvanceTime(3ms);
    EXPECT_EQ(tick.TickState(), kTickStopped);
}

// Stop and start asked for at DISPATCH_LEVEL before the stop's work item ran (3 -> 0 -> 2): the
// tick runs once, and its one timer resolution request is released once it stops.
TEST_F(EngineMidiTickTest, AStopAndStartBeforeTheWorkItemSetTheTimerResolutionOnce)
{
    MidiReader* reader = router->RegisterReader(&readerOwner, 0);
    router->SetClientOpen(reader, true);
    ASSERT_EQ(tick.TickState(), kTickRunning);
    AtDispatchLevel([&] {
        tick.ChangeTick(false, false);
        EXPECT_EQ(tick.TickState(), kTickStopping);
        tick.RequestTick(0);
        EXPECT_EQ(tick.TickState(), kTickStarting);
    });
    Platform::Kernel::RunPending();
    EXPECT_EQ(tick.TickState(), kTickRunning);
    EXPECT_EQ(Platform::Kernel::TimerResolutionRequestCounts().outstanding, 1u);
    const int flushes = pipes.flushes;
    AdvanceTime(3ms);
    EXPECT_EQ(pipes.flushes, flushes + 3) << "one run a millisecond";
    router->SetClientOpen(reader, false);
    AdvanceTime(3ms);
    EXPECT_EQ(tick.TickState(), kTickStopped);
    EXPECT_EQ(Platform::Kernel::TimerResolutionRequestCounts().outstanding, 0u);
    EXPECT_EQ(Platform::Kernel::TimerResolutionInForce(), 0u);
    router->UnregisterReader(reader);
}

}  // namespace
