// The tool tip comes with the skin application and the tool-tip control; until then a control
// shows none.

#include "ControlBase/Control.h"

namespace Orv {

ORVRESULT LControl::ShowToolTip(bool)
{
    return S_OK;
}

}  // namespace Orv
