// Four MIDI ports each way through the real engine, its tick and the USB-MIDI pipes, on a
// simulated device whose bulk endpoints NAK at random: writers send notes, SysEx of any length
// and real-time bytes at close to the wire rate (3125 bytes per second per port), and the device
// sends input on all four cables. Every byte arrives once and in its port's order; real-time
// bytes may go ahead of the others (the codec sends them first), in their own order.
// QUORVEL_MIDI_SOAK_SECONDS sets the virtual length (default 600).
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <vector>

#include "../common/SoakRun.h"
#include "MidiDeviceModel.h"
#include "midi/MidiBytes.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<UCHAR>;

// The wire bytes of one port, real-time bytes kept apart.
struct PortStream
{
    Bytes normal;
    Bytes realTime;

    void Add(UCHAR value) { (IsRealTimeByte(value) ? realTime : normal).push_back(value); }
};

// Keeps each written buffer until the codec is done with it.
class OwningWriterOwner final : public MidiWriterOwner
{
public:
    void BufferDone(MidiWriter*, const UCHAR* buffer) override { buffers.erase(buffer); }
    void PortTableChanged(MidiWriter*, ULONG) override {}

    std::map<const UCHAR*, std::unique_ptr<Bytes>> buffers;
};

class SplittingReaderOwner final : public MidiReaderOwner
{
public:
    LONG Deliver(MidiReader*, LONGLONG, const UCHAR* bytes, ULONG count, bool) override
    {
        for (ULONG i = 0; i < count; ++i) {
            stream.Add(bytes[i]);
        }
        return 0;
    }
    void DataAvailable(MidiReader*) override {}
    void PortTableChanged(MidiReader*, ULONG) override {}

    PortStream stream;
};

struct Message
{
    Bytes written;
    Bytes wire;  // what the device receives of it, real-time bytes left out
};

// A random message of the kinds writers send, about 6 bytes on average.
Message RandomOutput(std::mt19937& random)
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

// One input message as the device sends it on a cable: its event packets and its bytes.
void AddRandomInput(std::mt19937& random, UCHAR cable, Bytes* packets, PortStream* expected)
{
    const UCHAR head = static_cast<UCHAR>(cable << 4);
    const UCHAR value = static_cast<UCHAR>(random() & 0x7F);
    Bytes bytes;
    switch (random() % 4) {
        case 0:
            *packets = {static_cast<UCHAR>(head | 0x0F), 0xF8, 0, 0};
            bytes = {0xF8};
            break;
        case 1:
            *packets = {static_cast<UCHAR>(head | 0x0C), 0xC1, value, 0};
            bytes = {0xC1, value};
            break;
        case 2:
            // F0 v 1 | 2 3 F7: a SysEx start and an end with three bytes.
            *packets = {static_cast<UCHAR>(head | 0x04), 0xF0, value, 0x01,
                        static_cast<UCHAR>(head | 0x07), 0x02, 0x03,  0xF7};
            bytes = {0xF0, value, 0x01, 0x02, 0x03, 0xF7};
            break;
        default:
            *packets = {static_cast<UCHAR>(head | 0x09), 0x92, value, 0x40};
            bytes = {0x92, value, 0x40};
            break;
    }
    for (UCHAR b : bytes) {
        expected->Add(b);
    }
}

void ParseOutPackets(const Bytes& received, PortStream* ports)
{
    ASSERT_EQ(received.size() % 4, 0u);
    for (size_t at = 0; at < received.size(); at += 4) {
        const ULONG cable = received[at] >> 4;
        ASSERT_LT(cable, kMidiModelPorts);
        const ULONG count = MidiBytesForCin(received[at] & 0x0F);
        for (ULONG i = 0; i < count; ++i) {
            ports[cable].Add(received[at + 1 + i]);
        }
    }
}

class MidiPipesSoakTest : public MidiDeviceFixture
{
};

