// MIDI through the filters' pins from a user process: output frames in both formats reach the
// device in order, at their times and on their port's cable; malformed frames fail without a byte
// past them read; input fills raw MIDI and DirectMusic frames, SysEx across frames; stopping
// completes what a pin holds; a port table change and a surprise removal with open pins leave
// nothing behind.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "MidiPinFixture.h"
#include "ks/MidiPinStream.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using Platform::Ks::CompletedFrame;
using Platform::Ks::DirectMusicEvent;
using Platform::Ks::MidiRecordsOf;
using Platform::Ks::MusicRecord;
using Platform::Ks::PinHandle;

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

class MidiPinsTest : public MidiPinTest
{
protected:
    PinHandle* RunningPin(const std::u16string& reference, const GUID& category, ULONG pinId,
                          bool directMusic)
    {
        Platform::Ks::FilterHandle* filter = OpenFilter(category, reference);
        EXPECT_NE(filter, nullptr);
        if (filter == nullptr) {
            return nullptr;
        }
        PinHandle* pin = OpenPin(filter, pinId, directMusic);
        EXPECT_NE(pin, nullptr);
        if (pin != nullptr) {
            EXPECT_EQ(pin->WalkTo(KSSTATE_RUN), STATUS_SUCCESS);
        }
        return pin;
    }
    static MidiPinStream* StreamOf(PinHandle* pin) { return MidiPinOf(pin->Pin()); }
    // Closes what the test opened, lets the MIDI tick stop, and removes the device.
    void RemoveDevice()
    {
        pins_.clear();
        filters_.clear();
        Run(5ms);
        ASSERT_EQ(device->Send(Platform::Ks::PnpRequest::Remove), STATUS_SUCCESS);
        Platform::Kernel::RunPending();
    }
    // The first send starts the MIDI tick, whose pipes take a while to settle: a first note
    // gets it going so that the times the test gives are kept.
    void StartOutput(PinHandle* pin, bool directMusic, UCHAR cable)
    {
        const Bytes note = {0xB0, 0x7B, 0x00};
        pin->WriteAt(directMusic ? DirectMusicEvent(0, note) : MusicRecord(0, note), Now100ns());
        Run(15ms);
        EXPECT_EQ(
            TakeOutPackets(),
            (std::vector<Bytes>{{static_cast<uint8_t>(cable << 4 | 0x0B), 0xB0, 0x7B, 0x00}}));
        pin->Collect();
    }
};

}  // namespace

// Raw MIDI: each record at the frame's time plus its delta (records of one frame count from the
// one before), out on the output port's cable.
TEST_F(MidiPinsTest, RawOutputFramesReachTheCableAtTheirTimes)
{
    ASSERT_NE(PlugIn(TwoInThreeOut()), nullptr);
    PinHandle* pin = RunningPin(u"PORTCO", KSCATEGORY_RENDER, kMidiOutPinRaw, false);
    ASSERT_NE(pin, nullptr);
    StartOutput(pin, false, 2);
    const LONGLONG now = Now100ns();
    pin->WriteAt(MusicRecord(0, {0x90, 0x3C, 0x40}), now);
    pin->WriteAt(Join({MusicRecord(10, {0x91, 0x3E, 0x41}), MusicRecord(5, {0x81, 0x3E, 0x00})}),
                 now);
    Run(3ms);
    EXPECT_EQ(TakeOutPackets(), (std::vector<Bytes>{{0x29, 0x90, 0x3C, 0x40}}));
    Run(10ms);
    EXPECT_EQ(TakeOutPackets(), (std::vector<Bytes>{{0x29, 0x91, 0x3E, 0x41}}));
    Run(5ms);
    EXPECT_EQ(TakeOutPackets(), (std::vector<Bytes>{{0x28, 0x81, 0x3E, 0x00}}));
    const std::vector<CompletedFrame> done = pin->Collect();
    ASSERT_EQ(done.size(), 2u);
    for (const CompletedFrame& frame : done) {
        EXPECT_EQ(frame.status, STATUS_SUCCESS);
    }
    EXPECT_EQ(pin->OutOfOrderCompletions(), 0u);
}

