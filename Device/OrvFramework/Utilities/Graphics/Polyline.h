#pragma once
// A line through points, as controls build them for the renderers. The owner sets the change
// flag whenever it changes the points or the width; a renderer that caches a path or display list
// for the polyline (keyed by GetHandle) rebuilds it when it finds the flag set and clears it.
// A new polyline, and every copy, starts changed and with a handle of its own, so no cache can
// take it for an object it saw before.

#include <cstdint>
#include <vector>

#include "Utilities/Graphics/Geometry.h"
#include "Utilities/Graphics/GraphicsHandle.h"

namespace Orv {

template <class T>
class PolylineT;

template <>
class PolylineT<float>
{
public:
    PolylineT() = default;
    PolylineT(const PolylineT& other) : points(other.points), lineWidth(other.lineWidth) {}
    PolylineT& operator=(const PolylineT& other)
    {
        if (this != &other) {
            points = other.points;
            lineWidth = other.lineWidth;
            changed = true;
        }
        return *this;
    }

    GraphicsHandle GetHandle() const { return handle; }

    uint32_t GetCount() const { return static_cast<uint32_t>(points.size()); }
    const PointT<float>* GetData() const { return points.empty() ? nullptr : points.data(); }
    const PointT<float>& GetAt(uint32_t index) const { return points.at(index); }

    // Every change of the points or the width sets the change flag.
    void AddPoint(PointT<float> point)
    {
        points.push_back(point);
        changed = true;
    }
    void SetAt(uint32_t index, PointT<float> point)
    {
        points.at(index) = point;
        changed = true;
    }
    void RemoveAll()
    {
        points.clear();
        changed = true;
    }
    float GetLineWidth() const { return lineWidth; }
    void SetLineWidth(float width)
    {
        lineWidth = width;
        changed = true;
    }

    bool IsChanged() const { return changed; }
    void SetChanged(bool value) { changed = value; }

private:
    std::vector<PointT<float>> points;
    float lineWidth = 1.0f;
    bool changed = true;
    GraphicsHandle handle = NewGraphicsHandle();
};

using PolylineF = PolylineT<float>;

}  // namespace Orv
