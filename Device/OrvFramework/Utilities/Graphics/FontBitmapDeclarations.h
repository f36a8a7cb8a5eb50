#pragma once
// The font and bitmap objects the renderers take. Their members arrive with the font registry and
// the bitmap loader; until then a renderer can be handed only null fonts and bitmaps.

#include <cstdint>

#include "ObjectBase/RefCountedObject.h"
#include "Utilities/Graphics/Bitmap.h"

namespace Orv {

class LFont : public virtual LRefCountedObject
{
protected:
    LFont() = default;
};

// How a bitmap fills a destination rectangle of another size.
enum class ResizeType : int32_t;

}  // namespace Orv
