// The device side of the stream set: which ring position each outgoing transfer is served from
// (the frame-key chain), pointers and copies across a page, the guard behind the ring's end, and
// the packet records that keep copies up to date until the USB layer is done with them.
#include "RoutingFixture.h"

namespace {

constexpr ULONG kCapacity = 1824;
constexpr ULONG kFrameBytes = 6;
constexpr ULONG kPacketBytes = 48 * kFrameBytes;

class RoutingDeviceTest : public RoutingTest
{
protected:
    void SetUp() override
    {
        RoutingTest::SetUp();
        ConfigureProduct(0, 1);
        ring = OutputBuffer();
    }

    // The ring position a request is served at, or -1 for none.
    LONG Served(ULONG key, ULONG frames, ULONG previousKey, ULONG previousFrames)
    {
        PVOID data = nullptr;
        Routing().GetDeviceOutputData(key, frames, 0, &data, false, previousKey, previousFrames);
        if (data == nullptr) {
            return -1;
        }
        return static_cast<LONG>((static_cast<const uint8_t*>(data) - ring) / kFrameBytes);
    }

    // A forced copy into destination at the current device position; true when copied.
    bool Copy(std::vector<uint8_t>* destination, ULONG key = 1)
    {
        destination->assign(kPacketBytes, 0xEE);
        PVOID data = destination->data();
        Routing().GetDeviceOutputData(key, 48, 0, &data, true, key - 1, 0);
        return data == destination->data();
    }

    // Adds a ramp at the ring's start, where every copy of the test points.
    void WriteAtStart(int32_t base)
    {
        std::vector<int32_t> samples;
        for (int i = 0; i < 48; ++i) {
            samples.push_back((base + i) << 8);
            samples.push_back((base - i) << 8);
        }
        LONG position = 0;
        ASSERT_EQ(RenderStereo(&position, samples), 0);
    }

    bool MatchesRing(const std::vector<uint8_t>& copy) const
    {
        return std::memcmp(copy.data(), ring, kPacketBytes) == 0;
    }