TEST_F(MidiPipesSoakTest, FourPortsEachWayLoseAndDuplicateNothingWhileTheEndpointsNak)
{
    ASSERT_NE(PlugInMidi(MidiVariant()), nullptr);
    UsbDevice().NakBulkAtRandom(kMidiOutEndpoint, 25, 11);
    UsbDevice().NakBulkAtRandom(kMidiInEndpoint, 25, 12);
    std::mt19937 random(24);
    OwningWriterOwner writerOwners[kMidiModelPorts];
    SplittingReaderOwner readerOwners[kMidiModelPorts];
    MidiWriter* writers[kMidiModelPorts] = {};
    MidiReader* readers[kMidiModelPorts] = {};
    for (ULONG port = 0; port < kMidiModelPorts; ++port) {
        writers[port] = Router()->RegisterWriter(&writerOwners[port], port);
        readers[port] = Router()->RegisterReader(&readerOwners[port], port);
        ASSERT_NE(writers[port], nullptr);
        ASSERT_NE(readers[port], nullptr);
        Router()->SetClientOpen(readers[port], true);
    }
    PortStream written[kMidiModelPorts];
    PortStream sent[kMidiModelPorts];
    PortStream received[kMidiModelPorts];
    const LONGLONG milliseconds = SoakRun::Seconds("QUORVEL_MIDI_SOAK_SECONDS", 600) * 1000LL;
    for (LONGLONG ms = 0; ms < milliseconds + 2000; ++ms) {
        for (ULONG port = 0; ms < milliseconds && port < kMidiModelPorts; ++port) {
            // About 2.5 bytes per millisecond: below the wire rate, with bursts above it.
            if (random() % 12 < 5) {
                Message message = RandomOutput(random);
                for (UCHAR value : message.written) {
                    if (IsRealTimeByte(value)) {
                        written[port].realTime.push_back(value);
                    }
                }
                written[port].normal.insert(written[port].normal.end(), message.wire.begin(),
                                            message.wire.end());
                auto owned = std::make_unique<Bytes>(std::move(message.written));
                const UCHAR* data = owned->data();
                const auto length = static_cast<ULONG>(owned->size());
                writerOwners[port].buffers[data] = std::move(owned);
                const LONG answer = SubmitMidiPort(writers[port], Now100ns(), data, length);
                ASSERT_GE(answer, 0);
                if (answer == 0) {
                    writerOwners[port].buffers.erase(data);
                }
            }
        }
        if (ms < milliseconds && random() % 3 == 0) {
            Bytes packets;
            const auto cable = static_cast<UCHAR>(random() % kMidiModelPorts);
            AddRandomInput(random, cable, &packets, &sent[cable]);
            UsbDevice().QueueBulkIn(kMidiInEndpoint, std::move(packets));
        }
        Run(1ms);
        if (ms % 1000 == 999) {
            ParseOutPackets(UsbDevice().TakeBulkReceived(kMidiOutEndpoint), received);
        }
    }
    ParseOutPackets(UsbDevice().TakeBulkReceived(kMidiOutEndpoint), received);
    EXPECT_GT(UsbDevice().BulkNaks(kMidiOutEndpoint), 0u);
    EXPECT_GT(UsbDevice().BulkNaks(kMidiInEndpoint), 0u);
    EXPECT_EQ(Pipes()->FailedReads(), 0u);
    EXPECT_EQ(Pipes()->FailedWrites(), 0u);
    for (ULONG port = 0; port < kMidiModelPorts; ++port) {
        SCOPED_TRACE(port);
        EXPECT_EQ(received[port].normal, written[port].normal);
        EXPECT_EQ(received[port].realTime, written[port].realTime);
        EXPECT_TRUE(writerOwners[port].buffers.empty()) << "every buffer came back";
        EXPECT_EQ(readerOwners[port].stream.normal, sent[port].normal);
        EXPECT_EQ(readerOwners[port].stream.realTime, sent[port].realTime);
        Router()->UnregisterWriter(writers[port]);
        Router()->UnregisterReader(readers[port]);
    }
    Run(2ms);
    EXPECT_EQ(TickState(), kTickStopped);
    EXPECT_EQ(Bus().PendingRequests(), 0u);
}

}  // namespace
