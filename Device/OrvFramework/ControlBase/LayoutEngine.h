#pragma once
// The layout engine: a control's layout copy turned into its rectangle in the parent's content
// coordinates. UpdateLayout runs ResolveLayout, ApplyLayoutMinSize, ApplyLayoutMaxSize,
// SnapToPixels and SetRect in that order; the root window runs the same chain for a proposed
// window size. The engine keeps no state. UI thread only.

#include "ObjectBase/OrvResult.h"
#include "ObjectBase/RCPtr.h"
#include "Utilities/Graphics/Geometry.h"

namespace Orv {

class LControl;
class LLayoutDescriptor;
class LLook;

// The rectangle the layout asks for, edges rounded half away from zero. With a parent the
// screen, window client size and pointer are not read; a top-level control is placed against
// them (screen origin and pointer in the window's client coordinates). E_INVALIDARG without a
// layout, else 0.
ORVRESULT ResolveLayout(const LLayoutDescriptor* layout, const LControl* parent,
                        const RectD& screen, const PointD& windowClientSize, const PointD& pointer,
                        RectD& out);

// The minimum sizes of the control's layout (its text, a named child or its children) applied
// to a resolved rectangle: 0 when nothing changed, 1 when it did, E_FAIL when a named minimum
// cannot be met with the control's anchor (that axis is left as it was).
ORVRESULT ApplyLayoutMinSize(LControl& control, PointD& position, PointD& size);

// The maximum sizes: 0 when nothing changed, 1 when it did.
ORVRESULT ApplyLayoutMaxSize(LControl& control, PointD& position, PointD& size);

}  // namespace Orv
