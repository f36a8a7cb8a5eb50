#pragma once
// A skin's colorizer: a fill colour, or the two colours and end points of a gradient, with which
// visual parts tint or fill their bitmaps. A record: it describes and never changes after loading.

#include <cstdint>

#include "ObjectBase/RCPtr.h"
#include "ObjectBase/RefCountedObject.h"
#include "Utilities/Graphics/Color.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

class LColorizer : public virtual LRefCountedObject
{
public:
    // The skin's ColorType.
    enum Type : int32_t
    {
        kSolid = 0,
        kLinearGradient = 1,
        kRadialGradient = 2,
    };

    LColorizer(const WideString& name, int32_t colorType, const ColorT& color,
               const ColorT& gradientEndColor, float gradientStartX, float gradientStartY,
               float gradientEndX, float gradientEndY);

    const WideString& GetName() const { return name; }
    int32_t GetColorType() const { return colorType; }
    // The fill colour, or the start colour of a gradient.
    const ColorT& GetColor() const { return color; }
    const ColorT& GetGradientEndColor() const { return gradientEndColor; }
    float GetGradientStartX() const { return gradientStartX; }
    float GetGradientStartY() const { return gradientStartY; }
    float GetGradientEndX() const { return gradientEndX; }
    float GetGradientEndY() const { return gradientEndY; }

    // A gradient whose two colours differ: one that cannot be drawn as a plain fill.
    bool IsTwoColourGradient() const
    {
        return (colorType == kLinearGradient || colorType == kRadialGradient) &&
               !(gradientEndColor == color);
    }

private:
    WideString name;
    int32_t colorType;
    ColorT color;
    ColorT gradientEndColor;
    float gradientStartX;
    float gradientStartY;
    float gradientEndX;
    float gradientEndY;
};

}  // namespace Orv