    const uint8_t* ring = nullptr;
};

TEST_F(RoutingDeviceTest, TheFrameKeyChainPlacesEveryRequest)
{
    EXPECT_EQ(Served(10, 48, 9, 48), 0) << "the first request since the start";
    EXPECT_EQ(Served(10, 44, 9, 48), 0) << "the same key again";
    EXPECT_EQ(Served(11, 48, 10, 48), 48) << "lastFrames stayed 48";
    EXPECT_EQ(Served(10, 48, 9, 48), -1) << "older and not the broken chain's key";
    // The previous key is not the last one seen: the chain broke.
    EXPECT_EQ(Served(13, 48, 12, 44), 48 + 44 + 48);
    EXPECT_EQ(Served(12, 44, 11, 48), 48 + 44) << "served at the broken chain's base";
    EXPECT_EQ(Served(14, 0, 13, 48), 140 + 48) << "0 frames count as 1";
    EXPECT_EQ(Served(15, 48, 14, 1), 189);
}

TEST_F(RoutingDeviceTest, FrameKeysCompareAcrossTheirWrap)
{
    EXPECT_EQ(Served(0xFFFFFFF0u, 48, 0xFFFFFFEFu, 48), 0);
    EXPECT_EQ(Served(0xFFFFFFF8u, 48, 0xFFFFFFF0u, 48), 48);
    EXPECT_EQ(Served(0x00000004u, 48, 0xFFFFFFF8u, 48), 96) << "newer across the wrap";
    EXPECT_EQ(Served(0xFFFFFFF0u, 48, 0xFFFFFFEFu, 48), -1) << "older across the wrap";
}

TEST_F(RoutingDeviceTest, MoreThanOneLapIsNeverServed)
{
    EXPECT_EQ(Served(1, kCapacity, 0, 0), -1);
    std::vector<uint8_t> big(kCapacity * kFrameBytes);
    PVOID data = big.data();
    Routing().GetDeviceOutputData(2, kCapacity + 10, 0, &data, true, 1, 0);
    EXPECT_EQ(data, nullptr);
}

struct PageCase
{
    const char* name;
    ULONG position;
    bool forceCopy;
    bool copied;
};

class RoutingPageTest : public RoutingDeviceTest, public ::testing::WithParamInterface<PageCase>
{
};

TEST_P(RoutingPageTest, ARegionAcrossAPageIsCopied)
{
    const PageCase& c = GetParam();
    LONG position = static_cast<LONG>(c.position);
    ASSERT_EQ(RenderStereo(&position, std::vector<int32_t>(96, 0x123 << 8)), 0);
    if (c.position != 0) {
        ASSERT_EQ(Served(1, c.position, 0, 0), 0);  // walks the chain to the position
    }
    std::vector<uint8_t> packet(kPacketBytes, 0xEE);
    PVOID data = packet.data();
    Routing().GetDeviceOutputData(2, 48, 0, &data, c.forceCopy, c.position != 0 ? 1 : 0,
                                  c.position);
    if (c.copied) {
        ASSERT_EQ(data, packet.data());
        EXPECT_EQ(std::memcmp(packet.data(), ring + c.position * kFrameBytes, kPacketBytes), 0);
    } else {
        EXPECT_EQ(data, ring + c.position * kFrameBytes);
        EXPECT_EQ(packet[0], 0xEE) << "the caller's buffer is left alone";
    }
}

INSTANTIATE_TEST_SUITE_P(Pages, RoutingPageTest,
                         ::testing::Values(PageCase{"WithinAPage", 0, false, false},
                                           PageCase{"WithinAPageForced", 0, true, true},
                                           // bytes 4080 .. 4367
                                           PageCase{"AcrossAPage", 680, false, true},
                                           // bytes 4104 .. 4391: the second page only
                                           PageCase{"WithinTheSecondPage", 684, false, false}),
                         [](const ::testing::TestParamInfo<PageCase>& info) {
                             return info.param.name;
                         });

TEST_F(RoutingDeviceTest, TheGuardAndTheRingStartSupplyWhatLiesPastTheEnd)
{
    // Move the read index so the end of the ring has room, then write across the end.
    for (int i = 0; i < 10; ++i) {
        Routing().RoutingTick(static_cast<ULONG>(i), nullptr, 100, 0, 100, 0);
    }
    std::vector<int32_t> samples;
    for (int i = 0; i < 48; ++i) {
        samples.push_back((i + 1) << 8);
        samples.push_back(0);
    }
    LONG position = 1800;
    ASSERT_EQ(RenderStereo(&position, samples), 0);
    ASSERT_EQ(position, 24);

    Routing().ResetForStart(false);
    ASSERT_EQ(Served(1, 1800, 0, 0), 0);
    PVOID data = nullptr;
    Routing().GetDeviceOutputData(2, 48, 0, &data, false, 1, 1800);
    ASSERT_EQ(data, ring + 1800 * kFrameBytes) << "in place: the guard mirrors the start";
    std::vector<uint8_t> packet(kPacketBytes);
    data = packet.data();
    Routing().GetDeviceOutputData(2, 48, 0, &data, true, 1, 1800);
    ASSERT_EQ(data, packet.data());
    const auto* inPlace = static_cast<const uint8_t*>(ring + 1800 * kFrameBytes);
    for (int i = 0; i < 48; ++i) {
        ASSERT_EQ(Sample24(inPlace + i * kFrameBytes), i + 1) << i;
        ASSERT_EQ(Sample24(packet.data() + i * kFrameBytes), i + 1) << i;
    }
}

TEST_F(RoutingDeviceTest, RecordsLeaveTheRingEachWayAndOnlyLiveCopiesAreRefreshed)
{
    std::vector<std::vector<uint8_t>> copies(80);
    for (int i = 0; i < 60; ++i) {
        ASSERT_TRUE(Copy(&copies[i])) << i;
    }
    for (int i = 0; i < 50; ++i) {
        Routing().CancelPacket(0, copies[i].data());  // each at the read index
    }
    for (int i = 60; i < 80; ++i) {
        ASSERT_TRUE(Copy(&copies[i])) << i;  // the ring wraps
    }
    Routing().CancelPacket(0, copies[70].data());  // below the read index
    Routing().CancelPacket(0, copies[55].data());  // above the read index
    Routing().CancelPacket(0, copies[55].data());  // gone already: nothing happens
    Routing().CancelPacket(1, copies[56].data());  // buffer 1 does not exist: counts as 0
    std::vector<uint8_t> unknown(kPacketBytes);
    Routing().CancelPacket(0, unknown.data());

    WriteAtStart(1000);
    for (int i = 0; i < 80; ++i) {
        const bool live = i >= 50 && i != 55 && i != 56 && i != 70;
        EXPECT_EQ(MatchesRing(copies[i]), live) << i;
    }

    // 27 records are left: 36 more fit before the ring is full (one slot stays empty).
    std::vector<std::vector<uint8_t>> more(37);
    for (int i = 0; i < 36; ++i) {
        ASSERT_TRUE(Copy(&more[i])) << i;
    }
    EXPECT_FALSE(Copy(&more[36])) << "full: the ring's own pointer";
    WriteAtStart(2000);
    EXPECT_TRUE(MatchesRing(more[35]));
    EXPECT_TRUE(MatchesRing(copies[79]));
}

TEST_F(RoutingDeviceTest, AResetDropsEveryRecord)
{
    std::vector<uint8_t> copy;
    ASSERT_TRUE(Copy(&copy));
    Routing().ResetRings();
    copy.assign(kPacketBytes, 0xEE);
    WriteAtStart(5);
    EXPECT_EQ(copy[0], 0xEE) << "the USB layer's buffer may be gone after a stop";
}

TEST_F(RoutingDeviceTest, AReconfigurationDropsRecordsOfTheOldRing)
{
    std::vector<uint8_t> copy;
    ASSERT_TRUE(Copy(&copy));
    // A larger ring: its buffers are allocated anew and the old ones freed.
    engine.callbackDelay = 8;
    const StreamConfiguration record = ProductConfiguration(0);
    ASSERT_EQ(Routing().ConfigureRouting(&record, 1), 0);
    copy.assign(kPacketBytes, 0xEE);
    Routing().CancelPacket(0, copy.data());
    WriteAtStart(5);
    EXPECT_EQ(copy[0], 0xEE);
}

}  // namespace
