#pragma once
// Straight ARGB as the API speaks it, premultiplied as Cairo stores it.

#include <cstdint>

namespace Gdiplus {

uint32_t Premultiply(uint32_t straight);
// The nearest straight value; colour is lost where alpha is 0.
uint32_t Unpremultiply(uint32_t premultiplied);

}  // namespace Gdiplus
