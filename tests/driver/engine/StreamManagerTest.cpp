// The stream manager on a real stream set with a recording engine: the running count as run
// control, pin nodes from first block to removal, client streams, the period's answer and the
// changes it relays.
#include <vector>

#include <gtest/gtest.h>

#include "KernelTestFixture.h"
#include "RoutingTestEngine.h"
#include "StreamTestSupport.h"
#include "audio/DriverResult.h"
#include "device/DeviceNotifySink.h"
#include "engine/StreamManager.h"
#include "engine/StreamManagerParts.h"

namespace {

using Platform::Kernel::Testing::KernelTest;

using StreamTest::RecordingClient;
using StreamTest::StereoConfiguration;

class RecordingDeviceSink : public DeviceStreamSink
{
public:
    void OnStreamsReconfigured(LONG state) override { states.push_back(state); }
    void OnStreamRateApplied(ULONG index, ULONG rate) override { rates.push_back({index, rate}); }
    struct Applied
    {
        ULONG index;
        ULONG rate;
    };
    std::vector<LONG> states;
    std::vector<Applied> rates;
};

class RecordingPin final : public PinStreamSink
{
public:
    void OnNodePeriod(StreamNode*) override { ++periods; }
    void OnNodeConfigurationChanged(StreamNode*, LONG index) override { changes.push_back(index); }
    void OnNodeLate(StreamNode*, ULONG lateness) override { lates.push_back(lateness); }
    void OnNodeStreamingChanged(LONG state) override { states.push_back(state); }

    int periods = 0;
    std::vector<LONG> changes;
    std::vector<ULONG> lates;
    std::vector<LONG> states;
};

// A 64-frame block of interleaved stereo 24-bit samples in 32-bit containers.
struct RenderBlock
{
    RenderBlock() : pointers{samples} {}
    int32_t samples[64 * 2] = {};
    PVOID pointers[1];
};

class StreamManagerTest : public KernelTest
{
protected:
    void SetUp() override
    {
        KernelTest::SetUp();
        ASSERT_EQ(engine.routing.ConfigureRouting(&configuration, 1), 0);
        manager = CreateStreamManager(&engine, &deviceSink);
        ASSERT_NE(manager, nullptr);
    }
    void TearDown() override
    {
        DestroyStreamManager(manager);
        engine.routing.ReleaseRouting();
        KernelTest::TearDown();
    }
    // A node of the configuration in force, 64-frame interleaved stereo blocks in 32-bit
    // containers.
    StreamNode* AddNode(RecordingPin* pin, RenderBlock* block)
    {
        StreamNode* node = manager->AddPinStream(pin);
        node->configurationIndex = 0;
        node->format = kSampleInt32LE;
        node->interleavedChannels = 2;
        node->interleaved = 1;
        EXPECT_EQ(manager->SetNodeBuffers(node, block->pointers, 64), 0);
        return node;
    }
    ManagedClientStream* AddStream(RecordingClient* client, ULONG frames = 64)
    {
        ManagedClientStream* stream = manager->AddClientStream(client);
        EXPECT_EQ(stream->SetCaptureFormat(&configuration, frames, 4, 0, 0), 0);
        return stream;
    }
    LONG Period(ULONG frames, ULONG position, LONG flags = 0, ULONG index = 0)
    {
        PVOID inputs[1] = {};
        return manager->OnPeriod(index, inputs, frames, position, flags);
    }

