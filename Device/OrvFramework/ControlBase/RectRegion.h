#pragma once
// An area of whole pixels kept as a list of rectangles: a root window's dirty region, the clip of
// a paint pass, and the scratch area with which controls work out what must be redrawn.
//
// AddRect, SubtractRect, SubtractRegion and Intersect keep the rectangles from overlapping;
// Append copies rectangles as they are. A region owns its nodes; copies copy them. Nodes come
// from a RectNodePool (the process pool unless one is given) and every region that exchanges
// nodes with another (the out-list of SubtractRect) must use the same pool.
//
// A region is not locked: its owner serialises access. Operations that need a node throw
// Orv::Exception<std::bad_alloc> when none can be had, leaving the region a valid region (the
// area may then be partly changed).

#include <cstdint>

#include "ControlBase/RectNodePool.h"
#include "Utilities/Graphics/Geometry.h"
#include "Utilities/Storage/IArray.h"

namespace Orv {

class RectRegion
{
public:
    explicit RectRegion(RectNodePool& pool = RectNodePool::GetProcessPool()) : pool(&pool) {}
    RectRegion(const RectRegion& other);
    RectRegion& operator=(const RectRegion& other);
    RectRegion(RectRegion&& other) noexcept;
    RectRegion& operator=(RectRegion&& other) noexcept;
    ~RectRegion() { Clear(); }

    // Empty rectangles (left >= right or top >= bottom) are ignored; otherwise the rectangle's
    // area is first removed from the region and the rectangle put at the front.
    void AddRect(int32_t left, int32_t top, int32_t right, int32_t bottom);
    // Edges from (int)(v + 0.5) (toward zero), saturated to 32 bits; a rectangle with a NaN adds
    // nothing.
    void AddRectRounded(const RectT<double>& rect);
    void Clear();
    // Copies of the other's rectangles at the front, in its order (so reversed); no overlap
    // removal.
    void Append(const RectRegion& other);
    // Removes the rectangle's area. With removed, the removed pieces move onto its front instead
    // of being freed (removed must use this region's pool).
    void SubtractRect(int32_t left, int32_t top, int32_t right, int32_t bottom,
                      RectRegion* removed = nullptr);
    void SubtractRegion(const RectRegion& other, RectRegion* removed = nullptr);
    // This becomes this ∩ other.
    void Intersect(const RectRegion& other);
    // False and {0, 0, 0, 0} for the empty region.
    bool GetBounds(int32_t& left, int32_t& top, int32_t& right, int32_t& bottom) const;
    int32_t GetCount() const;
    bool IsEmpty() const { return first == nullptr; }
    // Moves every rectangle; coordinates saturate at the 32-bit limits instead of wrapping.
    void Offset(int32_t dx, int32_t dy);
    // Open-interval overlap with some rectangle of the region.
    bool IntersectsRect(int32_t left, int32_t top, int32_t right, int32_t bottom) const;
    // Whether the double rectangle moved by the offset meets the region: clipped to the positive
    // quadrant, thinner than 2^-52 or NaN meets nothing, else rounded and tested.
    bool IntersectsArea(const RectT<double>& rect, const PointT<double>& offset) const;
    // {left, top, width, height} of each rectangle in list order, after emptying the array.
    void Enumerate(IArray<RectT<LongCoord>>& out) const;
    // The same area in fewer, larger rectangles, ordered by band (top), then by left edge.
    void Normalize();

    const RectNode* GetFirst() const { return first; }
    RectNodePool& GetPool() const { return *pool; }

private:
    RectNode* NewNode(int32_t left, int32_t top, int32_t right, int32_t bottom);
    void PushFront(RectNode* node);

    RectNode* first = nullptr;
    RectNodePool* pool;
};

}  // namespace Orv
