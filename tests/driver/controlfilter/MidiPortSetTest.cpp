// The private MIDI port set by property requests from 32- and 64-bit processes: counts, masks and
// names, a write through id 13 that reaches its cable and hands its buffer back, and a read
// through id 12 that pends until a message arrives on the port.
#include <gtest/gtest.h>

#include <cstring>

#include "LowLatencyFixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

class MidiPortSetTest : public LowLatencyFixture
{
protected:
    void SetUp() override
    {
        LowLatencyFixture::SetUp();
        PlugIn();
        user = std::make_unique<Platform::Kernel::UserProcess>(GetParam() != Caller::Process64);
        control = OpenRequester(*user);
        ASSERT_NE(control, nullptr);
    }
    void TearDown() override
    {
        control.reset();
        user.reset();
        LowLatencyFixture::TearDown();
    }
    uint8_t* UserBytes(const Bytes& bytes)
    {
        const size_t size = bytes.size();
        void* memory = user->Allocate(size);
        EXPECT_NE(memory, nullptr);
        std::memcpy(memory, bytes.data(), size);
        return static_cast<uint8_t*>(memory);
    }
    std::vector<uint8_t> PortTail(uint32_t port)
    {
        auto tail = ControlRequester::U32(port);
        tail.resize(8, 0);
        return tail;
    }

    std::unique_ptr<Platform::Kernel::UserProcess> user;
    std::unique_ptr<ControlRequester> control;
};

INSTANTIATE_TEST_SUITE_P(Callers, MidiPortSetTest,
                         ::testing::Values(Caller::Process64, Caller::Process32),
                         [](const auto& info) {
                             return info.param == Caller::Process64 ? "Process64" : "Process32";
                         });

TEST_P(MidiPortSetTest, PortsAreCountedNamedAndOpenedByNumber)
{
    EXPECT_EQ(control->GetU32(kPropSetControlMidiPorts, kPropMidiOutputPortCount), 2u);
    EXPECT_EQ(control->GetU32(kPropSetControlMidiPorts, kPropMidiInputPortCount), 2u);
    auto name =
        control->GetOver(kPropSetControlMidiPorts, kPropMidiOutputPortName, 132, 0xEE, PortTail(1));
    ASSERT_EQ(name.status, STATUS_SUCCESS);
    EXPECT_LT(static_cast<int32_t>(ControlRequester::ReadU32(name.data, 128)), 0)
        << "a private port's id is negative";
    size_t characters = 0;
    while (characters < 64 && (name.data[2 * characters] | name.data[2 * characters + 1]) != 0) {
        ++characters;
    }
    for (size_t i = 2 * characters; i < 128; ++i) {
        EXPECT_EQ(name.data[i], 0) << "name byte " << i;
    }
    EXPECT_EQ(
        control->Get(kPropSetControlMidiPorts, kPropMidiInputPortName, 132, PortTail(2)).status,
        STATUS_UNSUCCESSFUL);
    EXPECT_EQ(control->SetU32(kPropSetControlMidiPorts, kPropMidiOpenOutput, 1), STATUS_SUCCESS);
    EXPECT_EQ(control->SetU32(kPropSetControlMidiPorts, kPropMidiOpenInput, 0), STATUS_SUCCESS);
    EXPECT_EQ(control->GetU32(kPropSetControlMidiPorts, kPropMidiOpenOutputMask), 0x2u);
    EXPECT_EQ(control->GetU32(kPropSetControlMidiPorts, kPropMidiOpenInputMask), 0x1u);
    EXPECT_EQ(control->SetU32(kPropSetControlMidiPorts, kPropMidiCloseAll, 0), STATUS_SUCCESS);
    EXPECT_EQ(control->GetU32(kPropSetControlMidiPorts, kPropMidiOpenOutputMask), 0u);
}

TEST_P(MidiPortSetTest, MessagesMoveBothWaysThroughReadAndWrite)
{
    HANDLE event = user->CreateEvent(false, false);
    ASSERT_EQ(
        control->Set(kPropSetControlMidiPorts, kPropMidiEvent, control->HandleData(event)).status,
        STATUS_SUCCESS);
    ASSERT_EQ(control->SetU32(kPropSetControlMidiPorts, kPropMidiOpenOutput, 1), STATUS_SUCCESS);
    ASSERT_EQ(control->SetU32(kPropSetControlMidiPorts, kPropMidiOpenInput, 0), STATUS_SUCCESS);

    uint8_t* note = UserBytes({0x90, 0x3C, 0x40});
    ASSERT_EQ(
        control->Set(kPropSetControlMidiPorts, kPropMidiWrite, control->MidiWriteData(1, note, 3))
            .status,
        STATUS_SUCCESS);
    Run(20ms);
    EXPECT_EQ(note[0], static_cast<uint8_t>(~0x90)) << "the buffer came back";
    const auto received = UsbDevice().BulkReceived(kControlMidiOutEndpoint);
    ASSERT_GE(received.size(), 4u);
    EXPECT_EQ(Bytes(received.begin(), received.begin() + 4), (Bytes{0x39, 0x90, 0x3C, 0x40}))
        << "private output port 1 is cable 3";

    uint8_t* buffer = UserBytes(Bytes(64, 0));
    auto read = control->Handle().BeginDeviceIoControl(
        IOCTL_KS_PROPERTY,
        Platform::Ks::PropertyBytes(kPropSetControlMidiPorts, kPropMidiRead, KSPROPERTY_TYPE_GET,
                                    control->MidiReadTail(0, buffer, 64)),
        16);
    Run(5ms);
    EXPECT_FALSE(read->Completed()) << "nothing has arrived";
    UsbDevice().QueueBulkIn(kControlMidiInEndpoint, {0x19, 0x80, 0x3C, 0x00});
    Run(20ms);
    ASSERT_TRUE(read->Completed());
    const auto result = read->Result();
    EXPECT_EQ(result.status, STATUS_SUCCESS);
    ASSERT_EQ(result.information, 16u);
    EXPECT_EQ(ControlRequester::ReadU32(result.data, 8), 3u);
    EXPECT_EQ(ControlRequester::ReadU32(result.data, 12), 1u) << "a complete short message";
    EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{0x80, 0x3C, 0x00}));
    EXPECT_TRUE(user->ConsumeEvent(event));
}

// A read's buffer and a write's buffer outside the caller's memory are refused.
TEST_P(MidiPortSetTest, BuffersOutsideTheCallersMemoryAreRefused)
{
    ASSERT_EQ(control->SetU32(kPropSetControlMidiPorts, kPropMidiOpenOutput, 0), STATUS_SUCCESS);
    ASSERT_EQ(control->SetU32(kPropSetControlMidiPorts, kPropMidiOpenInput, 0), STATUS_SUCCESS);
    const void* foreign = reinterpret_cast<const void*>(uintptr_t{0x7FFF0000});
    EXPECT_EQ(
        control
            ->Set(kPropSetControlMidiPorts, kPropMidiWrite, control->MidiWriteData(0, foreign, 3))
            .status,
        STATUS_UNSUCCESSFUL);
    EXPECT_EQ(control
                  ->Get(kPropSetControlMidiPorts, kPropMidiRead, 16,
                        control->MidiReadTail(0, foreign, 16))
                  .status,
              STATUS_UNSUCCESSFUL);
}

}  // namespace
