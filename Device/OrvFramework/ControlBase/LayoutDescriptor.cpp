#include "ControlBase/LayoutDescriptor.h"

namespace Orv {

RCPtr<LLayoutDescriptor> LLayoutDescriptor::Clone() const
{
    return RCPtr<LLayoutDescriptor>(new LLayoutDescriptor(*this));
}

}  // namespace Orv
