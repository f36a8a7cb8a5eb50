#pragma once
// The base of every control. The factory builds controls and hands them out counted; the
// control's data model, drawing and input join this class with the control tree.

#include <cstdint>

#include "ObjectBase/RCPtr.h"
#include "ObjectBase/RefCountedObject.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

class LBitmap;
class LColorizer;
class LVisualPart;

class LControl : public virtual LRefCountedObject
{
public:
    // An image part for a look or an overlay, sized by its bitmap; null without a bitmap.
    static ConstRCPtr<LVisualPart> CreateLookVisualPart(const WideString& name,
                                                        const RCPtr<LBitmap>& bitmap,
                                                        int32_t resizeType,
                                                        const ConstRCPtr<LColorizer>& colorizer,
                                                        float alphaModifier,
                                                        const RCPtr<LBitmap>& mask);
};

}  // namespace Orv
