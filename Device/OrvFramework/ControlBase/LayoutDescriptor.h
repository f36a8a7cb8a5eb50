#pragma once
// The placement of one sub-control, as the skin's layout attributes give it. What the reference
// codes mean when laid out is the layout engine's.

#include <cstdint>

#include "ObjectBase/OrvResult.h"
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

// One axis's position: the anchor within the control, the reference (code and, for a named
// control, its name), a fraction of the reference's size and pixels.
struct LayoutPosition
{
    float placementAnchor = 0;
    int32_t toControl = kPositionToClient;
    WideString toControlName;
    float rel = 0;
    double abs = 0;  // from an integer attribute

    bool operator==(const LayoutPosition&) const = default;
};

// One axis's size: the reference, a fraction of its size and pixels.
struct LayoutSize
{
    int32_t toControl = kSizeToSelf;
    WideString toControlName;
    float rel = 0;
    double abs = 0;

    bool operator==(const LayoutSize&) const = default;
};

// One axis's minimum or maximum: toControl is true for the named control, false for "Self".
struct LayoutLimit
{
    bool toControl = false;
    WideString toControlName;
    float rel = 0;
    double abs = 0;

    bool operator==(const LayoutLimit&) const = default;
};

// One axis's position as callers hand it over and read it back: the stored position together
// with that axis's docked flag. Two specs are equal when every field is exactly equal (floats and
// doubles by ==, so a NaN never matches), the name counting only for a named reference: the
// name of a parent or client reference is never read.
struct AxisPositionSpec
{
    float anchor = 0;
    int32_t reference = kPositionToClient;  // a PositionReference code
    WideString referenceName;               // read for kPositionToNamed only
    float rel = 0;                          // fraction of the reference's size
    double abs = 0;                         // pixels
    bool docked = false;

    bool operator==(const AxisPositionSpec& other) const;
};

// One axis's size; equal as AxisPositionSpec, the name counting for kSizeToNamed only.
struct AxisSizeSpec
{
    int32_t reference = kSizeToSelf;  // a SizeReference code
    WideString referenceName;         // read for kSizeToNamed only
    float rel = 0;
    double abs = 0;  // pixels: the size ("Self") or the far edge's offset

    bool operator==(const AxisSizeSpec& other) const;
};

// One axis's minimum or maximum. named is a flag (0 "Self", anything else the control called
// referenceName or "Children"); flags compare by what they mean, and the name only when set.
struct AxisSizeLimitSpec
{
    uint8_t named = 0;
    WideString referenceName;
    float rel = 0;
    double abs = 0;  // pixels: the limit ("Self") or the limiting edge's offset

    bool operator==(const AxisSizeLimitSpec& other) const;
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
    LayoutPosition xPosition;
    LayoutPosition yPosition;
    LayoutSize xSize{kSizeToSelf, WideString(), 0, 16};
    LayoutSize ySize{kSizeToSelf, WideString(), 0, 40};
    LayoutLimit xMinSize;
    LayoutLimit yMinSize;
    LayoutLimit xMaxSize;
    LayoutLimit yMaxSize;
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

    // Axis 0 is x, 1 is y. The readers fill their outputs and return S_OK; the writers store the
    // given values and return S_OK. Any other axis gives E_INVALIDARG, reads nothing, stores
    // nothing and leaves the outputs as they were.
    ORVRESULT GetAxisPlacement(int axis, AxisPositionSpec& position, AxisSizeSpec& size) const;
    ORVRESULT SetAxisPlacement(int axis, const AxisPositionSpec& position,
                               const AxisSizeSpec& size);
    ORVRESULT GetAxisSizeLimits(int axis, AxisSizeLimitSpec& minimum,
                                AxisSizeLimitSpec& maximum) const;
    ORVRESULT SetAxisSizeLimits(int axis, const AxisSizeLimitSpec& minimum,
                                const AxisSizeLimitSpec& maximum);

    // A sibling has been renamed: every position and size reference name of both axes equal to
    // oldName becomes newName. Minimum and maximum references name children, not siblings, and
    // are left alone.
    void RenameReference(const WideString& oldName, const WideString& newName);

private:
    LLayoutDescriptor(const LLayoutDescriptor&) = default;
};

}  // namespace Orv
