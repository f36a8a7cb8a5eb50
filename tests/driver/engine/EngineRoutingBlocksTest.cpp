// A period's blocks placed together (RenderBlocks) against the same blocks placed one after
// another (RenderIntoDevice) on a twin stream set: the same answers and positions, the same output
// ring to the byte (its guard mirror included), the same bounce copies and the same mix bus, as its
// meters see it, whether the blocks share their place in the rings or not.
#include <KernelTestApi.h>

#include <memory>

#include "RoutingFixture.h"

namespace {

constexpr ULONG kCapacity = 1824;  // configuration 0: 3 x 512 + 3 x 96
constexpr ULONG kGuard = 399;      // the engine's reserve of 400, less one
constexpr ULONG kFrameBytes = 6;   // 24-bit stereo
constexpr ULONG kPeriod = 96;

struct Block
{
    LONG position;
    ULONG frames;
    ULONG channels;  // interleaved channels; 0: one mono buffer per mix-bus channel
    ULONG startChannel = 0;
    int32_t level = 0x1000;  // 0: a null sample buffer; beyond 24 bits the sums clip
    ULONG format = kSampleInt32LE;
    ULONG configurationIndex = 0;
};

enum class Mixer
{
    Unused,
    Identity,  // the mixer used, every row unit
    Silent,    // the mixer used, every row silent
    Spread,    // the mixer used with gains that are not unit
};

struct BlocksCase
{
    const char* name;
    std::vector<Block> blocks;
    Mixer mixer = Mixer::Unused;
    bool bounceCopy = false;   // a copy of frames 680 .. 727 handed out before the blocks
    ULONG periodsBefore = 10;  // consumed before the blocks: the read index at 960
};

void PrintTo(const BlocksCase& c, std::ostream* out)
{
    *out << c.name;
}

// One block's samples: a ramp from its level, channels apart, 32-bit containers.
std::vector<int32_t> Samples(const Block& block, ULONG channels, ULONG seed)
{
    std::vector<int32_t> samples;
    for (ULONG frame = 0; frame < block.frames; ++frame) {
        for (ULONG channel = 0; channel < channels; ++channel) {
            const int64_t value = int64_t{block.level} * (frame % 7 + 1) * (channel == 0 ? 1 : -1) +
                                  int64_t{seed} * 256;
            samples.push_back(static_cast<int32_t>(
                value > INT32_MAX ? INT32_MAX : (value < INT32_MIN ? INT32_MIN : value)));
        }
    }
    return samples;
}

class RoutingBlocksTest : public Platform::Kernel::Testing::KernelTest,
                          public ::testing::WithParamInterface<BlocksCase>
{
protected:
    void SetUp() override
    {
        KernelTest::SetUp();
        for (auto& engine : engines) {
            engine = std::make_unique<RoutingTestEngine>();
            const StreamConfiguration record = ProductConfiguration(0);
            ASSERT_EQ(engine->routing.ConfigureRouting(&record, 1), 0);
            engine->routing.SetStartupInterval(0);
            engine->routing.TakePeaks(true, nullptr, 0);  // metering on
        }
        for (int e = 0; e < 2; ++e) {
            rings[e] = Ring(engines[e]->routing);
            ASSERT_NE(rings[e], nullptr);
        }
    }
    void TearDown() override
    {
        for (auto& engine : engines) {
            engine->routing.ReleaseRouting();
            engine.reset();
        }
        KernelTest::TearDown();
    }

    static void SetMixer(EngineRouting& routing, Mixer mixer)
    {
        if (mixer == Mixer::Unused) {
            return;
        }
        const SampleGain rows[3][2][2] = {{{kUnityGain, 0}, {0, kUnityGain}},
                                          {{0, 0}, {0, 0}},
                                          {{kUnityGain / 2, kUnityGain / 2}, {kUnityGain, 0}}};
        const auto& table = rows[static_cast<int>(mixer) - 1];
        ASSERT_EQ(routing.WriteMatrixRow(0, 0, 2, table[0]), STATUS_SUCCESS);
        ASSERT_EQ(routing.WriteMatrixRow(1, 0, 2, table[1]), STATUS_SUCCESS);
        routing.MarkMixerUsed();
    }

    // The first frame of the output ring, as the device side's first request after a start gets
    // it.
    static const uint8_t* Ring(EngineRouting& routing)
    {
        routing.ResetForStart(false);
        PVOID data = nullptr;
        routing.GetDeviceOutputData(1, 1, 0, &data, false, 0, 0);
        routing.ResetForStart(false);
        return static_cast<const uint8_t*>(data);
    }

    static void TakeBounceCopy(EngineRouting& routing, std::vector<uint8_t>* packet)
    {
        PVOID data = packet->data();
        routing.GetDeviceOutputData(50, 680, 0, &data, false, 49, 0);  // walks to frame 680
        data = packet->data();
        routing.GetDeviceOutputData(51, 48, 0, &data, false, 50, 680);
        ASSERT_EQ(data, packet->data()) << "a copy, not the ring";
    }

    // The mix bus as the meters see it: its peaks per period while the periods consume it.
    static std::vector<ULONG> Periods(EngineRouting& routing, ULONG count)
    {
        std::vector<ULONG> peaks;
        PVOID inputs[1] = {};
        for (ULONG key = 0; key < count; ++key) {
            routing.RoutingTick(key, inputs, kPeriod, 0, kPeriod, 0);
            ULONG taken[2] = {};
            EXPECT_EQ(routing.TakePeaks(true, taken, 2), 2u);
            peaks.insert(peaks.end(), taken, taken + 2);
        }
        return peaks;
    }

    std::unique_ptr<RoutingTestEngine> engines[2];  // blocks one by one, blocks together
    const uint8_t* rings[2] = {};
};

TEST_P(RoutingBlocksTest, TogetherTheyLandAsPlacedOneAfterAnother)
{
    const BlocksCase& c = GetParam();
    EngineRouting& oneByOne = engines[0]->routing;
    EngineRouting& together = engines[1]->routing;
    SetMixer(oneByOne, c.mixer);
    SetMixer(together, c.mixer);
    std::vector<uint8_t> packets[2];
    for (int e = 0; e < 2; ++e) {
        Periods(engines[e]->routing, c.periodsBefore);
        packets[e].assign(48 * kFrameBytes, 0xEE);
        if (c.bounceCopy) {
            TakeBounceCopy(engines[e]->routing, &packets[e]);
        }
    }

    // Every block's buffers: one interleaved buffer, or one mono buffer per mix-bus channel.
    const size_t count = c.blocks.size();
    std::vector<std::vector<int32_t>> samples;
    std::vector<std::vector<PVOID>> pointers(count);
    for (size_t i = 0; i < count; ++i) {
        const Block& b = c.blocks[i];
        const ULONG buffers = b.channels == 0 ? 2 : 1;
        for (ULONG k = 0; k < buffers; ++k) {
            samples.push_back(Samples(b, b.channels == 0 ? 1 : b.channels, ULONG(i * 2 + k)));
            pointers[i].push_back(b.level == 0 ? nullptr : samples.back().data());
        }
    }
    std::vector<EngineRouting::RenderRequest> requests;
    for (size_t i = 0; i < count; ++i) {
        const Block& b = c.blocks[i];
        requests.push_back({b.configurationIndex, b.position, pointers[i].data(), b.frames,
                            b.format, b.channels, b.startChannel, 0});
    }
    together.RenderBlocks(requests.data(), static_cast<ULONG>(count));
    for (size_t i = 0; i < count; ++i) {
        const Block& b = c.blocks[i];
        LONG position = b.position;
        const LONG result =
            oneByOne.RenderIntoDevice(b.configurationIndex, &position, pointers[i].data(), b.frames,
                                      b.format, b.channels, b.startChannel);
        EXPECT_EQ(requests[i].result, result) << "block " << i;
        EXPECT_EQ(requests[i].position, position) << "block " << i;
    }

    for (ULONG frame = 0; frame < kCapacity + kGuard; ++frame) {
        ASSERT_EQ(std::memcmp(rings[0] + frame * kFrameBytes, rings[1] + frame * kFrameBytes,
                              kFrameBytes),
                  0)
            << "output frame " << frame;
    }
    EXPECT_EQ(packets[0], packets[1]) << "the bounce copy";
    const ULONG lap = kCapacity / kPeriod + 1;
    EXPECT_EQ(Periods(oneByOne, lap), Periods(together, lap));
}

// Stereo streams at one place, as a period's streams started together are.
std::vector<Block> Together(LONG position, ULONG count, int32_t level = 0x1000)
{
    return std::vector<Block>(count, Block{position, kPeriod, 2, 0, level});
}

std::vector<Block> Joined(std::vector<Block> a, const std::vector<Block>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const BlocksCase kCases[] = {
    {"SharedPlace", Together(1000, 4)},
    {"SharedPlaceAcrossTheRingsEnd", Together(1780, 3)},
    {"SharedPlaceInsideTheGuard", Together(10, 3)},
    {"SharedPlaceBeyondTheCapacity", Together(kCapacity + 1100, 2)},
    {"TwoPlacesInTurn", Joined(Together(1000, 2), Together(1096, 2))},
    {"PlacesAlternating", Joined(Joined(Together(1000, 1), Together(1096, 1)), Together(1000, 1))},
    {"ClippingSumsInOrder", Joined(Together(1300, 3, 0x7FFFF000), Together(1300, 2, -0x7FFFF000))},
    {"OtherLengthsAtOnePlace",
     {{1000, kPeriod, 2}, {1000, 48, 2}, {1000, 48, 2}, {1000, kPeriod, 2}}},
    {"MonoBuffersAmongInterleaved", {{1000, kPeriod, 2}, {1000, kPeriod, 0}, {1000, kPeriod, 2}}},
    {"SecondChannelAndTooWide",
     {{1000, kPeriod, 1, 1}, {1000, kPeriod, 1, 0}, {1000, kPeriod, 2, 1}, {1000, kPeriod, 1, 1}}},
    {"NullSamples", {{1000, kPeriod, 2}, {1000, kPeriod, 2, 0, 0}, {1000, kPeriod, 2}}},
    {"OtherSampleFormats",
     {{1000, kPeriod, 2, 0, 0x1000, kSampleInt24LE},
      {1000, kPeriod, 2, 0, 0x1000, kSampleInt16LE}}},
    {"LateCrampedStaleUnplacedAndUnknown",
     {{1000, kPeriod, 2},
      {900, kPeriod, 2},
      {400, kPeriod, 2},
      {1000, kPeriod, 2, 0, 0x1000, kSampleInt32LE, 3},
      {-1, kPeriod, 2},
      {1000, kPeriod, 2, 0, 0x1000, 0x1234},
      {1000, kPeriod, 2}}},
    {"MixerUsedWithUnitRows", Together(1000, 3), Mixer::Identity},
    {"MixerUsedWithSilentRows", Together(1000, 3), Mixer::Silent},
    {"MixerUsedWithGains", Together(1000, 3), Mixer::Spread},
    {"BounceCopyOfTheSharedPlace", Together(680, 3), Mixer::Unused, true, 0},
    {"BounceCopyAndOtherPlaces", Joined(Together(640, 2), Together(700, 2)), Mixer::Unused, true,
     0},
};

INSTANTIATE_TEST_SUITE_P(Cases, RoutingBlocksTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
