#pragma once
// The font and bitmap objects the renderers take. The bitmap's members arrive with the bitmap
// loader; until then a renderer can be handed only null bitmaps.

#include <cstdint>

#include "ObjectBase/RefCountedObject.h"
#include "Utilities/Graphics/Font.h"

namespace Orv {

class LBitmap : public virtual LRefCountedObject
{
protected:
    LBitmap() = default;
};

// How a bitmap fills a destination rectangle of another size.
enum class ResizeType : int32_t;

}  // namespace Orv
