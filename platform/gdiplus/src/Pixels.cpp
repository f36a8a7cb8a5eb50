#include "Pixels.h"

#include <initializer_list>

namespace Gdiplus {
namespace {

uint32_t Channel(uint32_t word, int shift)
{
    return (word >> shift) & 0xFFu;
}

}  // namespace

uint32_t Premultiply(uint32_t straight)
{
    const uint32_t alpha = Channel(straight, 24);
    if (alpha == 255) {
        return straight;
    }
    uint32_t result = alpha << 24;
    for (int shift : {16, 8, 0}) {
        result |= ((Channel(straight, shift) * alpha + 127) / 255) << shift;
    }
    return result;
}

uint32_t Unpremultiply(uint32_t premultiplied)
{
    const uint32_t alpha = Channel(premultiplied, 24);
    if (alpha == 255 || alpha == 0) {
        return alpha == 0 ? 0 : premultiplied;
    }
    uint32_t result = alpha << 24;
    for (int shift : {16, 8, 0}) {
        uint32_t value = (Channel(premultiplied, shift) * 255 + alpha / 2) / alpha;
        result |= (value > 255 ? 255 : value) << shift;
    }
    return result;
}

}  // namespace Gdiplus
