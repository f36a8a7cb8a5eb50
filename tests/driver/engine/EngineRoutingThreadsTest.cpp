// The stream set at DISPATCH_LEVEL and under concurrent use: writers, the routing period, the
// device side and the mixer and meter properties from their own threads.
#include <atomic>
#include <thread>

#include "KernelTestApi.h"
#include "RoutingFixture.h"

namespace {

// Runs body at DISPATCH_LEVEL, as completion routines and spin-lock holders do.
template <typename Body>
void AtDispatch(Body body)
{
    KIRQL old = 0;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    body();
    KeLowerIrql(old);
}

TEST_F(RoutingTest, EveryEntryPointRunsAtDispatchLevel)
{
    RecordingSink sink;
    AtDispatch([&] {
        Routing().SetStreamSink(&sink);
        const StreamConfiguration first = ProductConfiguration(0);
        ASSERT_EQ(Routing().ConfigureRouting(&first, 1), 0);
        // The rings are rebuilt at a raised level: the old device memory waits for PASSIVE_LEVEL.
        const StreamConfiguration second = ProductConfiguration(1);
        ASSERT_EQ(Routing().ConfigureRouting(&second, 1), 0);
        Routing().ResetForStart(false);
        LONG position = 100;
        std::vector<uint8_t> bytes(48 * 6);
        PVOID buffers[] = {bytes.data()};
        EXPECT_EQ(Routing().RenderIntoDevice(1, &position, buffers, 48, kSampleInt24LE, 2, 0), 0);
        PVOID data = bytes.data();
        Routing().GetDeviceOutputData(1, 48, 0, &data, true, 0, 0);
        Routing().CancelPacket(0, bytes.data());
        EXPECT_EQ(Routing().RoutingTick(1, nullptr, 48, 0, 48, 48), sink.periodAnswer);
        LONG index = 1;
        EXPECT_EQ(Routing().ChangeRate(&index, 0), 44100u);
        EXPECT_EQ(Routing().SetTransportMode(1), 0);
        EXPECT_EQ(Routing().SetKeepRunningSetting(true), 0);
        SampleGain gains[2] = {};
        EXPECT_EQ(Routing().ReadMatrixRow(0, 0, 2, gains), STATUS_SUCCESS);
        EXPECT_EQ(Routing().WriteMatrixRow(0, 0, 2, gains), STATUS_SUCCESS);
        Routing().MarkMixerUsed();
        ULONG peaks[64];
        EXPECT_EQ(Routing().TakePeaks(false, peaks, 64), 2u);
        Routing().ResetRings();
        Routing().SetStreamSink(nullptr);
    });
}

TEST_F(RoutingTest, WritersPeriodsTheDeviceAndTheMixerRunTogether)
{
    ConfigureProduct(0, 1);
    RecordingSink sink;
    sink.periodAnswer = 48;
    Routing().SetStreamSink(&sink);
    std::atomic<bool> stop{false};
    constexpr int kPeriods = 3000;

    std::thread writer([&] {
        std::vector<int32_t> samples(96, 0x10 << 8);
        std::vector<uint8_t> bytes = Packed24(samples);
        PVOID buffers[] = {bytes.data()};
        LONG position = 0;
        while (!stop.load()) {
            AtDispatch([&] {
                const LONG result =
                    Routing().RenderIntoDevice(0, &position, buffers, 48, kSampleInt24LE, 2, 0);
                EXPECT_TRUE(result >= 0 || result == kRenderNoRoom || result == kRenderTooLate)
                    << result;
            });
        }
    });
    std::thread mixer([&] {
        const SampleGain row[2] = {kUnityGain / 2, kUnityGain / 2};
        ULONG peaks[64];
        while (!stop.load()) {
            AtDispatch([&] {
                Routing().WriteMatrixRow(0, 0, 2, row);
                Routing().MarkMixerUsed();
                Routing().TakePeaks(true, peaks, 64);
                Routing().TakePeaks(false, peaks, 64);
            });
        }
    });

    std::vector<uint8_t> copies[4];
    for (auto& copy : copies) {
        copy.resize(48 * 6);
    }
    for (int slot = 0; slot < kPeriods; ++slot) {
        AtDispatch([&] {
            PVOID data = copies[slot % 4].data();
            Routing().GetDeviceOutputData(static_cast<ULONG>(slot), 48, 0, &data, true,
                                          static_cast<ULONG>(slot - 1), 48);
            if (slot >= 3) {
                Routing().CancelPacket(0, copies[(slot - 3) % 4].data());
            }
            EXPECT_EQ(Routing().RoutingTick(static_cast<ULONG>(slot), nullptr, 48, 0, 48, 48), 48);
        });
    }
    stop = true;
    writer.join();
    mixer.join();
    EXPECT_EQ(sink.periods.size(), static_cast<size_t>(kPeriods));
    Routing().SetStreamSink(nullptr);
}

}  // namespace
