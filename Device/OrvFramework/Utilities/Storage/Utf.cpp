#include "Utilities/Storage/Utf.h"

namespace Orv {
namespace {

constexpr uint32_t kReplacement = 0xFFFD;
constexpr uint32_t kMaxCodePoint = 0x10FFFF;

constexpr bool IsHighSurrogate(uint32_t u)
{
    return u >= 0xD800 && u <= 0xDBFF;
}
constexpr bool IsLowSurrogate(uint32_t u)
{
    return u >= 0xDC00 && u <= 0xDFFF;
}

constexpr int TrailingBytes(unsigned char lead)
{
    if (lead < 0xC0) {
        return 0;
    }
    if (lead < 0xE0) {
        return 1;
    }
    if (lead < 0xF0) {
        return 2;
    }
    if (lead < 0xF8) {
        return 3;
    }
    if (lead < 0xFC) {
        return 4;
    }
    return 5;
}

constexpr uint32_t kOffsets[6] = {0x00000000, 0x00003080, 0x000E2080,
                                  0x03C82080, 0xFA082080, 0x82082080};
constexpr unsigned char kFirstByteMark[5] = {0x00, 0x00, 0xC0, 0xE0, 0xF0};

}  // namespace

bool IsLegalUtf8(const unsigned char* s, int length)
{
    if (length < 1 || length > 4) {
        return false;
    }
    // Trailing bytes from the last one back to the second; the second is checked by lead byte.
    switch (length) {
        case 4:
            if (s[3] < 0x80 || s[3] > 0xBF) {
                return false;
            }
            [[fallthrough]];
        case 3:
            if (s[2] < 0x80 || s[2] > 0xBF) {
                return false;
            }
            [[fallthrough]];
        case 2:
            if (s[1] > 0xBF) {
                return false;
            }
            switch (s[0]) {
                case 0xE0:
                    if (s[1] < 0xA0) {
                        return false;
                    }
                    break;
                case 0xED:
                    // Every trailing byte is 0x80 or more; the lead only narrows the top.
                    if (s[1] < 0x80 || s[1] > 0x9F) {
                        return false;
                    }
                    break;
                case 0xF0:
                    if (s[1] < 0x90) {
                        return false;
                    }
                    break;
                case 0xF4:
                    if (s[1] < 0x80 || s[1] > 0x8F) {
                        return false;
                    }
                    break;
                default:
                    if (s[1] < 0x80) {
                        return false;
                    }
            }
            [[fallthrough]];
        default:
            break;
    }
    if (s[0] >= 0x80 && s[0] < 0xC2) {
        return false;
    }
    return s[0] <= 0xF4;
}

ConversionResult ConvertUtf16ToUtf8(const char16_t** sourceStart, const char16_t* sourceEnd,
                                    char** targetStart, char* targetEnd, bool lenient)
{
    ConversionResult result = ConversionOK;
    const char16_t* source = *sourceStart;
    char* target = *targetStart;
    while (source < sourceEnd) {
        const char16_t* characterStart = source;
        uint32_t c = *source++;
        if (IsHighSurrogate(c)) {
            if (source >= sourceEnd) {
                source = characterStart;
                result = SourceExhausted;
                break;
            }
            const uint32_t next = *source;
            if (IsLowSurrogate(next)) {
                c = ((c - 0xD800) << 10) + (next - 0xDC00) + 0x10000;
                ++source;
            } else if (!lenient) {
                source = characterStart;
                result = SourceIllegal;
                break;
            }
        } else if (IsLowSurrogate(c) && !lenient) {
            source = characterStart;
            result = SourceIllegal;
            break;
        }

        const int bytes = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        if (targetEnd - target < bytes) {
            source = characterStart;
            result = TargetExhausted;
            break;
        }
        target += bytes;
        char* out = target;
        switch (bytes) {
            case 4:
                *--out = static_cast<char>((c | 0x80) & 0xBF);
                c >>= 6;
                [[fallthrough]];
            case 3:
                *--out = static_cast<char>((c | 0x80) & 0xBF);
                c >>= 6;
                [[fallthrough]];
            case 2:
                *--out = static_cast<char>((c | 0x80) & 0xBF);
                c >>= 6;
                [[fallthrough]];
            default:
                *--out = static_cast<char>(c | kFirstByteMark[bytes]);
        }
    }
    *sourceStart = source;
    *targetStart = target;
    return result;
}

ConversionResult ConvertUtf8ToUtf16(const char** sourceStart, const char* sourceEnd,
                                    char16_t** targetStart, char16_t* targetEnd, bool lenient)
{
    ConversionResult result = ConversionOK;
    const char* source = *sourceStart;
    char16_t* target = *targetStart;
    while (source < sourceEnd) {
        // Runs of ASCII, the usual text, go straight across.
        while (source < sourceEnd && target < targetEnd &&
               static_cast<unsigned char>(*source) < 0x80) {
            *target++ = static_cast<char16_t>(*source++);
        }
        if (source >= sourceEnd) {
            break;
        }
        const auto* bytes = reinterpret_cast<const unsigned char*>(source);
        const int extra = TrailingBytes(bytes[0]);
        if (sourceEnd - source <= extra) {
            result = SourceExhausted;
            break;
        }
        if (!IsLegalUtf8(bytes, extra + 1)) {
            result = SourceIllegal;
            break;
        }
        uint32_t c = 0;
        for (int i = 0; i <= extra; ++i) {
            c = (c << 6) + bytes[i];
        }
        c -= kOffsets[extra];

        if (target >= targetEnd) {
            result = TargetExhausted;
            break;
        }
        if (c <= 0xFFFF) {
            if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
                if (!lenient) {
                    result = SourceIllegal;
                    break;
                }
                *target++ = static_cast<char16_t>(kReplacement);
            } else {
                *target++ = static_cast<char16_t>(c);
            }
        } else if (c <= kMaxCodePoint) {
            if (targetEnd - target < 2) {
                result = TargetExhausted;
                break;
            }
            c -= 0x10000;
            *target++ = static_cast<char16_t>(0xD800 + (c >> 10));
            *target++ = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            if (!lenient) {
                result = SourceIllegal;
                break;
            }
            *target++ = static_cast<char16_t>(kReplacement);
        }
        source += extra + 1;
    }
    *sourceStart = source;
    *targetStart = target;
    return result;
}

}  // namespace Orv
