// The product's device model: its tables, rates, latencies, clock, configurations, mixer and
// peaks, on a started device.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "ProductModelFixture.h"
#include "engine/FirmwareVersion.h"
#include "engine/MidiConfiguration.h"

namespace {

constexpr LONG kEInvalidArg = static_cast<LONG>(0x80070057);

class DeviceModelTest : public ProductModelFixture
{
protected:
    void SetUp() override
    {
        ProductModelFixture::SetUp();
        device_ = PlugIn(true, 0x0123);
        ASSERT_NE(device_, nullptr);
        ASSERT_NE(Model(), nullptr);
        model_ = Model();
        engine_ = Engine();
    }

    Platform::Ks::Device* device_ = nullptr;
    ProductDeviceModel* model_ = nullptr;
    StandInEngine* engine_ = nullptr;
};

TEST_F(DeviceModelTest, ConfigurationsComeFromTheProductTables)
{
    struct Row
    {
        ULONG index;
        LONG result;
        ULONG expectedIndex;
        ULONG rateCount;
    };
    const Row rows[] = {
        {0, 0, 0, 3}, {1, 0, 1, 2}, {2, kEInvalidArg, 0, 3}, {0xFFFFFFFF, kEInvalidArg, 0, 3}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.index);
        StreamConfiguration record;
        std::memset(&record, 0xAB, sizeof record);
        EXPECT_EQ(model_->GetConfiguration(row.index, &record), row.result);
        EXPECT_EQ(record.index, row.expectedIndex);
        EXPECT_EQ(record.deviceOutputChannels, 2u);
        EXPECT_EQ(record.outputChannels, 2u);
        EXPECT_EQ(record.outputChannelKinds[0], ChannelKindTag("line"));
        EXPECT_EQ(record.outputChannelKinds[1], ChannelKindTag("line"));
        EXPECT_EQ(std::u16string(record.outputChannelNames[0]), u"Out 1");
        EXPECT_EQ(std::u16string(record.outputChannelNames[1]), u"Out 2");
        EXPECT_EQ(record.outputEndpointCount, 0u);
        ASSERT_EQ(record.outputLayouts.count, 1u);
        EXPECT_EQ(record.outputLayouts.items[0].format, 0x80000002u);
        EXPECT_EQ(record.outputLayouts.items[0].channelCount, 2u);
        EXPECT_EQ(record.outputLayouts.items[0].excludedCount, 0u);
        EXPECT_EQ(record.reservedCount, 2u);
        EXPECT_EQ(record.deviceInputChannels, 0u);
        EXPECT_EQ(record.inputChannels, 0u);
        EXPECT_EQ(record.inputLayouts.count, 0u);
        EXPECT_EQ(record.inputEndpointCount, 0u);
        ASSERT_EQ(record.rateCount, row.rateCount);
        const ULONG rates[] = {44100, 48000, 96000};
        const ULONG framesPerMs[] = {46, 50, 99};
        for (ULONG i = 0; i < record.rateCount; ++i) {
            EXPECT_EQ(record.rates[i], rates[i]);
            EXPECT_EQ(record.framesPerMs[i], framesPerMs[i]);
            EXPECT_EQ(record.minimumBufferSize[i], 16u);
        }
        EXPECT_EQ(record.maximumBufferSize, 2048u);
        EXPECT_EQ(record.ringBlockSize, 512u);
    }
}

TEST_F(DeviceModelTest, NearestRateTakesTheCloserNeighbourAndTiesGoDown)
{
    struct Row
    {
        ULONG configuration;
        ULONG rate;
        ULONG nearest;
        ULONG index;
    };
    const Row rows[] = {
        {0, 46050, 44100, 0}, {0, 46051, 48000, 1}, {0, 200000, 96000, 2}, {0, 8000, 44100, 0},
        {0, 48000, 48000, 1}, {0, 72000, 48000, 1}, {0, 72001, 96000, 2},  {0, 96000, 96000, 2},
        {1, 96000, 48000, 1}, {1, 44100, 44100, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.configuration << "/" << row.rate);
        StreamConfiguration configuration;
        ASSERT_EQ(model_->GetConfiguration(row.configuration, &configuration), 0);
        ULONG nearest = 0;
        EXPECT_EQ(FindNearestRate(row.rate, &nearest, configuration), row.index);
        EXPECT_EQ(nearest, row.nearest);
    }
    StreamConfiguration none{};
    ULONG nearest = 1;
    EXPECT_EQ(FindNearestRate(48000, &nearest, none), 0u);
    EXPECT_EQ(nearest, 0u);
}

