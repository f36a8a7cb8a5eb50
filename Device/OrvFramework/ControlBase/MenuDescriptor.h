#pragma once
// Menus as data: LMenuDescriptor is a list of items, LMenuItemDescriptor an item that is itself a
// menu descriptor, so an item with items is a submenu. Pop-up, context, combo and main menus
// build their rows from such a tree; nothing here draws.
//
// Lifetime: a descriptor holds its items; an item holds its parent too, but counts that
// reference as a back reference of the parent, so parent and items do not keep each other
// alive: when only items hold a descriptor, it clears itself (DropBackReferences is Clear).

#include <cstdint>

#include "ObjectBase/OrvResult.h"
#include "ObjectBase/RCPtr.h"
#include "ObjectBase/TaggableObject.h"
#include "Utilities/Storage/RCPtrArray.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

class LMenuItemDescriptor;

// What a menu shows of one item.
struct MenuItemInfo
{
    uint8_t enabled = 0;
    uint8_t checked = 0;
    WideString label;
};

class LMenuDescriptor : public LTaggableObject
{
public:
    LMenuDescriptor() = default;
    ~LMenuDescriptor() override;

    static RCPtr<LMenuDescriptor> Create();

    // Inserts the item at the index (the array's result); on success this descriptor becomes the
    // item's parent.
    int32_t InsertItem(uint32_t index, const RCPtr<LMenuItemDescriptor>& item);
    // A new item (label, key, enabled, checked) inserted at the index.
    int32_t AddItem(uint32_t index, const WideString& label, const WideString& key, uint8_t enabled,
                    uint8_t checked);
    int32_t InsertSeparator(uint32_t index);
    // 0, or E_INVALIDARG for an index not below the item count (the record is then 0, 0, "").
    ORVRESULT GetItemInfo(uint32_t index, MenuItemInfo& info) const;

    // Gives up the counted link to the old parent and holds, and counts, the new one.
    void SetParent(LMenuDescriptor* newParent);
    // Unlinks and removes every item, last first, then drops this descriptor's own parent. 0.
    ORVRESULT Clear();
    ORVRESULT DropBackReferences() override;

    // A new descriptor without parent holding a clone of each item, in order.
    RCPtr<LMenuDescriptor> Clone() const;

    const RCPtrArray<LMenuItemDescriptor>& GetItems() const { return items; }
    LMenuDescriptor* GetParent() const { return parent.Get(); }

protected:
    // The clones of this descriptor's items, appended to the target.
    void CloneItemsInto(LMenuDescriptor& target) const;

private:
    RCPtrArray<LMenuItemDescriptor> items;
    RCPtr<LMenuDescriptor> parent;  // counted as a back reference of the parent
};

class LMenuItemDescriptor : public LMenuDescriptor
{
public:
    static RCPtr<LMenuItemDescriptor> Create(const WideString& label, const WideString& key,
                                             uint8_t enabled, uint8_t checked);
    static RCPtr<LMenuItemDescriptor> CreateSeparator();

    // The label.
    StringT<char16_t, char> ToString() const override { return label; }

    // A new item without parent with the same texts and flags and clones of its items.
    RCPtr<LMenuItemDescriptor> Clone() const;

    WideString label;
    WideString furtherText;  // empty when built; copied by Clone
    WideString statusText;   // shown in the status bar while the item is hovered
    WideString key;          // the command the item stands for; empty for headers, separators
    uint8_t enabled = 1;
    uint8_t checked = 0;
    uint8_t separator = 0;
};

}  // namespace Orv
