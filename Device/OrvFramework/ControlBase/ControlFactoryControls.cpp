// The factory's operations that need the control class itself: building a top-level control by
// name, and the string table of a control under a given parent.

#include "ControlBase/Control.h"
#include "ControlBase/ControlFactory.h"
#include "ControlBase/RootWindow.h"
#include "ObjectBase/Exception.h"

namespace Orv {

RCPtr<LControl> LControlFactory::CreateControl(const RCPtr<LControlDescriptor>& descriptor,
                                               const RCPtr<LControl>& parent)
{
    if (!descriptor) {
        ORV_THROW_NULL_POINTER("LControlFactory::CreateControl has no descriptor");
    }
    if (descriptor->createFunction == nullptr) {
        ControlCreateFunctionPointer function = nullptr;
        GetControlCreateFunction(descriptor->className, function);
        descriptor->createFunction = function;
    }
    RCPtr<LControl> control;
    if (descriptor->createFunction != nullptr) {
        descriptor->createFunction(control, parent, descriptor);
    }
    return control;
}

RCPtr<LControl> LControlFactory::CreateControlByName(const WideString& name,
                                                     const RCPtr<LRootWindow>& rootWindow)
{
    const RCPtr<LControlDescriptor> found = FindSubControlDescriptor(name);
    if (!found) {
        return RCPtr<LControl>();
    }
    // The skin's IsVisible means nothing for a window's own control: the window shows or hides.
    if (found->layout) {
        found->layout->isVisible = true;
    }
    RCPtr<LControl> control = CreateControl(found, RCPtr<LControl>());
    if (control) {
        control->SetRootWindow(rootWindow);
    }
    return control;
}

ORVRESULT LControlFactory::ApplySkinToControl(const RCPtr<LControl>& control)
{
    if (!control) {
        return E_FAIL;
    }
    // FindSubControlDescriptor answers nothing for an index outside the skins.
    const RCPtr<LControlDescriptor> found = FindSubControlDescriptor(control->GetName());
    if (!found) {
        return E_FAIL;
    }
    return control->ApplyDescriptor(found);
}

RCPtr<LStringTable> LControlFactory::GetControlStringTable(const RCPtr<LControl>& parent,
                                                           const WideString& controlName) const
{
    if (!parent) {
        return strings.GetControlStringTable(WideString(), controlName);
    }
    // A parent made without a descriptor has no class name, and so no table for its children.
    const RCPtr<LControlDescriptor>& parentDescriptor = parent->GetDescriptor();
    const WideString className = parentDescriptor ? parentDescriptor->className : WideString();
    return strings.GetStringTable(className + u"|" + controlName);
}

}  // namespace Orv
