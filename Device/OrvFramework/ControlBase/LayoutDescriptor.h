#pragma once
// The placement of one sub-control, as the skin's layout attributes give it. What the reference
// codes mean when laid out is the layout engine's.

#include <cstdint>

#include "ObjectBase/RCPtr.h"
#include "ObjectBase/RefCountedObject.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

// Reference codes of a position: the parent ("Parent", "Screen"), its client area ("Client",
// "Active Window"), a sibling named by the reference name.
enum PositionReference : int32_t
{
    kPositionToParent = 0,
    kPositionToClient = 1,
    kPositionToNamed = 2,
};
// Reference codes of a size: as a position, then "Self" (a fixed size), then a named control.
enum SizeReference : int32_t
{
    kSizeToParent = 0,
    kSizeToClient = 1,
    kSizeToSelf = 2,
    kSizeToNamed = 3,
};

// The fields, apart from the counted object that carries them, so that a copy is one assignment.
// The defaults place a control at the top-left of its parent's client area, 16 x 40, fixed.
struct LayoutValues
{
    bool clipToParent = true;
    int32_t zOrder = 0;
    int32_t tabStop = 0;
    bool isVisible = true;
    bool isEnabled = true;  // never read from a skin: the control's enabled flag
    bool xIsDocked = false;
    bool yIsDocked = false;

    float xPlacementAnchor = 0;
    int32_t xPositionToControl = kPositionToClient;
    WideString xPositionToControlName;
    float xPositionRel = 0;
    double xPositionAbs = 0;

    float yPlacementAnchor = 0;
    int32_t yPositionToControl = kPositionToClient;
    WideString yPositionToControlName;
    float yPositionRel = 0;
    double yPositionAbs = 0;

    int32_t xSizeToControl = kSizeToSelf;
    WideString xSizeToControlName;
    float xSizeRel = 0;
    double xSizeAbs = 16;

    int32_t ySizeToControl = kSizeToSelf;
    WideString ySizeToControlName;
    float ySizeRel = 0;
    double ySizeAbs = 40;

    // Limits: the flag is true when they refer to the named control, false for "Self".
    bool xMinSizeToControl = false;
    WideString xMinSizeToControlName;
    float xMinSizeRel = 0;
    double xMinSizeAbs = 0;

    bool yMinSizeToControl = false;
    WideString yMinSizeToControlName;
    float yMinSizeRel = 0;
    double yMinSizeAbs = 0;

    bool xMaxSizeToControl = false;
    WideString xMaxSizeToControlName;
    float xMaxSizeRel = 0;
    double xMaxSizeAbs = 0;

    bool yMaxSizeToControl = false;
    WideString yMaxSizeToControlName;
    float yMaxSizeRel = 0;
    double yMaxSizeAbs = 0;

    WideString textDecoration;      // kept and copied; nothing uses its value
    int32_t textOverflowXType = 0;  // 0 clip, 1 expand, 2 wrap
    int32_t textOverflowYType = 0;  // 0 clip, 1 expand
    int32_t layoutOrder = 0;

    bool operator==(const LayoutValues&) const = default;
};

class LLayoutDescriptor : public virtual LRefCountedObject, public LayoutValues
{
public:
    LLayoutDescriptor() = default;

    // A new descriptor with a copy of every field; each control keeps its own.
    RCPtr<LLayoutDescriptor> Clone() const;

private:
    LLayoutDescriptor(const LLayoutDescriptor&) = default;
};

}  // namespace Orv
