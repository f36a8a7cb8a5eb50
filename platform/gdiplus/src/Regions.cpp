#include <algorithm>
#include <new>

#include "GdiplusObjects.h"
#include "TextObjects.h"

namespace Gdiplus {
namespace {

// The bounds GDI+ gives an infinite region.
constexpr REAL kInfiniteOrigin = -4194304.0f;
constexpr REAL kInfiniteExtent = 8388608.0f;

}  // namespace

GpStatus GdipCreateRegion(GpRegion** region)
{
    GDIP_REQUIRE_STARTED();
    if (region == nullptr) {
        return InvalidParameter;
    }
    *region = new (std::nothrow) GpRegion;
    return *region != nullptr ? Ok : OutOfMemory;
}

GpStatus GdipDeleteRegion(GpRegion* region)
{
    return DeleteObject(region);
}

GpStatus GdipIsEmptyRegion(GpRegion* region, GpGraphics* graphics, BOOL* result)
{
    GDIP_REQUIRE_STARTED();
    if (region == nullptr || graphics == nullptr || result == nullptr) {
        return InvalidParameter;
    }
    *result = !region->infinite && region->rects.empty() ? TRUE : FALSE;
    return Ok;
}

GpStatus GdipGetRegionBounds(GpRegion* region, GpGraphics* graphics, GpRectF* rect)
{
    GDIP_REQUIRE_STARTED();
    if (region == nullptr || graphics == nullptr || rect == nullptr) {
        return InvalidParameter;
    }
    if (region->infinite) {
        *rect = {kInfiniteOrigin, kInfiniteOrigin, kInfiniteExtent, kInfiniteExtent};
        return Ok;
    }
    if (region->rects.empty()) {
        *rect = {0, 0, 0, 0};
        return Ok;
    }
    REAL left = region->rects[0].X, top = region->rects[0].Y;
    REAL right = left + region->rects[0].Width, bottom = top + region->rects[0].Height;
    for (const GpRectF& r : region->rects) {
        left = std::min(left, r.X);
        top = std::min(top, r.Y);
        right = std::max(right, r.X + r.Width);
        bottom = std::max(bottom, r.Y + r.Height);
    }
    *rect = {left, top, right - left, bottom - top};
    return Ok;
}

}  // namespace Gdiplus
