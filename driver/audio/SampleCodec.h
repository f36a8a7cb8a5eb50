#pragma once
// The six memory layouts of a sample, as types, and the arithmetic every routine shares (clipping,
// gains). The routine templates are written over these types, so each generated loop is
// straight-line code for one pair of layouts. Internal to the audio data path.

#include <cstdint>
#include <cstring>

#include "audio/SampleFormat.h"

namespace SampleCodec {

// Each layout reads a sample as a left-justified 32-bit value and writes the top Bits bits of one.
// Writers never touch byte 0 of a 4-byte container: the label byte follows its own rules.
// Samples are read and written as whole 16- and 32-bit words where the layout allows, so each
// sample costs one load and one store; the driver runs on little-endian processors only.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "sample layouts assume a little-endian host");

inline uint16_t Load16(const uint8_t* p)
{
    uint16_t x;
    std::memcpy(&x, p, sizeof x);
    return x;
}
inline uint32_t Load32(const uint8_t* p)
{
    uint32_t x;
    std::memcpy(&x, p, sizeof x);
    return x;
}
inline void Store16(uint8_t* p, uint32_t x)
{
    const uint16_t word = static_cast<uint16_t>(x);
    std::memcpy(p, &word, sizeof word);
}
inline void Store32(uint8_t* p, uint32_t x)
{
    std::memcpy(p, &x, sizeof x);
}

// Layouts narrower than a word also offer LoadWide, one 32-bit load that reads the byte after the
// sample too; the loops use it only where that byte is known to lie inside the caller's buffer.

// What the routines need to know of a layout besides its load and store.
template <uint32_t Bytes, uint32_t Bits, bool HasLabel, bool LabelsOnAdd>
struct LayoutTraits
{
    static constexpr uint32_t kBytes = Bytes;    // in memory
    static constexpr uint32_t kBits = Bits;      // significant
    static constexpr bool kHasLabel = HasLabel;  // byte 0 is a label byte
    // An add from this layout into a 4-byte container writes the label byte.
    static constexpr bool kLabelsOnAdd = LabelsOnAdd;
};

struct Int16LE : LayoutTraits<2, 16, false, true>
{
    static int32_t Load(const uint8_t* p)
    {
        return static_cast<int32_t>(uint32_t{Load16(p)} << 16);
    }
    static void Store(uint8_t* p, int32_t v) { Store16(p, static_cast<uint32_t>(v) >> 16); }
};

struct Int24LE : LayoutTraits<3, 24, false, true>
{
    static int32_t Load(const uint8_t* p)
    {
        return static_cast<int32_t>(uint32_t{Load16(p)} << 8 | uint32_t{p[2]} << 24);
    }
    static int32_t LoadWide(const uint8_t* p) { return static_cast<int32_t>(Load32(p) << 8); }
    static void Store(uint8_t* p, int32_t v)
    {
        const uint32_t u = static_cast<uint32_t>(v);
        Store16(p, u >> 8);
        p[2] = static_cast<uint8_t>(u >> 24);
    }
};

struct Int32LE : LayoutTraits<4, 32, false, true>
{
    static int32_t Load(const uint8_t* p) { return static_cast<int32_t>(Load32(p)); }
    static void Store(uint8_t* p, int32_t v) { Store32(p, static_cast<uint32_t>(v)); }
};

struct Int16BE : LayoutTraits<2, 16, false, false>
{
    static int32_t Load(const uint8_t* p)
    {
        return static_cast<int32_t>(uint32_t{__builtin_bswap16(Load16(p))} << 16);
    }
    static void Store(uint8_t* p, int32_t v)
    {
        Store16(p, __builtin_bswap16(static_cast<uint16_t>(static_cast<uint32_t>(v) >> 16)));
    }
};

struct Int24BE : LayoutTraits<3, 24, false, false>
{
    static int32_t Load(const uint8_t* p)
    {
        return static_cast<int32_t>(uint32_t{p[0]} << 24 |
                                    uint32_t{__builtin_bswap16(Load16(p + 1))} << 8);
    }
    static int32_t LoadWide(const uint8_t* p)
    {
        return static_cast<int32_t>(__builtin_bswap32(Load32(p)) & 0xFFFFFF00u);
    }
    static void Store(uint8_t* p, int32_t v)
    {
        const uint32_t u = static_cast<uint32_t>(v);
        p[0] = static_cast<uint8_t>(u >> 24);
        Store16(p + 1, __builtin_bswap16(static_cast<uint16_t>(u >> 8)));
    }
};

// Byte 0 is a label; bytes 1..3 a signed 24-bit value, most significant byte first.
struct Labelled24BE : LayoutTraits<4, 24, true, true>
{
    static int32_t Load(const uint8_t* p)
    {
        // Byte-swapped, the label is the top byte and shifts out.
        return static_cast<int32_t>(__builtin_bswap32(Load32(p)) << 8);
    }
    static void Store(uint8_t* p, int32_t v) { Int24BE::Store(p + 1, v); }
    // The value and the label byte in one store.
    static void StoreLabelled(uint8_t* p, int32_t v)
    {
        const uint32_t word = static_cast<uint32_t>(v) >> 8 | uint32_t{kContainerLabel} << 24;
        Store32(p, __builtin_bswap32(word));
    }
};

template <class Layout>
concept HasWideLoad = requires(const uint8_t* p)
{
    Layout::LoadWide(p);
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
    // Two plain selections, so the compiler makes them conditional moves, not branches.
    v = v < INT32_MIN ? INT32_MIN : v;
    v = v > INT32_MAX ? INT32_MAX : v;
    return static_cast<int32_t>(v);
}

// a + b, clipped. Both hold left-justified values, so clipping at 32 bits clips at any precision.
// Without a branch, so loud mixes that clip at random cost what quiet ones do: the exact sum in 64
// bits and two conditional moves, fewer instructions than finding the overflow from the signs.
inline int32_t SaturatingAdd(int32_t a, int32_t b)
{
    return Saturate(int64_t{a} + b);
}

// Gains from -1.0 + 2^-31 up to 1.0 cannot make a rounded product leave 64 bits nor a result leave
// 32; they are the usual ones, and take a one-multiplication path with nothing to clip. Others take
// two multiplications and a clip. The one gain left out above -1.0, -1.0 + 2^-32, turns a
// full-scale negative sample into +1.0, which must clip, and its rounding would overflow 64 bits.
constexpr bool IsNarrowGain(SampleGain gain)
{
    return gain > -kUnityGain + 1 && gain <= kUnityGain;
}

// A source of fewer than 32 bits takes one multiplication for any other gain below 2^(63 - Bits)
// in size (x128 for 24 bits, x32768 for 16): the sample at its own precision, at most 2^(Bits - 1)
// in size, times such a gain stays below 2^62, with room for the rounding.
template <uint32_t SourceBits>
constexpr bool IsShortSourceGain(SampleGain gain)
{
    if constexpr (SourceBits < 32) {
        constexpr SampleGain kLimit = SampleGain{1} << (63 - SourceBits);
        return gain > -kLimit && gain < kLimit;
    } else {
        return false;
    }
}

enum class GainPath
{
    Narrow,       // IsNarrowGain
    ShortSource,  // IsShortSourceGain for the source's precision
    Wide,         // any other
};

// v x gain in Q32.32, rounded half up at 32-bit precision. SourceBits: the significant bits of v.
template <GainPath Path, uint32_t SourceBits = 32>
inline int32_t ApplyGain(int32_t v, SampleGain gain)
{
    if constexpr (Path == GainPath::Narrow) {
        const int64_t product = int64_t{v} * gain;
        return static_cast<int32_t>((product + 0x80000000) >> 32);
    } else if constexpr (Path == GainPath::ShortSource) {
        // The bits below the source's precision are zero, so (v x gain + 2^31) / 2^32 is
        // (x x gain + 2^(Bits - 1)) / 2^Bits for the sample x at its own precision, and floors
        // the same.
        static_assert(SourceBits < 32);
        const int64_t x = v >> (32 - SourceBits);
        return Saturate((x * gain + (int64_t{1} << (SourceBits - 1))) >> SourceBits);
    } else {
        // The full product takes up to 95 bits. Split as whole x 2^32 + fraction (fraction in
        // [0, 2^32)), it is two products that each fit in 64 bits: v x whole is a whole number of
        // units and passes the rounding shift untouched, so only v x fraction is rounded. Two
        // plain multiplications measured faster than one 128-bit product and its double shift.
        const int64_t whole = gain >> 32;
        const int64_t fraction = static_cast<int64_t>(static_cast<uint32_t>(gain));
        const int64_t roundedFraction = (int64_t{v} * fraction + 0x80000000) >> 32;
        return Saturate(int64_t{v} * whole + roundedFraction);
    }
}

}  // namespace SampleCodec
