// The layout engine. Skins are outside data: every anchor, fraction and pixel value may be NaN,
// endless or out of range, so no step here converts a double to an integer type except through
// the saturating rounding, and every division checks its divisor.

#include "ControlBase/LayoutEngine.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "ControlBase/Control.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/Look.h"
#include "ControlBase/LookDescriptor.h"
#include "Renderer/FontText.h"

namespace Orv {

namespace {

constexpr double kDoubleEpsilon = 2.220446049250313e-16;
constexpr float kTextBoxLimit = 8388608.0f;  // 2^23: every float below is a whole pixel count
constexpr int32_t kExpandText = 1;
const WideString kChildrenReference(u"Children");

// The reference frame of the control being laid out, per axis (0 x, 1 y).
struct Frame
{
    double parentOrigin[2] = {0, 0};
    double parentSize[2] = {0, 0};
    double clientSize[2] = {0, 0};
    double scroll[2] = {0, 0};
    double pointer[2] = {0, 0};
    const LControl* parent = nullptr;
};

double Along(const PointD& point, int axis)
{
    return axis == 0 ? point.x : point.y;
}

double& Along(PointD& point, int axis)
{
    return axis == 0 ? point.x : point.y;
}

double PositionOf(const RectD& rect, int axis)
{
    return axis == 0 ? rect.x : rect.y;
}

double SizeOf(const RectD& rect, int axis)
{
    return axis == 0 ? rect.width : rect.height;
}

bool DockedOn(const LLayoutDescriptor& layout, int axis)
{
    return axis == 0 ? layout.xIsDocked : layout.yIsDocked;
}

bool DockedOn(const LControl& control, int axis)
{
    const RCPtr<LLayoutDescriptor>& layout = control.GetLayout();
    return layout && DockedOn(*layout, axis);
}

bool ClipsToParent(const LControl& control)
{
    const RCPtr<LLayoutDescriptor>& layout = control.GetLayout();
    return !layout || layout->clipToParent;
}

// A named sibling's origin and size on one axis: its current rectangle, a docked one without the
// parent's scroll; the pointer and 0 without a parent; 0 and 0 when no sibling has the name.
void NamedReference(const Frame& frame, const WideString& name, int axis, double& origin,
                    double& size)
{
    origin = 0;
    size = 0;
    if (!frame.parent) {
        origin = frame.pointer[axis];
        return;
    }
    const RCPtr<LControl> sibling = frame.parent->FindChild(name);
    if (!sibling) {
        return;
    }
    origin = PositionOf(sibling->GetRect(), axis);
    if (DockedOn(*sibling, axis)) {
        origin -= frame.scroll[axis];
    }
    size = SizeOf(sibling->GetRect(), axis);
}

// One axis of ResolveLayout: the edge and extent before rounding.
void ResolveAxis(const Frame& frame, const LayoutPosition& position, const LayoutSize& sizeSpec,
                 bool docked, int axis, double& edge, double& extent)
{
    double p = 0;
    switch (position.toControl) {
        case kPositionToParent:
            p = RoundHalfAway(position.rel * frame.parentSize[axis]) + position.abs +
                frame.parentOrigin[axis];
            break;
        case kPositionToClient:
            p = RoundHalfAway(position.rel * frame.clientSize[axis]) + position.abs;
            break;
        default: {
            double origin = 0;
            double size = 0;
            NamedReference(frame, position.toControlName, axis, origin, size);
            p = RoundHalfAway(position.rel * size) + origin + position.abs;
            break;
        }
    }

    const double a = position.placementAnchor;
    double w = 0;
    if (sizeSpec.toControl == kSizeToSelf) {
        w = sizeSpec.abs < 0 ? 0 : sizeSpec.abs;
    } else {
        double origin = 0;
        double size = 0;
        switch (sizeSpec.toControl) {
            case kSizeToParent:
                origin = frame.parentOrigin[axis];
                size = frame.parentSize[axis];
                break;
            case kSizeToClient:
                size = frame.clientSize[axis];
                break;
            default:
                NamedReference(frame, sizeSpec.toControlName, axis, origin, size);
                break;
        }
        const double farEdge = RoundHalfAway(sizeSpec.rel * size) + origin + sizeSpec.abs;
        const double d = farEdge - p;
        // Comparisons that a NaN anchor or distance fails leave the width 0, as does an anchor
        // outside 0..1: the factor is only formed where its divisor is at least a float's step.
        if (d > 0 && a >= 0 && a < 1) {
            w = d * static_cast<double>(1.0f / (1.0f - static_cast<float>(a)));
        } else if (d < 0 && a > 0 && a <= 1) {
            w = d * static_cast<double>(1.0f / -static_cast<float>(a));
        }
    }
    p -= a * w;
    if (docked) {
        p += frame.scroll[axis];
    }
    edge = p;
    extent = w;
}

// The text box of a look for a control of this size (the size being laid out: measured at the
// control's old size, a label grown to fit its text would fit without growing next time and
// shrink back, every other pass), in single precision as the look's own text
// layout computes it, each extent within +-2^23.
void TextBoxOf(const LLookDescriptor& descriptor, const PointD& controlSize, float& width,
               float& height)
{
    width = 0;
    height = 0;
    if (!descriptor.hasTextProperties) {
        return;
    }
    const TextProperties& text = descriptor.text;
    const float w = static_cast<float>(controlSize.x);
    const float h = static_cast<float>(controlSize.y);
    const float left = text.textLeftRel * w + static_cast<float>(text.textLeftAbs);
    const float right = text.textRightRel * w + static_cast<float>(text.textRightAbs);
    const float top = text.textTopRel * h + static_cast<float>(text.textTopAbs);
    const float bottom = text.textBottomRel * h + static_cast<float>(text.textBottomAbs);
    // A NaN extent (from a NaN size) counts as 0 rather than reaching a conversion.
    const auto bounded = [](float extent) {
        return std::isnan(extent) ? 0.0f : std::clamp(extent, -kTextBoxLimit, kTextBoxLimit);
    };
    width = bounded(right - left);
    height = bounded(bottom - top);
}

// The growth that lets a text of extent t fit a box of extent box whose edges move by fraction
// (per pixel of control) together: ceil(ceil(t - box) / fraction). A fraction of 0 or less (a
// box given in pixels only) grows pixel for pixel. 0 when the text fits.
double TextGrowth(double t, float box, float fraction)
{
    const float v = std::ceil(static_cast<float>(t) - box);
    if (!(v > 0)) {
        return 0;
    }
    const float divisor = fraction > 0 ? fraction : 1.0f;
    return std::trunc(static_cast<double>(std::ceil(v / divisor)));
}

// The minimum text needs on one axis; m unchanged when the look has no text block.
void ApplyTextMinimum(LControl& control, const LLayoutDescriptor& layout, int axis,
                      const PointD& size, double& m)
{
    const RCPtr<LLook> look = control.GetLook(-1);
    if (!look || !look->GetDescriptor() || !look->GetTextBlock()) {
        return;
    }
    LFontText& text = *look->GetTextBlock();
    const LLookDescriptor& descriptor = *look->GetDescriptor();
    float boxWidth = 0;
    float boxHeight = 0;
    TextBoxOf(descriptor, size, boxWidth, boxHeight);
    const double w = Along(size, axis);
    const TextProperties& box = descriptor.text;
    if (axis == 0) {
        text.SetWrap(false);
        const double growth = TextGrowth(static_cast<double>(text.GetTextWidth()), boxWidth,
                                         box.textRightRel - box.textLeftRel);
        if (growth > 0) {
            m = std::max(m, w + growth);
            const LayoutLimit& maximum = layout.xMaxSize;
            if (!maximum.toControl && maximum.abs > 0 && m > maximum.abs) {
                m = maximum.abs;
                text.SetWrap(true);
            }
        }
    } else {
        const int32_t width = RoundToLong(std::trunc(size.x));
        const double growth = TextGrowth(static_cast<double>(text.GetTextHeight(width)), boxHeight,
                                         box.textBottomRel - box.textTopRel);
        if (growth > 0) {
            m = std::max(m, w + growth);
        }
    }
}

// A child's rectangle on one axis in the coordinates of the control's parent, with the control
// at its new position.
void MapChild(const LControl& control, const LControl& child, const RectD& client,
              const PointD& newPosition, int axis, bool dockedShift, double& origin, double& size)
{
    const double scroll = Along(control.GetScrollOffset(), axis);
    origin = PositionOf(child.GetRect(), axis) - scroll + PositionOf(client, axis) +
             Along(newPosition, axis);
    if (dockedShift && DockedOn(child, axis)) {
        origin -= scroll;
    }
    size = SizeOf(child.GetRect(), axis);
}

// The reference box of a named limit on one axis. False when the axis is to be left alone.
bool NamedLimitReference(LControl& control, const LayoutLimit& limit, bool maximum, int axis,
                         float anchor, const PointD& position, double& origin, double& size)
{
    LControl::ChildControlList& children = control.GetChildren();
    const uint32_t count = children.GetCount();
    if (count == 0) {
        return false;
    }
    const RectD client = control.GetClientRect(-1);
    if (const RCPtr<LControl> named = control.FindChild(limit.toControlName)) {
        MapChild(control, *named, client, position, axis, true, origin, size);
        return true;
    }
    if (limit.toControlName != kChildrenReference) {
        origin = 0;
        size = 0;
        return true;
    }
    const RCPtr<LControl>& first = children.GetAt(0, LControl::ChildControlList::kInsertionOrder);
    if (maximum && DockedOn(*first, 0) && DockedOn(*first, 1)) {
        return false;
    }
    double low = 0;
    double extent = 0;
    MapChild(control, *first, client, position, axis, false, low, extent);
    double high = low + extent;
    for (uint32_t index = count; index-- > 1;) {
        const RCPtr<LControl>& child =
            children.GetAt(index, LControl::ChildControlList::kInsertionOrder);
        if (!maximum && !ClipsToParent(*child)) {
            continue;
        }
        double childOrigin = 0;
        double childSize = 0;
        MapChild(control, *child, client, position, axis, true, childOrigin, childSize);
        low = std::min(low, childOrigin);
        high = std::max(high, childOrigin + childSize);
    }
    size = high - low;
    origin = Along(position, axis) - anchor * size;
    return true;
}

// The non-client border goes on top of a "Children" box: the control's size less its look's
// client size, on the axis being limited only (once per axis, not once per limited axis).
void AddChildrenBorder(const LControl& control, const LayoutLimit& limit, int axis, PointD& size)
{
    if (!limit.toControl || limit.toControlName != kChildrenReference) {
        return;
    }
    const RCPtr<LLook> look = control.GetLook(-1);
    if (!look) {
        return;
    }
    const RectL& client = look->GetClientRect();
    const double outer = RoundHalfAway(SizeOf(control.GetRect(), axis));
    Along(size, axis) += outer - (axis == 0 ? client.width : client.height);
}

const LayoutLimit& MinimumOf(const LLayoutDescriptor& layout, int axis)
{
    return axis == 0 ? layout.xMinSize : layout.yMinSize;
}

const LayoutLimit& MaximumOf(const LLayoutDescriptor& layout, int axis)
{
    return axis == 0 ? layout.xMaxSize : layout.yMaxSize;
}

float AnchorOf(const LLayoutDescriptor& layout, int axis)
{
    return axis == 0 ? layout.xPosition.placementAnchor : layout.yPosition.placementAnchor;
}

}  // namespace

ORVRESULT ResolveLayout(const LLayoutDescriptor* layout, const LControl* parent,
                        const RectD& screen, const PointD& windowClientSize, const PointD& pointer,
                        RectD& out)
{
    if (!layout) {
        return E_INVALIDARG;
    }
    Frame frame;
    frame.parent = parent;
    if (parent) {
        const RectD client = parent->GetClientRect(-1);
        frame.parentOrigin[0] = -client.x;
        frame.parentOrigin[1] = -client.y;
        frame.parentSize[0] = parent->GetRect().width;
        frame.parentSize[1] = parent->GetRect().height;
        frame.clientSize[0] = client.width;
        frame.clientSize[1] = client.height;
        frame.scroll[0] = parent->GetScrollOffset().x;
        frame.scroll[1] = parent->GetScrollOffset().y;
    } else {
        frame.parentOrigin[0] = screen.x;
        frame.parentOrigin[1] = screen.y;
        frame.parentSize[0] = screen.width;
        frame.parentSize[1] = screen.height;
        frame.clientSize[0] = windowClientSize.x;
        frame.clientSize[1] = windowClientSize.y;
        frame.pointer[0] = pointer.x;
        frame.pointer[1] = pointer.y;
    }
    RectD result;
    ResolveAxis(frame, layout->xPosition, layout->xSize, layout->xIsDocked, 0, result.x,
                result.width);
    ResolveAxis(frame, layout->yPosition, layout->ySize, layout->yIsDocked, 1, result.y,
                result.height);
    result.RoundEdges();
    out = result;
    return S_OK;
}

ORVRESULT ApplyLayoutMinSize(LControl& control, PointD& position, PointD& size)
{
    const RCPtr<LLayoutDescriptor> layout = control.GetLayout();
    if (!layout) {
        return S_OK;
    }
    ORVRESULT result = S_OK;
    for (int axis = 0; axis < 2; ++axis) {
        const LayoutLimit& limit = MinimumOf(*layout, axis);
        const float a = AnchorOf(*layout, axis);
        double& p = Along(position, axis);
        double& w = Along(size, axis);
        if (!limit.toControl) {
            double m = limit.abs;
            const bool textDecides = axis == 0 ? layout->textOverflowXType == kExpandText
                                               : layout->textOverflowYType != 0;
            if (textDecides) {
                ApplyTextMinimum(control, *layout, axis, size, m);
            }
            if (m > w) {
                p -= RoundHalfAway(a * (m - w));
                w = m;
                result = result < 0 ? result : 1;
            }
            continue;
        }
        double origin = 0;
        double extent = 0;
        if (!NamedLimitReference(control, limit, false, axis, a, position, origin, extent) ||
            !(extent > 0)) {
            continue;
        }
        const double e = limit.rel * extent + origin + limit.abs;
        if (p > e) {
            if (!(a > 0 && a <= 1)) {
                result = E_FAIL;
                continue;
            }
            w += RoundHalfAway((p - e) / a);
            p = e;
            result = result < 0 ? result : 1;
        } else if (e > p + w) {
            if (!(a >= 0 && a < 1)) {
                result = E_FAIL;
                continue;
            }
            p -= RoundHalfAway(a * (e - p - w) / (1 - a));
            w = RoundHalfAway(e) - p;
            result = result < 0 ? result : 1;
        }
        AddChildrenBorder(control, limit, axis, size);
    }
    return result;
}

ORVRESULT ApplyLayoutMaxSize(LControl& control, PointD& position, PointD& size)
{
    const RCPtr<LLayoutDescriptor> layout = control.GetLayout();
    if (!layout) {
        return S_OK;
    }
    ORVRESULT result = S_OK;
    for (int axis = 0; axis < 2; ++axis) {
        const LayoutLimit& limit = MaximumOf(*layout, axis);
        const float a = AnchorOf(*layout, axis);
        double& p = Along(position, axis);
        double& w = Along(size, axis);
        if (!limit.toControl) {
            const double m = limit.abs;
            if (m != 0 && w > m) {
                p -= RoundHalfAway(a * (m - w));
                w = m;
                result = 1;
            }
            continue;
        }
        double origin = 0;
        double extent = 0;
        if (!NamedLimitReference(control, limit, true, axis, a, position, origin, extent) ||
            !(extent > kDoubleEpsilon)) {
            continue;
        }
        const double e = limit.rel * extent + origin + limit.abs;
        if (e > p && p + w > e) {
            // The edge cuts the control: the edge on the anchor's far side of e moves onto it.
            // With the anchor point at or beyond e the near edge moves (a > 0 there, since e > p);
            // otherwise the far edge does, which also covers an anchor of 0.
            if (p + a * w >= e) {
                const double oldPosition = p;
                p = RoundHalfAway(e);
                w += RoundHalfAway((oldPosition - e) / a);
            } else {
                p -= RoundHalfAway(a * (e - p - w));
                w = RoundHalfAway(e) - p;
            }
            result = 1;
        }
        AddChildrenBorder(control, limit, axis, size);
    }
    return result;
}

}  // namespace Orv
