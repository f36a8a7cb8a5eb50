#pragma once
// The one creation sequence every control class a skin can name goes through: construct the
// class under the parent with the descriptor's name, apply the descriptor, create the children
// (each through its own create function, so each is marked created before its parent goes on),
// initialise, run the created hook, and only then set the created mark. The control handles no
// notification before the mark.
//
// The results of the steps are not examined: a control whose Initialize fails is still marked
// created and returned. A step that throws lets the exception through unchanged after the local
// reference is dropped; what the constructor attached stays under the parent until the parent
// lets it go.

#include "ControlBase/Control.h"
#include "ControlBase/ControlDescriptor.h"
#include "ObjectBase/Exception.h"

namespace Orv {

template <class T>
RCPtr<LControl>& ControlCreateFunction(RCPtr<LControl>& result, const RCPtr<LControl>& parent,
                                       const RCPtr<LControlDescriptor>& descriptor)
{
    result = nullptr;
    if (!descriptor) {
        // The factory never calls without one; a caller that does gets no half-named control.
        ORV_THROW_NULL_POINTER("ControlCreateFunction: no descriptor");
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
