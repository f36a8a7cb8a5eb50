#include "Utilities/Graphics/Color.h"

#include <cmath>
#include <cstring>

namespace Orv {
namespace {

float ByteToChannel(uint32_t word, int shift)
{
    return static_cast<float>((word >> shift) & 0xFFu) * ColorT::kByteScale;
}

// Limited in floating point before the conversion: a huge or infinite channel times 255 has no
// integer value, and converting it first is undefined.
uint32_t ChannelToByte(float channel)
{
    const float scaled = channel * 255.0f;
    if (!(scaled > 0.0f)) {
        return 0;  // also NaN
    }
    if (scaled >= 255.0f) {
        return 255;
    }
    return static_cast<uint32_t>(scaled + 0.5f);
}

uint32_t HexDigitValue(char c)
{
    if (c >= '0' && c <= '9') {
        return static_cast<uint32_t>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<uint32_t>(c - 'a' + 10);
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<uint32_t>(c - 'A' + 10);
    }
    return 16;
}

}  // namespace

ColorT ColorT::FromPackedARGB(uint32_t argb)
{
    ColorT color;
    color.SetPackedARGB(argb);
    return color;
}

void ColorT::SetPackedARGB(uint32_t argb)
{
    alpha = ByteToChannel(argb, 24);
    red = ByteToChannel(argb, 16);
    green = ByteToChannel(argb, 8);
    blue = ByteToChannel(argb, 0);
}

void ColorT::ParseHexColor(const char* text)
{
    if (text == nullptr) {
        return;
    }
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text += 2;
    }
    const size_t length = std::strlen(text);
    uint32_t value = 0;
    for (size_t i = 0; i < length && i < 8; ++i) {
        const uint32_t digit = HexDigitValue(text[i]);
        if (digit > 15) {
            break;
        }
        value = (value << 4) | digit;
    }
    switch (length) {
        case 2:
            alpha = ByteToChannel(value, 0);
            break;
        case 6:
            red = ByteToChannel(value, 16);
            green = ByteToChannel(value, 8);
            blue = ByteToChannel(value, 0);
            break;
        case 8:
            SetPackedARGB(value);
            break;
        default:
            break;
    }
}

uint32_t ColorT::ToPackedARGB() const
{
    return (ChannelToByte(alpha) << 24) | (ChannelToByte(red) << 16) | (ChannelToByte(green) << 8) |
           ChannelToByte(blue);
}

}  // namespace Orv
