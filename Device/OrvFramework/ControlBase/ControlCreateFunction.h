#pragma once
// The create function of a control class, as the factory calls it: construct the class under the
// parent with the descriptor's name, apply the descriptor, create the children, initialise, let
// the control know it was created, then mark it created. Classes that need nothing more register
// CreateControlOf<TheClass>.

#include "ControlBase/Control.h"
#include "ControlBase/ControlDescriptor.h"

namespace Orv {

template <class T>
RCPtr<LControl>& CreateControlOf(RCPtr<LControl>& result, const RCPtr<LControl>& parent,
                                 const RCPtr<LControlDescriptor>& descriptor)
{
    result = nullptr;
    if (!descriptor) {
        return result;
    }
    RCPtr<T> control(new T(parent, descriptor->name));
    control->ApplyDescriptor(descriptor);
    control->CreateChildren(descriptor);
    control->Initialize();
    control->OnCreated();
    control->SetCreated();
    result = control;
    return result;
}

}  // namespace Orv
