// Renaming a child: names are the keys of sibling references, so the siblings laid out after it
// follow the new name.

#include "ControlBase/Control.h"
#include "ControlBase/LayoutDescriptor.h"

namespace Orv {

ORVRESULT LControl::ChildControlList::RenameChild(const RCPtr<LControl>& child,
                                                  const WideString& newName)
{
    int32_t at = -1;
    for (uint32_t index = 0; index < children.GetCount(); ++index) {
        if (children.GetData()[index].Get() == child.Get() && child) {
            at = static_cast<int32_t>(index);
            break;
        }
    }
    if (at < 0) {
        return E_INVALIDARG;
    }
    if (child->name == newName) {
        return 1;
    }
    for (uint32_t index = 0; index < children.GetCount(); ++index) {
        if (children.GetData()[index]->name == newName) {
            return E_FAIL;
        }
    }
    const WideString oldName = child->name;
    child->name = newName;
    // Only later siblings may name it: earlier ones are laid out before it.
    for (uint32_t index = static_cast<uint32_t>(at) + 1; index < children.GetCount(); ++index) {
        if (const RCPtr<LLayoutDescriptor>& layout = children.GetData()[index]->layout) {
            layout->RenameReference(oldName, newName);
        }
    }
    return S_OK;
}

}  // namespace Orv
