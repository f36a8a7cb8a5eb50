// Whether a control's label shows whole: the library's controls show a clipped label as their
// tool tip.

#include "ControlBase/Control.h"
#include "ControlBase/Look.h"

namespace Orv {

bool LControl::IsTextClipped()
{
    const RCPtr<LLook> look = GetLook(-1);
    LFontText* label = look ? look->GetTextBlock().Get() : nullptr;
    if (label == nullptr) {
        return !name.IsEmpty();
    }
    return label->GetTextWidth() > label->GetBoxWidth();
}

const WideString& LControl::GetClippedTextToolTip() const
{
    // Measuring the label lays its text out, which is no change of the control's state.
    if (const_cast<LControl*>(this)->IsTextClipped()) {
        return text;
    }
    return LControl::GetToolTipText();
}

}  // namespace Orv
