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

// The peak routine of a format; an unknown code stops the system like the selectors.
PeakScanner SelectPeakScanner(SampleFormatCode code);

// Raises peaks[k] (k < run.channelCount) to the peak of channel run.firstChannel + k over frames
// (>= 1) frames of buffer. Returns 0, or E_INVALIDARG when buffer is null (no slot touched).
int32_t MeasurePeak(uint32_t frames, const ChannelRun& run, const void* buffer, uint32_t* peaks);