// DirectMusic: a 3-byte event takes 24 bytes; events of one frame count from the frame's time. A
// SysEx record holds its frame until the codec has sent it.
TEST_F(MidiPinsTest, DirectMusicEventsOfAFrameGoOutInOrder)
{
    ASSERT_NE(PlugIn(TwoInThreeOut()), nullptr);
    PinHandle* pin = RunningPin(u"PORTA", KSCATEGORY_RENDER, kMidiOutPinDirectMusic, true);
    ASSERT_NE(pin, nullptr);
    StartOutput(pin, true, 0);
    const Bytes note = DirectMusicEvent(0, {0x90, 0x40, 0x7F});
    ASSERT_EQ(note.size(), 24u);
    const Bytes sysEx = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
    pin->WriteAt(Join({note, DirectMusicEvent(400000, {0x80, 0x40, 0x00}),
                       DirectMusicEvent(200000, sysEx, 1)}),
                 Now100ns());
    Run(3ms);
    EXPECT_EQ(TakeOutPackets(), (std::vector<Bytes>{{0x09, 0x90, 0x40, 0x7F}}));
    EXPECT_EQ(pin->PendingFrames(), 1u) << "the SysEx is not sent yet";
    Run(17ms);
    EXPECT_EQ(TakeOutPackets(),
              (std::vector<Bytes>{{0x04, 0xF0, 0x7E, 0x7F}, {0x07, 0x06, 0x01, 0xF7}}));
    EXPECT_EQ(pin->PendingFrames(), 1u) << "the note-off is still to go";
    Run(20ms);
    EXPECT_EQ(TakeOutPackets(), (std::vector<Bytes>{{0x08, 0x80, 0x40, 0x00}}));
    const std::vector<CompletedFrame> done = pin->Collect();
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].status, STATUS_SUCCESS);
    EXPECT_EQ(static_cast<MidiOutputPinStream*>(StreamOf(pin))->recordsSent, 4u);
}

// A record that would run past its frame is dropped and counted and its frame fails; nothing past
// the frame is read (the frames are exactly their bytes), and the next frame still goes out.
TEST_F(MidiPinsTest, RecordsPastTheirFrameFailTheFrame)
{
    struct BadFrame
    {
        const char* name;
        bool directMusic;
        Bytes bytes;
    };
    const auto rawHeader = [](uint32_t count) {
        Bytes bytes(8, 0);
        std::memcpy(bytes.data() + 4, &count, 4);
        return bytes;
    };
    const auto dmHeader = [](uint32_t count) {
        Bytes bytes(20, 0);
        std::memcpy(bytes.data(), &count, 4);
        return bytes;
    };
    const BadFrame cases[] = {
        {"RawByteCountPastTheFrame", false, Join({rawHeader(100), {0x90, 0x3C, 0x40, 0}})},
        {"RawByteCountOneTooMany", false, Join({rawHeader(5), {0x90, 0x3C, 0x40, 0}})},
        {"RawAfterAGoodRecord", false, Join({MusicRecord(0, {0xC0, 0x05}), rawHeader(0xFFFFFFFF)})},
        {"DirectMusicHugeCount", true, Join({dmHeader(0xFFFFFFF0), {0x90, 0x3C, 0x40, 0}})},
        {"DirectMusicCountOneTooMany", true, Join({dmHeader(5), {0x90, 0x3C, 0x40, 0}})},
    };
    for (const BadFrame& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(PlugIn(TwoInThreeOut()), nullptr);
        PinHandle* pin =
            RunningPin(u"PORTB", KSCATEGORY_RENDER,
                       c.directMusic ? kMidiOutPinDirectMusic : kMidiOutPinRaw, c.directMusic);
        ASSERT_NE(pin, nullptr);
        StartOutput(pin, c.directMusic, 1);
        pin->WriteAt(c.bytes, Now100ns());
        const Bytes good = c.directMusic ? DirectMusicEvent(0, {0x91, 0x3C, 0x40})
                                         : MusicRecord(0, {0x91, 0x3C, 0x40});
        pin->WriteAt(good, Now100ns());
        Run(5ms);
        const std::vector<CompletedFrame> done = pin->Collect();
        ASSERT_EQ(done.size(), 2u);
        EXPECT_EQ(done[0].status, STATUS_INVALID_PARAMETER);
        EXPECT_EQ(done[1].status, STATUS_SUCCESS);
        std::vector<Bytes> packets = TakeOutPackets();
        ASSERT_FALSE(packets.empty());
        EXPECT_EQ(packets.back(), (Bytes{0x19, 0x91, 0x3C, 0x40}));
        EXPECT_EQ(static_cast<MidiOutputPinStream*>(StreamOf(pin))->recordsDropped, 1u);
        RemoveDevice();
    }
}

