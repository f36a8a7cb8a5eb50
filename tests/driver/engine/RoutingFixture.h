// What the stream set's tests share: a recording listener, configurations (the product's and
// made-up ones with inputs), and a fixture that owns the engine stand-in and its stream set.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "KernelTestFixture.h"
#include "RoutingTestEngine.h"
#include "audio/DriverResult.h"
#include "device/ProductConfigurations.h"
#include "engine/RoutingStreamSink.h"

class RecordingSink final : public RoutingStreamSink
{
public:
    void OnConfigurationApplied(const StreamConfiguration* configuration) override
    {
        configurationsApplied.push_back(configuration->index);
    }
    LONG OnPeriod(ULONG configurationIndex, PVOID* inputPointers, ULONG frames,
                  ULONG streamPosition, LONG flags) override
    {
        periods.push_back({configurationIndex, frames, streamPosition, flags});
        if (onPeriod) {
            onPeriod(inputPointers, frames, streamPosition);
        }
        return periodAnswer;
    }
    void OnRateChanged(ULONG configurationIndex, ULONG rate) override
    {
        rateChanges.push_back({configurationIndex, rate});
    }
    bool IsActive() override { return active; }
    void OnStreamingChanged(LONG state) override { streamingStates.push_back(state); }

    struct Period
    {
        ULONG configurationIndex;
        ULONG frames;
        ULONG streamPosition;
        LONG flags;
    };
    struct RateChange
    {
        ULONG configurationIndex;
        ULONG rate;
        bool operator==(const RateChange&) const = default;
    };
    bool active = true;
    LONG periodAnswer = 48;
    std::function<void(PVOID*, ULONG, ULONG)> onPeriod;
    std::vector<ULONG> configurationsApplied;
    std::vector<Period> periods;
    std::vector<RateChange> rateChanges;
    std::vector<LONG> streamingStates;
};

// A product configuration by index (0: 44100, 48000, 96000; 1: up to 48000).
inline StreamConfiguration ProductConfiguration(ULONG index)
{
    StreamConfiguration record{};
    EXPECT_TRUE(CopyProductConfiguration(index, &record));
    return record;
}

// A configuration with inputs: one stereo device input and one stereo loopback input that reads
// the output back, besides the product's stereo output; rates 44100 and 48000.
struct InputConfiguration
{
    static constexpr ULONG kRates[] = {44100, 48000};
    static constexpr ULONG kFramesPerMs[] = {45, 49};
    static constexpr ULONG kMinimumBuffer[] = {16, 16};
    static constexpr ChannelLayout kOutputs[] = {{kSampleInt24LE, 2, 0, 0}};
    static constexpr ChannelLayout kInputs[] = {{kSampleInt24LE, 2, 0, 0},
                                                {kSampleInt24LE, 2, 0, 0}};

    static StreamConfiguration Record(ULONG index = 7)
    {
        StreamConfiguration record{};
        record.index = index;
        record.deviceOutputChannels = 2;
        record.outputChannels = 2;
        record.outputLayouts = {1, kOutputs};
        record.deviceInputChannels = 2;
        record.inputChannels = 4;
        record.inputLayouts = {2, kInputs};
        record.rateCount = 2;
        record.rates = kRates;
        record.framesPerMs = kFramesPerMs;
        record.minimumBufferSize = kMinimumBuffer;
        record.maximumBufferSize = 2048;
        record.ringBlockSize = 512;
        return record;
    }
};

class RoutingTest : public Platform::Kernel::Testing::KernelTest
{
protected:
    // The set gives its memory back before the kernel layer counts what is outstanding.
    void TearDown() override
    {
        engine.routing.ReleaseRouting();
        KernelTest::TearDown();
    }

    EngineRouting& Routing() { return engine.routing; }

    // Configures a product configuration and starts the set as the engine does.
    void ConfigureProduct(ULONG index, LONG rateIndex, ULONG startupMs = 0)
    {
        const StreamConfiguration record = ProductConfiguration(index);
        ASSERT_EQ(Routing().ConfigureRouting(&record, rateIndex), 0);
        Routing().SetStartupInterval(startupMs);
        Routing().ResetForStart(false);
    }

    // The first frame of output buffer bufferIndex, through the device side's first request after
    // a start (served at the ring's start).
    const uint8_t* OutputBuffer(ULONG bufferIndex = 0)
    {
        Routing().ResetForStart(false);
        PVOID data = nullptr;
        Routing().GetDeviceOutputData(1, 1, bufferIndex, &data, false, 0, 0);
        EXPECT_NE(data, nullptr);
        Routing().ResetForStart(false);
        return static_cast<const uint8_t*>(data);
    }

    // Writes interleaved 24-bit stereo frames (one 32-bit left-justified value per sample) at
    // position; answers RenderIntoDevice's result.
    LONG RenderStereo(LONG* position, const std::vector<int32_t>& samples, ULONG startChannel = 0,
                      ULONG configurationIndex = 0)
    {
        std::vector<uint8_t> bytes = Packed24(samples);
        PVOID buffers[] = {bytes.data()};
        return Routing().RenderIntoDevice(configurationIndex, position, buffers,
                                          static_cast<ULONG>(samples.size() / 2), kSampleInt24LE, 2,
                                          startChannel);
    }

    // Renders frames of 24-bit stereo whose samples are given as 32-bit left-justified values
    // into a packed buffer.
    static std::vector<uint8_t> Packed24(const std::vector<int32_t>& samples)
    {
        std::vector<uint8_t> bytes;
        for (int32_t sample : samples) {
            const uint32_t v = static_cast<uint32_t>(sample) >> 8;
            bytes.push_back(static_cast<uint8_t>(v));
            bytes.push_back(static_cast<uint8_t>(v >> 8));
            bytes.push_back(static_cast<uint8_t>(v >> 16));
        }
        return bytes;
    }

    static int32_t Sample24(const uint8_t* bytes)
    {
        return static_cast<int32_t>(static_cast<uint32_t>(bytes[0]) << 8 |
                                    static_cast<uint32_t>(bytes[1]) << 16 |
                                    static_cast<uint32_t>(bytes[2]) << 24) >>
               8;
    }

    RoutingTestEngine engine;
};
