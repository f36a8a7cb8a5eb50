#pragma once
// The generated routines: one function template per operation, instantiated for every pair of
// layouts by the converter tables. Internal to the audio data path.

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "audio/SampleCodec.h"

namespace SampleCodec {

// Calls body(v, d) for count samples, v being the source sample. Where the source layout has a
// whole-word load and samples lie at least a sample apart, every sample but the last is read with
// it: the extra byte it reads belongs to the next sample of the same buffer.
template <class Source, class Body>
inline void ForEachSample(const uint8_t* s, uint32_t sourceStride, uint8_t* d,
                          uint32_t destinationStride, uint32_t count, Body body)
{
    uint32_t i = 0;
    if constexpr (HasWideLoad<Source>) {
        if (sourceStride >= Source::kBytes) {
#pragma GCC unroll 4
            for (; i + 1 < count; ++i, s += sourceStride, d += destinationStride) {
                body(Source::LoadWide(s), d);
            }
        }
    }
#pragma GCC unroll 4
    for (; i < count; ++i, s += sourceStride, d += destinationStride) {
        body(Source::Load(s), d);
    }
}

// Writes v and, for a 4-byte container, the label byte 0x40.
template <class Destination>
inline void StoreLabelled(uint8_t* d, int32_t v)
{
    if constexpr (Destination::kHasLabel) {
        Destination::StoreLabelled(d, v);
    } else {
        Destination::Store(d, v);
    }
}

// Little-endian layouts with no label byte: a sample's most significant bytes are its last.
template <class Layout>
concept PlainLittleEndian = std::is_same_v<Layout, Int16LE> || std::is_same_v<Layout, Int24LE> ||
    std::is_same_v<Layout, Int32LE>;

template <class Source, class Destination>
int32_t CopySamples(const void* source, uint32_t sourceStride, void* destination,
                    uint32_t destinationStride, uint32_t count)
{
    const uint8_t* s = static_cast<const uint8_t*>(source);
    uint8_t* d = static_cast<uint8_t*>(destination);
    if constexpr (Source::kHasLabel && Destination::kHasLabel) {
        // Container to container keeps the source's label byte: all four bytes move.
#pragma GCC unroll 4
        for (uint32_t i = 0; i < count; ++i, s += sourceStride, d += destinationStride) {
            std::memcpy(d, s, Destination::kBytes);
        }
    } else if constexpr (PlainLittleEndian<Source> && PlainLittleEndian<Destination> &&
                         Source::kBytes >= Destination::kBytes) {
        // Truncating keeps the top bytes, which here are the source's last ones: they move as
        // they lie, with no shifting.
        constexpr uint32_t kDropped = Source::kBytes - Destination::kBytes;
#pragma GCC unroll 4
        for (uint32_t i = 0; i < count; ++i, s += sourceStride, d += destinationStride) {
            std::memcpy(d, s + kDropped, Destination::kBytes);
        }
    } else {
        ForEachSample<Source>(s, sourceStride, d, destinationStride, count,
                              [](int32_t v, uint8_t* out) { StoreLabelled<Destination>(out, v); });
    }
    return 0;
}

template <class Source, class Destination>
int32_t AddSamples(const void* source, uint32_t sourceStride, void* destination,
                   uint32_t destinationStride, uint32_t count)
{
    ForEachSample<Source>(
        static_cast<const uint8_t*>(source), sourceStride, static_cast<uint8_t*>(destination),
        destinationStride, count, [](int32_t v, uint8_t* out) {
            const int32_t sum = SaturatingAdd(Destination::Load(out), KeepTopBits<Destination>(v));
            // Adds from the big-endian packed formats leave the label alone.
            if constexpr (Source::kLabelsOnAdd) {
                StoreLabelled<Destination>(out, sum);
            } else {
                Destination::Store(out, sum);
            }
        });
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

template <class Source, class Destination, GainPath Path>
void GainCopyLoop(const uint8_t* s, uint32_t sourceStride, uint8_t* d, uint32_t destinationStride,
                  uint32_t count, SampleGain gain)
{
    ForEachSample<Source>(
        s, sourceStride, d, destinationStride, count, [gain](int32_t v, uint8_t* out) {
            StoreLabelled<Destination>(out, ApplyGain<Path, Source::kBits>(v, gain));
        });
}

template <class Source, class Destination, GainPath Path>
void GainAddLoop(const uint8_t* s, uint32_t sourceStride, uint8_t* d, uint32_t destinationStride,
                 uint32_t count, SampleGain gain)
{
    ForEachSample<Source>(
        s, sourceStride, d, destinationStride, count, [gain](int32_t v, uint8_t* out) {
            const int32_t scaled =
                KeepTopBits<Destination>(ApplyGain<Path, Source::kBits>(v, gain));
            StoreLabelled<Destination>(out, SaturatingAdd(Destination::Load(out), scaled));
        });
}

template <class Source, class Destination, bool Add, GainPath Path>
void GainLoopFor(const uint8_t* s, uint32_t sourceStride, uint8_t* d, uint32_t destinationStride,
                 uint32_t count, SampleGain gain)
{
    if constexpr (Add) {
        GainAddLoop<Source, Destination, Path>(s, sourceStride, d, destinationStride, count, gain);
    } else {
        GainCopyLoop<Source, Destination, Path>(s, sourceStride, d, destinationStride, count, gain);
    }
}

// The loop for the gain's path, made once per path so none tests the gain per sample.
template <class Source, class Destination, bool Add>
void GainLoop(const uint8_t* s, uint32_t sourceStride, uint8_t* d, uint32_t destinationStride,
              uint32_t count, SampleGain gain)
{
    if (IsNarrowGain(gain)) {
        GainLoopFor<Source, Destination, Add, GainPath::Narrow>(s, sourceStride, d,
                                                                destinationStride, count, gain);
    } else if (IsShortSourceGain<Source::kBits>(gain)) {
        if constexpr (Source::kBits < 32) {  // never true of 32-bit sources
            GainLoopFor<Source, Destination, Add, GainPath::ShortSource>(
                s, sourceStride, d, destinationStride, count, gain);
        }
    } else {
        GainLoopFor<Source, Destination, Add, GainPath::Wide>(s, sourceStride, d, destinationStride,
                                                              count, gain);
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
    GainLoop<Source, Destination, false>(static_cast<const uint8_t*>(source), sourceStride,
                                         static_cast<uint8_t*>(destination), destinationStride,
                                         count, gain);
    return 0;
}

template <class Source, class Destination>
int32_t GainAddSamples(const void* source, uint32_t sourceStride, void* destination,
                       uint32_t destinationStride, uint32_t count, SampleGain gain)
{
    if (gain == 0) {
        return 0;  // adds nothing: neither side is touched
    }
    GainLoop<Source, Destination, true>(static_cast<const uint8_t*>(source), sourceStride,
                                        static_cast<uint8_t*>(destination), destinationStride,
                                        count, gain);
    return 0;
}

template <class Source>
void ScanPeak(const void* source, uint32_t stride, uint32_t* peak, uint32_t count)
{
    uint32_t highest = *peak;
    ForEachSample<Source>(static_cast<const uint8_t*>(source), stride, nullptr, 0, count,
                          [&highest](int32_t v, uint8_t*) {
                              // The complement maps full-scale negative onto full-scale positive
                              // without overflow.
                              const uint32_t magnitude = static_cast<uint32_t>(v >= 0 ? v : ~v);
                              highest = magnitude > highest ? magnitude : highest;
                          });
    *peak = highest;
}

}  // namespace SampleCodec
