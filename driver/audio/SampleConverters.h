#pragma once
// The routines that move and measure every sample of the driver. They run at DISPATCH_LEVEL inside
// the per-period work: no lock, no allocation, no floating point, no state. A caller selects the
// routine for a (source format, destination format, operation) once per run of channels and calls
// it once per channel; strides are free so one call moves one channel of an interleaved buffer.

#include <cstdint>

#include "audio/SampleFormat.h"

// Moves count (>= 1) samples: the i-th source sample is at source + i x sourceStride, the i-th
// destination sample at destination + i x destinationStride (strides in bytes). Returns 0.
using SampleConverter = int32_t (*)(const void* source, uint32_t sourceStride, void* destination,
                                    uint32_t destinationStride, uint32_t count);

// The same with a Q32.32 gain applied on the way. Returns 0.
using GainConverter = int32_t (*)(const void* source, uint32_t sourceStride, void* destination,
                                  uint32_t destinationStride, uint32_t count, SampleGain gain);

// Raises *peak to the largest magnitude of count (>= 1) samples; never lowers it.
using PeakScanner = void (*)(const void* source, uint32_t stride, uint32_t* peak, uint32_t count);

// A run of consecutive channels inside one interleaved buffer.
struct ChannelRun
{
    SampleFormatCode format;    // of every sample of the buffer
    uint32_t channelsPerFrame;  // channels in one frame of the buffer
    uint32_t firstChannel;      // index within the frame of the run's first channel
    uint32_t channelCount;      // channels in the run
};

// The run lies inside its frame: firstChannel + channelCount <= channelsPerFrame.
constexpr bool RunFitsInFrame(const ChannelRun& run)
{
    return run.firstChannel <= run.channelsPerFrame &&
           run.channelCount <= run.channelsPerFrame - run.firstChannel;
}

// The copy form when the low byte of add is 0, else the add form. An unknown code in either role
// stops the system (bug check 0xDEADDEAD): codes are validated where they are formed.
SampleConverter SelectConverter(SampleFormatCode sourceCode, SampleFormatCode destinationCode,
                                uint32_t add);
GainConverter SelectGainConverter(SampleFormatCode sourceCode, SampleFormatCode destinationCode,
                                  uint32_t add);

// The routines for packed samples: count samples lying one after another in both buffers, as a
// run covering whole frames on both sides holds them. Each gives the results of its strided form
// (above) with strides of one sample, bit for bit, but with vector code where the processor has
// it. A count of 0 does nothing.
struct PackedConverter
{
    SampleConverter scalar;
    uint32_t (*vector)(const uint8_t*, uint8_t*, uint32_t, SampleGain);  // null: scalar only
    uint32_t sourceBytes;
    uint32_t destinationBytes;

    void operator()(const void* source, void* destination, uint32_t count) const;
};
struct PackedGainConverter
{
    GainConverter scalar;
    uint32_t (*vector)(const uint8_t*, uint8_t*, uint32_t, SampleGain);  // null: scalar only
    uint32_t sourceBytes;
    uint32_t destinationBytes;

    void operator()(const void* source, void* destination, uint32_t count, SampleGain gain) const;
};
PackedConverter SelectPackedConverter(SampleFormatCode sourceCode, SampleFormatCode destinationCode,
                                      uint32_t add);
PackedGainConverter SelectPackedGainConverter(SampleFormatCode sourceCode,
                                              SampleFormatCode destinationCode, uint32_t add);

// The instruction sets the packed routines use.
enum class SampleVectorLevel
{
    Scalar,
    Sse2,
    Ssse3,
    Sse41,
};
// Picks the packed routines' vector level from ExIsProcessorFeaturePresent: at start-up, before
// any audio moves (a selector called earlier picks it itself). Returns the level chosen.
SampleVectorLevel ChooseSampleVectorLevel();

// The peak routine of a format; an unknown code stops the system like the selectors.
PeakScanner SelectPeakScanner(SampleFormatCode code);

// Raises peaks[k] (k < run.channelCount) to the peak of channel run.firstChannel + k over frames
// (>= 1) frames of buffer. Returns 0, or E_INVALIDARG when buffer is null (no slot touched).
int32_t MeasurePeak(uint32_t frames, const ChannelRun& run, const void* buffer, uint32_t* peaks);
