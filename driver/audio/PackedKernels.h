#pragma once
// The vector bodies of the packed routines, four samples to an XMM register. This header is
// compiled once per instruction-set level (a source file per level, each with its own compiler
// flags); everything in it has internal linkage so no level's code can stand in for another's at
// link time, and it includes nothing of the scalar routines for the same reason. It uses SSE2
// everywhere, SSSE3's byte shuffle for the 24-bit layouts where __SSSE3__ is defined, and SSE4.1's
// signed multiply for gains where __SSE4_1__ is. XMM registers only: on x64 they need no state
// saved, at any IRQL.
//
// Each kernel moves the leading multiple of four samples and returns how many it moved; the
// caller finishes the rest with the scalar routine. Results are those of the scalar routines bit
// for bit: the same left-justified arithmetic, the same clipping, the same label-byte rules.

#include <emmintrin.h>

#include <cstdint>
#include <cstring>
#include <type_traits>

#if defined(__SSSE3__)
#include <tmmintrin.h>
#endif
#if defined(__SSE4_1__)
#include <smmintrin.h>
#endif

#include "audio/PackedKernelTables.h"

namespace {

using V = __m128i;

inline uint32_t Read32(const uint8_t* p)
{
    uint32_t x;
    std::memcpy(&x, p, sizeof x);
    return x;
}
inline void Write32(uint8_t* p, uint32_t x)
{
    std::memcpy(p, &x, sizeof x);
}
inline void Write64(uint8_t* p, uint64_t x)
{
    std::memcpy(p, &x, sizeof x);
}

// Exactly twelve bytes, so a run that ends at the end of its buffer reads nothing past it.
inline V Load12(const uint8_t* p)
{
    const V low = _mm_loadl_epi64(reinterpret_cast<const V*>(p));
    const V high = _mm_cvtsi32_si128(static_cast<int>(Read32(p + 8)));
    return _mm_unpacklo_epi64(low, high);
}

inline V SwapBytes16(V x)
{
    return _mm_or_si128(_mm_slli_epi16(x, 8), _mm_srli_epi16(x, 8));
}

inline V SwapBytes32(V x)
{
    x = _mm_shufflelo_epi16(x, 0xB1);
    x = _mm_shufflehi_epi16(x, 0xB1);
    return SwapBytes16(x);
}

#if !defined(__SSSE3__)
// Lanes i = bytes 3i..3i+2 of x in their low three bytes (the top byte is whatever follows).
inline V SpreadTriplets(V x)
{
    const V ab = _mm_unpacklo_epi32(x, _mm_srli_si128(x, 3));
    const V cd = _mm_unpacklo_epi32(_mm_srli_si128(x, 6), _mm_srli_si128(x, 9));
    return _mm_unpacklo_epi64(ab, cd);
}
#endif

// The low three bytes of each lane, packed into twelve bytes at p.
inline void StoreTriplets(uint8_t* p, V lanes)
{
#if defined(__SSSE3__)
    const V packed = _mm_shuffle_epi8(
        lanes, _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
    _mm_storel_epi64(reinterpret_cast<V*>(p), packed);
    Write32(p + 8, static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(packed, 8))));
#else
    // In each 64-bit half: the low lane's three bytes, then the high lane's, 48 bits in all.
    const V low = _mm_and_si128(lanes, _mm_set_epi32(0, 0xFFFFFF, 0, 0xFFFFFF));
    const V high = _mm_and_si128(_mm_srli_epi64(lanes, 8),
                                 _mm_set_epi32(0xFFFF, static_cast<int>(0xFF000000u), 0xFFFF,
                                               static_cast<int>(0xFF000000u)));
    const V halves = _mm_or_si128(low, high);
    const uint64_t first = static_cast<uint64_t>(_mm_cvtsi128_si64(halves));
    const uint64_t second =
        static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(halves, halves)));
    Write64(p, first | second << 48);
    Write32(p + 8, static_cast<uint32_t>(second >> 16));
#endif
}

// --- Layouts: four samples as left-justified lanes, and back. ---

struct VInt16LE
{
    static constexpr uint32_t kBytes = 2, kBits = 16;
    static constexpr bool kHasLabel = false, kLabelsOnAdd = true;
    static V Load(const uint8_t* p)
    {
        return _mm_unpacklo_epi16(_mm_setzero_si128(),
                                  _mm_loadl_epi64(reinterpret_cast<const V*>(p)));
    }
    static V Pack(V v)
    {
        const V top = _mm_srai_epi32(v, 16);
        return _mm_packs_epi32(top, top);  // in range: nothing saturates
    }
    static void Store(uint8_t* p, V v) { _mm_storel_epi64(reinterpret_cast<V*>(p), Pack(v)); }
    // Eight samples in one load or one store.
    static void Load8(const uint8_t* p, V& first, V& second)
    {
        const V x = _mm_loadu_si128(reinterpret_cast<const V*>(p));
        first = _mm_unpacklo_epi16(_mm_setzero_si128(), x);
        second = _mm_unpackhi_epi16(_mm_setzero_si128(), x);
    }
    static void Store8(uint8_t* p, V first, V second)
    {
        const V packed = _mm_packs_epi32(_mm_srai_epi32(first, 16), _mm_srai_epi32(second, 16));
        _mm_storeu_si128(reinterpret_cast<V*>(p), packed);
    }
    // Values already shifted down to 16 bits (and in range).
    static void StoreRight(uint8_t* p, V x)
    {
        _mm_storel_epi64(reinterpret_cast<V*>(p), _mm_packs_epi32(x, x));
    }
    static void StoreRight8(uint8_t* p, V first, V second)
    {
        _mm_storeu_si128(reinterpret_cast<V*>(p), _mm_packs_epi32(first, second));
    }
};

