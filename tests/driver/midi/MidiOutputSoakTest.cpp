// Four output ports at the MIDI wire rate (3125 bytes per second each) for many virtual minutes:
// writers send notes, SysEx of any length and real-time bytes; the tick runs every millisecond
// into a 64-byte OUT pipe whose transfers complete after random delays (the endpoint NAKs). Every
// byte goes out once and in its port's order; real-time bytes may go ahead, in their own order.
// QUORVEL_MIDI_SOAK_SECONDS sets the virtual length (default 600).
#include <cstdlib>
#include <deque>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "../common/SoakRun.h"
#include "MidiTestRig.h"
#include "midi/MidiBytes.h"
#include "midi/MidiOutTransfer.h"
#include "midi/MidiOutputTick.h"

namespace {

using MidiTest::Bytes;
using MidiTest::kRigPorts;
using MidiTest::MidiRigTest;
using MidiTest::RecordingWriterOwner;

class NakingPipe : public MidiOutSink
{
public:
    explicit NakingPipe(std::mt19937* random) : random(random), buffer(64)
    {
        transfer = {buffer.data(), 64, 0};
    }
    LONG PutMidiOutPacket(const UsbMidiPacket* packet, ULONG port) override
    {
        if (AppendMidiOutPacket(&transfer, packet, port)) {
            Send();
            return 1;
        }
        return 0;
    }
    ULONG PendingOutTransfers() override { return static_cast<ULONG>(inFlight.size()); }
    void FlushMidiOut() override
    {
        if (transfer.byteCount > 0) {
            Send();
        }
    }
    // One millisecond of the bus: the oldest transfer completes unless the endpoint NAKs.
    void Millisecond()
    {
        if (!inFlight.empty() && (*random)() % 4 != 0) {
            const Bytes& done = inFlight.front();
            for (size_t at = 0; at < done.size(); at += 4) {
                const ULONG port = done[at] >> 4;
                const ULONG count = MidiBytesForCin(done[at] & 0x0F);
                for (ULONG i = 0; i < count; ++i) {
                    const UCHAR value = done[at + 1 + i];
                    (IsRealTimeByte(value) ? realTime : normal)[port].push_back(value);
                }
            }
            inFlight.pop_front();
        }
    }

    Bytes normal[kRigPorts];
    Bytes realTime[kRigPorts];

private:
    void Send()
    {
        if (inFlight.size() >= kMaxPendingMidiOutTransfers) {
            ADD_FAILURE() << "more than " << kMaxPendingMidiOutTransfers << " transfers in flight";
        }
        inFlight.emplace_back(buffer.begin(), buffer.begin() + transfer.byteCount);
        transfer.byteCount = 0;
    }

    std::mt19937* random;
    Bytes buffer;
    MidiOutTransfer transfer;
    std::deque<Bytes> inFlight;
};

LONGLONG SoakSeconds()
{
    return SoakRun::Seconds("QUORVEL_MIDI_SOAK_SECONDS", 600);
}

struct Message
{
    Bytes written;
    Bytes wire;  // what the device receives of it, real-time bytes left out
};

// A random message of the kinds writers send, about 6 bytes on average.
Message RandomMessage(std::mt19937& random)
{
    const UCHAR value = static_cast<UCHAR>(random() & 0x7F);
    switch (random() % 8) {
        case 0: {
            Bytes sysEx = {0xF0};
            const size_t length = random() % 24;
            for (size_t i = 0; i < length; ++i) {
                sysEx.push_back(static_cast<UCHAR>(random() & 0x7F));
            }
            sysEx.push_back(0xF7);
            return {sysEx, sysEx};
        }
        case 1:
            return {{0xF8}, {}};
        case 2:
            return {{0xC3, value}, {0xC3, value}};
        case 3:
            // Running status around a real-time byte; the wire carries the status again.
            return {{0x90, value, 0x40, 0xFE, value, 0x00}, {0x90, value, 0x40, 0x90, value, 0x00}};
        default:
            return {{0x80, value, 0x10}, {0x80, value, 0x10}};
    }
}

TEST_F(MidiRigTest, FourPortsAtTheWireRateLoseAndDuplicateNothing)
{
    std::mt19937 random(24);
    NakingPipe pipe(&random);
    MidiPortThrottle throttles[kRigPorts] = {};
    for (MidiPortThrottle& throttle : throttles) {
        SetMidiPortThrottle(&throttle, 3125);
    }
    MidiOutputPorts ports = {throttles, kRigPorts, kRigPorts - 1};
    RecordingWriterOwner owners[kRigPorts];
    MidiWriter* writers[kRigPorts] = {};
    std::deque<Bytes> writes[kRigPorts];  // kept until the end: the codec points into them
    Bytes normal[kRigPorts];
    Bytes realTime[kRigPorts];
    size_t kept[kRigPorts] = {};
    for (ULONG port = 0; port < kRigPorts; ++port) {
        writers[port] = rig->router->RegisterWriter(&owners[port], port);
    }
    const LONGLONG milliseconds = SoakSeconds() * 1000;
    for (LONGLONG ms = 0; ms < milliseconds + 2000; ++ms) {
        const LONGLONG now = ms * 10000;
        for (ULONG port = 0; port < kRigPorts; ++port) {
            // About 2.5 bytes per millisecond: below the wire rate, with bursts above it.
            if (ms < milliseconds && random() % 12 < 5) {
                const Message message = RandomMessage(random);
                writes[port].push_back(message.written);
                const Bytes& bytes = writes[port].back();
                normal[port].insert(normal[port].end(), message.wire.begin(), message.wire.end());
                const LONG answer = SubmitMidiPort(writers[port], now, bytes.data(),
                                                   static_cast<ULONG>(bytes.size()));
                ASSERT_GE(answer, 0);
                kept[port] += static_cast<size_t>(answer);
                for (UCHAR value : bytes) {
                    if (IsRealTimeByte(value)) {
                        realTime[port].push_back(value);
                    }
                }
            }
        }
        RunMidiOutputTick(&ports, rig->codec, rig->router, now, &pipe);
        pipe.Millisecond();
    }
    for (ULONG port = 0; port < kRigPorts; ++port) {
        EXPECT_EQ(pipe.normal[port], normal[port]) << "port " << port;
        EXPECT_EQ(pipe.realTime[port], realTime[port]) << "port " << port;
        EXPECT_EQ(owners[port].done.size(), kept[port]) << "port " << port;
        rig->router->UnregisterWriter(writers[port]);
    }
}

}  // namespace
