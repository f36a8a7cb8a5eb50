#pragma once
// Sets a control's state bytes directly, as pointer and key input would, so that the condition
// model can be tested on its own.

#include "ControlBase/Control.h"

namespace Orv {

struct ControlStateTestPeer
{
    enum Byte
    {
        kHasFocus,
        kContainsFocus,
        kHover,
        kCapture,
        kLeftPressed,
        kMiddlePressed,
        kRightPressed,
        kLeftDrag,
        kMiddleDrag,
        kRightDrag,
    };

    static void Set(LControl& control, Byte which, bool value)
    {
        bool* const bytes[] = {
            &control.hasFocus,    &control.containsFocus, &control.hover,        &control.capture,
            &control.leftPressed, &control.middlePressed, &control.rightPressed, &control.leftDrag,
            &control.middleDrag,  &control.rightDrag};
        *bytes[which] = value;
    }

    static void SetFlick(LControl& control, int axis, bool value) { control.flick[axis] = value; }
};

}  // namespace Orv
