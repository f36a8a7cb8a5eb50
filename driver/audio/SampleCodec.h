#pragma once
// The six memory layouts of a sample, as types, and the four per-sample operations over a pair of
// them. The converter tables instantiate every (source, destination, operation) from these, so each
// generated loop is straight-line code for one pair. Internal to the audio data path.

#include <cstdint>
#include <cstring>

#include "audio/SampleFormat.h"

namespace SampleCodec {

// Each layout reads a sample as a left-justified 32-bit value and writes the top Bits bits of one.
// Writers never touch byte 0 of a 4-byte container: the label byte follows its own rules.

struct Int16LE
{
    static constexpr uint32_t kBytes = 2;
    static constexpr uint32_t kBits = 16;
    static constexpr bool kHasLabel = false;
    static constexpr bool kLabelsOnAdd = true;
    static int32_t Load(const uint8_t* p)
    {
        return static_cast<int32_t>(uint32_t{p[0]} << 16 | uint32_t{p[1]} << 24);
    }
    static void Store(uint8_t* p, int32_t v)
    {
        const uint32_t u = static_cast<uint32_t>(v);
        p[0] = static_cast<uint8_t>(u >> 16);
        p[1] = static_cast<uint8_t>(u >> 24);
    }
};

struct Int24LE
{
    static constexpr uint32_t kBytes = 3;
    static constexpr uint32_t kBits = 24;
    static constexpr bool kHasLabel = false;
    static constexpr bool kLabelsOnAdd = true;
    static int32_t Load(const uint8_t* p)
    {
        return static_cast<int32_t>(uint32_t{p[0]} << 8 | uint32_t{p[1]} << 16 |
                                    uint32_t{p[2]} << 24);
    }
    static void Store(uint8_t* p, int32_t v)
    {
        const uint32_t u = static_cast<uint32_t>(v);
        p[0] = static_cast<uint8_t>(u >> 8);
        p[1] = static_cast<uint8_t>(u >> 16);
        p[2] = static_cast<uint8_t>(u >> 24);
    }
};

struct Int32LE
{
    static constexpr uint32_t kBytes = 4;
    static constexpr uint32_t kBits = 32;
    static constexpr bool kHasLabel = false;
    static constexpr bool kLabelsOnAdd = true;
    static int32_t Load(const uint8_t* p)
    {
        return static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
                                    uint32_t{p[3]} << 24);
    }
    static void Store(uint8_t* p, int32_t v)
    {
        const uint32_t u = static_cast<uint32_t>(v);
        p[0] = static_cast<uint8_t>(u);
        p[1] = static_cast<uint8_t>(u >> 8);
        p[2] = static_cast<uint8_t>(u >> 16);
        p[3] = static_cast<uint8_t>(u >> 24);
    }
};

struct Int16BE
{
    static constexpr uint32_t kBytes = 2;
    static constexpr uint32_t kBits = 16;
    static constexpr bool kHasLabel = false;
    static constexpr bool kLabelsOnAdd = false;
    static int32_t Load(const uint8_t* p)
    {
        return static_cast<int32_t>(uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16);
    }
    static void Store(uint8_t* p, int32_t v)
    {
        const uint32_t u = static_cast<uint32_t>(v);
        p[0] = static_cast<uint8_t>(u >> 24);
        p[1] = static_cast<uint8_t>(u >> 16);
    }
};

struct Int24BE
{
    static constexpr uint32_t kBytes = 3;
    static constexpr uint32_t kBits = 24;
    static constexpr bool kHasLabel = false;
    static constexpr bool kLabelsOnAdd = false;
    static int32_t Load(const uint8_t* p)
    {
        return static_cast<int32_t>(uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 |
                                    uint32_t{p[2]} << 8);
    }
    static void Store(uint8_t* p, int32_t v)
    {
        const uint32_t u = static_cast<uint32_t>(v);
        p[0] = static_cast<uint8_t>(u >> 24);
        p[1] = static_cast<uint8_t>(u >> 16);
        p[2] = static_cast<uint8_t>(u >> 8);
    }
};

// Byte 0 is a label; bytes 1..3 a signed 24-bit value, most significant byte first.
struct Labelled24BE
{
    static constexpr uint32_t kBytes = 4;
    static constexpr uint32_t kBits = 24;
    static constexpr bool kHasLabel = true;
    static constexpr bool kLabelsOnAdd = true;
    static int32_t Load(const uint8_t* p) { return Int24BE::Load(p + 1); }
    static void Store(uint8_t* p, int32_t v) { Int24BE::Store(p + 1, v); }
};

// The top Bits bits of v, in place: what a layout of that precision can hold of v.
template <class Layout>
constexpr int32_t KeepTopBits(int32_t v)
{
    if constexpr (Layout::kBits == 32) {
        return v;
    } else {
        return static_cast<int32_t>(static_cast<uint32_t>(v) &
                                    ~((1u << (32 - Layout::kBits)) - 1u));
    }
}

// Sums and gain results clip at full scale instead of wrapping: a wrapped sum flips the sign of a
// loud signal and plays as a full-scale burst.
constexpr int32_t Saturate(int64_t v)
{
    return v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v));
}

// v x gain in Q32.32, rounded half up at 32-bit precision. The product needs up to 95 bits (a
// full-scale sample at a gain above one), so it is formed in 128 bits; after the shift it fits in
// 64 and is clipped to 32.
inline int32_t ApplyGain(int32_t v, SampleGain gain)
{
    const __int128 product = static_cast<__int128>(int64_t{v}) * gain;
    return Saturate(static_cast<int64_t>((product + 0x80000000) >> 32));
}

}  // namespace SampleCodec
