// MIDI through the filters' pins for a long run of virtual time, on the test model's two input
// and three output ports (3125 bytes per second each): a user process writes notes, program
// changes, SysEx and real-time bytes in raw MIDI and DirectMusic frames to the three outputs, and
// the device sends notes, program changes and SysEx on both inputs, read through a raw MIDI and a
// DirectMusic input pin. Every byte arrives once and in its port's order; real-time bytes may go
// ahead of the others (the codec sends them first), in their own order.
// QUORVEL_MIDI_PIN_SOAK_SECONDS sets the virtual length (default 20; 600 is the full run).
#include <gtest/gtest.h>

#include <array>
#include <span>

#include "../common/SoakRun.h"
#include "MidiPinFixture.h"
#include "midi/MidiBytes.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using Platform::Ks::CompletedFrame;
using Platform::Ks::PinHandle;

// SplitMix64: well-mixed draws for a few instructions each (ten minutes draw tens of millions).
class Draws
{
public:
    explicit Draws(uint64_t seed) : state_(seed) {}
    uint32_t operator()()
    {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<uint32_t>((z ^ (z >> 31)) >> 32);
    }

private:
    uint64_t state_;
};

// One message, in place: ten minutes make millions of them.
struct Message
{
    std::array<uint8_t, 50> bytes;  // a SysEx of up to 48 data bytes with its start and end
    size_t size = 0;

    void Push(uint8_t value) { bytes[size++] = value; }
    std::span<const uint8_t> Span() const { return {bytes.data(), size}; }
};

struct PortStream
{
    Bytes normal;
    Bytes realTime;

    void Add(uint8_t value) { (IsRealTimeByte(value) ? realTime : normal).push_back(value); }
    void Add(std::span<const uint8_t> bytes)
    {
        for (uint8_t b : bytes) {
            Add(b);
        }
    }
};

// One message of a port's stream: a note, a program change, a SysEx or (output only) a clock.
Message NextMessage(Draws& random, bool realTime)
{
    Message message;
    const uint32_t pick = random() % 100;
    if (realTime && pick < 5) {
        message.Push(0xF8);
        return message;
    }
    if (pick < 12) {
        message.Push(0xF0);
        const uint32_t length = 1 + random() % 48;
        for (uint32_t i = 0; i < length; ++i) {
            message.Push(static_cast<uint8_t>(random() % 0x80));
        }
        message.Push(0xF7);
        return message;
    }
    if (pick < 30) {
        message.Push(static_cast<uint8_t>(0xC0 | random() % 16));
        message.Push(static_cast<uint8_t>(random() % 0x80));
        return message;
    }
    // One draw per byte, in order.
    message.Push(static_cast<uint8_t>(0x90 | random() % 16));
    message.Push(static_cast<uint8_t>(random() % 0x80));
    message.Push(static_cast<uint8_t>(random() % 0x80));
    return message;
}

// Appends the message as USB-MIDI event packets on a cable.
void AppendPackets(Bytes& packets, const Message& message, uint8_t cable)
{
    const uint8_t head = static_cast<uint8_t>(cable << 4);
    if (message.bytes[0] == 0xF0) {
        for (size_t o = 0; o < message.size; o += 3) {
            const size_t left = message.size - o;
            const uint8_t cin = left > 3 ? 0x4 : static_cast<uint8_t>(0x4 + left);
            packets.push_back(head | cin);
            for (size_t k = 0; k < 3; ++k) {
                packets.push_back(k < left ? message.bytes[o + k] : 0);
            }
        }
        return;
    }
    packets.push_back(head | static_cast<uint8_t>(message.bytes[0] >> 4));
    for (size_t k = 0; k < 3; ++k) {
        packets.push_back(k < message.size ? message.bytes[k] : 0);
    }
}

struct OutputPort
{
    PinHandle* pin;
    bool directMusic;
    uint8_t cable;
    PortStream sent;
    PortStream received;
};

struct InputPort
{
    PinHandle* pin;
    bool directMusic;
    uint8_t cable;
    Bytes sent;
    Bytes received;
};

class MidiPinSoak : public MidiPinTest
{
protected:
    PinHandle* Running(const std::u16string& reference, ULONG pinId, bool directMusic)
    {
        Platform::Ks::FilterHandle* filter = OpenFilter(KSCATEGORY_AUDIO, reference);
        EXPECT_NE(filter, nullptr);
        PinHandle* pin = filter != nullptr ? OpenPin(filter, pinId, directMusic) : nullptr;
        EXPECT_NE(pin, nullptr);
        if (pin != nullptr) {
            EXPECT_EQ(pin->WalkTo(KSSTATE_RUN), STATUS_SUCCESS);
        }
        return pin;
    }

    // One frame of 10 ms of a port's messages, each record 0 to 2 ms after the one before.
    void WriteFrame(OutputPort& port, Draws& random)
    {
        frame_.clear();
        int64_t at = 0;
        for (int n = 0; n < 3; ++n) {
            const Message message = NextMessage(random, true);
            const uint32_t gap = random() % 3;
            at += gap;
            port.sent.Add(message.Span());
            if (port.directMusic) {
                Platform::Ks::AppendDirectMusicEvent(frame_, at * 10000, message.Span(),
                                                     message.bytes[0] == 0xF0 ? 1 : 0);
            } else {
                Platform::Ks::AppendMusicRecord(frame_, gap, message.Span());
            }
        }
        port.pin->WriteAt(frame_, Now100ns());
    }