    StreamConfiguration configuration = StereoConfiguration();
    RoutingTestEngine engine;
    RecordingDeviceSink deviceSink;
    StreamManager* manager = nullptr;
};

TEST_F(StreamManagerTest, CreationListensAndCopiesTheConfiguration)
{
    StreamConfiguration copy{};
    manager->GetConfiguration(&copy);
    EXPECT_EQ(copy.index, 0u);
    EXPECT_EQ(copy.rates, StreamTest::kRates);
    EXPECT_EQ(manager->Routing(), &engine.routing);
    EXPECT_FALSE(engine.routing.HasActiveStreams());

    RecordingClient client;
    ManagedClientStream* stream = AddStream(&client);
    EXPECT_EQ(stream->managerFlag, 1);
    EXPECT_EQ(stream->outputPosition, -1);
    EXPECT_EQ(stream->writer, nullptr);
    ASSERT_EQ(manager->SetClientStreamRunning(stream, true), 0);
    EXPECT_TRUE(engine.routing.HasActiveStreams()) << "the stream set asks the manager";

    DestroyStreamManager(manager);  // frees the stream it still kept
    manager = nullptr;
    EXPECT_FALSE(engine.routing.HasActiveStreams()) << "no listener any more";
    EXPECT_EQ(CreateStreamManager(nullptr, nullptr), nullptr);
}

// The first running stream starts the engine, further ones confirm it, stopping one of two
// leaves it alone, the last one stops it.
TEST_F(StreamManagerTest, RunningCountBecomesRunControl)
{
    RecordingClient client;
    ClientStream* first = AddStream(&client);
    ClientStream* second = AddStream(&client);
    struct Step
    {
        const char* name;
        ClientStream* stream;
        bool on;
        LONG answer;
        std::vector<ULONG> runControls;
    };
    const Step steps[] = {
        {"first start", first, true, 0, {1}},
        {"same state again", first, true, kStreamUnchanged, {1}},
        {"second start", second, true, 0, {1, 2}},
        {"one of two stops", first, false, 0, {1, 2}},
        {"stopped again", first, false, kStreamUnchanged, {1, 2}},
        {"last stops", second, false, 0, {1, 2, 0}},
    };
    for (const Step& step : steps) {
        EXPECT_EQ(manager->SetClientStreamRunning(step.stream, step.on), step.answer) << step.name;
        EXPECT_EQ(engine.runControls, step.runControls) << step.name;
    }
    EXPECT_FALSE(manager->IsAnyStreamRunning());
}

TEST_F(StreamManagerTest, KeepRunningHoldsBackTheStop)
{
    ASSERT_EQ(engine.routing.SetKeepRunningSetting(true), 0);
    engine.runControls.clear();
    RecordingClient client;
    ClientStream* stream = AddStream(&client);
    ASSERT_EQ(manager->SetClientStreamRunning(stream, true), 0);
    ASSERT_EQ(manager->SetClientStreamRunning(stream, false), 0);
    EXPECT_EQ(engine.runControls, std::vector<ULONG>{1}) << "no stop while kept running";
}

TEST_F(StreamManagerTest, BufferBelowTheRateMinimumIsRefused)
{
    RecordingClient client;
    ClientStream* stream = AddStream(&client, 31);
    EXPECT_EQ(manager->SetClientStreamRunning(stream, true), E_FAIL);
    EXPECT_FALSE(manager->IsAnyStreamRunning());
    EXPECT_TRUE(engine.runControls.empty());
    ClientStream* enough = AddStream(&client, 32);
    EXPECT_EQ(manager->SetClientStreamRunning(enough, true), 0);
}

// The empty configuration the device model falls back to when a configuration's buffers could
// not be allocated serves no stream: none may start, so nothing asks the engine to run.
TEST_F(StreamManagerTest, NoStreamStartsInAConfigurationWithoutChannelBuffers)
{
    RecordingClient client;
    ClientStream* stream = AddStream(&client);
    RecordingPin pin;
    RenderBlock block;
    StreamNode* node = AddNode(&pin, &block);
    StreamConfiguration empty = configuration;
    empty.index = 0x7FFFFFFF;
    empty.outputChannels = 0;
    empty.deviceOutputChannels = 0;
    empty.outputLayouts = {0, nullptr};
    empty.inputLayouts = {0, nullptr};
    ASSERT_EQ(engine.routing.ConfigureRouting(&empty, -1), 0);
    StreamConfiguration inForce{};
    manager->GetConfiguration(&inForce);
    ASSERT_EQ(inForce.index, empty.index);

    EXPECT_EQ(manager->SetClientStreamRunning(stream, true), E_FAIL);
    EXPECT_EQ(manager->ServicePinStream(node), E_FAIL);
    EXPECT_FALSE(manager->IsAnyStreamRunning());
    EXPECT_TRUE(engine.runControls.empty());

    // Back in a configuration with channels, both start.
    ASSERT_EQ(engine.routing.ConfigureRouting(&configuration, 1), 0);
    EXPECT_EQ(manager->SetClientStreamRunning(stream, true), 0);
    node->configurationIndex = 0;
    EXPECT_NE(manager->ServicePinStream(node), E_FAIL);
    EXPECT_TRUE(manager->IsAnyStreamRunning());
    manager->SetClientStreamRunning(stream, false);
    manager->StopPinStream(node);
}

// A stream whose start the engine can neither do nor queue does not run: a client stream's start
// fails, and a pin's block is refused so that its next block asks again; nothing is left counted
// as running, so the next start asks the engine again.
TEST_F(StreamManagerTest, AStartTheEngineCannotDoLeavesNothingRunning)
{
    RecordingClient client;
    ClientStream* stream = AddStream(&client);
    RecordingPin pin;
    RenderBlock block;
    StreamNode* node = AddNode(&pin, &block);
    node->configurationIndex = 0;
    engine.runControlAnswer = -1;
    EXPECT_EQ(manager->SetClientStreamRunning(stream, true), E_FAIL);
    EXPECT_EQ(stream->running, 0);
    EXPECT_EQ(manager->ServicePinStream(node), E_FAIL);
    EXPECT_EQ(node->running, 0);
    EXPECT_EQ(manager->RunningCount(), 0);
    EXPECT_EQ(engine.runControls.size(), 2u) << "each asked";

    engine.runControlAnswer = 0;
    EXPECT_EQ(manager->SetClientStreamRunning(stream, true), 0);
    EXPECT_NE(manager->ServicePinStream(node), E_FAIL);
    EXPECT_EQ(manager->RunningCount(), 2);
    ASSERT_GE(engine.runControls.size(), 3u);
    EXPECT_EQ(engine.runControls[2], 1u) << "the first start asks again";
    manager->SetClientStreamRunning(stream, false);
    manager->StopPinStream(node);
}

TEST_F(StreamManagerTest, PeriodWithoutStreamsOrForAnotherConfigurationStops)
{
    EXPECT_EQ(Period(48, 0), -1);
    RecordingClient client;
    ClientStream* stream = AddStream(&client);
    ASSERT_EQ(manager->SetClientStreamRunning(stream, true), 0);
    EXPECT_EQ(Period(48, 0, 0, 5), -1);
    EXPECT_GT(Period(48, 0), 0);
}

// A node served before the stream set has placed it waits and is placed at the next period's
// stream position; its block goes out once the device has consumed the one before.
TEST_F(StreamManagerTest, NodeIsPlacedAtTheNextPeriodAndServedWhenConsumed)
{
    RecordingPin pin;
    RenderBlock block;
    StreamNode* node = AddNode(&pin, &block);
    EXPECT_EQ(node->position, -1);
    EXPECT_EQ(node->magic, kStreamObjectMagic);

    EXPECT_EQ(manager->ServicePinStream(node), kStreamPending);
    EXPECT_EQ(engine.runControls, (std::vector<ULONG>{1, 2})) << "start, then not yet placed";
    EXPECT_EQ(node->waiting, 1);
    EXPECT_EQ(manager->SetNodeBuffers(node, block.pointers, 64), E_FAIL);
    EXPECT_EQ(manager->ServicePinStream(node), E_FAIL) << "waiting";

    EXPECT_EQ(Period(48, 100), 1) << "serve again at once";
    EXPECT_EQ(node->position, 100);
    EXPECT_EQ(pin.periods, 0);

    EXPECT_EQ(Period(48, 148), 48000) << "the rate bounds the answer";
    EXPECT_EQ(pin.periods, 1);
    EXPECT_EQ(node->position, 164);
    EXPECT_EQ(node->pending, 16) << "-48 consumed, 64 queued";
    EXPECT_EQ(node->waiting, 0);

    // The pin's next block waits until the device has consumed this one.
    EXPECT_EQ(manager->ServicePinStream(node), kStreamPending);
    EXPECT_EQ(Period(10, 158), 6);
    EXPECT_EQ(pin.periods, 1);
    EXPECT_EQ(Period(48, 206), 48000);
    EXPECT_EQ(pin.periods, 2);
    EXPECT_EQ(node->position, 228);

    EXPECT_EQ(manager->StopPinStream(node), 0);
    EXPECT_EQ(engine.runControls.back(), 0u);
    EXPECT_EQ(node->position, -1);
    EXPECT_EQ(manager->StopPinStream(node), kStreamUnchanged);
    manager->RemovePinStream(node);
}

// 64-frame blocks against 48-frame periods: the count of frames left steps past 0 rather than onto
// it. A pin whose last block was used up runs dry all the same, and its next block is placed where
// the stream stands, not at its old position the device has long passed.
TEST_F(StreamManagerTest, APinRunsDryWhenItsLastBlockEndsInsideAPeriod)
{
    RecordingPin pin;
    RenderBlock block;
    StreamNode* node = AddNode(&pin, &block);
    ASSERT_EQ(manager->ServicePinStream(node), kStreamPending);
    ASSERT_EQ(Period(48, 100), 1);
    ASSERT_EQ(Period(48, 148), 48000);
    ASSERT_EQ(node->position, 164);
    ASSERT_EQ(node->pending, 16);

    // No block comes: 16 frames are played in the next period, none in the one after.
    Period(48, 196);
    EXPECT_EQ(node->position, 164) << "still had frames in that period";
    Period(48, 244);
    EXPECT_EQ(node->position, -1) << "ran dry";

    EXPECT_EQ(manager->ServicePinStream(node), kStreamPending);
    EXPECT_EQ(Period(48, 292), 1);
    EXPECT_EQ(node->position, 292) << "placed anew where the stream stands";
    EXPECT_EQ(Period(48, 340), 48000);
    EXPECT_EQ(node->position, 356);
    EXPECT_EQ(node->pending, 16);
    EXPECT_TRUE(pin.lates.empty());
    manager->RemovePinStream(node);
}

TEST_F(StreamManagerTest, TransferNeedsARunningNodeThatIsNotBusy)
{
    RecordingPin pin;
    RenderBlock block;
    StreamNode* node = AddNode(&pin, &block);
    EXPECT_EQ(manager->TransferPinStream(node), E_FAIL) << "not running";
    manager->SetNodeRunning(node, true);
    node->busy = 1;
    EXPECT_EQ(manager->TransferPinStream(node), E_FAIL) << "busy";
    node->busy = 0;
    node->position = 0;
    EXPECT_EQ(manager->TransferPinStream(node), 0);
    EXPECT_EQ(node->pending, 64);
    manager->ClearNodePending(node);
    EXPECT_EQ(node->pending, 0);
    manager->SetNodeRunning(node, false);
    manager->RemovePinStream(node);
}

// A block that comes too late is reported to the pin once.
TEST_F(StreamManagerTest, LateBlockIsReportedOnce)
{
    RecordingPin pin;
    RenderBlock block;
    StreamNode* node = AddNode(&pin, &block);
    ASSERT_EQ(manager->ServicePinStream(node), kStreamPending);
    // Placed right behind the device's read position: no room for a block.
    ULONG capacity = 3 * 512 + 3 * 96000 / 1000;
    ASSERT_EQ(Period(48, capacity - 100), 1);
    ASSERT_EQ(Period(48, 0), 48000);
    EXPECT_EQ(pin.lates, std::vector<ULONG>{1});
    EXPECT_EQ(pin.periods, 1);
    manager->RemovePinStream(node);
}

// A new configuration resets every running node and client stream and tells each once.
TEST_F(StreamManagerTest, ConfigurationChangeResetsRunningStreams)
{
    RecordingPin pins[2];
    RenderBlock blocks[2];
    StreamNode* nodes[2] = {AddNode(&pins[0], &blocks[0]), AddNode(&pins[1], &blocks[1])};
    RecordingPin idlePin;
    StreamNode* idle = AddNode(&idlePin, &blocks[0]);
    for (StreamNode* node : nodes) {
        manager->SetNodeRunning(node, true);
        node->position = 40;
    }
    RecordingClient client;
    ClientStream* stream = AddStream(&client);
    ASSERT_EQ(manager->SetClientStreamRunning(stream, true), 0);
    stream->outputPosition = 12;

    const StreamConfiguration next = StereoConfiguration(1);
    ASSERT_EQ(engine.routing.ConfigureRouting(&next, -1), 0);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(pins[i].changes, std::vector<LONG>{1}) << i;
        EXPECT_EQ(nodes[i]->position, -1) << i;
    }
    EXPECT_TRUE(idlePin.changes.empty()) << "a node that does not run is left alone";
    EXPECT_EQ(client.changes, std::vector<LONG>{1});
    EXPECT_EQ(stream->outputPosition, -1);
    StreamConfiguration copy{};
    manager->GetConfiguration(&copy);
    EXPECT_EQ(copy.index, 1u);
    for (StreamNode* node : nodes) {
        manager->RemovePinStream(node);
    }
    manager->RemovePinStream(idle);
}

