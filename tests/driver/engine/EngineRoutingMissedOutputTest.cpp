// The device side of the stream set when the USB layer's requests do not follow the chain of frame
// keys: the streams are told with the next routing period.
#include "RoutingFixture.h"

namespace {

class MissedOutputTest : public RoutingTest
{
protected:
    void SetUp() override
    {
        RoutingTest::SetUp();
        Routing().SetStreamSink(&sink);
    }
    void TearDown() override
    {
        Routing().SetStreamSink(nullptr);
        RoutingTest::TearDown();
    }

    RecordingSink sink;
    ULONG key = 100;
};

// Output the device asked for but could not be given, or given at a guessed place, reaches the
// streams as a discontinuity with the next period, once.
TEST_F(MissedOutputTest, MarksTheNextPeriodOnce)
{
    ConfigureProduct(0, 1);
    struct Request
    {
        ULONG key;
        ULONG previousKey;
        bool missed;
    };
    const Request cases[][2] = {
        {{10, 9, false}, {11, 10, false}},  // a chain in order
        {{20, 19, false}, {18, 17, true}},  // a request older than the chain
        {{30, 29, false}, {33, 32, true}},  // the chain broke: placed by a guess
    };
    for (const auto& requests : cases) {
        Routing().ResetForStart(false);
        sink.periods.clear();
        for (const Request& request : requests) {
            PVOID data = nullptr;
            Routing().GetDeviceOutputData(request.key, 48, 0, &data, false, request.previousKey,
                                          48);
        }
        Routing().RoutingTick(key++, nullptr, 48, 0, 48, 0);
        Routing().RoutingTick(key++, nullptr, 48, 0, 48, 0);
        ASSERT_EQ(sink.periods.size(), 2u);
        const bool missed = requests[1].missed;
        EXPECT_EQ((sink.periods[0].flags & kFirstPeriodFlag) != 0, missed) << requests[1].key;
        EXPECT_EQ(sink.periods[1].flags & kFirstPeriodFlag, 0) << "only once";
    }
}

}  // namespace