struct VInt16BE
{
    static constexpr uint32_t kBytes = 2, kBits = 16;
    static constexpr bool kHasLabel = false, kLabelsOnAdd = false;
    static V Load(const uint8_t* p)
    {
        const V x = SwapBytes16(_mm_loadl_epi64(reinterpret_cast<const V*>(p)));
        return _mm_unpacklo_epi16(_mm_setzero_si128(), x);
    }
    static void Store(uint8_t* p, V v)
    {
        _mm_storel_epi64(reinterpret_cast<V*>(p), SwapBytes16(VInt16LE::Pack(v)));
    }
};

struct VInt32LE
{
    static constexpr uint32_t kBytes = 4, kBits = 32;
    static constexpr bool kHasLabel = false, kLabelsOnAdd = true;
    static V Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }
    static void Store(uint8_t* p, V v) { _mm_storeu_si128(reinterpret_cast<V*>(p), v); }
};

struct VInt24LE
{
    static constexpr uint32_t kBytes = 3, kBits = 24;
    static constexpr bool kHasLabel = false, kLabelsOnAdd = true;
    // Where in a triplet the value's low, middle and top bytes lie.
    static constexpr int kTripletOrder[3] = {0, 1, 2};
    static V Load(const uint8_t* p)
    {
#if defined(__SSSE3__)
        return _mm_shuffle_epi8(
            Load12(p), _mm_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11));
#else
        return _mm_slli_epi32(SpreadTriplets(Load12(p)), 8);
#endif
    }
    static void Store(uint8_t* p, V v)
    {
        StoreTriplets(p, _mm_srli_epi32(v, 8));
    }
#if defined(__SSSE3__)
    // Eight samples, 24 bytes, in two loads and two stores instead of four each.
    static void Load8(const uint8_t* p, V& first, V& second)
    {
        first =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const V*>(p)),
                             _mm_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11));
        second = _mm_shuffle_epi8(
            _mm_loadu_si128(reinterpret_cast<const V*>(p + 8)),
            _mm_setr_epi8(-1, 4, 5, 6, -1, 7, 8, 9, -1, 10, 11, 12, -1, 13, 14, 15));
    }
    static void Store8(uint8_t* p, V first, V second)
    {
        StoreBytes8(p, first, second,
                    _mm_setr_epi8(1, 2, 3, 5, 6, 7, 9, 10, 11, 13, 14, 15, -1, -1, -1, -1));
    }
    // Values already shifted down to 24 bits (and in range): their low three bytes.
    static void StoreRight8(uint8_t* p, V first, V second)
    {
        StoreBytes8(p, first, second,
                    _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
    }
#if defined(__SSE4_1__)
    // Sixteen samples, 48 bytes, in three stores of sixteen. Each group's twelve bytes are
    // shuffled to where they fall in those stores, so each store is a blend of two groups by
    // 16-bit words (groups meet 12, 24 and 36 bytes in, all on word boundaries): seven shuffles
    // and blends for sixteen samples where two eight-sample stores take ten. Every byte is
    // written once.
    static void Store16(uint8_t* p, const V (&v)[4])
    {
        StoreBytes16(p, v, 1);
    }
    static void StoreRight16(uint8_t* p, const V (&v)[4])
    {
        StoreBytes16(p, v, 0);
    }
    static void StoreBytes16(uint8_t* p, const V (&v)[4], int offset)
    {
        const int o = offset;
        // Group k's byte j of twelve is lane j / 3's byte o + j % 3.
        const V first =
            _mm_shuffle_epi8(v[0], _mm_setr_epi8(o, o + 1, o + 2, o + 4, o + 5, o + 6, o + 8, o + 9,
                                                 o + 10, o + 12, o + 13, o + 14, -1, -1, -1, -1));
        // Bytes 0..3 at 12..15, bytes 4..11 at 0..7.
        const V second =
            _mm_shuffle_epi8(v[1], _mm_setr_epi8(o + 5, o + 6, o + 8, o + 9, o + 10, o + 12, o + 13,
                                                 o + 14, -1, -1, -1, -1, o, o + 1, o + 2, o + 4));
        // Bytes 0..7 at 8..15, bytes 8..11 at 0..3.
        const V third =
            _mm_shuffle_epi8(v[2], _mm_setr_epi8(o + 10, o + 12, o + 13, o + 14, -1, -1, -1, -1, o,
                                                 o + 1, o + 2, o + 4, o + 5, o + 6, o + 8, o + 9));
        // Bytes 0..11 at 4..15.
        const V fourth = _mm_shuffle_epi8(
            v[3], _mm_setr_epi8(-1, -1, -1, -1, o, o + 1, o + 2, o + 4, o + 5, o + 6, o + 8, o + 9,
                                o + 10, o + 12, o + 13, o + 14));
        _mm_storeu_si128(reinterpret_cast<V*>(p), _mm_blend_epi16(first, second, 0xC0));
        _mm_storeu_si128(reinterpret_cast<V*>(p + 16), _mm_blend_epi16(second, third, 0xF0));
        _mm_storeu_si128(reinterpret_cast<V*>(p + 32), _mm_blend_epi16(fourth, third, 0x03));
    }
#endif
    static void StoreBytes8(uint8_t* p, V first, V second, V pick)
    {
        const V a = _mm_shuffle_epi8(first, pick);
        const V b = _mm_shuffle_epi8(second, pick);
        _mm_storeu_si128(reinterpret_cast<V*>(p), _mm_or_si128(a, _mm_slli_si128(b, 12)));
        _mm_storel_epi64(reinterpret_cast<V*>(p + 16), _mm_srli_si128(b, 4));
    }
#endif
    static void StoreRight(uint8_t* p, V x)
    {
        StoreTriplets(p, x);
    }
};

