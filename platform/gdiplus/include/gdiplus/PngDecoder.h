#pragma once
// The layer's PNG reader, apart so that it can be fed any bytes (the fuzz target does). Not for
// the system's code, which reads images through GdipCreateBitmapFromFile.

#include <cstddef>
#include <cstdint>

#include "gdiplus/GdiplusTypes.h"

namespace GdiplusDetail {

// Images larger than this many pixels are refused before they are decoded.
inline constexpr uint64_t kMaxPngPixels = uint64_t{1} << 26;

// A bitmap of the PNG in the bytes; UnknownImageFormat for what is not a whole, valid PNG,
// OutOfMemory for one too large. *bitmap is null on failure.
Gdiplus::GpStatus DecodePng(const uint8_t* data, size_t size, Gdiplus::GpBitmap** bitmap);

}  // namespace GdiplusDetail
