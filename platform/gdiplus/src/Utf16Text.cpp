#include "Utf16Text.h"

namespace Gdiplus {

char32_t DecodeUtf16(const WCHAR* text, size_t length, size_t i, size_t* units)
{
    const char32_t first = text[i];
    *units = 1;
    if (first >= 0xD800 && first < 0xDC00 && i + 1 < length) {
        const char32_t second = text[i + 1];
        if (second >= 0xDC00 && second < 0xE000) {
            *units = 2;
            return 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00);
        }
    }
    return first >= 0xD800 && first < 0xE000 ? U'\uFFFD' : first;
}

std::string ToUtf8(const std::u16string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size();) {
        size_t units = 0;
        const char32_t c = DecodeUtf16(text.data(), text.size(), i, &units);
        i += units;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool StringLength(const WCHAR* text, INT length, size_t* result)
{
    if (length < -1) {
        return false;
    }
    if (length >= 0) {
        *result = static_cast<size_t>(length);
        return true;
    }
    size_t n = 0;
    while (text[n] != 0) {
        ++n;
    }
    *result = n;
    return true;
}

}  // namespace Gdiplus