struct VInt24BE
{
    static constexpr uint32_t kBytes = 3, kBits = 24;
    static constexpr bool kHasLabel = false, kLabelsOnAdd = false;
    static constexpr int kTripletOrder[3] = {2, 1, 0};
    static V Load(const uint8_t* p)
    {
#if defined(__SSSE3__)
        return _mm_shuffle_epi8(
            Load12(p), _mm_setr_epi8(-1, 2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9));
#else
        // Byte-swapped, a lane's three bytes land on top in the right order; below them lies
        // the byte after the sample.
        return _mm_and_si128(SwapBytes32(SpreadTriplets(Load12(p))), _mm_set1_epi32(~0xFF));
#endif
    }
    static void Store(uint8_t* p, V v)
    {
        StoreTriplets(p, SwapBytes32(v));
    }
};

// Byte 0 a label, bytes 1..3 the value most significant first.
struct VLabelled24BE
{
    static constexpr uint32_t kBytes = 4, kBits = 24;
    static constexpr bool kHasLabel = true, kLabelsOnAdd = true;
    static V Load(const uint8_t* p)
    {
        const V x = _mm_loadu_si128(reinterpret_cast<const V*>(p));
        return _mm_slli_epi32(SwapBytes32(x), 8);  // the label shifts out
    }
    // Label bytes zero, value bytes in place.
    static V Value(V v) { return SwapBytes32(_mm_srli_epi32(v, 8)); }
    static void StoreLabelled(uint8_t* p, V v)
    {
        const V word = _mm_or_si128(Value(v), _mm_set1_epi32(0x40));
        _mm_storeu_si128(reinterpret_cast<V*>(p), word);
    }
    // The value only: each label byte stays as it was.
    static void Store(uint8_t* p, V v)
    {
        const V old = _mm_loadu_si128(reinterpret_cast<const V*>(p));
        const V word = _mm_or_si128(_mm_and_si128(old, _mm_set1_epi32(0xFF)), Value(v));
        _mm_storeu_si128(reinterpret_cast<V*>(p), word);
    }
};

template <class D>
inline void StoreWithLabel(uint8_t* p, V v)
{
    if constexpr (D::kHasLabel) {
        D::StoreLabelled(p, v);
    } else {
        D::Store(p, v);
    }
}

// Layouts that move eight samples at a time better than four (no label byte).
template <class L>
concept HasPairs = requires(const uint8_t* p, uint8_t* q, V& v)
{
    L::Load8(p, v, v);
    L::Store8(q, v, v);
};

template <class L>
inline void LoadPair(const uint8_t* p, V& first, V& second)
{
    if constexpr (HasPairs<L>) {
        L::Load8(p, first, second);
    } else {
        first = L::Load(p);
        second = L::Load(p + 4 * L::kBytes);
    }
}

template <class L>
inline void LoadQuad(const uint8_t* p, V (&v)[4])
{
    LoadPair<L>(p, v[0], v[1]);
    LoadPair<L>(p + 8 * L::kBytes, v[2], v[3]);
}

template <class D, bool Labelled>
inline void StorePair(uint8_t* p, V first, V second)
{
    if constexpr (HasPairs<D>) {
        D::Store8(p, first, second);
    } else if constexpr (Labelled) {
        StoreWithLabel<D>(p, first);
        StoreWithLabel<D>(p + 4 * D::kBytes, second);
    } else {
        D::Store(p, first);
        D::Store(p + 4 * D::kBytes, second);
    }
}

template <class D>
inline V KeepTopBits(V v)
{
    if constexpr (D::kBits == 32) {
        return v;
    } else {
        return _mm_and_si128(v, _mm_set1_epi32(static_cast<int>(~((1u << (32 - D::kBits)) - 1u))));
    }
}

#if defined(__SSE4_1__)
// A bit select on each lane's top bit: where mask's is set, the lane of ifSet, else of ifClear (no
// arithmetic on the lanes as numbers).
inline V SelectByTopBit(V ifClear, V ifSet, V mask)
{
    return _mm_castps_si128(
        _mm_blendv_ps(_mm_castsi128_ps(ifClear), _mm_castsi128_ps(ifSet), _mm_castsi128_ps(mask)));
}
#endif

// a + b clipped at full scale, without a branch. The sum ran past an end exactly where it moved
// the wrong way from a: below a for b >= 0, above it for b < 0; the sign of b picks the end. The
// gain loops are bound by the vector ALU ports, so every instruction here counts: five with
// SSE4.1, where testing the signs of both operands against the sum's took seven.
inline V SaturatingAdd(V a, V b)
{
    const V sum = _mm_add_epi32(a, b);
    const V overflow = _mm_xor_si128(_mm_cmpgt_epi32(a, sum), b);  // in the top bit
#if defined(__SSE4_1__)
    const V clipped = SelectByTopBit(_mm_set1_epi32(INT32_MAX), _mm_set1_epi32(INT32_MIN), b);
    return SelectByTopBit(sum, clipped, overflow);
#else
    const V clipped = _mm_xor_si128(_mm_srai_epi32(b, 31), _mm_set1_epi32(INT32_MAX));
    const V mask = _mm_srai_epi32(overflow, 31);
    return _mm_or_si128(_mm_and_si128(mask, clipped), _mm_andnot_si128(mask, sum));
#endif
}

// Layouts that can store values already shifted down to their own precision.
template <class L>
concept HasRightStore = requires(uint8_t* q, V v)
{
    L::StoreRight(q, v);
};
template <class L>
concept HasRightPairs = requires(uint8_t* q, V v)
{
    L::StoreRight8(q, v, v);
};
// Layouts that store sixteen samples better than twice eight.
template <class L>
concept HasQuads = requires(uint8_t* q, const V (&v)[4])
{
    L::Store16(q, v);
    L::StoreRight16(q, v);
};

