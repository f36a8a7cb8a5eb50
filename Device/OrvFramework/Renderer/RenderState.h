#pragma once
// The drawing state of a render context: where the local origin lies on the window, the clip
// rectangle (local coordinates), the opacity factor and the stencil. The state operations of
// LRenderer save and restore it as a whole.

#include <cstdint>

#include "ObjectBase/RCPtr.h"
#include "ObjectBase/RefCountedObject.h"
#include "Utilities/Graphics/Geometry.h"

namespace Orv {

// A mask of width x height pixels; its rectangle starts as the whole of it.
class LStencil : public virtual LRefCountedObject
{
public:
    LStencil(int32_t width, int32_t height)
        : width(width), height(height), rect{0, 0, width, height}
    {
    }
    // A fresh stencil of the same size: nothing else of the original is copied.
    static RCPtr<LStencil> CreateSameSize(const LStencil& original)
    {
        return RCPtr<LStencil>(new LStencil(original.width, original.height));
    }

    int32_t width;
    int32_t height;
    RectT<LongCoord> rect;
};

struct RenderState
{
    // -5e15 and 1e16 as single precision gives them, so that the clip is in effect unbounded.
    static constexpr double kUnboundedClipOrigin = static_cast<double>(-5e15f);
    static constexpr double kUnboundedClipExtent = static_cast<double>(1e16f);

    RenderState() = default;
    RenderState(const RenderState&) = default;
    RenderState& operator=(const RenderState&) = default;
    virtual ~RenderState() = default;

    RectT<double> GetClipRect() const { return {clipX, clipY, clipWidth, clipHeight}; }
    PointT<double> GetOffset() const { return {offsetX, offsetY}; }

    double offsetX = 0.0;  // window pixels
    double offsetY = 0.0;
    double clipX = kUnboundedClipOrigin;  // local coordinates
    double clipY = kUnboundedClipOrigin;
    double clipWidth = kUnboundedClipExtent;
    double clipHeight = kUnboundedClipExtent;
    float alpha = 1.0f;  // 1 = opaque
    bool stencilActive = false;
    ConstRCPtr<LStencil> stencil;
};

static_assert(RenderState::kUnboundedClipOrigin == -5000000136282112.0);
static_assert(RenderState::kUnboundedClipExtent == 10000000272564224.0);

}  // namespace Orv
