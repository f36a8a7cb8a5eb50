// A control's tool tip: the skin's "toolTip" sub-control, created under the control that shows
// it. The tip decides itself when it appears and where; the control only starts and ends it.

#include "Application/FrameworkApp.h"
#include "ControlBase/Control.h"
#include "ControlBase/ControlFactory.h"
#include "ControlBase/ToolTipControl.h"

namespace Orv {

namespace {

IToolTipControl* AsToolTip(const RCPtr<LControl>& control)
{
    return control ? dynamic_cast<IToolTipControl*>(control.Get()) : nullptr;
}

}  // namespace

ORVRESULT LControl::ShowToolTip(bool show)
{
    const RCPtr<LControl> self = HoldSelf();
    const RCPtr<LControl> previous = FindChild(u"toolTip");
    if (!show) {
        if (IToolTipControl* tip = AsToolTip(previous)) {
            tip->Hide();
        }
        return S_OK;
    }
    const WideString tipText = GetToolTipText();
    LFrameworkApp* application = GetFrameworkApp();
    const RCPtr<LControlFactory> factory =
        application != nullptr ? application->GetControlFactory() : RCPtr<LControlFactory>();
    if (tipText.IsEmpty() || !factory) {
        return S_OK;
    }
    const RCPtr<LControlDescriptor> found = factory->FindSubControlDescriptor(u"toolTip");
    if (!found) {
        return S_OK;
    }
    // A tip hidden a moment ago waits for the next idle pass to go; the new one takes its name.
    if (previous) {
        previous->Close();
    }
    const RCPtr<LControl> created = factory->CreateControl(found, self);
    if (!created) {
        return S_OK;
    }
    IToolTipControl* tip = AsToolTip(created);
    if (!tip) {
        // A skin naming another class here would leave a stray control under this one.
        created->Close();
        return S_OK;
    }
    created->SetText(tipText);
    if (created->GetParent().Get() == this) {
        tip->Arm();
    }
    return S_OK;
}

}  // namespace Orv
