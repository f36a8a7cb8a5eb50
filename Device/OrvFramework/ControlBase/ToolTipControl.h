#pragma once
// IToolTipControl: what the control library's tool tip implements besides LControl, so that any
// control can show and hide the tip its skin names "toolTip" without knowing the library's class.

#include "ObjectBase/OrvResult.h"

namespace Orv {

class IToolTipControl
{
public:
    // Starts a tip that has just been created and given its text.
    virtual ORVRESULT Arm() = 0;
    // Ends it; its owner closes it.
    virtual ORVRESULT Hide() = 0;

protected:
    IToolTipControl() = default;
    ~IToolTipControl() = default;
    IToolTipControl(const IToolTipControl&) = default;
    IToolTipControl& operator=(const IToolTipControl&) = default;
};

}  // namespace Orv
