// A control handle's private MIDI ports on the simulated device: ports are counted and opened
// by their number among the private ones, writes go out on their port's cable and hand their
// buffer back by inverting its first byte, reads pend until a message comes or the port closes,
// and a change of the port table closes every port of every handle.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ControlTestDevice.h"
#include "midi/MidiRouter.h"
#include "midi/UsbMidiCodec.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<UCHAR>;

class ControlMidiTest : public ControlClientFixture
{
protected:
    void SetUp() override
    {
        ControlClientFixture::SetUp();
        PlugIn();
    }
    UCHAR* UserBytes(const Bytes& bytes)
    {
        auto* memory = static_cast<UCHAR*>(process.Allocate(bytes.size()));
        std::memcpy(memory, bytes.data(), bytes.size());
        return memory;
    }
    static Bytes SysEx(size_t length)
    {
        Bytes bytes(length, 0x11);
        bytes.front() = 0xF0;
        bytes.back() = 0xF7;
        return bytes;
    }
    NTSTATUS Read(CallerRequest& request, ControlClient* client, ULONG port, PVOID buffer,
                  ULONG length, ControlMidiReadResult* result)
    {
        return request.Dispatch(
            [&](PIRP irp) { return client->ReadMidi(irp, port, buffer, length, result); });
    }
    MidiRouter* Router() { return Context()->midiRouter; }
};

TEST_F(ControlMidiTest, PrivatePortsAreCountedAndOpenedByTheirNumber)
{
    ControlClient* client = OpenClient();
    EXPECT_EQ(client->GetOutputPortCount(), 2u);
    EXPECT_EQ(client->GetInputPortCount(), 2u);
    EXPECT_EQ(client->OpenOutputPort(1), STATUS_SUCCESS);
    EXPECT_EQ(client->OpenOutputPort(1), STATUS_UNSUCCESSFUL) << "already open";
    EXPECT_EQ(client->OpenOutputPort(2), STATUS_UNSUCCESSFUL) << "no third private port";
    EXPECT_EQ(client->OpenInputPort(0), STATUS_SUCCESS);
    EXPECT_EQ(client->GetOpenOutputMask(), 0x2u);
    EXPECT_EQ(client->GetOpenInputMask(), 0x1u);
    EXPECT_EQ(client->GetInputDataMask(), 0u);
    EXPECT_EQ(client->CloseOutputPort(1), STATUS_SUCCESS);
    EXPECT_EQ(client->CloseOutputPort(1), STATUS_SUCCESS) << "closing a closed port succeeds";
    EXPECT_EQ(client->CloseAllPorts(), STATUS_SUCCESS);
    EXPECT_EQ(client->GetOpenOutputMask(), 0u);
    EXPECT_EQ(client->GetOpenInputMask(), 0u);
}

// A short message is sent at once: its buffer comes back before the call returns. A SysEx is
// kept by the sender until the wire took it.
TEST_F(ControlMidiTest, WritesGoOutOnTheirCableAndComeBackInverted)
{
    ControlClient* client = OpenClient();
    HANDLE event = process.CreateEvent(false, false);
    ASSERT_EQ(client->SetMidiEvent(event), STATUS_SUCCESS);
    ASSERT_EQ(client->OpenOutputPort(1), STATUS_SUCCESS);
    UCHAR* note = UserBytes({0x90, 0x3C, 0x40});
    ASSERT_EQ(client->WriteMidi(1, note, 3, UserMode), STATUS_SUCCESS);
    EXPECT_EQ(note[0], static_cast<UCHAR>(~0x90)) << "handed back at once";
    const Bytes sysex = SysEx(40);
    UCHAR* long_ = UserBytes(sysex);
    ASSERT_EQ(client->WriteMidi(1, long_, 40, UserMode), STATUS_SUCCESS);
    EXPECT_EQ(long_[0], 0xF0) << "the sender still holds it";
    Run(100ms);
    EXPECT_EQ(long_[0], static_cast<UCHAR>(~0xF0));
    EXPECT_TRUE(process.ConsumeEvent(event)) << "a finished buffer signals the MIDI event";
    const Bytes received = UsbDevice().BulkReceived(kControlMidiOutEndpoint);
    ASSERT_GE(received.size(), 4u);
    EXPECT_EQ(Bytes(received.begin(), received.begin() + 4), (Bytes{0x39, 0x90, 0x3C, 0x40}))
        << "private output port 1 is cable 3";
    EXPECT_EQ(received.size(), 4u + 4u * ((40 + 2) / 3)) << "the SysEx went out whole";
}

