// The stream set's configuration: ring capacity, matrix and peak sizes, rate choice, the
// listener's and the engine's notifications, and the failures.
#include "RoutingFixture.h"

namespace {

TEST_F(RoutingTest, CapacityIsThreeBlocksPlusTheQueuedTransfersAtTheHighestRate)
{
    RecordingSink sink;
    Routing().SetStreamSink(&sink);
    const StreamConfiguration record = ProductConfiguration(0);
    ASSERT_EQ(Routing().ConfigureRouting(&record, 1), 0);

    // 3 x 512 + 3 x 96000 / 1000.
    std::vector<uint8_t> packet(48 * 6);
    PVOID data = nullptr;
    Routing().GetDeviceOutputData(10, 48, 0, &data, false, 9, 48);
    EXPECT_NE(data, nullptr);
    LONG index = -1;
    ULONG rateIndex = 9;
    ULONG rate = 0;
    Routing().GetRoutingState(&index, &rateIndex, &rate);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(rateIndex, 1u);
    EXPECT_EQ(rate, 48000u);
    EXPECT_EQ(sink.configurationsApplied, std::vector<ULONG>{0});
    EXPECT_EQ(engine.applied, std::vector<ULONG>{0});
    EXPECT_EQ(sink.rateChanges, (std::vector<RecordingSink::RateChange>{{0, 48000}}));
    Routing().SetStreamSink(nullptr);
}

}  // namespace
