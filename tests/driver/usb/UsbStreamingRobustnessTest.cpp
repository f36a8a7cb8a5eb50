// What a start checks before the transfers go out, against the simulated device's variants: the
// audio pipes against the configuration's channels and sample size, the packets against the
// largest frame the sizing gives (a device whose packets fit the rate exactly plays), and the
// feedback endpoint the record asks for.
#include "UsbStreamingOwner.h"

namespace {

constexpr IsoStreamShape kProductShape{2, 3, 0, 0};

struct ShapeRow
{
    const char* name;
    UsbSim::ProductVariant variant;
    ULONG rate;
    bool capture;          // the record switches the capture interface
    IsoStreamShape shape;  // what the configuration carries
    NTSTATUS expected;
};

void PrintTo(const ShapeRow& row, std::ostream* out)
{
    *out << row.name;
}

class StreamShapes : public UsbStreamingTest, public ::testing::WithParamInterface<ShapeRow>
{
};

// A device with the product's ids whose endpoint carries another format would make the bus read
// past the engine's ring or play garbage: the start refuses it and leaves the interfaces idle.
TEST_P(StreamShapes, AudioPipesMustCarryTheConfiguration)
{
    const ShapeRow& row = GetParam();
    Start(UsbSim::BuildProductDescriptors(row.variant), StreamingRecord(row.capture));
    shape = row.shape;
    EXPECT_EQ(StartStreaming(row.rate), row.expected);
    EXPECT_EQ(transport->IsStreaming(), row.expected == STATUS_SUCCESS);
    EXPECT_EQ(transport->AlternateSettingsActive(), row.expected == STATUS_SUCCESS);
    Run(50);
    if (row.expected == STATUS_SUCCESS) {
        EXPECT_FALSE(device->OutPackets().empty());
        StopStreaming();
    } else {
        EXPECT_TRUE(device->OutPackets().empty());
        EXPECT_EQ(bus->PendingRequests(), 0u);
    }
    EXPECT_TRUE(device->Violations().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Variants, StreamShapes,
    ::testing::Values(
        ShapeRow{"TwentySixChannelsAt96k",
                 {.outChannels = 26},
                 96000,
                 false,
                 kProductShape,
                 STATUS_INVALID_PARAMETER},
        ShapeRow{"Mono", {.outChannels = 1}, 48000, false, kProductShape, STATUS_INVALID_PARAMETER},
        ShapeRow{"EightChannels",
                 {.outChannels = 8},
                 48000,
                 false,
                 kProductShape,
                 STATUS_INVALID_PARAMETER},
        ShapeRow{"SixteenBit",
                 {.subslotBytes = 2, .bitResolution = 16},
                 48000,
                 false,
                 kProductShape,
                 STATUS_INVALID_PARAMETER},
        ShapeRow{"ThirtyTwoBit",
                 {.audioClass = 1, .subslotBytes = 4, .bitResolution = 32},
                 44100,
                 false,
                 kProductShape,
                 STATUS_INVALID_PARAMETER},
        ShapeRow{"InputsTheConfigurationLacks",
                 {.inChannels = 2},
                 48000,
                 true,
                 kProductShape,
                 STATUS_INVALID_PARAMETER},
        ShapeRow{"InputsTheDeviceLacks", {}, 48000, false, {2, 3, 2, 3}, STATUS_INVALID_PARAMETER},
        ShapeRow{
            "LayoutsOfMixedSampleSizes", {}, 48000, false, {2, 0, 0, 0}, STATUS_INVALID_PARAMETER},
        // Bit resolution is not compared: samples sit left-justified in their subslot.
        ShapeRow{"TwentyBitsInThreeBytes",
                 {.bitResolution = 20},
                 48000,
                 false,
                 kProductShape,
                 STATUS_SUCCESS},
        ShapeRow{"EightChannelsConfigured",
                 {.outChannels = 8},
                 48000,
                 false,
                 {8, 3, 0, 0},
                 STATUS_SUCCESS},
        ShapeRow{"SixteenBitConfigured",
                 {.subslotBytes = 2, .bitResolution = 16},
                 96000,
                 false,
                 {2, 2, 0, 0},
                 STATUS_SUCCESS},
        ShapeRow{
            "WithInputsConfigured", {.inChannels = 2}, 48000, true, {2, 3, 2, 3}, STATUS_SUCCESS}),
    [](const auto& info) { return std::string(info.param.name); });

struct PacketFitRow
{
    const char* name;
    UsbSim::ProductVariant variant;
    ULONG rate;
    bool capture;
    NTSTATUS expected;
};

void PrintTo(const PacketFitRow& row, std::ostream* out)
{
    *out << row.name;
}

class PacketFit : public UsbStreamingTest, public ::testing::WithParamInterface<PacketFitRow>
{
protected:
    // Starts the row's device; when it streams, every sample must arrive, in order, in packets
    // the endpoint takes.
    void StreamsEverySampleOrIsRefused()
    {
        const PacketFitRow& row = GetParam();
        Start(UsbSim::BuildProductDescriptors(row.variant), StreamingRecord(row.capture));
        ASSERT_EQ(StartStreaming(row.rate), row.expected);
        if (row.expected != STATUS_SUCCESS) {
            EXPECT_FALSE(transport->AlternateSettingsActive());
            return;
        }
        int32_t expected = 1;
        uint64_t received = 0;
        for (int second = 0; second < 4; ++second) {
            Run(1000);
            for (int32_t value : TakeReceived()) {
                ASSERT_EQ(value, expected) << "at sample " << received;
                expected = expected % kPatternPeriod + 1;
                ++received;
            }
        }
        EXPECT_GE(received, 3ull * row.rate);
        EXPECT_EQ(restarts, 0);
        EXPECT_TRUE(device->Violations().empty());
        StopStreaming();
    }
};

// The packets must hold the largest frame the sizing produces, and no more is asked: the rate's
// samples, one more when the rate has a fraction.
TEST_P(PacketFit, APacketNeedsRoomForTheLargestFrameOnly)
{
    StreamsEverySampleOrIsRefused();
}

class CapturePacedFit : public PacketFit
{
};

// With capture pacing, the OUT frames repeat the captured frames' sizes. A captured frame is
// taken as it came only within two samples of the rate (else silence of the rate's size stands
// in), and holds no more than the IN packets carry: the OUT packets need the smaller of rate + 2
// and the largest captured frame, and are refused below exactly that.
TEST_P(CapturePacedFit, OutputNeedsTheSmallerOfRatePlusTwoAndTheLargestCapturedFrame)
{
    StreamsEverySampleOrIsRefused();
}

INSTANTIATE_TEST_SUITE_P(
    Variants, PacketFit,
    ::testing::Values(PacketFitRow{"Exact48kFullSpeed",
                                   {.audioClass = 1, .rates = {48000}, .packetRoom = 0},
                                   48000,
                                   false,
                                   STATUS_SUCCESS},
                      PacketFitRow{"Exact44k1FullSpeed",
                                   {.audioClass = 1, .rates = {44100}, .packetRoom = 0},
                                   44100,
                                   false,
                                   STATUS_SUCCESS},
                      PacketFitRow{"Exact96kHighSpeed",
                                   {.audioClass = 2, .rates = {96000}, .packetRoom = 0},
                                   96000,
                                   false,
                                   STATUS_SUCCESS},
                      PacketFitRow{"Exact48kHighSpeed",
                                   {.audioClass = 2, .rates = {48000}, .packetRoom = 0},
                                   48000,
                                   false,
                                   STATUS_SUCCESS},
                      PacketFitRow{"OneShortAt48k",
                                   {.audioClass = 1, .rates = {48000}, .packetRoom = -1},
                                   48000,
                                   false,
                                   STATUS_INVALID_PARAMETER},
                      PacketFitRow{"OneShortAt44k1",
                                   {.audioClass = 1, .rates = {44100}, .packetRoom = -1},
                                   44100,
                                   false,
                                   STATUS_INVALID_PARAMETER},
                      PacketFitRow{
                          "TwoSpareWithCapturePacing",
                          {.audioClass = 1, .inChannels = 2, .rates = {48000}, .packetRoom = 2},
                          48000,
                          true,
                          STATUS_SUCCESS}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Variants, CapturePacedFit,
    ::testing::Values(
        // 48 kHz at full speed: the rate asks 48 a frame, capture may ask up to 50.
        PacketFitRow{"In48Out48",
                     {.audioClass = 1, .inChannels = 2, .rates = {48000}, .packetRoom = 0},
                     48000,
                     true,
                     STATUS_SUCCESS},
        PacketFitRow{"In49Out49",
                     {.audioClass = 1, .inChannels = 2, .rates = {48000}, .packetRoom = 1},
                     48000,
                     true,
                     STATUS_SUCCESS},
        PacketFitRow{"In49Out48",
                     {.audioClass = 1,
                      .inChannels = 2,
                      .rates = {48000},
                      .packetRoom = 0,
                      .inPacketRoom = 1},
                     48000,
                     true,
                     STATUS_INVALID_PARAMETER},
        PacketFitRow{"In51Out50",
                     {.audioClass = 1,
                      .inChannels = 2,
                      .rates = {48000},
                      .packetRoom = 2,
                      .inPacketRoom = 3},
                     48000,
                     true,
                     STATUS_SUCCESS},
        PacketFitRow{"In51Out49",
                     {.audioClass = 1,
                      .inChannels = 2,
                      .rates = {48000},
                      .packetRoom = 1,
                      .inPacketRoom = 3},
                     48000,
                     true,
                     STATUS_INVALID_PARAMETER},
        // 44.1 kHz: the rate asks 45 a frame (44 and its fraction), capture up to 46.
        PacketFitRow{"In45Out45At44k1",
                     {.audioClass = 1, .inChannels = 2, .rates = {44100}, .packetRoom = 0},
                     44100,
                     true,
                     STATUS_SUCCESS},
        PacketFitRow{"In46Out45At44k1",
                     {.audioClass = 1,
                      .inChannels = 2,
                      .rates = {44100},
                      .packetRoom = 0,
                      .inPacketRoom = 1},
                     44100,
                     true,
                     STATUS_INVALID_PARAMETER},
        PacketFitRow{"In47Out46At44k1",
                     {.audioClass = 1,
                      .inChannels = 2,
                      .rates = {44100},
                      .packetRoom = 1,
                      .inPacketRoom = 2},
                     44100,
                     true,
                     STATUS_SUCCESS}),
    [](const auto& info) { return std::string(info.param.name); });

// Completions that come late and out of order (three transfers held back, the ones after them
// reported first) still have every transfer filled in stream order: each fill names the one
// before it as its previous slot and starts where it ended.
TEST_F(UsbStreamingTest, FillsFollowTheStreamWhenCompletionsOvertakeEachOther)
{
    for (int audioClass : {1, 2}) {
        SCOPED_TRACE(audioClass);
        Start(UsbSim::BuildProductDescriptors({.audioClass = audioClass}));
        transport->SetQueueAhead(6);
        ASSERT_EQ(StartStreaming(48000), STATUS_SUCCESS);
        Run(200);
        fills.clear();
        bus->DelayIsoCompletions(5, 3);
        Run(300);
        EXPECT_EQ(restarts, 0);
        ASSERT_GT(fills.size(), 250u);
        for (size_t i = 1; i < fills.size(); ++i) {
            const FillRecord& before = fills[i - 1];
            ASSERT_EQ(fills[i].previousStartFrame, before.startFrame) << "fill " << i;
            ASSERT_EQ(fills[i].previousSamples, before.samples) << "fill " << i;
            ASSERT_EQ(fills[i].startFrame, before.startFrame + before.samples / 48) << "fill " << i;
        }
        // And the device received every sample once, in order.
        int32_t expected = 1;
        for (int32_t value : TakeReceived()) {
            ASSERT_EQ(value, expected);
            expected = expected % kPatternPeriod + 1;
        }
        StopStreaming();
        Unplug();
        sawPattern = false;
        produced = 0;
    }
}

// A stop while transfers wait for a late predecessor retires them too: nothing stays pending or
// allocated, and the next start streams again.
TEST_F(UsbStreamingTest, AStopRetiresTransfersWaitingForALatePredecessor)
{
    Start(UsbSim::ProductUac1());
    ASSERT_EQ(StartStreaming(48000), STATUS_SUCCESS);
    Run(100);
    bus->DelayIsoCompletions(6, 1);
    Run(13);  // the late transfer went out ~10 frames ahead; the ones after it have completed
    StopStreaming();
    EXPECT_FALSE(transport->IsStreaming());
    EXPECT_EQ(bus->PendingRequests(), 0u);
    EXPECT_TRUE(Platform::Kernel::RemoveLockHolders(&context.removeLock).empty());
    ASSERT_EQ(StartStreaming(48000), STATUS_SUCCESS);
    const size_t before = periods.size();
    Run(500);
    EXPECT_GE(periods.size() - before, 480u);
    EXPECT_EQ(restarts, 0);
    StopStreaming();
}

// Asked for feedback, a device without a feedback endpoint would stream open loop unnoticed.
TEST_F(UsbStreamingTest, FeedbackAskedForNeedsAFeedbackEndpoint)
{
    Start(UsbSim::ProductUac1(), StreamingRecord(false, true));
    EXPECT_EQ(StartStreaming(48000), STATUS_INVALID_PARAMETER);
    EXPECT_FALSE(transport->IsStreaming());
    EXPECT_FALSE(transport->AlternateSettingsActive());
    Run(20);
    EXPECT_TRUE(device->OutPackets().empty());
    EXPECT_EQ(bus->PendingRequests(), 0u);
    Unplug();

    Start(UsbSim::BuildProductDescriptors({.audioClass = 1, .feedback = true}),
          StreamingRecord(false, true));
    ASSERT_EQ(StartStreaming(48000), STATUS_SUCCESS);
    Run(100);
    EXPECT_TRUE(transport->FeedbackValid());
    StopStreaming();
}

// With capture running beside a fed-back output, every accepted capture packet must leave the
// output's packet sizing alone: the fraction of the fed-back rate still reaches the bus.
TEST_F(UsbStreamingTest, CaptureBesideFeedbackKeepsTheFedBackFraction)
{
    struct Row
    {
        int audioClass;
        ULONG rate;
        int ppm;
    };
    for (const Row row : {Row{1, 48000, 2000}, Row{1, 48000, -5000}, Row{2, 44100, 5000}}) {
        SCOPED_TRACE(::testing::Message() << row.rate << " Hz, " << row.ppm << " ppm");
        Start(UsbSim::BuildProductDescriptors(
                  {.audioClass = row.audioClass, .inChannels = 2, .feedback = true}),
              StreamingRecord(true, true));
        device->SetClockOffsetPpm(row.ppm);
        ASSERT_EQ(StartStreaming(row.rate), STATUS_SUCCESS);
        Run(2000);
        device->ClearOutPackets();
        Run(1000);
        ASSERT_TRUE(transport->FeedbackValid());
        uint64_t samples = 0;
        for (const UsbSim::OutPacketRecord& packet : device->OutPackets()) {
            samples += packet.endpoint == 0x01 ? packet.bytes.size() / 6 : 0;
        }
        const double clock = row.rate * (1.0 + row.ppm / 1e6);
        EXPECT_NEAR(static_cast<double>(samples), clock, 2.0);
        EXPECT_EQ(restarts, 0);
        StopStreaming();
        Unplug();
    }
}

}  // namespace