TEST_F(ControlMidiTest, AReadPendsUntilAMessageArrives)
{
    ControlClient* client = OpenClient();
    HANDLE event = process.CreateEvent(false, false);
    ASSERT_EQ(client->SetMidiEvent(event), STATUS_SUCCESS);
    ASSERT_EQ(client->OpenInputPort(0), STATUS_SUCCESS);
    auto* buffer = static_cast<UCHAR*>(process.Allocate(64));
    ControlMidiReadResult result{};
    CallerRequest request;
    ASSERT_EQ(Read(request, client, 0, buffer, 64, &result), STATUS_PENDING);
    CallerRequest second;
    ControlMidiReadResult secondResult{};
    EXPECT_EQ(Read(second, client, 0, buffer, 64, &secondResult), STATUS_UNSUCCESSFUL)
        << "one read per port";
    Run(5ms);
    EXPECT_FALSE(request.Completed());
    UsbDevice().QueueBulkIn(kControlMidiInEndpoint, {0x19, 0x90, 0x3C, 0x40});
    Run(5ms);
    ASSERT_TRUE(request.Completed());
    EXPECT_EQ(request.Status(), STATUS_SUCCESS);
    EXPECT_EQ(request.Information(), sizeof(ControlMidiReadResult));
    EXPECT_EQ(result.bytes, 3u);
    EXPECT_EQ(result.kind, 1u);
    EXPECT_GT(result.time, 0u);
    EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{0x90, 0x3C, 0x40}));
    EXPECT_TRUE(process.ConsumeEvent(event));

    // A message already waiting is read at once.
    UsbDevice().QueueBulkIn(kControlMidiInEndpoint, {0x1B, 0xB0, 0x07, 0x64});
    Run(5ms);
    EXPECT_EQ(client->GetInputDataMask(), 0x1u);
    CallerRequest third;
    ASSERT_EQ(Read(third, client, 0, buffer, 64, &result), STATUS_SUCCESS);
    EXPECT_EQ(result.bytes, 3u);
    EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{0xB0, 0x07, 0x64}));
    EXPECT_EQ(client->GetInputDataMask(), 0u);
}

TEST_F(ControlMidiTest, ClosingAPortCompletesItsPendingReadWithNoData)
{
    ControlClient* client = OpenClient();
    ASSERT_EQ(client->OpenInputPort(1), STATUS_SUCCESS);
    auto* buffer = static_cast<UCHAR*>(process.Allocate(16));
    ControlMidiReadResult result{};
    CallerRequest request;
    ASSERT_EQ(Read(request, client, 1, buffer, 16, &result), STATUS_PENDING);
    EXPECT_EQ(client->CloseInputPort(1), STATUS_SUCCESS);
    ASSERT_TRUE(request.Completed());
    EXPECT_EQ(request.Status(), STATUS_SUCCESS);
    EXPECT_EQ(request.Information(), 0u);
}

// The length is cut to 4096 before the buffer is locked: a 4096-byte buffer serves a read that
// claims 5000.
TEST_F(ControlMidiTest, AReadTakesAtMost4096Bytes)
{
    ControlClient* client = OpenClient();
    ASSERT_EQ(client->OpenInputPort(0), STATUS_SUCCESS);
    auto* buffer = static_cast<UCHAR*>(process.Allocate(4096));
    ControlMidiReadResult result{};
    CallerRequest request;
    EXPECT_EQ(Read(request, client, 0, buffer, 5000, &result), STATUS_PENDING);
    CallerRequest other;
    EXPECT_EQ(client->CloseInputPort(0), STATUS_SUCCESS);
    EXPECT_TRUE(request.Completed());
}