TEST_F(StreamManagerTest, StreamingStateGoesToTheContextAndEveryPin)
{
    RecordingPin pins[2];
    RenderBlock block;
    StreamNode* nodes[2] = {AddNode(&pins[0], &block), AddNode(&pins[1], &block)};
    engine.routing.NotifyStreamingChanged(2);
    engine.routing.NotifyStreamingChanged(0);
    EXPECT_EQ(deviceSink.states, (std::vector<LONG>{2, 0}));
    for (const RecordingPin& pin : pins) {
        EXPECT_EQ(pin.states, (std::vector<LONG>{2, 0}));
    }
    for (StreamNode* node : nodes) {
        manager->RemovePinStream(node);
    }
}

// Without running streams a rate index is put in force (and reported to the context); while one
// runs the rate in force stays and is reported.
TEST_F(StreamManagerTest, ApplyRateIndexChangesTheRateOnlyWhileNothingRuns)
{
    EXPECT_EQ(FindConfigurationRate(manager, 96000), 2);
    EXPECT_EQ(FindConfigurationRate(manager, 88200), -1);
    EXPECT_EQ(ApplyRateIndex(manager, 2), 96000u);
    ASSERT_EQ(engine.rateRequests.size(), 1u);
    EXPECT_EQ(engine.rateRequests[0].rateIndex, 2u);
    ASSERT_EQ(deviceSink.rates.size(), 1u);
    EXPECT_EQ(deviceSink.rates[0].rate, 96000u);

    RecordingClient client;
    ClientStream* stream = AddStream(&client);
    ASSERT_EQ(manager->SetClientStreamRunning(stream, true), 0);
    StreamConfiguration record = StereoConfiguration(7);
    EXPECT_EQ(manager->ApplyRateIndex(&record, 0), 96000u);
    EXPECT_EQ(record.index, 0u) << "the configuration in force";
    EXPECT_EQ(engine.rateRequests.size(), 1u);
    EXPECT_EQ(ApplyRateIndex(manager, -1), 96000u) << "no such index";
}

