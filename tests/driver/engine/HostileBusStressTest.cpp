// The product's output on the real engine while the bus holds completions back at random, about
// ten times a second, some of them longer than the transfers queued ahead cover: the device hears
// every sample of the stream once and in order, the frames that carried nothing all lie between
// a held transfer's first frame and its late completion plus the transfers queued ahead (output
// resumes at once, not after a restart), and the engine counts every one of them. Each rate at
// full and high speed, 3 transfers ahead, several seeds; each run's virtual length comes from
// QUORVEL_HOSTILE_BUS_SECONDS (default 5).
#include <algorithm>
#include <chrono>
#include <iterator>
#include <random>
#include <set>
#include <sstream>

#include "EngineModelFixture.h"
#include "SoakRun.h"
#include "device/PersistedSetting.h"

namespace {

using namespace Platform::Kernel;
using namespace std::chrono_literals;
using Platform::Ks::PnpRequest;

constexpr ULONG kRates[] = {44100, 48000, 96000};
constexpr ULONG kTransfersAhead = 3;
constexpr uint32_t kEventsPerThousandMs = 10;  // about ten disturbances a second
constexpr uint32_t kMostHeldFrames = 24;       // well past the 10 frames the ring queues ahead
constexpr int kMostHeldTransfers = 3;          // held back in a row by one disturbance
constexpr UCHAR kOutEndpoint = 0x01;

struct HostileRow
{
    int audioClass;  // 2 enumerates at high speed
    ULONG rateIndex;
    uint32_t seed;
};

std::string RowName(const HostileRow& row)
{
    return std::string(row.audioClass == 2 ? "HighSpeed" : "FullSpeed") +
           std::to_string(kRates[row.rateIndex]) + "Seed" + std::to_string(row.seed);
}

void PrintTo(const HostileRow& row, std::ostream* out)
{
    *out << RowName(row);
}

// What the device received, frame by frame: the bus frames in which it received output, and the
// frames in which the stream (channel 0 of the counting pattern, checked in order from its first
// sample on) went silent, skipped or repeated.
struct ReceivedStream
{
    std::set<ULONG> frames;
    std::vector<ULONG> faultFrames;
    int32_t expected = 0;  // 0 until the pattern's first sample
    uint64_t samples = 0;
    uint64_t silentSamples = 0;
    uint64_t skippedSamples = 0;
    uint64_t repeatedSamples = 0;

    void Take(UsbSim::SimulatedUsbDevice& device)
    {
        constexpr size_t kFrameBytes = kPatternChannels * kPatternSampleBytes;
        for (const UsbSim::OutPacketRecord& packet : device.OutPackets()) {
            if (packet.endpoint != kOutEndpoint) {
                continue;
            }
            for (size_t at = 0; at + kFrameBytes <= packet.bytes.size(); at += kFrameBytes) {
                const uint8_t* bytes = &packet.bytes[at];
                const int32_t value =
                    ((bytes[0] | bytes[1] << 8 | bytes[2] << 16) ^ 0x800000) - 0x800000;
                if (expected == 0 && value == 0) {
                    continue;  // the priming silence before the stream
                }
                if (!Check(value)) {
                    faultFrames.push_back(packet.frame);
                }
            }
            if (expected != 0) {
                frames.insert(packet.frame);
            }
        }
        device.ClearOutPackets();
    }

