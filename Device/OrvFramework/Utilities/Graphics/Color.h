#pragma once
// The panel's colour: four floats, nominally 0..1, in the order red, green, blue, alpha. Skins
// give colours as hexadecimal text, the renderers want the packed 0xAARRGGBB word. Nothing clamps
// the stored channels; only packing does.

#include <cstdint>

namespace Orv {

struct ColorT
{
    // The float nearest to 1/255 (bits 0x3B808081). Bytes are multiplied by it, not divided by
    // 255, which decides the exact float a byte becomes; 255 gives exactly 1.0.
    static constexpr float kByteScale = 0.003921568859368563f;

    float red = 0.0f;
    float green = 0.0f;
    float blue = 0.0f;
    float alpha = 0.0f;

    constexpr ColorT() = default;
    constexpr ColorT(float red, float green, float blue, float alpha)
        : red(red), green(green), blue(blue), alpha(alpha)
    {
    }
    static ColorT FromPackedARGB(uint32_t argb);

    bool operator==(const ColorT&) const = default;

    void SetPackedARGB(uint32_t argb);

    // Skin text: an optional "0x"/"0X", then 2 digits (alpha only), 6 (red, green, blue; alpha
    // kept) or 8 (alpha, red, green, blue). Any other length, and a null text, changes nothing.
    // At most eight hexadecimal digits are read and reading stops at the first other character,
    // so "zz" sets alpha 0.
    void ParseHexColor(const char* text);

    // Each channel times 255, rounded half away from zero and limited to 0..255; NaN packs as 0.
    uint32_t ToPackedARGB() const;
};

}  // namespace Orv
