#include "ControlBase/Colorizer.h"

namespace Orv {

LColorizer::LColorizer(const WideString& name, int32_t colorType, const ColorT& color,
                       const ColorT& gradientEndColor, float gradientStartX, float gradientStartY,
                       float gradientEndX, float gradientEndY)
    : name(name),
      colorType(colorType),
      color(color),
      gradientEndColor(gradientEndColor),
      gradientStartX(gradientStartX),
      gradientStartY(gradientStartY),
      gradientEndX(gradientEndX),
      gradientEndY(gradientEndY)
{
}

}  // namespace Orv
