#pragma once
// Reading the API's UTF-16 strings inside the text calls.

#include <cstddef>
#include <string>

#include "gdiplus/GdiplusTypes.h"

namespace Gdiplus {

// The code point at text[i] and how many units it takes (1 or 2); a lone surrogate is U+FFFD.
char32_t DecodeUtf16(const WCHAR* text, size_t length, size_t i, size_t* units);

// UTF-8 for fontconfig.
std::string ToUtf8(const std::u16string& text);

// The length of a string given as (text, length) where length -1 means zero-terminated; false
// for a length below -1.
bool StringLength(const WCHAR* text, INT length, size_t* result);

}  // namespace Gdiplus