TEST_F(DeviceModelTest, LatenciesFollowTheTransfersAheadAndTheLatencyTable)
{
    struct Row
    {
        ULONG transfersAhead;
        ULONG rate;
        ULONG buffer;
        ULONG first;
        ULONG second;
    };
    const Row rows[] = {
        {3, 48000, 512, 735, 635},
        {3, 44100, 512, 717, 625},  // e 46, half 69
        {1, 48000, 256, 256 + 75 + 48, 256 + 75 + 48},
        {0, 48000, 256, 256 + 75 + 48, 256 + 75 + 48},   // none ahead counts as one
        {3, 88200, 512, 512 + 2 * 99 + 148, 512 + 148},  // not in the latency table
        {3, 48000, 0xFFFFFFF0, 0xFFFFFFFF, 0xFFFFFFFF},  // saturates, never wraps
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.rate << "/" << row.transfersAhead);
        model_->SetCallbackDelay(row.transfersAhead);
        ULONG first = 0;
        ULONG second = 0;
        EXPECT_EQ(model_->GetLatencies(row.rate, row.buffer, &first, &second), STATUS_SUCCESS);
        EXPECT_EQ(first, row.first);
        EXPECT_EQ(second, row.second);
    }
}

TEST_F(DeviceModelTest, FirmwareVersionComesFromBcdDevice)
{
    ULONG version[4] = {9, 9, 9, 9};
    model_->GetFirmwareVersion(&version[0], &version[1], &version[2], &version[3]);
    EXPECT_EQ(version[0], 0u);
    EXPECT_EQ(version[1], 12u);
    EXPECT_EQ(version[2], 3u);
    EXPECT_EQ(version[3], 0u);

    struct Row
    {
        USHORT bcd;
        bool decimal;
        ULONG major, minor, revision;
    };
    const Row rows[] = {{0x0123, false, 0, 12, 3},
                        {0x0123, true, 1, 2, 3},
                        {0x1234, false, 1, 23, 4},
                        {0x1234, true, 12, 3, 4},
                        {0xFFFF, false, 15, 165, 15}};
    for (const Row& row : rows) {
        ULONG major, minor, revision, build = 7;
        DecodeFirmwareVersion(row.bcd, row.decimal, &major, &minor, &revision, &build);
        EXPECT_EQ(major, row.major) << row.bcd;
        EXPECT_EQ(minor, row.minor) << row.bcd;
        EXPECT_EQ(revision, row.revision) << row.bcd;
        EXPECT_EQ(build, 0u);
    }
}

