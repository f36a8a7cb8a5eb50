#include "Utilities/Storage/TextFormat.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Utilities/Storage/Utf.h"
#include "Utilities/Storage/WideChar.h"

namespace Orv::Detail {
namespace {

// Decimals that represent any double exactly (the smallest subnormal has 1074).
constexpr int kExactFixedDecimals = 1100;
// Significant digits that represent any double exactly (at most 767).
constexpr int kExactSignificantDigits = 800;

// Adds one unit in the last place of a decimal digit string; true when it carried out of the
// first digit (the string then reads all zeros).
bool IncrementDigits(std::string& digits)
{
    for (std::size_t i = digits.size(); i-- > 0;) {
        if (digits[i] == '9') {
            digits[i] = '0';
        } else {
            ++digits[i];
            return false;
        }
    }
    return true;
}

struct Scientific
{
    std::string digits;  // precision + 1 significant digits
    int exponent = 0;
};

Scientific RoundScientific(double magnitude, int precision)
{
    Scientific result;
    if (magnitude == 0.0) {
        result.digits.assign(static_cast<std::size_t>(precision) + 1, '0');
        return result;
    }
    static thread_local char buffer[kExactSignificantDigits + 32];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, magnitude,
                                            std::chars_format::scientific, kExactSignificantDigits);
    (void)error;
    const std::string_view text(buffer, static_cast<std::size_t>(end - buffer));
    const std::size_t e = text.find('e');
    std::string all;
    all += text[0];
    all.append(text.substr(2, e - 2));
    int exponent = 0;
    std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(),
                    exponent);
    const std::size_t keep = static_cast<std::size_t>(precision) + 1;
    if (keep >= all.size()) {
        all.resize(keep, '0');
        result.digits = all;
    } else {
        result.digits = all.substr(0, keep);
        if (all[keep] >= '5' && IncrementDigits(result.digits)) {
            result.digits[0] = '1';
            ++exponent;
        }
    }
    result.exponent = exponent;
    return result;
}

std::string ScientificText(const Scientific& value, bool alternate, char e)
{
    std::string out(1, value.digits[0]);
    if (value.digits.size() > 1 || alternate) {
        out += '.';
        out.append(value.digits, 1);
    }
    out += e;
    out += value.exponent < 0 ? '-' : '+';
    const int magnitude = std::abs(value.exponent);
    if (magnitude < 10) {
        out += '0';
    }
    out += std::to_string(magnitude);
    return out;
}

void StripTrailingZeros(std::string& text)
{
    const std::size_t point = text.find('.');
    if (point == std::string::npos) {
        return;
    }
    const std::size_t e = text.find_first_of("eE");
    const std::size_t fractionEnd = e == std::string::npos ? text.size() : e;
    std::size_t last = fractionEnd;
    while (last > point + 1 && text[last - 1] == '0') {
        --last;
    }
    if (last == point + 1) {
        last = point;
    }
    text.erase(last, fractionEnd - last);
}

struct Directive
{
    bool left = false;
    bool plus = false;
    bool blank = false;
    bool alternate = false;
    bool zero = false;
    int width = 0;
    int precision = -1;
    enum class Size
    {
        Default,
        Char,
        Short,
        Long,
        LongLong,
        Size,
        Max,
        Ptrdiff,
        Int32,
        Int64,
        LongDouble,
        Wide
    } size = Size::Default;
};

template <class Char>
void AppendAscii(std::basic_string<Char>& out, std::string_view text)
{
    for (char c : text) {
        out += static_cast<Char>(static_cast<unsigned char>(c));
    }
}

template <class Char>
void Pad(std::basic_string<Char>& out, std::size_t count, Char with)
{
    out.append(count, with);
}

// Sign or prefix, zero padding, body, as width and flags ask.
template <class Char>
void AppendNumber(std::basic_string<Char>& out, const Directive& directive, std::string_view prefix,
                  std::string_view body, bool zeroPadAllowed)
{
    const std::size_t length = prefix.size() + body.size();
    const std::size_t fill =
        directive.width > 0 && static_cast<std::size_t>(directive.width) > length
            ? static_cast<std::size_t>(directive.width) - length
            : 0;
    if (directive.left) {
        AppendAscii(out, prefix);
        AppendAscii(out, body);
        Pad(out, fill, Char(' '));
    } else if (directive.zero && zeroPadAllowed) {
        AppendAscii(out, prefix);
        Pad(out, fill, Char('0'));
        AppendAscii(out, body);
    } else {
        Pad(out, fill, Char(' '));
        AppendAscii(out, prefix);
        AppendAscii(out, body);
    }
}

