// Render streams into the stream set: the answers for late, cramped and stale writers, the sum
// of two writers, the matrix rows, and bounce copies brought up to date by later writes.
#include "RoutingFixture.h"

namespace {

constexpr ULONG kCapacity = 1824;  // configuration 0: 3 x 512 + 3 x 96
constexpr ULONG kFrameBytes = 6;   // 24-bit stereo

class RoutingWriterTest : public RoutingTest
{
protected:
    void SetUp() override
    {
        RoutingTest::SetUp();
        ConfigureProduct(0, 1);
        ring = OutputBuffer();
    }

    int32_t Output(ULONG frame, ULONG channel) const
    {
        return Sample24(ring + frame * kFrameBytes + channel * 3);
    }

    static std::vector<int32_t> Ramp(ULONG frames, int32_t base)
    {
        std::vector<int32_t> samples;
        for (ULONG i = 0; i < frames; ++i) {
            samples.push_back((base + static_cast<int32_t>(i)) << 8);
            samples.push_back((-base - static_cast<int32_t>(i)) << 8);
        }
        return samples;
    }

    const uint8_t* ring = nullptr;
};

TEST_F(RoutingWriterTest, AWriteLandsInTheOutputRingAndThePositionAdvances)
{
    LONG position = 100;
    EXPECT_EQ(RenderStereo(&position, Ramp(48, 1000)), 0);
    EXPECT_EQ(position, 148);
    for (ULONG i = 0; i < 48; ++i) {
        ASSERT_EQ(Output(100 + i, 0), 1000 + static_cast<int32_t>(i)) << i;
        ASSERT_EQ(Output(100 + i, 1), -1000 - static_cast<int32_t>(i)) << i;
    }
    EXPECT_EQ(Output(99, 0), 0);
    EXPECT_EQ(Output(148, 0), 0);
}

struct RoomCase
{
    const char* name;
    LONG position;
    ULONG frames;
    LONG expected;
    LONG nextPosition;
};

class RoutingRoomTest : public RoutingWriterTest, public ::testing::WithParamInterface<RoomCase>
{
};

// The read index stays at 0, so the free space from p is capacity - p - 1.
TEST_P(RoutingRoomTest, NoRoomDropsTheBlockButMovesThePosition)
{
    const RoomCase& c = GetParam();
    LONG position = c.position;
    EXPECT_EQ(RenderStereo(&position, Ramp(c.frames, 7)), c.expected);
    EXPECT_EQ(position, c.nextPosition);
    if (c.expected < 0) {
        for (ULONG i = 0; i < c.frames && c.position + i < kCapacity; ++i) {
            ASSERT_EQ(Output(c.position + i, 0), 0) << "nothing is written";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Room, RoutingRoomTest,
    ::testing::Values(
        // free 23 < 512: too late; 1800 + 48 wraps to 24.
        RoomCase{"TooLate", 1800, 48, kRenderTooLate, 24},
        // free 511: just below the margin.
        RoomCase{"TooLateAtTheMargin", 1312, 48, kRenderTooLate, 1360},
        // free 1023 - 48 = 975 >= 512.
        RoomCase{"EnoughRoom", 800, 48, 0, 848},
        // free 1023, 1023 - 600 = 423 < 512: no room for the whole block.
        RoomCase{"NoRoom", 800, 600, kRenderNoRoom, 1400},
        // frames above the free space: unsigned arithmetic would wrap to a huge free space.
        RoomCase{"MoreFramesThanFree", 800, 1200, kRenderNoRoom, 176}),
    [](const ::testing::TestParamInfo<RoomCase>& info) { return info.param.name; });

TEST_F(RoutingWriterTest, StaleAndUnplacedWritersArePending)
{
    LONG position = -1;
    EXPECT_EQ(RenderStereo(&position, Ramp(4, 1)), kRenderPending);
    EXPECT_EQ(position, -1);
    position = 10;
    EXPECT_EQ(RenderStereo(&position, Ramp(4, 1), 0, 1), kRenderPending) << "configuration 1";
    EXPECT_EQ(position, 10);
}

TEST_F(RoutingWriterTest, BadArgumentsAreRefused)
{
    LONG position = 10;
    std::vector<uint8_t> bytes(48);
    PVOID buffers[] = {bytes.data()};
    EXPECT_EQ(Routing().RenderIntoDevice(0, &position, buffers, 4, 0x12345678u, 2, 0),
              E_INVALIDARG);
    EXPECT_EQ(Routing().RenderIntoDevice(0, &position, nullptr, 4, kSampleInt24LE, 2, 0),
              E_INVALIDARG);
    EXPECT_EQ(Routing().RenderIntoDevice(0, nullptr, buffers, 4, kSampleInt24LE, 2, 0),
              E_INVALIDARG);
    EXPECT_EQ(position, 10);
}

TEST_F(RoutingWriterTest, APositionBeyondTheRingIsTakenModuloItsCapacity)
{
    LONG position = kCapacity + 5;
    EXPECT_EQ(RenderStereo(&position, Ramp(2, 50)), 0);
    EXPECT_EQ(position, 7);
    EXPECT_EQ(Output(5, 0), 50);
}

TEST_F(RoutingWriterTest, TwoWritersAreSummedSaturating)
{
    LONG first = 200;
    LONG second = 200;
    std::vector<int32_t> loud(8, 0x7FFFF000);
    ASSERT_EQ(RenderStereo(&first, Ramp(4, 100)), 0);
    ASSERT_EQ(RenderStereo(&second, Ramp(4, 10)), 0);
    EXPECT_EQ(Output(200, 0), 110);
    EXPECT_EQ(Output(203, 1), -116);
    LONG third = 300;
    ASSERT_EQ(RenderStereo(&third, loud), 0);
    third = 300;
    ASSERT_EQ(RenderStereo(&third, loud), 0);
    EXPECT_EQ(Output(300, 0), 0x7FFFFF) << "saturates at the largest 24-bit value";
}

TEST_F(RoutingWriterTest, MonoBuffersFeedOneMixBusChannelEach)
{
    std::vector<int32_t> left(16, 0x100 << 8);
    std::vector<int32_t> right(16, -0x200 << 8);
    std::vector<uint8_t> leftBytes = Packed24(left);
    std::vector<uint8_t> rightBytes = Packed24(right);
    PVOID buffers[] = {leftBytes.data(), rightBytes.data()};
    LONG position = 40;
    ASSERT_EQ(Routing().RenderIntoDevice(0, &position, buffers, 16, kSampleInt24LE, 0, 0), 0);
    EXPECT_EQ(position, 56);
    EXPECT_EQ(Output(40, 0), 0x100);
    EXPECT_EQ(Output(55, 1), -0x200);
}

TEST_F(RoutingWriterTest, AStreamOnTheSecondChannelGoesToTheSecondOutput)
{
    std::vector<int32_t> mono(8, 0x55 << 8);
    std::vector<uint8_t> bytes = Packed24(mono);
    PVOID buffers[] = {bytes.data()};
    LONG position = 0;
    ASSERT_EQ(Routing().RenderIntoDevice(0, &position, buffers, 8, kSampleInt24LE, 1, 1), 0);
    EXPECT_EQ(Output(3, 0), 0);
    EXPECT_EQ(Output(3, 1), 0x55);
}

TEST_F(RoutingWriterTest, SilentMatrixRowsAdvanceTheWriteIndexWithoutChangingTheRing)
{
    const SampleGain silence[2] = {0, 0};
    ASSERT_EQ(Routing().WriteMatrixRow(0, 0, 2, silence), STATUS_SUCCESS);
    ASSERT_EQ(Routing().WriteMatrixRow(1, 0, 2, silence), STATUS_SUCCESS);
    Routing().MarkMixerUsed();
    LONG position = 64;
    EXPECT_EQ(RenderStereo(&position, Ramp(32, 9)), 64 + 32) << "the ring's new write index";
    EXPECT_EQ(position, 96);
    for (ULONG i = 0; i < 32; ++i) {
        ASSERT_EQ(Output(64 + i, 0), 0);
        ASSERT_EQ(Output(64 + i, 1), 0);
    }
}

TEST_F(RoutingWriterTest, TheMatrixSpreadsAStreamOverTheOutputsOnceTheMixerIsUsed)
{
    // Stream channel 0 to both outputs at half gain; channel 1 swapped onto output 0.
    const SampleGain row0[2] = {kUnityGain / 2, kUnityGain / 2};
    const SampleGain row1[2] = {kUnityGain, 0};
    ASSERT_EQ(Routing().WriteMatrixRow(0, 0, 2, row0), STATUS_SUCCESS);
    ASSERT_EQ(Routing().WriteMatrixRow(1, 0, 2, row1), STATUS_SUCCESS);
    LONG position = 0;
    ASSERT_EQ(RenderStereo(&position, {400 << 8, 100 << 8}), 0);
    EXPECT_EQ(Output(0, 0), 400) << "the mixer is not used yet: channel for channel";
    Routing().MarkMixerUsed();
    EXPECT_EQ(RenderStereo(&position, {400 << 8, 100 << 8}), 2) << "the ring's new write index";
    EXPECT_EQ(Output(1, 0), 300);
    EXPECT_EQ(Output(1, 1), 200);
}

TEST_F(RoutingWriterTest, ABounceCopyTakenBeforeASecondWriterHoldsBoth)
{
    // The region from frame 680 (byte 4080) crosses a 4096-byte page: the device gets a copy.
    LONG first = 680;
    ASSERT_EQ(RenderStereo(&first, Ramp(48, 1000)), 0);

    Routing().ResetForStart(false);
    std::vector<uint8_t> packet(48 * kFrameBytes, 0xEE);
    PVOID data = packet.data();
    Routing().GetDeviceOutputData(50, 680, 0, &data, false, 49, 0);  // walks to 680
    data = packet.data();
    Routing().GetDeviceOutputData(51, 48, 0, &data, false, 50, 680);
    ASSERT_EQ(data, packet.data()) << "a copy, not the ring";
    EXPECT_EQ(Sample24(packet.data()), 1000);

    LONG second = 680;
    ASSERT_EQ(RenderStereo(&second, Ramp(48, 5)), 0);
    for (ULONG i = 0; i < 48; ++i) {
        ASSERT_EQ(Sample24(packet.data() + i * kFrameBytes), 1005 + 2 * static_cast<int32_t>(i))
            << i;
    }

    // Once the USB layer is done with it, later writes leave the copy alone.
    Routing().CancelPacket(0, packet.data());
    LONG third = 680;
    ASSERT_EQ(RenderStereo(&third, Ramp(48, 5)), 0);
    EXPECT_EQ(Sample24(packet.data()), 1005);
}

TEST_F(RoutingWriterTest, AnUnconfiguredRingTakesEveryWrite)
{
    StreamConfiguration empty = ProductConfiguration(0);
    empty.index = 5;
    empty.outputChannels = 0;
    ASSERT_EQ(Routing().ConfigureRouting(&empty, 0), 0);
    LONG position = 10;
    EXPECT_EQ(RenderStereo(&position, Ramp(4, 1), 0, 5), 0);
    EXPECT_EQ(position, 10);
    PVOID data = nullptr;
    Routing().GetDeviceOutputData(1, 48, 0, &data, false, 0, 0);
    EXPECT_EQ(data, nullptr);
}

}  // namespace
