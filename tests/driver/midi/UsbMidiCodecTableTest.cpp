// The USB-MIDI event codec both ways: a writer's byte stream into the event packets the device
// receives, and the device's event packets back into the bytes a reader gets.
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "MidiTestRig.h"
#include "midi/MidiBytes.h"
#include "midi/UsbMidiInput.h"

namespace {

using MidiTest::Bytes;
using MidiTest::MidiRigTest;

struct CodecRow
{
    const char* name;
    Bytes written;
    Bytes packets;  // wire bytes on cable 0
};

void PrintTo(const CodecRow& row, std::ostream* out)
{
    *out << row.name;
}

// The MIDI bytes the packets carry, in order: what a reader of the packets gets back.
Bytes CarriedBytes(const Bytes& packets)
{
    Bytes bytes;
    for (size_t at = 0; at + 4 <= packets.size(); at += 4) {
        const ULONG count = MidiBytesForCin(packets[at] & 0x0F);
        bytes.insert(bytes.end(), packets.begin() + at + 1, packets.begin() + at + 1 + count);
    }
    return bytes;
}

Bytes OnCable(Bytes packets, ULONG cable)
{
    for (size_t at = 0; at < packets.size(); at += 4) {
        packets[at] = static_cast<UCHAR>(cable << 4 | (packets[at] & 0x0F));
    }
    return packets;
}

Bytes ManyByteSysEx()
{
    Bytes bytes = {0xF0};
    for (UCHAR value = 0; value < 20; ++value) {
        bytes.push_back(value);
    }
    bytes.push_back(0xF7);
    return bytes;
}

Bytes ManyByteSysExPackets()
{
    const Bytes sysEx = ManyByteSysEx();  // 22 bytes: seven CIN 4 packets, then CIN 5
    Bytes packets;
    size_t at = 0;
    for (; at + 3 < sysEx.size(); at += 3) {
        packets.insert(packets.end(), {0x04, sysEx[at], sysEx[at + 1], sysEx[at + 2]});
    }
    packets.insert(packets.end(), {0x05, sysEx[at], 0, 0});
    return packets;
}

const CodecRow kRows[] = {
    {"NoteOff", {0x80, 0x40, 0x00}, {0x08, 0x80, 0x40, 0x00}},
    {"NoteOn", {0x91, 0x3C, 0x40}, {0x09, 0x91, 0x3C, 0x40}},
    {"PolyPressure", {0xA2, 0x3C, 0x10}, {0x0A, 0xA2, 0x3C, 0x10}},
    {"ControlChange", {0xB3, 0x07, 0x64}, {0x0B, 0xB3, 0x07, 0x64}},
    {"ProgramChange", {0xC4, 0x05}, {0x0C, 0xC4, 0x05, 0x00}},
    {"ChannelPressure", {0xD5, 0x30}, {0x0D, 0xD5, 0x30, 0x00}},
    {"PitchBend", {0xE6, 0x00, 0x40}, {0x0E, 0xE6, 0x00, 0x40}},
    {"TimeCode", {0xF1, 0x10}, {0x02, 0xF1, 0x10, 0x00}},
    {"SongPosition", {0xF2, 0x01, 0x02}, {0x03, 0xF2, 0x01, 0x02}},
    {"SongSelect", {0xF3, 0x05}, {0x02, 0xF3, 0x05, 0x00}},
    {"TuneRequest", {0xF6}, {0x05, 0xF6, 0x00, 0x00}},
    {"RealTimeBytes", {0xF8, 0xFA, 0xFB, 0xFC, 0xFE, 0xFF}, {0x0F, 0xF8, 0, 0, 0x0F, 0xFA, 0, 0,
                                                             0x0F, 0xFB, 0, 0, 0x0F, 0xFC, 0, 0,
                                                             0x0F, 0xFE, 0, 0, 0x0F, 0xFF, 0, 0}},
    {"RunningStatus",
     {0x90, 0x3C, 0x40, 0x3E, 0x40},
     {0x09, 0x90, 0x3C, 0x40, 0x09, 0x90, 0x3E, 0x40}},
    {"RunningStatusTwoByte", {0xC0, 0x01, 0x02}, {0x0C, 0xC0, 0x01, 0x00, 0x0C, 0xC0, 0x02, 0x00}},
    {"RealTimeBeforeData",
     {0x90, 0xF8, 0x3C, 0x40},
     {0x0F, 0xF8, 0x00, 0x00, 0x09, 0x90, 0x3C, 0x40}},
    {"RealTimeBetweenData",
     {0xF2, 0x01, 0xFE, 0x02},
     {0x0F, 0xFE, 0x00, 0x00, 0x03, 0xF2, 0x01, 0x02}},
    {"SysExNoData", {0xF0, 0xF7}, {0x06, 0xF0, 0xF7, 0x00}},
    {"SysExOneByte", {0xF0, 0x01, 0xF7}, {0x07, 0xF0, 0x01, 0xF7}},
    {"SysExTwoBytes", {0xF0, 0x01, 0x02, 0xF7}, {0x04, 0xF0, 0x01, 0x02, 0x05, 0xF7, 0x00, 0x00}},
    {"SysExThreeBytes",
     {0xF0, 0x01, 0x02, 0x03, 0xF7},
     {0x04, 0xF0, 0x01, 0x02, 0x06, 0x03, 0xF7, 0x00}},
    {"SysExFourBytes",
     {0xF0, 0x01, 0x02, 0x03, 0x04, 0xF7},
     {0x04, 0xF0, 0x01, 0x02, 0x07, 0x03, 0x04, 0xF7}},
    {"SysExFiveBytes",
     {0xF0, 0x01, 0x02, 0x03, 0x04, 0x05, 0xF7},
     {0x04, 0xF0, 0x01, 0x02, 0x04, 0x03, 0x04, 0x05, 0x05, 0xF7, 0x00, 0x00}},
    {"SysExManyBytes", ManyByteSysEx(), ManyByteSysExPackets()},
    {"RealTimeInsideSysEx",
     {0xF0, 0x01, 0xF8, 0x02, 0xF7},
     {0x0F, 0xF8, 0x00, 0x00, 0x04, 0xF0, 0x01, 0x02, 0x05, 0xF7, 0x00, 0x00}},
    {"SysExCutByStatus",
     {0xF0, 0x01, 0x02, 0x03, 0x90, 0x3C, 0x40},
     {0x04, 0xF0, 0x01, 0x02, 0x05, 0x03, 0x00, 0x00, 0x09, 0x90, 0x3C, 0x40}},
    {"SysExThenNote",
     {0xF0, 0x01, 0xF7, 0x80, 0x3C, 0x00},
     {0x07, 0xF0, 0x01, 0xF7, 0x08, 0x80, 0x3C, 0x00}},
    {"StrayDataByte", {0x3C}, {0x0F, 0x3C, 0x00, 0x00}},
    {"StrayDataAfterSysEx", {0xF0, 0xF7, 0x11}, {0x06, 0xF0, 0xF7, 0x00, 0x0F, 0x11, 0x00, 0x00}},
    {"EndByteAlone", {0xF7, 0x90, 0x3C, 0x40}, {0x09, 0x90, 0x3C, 0x40}},
    {"UndefinedF4WithData", {0xF4, 0x10, 0x20, 0x30, 0x80, 0x40, 0x00}, {0x08, 0x80, 0x40, 0x00}},
    {"UndefinedF5EndsRunningStatus",
     {0x90, 0x3C, 0x40, 0xF5, 0x3E, 0x40, 0xC1, 0x02},
     {0x09, 0x90, 0x3C, 0x40, 0x0C, 0xC1, 0x02, 0x00}},
    {"UndefinedF9InsideMessage", {0x90, 0x3C, 0xF9, 0x40}, {0x09, 0x90, 0x3C, 0x40}},
    {"UndefinedFDBetweenMessages",
     {0x90, 0x3C, 0x40, 0xFD, 0x3E, 0x40},
     {0x09, 0x90, 0x3C, 0x40, 0x09, 0x90, 0x3E, 0x40}},
    {"UndefinedCutsMessage", {0x90, 0x3C, 0xF4, 0x40, 0xF6}, {0x05, 0xF6, 0x00, 0x00}},
};

class UsbMidiCodecTableTest : public MidiRigTest, public ::testing::WithParamInterface<CodecRow>
{
};

TEST_P(UsbMidiCodecTableTest, WrittenBytesGiveExactlyTheseEventPackets)
{
    const CodecRow& row = GetParam();
    MidiTest::RecordingWriterOwner owner;
    MidiWriter* writer = rig->router->RegisterWriter(&owner, 1);
    ASSERT_NE(writer, nullptr);
    const Bytes buffer = row.written;
    ASSERT_GE(SubmitMidiPort(writer, 0, buffer.data(), static_cast<ULONG>(buffer.size())), 0);
    EXPECT_EQ(rig->Drain(1, 0), OnCable(row.packets, 1));
    EXPECT_TRUE(rig->Drain(0, 0).empty()) << "another port's queue got packets";
    rig->router->UnregisterWriter(writer);
}

TEST_P(UsbMidiCodecTableTest, EventPacketsGiveTheBytesBackToAReader)
{
    const CodecRow& row = GetParam();
    MidiTest::RecordingReaderOwner owner;
    MidiReader* reader = rig->router->RegisterReader(&owner, 2);
    ASSERT_NE(reader, nullptr);
    rig->router->SetClientOpen(reader, true);
    const Bytes transfer = OnCable(row.packets, 2);
    ASSERT_EQ(DeliverUsbMidiTransfer(rig->router, rig->table.record.index, 50000, transfer.data(),
                                     static_cast<ULONG>(transfer.size())),
              0);
    EXPECT_EQ(ReadAll(reader), CarriedBytes(row.packets));
    rig->router->UnregisterReader(reader);
}

INSTANTIATE_TEST_SUITE_P(Rows, UsbMidiCodecTableTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<CodecRow>& info) {
                             return std::string(info.param.name);
                         });

