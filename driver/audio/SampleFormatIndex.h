#pragma once
// Maps a sample-format code to the row of the converter tables. Internal to the audio data path.

#include <cstdint>

#include "audio/SampleFormat.h"

// Table rows, one per distinct layout; the two labelled codes share the last.
enum SampleFormatIndex : uint32_t
{
    kIndexInt16LE,
    kIndexInt24LE,
    kIndexInt32LE,
    kIndexInt16BE,
    kIndexInt24BE,
    kIndexLabelled24BE,
    kSampleFormatIndexCount
};

// The row of code; kSampleFormatIndexCount when code is none of the seven.
constexpr uint32_t SampleFormatIndexOf(SampleFormatCode code)
{
    switch (code) {
        case kSampleInt16LE:
            return kIndexInt16LE;
        case kSampleInt24LE:
            return kIndexInt24LE;
        case kSampleInt32LE:
            return kIndexInt32LE;
        case kSampleInt16BE:
            return kIndexInt16BE;
        case kSampleInt24BE:
            return kIndexInt24BE;
        case kSampleLabelled24BE:
        case kSampleLabelled24BEAlt:
            return kIndexLabelled24BE;
        default:
            return kSampleFormatIndexCount;
    }
}

// The row of code; an unknown code stops the system with bug check 0xDEADDEAD. Codes are
// validated where they are formed from outside data, so reaching this with another value is a
// broken invariant of the driver, not bad input.
uint32_t SampleFormatIndexOrStop(SampleFormatCode code);
