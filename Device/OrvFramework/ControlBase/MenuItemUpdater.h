#pragma once
// The object a control's menus ask about their items' state. It holds its control counted; the
// control counts that reference as a back reference of its own, so the pair never keeps itself
// alive.

#include "ObjectBase/RCPtr.h"
#include "ObjectBase/RefCountedObject.h"

namespace Orv {

class LControl;

class LMenuItemUpdater : public virtual LRefCountedObject
{
public:
    explicit LMenuItemUpdater(const RCPtr<LControl>& control) : control(control) {}

    const RCPtr<LControl>& GetControl() const { return control; }
    // The control drops its updater: the reference back goes first.
    void ForgetControl() { control = nullptr; }

private:
    RCPtr<LControl> control;
};

}  // namespace Orv