template <class Char>
void AppendText(std::basic_string<Char>& out, const Directive& directive,
                std::basic_string_view<Char> text)
{
    if (directive.precision >= 0 && text.size() > static_cast<std::size_t>(directive.precision)) {
        text = text.substr(0, static_cast<std::size_t>(directive.precision));
    }
    const std::size_t fill =
        directive.width > 0 && static_cast<std::size_t>(directive.width) > text.size()
            ? static_cast<std::size_t>(directive.width) - text.size()
            : 0;
    if (!directive.left) {
        Pad(out, fill, Char(' '));
    }
    out.append(text);
    if (directive.left) {
        Pad(out, fill, Char(' '));
    }
}

std::u16string Widen(const char* text)
{
    const std::size_t length = std::strlen(text);
    std::u16string wide(length, u'\0');
    const char* source = text;
    char16_t* target = wide.data();
    ConvertUtf8ToUtf16(&source, text + length, &target, wide.data() + wide.size(), true);
    wide.resize(static_cast<std::size_t>(target - wide.data()));
    return wide;
}

std::string Narrow(const char16_t* text)
{
    std::size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    std::string narrow(3 * length, '\0');
    const char16_t* source = text;
    char* target = narrow.data();
    ConvertUtf16ToUtf8(&source, text + length, &target, narrow.data() + narrow.size(), true);
    narrow.resize(static_cast<std::size_t>(target - narrow.data()));
    return narrow;
}

// Text of the other width, converted to this one.
template <class Char>
std::basic_string<Char> FromNarrow(const char* text);
template <>
std::basic_string<char> FromNarrow<char>(const char* text)
{
    return text;
}
template <>
std::basic_string<char16_t> FromNarrow<char16_t>(const char* text)
{
    return Widen(text);
}
template <class Char>
std::basic_string<Char> FromWide(const char16_t* text);
template <>
std::basic_string<char> FromWide<char>(const char16_t* text)
{
    return Narrow(text);
}
template <>
std::basic_string<char16_t> FromWide<char16_t>(const char16_t* text)
{
    return text;
}

std::string FloatBody(double magnitude, char conversion, const Directive& directive)
{
    const bool upper = conversion >= 'A' && conversion <= 'Z';
    if (std::isinf(magnitude)) {
        return upper ? "INF" : "inf";
    }
    if (std::isnan(magnitude)) {
        return upper ? "NAN" : "nan";
    }
    const int precision = directive.precision < 0 ? 6 : directive.precision;
    switch (conversion) {
        case 'f':
        case 'F': {
            std::string text = FormatFixedDigits(magnitude, precision);
            if (precision == 0 && directive.alternate) {
                text += '.';
            }
            return text;
        }
        case 'e':
        case 'E':
            return ScientificText(RoundScientific(magnitude, precision), directive.alternate,
                                  upper ? 'E' : 'e');
        case 'g':
        case 'G': {
            const int significant = precision == 0 ? 1 : precision;
            const int exponent = RoundScientific(magnitude, significant - 1).exponent;
            std::string text;
            if (exponent < significant && exponent >= -4) {
                text = FormatFixedDigits(magnitude, significant - 1 - exponent);
            } else {
                text = ScientificText(RoundScientific(magnitude, significant - 1),
                                      directive.alternate, upper ? 'E' : 'e');
            }
            if (!directive.alternate) {
                StripTrailingZeros(text);
            }
            return text;
        }
        default: {
            char buffer[64];
            const auto result =
                directive.precision < 0
                    ? std::to_chars(buffer, buffer + sizeof buffer, magnitude,
                                    std::chars_format::hex)
                    : std::to_chars(buffer, buffer + sizeof buffer, magnitude,
                                    std::chars_format::hex, std::min(directive.precision, 13));
            std::string text = "0x";
            text.append(buffer, result.ptr);
            if (upper) {
                std::transform(text.begin(), text.end(), text.begin(), &ToUpperAscii);
            }
            return text;
        }
    }
}

std::string IntegerBody(uint64_t magnitude, int base, bool upper, int precision)
{
    char buffer[72];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, magnitude, base);
    (void)error;
    std::string digits(buffer, end);
    if (upper) {
        std::transform(digits.begin(), digits.end(), digits.begin(), &ToUpperAscii);
    }
    if (precision == 0 && magnitude == 0) {
        digits.clear();
    }
    if (precision > 0 && digits.size() < static_cast<std::size_t>(precision)) {
        digits.insert(0, static_cast<std::size_t>(precision) - digits.size(), '0');
    }
    return digits;
}

int64_t SignedArgument(Directive::Size size, va_list& arguments)
{
    switch (size) {
        case Directive::Size::Char:
            return static_cast<signed char>(va_arg(arguments, int));
        case Directive::Size::Short:
            return static_cast<short>(va_arg(arguments, int));
        case Directive::Size::Long:
            return va_arg(arguments, long);
        case Directive::Size::LongLong:
        case Directive::Size::Int64:
            return va_arg(arguments, long long);
        case Directive::Size::Size:
        case Directive::Size::Ptrdiff:
            return va_arg(arguments, std::ptrdiff_t);
        case Directive::Size::Max:
            return va_arg(arguments, intmax_t);
        default:
            return va_arg(arguments, int);
    }
}