// Discarding a running stream still counts it out, so streaming stops.
TEST_F(StreamManagerTest, DiscardingARunningStreamStopsStreaming)
{
    RecordingClient client;
    ClientStream* stream = AddStream(&client);
    ASSERT_EQ(manager->SetClientStreamRunning(stream, true), 0);
    manager->DiscardClientStream(stream);
    EXPECT_FALSE(manager->IsAnyStreamRunning());
    EXPECT_EQ(engine.runControls, (std::vector<ULONG>{1, 0}));
}

TEST_F(StreamManagerTest, WriteOutputRendersInTheConfigurationInForce)
{
    RenderBlock block;
    LONG position = -1;
    EXPECT_EQ(manager->Writer()->WriteOutput(&position, block.pointers, 64, kSampleInt32LE, 2, 0),
              kStreamPending);
    position = 100;
    EXPECT_EQ(manager->Writer()->WriteOutput(&position, block.pointers, 64, kSampleInt32LE, 2, 0),
              0);
    EXPECT_EQ(position, 164);
}

// A managed client stream first takes the period's stream position; then it captures, and the
// answer is bounded by the frames its buffer still needs.
TEST_F(StreamManagerTest, ClientStreamTakesAPositionThenCaptures)
{
    RecordingClient client;
    ClientStream* stream = AddStream(&client);
    int32_t left[64] = {};
    int32_t right[64] = {};
    PVOID buffers[2] = {left, right};
    ASSERT_EQ(manager->SetClientStreamRunning(stream, true), 0);
    ASSERT_EQ(stream->NextCaptureBuffer(buffers, 0), 0);
    EXPECT_EQ(Period(48, 300), 48000);
    EXPECT_EQ(stream->outputPosition, 300);
    EXPECT_EQ(stream->fill, 0u) << "no capture in the placing period";
    EXPECT_EQ(Period(48, 348, 0x4), 16) << "16 frames until the buffer is full";
    EXPECT_EQ(stream->fill, 48u);
    EXPECT_EQ(client.flags, std::vector<ULONG>{0x4});
    EXPECT_EQ(Period(48, 396), 32) << "full; 32 frames already wait for the next buffer";
    EXPECT_EQ(client.periods, 1);
}

}  // namespace

