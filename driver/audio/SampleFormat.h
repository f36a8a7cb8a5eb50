#pragma once
// How one sample lies in memory, and the fixed-point gain applied to samples on their way.
// Every routine of the data path works on a sample as a signed 32-bit value, left-justified: a
// 16-bit sample s is s x 65536, a 24-bit one s x 256.

#include <cstdint>

using SampleFormatCode = uint32_t;

// The seven defined codes. Only the byte count is ever taken out of a code; everything else
// compares whole codes. The two 4-byte big-endian codes hold a 24-bit value behind a label byte.
inline constexpr SampleFormatCode kSampleInt16LE = 0x80000001u;
inline constexpr SampleFormatCode kSampleInt24LE = 0x80000002u;  // packed, no padding byte
inline constexpr SampleFormatCode kSampleInt32LE = 0x80000003u;
inline constexpr SampleFormatCode kSampleInt16BE = 0xC0000001u;
inline constexpr SampleFormatCode kSampleInt24BE = 0xC0000002u;  // packed, no padding byte
inline constexpr SampleFormatCode kSampleLabelled24BE = 0xC0000003u;
inline constexpr SampleFormatCode kSampleLabelled24BEAlt = 0xC1000003u;  // same as the one above

// Byte 0 of a 4-byte container as the converters write it.
inline constexpr uint8_t kContainerLabel = 0x40;

// One of the seven codes. Whoever forms a code from outside data checks it with this: the
// converters stop the system on any other value.
constexpr bool IsKnownSampleFormat(SampleFormatCode code)
{
    return code == kSampleInt16LE || code == kSampleInt24LE || code == kSampleInt32LE ||
           code == kSampleInt16BE || code == kSampleInt24BE || code == kSampleLabelled24BE ||
           code == kSampleLabelled24BEAlt;
}

constexpr uint32_t BytesPerSample(SampleFormatCode code)
{
    return (code & 3u) + 1u;
}

// Signed Q32.32: kUnityGain is 1.0, 0 is silence, a negative gain inverts the signal.
using SampleGain = int64_t;
inline constexpr SampleGain kUnityGain = 0x100000000LL;