uint64_t UnsignedArgument(Directive::Size size, va_list& arguments)
{
    switch (size) {
        case Directive::Size::Char:
            return static_cast<unsigned char>(va_arg(arguments, unsigned int));
        case Directive::Size::Short:
            return static_cast<unsigned short>(va_arg(arguments, unsigned int));
        case Directive::Size::Long:
            return va_arg(arguments, unsigned long);
        case Directive::Size::LongLong:
        case Directive::Size::Int64:
            return va_arg(arguments, unsigned long long);
        case Directive::Size::Size:
        case Directive::Size::Ptrdiff:
            return va_arg(arguments, std::size_t);
        case Directive::Size::Max:
            return va_arg(arguments, uintmax_t);
        default:
            return va_arg(arguments, unsigned int);
    }
}

// Which width a text or character argument has: h says narrow and l or w wide whatever the
// format's width; otherwise the lower-case conversion takes the format's own width and the
// upper-case one (%S, %C) the other.
template <class Char>
bool IsWideArgument(Char conversion, Directive::Size size)
{
    if (size == Directive::Size::Short) {
        return false;
    }
    if (size == Directive::Size::Long || size == Directive::Size::Wide) {
        return true;
    }
    const bool formatIsWide = sizeof(Char) == 2;
    return (conversion == 'S' || conversion == 'C') ? !formatIsWide : formatIsWide;
}

template <class Char>
bool IsDigit(Char c)
{
    return c >= '0' && c <= '9';
}

template <class Char>
int ReadCount(const Char*& p)
{
    int64_t value = 0;
    for (; IsDigit(*p); ++p) {
        value = std::min<int64_t>(value * 10 + (*p - '0'), 0x7FFFFFFF);
    }
    return static_cast<int>(value);
}

}  // namespace

std::string FormatFixedDigits(double magnitude, int precision)
{
    static thread_local char buffer[400 + kExactFixedDecimals];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, magnitude,
                                            std::chars_format::fixed, kExactFixedDecimals);
    (void)error;
    const std::string_view text(buffer, static_cast<std::size_t>(end - buffer));
    const std::size_t point = text.find('.');
    std::string digits(text.substr(0, point));
    const std::size_t integerLength = digits.size();
    const std::string_view fraction = text.substr(point + 1);
    const std::size_t decimals = static_cast<std::size_t>(std::max(precision, 0));
    if (decimals >= fraction.size()) {
        digits.append(fraction);
        digits.append(decimals - fraction.size(), '0');
    } else {
        digits.append(fraction.substr(0, decimals));
        if (fraction[decimals] >= '5' && IncrementDigits(digits)) {
            digits.insert(digits.begin(), '1');
        }
    }
    const std::size_t split = digits.size() - decimals;
    (void)integerLength;
    if (decimals == 0) {
        return digits;
    }
    return digits.substr(0, split) + "." + digits.substr(split);
}