namespace {

// Interleaved stereo 32-bit blocks of one value per channel.
struct ConstantBlock
{
    ConstantBlock(int32_t left, int32_t right) : samples{}, pointers{samples}
    {
        for (ULONG f = 0; f < 64; ++f) {
            samples[f * 2] = left;
            samples[f * 2 + 1] = right;
        }
    }
    int32_t samples[64 * 2];
    PVOID pointers[1];
};

// Two writers into the same frames are summed, saturating, and a copy the device took in between
// is brought up to date with both.
TEST_F(StreamManagerTest, TwoWritersAreSummedIntoTheBounceCopy)
{
    engine.routing.ResetForStart(false);
    const ConstantBlock first(0x600000 * 256, -0x600000 * 256);
    const ConstantBlock second(0x100000 * 256, -0x300000 * 256);
    LONG position = 0;
    ASSERT_EQ(manager->WriteOutput(&position, first.pointers, 64, kSampleInt32LE, 2, 0), 0);

    UCHAR copy[64 * 6] = {};
    PVOID data = copy;
    engine.routing.GetDeviceOutputData(1, 64, 0, &data, true, 0, 0);
    ASSERT_EQ(StreamTest::Sample24(copy), 0x600000);

    position = 0;
    ASSERT_EQ(manager->WriteOutput(&position, second.pointers, 64, kSampleInt32LE, 2, 0), 0);
    for (ULONG f = 0; f < 64; ++f) {
        ASSERT_EQ(StreamTest::Sample24(copy + f * 6), 0x700000) << f;
        ASSERT_EQ(StreamTest::Sample24(copy + f * 6 + 3), -0x800000) << "saturated, frame " << f;
    }
    engine.routing.CancelPacket(0, copy);
}

// A period places the blocks of every consumed node, more of them than it places in one hold of
// the stream set's lock: each is mixed in once, answered and followed by its pin's period call.
TEST_F(StreamManagerTest, EveryConsumedNodeOfAPeriodIsMixedInOnce)
{
    engine.routing.ResetForStart(false);
    for (const int count : {1, 8, 9, 19}) {
        SCOPED_TRACE(count);
        std::vector<ConstantBlock> blocks;
        blocks.reserve(static_cast<size_t>(count));  // each points into itself
        for (int k = 1; k <= count; ++k) {
            blocks.emplace_back(k * 0x1000 * 256, -k * 0x800 * 256);
        }
        std::vector<RecordingPin> pins(static_cast<size_t>(count));
        std::vector<StreamNode*> nodes;
        for (int k = 0; k < count; ++k) {
            RenderBlock unused;
            StreamNode* node = AddNode(&pins[k], &unused);
            ASSERT_EQ(manager->SetNodeBuffers(node, blocks[k].pointers, 64), 0);
            ASSERT_EQ(manager->ServicePinStream(node), kStreamPending);
            nodes.push_back(node);
        }
        ASSERT_EQ(Period(48, 0), 1) << "placed";
        ASSERT_EQ(Period(48, 48), 48000) << "every block taken";
        UCHAR copy[64 * 6] = {};
        PVOID data = copy;
        engine.routing.GetDeviceOutputData(1, 64, 0, &data, true, 0, 0);
        const int32_t sum = count * (count + 1) / 2;
        for (ULONG f = 0; f < 64; ++f) {
            ASSERT_EQ(StreamTest::Sample24(copy + f * 6), sum * 0x1000) << f;
            ASSERT_EQ(StreamTest::Sample24(copy + f * 6 + 3), -sum * 0x800) << f;
        }
        engine.routing.CancelPacket(0, copy);
        for (int k = 0; k < count; ++k) {
            EXPECT_EQ(pins[k].periods, 1) << k;
            EXPECT_EQ(nodes[k]->position, 64) << k;
            EXPECT_EQ(nodes[k]->pending, 16) << k;
            EXPECT_EQ(nodes[k]->waiting, 0) << k;
            EXPECT_EQ(nodes[k]->busy, 0) << k;
            manager->RemovePinStream(nodes[k]);
        }
        engine.routing.ResetRings();
        engine.routing.ResetForStart(false);
    }
}

// Output and mix-bus peaks grow until read, and reading clears them.
TEST_F(StreamManagerTest, PeaksAccumulateUntilRead)
{
    engine.routing.TakePeaks(false, nullptr, 0);  // a meter is shown
    engine.routing.ResetForStart(false);
    const ConstantBlock loud(0x400000 * 256, -0x200000 * 256);
    const ConstantBlock quiet(0x100 * 256, 0x100 * 256);
    LONG position = 0;
    ASSERT_EQ(manager->WriteOutput(&position, loud.pointers, 64, kSampleInt32LE, 2, 0), 0);
    ASSERT_EQ(manager->WriteOutput(&position, quiet.pointers, 64, kSampleInt32LE, 2, 0), 0);
    PVOID inputs[1] = {};
    engine.routing.RoutingTick(0, inputs, 64, 0, 64, 0);
    engine.routing.RoutingTick(1, inputs, 64, 0, 64, 0);

    const ULONG expected[2] = {0x40000000u, 0x1FFFFFFFu};  // magnitudes, left-justified
    ULONG peaks[4] = {};
    ASSERT_EQ(engine.routing.TakePeaks(false, peaks, 4), 2u);
    EXPECT_EQ(peaks[0], expected[0]) << "the louder block still counts";
    EXPECT_EQ(peaks[1], expected[1]);
    ASSERT_EQ(engine.routing.TakePeaks(true, peaks, 4), 2u) << "the mix bus";
    EXPECT_EQ(peaks[0], expected[0]);
    EXPECT_EQ(peaks[1], expected[1]);
    ASSERT_EQ(engine.routing.TakePeaks(false, peaks, 4), 2u);
    EXPECT_EQ(peaks[0], 0u) << "read clears";
    EXPECT_EQ(peaks[1], 0u);
}

constexpr ChannelLayout kFourOutputs[] = {{kSampleInt24LE, 2, 0, 0}, {kSampleInt24LE, 2, 0, 0}};
constexpr ChannelLayout kInputAndLoopback[] = {{kSampleInt24LE, 2, 0, 0},
                                               {kSampleInt24LE, 2, 0, 0}};

// Two device outputs and two inputs: one physical, one read back from the second output.
StreamConfiguration LoopbackConfiguration()
{
    StreamConfiguration record = StereoConfiguration(0);
    record.deviceOutputChannels = 4;
    record.outputChannels = 4;
    record.outputLayouts = {2, kFourOutputs};
    record.deviceInputChannels = 2;
    record.inputChannels = 4;
    record.inputLayouts = {2, kInputAndLoopback};
    return record;
}

class LoopbackTest : public StreamManagerTest
{
protected:
    void SetUp() override
    {
        StreamManagerTest::SetUp();
        configuration = LoopbackConfiguration();
        ASSERT_EQ(engine.routing.ConfigureRouting(&configuration, 1), 0);
        engine.routing.TakePeaks(true, nullptr, 0);
        engine.routing.ResetForStart(false);
        for (ULONG f = 0; f < 48; ++f) {
            const int32_t left = f == 7 ? 0x345678 : 0x10;
            const int32_t right = f == 9 ? -0x12345 : -0x10;
            for (int b = 0; b < 3; ++b) {
                deviceInput[f * 6 + b] = static_cast<UCHAR>(left >> (8 * b));
                deviceInput[f * 6 + 3 + b] = static_cast<UCHAR>(right >> (8 * b));
            }
        }
    }
    LONG Tick()
    {
        PVOID inputs[2] = {deviceInput, nullptr};
        return engine.routing.RoutingTick(key++, inputs, 48, 0, 48, 0);
    }

