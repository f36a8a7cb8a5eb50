#pragma once
// A visual part placed in a look: offsets from the look's edges and an optional fixed size.

#include <cstdint>

#include "ControlBase/VisualPartDescriptor.h"
#include "ObjectBase/RCPtr.h"
#include "ObjectBase/RefCountedObject.h"

namespace Orv {

struct DockedPlacement
{
    // Which offsets were given: bit 0 left, 1 top, 2 right, 3 bottom. A client part has all four.
    int32_t offsetMask = 0;
    int32_t offsetLeft = 0;
    int32_t offsetTop = 0;
    int32_t offsetRight = 0;
    int32_t offsetBottom = 0;
    bool hasWidth = false;  // width is meaningless without it
    int32_t width = 0;
    bool hasHeight = false;  // height is meaningless without it
    int32_t height = 0;

    bool operator==(const DockedPlacement&) const = default;
};

inline constexpr int32_t kOffsetLeftGiven = 1;
inline constexpr int32_t kOffsetTopGiven = 2;
inline constexpr int32_t kOffsetRightGiven = 4;
inline constexpr int32_t kOffsetBottomGiven = 8;
inline constexpr int32_t kAllOffsetsGiven = 15;

class LDockedPart : public virtual LRefCountedObject
{
public:
    LDockedPart(const RCPtr<LVisualPartDescriptor>& part, const DockedPlacement& placement)
        : part(part), placement(placement)
    {
    }

    RCPtr<LVisualPartDescriptor> part;
    DockedPlacement placement;
};

}  // namespace Orv