    bool Check(int32_t value)
    {
        ++samples;
        if (value == 0) {
            ++silentSamples;
            return false;
        }
        const int32_t wanted = expected;
        expected = value % kPatternPeriod + 1;
        if (wanted == 0 || value == wanted) {
            return true;
        }
        const int32_t ahead = (value - wanted + kPatternPeriod) % kPatternPeriod;
        (ahead > kPatternPeriod / 2 ? repeatedSamples : skippedSamples) += 1;
        return false;
    }
};

class HostileBus : public EngineModelFixture, public ::testing::WithParamInterface<HostileRow>
{
};

TEST_P(HostileBus, OutputResumesWithinTheTransfersQueuedAheadAndEveryLostPeriodIsCounted)
{
    const HostileRow& row = GetParam();
    const int seconds = SoakRun::Seconds("QUORVEL_HOSTILE_BUS_SECONDS", 5);
    Platform::Ks::Device* device =
        PlugIn(UsbSim::BuildProductDescriptors({.audioClass = row.audioClass}), false);
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(StorePersistedValue(Engine(), kTransfersAhead), STATUS_SUCCESS);
    ASSERT_EQ(device->Send(PnpRequest::Start), STATUS_SUCCESS);
    StartStreaming(row.rateIndex);
    UsbStreamingEngine* engine = Engine();
    const UsbTransport* transport = engine->Transport();
    const ULONG queuedAhead = transport->Transfers() * transport->FramesPerTransfer();
    ASSERT_EQ(transport->Transfers(), kTransfersAhead + 7) << "the ring the run is about";

    ReceivedStream received;
    AdvanceTime(200ms);
    received.Take(UsbDevice());
    ASSERT_NE(received.expected, 0) << "the stream reached the device";
    received.frames.clear();
    const size_t streamingStates = Listener()->streamingStates.size();
    const ULONG lostBefore = engine->LostPeriods();

    std::mt19937 random(row.seed);
    std::vector<UsbSim::SimulatedUsbBus::HeldCompletion> held;
    for (int ms = 0; ms < seconds * 1000; ++ms) {
        if (random() % 1000 < kEventsPerThousandMs) {
            Bus().DelayIsoCompletions(1 + random() % kMostHeldFrames,
                                      1 + static_cast<int>(random() % kMostHeldTransfers));
        }
        AdvanceTime(1ms);
        received.Take(UsbDevice());
    }
    // Undisturbed to the end: what is still held completes and the stream settles.
    Bus().DelayIsoCompletions(0, 0);
    AdvanceTime(100ms);
    received.Take(UsbDevice());
    for (const auto& completion : Bus().TakeHeldCompletions()) {
        if (completion.endpointAddress == kOutEndpoint) {
            held.push_back(completion);
        }
    }

    // A disturbance: from a held transfer's first frame to its completion and the transfers
    // queued ahead after it.
    const auto disturbed = [&](ULONG frame) {
        return std::any_of(held.begin(), held.end(), [&](const auto& h) {
            return frame >= h.firstFrame && frame <= h.completedFrame + queuedAhead;
        });
    };
    const auto describe = [](const std::vector<ULONG>& frames) {
        std::ostringstream text;
        for (size_t i = 0; i < frames.size() && i < 5; ++i) {
            text << " " << frames[i];
        }
        return text.str();
    };

    // The frames in which the device received nothing, each within a disturbance and each
    // counted by the engine.
    ASSERT_FALSE(received.frames.empty());
    std::vector<ULONG> lost;
    for (ULONG frame = *received.frames.begin(); frame != *received.frames.rbegin(); ++frame) {
        if (!received.frames.contains(frame)) {
            lost.push_back(frame);
        }
    }
    std::vector<ULONG> lostOutside;
    std::copy_if(lost.begin(), lost.end(), std::back_inserter(lostOutside),
                 [&](ULONG frame) { return !disturbed(frame); });
    EXPECT_TRUE(lostOutside.empty())
        << "frames without output outside every disturbance:" << describe(lostOutside);
    const ULONG counted = engine->LostPeriods() - lostBefore;
    EXPECT_EQ(counted, lost.size()) << "periods counted vs. frames without output";

    // The stream itself goes on from where the bus stopped taking it: a sample can be missed only
    // where a held completion kept its period from asking for data in time, never elsewhere.
    std::vector<ULONG> faultsOutside;
    std::copy_if(received.faultFrames.begin(), received.faultFrames.end(),
                 std::back_inserter(faultsOutside), [&](ULONG frame) { return !disturbed(frame); });
    EXPECT_TRUE(faultsOutside.empty()) << "samples silent or out of order outside every "
                                          "disturbance, in frames"
                                       << describe(faultsOutside);
    EXPECT_EQ(received.repeatedSamples, 0u);
    EXPECT_GE(received.samples, uint64_t{kRates[row.rateIndex] / 1000} * received.frames.size());

    // The run disturbed the stream, some disturbances for longer than the ring covers.
    EXPECT_GT(held.size(), static_cast<size_t>(seconds) * 5);
    EXPECT_FALSE(lost.empty());
    // Nothing restarted the stream.
    EXPECT_EQ(Listener()->streamingStates.size(), streamingStates);
    EXPECT_TRUE(engine->IsStreaming());
    EXPECT_TRUE(UsbDevice().Violations().empty());
    RecordProperty("LostPeriods", static_cast<int>(lost.size()));
    RecordProperty("CountedPeriods", static_cast<int>(counted));
    std::printf(
        "[ figures  ] %s: %zu held completions, %zu periods without output, %u counted, "
        "%llu stream samples missed within disturbances\n",
        RowName(row).c_str(), held.size(), lost.size(), static_cast<unsigned>(counted),
        static_cast<unsigned long long>(received.silentSamples + received.skippedSamples));
    Listener()->active = false;
    EXPECT_GE(engine->Routing()->SetTransportMode(0), 0);
    RunPending();
}

std::vector<HostileRow> Rows()
{
    std::vector<HostileRow> rows;
    for (int audioClass : {1, 2}) {
        for (ULONG rateIndex = 0; rateIndex < std::size(kRates); ++rateIndex) {
            for (uint32_t seed : {1u, 2u, 3u}) {
                rows.push_back({audioClass, rateIndex, seed});
            }
        }
    }
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileBus, ::testing::ValuesIn(Rows()),
                         [](const auto& info) { return RowName(info.param); });

}  // namespace
