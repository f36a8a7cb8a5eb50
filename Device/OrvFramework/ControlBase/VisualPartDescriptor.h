#pragma once
// One Part of a skin: an image rectangle, a colorizer, or both, and how it fills its place.

#include <cstdint>

#include "ControlBase/Colorizer.h"
#include "ObjectBase/RCPtr.h"
#include "ObjectBase/RefCountedObject.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

// An image file and the rectangle of it that a part shows; an empty file means no image.
struct ImageReference
{
    WideString file;
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;

    bool operator==(const ImageReference&) const = default;
};

class LVisualPartDescriptor : public virtual LRefCountedObject
{
public:
    // How a part fills a place of another size.
    enum ResizeKind : int32_t
    {
        kStretch = 0,
        kTile = 1,
        kCenter = 2,
    };

    // The size is the image rectangle's when there is an image, else the given one.
    LVisualPartDescriptor(const WideString& name, const ImageReference& image, int32_t resizeType,
                          const RCPtr<LColorizer>& colorizer, int32_t width, int32_t height,
                          float colorizerAlphaMod, const ImageReference& mask);

    WideString name;
    ImageReference image;
    int32_t width;
    int32_t height;
    int32_t resizeType;
    RCPtr<LColorizer> colorizer;
    float colorizerAlphaMod;
    ImageReference mask;
};

}  // namespace Orv
