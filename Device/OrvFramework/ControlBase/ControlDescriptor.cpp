#include "ControlBase/ControlDescriptor.h"

namespace Orv {

LControlDescriptor::LControlDescriptor(const WideString& className, const WideString& name,
                                       LControlDescriptor* parent)
    : className(className), name(name), parent(parent)
{
}

int32_t LControlDescriptor::AddSubControl(const RCPtr<LControlDescriptor>& child)
{
    return subControls.AddItem(child);
}

ORVRESULT LControlDescriptor::SetSkin(const RCPtr<LSkinDescriptor>& newSkin)
{
    skin = newSkin;
    return S_OK;
}

ORVRESULT LControlDescriptor::SetLayout(const RCPtr<LLayoutDescriptor>& newLayout)
{
    layout = newLayout;
    return S_OK;
}

ORVRESULT LControlDescriptor::SetCreateParams(const RCPtr<LStringTable>& params)
{
    createParams = params;
    return S_OK;
}

RCPtr<LControlDescriptor> LControlDescriptor::Clone(const WideString& newName) const
{
    RCPtr<LControlDescriptor> clone(
        new LControlDescriptor(className, newName.IsEmpty() ? name : newName, parent));
    for (uint32_t i = 0; i < subControls.GetCount(); ++i) {
        clone->subControls.AddItem(subControls.GetAt(i));
    }
    clone->skin = skin;
    clone->layout = layout;
    clone->createParams = createParams;
    clone->createFunction = createFunction;
    return clone;
}

}  // namespace Orv
