// The product's device model on the real streaming engine, driven through the Windows side in
// virtual time against the simulated device: what the engine answers before and after the device
// starts, a counting stream written through the stream set arriving whole at every rate, a rate
// change while streaming, removal while streaming, and the learned transfers-ahead value kept
// through the persisted setting.
#include <algorithm>
#include <chrono>

#include "EngineModelFixture.h"
#include "audio/DriverResult.h"
#include "device/DeviceModelRecords.h"
#include "device/PersistedSetting.h"
#include "engine/RawDeviceRequest.h"

namespace {

using namespace Platform::Kernel;
using namespace std::chrono_literals;
using Platform::Ks::PnpRequest;

constexpr ULONG kRates[] = {44100, 48000, 96000};

class UsbStreamingEngineTest : public EngineModelFixture
{
};

// User mode may ask for the transfers ahead before the device has started; the value comes from
// the persisted setting once the device model loaded it.
TEST_F(UsbStreamingEngineTest, CallbackDelayIsNotReadyUntilTheSettingIsLoaded)
{
    Platform::Ks::Device* device = PlugIn(false);
    ASSERT_NE(device, nullptr);
    ULONG value = 77;
    EXPECT_EQ(Engine()->GetCallbackDelay(&value), STATUS_DEVICE_NOT_READY);
    EXPECT_EQ(value, 0u);

    // What an earlier session learned for this device at this USB location.
    ASSERT_EQ(StorePersistedValue(Engine(), 5), STATUS_SUCCESS);
    ASSERT_EQ(device->Send(PnpRequest::Start), STATUS_SUCCESS);
    EXPECT_EQ(Engine()->GetCallbackDelay(&value), STATUS_SUCCESS);
    EXPECT_EQ(value, 5u);
}

// After the start the engine answers from the transport and the stream set the model set up.
TEST_F(UsbStreamingEngineTest, AStartedEngineAnswersFromItsParts)
{
    Platform::Ks::Device* device = PlugIn(true);
    ASSERT_NE(device, nullptr);
    UsbStreamingEngine* engine = Engine();
    EXPECT_TRUE(engine->IsInitialized());
    EXPECT_FALSE(engine->IsStreaming());
    EXPECT_FALSE(engine->IsTickActive()) << "no MIDI ports: the tick never runs";
    EXPECT_EQ(engine->Routing(), Listener()->routing);
    EXPECT_EQ(engine->Context(), static_cast<DeviceContext*>(device->KsDevice()->Context));
    EXPECT_EQ(engine->GetUsbPointer(), engine->Transport());
    EXPECT_EQ(engine->GetBufferReserve(), 400u);
    EXPECT_EQ(engine->GetDeviceVendorId(), 0x2B7E);
    EXPECT_EQ(engine->GetDeviceProductId(), 0x5C19);
    EXPECT_TRUE(engine->IsHighSpeed());

    StreamConfiguration configuration{};
    engine->GetEngineConfiguration(&configuration);
    EXPECT_EQ(configuration.index, 0u);
    LONG configurationIndex = -1;
    ULONG rateIndex = 9;
    ULONG rate = 0;
    engine->GetRoutingState(&configurationIndex, &rateIndex, &rate);
    EXPECT_EQ(configurationIndex, 0);
    EXPECT_EQ(rate, kRates[rateIndex]);
    EXPECT_EQ(engine->ReadCurrentRate(), rate);
    EXPECT_EQ(UsbDevice().SampleRate(), rate) << "the model's start sets the rate";

    ULONG hardwareRate = 1;
    bool locked = true;
    EXPECT_EQ(engine->ReadHardwareRate(&hardwareRate, &locked), E_NOTIMPL);
    EXPECT_EQ(hardwareRate, 0u);
    EXPECT_FALSE(locked);

    // The product's model declares no MIDI port: the codec has no output queue, and a table
    // with an output port is refused; the port table reads back what was set.
    MidiConfiguration midi{};
    midi.index = 7;
    EXPECT_EQ(engine->ConfigureMidiPorts(&midi), S_OK);
    midi.outputPortCount = 1;
    EXPECT_EQ(engine->ConfigureMidiPorts(&midi), E_INVALIDARG);
    EXPECT_EQ(engine->ConfigureMidiPorts(nullptr), E_INVALIDARG);
    EXPECT_EQ(engine->GetMidiPortInfo(nullptr), STATUS_INVALID_PARAMETER);
    MidiConfiguration table{};
    EXPECT_EQ(engine->GetMidiPortInfo(&table), STATUS_SUCCESS);
    EXPECT_EQ(table.index, 7u);
    EXPECT_EQ(table.outputPortCount, 0u);

    RawDeviceRequest request{};
    request.tag = 0x2000;
    UCHAR buffer[kRawDeviceBufferLength] = {};
    EXPECT_EQ(engine->RawDeviceGet(&request, buffer), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(engine->RawDeviceSet(nullptr, buffer), STATUS_INVALID_PARAMETER);
}

// The mixer and the meters are the stream set's: rows are checked against its matrix, and the
// output peaks hold what the device played until they are read.
TEST_F(UsbStreamingEngineTest, MatrixAndPeaksAreTheStreamSets)
{
    ASSERT_NE(PlugIn(true), nullptr);
    UsbStreamingEngine* engine = Engine();
    ULONG rows = 0;
    ULONG columns = 0;
    engine->GetMatrixSize(&rows, &columns);
    EXPECT_EQ(rows, 2u);
    EXPECT_EQ(columns, 2u);
    SampleGain gains[2] = {};
    ASSERT_EQ(engine->ReadMatrixRow(1, 0, 2, gains), STATUS_SUCCESS);
    EXPECT_EQ(gains[0], 0);
    EXPECT_EQ(gains[1], kUnityGain) << "each stream channel goes to its own output";
    EXPECT_EQ(engine->ReadMatrixRow(2, 0, 1, gains), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(engine->ReadMatrixRow(0, 1, 0xFFFFFFFF, gains), STATUS_UNSUCCESSFUL);
    const SampleGain half[] = {kUnityGain / 2};
    EXPECT_EQ(engine->WriteMatrixRow(0, 1, 1, half), STATUS_SUCCESS);
    ASSERT_EQ(engine->ReadMatrixRow(0, 0, 2, gains), STATUS_SUCCESS);
    EXPECT_EQ(gains[1], kUnityGain / 2);

    ULONG peaks[kMaxPeakValues] = {};
    engine->TakePeaks(false, peaks, kMaxPeakValues);  // metering on from here
    StartStreaming(1);
    AdvanceTime(200ms);
    EXPECT_EQ(engine->TakePeaks(false, peaks, 2), 2u);
    EXPECT_GT(peaks[0], 0u);
    EXPECT_GT(peaks[1], 0u);
    EXPECT_EQ(engine->TakePeaks(false, peaks, 2), 2u);
    EXPECT_EQ(peaks[0], 0u) << "reading clears them";
}

// Keep-running holds streaming on without a running stream and lets it go when cleared.
TEST_F(UsbStreamingEngineTest, KeepRunningHoldsStreamingWithoutStreams)
{
    ASSERT_NE(PlugIn(true), nullptr);
    UsbStreamingEngine* engine = Engine();
    EXPECT_FALSE(engine->GetKeepRunning());
    EXPECT_GE(engine->SetKeepRunning(true), 0);
    EXPECT_TRUE(engine->GetKeepRunning());
    RunPending();
    EXPECT_TRUE(engine->IsStreaming());
    AdvanceTime(500ms);
    EXPECT_TRUE(engine->IsStreaming()) << "no stream runs, but the switch is on";
    EXPECT_FALSE(engine->HasActiveStreams());

    EXPECT_GE(engine->SetKeepRunning(false), 0);
    RunPending();
    AdvanceTime(200ms);
    RunPending();
    EXPECT_FALSE(engine->IsStreaming());
}

// A counting stream written through the stream set every period reaches the device whole: every
// sample, in order, no gap and no duplicate, for ten minutes. The transfers ahead start from the
// stored value and what the transport learned is stored again when streaming stops.
class TenMinutes : public UsbStreamingEngineTest, public ::testing::WithParamInterface<ULONG>
{
};

TEST_P(TenMinutes, EverySampleArrivesInOrder)
{
    const ULONG rateIndex = GetParam();
    Platform::Ks::Device* device = PlugIn(false);
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(StorePersistedValue(Engine(), 6), STATUS_SUCCESS);
    ASSERT_EQ(device->Send(PnpRequest::Start), STATUS_SUCCESS);
    UsbStreamingEngine* engine = Engine();
    StartStreaming(rateIndex);
    EXPECT_EQ(UsbDevice().SampleRate(), kRates[rateIndex]);
    EXPECT_EQ(engine->Transport()->Transfers(), 13u) << "6 ahead + 7";

    int32_t expected = 1;
    uint64_t received = 0;
    for (int second = 0; second < 600; second += 10) {
        AdvanceTime(10s);
        for (int32_t value : TakeReceived()) {
            ASSERT_EQ(value, expected) << "at sample " << received << ", second " << second;
            expected = expected % kPatternPeriod + 1;
            ++received;
        }
    }
    EXPECT_EQ(Listener()->refusedWrites, 0u);
    EXPECT_TRUE(engine->IsStreaming());
    // What is still ahead of the device has been written, not yet played.
    EXPECT_GE(received, 600ull * kRates[rateIndex] - kRates[rateIndex] / 10);
    EXPECT_LE(received, Listener()->produced);

    const LONG learned = engine->Transport()->QueueAhead();
    EXPECT_LT(learned, 6) << "lowered after the first learning window";
    Listener()->active = false;
    EXPECT_GE(engine->Routing()->SetTransportMode(0), 0);
    RunPending();
    EXPECT_FALSE(engine->IsStreaming());
    EXPECT_EQ(LoadPersistedValue(engine), static_cast<ULONG>(learned));
    ULONG delay = 0;
    EXPECT_EQ(engine->GetCallbackDelay(&delay), STATUS_SUCCESS);
    EXPECT_EQ(delay, static_cast<ULONG>(learned));
}

INSTANTIATE_TEST_SUITE_P(Rates, TenMinutes, ::testing::Values(0u, 1u, 2u),
                         [](const auto& info) { return std::to_string(kRates[info.param]); });

// A rate change while streaming stops the transfers, sets the rate and resumes: the device sees
// the new rate, the stream carries on from where it was placed again, nothing comes twice.
TEST_F(UsbStreamingEngineTest, ARateChangeWhileStreamingResumesAtTheNewRate)
{
    ASSERT_NE(PlugIn(true), nullptr);
    UsbStreamingEngine* engine = Engine();
    StartStreaming(1);
    AdvanceTime(1s);
    std::vector<int32_t> before = TakeReceived();
    ASSERT_GT(before.size(), 40000u);

    LONG configurationIndex = 0;
    EXPECT_EQ(engine->ChangeRate(&configurationIndex, 2), 96000u);
    RunPending();
    EXPECT_EQ(UsbDevice().SampleRate(), 96000u);
    EXPECT_EQ(engine->ReadCurrentRate(), 96000u);
    EXPECT_TRUE(engine->IsStreaming());
    ASSERT_FALSE(Listener()->rateChanges.empty());
    EXPECT_EQ(Listener()->rateChanges.back(), 96000u);

    AdvanceTime(1s);
    std::vector<int32_t> after = TakeReceived();
    std::vector<int32_t> all = before;
    all.insert(all.end(), after.begin(), after.end());
    // One break at most where the rings were reset; otherwise consecutive, never repeated.
    size_t breaks = 0;
    for (size_t i = 1; i < all.size(); ++i) {
        if (all[i] == 0) {
            continue;  // the silence of the restart
        }
        const int32_t previous = all[i - 1];
        if (previous != 0 && all[i] == previous + 1) {
            continue;
        }
        ++breaks;
        EXPECT_GT(all[i], previous) << "at " << i << ": a sample came again";
    }
    EXPECT_LE(breaks, 2u);
    EXPECT_GT(after.size(), 90000u) << "a second at 96000";
    EXPECT_EQ(Listener()->refusedWrites, 0u);
}

// Removal while streaming: every transfer completes, the device's remove waits for nothing, and
// the engine with its stream set leaves no pool behind. A plain stop and remove the same.
TEST_F(UsbStreamingEngineTest, RemovalWhileStreamingLeavesNothing)
{
    for (bool surprise : {false, true}) {
        SCOPED_TRACE(surprise ? "surprise removal" : "stop and remove");
        Platform::Ks::Device* device = PlugIn(true);
        ASSERT_NE(device, nullptr);
        StartStreaming(1);
        AdvanceTime(300ms);
        if (surprise) {
            Bus().Detach();
            RunPending();
            EXPECT_EQ(device->Send(PnpRequest::SurpriseRemoval), STATUS_SUCCESS);
        } else {
            EXPECT_EQ(device->Send(PnpRequest::Stop), STATUS_SUCCESS);
        }
        AdvanceTime(50ms);
        RunPending();
        EXPECT_EQ(Bus().PendingRequests(), 0u);
        EXPECT_EQ(device->Send(PnpRequest::Remove), STATUS_SUCCESS);
        RunPending();
        EXPECT_EQ(PendingWorkItemCount(), 0u);
        EXPECT_EQ(Engine(), nullptr);
        for (const auto& block : OutstandingPool()) {
            ADD_FAILURE() << "left in pool: " << block.Describe();
        }
    }
}

}  // namespace