    UCHAR deviceInput[48 * 6] = {};
    ULONG key = 0;
};

// A capture stream on the loopback input receives what was mixed into the output, in order; the
// physical input is metered beside the mix bus.
TEST_F(LoopbackTest, LoopbackInputCarriesTheOutputMix)
{
    RecordingClient client;
    void* memory = ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(ClientStream), kStreamObjectTag);
    ClientStream* stream = ConstructClientStream(memory, &client);
    manager->InsertClientStream(stream);
    ASSERT_EQ(stream->SetCaptureFormat(&configuration, 64, 4, 2, 2), 0);
    int32_t captured[64 * 2] = {};
    PVOID buffers[1] = {captured};
    ASSERT_EQ(manager->SetClientStreamRunning(stream, true), 0);
    ASSERT_EQ(stream->NextCaptureBuffer(buffers, 0), 0);

    int32_t block[64 * 2];
    for (int32_t f = 0; f < 64; ++f) {
        block[f * 2] = (f + 1) * 256;
        block[f * 2 + 1] = -(f + 1) * 256;
    }
    PVOID source[1] = {block};
    // The same block on both outputs: the loopback input reads one of them back.
    for (ULONG startChannel : {0u, 2u}) {
        LONG position = 0;
        ASSERT_EQ(manager->WriteOutput(&position, source, 64, kSampleInt32LE, 2, startChannel), 0);
    }

    Tick();
    Tick();
    EXPECT_EQ(client.periods, 1);
    for (int32_t f = 0; f < 64; ++f) {
        ASSERT_EQ(captured[f * 2], (f + 1) * 256) << f;
        ASSERT_EQ(captured[f * 2 + 1], -(f + 1) * 256) << f;
    }

    ULONG peaks[8] = {};
    ASSERT_GE(engine.routing.TakePeaks(true, peaks, 8), 6u);
    EXPECT_EQ(peaks[4], 0x34567800u) << "the physical input, after the four mix-bus slots";
    EXPECT_EQ(peaks[5], 0x012344FFu);
    ASSERT_GE(engine.routing.TakePeaks(true, peaks, 8), 6u);
    EXPECT_EQ(peaks[4], 0u);
    manager->RemoveClientStream(stream);
}

}  // namespace