// A note arrives in a raw MIDI frame stamped in ms from the run's start, and in a DirectMusic
// frame as a 24-byte event with the clock's time. The clock has run for seconds before, so a
// stamp counted from boot would not pass for one counted from the run's start.
// A running input pin's framing changes while its delivery is not under way: the change waits
// for the pin lock that a delivery pass holds, and the format is the new one after it.
TEST_F(MidiPinsTest, AFormatChangeOfARunningPinWaitsForItsDelivery)
{
    ASSERT_NE(PlugIn(TwoInThreeOut()), nullptr);
    PinHandle* pin = RunningPin(u"PORTB", KSCATEGORY_CAPTURE, kMidiPairPinInput, false);
    ASSERT_NE(pin, nullptr);
    MidiPinStream* stream = StreamOf(pin);
    ASSERT_EQ(stream->dataFormat, static_cast<ULONG>(kMidiDataRaw));
    KSDATAFORMAT format{};
    format.FormatSize = sizeof format;
    format.MajorFormat = KSDATAFORMAT_TYPE_MUSIC;
    format.SubFormat = KSDATAFORMAT_SUBTYPE_DIRECTMUSIC;
    format.Specifier = KSDATAFORMAT_SPECIFIER_NONE;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&format);
    const std::vector<uint8_t> data(bytes, bytes + sizeof format);

    KLOCK_QUEUE_HANDLE delivery;
    KeAcquireInStackQueuedSpinLock(&stream->pinLock, &delivery);
    std::atomic<bool> done{false};
    NTSTATUS status = STATUS_PENDING;
    std::thread changer([&] {
        status = pin->Handle()
                     .SetProperty(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_DATAFORMAT, data)
                     .status;
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const bool changedDuringDelivery = done.load();
    KeReleaseInStackQueuedSpinLock(&delivery);
    changer.join();
    EXPECT_FALSE(changedDuringDelivery) << "the framing changed under a delivery";
    EXPECT_EQ(status, STATUS_SUCCESS);
    EXPECT_EQ(stream->dataFormat, static_cast<ULONG>(kMidiDataDirectMusic));
}

TEST_F(MidiPinsTest, InputFillsRawAndDirectMusicFrames)
{
    for (const bool directMusic : {false, true}) {
        SCOPED_TRACE(directMusic ? "DirectMusic" : "raw");
        Run(3000ms);
        ASSERT_GE(Now100ns(), 3000 * 10000);
        ASSERT_NE(PlugIn(TwoInThreeOut()), nullptr);
        // The run starts the MIDI tick, whose pipes settle for a while first.
        const LONGLONG runStart = Now100ns();
        PinHandle* pin = RunningPin(u"PORTB", KSCATEGORY_CAPTURE, kMidiPairPinInput, directMusic);
        ASSERT_NE(pin, nullptr);
        for (int i = 0; i < 3; ++i) {
            pin->Read(64);
        }
        Run(12ms);
        QueueIn({0x19, 0x90, 0x3C, 0x40, 0x1C, 0xC1, 0x07, 0x00});
        Run(3ms);
        const std::vector<CompletedFrame> done = pin->Collect();
        ASSERT_EQ(done.size(), 2u);
        const auto first = MidiRecordsOf(done[0], directMusic);
        const auto second = MidiRecordsOf(done[1], directMusic);
        ASSERT_EQ(first.size(), 1u);
        ASSERT_EQ(second.size(), 1u);
        EXPECT_EQ(first[0].bytes, (Bytes{0x90, 0x3C, 0x40}));
        EXPECT_EQ(second[0].bytes, (Bytes{0xC1, 0x07}));
        if (directMusic) {
            EXPECT_EQ(done[0].header.DataUsed, 24u);
            EXPECT_EQ(first[0].flags, 0u);
            EXPECT_NE(done[0].header.OptionsFlags & KSSTREAM_HEADER_OPTIONSF_TIMEVALID, 0u);
        } else {
            EXPECT_EQ(done[0].header.DataUsed, 11u);
            EXPECT_GE(first[0].delta, 12);
            EXPECT_LE(first[0].delta, (Now100ns() - runStart) / 10000);
        }
        EXPECT_EQ(pin->PendingFrames(), 1u);
        RemoveDevice();
    }
}

// A SysEx longer than a frame arrives across frames, nothing lost, whether it reaches the pin
// directly or through the reader's FIFO (no frame waiting when it arrives).
TEST_F(MidiPinsTest, SysExLongerThanAFrameSpansFrames)
{
    Bytes sysEx = {0xF0};
    for (int i = 0; i < 100; ++i) {
        sysEx.push_back(static_cast<uint8_t>(i));
    }
    sysEx.push_back(0xF7);
    Bytes packets;
    for (size_t o = 0; o < sysEx.size(); o += 3) {
        const size_t left = sysEx.size() - o;
        const uint8_t cin = left > 3 ? 0x4 : static_cast<uint8_t>(0x4 + left);
        packets.push_back(static_cast<uint8_t>(0x10 | cin));
        for (size_t k = 0; k < 3; ++k) {
            packets.push_back(k < left ? sysEx[o + k] : 0);
        }
    }
    for (const bool directMusic : {false, true}) {
        for (const bool framesFirst : {true, false}) {
            SCOPED_TRACE(testing::Message() << directMusic << framesFirst);
            ASSERT_NE(PlugIn(TwoInThreeOut()), nullptr);
            PinHandle* pin =
                RunningPin(u"PORTB", KSCATEGORY_CAPTURE, kMidiPairPinInput, directMusic);
            ASSERT_NE(pin, nullptr);
            const auto read = [&] {
                for (int i = 0; i < 60; ++i) {
                    pin->Read(40);
                }
            };
            if (framesFirst) {
                read();
            }
            Run(2ms);
            QueueIn(packets);
            Run(5ms);
            if (!framesFirst) {
                read();
            }
            Run(20ms);
            Bytes received;
            for (const CompletedFrame& frame : pin->Collect()) {
                bool malformed = true;
                for (const auto& record : MidiRecordsOf(frame, directMusic, &malformed)) {
                    received.insert(received.end(), record.bytes.begin(), record.bytes.end());
                    if (directMusic) {
                        EXPECT_EQ(record.flags, 1u);
                    }
                }
                EXPECT_FALSE(malformed);
            }
            EXPECT_EQ(received, sysEx);
            RemoveDevice();
        }
    }
}

// An 8-byte raw frame cannot take a 3-byte message (11 bytes): the message is lost, the frame
// stays.
TEST_F(MidiPinsTest, AFrameTooSmallLosesTheMessage)
{
    ASSERT_NE(PlugIn(TwoInThreeOut()), nullptr);
    PinHandle* pin = RunningPin(u"PORTA", KSCATEGORY_CAPTURE, kMidiPairPinInput, false);
    ASSERT_NE(pin, nullptr);
    pin->Read(8);
    Run(2ms);
    QueueIn({0x09, 0x90, 0x3C, 0x40});
    Run(3ms);
    EXPECT_TRUE(pin->Collect().empty());
    EXPECT_EQ(pin->PendingFrames(), 1u);
    EXPECT_EQ(static_cast<MidiInputPinStream*>(StreamOf(pin))->messagesLost, 1u);
}

// Stopping completes every frame a pin holds: output frames waiting for the run, input frames
// waiting for data (empty), those beyond the clone limit too.
TEST_F(MidiPinsTest, StoppingAPinCompletesItsFrames)
{
    ASSERT_NE(PlugIn(TwoInThreeOut()), nullptr);
    Platform::Ks::FilterHandle* filter = OpenFilter(KSCATEGORY_AUDIO, u"PORTA");
    ASSERT_NE(filter, nullptr);
    PinHandle* output = OpenPin(filter, kMidiOutPinRaw, false);
    PinHandle* input = OpenPin(filter, kMidiPairPinInput, false);
    ASSERT_NE(output, nullptr);
    ASSERT_NE(input, nullptr);
    ASSERT_EQ(output->WalkTo(KSSTATE_PAUSE), STATUS_SUCCESS);
    ASSERT_EQ(input->WalkTo(KSSTATE_RUN), STATUS_SUCCESS);
    // More input frames than the pin holds as clones: the rest wait uncloned.
    constexpr size_t kInputFrames = kMidiInputMaxClones + 5;
    for (size_t i = 0; i < kInputFrames; ++i) {
        if (i < 3) {
            output->WriteAt(MusicRecord(0, {0x90, 0x3C, 0x40}), Now100ns());
        }
        input->Read(64);
    }
    Run(2ms);
    EXPECT_EQ(output->PendingFrames(), 3u);
    EXPECT_EQ(input->PendingFrames(), kInputFrames);
    ASSERT_EQ(output->WalkTo(KSSTATE_STOP), STATUS_SUCCESS);
    ASSERT_EQ(input->WalkTo(KSSTATE_STOP), STATUS_SUCCESS);
    const auto outDone = output->Collect();
    const auto inDone = input->Collect();
    EXPECT_EQ(outDone.size(), 3u);
    ASSERT_EQ(inDone.size(), kInputFrames);
    for (const CompletedFrame& frame : inDone) {
        EXPECT_EQ(frame.header.DataUsed, 0u);
    }
    Run(5ms);
    EXPECT_TRUE(TakeOutPackets().empty()) << "nothing of a stopped pin is sent";
}

// A surprise removal with pins running and frames queued completes every frame with
// STATUS_DEVICE_NOT_CONNECTED; closing and removing leaves no pool, work item or frame.
TEST_F(MidiPinsTest, SurpriseRemovalWithOpenPinsLeavesNothing)
{
    ASSERT_NE(PlugIn(TwoInThreeOut()), nullptr);
    PinHandle* output = RunningPin(u"PORTA", KSCATEGORY_RENDER, kMidiOutPinRaw, false);
    PinHandle* input = RunningPin(u"PORTB", KSCATEGORY_CAPTURE, kMidiPairPinInput, true);
    ASSERT_NE(output, nullptr);
    ASSERT_NE(input, nullptr);
    const Bytes sysEx = {0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0xF7};
    output->WriteAt(MusicRecord(0, sysEx), Now100ns() + 50000);
    for (int i = 0; i < 4; ++i) {
        input->Read(64);
    }
    QueueIn({0x19, 0x90, 0x3C, 0x40});
    ASSERT_EQ(device->Send(Platform::Ks::PnpRequest::SurpriseRemoval), STATUS_SUCCESS);
    Platform::Kernel::RunPending();
    EXPECT_EQ(output->WalkTo(KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(input->WalkTo(KSSTATE_STOP), STATUS_SUCCESS);
    const auto outDone = output->Collect();
    const auto inDone = input->Collect();
    EXPECT_EQ(outDone.size(), 1u);
    EXPECT_EQ(inDone.size(), 4u);
    for (const CompletedFrame& frame : outDone) {
        EXPECT_EQ(frame.status, STATUS_DEVICE_NOT_CONNECTED);
    }
    for (const CompletedFrame& frame : inDone) {
        EXPECT_EQ(frame.status, STATUS_DEVICE_NOT_CONNECTED);
    }
    EXPECT_EQ(output->PendingFrames(), 0u);
    EXPECT_EQ(input->PendingFrames(), 0u);
    pins_.clear();
    filters_.clear();
    ASSERT_EQ(device->Send(Platform::Ks::PnpRequest::Remove), STATUS_SUCCESS);
    Platform::Kernel::RunPending();
}

// A frame given to a running pin after a surprise removal fails at once: nothing will send or
// fill it, and the client must not wait for the close to hear so. A read frame held from before
// the removal fails with it.
TEST_F(MidiPinsTest, AFrameAfterSurpriseRemovalFailsAtOnce)
{
    ASSERT_NE(PlugIn(TwoInThreeOut()), nullptr);
    PinHandle* raw = RunningPin(u"PORTA", KSCATEGORY_RENDER, kMidiOutPinRaw, false);
    PinHandle* directMusic = RunningPin(u"PORTB", KSCATEGORY_RENDER, kMidiOutPinDirectMusic, true);
    PinHandle* input = RunningPin(u"PORTA", KSCATEGORY_CAPTURE, kMidiPairPinInput, false);
    ASSERT_NE(raw, nullptr);
    ASSERT_NE(directMusic, nullptr);
    ASSERT_NE(input, nullptr);
    input->Read(64);
    ASSERT_EQ(device->Send(Platform::Ks::PnpRequest::SurpriseRemoval), STATUS_SUCCESS);
    Platform::Kernel::RunPending();
    const Bytes note = {0x90, 0x3C, 0x40};
    raw->WriteAt(MusicRecord(0, note), Now100ns());
    directMusic->WriteAt(DirectMusicEvent(0, note), Now100ns());
    input->Read(64);
    for (PinHandle* pin : {raw, directMusic, input}) {
        const auto done = pin->Collect();
        ASSERT_EQ(done.size(), pin == input ? 2u : 1u);
        for (const CompletedFrame& frame : done) {
            EXPECT_EQ(frame.status, STATUS_DEVICE_NOT_CONNECTED);
            if (pin == input) {
                EXPECT_EQ(frame.header.DataUsed, 0u);
            }
        }
        EXPECT_EQ(pin->PendingFrames(), 0u);
    }
    pins_.clear();
    filters_.clear();
    ASSERT_EQ(device->Send(Platform::Ks::PnpRequest::Remove), STATUS_SUCCESS);
    Platform::Kernel::RunPending();
}

// A port table change while the pins are open (the tick idle) leaves them working on their ports
// once they run, and closing them leaves nothing.
TEST_F(MidiPinsTest, APortTableChangeWithOpenPinsKeepsThemWorking)
{
    ASSERT_NE(PlugIn(TwoInThreeOut()), nullptr);
    Platform::Ks::FilterHandle* filter = OpenFilter(KSCATEGORY_AUDIO, u"PORTB");
    ASSERT_NE(filter, nullptr);
    PinHandle* output = OpenPin(filter, kMidiOutPinRaw, false);
    PinHandle* input = OpenPin(filter, kMidiPairPinInput, false);
    ASSERT_NE(output, nullptr);
    ASSERT_NE(input, nullptr);
    ASSERT_EQ(output->WalkTo(KSSTATE_PAUSE), STATUS_SUCCESS);
    ASSERT_EQ(input->WalkTo(KSSTATE_PAUSE), STATUS_SUCCESS);
    MidiConfiguration table{};
    ASSERT_EQ(Context()->deviceModel->GetMidiPortInfo(&table), STATUS_SUCCESS);
    table.index = 1;
    ASSERT_GE(Context()->deviceModel->SetMidiConfiguration(&table), 0);
    EXPECT_EQ(Router()->Generation(), 1u);
    ASSERT_EQ(output->WalkTo(KSSTATE_RUN), STATUS_SUCCESS);
    ASSERT_EQ(input->WalkTo(KSSTATE_RUN), STATUS_SUCCESS);
    input->Read(64);
    Run(15ms);
    output->WriteAt(MusicRecord(0, {0x91, 0x3C, 0x40}), Now100ns());
    QueueIn({0x19, 0x90, 0x3C, 0x40});
    Run(5ms);
    EXPECT_EQ(TakeOutPackets(), (std::vector<Bytes>{{0x19, 0x91, 0x3C, 0x40}}));
    const auto received = input->Collect();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(MidiRecordsOf(received[0], false).at(0).bytes, (Bytes{0x90, 0x3C, 0x40}));
    EXPECT_EQ(output->Collect().size(), 1u);
    RemoveDevice();
}

// More frames than the pin holds as clones: those beyond the limit are taken as the first ones
// complete, and every note finds its frame.
TEST_F(MidiPinsTest, FramesBeyondTheCloneLimitAreFilledToo)
{
    ASSERT_NE(PlugIn(TwoInThreeOut()), nullptr);
    PinHandle* pin = RunningPin(u"PORTA", KSCATEGORY_CAPTURE, kMidiPairPinInput, false);
    ASSERT_NE(pin, nullptr);
    constexpr int kFrames = kMidiInputMaxClones + 40;
    for (int i = 0; i < kFrames; ++i) {
        pin->Read(16);
    }
    Run(12ms);
    Bytes packets;
    for (int i = 0; i < kFrames; ++i) {
        packets.insert(packets.end(), {0x09, 0x90, static_cast<uint8_t>(i % 128), 0x40});
    }
    QueueIn(packets);
    Run(40ms);
    const std::vector<CompletedFrame> done = pin->Collect();
    ASSERT_EQ(done.size(), static_cast<size_t>(kFrames));
    for (int i = 0; i < kFrames; ++i) {
        const auto records = MidiRecordsOf(done[i], false);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].bytes[1], i % 128);
    }
}
