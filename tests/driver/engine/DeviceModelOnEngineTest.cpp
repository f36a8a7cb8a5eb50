// The device model's mixer, peak meters and keep-running switch on the real streaming engine:
// what a control client sets through the model is what the device then plays.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>

#include "EngineModelFixture.h"
#include "device/DeviceModelRecords.h"

namespace {

using namespace std::chrono_literals;
using Platform::Kernel::AdvanceTime;
using Platform::Kernel::RunPending;

class DeviceModelOnEngineTest : public EngineModelFixture
{
protected:
    void SetUp() override
    {
        EngineModelFixture::SetUp();
        ASSERT_NE(PlugIn(true), nullptr);
        model_ = parts_.lastModel;
        ASSERT_NE(model_, nullptr);
    }
    void TearDown() override
    {
        if (Listener() != nullptr && Listener()->active) {
            Listener()->active = false;
            Engine()->Routing()->SetTransportMode(0);
            RunPending();
        }
        EngineModelFixture::TearDown();
    }

    static std::unique_ptr<MixerBlock> Block(ULONG firstRow, ULONG rowCount, ULONG firstColumn,
                                             ULONG columnCount)
    {
        auto block = std::make_unique<MixerBlock>();
        std::memset(block.get(), 0, sizeof *block);
        block->firstRow = firstRow;
        block->rowCount = rowCount;
        block->firstColumn = firstColumn;
        block->columnCount = columnCount;
        return block;
    }

    // Whether each of the two outputs carried anything but silence since the last call.
    std::pair<bool, bool> OutputsHeard()
    {
        bool left = false;
        bool right = false;
        const UsbSim::OutSampleArray received = UsbDevice().OutSamples(0x01);
        for (size_t i = 0; i < received.size(); ++i) {
            left = left || received.Sample(i, 0) != 0;
            right = right || received.Sample(i, 1) != 0;
        }
        UsbDevice().ClearOutPackets();
        return {left, right};
    }

    ProductDeviceModel* model_ = nullptr;
};

TEST_F(DeviceModelOnEngineTest, MixerReadsTheEnginesMatrixAndItsGainsReachTheDevice)
{
    auto identity = Block(0, 2, 0, 2);
    ASSERT_EQ(model_->GetMixer(identity.get(), sizeof(MixerBlock)), STATUS_SUCCESS);
    EXPECT_EQ(identity->gains[0], kUnityGain);
    EXPECT_EQ(identity->gains[1], 0);
    EXPECT_EQ(identity->gains[64], 0);
    EXPECT_EQ(identity->gains[65], kUnityGain);

    StartStreaming(1);
    AdvanceTime(100ms);
    EXPECT_EQ(OutputsHeard(), std::make_pair(true, true));

    // Output 0 muted: its row all zero.
    auto mute = Block(0, 1, 0, 2);
    ASSERT_EQ(model_->SetMixer(mute.get(), sizeof(MixerBlock)), STATUS_SUCCESS);
    AdvanceTime(100ms);
    OutputsHeard();  // what was already queued before the change
    AdvanceTime(100ms);
    EXPECT_EQ(OutputsHeard(), std::make_pair(false, true));

    auto readBack = Block(0, 2, 0, 2);
    ASSERT_EQ(model_->GetMixer(readBack.get(), sizeof(MixerBlock)), STATUS_SUCCESS);
    EXPECT_EQ(readBack->gains[0], 0);
    EXPECT_EQ(readBack->gains[65], kUnityGain);
}

// A block reaching past the engine's 2 x 2 matrix fails, but the rows inside it are still done.
TEST_F(DeviceModelOnEngineTest, MixerRowsPastTheEnginesMatrixFailAlone)
{
    auto set = Block(1, 2, 0, 2);
    set->gains[64] = kUnityGain / 2;
    set->gains[65] = kUnityGain / 4;
    set->gains[128] = 7;
    EXPECT_EQ(model_->SetMixer(set.get(), sizeof(MixerBlock)), STATUS_UNSUCCESSFUL);
    auto get = Block(0, 3, 0, 2);
    EXPECT_EQ(model_->GetMixer(get.get(), sizeof(MixerBlock)), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(get->gains[0], kUnityGain) << "row 0 untouched";
    EXPECT_EQ(get->gains[64], kUnityGain / 2);
    EXPECT_EQ(get->gains[65], kUnityGain / 4);
    EXPECT_EQ(get->gains[128], 0) << "row 2 is not the engine's";
    auto wide = Block(0, 1, 1, 2);
    EXPECT_EQ(model_->SetMixer(wide.get(), sizeof(MixerBlock)), STATUS_UNSUCCESSFUL);
}

// Both sides follow the audio and are cleared by reading: the outputs, and on the input side the
// mix bus the streams are summed into (the product has no inputs of its own). Only the engine's
// slots are written; the rest of the caller's buffer stays as it was.
TEST_F(DeviceModelOnEngineTest, PeaksFollowTheAudioAndReadingClearsThem)
{
    ULONG peaks[kMaxPeakValues];
    ASSERT_EQ(model_->GetOutputPeaks(peaks), STATUS_SUCCESS);  // metering wanted from here
    StartStreaming(1);
    AdvanceTime(200ms);
    using Read = NTSTATUS (ProductDeviceModel::*)(ULONG*);
    for (Read read : {static_cast<Read>(&ProductDeviceModel::GetOutputPeaks),
                      static_cast<Read>(&ProductDeviceModel::GetInputPeaks)}) {
        SCOPED_TRACE(read == static_cast<Read>(&ProductDeviceModel::GetOutputPeaks) ? "output"
                                                                                    : "input");
        std::memset(peaks, 0xEE, sizeof peaks);
        ASSERT_EQ((model_->*read)(peaks), STATUS_SUCCESS);
        EXPECT_GT(peaks[0], 0u);
        EXPECT_GT(peaks[1], 0u);
        EXPECT_NE(peaks[0], 0xEEEEEEEEu);
        EXPECT_EQ(peaks[2], 0xEEEEEEEEu) << "two slots on each side";
        ASSERT_EQ((model_->*read)(peaks), STATUS_SUCCESS);
        EXPECT_EQ(peaks[0], 0u);
        EXPECT_EQ(peaks[1], 0u);
    }
    AdvanceTime(50ms);
    ASSERT_EQ(model_->GetOutputPeaks(peaks), STATUS_SUCCESS);
    EXPECT_GT(peaks[0], 0u) << "audio ran in between";
}

TEST_F(DeviceModelOnEngineTest, KeepRunningStreamsWithoutStreamsUntilCleared)
{
    UCHAR on = 9;
    ASSERT_EQ(model_->GetKeepRunning(&on), STATUS_SUCCESS);
    EXPECT_EQ(on, 0);
    ASSERT_EQ(model_->SetKeepRunning(true), STATUS_SUCCESS);
    ASSERT_EQ(model_->GetKeepRunning(&on), STATUS_SUCCESS);
    EXPECT_EQ(on, 1);
    RunPending();
    AdvanceTime(300ms);
    EXPECT_TRUE(Engine()->IsStreaming());
    EXPECT_FALSE(UsbDevice().OutSamples(0x01).empty()) << "the device is sent its periods";

    ASSERT_EQ(model_->SetKeepRunning(false), STATUS_SUCCESS);
    RunPending();
    AdvanceTime(200ms);
    RunPending();
    EXPECT_FALSE(Engine()->IsStreaming());
    ASSERT_EQ(model_->GetKeepRunning(&on), STATUS_SUCCESS);
    EXPECT_EQ(on, 0);
}

}  // namespace
