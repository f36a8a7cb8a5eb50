#pragma once
// One Part of a skin: an image rectangle, a colorizer, or both, and how it fills its place.

#include <cstdint>

#include "ControlBase/Colorizer.h"
#include "ObjectBase/RCPtr.h"
#include "ObjectBase/RefCountedObject.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

class LVisualPart;

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
    ~LVisualPartDescriptor() override;

    // The run-time part, built on first use and cached until no look holds it any more (the
    // cache's reference is a back reference of the part). Never null: a part whose image does not
    // load is built as a transparent part of this descriptor's size.
    ConstRCPtr<LVisualPart> GetVisualPart();
    // The cached part, or null while none is cached (not counted: for looking only).
    const LVisualPart* GetCachedVisualPart() const { return cachedPart; }

    WideString name;
    ImageReference image;
    int32_t width;
    int32_t height;
    int32_t resizeType;
    RCPtr<LColorizer> colorizer;
    float colorizerAlphaMod;
    ImageReference mask;

private:
    friend class LVisualPart;

    // The cache slot: emptied by the part when the last look lets it go. Held as its counted
    // base so that descriptors do not depend on the run-time parts; cachedPart is the same
    // object, typed.
    ConstRCPtr<LRefCountedObject> visualPart;
    const LVisualPart* cachedPart = nullptr;
};

}  // namespace Orv