// A SysEx split over two writes continues in the second; a note sent to the same port meanwhile
// waits until the SysEx has ended.
TEST_F(MidiRigTest, SysExOverTwoWritesHoldsBackALaterNote)
{
    MidiTest::RecordingWriterOwner sysExOwner;
    MidiTest::RecordingWriterOwner noteOwner;
    MidiWriter* sysExWriter = rig->router->RegisterWriter(&sysExOwner, 0);
    MidiWriter* noteWriter = rig->router->RegisterWriter(&noteOwner, 0);
    const Bytes first = {0xF0, 0x01, 0x02, 0x03, 0x04};
    const Bytes note = {0x90, 0x3C, 0x40};
    const Bytes second = {0x05, 0x06, 0xF7};
    EXPECT_EQ(SubmitMidiPort(sysExWriter, 0, first.data(), 5), 1);
    EXPECT_EQ(SubmitMidiPort(noteWriter, 10, note.data(), 3), 0);
    EXPECT_EQ(rig->Drain(0, 100), (Bytes{0x04, 0xF0, 0x01, 0x02}));
    EXPECT_EQ(SubmitMidiPort(sysExWriter, 20, second.data(), 3), 1);
    EXPECT_EQ(rig->Drain(0, 100),
              (Bytes{0x04, 0x03, 0x04, 0x05, 0x06, 0x06, 0xF7, 0x00, 0x09, 0x90, 0x3C, 0x40}));
    // Both SysEx buffers went back to their writer once sent; the note was copied.
    EXPECT_EQ(sysExOwner.done, (std::vector<const UCHAR*>{first.data(), second.data()}));
    EXPECT_TRUE(noteOwner.done.empty());
    rig->router->UnregisterWriter(sysExWriter);
    rig->router->UnregisterWriter(noteWriter);
}

// Running status belongs to its writer: two writers on one port do not share it.
TEST_F(MidiRigTest, RunningStatusIsKeptPerWriter)
{
    MidiTest::RecordingWriterOwner owner;
    MidiWriter* first = rig->router->RegisterWriter(&owner, 0);
    MidiWriter* second = rig->router->RegisterWriter(&owner, 0);
    const Bytes noteOn = {0x90, 0x3C, 0x40};
    const Bytes data = {0x3E, 0x40};
    SubmitMidiPort(first, 0, noteOn.data(), 3);
    SubmitMidiPort(second, 1, data.data(), 2);
    SubmitMidiPort(first, 2, data.data(), 2);
    EXPECT_EQ(rig->Drain(0, 10), (Bytes{0x09, 0x90, 0x3C, 0x40, 0x0F, 0x3E, 0, 0, 0x0F, 0x40, 0, 0,
                                        0x09, 0x90, 0x3E, 0x40}));
    rig->router->UnregisterWriter(first);
    rig->router->UnregisterWriter(second);
}

}  // namespace
