#pragma once
// A plain model of the sample arithmetic, written from the rules rather than from the routines:
// decode a sample to an integer at its own precision, do the arithmetic on wide integers with
// floor division, clip, encode. The converter tests compare every generated routine against it.

#include <cstdint>
#include <string>
#include <vector>

#include "audio/SampleFormat.h"

namespace SampleModel {

struct FormatInfo
{
    SampleFormatCode code;
    const char* name;
    int bytes;  // in memory
    int bits;   // significant
    bool bigEndian;
    bool labelled;  // byte 0 is a label, the value in bytes 1..3
};

inline const FormatInfo kFormats[] = {
    {kSampleInt16LE, "Int16LE", 2, 16, false, false},
    {kSampleInt24LE, "Int24LE", 3, 24, false, false},
    {kSampleInt32LE, "Int32LE", 4, 32, false, false},
    {kSampleInt16BE, "Int16BE", 2, 16, true, false},
    {kSampleInt24BE, "Int24BE", 3, 24, true, false},
    {kSampleLabelled24BE, "Labelled24BE", 4, 24, true, true},
    {kSampleLabelled24BEAlt, "Labelled24BEAlt", 4, 24, true, true},
};

// The sample at its own precision, sign included.
inline int64_t Decode(const FormatInfo& f, const uint8_t* p)
{
    const uint8_t* value = f.labelled ? p + 1 : p;
    const int valueBytes = f.bits / 8;
    uint64_t raw = 0;
    for (int i = 0; i < valueBytes; ++i) {
        const int significance = f.bigEndian ? valueBytes - 1 - i : i;
        raw += uint64_t{value[i]} << (8 * significance);
    }
    const int64_t range = int64_t{1} << f.bits;
    int64_t x = static_cast<int64_t>(raw);
    if (x >= range / 2) {
        x -= range;
    }
    return x;
}

inline void Encode(const FormatInfo& f, uint8_t* p, int64_t x)
{
    uint8_t* value = f.labelled ? p + 1 : p;
    const int valueBytes = f.bits / 8;
    const uint64_t raw = static_cast<uint64_t>(x);
    for (int i = 0; i < valueBytes; ++i) {
        const int significance = f.bigEndian ? valueBytes - 1 - i : i;
        value[i] = static_cast<uint8_t>(raw >> (8 * significance));
    }
}

inline int64_t FloorDiv(__int128 a, __int128 b)
{
    __int128 q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) {
        --q;
    }
    return static_cast<int64_t>(q);
}

inline int64_t Clip(int64_t x, int bits)
{
    const int64_t high = (int64_t{1} << (bits - 1)) - 1;
    const int64_t low = -(int64_t{1} << (bits - 1));
    return x > high ? high : (x < low ? low : x);
}

// The sample as a 32-bit left-justified value: x scaled up to 32 bits.
inline int64_t ToFullScale(const FormatInfo& f, int64_t x)
{
    return x * (int64_t{1} << (32 - f.bits));
}

// A 32-bit value brought to bits of precision, rounding toward minus infinity.
inline int64_t ToPrecision(int64_t full, int bits)
{
    return FloorDiv(full, int64_t{1} << (32 - bits));
}

enum class Operation
{
    Copy,
    Add,
    GainCopy,
    GainAdd
};

inline const char* OperationName(Operation op)
{
    switch (op) {
        case Operation::Copy:
            return "copy";
        case Operation::Add:
            return "add";
        case Operation::GainCopy:
            return "gain copy";
        case Operation::GainAdd:
            return "gain add";
    }
    return "?";
}

// v x gain rounded half up at 32-bit precision, clipped to 32 bits.
inline int64_t Scaled(int64_t full, int64_t gain)
{
    const __int128 exact = static_cast<__int128>(full) * gain;
    return Clip(FloorDiv(exact + (__int128{1} << 31), __int128{1} << 32), 32);
}

// One sample through one operation: src points at the source sample, dst at the destination
// sample, which is updated in place.
inline void Apply(Operation op, const FormatInfo& from, const FormatInfo& to, const uint8_t* src,
                  uint8_t* dst, int64_t gain)
{
    const bool gained = op == Operation::GainCopy || op == Operation::GainAdd;
    const bool adding = op == Operation::Add || op == Operation::GainAdd;
    if (gained && gain == 0) {
        if (!adding) {
            for (int i = 0; i < to.bytes; ++i) {
                dst[i] = 0;
            }
        }
        return;
    }
    if (op == Operation::Copy && from.labelled && to.labelled) {
        for (int i = 0; i < 4; ++i) {
            dst[i] = src[i];
        }
        return;
    }
    int64_t full = ToFullScale(from, Decode(from, src));
    if (gained) {
        full = Scaled(full, gain);
    }
    int64_t result = ToPrecision(full, to.bits);
    if (adding) {
        result = Clip(Decode(to, dst) + result, to.bits);
    }
    Encode(to, dst, result);
    if (to.labelled) {
        // Adds from the big-endian packed formats leave the label byte alone.
        const bool keepsLabel = op == Operation::Add && from.bigEndian && !from.labelled;
        if (!keepsLabel) {
            dst[0] = 0x40;
        }
    }
}

// The peak magnitude of one sample as the meter defines it.
inline uint32_t Magnitude(const FormatInfo& f, const uint8_t* p)
{
    const int64_t full = ToFullScale(f, Decode(f, p));
    return static_cast<uint32_t>(full >= 0 ? full : -full - 1);
}

}  // namespace SampleModel