#if defined(__SSE4_1__)
// to + the top bits of from at D's precision (below 32 bits), clipped, shifted down to that
// precision: there the sum has headroom and the clip is a min and a max.
template <class D>
inline V AddNarrow(V to, V from)
{
    constexpr int kShift = 32 - static_cast<int>(D::kBits);
    constexpr int kTop = (1 << (D::kBits - 1)) - 1;
    const V sum = _mm_add_epi32(_mm_srai_epi32(to, kShift), _mm_srai_epi32(from, kShift));
    return _mm_max_epi32(_mm_min_epi32(sum, _mm_set1_epi32(kTop)), _mm_set1_epi32(-kTop - 1));
}
#endif

// to + the top bits of from at D's precision, clipped, stored at p; Labelled as for StorePair.
template <class D, bool Labelled>
inline void StoreSum(uint8_t* p, V to, V from)
{
#if defined(__SSE4_1__)
    if constexpr (D::kBits < 32) {
        const V narrow = AddNarrow<D>(to, from);
        if constexpr (HasRightStore<D>) {
            D::StoreRight(p, narrow);
        } else if constexpr (Labelled) {
            StoreWithLabel<D>(p, _mm_slli_epi32(narrow, 32 - static_cast<int>(D::kBits)));
        } else {
            D::Store(p, _mm_slli_epi32(narrow, 32 - static_cast<int>(D::kBits)));
        }
        return;
    }
#endif
    const V sum = SaturatingAdd(to, KeepTopBits<D>(from));
    if constexpr (Labelled) {
        StoreWithLabel<D>(p, sum);
    } else {
        D::Store(p, sum);
    }
}

template <class D, bool Labelled>
inline void StoreSums(uint8_t* p, V to0, V from0, V to1, V from1)
{
#if defined(__SSE4_1__)
    if constexpr (D::kBits < 32 && HasRightPairs<D>) {
        D::StoreRight8(p, AddNarrow<D>(to0, from0), AddNarrow<D>(to1, from1));
        return;
    }
#endif
    if constexpr (HasPairs<D>) {
        StorePair<D, Labelled>(p, SaturatingAdd(to0, KeepTopBits<D>(from0)),
                               SaturatingAdd(to1, KeepTopBits<D>(from1)));
    } else {
        StoreSum<D, Labelled>(p, to0, from0);
        StoreSum<D, Labelled>(p + 4 * D::kBytes, to1, from1);
    }
}

// A gain from -1.0 + 2^-31 up to 1.0, split once per call: gain = whole x 2^32 + low, low taken
// as a signed 32-bit number. Then v x gain rounded = round32(v x low) + v x (whole + [low < 0]),
// and that multiple of v is -1, 0 or 1 for these gains: no clipping, one 32 x 32 product per
// sample. The loops are made once per multiple, so adding it costs one instruction or none.
template <int Multiple>
struct NarrowGain
{
    V factor;
};

inline int NarrowMultiple(SampleGain gain)
{
#if defined(__SSE4_1__)
    return static_cast<int>((gain >> 32) + (static_cast<int32_t>(static_cast<uint32_t>(gain)) < 0));
#else
    // The unsigned product counts low as low + 2^32 when negative: one v more.
    return static_cast<int>(gain >> 32);
#endif
}

// Bits 32..63 of each product + 2^31, from the even lanes' and the odd lanes' products.
inline V RoundedHighHalves(V even, V odd)
{
    const V half = _mm_set1_epi64x(0x80000000LL);
    even = _mm_srli_epi64(_mm_add_epi64(even, half), 32);
#if defined(__SSE4_1__)
    return _mm_blend_epi16(even, _mm_add_epi64(odd, half), 0xCC);
#else
    odd = _mm_and_si128(_mm_add_epi64(odd, half), _mm_set_epi32(-1, 0, -1, 0));
    return _mm_or_si128(even, odd);
#endif
}

// Lanes 1 and 3 where a product takes its operands (lanes 0 and 2), in one shuffle that keeps v.
inline V OddLanes(V v)
{
    return _mm_shuffle_epi32(v, _MM_SHUFFLE(3, 3, 1, 1));
}

// Each gain below takes v and, in lanes 0 and 2, v's lanes 1 and 3 (odd) for its second product.
template <int Multiple>
inline V ApplyGain(V v, V odd, const NarrowGain<Multiple>& g)
{
#if defined(__SSE4_1__)
    const V rounded = RoundedHighHalves(_mm_mul_epi32(v, g.factor), _mm_mul_epi32(odd, g.factor));
#else
    // Unsigned products; a negative v was counted as v + 2^32, which adds low x 2^32.
    V rounded = RoundedHighHalves(_mm_mul_epu32(v, g.factor), _mm_mul_epu32(odd, g.factor));
    rounded = _mm_sub_epi32(rounded, _mm_and_si128(_mm_srai_epi32(v, 31), g.factor));
#endif
    if constexpr (Multiple > 0) {
        return _mm_add_epi32(rounded, v);
    } else if constexpr (Multiple < 0) {
        return _mm_sub_epi32(rounded, v);
    } else {
        return rounded;
    }
}

#if defined(__SSE4_1__)
// Any other gain whose multiple of v (as above) fits in 32 bits: the same split, with the multiple
// taken in 64-bit lanes and the sum clipped to 32 bits. Every gain but those within 2^-32 of
// +2^31 qualifies.
struct WideGain
{
    static bool Fits(SampleGain gain)
    {
        const int64_t multiple = Multiple(gain);
        return multiple >= INT32_MIN && multiple <= INT32_MAX;
    }
    static int64_t Multiple(SampleGain gain)
    {
        return (gain >> 32) + (static_cast<int32_t>(static_cast<uint32_t>(gain)) < 0 ? 1 : 0);
    }
    explicit WideGain(SampleGain gain)
        : factor(_mm_set1_epi32(static_cast<int32_t>(static_cast<uint32_t>(gain)))),
          multiple(_mm_set1_epi32(static_cast<int32_t>(Multiple(gain))))
    {
    }
    V factor;
    V multiple;
};

