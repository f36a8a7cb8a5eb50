#pragma once
// The run-time form of a skin Part: an image (or a rectangle of one), optionally tinted by a
// colorizer and shaped by a mask, or a plain colour fill, with the rule by which it fills a
// rectangle of another size. Looks place parts and draw them; controls ask a part for its colour
// under the pointer to decide whether a point is transparent.
//
// A part is immutable after construction. Part descriptors create their part on first use and
// cache it (LVisualPartDescriptor::GetVisualPart); the cache's reference counts as a back
// reference of the part, so the part is dropped as soon as no look holds it, and the next request
// builds (and colourises) it again.
//
// Skins come from files too, so nothing a skin can say makes a part throw while a control is
// built, painted or hit-tested: an image that does not load gives a part of the descriptor's size
// that draws nothing and is transparent; colourising that cannot be done (a gradient, an image
// together with a mask) keeps the untinted image, or the gradient's start colour for a colour
// part, and says so once on the debug channel.
//
// UI thread only.

#include <cstdint>

#include "ControlBase/Colorizer.h"
#include "ObjectBase/OrvResult.h"
#include "ObjectBase/RCPtr.h"
#include "ObjectBase/RefCountedObject.h"
#include "Utilities/Graphics/Bitmap.h"
#include "Utilities/Graphics/Color.h"
#include "Utilities/Graphics/Geometry.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

class LDockedPart;
class LRenderer;
class LVisualPartDescriptor;
struct ImageReference;

// A packed 0xAARRGGBB colour; alpha 0 means the point is transparent.
using PackedColor = uint32_t;
inline constexpr PackedColor kTransparentColor = 0x00FFFFFF;
inline constexpr bool IsOpaqueAtAll(PackedColor color)
{
    return (color >> 24) != 0;
}

class LVisualPart : public virtual LRefCountedObject
{
public:
    // How a part fills a rectangle of another size (the descriptor's ResizeType).
    enum ResizeKind : int32_t
    {
        kStretch = 0,
        kTile = 1,
        kCenter = 2,
    };

    // With a bitmap, the part's size is the bitmap's, else (width, height). With a colorizer and
    // a bitmap, a mask or a gradient, the part draws a colourised copy (LBitmap::ApplyColorizer);
    // a solid colorizer alone makes a colour fill.
    LVisualPart(const WideString& name, const RCPtr<LBitmap>& bitmap, int32_t resizeType,
                const ConstRCPtr<LColorizer>& colorizer, int32_t width, int32_t height,
                float alphaModifier, const RCPtr<LBitmap>& mask);
    ~LVisualPart() override;

    // A part for an image that could not be loaded: the size of its descriptor, draws nothing,
    // transparent everywhere.
    static RCPtr<LVisualPart> CreateMissingImagePart(const WideString& name, int32_t resizeType,
                                                     int32_t width, int32_t height);

    // Slot 0. The caller has translated and clipped the renderer to the part's rectangle; size is
    // that rectangle's size (rounded half away from zero). Always 0. Throws only for a part built
    // with neither bitmap nor colorizer.
    virtual int32_t Draw(const RCPtr<LRenderer>& renderer, const PointT<float>& size) const;

    // The colour at a point of the part (its own pixels); kTransparentColor outside it.
    PackedColor GetColorAtPoint(const PointT<LongCoord>& point) const;
    // The colour at a point of the part drawn into a rectangle of drawSize.
    PackedColor GetColorAtPoint(const PointT<float>& point, const PointT<float>& drawSize) const;

    // The descriptor that created and caches this part; its cache slot counts as a back
    // reference of this part. Set once, by the descriptor.
    void SetOwner(const RCPtr<LVisualPartDescriptor>& owner);
    // Empties the owner's cache slot when only that slot still holds this part.
    ORVRESULT DropBackReferences() override;

    const WideString& GetName() const { return name; }
    // What the part draws (after colourising); null for a colour fill or a missing image.
    const RCPtr<LBitmap>& GetBitmap() const { return bitmap; }
    int32_t GetWidth() const { return width; }
    int32_t GetHeight() const { return height; }
    int32_t GetResizeType() const { return resizeType; }
    const ConstRCPtr<LColorizer>& GetColorizer() const { return colorizer; }
    float GetAlphaModifier() const { return alphaModifier; }
    const RCPtr<LBitmap>& GetMask() const { return mask; }
    const RCPtr<LVisualPartDescriptor>& GetOwner() const { return owner; }
    // The part's image did not load: it draws nothing and is transparent.
    bool IsMissingImage() const { return missingImage; }
    // The part shows only its colorizer's colour (no image, no mask): its colour is the same at
    // every point, GetFillColor.
    bool IsColorFill() const;
    // The colorizer's colour (a gradient's start colour) with alpha times the alpha modifier;
    // all zero without a colorizer.
    ColorT GetFillColor() const;

    // Says on the debug channel, the first time only for this part, that a label cannot take its
    // colour from the part (it shows an image).
    void SayOnceUnusableAsTextColor() const;

    // Parts alive in the process, for tests: leaks show as a number.
    static int32_t GetLiveCount();

private:
    void Colourise();
    PackedColor ColorOfStretchBlock(float x, float y, float drawWidth, float drawHeight, float w,
                                    float h) const;

    WideString name;
    RCPtr<LBitmap> bitmap;
    int32_t width = 0;
    int32_t height = 0;
    int32_t resizeType = kStretch;
    ConstRCPtr<LColorizer> colorizer;
    float alphaModifier = 1.0f;
    RCPtr<LBitmap> mask;
    RCPtr<LVisualPartDescriptor> owner;
    bool missingImage = false;
    bool hasSourceImage = false;  // a bitmap or a mask was given (not only a colour)
    mutable bool saidUnusableAsTextColor = false;
};

// The shared image a part shows: the image of that file (from the bitmap cache) cut to the
// reference's rectangle; a width or height of 0 or less takes the whole image. Null when the image
// cannot be loaded.
RCPtr<LBitmap> LoadPartImage(const ImageReference& image);

// A colour part; null without a colorizer.
ConstRCPtr<LVisualPart> CreateColorizerVisualPart(const WideString& name,
                                                  const ConstRCPtr<LColorizer>& colorizer,
                                                  int32_t width, int32_t height, int32_t resizeType,
                                                  float alphaModifier, const RCPtr<LBitmap>& mask);

// The visual part of a look's docked part (its descriptor's cached part); null when the docked
// part has no part descriptor.
ConstRCPtr<LVisualPart> GetVisualPart(const LDockedPart& dockedPart);

}  // namespace Orv
