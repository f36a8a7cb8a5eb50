// What the stream manager's tests, end-to-end tests and benchmark share: a stereo configuration
// at the product's three rates, a consumer that records what its client stream tells it, and
// the reading of a packed 24-bit sample.
#pragma once

#include <cstdint>
#include <vector>

#include "device/StreamConfiguration.h"
#include "engine/StreamInterfaces.h"

namespace StreamTest {

inline constexpr ChannelLayout kStereoOutput[] = {{kSampleInt24LE, 2, 0, 0}};
inline constexpr ChannelLayout kStereoInput[] = {{kSampleInt32LE, 2, 0, 0}};
inline constexpr ULONG kRates[] = {44100, 48000, 96000};
inline constexpr ULONG kFramesPerMs[] = {45, 49, 97};
inline constexpr ULONG kMinimumBuffer[] = {32, 32, 64};

// Two 24-bit outputs, mix bus of two channels, no inputs; 44100, 48000 and 96000 Hz.
inline StreamConfiguration StereoConfiguration(ULONG index = 0)
{
    StreamConfiguration record{};
    record.index = index;
    record.deviceOutputChannels = 2;
    record.outputChannels = 2;
    record.outputLayouts = {1, kStereoOutput};
    record.rateCount = 3;
    record.rates = kRates;
    record.framesPerMs = kFramesPerMs;
    record.minimumBufferSize = kMinimumBuffer;
    record.maximumBufferSize = 4096;
    record.ringBlockSize = 512;
    return record;
}

// The same with one stereo input of 32-bit samples.
inline StreamConfiguration StereoInputConfiguration(ULONG index = 0)
{
    StreamConfiguration record = StereoConfiguration(index);
    record.inputChannels = 2;
    record.deviceInputChannels = 2;
    record.inputLayouts = {1, kStereoInput};
    return record;
}

class RecordingClient : public StreamClientSink
{
public:
    void OnDevicePeriod(ClientStream*) override { ++periods; }
    void OnStreamConfigurationChanged(ClientStream*, LONG index) override
    {
        changes.push_back(index);
    }
    void OnFlags(ClientStream*, ULONG value) override { flags.push_back(value); }

    int periods = 0;
    std::vector<LONG> changes;
    std::vector<ULONG> flags;
};

// A little-endian packed 24-bit sample, sign-extended.
inline int32_t Sample24(const uint8_t* bytes)
{
    return static_cast<int32_t>(static_cast<uint32_t>(bytes[0]) << 8 |
                                static_cast<uint32_t>(bytes[1]) << 16 |
                                static_cast<uint32_t>(bytes[2]) << 24) >>
           8;
}

}  // namespace StreamTest