inline V ApplyGain(V v, V odd, const WideGain& g)
{
    const V rounded = RoundedHighHalves(_mm_mul_epi32(v, g.factor), _mm_mul_epi32(odd, g.factor));
    // The rounded parts of lanes 0, 2 and of lanes 1, 3, sign-extended to 64 bits.
    const V ordered = _mm_shuffle_epi32(rounded, _MM_SHUFFLE(3, 1, 2, 0));
    const V signs = _mm_srai_epi32(ordered, 31);
    const V even = _mm_add_epi64(_mm_mul_epi32(v, g.multiple), _mm_unpacklo_epi32(ordered, signs));
    const V late =
        _mm_add_epi64(_mm_mul_epi32(odd, g.multiple), _mm_unpackhi_epi32(ordered, signs));
    const V low = _mm_blend_epi16(even, _mm_slli_epi64(late, 32), 0xCC);
    const V high = _mm_blend_epi16(_mm_srli_epi64(even, 32), late, 0xCC);
    // A 64-bit sum fits in 32 bits when its high half is the sign of its low half.
    const V fits = _mm_cmpeq_epi32(high, _mm_srai_epi32(low, 31));
    const V clipped = _mm_xor_si128(_mm_srai_epi32(high, 31), _mm_set1_epi32(INT32_MAX));
    return _mm_blendv_epi8(clipped, low, fits);
}
#endif

#if defined(__SSE4_1__)
// A wider gain whose multiple of v (as above) is small: v x gain = round32(v x low) + M x v,
// clipped. Adding v M times and clipping at every step ends where one clip of the exact sum does:
// a step that clips leaves the sum at the end v runs toward, and the exact sum runs on past it.
// Each step clips without a wider lane: before adding v, the sum is held to full scale minus v.
template <int Multiple>
struct SmallWideGain
{
    V factor;
};

template <int Multiple>
inline V ApplyGain(V v, V odd, const SmallWideGain<Multiple>& g)
{
    V sum = RoundedHighHalves(_mm_mul_epi32(v, g.factor), _mm_mul_epi32(odd, g.factor));
    const V negative = _mm_srai_epi32(v, 31);
    if constexpr (Multiple > 0) {
        // v >= 0: at most INT32_MAX - v; v < 0: at least INT32_MIN - v.
        const V limit = _mm_sub_epi32(_mm_xor_si128(negative, _mm_set1_epi32(INT32_MAX)), v);
        for (int k = 0; k < Multiple; ++k) {
            const V held =
                _mm_blendv_epi8(_mm_min_epi32(sum, limit), _mm_max_epi32(sum, limit), negative);
            sum = _mm_add_epi32(held, v);
        }
    } else {
        // v >= 0: at least INT32_MIN + v; v < 0: at most INT32_MAX + v.
        const V limit = _mm_add_epi32(_mm_xor_si128(negative, _mm_set1_epi32(INT32_MIN)), v);
        for (int k = 0; k < -Multiple; ++k) {
            const V held =
                _mm_blendv_epi8(_mm_max_epi32(sum, limit), _mm_min_epi32(sum, limit), negative);
            sum = _mm_sub_epi32(held, v);
        }
    }
    return sum;
}
#endif

#if defined(__SSSE3__)
// A gain above 0 and below 1.0 on packed 24-bit samples, taken from the bytes as they lie: the
// bytes that decoding shuffles into place are shuffled straight to where the products want them.
// Each sample v is made the unsigned u = v + 2^31 (its top bit flipped, once for sixteen bytes),
// and u x gain + offset = v x gain + 2^31 exactly, for offset = 2^31 - 2^31 x gain (mod 2^64):
// the high half is the rounded product, with no whole multiple of v to add for gains of 0.5 and
// more. Samples 0 and 1 go to one product and 2 and 3 to the other, so one shuffle puts the four
// high halves in order. For an odd gain the offset's low half is zero: it is then added once to
// the four results (Whole) instead of to each product.
template <bool Whole>
struct TripletGain
{
    V factor;
    V offset;  // Whole: the offset's high half in each lane; else the offset in each 64-bit lane
};

template <class G>
constexpr bool kIsTripletGain = false;
template <bool Whole>
constexpr bool kIsTripletGain<TripletGain<Whole>> = true;

template <class L>
concept HasTriplets = requires
{
    L::kTripletOrder[2];
};

inline bool FitsTripletGain(SampleGain gain)
{
    return gain > 0 && gain < 0x100000000LL;
}

template <class Gain>
inline Gain MakeTripletGain(SampleGain gain)
{
    const V factor = _mm_set1_epi32(static_cast<int32_t>(static_cast<uint32_t>(gain)));
    const uint64_t offset = (uint64_t{1} << 31) - (uint64_t{1} << 31) * static_cast<uint64_t>(gain);
    if constexpr (std::is_same_v<Gain, TripletGain<true>>) {
        return {factor, _mm_set1_epi32(static_cast<int32_t>(static_cast<uint32_t>(offset >> 32)))};
    } else {
        return {factor, _mm_set1_epi64x(static_cast<int64_t>(offset))};
    }
}

