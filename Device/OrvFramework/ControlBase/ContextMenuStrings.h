#pragma once
// The context menus a string table describes with its "CONTEXT_MENU" entries.

#include "ControlBase/MenuDescriptor.h"
#include "ControlBase/StringTable.h"
#include "Utilities/Storage/RCPtrArray.h"

namespace Orv {

// Appends one menu for the "CONTEXT_MENU." entries when there are any; else one per group
// "CONTEXT_MENU<name>" (the part of an ID before its first dot), in ascending group order, for
// the groups that have entries. The number of menus appended.
int32_t BuildContextMenusFromStrings(const LStringTable& table, RCPtrArray<LMenuDescriptor>& menus);

}  // namespace Orv
