#pragma once
// Rectangles each filled with its own colour (packed 0xAARRGGBB), drawn in one call and scaled
// by (scale x, scale y). Identity and the change flag work as for PolylineT<float>: a new list,
// and every copy, starts changed and with a handle of its own.

#include <cstdint>
#include <vector>

#include "Utilities/Graphics/Geometry.h"
#include "Utilities/Graphics/GraphicsHandle.h"

namespace Orv {

template <class T>
class ColorRectListT;

template <>
class ColorRectListT<float>
{
public:
    ColorRectListT() = default;
    ColorRectListT(const ColorRectListT& other)
        : rects(other.rects), colors(other.colors), scaleX(other.scaleX), scaleY(other.scaleY)
    {
    }
    ColorRectListT& operator=(const ColorRectListT& other)
    {
        if (this != &other) {
            rects = other.rects;
            colors = other.colors;
            scaleX = other.scaleX;
            scaleY = other.scaleY;
            changed = true;
        }
        return *this;
    }

    GraphicsHandle GetHandle() const { return handle; }

    uint32_t GetCount() const { return static_cast<uint32_t>(rects.size()); }
    const RectT<float>& GetRect(uint32_t index) const { return rects.at(index); }
    uint32_t GetColor(uint32_t index) const { return colors.at(index); }
    const RectT<float>* GetRects() const { return rects.empty() ? nullptr : rects.data(); }
    const uint32_t* GetColors() const { return colors.empty() ? nullptr : colors.data(); }

    void AddRect(RectT<float> rect, uint32_t packedArgb)
    {
        rects.push_back(rect);
        colors.push_back(packedArgb);
        changed = true;
    }
    void RemoveAll()
    {
        rects.clear();
        colors.clear();
        changed = true;
    }

    float GetScaleX() const { return scaleX; }
    float GetScaleY() const { return scaleY; }
    void SetScale(float x, float y)
    {
        scaleX = x;
        scaleY = y;
        changed = true;
    }

    bool IsChanged() const { return changed; }
    void SetChanged(bool value) { changed = value; }

private:
    std::vector<RectT<float>> rects;
    std::vector<uint32_t> colors;  // parallel to rects, 0xAARRGGBB
    float scaleX = 1.0f;
    float scaleY = 1.0f;
    bool changed = true;
    GraphicsHandle handle = NewGraphicsHandle();
};

using ColorRectListF = ColorRectListT<float>;

}  // namespace Orv
