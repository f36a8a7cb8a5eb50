// The stream set end to end in its own terms: a writer that renders every period at its own
// position, transfers queued ahead that take bounce copies early, and periods that consume what
// the device took. Every frame written reaches the device once, in order.
#include "RoutingFixture.h"

namespace {

constexpr ULONG kFrameBytes = 6;
constexpr ULONG kQueuedAhead = 3;  // transfers filled before the one that completes

// Renders a counting pattern: frame n carries n + 1 on the left and -(n + 1) on the right.
class CountingWriter
{
public:
    CountingWriter(EngineRouting* routing, ULONG configurationIndex)
        : routing_(routing), configurationIndex_(configurationIndex)
    {
    }

    void OnPeriod(ULONG frames, ULONG streamPosition)
    {
        if (position_ < 0) {
            position_ = static_cast<LONG>(streamPosition);
        }
        std::vector<int32_t> samples;
        for (ULONG i = 0; i < frames; ++i) {
            const int32_t value = static_cast<int32_t>((written_ + i) % 0x7FFFFF) + 1;
            samples.push_back(value << 8);
            samples.push_back(-value << 8);
        }
        std::vector<uint8_t> bytes;
        for (int32_t sample : samples) {
            const uint32_t v = static_cast<uint32_t>(sample) >> 8;
            bytes.insert(bytes.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                                       static_cast<uint8_t>(v >> 16)});
        }
        PVOID buffers[] = {bytes.data()};
        const LONG result = routing_->RenderIntoDevice(configurationIndex_, &position_, buffers,
                                                       frames, kSampleInt24LE, 2, 0);
        ASSERT_GE(result, 0);
        written_ += frames;
    }

private:
    EngineRouting* routing_;
    ULONG configurationIndex_;
    LONG position_ = -1;
    ULONGLONG written_ = 0;
};

struct StreamCase
{
    const char* name;
    ULONG rateIndex;
    ULONG rate;
};

class RoutingStreamTest : public RoutingTest, public ::testing::WithParamInterface<StreamCase>
{
protected:
    void TearDown() override
    {
        Routing().SetStreamSink(nullptr);
        RoutingTest::TearDown();
    }
};

TEST_P(RoutingStreamTest, EveryFrameReachesTheDeviceOnceInOrder)
{
    const StreamCase& c = GetParam();
    RecordingSink sink;
    CountingWriter writer(&Routing(), 0);
    sink.onPeriod = [&](PVOID*, ULONG frames, ULONG position) {
        writer.OnPeriod(frames, position);
    };
    Routing().SetStreamSink(&sink);
    ConfigureProduct(0, static_cast<LONG>(c.rateIndex), 15);

    // Frames per 1 ms frame: 44 with a 45 every tenth at 44100, else the exact count.
    auto FramesOf = [&](ULONG slot) {
        const ULONG whole = c.rate / 1000;
        return c.rate % 1000 == 0 ? whole : whole + (slot % 10 == 9 ? 1 : 0);
    };
    struct Transfer
    {
        std::vector<uint8_t> buffer;
        ULONG frames;
    };
    std::vector<Transfer> queued;
    ULONG filled = 0;
    auto Fill = [&]() {
        Transfer transfer{std::vector<uint8_t>(100 * kFrameBytes), FramesOf(filled)};
        PVOID data = transfer.buffer.data();
        const ULONG previous = filled == 0 ? 0 : filled - 1;
        Routing().GetDeviceOutputData(1000 + filled, transfer.frames, 0, &data, true,
                                      1000 + previous, filled == 0 ? 0 : FramesOf(previous));
        ASSERT_EQ(data, transfer.buffer.data());
        queued.push_back(std::move(transfer));
        ++filled;
    };

    for (ULONG i = 0; i < kQueuedAhead; ++i) {
        Fill();
    }
    std::vector<int32_t> received;
    const ULONG periods = 20000;  // 20 s: the ring goes round hundreds of times
    for (ULONG slot = 0; slot < periods; ++slot) {
        Fill();
        Transfer done = std::move(queued.front());
        queued.erase(queued.begin());
        for (ULONG i = 0; i < done.frames; ++i) {
            const uint8_t* frame = done.buffer.data() + i * kFrameBytes;
            ASSERT_EQ(Sample24(frame), -Sample24(frame + 3)) << slot;
            received.push_back(Sample24(frame));
        }
        Routing().CancelPacket(0, done.buffer.data());
        const LONG credit = Routing().RoutingTick(1000 + slot, nullptr, done.frames, 0, done.frames,
                                                  FramesOf(slot));
        ASSERT_GT(credit, 0);
    }

    // Silence until the writer's first frame, then the count without a gap or a repeat.
    size_t first = 0;
    while (first < received.size() && received[first] == 0) {
        ++first;
    }
    ASSERT_LT(first, received.size());
    EXPECT_LE(first, 20u * c.rate / 1000) << "the start-up interval and the look-ahead";
    for (size_t i = first; i < received.size(); ++i) {
        ASSERT_EQ(received[i], static_cast<int32_t>(i - first) + 1) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, RoutingStreamTest,
                         ::testing::Values(StreamCase{"At44100", 0, 44100},
                                           StreamCase{"At48000", 1, 48000},
                                           StreamCase{"At96000", 2, 96000}),
                         [](const ::testing::TestParamInfo<StreamCase>& info) {
                             return info.param.name;
                         });

}  // namespace