template <class Char>
std::basic_string<Char> FormatText(const Char* format, va_list arguments)
{
    std::basic_string<Char> out;
    if (format == nullptr) {
        return out;
    }
    va_list args;
    va_copy(args, arguments);
    const Char* p = format;
    while (*p != 0) {
        if (*p != '%') {
            out += *p++;
            continue;
        }
        const Char* start = p++;
        if (*p == '%') {
            out += *p++;
            continue;
        }
        Directive directive;
        for (;; ++p) {
            if (*p == '-') {
                directive.left = true;
            } else if (*p == '+') {
                directive.plus = true;
            } else if (*p == ' ') {
                directive.blank = true;
            } else if (*p == '#') {
                directive.alternate = true;
            } else if (*p == '0') {
                directive.zero = true;
            } else {
                break;
            }
        }
        if (*p == '*') {
            ++p;
            directive.width = va_arg(args, int);
            if (directive.width < 0) {
                directive.left = true;
                directive.width = directive.width == INT32_MIN ? 0x7FFFFFFF : -directive.width;
            }
        } else {
            directive.width = ReadCount(p);
        }
        if (*p == '.') {
            ++p;
            if (*p == '*') {
                ++p;
                directive.precision = va_arg(args, int);
                if (directive.precision < 0) {
                    directive.precision = -1;
                }
            } else {
                directive.precision = ReadCount(p);
            }
        }
        using Size = Directive::Size;
        if (p[0] == 'h' && p[1] == 'h') {
            directive.size = Size::Char, p += 2;
        } else if (p[0] == 'l' && p[1] == 'l') {
            directive.size = Size::LongLong, p += 2;
        } else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
            directive.size = Size::Int64, p += 3;
        } else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') {
            directive.size = Size::Int32, p += 3;
        } else if (*p == 'I' || *p == 'z') {
            directive.size = Size::Size, ++p;
        } else if (*p == 'h') {
            directive.size = Size::Short, ++p;
        } else if (*p == 'l') {
            directive.size = Size::Long, ++p;
        } else if (*p == 'L' || *p == 'q') {
            directive.size = *p == 'L' ? Size::LongDouble : Size::LongLong, ++p;
        } else if (*p == 'j') {
            directive.size = Size::Max, ++p;
        } else if (*p == 't') {
            directive.size = Size::Ptrdiff, ++p;
        } else if (*p == 'w') {
            directive.size = Size::Wide, ++p;
        }

        const Char conversion = *p;
        if (conversion == 0) {
            out.append(start, p);
            break;
        }
        ++p;
        switch (conversion) {
            case 'd':
            case 'i': {
                const int64_t value = SignedArgument(directive.size, args);
                const uint64_t magnitude = value < 0 ? uint64_t{0} - static_cast<uint64_t>(value)
                                                     : static_cast<uint64_t>(value);
                const char* sign = value < 0         ? "-"
                                   : directive.plus  ? "+"
                                   : directive.blank ? " "
                                                     : "";
                AppendNumber(out, directive, sign,
                             IntegerBody(magnitude, 10, false, directive.precision),
                             directive.precision < 0);
                break;
            }
            case 'u':
            case 'o':
            case 'x':
            case 'X': {
                const uint64_t value = UnsignedArgument(directive.size, args);
                const int base = conversion == 'u' ? 10 : conversion == 'o' ? 8 : 16;
                std::string body = IntegerBody(value, base, conversion == 'X', directive.precision);
                std::string prefix;
                if (directive.alternate && conversion == 'o' && (body.empty() || body[0] != '0')) {
                    body.insert(body.begin(), '0');
                } else if (directive.alternate && base == 16 && value != 0) {
                    prefix = conversion == 'X' ? "0X" : "0x";
                }
                AppendNumber(out, directive, prefix, body, directive.precision < 0);
                break;
            }
            case 'p': {
                const auto value = reinterpret_cast<uintptr_t>(va_arg(args, void*));
                AppendNumber(out, directive, "", IntegerBody(value, 16, true, 2 * sizeof(void*)),
                             false);
                break;
            }
            case 'e':
            case 'E':
            case 'f':
            case 'F':
            case 'g':
            case 'G':
            case 'a':
            case 'A': {
                const double value = directive.size == Size::LongDouble
                                         ? static_cast<double>(va_arg(args, long double))
                                         : va_arg(args, double);
                const bool negative = std::signbit(value);
                const char* sign = negative          ? "-"
                                   : directive.plus  ? "+"
                                   : directive.blank ? " "
                                                     : "";
                AppendNumber(out, directive, sign,
                             FloatBody(std::fabs(value), static_cast<char>(conversion), directive),
                             std::isfinite(value));
                break;
            }
            case 'c':
            case 'C': {
                const int value = va_arg(args, int);
                const bool wideArgument = IsWideArgument<Char>(conversion, directive.size);
                std::basic_string<Char> text;
                if (wideArgument) {
                    const char16_t unit[2] = {static_cast<char16_t>(value), 0};
                    text = FromWide<Char>(unit);
                } else {
                    const char byte[2] = {static_cast<char>(value), 0};
                    text = sizeof(Char) == 1
                               ? std::basic_string<Char>(1, static_cast<Char>(byte[0]))
                               : FromNarrow<Char>(byte);
                }
                if (value == 0) {
                    text.assign(1, Char(0));
                }
                AppendText<Char>(out, directive, text);
                break;
            }
            case 's':
            case 'S': {
                const bool wideArgument = IsWideArgument<Char>(conversion, directive.size);
                std::basic_string<Char> text;
                if (wideArgument) {
                    const auto* value = va_arg(args, const char16_t*);
                    text = value != nullptr ? FromWide<Char>(value) : FromNarrow<Char>("(null)");
                } else {
                    const auto* value = va_arg(args, const char*);
                    text = FromNarrow<Char>(value != nullptr ? value : "(null)");
                }
                AppendText<Char>(out, directive, text);
                break;
            }
            case 'n':
                (void)va_arg(args, void*);
                break;
            default:
                out.append(start, p);
                break;
        }
    }
    va_end(args);
    return out;
}

template std::basic_string<char> FormatText<char>(const char*, va_list);
template std::basic_string<char16_t> FormatText<char16_t>(const char16_t*, va_list);

}  // namespace Orv::Detail
