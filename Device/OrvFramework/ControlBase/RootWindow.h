#pragma once
// The root of one window's control tree. A top-level control holds its root window counted
// (LControl::SetRootWindow). The window's input dispatch, paint pass and OS services join this
// class with the window itself.

#include "ObjectBase/RefCountedObject.h"

namespace Orv {

class LRootWindow : public virtual LRefCountedObject
{
};

}  // namespace Orv
