#pragma once
// The base of every control. The factory builds controls and hands them out counted; the
// control's data model, drawing and input join this class with the control tree.

#include "ObjectBase/RefCountedObject.h"

namespace Orv {

class LControl : public virtual LRefCountedObject
{
};

}  // namespace Orv