// The products' high halves, lanes 1 and 3 of each, in one register: early's then late's.
template <bool Whole>
inline V TripletHighHalves(V early, V late, const TripletGain<Whole>& g)
{
    if constexpr (!Whole) {
        early = _mm_add_epi64(early, g.offset);
        late = _mm_add_epi64(late, g.offset);
    }
    const V high = _mm_castps_si128(
        _mm_shuffle_ps(_mm_castsi128_ps(early), _mm_castsi128_ps(late), _MM_SHUFFLE(3, 1, 3, 1)));
    return Whole ? _mm_add_epi32(high, g.offset) : high;
}

// Decoded samples (a run's last group): v's lanes 0 and 2, then odd's.
template <bool Whole>
inline V ApplyGain(V v, V odd, const TripletGain<Whole>& g)
{
    const V bias = _mm_set1_epi32(INT32_MIN);
    const V high = TripletHighHalves(_mm_mul_epu32(_mm_xor_si128(v, bias), g.factor),
                                     _mm_mul_epu32(_mm_xor_si128(odd, bias), g.factor), g);
    return _mm_shuffle_epi32(high, _MM_SHUFFLE(3, 1, 2, 0));
}

// Triplets T and T + 3 (bytes of x) as lanes 0 and 2, each left-justified; lanes 1 and 3 zero.
template <class S, int T>
inline V TripletPairLanes()
{
    constexpr int a = T + S::kTripletOrder[0];
    constexpr int b = T + S::kTripletOrder[1];
    constexpr int c = T + S::kTripletOrder[2];
    return _mm_setr_epi8(-1, a, b, c, -1, -1, -1, -1, -1, a + 3, b + 3, c + 3, -1, -1, -1, -1);
}

// The top bit of each of the four triplets from byte At of x.
template <class S, int At>
inline V TripletSignBits()
{
    constexpr int top = At + S::kTripletOrder[2];
    alignas(16) int8_t bytes[16] = {};
    for (int k = 0; k < 4; ++k) {
        bytes[top + 3 * k] = INT8_MIN;
    }
    return _mm_load_si128(reinterpret_cast<const V*>(bytes));
}

// The four samples from byte At (0 or 4) of x, scaled.
template <class S, int At, bool Whole>
inline V ScaleTriplets(V x, const TripletGain<Whole>& g)
{
    x = _mm_xor_si128(x, TripletSignBits<S, At>());
    const V early = _mm_mul_epu32(_mm_shuffle_epi8(x, TripletPairLanes<S, At>()), g.factor);
    const V late = _mm_mul_epu32(_mm_shuffle_epi8(x, TripletPairLanes<S, At + 6>()), g.factor);
    return TripletHighHalves(early, late, g);
}
#endif

// --- Kernels. ---

#if defined(__SSSE3__)
// Between the two packed 24-bit orders each sample's three bytes turn round: eight samples in two
// loads, two byte shuffles and two stores, every byte written once and only where it belongs (a
// device may be reading the ring being written).
template <class S, class D>
constexpr bool kSwapsTriplets = (std::is_same_v<S, VInt24LE> && std::is_same_v<D, VInt24BE>) ||
                                (std::is_same_v<S, VInt24BE> && std::is_same_v<D, VInt24LE>);

inline uint32_t SwapTriplets(const uint8_t* s, uint8_t* d, uint32_t count)
{
    const V early = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, -1, -1, -1, -1);
    const V late = _mm_setr_epi8(6, 5, 4, 9, 8, 7, 12, 11, 10, 15, 14, 13, -1, -1, -1, -1);
    uint32_t i = 0;
    for (; i + 8 <= count; i += 8, s += 24, d += 24) {
        const V first = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const V*>(s)), early);
        const V second = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const V*>(s + 8)), late);
        _mm_storeu_si128(reinterpret_cast<V*>(d), _mm_or_si128(first, _mm_slli_si128(second, 12)));
        _mm_storel_epi64(reinterpret_cast<V*>(d + 16), _mm_srli_si128(second, 4));
    }
    return i;
}
#endif

template <class S, class D>
uint32_t CopyKernel(const uint8_t* s, uint8_t* d, uint32_t count, SampleGain)
{
    const uint32_t whole = count & ~3u;
    if constexpr ((S::kHasLabel && D::kHasLabel) || std::is_same_v<S, D>) {
        std::memcpy(d, s, size_t{whole} * D::kBytes);  // the bytes move as they are
    } else {
        uint32_t i = 0;
#if defined(__SSSE3__)
        if constexpr (kSwapsTriplets<S, D>) {
            i = SwapTriplets(s, d, count);
            s += size_t{i} * 3;
            d += size_t{i} * 3;
        }
#endif
        if constexpr (HasPairs<S> || HasPairs<D>) {
            for (; i + 8 <= whole; i += 8, s += 8 * S::kBytes, d += 8 * D::kBytes) {
                V first;
                V second;
                LoadPair<S>(s, first, second);
                StorePair<D, true>(d, first, second);
            }
        }
        for (; i < whole; i += 4, s += 4 * S::kBytes, d += 4 * D::kBytes) {
            StoreWithLabel<D>(d, S::Load(s));
        }
    }
    return whole;
}

// Plain adds run the gain loop with this: the same loads, clips and stores, nothing scaled.
struct Unity
{
};

inline V ApplyGain(V v, V, const Unity&)
{
    return v;
}

template <class Gain>
inline V ApplyGain(V v, const Gain& g)
{
    return ApplyGain(v, OddLanes(v), g);
}

// Four-byte words hold a group's lanes 1 and 3 four bytes on, where a load puts them in lanes 0 and
// 2 for the second product: the gain loops are bound by the vector ALU ports while the load ports
// idle, so that load saves each group a shuffle. It reads the sample after the group, so it is
// only made where one lies in the run: groups that end before AheadLimit.
template <class S>
constexpr bool kLoadsOddLanes = std::is_same_v<S, VInt32LE>;

