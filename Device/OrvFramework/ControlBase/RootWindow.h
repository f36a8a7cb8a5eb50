#pragma once
// The root of one window's control tree. A top-level control holds its root window counted
// (LControl::SetRootWindow). The window's input dispatch, paint pass and OS services join this
// class with the window itself.

#include "ObjectBase/RefCountedObject.h"
#include "Utilities/Graphics/Geometry.h"

namespace Orv {

class LRootWindow : public virtual LRefCountedObject
{
public:
    // Adds a rectangle (window client coordinates) to the area the next paint redraws.
    virtual void InvalidateRect(const RectT<LongCoord>& rect) = 0;
    // The window's client area: width in x, height in y.
    virtual PointT<LongCoord> GetClientSize() const = 0;
};

}  // namespace Orv
