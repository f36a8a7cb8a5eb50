#pragma once
// Menus written as flat string-table entries: an id is a dotted path, "index.KEY" at the top or
// "PARENT.index.KEY" inside the submenu PARENT; an id ending in "." names a submenu; "-" is a
// separator; a text "label|status text" carries the status-bar text after the bar.

#include <map>
#include <utility>
#include <vector>

#include "ControlBase/MenuDescriptor.h"
#include "ObjectBase/Pair.h"
#include "Utilities/Storage/Array.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

// One level's entries, (item key, text) in arrival order.
using MenuLevelEntries = std::vector<std::pair<WideString, WideString>>;
// Parent name to its level's entries.
using MenuLevels = std::map<WideString, MenuLevelEntries>;

// Submenus deeper than this are not built (each level is built and freed recursively).
inline constexpr int kMaxMenuDepth = 64;

// The menu the (id, text) pairs describe; an empty descriptor when no pair qualifies. An entry
// whose index is not the next free position of its level is dropped; a submenu naming itself or
// a menu it lies in adds nothing.
RCPtr<LMenuDescriptor> BuildMenuTree(const Array<Pair<WideString, WideString>>& pairs);

// Fills `menu` (cleared first; made when null) with one level's entries, building submenus
// from `levels`. `path` holds the names of the submenus being built around this level.
RCPtr<LMenuDescriptor> BuildMenuLevel(const MenuLevelEntries& entries, const MenuLevels& levels,
                                      RCPtr<LMenuDescriptor> menu,
                                      std::vector<WideString>* path = nullptr);

}  // namespace Orv