template <class S>
inline uint32_t AheadLimit(uint32_t count)
{
    if constexpr (kLoadsOddLanes<S>) {
        return count == 0 ? 0 : (count - 1) & ~3u;
    } else {
        return count & ~3u;
    }
}

// v, the four samples at p, scaled.
template <class S, class Gain>
inline V ScaleAhead(const uint8_t* p, V v, const Gain& g)
{
    if constexpr (kLoadsOddLanes<S>) {
        return ApplyGain(v, _mm_loadu_si128(reinterpret_cast<const V*>(p + 4)), g);
    } else {
        return ApplyGain(v, g);
    }
}

// Group K (0 or 1) of the eight samples at pair (decoded: v), scaled. A triplet gain takes the
// group from sixteen bytes that read on into the pair's other group (K = 0) or back into it.
template <class S, int K, class Gain>
inline V ScaleInPair(const uint8_t* pair, V v, const Gain& g)
{
#if defined(__SSSE3__)
    if constexpr (kIsTripletGain<Gain> && HasTriplets<S>) {
        const V x = _mm_loadu_si128(reinterpret_cast<const V*>(pair + 8 * K));
        return ScaleTriplets<S, 4 * K>(x, g);
    }
#endif
    return ScaleAhead<S>(pair + 4 * K * S::kBytes, v, g);
}

template <class S, class D, bool Labelled, class Gain>
uint32_t AddLoop(const uint8_t* s, uint8_t* d, uint32_t count, const Gain& g)
{
    const uint32_t whole = count & ~3u;
    const uint32_t ahead = AheadLimit<S>(count);
    uint32_t i = 0;
#if defined(__SSE4_1__)
    if constexpr (HasQuads<D>) {
        for (; i + 16 <= ahead; i += 16, s += 16 * S::kBytes, d += 16 * D::kBytes) {
            V from[4];
            V to[4];
            LoadQuad<S>(s, from);
            LoadQuad<D>(d, to);
            to[0] = AddNarrow<D>(to[0], ScaleInPair<S, 0>(s, from[0], g));
            to[1] = AddNarrow<D>(to[1], ScaleInPair<S, 1>(s, from[1], g));
            to[2] = AddNarrow<D>(to[2], ScaleInPair<S, 0>(s + 8 * S::kBytes, from[2], g));
            to[3] = AddNarrow<D>(to[3], ScaleInPair<S, 1>(s + 8 * S::kBytes, from[3], g));
            D::StoreRight16(d, to);
        }
    }
#endif
    if constexpr (HasPairs<S> || HasPairs<D>) {
        for (; i + 8 <= ahead; i += 8, s += 8 * S::kBytes, d += 8 * D::kBytes) {
            V from0;
            V from1;
            V to0;
            V to1;
            LoadPair<S>(s, from0, from1);
            LoadPair<D>(d, to0, to1);
            StoreSums<D, Labelled>(d, to0, ScaleInPair<S, 0>(s, from0, g), to1,
                                   ScaleInPair<S, 1>(s, from1, g));
        }
    }
#pragma GCC unroll 2
    for (; i < ahead; i += 4, s += 4 * S::kBytes, d += 4 * D::kBytes) {
        StoreSum<D, Labelled>(d, D::Load(d), ScaleAhead<S>(s, S::Load(s), g));
    }
    for (; i < whole; i += 4, s += 4 * S::kBytes, d += 4 * D::kBytes) {
        StoreSum<D, Labelled>(d, D::Load(d), ApplyGain(S::Load(s), g));
    }
    return whole;
}

template <class S, class D>
uint32_t AddKernel(const uint8_t* s, uint8_t* d, uint32_t count, SampleGain)
{
    return AddLoop<S, D, S::kLabelsOnAdd>(s, d, count, Unity{});
}

template <class S, class D, class Gain>
uint32_t GainCopyLoop(const uint8_t* s, uint8_t* d, uint32_t count, const Gain& g)
{
    const uint32_t whole = count & ~3u;
    const uint32_t ahead = AheadLimit<S>(count);
    uint32_t i = 0;
    if constexpr (HasQuads<D>) {
        for (; i + 16 <= ahead; i += 16, s += 16 * S::kBytes, d += 16 * D::kBytes) {
            V v[4];
            LoadQuad<S>(s, v);
            v[0] = ScaleInPair<S, 0>(s, v[0], g);
            v[1] = ScaleInPair<S, 1>(s, v[1], g);
            v[2] = ScaleInPair<S, 0>(s + 8 * S::kBytes, v[2], g);
            v[3] = ScaleInPair<S, 1>(s + 8 * S::kBytes, v[3], g);
            D::Store16(d, v);
        }
    }
    if constexpr (HasPairs<S> || HasPairs<D>) {
        for (; i + 8 <= ahead; i += 8, s += 8 * S::kBytes, d += 8 * D::kBytes) {
            V from0;
            V from1;
            LoadPair<S>(s, from0, from1);
            StorePair<D, true>(d, ScaleInPair<S, 0>(s, from0, g), ScaleInPair<S, 1>(s, from1, g));
        }
    }
#pragma GCC unroll 2
    for (; i < ahead; i += 4, s += 4 * S::kBytes, d += 4 * D::kBytes) {
        StoreWithLabel<D>(d, ScaleAhead<S>(s, S::Load(s), g));
    }
    for (; i < whole; i += 4, s += 4 * S::kBytes, d += 4 * D::kBytes) {
        StoreWithLabel<D>(d, ApplyGain(S::Load(s), g));
    }
    return whole;
}

template <class S, class D, bool Add, class Gain>
uint32_t GainLoop(const uint8_t* s, uint8_t* d, uint32_t count, const Gain& g)
{
    return Add ? AddLoop<S, D, true>(s, d, count, g) : GainCopyLoop<S, D>(s, d, count, g);
}

