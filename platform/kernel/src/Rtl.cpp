// Run-time library: counted strings, the OS version, and bounded wide formatting.
#include <atomic>
#include <cstdarg>
#include <string>

#include "KernelInternal.h"

using namespace Platform::Kernel;

namespace {

std::atomic<ULONG> g_osVersion{NTDDI_WIN10};

constexpr size_t kMaxChars = 2147483647;  // the largest buffer the bounded routines accept

void AppendNumber(std::u16string& out, unsigned long long magnitude, bool negative, int base,
                  bool upper, size_t width, bool zeroPad, bool leftAlign)
{
    std::u16string digits;
    const char* symbols = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(symbols[magnitude % base]));
        magnitude /= base;
    } while (magnitude != 0);
    const size_t length = digits.size() + (negative ? 1 : 0);
    const size_t padding = width > length ? width - length : 0;
    if (leftAlign) {
        out += negative ? u"-" : u"";
        out += digits;
        out.append(padding, u' ');
    } else if (zeroPad) {
        out += negative ? u"-" : u"";
        out.append(padding, u'0');
        out += digits;
    } else {
        out.append(padding, u' ');
        out += negative ? u"-" : u"";
        out += digits;
    }
}

// Formats into out; false for a conversion it does not know.
bool Format(std::u16string& out, const char16_t* format, va_list arguments)
{
    for (const char16_t* p = format; *p != 0; ++p) {
        if (*p != u'%') {
            out += *p;
            continue;
        }
        ++p;
        bool leftAlign = false;
        bool zeroPad = false;
        for (;; ++p) {
            if (*p == u'-') {
                leftAlign = true;
            } else if (*p == u'0') {
                zeroPad = true;
            } else {
                break;
            }
        }
        size_t width = 0;
        while (*p >= u'0' && *p <= u'9') {
            width = width * 10 + static_cast<size_t>(*p - u'0');
            if (width > 4096) {
                return false;
            }
            ++p;
        }
        bool wide64 = false;
        bool wideString = false;
        if (*p == u'l' && p[1] == u'l') {
            wide64 = true;
            p += 2;
        } else if (*p == u'I' && p[1] == u'6' && p[2] == u'4') {
            wide64 = true;
            p += 3;
        } else if (*p == u'l') {
            ++p;  // Windows' long is 32 bits
        } else if (*p == u'w') {
            wideString = true;
            ++p;
        }
        switch (*p) {
            case u'%':
                out += u'%';
                break;
            case u'c':
                out += static_cast<char16_t>(va_arg(arguments, int));
                break;
            case u's': {
                const auto* text = va_arg(arguments, const char16_t*);
                std::u16string value = text == nullptr ? u"(null)" : std::u16string(text);
                const size_t padding = width > value.size() ? width - value.size() : 0;
                if (!leftAlign) {
                    out.append(padding, u' ');
                }
                out += value;
                if (leftAlign) {
                    out.append(padding, u' ');
                }
                break;
            }
            case u'd':
            case u'i': {
                const long long value =
                    wide64 ? va_arg(arguments, long long) : va_arg(arguments, int);
                const unsigned long long magnitude =
                    value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                              : static_cast<unsigned long long>(value);
                AppendNumber(out, magnitude, value < 0, 10, false, width, zeroPad, leftAlign);
                break;
            }
            case u'u':
            case u'x':
            case u'X': {
                const unsigned long long value = wide64 ? va_arg(arguments, unsigned long long)
                                                        : va_arg(arguments, unsigned int);
                AppendNumber(out, value, false, *p == u'u' ? 10 : 16, *p == u'X', width, zeroPad,
                             leftAlign);
                break;
            }
            default:
                return false;
        }
        if (wideString && *p != u's') {
            return false;
        }
    }
    return true;
}

NTSTATUS PrintBounded(PWSTR destination, size_t chars, PCWSTR format, va_list arguments)
{
    if (destination == nullptr || chars == 0 || chars > kMaxChars) {
        return STATUS_INVALID_PARAMETER;
    }
    if (format == nullptr) {
        destination[0] = 0;
        return STATUS_INVALID_PARAMETER;
    }
    std::u16string text;
    if (!Format(text, format, arguments)) {
        destination[0] = 0;
        return STATUS_INVALID_PARAMETER;
    }
    const size_t copied = std::min(text.size(), chars - 1);
    text.copy(destination, copied);
    destination[copied] = 0;
    return copied < text.size() ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
}

}  // namespace

namespace Platform::Kernel {

void SetOsVersion(ULONG ntddiVersion)
{
    g_osVersion = ntddiVersion;
}

}  // namespace Platform::Kernel

void RtlInitUnicodeString(PUNICODE_STRING destinationString, PCWSTR sourceString)
{
    destinationString->Buffer = const_cast<PWCH>(sourceString);
    if (sourceString == nullptr) {
        destinationString->Length = 0;
        destinationString->MaximumLength = 0;
        return;
    }
    const size_t bytes = std::min<size_t>(std::u16string_view(sourceString).size() * 2, 0xFFFC);
    destinationString->Length = static_cast<USHORT>(bytes);
    destinationString->MaximumLength = static_cast<USHORT>(bytes + 2);
}

BOOLEAN RtlIsNtDdiVersionAvailable(ULONG version)
{
    return version <= g_osVersion.load() ? TRUE : FALSE;
}

NTSTATUS RtlStringCbPrintfW(PWSTR pszDest, size_t cbDest, PCWSTR pszFormat, ...)
{
    va_list arguments;
    va_start(arguments, pszFormat);
    const NTSTATUS status = PrintBounded(pszDest, cbDest / sizeof(WCHAR), pszFormat, arguments);
    va_end(arguments);
    return status;
}

NTSTATUS RtlStringCchPrintfW(PWSTR pszDest, size_t cchDest, PCWSTR pszFormat, ...)
{
    va_list arguments;
    va_start(arguments, pszFormat);
    const NTSTATUS status = PrintBounded(pszDest, cchDest, pszFormat, arguments);
    va_end(arguments);
    return status;
}
