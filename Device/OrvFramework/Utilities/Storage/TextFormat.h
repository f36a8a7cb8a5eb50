#pragma once
// printf-style formatting for the framework's strings, independent of the process locale (the
// decimal point is always "."), into a buffer that grows with the text.
//
// Conversions: d i u o x X c s p e E f F g G a A and %%; flags - + blank # 0; width and precision
// (also *); size prefixes hh h l ll L j z t q and the platform's I, I32, I64 (w marks a wide
// argument). In a wide format %s is a wide (UTF-16) text and %S or %hs a narrow (UTF-8) one; in a
// narrow format the other way round. %c likewise. %n writes nothing.
// Floating-point values round half away from zero at the last digit shown, in every conversion.

#include <cstdarg>
#include <string>

namespace Orv::Detail {

template <class Char>
std::basic_string<Char> FormatText(const Char* format, va_list arguments);

extern template std::basic_string<char> FormatText<char>(const char*, va_list);
extern template std::basic_string<char16_t> FormatText<char16_t>(const char16_t*, va_list);

// The digits of a non-negative finite value with `precision` decimals, rounded half away from
// zero: 2.5 with 0 decimals gives "3", 0.125 with 2 gives "0.13".
std::string FormatFixedDigits(double magnitude, int precision);

}  // namespace Orv::Detail