// Non-zero gains only (gain 0 has rules of its own, kept by the scalar routine). A gain this level
// cannot take moves nothing and leaves the whole run to the scalar routine.
template <class S, class D, bool Add>
uint32_t GainKernel(const uint8_t* s, uint8_t* d, uint32_t count, SampleGain gain)
{
#if defined(__SSSE3__)
    if constexpr (HasTriplets<S>) {
        if (FitsTripletGain(gain)) {
            return (gain & 1) != 0
                       ? GainLoop<S, D, Add>(s, d, count, MakeTripletGain<TripletGain<true>>(gain))
                       : GainLoop<S, D, Add>(s, d, count,
                                             MakeTripletGain<TripletGain<false>>(gain));
        }
    }
#endif
    if (gain > -0xFFFFFFFFLL && gain <= 0x100000000LL) {  // from -1.0 + 2^-31 up to 1.0
        const V factor = _mm_set1_epi32(static_cast<int32_t>(static_cast<uint32_t>(gain)));
        switch (NarrowMultiple(gain)) {
            case 1:
                return GainLoop<S, D, Add>(s, d, count, NarrowGain<1>{factor});
            case -1:
                return GainLoop<S, D, Add>(s, d, count, NarrowGain<-1>{factor});
            default:
                return GainLoop<S, D, Add>(s, d, count, NarrowGain<0>{factor});
        }
    }
#if defined(__SSE4_1__)
    const V factor = _mm_set1_epi32(static_cast<int32_t>(static_cast<uint32_t>(gain)));
    switch (WideGain::Multiple(gain)) {
        case 1:
            return GainLoop<S, D, Add>(s, d, count, SmallWideGain<1>{factor});
        case 2:
            return GainLoop<S, D, Add>(s, d, count, SmallWideGain<2>{factor});
        case 3:
            return GainLoop<S, D, Add>(s, d, count, SmallWideGain<3>{factor});
        case -1:
            return GainLoop<S, D, Add>(s, d, count, SmallWideGain<-1>{factor});
        case -2:
            return GainLoop<S, D, Add>(s, d, count, SmallWideGain<-2>{factor});
        default:
            break;
    }
    if (WideGain::Fits(gain)) {
        return GainLoop<S, D, Add>(s, d, count, WideGain(gain));
    }
#endif
    return 0;
}

template <class S, class D>
uint32_t GainCopyKernel(const uint8_t* s, uint8_t* d, uint32_t count, SampleGain gain)
{
    return GainKernel<S, D, false>(s, d, count, gain);
}

template <class S, class D>
uint32_t GainAddKernel(const uint8_t* s, uint8_t* d, uint32_t count, SampleGain gain)
{
    return GainKernel<S, D, true>(s, d, count, gain);
}

#if defined(__SSE4_1__)
// Magnitudes as the scalar peak takes them (v, or its complement when negative), the largest per
// lane; lane i holds channel i % channels when channels divides four.
template <class L>
uint32_t PeakKernel(const uint8_t* s, uint32_t count, uint32_t channels, uint32_t* peaks)
{
    const uint32_t whole = count & ~3u;
    V highest = _mm_setzero_si128();
    for (uint32_t i = 0; i < whole; i += 4, s += 4 * L::kBytes) {
        const V v = L::Load(s);
        highest = _mm_max_epu32(highest, _mm_xor_si128(v, _mm_srai_epi32(v, 31)));
    }
    uint32_t lanes[4];
    _mm_storeu_si128(reinterpret_cast<V*>(lanes), highest);
    for (uint32_t lane = 0; lane < 4; ++lane) {
        uint32_t& peak = peaks[lane % channels];
        peak = lanes[lane] > peak ? lanes[lane] : peak;
    }
    return whole;
}
#endif

template <class L>
constexpr PackedPeakKernel PeakKernelFor()
{
#if defined(__SSE4_1__)
    return &PeakKernel<L>;
#else
    return nullptr;  // the unsigned maximum comes with SSE4.1
#endif
}

enum class PackedOperation
{
    Copy,
    Add,
    GainCopy,
    GainAdd
};

template <PackedOperation Op, class S, class D>
constexpr PackedKernel KernelFor()
{
    if constexpr (Op == PackedOperation::Copy) {
        return &CopyKernel<S, D>;
    } else if constexpr (Op == PackedOperation::Add) {
        return &AddKernel<S, D>;
    } else if constexpr (Op == PackedOperation::GainCopy) {
        return &GainCopyKernel<S, D>;
    } else {
        return &GainAddKernel<S, D>;
    }
}

template <PackedOperation Op, class... Layouts>
struct KernelTable
{
    template <class D>
    static constexpr PackedKernelRow Row()
    {
        return {{KernelFor<Op, Layouts, D>()...}};
    }
    static constexpr PackedKernelTable kTable = {{Row<Layouts>()...}};
};

// In the order of the converter tables' rows.
template <PackedOperation Op>
using TableOf = KernelTable<Op, VInt16LE, VInt24LE, VInt32LE, VInt16BE, VInt24BE, VLabelled24BE>;

constexpr PackedKernelSet kKernels = {
    TableOf<PackedOperation::Copy>::kTable,
    TableOf<PackedOperation::Add>::kTable,
    TableOf<PackedOperation::GainCopy>::kTable,
    TableOf<PackedOperation::GainAdd>::kTable,
    {PeakKernelFor<VInt16LE>(), PeakKernelFor<VInt24LE>(), PeakKernelFor<VInt32LE>(),
     PeakKernelFor<VInt16BE>(), PeakKernelFor<VInt24BE>(), PeakKernelFor<VLabelled24BE>()}};

}  // namespace
