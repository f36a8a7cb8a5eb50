#include "ks/PinStream.h"

namespace {

// ((h x S) / f) x 2^32 + (((h x S) mod f) x 2^32 + l x S) / f, which stays within 64 bits for
// frequencies below 2^32 and scales up to 1e9.
ULONGLONG Scale(ULONGLONG counter, ULONGLONG frequency, ULONGLONG scale)
{
    if (frequency == 0) {
        return 0;
    }
    const ULONGLONG high = counter >> 32;
    const ULONGLONG low = counter & 0xFFFFFFFFull;
    const ULONGLONG highScaled = high * scale;
    return (highScaled / frequency << 32) +
           (((highScaled % frequency) << 32) + low * scale) / frequency;
}

}  // namespace

ULONGLONG QpcTo100ns(ULONGLONG counter, ULONGLONG frequency)
{
    return Scale(counter, frequency, 10000000ull);
}

ULONGLONG QpcToNs(ULONGLONG counter, ULONGLONG frequency)
{
    return Scale(counter, frequency, 1000000000ull);
}

ULONGLONG Now100ns()
{
    LARGE_INTEGER frequency;
    const LARGE_INTEGER counter = KeQueryPerformanceCounter(&frequency);
    return QpcTo100ns(static_cast<ULONGLONG>(counter.QuadPart),
                      static_cast<ULONGLONG>(frequency.QuadPart));
}