TEST_F(DeviceModelTest, IdentityAndFixedAnswers)
{
    EXPECT_EQ(model_->GetVendorId(), 11134u);
    EXPECT_EQ(model_->GetProductId(), 23577u);
    EXPECT_EQ(std::u16string(model_->GetHardwareId()), u"USB\\VID_2B7E&PID_5C19&MI_00");
    EXPECT_EQ(std::u16string(model_->GetProductNameWide()), u"Quorvel");
    EXPECT_STREQ(model_->GetProductNameNarrow(), "Quorvel");
    EXPECT_EQ(model_->GetDefaultBufferSize(), 512u);
    EXPECT_EQ(model_->GetMaxRateKilohertz(), 96u);
    EXPECT_EQ(model_->GetMinimumBlock(), 16u);
    EXPECT_TRUE(model_->IsHighSpeed());
    ULONG outputs = 9, inputs = 9;
    model_->GetDeviceChannelCounts(&outputs, &inputs);
    EXPECT_EQ(outputs, 2u);
    EXPECT_EQ(inputs, 0u);
    ULONG count = 0;
    const ULONG* rates = nullptr;
    model_->GetSupportedRates(&count, &rates);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(rates[0], 44100u);
    EXPECT_EQ(rates[2], 96000u);
    for (ULONG rateIndex = 0; rateIndex < 3; ++rateIndex) {
        EXPECT_EQ(model_->GetBufferGranularity(rateIndex), 16u);
    }
    EXPECT_EQ(model_->GetBufferGranularity(3), 64u);  // past the table
    ULONG value = 1;
    EXPECT_EQ(model_->GetControlValue(&value), static_cast<LONG>(0x80004001));
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(model_->SetControlSwitch(true, 1), static_cast<LONG>(0x80004005));
    EXPECT_EQ(model_->SetOutputModeValue(1), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(model_->EnableOutputMode(true), STATUS_UNSUCCESSFUL);
    EXPECT_FALSE(model_->IsOutputModeActive());
    UCHAR info[1024];
    std::memset(info, 0x5A, sizeof info);
    EXPECT_EQ(model_->GetExtendedInfo(info), STATUS_SUCCESS);
    EXPECT_EQ(std::count(info, info + sizeof info, 0), 1024);
    EXPECT_EQ(model_->GetExtendedInfo(nullptr), STATUS_SUCCESS);
    MidiConfiguration midi{};
    midi.inputPortCount = 5;
    midi.outputPortCount = 5;
    EXPECT_EQ(model_->GetMidiConfiguration(4, &midi), STATUS_SUCCESS);
    EXPECT_EQ(midi.index, 4u);
    EXPECT_EQ(midi.inputPortCount, 0u);
    EXPECT_EQ(midi.outputPortCount, 0u);
    EXPECT_EQ(model_->MidiConfigurationIndex(), 0);
    EXPECT_EQ(model_->GetEngine(), model_->GetEngineAlias());
    EXPECT_EQ(engine_->startupInterval, 15u);
}

TEST_F(DeviceModelTest, OnlyTheInternalClockExistsAndReselectingItIsRefused)
{
    ClockSourceInfo info{9, 9, 9};
    EXPECT_EQ(model_->GetClockSourceInfo(&info), STATUS_SUCCESS);
    EXPECT_EQ(info.reserved, 0u);
    EXPECT_EQ(info.sourceCount, 1u);
    EXPECT_EQ(info.selectedSource, 0u);
    EXPECT_FALSE(model_->IsExternalClockSelected());

    EXPECT_EQ(model_->SetClockSource(0), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(model_->SetClockSource(1), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(model_->SetClockSource(-1), STATUS_UNSUCCESSFUL);
    EXPECT_FALSE(model_->IsExternalClockSelected());
    EXPECT_FALSE(model_->StatusTimerRunning());

    ClockSourceRecord record;
    std::memset(&record, 0xEE, sizeof record);
    EXPECT_EQ(model_->GetClockSourceRecord(&record), 0);
    EXPECT_EQ(record.count, 1u);
    EXPECT_EQ(record.entries[0].index, 0u);
    EXPECT_EQ(record.entries[0].isCurrent, 1u);
    EXPECT_STREQ(reinterpret_cast<const char*>(record.entries[0].name), "Internal");
    EXPECT_EQ(record.entries[1].index, 0u);  // unused entries are cleared

    GUID guid;
    std::memset(&guid, 0xEE, sizeof guid);
    EXPECT_EQ(model_->GetClockSourceGuid(0, &guid), STATUS_SUCCESS);
    const GUID zero{};
    EXPECT_EQ(std::memcmp(&guid, &zero, sizeof guid), 0);
    EXPECT_EQ(model_->GetClockSourceGuid(1, &guid), STATUS_UNSUCCESSFUL);

    EXPECT_EQ(model_->EvaluateClockStatus(), 1);
    EXPECT_EQ(model_->GetClockStatus(), 1);
    model_->PollStatus();
    EXPECT_EQ(model_->GetClockStatus(), 1);
}

TEST_F(DeviceModelTest, StartSetsConfigurationZeroAndTheRateInForce)
{
    EXPECT_EQ(model_->ConfigurationIndex(), 0);
    EXPECT_EQ(engine_->configuration.index, 0u);
    ASSERT_FALSE(engine_->calls.empty());
    EXPECT_EQ(engine_->calls.front(), "ConfigureRouting(0,-1)");
    EXPECT_EQ(engine_->calls.back(), "SetRate(0,0)");
    EXPECT_EQ(CountOf("NameEndpoints"), 1u);
    ULONG rateIndex = 0;
    LONG configuration = -1;
    rateIndex = model_->GetCurrentRateIndex(&configuration);
    EXPECT_EQ(configuration, 0);
    EXPECT_EQ(rateIndex, 0u);
    EXPECT_EQ(model_->GetCurrentRate(), 44100u);
    EXPECT_TRUE(model_->CanUseRate(96000));
    EXPECT_FALSE(model_->CanUseRate(88200));
    engine_->activeStreams = true;  // running streams pin the rate
    EXPECT_FALSE(model_->CanUseRate(96000));
    EXPECT_TRUE(model_->CanUseRate(44100));
    EXPECT_EQ(model_->GetNearestRateIndex(90000, &configuration), 2u);
    EXPECT_EQ(model_->GetNearestRateIndex(100, &configuration), 0u);
    EXPECT_EQ(configuration, 0);
}

TEST_F(DeviceModelTest, SetStreamConfigurationAnswersOneForTheSameIndex)
{
    const size_t calls = engine_->calls.size();
    Journal().clear();
    StreamConfiguration configuration;
    model_->GetConfiguration(0, &configuration);
    EXPECT_EQ(model_->SetStreamConfiguration(&configuration, -1), 1);
    EXPECT_EQ(engine_->calls.size(), calls);
    EXPECT_EQ(CountOf("NameEndpoints"), 0u);

    model_->GetConfiguration(1, &configuration);
    EXPECT_EQ(model_->SetStreamConfiguration(&configuration, 1), 0);
    EXPECT_EQ(model_->ConfigurationIndex(), 1);
    EXPECT_EQ(model_->PreviousConfigurationIndex(), 0);
    EXPECT_EQ(engine_->calls.back(), "ConfigureRouting(1,1)");
    EXPECT_EQ(engine_->rate, 48000u);
    EXPECT_EQ(CountOf("NameEndpoints"), 1u);

    configuration.rateCount = 4;
    configuration.index = 7;
    EXPECT_EQ(model_->SetStreamConfiguration(&configuration, -1), kEInvalidArg);
    EXPECT_EQ(model_->ConfigurationIndex(), 1);
}

TEST_F(DeviceModelTest, ABufferFailureFallsBackToTheEmptyConfiguration)
{
    Journal().clear();
    StreamConfiguration configuration;
    model_->GetConfiguration(1, &configuration);
    engine_->refuseNextConfiguration = -3;
    EXPECT_EQ(model_->SetStreamConfiguration(&configuration, 0), -3);
    const ULONG emptyIndex = 1u + 0x7FFFFFFFu;
    EXPECT_EQ(model_->ConfigurationIndex(), static_cast<LONG>(emptyIndex));
    EXPECT_EQ(engine_->calls.back(),
              "ConfigureRouting(" + std::to_string(static_cast<LONG>(emptyIndex)) + ",-1)");
    EXPECT_EQ(engine_->configuration.index, emptyIndex);
    EXPECT_EQ(engine_->configuration.outputChannels, 0u);
    EXPECT_EQ(engine_->configuration.deviceOutputChannels, 0u);
    EXPECT_EQ(engine_->configuration.outputLayouts.count, 0u);
    EXPECT_EQ(engine_->configuration.inputLayouts.count, 0u);
    EXPECT_EQ(CountOf("NameEndpoints"), 0u);
    // The granularity of an unknown configuration.
    EXPECT_EQ(model_->GetBufferGranularity(0), 64u);
}

class MixerBlockBuffer
{
public:
    MixerBlockBuffer() : block(std::make_unique<MixerBlock>())
    {
        std::memset(block.get(), 0, sizeof *block);
    }
    MixerBlock* operator->() { return block.get(); }
    MixerBlock* get() { return block.get(); }

private:
    std::unique_ptr<MixerBlock> block;
};

TEST_F(DeviceModelTest, MixerReadsAndWritesTheGainMatrix)
{
    MixerBlockBuffer block;
    block->rowCount = 2;
    block->columnCount = 2;
    EXPECT_EQ(model_->GetMixer(block.get(), sizeof(MixerBlock)), STATUS_SUCCESS);
    EXPECT_EQ(block->gains[0], kUnityGain);
    EXPECT_EQ(block->gains[1], 0);
    EXPECT_EQ(block->gains[64], 0);
    EXPECT_EQ(block->gains[65], kUnityGain);
    EXPECT_FALSE(engine_->mixerUsed);

    MixerBlockBuffer set;
    set->firstRow = 1;
    set->rowCount = 1;
    set->firstColumn = 0;
    set->columnCount = 1;
    set->gains[64] = kUnityGain / 2;
    EXPECT_EQ(model_->SetMixer(set.get(), sizeof(MixerBlock)), STATUS_SUCCESS);
    EXPECT_TRUE(engine_->mixerUsed);
    EXPECT_EQ(engine_->matrix.Gain(1, 0), kUnityGain / 2);
    EXPECT_EQ(engine_->matrix.Gain(1, 1), kUnityGain);
}

TEST_F(DeviceModelTest, MixerRowsOutsideTheMatrixBlockOrBufferFailAlone)
{
    struct Row
    {
        const char* name;
        ULONG firstRow, rowCount, firstColumn, columnCount;
        ULONG blockBytes;
        NTSTATUS status;
        bool row1Written;
    };
    const ULONG whole = sizeof(MixerBlock);
    const Row rows[] = {
        {"inside", 1, 1, 0, 2, whole, STATUS_SUCCESS, true},
        {"columns wrap to a small end", 1, 1, 0xFFFFFFFF, 2, whole, STATUS_UNSUCCESSFUL, false},
        {"column count wraps", 1, 1, 1, 0xFFFFFFFF, whole, STATUS_UNSUCCESSFUL, false},
        {"rows wrap", 0xFFFFFFFF, 3, 0, 2, whole, STATUS_UNSUCCESSFUL, false},
        {"rows past the matrix", 1, 0xFFFFFFFF, 0, 2, whole, STATUS_UNSUCCESSFUL, true},
        {"row past the matrix", 2, 1, 0, 2, whole, STATUS_UNSUCCESSFUL, false},
        {"columns past the matrix", 1, 1, 1, 2, whole, STATUS_UNSUCCESSFUL, false},
        {"buffer ends before row 1", 1, 1, 0, 2, 16 + 64 * 8 + 8, STATUS_UNSUCCESSFUL, false},
        {"buffer ends just after row 1", 1, 1, 0, 2, 16 + 66 * 8, STATUS_SUCCESS, true},
        {"buffer without a header", 0, 1, 0, 2, 8, STATUS_INVALID_PARAMETER, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        engine_->matrix.ConfigureMatrix(2, 2);
        MixerBlockBuffer set;
        set->firstRow = row.firstRow;
        set->rowCount = row.rowCount;
        set->firstColumn = row.firstColumn;
        set->columnCount = row.columnCount;
        for (SampleGain& gain : set->gains) {
            gain = 7;
        }
        EXPECT_EQ(model_->SetMixer(set.get(), row.blockBytes), row.status);
        EXPECT_EQ(engine_->matrix.Gain(1, 0) == 7, row.row1Written);
        EXPECT_EQ(engine_->matrix.Gain(0, 0), kUnityGain);  // row 0 never written
        MixerBlockBuffer get;
        get->firstRow = row.firstRow;
        get->rowCount = row.rowCount;
        get->firstColumn = row.firstColumn;
        get->columnCount = row.columnCount;
        EXPECT_EQ(model_->GetMixer(get.get(), row.blockBytes), row.status);
        if (row.row1Written) {
            EXPECT_EQ(get->gains[64], 7);
        }
    }
}

TEST_F(DeviceModelTest, ReadingPeaksClearsThem)
{
    engine_->inputPeaks[0] = 100;
    engine_->inputPeaks[63] = 5;
    engine_->outputPeaks[1] = 200;
    ULONG peaks[kMaxPeakValues];
    std::memset(peaks, 0xFF, sizeof peaks);
    EXPECT_EQ(model_->GetInputPeaks(peaks), STATUS_SUCCESS);
    EXPECT_TRUE(engine_->meteringWanted);
    EXPECT_EQ(peaks[0], 100u);
    EXPECT_EQ(peaks[63], 5u);
    EXPECT_EQ(model_->GetInputPeaks(peaks), STATUS_SUCCESS);
    EXPECT_EQ(peaks[0], 0u);
    EXPECT_EQ(peaks[63], 0u);
    EXPECT_EQ(model_->GetOutputPeaks(peaks), STATUS_SUCCESS);
    EXPECT_EQ(peaks[1], 200u);
    EXPECT_EQ(model_->GetOutputPeaks(peaks), STATUS_SUCCESS);
    EXPECT_EQ(peaks[1], 0u);
}

TEST_F(DeviceModelTest, KeepRunningGoesThroughTheEngine)
{
    UCHAR on = 9;
    EXPECT_EQ(model_->GetKeepRunning(&on), STATUS_SUCCESS);
    EXPECT_EQ(on, 0);
    EXPECT_EQ(model_->SetKeepRunning(true), STATUS_SUCCESS);
    EXPECT_EQ(model_->GetKeepRunning(&on), STATUS_SUCCESS);
    EXPECT_EQ(on, 1);
}

}  // namespace
