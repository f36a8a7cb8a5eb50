#pragma once
// The name the first control tests registered their classes under; the creation sequence itself
// is the application's ControlCreateFunction.

#include "Application/ControlCreateFunction.h"

namespace Orv {

template <class T>
RCPtr<LControl>& CreateControlOf(RCPtr<LControl>& result, const RCPtr<LControl>& parent,
                                 const RCPtr<LControlDescriptor>& descriptor)
{
    return ControlCreateFunction<T>(result, parent, descriptor);
}

}  // namespace Orv
