#include "ControlBase/MenuDescriptor.h"

#include <utility>

namespace Orv {

LMenuDescriptor::~LMenuDescriptor()
{
    SetParent(nullptr);
}

RCPtr<LMenuDescriptor> LMenuDescriptor::Create()
{
    return RCPtr<LMenuDescriptor>(new LMenuDescriptor());
}

int32_t LMenuDescriptor::InsertItem(uint32_t index, const RCPtr<LMenuItemDescriptor>& item)
{
    const int32_t inserted = items.InsertItem(index, item);
    if (inserted >= 0 && item) {
        item->SetParent(this);
    }
    return inserted;
}

int32_t LMenuDescriptor::AddItem(uint32_t index, const WideString& label, const WideString& key,
                                 uint8_t enabled, uint8_t checked)
{
    return InsertItem(index, LMenuItemDescriptor::Create(label, key, enabled, checked));
}

int32_t LMenuDescriptor::InsertSeparator(uint32_t index)
{
    return InsertItem(index, LMenuItemDescriptor::CreateSeparator());
}

ORVRESULT LMenuDescriptor::GetItemInfo(uint32_t index, MenuItemInfo& info) const
{
    if (index >= items.GetCount() || !items.GetData()[index]) {
        info = MenuItemInfo();
        return E_INVALIDARG;
    }
    const LMenuItemDescriptor& item = *items.GetData()[index];
    info.enabled = item.enabled;
    info.checked = item.checked;
    info.label = item.label;
    return S_OK;
}

void LMenuDescriptor::SetParent(LMenuDescriptor* newParent)
{
    if (newParent == parent.Get()) {
        return;
    }
    if (newParent != nullptr) {
        newParent->AddBackReference();
    }
    RCPtr<LMenuDescriptor> old = std::move(parent);
    parent = RCPtr<LMenuDescriptor>(newParent);
    // Uncounted before it is released: the release then sees what truly holds the old parent,
    // and one held only by its other items clears itself.
    if (old) {
        old->RemoveBackReference();
    }
}

ORVRESULT LMenuDescriptor::Clear()
{
    while (items.GetCount() > 0) {
        RCPtr<LMenuItemDescriptor> item;
        items.RemoveLastItem(item);
        if (item) {
            item->SetParent(nullptr);
        }
    }
    SetParent(nullptr);
    return S_OK;
}

ORVRESULT LMenuDescriptor::DropBackReferences()
{
    return Clear();
}

void LMenuDescriptor::CloneItemsInto(LMenuDescriptor& target) const
{
    for (uint32_t index = 0; index < items.GetCount(); ++index) {
        if (const RCPtr<LMenuItemDescriptor>& item = items.GetData()[index]) {
            target.InsertItem(target.items.GetCount(), item->Clone());
        }
    }
}

RCPtr<LMenuDescriptor> LMenuDescriptor::Clone() const
{
    RCPtr<LMenuDescriptor> copy = Create();
    CloneItemsInto(*copy);
    return copy;
}

RCPtr<LMenuItemDescriptor> LMenuItemDescriptor::Create(const WideString& label,
                                                       const WideString& key, uint8_t enabled,
                                                       uint8_t checked)
{
    RCPtr<LMenuItemDescriptor> item(new LMenuItemDescriptor());
    item->label = label;
    item->key = key;
    item->enabled = enabled;
    item->checked = checked;
    return item;
}

RCPtr<LMenuItemDescriptor> LMenuItemDescriptor::CreateSeparator()
{
    RCPtr<LMenuItemDescriptor> item = Create(WideString(), WideString(), 1, 0);
    item->separator = 1;
    return item;
}

RCPtr<LMenuItemDescriptor> LMenuItemDescriptor::Clone() const
{
    RCPtr<LMenuItemDescriptor> copy = Create(label, key, enabled, checked);
    copy->furtherText = furtherText;
    copy->statusText = statusText;
    copy->separator = separator;
    CloneItemsInto(*copy);
    return copy;
}

}  // namespace Orv
