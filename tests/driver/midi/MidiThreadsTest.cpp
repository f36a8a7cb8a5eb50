// The MIDI side at DISPATCH_LEVEL and under concurrent use: writers, the output tick, the USB-MIDI
// input and a reader, each on its own thread.
#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "MidiTestRig.h"
#include "midi/MidiBytes.h"
#include "midi/MidiOutTransfer.h"
#include "midi/MidiOutputTick.h"
#include "midi/UsbMidiInput.h"

namespace {

using MidiTest::Bytes;
using MidiTest::MidiRigTest;
using MidiTest::RecordingReaderOwner;
using MidiTest::RecordingWriterOwner;

template <typename Body>
void AtDispatch(Body body)
{
    KIRQL old = 0;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    body();
    KeLowerIrql(old);
}

// Collects every packet per cable, as the device would receive them.
class CollectingSink : public MidiOutSink
{
public:
    LONG PutMidiOutPacket(const UsbMidiPacket* packet, ULONG port) override
    {
        const ULONG count = MidiBytesForCin(packet->bytes[0]);
        received[port].insert(received[port].end(), packet->bytes + 1, packet->bytes + 1 + count);
        return 0;
    }
    ULONG PendingOutTransfers() override { return 0; }
    void FlushMidiOut() override {}

    Bytes received[MidiTest::kRigPorts];
};

TEST_F(MidiRigTest, EveryEntryPointRunsAtDispatchLevel)
{
    AtDispatch([&] {
        RecordingWriterOwner writerOwner;
        RecordingReaderOwner readerOwner;
        MidiWriter* writer = rig->router->RegisterWriter(&writerOwner, 0);
        MidiReader* reader = rig->router->RegisterReader(&readerOwner, 0);
        ASSERT_NE(writer, nullptr);
        ASSERT_NE(reader, nullptr);
        rig->router->SetClientOpen(reader, true);
        const Bytes sysEx = {0xF0, 0x01, 0x02, 0x03, 0x04, 0xF7};
        EXPECT_EQ(SubmitMidiPort(writer, 0, sysEx.data(), 6), 1);
        CollectingSink sink;
        MidiOutputPorts ports = {nullptr, MidiTest::kRigPorts, 0};
        EXPECT_EQ(RunMidiOutputTick(&ports, rig->codec, rig->router, 0, &sink), 0);
        EXPECT_EQ(sink.received[0], sysEx);
        const UCHAR transfer[4] = {0x09, 0x90, 0x3C, 0x40};
        EXPECT_EQ(DeliverUsbMidiTransfer(rig->router, rig->table.record.index, 0, transfer, 4), 0);
        EXPECT_EQ(ReadAll(reader), (Bytes{0x90, 0x3C, 0x40}));
        rig->codec->DropSysExMessages();
        rig->router->UnregisterReader(reader);
        rig->router->UnregisterWriter(writer);
    });
}

// Two writers send notes and SysEx to their ports while the tick sends and the device's input
// reaches a reader that drains it: every byte arrives once, in order.
TEST_F(MidiRigTest, WritersTheTickAndTheInputRunTogether)
{
    constexpr int kMessages = 3000;
    RecordingWriterOwner owners[2];
    MidiWriter* writers[2] = {rig->router->RegisterWriter(&owners[0], 0),
                              rig->router->RegisterWriter(&owners[1], 1)};
    RecordingReaderOwner readerOwner;
    MidiReader* reader = rig->router->RegisterReader(&readerOwner, 2);
    rig->router->SetClientOpen(reader, true);
    // Every write's bytes stay where they are until the end: the codec may point into them.
    std::vector<Bytes> writes[2];
    Bytes expected[2];
    for (int w = 0; w < 2; ++w) {
        for (int m = 0; m < kMessages; ++m) {
            const UCHAR value = static_cast<UCHAR>(m & 0x7F);
            if (m % 5 == 0) {
                writes[w].push_back({0xF0, value, 0x01, 0x02, 0x03, value, 0xF7});
            } else {
                writes[w].push_back({static_cast<UCHAR>(0x90 | w), value, 0x40});
            }
            expected[w].insert(expected[w].end(), writes[w].back().begin(), writes[w].back().end());
        }
    }
    std::atomic<int> writersDone{0};
    std::atomic<LONGLONG> clock{0};
    CollectingSink sink;
    std::thread tick([&] {
        MidiOutputPorts ports = {nullptr, MidiTest::kRigPorts, 0};
        AtDispatch([&] {
            while (writersDone.load() < 2 || sink.received[0].size() + sink.received[1].size() <
                                                 expected[0].size() + expected[1].size()) {
                RunMidiOutputTick(&ports, rig->codec, rig->router, clock.load(), &sink);
            }
        });
    });
    std::vector<std::thread> senders;
    for (int w = 0; w < 2; ++w) {
        senders.emplace_back([&, w] {
            AtDispatch([&] {
                for (const Bytes& bytes : writes[w]) {
                    const LONGLONG now = clock.fetch_add(1);
                    ASSERT_GE(SubmitMidiPort(writers[w], now, bytes.data(),
                                             static_cast<ULONG>(bytes.size())),
                              0);
                }
            });
            writersDone.fetch_add(1);
        });
    }
    std::atomic<bool> inputDone{false};
    Bytes read;
    std::thread readerThread([&] {
        for (;;) {
            const bool last = inputDone.load();
            const Bytes piece = ReadAll(reader, 5);
            read.insert(read.end(), piece.begin(), piece.end());
            if (last && piece.empty()) {
                break;
            }
        }
    });
    Bytes delivered;
    for (int m = 0; m < kMessages; ++m) {
        // The device sends no faster than the reader drains: the FIFO never overflows.
        while (FifoCount(&reader->fifo) > 200) {
            std::this_thread::yield();
        }
        AtDispatch([&] {
            const UCHAR value = static_cast<UCHAR>(m & 0x7F);
            const UCHAR transfer[8] = {0x2B, 0xB0, 0x07, value, 0x2C, 0xC0, value, 0x00};
            DeliverUsbMidiTransfer(rig->router, rig->table.record.index, m, transfer, 8);
            delivered.insert(delivered.end(), {0xB0, 0x07, value, 0xC0, value});
        });
    }
    inputDone.store(true);
    for (std::thread& sender : senders) {
        sender.join();
    }
    tick.join();
    readerThread.join();
    EXPECT_EQ(sink.received[0], expected[0]);
    EXPECT_EQ(sink.received[1], expected[1]);
    EXPECT_EQ(read, delivered);
    for (int w = 0; w < 2; ++w) {
        EXPECT_EQ(owners[w].done.size(), static_cast<size_t>(kMessages / 5));
        rig->router->UnregisterWriter(writers[w]);
    }
    rig->router->UnregisterReader(reader);
}

}  // namespace
