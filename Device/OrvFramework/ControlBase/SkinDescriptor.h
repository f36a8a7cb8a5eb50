#pragma once
// One Skin element: the control's looks and its font settings.

#include <cstdint>

#include "ControlBase/LookDescriptor.h"
#include "ObjectBase/RCPtr.h"
#include "ObjectBase/RefCountedObject.h"
#include "Utilities/Storage/RCPtrArray.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

// A control's looks by state slot; slots without a look are null. Shared by every skin naming it.
using LookList = LRCPtrArray<LLookDescriptor>;

class LSkinDescriptor : public virtual LRefCountedObject
{
public:
    explicit LSkinDescriptor(const WideString& name) : name(name) {}

    WideString name;
    RCPtr<LookList> lookList;
    bool fontInheritsFromParent = false;
    // FontSize is a factor of the parent's size rather than a size.
    bool fontSizeIsRelative = false;
    WideString fontName;     // empty: not set
    float fontSize = 0;      // as read; what counts as set is the reader's of it
    int32_t fontStyle = -1;  // -1: not set; else bits 1 bold, 2 italic, 4 underline, 8 strikeout
};

}  // namespace Orv
