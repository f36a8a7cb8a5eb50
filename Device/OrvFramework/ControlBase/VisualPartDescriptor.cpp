#include "ControlBase/VisualPartDescriptor.h"

namespace Orv {

LVisualPartDescriptor::LVisualPartDescriptor(const WideString& name, const ImageReference& image,
                                             int32_t resizeType, const RCPtr<LColorizer>& colorizer,
                                             int32_t width, int32_t height, float colorizerAlphaMod,
                                             const ImageReference& mask)
    : name(name),
      image(image),
      width(image.file.IsEmpty() ? width : image.width),
      height(image.file.IsEmpty() ? height : image.height),
      resizeType(resizeType),
      colorizer(colorizer),
      colorizerAlphaMod(colorizerAlphaMod),
      mask(mask)
{
}

// The cached part holds this descriptor, so a descriptor is only destroyed with an empty slot.
LVisualPartDescriptor::~LVisualPartDescriptor() = default;

}  // namespace Orv
