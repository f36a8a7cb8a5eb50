#pragma once
// The generated routines: one function template per operation, instantiated for every pair of
// layouts by the converter tables. Internal to the audio data path.

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "audio/SampleCodec.h"

namespace SampleCodec {

template <class Source, class Destination>
int32_t CopySamples(const void* source, uint32_t sourceStride, void* destination,
                    uint32_t destinationStride, uint32_t count)
{
    const uint8_t* s = static_cast<const uint8_t*>(source);
    uint8_t* d = static_cast<uint8_t*>(destination);
    for (uint32_t i = 0; i < count; ++i, s += sourceStride, d += destinationStride) {
        if constexpr (Source::kHasLabel && Destination::kHasLabel) {
            // Container to container keeps the source's label byte.
            std::memcpy(d, s, Destination::kBytes);
        } else {
            Destination::Store(d, Source::Load(s));
            if constexpr (Destination::kHasLabel) {
                d[0] = kContainerLabel;
            }
        }
    }
    return 0;
}

template <class Source, class Destination>
int32_t AddSamples(const void* source, uint32_t sourceStride, void* destination,
                   uint32_t destinationStride, uint32_t count)
{
    const uint8_t* s = static_cast<const uint8_t*>(source);
    uint8_t* d = static_cast<uint8_t*>(destination);
    for (uint32_t i = 0; i < count; ++i, s += sourceStride, d += destinationStride) {
        const int64_t sum =
            int64_t{Destination::Load(d)} + int64_t{KeepTopBits<Destination>(Source::Load(s))};
        Destination::Store(d, Saturate(sum));
        if constexpr (Destination::kHasLabel && Source::kLabelsOnAdd) {
            d[0] = kContainerLabel;
        }
    }
    return 0;
}

template <class Destination>
void ZeroSamples(void* destination, uint32_t destinationStride, uint32_t count)
{
    uint8_t* d = static_cast<uint8_t*>(destination);
    for (uint32_t i = 0; i < count; ++i, d += destinationStride) {
        std::memset(d, 0, Destination::kBytes);
    }
}

template <class Source, class Destination>
int32_t GainCopySamples(const void* source, uint32_t sourceStride, void* destination,
                        uint32_t destinationStride, uint32_t count, SampleGain gain)
{
    if (gain == 0) {
        // Silence, label byte included; the source is not read.
        ZeroSamples<Destination>(destination, destinationStride, count);
        return 0;
    }
    const uint8_t* s = static_cast<const uint8_t*>(source);
    uint8_t* d = static_cast<uint8_t*>(destination);
    for (uint32_t i = 0; i < count; ++i, s += sourceStride, d += destinationStride) {
        Destination::Store(d, ApplyGain(Source::Load(s), gain));
        if constexpr (Destination::kHasLabel) {
            d[0] = kContainerLabel;
        }
    }
    return 0;
}

template <class Source, class Destination>
int32_t GainAddSamples(const void* source, uint32_t sourceStride, void* destination,
                       uint32_t destinationStride, uint32_t count, SampleGain gain)
{
    if (gain == 0) {
        return 0;  // adds nothing: neither side is touched
    }
    const uint8_t* s = static_cast<const uint8_t*>(source);
    uint8_t* d = static_cast<uint8_t*>(destination);
    for (uint32_t i = 0; i < count; ++i, s += sourceStride, d += destinationStride) {
        const int64_t sum = int64_t{Destination::Load(d)} +
                            int64_t{KeepTopBits<Destination>(ApplyGain(Source::Load(s), gain))};
        Destination::Store(d, Saturate(sum));
        if constexpr (Destination::kHasLabel) {
            d[0] = kContainerLabel;
        }
    }
    return 0;
}

template <class Source>
void ScanPeak(const void* source, uint32_t stride, uint32_t* peak, uint32_t count)
{
    const uint8_t* s = static_cast<const uint8_t*>(source);
    uint32_t highest = *peak;
    for (uint32_t i = 0; i < count; ++i, s += stride) {
        const int32_t v = Source::Load(s);
        // The complement maps full-scale negative onto full-scale positive without overflow.
        const uint32_t magnitude = static_cast<uint32_t>(v >= 0 ? v : ~v);
        highest = magnitude > highest ? magnitude : highest;
    }
    *peak = highest;
}

}  // namespace SampleCodec
