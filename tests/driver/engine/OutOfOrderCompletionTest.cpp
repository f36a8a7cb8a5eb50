// The product's device model on the real engine while the bus completes transfers late and out of
// order (completion routines run on several processors, so a later transfer may be reported
// first): every transfer is served the data of its own place in the stream, and after the
// disturbance the device receives every sample in order.
#include <chrono>

#include "EngineModelFixture.h"
#include "device/PersistedSetting.h"

namespace {

using namespace Platform::Kernel;
using namespace std::chrono_literals;
using Platform::Ks::PnpRequest;

constexpr ULONG kRates[] = {44100, 48000, 96000};

struct DisturbanceRow
{
    const char* name;
    int audioClass;  // 2 enumerates at high speed
    ULONG rateIndex;
    ULONG transfersAhead;
};

void PrintTo(const DisturbanceRow& row, std::ostream* out)
{
    *out << row.name;
}

// What the device received of the counting pattern: samples lost (silence or values skipped) and
// samples that came again or out of order.
struct ReceivedCount
{
    uint64_t lost = 0;
    uint64_t backwards = 0;
    uint64_t received = 0;
    int32_t expected = 1;

    void Take(const std::vector<int32_t>& values)
    {
        for (int32_t value : values) {
            ++received;
            if (value == 0) {
                ++lost;
                continue;
            }
            const int32_t ahead = (value - expected + kPatternPeriod) % kPatternPeriod;
            if (ahead > kPatternPeriod / 2) {
                ++backwards;
            } else {
                lost += static_cast<uint64_t>(ahead);
            }
            expected = value % kPatternPeriod + 1;
        }
    }
};

class OutOfOrderCompletions : public EngineModelFixture,
                              public ::testing::WithParamInterface<DisturbanceRow>
{
};

TEST_P(OutOfOrderCompletions, EveryTransferIsServedItsOwnData)
{
    const DisturbanceRow& row = GetParam();
    Platform::Ks::Device* device =
        PlugIn(UsbSim::BuildProductDescriptors({.audioClass = row.audioClass}), false);
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(StorePersistedValue(Engine(), row.transfersAhead), STATUS_SUCCESS);
    ASSERT_EQ(device->Send(PnpRequest::Start), STATUS_SUCCESS);
    StartStreaming(row.rateIndex);
    const ULONG rate = kRates[row.rateIndex];
    UsbStreamingEngine* engine = Engine();

    AdvanceTime(1s);
    ReceivedCount before;
    before.Take(TakeReceived());
    ASSERT_EQ(before.lost + before.backwards, 0u) << "undisturbed";
    ASSERT_GT(before.received, rate / 2);

    // Three transfers complete 5 ms late; the ones after them complete on time, before them.
    ReceivedCount during;
    during.expected = before.expected;
    Bus().DelayIsoCompletions(5, 3);
    AdvanceTime(100ms);
    during.Take(TakeReceived());
    AdvanceTime(900ms);
    during.Take(TakeReceived());
    // At most the frames of the three disturbed transfers.
    const ULONG framesPerTransfer = engine->Transport()->FramesPerTransfer();
    EXPECT_LE(during.lost, 3ull * framesPerTransfer * (rate / 1000 + 1));
    EXPECT_EQ(during.backwards, 0u);

    ReceivedCount after;
    after.expected = during.expected;
    AdvanceTime(2s);
    after.Take(TakeReceived());
    EXPECT_EQ(after.lost, 0u) << "after the disturbance";
    EXPECT_EQ(after.backwards, 0u);
    EXPECT_GE(after.received, 2ull * rate - rate / 100);
    EXPECT_TRUE(engine->IsStreaming());
    EXPECT_TRUE(UsbDevice().Violations().empty());
    Listener()->active = false;
    EXPECT_GE(engine->Routing()->SetTransportMode(0), 0);
    RunPending();
}

INSTANTIATE_TEST_SUITE_P(Speeds, OutOfOrderCompletions,
                         ::testing::Values(DisturbanceRow{"FullSpeed48000Ahead3", 1, 1, 3},
                                           DisturbanceRow{"FullSpeed48000Ahead6", 1, 1, 6},
                                           DisturbanceRow{"FullSpeed96000Ahead3", 1, 2, 3},
                                           DisturbanceRow{"FullSpeed96000Ahead6", 1, 2, 6},
                                           DisturbanceRow{"HighSpeed48000Ahead3", 2, 1, 3},
                                           DisturbanceRow{"HighSpeed48000Ahead6", 2, 1, 6},
                                           DisturbanceRow{"HighSpeed96000Ahead3", 2, 2, 3},
                                           DisturbanceRow{"HighSpeed96000Ahead6", 2, 2, 6}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