// Sixteen buffers may wait for the wire per port; closing the port hands every one of them back.
TEST_F(ControlMidiTest, SixteenWritesMayWaitAndClosingHandsThemAllBack)
{
    ControlClient* client = OpenClient();
    ASSERT_EQ(client->OpenOutputPort(0), STATUS_SUCCESS);
    const Bytes sysex = SysEx(300);  // about 0.13 s on the wire each
    std::vector<UCHAR*> buffers;
    for (int i = 0; i < 16; ++i) {
        buffers.push_back(UserBytes(sysex));
        ASSERT_EQ(client->WriteMidi(0, buffers.back(), 300, UserMode), STATUS_SUCCESS) << i;
    }
    UCHAR* extra = UserBytes(sysex);
    EXPECT_EQ(client->WriteMidi(0, extra, 300, UserMode), STATUS_UNSUCCESSFUL) << "no slot free";
    EXPECT_EQ(extra[0], 0xF0) << "a refused buffer is not touched";
    Run(10ms);
    EXPECT_EQ(client->CloseOutputPort(0), STATUS_SUCCESS);
    for (size_t i = 0; i < buffers.size(); ++i) {
        EXPECT_EQ(buffers[i][0], static_cast<UCHAR>(~0xF0)) << "buffer " << i << " inverted once";
    }
    Run(100ms);
    for (size_t i = 0; i < buffers.size(); ++i) {
        EXPECT_EQ(buffers[i][0], static_cast<UCHAR>(~0xF0)) << "buffer " << i;
    }
}

// A port table of another generation, seen at the next operation of every handle.
TEST_F(ControlMidiTest, APortTableChangeClosesEveryPortOfEveryHandle)
{
    ControlClient* first = OpenClient();
    ControlClient* second = OpenClient();
    ASSERT_EQ(first->OpenOutputPort(0), STATUS_SUCCESS);
    ASSERT_EQ(second->OpenOutputPort(1), STATUS_SUCCESS);
    ASSERT_EQ(second->OpenOutputPort(0), STATUS_SUCCESS);
    Run(5ms);
    const MidiConfiguration next = ControlMidiTable(1);
    ASSERT_EQ(Router()->Codec()->SetPortTable(&next), 0);
    EXPECT_EQ(first->GetOpenOutputMask(), 0u);
    EXPECT_EQ(second->GetOpenOutputMask(), 0u);
    EXPECT_EQ(first->OpenOutputPort(0), STATUS_SUCCESS) << "the new table's ports open";
}

// An open port hears of the change from the router, under the router's locks: its ports are
// closed by a work item, its pending read completed with no data.
TEST_F(ControlMidiTest, AnOpenPortHearsOfTheChangeAndIsClosed)
{
    ControlClient* client = OpenClient();
    ASSERT_EQ(client->OpenInputPort(0), STATUS_SUCCESS);
    auto* buffer = static_cast<UCHAR*>(process.Allocate(16));
    ControlMidiReadResult result{};
    CallerRequest request;
    ASSERT_EQ(Read(request, client, 0, buffer, 16, &result), STATUS_PENDING);
    const MidiConfiguration next = ControlMidiTable(1);
    Router()->OnPortTableChange(&next);
    Platform::Kernel::RunPending();
    ASSERT_TRUE(request.Completed());
    EXPECT_EQ(request.Information(), 0u);
    EXPECT_EQ(client->GetOpenInputMask(), 0u);
    const MidiConfiguration back = ControlMidiTable(0);
    Router()->OnPortTableChange(&back);
    Platform::Kernel::RunPending();
}

}  // namespace
