#include "ControlBase/LayoutDescriptor.h"

namespace Orv {

namespace {

bool IsAxis(int axis)
{
    return axis == 0 || axis == 1;
}

LayoutLimit ToLimit(const AxisSizeLimitSpec& spec)
{
    return {spec.named != 0, spec.referenceName, spec.rel, spec.abs};
}

AxisSizeLimitSpec ToSpec(const LayoutLimit& limit)
{
    return {static_cast<uint8_t>(limit.toControl ? 1 : 0), limit.toControlName, limit.rel,
            limit.abs};
}

}  // namespace

bool AxisPositionSpec::operator==(const AxisPositionSpec& other) const
{
    return anchor == other.anchor && reference == other.reference && rel == other.rel &&
           abs == other.abs && docked == other.docked &&
           (reference != kPositionToNamed || referenceName == other.referenceName);
}

bool AxisSizeSpec::operator==(const AxisSizeSpec& other) const
{
    return reference == other.reference && rel == other.rel && abs == other.abs &&
           (reference != kSizeToNamed || referenceName == other.referenceName);
}

bool AxisSizeLimitSpec::operator==(const AxisSizeLimitSpec& other) const
{
    return (named != 0) == (other.named != 0) && rel == other.rel && abs == other.abs &&
           (named == 0 || referenceName == other.referenceName);
}

RCPtr<LLayoutDescriptor> LLayoutDescriptor::Clone() const
{
    return RCPtr<LLayoutDescriptor>(new LLayoutDescriptor(*this));
}

ORVRESULT LLayoutDescriptor::GetAxisPlacement(int axis, AxisPositionSpec& position,
                                              AxisSizeSpec& size) const
{
    if (!IsAxis(axis)) {
        return E_INVALIDARG;
    }
    const LayoutPosition& p = axis == 0 ? xPosition : yPosition;
    const LayoutSize& s = axis == 0 ? xSize : ySize;
    position = {p.placementAnchor,
                p.toControl,
                p.toControlName,
                p.rel,
                p.abs,
                axis == 0 ? xIsDocked : yIsDocked};
    size = {s.toControl, s.toControlName, s.rel, s.abs};
    return S_OK;
}

ORVRESULT LLayoutDescriptor::SetAxisPlacement(int axis, const AxisPositionSpec& position,
                                              const AxisSizeSpec& size)
{
    if (!IsAxis(axis)) {
        return E_INVALIDARG;
    }
    (axis == 0 ? xPosition : yPosition) = {position.anchor, position.reference,
                                           position.referenceName, position.rel, position.abs};
    (axis == 0 ? xIsDocked : yIsDocked) = position.docked;
    (axis == 0 ? xSize : ySize) = {size.reference, size.referenceName, size.rel, size.abs};
    return S_OK;
}

ORVRESULT LLayoutDescriptor::GetAxisSizeLimits(int axis, AxisSizeLimitSpec& minimum,
                                               AxisSizeLimitSpec& maximum) const
{
    if (!IsAxis(axis)) {
        return E_INVALIDARG;
    }
    minimum = ToSpec(axis == 0 ? xMinSize : yMinSize);
    maximum = ToSpec(axis == 0 ? xMaxSize : yMaxSize);
    return S_OK;
}

ORVRESULT LLayoutDescriptor::SetAxisSizeLimits(int axis, const AxisSizeLimitSpec& minimum,
                                               const AxisSizeLimitSpec& maximum)
{
    if (!IsAxis(axis)) {
        return E_INVALIDARG;
    }
    (axis == 0 ? xMinSize : yMinSize) = ToLimit(minimum);
    (axis == 0 ? xMaxSize : yMaxSize) = ToLimit(maximum);
    return S_OK;
}

void LLayoutDescriptor::RenameReference(const WideString& oldName, const WideString& newName)
{
    for (WideString* name : {&xPosition.toControlName, &yPosition.toControlName,
                             &xSize.toControlName, &ySize.toControlName}) {
        if (*name == oldName) {
            *name = newName;
        }
    }
}

}  // namespace Orv
