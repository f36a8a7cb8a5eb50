#pragma once
// One SubControl of a skin, or the root of a top-level Skin: what the factory builds a control
// from. Children, skin, layout and create parameters are shared, never copied, by clones.
//
// Lifetime: the parent is not counted; it lives as long as the factory holds the tree.

#include <cstdint>

#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/SkinDescriptor.h"
#include "ControlBase/StringTable.h"
#include "ObjectBase/RCPtr.h"
#include "ObjectBase/RefCountedObject.h"
#include "Utilities/Storage/RCPtrArray.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

class LControl;
class LControlDescriptor;

// Builds a control of one skin class for the descriptor under the parent (null at the top),
// fills result with it (null when it cannot) and returns result.
using ControlCreateFunctionPointer =
    RCPtr<LControl>& (*)(RCPtr<LControl>& result, const RCPtr<LControl>& parent,
                         const RCPtr<LControlDescriptor>& descriptor);

class LControlDescriptor : public virtual LRefCountedObject
{
public:
    LControlDescriptor(const WideString& className, const WideString& name,
                       LControlDescriptor* parent);

    // Appends a child; its index.
    int32_t AddSubControl(const RCPtr<LControlDescriptor>& child);
    ORVRESULT SetSkin(const RCPtr<LSkinDescriptor>& newSkin);
    ORVRESULT SetLayout(const RCPtr<LLayoutDescriptor>& newLayout);
    ORVRESULT SetCreateParams(const RCPtr<LStringTable>& params);

    // A new descriptor of the same class and parent, named newName (this one's name when
    // newName is empty), sharing this one's children, skin, layout and create parameters and
    // carrying its cached create function.
    RCPtr<LControlDescriptor> Clone(const WideString& newName) const;

    WideString className;  // "Application" for a root
    WideString name;
    LControlDescriptor* parent;
    RCPtrArray<LControlDescriptor> subControls;  // ascending LayoutOrder
    RCPtr<LSkinDescriptor> skin;
    RCPtr<LLayoutDescriptor> layout;  // null for a root
    RCPtr<LStringTable> createParams;
    ControlCreateFunctionPointer createFunction = nullptr;  // cached by the factory
};

}  // namespace Orv
