#pragma once
// The font and bitmap objects the renderers take.

#include <cstdint>

#include "ObjectBase/RefCountedObject.h"
#include "Utilities/Graphics/Bitmap.h"
#include "Utilities/Graphics/Font.h"

namespace Orv {

// How a bitmap fills a destination rectangle of another size.
enum class ResizeType : int32_t;

}  // namespace Orv
