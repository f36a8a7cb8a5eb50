#pragma once
// The wide-character helpers of the run-time library, for UTF-16 text and independent of the
// process locale: the same text gives the same number and the same case on every machine.

#include <cstdint>

namespace Orv {

// Simple one-to-one case mapping of a UTF-16 code unit (surrogates and unmapped units unchanged).
char16_t towupper(char16_t c);
char16_t towlower(char16_t c);

// Compares after folding both texts to lower case, code unit by code unit: < 0, 0 or > 0.
int _wcsicmp(const char16_t* a, const char16_t* b);

// Leading white space, an optional sign and the digits that follow; 0 when there are none.
// Values beyond the int range saturate.
int _wtoi(const char16_t* text);
// Leading white space, then the longest prefix that reads as a decimal floating-point number
// ("inf", "infinity" and "nan" included, case-blind); 0 when there is none.
double _wtof(const char16_t* text);

namespace Detail {
// Case of the ASCII letters only, for UTF-8 text (bytes of other characters are left alone).
constexpr char ToUpperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
constexpr char ToLowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The same parses over narrow (ASCII-compatible) text.
int ParseInt(const char* text);
double ParseDouble(const char* text);
}  // namespace Detail

}  // namespace Orv