    // What reached the device, as 4-byte event packets, to the ports of their cables.
    void TakeOutput(std::vector<OutputPort>& ports)
    {
        const Bytes bytes = UsbDevice().TakeBulkReceived(kPinMidiOutEndpoint);
        for (size_t o = 0; o + 4 <= bytes.size(); o += 4) {
            const uint8_t* packet = bytes.data() + o;
            const uint8_t cable = packet[0] >> 4;
            for (OutputPort& port : ports) {
                if (port.cable == cable) {
                    for (ULONG k = 0; k < MidiBytesForCin(packet[0]); ++k) {
                        port.received.Add(packet[1 + k]);
                    }
                }
            }
        }
        for (OutputPort& port : ports) {
            for (const CompletedFrame& frame : port.pin->Collect()) {
                EXPECT_EQ(frame.status, STATUS_SUCCESS);
            }
        }
    }

    // Collects the input pin's frames and gives it up to `frames` new ones.
    void TakeInput(InputPort& port, size_t frames = 16)
    {
        for (const CompletedFrame& frame : port.pin->Collect()) {
            EXPECT_EQ(frame.status, STATUS_SUCCESS);
            const bool malformed = Platform::Ks::VisitMidiRecords(
                frame, port.directMusic,
                [](void* received, const Platform::Ks::MidiFrameRecordView& record) {
                    auto* bytes = static_cast<Bytes*>(received);
                    bytes->insert(bytes->end(), record.bytes.begin(), record.bytes.end());
                },
                &port.received);
            EXPECT_FALSE(malformed);
        }
        while (port.pin->PendingFrames() < frames) {
            port.pin->Read(64);
        }
    }

private:
    Bytes frame_;  // the output frame being built, kept for its capacity
};

TEST_F(MidiPinSoak, EveryByteArrivesOnceAndInOrder)
{
    const int seconds = SoakRun::Seconds("QUORVEL_MIDI_PIN_SOAK_SECONDS", 20);
    ASSERT_NE(PlugIn(TwoInThreeOut()), nullptr);
    std::vector<OutputPort> outputs = {
        {Running(u"PORTA", kMidiOutPinRaw, false), false, 0, {}, {}},
        {Running(u"PORTB", kMidiOutPinDirectMusic, true), true, 1, {}, {}},
        {Running(u"PORTCO", kMidiOutPinRaw, false), false, 2, {}, {}},
    };
    std::vector<InputPort> inputs = {
        {Running(u"PORTA", kMidiPairPinInput, false), false, 0, {}, {}},
        {Running(u"PORTB", kMidiPairPinInput, true), true, 1, {}, {}},
    };
    for (const OutputPort& port : outputs) {
        ASSERT_NE(port.pin, nullptr);
    }
    for (InputPort& port : inputs) {
        ASSERT_NE(port.pin, nullptr);
        TakeInput(port);
    }
    Draws random(181);
    const int steps = seconds * 100;
    Bytes packets;
    for (int step = 0; step < steps; ++step) {
        for (OutputPort& port : outputs) {
            WriteFrame(port, random);
        }
        packets.clear();
        for (InputPort& port : inputs) {
            for (int n = 0; n < 2; ++n) {
                const Message message = NextMessage(random, false);
                port.sent.insert(port.sent.end(), message.bytes.begin(),
                                 message.bytes.begin() + static_cast<long>(message.size));
                AppendPackets(packets, message, port.cable);
            }
        }
        QueueIn(packets);
        Run(10ms);
        TakeOutput(outputs);
        // Now and then the input pins run out of frames for 100 ms: the input waits in the
        // readers' FIFOs and goes out through delivery passes once frames come.
        const size_t frames = step / 10 % 7 == 3 ? 0 : 16;
        for (InputPort& port : inputs) {
            TakeInput(port, frames);
        }
        if (HasFailure()) {
            break;
        }
    }
    for (int settle = 0; settle < 100; ++settle) {
        Run(10ms);
        TakeOutput(outputs);
        for (InputPort& port : inputs) {
            TakeInput(port);
        }
    }
    for (const OutputPort& port : outputs) {
        SCOPED_TRACE(testing::Message() << "output cable " << int(port.cable));
        EXPECT_GT(port.sent.normal.size(), static_cast<size_t>(seconds) * 1000);
        EXPECT_EQ(port.received.normal.size(), port.sent.normal.size());
        EXPECT_TRUE(port.received.normal == port.sent.normal);
        EXPECT_TRUE(port.received.realTime == port.sent.realTime);
    }
    for (const InputPort& port : inputs) {
        SCOPED_TRACE(testing::Message() << "input cable " << int(port.cable));
        EXPECT_GT(port.sent.size(), static_cast<size_t>(seconds) * 500);
        EXPECT_EQ(port.received.size(), port.sent.size());
        EXPECT_TRUE(port.received == port.sent);
    }
    RecordProperty("VirtualSeconds", seconds);
}

}  // namespace
