#include "Utilities/Storage/WideChar.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <limits>
#include <string>

#include "Utilities/Storage/CaseTables.h"

namespace Orv {
namespace {

template <std::size_t N>
char16_t MapCase(const Detail::CaseRange (&table)[N], char16_t c)
{
    const auto* row = std::upper_bound(
        std::begin(table), std::end(table), c,
        [](char16_t unit, const Detail::CaseRange& range) { return unit < range.first; });
    if (row == std::begin(table)) {
        return c;
    }
    --row;
    if (c > row->last || (c - row->first) % row->stride != 0) {
        return c;
    }
    return static_cast<char16_t>(c + row->delta);
}

template <class Char>
bool IsSpace(Char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

template <class Char>
bool IsDigit(Char c)
{
    return c >= '0' && c <= '9';
}

// Past the leading white space and an optional sign, which it reports.
template <class Char>
const Char* SkipBlanksAndSign(const Char* text, bool& negative)
{
    while (IsSpace(*text)) {
        ++text;
    }
    negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    return text;
}

template <class Char>
int ParseIntT(const Char* text)
{
    if (text == nullptr) {
        return 0;
    }
    bool negative = false;
    text = SkipBlanksAndSign(text, negative);
    int64_t value = 0;
    for (; IsDigit(*text); ++text) {
        value = value * 10 + (*text - '0');
        if (value > int64_t{INT_MAX} + 1) {
            value = int64_t{INT_MAX} + 1;
        }
    }
    if (negative) {
        value = -value;
    }
    return static_cast<int>(std::clamp<int64_t>(value, INT_MIN, INT_MAX));
}

template <class Char>
bool MatchesWord(const Char* text, const char* word)
{
    for (; *word != '\0'; ++word, ++text) {
        const Char c = *text;
        const Char lower = (c >= 'A' && c <= 'Z') ? static_cast<Char>(c - 'A' + 'a') : c;
        if (lower != static_cast<Char>(*word)) {
            return false;
        }
    }
    return true;
}

template <class Char>
double ParseDoubleT(const Char* text)
{
    if (text == nullptr) {
        return 0.0;
    }
    bool negative = false;
    text = SkipBlanksAndSign(text, negative);
    const double sign = negative ? -1.0 : 1.0;
    if (MatchesWord(text, "inf")) {
        return sign * std::numeric_limits<double>::infinity();
    }
    if (MatchesWord(text, "nan")) {
        return std::numeric_limits<double>::quiet_NaN();
    }

    // Collect the number's characters as ASCII: digits, one point, digits, an exponent.
    std::string number;
    int integerDigits = 0;  // significant digits before the point
    int leadingZeros = 0;   // zeros right after the point before the first significant digit
    bool significant = false;
    for (; IsDigit(*text); ++text) {
        significant = significant || *text != '0';
        integerDigits += significant ? 1 : 0;
        number += static_cast<char>(*text);
    }
    if (*text == '.') {
        number += '.';
        for (++text; IsDigit(*text); ++text) {
            if (!significant && *text == '0') {
                ++leadingZeros;
            }
            significant = significant || *text != '0';
            number += static_cast<char>(*text);
        }
    }
    if (number.empty() || number == ".") {
        return 0.0;
    }
    int64_t exponent = 0;
    if ((*text == 'e' || *text == 'E')) {
        const Char* e = text + 1;
        bool negativeExponent = false;
        if (*e == '+' || *e == '-') {
            negativeExponent = *e == '-';
            ++e;
        }
        if (IsDigit(*e)) {
            number += 'e';
            if (negativeExponent) {
                number += '-';
            }
            for (; IsDigit(*e); ++e) {
                exponent = std::min<int64_t>(exponent * 10 + (*e - '0'), 100000);
                number += static_cast<char>(*e);
            }
            if (negativeExponent) {
                exponent = -exponent;
            }
        }
    }
    double value = 0.0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    (void)end;
    if (error == std::errc::result_out_of_range) {
        // Too large or too small for a double: the decimal magnitude tells which.
        const int64_t magnitude = (integerDigits > 0 ? integerDigits : -leadingZeros) + exponent;
        value = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (error != std::errc()) {
        value = 0.0;
    }
    return sign * value;
}

}  // namespace

char16_t towupper(char16_t c)
{
    return MapCase(Detail::kToUpperRanges, c);
}

char16_t towlower(char16_t c)
{
    return MapCase(Detail::kToLowerRanges, c);
}

int _wcsicmp(const char16_t* a, const char16_t* b)
{
    for (;; ++a, ++b) {
        const int x = towlower(*a);
        const int y = towlower(*b);
        if (x != y || x == 0) {
            return x - y;
        }
    }
}

int _wtoi(const char16_t* text)
{
    return ParseIntT(text);
}

double _wtof(const char16_t* text)
{
    return ParseDoubleT(text);
}

namespace Detail {
int ParseInt(const char* text)
{
    return ParseIntT(text);
}
double ParseDouble(const char* text)
{
    return ParseDoubleT(text);
}
}  // namespace Detail

}  // namespace Orv
