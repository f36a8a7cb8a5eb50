// The product's device model on the real engine with devices that carry the product's ids but
// another format: the engine's start refuses them before a transfer reads past the output ring.
#include <chrono>

#include "EngineModelFixture.h"

namespace {

using namespace Platform::Kernel;
using namespace std::chrono_literals;

struct ForeignFormatRow
{
    const char* name;
    UsbSim::ProductVariant variant;
    ULONG rateIndex;
};

void PrintTo(const ForeignFormatRow& row, std::ostream* out)
{
    *out << row.name;
}

class ForeignFormats : public EngineModelFixture,
                       public ::testing::WithParamInterface<ForeignFormatRow>
{
};

TEST_P(ForeignFormats, TheEngineDoesNotStream)
{
    const ForeignFormatRow& row = GetParam();
    ASSERT_NE(PlugIn(UsbSim::BuildProductDescriptors(row.variant), true), nullptr);
    UsbStreamingEngine* engine = Engine();
    ASSERT_NE(engine, nullptr);
    LONG configurationIndex = 0;
    engine->ChangeRate(&configurationIndex, row.rateIndex);
    Listener()->active = true;
    engine->Routing()->SetTransportMode(1);
    RunPending();
    AdvanceTime(200ms);
    EXPECT_FALSE(engine->IsStreaming());
    EXPECT_FALSE(engine->Transport()->AlternateSettingsActive());
    EXPECT_TRUE(UsbDevice().OutPackets().empty());
    EXPECT_EQ(Bus().PendingRequests(), 0u);
    Listener()->active = false;
    engine->Routing()->SetTransportMode(0);
    RunPending();
}

INSTANTIATE_TEST_SUITE_P(
    Variants, ForeignFormats,
    ::testing::Values(ForeignFormatRow{"TwentySixChannelsAt96k", {.outChannels = 26}, 2},
                      ForeignFormatRow{"Mono", {.outChannels = 1}, 1},
                      ForeignFormatRow{"EightChannels", {.outChannels = 8}, 1},
                      ForeignFormatRow{"SixteenBit", {.subslotBytes = 2, .bitResolution = 16}, 1},
                      ForeignFormatRow{
                          "ThirtyTwoBit", {.subslotBytes = 4, .bitResolution = 32}, 1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
