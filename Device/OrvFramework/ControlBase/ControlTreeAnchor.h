#pragma once
// Where a control hangs in its tree while it tells its clients about input: a client's handler
// may close the control, or the window holding it (a click that closes a dialog), and the input
// code must then stop handling the press or release it was in.

#include "ControlBase/Control.h"
#include "ControlBase/RootWindow.h"

namespace Orv {

class ControlTreeAnchor
{
public:
    explicit ControlTreeAnchor(LControl& control)
        : control(control),
          parent(control.GetParent().Get()),
          window(control.GetRootWindowRef().Get())
    {
    }

    // The control left its parent, or its tree left the window it was in.
    bool Lost() const
    {
        if (parent != nullptr && control.GetParent().Get() == nullptr) {
            return true;
        }
        return window != nullptr && control.GetRootWindowRef().Get() != window;
    }

private:
    LControl& control;
    const LControl* parent;
    const LRootWindow* window;
};

}  // namespace Orv
