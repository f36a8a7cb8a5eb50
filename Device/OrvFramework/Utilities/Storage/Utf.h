#pragma once
// Exact UTF-16 <-> UTF-8 conversion. Both converters advance the caller's source and target
// cursors and write them back at every stop, so a caller can resume after growing its target or
// report how far a text was converted before an illegal character.

#include <cstdint>

namespace Orv {

enum ConversionResult : int32_t
{
    ConversionOK = 0,
    SourceExhausted = 1,  // the source ends inside a character
    TargetExhausted = 2,  // no room for the next character; the source cursor is on it
    SourceIllegal = 3,    // the source cursor is on the illegal character
};

// Unpaired surrogates: strict (lenient = false) stops with SourceIllegal; lenient encodes the lone
// surrogate as a three-byte sequence. A high surrogate that is the last unit of the source stops
// with SourceExhausted in both modes.
ConversionResult ConvertUtf16ToUtf8(const char16_t** sourceStart, const char16_t* sourceEnd,
                                    char** targetStart, char* targetEnd, bool lenient);

// Overlong forms, encoded surrogates, values above 10FFFF and five- and six-byte forms are
// SourceIllegal in both modes.
ConversionResult ConvertUtf8ToUtf16(const char** sourceStart, const char* sourceEnd,
                                    char16_t** targetStart, char16_t* targetEnd, bool lenient);

// Whether the `length` bytes (1 to 4) form one legal UTF-8 sequence.
bool IsLegalUtf8(const unsigned char* sequence, int length);

}  // namespace Orv
